// Server and cluster settings, rules and alert commands: one row per call
// (see support/net/cli_session.h).
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

TEST(CliSettings, IsCluster) {
    checkCliRows({
        {CLI_CALL(isCluster()), "GetClusterDomainDefaults", "201 {a = b;}", "true"},
        {CLI_CALL(isCluster()), "GetClusterDomainDefaults", "200 OK", "true"},
        // An error answer is the verdict, not a failure.
        {CLI_CALL(isCluster()), "GetClusterDomainDefaults", "500 no cluster", "false"},
        {CLI_CALL(isCluster()), "GetClusterDomainDefaults", " 200 OK", "InvalidServerResponseException 0: 200 OK"},
    });
}

TEST(CliSettings, IsClusterOnALostConnection) {
    CliSession session(Script().expectLine("GetClusterDomainDefaults").close(), false);
    EXPECT_EQ(shown([&] { return session.cli().isCluster(); }),
              "ConnectionResetException 0: ConnectionResetException");
    session.end();
}

TEST(CliSettings, SetAccountRules) {
    checkCliRows({
        // An empty list removes the rules: it passes.
        {CLI_CALL(setAccountRules("bob", array({}))), "SetAccountRules bob ()"},
        {CLI_CALL(setAccountRules("bob", array({array({str("1"), str("Junk"), array({}), array({})})}))),
         "SetAccountRules bob ((1,Junk,(),()))"},
        {CLI_CALL(setAccountRules("bob", dict({{"a", str("b")}}))), "", "", kRefused},
        {CLI_CALL(setAccountRules("bob", str("x"))), "", "", kRefused},
        {CLI_CALL(setAccountRules("bob", cgp::DataSet())), "", "", kRefused},
        {CLI_CALL(setAccountRules("", array({}))), "", "", kRefused},
    });
}

}  // namespace
