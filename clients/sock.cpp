#include "clients/sock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "clients/net_exception.h"
#include "runtime/casefold.h"
#include "runtime/deadline.h"

namespace qdl {

namespace {

const int kBacklog = 5;
// Linux has no socket option against SIGPIPE; the flag on every call does it.
const int kNoSignal = MSG_NOSIGNAL;
// A host record larger than this is not a host we talk to.
const std::size_t kMaxLookupArea = 1024 * 1024;

std::atomic<bool> started(false);

// Polls until something is ready (> 0), the deadline passes (0) or poll
// fails (< 0); a signal does not end the wait.
int pollUntil(pollfd* fds, std::size_t count, const Deadline& deadline) {
    for (;;) {
        const int r = ::poll(fds, count, deadline.remainingMs());
        if (r > 0) return r;
        // A wait cut at INT_MAX goes on; any other empty poll is the end.
        if (r == 0 && deadline.passed()) return 0;
        if (r < 0 && errno != EINTR) return r;
    }
}

// A socket never takes the place of standard input, output or error: close()
// would not close it, and a stray write to it would land there.
int aboveStandard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

void setNoSigPipe(int fd) {
#ifdef SO_NOSIGPIPE
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#else
    (void)fd;
#endif
}

// Runs a reentrant look-up with a growing area; null when nothing was found.
template <class Call>
ptr<sock::host_entry> lookUp(Call call, bool throwOnError) {
    std::vector<char> area(2048);
    hostent record;
    hostent* result = nullptr;
    int error = 0;
    for (;;) {
        result = nullptr;
        const int rc = call(&record, area.data(), area.size(), &result, &error);
        if (rc == ERANGE && area.size() < kMaxLookupArea) {
            area.resize(area.size() * 2);
            continue;
        }
        if (rc != 0) result = nullptr;
        break;
    }
    try {
        return ptr<sock::host_entry>(new sock::host_entry(result));
    } catch (const UnableToResolveAddressException&) {
        if (throwOnError) throw;
        return ptr<sock::host_entry>();
    }
}

}  // namespace

sock::host_entry::host_entry(const hostent* record) {
    if (!record || !record->h_addr_list || !record->h_addr_list[0] || !record->h_name ||
        record->h_length != 4)
        throw UnableToResolveAddressException();
    name = record->h_name;
    for (char** a = record->h_addr_list; *a; ++a) {
        uint32_t address;
        std::memcpy(&address, *a, 4);
        addresses.push_back(ntohl(address));
    }
    if (record->h_aliases)
        for (char** a = record->h_aliases; *a; ++a) aliases.insert(*a);
}

std::vector<std::string> sock::host_entry::addressList() const {
    std::vector<std::string> list;
    for (uint32_t a : addresses) list.push_back(ipToString(a));
    return list;
}

sock::sock(sock&& other) noexcept
    : descriptor_(other.descriptor_),
      value_(other.value_),
      buffer_(std::move(other.buffer_)),
      timeoutMs_(other.timeoutMs_) {
    other.descriptor_ = -1;
    other.buffer_.clear();
}

sock& sock::operator=(sock&& other) noexcept {
    if (&other == this) return *this;
    close();
    descriptor_ = other.descriptor_;
    value_ = other.value_;
    buffer_ = std::move(other.buffer_);
    timeoutMs_ = other.timeoutMs_;
    other.descriptor_ = -1;
    other.buffer_.clear();
    return *this;
}

bool sock::startup() {
    started = true;
    return true;
}

void sock::cleanup() { started = false; }

bool sock::create(bool datagram, bool throwOnError) {
    startup();
    close();
    const int fd = datagram ? ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)
                            : ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    descriptor_ = aboveStandard(fd);
    if (descriptor_ < 0) {
        if (throwOnError) throw SocketException();
        return false;
    }
    setNoSigPipe(descriptor_);
    return true;
}

uint32_t sock::parseAddress(const std::string& dotted, bool throwOnError) {
    const in_addr_t address = ::inet_addr(dotted.c_str());
    if (address == INADDR_NONE) {
        if (throwOnError) throw SocketException("Invalid IP Address");
        return 0;
    }
    return address;
}

sockaddr_in sock::makeAddress(const std::string& dotted, uint16_t port, bool throwOnError) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_addr.s_addr = parseAddress(dotted, throwOnError);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    return address;
}

bool sock::connect(const sockaddr_in& address, bool throwOnError) {
    buffer_.clear();
    int error = EBADF;
    bool timedOut = false;
    const int flags = descriptor_ >= 0 ? ::fcntl(descriptor_, F_GETFL) : -1;
    // Without blocking, so that the wait below has a time-out.
    if (flags >= 0 && ::fcntl(descriptor_, F_SETFL, flags | O_NONBLOCK) == 0) {
        error = ::connect(descriptor_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
        if (error == EINPROGRESS || error == EINTR) {
            const Io waited = waitFor(POLLOUT, Deadline::after(timeoutMs_));
            socklen_t length = sizeof error;
            if (waited == Io::timedOut)
                timedOut = true;
            else if (waited != Io::ok)
                error = errno;
            else if (::getsockopt(descriptor_, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
        }
        ::fcntl(descriptor_, F_SETFL, flags);
    }
    if (!timedOut && error == 0) return true;
    if (throwOnError) {
        if (timedOut)
            throw UnableToConnectException("connect timed out after " + std::to_string(timeoutMs_) + " ms");
        throw UnableToConnectException();
    }
    return false;
}

bool sock::listen(uint16_t port, bool throwOnError) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    int one = 1;
    ::setsockopt(descriptor_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    buffer_.clear();
    if (descriptor_ < 0 || ::bind(descriptor_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(descriptor_, kBacklog) != 0) {
        if (throwOnError) throw PortAlreadyUsedException();
        return false;
    }
    return true;
}

bool sock::accept(sock& client, sockaddr_in& peer) {
    std::memset(&peer, 0, sizeof peer);
    peer.sin_family = AF_INET;
    client.close();
    if (descriptor_ < 0) return false;
    socklen_t length = sizeof peer;
    int fd;
    do {
        fd = ::accept4(descriptor_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    fd = aboveStandard(fd);
    if (fd < 0) return false;
    client.descriptor_ = fd;
    setNoSigPipe(fd);
    return true;
}

bool sock::acceptChecked(sock& client, sockaddr_in& peer, bool throwOnError) {
    if (!accept(client, peer)) return false;
    // In the protocols we serve the server speaks first: a client may well
    // say nothing yet, and must not hold up the next one for ever.
    if (client.waitReadable(timeoutMs_)) return true;
    std::string first;
    if (!client.peek(first, 3, false)) {
        // Gone before its first byte; peek has closed it.
        if (throwOnError) throw ConnectionResetException();
        return false;
    }
    for (char c : first) {
        const unsigned char lowered = lowerCaseTable[static_cast<unsigned char>(c)];
        if (lowered >= 'a' && lowered <= 'z') {
            client.close();
            if (throwOnError) throw InvalidSSLCertificateOrKeyException();
            return false;
        }
    }
    return true;
}

sock::Io sock::waitFor(short events, const Deadline& deadline) {
    if (descriptor_ < 0) return Io::failed;
    pollfd p = {descriptor_, events, 0};
    const int r = pollUntil(&p, 1, deadline);
    return r > 0 ? Io::ok : r == 0 ? Io::timedOut : Io::failed;
}

sock::Io sock::receive(char* area, std::size_t size, int flags, std::size_t& got, const Deadline& deadline) {
    for (;;) {
        const Io waited = waitFor(POLLIN, deadline);
        if (waited != Io::ok) return waited;
        const ssize_t n = ::recv(descriptor_, area, size, flags | MSG_DONTWAIT | kNoSignal);
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            return Io::ok;
        }
        if (n == 0) return Io::closed;
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return Io::failed;
    }
}

bool sock::failReset(Io status, bool throwOnError) {
    close();
    if (throwOnError) {
        if (status == Io::timedOut)
            throw ConnectionResetException("timed out after " + std::to_string(timeoutMs_) + " ms");
        throw ConnectionResetException();
    }
    return false;
}

bool sock::send(const std::string& data, bool appendCRLF, bool throwOnError) {
    if (descriptor_ < 0) return failReset(Io::failed, throwOnError);
    const std::string withEnd = appendCRLF ? data + "\r\n" : std::string();
    const std::string& payload = appendCRLF ? withEnd : data;
    const Deadline deadline = Deadline::after(timeoutMs_);
    std::size_t sent = 0;
    // A send cut short by a signal goes on with the rest: the peer must get
    // every byte or a closed connection, never a piece.
    while (sent < payload.size()) {
        const ssize_t n =
            ::send(descriptor_, payload.data() + sent, payload.size() - sent, kNoSignal | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const Io waited = waitFor(POLLOUT, deadline);
            if (waited != Io::ok) return failReset(waited, throwOnError);
            continue;
        }
        return failReset(Io::failed, throwOnError);
    }
    return true;
}

bool sock::recv(std::string& out, bool throwOnError) {
    return recv(out, Deadline::after(timeoutMs_), throwOnError);
}

bool sock::recv(std::string& out, const Deadline& deadline, bool throwOnError) {
    char area[kReceiveSize];
    std::size_t got = 0;
    const Io status = descriptor_ < 0 ? Io::failed : receive(area, sizeof area, 0, got, deadline);
    if (status != Io::ok) {
        out.clear();
        return failReset(status, throwOnError);
    }
    out.assign(area, got);
    return true;
}

bool sock::peek(std::string& out, uint8_t maxBytes, bool throwOnError) {
    if (descriptor_ >= 0 && maxBytes == 0) {
        out.clear();
        return true;
    }
    char area[256];
    std::size_t got = 0;
    const Io status = descriptor_ < 0 ? Io::failed : receive(area, maxBytes, MSG_PEEK, got, Deadline::after(timeoutMs_));
    if (status != Io::ok) return failReset(status, throwOnError);
    out.assign(area, got);
    return true;
}

bool sock::readLine(std::string& line, bool throwOnError) {
    line.clear();
    // The whole line within the time-out: a peer that trickles its bytes
    // would renew a time-out given to each receive.
    const Deadline deadline = Deadline::after(timeoutMs_);
    for (;;) {
        try {
            if (buffer_.next(line)) return true;
        } catch (const ProtocolException&) {
            close();
            if (throwOnError) throw;
            return false;
        }
        char area[kReceiveSize];
        std::size_t got = 0;
        const Io status = descriptor_ < 0 ? Io::failed : receive(area, sizeof area, 0, got, deadline);
        if (status != Io::ok) {
            line = buffer_.takeRest();
            return failReset(status, throwOnError);
        }
        buffer_.feed(area, got);
    }
}

void sock::close() {
    buffer_.clear();
    if (descriptor_ > 2) ::close(descriptor_);
    descriptor_ = -1;
}

bool sock::waitReadable(uint32_t milliseconds) {
    if (descriptor_ < 0) return false;
    return waitFor(POLLIN, Deadline::after(milliseconds)) == Io::timedOut;
}

std::string sock::ipToString(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
           std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

std::string sock::ipToString(const host_entry& entry) {
    return entry.addresses.empty() ? std::string() : ipToString(entry.addresses.front());
}

std::string sock::addressToString(const in_addr& address) {
    char text[INET_ADDRSTRLEN];
    return ::inet_ntop(AF_INET, &address, text, sizeof text) ? std::string(text) : std::string();
}

ptr<sock::host_entry> sock::getHostByName(const std::string& name, bool throwOnError) {
    return lookUp(
        [&](hostent* record, char* area, std::size_t size, hostent** result, int* error) {
            return ::gethostbyname_r(name.c_str(), record, area, size, result, error);
        },
        throwOnError);
}

ptr<sock::host_entry> sock::getHostByAddr(const std::string& dotted, bool throwOnError) {
    const in_addr_t address = ::inet_addr(dotted.c_str());
    if (address == INADDR_NONE) {
        if (throwOnError) throw UnableToResolveAddressException("Invalid IP address");
        return ptr<host_entry>();
    }
    return lookUp(
        [&](hostent* record, char* area, std::size_t size, hostent** result, int* error) {
            return ::gethostbyaddr_r(&address, sizeof address, AF_INET, record, area, size, result, error);
        },
        throwOnError);
}

sock_set::sock_set(sock& only) : entries_{{&only, false}} {}

sock_set::sock_set(sock& first, sock& second) : entries_{{&first, false}, {&second, false}} {}

sock_set::sock_set(std::vector<sock>& socks) {
    for (sock& s : socks) entries_.push_back({&s, false});
}

bool sock_set::select(uint32_t milliseconds) {
    std::vector<pollfd> fds;
    for (Entry& e : entries_) {
        e.ready = false;
        fds.push_back({e.socket->descriptor(), POLLIN, 0});
    }
    const int r = pollUntil(fds.data(), fds.size(), Deadline::after(milliseconds));
    if (r == 0) return true;
    if (r > 0)
        for (std::size_t i = 0; i < fds.size(); ++i) entries_[i].ready = fds[i].revents != 0;
    return false;
}

}  // namespace qdl
