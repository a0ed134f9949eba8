#pragma once
// Probes of the server through the default CLI connection (the settings in
// cli.h). None throws a qdl::Exception: each turns it into its result. Their
// state is plain process-wide data without a lock: one thread at a time.
#include <cstdint>
#include <string>

namespace cgp {

// Asks once whether the server runs as a cluster and keeps the answer for
// the life of the process. After a failed probe the next waits 20 seconds;
// a failure is logged once for each user, password and port.
bool isClusterServer();
// Whether a default connection can log in and run a command.
bool checkCLIConnection();
// Logs in with the given credentials. A disabled account (536) is true with
// accessAllowed false and no error text; other refusals are false with the
// reason in errorText.
bool verifyLogin(const std::string& user, const std::string& password, int method, std::string& errorText,
                 bool& accessAllowed);
bool verifyLogin(const std::string& user, const std::string& password, int method, std::string& errorText);

// For tests: the clock isClusterServer reads (seconds; null for the real
// one), and its state as at start.
void setProbeClock(int64_t (*clock)());
void resetClusterProbe();

}  // namespace cgp
