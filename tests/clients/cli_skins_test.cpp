// Skin, web-file, web-user and control commands: one row per call (see
// support/net/cli_session.h).
#include "clients/cli.h"

#include <gtest/gtest.h>

#include "support/net/cli_session.h"
#include "support/serverdata/values.h"

using testsupport::checkCliRows;
using testsupport::kRefused;

namespace {

TEST(CliSkins, WriteLog) {
    checkCliRows({
        {CLI_CALL(writeLog(3, "hello")), "WriteLog 3 hello"},
        {CLI_CALL(writeLog(-1, "x")), "WriteLog -1 x"},
        // Escaped twice: once on its own, once as a data-set string.
        {CLI_CALL(writeLog(1, "say \"hi\"")), "WriteLog 1 \"say \\\\\\\"hi\\\\\\\"\""},
        {CLI_CALL(writeLog(0, "a\nb\\c")), "WriteLog 0 \"a\\\\eb\\\\\\\\c\""},
        // The first escaping drops CR, out of sight of the data-set string:
        // a lone CR was once logged as an empty text.
        {CLI_CALL(writeLog(0, "\r")), "", "", kRefused},
        {CLI_CALL(writeLog(0, "a\r\nb")), "", "", kRefused},
        {CLI_CALL(writeLog(3, "")), "", "", kRefused},
    });
}

TEST(CliSkins, WebFiles) {
    checkCliRows({
        {CLI_CALL(putWebFile("bob", "a b.html", "[SGk=]")), "PutWebFile bob FILE \"a b.html\" DATA [SGk=]"},
        {CLI_CALL(putWebFile("bob", "a.html", "[SGk=]", 100ul)), "PutWebFile bob FILE \"a.html\" OFFSET 100 DATA [SGk=]"},
        {CLI_CALL(putWebFile("bob", "a.html", "[SGk=]", 0ul)), "PutWebFile bob FILE \"a.html\" OFFSET 0 DATA [SGk=]"},
        // The data ends the line: a space in it shifts nothing.
        {CLI_CALL(putWebFile("bob", "a.html", "{a = b;}")), "PutWebFile bob FILE \"a.html\" DATA {a = b;}"},
        {CLI_CALL(putWebFile("", "a.html", "[SGk=]")), "", "", kRefused},
        {CLI_CALL(putWebFile("bob", "", "[SGk=]")), "", "", kRefused},
        {CLI_CALL(putWebFile("bob", "a.html", "")), "", "", kRefused},
        {CLI_CALL(putWebFile("bob", "a.html", "", 5ul)), "", "", kRefused},
        {CLI_CALL(putWebFile("bob", "a\".html", "[SGk=]")), "", "", kRefused},
        {CLI_CALL(putWebFile("bob", "a.html", "[SGk=]\r\nDeleteDomain d.com")), "", "", kRefused},
        {CLI_CALL(getWebFile("bob", "a.html")), "GetWebFile bob FILE \"a.html\"", "201 ([SGk=], 20040101120000)",
         "A[B\"Hi\",S\"20040101120000\"]"},
        {CLI_CALL(getWebFile("bob", "a.html", 0ul, 100ul)), "GetWebFile bob FILE \"a.html\" OFFSET 0 SIZE 100",
         "201 ([SGk=], 2)", "A[B\"Hi\",S\"2\"]"},
        {CLI_CALL(getWebFile("bob", "")), "", "", kRefused},
        {CLI_CALL(getWebFile("", "a.html", 0ul, 100ul)), "", "", kRefused},
        {CLI_CALL(getWebFile("", "a.html")), "", "", kRefused},
        {CLI_CALL(getWebFile("bob", "", 0ul, 100ul)), "", "", kRefused},
    });
}

TEST(CliSkins, GetCurrentController) {
    checkCliRows({
        {CLI_CALL(getCurrentController()), "GetCurrentController", "201 \"10.0.0.1\"", "10.0.0.1"},
        {CLI_CALL(getCurrentController()), "GetCurrentController", "200 data follow\r\n10.0.0.2", "10.0.0.2"},
        // The text of anything but a string or a data block is empty.
        {CLI_CALL(getCurrentController()), "GetCurrentController", "201 (a, b)", ""},
    });
}

// The three skin families share their forms; the domain's adds an optional
// domain before "SKIN".
TEST(CliSkins, Skins) {
    checkCliRows({
        {CLI_CALL(createClusterSkin("My Skin")), "CreateClusterSkin \"My Skin\""},
        {CLI_CALL(createClusterSkin("")), "", "", kRefused},
        {CLI_CALL(createServerSkin("s")), "CreateServerSkin \"s\""},
        {CLI_CALL(createServerSkin("s")), "CreateServerSkin \"s\"", "500 exists", "CLIException 500: exists"},
        {CLI_CALL(createServerSkin("")), "", "", kRefused},
        {CLI_CALL(createDomainSkin("d.com", "s")), "CreateDomainSkin d.com SKIN \"s\""},
        {CLI_CALL(createDomainSkin("", "s")), "CreateDomainSkin \"s\""},
        {CLI_CALL(createDomainSkin("d.com", "")), "", "", kRefused},
        {CLI_CALL(createDomainSkin("d.com x", "s")), "", "", kRefused},

        {CLI_CALL(renameClusterSkin("a", "b c")), "RenameClusterSkin \"a\" INTO \"b c\""},
        {CLI_CALL(renameClusterSkin("", "b")), "", "", kRefused},
        {CLI_CALL(renameClusterSkin("a", "")), "", "", kRefused},
        {CLI_CALL(renameServerSkin("a", "b")), "RenameServerSkin \"a\" INTO \"b\""},
        {CLI_CALL(renameServerSkin("", "b")), "", "", kRefused},
        {CLI_CALL(renameServerSkin("a", "")), "", "", kRefused},
        {CLI_CALL(renameDomainSkin("d.com", "a", "b")), "RenameDomainSkin d.com SKIN \"a\" INTO \"b\""},
        {CLI_CALL(renameDomainSkin("", "a", "b")), "RenameDomainSkin \"a\" INTO \"b\""},
        {CLI_CALL(renameDomainSkin("d.com", "", "b")), "", "", kRefused},
        {CLI_CALL(renameDomainSkin("d.com", "a", "")), "", "", kRefused},

        {CLI_CALL(deleteClusterSkin("a")), "DeleteClusterSkin \"a\""},
        {CLI_CALL(deleteClusterSkin("")), "", "", kRefused},
        {CLI_CALL(deleteServerSkin("a")), "DeleteServerSkin \"a\""},
        {CLI_CALL(deleteServerSkin("")), "", "", kRefused},
        {CLI_CALL(deleteDomainSkin("d.com", "a")), "DeleteDomainSkin d.com SKIN \"a\""},
        {CLI_CALL(deleteDomainSkin("", "a")), "DeleteDomainSkin \"a\""},
        {CLI_CALL(deleteDomainSkin("d.com", "")), "", "", kRefused},

        {CLI_CALL(listClusterSkins()), "ListClusterSkins", "201 (\"\", Blue)", "A[S\"\",S\"Blue\"]"},
        {CLI_CALL(listServerSkins()), "ListServerSkins", "201 (Blue)", "A[S\"Blue\"]"},
        {CLI_CALL(listServerSkins()), "ListServerSkins", "500 bad", "CLIException 500: bad"},
        {CLI_CALL(listDomainSkins("d.com")), "ListDomainSkins d.com", "201 ()", "A[]"},
        {CLI_CALL(listDomainSkins("")), "ListDomainSkins", "201 (Red)", "A[S\"Red\"]"},
        {CLI_CALL(listDomainSkins("d.com\r\nShutdown")), "", "", kRefused},
    });
}

TEST(CliSkins, SkinFiles) {
    checkCliRows({
        {CLI_CALL(listClusterSkinFiles("s")), "ListClusterSkinFiles \"s\"", "201 {logo.gif = {Size = 10;};}",
         "D{\"logo.gif\":D{\"Size\":S\"10\"}}"},
        {CLI_CALL(listClusterSkinFiles("")), "", "", kRefused},
        {CLI_CALL(listServerSkinFiles("s")), "ListServerSkinFiles \"s\"", "201 {}", "D{}"},
        {CLI_CALL(listServerSkinFiles("")), "", "", kRefused},
        {CLI_CALL(listDomainSkinFiles("d.com", "s")), "ListDomainSkinFiles d.com SKIN \"s\"", "201 {}", "D{}"},
        {CLI_CALL(listDomainSkinFiles("", "s")), "ListDomainSkinFiles \"s\"", "201 {}", "D{}"},
        {CLI_CALL(listDomainSkinFiles("d.com", "")), "", "", kRefused},

        {CLI_CALL(readClusterSkinFile("s", "a.wssp")), "ReadClusterSkinFile \"s\" FILE \"a.wssp\"",
         "201 ([SGk=], 20040101120000)", "A[B\"Hi\",S\"20040101120000\"]"},
        {CLI_CALL(readClusterSkinFile("", "a.wssp")), "", "", kRefused},
        {CLI_CALL(readClusterSkinFile("s", "")), "", "", kRefused},
        {CLI_CALL(readServerSkinFile("s", "a.wssp")), "ReadServerSkinFile \"s\" FILE \"a.wssp\"", "201 ([SGk=], 1)",
         "A[B\"Hi\",S\"1\"]"},
        {CLI_CALL(readServerSkinFile("", "a.wssp")), "", "", kRefused},
        {CLI_CALL(readServerSkinFile("s", "")), "", "", kRefused},
        {CLI_CALL(readDomainSkinFile("d.com", "s", "a.wssp")), "ReadDomainSkinFile d.com SKIN \"s\" FILE \"a.wssp\"",
         "201 ([SGk=], 1)", "A[B\"Hi\",S\"1\"]"},
        {CLI_CALL(readDomainSkinFile("", "s", "a.wssp")), "ReadDomainSkinFile \"s\" FILE \"a.wssp\"", "201 ([], 1)",
         "A[B\"\",S\"1\"]"},
        {CLI_CALL(readDomainSkinFile("d.com", "", "a.wssp")), "", "", kRefused},
        {CLI_CALL(readDomainSkinFile("d.com", "s", "")), "", "", kRefused},
        {CLI_CALL(readDomainSkinFile("d.com", "s", "a.wssp")), "ReadDomainSkinFile d.com SKIN \"s\" FILE \"a.wssp\"",
         "512 no file", "CLIException 512: no file"},
    });
}

// Skin-file data goes between the quotes as it is: whatever would end the
// quotes or the line is refused, never sent.
TEST(CliSkins, StoreSkinFiles) {
    checkCliRows({
        {CLI_CALL(storeClusterSkinFile("s", "a.wssp", "[SGk=]")),
        "StoreClusterSkinFile \"s\" FILE \"a.wssp\" DATA \"[SGk=]\""},
        {CLI_CALL(storeClusterSkinFile("", "a.wssp", "x")), "", "", kRefused},
        {CLI_CALL(storeClusterSkinFile("s", "", "x")), "", "", kRefused},
        {CLI_CALL(storeClusterSkinFile("s", "a.wssp", "")), "", "", kRefused},
        {CLI_CALL(storeServerSkinFile("s", "a.wssp", "<p> x </p>")),
        "StoreServerSkinFile \"s\" FILE \"a.wssp\" DATA \"<p> x </p>\""},
        {CLI_CALL(storeServerSkinFile("", "a.wssp", "x")), "", "", kRefused},
        {CLI_CALL(storeServerSkinFile("s", "", "x")), "", "", kRefused},
        {CLI_CALL(storeServerSkinFile("s", "a.wssp", "")), "", "", kRefused},
        {CLI_CALL(storeDomainSkinFile("d.com", "s", "a.wssp", "x")),
        "StoreDomainSkinFile d.com SKIN \"s\" FILE \"a.wssp\" DATA \"x\""},
        {CLI_CALL(storeDomainSkinFile("", "s", "a.wssp", "x")), "StoreDomainSkinFile \"s\" FILE \"a.wssp\" DATA \"x\""},
        {CLI_CALL(storeDomainSkinFile("d.com", "", "a.wssp", "x")), "", "", kRefused},
        {CLI_CALL(storeDomainSkinFile("d.com", "s", "", "x")), "", "", kRefused},
        {CLI_CALL(storeDomainSkinFile("d.com", "s", "a.wssp", "")), "", "", kRefused},

        // Raw line ends, a NUL or a quote in the data, or in a name.
        {CLI_CALL(storeClusterSkinFile("s", "a.wssp", "<p>\r\n</p>")), "", "", kRefused},
        {CLI_CALL(storeServerSkinFile("s", "a.wssp", "x\nShutdown")), "", "", kRefused},
        {CLI_CALL(storeServerSkinFile("s", "a.wssp", "x\r")), "", "", kRefused},
        {CLI_CALL(storeDomainSkinFile("", "s", "a.wssp", std::string("x\0y", 3))), "", "", kRefused},
        {CLI_CALL(storeDomainSkinFile("", "s", "a.wssp", "x\" DELETE")), "", "", kRefused},
        {CLI_CALL(storeServerSkinFile("s", "a\r\n.wssp", "x")), "", "", kRefused},
        {CLI_CALL(storeDomainSkinFile("d.com", "s\"", "a.wssp", "x")), "", "", kRefused},

        {CLI_CALL(deleteClusterSkinFile("s", "a.wssp")), "StoreClusterSkinFile \"s\" FILE \"a.wssp\" DELETE"},
        {CLI_CALL(deleteClusterSkinFile("", "a.wssp")), "", "", kRefused},
        {CLI_CALL(deleteClusterSkinFile("s", "")), "", "", kRefused},
        {CLI_CALL(deleteServerSkinFile("s", "a.wssp")), "StoreServerSkinFile \"s\" FILE \"a.wssp\" DELETE"},
        {CLI_CALL(deleteServerSkinFile("", "a.wssp")), "", "", kRefused},
        {CLI_CALL(deleteServerSkinFile("s", "")), "", "", kRefused},
        {CLI_CALL(deleteDomainSkinFile("", "s", "f")), "StoreDomainSkinFile \"s\" FILE \"f\" DELETE"},
        {CLI_CALL(deleteDomainSkinFile("d.com", "s", "f")), "StoreDomainSkinFile d.com SKIN \"s\" FILE \"f\" DELETE"},
        {CLI_CALL(deleteDomainSkinFile("d.com", "", "f")), "", "", kRefused},
        {CLI_CALL(deleteDomainSkinFile("d.com", "s", "")), "", "", kRefused},
        {CLI_CALL(deleteDomainSkinFile("d.com", "s", "f")), "StoreDomainSkinFile d.com SKIN \"s\" FILE \"f\" DELETE",
         "512 no file", "CLIException 512: no file"},
    });
}

TEST(CliSkins, WebFileFolders) {
    checkCliRows({
        {CLI_CALL(getWebFilesInfo("bob")), "GetWebFilesInfo bob", "201 {StorageUsed = 1024;}",
         "D{\"StorageUsed\":S\"1024\"}"},
        {CLI_CALL(getWebFilesInfo("")), "", "", kRefused},
        {CLI_CALL(listWebFiles("bob", "")), "ListWebFiles bob", "201 {}", "D{}"},
        {CLI_CALL(listWebFiles("bob", "pub/my files")), "ListWebFiles bob PATH \"pub/my files\"",
         "201 {a.html = {Size = 2;};}", "D{\"a.html\":D{\"Size\":S\"2\"}}"},
        {CLI_CALL(listWebFiles("", "pub")), "", "", kRefused},
        {CLI_CALL(listWebFiles("bob", "pub\"")), "", "", kRefused},
        {CLI_CALL(renameWebFile("bob", "a.html", "b c.html")), "RenameWebFile bob FILE \"a.html\" INTO \"b c.html\""},
        {CLI_CALL(renameWebFile("", "a.html", "b.html")), "", "", kRefused},
        {CLI_CALL(renameWebFile("bob", "", "b.html")), "", "", kRefused},
        {CLI_CALL(renameWebFile("bob", "a.html", "")), "", "", kRefused},
        {CLI_CALL(deleteWebFile("bob", "a.html")), "DeleteWebFile bob FILE \"a.html\""},
        {CLI_CALL(deleteWebFile("bob", "a.html")), "DeleteWebFile bob FILE \"a.html\"", "512 no file",
         "CLIException 512: no file"},
        {CLI_CALL(deleteWebFile("", "a.html")), "", "", kRefused},
        {CLI_CALL(deleteWebFile("bob", "")), "", "", kRefused},
    });
}

// Interface data ends the line as it is, like web-file data.
TEST(CliSkins, WebUserInterface) {
    checkCliRows({
        {CLI_CALL(listWebUserInterface("d.com", "")), "ListWebUserInterface d.com", "201 {a.wssp = {};}",
         "D{\"a.wssp\":D{}}"},
        {CLI_CALL(listWebUserInterface("d.com", "Blue/")),
        "ListWebUserInterface d.com FILE \"Blue/\"", "201 {}", "D{}"},
        {CLI_CALL(listWebUserInterface("", "a")), "", "", kRefused},
        {CLI_CALL(getWebUserInterface("d.com", "a.wssp")), "GetWebUserInterface d.com FILE \"a.wssp\"", "201 [SGk=]",
         "Hi"},
        {CLI_CALL(getWebUserInterface("d.com", "a.wssp")), "GetWebUserInterface d.com FILE \"a.wssp\"",
         "200 data follow\r\n\"<p>\"", "<p>"},
        {CLI_CALL(getWebUserInterface("", "a.wssp")), "", "", kRefused},
        {CLI_CALL(getWebUserInterface("d.com", "")), "", "", kRefused},
        {CLI_CALL(putWebUserInterface("d.com", "a.wssp", "[SGk=]")),
        "PutWebUserInterface d.com FILE \"a.wssp\" DATA [SGk=]"},
        {CLI_CALL(putWebUserInterface("d.com", "a.wssp", "<p> x </p>")),
         "PutWebUserInterface d.com FILE \"a.wssp\" DATA <p> x </p>"},
        {CLI_CALL(putWebUserInterface("", "a.wssp", "x")), "", "", kRefused},
        {CLI_CALL(putWebUserInterface("d.com", "", "x")), "", "", kRefused},
        {CLI_CALL(putWebUserInterface("d.com", "a.wssp", "")), "", "", kRefused},
        {CLI_CALL(putWebUserInterface("d.com", "a.wssp", "<p>\r\nShutdown")), "", "", kRefused},
        {CLI_CALL(putWebUserInterface("d.com", "a.wssp", "<p>\n")), "", "", kRefused},
        {CLI_CALL(deleteWebUserInterface("d.com", "a.wssp")), "DeleteWebUserInterface d.com FILE \"a.wssp\""},
        {CLI_CALL(deleteWebUserInterface("", "a.wssp")), "", "", kRefused},
        {CLI_CALL(deleteWebUserInterface("d.com", "")), "", "", kRefused},
        {CLI_CALL(clearWebUserCache("d.com")), "ClearWebUserCache d.com"},
        {CLI_CALL(clearWebUserCache("")), "", "", kRefused},
    });
}

TEST(CliSkins, WebUserSessions) {
    checkCliRows({
        {CLI_CALL(createWebUserSession("bob@d.com", "10.0.0.1", "")), "CreateWebUserSession bob@d.com ADDRESS 10.0.0.1",
         "201 \"12-abc\"", "12-abc"},
        {CLI_CALL(createWebUserSession("bob", "10.0.0.1", "My Skin")),
         "CreateWebUserSession bob ADDRESS 10.0.0.1 SKIN \"My Skin\"", "201 x1", "x1"},
        {CLI_CALL(createWebUserSession("bob", "10.0.0.1", "")), "CreateWebUserSession bob ADDRESS 10.0.0.1",
         "513 unknown account", "CLIException 513: unknown account"},
        {CLI_CALL(createWebUserSession("", "10.0.0.1", "s")), "", "", kRefused},
        {CLI_CALL(createWebUserSession("bob", "", "s")), "", "", kRefused},
        {CLI_CALL(createWebUserSession("bob", "10.0.0.1", "s\"")), "", "", kRefused},
        {CLI_CALL(getWebUserSession("12-abc")), "GetWebUserSession 12-abc", "201 {Account = bob;}",
         "D{\"Account\":S\"bob\"}"},
        {CLI_CALL(getWebUserSession("")), "", "", kRefused},
        {CLI_CALL(killWebUserSession("12-abc")), "KillWebUserSession 12-abc"},
        {CLI_CALL(killWebUserSession("")), "", "", kRefused},
        {CLI_CALL(killWebUserSession("1 2")), "", "", kRefused},
    });
}

TEST(CliSkins, Control) {
    checkCliRows({
        {CLI_CALL(getSNMPElement("1.3.6.1.4.1.5678.2.1.1.1.1")), "GetSNMPElement 1.3.6.1.4.1.5678.2.1.1.1.1",
         "201 \"3 days\"", "3 days"},
        {CLI_CALL(getSNMPElement("")), "", "", kRefused},
        {CLI_CALL(releaseSMTPQueue("d.com")), "ReleaseSMTPQueue d.com"},
        {CLI_CALL(releaseSMTPQueue("")), "", "", kRefused},
        {CLI_CALL(rejectQueueMessage("123", "")), "RejectQueueMessage 123"},
        {CLI_CALL(rejectQueueMessage("123", "spam")), "RejectQueueMessage 123 spam"},
        // A data-set string: quoted when not bare, escaped inside.
        {CLI_CALL(rejectQueueMessage("123", "a-b")), "RejectQueueMessage 123 \"a-b\""},
        {CLI_CALL(rejectQueueMessage("123", "no \"thanks\"\nShutdown")),
         "RejectQueueMessage 123 \"no \\\"thanks\\\"\\eShutdown\""},
        {CLI_CALL(rejectQueueMessage("", "spam")), "", "", kRefused},
        {CLI_CALL(route("bob@d.com", false)), "Route bob@d.com", "201 (SMTP, d.com, bob@d.com)",
         "A[S\"SMTP\",S\"d.com\",S\"bob@d.com\"]"},
        {CLI_CALL(route("bob@d.com", true)), "Route bob@d.com mail", "201 (LOCAL, bob)", "A[S\"LOCAL\",S\"bob\"]"},
        {CLI_CALL(route("", true)), "", "", kRefused},
        {CLI_CALL(route("bob@d.com mail", false)), "", "", kRefused},
        {CLI_CALL(refreshOSData()), "RefreshOSData"},
        {CLI_CALL(shutdown()), "Shutdown"},
        {CLI_CALL(shutdown()), "Shutdown", "500 not allowed", "CLIException 500: not allowed"},
    });
}

}  // namespace
