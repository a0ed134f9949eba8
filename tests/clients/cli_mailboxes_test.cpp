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
        {CLI_CALL(setMailboxACLEntry("bob", "", dict({{"joe", str("lr")}}), "")), "", "", kRefused},
    });
}

}  // namespace
