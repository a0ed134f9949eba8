#pragma once
// Sockets over IPv4. An operation that can fail takes throwOnError: set, it
// throws from the family in net_exception.h; clear, it returns false.
//
// A sock owns its descriptor (-1 when there is none) and closes it when it
// is destroyed; it moves but does not copy. Every connect, send and receive
// waits at most timeout() milliseconds, then fails; readLine gives the whole
// line that long, however its bytes are spread out in time.
#include <netdb.h>
#include <netinet/in.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "clients/line_buffer.h"
#include "runtime/deadline.h"
#include "runtime/handle.h"

namespace qdl {

class sock {
public:
    // The result of a host look-up.
    struct host_entry {
        std::string name;
        std::set<std::string> aliases;
        std::vector<uint32_t> addresses;  // host byte order, in look-up order

        // Throws UnableToResolveAddressException for a missing record, one
        // without addresses or one without a name.
        explicit host_entry(const hostent* record);
        std::vector<std::string> addressList() const;
    };

    // A dead peer fails its caller after this long instead of hanging it.
    static constexpr uint32_t kDefaultTimeoutMs = 60 * 1000;
    static constexpr std::size_t kReceiveSize = 4096;

    sock() {}
    explicit sock(int descriptor) : descriptor_(descriptor) {}
    sock(int descriptor, int64_t value) : descriptor_(descriptor), value_(value) {}
    ~sock() { close(); }
    sock(sock&& other) noexcept;
    sock& operator=(sock&& other) noexcept;
    sock(const sock&) = delete;
    sock& operator=(const sock&) = delete;

    int descriptor() const { return descriptor_; }
    int64_t value() const { return value_; }
    bool isOpen() const { return descriptor_ >= 0; }
    uint32_t timeout() const { return timeoutMs_; }
    void setTimeout(uint32_t milliseconds) { timeoutMs_ = milliseconds; }

    // The process-wide start-up flag; nothing on this platform needs it.
    static bool startup();
    static void cleanup();

    bool create(bool datagram, bool throwOnError);
    // inet_addr's forms; 255.255.255.255 is its failure value and refused.
    static sockaddr_in makeAddress(const std::string& dotted, uint16_t port, bool throwOnError);
    static uint32_t parseAddress(const std::string& dotted, bool throwOnError);  // network order
    bool connect(const sockaddr_in& address, bool throwOnError);
    // Binds the wildcard address; the socket comes from create().
    bool listen(uint16_t port, bool throwOnError);
    // Waits for the next client, as long as it takes.
    bool accept(sock& client, sockaddr_in& peer);
    // Refuses a client whose first bytes hold a letter: it speaks plain text
    // where a binary handshake was due. A client silent for timeout() is let
    // through.
    bool acceptChecked(sock& client, sockaddr_in& peer, bool throwOnError);

    // All of the data or a failure; a failure closes the socket.
    bool send(const std::string& data, bool appendCRLF, bool throwOnError);
    // One receive of at most kReceiveSize bytes into out. The peer closing,
    // a failure and the time-out close the socket.
    bool recv(std::string& out, bool throwOnError);
    // The same, waiting no later than the deadline: a caller that reads a
    // line in several receives bounds the whole line with one deadline.
    // Bytes already there are taken even once it has passed.
    bool recv(std::string& out, const Deadline& deadline, bool throwOnError);
    bool peek(std::string& out, uint8_t maxBytes, bool throwOnError);
    // The next line without its LF and one CR before it. Bytes after it stay
    // buffered for the next call. On a failure without throwing, line holds
    // what came of the unfinished line and the socket is closed.
    bool readLine(std::string& line, bool throwOnError);
    // Never closes descriptors 0 to 2: it only forgets them.
    void close();

    // True when the time-out expired. Looks at the descriptor only, not at
    // what readLine holds buffered; a closed socket gives false at once.
    bool waitReadable(uint32_t milliseconds);

    static std::string ipToString(uint32_t address);  // host order
    static std::string ipToString(const host_entry& entry);
    static std::string addressToString(const in_addr& address);  // network order
    static ptr<host_entry> getHostByName(const std::string& name, bool throwOnError);
    static ptr<host_entry> getHostByAddr(const std::string& dotted, bool throwOnError);

private:
    enum class Io { ok, closed, failed, timedOut };
    Io waitFor(short events, const Deadline& deadline);
    Io receive(char* area, std::size_t size, int flags, std::size_t& got, const Deadline& deadline);
    bool failReset(Io status, bool throwOnError);

    int descriptor_ = -1;
    int64_t value_ = 0;
    LineBuffer buffer_;
    uint32_t timeoutMs_ = kDefaultTimeoutMs;
};

// Sockets waited on together. The set only points at them: they must
// outlive it, and it never closes them.
class sock_set {
public:
    explicit sock_set(sock& only);
    sock_set(sock& first, sock& second);
    explicit sock_set(std::vector<sock>& socks);

    // True when the time-out expired; otherwise the ready flags tell which
    // sockets have something to read (or an error to report).
    bool select(uint32_t milliseconds);
    bool isReady(uint8_t index) const { return entries_.at(index).ready; }
    sock& at(uint8_t index) const { return *entries_.at(index).socket; }

private:
    struct Entry {
        sock* socket;
        bool ready;
    };
    std::vector<Entry> entries_;
};

}  // namespace qdl
