#include "filter/internal/part_headers.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using cgp::PartHeaders;

struct HeaderCase {
    const char* label;
    const char* block;
    const char* contentType;
    const char* boundary;
    const char* name;
    const char* transferEncoding;
    bool marked;
    const char* rest;  // what the stream holds after the block
};

const HeaderCase kHeaderCases[] = {
    {"mixed case type, quoted name keeps its case",
     "Content-Type: Application/MS-TNEF; name=\"WinMail.DAT\"\n\nbody\n",
     "application/ms-tnef", "", "WinMail.DAT", "", false, "body\n"},
    {"boundary on a TAB continuation line",
     "Content-Type: multipart/alternative;\n\tboundary=\"----=_Alt_01\"\nSubject: x\n\nfirst\n",
     "multipart/alternative", "----=_Alt_01", "", "", false, "first\n"},
    {"boundary on a space continuation line, unquoted",
     "Content-type: multipart/mixed;\n    boundary=abc123\n\n",
     "multipart/mixed", "abc123", "", "", false, ""},
    {"disposition filename overrides an earlier Content-Type name",
     "Content-Type: application/octet-stream; name=\"other.bin\"\nContent-Disposition: attachment; filename=winmail.dat\n\n",
     "application/octet-stream", "", "winmail.dat", "", false, ""},
    {"a later Content-Type name wins over an earlier disposition",
     "Content-Disposition: attachment; filename=first.dat\nContent-Type: application/x; name=second.dat\n\n",
     "application/x", "", "second.dat", "", false, ""},
    {"unquoted value ends at ';'",
     "Content-Type: application/ms-tnef;name=winmail.dat;x=y\n\n",
     "application/ms-tnef", "", "winmail.dat", "", false, ""},
    {"unquoted value ends at a TAB",
     "Content-Type: application/x; name=a.dat\tfoo\n\n", "application/x", "", "a.dat", "", false, ""},
    {"unquoted value ends at a double quote",
     "Content-Type: application/x; name=a.dat\"x\n\n", "application/x", "", "a.dat", "", false, ""},
    {"quoted value holds spaces and semicolons",
     "Content-Type: application/x; name=\"my file; v2.dat\"\n\n",
     "application/x", "", "my file; v2.dat", "", false, ""},
    {"unterminated quote runs to the end of the header",
     "Content-Type: application/x; name=\"open end\n\n", "application/x", "", "open end", "", false, ""},
    {"Content-Type followed only by spaces sets nothing",
     "Content-Type:    \nContent-Transfer-Encoding: BASE64\n\n", "", "", "", "base64", false, ""},
    {"quoted media type",
     "Content-Type: \"text/HTML\"\n\n", "text/html", "", "", "", false, ""},
    {"parameter names in any case",
     "CONTENT-TYPE: Multipart/Mixed; BOUNDARY=\"Xy\"; NAME=N1\n\n", "multipart/mixed", "Xy", "N1", "", false, ""},
    {"transfer encoding lower-cased, no parameters",
     "Content-Transfer-Encoding:   Quoted-Printable; junk\n\n", "", "", "", "quoted-printable", false, ""},
    {"lower-case X-Parvex mark",
     "x-parvex: 1 attachments extracted.\nContent-Type: text/plain\n\n", "text/plain", "", "", "", true, ""},
    {"X-Parvex with a prefix elsewhere is no mark",
     "X-Parvex-Other: 1\nX-NotParvex: 2\n\n", "", "", "", "", false, ""},
    {"CR LF line ends",
     "Content-Type: multipart/mixed;\r\n\tboundary=\"b1\"\r\nX-Parvex: 0\r\n\r\nline1\r\n",
     "multipart/mixed", "b1", "", "", true, "line1\r\n"},
    {"CR line ends",
     "Content-Type: application/ms-tnef\rContent-Disposition: inline; filename=\"w.dat\"\r\rnext\r",
     "application/ms-tnef", "", "w.dat", "", false, "next\r"},
    {"white-space-only line continues the header",
     "Content-Type: multipart/mixed;\n \t \n boundary=zz\n\nrest\n", "multipart/mixed", "zz", "", "", false, "rest\n"},
    {"other headers are ignored",
     "Subject: Content-Type: text/html\nFrom: a@b\n\n", "", "", "", "", false, ""},
    {"last header before the end of input is not examined",
     "Content-Type: text/html\nX-Parvex: 1", "text/html", "", "", "", false, ""},
    {"block that is just a blank line",
     "\nbody\n", "", "", "", "", false, "body\n"},
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.label; }

class ReadPartHeadersTable : public ::testing::TestWithParam<HeaderCase> {};

// Lines read in pieces of any size give the same block.
TEST_P(ReadPartHeadersTable, FillsFieldsAndStopsAfterBlankLine) {
    const HeaderCase& c = GetParam();
    for (std::size_t limit : {cgp::kDefaultLinePieceLimit, std::size_t(1), std::size_t(2), std::size_t(7)}) {
        SCOPED_TRACE("piece limit " + std::to_string(limit));
        std::istringstream in(c.block);
        PartHeaders h;
        h.contentType = "stale";
        h.boundary = "stale";
        h.name = "stale";
        h.transferEncoding = "stale";
        h.marked = true;
        cgp::readPartHeaders(in, h, limit);
        EXPECT_EQ(h.contentType, c.contentType);
        EXPECT_EQ(h.boundary, c.boundary);
        EXPECT_EQ(h.name, c.name);
        EXPECT_EQ(h.transferEncoding, c.transferEncoding);
        EXPECT_EQ(h.marked, c.marked);
        std::string rest;
        if (in.good()) rest.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        EXPECT_EQ(rest, c.rest);
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, ReadPartHeadersTable, ::testing::ValuesIn(kHeaderCases),
                         [](const ::testing::TestParamInfo<HeaderCase>& info) {
                             return "case" + std::to_string(info.index);
                         });

TEST(ReadPartHeaders, ReadsConsecutiveBlocksFromOneStream) {
    std::istringstream in("Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nhi\n");
    PartHeaders h;
    cgp::readPartHeaders(in, h);
    EXPECT_EQ(h.boundary, "b");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "--b");
    cgp::readPartHeaders(in, h);
    EXPECT_EQ(h.contentType, "text/plain");
    EXPECT_EQ(h.boundary, "");
    std::getline(in, line);
    EXPECT_EQ(line, "hi");
}

TEST(ReadPartHeaders, EmptyOrFailedStreamGivesEmptyFields) {
    std::istringstream empty("");
    PartHeaders h;
    h.name = "x";
    cgp::readPartHeaders(empty, h);
    EXPECT_EQ(h.name, "");
    EXPECT_TRUE(empty.eof());

    std::istringstream failed("Content-Type: text/html\n\n");
    failed.setstate(std::ios::failbit);
    cgp::readPartHeaders(failed, h);
    EXPECT_EQ(h.contentType, "");
}

// Inside a multipart body a delimiter line is never a header: it ends the
// block, and the part has no body.
TEST(ReadPartHeaders, DelimiterLineEndsAPartsBlock) {
    struct Case {
        const char* text;
        bool cut;
        const char* contentType;
        const char* line;  // the delimiter when cut, else the first body line
    } cases[] = {
        {"Content-Type: application/ms-tnef\n--b\nContent-Disposition: x; filename=a.pdf\n\nbody\n", true,
         "application/ms-tnef", "--b"},
        {"Content-Type: text/plain;\n\tname=x\n--b--\nafter\n", true, "text/plain", "--b--"},
        {"--b\nContent-Type: text/plain\n\nbody\n", true, "", "--b"},
        {"Content-Type: text/plain\n--bx\n--b-\n--b---\n\nbody\n", false, "text/plain", "body"},
        {"Content-Type: text/plain\n\n--b\n", false, "text/plain", "--b"},
        {"Content-Type: text/plain\n--b--x\n--bb\n\nbody\n", false, "text/plain", "body"},
    };
    // A delimiter is found whole even where pieces are shorter than it, and
    // the start of a longer line is never taken for one.
    for (std::size_t limit : {cgp::kDefaultLinePieceLimit, std::size_t(1), std::size_t(3), std::size_t(5)}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.text + (" limit " + std::to_string(limit)));
            std::istringstream in(c.text);
            PartHeaders h;
            std::string line = "untouched";
            EXPECT_EQ(cgp::readPartHeaders(in, h, "--b", line, limit), c.cut);
            EXPECT_EQ(h.contentType, c.contentType);
            if (!c.cut) {
                EXPECT_EQ(line, "untouched");
                std::getline(in, line);
            }
            EXPECT_EQ(line, c.line);
        }
    }
}

// A header line of many megabytes is kept to its first 64 KiB, like a
// folded one: what lies beyond is not looked at, and the block still ends
// at its own blank line.
TEST(ReadPartHeaders, HugeHeaderLineStaysBounded) {
    const std::string huge(3 * 1024 * 1024, 'h');
    struct Case {
        std::string block;
        const char* name;
    } cases[] = {
        {"Content-Type: text/plain; name=a.txt; x=" + huge + "\nX-Parvex: 1\n\nbody\n", "a.txt"},
        {"Content-Type: text/plain; x=" + huge + "; name=late.txt\nX-Parvex: 1\n\nbody\n", ""},
        {"Content-Type: text/plain; name=a.txt\nX-Long: " + huge + "\nX-Parvex: 1\n\nbody\n", "a.txt"},
    };
    for (std::size_t limit : {cgp::kDefaultLinePieceLimit, std::size_t(1000)}) {
        for (const Case& c : cases) {
            std::istringstream in(c.block);
            PartHeaders h;
            cgp::readPartHeaders(in, h, limit);
            EXPECT_EQ(h.contentType, "text/plain");
            EXPECT_EQ(h.name, c.name);
            EXPECT_TRUE(h.marked);
            std::string line;
            std::getline(in, line);
            EXPECT_EQ(line, "body");
        }
    }
}

TEST(ReadPartHeaders, HugeFoldedHeaderStaysBounded) {
    std::string block = "Content-Type: multipart/mixed; boundary=q\n";
    for (int i = 0; i < 20000; ++i) block += " x-filler=aaaaaaaaaaaaaaaaaaaaaaaa\n";
    block += "\nbody\n";
    std::istringstream in(block);
    PartHeaders h;
    cgp::readPartHeaders(in, h);
    EXPECT_EQ(h.contentType, "multipart/mixed");
    EXPECT_EQ(h.boundary, "q");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "body");
}

struct ParamCase {
    const char* header;
    const char* parameter;
    bool found;
    const char* value;
};

TEST(GetHeaderParameter, Table) {
    const ParamCase cases[] = {
        {"Content-Disposition: attachment; filename=\"a b.dat\"", "name", true, "a b.dat"},
        {"Content-Type: x; NAME=Up.Case", "name", true, "Up.Case"},
        {"Content-Type: x; name=", "name", true, ""},
        {"Content-Type: x; name=\"\"", "name", true, ""},
        {"Content-Type: x; name", "name", false, "untouched"},
        {"Content-Type: x; nam=e", "name", false, "untouched"},
        {"Content-Type: x; name=first; name=second", "name", true, "first"},
        {"Content-Type: x; name= spaced", "name", true, ""},
        {"", "name", false, "untouched"},
    };
    for (const ParamCase& c : cases) {
        std::string value = "untouched";
        EXPECT_EQ(cgp::getHeaderParameter(c.header, c.parameter, value), c.found) << c.header;
        EXPECT_EQ(value, c.value) << c.header;
    }
}

TEST(ToLowerFrom, LowersFromIndexThroughTheTable) {
    std::string s = "ABC<Mixed@Example.COM>";
    cgp::toLowerFrom(s, 4);
    EXPECT_EQ(s, "ABC<mixed@example.com>");
    std::string high = "\x8A\x9F\xD7Z";
    cgp::toLowerFrom(high, 0);
    EXPECT_EQ(high, std::string("\x9A\xFF\xD0z"));
    std::string shortText = "AB";
    cgp::toLowerFrom(shortText, 5);
    EXPECT_EQ(shortText, "AB");
}

}  // namespace
