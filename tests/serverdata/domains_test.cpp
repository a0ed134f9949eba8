// Domain data loading from the server's tree, account and mailbox paths,
// and account counting with its day-long cache. The main domain and the
// count cache are kept once per process: every case runs in a process of
// its own.
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "serverdata/domains.h"
#include "serverdata/lookup.h"
#include "support/core/capture.h"
#include "support/serverdata/fake_base.h"

using cgp::Address;

namespace {

// Folders sub1.sub/sub2.sub/... below dir, an account "nK" in each level K,
// levels 0 to depth.
void nestAccounts(testsupport::FakeBase& base, std::string dir, int depth) {
    for (int k = 0; k <= depth; ++k) {
        base.makeFolder(dir + "/n" + std::to_string(k) + ".macnt");
        dir += "/sub" + std::to_string(k + 1) + ".sub";
    }
}

class DomainsTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_.write("Settings/Main.settings", "{DomainName = main.com;}");
        base_.makeFolder("Accounts/joe.macnt/Work.folder/Reports.mdir");
        base_.write("Accounts/joe.macnt/Work.folder/Drafts.mbox", "");
        base_.write("Accounts/joe.macnt/INBOX.mbox", "");
        base_.write("Accounts/joe.macnt/Trash.mbox", "");
        base_.makeFolder("Accounts/joe.macnt/&AOk-.mdir");
        base_.makeFolder("Accounts/joe.macnt/Caf&AOk-.folder/Men&APo-.mdir");
        base_.write("Accounts/single.mbox", "");
        base_.makeFolder("Accounts/dir.mdir");
        base_.makeFolder("Accounts/x.sub/deep.macnt/Work.mdir");
        base_.write("Accounts/notes.txt", "");
        // Another domain's accounts, reached through a link.
        base_.link("../Domains/a.org", "Accounts/link.sub");
        base_.makeFolder("Domains/a.org/ann.macnt");
        base_.makeFolder("Domains/main.com/other.macnt");
        base_.makeFolder("Domains/Upper.org");
        base_.makeFolder("Domains/settings");
        base_.write("Domains/file.org", "");
        base_.makeFolder("SharedDomains/s.net/bob.macnt");
        base_.makeFolder("SharedDomains/settings");
        base_.makeFolder("Base2/t.net/tom.macnt");
        cgp::loadDomains("");
    }

    testsupport::FakeBase base_;
};

TEST_F(DomainsTest, DomainsFound) {
    cgp::NameSet all;
    cgp::copyAllDomains(all);
    // No capitals, no "settings", no files; the main domain keeps its folder.
    EXPECT_EQ(all, (cgp::NameSet{"a.org", "main.com", "s.net"}));
    EXPECT_EQ(cgp::getMailboxPath(Address("other", "main.com"), ""), "");
    EXPECT_EQ(cgp::getMailboxPath(Address("bob", "s.net"), ""), "SharedDomains/s.net/bob.macnt");

    cgp::loadDomains("Base2");
    cgp::copyAllDomains(all);
    EXPECT_EQ(all, (cgp::NameSet{"a.org", "main.com", "s.net", "t.net"}));
    cgp::NameSet shared;
    cgp::copySharedDomains(shared);
    EXPECT_EQ(shared, (cgp::NameSet{"s.net", "t.net"}));
    EXPECT_EQ(cgp::getMailboxPath(Address("tom", "t.net"), "INBOX"), "");  // no INBOX in it
    EXPECT_EQ(cgp::getMailboxPath(Address("tom", "t.net"), ""), "Base2/t.net/tom.macnt");
}

TEST_F(DomainsTest, MailboxPaths) {
    const struct {
        const char* name;
        Address address;
        std::string mailbox, path;
    } cases[] = {
        {"folder and mailbox", {"joe", "main.com"}, "Work/Reports", "Accounts/joe.macnt/Work.folder/Reports.mdir"},
        {"mailbox file in a folder", {"joe", "main.com"}, "Work/Drafts", "Accounts/joe.macnt/Work.folder/Drafts.mbox"},
        {"extra slashes", {"joe", "main.com"}, "/Work//Reports/", "Accounts/joe.macnt/Work.folder/Reports.mdir"},
        {"UTF-7 name", {"joe", "main.com"}, "\xE9", "Accounts/joe.macnt/&AOk-.mdir"},
        {"UTF-7 folder and name", {"joe", "main.com"}, "Caf\xE9/Men\xFA",
         "Accounts/joe.macnt/Caf&AOk-.folder/Men&APo-.mdir"},
        {"account", {"joe", "main.com"}, "", "Accounts/joe.macnt"},
        {"inbox", {"joe", "main.com"}, "INBOX", "Accounts/joe.macnt/INBOX.mbox"},
        {"mailbox file", {"joe", "main.com"}, "Trash", "Accounts/joe.macnt/Trash.mbox"},
        {"missing mailbox", {"joe", "main.com"}, "Missing", ""},
        {"missing folder", {"joe", "main.com"}, "Nope/Reports", ""},
        {"folder is no mailbox", {"joe", "main.com"}, "Work", ""},
        {"slashes only", {"joe", "main.com"}, "//", ""},
        // Fault once: an account stored as one file was not found.
        {"single-file account", {"single", "main.com"}, "", "Accounts/single.mbox"},
        {"its inbox", {"single", "main.com"}, "INBOX", "Accounts/single.mbox"},
        {"it has no folders", {"single", "main.com"}, "Work", ""},
        {"mailbox account", {"dir", "main.com"}, "", "Accounts/dir.mdir"},
        {"account in a sub folder", {"deep", "main.com"}, "", "Accounts/x.sub/deep.macnt"},
        {"its mailbox", {"deep", "main.com"}, "Work", "Accounts/x.sub/deep.macnt/Work.mdir"},
        {"other domain", {"ann", "a.org"}, "", "Domains/a.org/ann.macnt"},
        {"unknown domain", {"joe", "x.net"}, "", ""},
        {"unknown account", {"nobody", "main.com"}, "", ""},
        // Fault once: a name with ".." reached another domain's account.
        {"name climbing out", {"../Domains/a.org/ann", "main.com"}, "", ""},
        {"parent name", {"../x", "main.com"}, "", ""},
        {"name with a slash", {"x.sub/deep", "main.com"}, "", ""},
        {"empty name", {"", "main.com"}, "", ""},
        // Fault once: a NUL ended the path the system saw, so the name
        // "\0" found the domain's folder itself.
        {"NUL alone", {std::string(1, '\0'), "main.com"}, "", ""},
        {"NUL after a name", {std::string("joe\0", 4), "main.com"}, "", ""},
        // Fault once: the "*.sub" search followed a link into another domain.
        {"through a link", {"ann", "main.com"}, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cgp::getMailboxPath(c.address, c.mailbox), c.path);
    }
}

// What a verbose search says along each way it can end.
TEST_F(DomainsTest, MailboxPathLinesWhenVerbose) {
    const struct {
        const char* name;
        Address address;
        std::string mailbox, lines;
    } cases[] = {
        {"mailbox directory", {"joe", "main.com"}, "Work/Reports",
         "* Searching for real mailbox path of Work/Reportsjoe@main.com\n"
         "* Mailbox path found: Accounts/joe.macnt/Work.folder/Reports.mdir\n"},
        {"mailbox file", {"joe", "main.com"}, "Work/Drafts",
         "* Searching for real mailbox path of Work/Draftsjoe@main.com\n"
         "* Mailbox path found: Accounts/joe.macnt/Work.folder/Drafts.mbox\n"},
        {"missing folder", {"joe", "main.com"}, "Nope/Reports",
         "* Searching for real mailbox path of Nope/Reportsjoe@main.com\n* Mailbox path not found\n"},
        {"account", {"joe", "main.com"}, "",
         "* Searching for real mailbox path of joe@main.com\n* Mailbox path found: Accounts/joe.macnt\n"},
        {"inbox of a single-file account", {"single", "main.com"}, "INBOX",
         "* Searching for real mailbox path of INBOXsingle@main.com\n"},
        {"unknown domain", {"joe", "x.net"}, "",
         "* Searching for real mailbox path of joe@x.net\n* Domain not found: x.net\n"},
        {"no account name", {"../x", "main.com"}, "",
         "* Searching for real mailbox path of ../x@main.com\n* Mailbox path not found\n"},
        {"account in a sub folder", {"deep", "main.com"}, "",
         "* Searching for real mailbox path of deep@main.com\n"
         "* Searching for account deeppath in Accounts\n"
         "* Searching for account deeppath in Accounts/x.sub\n"
         "* Account deep path found at Accounts/x.sub/deep.macnt\n"
         "* Mailbox path found: Accounts/x.sub/deep.macnt\n"},
    };
    cgp::setLookupVerbose(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::StdoutCapture capture;
        cgp::getMailboxPath(c.address, c.mailbox);
        EXPECT_EQ(capture.text(), c.lines);
    }
    cgp::setLookupVerbose(false);
}

TEST_F(DomainsTest, AccountPaths) {
    nestAccounts(base_, "Domains/a.org", 17);
    const struct {
        const char* name;
        std::string dir, account, path;
    } cases[] = {
        {"multi-mailbox", "Accounts", "joe", "Accounts/joe.macnt"},
        {"single file", "Accounts", "single", "Accounts/single.mbox"},
        {"mailbox folder", "Accounts", "dir", "Accounts/dir.mdir"},
        {"in a sub folder", "Accounts", "deep", "Accounts/x.sub/deep.macnt"},
        {"not through a link", "Accounts", "ann", ""},
        {"missing", "Accounts", "nobody", ""},
        {"missing folder", "Nowhere", "joe", ""},
        {"climbing out", "Accounts", "../Domains/a.org/ann", ""},
        {"dots", "Accounts", "..", ""},
        {"empty", "Accounts", "", ""},
        {"NUL", "Accounts", std::string(1, '\0'), ""},  // fault once: found "Accounts/" itself
        {"sixteen deep", "Domains/a.org", "n16",
         "Domains/a.org/sub1.sub/sub2.sub/sub3.sub/sub4.sub/sub5.sub/sub6.sub/sub7.sub/sub8.sub/sub9.sub/sub10.sub/"
         "sub11.sub/sub12.sub/sub13.sub/sub14.sub/sub15.sub/sub16.sub/n16.macnt"},
        {"seventeen deep", "Domains/a.org", "n17", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = "stale";
        EXPECT_EQ(cgp::findAccountPath(c.dir, c.account, out), !c.path.empty());
        EXPECT_EQ(out, c.path);
    }
}

TEST_F(DomainsTest, AliasFilesReloadedWhenTheyChange) {
    const std::string file = "Domains/a.org/Settings/domainAliases.data";
    auto real = [](std::string name) { return cgp::getRealDomainName(name); };
    base_.write(file, "(one.org)");
    base_.setTime(file, 1500000000);
    cgp::loadDomains("");
    EXPECT_EQ(real("one.org"), "a.org");
    EXPECT_EQ(cgp::lastAliasChange(), 1500000000);

    // Same time: the cached aliases stay, and a line says so.
    base_.write(file, "(two.org)");
    base_.setTime(file, 1500000000);
    cgp::setLookupVerbose(true);
    {
        testsupport::StdoutCapture capture;
        cgp::loadDomains("");
        EXPECT_NE(capture.text().find("* Domain alias data already up-to-date\n"), std::string::npos);
    }
    cgp::setLookupVerbose(false);
    EXPECT_EQ(real("one.org"), "a.org");
    EXPECT_EQ(real("two.org"), "two.org");

    // A file that does not read is read again next time, at the same time.
    base_.write(file, "(three.org");
    base_.setTime(file, 1500000100);
    {
        testsupport::StdoutCapture capture;
        cgp::loadDomains("");
    }
    EXPECT_EQ(real("one.org"), "a.org");
    base_.write(file, "(three.org)");
    base_.setTime(file, 1500000100);
    cgp::loadDomains("");
    EXPECT_EQ(real("three.org"), "a.org");
    EXPECT_EQ(real("one.org"), "one.org");
    EXPECT_EQ(cgp::lastAliasChange(), 1500000100);

    // Gone: the aliases go.
    base_.remove(file);
    cgp::loadDomains("");
    EXPECT_EQ(real("three.org"), "three.org");
    EXPECT_EQ(real("a.org"), "a.org");

    // Account aliases the same way.
    const std::string aliases = "Domains/a.org/Settings/aliases.data";
    base_.write(aliases, "{ann = (anne);}");
    base_.setTime(aliases, 1500000000);
    cgp::loadDomains("");
    Address a("anne", "a.org");
    EXPECT_TRUE(cgp::resolveAlias(a));
    base_.remove(aliases);
    cgp::loadDomains("");
    a = Address("anne", "a.org");
    EXPECT_FALSE(cgp::resolveAlias(a));
}

// Fault once: only whole seconds were compared, so an alias file rewritten
// within the second of the last reload kept its old aliases.
TEST_F(DomainsTest, AliasFilesChangedWithinTheSecondAreReadAgain) {
    const std::string domainAliases = "Domains/a.org/Settings/domainAliases.data";
    const std::string accountAliases = "Domains/a.org/Settings/aliases.data";
    auto realDomain = [](std::string name) { return cgp::getRealDomainName(name); };
    auto realAccount = [](const std::string& account) {
        Address address(account, "a.org");
        cgp::resolveAlias(address);
        return address.first;
    };
    const struct {
        const char* name;
        std::string file, first, second;
        bool replaced;  // another file renamed into its place, else rewritten
        long nanoseconds;
    } cases[] = {
        {"domain aliases, nanoseconds later", domainAliases, "(one.org)", "(two.org)", false, 2},
        {"domain aliases, another size", domainAliases, "(one.org)", "(three.org)", false, 1},
        {"domain aliases, another file", domainAliases, "(one.org)", "(two.org)", true, 1},
        {"account aliases, nanoseconds later", accountAliases, "{ann = (one);}", "{ann = (two);}", false, 2},
        {"account aliases, another file", accountAliases, "{ann = (one);}", "{ann = (two);}", true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool domains = c.file == domainAliases;
        base_.write(c.file, c.first);
        base_.setTime(c.file, 1500000000, 1);
        cgp::loadDomains("");
        EXPECT_EQ(domains ? realDomain("one.org") : realAccount("one"), domains ? "a.org" : "ann");
        if (c.replaced) {
            base_.write(c.file + ".new", c.second);
            base_.setTime(c.file + ".new", 1500000000, c.nanoseconds);
            base_.move(c.file + ".new", c.file);
        } else {
            base_.write(c.file, c.second);
            base_.setTime(c.file, 1500000000, c.nanoseconds);
        }
        cgp::loadDomains("");
        const std::string added = domains ? c.second.substr(1, c.second.size() - 2) : "two";
        EXPECT_EQ(domains ? realDomain(added) : realAccount(added), domains ? "a.org" : "ann");
        EXPECT_EQ(domains ? realDomain("one.org") : realAccount("one"), domains ? "one.org" : "one");
        if (domains) {
            EXPECT_EQ(cgp::lastAliasChange(), 1500000000);
        }
        base_.remove(c.file);
        cgp::loadDomains("");
    }
}

// Fault once: a domain gone from the tree kept resolving its aliases.
TEST_F(DomainsTest, ADomainGoneLosesItsAliases) {
    base_.write("Domains/a.org/Settings/domainAliases.data", "(alias-a.org)");
    base_.write("Domains/a.org/Settings/aliases.data", "{ann = (anne);}");
    cgp::loadDomains("");
    std::string name = "alias-a.org";
    EXPECT_EQ(cgp::getRealDomainName(name), "a.org");
    base_.move("Domains/a.org", "gone.org");
    cgp::loadDomains("");
    name = "alias-a.org";
    EXPECT_EQ(cgp::getRealDomainName(name), "alias-a.org");
    Address a("anne", "a.org");
    EXPECT_FALSE(cgp::resolveAlias(a));
    EXPECT_FALSE(cgp::isDomain("a.org"));
    // Back again, with the same file times: read again.
    base_.move("gone.org", "Domains/a.org");
    cgp::loadDomains("");
    name = "alias-a.org";
    EXPECT_EQ(cgp::getRealDomainName(name), "a.org");
    EXPECT_TRUE(cgp::resolveAlias(a));
}

TEST_F(DomainsTest, ListsFollowTheirFiles) {
    base_.write("Domains/a.org/LISTS/news.list", "");
    base_.write("Domains/a.org/Settings/aliases.data", "{ann = (\"news-feed\");}");
    cgp::loadDomains("");
    Address feed("news-feed", "a.org");
    EXPECT_TRUE(cgp::resolveAlias(feed));
    EXPECT_EQ(feed.first, "ann");  // the account's own alias stays first
    Address digest("news-digest", "a.org");
    EXPECT_TRUE(cgp::resolveAlias(digest));
    EXPECT_EQ(digest.first, "news");
    // A list removed takes its service names with it.
    base_.remove("Domains/a.org/LISTS/news.list");
    cgp::loadDomains("");
    digest = Address("news-digest", "a.org");
    EXPECT_FALSE(cgp::resolveAlias(digest));
    EXPECT_FALSE(cgp::isMailingList(Address("news", "a.org")));
}

TEST_F(DomainsTest, AccountsCountedOncePerDay) {
    const time_t now = 1700000000;
    // joe, single, dir and x.sub/deep; not notes.txt, not through link.sub.
    EXPECT_EQ(cgp::countAccounts("Accounts", now), 4);
    base_.makeFolder("Accounts/new.macnt");
    EXPECT_EQ(cgp::countAccounts("Accounts", now + 86399), 4);
    EXPECT_EQ(cgp::countAccounts("Accounts", now + 86400), 5);
    EXPECT_EQ(cgp::countAccounts("Nowhere", now), 0);

    // Sub folders are counted to a depth of 16.
    nestAccounts(base_, "Domains/deep", 17);
    EXPECT_EQ(cgp::countAccounts("Domains/deep", now), 17);
}

TEST_F(DomainsTest, CountsOfAllDomains) {
    base_.write("Domains/a.org/Settings/groups.data", "{staff = {x = y;}; team = (a);}");
    base_.write("Domains/a.org/Settings/forwarders.data", "{fw = \"x@y\";}");
    base_.write("Domains/a.org/LISTS/news.list", "");
    cgp::loadDomains("");
    // a.org 1, main.com 4, s.net 1.
    EXPECT_EQ(cgp::countAll(false, false, false), 6);
    EXPECT_EQ(cgp::countAll(true, false, false), 8);
    EXPECT_EQ(cgp::countAll(true, true, true), 10);
    EXPECT_EQ(cgp::countForAccounts({"x", "y"}, {"a.org", "none.org"}, true, true, true), 2 + 1 + 4);
}

}  // namespace
