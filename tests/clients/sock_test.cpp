#include "clients/sock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "clients/net_exception.h"
#include "support/net/expect_exception.h"
#include "support/net/fake_server.h"

using testsupport::expectException;
using testsupport::expectTimeOut;
using testsupport::FakeServer;
using testsupport::kTrickleBytes;
using testsupport::kTrickleStepMs;
using testsupport::kTrickleTimeoutMs;
using testsupport::Script;

namespace {

// A client connected to the fake server, with a short time-out so that a
// fault shows in well under the test's limit.
qdl::sock connectTo(const FakeServer& server, uint32_t timeoutMs = 5000) {
    qdl::sock s;
    s.setTimeout(timeoutMs);
    EXPECT_TRUE(s.create(false, true));
    EXPECT_TRUE(s.connect(qdl::sock::makeAddress(FakeServer::address(), server.port(), true), true));
    return s;
}

bool isOpenDescriptor(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

uint16_t portOf(const qdl::sock& s) {
    sockaddr_in address = {};
    socklen_t length = sizeof address;
    ::getsockname(s.descriptor(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A port nobody listens on: taken from the system, then let go.
uint16_t closedPort() {
    qdl::sock s;
    s.create(false, true);
    sockaddr_in address = qdl::sock::makeAddress("127.0.0.1", 0, true);
    ::bind(s.descriptor(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    return portOf(s);
}

// Two connected ends, owned by sock objects.
struct Pair {
    qdl::sock a, b;
    Pair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) throw std::runtime_error("socketpair");
        a = qdl::sock(fds[0]);
        b = qdl::sock(fds[1]);
    }
};

TEST(SockAddress, MakeAddress) {
    const struct {
        const char* text;
        uint32_t address;  // host order
    } good[] = {
        {"127.0.0.1", 0x7f000001},
        {"10.1", 0x0a000001},  // inet_addr's short form
        {"127.1", 0x7f000001},
        {"0x7f.1", 0x7f000001},
        {"010.0.0.1", 0x08000001},  // octal
        {"0.0.0.0", 0},
    };
    for (const auto& c : good) {
        SCOPED_TRACE(c.text);
        const sockaddr_in a = qdl::sock::makeAddress(c.text, 110, true);
        EXPECT_EQ(ntohl(a.sin_addr.s_addr), c.address);
        EXPECT_EQ(a.sin_family, AF_INET);
        EXPECT_EQ(ntohs(a.sin_port), 110);
        EXPECT_EQ(ntohl(qdl::sock::parseAddress(c.text, true)), c.address);
    }
    // The all-ones address is inet_addr's failure value, refused like the rest.
    for (const char* bad : {"255.255.255.255", "1.2.3.256", "abc", "", " 1.2.3.4", "4294967295"}) {
        SCOPED_TRACE(bad);
        expectException<qdl::SocketException>([&] { qdl::sock::makeAddress(bad, 1, true); }, "Invalid IP Address");
        expectException<qdl::SocketException>([&] { qdl::sock::parseAddress(bad, true); }, "Invalid IP Address");
        const sockaddr_in a = qdl::sock::makeAddress(bad, 106, false);
        EXPECT_EQ(a.sin_addr.s_addr, 0u);
        EXPECT_EQ(ntohs(a.sin_port), 106);
        EXPECT_EQ(qdl::sock::parseAddress(bad, false), 0u);
    }
}

TEST(SockAddress, Texts) {
    EXPECT_EQ(qdl::sock::ipToString(0x7f000001), "127.0.0.1");
    EXPECT_EQ(qdl::sock::ipToString(0xffffffff), "255.255.255.255");
    EXPECT_EQ(qdl::sock::ipToString(0x0a000102), "10.0.1.2");
    EXPECT_EQ(qdl::sock::ipToString(0), "0.0.0.0");
    in_addr network;
    network.s_addr = htonl(0xc0a80001);
    EXPECT_EQ(qdl::sock::addressToString(network), "192.168.0.1");
}

TEST(SockHostEntry, FromRecord) {
    char name[] = "mail.example.com";
    char alias1[] = "pop", alias2[] = "imap", alias3[] = "pop";
    char* aliases[] = {alias1, alias2, alias3, nullptr};
    unsigned char first[4] = {10, 0, 0, 2}, second[4] = {127, 0, 0, 1};
    char* addresses[] = {reinterpret_cast<char*>(first), reinterpret_cast<char*>(second), nullptr};
    hostent record = {};
    record.h_name = name;
    record.h_aliases = aliases;
    record.h_addrtype = AF_INET;
    record.h_length = 4;
    record.h_addr_list = addresses;

    qdl::sock::host_entry entry(&record);
    EXPECT_EQ(entry.name, "mail.example.com");
    EXPECT_EQ(entry.aliases, (std::set<std::string>{"imap", "pop"}));
    EXPECT_EQ(entry.addresses, (std::vector<uint32_t>{0x0a000002, 0x7f000001}));
    EXPECT_EQ(entry.addressList(), (std::vector<std::string>{"10.0.0.2", "127.0.0.1"}));
    EXPECT_EQ(qdl::sock::ipToString(entry), "10.0.0.2");

    record.h_aliases = nullptr;
    EXPECT_TRUE(qdl::sock::host_entry(&record).aliases.empty());

    const auto unusable = [](const hostent* r) {
        expectException<qdl::UnableToResolveAddressException>([&] { qdl::sock::host_entry e(r); },
                                                               "UnableToResolveAddressException");
    };
    unusable(nullptr);
    hostent noName = record;
    noName.h_name = nullptr;
    unusable(&noName);
    hostent noList = record;
    noList.h_addr_list = nullptr;
    unusable(&noList);
    char* none[] = {nullptr};
    hostent emptyList = record;
    emptyList.h_addr_list = none;
    unusable(&emptyList);
}

TEST(SockHostEntry, LookUps) {
    ptr<qdl::sock::host_entry> numeric = qdl::sock::getHostByName("127.0.0.1", true);
    ASSERT_FALSE(numeric.isNull());
    EXPECT_EQ(numeric->addressList(), std::vector<std::string>{"127.0.0.1"});

    ptr<qdl::sock::host_entry> local = qdl::sock::getHostByName("localhost", true);
    ASSERT_FALSE(local.isNull());
    EXPECT_EQ(qdl::sock::ipToString(*local).substr(0, 4), "127.");

    ptr<qdl::sock::host_entry> back = qdl::sock::getHostByAddr("127.0.0.1", true);
    ASSERT_FALSE(back.isNull());
    EXPECT_FALSE(back->name.empty());
    EXPECT_EQ(back->addressList(), std::vector<std::string>{"127.0.0.1"});

    EXPECT_TRUE(qdl::sock::getHostByName("", false).isNull());
    expectException<qdl::UnableToResolveAddressException>([] { qdl::sock::getHostByName("", true); },
                                                           "UnableToResolveAddressException");
    EXPECT_TRUE(qdl::sock::getHostByAddr("no address", false).isNull());
    expectException<qdl::UnableToResolveAddressException>([] { qdl::sock::getHostByAddr("no address", true); },
                                                           "Invalid IP address");
}

TEST(SockLines, ReadLineAcrossSegments) {
    // The first segment ends inside a line; the second holds its rest, CR LF
    // and the start of the next one.
    FakeServer server(Script().sendSegments({"hel", "lo\r\nmore", " text\n", "\r\n", "tail"}).close());
    qdl::sock s = connectTo(server);
    std::string line;
    ASSERT_TRUE(s.readLine(line, true));
    EXPECT_EQ(line, "hello");
    ASSERT_TRUE(s.readLine(line, true));
    EXPECT_EQ(line, "more text");  // a bare LF ends it too
    ASSERT_TRUE(s.readLine(line, true));
    EXPECT_EQ(line, "");  // CR LF alone
    // The peer closes inside a line: what came of it is handed back.
    EXPECT_FALSE(s.readLine(line, false));
    EXPECT_EQ(line, "tail");
    EXPECT_EQ(s.descriptor(), -1);
    EXPECT_EQ(server.finish(), "");
}

TEST(SockLines, ReadLineThrowsWhenThePeerCloses) {
    FakeServer server(Script().send("no end").close());
    qdl::sock s = connectTo(server);
    std::string line;
    expectException<qdl::ConnectionResetException>([&] { s.readLine(line, true); }, "ConnectionResetException");
    EXPECT_FALSE(s.isOpen());
    EXPECT_EQ(server.finish(), "");
}

// The time-out bounds the whole line: a peer that trickled a byte at a time
// without a line end once held readLine for as long as it went on.
TEST(SockLines, TricklingPeerTimesOut) {
    FakeServer server(Script().trickle(std::string(kTrickleBytes, 'x'), kTrickleStepMs));
    qdl::sock s = connectTo(server, kTrickleTimeoutMs);
    std::string line;
    expectTimeOut([&] { s.readLine(line, true); }, kTrickleTimeoutMs);
    EXPECT_FALSE(s.isOpen());
    server.finish();
}

// A caller that reads a line in several receives gives them one deadline:
// bytes already there are taken, a wait past it is the time-out.
TEST(SockReceive, DeadlineBoundsTheWait) {
    FakeServer server(Script().send("ab").pause(30000));
    qdl::sock s = connectTo(server, 5000);
    ASSERT_FALSE(s.waitReadable(5000));
    const qdl::Deadline passed = qdl::Deadline::after(0);
    std::string out;
    ASSERT_TRUE(s.recv(out, passed, true));
    EXPECT_EQ(out, "ab");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(s.recv(out, passed, false));
    // Not the socket's own 5 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_FALSE(s.isOpen());
    server.finish();
}

TEST(SockLines, LineLongerThanTheBound) {
    const std::string flood(qdl::LineBuffer::kMaxLineLength + 1, 'x');
    for (bool throwOnError : {false, true}) {
        SCOPED_TRACE(throwOnError ? "throwing" : "quiet");
        FakeServer server(Script().send(flood));
        // The whole line has the time-out to arrive, and 64 MiB may take more
        // than the usual 5 s on a loaded machine; the bound on its length ends it.
        qdl::sock s = connectTo(server, qdl::sock::kDefaultTimeoutMs);
        std::string line;
        if (throwOnError)
            EXPECT_THROW(s.readLine(line, true), qdl::ProtocolException);
        else
            EXPECT_FALSE(s.readLine(line, false));
        EXPECT_FALSE(s.isOpen());
        EXPECT_EQ(server.finish(), "");
    }
}

TEST(SockSend, EmptyLineIsCRLF) {
    FakeServer server(Script().expectLine("").expectLine("two"));
    qdl::sock s = connectTo(server);
    EXPECT_TRUE(s.send("", true, true));
    EXPECT_TRUE(s.send("", false, true));
    EXPECT_TRUE(s.send("tw", false, true));
    EXPECT_TRUE(s.send("o", true, true));
    s.close();
    EXPECT_EQ(server.finish(), "");
    EXPECT_EQ(server.received(), "\r\ntwo\r\n");
}

TEST(SockSend, PeerThatDoesNotReadTimesOut) {
    FakeServer server(Script().pause(30000));
    qdl::sock s = connectTo(server, 200);
    // More than the socket buffers on both sides hold.
    const std::string big(32 * 1024 * 1024, 'x');
    expectException<qdl::ConnectionResetException>([&] { s.send(big, false, true); }, "timed out after 200 ms");
    EXPECT_FALSE(s.isOpen());
    server.finish();
}

TEST(SockSend, EarlyCloseOfThePeerRaisesNoSignal) {
    struct sigaction deflt = {}, saved = {};
    deflt.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &deflt, &saved);
    FakeServer server(Script().close());
    qdl::sock s = connectTo(server);
    std::string out;
    EXPECT_FALSE(s.recv(out, false));
    EXPECT_FALSE(s.send("after the end", true, false));
    // Through a fresh socket whose peer has gone: the write itself fails.
    FakeServer second(Script().close());
    qdl::sock t = connectTo(second);
    ::usleep(100 * 1000);
    bool failed = false;
    for (int i = 0; i < 100 && !failed; ++i) failed = !t.send(std::string(4096, 'y'), false, false);
    EXPECT_TRUE(failed);
    ::sigaction(SIGPIPE, &saved, nullptr);
    server.finish();
    second.finish();
}

TEST(SockReceive, PeerClosing) {
    FakeServer server(std::vector<Script>{Script().close(), Script().close()});
    qdl::sock quiet = connectTo(server);
    std::string out = "old";
    EXPECT_FALSE(quiet.recv(out, false));
    EXPECT_EQ(out, "");
    EXPECT_EQ(quiet.descriptor(), -1);

    qdl::sock loud = connectTo(server);
    expectException<qdl::ConnectionResetException>([&] { loud.recv(out, true); }, "ConnectionResetException");
    EXPECT_EQ(loud.descriptor(), -1);
    EXPECT_EQ(server.finish(), "");
}

// A closed socket has no descriptor: nothing it does can reach descriptor 0.
TEST(SockReceive, EveryOperationOnAClosedSocketFails) {
    qdl::sock s;
    EXPECT_EQ(s.descriptor(), -1);
    std::string out = "kept";
    const auto reset = [](auto call) { expectException<qdl::ConnectionResetException>(call, "ConnectionResetException"); };
    reset([&] { s.send("x", true, true); });
    reset([&] { s.recv(out, true); });
    reset([&] { s.peek(out, 3, true); });
    reset([&] { s.readLine(out, true); });
    EXPECT_FALSE(s.send("x", true, false));
    EXPECT_FALSE(s.recv(out, false));
    EXPECT_FALSE(s.readLine(out, false));
    EXPECT_FALSE(s.waitReadable(10000));  // at once
    expectException<qdl::UnableToConnectException>(
        [&] { s.connect(qdl::sock::makeAddress("127.0.0.1", 1, true), true); }, "UnableToConnectException");
}

TEST(SockReceive, SilentPeerTimesOut) {
    FakeServer server(Script().send("+OK no line end").pause(30000));
    qdl::sock s = connectTo(server, 200);
    std::string out;
    ASSERT_TRUE(s.recv(out, true));
    EXPECT_EQ(out, "+OK no line end");
    expectException<qdl::ConnectionResetException>([&] { s.recv(out, true); }, "timed out after 200 ms");
    EXPECT_FALSE(s.isOpen());

    qdl::sock t = qdl::sock();
    FakeServer second(Script().pause(30000));
    t = connectTo(second, 200);
    EXPECT_FALSE(t.readLine(out, false));
    EXPECT_FALSE(t.isOpen());
    server.finish();
    second.finish();
}

TEST(SockReceive, PeekLeavesTheBytes) {
    FakeServer server(Script().send("abcdef").close());
    qdl::sock s = connectTo(server);
    ASSERT_FALSE(s.waitReadable(5000));
    std::string out;
    ASSERT_TRUE(s.peek(out, 3, true));
    EXPECT_EQ(out, "abc");
    std::string all;
    while (all.size() < 6 && s.recv(out, true)) all += out;
    EXPECT_EQ(all, "abcdef");
    EXPECT_EQ(server.finish(), "");
}

TEST(SockConnect, Refused) {
    const sockaddr_in nobody = qdl::sock::makeAddress("127.0.0.1", closedPort(), true);
    qdl::sock s;
    ASSERT_TRUE(s.create(false, true));
    EXPECT_FALSE(s.connect(nobody, false));
    ASSERT_TRUE(s.create(false, true));
    expectException<qdl::UnableToConnectException>([&] { s.connect(nobody, true); }, "UnableToConnectException");
}

// A listener whose queue is full drops new handshakes: connect would wait
// for ever without its time-out.
TEST(SockConnect, TimesOut) {
    qdl::sock full;
    ASSERT_TRUE(full.create(false, true));
    sockaddr_in address = qdl::sock::makeAddress("127.0.0.1", 0, true);
    ASSERT_EQ(::bind(full.descriptor(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(full.descriptor(), 0), 0);
    const sockaddr_in target = qdl::sock::makeAddress("127.0.0.1", portOf(full), true);
    std::vector<qdl::sock> queued;
    for (int i = 0; i < 8; ++i) {
        qdl::sock s;
        s.setTimeout(300);
        ASSERT_TRUE(s.create(false, true));
        if (!s.connect(target, false)) {
            ASSERT_TRUE(s.create(false, true));
            expectException<qdl::UnableToConnectException>([&] { s.connect(target, true); },
                                                            "connect timed out after 300 ms");
            return;
        }
        queued.push_back(std::move(s));
    }
    GTEST_SKIP() << "this system does not drop handshakes to a full listener";
}

TEST(SockLifetime, DestructorCloses) {
    int fd;
    {
        qdl::sock s;
        ASSERT_TRUE(s.create(false, true));
        fd = s.descriptor();
        EXPECT_GT(fd, 2);
        EXPECT_TRUE(isOpenDescriptor(fd));
    }
    EXPECT_FALSE(isOpenDescriptor(fd));

    // The peer sees the end as soon as the object goes.
    FakeServer server(Script().expectLine("bye"));
    {
        qdl::sock s = connectTo(server);
        s.send("bye", true, true);
    }
    EXPECT_EQ(server.finish(), "");
}

TEST(SockLifetime, StandardDescriptorsAreOnlyForgotten) {
    for (int fd : {0, 1, 2}) {
        SCOPED_TRACE(fd);
        if (!isOpenDescriptor(fd)) continue;
        {
            qdl::sock s(fd);
            s.close();
            EXPECT_EQ(s.descriptor(), -1);
        }
        { qdl::sock s(fd, 7); EXPECT_EQ(s.value(), 7); }
        EXPECT_TRUE(isOpenDescriptor(fd));
    }
}

TEST(SockLifetime, MovesHandTheDescriptorOver) {
    qdl::sock a;
    ASSERT_TRUE(a.create(false, true));
    a.setTimeout(1234);
    const int fd = a.descriptor();
    qdl::sock b(std::move(a));
    EXPECT_EQ(a.descriptor(), -1);
    EXPECT_EQ(b.descriptor(), fd);
    EXPECT_EQ(b.timeout(), 1234u);
    qdl::sock c;
    ASSERT_TRUE(c.create(false, true));
    const int other = c.descriptor();
    c = std::move(b);
    EXPECT_EQ(c.descriptor(), fd);
    EXPECT_FALSE(isOpenDescriptor(other));
    EXPECT_TRUE(isOpenDescriptor(fd));
}

// With standard input closed, a new socket still never takes descriptor 0.
TEST(SockLifetime, NewSocketsStayAboveTheStandardDescriptors) {
    const int saved = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
    ::close(0);
    qdl::sock s;
    const bool created = s.create(false, true);
    const int fd = s.descriptor();
    s.close();
    if (saved >= 0) {
        ::dup2(saved, 0);
        ::close(saved);
    }
    ASSERT_TRUE(created);
    EXPECT_GT(fd, 2);
}

TEST(SockWait, DescriptorsAbove1024) {
    rlimit limit;
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const int high = 1500;
    if (limit.rlim_cur <= static_cast<rlim_t>(high)) {
        if (limit.rlim_max <= static_cast<rlim_t>(high)) GTEST_SKIP() << "the descriptor limit is below " << high;
        rlimit raised = limit;
        raised.rlim_cur = high + 1;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &raised), 0);
    }
    Pair pair;
    ASSERT_EQ(::dup3(pair.a.descriptor(), high, O_CLOEXEC), high);
    qdl::sock s(high);
    EXPECT_TRUE(s.waitReadable(50));
    ASSERT_TRUE(pair.b.send("ping", true, true));
    EXPECT_FALSE(s.waitReadable(5000));
    qdl::sock_set set(s);
    EXPECT_FALSE(set.select(5000));
    EXPECT_TRUE(set.isReady(0));
    std::string line;
    ASSERT_TRUE(s.readLine(line, true));
    EXPECT_EQ(line, "ping");
    s.close();
    EXPECT_FALSE(isOpenDescriptor(high));
}

TEST(SockWait, SetOfSockets) {
    Pair first, second;
    qdl::sock_set set(first.a, second.a);
    EXPECT_TRUE(set.select(50));
    EXPECT_FALSE(set.isReady(0));
    EXPECT_FALSE(set.isReady(1));

    ASSERT_TRUE(second.b.send("x", false, true));
    EXPECT_FALSE(set.select(5000));
    EXPECT_FALSE(set.isReady(0));
    EXPECT_TRUE(set.isReady(1));
    EXPECT_EQ(set.at(1).descriptor(), second.a.descriptor());
    EXPECT_EQ(&set.at(0), &first.a);
    EXPECT_THROW(set.isReady(2), std::out_of_range);
    EXPECT_THROW(set.at(2), std::out_of_range);

    std::vector<qdl::sock> many;
    many.push_back(std::move(first.b));
    many.push_back(std::move(second.b));
    qdl::sock_set all(many);
    ASSERT_TRUE(first.a.send("y", false, true));
    EXPECT_FALSE(all.select(5000));
    EXPECT_TRUE(all.isReady(0));
    EXPECT_FALSE(all.isReady(1));
}

struct Listener {
    qdl::sock socket;
    uint16_t port;
    explicit Listener(uint32_t timeoutMs) {
        socket.setTimeout(timeoutMs);
        EXPECT_TRUE(socket.create(false, true));
        EXPECT_TRUE(socket.listen(0, true));
        port = portOf(socket);
    }
};

// A raw client that connects and sends its first bytes.
qdl::sock rawClient(uint16_t port, const std::string& first) {
    qdl::sock c;
    c.create(false, true);
    c.connect(qdl::sock::makeAddress("127.0.0.1", port, true), true);
    if (!first.empty()) c.send(first, false, true);
    return c;
}

TEST(SockAccept, AcceptChecked) {
    const struct {
        const char* name;
        std::string first;
        bool accepted;
    } cases[] = {
        {"binary handshake", std::string("\x16\x03\x01", 3), true},
        {"plain text", "GET / HTTP/1.0\r\n", false},
        {"letter third", std::string("\x16\x03", 2) + "A", false},
        {"silent client", "", true},  // must not block the acceptor
        {"digits", "123", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool throwOnError : {false, true}) {
            Listener listener(300);
            qdl::sock client = rawClient(listener.port, c.first);
            qdl::sock served;
            sockaddr_in peer;
            if (c.accepted) {
                EXPECT_TRUE(listener.socket.acceptChecked(served, peer, throwOnError));
                EXPECT_TRUE(served.isOpen());
                EXPECT_EQ(qdl::sock::addressToString(peer.sin_addr), "127.0.0.1");
                std::string out;
                if (!c.first.empty()) {
                    ASSERT_TRUE(served.recv(out, true));
                    EXPECT_EQ(out, c.first);  // the check consumed nothing
                }
            } else if (throwOnError) {
                expectException<qdl::InvalidSSLCertificateOrKeyException>(
                    [&] { listener.socket.acceptChecked(served, peer, true); },
                    "InvalidSSLCertificateOrKeyException");
                EXPECT_FALSE(served.isOpen());
            } else {
                EXPECT_FALSE(listener.socket.acceptChecked(served, peer, false));
                EXPECT_FALSE(served.isOpen());
            }
        }
    }
}

TEST(SockAccept, ClientGoneBeforeItsFirstByte) {
    Listener listener(5000);
    { qdl::sock gone = rawClient(listener.port, ""); }
    qdl::sock served;
    sockaddr_in peer;
    EXPECT_FALSE(listener.socket.acceptChecked(served, peer, false));
    EXPECT_FALSE(served.isOpen());
    { qdl::sock gone = rawClient(listener.port, ""); }
    EXPECT_THROW(listener.socket.acceptChecked(served, peer, true), qdl::ConnectionResetException);
}

TEST(SockAccept, ListenOnAPortInUse) {
    FakeServer server(Script{});
    qdl::sock s;
    ASSERT_TRUE(s.create(false, true));
    EXPECT_FALSE(s.listen(server.port(), false));
    expectException<qdl::PortAlreadyUsedException>([&] { s.listen(server.port(), true); },
                                                    "PortAlreadyUsedException");
    server.finish();
}

TEST(SockAccept, AcceptGivesTheClientItsOwnDescriptor) {
    Listener listener(5000);
    qdl::sock client = rawClient(listener.port, "hi");
    qdl::sock served;
    sockaddr_in peer;
    ASSERT_TRUE(listener.socket.accept(served, peer));
    EXPECT_GT(served.descriptor(), 2);
    EXPECT_NE(served.descriptor(), listener.socket.descriptor());
    EXPECT_TRUE(::fcntl(served.descriptor(), F_GETFD) & FD_CLOEXEC);
    std::string out;
    ASSERT_TRUE(served.recv(out, true));
    EXPECT_EQ(out, "hi");
}

TEST(SockStartup, Flag) {
    EXPECT_TRUE(qdl::sock::startup());
    qdl::sock::cleanup();
    qdl::sock s;
    EXPECT_TRUE(s.create(true, true));  // datagram
    EXPECT_TRUE(s.isOpen());
}

}  // namespace
