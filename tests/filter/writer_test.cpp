// The converted copy of a message, from part records made by hand over files
// placed in a temporary program directory.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "filter/internal/encode.h"
#include "filter/parvex.h"
#include "runtime/base64.h"
#include "runtime/files.h"
#include "support/core/capture.h"
#include "support/core/failing_stream.h"
#include "support/core/run_program.h"

using testsupport::StdoutCapture;
using testsupport::TempDir;

namespace {

// A message as a list of lines, so positions after a given line can be
// computed for any line end.
struct Message {
    std::vector<std::string> lines;
    std::string eol = "\n";
    bool finalEol = true;

    std::string text() const {
        std::string t;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            t += lines[i];
            if (i + 1 < lines.size() || finalEol) t += eol;
        }
        return t;
    }
    // Stream position just after line i (0-based).
    std::streampos after(std::size_t i) const {
        std::size_t pos = 0;
        for (std::size_t k = 0; k <= i; ++k) {
            pos += lines[k].size();
            if (k + 1 < lines.size() || finalEol) pos += eol.size();
        }
        return static_cast<std::streamoff>(pos);
    }
    std::size_t index(const std::string& line, int occurrence = 1) const {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i] == line && --occurrence == 0) return i;
        ADD_FAILURE() << "no line " << line;
        return 0;
    }
};

std::string joinLines(const std::vector<std::string>& lines) {
    std::string t;
    for (const std::string& l : lines) t += l + "\n";
    return t;
}

// The usual shape: a text part, then the TNEF part, then the closing delimiter.
Message mixedWithTnef() {
    return Message{{
        "From: a@example.com",
        "Content-Type: multipart/mixed; boundary=\"XX\"",
        "",
        "--XX",
        "Content-Type: text/plain",
        "",
        "Hello",
        "--XX",
        "Content-Type: application/ms-tnef; name=\"winmail.dat\"",
        "Content-Transfer-Encoding: base64",
        "",
        "eJ8+IgEGkAgABAAAAAAAAQABAAEHkAYACAAAAOQEAAAAAAAA6AABCIAHABgAAABJUE0u",
        "TWljcm9zb2Z0IE1haWwuTm90ZQAxCAEEgAEAEAAAAG9uZS1maWxlAA==",
        "",
        "--XX--",
    }};
}

std::string decodeBase64(const std::string& text) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=' || c == '\n') continue;
        const std::size_t v = kAlphabet.find(c);
        if (v == std::string::npos) {
            ADD_FAILURE() << "bad base64 byte " << int(c);
            return out;
        }
        value = (value << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

std::string decodeQuotedPrintable(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;  // soft line break
        } else {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type from = 0;
    while (from < text.size()) {
        std::string::size_type nl = text.find('\n', from);
        if (nl == std::string::npos) nl = text.size();
        lines.push_back(text.substr(from, nl - from));
        from = nl + 1;
    }
    return lines;
}

std::string bytes(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>((i * 7 + 3) & 0xFF);
    return s;
}

class WriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        filter.programDir = dir.path() + "/";
        ASSERT_EQ(0, ::mkdir(temp().c_str(), 0755));
    }

    std::string temp() const { return dir.path() + "/pvx_temp"; }

    std::string extracted(const std::string& name, const std::string& content) {
        const std::string path = temp() + "/" + name;
        testsupport::writeFile(path, content);
        return path;
    }

    // Runs the writer; `ok` tells whether the output stream stayed good.
    std::string convert(const Message& m, const std::vector<AttachmentRecord>& records, bool* ok = nullptr) {
        std::istringstream in(m.text());
        std::ostringstream out;
        StdoutCapture capture;
        filter.writeConvertedMessage(in, out, records);
        log = capture.text();
        if (ok != nullptr)
            *ok = out.good();
        else
            EXPECT_TRUE(out.good());
        return out.str();
    }

    // The record for the TNEF part of mixedWithTnef() and its kin.
    AttachmentRecord recordFor(const Message& m, std::vector<std::string> entries, int boundaryOccurrence = 2) {
        AttachmentRecord r;
        const std::size_t opening = m.index("--XX", boundaryOccurrence);
        std::size_t headersEnd = opening + 1;
        while (!m.lines[headersEnd].empty()) ++headersEnd;
        std::size_t bodyEnd = headersEnd + 1;
        while (!m.lines[bodyEnd].empty()) ++bodyEnd;
        r.start = m.after(opening);
        r.end = m.after(bodyEnd);
        r.entries = std::move(entries);
        r.boundaryLine = "--XX";
        return r;
    }

    TempDir dir;
    Parvex filter;
    std::string log;
};

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// The lines that stand for one base64 attachment of 100 "A" bytes.
std::vector<std::string> pdfPart(const std::string& name = "doc.pdf") {
    return {"--XX",
            "Content-Type: application/pdf; ",
            "   name=\"" + name + "\"",
            "Content-Transfer-Encoding: base64",
            "Content-Disposition: attachment;",
            "   filename=\"" + name + "\"",
            "",
            repeat("QUFB", 19),
            repeat("QUFB", 14) + "QQ==",
            ""};
}

std::vector<std::string> concat(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const std::vector<std::string> kHead = {"From: a@example.com", "Content-Type: multipart/mixed; boundary=\"XX\"", "",
                                        "--XX",  "Content-Type: text/plain", "", "Hello"};

TEST_F(WriterTest, AttachmentReplacesThePartLineForLine) {
    const Message m = mixedWithTnef();
    const std::string path = extracted("doc.pdf", std::string(100, 'A'));
    const std::string out = convert(m, {recordFor(m, {path})});

    // The message ended with a line end, so one empty line follows its last line.
    EXPECT_EQ(joinLines(concat({kHead, pdfPart(), {"--XX--", ""}})), out);
    EXPECT_EQ("* Inserting file \"doc.pdf\"\n", log);
    EXPECT_FALSE(qdl::isFile(path)) << "an inserted file is deleted";
}

TEST_F(WriterTest, CrLfInputIsWrittenWithLfAndSamePositions) {
    Message m = mixedWithTnef();
    m.eol = "\r\n";
    const std::string path = extracted("doc.pdf", std::string(100, 'A'));
    EXPECT_EQ(joinLines(concat({kHead, pdfPart(), {"--XX--", ""}})), convert(m, {recordFor(m, {path})}));
}

TEST_F(WriterTest, MessageWithoutFinalLineEndGetsNoEmptyLine) {
    Message m = mixedWithTnef();
    m.finalEol = false;
    const std::string path = extracted("doc.pdf", std::string(100, 'A'));
    EXPECT_EQ(joinLines(concat({kHead, pdfPart(), {"--XX--"}})), convert(m, {recordFor(m, {path})}));
}

TEST_F(WriterTest, WithoutRecordsTheMessageIsCopied) {
    for (const char* eol : {"\n", "\r\n", "\r", "\n\r"}) {
        for (bool finalEol : {true, false}) {
            Message m = mixedWithTnef();
            m.eol = eol;
            m.finalEol = finalEol;
            std::string expected = joinLines(m.lines);
            if (finalEol) expected += "\n";
            EXPECT_EQ(expected, convert(m, {})) << "eol " << int(eol[0]) << " final " << finalEol;
        }
    }
}

TEST_F(WriterTest, EmptyInputGivesOneEmptyLine) {
    std::istringstream in("");
    std::ostringstream out;
    filter.writeConvertedMessage(in, out, {});
    EXPECT_EQ("\n", out.str());
    EXPECT_TRUE(out.good());
}

TEST_F(WriterTest, HtmlAlternativeIsInlineQuotedPrintable) {
    Message m = mixedWithTnef();
    const std::string path = extracted("body.html", "<p>a=b\tc\xE9</p>\r\n<br>\n");
    const std::string out = convert(m, {recordFor(m, {"*" + path})});
    const std::vector<std::string> part = {"--XX",
                                           "Content-Type: text/html",
                                           "Content-Transfer-Encoding: quoted-printable",
                                           "",
                                           "<p>a=3Db=09c=E9</p>\r",
                                           "<br>",
                                           ""};
    EXPECT_EQ(joinLines(concat({kHead, part, {"--XX--", ""}})), out);
    EXPECT_EQ("* Inserting file \"body.html\"\n", log);
    EXPECT_FALSE(qdl::isFile(path));
}

TEST_F(WriterTest, FileNameWithSpaceIsQuotedWhole) {
    const Message m = mixedWithTnef();
    const std::string path = extracted("my doc.pdf", std::string(100, 'A'));
    EXPECT_EQ(joinLines(concat({kHead, pdfPart("my doc.pdf"), {"--XX--", ""}})), convert(m, {recordFor(m, {path})}));
}

TEST_F(WriterTest, FileNameCannotBreakTheHeader) {
    const Message m = mixedWithTnef();
    const std::string path = extracted("a\"b\\c\nX-Evil: 1.pdf", std::string(100, 'A'));
    const std::string out = convert(m, {recordFor(m, {path})});
    EXPECT_NE(std::string::npos, out.find("   name=\"a\\\"b\\\\c_X-Evil: 1.pdf\"\n"));
    EXPECT_EQ(std::string::npos, out.find("\nX-Evil"));
}

TEST_F(WriterTest, DroppedRtfEntryIsNeitherWrittenNorDeleted) {
    const Message m = mixedWithTnef();
    const std::string rtf = extracted("body.rtf", "{\\rtf1}");
    const std::string pdf = extracted("doc.pdf", std::string(100, 'A'));
    EXPECT_EQ(joinLines(concat({kHead, pdfPart(), {"--XX--", ""}})), convert(m, {recordFor(m, {"\\*" + rtf, pdf})}));
    EXPECT_TRUE(qdl::isFile(rtf));
    EXPECT_EQ("* Inserting file \"doc.pdf\"\n", log);
}

TEST_F(WriterTest, SeveralEntriesInOrder) {
    const Message m = mixedWithTnef();
    const std::string a = extracted("a.pdf", std::string(100, 'A'));
    const std::string b = extracted("b.pdf", std::string(100, 'A'));
    EXPECT_EQ(joinLines(concat({kHead, pdfPart("a.pdf"), pdfPart("b.pdf"), {"--XX--", ""}})),
              convert(m, {recordFor(m, {a, b})}));
    EXPECT_EQ("* Inserting file \"a.pdf\"\n* Inserting file \"b.pdf\"\n", log);
}

// Keeping the TNEF part: after the inserted files come its own boundary
// line, headers and body.
struct KeepCase {
    const char* name;
    bool keepWinmail;
    bool alwaysRemove;
    bool keepPart;
    bool entries;
    bool kept;
};

class WriterKeepTest : public WriterTest, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(WriterKeepTest, TnefPartKeptOrRemoved) {
    const KeepCase& c = GetParam();
    filter.keepWinmail = c.keepWinmail;
    filter.alwaysRemoveWinmail = c.alwaysRemove;
    const Message m = mixedWithTnef();
    std::vector<std::string> entries;
    if (c.entries) entries.push_back(extracted("doc.pdf", std::string(100, 'A')));
    AttachmentRecord r = recordFor(m, entries);
    r.keepPart = c.keepPart;

    std::vector<std::string> tnefPart(m.lines.begin() + 7, m.lines.begin() + 14);
    std::vector<std::vector<std::string>> parts = {kHead};
    if (c.entries) parts.push_back(pdfPart());
    if (c.kept) parts.push_back(tnefPart);
    parts.push_back({"--XX--", ""});
    EXPECT_EQ(joinLines(concat(parts)), convert(m, {r}));
}

INSTANTIATE_TEST_SUITE_P(
    Flags, WriterKeepTest,
    ::testing::Values(KeepCase{"Plain", false, false, false, true, false},
                      KeepCase{"KeepWinmail", true, false, false, true, true},
                      KeepCase{"KeepPart", false, false, true, true, true},
                      KeepCase{"KeepPartButAlwaysRemove", false, true, true, true, false},
                      KeepCase{"KeepWinmailAndAlwaysRemove", true, true, false, true, true},
                      // A record without entries exists only with always-remove.
                      KeepCase{"EmptyRecordRemoves", false, true, false, false, false},
                      KeepCase{"EmptyRecordWithKeepWinmailCopiesPart", true, true, false, false, true},
                      KeepCase{"EmptyRecordKeepPartAlwaysRemove", false, true, true, false, false}),
    [](const ::testing::TestParamInfo<KeepCase>& info) { return std::string(info.param.name); });

TEST_F(WriterTest, TwoPartsBackToBackAreBothReplaced) {
    // The first TNEF body ends directly at the next boundary line.
    const Message m{{"Content-Type: multipart/mixed; boundary=XX", "", "--XX",
                     "Content-Type: application/ms-tnef", "", "AAAA", "--XX",
                     "Content-Type: application/ms-tnef", "", "BBBB", "", "--XX--"}};
    const std::string a = extracted("a.pdf", std::string(100, 'A'));
    const std::string b = extracted("b.pdf", std::string(100, 'A'));
    AttachmentRecord first;
    first.start = m.after(2);
    first.end = m.after(6);
    first.entries = {a};
    first.boundaryLine = "--XX";
    AttachmentRecord second;
    second.start = m.after(6);
    second.end = m.after(10);
    second.entries = {b};
    second.boundaryLine = "--XX";
    EXPECT_EQ(joinLines(concat({{"Content-Type: multipart/mixed; boundary=XX", ""}, pdfPart("a.pdf"),
                                pdfPart("b.pdf"), {"--XX--", ""}})),
              convert(m, {first, second}));
}

TEST_F(WriterTest, BodyEndingAtClosingDelimiterKeepsIt) {
    const Message m{{"Content-Type: multipart/mixed; boundary=XX", "", "--XX", "Content-Type: application/ms-tnef",
                     "", "AAAA", "--XX--", "epilogue"}};
    const std::string a = extracted("a.pdf", std::string(100, 'A'));
    AttachmentRecord r;
    r.start = m.after(2);
    r.end = m.after(6);
    r.entries = {a};
    r.boundaryLine = "--XX";
    EXPECT_EQ(joinLines(concat({{"Content-Type: multipart/mixed; boundary=XX", ""}, pdfPart("a.pdf"),
                                {"--XX--", "epilogue", ""}})),
              convert(m, {r}));
}

// The closing delimiter as the very last line: the walk could not note a
// position after it, yet the line must survive.
TEST_F(WriterTest, ClosingDelimiterAtEndOfInputSurvivesWithoutPosition) {
    for (bool finalEol : {true, false}) {
        for (std::streamoff end : {std::streamoff(-1), std::streamoff(0)}) {
            Message m{{"Content-Type: multipart/mixed; boundary=XX", "", "--XX", "Content-Type: application/ms-tnef",
                       "", "AAAA", "--XX--"}};
            m.finalEol = finalEol;
            AttachmentRecord r;
            r.start = m.after(2);
            r.end = end;
            r.entries = {extracted("a.pdf", std::string(100, 'A'))};
            r.boundaryLine = "--XX";
            std::vector<std::string> tail = {"--XX--"};
            if (finalEol) tail.push_back("");
            EXPECT_EQ(joinLines(concat({{"Content-Type: multipart/mixed; boundary=XX", ""}, pdfPart("a.pdf"), tail})),
                      convert(m, {r}))
                << finalEol << " " << end;
        }
    }
}

TEST_F(WriterTest, BodyRunningToTheEndIsDropped) {
    for (bool keep : {false, true}) {
        filter.keepWinmail = keep;
        const Message m{{"Content-Type: multipart/mixed; boundary=XX", "", "--XX", "Content-Type: application/ms-tnef",
                         "", "AAAA", "BBBB"}};
        AttachmentRecord r;
        r.start = m.after(2);
        r.end = 0;
        r.entries = {extracted("a.pdf", std::string(100, 'A'))};
        r.boundaryLine = "--XX";
        std::vector<std::vector<std::string>> parts = {{"Content-Type: multipart/mixed; boundary=XX", ""},
                                                       pdfPart("a.pdf")};
        if (keep) parts.push_back({"--XX", "Content-Type: application/ms-tnef", "", "AAAA", "BBBB"});
        EXPECT_EQ(joinLines(concat(parts)), convert(m, {r})) << keep;
    }
}

TEST_F(WriterTest, RecordNeverMetLeavesMessageUnchanged) {
    const Message m = mixedWithTnef();
    AttachmentRecord r = recordFor(m, {extracted("a.pdf", "x")});
    r.start = r.start + std::streamoff(1);
    EXPECT_EQ(joinLines(m.lines) + "\n", convert(m, {r}));
}

TEST_F(WriterTest, NestedBoundaryIsTheRecordsOwn) {
    const Message m{{"Content-Type: multipart/mixed; boundary=OUT", "", "--OUT",
                     "Content-Type: multipart/alternative; boundary=IN", "", "--IN", "Content-Type: text/plain", "",
                     "plain", "--IN", "Content-Type: application/ms-tnef", "", "AAAA", "--IN--", "--OUT--"}};
    const std::string html = extracted("body.html", "<b>x</b>");
    AttachmentRecord r;
    r.start = m.after(9);
    r.end = m.after(13);
    r.entries = {"*" + html};
    r.boundaryLine = "--IN";
    const std::vector<std::string> expected = {"Content-Type: multipart/mixed; boundary=OUT",
                                               "",
                                               "--OUT",
                                               "Content-Type: multipart/alternative; boundary=IN",
                                               "",
                                               "--IN",
                                               "Content-Type: text/plain",
                                               "",
                                               "plain",
                                               "--IN",
                                               "Content-Type: text/html",
                                               "Content-Transfer-Encoding: quoted-printable",
                                               "",
                                               "<b>x</b>",
                                               "--IN--",
                                               "--OUT--",
                                               ""};
    EXPECT_EQ(joinLines(expected), convert(m, {r}));
}

// Base64 line lengths for sizes around the 57-byte slice and the read block.
TEST_F(WriterTest, Base64LinesAreCutAt57Bytes) {
    const struct {
        std::size_t size;
        std::vector<std::size_t> lineLengths;  // the encoded lines, last one included
    } cases[] = {
        {0, {0}},
        {1, {4}},
        {56, {76}},
        {57, {76, 0}},
        {58, {76, 4}},
        {100, {76, 60}},
        {114, {76, 76, 0}},
    };
    for (const auto& c : cases) {
        std::istringstream in(bytes(c.size));
        std::ostringstream out;
        cgp::encodeBase64Lines(in, out);
        const std::vector<std::string> lines = splitLines(out.str());
        std::vector<std::size_t> lengths;
        for (const std::string& l : lines) lengths.push_back(l.size());
        EXPECT_EQ(c.lineLengths, lengths) << c.size;
        EXPECT_EQ('\n', out.str().back()) << c.size;
        EXPECT_EQ(bytes(c.size), decodeBase64(out.str())) << c.size;
    }
    // Around the read block: the text is the one encoding cut into lines of
    // 76, with a line end after the last one.
    for (const std::size_t size : {std::size_t(57 * 1024 - 1), std::size_t(57 * 1024), std::size_t(57 * 1024 + 1),
                                   std::size_t(57 * 2048 + 58)}) {
        std::istringstream in(bytes(size));
        std::ostringstream out;
        cgp::encodeBase64Lines(in, out);
        const std::string flat = qdl::base64EncodeString(bytes(size));
        std::string expected;
        for (std::size_t at = 0; at < flat.size(); at += 76) expected += flat.substr(at, 76) + "\n";
        if (size % 57 == 0) expected += "\n";
        EXPECT_TRUE(out.str() == expected) << size;
    }
}

TEST_F(WriterTest, LargeAttachmentRoundTrips) {
    // Several read blocks, and not a multiple of them.
    const std::size_t size = 57 * 64 * 5 + 1000;
    const std::string content = bytes(size);
    const Message m = mixedWithTnef();
    const std::string out = convert(m, {recordFor(m, {extracted("big.bin", content)})});
    const std::string::size_type from = out.find("   filename=\"big.bin\"\n\n");
    ASSERT_NE(std::string::npos, from);
    const std::string::size_type bodyStart = from + std::string("   filename=\"big.bin\"\n\n").size();
    const std::string::size_type bodyEnd = out.find("\n\n--XX--", bodyStart);
    ASSERT_NE(std::string::npos, bodyEnd);
    const std::string body = out.substr(bodyStart, bodyEnd + 1 - bodyStart);
    const std::vector<std::string> lines = splitLines(body);
    ASSERT_EQ((size + 56) / 57, lines.size());
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) ASSERT_EQ(76u, lines[i].size()) << i;
    EXPECT_EQ(content, decodeBase64(body));
}

TEST(QuotedPrintable, EncodesByteClasses) {
    std::string all;
    for (int c = 0; c < 256; ++c)
        if (c != '\n' && c != '\r') all += static_cast<char>(c);
    std::istringstream in(all);
    std::ostringstream out;
    cgp::encodeQuotedPrintable(in, out);
    const std::string text = out.str();
    EXPECT_EQ(all, decodeQuotedPrintable(text));
    EXPECT_EQ("=00=01", text.substr(0, 6));
    EXPECT_NE(std::string::npos, text.find("=09"));
    EXPECT_NE(std::string::npos, text.find("=3D"));
    EXPECT_NE(std::string::npos, text.find("=7F"));
    EXPECT_NE(std::string::npos, text.find("=FF"));
    for (char c : text) EXPECT_TRUE(c == '\n' || (c >= 32 && c <= 126)) << int(c);
}

TEST(QuotedPrintable, LongLinesGetSoftBreaks) {
    const struct {
        std::string input;
        std::string output;
    } cases[] = {
        // 76 characters fit when the line ends right after them.
        {std::string(76, 'a') + "\n", std::string(76, 'a') + "\n"},
        {std::string(76, 'a'), std::string(76, 'a')},
        {std::string(77, 'a') + "\n", std::string(75, 'a') + "=\n" + "aa\n"},
        // An escape is never split.
        {std::string(74, 'a') + "=b", std::string(74, 'a') + "=\n=3Db"},
        {"short\r\nlines\n", "short\r\nlines\n"},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.input);
        std::ostringstream out;
        cgp::encodeQuotedPrintable(in, out);
        EXPECT_EQ(c.output, out.str()) << c.input;
    }
    std::string longText;
    for (int i = 0; i < 3000; ++i) longText += static_cast<char>(i % 3 == 0 ? '=' : 'a' + i % 26);
    longText += "\nend\n";
    std::istringstream in(longText);
    std::ostringstream out;
    cgp::encodeQuotedPrintable(in, out);
    for (const std::string& line : splitLines(out.str())) EXPECT_LE(line.size(), 76u);
    EXPECT_EQ(longText, decodeQuotedPrintable(out.str()));
}

// A file that cannot be read must not give a message with an empty part:
// the output fails, and the rest of the extracted files are removed.
TEST_F(WriterTest, UnreadableFileFailsTheOutput) {
    const Message m = mixedWithTnef();
    const std::string missing = temp() + "/missing.pdf";
    const std::string later = extracted("later.pdf", "x");
    const std::string dropped = extracted("body.rtf", "x");
    bool ok = true;
    convert(m, {recordFor(m, {missing, later, "\\*" + dropped})}, &ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(std::string::npos, log.find("Unable to read extracted file \"missing.pdf\""));
    EXPECT_FALSE(qdl::isFile(later));
    EXPECT_TRUE(qdl::isFile(dropped));
}

TEST_F(WriterTest, DirectoryEntryFailsTheOutput) {
    const Message m = mixedWithTnef();
    const std::string sub = temp() + "/sub";
    ASSERT_EQ(0, ::mkdir(sub.c_str(), 0755));
    bool ok = true;
    convert(m, {recordFor(m, {sub})}, &ok);
    EXPECT_FALSE(ok);
}

// Paths come from tnef's output, which the TNEF data can steer: nothing
// outside the temporary directory is read into a message or deleted.
TEST_F(WriterTest, FileOutsideTheTemporaryDirectoryIsRefused) {
    const Message m = mixedWithTnef();
    const std::string outside = dir / "secret.txt";
    testsupport::writeFile(outside, "secret");
    const std::string link = temp() + "/link.txt";
    ASSERT_EQ(0, ::symlink(outside.c_str(), link.c_str()));
    for (const std::string& entry : {outside, temp() + "/../secret.txt", link}) {
        bool ok = true;
        const std::string out = convert(m, {recordFor(m, {entry})}, &ok);
        EXPECT_FALSE(ok) << entry;
        EXPECT_TRUE(qdl::isFile(outside)) << entry;
        EXPECT_EQ(std::string::npos, out.find("c2VjcmV0")) << entry;
    }
}

TEST_F(WriterTest, OwnTemporaryDirectoryIsAccepted) {
    const std::string own = dir / "own";
    ASSERT_EQ(0, ::mkdir(own.c_str(), 0755));
    filter.tempDir = own + "/";
    const std::string path = own + "/doc.pdf";
    testsupport::writeFile(path, std::string(100, 'A'));
    const Message m = mixedWithTnef();
    EXPECT_EQ(joinLines(concat({kHead, pdfPart(), {"--XX--", ""}})), convert(m, {recordFor(m, {path})}));
}

// The message file fails to read part way through (an I/O error): the copy
// is incomplete, so the output must fail, and the extracted files go.
TEST_F(WriterTest, ReadErrorFailsTheOutput) {
    const Message m = mixedWithTnef();
    const std::string text = m.text();
    for (std::size_t cut : {std::size_t(0), std::size_t(30), text.size() - 3, text.size()}) {
        const std::string path = extracted("doc.pdf", std::string(100, 'A'));
        testsupport::FailingBuffer buffer(text.substr(0, cut));
        std::istream in(&buffer);
        std::ostringstream out;
        StdoutCapture capture;
        EXPECT_NO_THROW(filter.writeConvertedMessage(in, out, {recordFor(m, {path})})) << cut;
        capture.text();
        EXPECT_FALSE(out.good()) << cut;
        EXPECT_FALSE(qdl::isFile(path)) << cut;
    }
}

TEST_F(WriterTest, FailedOutputStreamStaysFailed) {
    const Message m = mixedWithTnef();
    const std::string path = extracted("doc.pdf", std::string(100, 'A'));
    std::istringstream in(m.text());
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    StdoutCapture capture;
    filter.writeConvertedMessage(in, out, {recordFor(m, {path})});
    capture.text();
    EXPECT_FALSE(out.good());
}

}  // namespace
