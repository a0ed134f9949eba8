#pragma once
// A private dovecot POP3 server for one test: its own configuration,
// passwd-file ({PLAIN} passwords, so APOP works), static userdb and maildir
// in a temporary directory, listening on 127.0.0.1 at a free port without
// TLS. It runs as the current user; as root, its login and mail processes
// run as nobody, who then owns the maildir. The object stops it by its
// process id when it goes, whatever the test did meanwhile.
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "support/core/run_program.h"

namespace testsupport {

class Dovecot {
public:
    // Empty when dovecot can run here; otherwise the reason it cannot.
    static std::string unavailable();

    Dovecot(const std::string& user, const std::string& password);
    ~Dovecot();
    Dovecot(const Dovecot&) = delete;
    Dovecot& operator=(const Dovecot&) = delete;

    // Puts a message, written with LF line ends, into the user's maildir.
    void addMessage(const std::string& text);
    // Starts the server and waits until it greets; false, with the reason
    // and the server's log in why, when it does not.
    bool start(std::string& why);
    uint16_t port() const { return port_; }
    std::string log() const;

private:
    void stop();
    void writeConfig();
    bool launch(std::string& why);

    TempDir dir_;
    std::string user_, password_;
    std::string mailDir_;
    uid_t mailUid_;
    gid_t mailGid_;
    std::string systemUser_, systemGroup_;
    int messages_ = 0;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace testsupport
