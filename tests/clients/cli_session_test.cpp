#include "clients/cli.h"

#include <dirent.h>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "clients/net_exception.h"
#include "support/net/cli_session.h"
#include "support/net/expect_exception.h"
#include "support/net/fake_server.h"
#include "support/serverdata/values.h"

using testsupport::array;
using testsupport::CliSession;
using testsupport::describe;
using testsupport::dict;
using testsupport::expectTimeOut;
using testsupport::FakeServer;
using testsupport::kRefused;
using testsupport::kTrickleBytes;
using testsupport::kTrickleStepMs;
using testsupport::kTrickleTimeoutMs;
using testsupport::Script;
using testsupport::str;
using testsupport::shown;

namespace {

const std::string kStampGreeting = "200 ready <1896.697170952@dbc.mtview.ca.us>";

Script stamped() { return Script().send(kStampGreeting + "\r\n"); }

std::size_t openDescriptors() {
    std::size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir)) ++count;
        ::closedir(dir);
    }
    return count;
}

// A port nobody listens on: the one a finished server leaves behind.
uint16_t deadPort() {
    FakeServer gone{Script()};
    return gone.port();
}

TEST(CliLogin, Methods) {
    const struct {
        const char* name;
        std::string user, password;
        int method;
        Script server;
        std::string sent;  // every byte the client sends, Quit included
        std::string result;
    } cases[] = {
        {"APOP", "mrose", "tanstaaf", cgp::CLI::kAPOPLogin,
         stamped().expectLine("APOP mrose c4c9334bac560ecc979e58001b3e22fb").send("200 OK\r\n").expectLine("inline")
             .send("200 OK\r\n").then(testsupport::cliQuit()),
         "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\ninline\r\nQuit\r\n", ""},
        {"plain", "mrose", "tanstaaf", cgp::CLI::kPlainLogin,
         stamped().expectLine("user mrose").send("300 send password\r\n").expectLine("pass tanstaaf").send("200 OK\r\n")
             .expectLine("inline").send("200 OK\r\n").then(testsupport::cliQuit()),
         "user mrose\r\npass tanstaaf\r\ninline\r\nQuit\r\n", ""},
        {"web user", "mrose", "tanstaaf", cgp::CLI::kWebUserLogin,
         stamped().expectLine("AUTH WEBUSER mrose tanstaaf").send("200 OK\r\n").expectLine("inline").send("200 OK\r\n")
             .then(testsupport::cliQuit()),
         "AUTH WEBUSER mrose tanstaaf\r\ninline\r\nQuit\r\n", ""},
        // The password ends its line: a space in it shifts no field.
        {"password with a space", "mrose", "tan staaf", cgp::CLI::kWebUserLogin,
         stamped().expectLine("AUTH WEBUSER mrose tan staaf").send("200 OK\r\n").expectLine("inline").send("200 OK\r\n")
             .then(testsupport::cliQuit()),
         "AUTH WEBUSER mrose tan staaf\r\ninline\r\nQuit\r\n", ""},
        {"the answer to inline is not looked at", "mrose", "tanstaaf", cgp::CLI::kWebUserLogin,
         stamped().expectLine("AUTH WEBUSER mrose tanstaaf").send("200 OK\r\n").expectLine("inline")
             .send("500 unknown command\r\n").then(testsupport::cliQuit()),
         "AUTH WEBUSER mrose tanstaaf\r\ninline\r\nQuit\r\n", ""},
        {"user refused: no password, no server text", "mrose", "tanstaaf", cgp::CLI::kPlainLogin,
         stamped().expectLine("user mrose").send("500 unknown user\r\n").then(testsupport::cliQuit()),
         "user mrose\r\nQuit\r\n", "InvalidLoginException 500: Invalid username or password"},
        {"password refused", "mrose", "wrong", cgp::CLI::kPlainLogin,
         stamped().expectLine("user mrose").send("300 send password\r\n").expectLine("pass wrong")
             .send("515 Incorrect password\r\n").then(testsupport::cliQuit()),
         "user mrose\r\npass wrong\r\nQuit\r\n", "InvalidLoginException 515: Invalid username or password (Incorrect password)"},
        {"APOP refused", "mrose", "tanstaaf", cgp::CLI::kAPOPLogin,
         stamped().expectAnyLine().send("515  Incorrect password \r\n").then(testsupport::cliQuit()),
         "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\nQuit\r\n",
         "InvalidLoginException 515: Invalid username or password (Incorrect password)"},
        // The code goes with the refusal, so that a disabled account is told apart.
        {"disabled account", "mrose", "tanstaaf", cgp::CLI::kWebUserLogin,
         stamped().expectAnyLine().send("536 Access to this account is disabled\r\n").then(testsupport::cliQuit()),
         "AUTH WEBUSER mrose tanstaaf\r\nQuit\r\n",
         "InvalidLoginException 536: Invalid username or password (Access to this account is disabled)"},
        {"refusal without a text", "mrose", "tanstaaf", cgp::CLI::kWebUserLogin,
         stamped().expectAnyLine().send("535\r\n").then(testsupport::cliQuit()), "AUTH WEBUSER mrose tanstaaf\r\nQuit\r\n",
         "InvalidLoginException 535: Invalid username or password"},
        // A failed construction closes its socket.
        {"greeting without a stamp for APOP", "mrose", "tanstaaf", cgp::CLI::kAPOPLogin,
         Script().send("200 ready\r\n").expectClose(), "",
         "InvalidServerPromptException 0: InvalidServerPromptException"},
        {"malformed answer", "mrose", "tanstaaf", cgp::CLI::kWebUserLogin,
         stamped().expectAnyLine().send(" 200 OK\r\n").expectClose(), "AUTH WEBUSER mrose tanstaaf\r\n",
         "InvalidServerResponseException 0: 200 OK"},
        {"server gone after the greeting", "mrose", "tanstaaf", cgp::CLI::kWebUserLogin,
         stamped().expectAnyLine().close(), "AUTH WEBUSER mrose tanstaaf\r\n",
         "ConnectionResetException 0: ConnectionResetException"},
        // Refused before anything is read or sent.
        {"user with CR LF", "x\r\nDeleteDomain d.com", "p", cgp::CLI::kWebUserLogin, stamped().expectClose(), "", kRefused},
        {"user with a space", "mrose x", "p", cgp::CLI::kPlainLogin, stamped().expectClose(), "", kRefused},
        {"user with NUL", std::string("mr\0se", 5), "p", cgp::CLI::kAPOPLogin, stamped().expectClose(), "", kRefused},
        {"password with LF", "mrose", "p\nQuit", cgp::CLI::kPlainLogin, stamped().expectClose(), "", kRefused},
        {"password with CR", "mrose", "p\rx", cgp::CLI::kWebUserLogin, stamped().expectClose(), "", kRefused},
        {"unknown method", "mrose", "p", 3, stamped().expectClose(), "", kRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServer server(c.server);
        EXPECT_EQ(shown([&] { cgp::CLI cli(FakeServer::address(), server.port(), c.user, c.password, c.method, 5000); }),
                  c.result);
        EXPECT_EQ(server.finish(), "");
        EXPECT_EQ(server.received(), c.sent);
    }
}

// The examples every build must meet, byte for byte.
TEST(CliExamples, ApopLogin) {
    FakeServer server(stamped()
                          .expectLine("APOP mrose c4c9334bac560ecc979e58001b3e22fb")
                          .send("200 OK\r\n")
                          .expectLine("inline")
                          .send("200 OK\r\n")
                          .then(testsupport::cliQuit()));
    { cgp::CLI cli(FakeServer::address(), server.port(), "mrose", "tanstaaf", cgp::CLI::kAPOPLogin, 5000); }
    EXPECT_EQ(server.finish(), "");
    EXPECT_EQ(server.received(), "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\ninline\r\nQuit\r\n");
}

TEST(CliExamples, InlineAnswer) {
    const std::vector<std::vector<std::string>> replies = {{"201 {a = b;}\r\n"}, {"20", "1 {a = b;}\r\n"}};
    for (const auto& segments : replies) {
        SCOPED_TRACE(segments.size());
        CliSession session(Script().expectLine("GetAccountSettings bob").sendSegments(segments));
        session.cli().sendCommand("GetAccountSettings bob");
        EXPECT_EQ(session.cli().lastCode(), 201);
        EXPECT_EQ(session.cli().lastMessage(), "OK");
        EXPECT_EQ(cgp::DataSet::toString(session.cli().getResponseDataSet(), false), "{a = b;}");
        EXPECT_EQ(session.end(), "GetAccountSettings bob\r\nQuit\r\n");
    }
}

TEST(CliExamples, Commands) {
    testsupport::checkCliRows({
        {CLI_CALL(listSubscribers("l1", "", 10)), "ListSubscribers l1 FILTER \"\" 10", "201 ()", "A[]"},
        {CLI_CALL(verifyAccountPassword("bob", "a b")), "VerifyAccountPassword bob PASSWORD \"a b\"", "515 x", "false"},
        {CLI_CALL(getAccountSubscription("x\r\nDeleteDomain d.com")), "", "", kRefused},
    });
}

// A failed construction leaves no descriptor behind.
TEST(CliConnect, Failures) {
    const uint16_t port = deadPort();
    const std::size_t before = openDescriptors();
    testsupport::expectException<qdl::SocketException>(
        [] { cgp::CLI cli("localhost", 106, "u", "p", cgp::CLI::kAPOPLogin, 2000); }, "Invalid IP Address");
    testsupport::expectException<qdl::UnableToConnectException>(
        [&] { cgp::CLI cli("127.0.0.1", port, "u", "p", cgp::CLI::kAPOPLogin, 2000); }, "UnableToConnectException");
    EXPECT_EQ(openDescriptors(), before);
}

// Every read waits at most the time-out, the greeting included.
TEST(CliConnect, ReadsTimeOut) {
    {
        FakeServer server(Script().expectClose());
        testsupport::expectException<qdl::ConnectionResetException>(
            [&] { cgp::CLI cli(FakeServer::address(), server.port(), "u", "p", cgp::CLI::kPlainLogin, 200); },
            "timed out after 200 ms");
        EXPECT_EQ(server.finish(), "");
    }
    CliSession session(Script().expectLine("GetCurrentController").expectClose(), false);
    session.cli().setTimeout(200);
    testsupport::expectException<qdl::ConnectionResetException>([&] { session.cli().getCurrentController(); },
                                                                "timed out after 200 ms");
    EXPECT_FALSE(session.cli().isConnected());
    EXPECT_EQ(session.end(), "GetCurrentController\r\n");
}

// The bound of a close is on the whole Quit exchange, not on each read: a
// server that trickles its answer a byte at a time, never ending the line,
// once held the destructor for as long as it kept trickling.
TEST(CliConnect, CloseIsBoundedAgainstATricklingServer) {
    FakeServer server(testsupport::cliLogin().expectLine("Quit").sendSegments(std::vector<std::string>(40, "2"), 100));
    auto* cli = new cgp::CLI(FakeServer::address(), server.port(), testsupport::kCliUser, testsupport::kCliPassword,
                             cgp::CLI::kWebUserLogin, 300);
    const auto start = std::chrono::steady_clock::now();
    delete cli;
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(took.count(), 1500);
    EXPECT_EQ(server.finish(), "");
    EXPECT_EQ(server.received(), testsupport::cliLoginBytes() + "Quit\r\n");
}

// Each response line, and the data line after a 200, must arrive whole
// within the time-out from when the client starts to wait for it. A server
// that trickled a byte at a time without a line end once held any call for
// as long as it went on.
TEST(CliConnect, TricklingServerTimesOut) {
    const std::string endless(kTrickleBytes, 'x');
    {
        SCOPED_TRACE("greeting");
        FakeServer server(Script().trickle("200 ready " + endless, kTrickleStepMs));
        expectTimeOut(
            [&] {
                cgp::CLI cli(FakeServer::address(), server.port(), "u", "p", cgp::CLI::kPlainLogin, kTrickleTimeoutMs);
            },
            kTrickleTimeoutMs);
        server.finish();
    }
    const struct {
        const char* name;
        Script reply;
    } cases[] = {
        {"response line", Script().trickle("201 {a = b;}" + endless, kTrickleStepMs)},
        {"data line after 200", Script().send("200 data follow\r\n").trickle("{a = b;}" + endless, kTrickleStepMs)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CliSession session(Script().expectLine("GetAccountSettings bob").then(c.reply), false);
        session.cli().setTimeout(kTrickleTimeoutMs);
        expectTimeOut([&] { session.cli().getAccountSettings("bob"); }, kTrickleTimeoutMs);
        EXPECT_FALSE(session.cli().isConnected());
        EXPECT_EQ(session.end(), "GetAccountSettings bob\r\n");
    }
}

TEST(CliConnect, DisconnectQuitsOnce) {
    CliSession session{Script()};
    session.cli().disconnect();
    EXPECT_FALSE(session.cli().isConnected());
    session.cli().disconnect();
    EXPECT_EQ(session.end(), "Quit\r\n");
}

// What each response sets, read through execute (exceptions on).
TEST(CliResponse, Codes) {
    const struct {
        const char* name;
        std::vector<std::string> segments;
        std::string result;  // of execute
        unsigned code;
        std::string message, inlineData;
    } cases[] = {
        {"200", {"200 OK\r\n"}, "", 200, "OK", "OK\r\n"},
        {"201 with data", {"201 {a = b;}\r\n"}, "", 201, "OK", "{a = b;}\r\n"},
        {"data kept untrimmed", {"201  x \r\n"}, "", 201, "OK", " x \r\n"},
        {"code alone", {"201\r\n"}, "", 201, "OK", ""},
        {"bare LF", {"200 OK\n"}, "", 200, "OK", "OK\r\n"},
        {"split inside the code", {"20", "1 {a = b;}\r\n"}, "", 201, "OK", "{a = b;}\r\n"},
        {"split before the LF", {"201 {a = b;}\r", "\n"}, "", 201, "OK", "{a = b;}\r\n"},
        {"error, text trimmed", {"500  \t bad command \t \r\n"}, "CLIException 500: bad command", 500, "bad command", ""},
        {"error without a text", {"512\r\n"}, "CLIException 512: ", 512, "", ""},
        {"300 is no success", {"300 go on\r\n"}, "CLIException 300: go on", 300, "go on", ""},
        {"leading space", {" 200 OK\r\n"}, "InvalidServerResponseException 0: 200 OK", 0, "", ""},
        {"no number", {"OK fine\r\n"}, "ProtocolException 0: OK fine\r\n", 0, "", ""},
        {"code 0", {"0 x\r\n"}, "ProtocolException 0: 0 x\r\n", 0, "", ""},
        // Taking the low 16 bits would make this 200: a success.
        {"65736", {"65736 x\r\n"}, "ProtocolException 0: 65736 x\r\n", 0, "", ""},
        {"four digits", {"1000 x\r\n"}, "ProtocolException 0: 1000 x\r\n", 0, "", ""},
        {"two digits", {"99 x\r\n"}, "ProtocolException 0: 99 x\r\n", 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CliSession session(Script().expectLine("Noop").sendSegments(c.segments));
        EXPECT_EQ(shown([&] { session.cli().execute("Noop"); }), c.result);
        EXPECT_EQ(session.cli().lastCode(), c.code);
        if (c.code != 0) {
            EXPECT_EQ(session.cli().lastMessage(), c.message);
        }
        if (c.code == 200 || c.code == 201) {
            EXPECT_EQ(session.cli().inlineData(), c.inlineData);
        }
        EXPECT_EQ(session.end(), "Noop\r\nQuit\r\n");
    }
}

TEST(CliResponse, InlineDataSet) {
    CliSession session(Script().expectLine("GetAccountSettings bob").send("201 {a = b;}\r\n"));
    session.cli().sendCommand("GetAccountSettings bob");
    EXPECT_EQ(session.cli().lastCode(), 201);
    EXPECT_EQ(session.cli().lastMessage(), "OK");
    const cgp::DataSet data = session.cli().getResponseDataSet();
    EXPECT_EQ(describe(data), describe(dict({{"a", testsupport::str("b")}})));
    EXPECT_EQ(cgp::DataSet::toString(data, false), "{a = b;}");
    EXPECT_EQ(session.end(), "GetAccountSettings bob\r\nQuit\r\n");
}

// A 200 answer's data comes on the next line. Wherever the bytes are cut,
// also when both lines come in one segment, the data is there and nothing
// waits for more.
TEST(CliResponse, DataLineAfter200) {
    const std::string reply = "200 data follow\r\n{a = (1, 2);}\r\n";
    for (std::size_t cut = 0; cut <= reply.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        CliSession session(Script().expectLine("GetX").sendCut(reply, {cut}, 5));
        // A client that blocked on a line already received would fail here.
        session.cli().setTimeout(2000);
        session.cli().sendCommand("GetX");
        EXPECT_EQ(session.cli().lastCode(), 200);
        EXPECT_EQ(describe(session.cli().getResponseDataSet()), "D{\"a\":A[S\"1\",S\"2\"]}");
        EXPECT_EQ(session.end(), "GetX\r\nQuit\r\n");
    }
}

// The time-out is on each line, not on the call: an answer whose two lines
// each take most of it is read whole.
TEST(CliResponse, SlowLinesEachInTime) {
    CliSession session(Script()
                           .expectLine("GetX")
                           .trickle("200 data follow\r\n", 35)
                           .trickle("{a = (1, 2);}\r\n", 40));
    session.cli().setTimeout(1000);
    session.cli().sendCommand("GetX");
    EXPECT_EQ(describe(session.cli().getResponseDataSet()), "D{\"a\":A[S\"1\",S\"2\"]}");
    EXPECT_EQ(session.end(), "GetX\r\nQuit\r\n");
}

// A line the server sent but nobody read belongs to no later command.
TEST(CliResponse, UnreadDataIsDropped) {
    CliSession session(
        Script().expectLine("GetX").send("200 data follow\r\n{a = b;}\r\n").expectLine("GetY").send("201 y\r\n"));
    session.cli().sendCommand("GetX");
    session.cli().sendCommand("GetY");
    EXPECT_EQ(session.cli().inlineData(), "y\r\n");
    EXPECT_EQ(session.end(), "GetX\r\nGetY\r\nQuit\r\n");
}

// A response line past the bound fails, and nothing more is read from a
// stream that has lost its place.
TEST(CliResponse, LineLongerThanTheBound) {
    CliSession session(Script().expectLine("GetX").send("201 " + std::string(qdl::LineBuffer::kMaxLineLength, 'x')),
                       false);
    // The whole line has the time-out to arrive, and 64 MiB may take more
    // than the usual 5 s on a loaded machine; the bound on its length ends it.
    session.cli().setTimeout(qdl::sock::kDefaultTimeoutMs);
    EXPECT_THROW(session.cli().sendCommand("GetX"), qdl::ProtocolException);
    EXPECT_FALSE(session.cli().isConnected());
    EXPECT_EQ(shown([&] { session.cli().sendCommand("GetY"); }), "ConnectionResetException 0: ConnectionResetException");
    EXPECT_EQ(session.end(), "GetX\r\n");
}

TEST(CliResponse, SessionGoesOnAfterAnError) {
    CliSession session(Script().expectLine("Bad").send("500 unknown command\r\n").expectLine("Good").send("200 OK\r\n"));
    testsupport::expectException<cgp::CLIException>([&] { session.cli().sendCommand("Bad"); }, "unknown command", 500);
    session.cli().sendCommand("Good");
    EXPECT_EQ(session.cli().lastCode(), 200);
    EXPECT_EQ(session.end(), "Bad\r\nGood\r\nQuit\r\n");
}

TEST(CliResponse, ReadWithoutExceptions) {
    CliSession session(Script().expectLine("Bad").send("500 unknown command\r\n"));
    session.cli().sendLine("Bad");
    session.cli().readResponse(false);
    EXPECT_EQ(session.cli().lastCode(), 500);
    EXPECT_EQ(session.cli().lastMessage(), "unknown command");
    EXPECT_EQ(session.end(), "Bad\r\nQuit\r\n");
}

// Also through the lower entry points, which once sent such a line as it
// was: two commands.
TEST(CliCommand, RawLinesRefuseLineBreaks) {
    const std::string lines[] = {"GetX\r\nDeleteDomain d.com", "GetX\n", "Get\rX", std::string("GetX\0", 5)};
    for (const std::string& line : lines) {
        CliSession session{Script()};
        EXPECT_EQ(shown([&] { session.cli().sendCommand(line); }), kRefused);
        EXPECT_EQ(shown([&] { session.cli().execute(line); }), kRefused);
        EXPECT_EQ(shown([&] { session.cli().sendLine(line); }), kRefused);
        EXPECT_TRUE(session.cli().isConnected());
        EXPECT_EQ(session.end(), "Quit\r\n");
    }
}

TEST(CliArguments, CheckText) {
    EXPECT_EQ(shown([] { cgp::CLI::checkArgument(std::string()); }), kRefused);
    EXPECT_EQ(shown([] { cgp::CLI::checkArgument(std::string("x")); }), "");
}

// Every argument sent as a data-set string goes through the escaping, which
// drops CR: the server would act on another text than the caller's (the
// password "pa\rss" was once set as "pass"). Each is refused before the
// server receives any command line.
TEST(CliArguments, DataStringWithCRIsRefused) {
    testsupport::checkCliRows({
        {CLI_CALL(setAccountPassword("bob", "pa\rss")), "", "", kRefused},
        {CLI_CALL(verifyAccountPassword("bob", "pass\r")), "", "", kRefused},
        {CLI_CALL(removeAccountSubset("bob", "\rDrafts")), "", "", kRefused},
        {CLI_CALL(setMailboxClass("bob", "Calendar", "IPF.Note\r", "")), "", "", kRefused},
        {CLI_CALL(setMailboxClass("bob", "Calendar", "IPF.Note\r", "admin")), "", "", kRefused},
        {CLI_CALL(setRouterTable("a = b\r")), "", "", kRefused},
        {CLI_CALL(setClusterRouterTable("a = b\r\nc = d")), "", "", kRefused},
        {CLI_CALL(postServerAlert("\r")), "", "", kRefused},
        {CLI_CALL(postClusterAlert("disk\rfull")), "", "", kRefused},
        {CLI_CALL(postDomainAlert("d.com", "disk\rfull")), "", "", kRefused},
        {CLI_CALL(postAccountAlert("bob", "disk\rfull")), "", "", kRefused},
        {CLI_CALL(writeLog(1, "a\rb")), "", "", kRefused},
        // Optional, yet not sent changed either.
        {CLI_CALL(rejectQueueMessage("123", "spam\r")), "", "", kRefused},
        // Data sets are written with the same escaping: a CR anywhere in
        // their strings or keys, however deep, is refused as well.
        {CLI_CALL(setAccountSettings("bob", dict({{"a", str("1\r\n2")}}))), "", "", kRefused},
        {CLI_CALL(setAccountSettings("bob", dict({{"a\r", str("1")}}))), "", "", kRefused},
        {CLI_CALL(updateAccountSettings("bob", dict({{"a", array({str("x"), dict({{"b", str("\r")}})})}}))), "", "",
         kRefused},
        {CLI_CALL(setAccountSettings("bob", dict({{"a", array({str("x"), str("y\n")})}}))),
         "SetAccountSettings bob {a = (x,\"y\\e\");}"},
    });
}

TEST(CliArguments, CheckDataSet) {
    using cgp::DataSet;
    const struct {
        const char* name;
        DataSet value;
        int kind;
        bool ok;
    } cases[] = {
        {"string", str("x"), DataSet::kString, true},
        {"empty string", str(""), DataSet::kString, false},
        {"array", array({str("x")}), DataSet::kArray, true},
        {"empty array", array({}), DataSet::kArray, false},
        {"string for an array", str("x"), DataSet::kArray, false},
        {"dictionary", dict({{"a", str("b")}}), DataSet::kDictionary, true},
        {"empty dictionary", dict({}), DataSet::kDictionary, false},
        {"array for a dictionary", array({str("x")}), DataSet::kDictionary, false},
        {"empty value", testsupport::none(), DataSet::kEmpty, false},
        {"data block", testsupport::block("x"), DataSet::kData, false},
        {"null handle", DataSet(), DataSet::kString, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(shown([&] { cgp::CLI::checkArgument(c.value, c.kind); }), c.ok ? "" : kRefused);
    }
}

TEST(CliArguments, Format) {
    const struct {
        std::string text, formatted;
    } texts[] = {
        {"abc", "abc"}, {"a b", "\"a b\""}, {"", "\"\""}, {"a\"b", "\"a\\\"b\""},
        {"a@b.c", "\"a@b.c\""}, {"a\r\nb", "\"a\\eb\""}, {std::string("a\0b", 3), "\"a\\0b\""},
    };
    for (const auto& t : texts) EXPECT_EQ(cgp::CLI::formatArgument(t.text), t.formatted);
    EXPECT_EQ(cgp::CLI::formatArgument(dict({{"a", str("b")}, {"c", array({str("1"), str("2")})}})),
              "{a = b;c = (1,2);}");
    EXPECT_EQ(cgp::CLI::formatArgument(array({})), "()");
    EXPECT_EQ(cgp::CLI::formatArgument(cgp::DataSet()), "");
}

TEST(CliArguments, NeedsQuoting) {
    EXPECT_FALSE(cgp::CLI::needsQuoting("john.doe@example.com"));
    EXPECT_FALSE(cgp::CLI::needsQuoting("a-b_c9"));
    EXPECT_TRUE(cgp::CLI::needsQuoting("a b"));
    EXPECT_TRUE(cgp::CLI::needsQuoting(""));
    EXPECT_TRUE(cgp::CLI::needsQuoting("a/b"));
}

TEST(CliArguments, ParseData) {
    EXPECT_EQ(describe(cgp::CLI::parseData("{a = b;}\r\n")), "D{\"a\":S\"b\"}");
    EXPECT_EQ(describe(cgp::CLI::parseData("(x, \"y z\")\r\n")), "A[S\"x\",S\"y z\"]");
}

TEST(CliDescribe, Texts) {
    const auto describeThrown = [](const std::function<void()>& raise) {
        try {
            raise();
        } catch (...) {
            return cgp::CLI::describeException();
        }
        return std::string("nothing thrown");
    };
    EXPECT_EQ(describeThrown([] { throw qdl::InvalidLoginException("x (y)", 515); }), "Invalid username or password");
    EXPECT_EQ(describeThrown([] { throw cgp::CLIException("unknown account", 513); }), "unknown account");
    EXPECT_EQ(describeThrown([] { throw qdl::InvalidServerResponseException("odd", 0); }), "odd");
    EXPECT_EQ(describeThrown([] { throw qdl::UnableToConnectException(); }), "Unable to connect to server");
    EXPECT_EQ(describeThrown([] { throw qdl::ConnectionResetException(); }), "Connection with the server has reset");
    EXPECT_EQ(describeThrown([] { throw qdl::PortAlreadyUsedException(); }), "Unhandled error");
    EXPECT_THROW(describeThrown([] { throw std::runtime_error("other"); }), std::runtime_error);
}

}  // namespace
