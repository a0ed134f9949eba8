#include "clients/internal/cli_command.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "clients/net_exception.h"
#include "support/serverdata/values.h"

using namespace cgp::cmd;
using testsupport::array;
using testsupport::dict;
using testsupport::str;

namespace {

const std::string kRefusedLine = "(refused)";

// The line after the word "W", or kRefusedLine.
std::string built(const std::vector<Piece>& pieces) {
    try {
        return buildLine("W", pieces);
    } catch (const qdl::ProtocolException& e) {
        EXPECT_EQ(e.message(), "invalid or missing argument");
        EXPECT_EQ(e.code(), 0);
        return kRefusedLine;
    }
}

TEST(CliCommandLine, Forms) {
    const struct {
        const char* name;
        std::vector<Piece> pieces;
        std::string line;
    } cases[] = {
        {"word alone", {}, "W"},
        {"keyword as written", {"MAILBOX", "into"}, "W MAILBOX into"},
        {"plain", {P("bob@d.com")}, "W bob@d.com"},
        {"plain, nothing escaped", {P("a\\b")}, "W a\\b"},
        {"quoted, nothing escaped", {Q("Sent Items\\x")}, "W \"Sent Items\\x\""},
        {"data string, bare", {S("abc")}, "W abc"},
        {"data string, quoted", {S("a b")}, "W \"a b\""},
        {"data string, escaped", {S("say \"hi\"\n")}, "W \"say \\\"hi\\\"\\e\""},
        {"data string, unchecked empty", {S("").unchecked()}, "W \"\""},
        {"dictionary", {Dict(dict({{"a", str("b")}, {"c", array({str("1"), str("2")})}}))}, "W {a = b;c = (1,2);}"},
        {"array", {Array(array({str("x"), str("y z")}))}, "W (x,\"y z\")"},
        {"untested data set", {D(array({}))}, "W ()"},
        {"numbers", {N(3), N(-2), N(0ul), N(4294967296ull)}, "W 3 -2 0 4294967296"},
        {"tail with spaces", {"DATA", Tail("a b")}, "W DATA a b"},
        {"opt plain there", {opt(P("d.com"))}, "W d.com"},
        {"opt plain empty", {opt(P(""))}, "W"},
        {"opt keyword and plain", {P("bob"), opt("AUTH", P("admin"))}, "W bob AUTH admin"},
        {"opt keyword, empty argument", {P("bob"), opt("AUTH", P(""))}, "W bob"},
        {"opt plain then keyword", {opt(P("d.com"), "SKIN"), Q("s")}, "W d.com SKIN \"s\""},
        {"opt plain then keyword, empty", {opt(P(""), "SKIN"), Q("s")}, "W \"s\""},
        {"opt quoted", {P("bob"), opt("FILTER", Q("a*"))}, "W bob FILTER \"a*\""},
        {"opt dictionary with members", {opt(D(dict({{"a", str("b")}})))}, "W {a = b;}"},
        {"opt dictionary without members", {P("d"), opt(D(dict({})))}, "W d"},
        // Only dictionary members count.
        {"opt array", {P("d"), opt(D(array({str("x")})))}, "W d"},
        {"opt null value", {P("d"), opt(D(cgp::DataSet()))}, "W d"},
        {"flag set", {P("d"), flag("force", true)}, "W d force"},
        {"flag clear", {P("d"), flag("force", false)}, "W d"},
        {"when", {when(true, {"A", N(1)}), when(false, {"B"})}, "W A 1"},
        {"empty plain", {P("")}, kRefusedLine},
        {"empty quoted", {Q("")}, kRefusedLine},
        {"empty data string", {S("")}, kRefusedLine},
        {"empty tail", {Tail("")}, kRefusedLine},
        {"empty dictionary", {Dict(dict({}))}, kRefusedLine},
        {"array for a dictionary", {Dict(array({str("x")}))}, kRefusedLine},
        {"empty array", {Array(array({}))}, kRefusedLine},
        {"null data set", {Array(cgp::DataSet())}, kRefusedLine},
        // A required piece after pieces that would be fine: nothing is built.
        {"last piece missing", {P("a"), "X", Q("b"), P("")}, kRefusedLine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(built(c.pieces), c.line);
    }
}

// A piece must not end the line early, nor shift the fields after it.
TEST(CliCommandLine, RefusesUnsafePieces) {
    const std::string breakers[] = {"\r\n", "\n", "\r", std::string(1, '\0')};
    for (const std::string& b : breakers) {
        SCOPED_TRACE(testsupport::describe(str(b)));
        const std::string text = "x" + b + "DeleteDomain d.com";
        EXPECT_EQ(built({P(text)}), kRefusedLine);
        EXPECT_EQ(built({Q(text)}), kRefusedLine);
        EXPECT_EQ(built({Tail(text)}), kRefusedLine);
        EXPECT_EQ(built({opt(P(text))}), kRefusedLine);
        EXPECT_EQ(built({opt("AUTH", P(text))}), kRefusedLine);
        EXPECT_EQ(built({P(text).unchecked()}), kRefusedLine);
        // Data strings escape LF and NUL, and stay on the line; the
        // escaping drops CR, so a text with one would reach the server
        // changed, and is refused (it once went out without its CR).
        const bool holdsCR = b.find('\r') != std::string::npos;
        EXPECT_EQ(built({S(text)}) == kRefusedLine, holdsCR);
        EXPECT_EQ(built({opt(S(text))}) == kRefusedLine, holdsCR);
        EXPECT_EQ(built({S(text)}).find_first_of(std::string("\r\n\0", 3)), std::string::npos);
    }
    EXPECT_EQ(built({P("a b")}), kRefusedLine);
    EXPECT_EQ(built({P("a\tb")}), kRefusedLine);
    EXPECT_EQ(built({opt(P("a b"))}), kRefusedLine);
    EXPECT_EQ(built({Q("a\"b")}), kRefusedLine);
    EXPECT_EQ(built({Q("a b\tc")}), "W \"a b\tc\"");
    // A quote in a plain piece opens a string that would run over the
    // spaces after it, taking the next fields in: as a space does.
    EXPECT_EQ(built({P("a\"b")}), kRefusedLine);
    EXPECT_EQ(built({P("\"bob"), "MAILBOX", Q("x")}), kRefusedLine);
    EXPECT_EQ(built({opt("AUTH", P("ad\"min"))}), kRefusedLine);
    // The server reads a backslash between the quotes as an escape: one
    // at the end would take the closing quote, and the string would run
    // into the fields after it. An escaped backslash is fine.
    EXPECT_EQ(built({Q("a\\"), "INTO", Q("b")}), kRefusedLine);
    EXPECT_EQ(built({Q("a\\\\\\")}), kRefusedLine);
    EXPECT_EQ(built({Q("\\")}), kRefusedLine);
    EXPECT_EQ(built({Q("a\\\\")}), "W \"a\\\\\"");
    EXPECT_EQ(built({Q("a\\eb")}), "W \"a\\eb\"");
    // The last piece has no field after it to take.
    EXPECT_EQ(built({"DATA", Tail("a\"b\\")}), "W DATA a\"b\\");
}

TEST(CliCommandLine, NothingAfterATail) {
    EXPECT_THROW(buildLine("W", {Tail("x"), "MORE"}), std::logic_error);
    EXPECT_EQ(buildLine("W", {Tail("x"), opt(P(""))}), "W x");
}

}  // namespace
