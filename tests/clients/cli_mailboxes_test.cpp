// Mailbox, subscription, forwarder, group and mailing-list commands: one row
// per call (see support/net/cli_session.h).
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

TEST(CliMailboxes, CreateDeleteRename) {
    checkCliRows({
        {CLI_CALL(createMailbox("bob", "Sent Items", "")), "CreateMailbox bob MAILBOX \"Sent Items\""},
        {CLI_CALL(createMailbox("bob", "Sent Items", "admin")), "CreateMailbox bob MAILBOX \"Sent Items\" AUTH admin"},
        {CLI_CALL(createMailbox("bob", "INBOX", "")), "CreateMailbox bob MAILBOX \"INBOX\"", "520 mailbox exists",
         "CLIException 520: mailbox exists"},
        {CLI_CALL(createMailbox("", "Sent", "")), "", "", kRefused},
        {CLI_CALL(createMailbox("bob", "", "admin")), "", "", kRefused},
        {CLI_CALL(createMailbox("bob", "a\"b", "")), "", "", kRefused},
        {CLI_CALL(createMailbox("bob", "Sent\r\nDeleteAccount bob", "")), "", "", kRefused},
        {CLI_CALL(createMailbox("bob", "Sent", "ad\tmin")), "", "", kRefused},

        // No authAccount, no "AUTH".
        {CLI_CALL(deleteMailbox("bob", "Trash", "")), "DeleteMailbox bob MAILBOX \"Trash\""},
        {CLI_CALL(deleteMailbox("bob", "Old Mail", "admin")), "DeleteMailbox bob MAILBOX \"Old Mail\" AUTH admin"},
        {CLI_CALL(deleteMailbox("", "Trash", "")), "", "", kRefused},
        {CLI_CALL(deleteMailbox("bob", "", "")), "", "", kRefused},
        {CLI_CALL(deleteMailbox("bob", "Trash", "a\nb")), "", "", kRefused},

        {CLI_CALL(deleteMailboxes("bob", "Archive", "")), "DeleteMailbox bob MAILBOXES \"Archive\""},
        {CLI_CALL(deleteMailboxes("bob", "Archive", "admin")), "DeleteMailbox bob MAILBOXES \"Archive\" AUTH admin"},
        {CLI_CALL(deleteMailboxes("", "Archive", "")), "", "", kRefused},
        {CLI_CALL(deleteMailboxes("bob", "", "admin")), "", "", kRefused},

        {CLI_CALL(renameMailbox("bob", "A", "B", "")), "RenameMailbox bob MAILBOX \"A\" INTO \"B\""},
        {CLI_CALL(renameMailbox("bob", "Old Mail", "Mail/Old", "admin")),
         "RenameMailbox bob MAILBOX \"Old Mail\" INTO \"Mail/Old\" AUTH admin"},
        {CLI_CALL(renameMailbox("", "A", "B", "")), "", "", kRefused},
        {CLI_CALL(renameMailbox("bob", "", "B", "")), "", "", kRefused},
        {CLI_CALL(renameMailbox("bob", "A", "", "")), "", "", kRefused},
        {CLI_CALL(renameMailbox("bob", "A", "B\"", "")), "", "", kRefused},
        // The backslash would escape the closing quote, and the mailbox
        // name would run on into "INTO".
        {CLI_CALL(renameMailbox("bob", "A\\", "B", "")), "", "", kRefused},
        {CLI_CALL(renameMailbox("\"bob", "A", "B", "")), "", "", kRefused},

        {CLI_CALL(renameMailboxes("bob", "A", "B", "")), "RenameMailbox bob MAILBOXES \"A\" INTO \"B\""},
        {CLI_CALL(renameMailboxes("bob", "A", "B", "admin")),
         "RenameMailbox bob MAILBOXES \"A\" INTO \"B\" AUTH admin"},
        {CLI_CALL(renameMailboxes("", "A", "B", "")), "", "", kRefused},
        {CLI_CALL(renameMailboxes("bob", "", "B", "")), "", "", kRefused},
        {CLI_CALL(renameMailboxes("bob", "A", "", "")), "", "", kRefused},
    });
}

TEST(CliMailboxes, ListAndInformation) {
    checkCliRows({
        // No filter and no authAccount: the account alone.
        {CLI_CALL(listMailboxes("bob", "", "")), "ListMailboxes bob", "201 {INBOX = {}; \"Sent Items\" = {};}",
         "D{\"INBOX\":D{},\"Sent Items\":D{}}"},
        {CLI_CALL(listMailboxes("bob", "Sent*", "")), "ListMailboxes bob FILTER \"Sent*\"", "201 {}", "D{}"},
        {CLI_CALL(listMailboxes("bob", "", "admin")), "ListMailboxes bob AUTH admin", "201 {}", "D{}"},
        {CLI_CALL(listMailboxes("bob", "%", "admin")), "ListMailboxes bob FILTER \"%\" AUTH admin", "201 {}", "D{}"},
        {CLI_CALL(listMailboxes("", "", "")), "", "", kRefused},
        {CLI_CALL(listMailboxes("bob", "a\"*", "")), "", "", kRefused},

        {CLI_CALL(getMailboxInfo("bob", "INBOX", "")), "GetMailboxInfo bob MAILBOX \"INBOX\"", "201 {Messages = 3;}",
         "D{\"Messages\":S\"3\"}"},
        {CLI_CALL(getMailboxInfo("bob", "INBOX", "admin")), "GetMailboxInfo bob MAILBOX \"INBOX\" AUTH admin",
         "201 {Messages = 3;}", "D{\"Messages\":S\"3\"}"},
        {CLI_CALL(getMailboxInfo("bob", "Nope", "")), "GetMailboxInfo bob MAILBOX \"Nope\"", "512 unknown mailbox",
         "CLIException 512: unknown mailbox"},
        {CLI_CALL(getMailboxInfo("", "INBOX", "")), "", "", kRefused},
        {CLI_CALL(getMailboxInfo("bob", "", "")), "", "", kRefused},

        {CLI_CALL(updateMailboxInfo("bob", "INBOX", dict({{"Class", str("IPF.Note")}}))),
         "UpdateMailboxInfo bob MAILBOX \"INBOX\" {Class = IPF.Note;}"},
        {CLI_CALL(updateMailboxInfo("", "INBOX", dict({{"Class", str("IPF.Note")}}))), "", "", kRefused},
        {CLI_CALL(updateMailboxInfo("bob", "", dict({{"Class", str("IPF.Note")}}))), "", "", kRefused},
        {CLI_CALL(updateMailboxInfo("bob", "INBOX", dict({}))), "", "", kRefused},
        {CLI_CALL(updateMailboxInfo("bob", "INBOX", array({str("x")}))), "", "", kRefused},
    });
}

TEST(CliMailboxes, RightsClassAndAliases) {
    checkCliRows({
        // The authAccount is required here, and "AUTH" always sent.
        {CLI_CALL(getMailboxRights("bob", "INBOX", "joe")), "GetMailboxRights bob MAILBOX \"INBOX\" AUTH joe",
         "201 lrswi", "lrswi"},
        {CLI_CALL(getMailboxRights("bob", "INBOX", "joe")), "GetMailboxRights bob MAILBOX \"INBOX\" AUTH joe",
         "201 (l, r)", ""},
        {CLI_CALL(getMailboxRights("bob", "INBOX", "")), "", "", kRefused},
        {CLI_CALL(getMailboxRights("", "INBOX", "joe")), "", "", kRefused},
        {CLI_CALL(getMailboxRights("bob", "", "joe")), "", "", kRefused},

        // The class is a data-set string: quoted when not bare ("-" is not).
        {CLI_CALL(setMailboxClass("bob", "Calendar", "IPF.Appointment", "")),
         "SetMailboxClass bob MAILBOX \"Calendar\" CLASS IPF.Appointment"},
        // The authAccount, the last parameter, goes before the class.
        {CLI_CALL(setMailboxClass("bob", "Calendar", "IPF.Appointment", "admin")),
         "SetMailboxClass bob MAILBOX \"Calendar\" AUTH admin CLASS IPF.Appointment"},
        {CLI_CALL(setMailboxClass("bob", "Calendar", "a-b", "")),
         "SetMailboxClass bob MAILBOX \"Calendar\" CLASS \"a-b\""},
        {CLI_CALL(setMailboxClass("bob", "Calendar", "a \"b\"\n", "")),
         "SetMailboxClass bob MAILBOX \"Calendar\" CLASS \"a \\\"b\\\"\\e\""},
        {CLI_CALL(setMailboxClass("bob", "Calendar", "", "admin")), "", "", kRefused},
        {CLI_CALL(setMailboxClass("", "Calendar", "IPF.Appointment", "")), "", "", kRefused},
        {CLI_CALL(setMailboxClass("bob", "", "IPF.Appointment", "")), "", "", kRefused},

        {CLI_CALL(getMailboxAliases("bob")), "GetMailboxAliases bob", "201 {Junk = Spam;}", "D{\"Junk\":S\"Spam\"}"},
        {CLI_CALL(getMailboxAliases("")), "", "", kRefused},
        {CLI_CALL(setMailboxAliases("bob", dict({{"Junk", str("Spam")}}))), "setMailboxAliases bob {Junk = Spam;}"},
        {CLI_CALL(setMailboxAliases("bob", dict({}))), "", "", kRefused},
        {CLI_CALL(setMailboxAliases("bob", str("Junk"))), "", "", kRefused},
        {CLI_CALL(setMailboxAliases("", dict({{"Junk", str("Spam")}}))), "", "", kRefused},
    });
}

TEST(CliMailboxes, Forwarders) {
    checkCliRows({
        {CLI_CALL(createForwarder("info", "bob@d.com")), "CreateForwarder info to bob@d.com"},
        {CLI_CALL(createForwarder("", "bob@d.com")), "", "", kRefused},
        {CLI_CALL(createForwarder("info", "")), "", "", kRefused},
        {CLI_CALL(createForwarder("info", "bob@d.com joe@d.com")), "", "", kRefused},

        {CLI_CALL(deleteForwarder("info")), "DeleteForwarder info"},
        {CLI_CALL(deleteForwarder("")), "", "", kRefused},

        {CLI_CALL(getForwarder("info")), "GetForwarder info", "201 bob@d.com", "bob@d.com"},
        {CLI_CALL(getForwarder("info")), "GetForwarder info", "201 \"Bob <bob@d.com>\"", "Bob <bob@d.com>"},
        {CLI_CALL(getForwarder("info")), "GetForwarder info", "513 unknown forwarder",
         "CLIException 513: unknown forwarder"},
        {CLI_CALL(getForwarder("")), "", "", kRefused},

        {CLI_CALL(listForwarders("")), "ListForwarders", "201 (info, sales)", "A[S\"info\",S\"sales\"]"},
        {CLI_CALL(listForwarders("d.com")), "ListForwarders d.com", "201 ()", "A[]"},
        {CLI_CALL(listForwarders("d.com\r\nDeleteDomain d.com")), "", "", kRefused},
    });
}

TEST(CliMailboxes, Groups) {
    checkCliRows({
        {CLI_CALL(createGroup("staff", dict({{"RealName", str("All Staff")}}))),
         "CreateGroup staff {RealName = \"All Staff\";}"},
        {CLI_CALL(createGroup("staff", dict({}))), "", "", kRefused},
        {CLI_CALL(createGroup("", dict({{"RealName", str("Staff")}}))), "", "", kRefused},

        {CLI_CALL(deleteGroup("staff")), "DeleteGroup staff"},
        {CLI_CALL(deleteGroup("")), "", "", kRefused},

        {CLI_CALL(renameGroup("staff", "team")), "RenameGroup staff into team"},
        {CLI_CALL(renameGroup("", "team")), "", "", kRefused},
        {CLI_CALL(renameGroup("staff", "")), "", "", kRefused},

        {CLI_CALL(getGroup("staff")), "GetGroup staff", "201 {Members = (bob, joe);}",
         "D{\"Members\":A[S\"bob\",S\"joe\"]}"},
        {CLI_CALL(getGroup("")), "", "", kRefused},

        {CLI_CALL(setGroup("staff", dict({{"Members", array({str("bob")})}}))), "SetGroup staff {Members = (bob);}"},
        {CLI_CALL(setGroup("staff", dict({}))), "", "", kRefused},
        {CLI_CALL(setGroup("staff", array({str("bob")}))), "", "", kRefused},
        {CLI_CALL(setGroup("", dict({{"Members", array({str("bob")})}}))), "", "", kRefused},

        {CLI_CALL(listGroups("")), "ListGroups", "201 (staff)", "A[S\"staff\"]"},
        {CLI_CALL(listGroups("d.com")), "ListGroups d.com", "201 ()", "A[]"},
        {CLI_CALL(listGroups("d .com")), "", "", kRefused},
    });
}

TEST(CliMailboxes, Lists) {
    checkCliRows({
        {CLI_CALL(createList("l1", "bob")), "CreateList l1 for bob"},
        {CLI_CALL(createList("", "bob")), "", "", kRefused},
        {CLI_CALL(createList("l1", "")), "", "", kRefused},

        {CLI_CALL(deleteList("l1")), "deleteList l1"},
        {CLI_CALL(deleteList("")), "", "", kRefused},

        {CLI_CALL(renameList("l1", "l2")), "RenameList l1 into l2"},
        {CLI_CALL(renameList("", "l2")), "", "", kRefused},
        {CLI_CALL(renameList("l1", "")), "", "", kRefused},

        {CLI_CALL(getList("l1")), "GetList l1", "201 {Subject = \"[l1]\";}", "D{\"Subject\":S\"[l1]\"}"},
        {CLI_CALL(getList("")), "", "", kRefused},

        {CLI_CALL(updateList("l1", dict({{"Subject", str("[l1]")}}))), "UpdateList l1 {Subject = \"[l1]\";}"},
        {CLI_CALL(updateList("l1", dict({}))), "", "", kRefused},
        {CLI_CALL(updateList("", dict({{"Subject", str("x")}}))), "", "", kRefused},

        {CLI_CALL(listLists("")), "ListLists", "201 (l1, l2)", "A[S\"l1\",S\"l2\"]"},
        {CLI_CALL(listLists("d.com")), "ListLists d.com", "201 ()", "A[]"},

        {CLI_CALL(getDomainLists("")), "GetDomainLists", "201 {l1 = 3;}", "D{\"l1\":S\"3\"}"},
        {CLI_CALL(getDomainLists("d.com")), "GetDomainLists d.com", "201 {}", "D{}"},

        {CLI_CALL(getAccountLists("bob")), "GetAccountLists bob", "201 {l1 = 3;}", "D{\"l1\":S\"3\"}"},
        {CLI_CALL(getAccountLists("")), "", "", kRefused},

        {CLI_CALL(getSubscriberInfo("l1", "a@d.com")), "GetSubscriberInfo l1 NAME a@d.com", "201 {mode = digest;}",
         "D{\"mode\":S\"digest\"}"},
        {CLI_CALL(getSubscriberInfo("", "a@d.com")), "", "", kRefused},
        {CLI_CALL(getSubscriberInfo("l1", "")), "", "", kRefused},

        {CLI_CALL(setPostingMode("l1", "a@d.com", "MODERATEALL")), "SetPostingMode l1 FOR a@d.com MODERATEALL"},
        {CLI_CALL(setPostingMode("", "a@d.com", "MODERATEALL")), "", "", kRefused},
        {CLI_CALL(setPostingMode("l1", "", "MODERATEALL")), "", "", kRefused},
        {CLI_CALL(setPostingMode("l1", "a@d.com", "")), "", "", kRefused},

        {CLI_CALL(processBounce("bob", false, "x")), "ProcessBounce bob FOR x"},
        {CLI_CALL(processBounce("bob", true, "x")), "ProcessBounce bob FATAL FOR x"},
        // The text ends the line, so a space in it shifts nothing.
        {CLI_CALL(processBounce("bob", true, "550 no such user")), "ProcessBounce bob FATAL FOR 550 no such user"},
        {CLI_CALL(processBounce("bob", false, "x\r\nDeleteAccount bob")), "", "", kRefused},
        {CLI_CALL(processBounce("", false, "x")), "", "", kRefused},
        {CLI_CALL(processBounce("bob", true, "")), "", "", kRefused},
    });
}

TEST(CliMailboxes, ListSubscribers) {
    checkCliRows({
        {CLI_CALL(listSubscribers("l1", "", 10)), "ListSubscribers l1 FILTER \"\" 10", "201 (a@d.com, b@d.com)",
         "A[S\"a@d.com\",S\"b@d.com\"]"},
        {CLI_CALL(listSubscribers("l1", "a*", 0)), "ListSubscribers l1 FILTER \"a*\"", "201 ()", "A[]"},
        {CLI_CALL(listSubscribers("l1", "a*", 5)), "ListSubscribers l1 FILTER \"a*\" 5", "201 ()", "A[]"},
        {CLI_CALL(listSubscribers("l1", "", 0)), "ListSubscribers l1", "201 ()", "A[]"},
        {CLI_CALL(listSubscribers("l1", "", -3)), "ListSubscribers l1", "201 ()", "A[]"},
        {CLI_CALL(listSubscribers("", "a*", 5)), "", "", kRefused},
        {CLI_CALL(listSubscribers("l1", "a\"b", 0)), "", "", kRefused},
        {CLI_CALL(listSubscribers("l1", "a\r\nb", 0)), "", "", kRefused},
    });
}

TEST(CliMailboxes, List) {
    checkCliRows({
        {CLI_CALL(list("l1", "subscribe", "a@d.com", true, true)), "List l1 subscribe silently confirm a@d.com"},
        {CLI_CALL(list("l1", "subscribe", "a@d.com", false, true)), "List l1 subscribe confirm a@d.com"},
        {CLI_CALL(list("l1", "unsubscribe", "a@d.com", true, false)), "List l1 unsubscribe silently a@d.com"},
        {CLI_CALL(list("l1", "subscribe", "a@d.com", false, false)), "List l1 subscribe a@d.com", "520 no list",
         "CLIException 520: no list"},
        {CLI_CALL(list("", "subscribe", "a@d.com", false, false)), "", "", kRefused},
        {CLI_CALL(list("l1", "", "a@d.com", false, false)), "", "", kRefused},
        {CLI_CALL(list("l1", "subscribe", "", true, true)), "", "", kRefused},
        {CLI_CALL(list("l1", "subscribe", "a@d.com b@d.com", false, false)), "", "", kRefused},
    });
}

TEST(CliMailboxes, Subscription) {
    checkCliRows({
        {CLI_CALL(getAccountSubscription("bob")), "GetAccountSubscription bob", "201 (INBOX, \"Sent Items\")",
         "A[S\"INBOX\",S\"Sent Items\"]"},
        {CLI_CALL(getAccountSubscription("")), "", "", kRefused},
        {CLI_CALL(setAccountSubscription("bob", array({str("INBOX"), str("Sent Items")}))),
         "SetAccountSubscription bob (INBOX,\"Sent Items\")"},
        {CLI_CALL(setAccountSubscription("bob", array({}))), "", "", kRefused},
        {CLI_CALL(setAccountSubscription("bob", dict({{"a", str("b")}}))), "", "", kRefused},
        {CLI_CALL(setAccountSubscription("", array({str("INBOX")}))), "", "", kRefused},
    });
}

TEST(CliMailboxes, AddAccountSubscription) {
    checkCliRows({
        {CLI_CALL(addAccountSubscription("bob", str("Sent"))),
         "GetAccountSubscription bob\nSetAccountSubscription bob (INBOX,Drafts,Sent)", "201 (INBOX, Drafts)\n200 OK"},
        // Already there: nothing is stored.
        {CLI_CALL(addAccountSubscription("bob", str("Drafts"))), "GetAccountSubscription bob", "201 (INBOX, Drafts)"},
        // Names compare case by case.
        {CLI_CALL(addAccountSubscription("bob", str("inbox"))),
         "GetAccountSubscription bob\nSetAccountSubscription bob (INBOX,inbox)", "201 (INBOX)\n200 OK"},
        // Merged, in unsigned byte order, without duplicates.
        {CLI_CALL(addAccountSubscription("bob", array({str("b"), str("A"), str("\xC3\xA9t\xC3\xA9"), str("b")}))),
         "GetAccountSubscription bob\nSetAccountSubscription bob (A,a,b,c,\"\xC3\xA9t\xC3\xA9\")",
         "201 (c, a, b)\n200 OK"},
        {CLI_CALL(addAccountSubscription("bob", array({}))),
         "GetAccountSubscription bob\nSetAccountSubscription bob (a,c)", "201 (c, a, c)\n200 OK"},
        // A failed read stores nothing.
        {CLI_CALL(addAccountSubscription("bob", str("Sent"))), "GetAccountSubscription bob", "513 unknown account",
         "CLIException 513: unknown account"},
        {CLI_CALL(addAccountSubscription("", str("Sent"))), "", "", kRefused},
    });
}

TEST(CliMailboxes, MailboxACL) {
    checkCliRows({
        {CLI_CALL(getMailboxACL("bob", "INBOX", "")), "GetMailboxACL bob MAILBOX \"INBOX\"", "201 {anyone = lr;}",
         "D{\"anyone\":S\"lr\"}"},
        {CLI_CALL(getMailboxACL("bob", "Sent Items", "admin")), "GetMailboxACL bob MAILBOX \"Sent Items\" AUTH admin",
         "201 {}", "D{}"},
        {CLI_CALL(getMailboxACL("", "INBOX", "")), "", "", kRefused},
        {CLI_CALL(getMailboxACL("bob", "", "")), "", "", kRefused},
        {CLI_CALL(getMailboxACL("bob", "a\"b", "")), "", "", kRefused},
        {CLI_CALL(getMailboxACL("bob", "INBOX", "ad min")), "", "", kRefused},
        // The AUTH piece goes before the list, though the list comes first.
        {CLI_CALL(setMailboxACL("bob", "INBOX", dict({{"anyone", str("lr")}}), "admin")),
         "SetMailboxACL bob MAILBOX \"INBOX\" AUTH admin {anyone = lr;}"},
        {CLI_CALL(setMailboxACL("bob", "INBOX", dict({{"anyone", str("lr")}}), "")),
         "SetMailboxACL bob MAILBOX \"INBOX\" {anyone = lr;}"},
        {CLI_CALL(setMailboxACL("bob", "INBOX", dict({}), "")), "", "", kRefused},
        {CLI_CALL(setMailboxACL("", "INBOX", dict({{"anyone", str("lr")}}), "")), "", "", kRefused},
        {CLI_CALL(setMailboxACL("bob", "", dict({{"anyone", str("lr")}}), "")), "", "", kRefused},
    });
}

TEST(CliMailboxes, SetMailboxACLEntry) {
    checkCliRows({
        // Everyone else's rights go out emptied, as "".
        {CLI_CALL(setMailboxACLEntry("bob", "INBOX", dict({{"joe", str("lr")}}), "")),
         "GetMailboxACL bob MAILBOX \"INBOX\"\nSetMailboxACL bob MAILBOX \"INBOX\" {anyone = \"\";joe = lr;mary = \"\";}",
         "201 {anyone = lrs; mary = (l, r);}\n200 OK"},
        {CLI_CALL(setMailboxACLEntry("bob", "INBOX", dict({{"anyone", str("l")}}), "admin")),
         "GetMailboxACL bob MAILBOX \"INBOX\" AUTH admin\nSetMailboxACL bob MAILBOX \"INBOX\" AUTH admin {anyone = l;}",
         "201 {anyone = lrs;}\n200 OK"},
        {CLI_CALL(setMailboxACLEntry("bob", "INBOX", dict({{"joe", str("lr")}}), "")), "GetMailboxACL bob MAILBOX \"INBOX\"",
         "512 unknown mailbox", "CLIException 512: unknown mailbox"},
        {CLI_CALL(setMailboxACLEntry("", "INBOX", dict({{"joe", str("lr")}}), "")), "", "", kRefused},
        {CLI_CALL(setMailboxACLEntry("bob", "", dict({{"joe", str("lr")}}), "")), "", "", kRefused},
    });
}

}  // namespace
