// Settings lookups: the main domain, domain and account aliases, forwarders
// with their loop limit, groups, lists with their service words, and the
// domains of IP addresses. The main domain is read once per process: every
// case runs in a process of its own.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "serverdata/domains.h"
#include "serverdata/lookup.h"
#include "support/core/capture.h"
#include "support/serverdata/fake_base.h"

using cgp::Address;

namespace {

std::string shown(const Address& address) { return address.first + "@" + address.second; }

class LookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_.write("Settings/Main.settings", "{DomainName = Main.COM;}");
        base_.makeFolder("Accounts");
        base_.write("Domains/a.org/Settings/domainAliases.data", "(alias-a.org, \"A2.org\")");
        base_.setTime("Domains/a.org/Settings/domainAliases.data", 1500000000);
        base_.write("Domains/a.org/Settings/aliases.data", "{Joe = (jo, \"J.Doe\", \"\"); ann = (anne);}");
        base_.write("Domains/a.org/Settings/forwarders.data",
                    "{fw = \"Ann@B.org\"; self = \"x@\"; loop1 = \"loop2@a.org\"; loop2 = \"loop1@a.org\"; "
                    "none = \"\";}");
        base_.write("Domains/a.org/Settings/groups.data", "{Staff = {RealName = Staff;}; empty = {}; list = (x);}");
        base_.write("Domains/a.org/LISTS/My-List.list", "");
        base_.write("Domains/a.org/LISTS/news.list", "");
        base_.write("Domains/a.org/LISTS/notes.txt", "");
        base_.write("Domains/a.org/Settings/domain.settings", "{IPAddresses = (\"10.0.0.1\", #I[10.0.0.3]);}");
        base_.write("Domains/b.org/Settings/domain.settings", "{IPAddresses = (10.0.0.2); IPMode = \"All Available\";}");
        base_.write("Domains/b.org/Settings/domainAliases.data", "(alias-b.org)");
        base_.setTime("Domains/b.org/Settings/domainAliases.data", 1400000000);
        base_.makeFolder("SharedDomains/s.net");
        cgp::loadDomains("");
    }

    testsupport::FakeBase base_;
};

TEST(MainDomain, ReadOnceFromAnyThread) {
    testsupport::FakeBase base;
    base.write("Settings/Main.settings", "{DomainName = \"Main.COM\"; Other = x;}");
    std::vector<std::thread> threads;
    std::atomic<int> right{0};
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&right] {
            if (cgp::getMainDomainName() == "main.com") ++right;
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(right.load(), 8);
    // Read once: a later change is not seen.
    base.write("Settings/Main.settings", "{DomainName = other.com;}");
    EXPECT_EQ(cgp::getMainDomainName(), "main.com");
}

TEST(MainDomain, MissingFileGivesNone) {
    testsupport::FakeBase base;
    EXPECT_EQ(cgp::getMainDomainName(), "");
    std::string name;
    EXPECT_EQ(cgp::getRealDomainName(name), "");
}

TEST_F(LookupTest, RealDomainNames) {
    const struct {
        const char* name;
        std::string in, out;
    } cases[] = {
        {"empty is the main domain", "", "main.com"},
        {"alias", "alias-a.org", "a.org"},
        {"alias lowered when loaded", "a2.org", "a.org"},
        {"domain itself", "a.org", "a.org"},
        {"other domain's alias", "alias-b.org", "b.org"},
        {"unknown", "x.net", "x.net"},
        {"not lowered when asked", "ALIAS-A.ORG", "ALIAS-A.ORG"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string name = c.in;
        EXPECT_EQ(&cgp::getRealDomainName(name), &name);
        EXPECT_EQ(name, c.out);
    }
}

TEST_F(LookupTest, AccountAliases) {
    const struct {
        const char* name;
        Address in;
        bool found;
        std::string out;
    } cases[] = {
        {"alias", {"jo", "a.org"}, true, "joe@a.org"},
        {"alias lowered", {"j.doe", "a.org"}, true, "joe@a.org"},
        {"account itself", {"joe", "a.org"}, false, "joe@a.org"},
        {"other domain", {"jo", "b.org"}, false, "jo@b.org"},
        {"unknown domain", {"jo", "x.net"}, false, "jo@x.net"},
        {"list service word", {"my-list-admin", "a.org"}, true, "my-list@a.org"},
        {"list name itself", {"news", "a.org"}, false, "news@a.org"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Address a = c.in;
        EXPECT_EQ(cgp::resolveAlias(a), c.found);
        EXPECT_EQ(shown(a), c.out);
    }
}

TEST_F(LookupTest, Forwarders) {
    const struct {
        const char* name;
        Address in;
        bool found;
        std::string out;
    } cases[] = {
        {"forwarder", {"fw", "a.org"}, true, "ann@b.org"},
        {"target without a domain", {"self", "a.org"}, true, "x@a.org"},
        {"no forwarder", {"joe", "a.org"}, false, "joe@a.org"},
        {"empty target is none", {"none", "a.org"}, false, "none@a.org"},
        {"unknown domain", {"fw", "x.net"}, false, "fw@x.net"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Address a = c.in;
        EXPECT_EQ(cgp::resolveForwarder(a, 0), c.found);
        EXPECT_EQ(shown(a), c.out);
        EXPECT_EQ(cgp::isForwarder(c.in), c.found);
    }
}

TEST_F(LookupTest, ForwarderLoopStopsWithOneLine) {
    Address a("loop1", "a.org");
    testsupport::StdoutCapture capture;
    EXPECT_TRUE(cgp::resolveForwarder(a, 0));
    // Eleven steps from loop1: it stands at loop2.
    EXPECT_EQ(shown(a), "loop2@a.org");
    EXPECT_EQ(capture.text(), "* Forwarder loop found, skipping: loop2@a.org\n");
}

TEST_F(LookupTest, GroupsAndLists) {
    const struct {
        const char* name;
        Address address;
        bool group, list;
    } cases[] = {
        {"group lowered", {"staff", "a.org"}, true, false},
        {"group without settings is none", {"empty", "a.org"}, false, false},
        {"group with an array", {"list", "a.org"}, true, false},
        // Fault once: a list whose own name holds a "-" was never found.
        {"list with a dash", {"my-list", "a.org"}, false, true},
        {"its service word", {"my-list-request", "a.org"}, false, true},
        {"list", {"news", "a.org"}, false, true},
        {"list service word", {"news-unsubscribe", "a.org"}, false, true},
        {"not a service word", {"news-bogus", "a.org"}, false, false},
        {"part of a list's name", {"my", "a.org"}, false, false},
        {"no list file", {"notes", "a.org"}, false, false},
        {"other domain", {"news", "b.org"}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cgp::isGroup(c.address), c.group);
        EXPECT_EQ(cgp::isMailingList(c.address), c.list);
    }
    // All twelve service words are aliases of the list.
    for (const char* word : {"-on", "-off", "-subscribe", "-unsubscribe", "-feed", "-digest", "-index", "-null",
                             "-confirm", "-admin", "-request", "-report"}) {
        SCOPED_TRACE(word);
        Address a(std::string("news") + word, "a.org");
        EXPECT_TRUE(cgp::resolveAlias(a));
        EXPECT_EQ(a.first, "news");
    }
}

TEST_F(LookupTest, DomainsOfAddresses) {
    const struct {
        const char* name;
        std::string ip, domain;
        bool fallback;
    } cases[] = {
        {"claimed", "10.0.0.1", "a.org", false},
        {"claimed as a data-set address", "10.0.0.3", "a.org", false},
        {"as a domain literal", "[10.0.0.1]", "a.org", false},
        {"other domain", "10.0.0.2", "b.org", false},
        {"unclaimed gets the domain of all addresses", "10.9.9.9", "b.org", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string ip = c.ip;
        testsupport::StdoutCapture capture;
        EXPECT_EQ(&cgp::findDomainByIP(ip), &ip);
        EXPECT_EQ(ip, c.domain);
        EXPECT_EQ(capture.text(), c.fallback ? "* No explicitely defined entry found, fallback to b.org\n" : "");
    }
    // Without a domain of all addresses, the main domain.
    base_.write("Domains/b.org/Settings/domain.settings", "{IPAddresses = (10.0.0.2);}");
    cgp::loadDomains("");
    std::string ip = "10.9.9.9";
    testsupport::StdoutCapture capture;
    EXPECT_EQ(cgp::findDomainByIP(ip), "main.com");
    EXPECT_EQ(capture.text(), "* No explicitely defined entry found, fallback to main.com\n");
}

TEST_F(LookupTest, DomainsSetByHand) {
    cgp::DomainAliasMap aliases;
    aliases["x.net"] = {"x-alias.net"};
    EXPECT_FALSE(cgp::isDomain("x.net"));
    EXPECT_TRUE(cgp::setDomainAliases(aliases));
    EXPECT_FALSE(cgp::setDomainAliases(aliases));
    EXPECT_TRUE(cgp::isDomain("x.net"));
    std::string name = "x-alias.net";
    EXPECT_EQ(cgp::getRealDomainName(name), "x.net");
    aliases["x.net"].insert("x2.net");
    EXPECT_TRUE(cgp::setDomainAliases(aliases));
    name = "x2.net";
    EXPECT_EQ(cgp::getRealDomainName(name), "x.net");

    cgp::DomainAliasMap copy;
    cgp::copyDomainAliases(copy);
    EXPECT_EQ(copy["x.net"], (cgp::NameSet{"x-alias.net", "x2.net"}));
    EXPECT_EQ(copy["a.org"], (cgp::NameSet{"a2.org", "alias-a.org"}));

    // A reload keeps what was set for a domain that is not in the tree.
    cgp::loadDomains("");
    name = "x2.net";
    EXPECT_EQ(cgp::getRealDomainName(name), "x.net");
    EXPECT_TRUE(cgp::isDomain("x.net"));
}

TEST_F(LookupTest, DomainSetsCopied) {
    cgp::NameSet all, shared;
    cgp::copyAllDomains(all);
    cgp::copySharedDomains(shared);
    EXPECT_EQ(all, (cgp::NameSet{"a.org", "b.org", "main.com", "s.net"}));
    EXPECT_EQ(shared, (cgp::NameSet{"s.net"}));
    EXPECT_TRUE(cgp::isDomain("s.net"));
    EXPECT_FALSE(cgp::isDomain("alias-a.org"));
    EXPECT_EQ(cgp::lastAliasChange(), 1500000000);
}

TEST_F(LookupTest, RealAccountNames) {
    const struct {
        const char* name;
        Address in;
        std::string out;
    } cases[] = {
        {"detail dropped", {"joe+tag", "a.org"}, "joe@a.org"},
        {"mailbox dropped, alias resolved", {"box#jo", "a.org"}, "joe@a.org"},
        {"plus cut before the hash", {"jo+x#y", "a.org"}, "joe@a.org"},
        {"domain alias, then account alias", {"jo", "alias-a.org"}, "joe@a.org"},
        {"forwarder without a domain", {"self", "a.org"}, "x@a.org"},
        {"alias of another account", {"anne", "a.org"}, "ann@a.org"},
        {"forwarder to another domain", {"fw", "a2.org"}, "ann@b.org"},
        {"empty domain", {"joe", ""}, "joe@main.com"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Address a = c.in;
        EXPECT_EQ(&cgp::getRealAccountName(a), &a);
        EXPECT_EQ(shown(a), c.out);
    }
    EXPECT_EQ(cgp::getCanonicalAddress("Jo+Tag@Alias-A.org"), "joe@a.org");
    EXPECT_EQ(cgp::getCanonicalAddress("jo"), "jo@main.com");
}

// A table's order differs from process to process: its keys hash under the
// process's own key. Where two entries claim one name, the order of their
// names decides, in whichever order the file holds them.
TEST_F(LookupTest, ClaimsOnOneNameGoByTheOrderOfNames) {
    for (const bool reversed : {false, true}) {
        SCOPED_TRACE(reversed ? "written in reverse" : "written in order");
        const auto inOrder = [reversed](const std::string& first, const std::string& second) {
            return "{" + (reversed ? second + " " + first : first + " " + second) + "}";
        };
        base_.write("Domains/c.org/Settings/aliases.data", inOrder("amy = (shared);", "zed = (shared);"));
        base_.setTime("Domains/c.org/Settings/aliases.data", reversed ? 1600000001 : 1600000000);
        base_.write("Domains/c.org/Settings/forwarders.data", inOrder("Fwd = \"a@x.org\";", "fwd = \"b@y.org\";"));
        base_.write("Domains/c.org/Settings/groups.data", inOrder("Team = (x);", "team = {};"));
        cgp::loadDomains("");
        Address alias("shared", "c.org");
        EXPECT_TRUE(cgp::resolveAlias(alias));
        EXPECT_EQ(shown(alias), "amy@c.org");
        Address forwarder("fwd", "c.org");
        EXPECT_TRUE(cgp::resolveForwarder(forwarder, 0));
        EXPECT_EQ(shown(forwarder), "a@x.org");
        // "team" without members comes after "Team" and removes it.
        EXPECT_FALSE(cgp::isGroup(Address("team", "c.org")));
    }
    // Across domains, which the tree lists in any order: b.org claims the
    // same address, alias and "All Available" as c.org.
    base_.write("Domains/c.org/Settings/domain.settings", "{IPAddresses = (10.0.0.2); IPMode = \"All Available\";}");
    base_.write("Domains/c.org/Settings/domainAliases.data", "(alias-b.org)");
    cgp::loadDomains("");
    std::string ip = "10.0.0.2";
    EXPECT_EQ(cgp::findDomainByIP(ip), "b.org");  // the first to claim it
    ip = "10.9.9.9";
    testsupport::StdoutCapture capture;
    EXPECT_EQ(cgp::findDomainByIP(ip), "c.org");  // the last
    std::string name = "alias-b.org";
    EXPECT_EQ(cgp::getRealDomainName(name), "c.org");  // the last
}

TEST_F(LookupTest, VerboseLines) {
    std::string name;
    {
        testsupport::StdoutCapture capture;
        cgp::getRealDomainName(name);
        EXPECT_EQ(capture.text(), "");
    }
    cgp::setLookupVerbose(true);
    name.clear();
    testsupport::StdoutCapture capture;
    cgp::getRealDomainName(name);
    Address a("jo", "a.org");
    cgp::resolveAlias(a);
    cgp::setLookupVerbose(false);
    EXPECT_EQ(capture.text(),
              "* Searching real domain name for \n"
              "* Empty string, defaulting to main.com\n"
              "* Account found: joe@a.org\n");
}

// A reload holds the lock for its whole run: queries on other threads see
// the caches before or after it, never half built.
TEST_F(LookupTest, QueriesWhileReloading) {
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&stop, &wrong] {
            while (!stop.load()) {
                std::string ip = "10.0.0.1";
                std::string alias = "alias-a.org";
                Address fw("fw", "a.org");
                if (cgp::findDomainByIP(ip) != "a.org" || cgp::getRealDomainName(alias) != "a.org" ||
                    !cgp::isMailingList(Address("news-feed", "a.org")) || !cgp::resolveForwarder(fw, 0) ||
                    !cgp::isDomain("s.net") || cgp::getMailboxPath(Address("x", "a.org"), "") != "" ||
                    cgp::countAll(true, true, true) != 8)
                    ++wrong;
            }
        });
    }
    for (int i = 0; i < 100; ++i) {
        base_.setTime("Domains/a.org/Settings/domainAliases.data", 1500000000 + i);
        cgp::loadDomains("");
    }
    stop.store(true);
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
