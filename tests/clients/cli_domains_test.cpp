// Domain and directory commands: one row per call (see
// support/net/cli_session.h).
#include "clients/cli.h"

#include <gtest/gtest.h>

#include "support/net/cli_session.h"
#include "support/serverdata/values.h"

using testsupport::array;
using testsupport::checkCliRows;
using testsupport::dict;
using testsupport::kRefused;
using testsupport::str;

namespace {

TEST(CliDomains, CreateDeleteRename) {
    checkCliRows({
        // Settings without dictionary members are left out.
        {CLI_CALL(createDomain("d.com", dict({}))), "CreateDomain d.com"},
        {CLI_CALL(createDomain("d.com", cgp::DataSet())), "CreateDomain d.com"},
        {CLI_CALL(createDomain("d.com", array({str("x")}))), "CreateDomain d.com"},
        {CLI_CALL(createDomain("d.com", dict({{"MailToUnknown", str("Rejected")}}))),
         "CreateDomain d.com {MailToUnknown = Rejected;}"},
        // Values with line ends go out escaped by the data-set writer; a CR,
        // which the escaping would drop, is refused.
        {CLI_CALL(createDomain("d.com", dict({{"Note", str("a\nb")}}))), "CreateDomain d.com {Note = \"a\\eb\";}"},
        {CLI_CALL(createDomain("d.com", dict({{"Note", str("a\r\nb")}}))), "", "", kRefused},
        {CLI_CALL(createDomain("d.com", dict({}))), "CreateDomain d.com", "520 domain exists",
         "CLIException 520: domain exists"},
        {CLI_CALL(createDomain("", dict({{"a", str("b")}}))), "", "", kRefused},
        {CLI_CALL(createDomain("d.com\r\nDeleteDomain e.com", dict({}))), "", "", kRefused},

        {CLI_CALL(createSharedDomain("d.com", dict({}))), "CreateSharedDomain d.com"},
        {CLI_CALL(createSharedDomain("d.com", dict({{"a", str("b")}}))), "CreateSharedDomain d.com {a = b;}"},
        {CLI_CALL(createSharedDomain("", dict({}))), "", "", kRefused},

        {CLI_CALL(createDirectoryDomain("d.com", dict({}))), "CreateDirectoryDomain d.com"},
        {CLI_CALL(createDirectoryDomain("d.com", dict({{"a", str("b")}}))), "CreateDirectoryDomain d.com {a = b;}"},
        {CLI_CALL(createDirectoryDomain("", dict({}))), "", "", kRefused},

        {CLI_CALL(deleteDomain("d.com", false)), "DeleteDomain d.com"},
        {CLI_CALL(deleteDomain("d.com", true)), "DeleteDomain d.com force"},
        {CLI_CALL(deleteDomain("d.com", false)), "DeleteDomain d.com", "512 unknown domain",
         "CLIException 512: unknown domain"},
        {CLI_CALL(deleteDomain("", true)), "", "", kRefused},
        {CLI_CALL(deleteDomain("d.com e.com", false)), "", "", kRefused},

        {CLI_CALL(renameDomain("d.com", "e.com")), "RenameDomain d.com into e.com"},
        {CLI_CALL(renameDomain("", "e.com")), "", "", kRefused},
        {CLI_CALL(renameDomain("d.com", "")), "", "", kRefused},
    });
}

TEST(CliDomains, ListAndLocate) {
    checkCliRows({
        {CLI_CALL(listDomains()), "ListDomains", "201 (d.com, e.com)", "A[S\"d.com\",S\"e.com\"]"},
        {CLI_CALL(listAdminDomains("")), "ListAdminDomains", "201 (d.com)", "A[S\"d.com\"]"},
        {CLI_CALL(listAdminDomains("bob")), "ListAdminDomains bob", "201 ()", "A[]"},
        {CLI_CALL(listAdminDomains("bob\njoe")), "", "", kRefused},

        {CLI_CALL(getDomainLocation("d.com")), "GetDomainLocation d.com", "201 \"Domains/d.com\"", "Domains/d.com"},
        {CLI_CALL(getDomainLocation("")), "", "", kRefused},

        {CLI_CALL(mainDomainName()), "MainDomainName", "201 d.com", "d.com"},
        {CLI_CALL(mainDomainName()), "MainDomainName", "201 \"main d.com\"", "main d.com"},
    });
}

TEST(CliDomains, Settings) {
    checkCliRows({
        // An empty domain: the word alone; else a space and the domain.
        {CLI_CALL(getDomainSettings("")), "getDomainSettings", "201 {a = b;}", "D{\"a\":S\"b\"}"},
        {CLI_CALL(getDomainSettings("d.com")), "getDomainSettings d.com", "201 {a = b;}", "D{\"a\":S\"b\"}"},
        {CLI_CALL(getDomainSettings("d.com")), "getDomainSettings d.com", "512 unknown domain",
         "CLIException 512: unknown domain"},
        {CLI_CALL(getDomainSettings("d.com\r\nDeleteDomain d.com")), "", "", kRefused},

        {CLI_CALL(getDomainEffectiveSettings("")), "getDomainEffectiveSettings", "201 {a = b;}", "D{\"a\":S\"b\"}"},
        {CLI_CALL(getDomainEffectiveSettings("d.com")), "getDomainEffectiveSettings d.com", "201 {}", "D{}"},

        {CLI_CALL(updateDomainSettings("", dict({{"a", str("b")}}))), "UpdateDomainSettings {a = b;}"},
        {CLI_CALL(updateDomainSettings("d.com", dict({{"a", str("b")}}))), "UpdateDomainSettings d.com {a = b;}"},
        {CLI_CALL(updateDomainSettings("d.com", dict({}))), "", "", kRefused},
        {CLI_CALL(updateDomainSettings("d.com", array({str("b")}))), "", "", kRefused},

        {CLI_CALL(setDomainSettings("", dict({{"a", str("b")}}))), "SetDomainSettings {a = b;}"},
        {CLI_CALL(setDomainSettings("d.com", dict({{"a", str("b")}}))), "SetDomainSettings d.com {a = b;}"},
        // A key with a line end stays inside the one line, escaped.
        {CLI_CALL(setDomainSettings("d.com", dict({{"a\nDeleteDomain e.com", str("b")}}))),
         "SetDomainSettings d.com {\"a\\eDeleteDomain e.com\" = b;}"},
        {CLI_CALL(setDomainSettings("d.com", dict({{"a\r\nDeleteDomain e.com", str("b")}}))), "", "", kRefused},
        {CLI_CALL(setDomainSettings("", dict({}))), "", "", kRefused},
        {CLI_CALL(setDomainSettings("d.com", cgp::DataSet())), "", "", kRefused},

        // The second entry points send what the first do.
        {CLI_CALL(readDomainSettings("")), "getDomainSettings", "201 {a = b;}", "D{\"a\":S\"b\"}"},
        {CLI_CALL(readDomainSettings("d.com")), "getDomainSettings d.com", "201 {a = b;}", "D{\"a\":S\"b\"}"},
        {CLI_CALL(mergeDomainSettings("d.com", dict({{"a", str("b")}}))), "UpdateDomainSettings d.com {a = b;}"},
        {CLI_CALL(mergeDomainSettings("d.com", dict({}))), "", "", kRefused},
        {CLI_CALL(replaceDomainSettings("", dict({{"a", str("b")}}))), "SetDomainSettings {a = b;}"},
        {CLI_CALL(replaceDomainSettings("d.com", dict({}))), "", "", kRefused},
    });
}

TEST(CliDomains, DefaultsAliasesAndStatistics) {
    checkCliRows({
        {CLI_CALL(getDomainDefaults()), "GetDomainDefaults", "201 {a = b;}", "D{\"a\":S\"b\"}"},
        {CLI_CALL(updateDomainDefaults(dict({{"a", str("b")}}))), "UpdateDomainDefaults {a = b;}"},
        {CLI_CALL(updateDomainDefaults(dict({}))), "", "", kRefused},
        {CLI_CALL(setDomainDefaults(dict({{"a", str("b")}}))), "SetDomainDefaults {a = b;}"},
        {CLI_CALL(setDomainDefaults(dict({}))), "", "", kRefused},
        {CLI_CALL(setDomainDefaults(str("a"))), "", "", kRefused},

        {CLI_CALL(getDomainAliases("")), "GetDomainAliases", "201 (mail.d.com)", "A[S\"mail.d.com\"]"},
        {CLI_CALL(getDomainAliases("d.com")), "GetDomainAliases d.com", "201 ()", "A[]"},
        {CLI_CALL(setDomainAliases("", array({str("mail.d.com"), str("d-1.com")}))),
         "SetDomainAliases (mail.d.com,\"d-1.com\")"},
        {CLI_CALL(setDomainAliases("d.com", array({str("mail.d.com")}))), "SetDomainAliases d.com (mail.d.com)"},
        {CLI_CALL(setDomainAliases("d.com", array({}))), "", "", kRefused},
        {CLI_CALL(setDomainAliases("d.com", dict({{"a", str("b")}}))), "", "", kRefused},

        {CLI_CALL(getDomainStat("d.com")), "GetDomainStat d.com", "201 {Accounts = 3;}", "D{\"Accounts\":S\"3\"}"},
        {CLI_CALL(getDomainStat("")), "", "", kRefused},
        {CLI_CALL(resetDomainStat("d.com")), "ResetDomainStat d.com"},
        {CLI_CALL(resetDomainStat("")), "", "", kRefused},
    });
}

TEST(CliDomains, Directory) {
    checkCliRows({
        {CLI_CALL(getDirectoryIntegration()), "GetDirectoryIntegration", "201 {a = b;}", "D{\"a\":S\"b\"}"},
        {CLI_CALL(setDirectoryIntegration(dict({{"a", str("b")}}))), "SetDirectoryIntegration {a = b;}"},
        {CLI_CALL(setDirectoryIntegration(dict({}))), "", "", kRefused},

        {CLI_CALL(getClusterDirectoryIntegration()), "GetClusterDirectoryIntegration", "201 {}", "D{}"},
        {CLI_CALL(setClusterDirectoryIntegration(dict({{"a", str("b")}}))), "SetClusterDirectoryIntegration {a = b;}"},
        {CLI_CALL(setClusterDirectoryIntegration(dict({}))), "", "", kRefused},
        {CLI_CALL(setClusterDirectoryIntegration(array({str("a")}))), "", "", kRefused},

        {CLI_CALL(reloadDirectoryDomains()), "ReloadDirectoryDomains"},
        {CLI_CALL(reloadDirectoryDomains()), "ReloadDirectoryDomains", "500 not now", "CLIException 500: not now"},

        {CLI_CALL(insertDirectoryRecords("")), "insertDirectoryRecords"},
        {CLI_CALL(insertDirectoryRecords("d.com")), "insertDirectoryRecords d.com"},
        {CLI_CALL(insertDirectoryRecords("d com")), "", "", kRefused},
        {CLI_CALL(deleteDirectoryRecords("")), "deleteDirectoryRecords"},
        {CLI_CALL(deleteDirectoryRecords("d.com")), "deleteDirectoryRecords d.com"},
        {CLI_CALL(deleteDirectoryRecords("d.com\n")), "", "", kRefused},
    });
}

}  // namespace
