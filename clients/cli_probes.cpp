#include "clients/cli_probes.h"

#include "clients/cli.h"
#include "runtime/casefold.h"
#include "runtime/datetime.h"
#include "runtime/exception.h"
#include "runtime/log.h"
#include "runtime/md5.h"

namespace cgp {

namespace {

// A failed probe is not repeated sooner: each costs a connection attempt.
const int64_t kRetrySeconds = 20;

int64_t realClock() { return static_cast<int64_t>(qdl::DateTime::now().toTime()); }

struct ClusterProbe {
    bool verdictKnown = false;
    bool verdict = false;
    int64_t lastFailure = 0;
    std::string lastLoggedKey;
};

ClusterProbe& probe() {
    static ClusterProbe state;
    return state;
}

int64_t (*probeClock)() = realClock;

// Tells the settings of one failure apart without holding the password:
// the user's length keeps ("ab", "c") and ("a", "bc") apart, the password
// is kept only as its digest.
std::string failureKey() {
    qdl::MD5 md5;
    md5.update(defaultPassword);
    return std::to_string(defaultUser.size()) + ":" + defaultUser + " " + qdl::MD5::hexDigest(md5.finalize()) + " " +
           std::to_string(defaultPort);
}

// One line for the log: line feeds shown as \n, CRs dropped, blanks at the
// ends trimmed.
std::string oneLine(const std::string& message) {
    std::string text;
    for (char c : message) {
        if (c == '\n')
            text += "\\n";
        else if (c != '\r')
            text += c;
    }
    const std::size_t first = text.find_first_not_of(" \r\n");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \r\n") - first + 1);
}

}  // namespace

void setProbeClock(int64_t (*clock)()) { probeClock = clock ? clock : realClock; }

void resetClusterProbe() { probe() = ClusterProbe(); }

bool isClusterServer() {
    ClusterProbe& state = probe();
    if (!cliEnabled) return false;
    if (state.verdictKnown) return state.verdict;
    const int64_t now = probeClock();
    if (defaultPassword.empty() || defaultUser.empty()) return false;
    if (now < state.lastFailure + kRetrySeconds) return false;
    try {
        CLI cli;
        const bool verdict = cli.isCluster();
        cli.disconnect();
        state.verdict = verdict;
        state.verdictKnown = true;
        return verdict;
    } catch (const qdl::Exception& e) {
        state.lastFailure = now;
        const std::string key = failureKey();
        if (key != state.lastLoggedKey) {
            state.lastLoggedKey = key;
            qdl::logline() << "Unable to use CLI, please verify your settings";
            qdl::logline() << "CLI module reported: " << oneLine(e.message());
        }
        return false;
    }
}

bool checkCLIConnection() {
    if (!cliEnabled) return false;
    try {
        CLI cli;
        cli.getCurrentController();
        cli.disconnect();
        return true;
    } catch (const qdl::Exception&) {
        return false;
    }
}

bool verifyLogin(const std::string& user, const std::string& password, int method, std::string& errorText,
                 bool& accessAllowed) {
    accessAllowed = true;
    errorText.clear();
    try {
        CLI cli(defaultHost, defaultPort, user, password, method);
        cli.disconnect();
        return true;
    } catch (const qdl::Exception& e) {
        accessAllowed = false;
        // Right credentials, but the account may not be used.
        if (e.code() == 536 && qdl::lowerCase(e.message()).find("access to this account is disabled") != std::string::npos)
            return true;
        errorText = e.message();
        return false;
    }
}

bool verifyLogin(const std::string& user, const std::string& password, int method, std::string& errorText) {
    bool accessAllowed;
    return verifyLogin(user, password, method, errorText, accessAllowed);
}

}  // namespace cgp
