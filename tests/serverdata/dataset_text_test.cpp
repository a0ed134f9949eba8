// The data-set text form: what the reader makes of every token shape, what
// the writer writes byte for byte, and that each reads what the other wrote.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "serverdata/dataset.h"
#include "serverdata/dataset_text.h"
#include "support/core/capture.h"
#include "support/serverdata/fake_base.h"
#include "support/serverdata/values.h"

using cgp::DataSet;
using testsupport::array;
using testsupport::block;
using testsupport::describe;
using testsupport::dict;
using testsupport::none;
using testsupport::str;

namespace {

// The parse error line of a file, as printed on standard output.
std::string errorLine(const std::string& path, const std::string& error) {
    return "* while parsing \"" + path + "\" file: " + error + "\n";
}

// Loads the text from a file and returns what was printed meanwhile.
std::string loadPrinting(const std::string& text, DataSet& value) {
    testsupport::FakeBase base;
    const std::string path = base.write("Settings/test.settings", text);
    testsupport::StdoutCapture capture;
    value = DataSet::loadFromFile(path);
    std::string printed = capture.text();
    const std::string::size_type at = printed.find(path);
    if (at != std::string::npos) printed.replace(at, path.size(), "PATH");
    return printed;
}

struct ReadCase {
    const char* name;
    std::string text;
    DataSet value;      // null when the text does not parse
    std::string error;  // then the file's error, "message : near "token" (line:column)"
};

}  // namespace

TEST(DataSetTextTest, ReaderTakesEveryTokenShape) {
    const ReadCase cases[] = {
        // Atoms.
        {"bare atom", "abc", str("abc"), ""},
        {"atom characters", "a-b.c@d_e9", str("a-b.c@d_e9"), ""},
        {"two-byte UTF-8 in an atom", "caf\xC3\xA9", str("caf\xC3\xA9"), ""},
        {"three-byte UTF-8 in an atom", "\xE2\x82\xAC" "5", str("\xE2\x82\xAC" "5"), ""},
        {"four-byte UTF-8 is no atom", "\xF0\x9F\x98\x80", DataSet(), "syntax error : near \"\xF0\" (0:1)"},
        {"number with #", "#12", str("12"), ""},
        {"negative number with #", "#-5", str("-5"), ""},
        {"lone #", "#", DataSet(), "syntax error : near \"#\" (0:1)"},
        {"# and - alone", "#-", DataSet(), "syntax error : near \"#\" (0:1)"},
        {"#T atom", "#T01-02-2009_10:11:12", str("#T01-02-2009_10:11:12"), ""},
        // Fault once: "#Tx, y)" was one atom and the array never closed.
        {"#T atoms in an array", "(#Tx, #Ty)", array({str("#Tx"), str("#Ty")}), ""},
        {"#T atom ends at )", "(#Tx)", array({str("#Tx")}), ""},
        {"#T atom in a dictionary", "{a = #T1;b=#T2}", dict({{"a", str("#T1")}, {"b", str("#T2")}}), ""},
        {"#T atom ends at a blank", "(#T1 ,x)", array({str("#T1"), str("x")}), ""},
        {"#T atom ends at a tab and a line end", "(#T1\t,#T2\r\n)", array({str("#T1"), str("#T2")}), ""},
        {"#NULL#", "#NULL#", str("#NULL#"), ""},
        {"#NULL# in lower case", "#null#", str("#null#"), ""},
        {"#( atom", "#(a b=c)", str("#(a b=c)"), ""},
        {"#( atom needs text", "#()", DataSet(), "syntax error : near \"#\" (0:1)"},
        // Fault once: only "." ":" and the letter d were taken between the brackets.
        {"#I[ IPv4 with port", "#I[10.0.0.1]:25", str("#I[10.0.0.1]:25"), ""},
        {"#I[ IPv6", "#I[fe80::1:AB]", str("#I[fe80::1:AB]"), ""},
        {"#I[ in an array", "(#I[1.2.3.4], #I[::1]:110)", array({str("#I[1.2.3.4]"), str("#I[::1]:110")}), ""},
        // Quoted strings.
        {"quoted string", "\"a b\"", str("a b"), ""},
        {"empty quoted string", "\"\"", str(""), ""},
        {"escaped quote", "\"say \\\"hi\\\"\"", str("say \"hi\""), ""},
        {"escaped line feed, tab, NUL, backslash", "\"a\\eb\\tc\\0d\\\\e\"", str(std::string("a\nb\tc\0d\\e", 9)), ""},
        {"\\n and \\r stay as written", "\"\\n\\r\\N\"", str("\\n\\r\\N"), ""},
        // Fault once: the three-character escape took the letters ddd only.
        {"three-digit escape", "\"\\101x\"", str("\\101x"), ""},
        {"unknown escape", "\"a\\x\"", DataSet(), "syntax error : near \"\"\" (0:1)"},
        {"unterminated string", "\"abc", DataSet(), "syntax error : near \"\"\" (0:1)"},
        {"raw line feed inside a string", "\"a\nb\"", str("a\nb"), ""},
        {"raw bytes inside a string", "\"\xC3\xA9\x01\xFF\"", str("\xC3\xA9\x01\xFF"), ""},
        {"strings side by side join", "\"a\" \"b\"\n\"c\"", str("abc"), ""},
        // Data blocks.
        {"data block", "[TWFu]", block("Man"), ""},
        {"data block with padding", "[TWE=]", block("Ma"), ""},
        {"data block cut short", "[TWE]", block("Ma"), ""},
        {"data block over lines", "[TW\nFu\nTWFu]", block("ManMan"), ""},
        {"data block with UTF-8 skipped", "[TW\xC3\xA9" "Fu]", block("Man"), ""},
        {"one leftover character yields nothing", "[TWFuT]", block("Man"), ""},
        // Fault once: the writer wrote "[]" and the reader refused it.
        {"empty data block", "[]", block(""), ""},
        {"lone [", "[ab", DataSet(), "syntax error : near \"[\" (0:1)"},
        // Arrays and dictionaries.
        {"empty array", "()", array({}), ""},
        {"array", "(a, \"b c\", [TWE=])", array({str("a"), str("b c"), block("Ma")}), ""},
        {"semicolon after an element", "(a;, b;)", array({str("a"), str("b")}), ""},
        {"comma before )", "(a,)", DataSet(), "syntax error : near \")\" (0:4)"},
        {"empty element", "(a,,b)", DataSet(), "syntax error : near \",\" (0:4)"},
        {"nested arrays", "((a))", array({array({str("a")})}), ""},
        {"empty dictionary", "{}", dict({}), ""},
        {"dictionary", "{a=b;c=\"x y\";}", dict({{"a", str("b")}, {"c", str("x y")}}), ""},
        {"dictionary without semicolons", "{a=b c=(1)}", dict({{"a", str("b")}, {"c", array({str("1")})}}), ""},
        {"quoted keys", "{\"k-1\" = v; \"\" = w;}", dict({{"k-1", str("v")}, {"", str("w")}}), ""},
        {"repeated key replaces", "{a=1;a=2;}", dict({{"a", str("2")}}), ""},
        {"keys are case-sensitive", "{Name=1;name=2}", dict({{"Name", str("1")}, {"name", str("2")}}), ""},
        {"member without value", "{a = ;}", DataSet(), "syntax error : near \";\" (0:6)"},
        {"key without value", "{a}", DataSet(), "syntax error : near \"}\" (0:3)"},
        {"array as key", "{(a) = b}", DataSet(), "syntax error : near \"(\" (0:2)"},
        {"unclosed dictionary", "{a = b;", DataSet(), "syntax error : near \"\" (0:7)"},
        // The top level.
        {"semicolon after the value", "a;", str("a"), ""},
        // Left open: the list, not its last value.
        {"top-level list", "a, b", array({str("a"), str("b")}), ""},
        {"two values without a comma", "a b", DataSet(), "syntax error : near \"b\" (0:3)"},
        {"blanks and line ends between tokens", " {\r\n\ta\t=\r b ; } \n", dict({{"a", str("b")}}), ""},
        {"byte order mark at the start", "\xEF\xBB\xBF{a=b}", dict({{"a", str("b")}}), ""},
        {"byte order mark elsewhere", "x\xEF\xBB\xBF", DataSet(), "syntax error : near \"\xEF\xBB\xBF\" (0:4)"},
        {"bad character", "!", DataSet(), "syntax error : near \"!\" (0:1)"},
        // Shapes begun and not completed: the first byte is the bad one.
        {"atom then a cut sequence", "(ab\xC3)", DataSet(), "syntax error : near \"\xC3\" (0:4)"},
        {"cut three-byte sequence", "(\xE2\x82)", DataSet(), "syntax error : near \"\xE2\" (0:2)"},
        {"#I[ with a colon and no port", "(#I[1.2.3.4]:)", DataSet(), "syntax error : near \":\" (0:13)"},
        {"#NUL without its #", "#NUL", DataSet(), "syntax error : near \"#\" (0:1)"},
        {"#( not closed", "(x, #(abc", DataSet(), "syntax error : near \"#\" (0:5)"},
        {"string cut in an escape", "\"ab\\1", DataSet(), "syntax error : near \"\"\" (0:1)"},
        {"data block cut in a sequence", "[TW\xC3", DataSet(), "syntax error : near \"[\" (0:1)"},
        {"part of a mark", "\xEF\xBB", DataSet(), "syntax error : near \"\xEF\" (0:1)"},
        {"NUL byte", std::string("(a,\0)", 5), DataSet(), std::string("syntax error : near \"\" (0:4)")},
        {"only blanks", " \n\t", none(), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DataSet got = DataSet::parse(c.text);
        DataSet loaded;
        const std::string printed = loadPrinting(c.text, loaded);
        if (!c.value.isNull()) {
            EXPECT_EQ(describe(got), describe(c.value));
            EXPECT_TRUE(got == c.value);
            EXPECT_EQ(describe(loaded), describe(c.value));
            EXPECT_EQ(printed, "");
        } else {
            EXPECT_TRUE(got->isEmpty()) << describe(got);
            EXPECT_TRUE(loaded->isEmpty()) << describe(loaded);
            EXPECT_EQ(printed, errorLine("PATH", c.error));
        }
    }
}

TEST(DataSetTextTest, ReaderKeepsWhatItMustAndParentIsSet) {
    // Only the grammar's top-level list is unwrapped.
    const DataSet outer = DataSet::parse("((a,b))");
    EXPECT_EQ(describe(outer), "A[A[S\"a\",S\"b\"]]");

    const DataSet parent(DataSet::kDictionary);
    for (const std::string& text : {std::string("{a = b;}"), std::string("!"), std::string()}) {
        SCOPED_TRACE(text);
        const DataSet value = DataSet::parse(text, parent);
        EXPECT_EQ(value->getParent().get(), parent.get());
    }
    const DataSet orphan = DataSet::parse("a");
    EXPECT_FALSE(orphan->getParent().isNull());
    EXPECT_TRUE(orphan->getParent()->isEmpty());
}

TEST(DataSetTextTest, WriterWritesEachKindByteForByte) {
    const struct {
        const char* name;
        DataSet value;
        std::string compact, multiLine;
    } cases[] = {
        {"bare string", str("abc_1.2"), "abc_1.2", "abc_1.2"},
        {"string with a blank", str("a b"), "\"a b\"", "\"a b\""},
        {"string with a quote", str("say \"hi\""), "\"say \\\"hi\\\"\"", "\"say \\\"hi\\\"\""},
        {"empty string", str(""), "\"\"", "\"\""},
        {"- and @ are quoted", str("a-b@c"), "\"a-b@c\"", "\"a-b@c\""},
        {"escapes", str(std::string("a\nb\tc\0d\\", 8)), "\"a\\eb\\tc\\0d\\\\\"", "\"a\\eb\\tc\\0d\\\\\""},
        {"CR is dropped", str("a\r\nb"), "\"a\\eb\"", "\"a\\eb\""},
        {"CR dropped leaves a bare text", str("ab\r"), "ab", "ab"},
        {"UTF-8 is quoted", str("caf\xC3\xA9"), "\"caf\xC3\xA9\"", "\"caf\xC3\xA9\""},
        {"empty value at the top", none(), "", ""},
        {"data block", block("Ma"), "[TWE=]", "[TWE=]"},
        {"empty data block", block(""), "[]", "[]"},
        {"empty array", array({}), "()", "\n(\n)"},
        {"array", array({str("1"), str("2")}), "(1,2)", "\n(\n  1,\n  2\n)"},
        {"empty dictionary", dict({}), "{}", "\n{\n}"},
        {"dictionary", dict({{"a", str("b")}, {"c", array({str("1"), str("2")})}}), "{a = b;c = (1,2);}",
         "\n{\n  a = b;\n  c = \n  (\n    1,\n    2\n  );\n}"},
        {"key order", dict({{"B", str("1")}, {"a", str("2")}, {"A", str("3")}}), "{A = 3;B = 1;a = 2;}",
         "\n{\n  A = 3;\n  B = 1;\n  a = 2;\n}"},
        {"prefix first, bytes unsigned", dict({{"ab", str("1")}, {"a", str("2")}, {"\xC3\xA9", str("3")}, {"z", str("4")}}),
         "{a = 2;ab = 1;z = 4;\"\xC3\xA9\" = 3;}", "\n{\n  a = 2;\n  ab = 1;\n  z = 4;\n  \"\xC3\xA9\" = 3;\n}"},
        {"quoted keys", dict({{"k-1", str("v")}}), "{\"k-1\" = v;}", "\n{\n  \"k-1\" = v;\n}"},
        // Fault once: "key = ;" and "(a,,b)" were written, and the reader refuses both.
        {"empty member", dict({{"a", none()}}), "{a = \"\";}", "\n{\n  a = \"\";\n}"},
        {"empty element", array({str("a"), none(), str("b")}), "(a,\"\",b)", "\n(\n  a,\n  \"\",\n  b\n)"},
        {"null element", array({DataSet()}), "(\"\")", "\n(\n  \"\"\n)"},
        // Once dropped: the reader takes a "" key.
        {"empty key", dict({{"", str("x")}}), "{\"\" = x;}", "\n{\n  \"\" = x;\n}"},
        {"dictionary in an array", array({dict({{"k", block("")}})}), "({k = [];})",
         "\n(\n  \n  {\n    k = [];\n  }\n)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DataSet::toString(c.value, false), c.compact);
        EXPECT_EQ(DataSet::toString(c.value, true), c.multiLine);
        EXPECT_EQ(Level(0, c.value, true).toString(), c.compact);
        EXPECT_EQ(Level(0, c.value, false).toString(), c.multiLine);
    }
}

TEST(DataSetTextTest, LevelsAndLineChanges) {
    EXPECT_EQ(ChangeLine(2, false).toString(), "\n    ");
    EXPECT_EQ(ChangeLine(2, true).toString(), "");
    // A nested level writes an empty value as an empty string.
    EXPECT_EQ(Level(1, none(), true).toString(), "\"\"");
    EXPECT_EQ(Level(1, array({str("x")}), false).toString(), "\n  (\n    x\n  )");

    const struct { const char* in; const char* out; } quoted[] = {
        {"abc", "abc"}, {"a b", "\"a b\""}, {"", "\"\""}, {"\r", "\"\""}, {"x\"", "\"x\\\"\""}, {"1.5", "1.5"},
    };
    for (const auto& q : quoted) EXPECT_EQ(cgp::quoteString(q.in), q.out) << q.in;
}

TEST(DataSetTextTest, WhatIsWrittenReadsBackEqual) {
    const DataSet deep = dict({
        {"Name", str("user")},
        {"Real Name", str("J. \"JJ\" Doe\nsecond line\ttab")},
        {"", str("empty key")},
        {"Empty", str("")},
        {"Missing", none()},
        {"Aliases", array({str("a-1"), str("b@c"), none(), array({}), dict({})})},
        {"Cert", block(std::string("\0\x01\xFF binary", 10))},
        {"Nothing", block("")},
        {"Nested", dict({{"Rules", array({array({str("1"), str("#T1"), dict({{"x", str("\\")}})})})}})},
        {"Bytes", str(std::string("\0\x7f\x80\xC3\xA9\\e", 7))},
    });
    // An empty value inside reads back as an empty string.
    DataSet expected = deep.clone();
    expected->members["Missing"] = str("");
    expected->members["Aliases"] = array({str("a-1"), str("b@c"), str(""), array({}), dict({})});
    const DataSet values[] = {str("x"), str(""), block("Ma"), array({}), array({array({})}),
                              array({str("only")}), array({str("a"), str("b")}), dict({})};
    for (bool multiLine : {false, true}) {
        SCOPED_TRACE(multiLine ? "multi-line" : "compact");
        const DataSet back = DataSet::parse(DataSet::toString(deep, multiLine));
        EXPECT_EQ(describe(back), describe(expected));
        EXPECT_TRUE(back == expected);
        for (const DataSet& v : values) {
            EXPECT_EQ(describe(DataSet::parse(DataSet::toString(v, multiLine))), describe(v));
        }
    }
    // CR bytes aside: the format has no escape for them.
    EXPECT_EQ(describe(DataSet::parse(DataSet::toString(str("a\r\nb\r"), false))), describe(str("a\nb")));
    // An empty value writes nothing, which reads back as an empty value.
    EXPECT_TRUE(DataSet::parse(DataSet::toString(none(), true))->isEmpty());
}

TEST(DataSetTextTest, FilesWithByteOrderMarkCrLfAndLf) {
    const DataSet expected = dict({{"a", str("b")}, {"list", array({str("1"), str("x y")})}});
    const std::string lf = "{\n  a = b;\n  list = \n  (\n    1,\n    \"x y\"\n  );\n}\n";
    std::string crlf, cr;
    for (char c : lf) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        cr += c == '\n' ? '\r' : c;
    }
    const struct { const char* name; std::string text; } files[] = {
        {"LF", lf}, {"CR LF", crlf}, {"CR", cr}, {"mark and LF", "\xEF\xBB\xBF" + lf},
        {"mark and CR LF", "\xEF\xBB\xBF" + crlf}, {"no final line end", lf.substr(0, lf.size() - 1)},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        DataSet loaded;
        EXPECT_EQ(loadPrinting(f.text, loaded), "");
        EXPECT_EQ(describe(loaded), describe(expected));
    }
}

TEST(DataSetTextTest, ErrorsInFilesGiveLineAndColumn) {
    const struct { const char* name; std::string text; std::string error; } cases[] = {
        {"third line, LF", "{\na = b;\n!\n}\n", "syntax error : near \"!\" (2:1)"},
        {"third line, CR LF", "{\r\na = b;\r\n!\r\n}\r\n", "syntax error : near \"!\" (4:1)"},
        {"third line, CR", "{\ra = b;\r!\r}\r", "syntax error : near \"!\" (2:1)"},
        {"column counts bytes", "{\n  \"\xC3\xA9\" = \t!", "syntax error : near \"!\" (1:11)"},
        {"line feeds in a string do not count", "(\"a\nb\nc\",\n!)", "syntax error : near \"!\" (1:1)"},
        {"line feeds in a data block do not count", "([TW\nFu],\n!)", "syntax error : near \"!\" (1:1)"},
        {"the mark counts its length", "\xEF\xBB\xBF!", "syntax error : near \"!\" (0:4)"},
        {"end of input", "(\na,\nb", "syntax error : near \"\" (2:1)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DataSet loaded;
        EXPECT_EQ(loadPrinting(c.text, loaded), errorLine("PATH", c.error));
        EXPECT_TRUE(loaded->isEmpty());
    }
}

TEST(DataSetTextTest, MissingFilesAndTextsAreSilent) {
    testsupport::FakeBase base;
    testsupport::StdoutCapture capture;
    EXPECT_TRUE(DataSet::loadFromFile(base / "nothing.settings")->isEmpty());
    base.makeFolder("folder");
    EXPECT_TRUE(DataSet::loadFromFile(base / "folder")->isEmpty());
    EXPECT_TRUE(DataSet::parse("(!)")->isEmpty());
    EXPECT_EQ(capture.text(), "");
}

TEST(DataSetTextTest, AnErrorLineShowsAtMostAPieceOfItsToken) {
    const std::string big(100000, 'x');
    DataSet loaded;
    const std::string printed = loadPrinting("a \"" + big + "\"", loaded);
    EXPECT_EQ(printed, errorLine("PATH", "syntax error : near \"" + ("\"" + big).substr(0, 256) + "\" (0:100004)"));
}

TEST(DataSetTextTest, NestingGrowsTheStackUpToItsLimit) {
    for (int depth : {150, 199, 200, 201, 3000, 9990}) {
        SCOPED_TRACE(depth);
        const std::string text = std::string(depth, '(') + "x" + std::string(depth, ')');
        const DataSet value = DataSet::parse(text);
        ASSERT_EQ(value->getType(), DataSet::kArray);
        EXPECT_EQ(DataSet::toString(value, false), text);
        EXPECT_TRUE(DataSet::parse(text) == value);
        // The multi-line form grows with the square of the depth.
        if (depth <= 3000) {
            EXPECT_TRUE(DataSet::parse(DataSet::toString(value, true)) == value);
        }
    }
    const std::string tooDeep = std::string(10001, '(') + std::string(10001, ')');
    EXPECT_TRUE(DataSet::parse(tooDeep)->isEmpty());
    DataSet loaded;
    EXPECT_EQ(loadPrinting(tooDeep, loaded), errorLine("PATH", "memory exhausted : near \"(\" (0:9998)"));
}

// Long tokens are read from the scanner's buffer directly; one that the
// buffer's end cuts must read the same, whole or malformed.
TEST(DataSetTextTest, TokensCutByTheReadBufferReadTheSame) {
    const std::string quoted = "\"a\\\"b\\101c\\ddd\xC3\xA9\\e\"";
    const std::string data = "[TW\nFu\xC3\xA9TWE=]";
    const DataSet expected = array({str("x"), str("a\"b\\101c\\ddd\xC3\xA9\n"), block("ManMa"), str("y")});
    for (std::size_t pad = 16300; pad < 16420; ++pad) {
        SCOPED_TRACE(pad);
        const std::string head = "(" + std::string(pad, ' ') + "x, ";
        const DataSet got = DataSet::parse(head + quoted + ", " + data + ", y)");
        ASSERT_EQ(describe(got), describe(expected));
        const DataSet swapped = DataSet::parse(head + data + ", " + quoted + ", y)");
        ASSERT_EQ(describe(swapped), describe(array({str("x"), block("ManMa"), expected->elements[1], str("y")})));
        // Malformed at the cut: the opening byte is the bad one, wherever the cut falls.
        for (const std::string& bad : {std::string("\"ab\\x\""), std::string("\"ab\\12\""), std::string("[TW\xC3!]"),
                                       std::string("\"ab")}) {
            DataSet loaded;
            const std::string printed = loadPrinting(head + bad + ")", loaded);
            ASSERT_EQ(printed, errorLine("PATH", "syntax error : near \"" + bad.substr(0, 1) + "\" (0:" +
                                                     std::to_string(head.size() + 1) + ")"));
        }
    }
    // Tokens longer than the buffer.
    const std::string big(100000, 'x');
    const DataSet longOnes = DataSet::parse("(\"" + big + "\\e\", [" + std::string(40000, 'A') + "])");
    ASSERT_EQ(longOnes->elements.size(), 2u);
    EXPECT_EQ(longOnes->elements[0]->value, big + "\n");
    EXPECT_EQ(longOnes->elements[1]->value, std::string(30000, '\0'));
}

// The server's own examples, byte for byte.
TEST(DataSetTextTest, TheServersExamplesByteForByte) {
    const DataSet value = DataSet::parse("{a = b; c = (1,2)}");
    EXPECT_EQ(DataSet::toString(value, false), "{a = b;c = (1,2);}");
    EXPECT_EQ(DataSet::toString(value, true), "\n{\n  a = b;\n  c = \n  (\n    1,\n    2\n  );\n}");

    EXPECT_EQ(DataSet::toString(DataSet::parse("{B = 1; a = 2; A = 3;}"), false), "{A = 3;B = 1;a = 2;}");

    const DataSet block = DataSet::parse("[TWE]");
    EXPECT_EQ(block->getType(), DataSet::kData);
    EXPECT_EQ(block->value, "Ma");
    EXPECT_EQ(DataSet::toString(block, false), "[TWE=]");

    DataSet loaded;
    EXPECT_EQ(loadPrinting("{\na = b;\n!\n}\n", loaded), errorLine("PATH", "syntax error : near \"!\" (2:1)"));
    EXPECT_EQ(loadPrinting("{\r\na = b;\r\n!\r\n}\r\n", loaded), errorLine("PATH", "syntax error : near \"!\" (4:1)"));
}
