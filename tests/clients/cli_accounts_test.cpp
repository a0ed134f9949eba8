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
        {CLI_CALL(verifyAccountPassword("bob", "x\"\ny")), "VerifyAccountPassword bob PASSWORD \"x\\\"\\ey\"", "200 OK",
         "true"},
        // The escaping drops CR: the server once checked "pass" for "pass\r".
        {CLI_CALL(verifyAccountPassword("bob", "pass\r")), "", "", kRefused},
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

// The values the setter rows send, and what goes out for them.
cgp::DataSet settings() { return dict({{"a", str("b")}, {"c", str("d e")}}); }
const std::string kSettingsText = "{a = b;c = \"d e\";}";
cgp::DataSet names() { return array({str("x"), str("y z")}); }
const std::string kListText = "(x,\"y z\")";
// A reply with a dictionary, and how the row shows the result.
const std::string kDictReply = "201 {a = b;}";
const std::string kDictShown = "D{\"a\":S\"b\"}";
const std::string kBreak = "x\r\nDeleteDomain d.com";

TEST(CliAccounts, CreateAccountSettingsAfterTheFlag) {
    checkCliRows({
        {CLI_CALL(createAccount("bob", dict({{"Password", str("x")}}), "MailDirMailbox", true)),
         "CreateAccount bob MailDirMailbox external {Password = x;}"},
        {CLI_CALL(createAccount("bob", settings(), "", true)), "CreateAccount bob external " + kSettingsText},
        {CLI_CALL(createAccount("bob", dict({}), "MailDirMailbox", false)), "CreateAccount bob MailDirMailbox"},
    });
}

TEST(CliAccounts, DeleteRenameList) {
    checkCliRows({
        {CLI_CALL(deleteAccount("bob")), "DeleteAccount bob"},
        {CLI_CALL(deleteAccount("bob@d.com")), "DeleteAccount bob@d.com", "512 unknown", "CLIException 512: unknown"},
        {CLI_CALL(deleteAccount("")), "", "", kRefused},
        {CLI_CALL(deleteAccount(kBreak)), "", "", kRefused},
        {CLI_CALL(deleteAccount("bob d.com")), "", "", kRefused},
        // "into" in lower case.
        {CLI_CALL(renameAccount("bob", "rob")), "RenameAccount bob into rob"},
        {CLI_CALL(renameAccount("", "rob")), "", "", kRefused},
        {CLI_CALL(renameAccount("bob", "")), "", "", kRefused},
        {CLI_CALL(renameAccount("bob", kBreak)), "", "", kRefused},
        {CLI_CALL(listAccounts("d.com")), "ListAccounts d.com", "201 {bob = macnt;}", "D{\"bob\":S\"macnt\"}"},
        {CLI_CALL(listAccounts("")), "ListAccounts", kDictReply, kDictShown},
        {CLI_CALL(listAccounts(kBreak)), "", "", kRefused},
    });
}

TEST(CliAccounts, AccountSettings) {
    checkCliRows({
        {CLI_CALL(getAccountSettings("bob")), "GetAccountSettings bob", kDictReply, kDictShown},
        // A 200 answer carries its data on the next line.
        {CLI_CALL(getAccountSettings("bob")), "GetAccountSettings bob", "200 OK\r\n{a = (1, 2);}",
         "D{\"a\":A[S\"1\",S\"2\"]}"},
        {CLI_CALL(getAccountSettings("")), "", "", kRefused},
        {CLI_CALL(getAccountSettings(kBreak)), "", "", kRefused},
        // The command word starts in lower case.
        {CLI_CALL(getAccountEffectiveSettings("bob")), "getAccountEffectiveSettings bob", kDictReply, kDictShown},
        {CLI_CALL(getAccountEffectiveSettings("")), "", "", kRefused},
        {CLI_CALL(updateAccountSettings("bob", settings())), "UpdateAccountSettings bob " + kSettingsText},
        {CLI_CALL(updateAccountSettings("", settings())), "", "", kRefused},
        {CLI_CALL(updateAccountSettings("bob", dict({}))), "", "", kRefused},
        {CLI_CALL(updateAccountSettings("bob", names())), "", "", kRefused},
        {CLI_CALL(updateAccountSettings("bob", cgp::DataSet())), "", "", kRefused},
        {CLI_CALL(setAccountSettings("bob", settings())), "SetAccountSettings bob " + kSettingsText},
        {CLI_CALL(setAccountSettings("", settings())), "", "", kRefused},
        {CLI_CALL(setAccountSettings("bob", dict({}))), "", "", kRefused},
        {CLI_CALL(setAccountSettings("bob", names())), "", "", kRefused},
        // Values holding line ends are escaped by the data-set writer.
        {CLI_CALL(setAccountSettings("bob", dict({{"a", str("1\n2")}}))), "SetAccountSettings bob {a = \"1\\e2\";}"},
    });
}

// The second entry points do what the first ones do.
TEST(CliAccounts, AccountSettingsSecondEntryPoints) {
    checkCliRows({
        {CLI_CALL(readAccountSettings("bob")), "GetAccountSettings bob", kDictReply, kDictShown},
        {CLI_CALL(readAccountSettings("")), "", "", kRefused},
        {CLI_CALL(mergeAccountSettings("bob", settings())), "UpdateAccountSettings bob " + kSettingsText},
        {CLI_CALL(mergeAccountSettings("", settings())), "", "", kRefused},
        {CLI_CALL(mergeAccountSettings("bob", dict({}))), "", "", kRefused},
        {CLI_CALL(replaceAccountSettings("bob", settings())), "SetAccountSettings bob " + kSettingsText},
        {CLI_CALL(replaceAccountSettings("", settings())), "", "", kRefused},
        {CLI_CALL(replaceAccountSettings("bob", names())), "", "", kRefused},
    });
}

TEST(CliAccounts, InfoLocationPassword) {
    checkCliRows({
        // "Key" as written.
        {CLI_CALL(getAccountInfo("bob", "LastLogin")), "GetAccountInfo bob Key LastLogin", "201 #T01-01-2024_12:00:00",
         "S\"#T01-01-2024_12:00:00\""},
        {CLI_CALL(getAccountInfo("", "LastLogin")), "", "", kRefused},
        {CLI_CALL(getAccountInfo("bob", "")), "", "", kRefused},
        {CLI_CALL(getAccountInfo("bob", "Last Login")), "", "", kRefused},
        // The text of the answer, whatever its form.
        {CLI_CALL(getAccountLocation("bob")), "GetAccountLocation bob", "201 bob.macnt", "bob.macnt"},
        {CLI_CALL(getAccountLocation("bob")), "GetAccountLocation bob", "201 \"a b/bob.macnt\"", "a b/bob.macnt"},
        {CLI_CALL(getAccountLocation("bob")), "GetAccountLocation bob", "201 (x)", ""},
        {CLI_CALL(getAccountLocation("")), "", "", kRefused},
        {CLI_CALL(getAccountLocation(kBreak)), "", "", kRefused},
        // The password is a data-set string: bare, or quoted and escaped.
        {CLI_CALL(setAccountPassword("bob", "a b")), "SetAccountPassword bob TO \"a b\""},
        {CLI_CALL(setAccountPassword("bob", "Secret42")), "SetAccountPassword bob TO Secret42"},
        {CLI_CALL(setAccountPassword("bob", "a-b")), "SetAccountPassword bob TO \"a-b\""},
        {CLI_CALL(setAccountPassword("bob", "q\"\nDeleteDomain d.com")),
         "SetAccountPassword bob TO \"q\\\"\\eDeleteDomain d.com\""},
        {CLI_CALL(setAccountPassword("", "x")), "", "", kRefused},
        {CLI_CALL(setAccountPassword("bob", "")), "", "", kRefused},
        {CLI_CALL(setAccountPassword(kBreak, "x")), "", "", kRefused},
    });
}

TEST(CliAccounts, AliasesRightsRpopStatSubset) {
    checkCliRows({
        {CLI_CALL(getAccountAliases("bob")), "GetAccountAliases bob", "201 (rob, robert)", "A[S\"rob\",S\"robert\"]"},
        {CLI_CALL(getAccountAliases("")), "", "", kRefused},
        {CLI_CALL(setAccountAliases("bob", names())), "SetAccountAliases bob " + kListText},
        {CLI_CALL(setAccountAliases("", names())), "", "", kRefused},
        {CLI_CALL(setAccountAliases("bob", array({}))), "", "", kRefused},
        {CLI_CALL(setAccountAliases("bob", settings())), "", "", kRefused},
        {CLI_CALL(getAccountRights("bob")), "GetAccountRights bob", "201 (Domain, Users)", "A[S\"Domain\",S\"Users\"]"},
        {CLI_CALL(getAccountRights("")), "", "", kRefused},
        {CLI_CALL(setAccountRights("bob", names())), "SetAccountRights bob " + kListText},
        {CLI_CALL(setAccountRights("", names())), "", "", kRefused},
        {CLI_CALL(setAccountRights("bob", array({}))), "", "", kRefused},
        {CLI_CALL(setAccountRights("bob", settings())), "", "", kRefused},
        {CLI_CALL(getAccountRPOP("bob")), "GetAccountRPOP bob", "201 ({a = b;})", "A[D{\"a\":S\"b\"}]"},
        {CLI_CALL(getAccountRPOP("")), "", "", kRefused},
        {CLI_CALL(setAccountRPOP("bob", names())), "SetAccountRPOP bob " + kListText},
        {CLI_CALL(setAccountRPOP("", names())), "", "", kRefused},
        {CLI_CALL(setAccountRPOP("bob", array({}))), "", "", kRefused},
        {CLI_CALL(setAccountRPOP("bob", settings())), "", "", kRefused},
        {CLI_CALL(getAccountStat("bob")), "GetAccountStat bob", "201 {Logins = 3;}", "D{\"Logins\":S\"3\"}"},
        {CLI_CALL(getAccountStat("")), "", "", kRefused},
        {CLI_CALL(resetAccountStat("bob")), "ResetAccountStat bob"},
        {CLI_CALL(resetAccountStat("")), "", "", kRefused},
        {CLI_CALL(resetAccountStat(kBreak)), "", "", kRefused},
        // The subset is a data-set string.
        {CLI_CALL(removeAccountSubset("bob", "Sent Items")), "RemoveAccountSubset bob SUBSET \"Sent Items\""},
        {CLI_CALL(removeAccountSubset("bob", "Drafts")), "RemoveAccountSubset bob SUBSET Drafts"},
        {CLI_CALL(removeAccountSubset("bob", "a\nb")), "RemoveAccountSubset bob SUBSET \"a\\eb\""},
        {CLI_CALL(removeAccountSubset("", "Drafts")), "", "", kRefused},
        {CLI_CALL(removeAccountSubset("bob", "")), "", "", kRefused},
    });
}

TEST(CliAccounts, DomainDefaultsAndTemplate) {
    checkCliRows({
        {CLI_CALL(getAccountDefaults("d.com")), "GetAccountDefaults d.com", kDictReply, kDictShown},
        {CLI_CALL(getAccountDefaults("")), "GetAccountDefaults", kDictReply, kDictShown},
        {CLI_CALL(getAccountDefaults(kBreak)), "", "", kRefused},
        {CLI_CALL(setAccountDefaults("d.com", settings())), "SetAccountDefaults d.com " + kSettingsText},
        {CLI_CALL(setAccountDefaults("", settings())), "SetAccountDefaults " + kSettingsText},
        {CLI_CALL(setAccountDefaults("d.com", dict({}))), "", "", kRefused},
        {CLI_CALL(setAccountDefaults("d.com", names())), "", "", kRefused},
        {CLI_CALL(setAccountDefaults(kBreak, settings())), "", "", kRefused},
        {CLI_CALL(updateAccountDefaults("d.com", settings())), "UpdateAccountDefaults d.com " + kSettingsText},
        {CLI_CALL(updateAccountDefaults("", settings())), "UpdateAccountDefaults " + kSettingsText},
        {CLI_CALL(updateAccountDefaults("d.com", dict({}))), "", "", kRefused},
        {CLI_CALL(updateAccountDefaults("d.com", names())), "", "", kRefused},
        {CLI_CALL(getAccountTemplate("d.com")), "GetAccountTemplate d.com", kDictReply, kDictShown},
        {CLI_CALL(getAccountTemplate("")), "GetAccountTemplate", kDictReply, kDictShown},
        {CLI_CALL(getAccountTemplate("d com")), "", "", kRefused},
        {CLI_CALL(setAccountTemplate("d.com", settings())), "SetAccountTemplate d.com " + kSettingsText},
        {CLI_CALL(setAccountTemplate("", settings())), "SetAccountTemplate " + kSettingsText},
        {CLI_CALL(setAccountTemplate("d.com", dict({}))), "", "", kRefused},
        {CLI_CALL(setAccountTemplate("d.com", names())), "", "", kRefused},
        {CLI_CALL(updateAccountTemplate("d.com", settings())), "UpdateAccountTemplate d.com " + kSettingsText},
        {CLI_CALL(updateAccountTemplate("", settings())), "UpdateAccountTemplate " + kSettingsText},
        {CLI_CALL(updateAccountTemplate("d.com", dict({}))), "", "", kRefused},
        {CLI_CALL(updateAccountTemplate("d.com", names())), "", "", kRefused},
    });
}

TEST(CliAccounts, ServerAndClusterAccountDefaults) {
    checkCliRows({
        {CLI_CALL(getAllAccountsDefaults()), "GetAllAccountsDefaults", kDictReply, kDictShown},
        {CLI_CALL(getAllAccountsDefaults()), "GetAllAccountsDefaults", "500 denied", "CLIException 500: denied"},
        {CLI_CALL(setAllAccountsDefaults(settings())), "SetAllAccountsDefaults " + kSettingsText},
        {CLI_CALL(setAllAccountsDefaults(dict({}))), "", "", kRefused},
        {CLI_CALL(setAllAccountsDefaults(names())), "", "", kRefused},
        {CLI_CALL(updateAllAccountsDefaults(settings())), "UpdateAllAccountsDefaults " + kSettingsText},
        {CLI_CALL(updateAllAccountsDefaults(dict({}))), "", "", kRefused},
        {CLI_CALL(updateAllAccountsDefaults(names())), "", "", kRefused},
        {CLI_CALL(getClusterAccountDefaults()), "GetClusterAccountDefaults", kDictReply, kDictShown},
        {CLI_CALL(setClusterAccountDefaults(settings())), "SetClusterAccountDefaults " + kSettingsText},
        {CLI_CALL(setClusterAccountDefaults(dict({}))), "", "", kRefused},
        {CLI_CALL(setClusterAccountDefaults(names())), "", "", kRefused},
        {CLI_CALL(updateClusterAccountDefaults(settings())), "UpdateClusterAccountDefaults " + kSettingsText},
        {CLI_CALL(updateClusterAccountDefaults(dict({}))), "", "", kRefused},
        {CLI_CALL(updateClusterAccountDefaults(names())), "", "", kRefused},
    });
}

TEST(CliAccounts, WebUserSettings) {
    checkCliRows({
        {CLI_CALL(getWebUser("bob")), "GetWebUser bob", kDictReply, kDictShown},
        {CLI_CALL(getWebUser("")), "", "", kRefused},
        {CLI_CALL(getEffectiveWebUser("bob")), "GetEffectiveWebUser bob", kDictReply, kDictShown},
        {CLI_CALL(getEffectiveWebUser("")), "", "", kRefused},
        {CLI_CALL(setWebUser("bob", settings())), "SetWebUser bob " + kSettingsText},
        {CLI_CALL(setWebUser("", settings())), "", "", kRefused},
        {CLI_CALL(setWebUser("bob", dict({}))), "", "", kRefused},
        {CLI_CALL(setWebUser("bob", names())), "", "", kRefused},
        {CLI_CALL(getWebUserDefaults("d.com")), "GetWebUserDefaults d.com", kDictReply, kDictShown},
        {CLI_CALL(getWebUserDefaults("")), "GetWebUserDefaults", kDictReply, kDictShown},
        {CLI_CALL(getWebUserDefaults(kBreak)), "", "", kRefused},
        {CLI_CALL(setWebUserDefaults("d.com", settings())), "SetWebUserDefaults d.com " + kSettingsText},
        {CLI_CALL(setWebUserDefaults("", settings())), "SetWebUserDefaults " + kSettingsText},
        {CLI_CALL(setWebUserDefaults("d.com", dict({}))), "", "", kRefused},
        {CLI_CALL(setWebUserDefaults("d.com", names())), "", "", kRefused},
        {CLI_CALL(getServerWebUserDefaults()), "GetServerWebUserDefaults", kDictReply, kDictShown},
        {CLI_CALL(setServerWebUserDefaults(settings())), "SetServerWebUserDefaults " + kSettingsText},
        {CLI_CALL(setServerWebUserDefaults(dict({}))), "", "", kRefused},
        {CLI_CALL(setServerWebUserDefaults(names())), "", "", kRefused},
        {CLI_CALL(getClusterWebUserDefaults()), "GetClusterWebUserDefaults", kDictReply, kDictShown},
        {CLI_CALL(setClusterWebUserDefaults(settings())), "SetClusterWebUserDefaults " + kSettingsText},
        {CLI_CALL(setClusterWebUserDefaults(dict({}))), "", "", kRefused},
        {CLI_CALL(setClusterWebUserDefaults(names())), "", "", kRefused},
    });
}

}  // namespace
