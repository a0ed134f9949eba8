#include "clients/cli_probes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clients/cli.h"
#include "clients/pop3.h"
#include "support/core/capture.h"
#include "support/net/fake_server.h"

using testsupport::FakeServer;
using testsupport::Script;
using testsupport::StdoutCapture;

namespace {

const std::string kGreeting = "200 ready <1896.697170952@dbc.mtview.ca.us>";

int64_t fakeNow = 0;
int64_t fakeClock() { return fakeNow; }

// The probes read the process-wide settings and state: each test starts
// from the initial ones, with a clock it sets, and leaves them so.
class Probe : public ::testing::Test {
protected:
    void SetUp() override {
        cgp::resetClusterProbe();
        fakeNow = 1000;
        cgp::setProbeClock(fakeClock);
    }
    void TearDown() override {
        cgp::setProbeClock(nullptr);
        cgp::resetClusterProbe();
        cgp::cliEnabled = true;
        cgp::defaultHost = "127.0.0.1";
        cgp::defaultPort = 106;
        cgp::defaultUser.clear();
        cgp::defaultPassword.clear();
        cgp::defaultLoginMethod = cgp::CLI::kAPOPLogin;
    }
    void useServer(const FakeServer& server, const std::string& user = "admin",
                   const std::string& password = "secret") {
        cgp::defaultPort = server.port();
        cgp::defaultUser = user;
        cgp::defaultPassword = password;
    }
};

// The server side of a default login (APOP) as user with password.
Script loggedIn(const std::string& user = "admin", const std::string& password = "secret") {
    return Script()
        .send(kGreeting + "\r\n")
        .expectLine(qdl::makeAPOPCommand(kGreeting, user, password))
        .send("200 OK\r\n")
        .expectLine("inline")
        .send("200 OK\r\n");
}

Script quits() { return Script().expectLine("Quit").send("200 bye\r\n").close(); }

Script clusterAnswer(const std::string& reply) {
    return loggedIn().expectLine("GetClusterDomainDefaults").send(reply + "\r\n").then(quits());
}

// A connection that is closed at once: the probe fails reading the greeting.
Script gone() { return Script().close(); }

const std::string kLogged =
    "* Unable to use CLI, please verify your settings\n"
    "* CLI module reported: ConnectionResetException\n";

TEST_F(Probe, InitialSettings) {
    EXPECT_TRUE(cgp::cliEnabled);
    EXPECT_EQ(cgp::defaultHost, "127.0.0.1");
    EXPECT_EQ(cgp::defaultPort, 106);
    EXPECT_EQ(cgp::defaultUser, "");
    EXPECT_EQ(cgp::defaultPassword, "");
    EXPECT_EQ(cgp::defaultLoginMethod, cgp::CLI::kAPOPLogin);
}

TEST_F(Probe, ClusterVerdictIsKept) {
    FakeServer server(clusterAnswer("201 {}"));
    useServer(server);
    EXPECT_TRUE(cgp::isClusterServer());
    // Known now: no further connection, whatever the settings say.
    cgp::defaultPort = 1;
    cgp::defaultUser = "other";
    EXPECT_TRUE(cgp::isClusterServer());
    EXPECT_EQ(server.finish(), "");
    EXPECT_EQ(server.connections(), 1u);
}

TEST_F(Probe, ErrorAnswerMeansNoCluster) {
    FakeServer server(clusterAnswer("500 not clustered"));
    useServer(server);
    EXPECT_FALSE(cgp::isClusterServer());
    EXPECT_FALSE(cgp::isClusterServer());
    EXPECT_EQ(server.finish(), "");
    EXPECT_EQ(server.connections(), 1u);
}

TEST_F(Probe, NoProbeWithoutCredentialsOrWhenDisabled) {
    FakeServer server{std::vector<Script>{}};
    useServer(server, "", "secret");
    EXPECT_FALSE(cgp::isClusterServer());
    useServer(server, "admin", "");
    EXPECT_FALSE(cgp::isClusterServer());
    useServer(server);
    cgp::cliEnabled = false;
    EXPECT_FALSE(cgp::isClusterServer());
    EXPECT_FALSE(cgp::checkCLIConnection());
    EXPECT_EQ(server.finish(), "");
    EXPECT_EQ(server.connections(), 0u);
}

// A failed probe is retried only 20 seconds later.
TEST_F(Probe, BackOffAfterFailure) {
    FakeServer server({gone(), clusterAnswer("201 {}")});
    useServer(server);
    StdoutCapture out;
    EXPECT_FALSE(cgp::isClusterServer());
    EXPECT_EQ(server.connections(), 1u);
    for (int64_t later : {5, 19}) {
        fakeNow = 1000 + later;
        EXPECT_FALSE(cgp::isClusterServer());
    }
    EXPECT_EQ(server.connections(), 1u);
    fakeNow = 1020;
    EXPECT_TRUE(cgp::isClusterServer());
    EXPECT_EQ(out.text(), kLogged);
    EXPECT_EQ(server.finish(), "");
    EXPECT_EQ(server.connections(), 2u);
}

// Logged once for each user, password and port.
TEST_F(Probe, FailureLoggedOncePerSettings) {
    FakeServer first(std::vector<Script>(6, gone()));
    FakeServer second{gone()};
    StdoutCapture out;
    std::string expected;
    const auto probeAt = [&](int64_t now, bool logged) {
        fakeNow = now;
        EXPECT_FALSE(cgp::isClusterServer());
        if (logged) expected += kLogged;
    };
    useServer(first, "ab", "c");
    probeAt(1000, true);
    probeAt(1020, false);
    // The same letters cut elsewhere are other settings.
    useServer(first, "a", "bc");
    probeAt(1040, true);
    useServer(first, "a", "bd");
    probeAt(1060, true);
    probeAt(1080, false);
    useServer(second, "a", "bd");
    probeAt(1100, true);
    // Back to settings logged before, but not the last ones.
    useServer(first, "ab", "c");
    probeAt(1120, true);
    EXPECT_EQ(out.text(), expected);
    EXPECT_EQ(first.finish(), "");
    EXPECT_EQ(second.finish(), "");
}

TEST_F(Probe, LoggedMessageOnOneLine) {
    const struct {
        const char* name;
        std::string reply, logged;
    } cases[] = {
        // The response text without a code comes whole, CR LF and all.
        {"line end shown", "abc def\r\n", "abc def\\n"},
        {"CR dropped", "abc\rdef \r\n", "abcdef \\n"},
        {"refusal", "515  Incorrect password \r\n", "Invalid username or password (Incorrect password)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cgp::resetClusterProbe();
        const bool refused = c.reply[0] == '5';
        FakeServer server(Script()
                              .send(kGreeting + "\r\n")
                              .expectAnyLine()
                              .send(c.reply)
                              .then(refused ? quits() : Script().expectClose()));
        useServer(server);
        StdoutCapture out;
        EXPECT_FALSE(cgp::isClusterServer());
        EXPECT_EQ(out.text(),
                  "* Unable to use CLI, please verify your settings\n* CLI module reported: " + c.logged + "\n");
        EXPECT_EQ(server.finish(), "");
    }
}

TEST_F(Probe, CheckConnection) {
    {
        FakeServer server(loggedIn().expectLine("GetCurrentController").send("201 \"10.0.0.1\"\r\n").then(quits()));
        useServer(server);
        EXPECT_TRUE(cgp::checkCLIConnection());
        EXPECT_EQ(server.finish(), "");
    }
    {
        FakeServer server(loggedIn().expectLine("GetCurrentController").send("500 unknown\r\n").then(quits()));
        useServer(server);
        EXPECT_FALSE(cgp::checkCLIConnection());
        EXPECT_EQ(server.finish(), "");
    }
    FakeServer server{gone()};
    useServer(server);
    StdoutCapture out;
    EXPECT_FALSE(cgp::checkCLIConnection());
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(server.finish(), "");
}

TEST_F(Probe, VerifyLogin) {
    const struct {
        const char* name;
        std::string reply;  // to the login line
        bool result, accessAllowed;
        std::string errorText;
    } cases[] = {
        {"accepted", "200 OK", true, true, ""},
        {"disabled account", "536 ACCESS TO THIS ACCOUNT IS DISABLED", true, false, ""},
        {"disabled phrase without its code", "515 access to this account is disabled", false, false,
         "Invalid username or password (access to this account is disabled)"},
        {"536 for another reason", "536 account is locked", false, false,
         "Invalid username or password (account is locked)"},
        {"wrong password", "515 Incorrect password", false, false, "Invalid username or password (Incorrect password)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Script script = Script().send("200 ready\r\n").expectLine("AUTH WEBUSER bob pw").send(c.reply + "\r\n");
        if (c.reply[0] == '2') script.expectLine("inline").send("200 OK\r\n");
        FakeServer server(script.then(quits()));
        cgp::defaultPort = server.port();
        // Not consulted here.
        cgp::cliEnabled = false;
        std::string errorText = "stale";
        bool accessAllowed = !c.accessAllowed;
        EXPECT_EQ(cgp::verifyLogin("bob", "pw", cgp::CLI::kWebUserLogin, errorText, accessAllowed), c.result);
        EXPECT_EQ(accessAllowed, c.accessAllowed);
        EXPECT_EQ(errorText, c.errorText);
        EXPECT_EQ(server.finish(), "");
    }
    uint16_t port;
    {
        FakeServer gone{std::vector<Script>{}};
        port = gone.port();
    }
    cgp::defaultPort = port;
    std::string errorText;
    EXPECT_FALSE(cgp::verifyLogin("bob", "pw", cgp::CLI::kWebUserLogin, errorText));
    EXPECT_EQ(errorText, "UnableToConnectException");
}

// No log line, no error text and no exception message carries the
// password, whatever way the probe fails.
TEST_F(Probe, PasswordNeverLogged) {
    const std::string password = "Pw-s3cret 42";
    const struct {
        const char* name;
        int method;
        Script server;
    } cases[] = {
        {"closed at once", cgp::CLI::kPlainLogin, gone()},
        {"user refused", cgp::CLI::kPlainLogin,
         Script().send("200 ready\r\n").expectAnyLine().send("500 unknown user\r\n").then(quits())},
        {"password refused", cgp::CLI::kPlainLogin,
         Script().send("200 ready\r\n").expectAnyLine().send("300 go on\r\n").expectAnyLine()
             .send("515 Incorrect password\r\n").then(quits())},
        {"closed after the password", cgp::CLI::kPlainLogin,
         Script().send("200 ready\r\n").expectAnyLine().send("300 go on\r\n").expectAnyLine().close()},
        {"malformed answer", cgp::CLI::kWebUserLogin,
         Script().send("200 ready\r\n").expectAnyLine().send("what?\r\n").expectClose()},
        {"no stamp", cgp::CLI::kAPOPLogin, Script().send("200 ready\r\n").expectClose()},
        {"APOP refused", cgp::CLI::kAPOPLogin,
         Script().send(kGreeting + "\r\n").expectAnyLine().send("515 Incorrect password\r\n").then(quits())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cgp::resetClusterProbe();
        FakeServer server(std::vector<Script>{c.server, c.server});
        useServer(server, "admin", password);
        cgp::defaultLoginMethod = c.method;
        StdoutCapture out;
        EXPECT_FALSE(cgp::isClusterServer());
        std::string errorText;
        EXPECT_FALSE(cgp::verifyLogin("admin", password, c.method, errorText));
        const std::string logged = out.text();
        EXPECT_NE(logged, "");
        EXPECT_EQ(logged.find(password), std::string::npos) << logged;
        EXPECT_EQ(errorText.find(password), std::string::npos) << errorText;
        EXPECT_EQ(server.finish(), "");
    }
    // A password the login refuses to send is not shown either.
    cgp::resetClusterProbe();
    FakeServer server{Script().send("200 ready\r\n").expectClose()};
    useServer(server, "admin", password + "\r\n");
    StdoutCapture out;
    EXPECT_FALSE(cgp::isClusterServer());
    const std::string logged = out.text();
    EXPECT_EQ(logged, "* Unable to use CLI, please verify your settings\n"
                      "* CLI module reported: invalid or missing argument\n");
    EXPECT_EQ(server.finish(), "");
}

}  // namespace
