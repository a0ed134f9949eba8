// The scanner's data condition reads its common tokens by hand ahead of the
// automaton. Both ways must give the same tokens, counters and texts for
// every token shape, also where the read buffer cuts a token.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "serverdata/internal/scanner.h"

namespace {

using cgp::ScannedToken;

std::vector<ScannedToken> scan(const std::string& text, bool fastPath) {
    cgp::scannerUseFastPath(fastPath);
    std::vector<ScannedToken> tokens = cgp::scanDataText(text);
    cgp::scannerUseFastPath(true);
    return tokens;
}

std::string show(const std::vector<ScannedToken>& tokens) {
    std::string out;
    for (const ScannedToken& t : tokens) {
        std::string matched = t.matched.size() > 40 ? t.matched.substr(0, 40) + "..." : t.matched;
        out += std::to_string(t.code) + " [" + matched + "] (" + std::to_string(t.line) + ":" +
               std::to_string(t.column) + ")\n";
    }
    return out;
}

// Text that puts the shape after the first read's end, cut at each of its
// bytes in turn as the padding grows: the first read takes a little less
// than 16384 bytes.
const std::size_t kCutFrom = 16300;
const std::size_t kCutTo = 16400;

}  // namespace

TEST(ScannerTest, FastPathReadsWhatTheAutomatonReads) {
    const struct { const char* name; std::string text; } shapes[] = {
        {"atoms", "abc a-b.c@d_e9 x"},
        {"atoms and UTF-8", "caf\xC3\xA9 \xE2\x82\xAC" "5 ab\xE2\x82\xAC"},
        {"atom then a cut sequence", "(ab\xC3) (\xE2\x82)"},
        {"atom then NUL", std::string("(ab\0c)", 6)},
        {"numbers", "#12 #-5, # #- x"},
        {"#T atoms", "(#Tx, #T1\t,#T2\r\n) {a = #T1;b=#T2}"},
        {"#NULL#", "#NULL# #null# #NUL x"},
        {"#( atoms", "#(a b=c) #() (x, #(abc"},
        {"#I[ atoms", "(#I[10.0.0.1]:25, #I[fe80::1:AB], #I[::1]:110, #I[1.2.3.4]:)"},
        {"quoted strings", "\"a b\" \"\" \"say \\\"hi\\\"\" \"a\\eb\\tc\\0d\\\\e\" \"\\101x\\ddd\\n\\N\""},
        {"quoted strings side by side", "\"a\" \"b\"\n\"c\""},
        {"raw bytes in a string", "(\"a\nb\xC3\xA9\x01\xFF\", x)"},
        {"unknown escape", "(\"a\\x\", y)"},
        {"short three-character escape", "(\"ab\\12\", y)"},
        {"string cut in an escape", "\"ab\\1"},
        {"unterminated string", "(x, \"abc"},
        {"data blocks", "([TWFu], [TWE=], [TWE], [TW\nFu\nTWFu], [TW\xC3\xA9" "Fu], [TWFuT], [])"},
        {"malformed data blocks", "([ab, [TW\xC3!], [TW\xC3"},
        {"punctuation", "(){};,= ({a=b;c=(1,2)},x;)"},
        {"blanks and line ends", " {\r\n\ta\t=\r b ; } \n\r\r\n  \t"},
        {"byte order marks", "\xEF\xBB\xBF{a=b} x\xEF\xBB\xBF \xEF\xBB"},
        {"bad bytes", "! \x80 \xF0\x9F\x98\x80 ] \x7F"},
        {"NUL bytes", std::string("(a,\0) \0\0 x", 10)},
        {"multi-line text", "\n{\n  a = b;\n  list = \n  (\n    1,\n    \"x y\",\n    [TWE=]\n  );\n}"},
    };
    // Before the shape: blanks, a line end and its indentation, or an atom,
    // each of them cut by the buffer too.
    const struct { const char* name; char fill; const char* first; } pads[] = {
        {"blanks", ' ', ""},
        {"a line end and blanks", ' ', "\n"},
        {"an atom", 'x', ""},
    };
    for (const auto& s : shapes) {
        SCOPED_TRACE(s.name);
        const std::vector<ScannedToken> whole = scan(s.text, true);
        ASSERT_EQ(show(whole), show(scan(s.text, false)));
        ASSERT_TRUE(whole == scan(s.text, false));
        for (const auto& p : pads) {
            SCOPED_TRACE(p.name);
            const std::size_t from = kCutFrom > s.text.size() ? kCutFrom - s.text.size() : 0;
            for (std::size_t length = from; length <= kCutTo; ++length) {
                SCOPED_TRACE(length);
                const std::string text = p.first + std::string(length, p.fill) + " " + s.text;
                const std::vector<ScannedToken> fast = scan(text, true);
                const std::vector<ScannedToken> automaton = scan(text, false);
                ASSERT_EQ(show(fast), show(automaton));
                ASSERT_TRUE(fast == automaton);
            }
        }
    }
}

// Tokens longer than the buffer go to the automaton whole.
TEST(ScannerTest, TokensLongerThanTheBufferReadTheSame) {
    const std::string big(40000, 'A');
    const std::string texts[] = {
        "(" + big + ", x)",
        "(\"" + big + "\\e\", x)",
        "([" + big + "], x)",
        "(" + std::string(40000, ' ') + "x)",
        "(\n" + std::string(40000, '\t') + "x)",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 3));
        const std::vector<ScannedToken> fast = scan(text, true);
        ASSERT_EQ(show(fast), show(scan(text, false)));
        ASSERT_TRUE(fast == scan(text, false));
    }
}

// A long token goes on across several buffer ends, which cut it each
// somewhere else: in an escape, in a multi-byte sequence, at a line feed.
// The fast path measures on from where the last buffer ended.
TEST(ScannerTest, LongTokensAcrossManyBufferEnds) {
    std::string quoted, block, atom;
    while (quoted.size() < 150000) quoted += "ab\\e\\101\\\\\\\"x\\ddd\xC3\xA9";
    while (block.size() < 150000) block += "TWFu\n\xC3\xA9+/\xE2\x82\xAC=";
    while (atom.size() < 150000) atom += "ab-c.9_@";
    const std::string tokens = "(\"" + quoted + "\", [" + block + "], " + atom + ")";
    // Each shift moves every buffer end to another byte of the patterns.
    for (std::size_t shift = 0; shift < 19; ++shift) {
        SCOPED_TRACE(shift);
        const std::string text = std::string(shift, ' ') + tokens;
        const std::vector<ScannedToken> fast = scan(text, true);
        ASSERT_EQ(show(fast), show(scan(text, false)));
        ASSERT_TRUE(fast == scan(text, false));
        ASSERT_EQ(fast.size(), 8u);
        EXPECT_EQ(fast[1].value, quoted);
        EXPECT_EQ(fast[3].value, block);
        EXPECT_EQ(fast[5].value, atom);
    }
}

TEST(ScannerTest, TokensAndCountersAsTheGrammarGetsThem) {
    const std::vector<ScannedToken> tokens = scan("{a = \"b c\";\r\n  [TWE=]}", true);
    const std::vector<ScannedToken> expected = {
        {262, "{", "", 0, 1},          {258, "a", "a", 0, 2},   {265, "=", "", 0, 4},
        {288, "\"b c\"", "b c", 0, 10}, {264, ";", "", 0, 11},  {259, "[TWE=]", "TWE=", 2, 8},
        {263, "}", "", 2, 9},
    };
    ASSERT_GE(tokens.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(tokens[i].code, expected[i].code);
        EXPECT_EQ(tokens[i].matched, expected[i].matched);
        EXPECT_EQ(tokens[i].value, expected[i].value);
        EXPECT_EQ(tokens[i].line, expected[i].line);
        EXPECT_EQ(tokens[i].column, expected[i].column);
    }
    EXPECT_EQ(tokens.back().code, 0);
}
