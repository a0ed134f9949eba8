// Addresses and the router: splitting, entries, patterns, routing through
// tables of every kind, the loop limit, and loading the router's files.
// The main domain and the router's file times are kept once per process:
// every case runs in a process of its own.
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "serverdata/domains.h"
#include "serverdata/internal/parser.h"
#include "serverdata/internal/parser_actions.h"
#include "serverdata/lookup.h"
#include "serverdata/router.h"
#include "support/core/capture.h"
#include "support/serverdata/fake_base.h"

using cgp::Address;
using cgp::RouterEntry;

namespace {

const char* const kLoopLine =
    "* Internal loop into filter's router. If there's no internal loop into Communigate Pro router, please contact "
    "Quandrel.";

std::string shown(const Address& address) { return address.first + "@" + address.second; }

// Lines of captured output that equal the line.
int count(const std::string& output, const std::string& line) {
    int n = 0;
    std::string::size_type from = 0;
    while ((from = output.find(line + "\n", from)) != std::string::npos) {
        if (from == 0 || output[from - 1] == '\n') ++n;
        from += line.size();
    }
    return n;
}

class RouterTest : public ::testing::Test {
protected:
    void SetUp() override { base_.write("Settings/Main.settings", "{DomainName = Main.COM;}"); }

    // Each write moves the file's time on, so a load sees the change.
    void write(const std::string& file, const std::string& text) {
        base_.write(file, text);
        base_.setTime(file, ++stamp_);
    }
    void settings(const std::string& text) { write("Settings/Router.settings", text); }
    void data(const std::string& text) { write("Settings/Router.data", text); }
    // Loads the table with empty settings unless some were written.
    bool load(const std::string& table) {
        if (base_.modificationTime("Settings/Router.settings") < 0) settings("{}");
        data(table);
        return cgp::loadRouter();
    }
    std::string route(const std::string& account, const std::string& domain) {
        return shown(cgp::routeAddress(account, domain));
    }

    testsupport::FakeBase base_;
    time_t stamp_ = 1600000000;
};

TEST_F(RouterTest, AddressesParsed) {
    const struct {
        const char* name;
        std::string text, account, domain;
    } cases[] = {
        {"capitals lowered", "John.Doe@Example.COM", "john.doe", "example.com"},
        {"percent without at", "a%b.com", "a", "b.com"},
        {"at before percent", "a%b@c.com", "a%b", "c.com"},
        {"first at", "a@b@c", "a", "b@c"},
        {"plain name gets the main domain", "Joe", "joe", "main.com"},
        {"empty", "", "", ""},
        {"empty account", "@x.org", "", "x.org"},
        {"quoted account", "\"John Doe\"@X.org", "\"john doe\"", "x.org"},
        {"at inside quotes", "\"a@b\"@c.org", "\"a@b\"", "c.org"},
        {"high bytes through the table", "\x8A@\xC9", "\x9A", "\xC9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Address a = cgp::parseAddress(c.text);
        EXPECT_EQ(a.first, c.account);
        EXPECT_EQ(a.second, c.domain);
    }
}

TEST_F(RouterTest, AddressEntriesMade) {
    const struct {
        const char* name;
        const char* text;
        bool bracketed;
        std::string prefix, suffix;
        bool wildcard;
    } cases[] = {
        {"address lowered", "Joe@A.com", true, "joe@a.com", "", false},
        {"address completed", "Joe", true, "joe@main.com", "", false},
        {"domain pattern not completed", "Joe", false, "joe", "", false},
        {"wildcard account", "*@A.com", true, "", "@a.com", true},
        {"star alone", "*", false, "", "", true},
        {"first star splits", "a*b*c", false, "a", "b*c", true},
        {"escaped star stays", "a\\*b*c", false, "a\\*b", "c", true},
        {"escaped star only", "a\\*b", true, "a\\*b@main.com", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<RouterEntry> e(cgp::makeAddressEntry(c.text, c.bracketed));
        EXPECT_EQ(e->prefix, c.prefix);
        EXPECT_EQ(e->suffix, c.suffix);
        EXPECT_EQ(e->wildcard, c.wildcard);
        EXPECT_EQ(e->bracketed, c.bracketed);
    }

    // A route without a target goes to the main domain.
    std::unique_ptr<cgp::Route> r(cgp::makeRoute(cgp::makeAddressEntry("a.com", false), nullptr));
    EXPECT_EQ(r->pattern.prefix, "a.com");
    EXPECT_EQ(r->target.prefix, "main.com");
    EXPECT_FALSE(r->target.wildcard);
}

// Fault once: an empty pipe text threw std::out_of_range.
TEST_F(RouterTest, PipeTargets) {
    const struct {
        const char* name;
        std::string text, prefix;
    } cases[] = {
        {"delimited", "[Prog -x]", "prog -x@pipe"},
        {"two delimiters", "\"\"", "@pipe"},
        {"one character", "x", "@pipe"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RouterEntry e = cgp::parsePipeTarget(c.text);
        EXPECT_EQ(e.prefix, c.prefix);
        EXPECT_EQ(e.suffix, "");
        EXPECT_FALSE(e.wildcard);
        EXPECT_FALSE(e.bracketed);
    }
}

TEST_F(RouterTest, PatternsMatched) {
    auto entry = [](const char* prefix, const char* suffix, bool wildcard) {
        RouterEntry e;
        e.prefix = prefix;
        e.suffix = suffix;
        e.wildcard = wildcard;
        return e;
    };
    const struct {
        const char* name;
        RouterEntry pattern, target;
        std::string address;
        bool matches;
        std::string result;
    } cases[] = {
        {"account moved", entry("", "@a.com", true), entry("", "@b.com", true), "joe@a.com", true, "joe@b.com"},
        {"fixed target", entry("", "@a.com", true), entry("x@y", "", false), "joe@a.com", true, "x@y"},
        {"suffix only at the end", entry("", ".com", true), entry("", ".org", true), "a.com.com", true, "a.com.org"},
        {"prefix ignores case", entry("joe", "", true), entry("ann", "", true), "JOE@a", true, "ann@a"},
        // Fault once: the suffix was compared byte for byte.
        {"suffix ignores case", entry("", "@a.com", true), entry("", "@b.com", true), "Joe@A.COM", true, "Joe@b.com"},
        {"upper-case suffix", entry("", "@A.com", true), entry("", "@b.com", true), "joe@a.COM", true, "joe@b.com"},
        {"suffix differs", entry("", "@a.com", true), entry("", "@b.com", true), "joe@a.con", false, "joe@a.con"},
        {"prefix and suffix do not overlap", entry("ab", "ba", true), entry("x", "", false), "aba", false, "aba"},
        {"empty match", entry("ab", "ba", true), entry("<", ">", true), "abba", true, "<>"},
        {"other prefix", entry("ann", "", true), entry("x", "", false), "joe@a", false, "joe@a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string a = c.address;
        EXPECT_EQ(cgp::matchPattern(a, c.pattern, c.target), c.matches);
        EXPECT_EQ(a, c.result);
    }
}

TEST_F(RouterTest, TablesRouted) {
    const struct {
        const char* name;
        std::string table;
        std::string account, domain, result;
    } cases[] = {
        {"exact", "<joe@a.com> = ann@b.com", "joe", "a.com", "ann@b.com"},
        // Fault once: a mixed-case address missed the exact entries.
        {"exact in capitals", "<joe@a.com> = ann@b.com", "Joe", "A.com", "ann@b.com"},
        {"exact completed with the main domain", "<joe> = ann@b.com", "joe", "main.com", "ann@b.com"},
        {"wildcard", "<*@a.com> = *@b.com", "joe", "a.com", "joe@b.com"},
        {"wildcard to fixed", "<*@a.com> = all@b.com", "joe", "a.com", "all@b.com"},
        // Fault once: a wildcard pattern's suffix missed a domain in capitals.
        {"wildcard in capitals", "<*@example.com> = *@new.com", "bob", "EXAMPLE.COM", "bob@new.com"},
        {"wildcard with a prefix, in capitals", "<info*@example.com> = *@new.com", "INFO-x", "Example.Com",
         "-x@new.com"},
        {"domain wildcard in capitals", "*.a.com = *.b.com", "joe", "X.A.COM", "joe@X.b.com"},
        {"first entry wins, whatever the case", "<*@A.com> = *@b.com\n<joe@a.com> = z@z\n", "Joe", "a.COM",
         "joe@b.com"},
        {"domain", "a.com = b.com", "joe", "a.com", "joe@b.com"},
        {"domain without target", "a.com =", "joe", "a.com", "joe@main.com"},
        {"domain wildcard", "*.a.com = *.b.com", "joe", "x.a.com", "joe@x.b.com"},
        {"domain rewritten whole", "a.com = x@y", "joe", "a.com", "joe@x@y"},
        {"chain", "<a@x> = b@x\n<b@x> = c@x\n", "a", "x", "c@x"},
        {"address before domain", "x = y\n<a@x> = b@z\n", "a", "x", "b@z"},
        {"first entry wins", "<*@a.com> = *@b.com\n<joe@a.com> = z@z\n", "joe", "a.com", "joe@b.com"},
        {"first entry wins, other order", "<joe@a.com> = z@z\n<*@a.com> = *@b.com\n", "joe", "a.com", "z@z"},
        {"local form is final", "<joe@a.com> = joe@b.local\n<joe@b.local> = z@z\n", "joe", "a.com", "joe@b.local"},
        {"smtp form is final", "<joe@a.com> = joe@b.SMTP\n<joe@b.smtp> = z@z\n", "joe", "a.com", "joe@b.smtp"},
        {"here dropped", "<joe@a.com> = joe@x.here", "joe", "a.com", "joe@x"},
        {"here alone dropped", "<joe@a.com> = joe@.here", "joe", "a.com", "joe@"},
        {"short domain kept", "<joe@a.com> = joe@here", "joe", "a.com", "joe@here"},
        {"nothing matches", "<joe@a.com> = ann@b.com", "Ann", "B.com", "Ann@B.com"},
        {"blacklisted account split again", "a.com = b.com", "joe@a.com", "blacklisted", "joe@b.com"},
        {"blacklisted domain", "a.com = b.com", "joe", "a.com@blacklisted", "joe@b.com"},
        {"prefix word dropped", "Relay: <joe@a.com> = ann@b.com", "joe", "a.com", "ann@b.com"},
        {"quoted target", "<joe@a.com> = \"John Doe\"@b.com", "joe", "a.com", "\"john doe\"@b.com"},
        {"comments and blank lines", "; routes\n\n<joe@a.com> = ann@b.com ; to ann\n\n", "joe", "a.com",
         "ann@b.com"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(load(c.table));
        EXPECT_EQ(route(c.account, c.domain), c.result);
    }
}

TEST_F(RouterTest, InvalidEntryLogged) {
    ASSERT_TRUE(load("<joe@a.com> = *@b.com\nx.org = *.y.org\n"));
    testsupport::StdoutCapture capture;
    EXPECT_EQ(route("joe", "a.com"), "*@b.com");
    EXPECT_EQ(route("ann", "x.org"), "ann@*.y.org");
    const std::string out = capture.text();
    EXPECT_EQ(count(out, "* Invalid router entry (<joe@a.com> = *@b.com), check the Router webadmin page of CGPro"), 1);
    EXPECT_EQ(count(out, "* Invalid router entry (<x.org> = *.y.org), check the Router webadmin page of CGPro"), 1);
}

TEST_F(RouterTest, LoopStopsAfterTwentyRewrites) {
    const struct {
        const char* name;
        std::string table;
        std::string account, domain, result;
    } cases[] = {
        {"addresses", "<a@x> = b@x\n<b@x> = a@x\n", "a", "x", "a@x"},
        {"domains", "x = y\ny = x\n", "a", "x", "a@x"},
        {"any domain", "* = b.com\n", "joe", "a.com", "joe@b.com"},
        {"odd cycle", "<a@x> = b@x\n<b@x> = c@x\n<c@x> = a@x\n", "a", "x", "c@x"},  // 20 rewrites: a, then 20 % 3
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(load(c.table));
        testsupport::StdoutCapture capture;
        EXPECT_EQ(route(c.account, c.domain), c.result);
        EXPECT_EQ(capture.text(), std::string(kLoopLine) + "\n");
    }
}

TEST_F(RouterTest, GlobalAliasesAndTheQualifier) {
    settings("{GlobalAliases = {PostMaster = \"Admin@Main.com\"; abuse = admin;}; DomainQualifier = Corp.Example; "
             "ExtendNonQualifiedDomains = Yes;}");
    ASSERT_TRUE(load("<joe> = ann@b.com\n"));
    EXPECT_EQ(route("postmaster", "any.org"), "admin@main.com");
    EXPECT_EQ(route("abuse", "x.org"), "admin@corp.example");
    EXPECT_EQ(route("joe", "corp.example"), "ann@b.com");
    EXPECT_EQ(route("joe", "main.com"), "joe@main.com");
    EXPECT_EQ(shown(cgp::parseAddress("Joe")), "joe@corp.example");

    // Without the switch the qualifier is not used.
    settings("{DomainQualifier = corp.example; ExtendNonQualifiedDomains = No;}");
    ASSERT_TRUE(cgp::loadRouter());
    EXPECT_EQ(route("joe", "main.com"), "ann@b.com");
    EXPECT_EQ(route("postmaster", "any.org"), "postmaster@any.org");
}

TEST_F(RouterTest, LoadingTwiceKeepsTheTables) {
    EXPECT_FALSE(cgp::loadRouter());  // no files yet
    ASSERT_TRUE(load("<joe@a.com> = ann@b.com"));
    EXPECT_FALSE(cgp::loadRouter());
    EXPECT_EQ(route("joe", "a.com"), "ann@b.com");
    // Gone: the tables stay as they were.
    base_.remove("Settings/Router.data");
    EXPECT_FALSE(cgp::loadRouter());
    EXPECT_EQ(route("joe", "a.com"), "ann@b.com");
    cgp::clearRouterTables();
    EXPECT_EQ(route("joe", "a.com"), "joe@a.com");
}

// Fault once: only whole seconds were compared, so a file rewritten within
// the second of the last load was not read again.
TEST_F(RouterTest, AChangeWithinTheSecondIsSeen) {
    const std::string data = "Settings/Router.data";
    const std::string settings = "Settings/Router.settings";
    const struct {
        const char* name;
        std::string file, text;
        long nanoseconds;  // in the same second as the load
        bool renamed;      // another file renamed into its place, else rewritten
        std::string account, domain, result;
    } cases[] = {
        {"data, nanoseconds later", data, "<joe@a.com> = ann@c.com\n<joe> = x@y.com\n", 2, false, "joe", "a.com",
         "ann@c.com"},
        {"data, another size at the same time", data, "<joe@a.com> = anne@c.com\n<joe> = x@y.com\n", 1, false,
         "joe", "a.com", "anne@c.com"},
        {"data, another file at the same time and size", data, "<joe@a.com> = ann@c.com\n<joe> = x@y.com\n", 1,
         true, "joe", "a.com", "ann@c.com"},
        {"settings, nanoseconds later", settings, "{DomainQualifier = q.org; ExtendNonQualifiedDomains = YES;}", 2,
         false, "joe", "q.org", "x@y.com"},
    };
    // Each case in a second of its own, so that setting the files up again
    // is a change too.
    time_t second = 1700000000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ++second;
        base_.write(settings, "{DomainQualifier = q.org; ExtendNonQualifiedDomains = NO;}");
        base_.setTime(settings, second, 1);
        base_.write(data, "<joe@a.com> = ann@b.com\n<joe> = x@y.com\n");
        base_.setTime(data, second, 1);
        ASSERT_TRUE(cgp::loadRouter());
        ASSERT_EQ(route("joe", "a.com"), "ann@b.com");
        ASSERT_EQ(route("joe", "q.org"), "joe@q.org");
        EXPECT_FALSE(cgp::loadRouter());
        const std::string written = c.renamed ? "Settings/Router.new" : c.file;
        base_.write(written, c.text);
        base_.setTime(written, second, c.nanoseconds);
        if (c.renamed) base_.move(written, c.file);
        EXPECT_TRUE(cgp::loadRouter());
        EXPECT_EQ(route(c.account, c.domain), c.result);
        EXPECT_FALSE(cgp::loadRouter());
    }

    // Written twice by the clock, the second time at once.
    base_.write(data, "<joe@a.com> = ann@d.com");
    ASSERT_TRUE(cgp::loadRouter());
    base_.write(data, "<joe@a.com> = anna@d.com");
    EXPECT_TRUE(cgp::loadRouter());
    EXPECT_EQ(route("joe", "a.com"), "anna@d.com");
}

// Fault once: a failed load remembered the file time and left routing empty
// until the router data changed, a syntax error counted as success, and a
// change of the settings alone was never seen.
TEST_F(RouterTest, AFailedLoadIsTriedAgain) {
    ASSERT_TRUE(load("<joe@a.com> = ann@b.com"));
    {
        testsupport::StdoutCapture capture;
        EXPECT_FALSE(load("<joe@a.com> = ann@c.com\n<x@y> = !z\n"));
        EXPECT_EQ(capture.text(),
                  "* while parsing \"Settings/Router.data\" file: syntax error : near \"!\" (1:9)\n");
    }
    // Nothing of the bad table was taken.
    EXPECT_EQ(route("joe", "a.com"), "ann@b.com");
    ASSERT_TRUE(load("<joe@a.com> = ann@d.com"));
    EXPECT_EQ(route("joe", "a.com"), "ann@d.com");

    // Settings that do not read: the data is not taken either, and is taken
    // once they read, though the data did not change.
    settings("{DomainQualifier = q.org;");
    data("<joe> = ann@e.com");
    {
        testsupport::StdoutCapture capture;
        EXPECT_FALSE(cgp::loadRouter());
        EXPECT_NE(capture.text().find("Router.settings"), std::string::npos);
    }
    EXPECT_EQ(route("joe", "a.com"), "ann@d.com");
    settings("{DomainQualifier = q.org; ExtendNonQualifiedDomains = YES;}");
    EXPECT_TRUE(cgp::loadRouter());
    EXPECT_EQ(route("joe", "q.org"), "ann@e.com");
    // A change of the settings alone.
    settings("{}");
    EXPECT_TRUE(cgp::loadRouter());
    EXPECT_EQ(route("joe", "q.org"), "joe@q.org");
    EXPECT_EQ(route("joe", "main.com"), "ann@e.com");
}

// Fault once: the first route without a target read the main domain from
// inside the router's parse, where no file can be read, and the main domain
// stayed empty for the whole process.
TEST_F(RouterTest, MainDomainReadBeforeTheParse) {
    ASSERT_TRUE(load("a.com =\n"));
    EXPECT_EQ(route("joe", "a.com"), "joe@main.com");
    EXPECT_EQ(cgp::getMainDomainName(), "main.com");
}

TEST_F(RouterTest, RouteTargets) {
    ASSERT_TRUE(load("<joe@a.com> = Ann@B.com\n<*@c.com> = x@d.com\n<bob@a.com> = *@e.com\nf.com = g@h.com\n"));
    EXPECT_TRUE(cgp::isRouteTarget("ann", "b.com"));
    EXPECT_FALSE(cgp::isRouteTarget("Ann", "B.com"));
    EXPECT_FALSE(cgp::isRouteTarget("x", "d.com"));  // wildcard pattern
    EXPECT_FALSE(cgp::isRouteTarget("", "e.com"));
    EXPECT_FALSE(cgp::isRouteTarget("g", "h.com"));  // domain table
}

TEST_F(RouterTest, EntriesAddedByHand) {
    cgp::addRouterEntry(cgp::makeRoute(cgp::makeAddressEntry("*@a.com", true), cgp::makeAddressEntry("*@b.com", false)));
    cgp::addRouterEntry(cgp::makeRoute(cgp::makeAddressEntry("b.com", false), cgp::makeAddressEntry("c.com", false)));
    EXPECT_EQ(route("joe", "a.com"), "joe@c.com");
    // Someone else's router-mode parse checks the syntax only.
    EXPECT_TRUE(cgp::parseText("<joe@c.com> = z@z", cgp::kRouterMode));
    EXPECT_EQ(route("joe", "a.com"), "joe@c.com");
}

TEST_F(RouterTest, DomainLiteralsAndLetterCase) {
    base_.write("Domains/a.org/Settings/domain.settings", "{IPAddresses = (10.0.0.1, #I[10.0.0.2]);}");
    cgp::loadDomains("");
    ASSERT_TRUE(load("<*@a.org> = *@b.org\n"));
    testsupport::StdoutCapture capture;
    EXPECT_EQ(route("joe", "[10.0.0.1]"), "joe@b.org");
    EXPECT_EQ(route("joe", "[10.0.0.2]"), "joe@b.org");
    EXPECT_EQ(capture.text(), "");
}

// Router mode of the parser: what a table may look like.
TEST(RouterSyntax, TablesAccepted) {
    const struct {
        const char* name;
        std::string text;
        bool accepted;
    } cases[] = {
        {"empty", "", true},
        {"last line without a line end", "<a> = b", true},
        {"line ends", "<a> = b\n", true},
        {"CR LF", "<a> = b\r\n<c> = d\r\n", true},
        {"CR alone, then a prefix", "<a> = b\rRelay: <c> = d", true},
        {"comments and blank lines", "; x\n\n  ; y\n<a> = b ; z\n\n", true},
        {"prefix word", "Relay: <a> = b", true},
        {"several prefix words", "Relay:Mail: <a> = b", true},
        {"prefix word before a domain", "Relay: a.com = b", true},
        {"no target", "<a> =\na.com =", true},
        {"quoted target", "a = \"John Doe\"@b.com", true},
        {"quoted target with quotes", "a = \"x\"y\"z\" and more\"@b.com", true},
        {"escaped star", "<a\\*b> = c", true},
        {"byte order mark", "\xEF\xBB\xBF<a> = b", true},
        {"byte order mark, then a prefix", "\xEF\xBB\xBFRelay: <a> = b", true},
        {"multi-byte atom", "<j\xC3\xA9@a> = b", true},
        {"bracketed pattern without =", "<a>", false},
        {"two targets", "<a> = b c", false},
        {"bracketed target", "a = <b>", false},
        {"quoted pattern", "\"a\"b = c", false},
        {"unterminated quote", "a = \"John Doe", false},
        {"quote without an atom after it", "a = \"John\" x", false},
        {"lone backslash", "a\\b = c", false},
        {"prefix word not at the line start", "<a> = b Relay: c", false},
        {"byte order mark later", "<a> = b\n\xEF\xBB\xBF<c> = d", false},
        {"cut multi-byte character", "<a\xC3> = b", false},
        {"bad character", "<a> = b!", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cgp::parseText(c.text, cgp::kRouterMode), c.accepted);
    }
}

TEST_F(RouterTest, ErrorLinesCountLinesAndColumns) {
    settings("{}");
    const struct {
        const char* name;
        std::string table, line;
    } cases[] = {
        // The column counts the bytes up to the end of the token.
        {"third line", "<a> = b\n<c> = d\n<e> = !\n", "syntax error : near \"!\" (2:7)"},
        {"CR LF counts two", "<a> = b\r\n<c> = !\r\n", "syntax error : near \"!\" (2:7)"},
        {"quoted atom counts no lines", "a = \"x\ry\"z\n<c> = d e\n", "syntax error : near \"e\" (1:9)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        data(c.table);
        testsupport::StdoutCapture capture;
        EXPECT_FALSE(cgp::loadRouter());
        EXPECT_EQ(capture.text(), "* while parsing \"Settings/Router.data\" file: " + c.line + "\n");
    }
}

// Routing reads a snapshot: reloads on another thread never show a half
// table.
TEST_F(RouterTest, RoutingWhileReloading) {
    const std::string tables[2] = {"<*@a.com> = *@b.com\nb.com = c.com\n", "<*@a.com> = *@d.com\nd.com = e.com\n"};
    ASSERT_TRUE(load(tables[0]));
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> routers;
    for (int t = 0; t < 4; ++t) {
        routers.emplace_back([&stop, &wrong] {
            while (!stop.load()) {
                const std::string r = shown(cgp::routeAddress("joe", "a.com"));
                if (r != "joe@c.com" && r != "joe@e.com") ++wrong;
            }
        });
    }
    for (int i = 1; i <= 200; ++i) ASSERT_TRUE(load(tables[i % 2]));
    stop.store(true);
    for (std::thread& t : routers) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(route("joe", "a.com"), "joe@c.com");
}

}  // namespace
