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

// Values the rows send. Functions, since a row's call captures nothing.
cgp::DataSet settings() { return dict({{"a", str("b")}}); }
cgp::DataSet alerts() { return dict({{"20240102T030405", str("disk full")}}); }
cgp::DataSet rules() { return array({array({str("5"), str("Junk"), array({}), array({})})}); }

// Received lines and results of those values.
const char kSettingsText[] = "{a = b;}";
const char kSettingsShown[] = "D{\"a\":S\"b\"}";
const char kAlertsText[] = "{20240102T030405 = \"disk full\";}";
const char kAlertsShown[] = "D{\"20240102T030405\":S\"disk full\"}";
const char kRulesText[] = "((5,Junk,(),()))";
const char kRulesShown[] = "A[A[S\"5\",S\"Junk\",A[],A[]]]";

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

TEST(CliSettings, Modules) {
    checkCliRows({
        {CLI_CALL(getModule("SMTP")), "GetModule SMTP", "201 {Enabled = YES;}", "D{\"Enabled\":S\"YES\"}"},
        {CLI_CALL(getModule("SMTP")), "GetModule SMTP", "512 unknown module", "CLIException 512: unknown module"},
        {CLI_CALL(getModule("")), "", "", kRefused},
        {CLI_CALL(getModule("SMTP\r\nDeleteDomain d.com")), "", "", kRefused},
        {CLI_CALL(setModule("SMTP", settings())), "SetModule SMTP {a = b;}"},
        {CLI_CALL(setModule("", settings())), "", "", kRefused},
        {CLI_CALL(setModule("SMTP", dict({}))), "", "", kRefused},
        {CLI_CALL(setModule("SMTP", array({str("x")}))), "", "", kRefused},
        {CLI_CALL(setModule("SM TP", settings())), "", "", kRefused},
        {CLI_CALL(updateModule("SMTP", settings())), "UpdateModule SMTP {a = b;}"},
        {CLI_CALL(updateModule("SMTP", settings())), "UpdateModule SMTP {a = b;}", "500 no", "CLIException 500: no"},
        {CLI_CALL(updateModule("", settings())), "", "", kRefused},
        {CLI_CALL(updateModule("SMTP", dict({}))), "", "", kRefused},
        {CLI_CALL(updateModule("SMTP", cgp::DataSet())), "", "", kRefused},
    });
}

// A router table travels as one data-set string: its line ends go out as
// "\e", never raw, and come back as line ends.
TEST(CliSettings, Router) {
    checkCliRows({
        {CLI_CALL(getRouterSettings()), "GetRouterSettings", std::string("201 ") + kSettingsText, kSettingsShown},
        {CLI_CALL(setRouterSettings(settings())), "SetRouterSettings {a = b;}"},
        {CLI_CALL(setRouterSettings(dict({}))), "", "", kRefused},
        {CLI_CALL(setRouterSettings(str("a"))), "", "", kRefused},
        {CLI_CALL(getRouterTable()), "GetRouterTable", "201 \"a = b\\ec = d\"", "a = b\nc = d"},
        // The data on a line of its own after a 200.
        {CLI_CALL(getRouterTable()), "GetRouterTable", "200 OK\r\n\"a = b\"", "a = b"},
        {CLI_CALL(getRouterTable()), "GetRouterTable", "201 {a = b;}", ""},
        {CLI_CALL(getRouterTable()), "GetRouterTable", "500 no", "CLIException 500: no"},
        {CLI_CALL(setRouterTable("a = b\nc = d")), "SetRouterTable \"a = b\\ec = d\""},
        // The escaping would drop the CRs and store another table; it once did.
        {CLI_CALL(setRouterTable("a = b\r\nc = d\r\n")), "", "", kRefused},
        {CLI_CALL(setRouterTable("x\nDeleteDomain d.com")), "SetRouterTable \"x\\eDeleteDomain d.com\""},
        {CLI_CALL(setRouterTable("<a@b> = \"c\\d\"\t")), "SetRouterTable \"<a@b> = \\\"c\\\\d\\\"\\t\""},
        {CLI_CALL(setRouterTable(std::string("a\0b", 3))), "SetRouterTable \"a\\0b\""},
        // The data-set writer's bare set: "-" is quoted.
        {CLI_CALL(setRouterTable("a-b")), "SetRouterTable \"a-b\""},
        {CLI_CALL(setRouterTable("ab.c")), "SetRouterTable ab.c"},
        {CLI_CALL(setRouterTable("")), "", "", kRefused},
        {CLI_CALL(getClusterRouterTable()), "GetClusterRouterTable", "201 \"a = b\\ec = d\"", "a = b\nc = d"},
        {CLI_CALL(setClusterRouterTable("a = b\nc = d")), "SetClusterRouterTable \"a = b\\ec = d\""},
        {CLI_CALL(setClusterRouterTable("a-b")), "SetClusterRouterTable \"a-b\""},
        {CLI_CALL(setClusterRouterTable("")), "", "", kRefused},
    });
}

TEST(CliSettings, ProtectionBannedIntercept) {
    const std::string reply = std::string("201 ") + kSettingsText;
    checkCliRows({
        {CLI_CALL(getProtection()), "GetProtection", reply, kSettingsShown},
        {CLI_CALL(getProtection()), "GetProtection", "500 no", "CLIException 500: no"},
        {CLI_CALL(setProtection(settings())), "SetProtection {a = b;}"},
        {CLI_CALL(setProtection(dict({}))), "", "", kRefused},
        {CLI_CALL(getClusterProtection()), "GetClusterProtection", reply, kSettingsShown},
        {CLI_CALL(setClusterProtection(settings())), "SetClusterProtection {a = b;}"},
        {CLI_CALL(setClusterProtection(dict({}))), "", "", kRefused},
        {CLI_CALL(getBanned()), "GetBanned", reply, kSettingsShown},
        {CLI_CALL(setBanned(settings())), "SetBanned {a = b;}"},
        {CLI_CALL(setBanned(settings())), "SetBanned {a = b;}", "500 no", "CLIException 500: no"},
        {CLI_CALL(setBanned(dict({}))), "", "", kRefused},
        {CLI_CALL(setBanned(array({str("x")}))), "", "", kRefused},
        {CLI_CALL(getClusterBanned()), "GetClusterBanned", reply, kSettingsShown},
        {CLI_CALL(getServerIntercept()), "GetServerIntercept", reply, kSettingsShown},
        {CLI_CALL(setServerIntercept(settings())), "SetServerIntercept {a = b;}"},
        {CLI_CALL(setServerIntercept(dict({}))), "", "", kRefused},
        {CLI_CALL(getClusterIntercept()), "GetClusterIntercept", reply, kSettingsShown},
        {CLI_CALL(setClusterIntercept(settings())), "SetClusterIntercept {a = b;}"},
        {CLI_CALL(setClusterIntercept(cgp::DataSet())), "", "", kRefused},
    });
}

// An IP list goes out between quotes as given: line ends written as "\e"
// pass, raw ones and quotes are refused. It comes back as text.
TEST(CliSettings, IPLists) {
    const std::string listReply = "201 \"1.2.3.4\\e10.0.0.0-10.0.0.255\"";
    const std::string list = "1.2.3.4\n10.0.0.0-10.0.0.255";
    checkCliRows({
        {CLI_CALL(getLANIPs()), "GetLANIPs", listReply, list},
        {CLI_CALL(getLANIPs()), "GetLANIPs", "200 OK\r\n1.2.3.4", "1.2.3.4"},
        {CLI_CALL(getLANIPs()), "GetLANIPs", "201 ()", ""},
        {CLI_CALL(getLANIPs()), "GetLANIPs", "500 no", "CLIException 500: no"},
        {CLI_CALL(setLANIPs("1.2.3.4\\e10.0.0.0-10.0.0.255")), "SetLANIPs \"1.2.3.4\\e10.0.0.0-10.0.0.255\""},
        {CLI_CALL(setLANIPs("1.2.3.4 ; office")), "SetLANIPs \"1.2.3.4 ; office\""},
        {CLI_CALL(setLANIPs("")), "", "", kRefused},
        {CLI_CALL(setLANIPs("1.2.3.4\n5.6.7.8")), "", "", kRefused},
        {CLI_CALL(setLANIPs("1.2.3.4\r\nDeleteDomain d.com")), "", "", kRefused},
        {CLI_CALL(setLANIPs("1.2.3.4\r")), "", "", kRefused},
        {CLI_CALL(setLANIPs(std::string("1.2.3.4\0", 8))), "", "", kRefused},
        {CLI_CALL(setLANIPs("1.2.3.4\" x")), "", "", kRefused},
        {CLI_CALL(getClusterLANIPs()), "GetClusterLANIPs", listReply, list},
        {CLI_CALL(setClusterLANIPs("1.2.3.4")), "SetClusterLANIPs \"1.2.3.4\""},
        {CLI_CALL(setClusterLANIPs("")), "", "", kRefused},
        {CLI_CALL(setClusterLANIPs("a\nb")), "", "", kRefused},
        {CLI_CALL(getClientIPs()), "GetClientIPs", listReply, list},
        {CLI_CALL(setClientIPs("1.2.3.4")), "SetClientIPs \"1.2.3.4\""},
        {CLI_CALL(setClientIPs("")), "", "", kRefused},
        {CLI_CALL(setClientIPs("a\nb")), "", "", kRefused},
        {CLI_CALL(getClusterClientIPs()), "GetClusterClientIPs", listReply, list},
        {CLI_CALL(setClusterClientIPs("1.2.3.4")), "SetClusterClientIPs \"1.2.3.4\""},
        {CLI_CALL(setClusterClientIPs("")), "", "", kRefused},
        {CLI_CALL(setClusterClientIPs("a\nb")), "", "", kRefused},
        {CLI_CALL(getBlacklistedIPs()), "GetBlacklistedIPs", listReply, list},
        {CLI_CALL(setBlacklistedIPs("1.2.3.4")), "SetBlacklistedIPs \"1.2.3.4\""},
        {CLI_CALL(setBlacklistedIPs("")), "", "", kRefused},
        {CLI_CALL(setBlacklistedIPs("a\nb")), "", "", kRefused},
        {CLI_CALL(getClusterBlacklistedIPs()), "GetClusterBlacklistedIPs", listReply, list},
        {CLI_CALL(setClusterBlacklistedIPs("1.2.3.4")), "SetClusterBlacklistedIPs \"1.2.3.4\""},
        {CLI_CALL(setClusterBlacklistedIPs("")), "", "", kRefused},
        {CLI_CALL(setClusterBlacklistedIPs("a\nb")), "", "", kRefused},
        {CLI_CALL(getWhiteHoleIPs()), "GetWhiteHoleIPs", listReply, list},
        {CLI_CALL(setWhiteHoleIPs("1.2.3.4")), "SetWhiteHoleIPs \"1.2.3.4\""},
        {CLI_CALL(setWhiteHoleIPs("")), "", "", kRefused},
        {CLI_CALL(setWhiteHoleIPs("a\nb")), "", "", kRefused},
        {CLI_CALL(getClusterWhiteHoleIPs()), "GetClusterWhiteHoleIPs", listReply, list},
        {CLI_CALL(setClusterWhiteHoleIPs("1.2.3.4")), "SetClusterWhiteHoleIPs \"1.2.3.4\""},
        {CLI_CALL(setClusterWhiteHoleIPs("")), "", "", kRefused},
        {CLI_CALL(setClusterWhiteHoleIPs("a\nb")), "", "", kRefused},
        {CLI_CALL(getTempClientIPs()), "GetTempClientIPs", listReply, list},
        {CLI_CALL(getTempClientIPs()), "GetTempClientIPs", "201 [MS4yLjMuNA==]", "1.2.3.4"},
    });
}

// The same command word as isCluster, as an ordinary query.
TEST(CliSettings, ClusterDomainDefaults) {
    checkCliRows({
        {CLI_CALL(getClusterDomainDefaults()), "GetClusterDomainDefaults", std::string("201 ") + kSettingsText,
         kSettingsShown},
        {CLI_CALL(getClusterDomainDefaults()), "GetClusterDomainDefaults", "500 no cluster",
         "CLIException 500: no cluster"},
        {CLI_CALL(setClusterDomainDefaults(settings())), "SetClusterDomainDefaults {a = b;}"},
        {CLI_CALL(setClusterDomainDefaults(dict({}))), "", "", kRefused},
        {CLI_CALL(setClusterDomainDefaults(array({str("x")}))), "", "", kRefused},
        {CLI_CALL(updateClusterDomainDefaults(settings())), "UpdateClusterDomainDefaults {a = b;}"},
        {CLI_CALL(updateClusterDomainDefaults(dict({}))), "", "", kRefused},
    });
}

TEST(CliSettings, Rules) {
    const std::string reply = std::string("201 ") + kRulesText;
    checkCliRows({
        {CLI_CALL(getServerRules()), "GetServerRules", reply, kRulesShown},
        {CLI_CALL(getServerRules()), "GetServerRules", "500 no", "CLIException 500: no"},
        {CLI_CALL(setServerRules(rules())), std::string("SetServerRules ") + kRulesText},
        {CLI_CALL(setServerRules(array({}))), "", "", kRefused},
        {CLI_CALL(setServerRules(dict({{"a", str("b")}}))), "", "", kRefused},
        {CLI_CALL(getClusterRules()), "GetClusterRules", reply, kRulesShown},
        {CLI_CALL(setClusterRules(rules())), std::string("SetClusterRules ") + kRulesText},
        {CLI_CALL(setClusterRules(array({}))), "", "", kRefused},
        {CLI_CALL(setClusterRules(cgp::DataSet())), "", "", kRefused},
        {CLI_CALL(getDomainRules("d.com")), "GetDomainRules d.com", reply, kRulesShown},
        {CLI_CALL(getDomainRules("")), "", "", kRefused},
        {CLI_CALL(getDomainRules("d.com x")), "", "", kRefused},
        {CLI_CALL(setDomainRules("d.com", rules())), std::string("SetDomainRules d.com ") + kRulesText},
        {CLI_CALL(setDomainRules("d.com", rules())), std::string("SetDomainRules d.com ") + kRulesText,
         "512 unknown domain", "CLIException 512: unknown domain"},
        {CLI_CALL(setDomainRules("", rules())), "", "", kRefused},
        {CLI_CALL(setDomainRules("d.com", array({}))), "", "", kRefused},
        {CLI_CALL(getAccountRules("bob")), "GetAccountRules bob", reply, kRulesShown},
        {CLI_CALL(getAccountRules("")), "", "", kRefused},
        // An empty list removes the rules: it passes.
        {CLI_CALL(setAccountRules("bob", array({}))), "SetAccountRules bob ()"},
        {CLI_CALL(setAccountRules("bob", rules())), std::string("SetAccountRules bob ") + kRulesText},
        {CLI_CALL(setAccountRules("bob", dict({{"a", str("b")}}))), "", "", kRefused},
        {CLI_CALL(setAccountRules("bob", str("x"))), "", "", kRefused},
        {CLI_CALL(setAccountRules("bob", cgp::DataSet())), "", "", kRefused},
        {CLI_CALL(setAccountRules("", array({}))), "", "", kRefused},
        {CLI_CALL(setAccountRules("bob\nDeleteAccount carol", array({}))), "", "", kRefused},
    });
}

// A posted alert is a data-set string, the one to remove a plain word.
TEST(CliSettings, ServerAndClusterAlerts) {
    const std::string reply = std::string("201 ") + kAlertsText;
    checkCliRows({
        {CLI_CALL(getServerAlerts()), "GetServerAlerts", reply, kAlertsShown},
        {CLI_CALL(getServerAlerts()), "GetServerAlerts", "500 no", "CLIException 500: no"},
        {CLI_CALL(setServerAlerts(alerts())), std::string("SetServerAlerts ") + kAlertsText},
        {CLI_CALL(setServerAlerts(dict({}))), "", "", kRefused},
        {CLI_CALL(postServerAlert("disk full")), "PostServerAlert \"disk full\""},
        {CLI_CALL(postServerAlert("full")), "PostServerAlert full"},
        {CLI_CALL(postServerAlert("a-b")), "PostServerAlert \"a-b\""},
        {CLI_CALL(postServerAlert("disk\nfull \"now\"")), "PostServerAlert \"disk\\efull \\\"now\\\"\""},
        {CLI_CALL(postServerAlert("")), "", "", kRefused},
        {CLI_CALL(removeServerAlert("20240102T030405")), "RemoveServerAlert 20240102T030405"},
        {CLI_CALL(removeServerAlert("20240102T030405")), "RemoveServerAlert 20240102T030405", "500 no such alert",
         "CLIException 500: no such alert"},
        {CLI_CALL(removeServerAlert("")), "", "", kRefused},
        {CLI_CALL(removeServerAlert("disk full")), "", "", kRefused},
        {CLI_CALL(removeServerAlert("x\r\nDeleteDomain d.com")), "", "", kRefused},
        {CLI_CALL(getClusterAlerts()), "GetClusterAlerts", reply, kAlertsShown},
        {CLI_CALL(setClusterAlerts(alerts())), std::string("SetClusterAlerts ") + kAlertsText},
        {CLI_CALL(setClusterAlerts(array({str("x")}))), "", "", kRefused},
        {CLI_CALL(postClusterAlert("disk full")), "PostClusterAlert \"disk full\""},
        {CLI_CALL(postClusterAlert("a\nb")), "PostClusterAlert \"a\\eb\""},
        {CLI_CALL(postClusterAlert("")), "", "", kRefused},
        {CLI_CALL(removeClusterAlert("20240102T030405")), "RemoveClusterAlert 20240102T030405"},
        {CLI_CALL(removeClusterAlert("")), "", "", kRefused},
        {CLI_CALL(removeClusterAlert("a b")), "", "", kRefused},
    });
}

TEST(CliSettings, DomainAndAccountAlerts) {
    const std::string reply = std::string("201 ") + kAlertsText;
    checkCliRows({
        // Without a domain, the command word alone.
        {CLI_CALL(getDomainAlerts("")), "GetDomainAlerts", reply, kAlertsShown},
        {CLI_CALL(getDomainAlerts("d.com")), "GetDomainAlerts d.com", reply, kAlertsShown},
        {CLI_CALL(getDomainAlerts("d.com")), "GetDomainAlerts d.com", "512 unknown domain",
         "CLIException 512: unknown domain"},
        {CLI_CALL(getDomainAlerts("d.com\r\nDeleteDomain d.com")), "", "", kRefused},
        {CLI_CALL(getDomainAlerts("d com")), "", "", kRefused},
        {CLI_CALL(setDomainAlerts("", alerts())), std::string("SetDomainAlerts ") + kAlertsText},
        {CLI_CALL(setDomainAlerts("d.com", alerts())), std::string("SetDomainAlerts d.com ") + kAlertsText},
        {CLI_CALL(setDomainAlerts("d.com", dict({}))), "", "", kRefused},
        {CLI_CALL(setDomainAlerts("", dict({}))), "", "", kRefused},
        {CLI_CALL(setDomainAlerts("d com", alerts())), "", "", kRefused},
        {CLI_CALL(postDomainAlert("d.com", "disk full")), "PostDomainAlert d.com ALERT \"disk full\""},
        {CLI_CALL(postDomainAlert("d.com", "a-b")), "PostDomainAlert d.com ALERT \"a-b\""},
        {CLI_CALL(postDomainAlert("", "disk full")), "", "", kRefused},
        {CLI_CALL(postDomainAlert("d.com", "")), "", "", kRefused},
        {CLI_CALL(removeDomainAlert("d.com", "20240102T030405")), "RemoveDomainAlert d.com ALERT 20240102T030405"},
        {CLI_CALL(removeDomainAlert("", "20240102T030405")), "", "", kRefused},
        {CLI_CALL(removeDomainAlert("d.com", "")), "", "", kRefused},
        {CLI_CALL(removeDomainAlert("d.com", "a b")), "", "", kRefused},
        {CLI_CALL(getAccountAlerts("bob")), "GetAccountAlerts bob", reply, kAlertsShown},
        {CLI_CALL(getAccountAlerts("")), "", "", kRefused},
        {CLI_CALL(setAccountAlerts("bob", alerts())), std::string("SetAccountAlerts bob ") + kAlertsText},
        {CLI_CALL(setAccountAlerts("", alerts())), "", "", kRefused},
        {CLI_CALL(setAccountAlerts("bob", dict({}))), "", "", kRefused},
        {CLI_CALL(postAccountAlert("bob", "disk full")), "PostAccountAlert bob ALERT \"disk full\""},
        {CLI_CALL(postAccountAlert("bob", "full")), "PostAccountAlert bob ALERT full", "500 no",
         "CLIException 500: no"},
        {CLI_CALL(postAccountAlert("", "disk full")), "", "", kRefused},
        {CLI_CALL(postAccountAlert("bob", "")), "", "", kRefused},
        {CLI_CALL(postAccountAlert("bob x", "full")), "", "", kRefused},
        {CLI_CALL(removeAccountAlert("bob", "20240102T030405")), "RemoveAccountAlert bob ALERT 20240102T030405"},
        {CLI_CALL(removeAccountAlert("", "20240102T030405")), "", "", kRefused},
        {CLI_CALL(removeAccountAlert("bob", "")), "", "", kRefused},
    });
}

}  // namespace
