// The walk over real tnef: a private program directory with links to the
// system's tnef and our rtf2html, or small stand-in scripts where a test
// needs tnef to misbehave.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "filter/parvex.h"
#include "filter/temp_dirs.h"
#include "filter/unpack.h"
#include "runtime/base64.h"
#include "runtime/files.h"
#include "runtime/stream.h"
#include "support/core/capture.h"
#include "support/core/run_program.h"
#include "support/filter/message_builder.h"
#include "support/filter/samples.h"
#include "support/filter/tnef_writer.h"
#include "support/core/tool_path.h"

namespace {

using testsupport::TnefWriter;

using testsupport::Part;

// Base64 lines, each ended by LF.
std::string base64Lines(const std::string& data, std::size_t width = 76) {
    return testsupport::base64Lines(data, width) + "\n";
}

// A part written out as text: header lines, an empty line, the body.
Part raw(const std::string& text) {
    Part p;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos || nl == pos) {
            p.body = nl == std::string::npos ? std::string() : text.substr(nl + 1);
            break;
        }
        p.headers.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return p;
}

Part text() { return testsupport::textPart("Hello there."); }
Part tnef(const std::string& data) { return testsupport::tnefPart(data); }

Part withHeader(Part p, const std::string& header) {
    p.headers.push_back(header);
    return p;
}

// A whole message whose multipart/mixed body holds `parts`.
std::string mail(std::vector<Part> parts, const std::string& extraHeader = "") {
    Part m = testsupport::message("test", testsupport::multipart("mixed", "=_outer", std::move(parts)));
    if (!extraHeader.empty()) m.headers.push_back(extraHeader);
    return testsupport::render(m);
}

std::size_t countOf(const std::string& text, const std::string& word) {
    std::size_t n = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

std::string twoAttachments() {
    TnefWriter w;
    w.addAttachment("first.txt", "first attachment\n");
    w.addAttachment("second.bin", std::string("\x00\x01\x02\xff second", 11));
    return w.bytes();
}

std::string withRtfBody() {
    TnefWriter w;
    w.setRtfBody("{\\rtf1\\ansi Hello {\\b bold} world}");
    w.addAttachment("doc.txt", "document\n");
    return w.bytes();
}

struct WalkResult {
    bool converted = false;
    std::vector<AttachmentRecord> records;
    std::string log;
};

class WalkTest : public ::testing::Test {
protected:
    void SetUp() override {
        systemTnef_ = testsupport::findInPath("tnef");
        if (systemTnef_.empty()) GTEST_SKIP() << "tnef is not installed";
        root_ = std::make_unique<testsupport::TempDir>();
        filter_.programDir = root_->path() + "/";
        ASSERT_EQ(::symlink(systemTnef_.c_str(), (filter_.programDir + "tnef").c_str()), 0);
        ASSERT_EQ(::symlink(PARVEX_BINARY_DIR "/filter/rtf2html", (filter_.programDir + "rtf2html").c_str()), 0);
        std::string temp = filter_.programDir + "pvx_temp/" + std::to_string(::getpid());
        ASSERT_TRUE(cgp::makeOwnDirectory(temp));
        filter_.tempDir = temp + "/";
    }

    WalkResult walk(const std::string& text) {
        const std::string path = filter_.programDir + "message";
        testsupport::writeFile(path, text);
        qdl::ifstream in(path, std::ios::binary);
        WalkResult r;
        testsupport::StdoutCapture capture;
        r.converted = filter_.convertMessage(in, r.records);
        r.log = capture.text();
        return r;
    }

    // Replaces tnef with a shell script; $DIR is its --directory argument.
    void fakeTnef(const std::string& body) {
        const std::string path = filter_.programDir + "tnef";
        ::unlink(path.c_str());
        testsupport::writeFile(path,
                           "#!/bin/sh\nfor a in \"$@\"; do case \"$a\" in --directory=*) DIR=\"${a#--directory=}\";; "
                           "esac; done\n" +
                               body + "\n");
        ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    }

    // What tnef writes by itself, with our arguments, for `data`.
    std::vector<std::string> referenceRun(const std::string& data, testsupport::TempDir& out, int& exitCode) {
        const std::string dat = out / ("input.dat");
        testsupport::writeFile(dat, data);
        const std::string dir = out.path() + "/files";
        ::mkdir(dir.c_str(), 0755);
        testsupport::ProgramResult r = testsupport::runProgram({systemTnef_, "-f", dat, "--save-body=saved_body",
                                                        "--number-backups", "--directory=" + dir, "--verbose"},
                                                                "");
        exitCode = r.exitCode;
        return testsupport::listDir(dir);
    }

    static std::vector<std::string> baseNames(const AttachmentRecord& record) {
        std::vector<std::string> names;
        for (const std::string& e : record.entries) names.push_back(qdl::baseName(e));
        return names;
    }

    std::string systemTnef_;
    std::unique_ptr<testsupport::TempDir> root_;
    Parvex filter_;
};

TEST_F(WalkTest, MixedBodyWithTwoAttachmentsGivesTnefsOwnFiles) {
    const std::string data = twoAttachments();
    const std::string head = "From: a@example.com\nContent-Type: multipart/mixed; boundary=\"b\"\n\npreamble\n";
    const std::string tnefHead = "--b\n";
    const std::string body = "Content-Type: application/ms-tnef\nContent-Transfer-Encoding: base64\n\n" +
                             base64Lines(data) + "\n";
    const std::string msg = head + "--b\nContent-Type: text/plain\n\nHello there.\n\n" + tnefHead + body + "--b--\n";
    WalkResult r = walk(msg);
    ASSERT_TRUE(r.converted) << r.log;
    ASSERT_EQ(r.records.size(), 1u);
    const AttachmentRecord& rec = r.records[0];
    EXPECT_EQ(rec.boundaryLine, "--b");
    EXPECT_FALSE(rec.keepPart);
    const std::size_t partStart = msg.find(tnefHead + "Content-Type: application/ms-tnef") + tnefHead.size();
    EXPECT_EQ(static_cast<std::streamoff>(rec.start), static_cast<std::streamoff>(partStart));
    // The blank line after the base64 lines ends the body.
    EXPECT_EQ(static_cast<std::streamoff>(rec.end), static_cast<std::streamoff>(partStart + body.size()));

    ASSERT_EQ(rec.entries.size(), 2u);
    testsupport::TempDir ref;
    int rc = -1;
    std::vector<std::string> expected = referenceRun(data, ref, rc);
    EXPECT_EQ(rc, 0);
    std::vector<std::string> names = baseNames(rec);
    EXPECT_EQ(names, (std::vector<std::string>{"first.txt", "second.bin"}));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected);
    for (const std::string& e : rec.entries) {
        EXPECT_EQ(e.compare(0, filter_.tempDir.size(), filter_.tempDir), 0) << e;
        EXPECT_EQ(testsupport::readFile(e), testsupport::readFile(ref.path() + "/files/" + qdl::baseName(e)));
    }
    EXPECT_EQ(testsupport::readFile(rec.entries[1]), std::string("\x00\x01\x02\xff second", 11));
    EXPECT_NE(r.log.find("* Found a winmail.dat attachment, unpacking\n"), std::string::npos);
    EXPECT_NE(r.log.find("* Extracted 2 file(s) from winmail.dat\n"), std::string::npos);
    EXPECT_FALSE(qdl::isFile(filter_.tempDir + "winmail.dat"));
}

TEST_F(WalkTest, CrlfMessageGivesTheSameEntries) {
    const std::string lf = mail({text(), tnef(twoAttachments())});
    WalkResult a = walk(lf);
    ASSERT_EQ(a.records.size(), 1u);
    const std::vector<std::string> lfNames = baseNames(a.records[0]);
    WalkResult b = walk(testsupport::toCrlf(lf));
    ASSERT_EQ(b.records.size(), 1u) << b.log;
    EXPECT_EQ(baseNames(b.records[0]), lfNames);
    EXPECT_EQ(b.records[0].boundaryLine, "--=_outer");
    // Positions count the CR bytes.
    const std::string crlf = testsupport::toCrlf(lf);
    const std::string open = "--=_outer\r\nContent-Type: application/ms-tnef";
    EXPECT_EQ(static_cast<std::streamoff>(b.records[0].start),
              static_cast<std::streamoff>(crlf.find(open) + std::string("--=_outer\r\n").size()));
    EXPECT_EQ(testsupport::readFile(b.records[0].entries[0]), "first attachment\n");
}

TEST_F(WalkTest, OddBase64LineLengthsDecodeTheSame) {
    const std::string data = twoAttachments();
    const std::string body =
        "Content-Type: application/ms-tnef\nContent-Transfer-Encoding: base64\n\n" + base64Lines(data, 57);
    WalkResult r = walk(mail({raw(body)}));
    ASSERT_EQ(r.records.size(), 1u) << r.log;
    EXPECT_EQ(r.records[0].entries.size(), 2u);
    EXPECT_EQ(r.log.find("unable to decode"), std::string::npos);
}

TEST_F(WalkTest, InvalidBase64LineIsLoggedAndDecodingGoesOn) {
    const std::string body = "Content-Type: application/ms-tnef\n\n" + base64Lines(twoAttachments()) + "%%%%\n";
    WalkResult r = walk(mail({raw(body)}));
    EXPECT_NE(r.log.find("* unable to decode the attachment, data is corrupted\n"), std::string::npos);
    ASSERT_EQ(r.records.size(), 1u);
    EXPECT_EQ(r.records[0].entries.size(), 2u);
}

struct TnefPartCase {
    const char* headers;
    bool isTnef;
};

TEST_F(WalkTest, WhichPartsAreTnef) {
    const TnefPartCase cases[] = {
        {"Content-Type: application/ms-tnef; name=\"anything.bin\"\n", true},
        {"Content-Type: APPLICATION/MS-TNEF\n", true},
        {"Content-Type: application/octet-stream; name=\"winmail.dat\"\n", true},
        {"Content-Type: application/octet-stream\nContent-Disposition: attachment; filename=winmail.dat\n", true},
        {"Content-Type: application/octet-stream; name=\"WINMAIL.DAT\"\n", false},
        {"Content-Type: application/octet-stream; name=\"winmail.dat.txt\"\n", false},
        // A TNEF part marked in its own header block was kept beside its
        // files by an earlier batch run: it is passed over.
        {"X-Parvex: 1 attachments extracted.\nContent-Type: application/ms-tnef\n", false},
        {"Content-Type: application/ms-tnef\nx-parvex: 2 attachments extracted.\n", false},
    };
    for (const TnefPartCase& c : cases) {
        WalkResult r = walk(mail({text(), raw(c.headers + std::string("\n") + base64Lines(twoAttachments()))}));
        EXPECT_EQ(r.converted, c.isTnef) << c.headers;
        EXPECT_EQ(r.records.size(), c.isTnef ? 1u : 0u) << c.headers;
    }
}

TEST_F(WalkTest, NotMultipartOrTnefAsWholeMessageIsNotConverted) {
    const std::string whole = "Content-Type: application/ms-tnef\n\n" + base64Lines(twoAttachments());
    WalkResult r = walk(whole);
    EXPECT_FALSE(r.converted);
    EXPECT_EQ(r.log.find("Found a winmail.dat"), std::string::npos);
    WalkResult noBoundary = walk("Content-Type: multipart/mixed\n\n--x\n" + testsupport::render(tnef(twoAttachments()), false));
    EXPECT_FALSE(noBoundary.converted);
}

TEST_F(WalkTest, AlreadyProcessedMarks) {
    const Part part = tnef(twoAttachments());
    WalkResult top = walk(mail({text(), part}, "x-PARVEX: 1 attachments extracted."));
    EXPECT_FALSE(top.converted);
    EXPECT_TRUE(top.records.empty());
    EXPECT_NE(top.log.find("* This file has already been processed, skipping\n"), std::string::npos);

    // A marked nested body is skipped; the rest of the message is still walked.
    const Part nested =
        withHeader(testsupport::multipart("mixed", "inner", {part}), "X-Parvex: 1 attachments extracted.");
    WalkResult inner = walk(mail({nested, part}));
    ASSERT_EQ(inner.records.size(), 1u) << inner.log;
    EXPECT_EQ(inner.records[0].boundaryLine, "--=_outer");
    EXPECT_NE(inner.log.find("already been processed"), std::string::npos);

    // A marked TNEF part is passed over; the next one is converted.
    WalkResult kept = walk(mail({withHeader(part, "X-Parvex: 2 attachments extracted."), text(), part}));
    ASSERT_EQ(kept.records.size(), 1u) << kept.log;
    EXPECT_EQ(kept.records[0].entries.size(), 2u);
    EXPECT_EQ(kept.log.find("* This file has already been processed, skipping\n* Found a winmail.dat"), 0u)
        << kept.log;
}

TEST_F(WalkTest, NonTnefDataGivesNoRecord) {
    const std::string junk = "This is plain text and no TNEF stream at all.\n";
    const Part part = raw("Content-Type: application/octet-stream; name=\"winmail.dat\"\n\n" + base64Lines(junk));
    WalkResult r = walk(mail({text(), part}));
    EXPECT_FALSE(r.converted);
    EXPECT_TRUE(r.records.empty());
    EXPECT_NE(r.log.find("* This winmail.dat doesn't contain extractable attachments\n"), std::string::npos);
    EXPECT_EQ(testsupport::listDir(filter_.tempDir), std::vector<std::string>{cgp::kOwnDirectoryMarker});

    filter_.alwaysRemoveWinmail = true;
    WalkResult removed = walk(mail({text(), part}));
    EXPECT_TRUE(removed.converted);
    ASSERT_EQ(removed.records.size(), 1u);
    EXPECT_TRUE(removed.records[0].entries.empty());
}

TEST_F(WalkTest, TruncatedTnefKeepsThePartBesideTheFirstFile) {
    TnefWriter w;
    w.addAttachment("AUTHORS", std::string(300, 'a'));
    w.addAttachment("README", std::string(2000, 'r'));
    const std::size_t cut = w.span(testsupport::tnef::kAttAttachData, 1).dataOffset + 100;
    w.truncateAt(cut);
    const std::string data = w.bytes();
    testsupport::TempDir ref;
    int rc = 0;
    std::vector<std::string> expected = referenceRun(data, ref, rc);
    ASSERT_NE(rc, 0);
    ASSERT_EQ(expected, std::vector<std::string>{"AUTHORS"});

    WalkResult r = walk(mail({text(), tnef(data)}));
    ASSERT_EQ(r.records.size(), 1u) << r.log;
    EXPECT_EQ(baseNames(r.records[0]), std::vector<std::string>{"AUTHORS"});
    EXPECT_TRUE(r.records[0].keepPart);
    EXPECT_NE(r.log.find("* tnef exited with status"), std::string::npos);

    filter_.alwaysRemoveWinmail = true;
    WalkResult removed = walk(mail({text(), tnef(data)}));
    ASSERT_EQ(removed.records.size(), 1u);
    EXPECT_FALSE(removed.records[0].keepPart);
}

TEST_F(WalkTest, RtfBodyInMixedBecomesHtmlAttachment) {
    WalkResult r = walk(mail({text(), tnef(withRtfBody())}));
    ASSERT_EQ(r.records.size(), 1u) << r.log;
    const std::vector<std::string>& e = r.records[0].entries;
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(qdl::baseName(e[0]), "doc.txt");
    EXPECT_EQ(e[1], filter_.tempDir + "saved_body.html");
    EXPECT_NE(testsupport::readFile(e[1]).find("bold"), std::string::npos);
    EXPECT_FALSE(qdl::isFile(filter_.tempDir + "saved_body.rtf"));
}

TEST_F(WalkTest, IgnoreRtfBodyLeavesTheBodyOut) {
    filter_.ignoreRtfBody = true;
    WalkResult r = walk(mail({text(), tnef(withRtfBody())}));
    ASSERT_EQ(r.records.size(), 1u);
    EXPECT_EQ(baseNames(r.records[0]), std::vector<std::string>{"doc.txt"});
}

TEST_F(WalkTest, RtfWithoutConverterStaysRtf) {
    ::unlink((filter_.programDir + "rtf2html").c_str());
    WalkResult r = walk(mail({tnef(withRtfBody())}));
    ASSERT_EQ(r.records.size(), 1u);
    EXPECT_EQ(r.records[0].entries.back(), filter_.tempDir + "saved_body.rtf");
    EXPECT_NE(r.log.find("* Unable to start the rtf2html binary. RTF attachments will not be decoded.\n"),
              std::string::npos);
}

struct AlternativeCase {
    bool withHtml;
    bool noRtfAlternative;
    const char* bodyEntry;  // the entry for the RTF body, after tempDir
    const char* reportTail;
};

TEST_F(WalkTest, AlternativeBodies) {
    const AlternativeCase cases[] = {
        {true, false, "saved_body.rtf", "* Extracted 2 file(s) from winmail.dat\n"},
        {true, true, "\\*saved_body.rtf", "* Extracted 2 file(s) from winmail.dat (1 ignored by the -r option)\n"},
        {false, false, "*saved_body.html", "* Extracted 2 file(s) from winmail.dat\n"},
        {false, true, "*saved_body.html", "* Extracted 2 file(s) from winmail.dat\n"},
    };
    for (const AlternativeCase& c : cases) {
        filter_.noRtfAlternative = c.noRtfAlternative;
        std::vector<Part> parts{text()};
        if (c.withHtml) parts.push_back(testsupport::textPart("<p>Hello</p>", "text/html"));
        parts.push_back(tnef(withRtfBody()));
        const Part alt = testsupport::multipart("alternative", "=_alt", parts);
        WalkResult r = walk(mail({alt, testsupport::textPart("trailer")}));
        ASSERT_EQ(r.records.size(), 1u) << r.log;
        const AttachmentRecord& rec = r.records[0];
        EXPECT_EQ(rec.boundaryLine, "--=_alt");
        ASSERT_EQ(rec.entries.size(), 2u);
        const std::string& body = rec.entries[1];
        const std::string expected = c.bodyEntry[0] == '*'
                                         ? std::string("*") + filter_.tempDir + (c.bodyEntry + 1)
                                         : c.bodyEntry[0] == '\\' ? std::string("\\*") + filter_.tempDir + (c.bodyEntry + 2)
                                                                  : filter_.tempDir + c.bodyEntry;
        EXPECT_EQ(body, expected);
        // With an HTML part before it, rtf2html is not run at all.
        EXPECT_EQ(qdl::isFile(filter_.tempDir + "saved_body.html"), !c.withHtml);
        EXPECT_NE(r.log.find(c.reportTail), std::string::npos) << r.log;
    }
}

TEST_F(WalkTest, NestedAndSiblingPartsLandInFileOrder) {
    const std::string data = twoAttachments();
    const Part alt = testsupport::multipart("alternative", "=_alt", {text(), tnef(data)});
    WalkResult r = walk(mail({tnef(data), alt, tnef(data)}));
    ASSERT_EQ(r.records.size(), 3u) << r.log;
    EXPECT_EQ(r.records[0].boundaryLine, "--=_outer");
    EXPECT_EQ(r.records[1].boundaryLine, "--=_alt");
    EXPECT_EQ(r.records[2].boundaryLine, "--=_outer");
    EXPECT_LT(r.records[0].start, r.records[1].start);
    EXPECT_LT(r.records[1].start, r.records[2].start);
    // Later parts get numbered names instead of overwriting earlier files.
    std::vector<std::string> all;
    for (const AttachmentRecord& rec : r.records)
        for (const std::string& e : rec.entries) {
            EXPECT_TRUE(qdl::isFile(e)) << e;
            all.push_back(e);
        }
    EXPECT_EQ(all.size(), 6u);
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::unique(all.begin(), all.end()), all.end());
}

TEST_F(WalkTest, TnefBodyEndingAtBoundaryLines) {
    const std::string data = twoAttachments();
    const std::string head = "Content-Type: application/ms-tnef\n\n";
    // No blank line: the next boundary line and the closing delimiter end the bodies.
    const std::string msg = "Content-Type: multipart/mixed; boundary=q\n\n--q\n" + head + base64Lines(data) + "--q\n" +
                             head + base64Lines(data) + "--q--\n";
    WalkResult r = walk(msg);
    ASSERT_EQ(r.records.size(), 2u) << r.log;
    const std::size_t first = msg.find("--q\n", msg.find("--q\n") + 1) + 4;
    EXPECT_EQ(static_cast<std::streamoff>(r.records[1].start), static_cast<std::streamoff>(first));
    EXPECT_EQ(static_cast<std::streamoff>(r.records[0].end), static_cast<std::streamoff>(first));

    // Closing delimiter of a nested level: the outer level goes on.
    const std::string inner = "Content-Type: multipart/mixed; boundary=in\n\n--in\n" + head + base64Lines(data) + "--in--";
    WalkResult n = walk(mail({raw(inner), tnef(data)}));
    ASSERT_EQ(n.records.size(), 2u) << n.log;
}

// Lines between the blank line that ends a TNEF body and the next delimiter
// belong to the part: the record then ends after that delimiter.
TEST_F(WalkTest, StrayLinesAfterTheBodyStayWithThePart) {
    const std::string data = twoAttachments();
    const std::string head = "Content-Type: application/ms-tnef\n\n";
    const std::string msg = "Content-Type: multipart/mixed; boundary=q\n\n--q\n" + head + base64Lines(data) +
                            "\nstray\n\n--q\n" + head + base64Lines(data) + "\n--q\n" + head + base64Lines(data) +
                            "\nstray at the end\n--q--\n";
    WalkResult r = walk(msg);
    ASSERT_EQ(r.records.size(), 3u) << r.log;
    const std::string stray = "\nstray\n\n--q\n";
    const std::size_t second = msg.find(stray) + stray.size();
    EXPECT_EQ(static_cast<std::streamoff>(r.records[0].end), static_cast<std::streamoff>(second));
    EXPECT_EQ(static_cast<std::streamoff>(r.records[1].start), static_cast<std::streamoff>(second));
    // Directly followed by the delimiter: the blank line ends the part.
    const std::size_t blank = msg.find("\n\n--q\n", second) + 2;
    EXPECT_EQ(static_cast<std::streamoff>(r.records[1].end), static_cast<std::streamoff>(blank));
    EXPECT_EQ(static_cast<std::streamoff>(r.records[2].start), static_cast<std::streamoff>(blank + 4));
    // The closing delimiter is the last line: the part ends with the message.
    EXPECT_EQ(static_cast<std::streamoff>(r.records[2].end), static_cast<std::streamoff>(msg.size()));
}

// A part whose header block runs into the next delimiter has no body.
TEST_F(WalkTest, PartCutShortByADelimiter) {
    const std::string msg = "Content-Type: multipart/mixed; boundary=q\n\n--q\nContent-Type: application/ms-tnef\n"
                            "--q\nContent-Type: text/plain\n--q\n" +
                            testsupport::render(tnef(twoAttachments()), false) + "\n--q--\n";
    WalkResult r = walk(msg);
    ASSERT_EQ(r.records.size(), 1u) << r.log;
    const std::size_t last = msg.rfind("--q\nContent-Type: application/ms-tnef") + 4;
    EXPECT_EQ(static_cast<std::streamoff>(r.records[0].start), static_cast<std::streamoff>(last));
    EXPECT_EQ(r.log.find("Found a winmail.dat attachment, unpacking\n* Found"), std::string::npos);
}

// N multipart levels inside each other; the TNEF part sits in the innermost.
std::string nestedMessage(int levels, const std::string& innermost) {
    std::string m;
    for (int i = 0; i < levels; ++i)
        m += "Content-Type: multipart/mixed; boundary=\"L" + std::to_string(i) + "\"\n\n--L" + std::to_string(i) + "\n";
    m += innermost + "\n";
    for (int i = levels - 1; i >= 0; --i) m += "--L" + std::to_string(i) + "--\n";
    return m;
}

TEST_F(WalkTest, NestingDepthIsBounded) {
    const std::string part = testsupport::render(tnef(twoAttachments()), false);
    WalkResult within = walk(nestedMessage(cgp::kMaxWalkDepth, part));
    ASSERT_EQ(within.records.size(), 1u) << within.log.substr(0, 2000);
    EXPECT_EQ(within.records[0].boundaryLine, "--L" + std::to_string(cgp::kMaxWalkDepth - 1));

    WalkResult beyond = walk(nestedMessage(cgp::kMaxWalkDepth + 1, part));
    EXPECT_TRUE(beyond.records.empty());
    EXPECT_NE(beyond.log.find("nested too deeply"), std::string::npos);

    WalkResult deep = walk(nestedMessage(10000, part));
    EXPECT_FALSE(deep.converted);
}

TEST_F(WalkTest, MissingTnefIsLogged) {
    ::unlink((filter_.programDir + "tnef").c_str());
    WalkResult r = walk(mail({tnef(twoAttachments())}));
    EXPECT_FALSE(r.converted);
    EXPECT_NE(r.log.find("* Unable to start the tnef binary, unable to extract winmail.dat attachments. Message "
                         "will be left unscanned\n"),
              std::string::npos);
    filter_.alwaysRemoveWinmail = true;
    WalkResult removed = walk(mail({tnef(twoAttachments())}));
    EXPECT_TRUE(removed.converted);
    EXPECT_TRUE(removed.records.empty());
}

// Stand-ins for tnef that misbehave in one way each.
TEST_F(WalkTest, OnlyRegularFilesInsideTheTemporaryDirectoryCount) {
    const std::string outside = (*root_) / ("outside.txt");
    testsupport::writeFile(outside, "not ours");
    fakeTnef("echo data > \"$DIR/good.txt\"\n"
             "echo data > \"$DIR/bare.txt\"\n"
             "ln -s " + outside + " \"$DIR/link.txt\"\n"
             "mkdir \"$DIR/sub\"\n"
             "printf 'good.txt\\t|\\t%s/good.txt\\t|\\ttext/plain\\t|\\t\\n' \"$DIR\"\n"
             "echo bare.txt\n"
             "echo 'Seems not to be a TNEF file'\n"
             "printf 'o\\t|\\t%s\\t|\\tx\\t|\\t\\n' " + outside + "\n"
             "printf 'l\\t|\\t%s/link.txt\\n' \"$DIR\"\n"
             "printf 's\\t|\\t%s/sub\\n' \"$DIR\"\n"
             "printf 'up\\t|\\t%s/../../outside.txt\\n' \"$DIR\"\n"
             "printf 'w\\t|\\t%s/winmail.dat\\n' \"$DIR\"\n"
             "printf 'again\\t|\\t%s/good.txt\\n' \"$DIR\"\n");
    WalkResult r = walk(mail({tnef("x")}));
    ASSERT_EQ(r.records.size(), 1u) << r.log;
    EXPECT_EQ(r.records[0].entries,
              (std::vector<std::string>{filter_.tempDir + "good.txt", filter_.tempDir + "bare.txt"}));
    EXPECT_EQ(testsupport::readFile(outside), "not ours");
}

// A listing may name one file under several spellings, or name a file an
// earlier part already gave; each file becomes one entry of one record.
TEST_F(WalkTest, EachFileIsOneEntry) {
    fakeTnef("if [ -e \"$DIR/../second-run\" ]; then echo ./body.html; echo \"$DIR/./winmail.dat\"; exit 0; fi\n"
             ": > \"$DIR/../second-run\"; printf '{\\\\rtf1 x}' > \"$DIR/body.rtf\"; echo data > \"$DIR/a.txt\"\n"
             "echo a.txt; echo ./a.txt; printf 'x\\t|\\t%s/sub/../a.txt\\n' \"$DIR\"; echo body.rtf");
    ::mkdir((filter_.tempDir + "sub").c_str(), 0755);
    const Part alt = testsupport::multipart("alternative", "=_alt", {text(), tnef("one"), tnef("two")});
    WalkResult r = walk(mail({alt}));
    ASSERT_EQ(r.records.size(), 1u) << r.log;
    EXPECT_EQ(r.records[0].entries,
              (std::vector<std::string>{filter_.tempDir + "a.txt", "*" + filter_.tempDir + "body.html"}));
    ::unlink((filter_.programDir + "pvx_temp/second-run").c_str());
}

// A file whose listing line does not name it (an attachment name may hold a
// line end or the field separator) is still one of the part's files.
TEST_F(WalkTest, FilesTheListingMisnamesAreKept) {
    fakeTnef("echo data > \"$DIR/a%09b.txt\"; echo more > \"$DIR/c.txt\"\n"
             "printf 'a\\t|\\tb.txt\\t|\\t%s/a%%09b.txt\\t|\\tx\\t|\\t\\n' \"$DIR\"; echo c.txt");
    WalkResult r = walk(mail({tnef("x")}));
    ASSERT_EQ(r.records.size(), 1u) << r.log;
    EXPECT_EQ(r.records[0].entries,
              (std::vector<std::string>{filter_.tempDir + "c.txt", filter_.tempDir + "a%09b.txt"}));
    EXPECT_FALSE(r.records[0].keepPart);
}

TEST_F(WalkTest, HangingTnefIsStoppedAndTheWalkGoesOn) {
    cgp::setChildTimeoutMs(1000);
    fakeTnef("if [ -e \"$DIR/ran\" ]; then echo ok > \"$DIR/second.txt\"; echo second.txt; exit 0; fi\n"
             ": > \"$DIR/ran\"; echo late > \"$DIR/late.txt\"; echo late.txt; exec sleep 30");
    WalkResult r = walk(mail({tnef("one"), tnef("two")}));
    cgp::setChildTimeoutMs(60 * 1000);
    ASSERT_EQ(r.records.size(), 1u) << r.log;
    EXPECT_EQ(r.records[0].entries, std::vector<std::string>{filter_.tempDir + "second.txt"});
    EXPECT_NE(r.log.find("tnef did not finish in time"), std::string::npos);
}

TEST_F(WalkTest, ChildFillingItsErrorPipeDoesNotBlock) {
    fakeTnef("head -c 1000000 /dev/zero | tr '\\0' 'e' >&2\n"
             "echo data > \"$DIR/a.txt\"; echo a.txt");
    WalkResult r = walk(mail({tnef("x")}));
    ASSERT_EQ(r.records.size(), 1u) << r.log.substr(0, 500);
    EXPECT_EQ(r.records[0].entries, std::vector<std::string>{filter_.tempDir + "a.txt"});
    // One log line with at most 4096 bytes of the error text.
    const std::size_t at = r.log.find("* eeee");
    ASSERT_NE(at, std::string::npos);
    const std::string line = r.log.substr(at, r.log.find('\n', at) - at);
    EXPECT_LT(line.size(), 4096u + 100u);
    EXPECT_NE(line.find(" Winmail.dat file is probably corrupted, stopping conversion."), std::string::npos);
}

TEST_F(WalkTest, TnefKilledBySignalKeepsThePart) {
    fakeTnef("echo data > \"$DIR/a.txt\"; echo a.txt; kill -SEGV $$");
    WalkResult r = walk(mail({tnef("x")}));
    ASSERT_EQ(r.records.size(), 1u) << r.log;
    EXPECT_TRUE(r.records[0].keepPart);
    EXPECT_NE(r.log.find("* tnef was killed by signal 11"), std::string::npos);
}

TEST_F(WalkTest, ErrorLineDropsTheRecordsSoFar) {
    fakeTnef("if [ -e \"$DIR/ran\" ]; then echo 'ERROR: broken'; exit 1; fi\n"
             ": > \"$DIR/ran\"; echo data > \"$DIR/a.txt\"; echo a.txt");
    WalkResult r = walk(mail({tnef("one"), tnef("two")}));
    EXPECT_TRUE(r.records.empty());
    EXPECT_FALSE(r.converted);
    EXPECT_NE(r.log.find("* ERROR: broken Winmail.dat file is probably corrupted, stopping conversion.\n"),
              std::string::npos);
}

// tnef could not write what it unpacked (a full disk, a quota, a file-size
// limit, an I/O error): the partly written file once replaced the part.
// Now nothing of the message is converted, whatever the options say; a
// complaint about the data itself keeps today's road.
TEST_F(WalkTest, LocalWriteFailuresLeaveTheMessageUnchanged) {
    const std::string partial = "printf partial > \"$DIR/a.txt\"; echo a.txt; ";
    const struct {
        const char* name;
        std::string script;
        bool keepsMessage;
    } cases[] = {
        {"disk full", partial + "echo \"$DIR/a.txt: No space left on device\" >&2; exit 1", true},
        {"quota", partial + "echo \"$DIR/a.txt: Disk quota exceeded\" >&2; exit 1", true},
        {"file-size limit", partial + "echo \"$DIR/a.txt: File too large\" >&2; exit 1", true},
        {"I/O error among other lines", partial + "echo warning >&2; echo \"$DIR/a.txt: Input/output error\" >&2; exit 1",
         true},
        {"killed by SIGXFSZ", partial + "kill -XFSZ $$", true},
        // A real limit on the child alone, with the signal at its default.
        {"limit on the child", "echo a.bin; ulimit -f 1; exec head -c 100000 /dev/zero > \"$DIR/a.bin\"", true},
        // Rows guarding today's road for a complaint about the data.
        {"complaint about the data", partial + "echo 'ERROR: garbage at end of file.' >&2", false},
        {"other failure of a file", partial + "echo \"$DIR/a.txt: Invalid argument\" >&2; exit 1", false},
    };
    for (const auto& c : cases) {
        for (bool always : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (always ? ", --always-remove-winmail" : ""));
            fakeTnef(c.script);
            filter_.alwaysRemoveWinmail = always;
            const WalkResult r = walk(mail({text(), tnef("x")}));
            if (c.keepsMessage) {
                EXPECT_FALSE(r.converted) << r.log;
                EXPECT_TRUE(r.records.empty());
                EXPECT_NE(r.log.find(", the message is left unchanged\n"), std::string::npos) << r.log;
                EXPECT_EQ(r.log.find("probably corrupted"), std::string::npos) << r.log;
            } else {
                EXPECT_TRUE(r.converted) << r.log;
                EXPECT_EQ(r.log.find("left unchanged"), std::string::npos) << r.log;
            }
        }
    }
    filter_.alwaysRemoveWinmail = false;
}

// The failure comes with the second TNEF part: the records of the first go
// too, and the walk stops there.
TEST_F(WalkTest, WriteFailureInALaterPartDropsTheEarlierRecords) {
    fakeTnef("if [ -e \"$DIR/../ran\" ]; then echo \"$DIR/b.txt: No space left on device\" >&2; exit 1; fi\n"
             ": > \"$DIR/../ran\"; echo data > \"$DIR/a.txt\"; echo a.txt");
    const WalkResult r = walk(mail({tnef("one"), tnef("two"), tnef("three")}));
    EXPECT_FALSE(r.converted);
    EXPECT_TRUE(r.records.empty());
    EXPECT_EQ(2u, countOf(r.log, "* Found a winmail.dat attachment, unpacking\n")) << r.log;
}

// rtf2html could not write its HTML file: the same verdict.
TEST_F(WalkTest, ConverterWriteFailureLeavesTheMessageUnchanged) {
    const std::string path = filter_.programDir + "rtf2html";
    ::unlink(path.c_str());
    testsupport::writeFile(path, "#!/bin/sh\nprintf '<p>' > \"$2\"\n"
                                 "echo \"rtf2html: cannot write $2: No space left on device\" >&2; exit 1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    const WalkResult r = walk(mail({tnef(withRtfBody())}));
    EXPECT_FALSE(r.converted);
    EXPECT_TRUE(r.records.empty());
    EXPECT_NE(r.log.find("* rtf2html could not write its HTML file (rtf2html: cannot write "), std::string::npos)
        << r.log;
}

// Lines after an empty line inside a TNEF body still belong to it: they are
// decoded, and the record ends after the delimiter that follows them.
TEST_F(WalkTest, EmptyLinesInsideTheBodyKeepItGoing) {
    const std::string data = twoAttachments();
    const std::string lines = base64Lines(data, 20);
    const std::size_t cut = 2 * 21;
    const std::string head = "Content-Type: application/ms-tnef\n\n";
    const std::string msg = "Content-Type: multipart/mixed; boundary=q\n\n--q\n" + head + lines.substr(0, cut) +
                            "\n\n" + lines.substr(cut) + "\n-- \nsigned\n--q--\n";
    const WalkResult r = walk(msg);
    ASSERT_EQ(r.records.size(), 1u) << r.log;
    EXPECT_EQ(baseNames(r.records[0]), (std::vector<std::string>{"first.txt", "second.bin"}));
    EXPECT_EQ(static_cast<std::streamoff>(r.records[0].end), static_cast<std::streamoff>(msg.size()));
    EXPECT_EQ(static_cast<std::streamoff>(r.records[0].endLine), static_cast<std::streamoff>(msg.size() - 6));
    // "-- " is not base64, and is reported as such ("signed" happens to be).
    EXPECT_EQ(1u, countOf(r.log, "unable to decode the attachment")) << r.log;
}

TEST_F(WalkTest, RtfPathWithSpacesReachesTheConverterWhole) {
    fakeTnef("printf '{\\\\rtf1 spaced}' > \"$DIR/my body file.rtf\"\n"
             "printf 'my body file.rtf\\t|\\t%s/my body file.rtf\\t|\\ttext/rtf\\t|\\t\\n' \"$DIR\"");
    WalkResult r = walk(mail({tnef("x")}));
    ASSERT_EQ(r.records.size(), 1u) << r.log;
    EXPECT_EQ(r.records[0].entries, std::vector<std::string>{filter_.tempDir + "my body file.html"});
    EXPECT_NE(testsupport::readFile(filter_.tempDir + "my body file.html").find("spaced"), std::string::npos);
}

TEST_F(WalkTest, ConvertedRtfNeverReplacesAnExtractedHtmlFile) {
    fakeTnef("printf '{\\\\rtf1 from rtf}' > \"$DIR/note.rtf\"; echo '<p>attached</p>' > \"$DIR/note.html\"\n"
             "echo note.html; echo note.rtf");
    WalkResult r = walk(mail({tnef("x")}));
    ASSERT_EQ(r.records.size(), 1u) << r.log;
    ASSERT_EQ(r.records[0].entries.size(), 2u);
    EXPECT_EQ(r.records[0].entries[0], filter_.tempDir + "note.html");
    EXPECT_EQ(testsupport::readFile(filter_.tempDir + "note.html"), "<p>attached</p>\n");
    EXPECT_EQ(r.records[0].entries[1], filter_.tempDir + "note-1.html");
}

TEST_F(WalkTest, TemporaryDirectoryIsEmptiedPerMessageAndUsedForTnef) {
    testsupport::writeFile(filter_.tempDir + "stale.txt", "left over");
    fakeTnef("for a in \"$@\"; do echo \"$a\"; done > \"$DIR/args.txt\"; echo args.txt");
    WalkResult r = walk(mail({tnef("x")}));
    EXPECT_FALSE(qdl::isFile(filter_.tempDir + "stale.txt"));
    ASSERT_EQ(r.records.size(), 1u);
    const std::string dir = filter_.tempDir.substr(0, filter_.tempDir.size() - 1);
    EXPECT_EQ(testsupport::readFile(filter_.tempDir + "args.txt"),
              "-f\n" + filter_.tempDir + "winmail.dat\n--save-body=saved_body\n--number-backups\n--directory=" + dir +
                  "\n--verbose\n");
    filter_.ignoreRtfBody = true;
    walk(mail({tnef("x")}));
    EXPECT_EQ(testsupport::readFile(filter_.tempDir + "args.txt").find("--save-body"), std::string::npos);
}

// Every real-world sample: no crash, no hang, and exactly the files tnef wrote.
TEST_F(WalkTest, FixtureSamples) {
    const std::vector<std::string> samples = testsupport::tnefSamples();
    if (samples.empty()) GTEST_SKIP() << testsupport::noSamplesReason();
    const std::string fixtures = testsupport::tnefSamplesDir();
    // Without rtf2html the entries are exactly what tnef wrote.
    ::unlink((filter_.programDir + "rtf2html").c_str());
    for (const std::string& name : samples) {
        SCOPED_TRACE(name);
        const std::string data = testsupport::readFile(fixtures + "/" + name);
        testsupport::TempDir ref;
        int rc = -1;
        const std::vector<std::string> expected = referenceRun(data, ref, rc);
        WalkResult r = walk(mail({text(), tnef(data)}));
        if (expected.empty()) {
            EXPECT_TRUE(r.records.empty());
            EXPECT_FALSE(r.converted);
            continue;
        }
        ASSERT_EQ(r.records.size(), 1u) << r.log;
        std::vector<std::string> names = baseNames(r.records[0]);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, expected);
        for (const std::string& e : r.records[0].entries)
            EXPECT_EQ(testsupport::readFile(e), testsupport::readFile(ref.path() + "/files/" + qdl::baseName(e)));
        EXPECT_EQ(r.records[0].keepPart, rc != 0);
    }
}

TEST(TnefListing, Arguments) {
    EXPECT_EQ(cgp::tnefArguments("/p/pvx_temp/1/winmail.dat", "/p/pvx_temp/1/", false),
              (std::vector<std::string>{"-f", "/p/pvx_temp/1/winmail.dat", "--save-body=saved_body", "--number-backups",
                                        "--directory=/p/pvx_temp/1", "--verbose"}));
    EXPECT_EQ(cgp::tnefArguments("d/winmail.dat", "d/", true),
              (std::vector<std::string>{"-f", "d/winmail.dat", "--number-backups", "--directory=d", "--verbose"}));
}

TEST(TnefListing, OutputLines) {
    const struct {
        const char* name;
        std::string out;
        std::vector<std::string> lines;
    } cases[] = {
        {"nothing", "", {}},
        {"one character", "a", {}},
        {"line ends only", "\n\n", {}},
        {"one line without its end", "ab", {"ab"}},
        {"CR LF and runs of line ends", "a.txt\r\n\r\n\nb c.pdf\rX\n", {"a.txt", "b c.pdfX"}},
    };
    for (const auto& c : cases) EXPECT_EQ(cgp::tnefListingLines(c.out), c.lines) << c.name;
}

TEST(TnefListing, ComplaintAndReport) {
    EXPECT_EQ(cgp::childComplaint("a: bad\r\nb: worse \n"), "a: bad b: worse");
    EXPECT_EQ(cgp::childComplaint(std::string("cut\0here", 8)), "cut");
    EXPECT_EQ(cgp::childComplaint(std::string(5000, 'e')), std::string(4096, 'e'));
    EXPECT_EQ(cgp::abnormalEnd(0), "");
    EXPECT_EQ(cgp::abnormalEnd(1 << 8), "exited with status 1");
    EXPECT_EQ(cgp::abnormalEnd(SIGSEGV), "was killed by signal 11");
    EXPECT_EQ(cgp::abnormalEnd(-1), "ended in an unknown way");
    EXPECT_EQ(cgp::extractionReport(3, 3), "* Extracted 3 file(s) from winmail.dat");
    EXPECT_EQ(cgp::extractionReport(3, 2), "* Extracted 3 file(s) from winmail.dat (1 ignored by the -r option)");
}

TEST(TnefListing, LocalWriteFailures) {
    const struct {
        const char* name;
        int status;
        std::string err;
        bool failure;
    } cases[] = {
        {"clean", 0, "", false},
        {"disk full", 1 << 8, "/t/1/a.pdf: No space left on device\n", true},
        {"quota", 1 << 8, "/t/1/a.pdf: Disk quota exceeded\n", true},
        {"quota, BSD spelling", 1 << 8, "/t/1/a.pdf: Disc quota exceeded\n", true},
        {"file-size limit", 1 << 8, "a.pdf: File too large", true},
        {"I/O error after other lines", 1 << 8, "note\r\nx: Input/output error\r\n", true},
        {"read-only file system", 1 << 8, "x: Read-only file system\n", true},
        {"rtf2html's words", 1 << 8, "rtf2html: cannot write a.html: No space left on device\n", true},
        {"killed by SIGXFSZ", SIGXFSZ, "", true},
        {"killed by another signal", SIGSEGV, "", false},
        {"corrupt data", 0, "ERROR: garbage at end of file.\n", false},
        {"the words without a file", 1 << 8, "No space left on device\n", false},
        {"the words inside a longer text", 1 << 8, "x: No space left on device, retrying elsewhere\n", false},
        {"another failure", 1 << 8, "x: Permission denied\n", false},
    };
    for (const auto& c : cases) {
        cgp::ChildRun run;
        run.finished = true;
        run.status = c.status;
        run.err = c.err;
        EXPECT_EQ(!cgp::localWriteFailure(run).empty(), c.failure) << c.name;
    }
}

TEST(TnefListing, PathOfEachLineForm) {
    const std::string temp = "/p/pvx_temp/7/";
    struct Case {
        const char* line;
        const char* path;
    } cases[] = {
        {"AUTHORS\t|\t/p/pvx_temp/7/AUTHORS\t|\tapplication/octet-stream\t|\t", "/p/pvx_temp/7/AUTHORS"},
        {"a b.pdf\t|\t/p/pvx_temp/7/a b.pdf\t|\tapplication/pdf\t|\t<cid@x>", "/p/pvx_temp/7/a b.pdf"},
        {"name\t|\t/p/pvx_temp/7/name", "/p/pvx_temp/7/name"},
        {"saved_body.rtf", "/p/pvx_temp/7/saved_body.rtf"},
        {"Seems not to be a TNEF file", "/p/pvx_temp/7/Seems not to be a TNEF file"},
        {"\t|\t/p/pvx_temp/7/x\t|\t", "/p/pvx_temp/7/x"},
        {"a|b", "/p/pvx_temp/7/a|b"},
    };
    for (const Case& c : cases) EXPECT_EQ(cgp::tnefListingPath(c.line, temp), c.path) << c.line;
}

TEST(TnefListing, RegularFileInsideDirectory) {
    testsupport::TempDir dir;
    const std::string d = dir.path() + "/";
    testsupport::writeFile(d + "f", "x");
    ::mkdir((d + "sub").c_str(), 0755);
    testsupport::writeFile(d + "sub/g", "x");
    testsupport::TempDir other;
    testsupport::writeFile(other / ("o"), "x");
    ::symlink((other / "o").c_str(), (d + "link").c_str());
    ::symlink(other.path().c_str(), (d + "dirlink").c_str());
    EXPECT_TRUE(cgp::isRegularFileInside(d + "f", d));
    EXPECT_TRUE(cgp::isRegularFileInside(d + "sub/g", dir.path()));
    EXPECT_TRUE(cgp::isRegularFileInside(d + "sub/../f", d));
    EXPECT_FALSE(cgp::isRegularFileInside(d + "sub", d));
    EXPECT_FALSE(cgp::isRegularFileInside(d + "missing", d));
    EXPECT_FALSE(cgp::isRegularFileInside(d + "link", d));
    EXPECT_FALSE(cgp::isRegularFileInside(d + "dirlink/o", d));
    EXPECT_FALSE(cgp::isRegularFileInside(other / ("o"), d));
    EXPECT_FALSE(cgp::isRegularFileInside(d + "../" + qdl::baseName(other.path()) + "/o", d));
    EXPECT_FALSE(cgp::isRegularFileInside("", d));
    // One spelling per file.
    EXPECT_EQ(cgp::regularFileInside(d + "./f", d), d + "f");
    EXPECT_EQ(cgp::regularFileInside(d + "sub/../f", dir.path()), d + "f");
    EXPECT_EQ(cgp::regularFileInside(d + "sub//g", d), d + "sub/g");
    EXPECT_EQ(cgp::regularFileInside(d + "link", d), "");
}

}  // namespace

namespace {

// The decoded data cannot be written (a directory stands at its name; a
// vanished directory would be made again).
TEST_F(WalkTest, UnwritableTemporaryDirectoryLeavesThePart) {
    ASSERT_EQ(0, ::mkdir((filter_.tempDir + "winmail.dat").c_str(), 0755));
    WalkResult r = walk(mail({tnef(twoAttachments())}));
    EXPECT_FALSE(r.converted);
    EXPECT_NE(r.log.find("* Unable to write the decoded winmail.dat, the attachment is left unchanged\n"),
              std::string::npos);
}

TEST_F(WalkTest, HangingConverterIsStoppedAndTheRtfStays) {
    const std::string path = filter_.programDir + "rtf2html";
    ::unlink(path.c_str());
    testsupport::writeFile(path, "#!/bin/sh\nexec sleep 30\n");
    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    cgp::setChildTimeoutMs(1000);
    WalkResult r = walk(mail({tnef(withRtfBody())}));
    cgp::setChildTimeoutMs(60 * 1000);
    ASSERT_EQ(r.records.size(), 1u) << r.log;
    EXPECT_EQ(r.records[0].entries.back(), filter_.tempDir + "saved_body.rtf");
    EXPECT_NE(r.log.find("rtf2html did not finish in time"), std::string::npos);
}

}  // namespace

namespace {

// The decoded winmail.dat as tnef gets it, and how often decoding failed.
struct Decoded {
    std::string data;
    std::size_t failures = 0;
};

}  // namespace

// A body line read in pieces decodes exactly as the whole line would: groups
// split across pieces, blanks at the end of a piece that are or are not the
// end of the line, and lines that fail part way, logged once per line.
TEST_F(WalkTest, Base64LinesReadInPiecesDecodeAsWholeLines) {
    fakeTnef("cp \"$2\" \"$DIR/../captured.dat\"");
    const std::string captured = filter_.tempDir + "../captured.dat";
    std::string noise;
    for (int i = 0; i < 3001; ++i) noise += static_cast<char>((i * 7919) % 251);
    const std::string flat = testsupport::base64Lines(noise, 0);
    const std::string lines76 = base64Lines(noise);
    std::string blanksAfterEach;
    for (const std::string& l : {flat.substr(0, 76), flat.substr(76, 76), flat.substr(152)})
        blanksAfterEach += l + "  \t \n";
    // Lines 3 and 7 each spoilt by one character, amid lines that decode.
    std::string spoilt = lines76;
    spoilt[2 * 77 + 10] = '%';
    spoilt[6 * 77 + 75] = '!';
    struct Case {
        const char* name;
        std::string body;
        std::size_t failures;
    } cases[] = {
        {"one line", flat + "\n", 0},
        {"76-character lines", lines76, 0},
        {"odd line lengths carried over", flat.substr(0, 5) + "\n" + flat.substr(5, 1) + "\n" + flat.substr(6, 57) +
                                              "\n" + flat.substr(63) + "\n",
         0},
        {"blanks at the end of lines", blanksAfterEach, 0},
        {"a line of blanks only", flat.substr(0, 8) + "\n \t  \t\n" + flat.substr(8) + "\n", 0},
        {"padding inside a line", "QQ==QUJD\tQUI=\n" + flat + "\n", 1},
        {"blanks inside a line", "QUJD  QUJD\n" + flat + "\n", 1},
        {"blank far into a long line", flat.substr(0, 2000) + "   " + flat.substr(2000) + "\n" + flat + "\n", 1},
        {"garbage lines", "!!!!####\n" + flat.substr(0, 400) + "%" + flat.substr(400) + "\n====\nA\n" + flat + "\n",
         2},
        {"spoilt lines among good ones", spoilt, 2},
    };
    for (const Case& c : cases) {
        const std::string msg = mail({raw("Content-Type: application/ms-tnef\n\n" + c.body)});
        Decoded whole;
        for (std::size_t limit : {std::string::npos, std::size_t(1), std::size_t(2), std::size_t(3), std::size_t(4),
                                  std::size_t(5), std::size_t(6), std::size_t(7), std::size_t(9), std::size_t(64),
                                  cgp::kDefaultLinePieceLimit}) {
            SCOPED_TRACE(std::string(c.name) + ", piece limit " + std::to_string(limit));
            filter_.linePieceLimit = limit;
            ::unlink(captured.c_str());
            const WalkResult r = walk(msg);
            Decoded d{testsupport::readFile(captured), countOf(r.log, "unable to decode the attachment")};
            if (limit == std::string::npos) {
                whole = d;
                EXPECT_EQ(d.failures, c.failures) << r.log;
                if (c.failures == 0) {
                    EXPECT_EQ(d.data, noise);
                }
                continue;
            }
            EXPECT_EQ(d.failures, whole.failures) << r.log;
            EXPECT_EQ(d.data, whole.data);
        }
    }
}

// Whole lines are decoded many at a time; one that fails among them gives
// what it gives alone (the groups before its bad character) and one report,
// also past the first batch, and a line longer than a batch decodes alone.
TEST_F(WalkTest, SpoiltLinesDecodeAsTheyWouldOneByOne) {
    fakeTnef("cp \"$2\" \"$DIR/../captured.dat\"");
    const std::string captured = filter_.tempDir + "../captured.dat";
    std::string noise;
    for (int i = 0; i < 40000; ++i) noise += static_cast<char>((i * 7919 + i / 251) % 256);
    const std::string flat = testsupport::base64Lines(noise, 0);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < flat.size(); at += 76) lines.push_back(flat.substr(at, 76));
    struct Case {
        const char* name;
        std::vector<std::size_t> spoilt;  // line numbers, each spoilt at its 21st character
        bool longLine;                    // the first 30,000 characters as one line
    } cases[] = {
        {"in the first batch", {3}, false},
        {"in the first and a later batch", {10, 250, 251, 500}, false},
        {"the last line", {lines.size() - 1}, false},
        {"after a line longer than a batch", {420}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> body = lines;
        if (c.longLine) {
            std::string joined;
            std::size_t n = 0;
            while (joined.size() < 30000) joined += body[n++];
            body.erase(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(n));
            body.insert(body.begin(), joined);
        }
        for (std::size_t k : c.spoilt) body[k - (c.longLine ? 394 : 0)][20] = '%';
        std::string text, expected;
        for (const std::string& l : body) {
            text += l + "\n";
            bool failed = false;
            expected += qdl::base64DecodeString(l, failed);
        }
        const WalkResult r = walk(mail({raw("Content-Type: application/ms-tnef\n\n" + text)}));
        EXPECT_EQ(countOf(r.log, "unable to decode the attachment"), c.spoilt.size()) << r.log;
        EXPECT_TRUE(testsupport::readFile(captured) == expected);
    }
}

// Records made from a body read in pieces lie where they lie for whole lines.
TEST_F(WalkTest, PiecesKeepRecordPositions) {
    const std::string data = twoAttachments();
    const std::string head = "Content-Type: application/ms-tnef\n\n";
    const std::string one = testsupport::base64Lines(data, 0);
    const std::string msg = "Content-Type: multipart/mixed; boundary=q\n\n--q\n" + head + one + "\n\nstray\n\n--q\n" +
                            head + one + "\n--q\r\n" + head + base64Lines(data) + "--q-- \n--q\n" +
                            head + one + "\n--q--\n";
    filter_.linePieceLimit = std::string::npos;
    const WalkResult whole = walk(msg);
    ASSERT_EQ(whole.records.size(), 4u) << whole.log;
    for (std::size_t limit : {std::size_t(1), std::size_t(3), std::size_t(50)}) {
        SCOPED_TRACE(limit);
        filter_.linePieceLimit = limit;
        const WalkResult r = walk(msg);
        ASSERT_EQ(r.records.size(), whole.records.size()) << r.log;
        for (std::size_t i = 0; i < r.records.size(); ++i) {
            EXPECT_EQ(r.records[i].start, whole.records[i].start) << i;
            EXPECT_EQ(r.records[i].end, whole.records[i].end) << i;
            EXPECT_EQ(baseNames(r.records[i]), baseNames(whole.records[i])) << i;
        }
        EXPECT_EQ(r.log, whole.log);
    }
}
