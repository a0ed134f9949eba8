#include "support/net/dovecot.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace testsupport {

namespace {

const char kDovecot[] = "/usr/sbin/dovecot";
// Dovecot needs a moment to start its processes; far less than this.
const int kStartMs = 20000;
const int kStopMs = 10000;

// A port free right now: taken from the system and let go again.
uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

// Reads the server's first line, or "" when none comes in time.
std::string greeting(uint16_t port, int timeoutMs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::string line;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        pollfd p = {fd, POLLIN, 0};
        char area[512];
        while (line.find('\n') == std::string::npos && ::poll(&p, 1, timeoutMs) > 0) {
            const ssize_t n = ::recv(fd, area, sizeof area, 0);
            if (n <= 0) break;
            line.append(area, static_cast<std::size_t>(n));
        }
        const char bye[] = "QUIT\r\n";
        ::send(fd, bye, sizeof bye - 1, MSG_NOSIGNAL);
    }
    if (fd >= 0) ::close(fd);
    return line;
}

void makeDirectory(const std::string& path, mode_t mode, uid_t uid, gid_t gid) {
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) throw std::runtime_error("mkdir " + path);
    ::chmod(path.c_str(), mode);
    if (::geteuid() == 0 && ::chown(path.c_str(), uid, gid) != 0) throw std::runtime_error("chown " + path);
}

}  // namespace

std::string Dovecot::unavailable() {
    if (::access(kDovecot, X_OK) != 0)
        return std::string(kDovecot) + " is not installed (scripts/setup.sh installs dovecot-pop3d)";
    if (::access("/usr/lib/dovecot/pop3", X_OK) != 0 && ::access("/usr/libexec/dovecot/pop3", X_OK) != 0)
        return "dovecot has no POP3 service (scripts/setup.sh installs dovecot-pop3d)";
    if (::geteuid() == 0 && !::getpwnam("nobody")) return "running as root, and there is no user nobody";
    return "";
}

Dovecot::Dovecot(const std::string& user, const std::string& password) : user_(user), password_(password) {
    const passwd* who = ::geteuid() == 0 ? ::getpwnam("nobody") : ::getpwuid(::geteuid());
    if (!who) throw std::runtime_error("no user to run dovecot as");
    systemUser_ = who->pw_name;
    mailUid_ = who->pw_uid;
    mailGid_ = ::geteuid() == 0 ? who->pw_gid : ::getegid();
    const group* g = ::getgrgid(mailGid_);
    if (!g) throw std::runtime_error("no group to run dovecot as");
    systemGroup_ = g->gr_name;

    // Other users (nobody) must get through the temporary directory.
    ::chmod(dir_.path().c_str(), 0755);
    makeDirectory(dir_ / "mail", 0700, mailUid_, mailGid_);
    mailDir_ = dir_ / "mail/" + user_;
    for (const std::string sub : {"", "/new", "/cur", "/tmp"}) makeDirectory(mailDir_ + sub, 0700, mailUid_, mailGid_);
    writeFile(dir_ / "passwd", user_ + ":{PLAIN}" + password_ + "\n");
    ::chmod((dir_ / "passwd").c_str(), 0644);
}

Dovecot::~Dovecot() { stop(); }

void Dovecot::addMessage(const std::string& text) {
    ++messages_;
    // Maildir names sort by their time part, so the messages keep this order.
    const std::string path =
        mailDir_ + "/new/100000000" + std::to_string(messages_) + ".M" + std::to_string(messages_) + "P1.test";
    writeFile(path, text);
    if (::geteuid() == 0 && ::chown(path.c_str(), mailUid_, mailGid_) != 0) throw std::runtime_error("chown " + path);
}

std::string Dovecot::log() const { return readFile(dir_ / "dovecot.log"); }

void Dovecot::writeConfig() {
    const std::string& d = dir_.path();
    writeFile(dir_ / "dovecot.conf",
              "# One test's own server: nothing from the system configuration.\n"
              "base_dir = " + d + "/run\n"
              "state_dir = " + d + "/state\n"
              "log_path = " + d + "/dovecot.log\n"
              "protocols = pop3\n"
              "listen = 127.0.0.1\n"
              "ssl = no\n"
              "disable_plaintext_auth = no\n"
              "auth_mechanisms = plain apop\n"
              // No wait after the refused login the test makes.
              "auth_failure_delay = 0\n"
              "default_internal_user = " + systemUser_ + "\n"
              "default_internal_group = " + systemGroup_ + "\n"
              "default_login_user = " + systemUser_ + "\n"
              "first_valid_uid = 1\n"
              "first_valid_gid = 0\n"
              "mail_location = maildir:" + d + "/mail/%u\n"
              "passdb {\n"
              "  driver = passwd-file\n"
              "  args = scheme=PLAIN username_format=%u " + d + "/passwd\n"
              "}\n"
              "userdb {\n"
              "  driver = static\n"
              "  args = uid=" + std::to_string(mailUid_) + " gid=" + std::to_string(mailGid_) +
              " home=" + d + "/mail/%u\n"
              "}\n"
              "service pop3-login {\n"
              "  chroot =\n"
              "  inet_listener pop3 {\n"
              "    address = 127.0.0.1\n"
              "    port = " + std::to_string(port_) + "\n"
              "  }\n"
              "  inet_listener pop3s {\n"
              "    port = 0\n"
              "  }\n"
              "}\n"
              "service anvil {\n"
              "  chroot =\n"
              "}\n");
}

bool Dovecot::launch(std::string& why) {
    const std::string config = dir_ / "dovecot.conf";
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
        why = "fork failed";
        return false;
    }
    if (pid_ == 0) {
        // Its own process group, so that a stop finds every process it
        // started; and it goes when the test process dies.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
        }
        const char* argv[] = {kDovecot, "-F", "-c", config.c_str(), nullptr};
        ::execv(kDovecot, const_cast<char**>(argv));
        ::_exit(127);
    }
    ::setpgid(pid_, pid_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            why = "dovecot ended at start-up";
            return false;
        }
        if (greeting(port_, 2000).compare(0, 3, "+OK") == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why = "dovecot did not greet within " + std::to_string(kStartMs) + " ms";
    stop();
    return false;
}

bool Dovecot::start(std::string& why) {
    // The free port may be taken again before dovecot binds it: try anew.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = freePort();
        writeConfig();
        if (launch(why)) return true;
    }
    why += "; its log:\n" + log();
    return false;
}

void Dovecot::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopMs);
    for (;;) {
        int status;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno != EINTR)) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(-pid_, SIGKILL);
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Whatever of its group outlived the master goes too.
    ::kill(-pid_, SIGKILL);
    pid_ = -1;
}

}  // namespace testsupport
