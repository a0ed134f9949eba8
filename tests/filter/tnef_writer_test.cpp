// The TNEF writer of the test support code, checked by an independent
// reader of its bytes and by the real tnef program (skipped when tnef is not
// on PATH). The tnef cases also pin down the behaviour of tnef 1.4.18 that
// the filter relies on: its verbose list, the saved body, and what it does
// with broken input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/core/run_program.h"
#include "support/core/tool_path.h"
#include "support/filter/samples.h"
#include "support/filter/tnef_writer.h"

using testsupport::ProgramResult;
using testsupport::TempDir;
using testsupport::TnefAttachment;
using testsupport::TnefSpan;
using testsupport::TnefWriter;
namespace tnef = testsupport::tnef;

namespace {

std::uint32_t rd32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s.at(at + i));
    return v;
}

std::uint16_t rd16(const std::string& s, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(s.at(at)) |
                                      (static_cast<unsigned char>(s.at(at + 1)) << 8));
}

struct ReadAttr {
    std::uint8_t level;
    std::uint32_t id;
    std::string data;
    bool checksumOk;
};

// Walks a stream attribute by attribute; fails the test when the lengths do
// not chain exactly to the end.
std::vector<ReadAttr> readStream(const std::string& s) {
    std::vector<ReadAttr> attrs;
    EXPECT_GE(s.size(), 6u);
    std::size_t at = 6;
    while (at < s.size()) {
        if (s.size() - at < 11) {
            ADD_FAILURE() << "short attribute at " << at;
            break;
        }
        ReadAttr a;
        a.level = static_cast<std::uint8_t>(s[at]);
        a.id = rd32(s, at + 1);
        const std::uint32_t len = rd32(s, at + 5);
        if (s.size() - at - 11 < len) {
            ADD_FAILURE() << "attribute at " << at << " runs past the end";
            break;
        }
        a.data = s.substr(at + 9, len);
        a.checksumOk = rd16(s, at + 9 + len) == TnefWriter::checksum(a.data);
        attrs.push_back(a);
        at += 11 + len;
    }
    return attrs;
}

// The string values of one property in a MAPI block (kPtString8 only).
std::vector<std::string> string8Values(const std::string& block, std::uint16_t wantedId) {
    std::vector<std::string> found;
    const std::uint32_t count = rd32(block, 0);
    std::size_t at = 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint16_t type = rd16(block, at);
        const std::uint16_t id = rd16(block, at + 2);
        at += 4;
        if (type == tnef::kPtString8 || type == tnef::kPtUnicode || type == tnef::kPtBinary) {
            EXPECT_EQ(rd32(block, at), 1u);
            const std::uint32_t len = rd32(block, at + 4);
            if (id == wantedId && type == tnef::kPtString8) found.push_back(block.substr(at + 8, len));
            at += 8 + ((len + 3) / 4) * 4;
        } else {
            at += 4;
        }
    }
    EXPECT_EQ(at, block.size());
    return found;
}

std::string allBytes() {
    std::string s;
    for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
    return s;
}

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return s;
}

}  // namespace

// ---- The bytes themselves -------------------------------------------------

TEST(TnefWriterFormat, SignatureKeyAndChecksummedAttributes) {
    TnefWriter w;
    w.setKey(0x0237).setSubject("Quarterly");
    w.addAttachment("report.pdf", allBytes(), "REPORT~1.PDF");
    w.addAttachment("notes.txt", "hello\n");
    w.setRtfBody("{\\rtf1 Hi}");
    const std::string s = w.bytes();

    ASSERT_EQ(rd32(s, 0), 0x223E9F78u);
    EXPECT_EQ(s.substr(0, 4), std::string("\x78\x9f\x3e\x22", 4));
    EXPECT_EQ(rd16(s, 4), 0x0237);

    const std::vector<ReadAttr> attrs = readStream(s);
    std::vector<std::uint32_t> ids;
    for (const ReadAttr& a : attrs) {
        EXPECT_TRUE(a.checksumOk) << std::hex << a.id;
        ids.push_back(a.id);
    }
    const std::vector<std::uint32_t> expected = {
        tnef::kAttTnefVersion,     tnef::kAttOemCodepage,      tnef::kAttMessageClass, tnef::kAttSubject,
        tnef::kAttMapiProps,       tnef::kAttAttachRenddata,   tnef::kAttAttachModifyDate,
        tnef::kAttAttachTitle,     tnef::kAttAttachData,       tnef::kAttAttachment,
        tnef::kAttAttachRenddata,  tnef::kAttAttachModifyDate, tnef::kAttAttachTitle,  tnef::kAttAttachData};
    EXPECT_EQ(ids, expected);
    for (std::size_t i = 0; i < attrs.size(); ++i)
        EXPECT_EQ(attrs[i].level, i < 5 ? tnef::kLevelMessage : tnef::kLevelAttachment) << i;

    // Title with its NUL, data as given, long name in the MAPI block.
    EXPECT_EQ(attrs[7].data, std::string("REPORT~1.PDF\0", 13));
    EXPECT_EQ(attrs[8].data, allBytes());
    EXPECT_EQ(string8Values(attrs[9].data, tnef::kPrAttachLongFilename),
              std::vector<std::string>{std::string("report.pdf\0", 11)});
    EXPECT_EQ(attrs[12].data, std::string("notes.txt\0", 10));
    EXPECT_EQ(attrs[5].data.size(), 14u);
    EXPECT_EQ(attrs[6].data, TnefWriter::date(testsupport::TnefDate{}));
}

TEST(TnefWriterFormat, ChecksumIsTheByteSumModulo65536) {
    EXPECT_EQ(TnefWriter::checksum(""), 0);
    EXPECT_EQ(TnefWriter::checksum(std::string("\x01\x02\xff", 3)), 0x102);
    EXPECT_EQ(TnefWriter::checksum(std::string(300, '\xff')), (300 * 255) % 65536);
}

TEST(TnefWriterFormat, RtfValueHeaders) {
    const std::string rtf = "{\\rtf1 Hello world}";
    const std::string stored = TnefWriter::storedRtf(rtf);
    EXPECT_EQ(rd32(stored, 0), rtf.size() + 12);
    EXPECT_EQ(rd32(stored, 4), rtf.size());
    EXPECT_EQ(stored.substr(8, 4), "MELA");
    EXPECT_EQ(rd32(stored, 12), 0u);
    EXPECT_EQ(stored.substr(16), rtf);

    const std::string packed = TnefWriter::compressedRtf(rtf);
    EXPECT_EQ(rd32(packed, 0), packed.size() - 4);
    EXPECT_EQ(rd32(packed, 4), rtf.size());
    EXPECT_EQ(packed.substr(8, 4), "LZFu");
    EXPECT_EQ(rd32(packed, 12), TnefWriter::rtfCrc(packed.substr(16)));
    EXPECT_NE(rd32(TnefWriter::compressedRtf(rtf, true), 12), rd32(packed, 12));
}

TEST(TnefWriterFormat, DamageOptions) {
    TnefWriter w;
    w.addAttachment("a.bin", "aaaa");
    w.addAttachment("b.bin", "bbbb");
    const std::string good = w.bytes();

    TnefWriter cut = w;
    cut.truncateAt(50);
    EXPECT_EQ(cut.bytes(), good.substr(0, 50));
    TnefWriter longer = w;
    longer.truncateAt(good.size() + 10);
    EXPECT_EQ(longer.bytes(), good);

    TnefWriter sig = w;
    sig.setSignature(0x12345678);
    EXPECT_EQ(rd32(sig.bytes(), 0), 0x12345678u);
    EXPECT_EQ(sig.bytes().substr(4), good.substr(4));

    TnefWriter sum = w;
    sum.breakChecksum(tnef::kAttAttachData, 1);
    const std::vector<ReadAttr> attrs = readStream(sum.bytes());
    int bad = 0;
    for (const ReadAttr& a : attrs) {
        if (!a.checksumOk) {
            ++bad;
            EXPECT_EQ(a.data, "bbbb");
        }
    }
    EXPECT_EQ(bad, 1);

    TnefWriter tail = w;
    tail.appendGarbage("\r\n");
    EXPECT_EQ(tail.bytes(), good + "\r\n");

    const TnefSpan data2 = w.span(tnef::kAttAttachData, 1);
    EXPECT_EQ(good.substr(data2.dataOffset, data2.dataLength), "bbbb");
    EXPECT_EQ(data2.end, good.size());
    EXPECT_THROW(w.span(tnef::kAttAttachData, 2), std::out_of_range);
}

// ---- What tnef makes of it -----------------------------------------------

namespace {

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = line.find("\t|\t", from);
        fields.push_back(line.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) break;
        from = at + 3;
    }
    return fields;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t nl = text.find('\n', from);
        if (nl == std::string::npos) {
            out.push_back(text.substr(from));
            break;
        }
        out.push_back(text.substr(from, nl - from));
        from = nl + 1;
    }
    return out;
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

class TnefTool : public ::testing::Test {
protected:
    void SetUp() override {
        tnef_ = testsupport::findInPath("tnef");
        if (tnef_.empty()) GTEST_SKIP() << "tnef is not installed";
        outDir_ = dir_ / "out";
        ASSERT_EQ(::mkdir(outDir_.c_str(), 0755), 0);
    }

    // The filter's own argument list, with or without the body.
    ProgramResult unpack(const std::string& data, bool saveBody = true) {
        testsupport::writeFile(input(), data);
        std::vector<std::string> args = {tnef_, "-f", input()};
        if (saveBody) args.push_back("--save-body=saved_body");
        args.push_back("--number-backups");
        args.push_back("--directory=" + outDir_);
        args.push_back("--verbose");
        return testsupport::runProgram(args, "");
    }

    ProgramResult run(const std::string& data, std::vector<std::string> options) {
        testsupport::writeFile(input(), data);
        std::vector<std::string> args = {tnef_};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(input());
        return testsupport::runProgram(args, "");
    }

    std::string input() const { return dir_ / "winmail.dat"; }
    std::vector<std::string> written() const { return testsupport::listDir(outDir_); }
    std::string outFile(const std::string& name) const { return outDir_ + "/" + name; }

    TempDir dir_;
    std::string tnef_;
    std::string outDir_;
};

}  // namespace

struct ExtractCase {
    const char* label;
    std::string name;   // what the sender called the file
    std::string title;  // 8.3 title; empty: the name is the title
    bool unicode;
    std::string data;
};

TEST_F(TnefTool, ExtractsEachAttachmentUnderItsNameWithIdenticalBytes) {
    const std::vector<ExtractCase> cases = {
        {"title only", "AUTHORS", "", false, "Authors of tnef\n"},
        {"long name beats the 8.3 title", "quarterly report 2024.pdf", "QUARTE~1.PDF", false, pattern(5000)},
        {"every byte value", "bytes.bin", "", false, allBytes()},
        {"empty file", "empty.txt", "", false, ""},
        {"large file", "big.iso", "", false, pattern(300000)},
        {"unicode long name", "Gr\xc3\xbc\xc3\x9f" "e (Bericht).doc", "GRE~1.DOC", true, pattern(77)},
        {"cp1252 long name stays raw", "d\xf6" "cument.pdf", "DCUMEN~1.PDF", false, pattern(859)},
    };
    for (const ExtractCase& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir fresh;
        outDir_ = fresh.path();
        TnefWriter w;
        TnefAttachment& a = w.addAttachment(c.name, c.data, c.title);
        a.unicodeLongName = c.unicode;
        const ProgramResult r = unpack(w.bytes());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(written(), std::vector<std::string>{c.name});
        ASSERT_TRUE(testsupport::pathExists(outFile(c.name)));
        EXPECT_EQ(testsupport::readFile(outFile(c.name)), c.data);
        EXPECT_EQ(r.out, c.name + "\t|\t" + outFile(c.name) + "\t|\tunknown\t|\t\n");
    }
}

TEST_F(TnefTool, VerboseListHasNamePathMediaTypeAndContentId) {
    TnefWriter w;
    TnefAttachment& pdf = w.addAttachment("report.pdf", pattern(1000), "REPORT~1.PDF");
    pdf.mimeType = "application/pdf";
    pdf.contentId = "part1@example.com";
    w.addAttachment("notes.txt", "hello\n");
    TnefAttachment& img = w.addAttachment("logo.png", pattern(64));
    img.mimeType = "image/png";

    const ProgramResult r = unpack(w.bytes());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    // Stream order, each line NAME TAB|TAB PATH TAB|TAB MIME TAB|TAB CONTENT-ID LF;
    // PATH is the --directory text, "/", the name.
    EXPECT_EQ(r.out, "report.pdf\t|\t" + outFile("report.pdf") + "\t|\tapplication/pdf\t|\tpart1@example.com\n"
                     "notes.txt\t|\t" + outFile("notes.txt") + "\t|\tunknown\t|\t\n"
                     "logo.png\t|\t" + outFile("logo.png") + "\t|\timage/png\t|\t\n");
    for (const std::string& line : lines(r.out)) EXPECT_EQ(splitFields(line).size(), 4u) << line;
    EXPECT_EQ(testsupport::readFile(outFile("report.pdf")), pattern(1000));
}

TEST_F(TnefTool, ListModesAndTheModificationDate) {
    TnefWriter w;
    TnefAttachment& a = w.addAttachment("report.pdf", pattern(300), "REPORT~1.PDF");
    a.modifyDate = testsupport::TnefDate{2001, 2, 3, 4, 5, 6, 6};
    w.addAttachment("undated.txt", "x").withModifyDate = false;

    const ProgramResult list = run(w.bytes(), {"-t"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, "report.pdf\t|\treport.pdf\nundated.txt\t|\tundated.txt\n");

    const ProgramResult verbose = run(w.bytes(), {"-t", "-v"});
    EXPECT_EQ(verbose.exitCode, 0);
    EXPECT_EQ(verbose.out,
              "        300\t|\t2001/02/03 04:05:06\t|\treport.pdf\t|\treport.pdf\t|\tunknown\t|\t\n"
              "          1\t|\t0000/00/00 00:00:00\t|\tundated.txt\t|\tundated.txt\t|\tunknown\t|\t\n");
    EXPECT_TRUE(written().empty());
}

TEST_F(TnefTool, DataBeforeTitleAndDuplicateNames) {
    TnefWriter w;
    w.addAttachment("same.txt", "first").dataBeforeTitle = true;
    w.addAttachment("same.txt", "second");
    const ProgramResult r = unpack(w.bytes());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "same.txt\t|\t" + outFile("same.txt") + "\t|\tunknown\t|\t\n"
                     "same.txt\t|\t" + outFile("same.txt.1") + "\t|\tunknown\t|\t\n");
    EXPECT_EQ(testsupport::readFile(outFile("same.txt")), "first");
    EXPECT_EQ(testsupport::readFile(outFile("same.txt.1")), "second");
}

TEST_F(TnefTool, RtfBodyIsSavedWithSaveBody) {
    const std::string rtf = "{\\rtf1\\ansi\\deff0 {\\fonttbl {\\f0 Arial;}}\\f0\\fs20 Hello \\b world\\b0.\\par}";
    TnefWriter w;
    w.addAttachment("a.txt", "attached");
    w.setRtfBody(rtf);

    const ProgramResult r = unpack(w.bytes());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    // The body comes after the attachments, named after --save-body plus ".rtf".
    EXPECT_EQ(r.out, "a.txt\t|\t" + outFile("a.txt") + "\t|\tunknown\t|\t\n"
                     "saved_body.rtf\t|\t" + outFile("saved_body.rtf") + "\t|\ttext/rtf\t|\t\n");
    EXPECT_EQ(testsupport::readFile(outFile("saved_body.rtf")), rtf);

    TempDir again;
    outDir_ = again.path();
    const ProgramResult noBody = unpack(w.bytes(), false);
    EXPECT_EQ(noBody.exitCode, 0);
    EXPECT_EQ(written(), std::vector<std::string>{"a.txt"});
}

TEST_F(TnefTool, RtfBodyForms) {
    const std::string rtf = "{\\rtf1\\ansi Hello world, this is RTF.}";
    {
        SCOPED_TRACE("stored: tnef keeps 12 header bytes and drops the last 12 of the text");
        TnefWriter w;
        w.setRtfBody(rtf, TnefWriter::RtfForm::Stored);
        const ProgramResult r = unpack(w.bytes());
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, "");
        const std::string stored = TnefWriter::storedRtf(rtf);
        EXPECT_EQ(testsupport::readFile(outFile("saved_body.rtf")), stored.substr(4, rtf.size()));
    }
    {
        SCOPED_TRACE("bad CRC: an empty body file and a warning, exit 0");
        TempDir fresh;
        outDir_ = fresh.path();
        TnefWriter w;
        w.setRtfBody(rtf, TnefWriter::RtfForm::CompressedBadCrc);
        const ProgramResult r = unpack(w.bytes());
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, "Invalid RTF CRC, input file may be corrupted\n");
        EXPECT_EQ(r.out, "saved_body.rtf\t|\t" + outFile("saved_body.rtf") + "\t|\ttext/rtf\t|\t\n");
        EXPECT_EQ(testsupport::readFile(outFile("saved_body.rtf")), "");
    }
    {
        SCOPED_TRACE("long body");
        TempDir fresh;
        outDir_ = fresh.path();
        const std::string big = "{\\rtf1 " + std::string(20000, 'x') + "}";
        TnefWriter w;
        w.setRtfBody(big);
        const ProgramResult r = unpack(w.bytes());
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(testsupport::readFile(outFile("saved_body.rtf")), big);
    }
}

TEST_F(TnefTool, TextAndHtmlBodiesFollowBodyPref) {
    TnefWriter w;
    w.setTextBody("plain body\n");
    w.setHtmlBody("<html><body>html body</body></html>");
    // Default preference: only the first kind found of RTF, HTML, text.
    const ProgramResult r = unpack(w.bytes());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(written(), std::vector<std::string>{"saved_body.html"});
    EXPECT_EQ(testsupport::readFile(outFile("saved_body.html")), "<html><body>html body</body></html>");

    TempDir fresh;
    outDir_ = fresh.path();
    const ProgramResult all = run(w.bytes(), {"--save-body=b", "--body-pref=all", "-C", outDir_});
    EXPECT_EQ(all.exitCode, 0);
    EXPECT_EQ(written(), (std::vector<std::string>{"b.html", "b.txt"}));
    EXPECT_EQ(testsupport::readFile(outFile("b.txt")), "plain body\n");
}

struct TruncCase {
    const char* label;
    std::size_t cut;
    int exitCode;
    const char* errPrefix;  // "" for no standard error at all
    std::vector<std::string> files;
};

TEST_F(TnefTool, TruncatedStreams) {
    TnefWriter w;
    w.addAttachment("first.bin", pattern(200));
    w.addAttachment("second.bin", pattern(300));
    const TnefSpan data1 = w.span(tnef::kAttAttachData, 0);
    const TnefSpan rend2 = w.span(tnef::kAttAttachRenddata, 1);
    const TnefSpan date2 = w.span(tnef::kAttAttachModifyDate, 1);
    const TnefSpan data2 = w.span(tnef::kAttAttachData, 1);
    const std::string unexpected = "Unexpected end of input: ";
    const std::string garbage = "ERROR: garbage at end of file.\n";

    const std::vector<TruncCase> cases = {
        {"empty input", 0, 1, unexpected.c_str(), {}},
        {"inside the signature", 3, 1, unexpected.c_str(), {}},
        {"inside the first attachment's data", data1.dataOffset + 10, 1, unexpected.c_str(), {}},
        // The first attachment is written once the next one has begun.
        {"inside the second attachment's rendering data", rend2.dataOffset + 4, 1, unexpected.c_str(), {}},
        {"inside the second attachment's date", date2.dataOffset + 4, 1, unexpected.c_str(), {"first.bin"}},
        {"inside the second attachment's data", data2.dataOffset + 150, 1, unexpected.c_str(), {"first.bin"}},
        {"at the end of the first attachment", rend2.offset, 0, "", {"first.bin"}},
        {"seven bytes into an attribute header", rend2.offset + 7, 0, garbage.c_str(), {"first.bin"}},
        {"eight bytes into an attribute header", rend2.offset + 8, 1, unexpected.c_str(), {}},
    };
    for (const TruncCase& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir fresh;
        outDir_ = fresh.path();
        TnefWriter t = w;
        t.truncateAt(c.cut);
        const ProgramResult r = unpack(t.bytes(), false);
        EXPECT_EQ(r.exitCode, c.exitCode);
        if (*c.errPrefix)
            EXPECT_TRUE(startsWith(r.err, c.errPrefix)) << r.err;
        else
            EXPECT_EQ(r.err, "");
        EXPECT_EQ(written(), c.files);
        std::string expectedOut;
        for (const std::string& f : c.files) expectedOut += f + "\t|\t" + outFile(f) + "\t|\tunknown\t|\t\n";
        EXPECT_EQ(r.out, expectedOut);
        for (const std::string& f : c.files) EXPECT_EQ(testsupport::readFile(outFile(f)), pattern(200));
    }
}

TEST_F(TnefTool, BadSignatureIsNotTnef) {
    TnefWriter w;
    w.addAttachment("a.txt", "data");
    w.setSignature(0x323E9F78);
    const ProgramResult r = unpack(w.bytes());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "Seems not to be a TNEF file\n");  // on standard output
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(written().empty());

    const ProgramResult text = unpack("This is plain text, not TNEF at all.\n");
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_EQ(text.out, "Seems not to be a TNEF file\n");
}

TEST_F(TnefTool, BadChecksumStopsAtThatAttribute) {
    TnefWriter w;
    w.addAttachment("first.txt", "one");
    w.addAttachment("second.txt", "two");
    w.breakChecksum(tnef::kAttAttachData, 1);

    const ProgramResult r = unpack(w.bytes());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "ERROR: invalid checksum, input file may be corrupted\n");
    EXPECT_EQ(r.out, "first.txt\t|\t" + outFile("first.txt") + "\t|\tunknown\t|\t\n");
    EXPECT_EQ(written(), std::vector<std::string>{"first.txt"});

    TempDir fresh;
    outDir_ = fresh.path();
    const ProgramResult lenient = run(w.bytes(), {"-K", "-v", "-C", outDir_});
    EXPECT_EQ(lenient.exitCode, 0);
    EXPECT_EQ(lenient.err, "WARNING: invalid checksum, input file may be corrupted\n");
    EXPECT_EQ(written(), (std::vector<std::string>{"first.txt", "second.txt"}));
}

TEST_F(TnefTool, TrailingBytesAreReportedButNotAnError) {
    TnefWriter w;
    w.addAttachment("a.txt", "data");
    w.appendGarbage("\r\n");
    const ProgramResult r = unpack(w.bytes());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "ERROR: garbage at end of file.\n");
    EXPECT_EQ(written(), std::vector<std::string>{"a.txt"});
}

TEST_F(TnefTool, EmptyCompressedRtfBodyAbortsTnefAndLosesItsList) {
    TnefWriter w;
    w.addAttachment("a.txt", "data");
    w.setRtfBody("");
    const ProgramResult r = unpack(w.bytes());
    EXPECT_EQ(r.exitCode, -1);  // killed by SIGABRT (an assertion in tnef)
    EXPECT_EQ(r.out, "");  // buffered list lines die with the process
}

TEST_F(TnefTool, OwnTruncatedStreamBehavesLikeTheTruncatedSample) {
    const std::string sample = testsupport::tnefSample("truncated-derived-from-attach2.tnef");
    if (sample.empty()) GTEST_SKIP() << testsupport::noSamplesReason();
    const ProgramResult theirs = unpack(testsupport::readFile(sample), false);

    TempDir fresh;
    const std::string theirDir = outDir_;
    outDir_ = fresh.path();
    TnefWriter w;
    w.addAttachment("AUTHORS", pattern(244));
    w.addAttachment("README", pattern(893));
    w.truncateAt(w.span(tnef::kAttAttachData, 1).dataOffset + 100);
    const ProgramResult ours = unpack(w.bytes(), false);

    EXPECT_EQ(ours.exitCode, theirs.exitCode);
    EXPECT_EQ(theirs.exitCode, 1);
    EXPECT_TRUE(startsWith(theirs.err, "Unexpected end of input")) << theirs.err;
    EXPECT_TRUE(startsWith(ours.err, "Unexpected end of input")) << ours.err;
    EXPECT_EQ(testsupport::listDir(theirDir), std::vector<std::string>{"AUTHORS"});
    EXPECT_EQ(written(), std::vector<std::string>{"AUTHORS"});
}

// tnef prints the attachment's name raw, so a crafted name can forge list
// lines; only the PATH column is sanitised ("%XX" for TAB, "|", "/", LF...).
TEST_F(TnefTool, CraftedNameForgesVerboseListLines) {
    TnefWriter w;
    w.addAttachment("a\nzz\t|\t/etc/passwd\n", "data", "EVIL.TXT");
    const ProgramResult r = unpack(w.bytes());
    EXPECT_EQ(r.exitCode, 0);
    const std::string sanitised = "a%0Azz%09%7C%09%2Fetc%2Fpasswd%0A";
    EXPECT_EQ(r.out, "a\nzz\t|\t/etc/passwd\n\t|\t" + outFile(sanitised) + "\t|\tunknown\t|\t\n");
    EXPECT_EQ(written(), std::vector<std::string>{sanitised});
    EXPECT_EQ(testsupport::readFile(outFile(sanitised)), "data");
}
