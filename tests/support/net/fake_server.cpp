#include "support/net/fake_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace testsupport {

namespace {

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int leftMs(int64_t deadlineMs) {
    if (deadlineMs < 0) return -1;
    const int64_t left = deadlineMs - nowMs();
    return left < 0 ? 0 : static_cast<int>(left);
}

std::string connectionName(std::size_t index) { return "connection " + std::to_string(index + 1); }

}  // namespace

Script& Script::send(const std::string& bytes) { return sendSegments({bytes}, 0); }

Script& Script::sendSegments(const std::vector<std::string>& segments, int pauseMs) {
    steps_.push_back({Step::Send, segments, "", pauseMs});
    return *this;
}

Script& Script::sendCut(const std::string& bytes, const std::vector<std::size_t>& cuts, int pauseMs) {
    std::vector<std::string> segments;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        segments.push_back(bytes.substr(from, cut - from));
        from = cut;
    }
    segments.push_back(bytes.substr(from));
    return sendSegments(segments, pauseMs);
}

Script& Script::trickle(const std::string& bytes, int pauseMs) {
    std::vector<std::string> segments;
    for (char c : bytes) segments.emplace_back(1, c);
    return sendSegments(segments, pauseMs);
}

Script& Script::expectLine(const std::string& line) {
    steps_.push_back({Step::Expect, {}, line, 0});
    return *this;
}

Script& Script::expectAnyLine() {
    steps_.push_back({Step::ExpectAny, {}, "", 0});
    return *this;
}

Script& Script::expectClose() {
    steps_.push_back({Step::ExpectClose, {}, "", 0});
    return *this;
}

Script& Script::pause(int ms) {
    steps_.push_back({Step::Pause, {}, "", ms});
    return *this;
}

Script& Script::close() {
    steps_.push_back({Step::Close, {}, "", 0});
    return *this;
}

Script& Script::reset() {
    steps_.push_back({Step::Reset, {}, "", 0});
    return *this;
}

Script& Script::then(const Script& more) {
    steps_.insert(steps_.end(), more.steps_.begin(), more.steps_.end());
    return *this;
}

FakeServer::FakeServer(const Script& connection, int stepTimeoutMs)
    : FakeServer(std::vector<Script>{connection}, stepTimeoutMs) {}

FakeServer::FakeServer(const std::vector<Script>& connections, int stepTimeoutMs)
    : scripts_(connections), stepTimeoutMs_(stepTimeoutMs) {
    if (::pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener_ >= 0) ::close(listener_);
        ::close(wake_[0]);
        ::close(wake_[1]);
        throw std::runtime_error("fake server: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

FakeServer::~FakeServer() { finish(); }

std::string FakeServer::finish() {
    if (!finished_) {
        finished_ = true;
        const char wake = 'x';
        while (::write(wake_[1], &wake, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
        ::close(listener_);
        ::close(wake_[0]);
        ::close(wake_[1]);
    }
    std::lock_guard<std::mutex> guard(mutex_);
    return problems_;
}

std::string FakeServer::received(std::size_t connection) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return connection < received_.size() ? received_[connection] : std::string();
}

std::size_t FakeServer::connections() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return received_.size();
}

void FakeServer::problem(const std::string& text) {
    std::lock_guard<std::mutex> guard(mutex_);
    problems_ += text + "\n";
}

bool FakeServer::sleepUnlessFinished(int ms) {
    pollfd wake = {wake_[0], POLLIN, 0};
    const int64_t deadline = nowMs() + ms;
    for (;;) {
        const int r = ::poll(&wake, 1, leftMs(deadline));
        if (r > 0) return false;
        if (r == 0) return true;
        if (errno != EINTR) return true;
    }
}

void FakeServer::run() {
    for (std::size_t index = 0;; ++index) {
        const bool scripted = index < scripts_.size();
        // Past the scripts, wait only for the end, noting strays.
        const int64_t deadline = scripted ? nowMs() + stepTimeoutMs_ : -1;
        int fd = -1;
        for (;;) {
            pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            const int r = ::poll(fds, 2, leftMs(deadline));
            if (r < 0 && errno == EINTR) continue;
            if (r > 0 && fds[0].revents) {
                fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0 || errno != EINTR) break;
                continue;
            }
            if (scripted)
                problem(connectionName(index) + ": the client never connected" +
                        (r == 0 ? " within " + std::to_string(stepTimeoutMs_) + " ms" : ""));
            return;
        }
        if (fd < 0) {
            problem(connectionName(index) + ": accept failed");
            return;
        }
        {
            std::lock_guard<std::mutex> guard(mutex_);
            received_.emplace_back();
        }
        if (!scripted) {
            problem(connectionName(index) + ": not in the script");
            ::close(fd);
            continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        play(fd, scripts_[index], index);
    }
}

bool FakeServer::readMore(int fd, std::size_t index, std::string& pending, int64_t deadlineMs,
                          const std::string& waitingFor) {
    const std::string where = connectionName(index) + ": ";
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int r = ::poll(fds, 2, leftMs(deadlineMs));
        if (r < 0) {
            if (errno == EINTR) continue;
            problem(where + "poll failed");
            return false;
        }
        // What has arrived is taken before the end is noticed.
        if (fds[0].revents) {
            char area[65536];
            const ssize_t n = ::recv(fd, area, sizeof area, 0);
            if (n > 0) {
                std::lock_guard<std::mutex> guard(mutex_);
                received_[index].append(area, static_cast<std::size_t>(n));
                pending.append(area, static_cast<std::size_t>(n));
                return true;
            }
            if (n < 0 && errno == EINTR) continue;
            if (!waitingFor.empty()) problem(where + "the client closed while the server waited for " + waitingFor);
            return false;
        }
        if (fds[1].revents) {
            if (!waitingFor.empty()) problem(where + "finished while the server waited for " + waitingFor);
            return false;
        }
        problem(where + "no " + waitingFor + " within " + std::to_string(stepTimeoutMs_) + " ms");
        return false;
    }
}

bool FakeServer::awaitClose(int fd, std::size_t index) {
    const std::string where = connectionName(index) + ": ";
    const int64_t deadline = nowMs() + stepTimeoutMs_;
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int r = ::poll(fds, 2, leftMs(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r > 0 && fds[0].revents) {
            char area[65536];
            const ssize_t n = ::recv(fd, area, sizeof area, 0);
            if (n > 0) {
                std::lock_guard<std::mutex> guard(mutex_);
                received_[index].append(area, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            return true;  // end of stream, or a reset: closed either way
        }
        if (r > 0) {
            problem(where + "finished while the server waited for the client to close");
        } else {
            problem(where + "the client did not close within " + std::to_string(stepTimeoutMs_) + " ms");
        }
        return false;
    }
}

bool FakeServer::sendAll(int fd, std::size_t index, const std::string& data) {
    int64_t deadline = nowMs() + stepTimeoutMs_;
    for (std::size_t sent = 0; sent < data.size();) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            deadline = nowMs() + stepTimeoutMs_;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // The client has gone; the test will tell by what it got.
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
        // A client that stops reading must not hold the server for ever.
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
        const int r = ::poll(fds, 2, leftMs(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r > 0 && fds[1].revents) return false;
        if (r <= 0) {
            problem(connectionName(index) + ": the client read nothing for " + std::to_string(stepTimeoutMs_) + " ms");
            return false;
        }
    }
    return true;
}

void FakeServer::play(int fd, const Script& script, std::size_t index) {
    std::string pending;
    bool open = true;
    for (const Script::Step& step : script.steps()) {
        if (!open) break;
        switch (step.kind) {
        case Script::Step::Send:
            for (std::size_t k = 0; k < step.segments.size() && open; ++k) {
                if (k > 0 && step.ms > 0) sleepUnlessFinished(step.ms);
                open = sendAll(fd, index, step.segments[k]);
            }
            break;
        case Script::Step::Expect:
        case Script::Step::ExpectAny: {
            const std::string what =
                step.kind == Script::Step::Expect ? "the line \"" + step.text + "\"" : std::string("a line");
            const int64_t deadline = nowMs() + stepTimeoutMs_;
            std::size_t end;
            while ((end = pending.find('\n')) == std::string::npos && open)
                open = readMore(fd, index, pending, deadline, what);
            if (!open) break;
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (step.kind == Script::Step::Expect && line != step.text)
                problem(connectionName(index) + ": expected \"" + step.text + "\", got \"" + line + "\"");
            break;
        }
        case Script::Step::ExpectClose:
            if (awaitClose(fd, index)) {
                ::close(fd);
                return;
            }
            break;
        case Script::Step::Pause:
            sleepUnlessFinished(step.ms);
            break;
        case Script::Step::Reset: {
            linger hard = {1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(fd);
            return;
        }
        case Script::Step::Close:
            ::close(fd);
            return;
        }
    }
    // Past the script: keep the record going until the client closes or the
    // test is done with it.
    while (open) open = readMore(fd, index, pending, -1, "");
    ::close(fd);
}

}  // namespace testsupport
