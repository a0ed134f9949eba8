// Account commands: one row per call (see support/net/cli_session.h).
#include "clients/cli.h"

#include <gtest/gtest.h>

#include "support/net/cli_session.h"
#include "support/serverdata/values.h"

using testsupport::array;
using testsupport::checkCliRows;
using testsupport::CliSession;
using testsupport::dict;
using testsupport::kRefused;
using testsupport::Script;
using testsupport::shown;
using testsupport::str;

namespace {

TEST(CliAccounts, CreateAccount) {
    checkCliRows({
        {CLI_CALL(createAccount("bob", dict({}), "", false)), "CreateAccount bob"},
        {CLI_CALL(createAccount("bob", dict({{"Password", str("x y")}}), "macnt", true)),
         "CreateAccount bob macnt external {Password = \"x y\";}"},
        {CLI_CALL(createAccount("bob", dict({{"a", str("b")}}), "", false)), "CreateAccount bob {a = b;}"},
        // Settings count only with dictionary members.
        {CLI_CALL(createAccount("bob", array({str("x")}), "", true)), "CreateAccount bob external"},
        {CLI_CALL(createAccount("bob", cgp::DataSet(), "", false)), "CreateAccount bob"},
        {CLI_CALL(createAccount("bob", dict({}), "", false)), "CreateAccount bob", "500 exists",
         "CLIException 500: exists"},
        {CLI_CALL(createAccount("", dict({{"a", str("b")}}), "macnt", true)), "", "", kRefused},
        {CLI_CALL(createAccount("x\r\nDeleteDomain d.com", dict({}), "", false)), "", "", kRefused},
        {CLI_CALL(createAccount("bob", dict({}), "ma cnt", false)), "", "", kRefused},
    });
}

TEST(CliAccounts, VerifyAccountPassword) {
    checkCliRows({
        {CLI_CALL(verifyAccountPassword("bob", "a b")), "VerifyAccountPassword bob PASSWORD \"a b\"", "515 x", "false"},
        {CLI_CALL(verifyAccountPassword("bob", "secret")), "VerifyAccountPassword bob PASSWORD secret", "200 OK", "true"},
        {CLI_CALL(verifyAccountPassword("bob", "secret")), "VerifyAccountPassword bob PASSWORD secret",
         "513 unknown account", "false"},
        {CLI_CALL(verifyAccountPassword("bob", "secret")), "VerifyAccountPassword bob PASSWORD secret",
         "500 unknown command", "CLIException 500: unknown command"},
        {CLI_CALL(verifyAccountPassword("bob", "x\"\r\ny")), "VerifyAccountPassword bob PASSWORD \"x\\\"\\ey\"", "200 OK",
         "true"},
        {CLI_CALL(verifyAccountPassword("", "secret")), "", "", kRefused},
        {CLI_CALL(verifyAccountPassword("bob", "")), "", "", kRefused},
        {CLI_CALL(verifyAccountPassword("bob\r\nDeleteDomain d.com", "secret")), "", "", kRefused},
    });
}

// The server's refusal, and only that, means a wrong password: a connection
// lost after an earlier refusal is an error.
TEST(CliAccounts, VerifyAfterRefusalThenReset) {
    CliSession session(Script()
                           .expectLine("VerifyAccountPassword bob PASSWORD x")
                           .send("515 Incorrect password\r\n")
                           .expectLine("VerifyAccountPassword bob PASSWORD y")
                           .reset(),
                       false);
    EXPECT_EQ(shown([&] { return session.cli().verifyAccountPassword("bob", "x"); }), "false");
    EXPECT_EQ(shown([&] { return session.cli().verifyAccountPassword("bob", "y"); }),
              "ConnectionResetException 0: ConnectionResetException");
    session.end();
}

}  // namespace
