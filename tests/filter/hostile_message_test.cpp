// Hostile and malformed messages through the whole conversion: the walk over
// real tnef, then the converted copy into a string. Whatever the input, the
// run ends, and every part that is not TNEF comes out byte for byte.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "filter/parvex.h"
#include "filter/temp_dirs.h"
#include "runtime/files.h"
#include "runtime/stream.h"
#include "support/core/capture.h"
#include "support/filter/message_builder.h"
#include "support/filter/samples.h"
#include "support/core/run_program.h"
#include "support/filter/tnef_writer.h"
#include "support/core/tool_path.h"

namespace {

using testsupport::TnefWriter;
using namespace std::string_literals;

std::string b64(const std::string& data) { return testsupport::base64Lines(data) + "\n"; }

std::string goodTnef() {
    TnefWriter w;
    w.addAttachment("inside.txt", "inside the winmail\n");
    return w.bytes();
}

const std::string kTnefHeaders = "Content-Type: application/ms-tnef; name=\"winmail.dat\"\n"
                                "Content-Transfer-Encoding: base64\n\n";

// Parts that must come out as they went in.
const std::string kPlainPart = "Content-Type: text/plain\n\nplain text survives\n";
const std::string kPdfPart =
    "Content-Type: application/pdf; name=\"a.pdf\"\nContent-Transfer-Encoding: base64\n\n" + b64("%PDF-1.4 bytes");

std::string head(const std::string& boundary) {
    return "From: a@example.com\nSubject: hostile\nContent-Type: multipart/mixed; boundary=\"" + boundary + "\"\n\n";
}

struct HostileCase {
    std::string name;
    std::string message;
    std::vector<std::string> survivors;  // texts the copy must hold unchanged
    int records;                         // expected records; -1 when any number will do
};

std::vector<HostileCase> hostileCases() {
    const std::string tnef = kTnefHeaders + b64(goodTnef());
    std::vector<HostileCase> cases;
    cases.push_back({"usual shape", head("b") + "--b\n" + kPlainPart + "--b\n" + tnef + "--b\n" + kPdfPart + "--b--\n",
                     {"--b\n" + kPlainPart + "--b\n", "--b\n" + kPdfPart + "--b--\n"}, 1});
    cases.push_back({"tnef last without final line end or delimiter",
                     head("b") + "--b\n" + kPlainPart + "--b\n" + kTnefHeaders + testsupport::base64Lines(goodTnef()),
                     {"--b\n" + kPlainPart}, 1});
    cases.push_back({"tnef last without delimiter", head("b") + "--b\n" + kPlainPart + "--b\n" + tnef,
                     {"--b\n" + kPlainPart}, 1});
    cases.push_back({"tnef headers cut by the end of the input", head("b") + "--b\n" + kPlainPart + "--b\n" +
                                                                     "Content-Type: application/ms-tnef\n",
                     {"--b\n" + kPlainPart + "--b\nContent-Type: application/ms-tnef\n"}, 0});
    cases.push_back({"tnef with empty body at the delimiter",
                     head("b") + "--b\n" + kPlainPart + "--b\n" + kTnefHeaders + "--b\n" + kPdfPart + "--b--\n",
                     {"--b\n" + kPlainPart, "--b\n" + kPdfPart + "--b--\n"}, -1});
    cases.push_back({"base64 garbage", head("b") + "--b\n" + kPlainPart + "--b\n" + kTnefHeaders +
                                           "!!!!####\n====\nA\nAB\n\x01\x02\x03\n" + b64(goodTnef()) + "--b\n" +
                                           kPdfPart + "--b--\n",
                     {"--b\n" + kPlainPart + "--b\n", "--b\n" + kPdfPart + "--b--\n"}, -1});
    cases.push_back({"NUL bytes in headers and bodies",
                     head("b") + "--b\n" + "Content-Type: text/plain\0x\n\nnul\0 inside\n"s + "--b\n" +
                         tnef + "--b\n" + kPdfPart + "--b--\n",
                     {"--b\nContent-Type: text/plain\0x\n\nnul\0 inside\n--b\n"s,
                      "--b\n" + kPdfPart + "--b--\n"},
                     1});
    cases.push_back({"only CR line ends", testsupport::toCrlf(head("b") + "--b\n" + kPlainPart + "--b\n" + tnef + "--b\n" +
                                                              kPdfPart + "--b--\n"),
                     {"--b\n" + kPlainPart + "--b\n", "--b\n" + kPdfPart + "--b--\n"}, 1});
    {
        std::string cr = head("b") + "--b\n" + kPlainPart + "--b\n" + tnef + "--b\n" + kPdfPart + "--b--\n";
        for (char& c : cr)
            if (c == '\n') c = '\r';
        cases.push_back({"bare CR line ends", cr, {"--b\n" + kPlainPart + "--b\n", "--b\n" + kPdfPart + "--b--\n"}, 1});
    }
    {
        std::string lfcr = head("b") + "--b\n" + kPlainPart + "--b\n" + tnef + "--b\n" + kPdfPart + "--b--\n";
        std::string out;
        for (char c : lfcr) out += c == '\n' ? std::string("\n\r") : std::string(1, c);
        cases.push_back({"LF CR line ends", out, {"--b\n" + kPlainPart + "--b\n", "--b\n" + kPdfPart + "--b--\n"}, 1});
    }
    {
        const std::string folded = "X-Long: start\n" + std::string(20000, '\t') + "\n";
        std::string many;
        for (int i = 0; i < 20000; ++i) many += "\tcontinued " + std::to_string(i) + "\n";
        const std::string big = "Content-Type: text/plain\nX-Huge: x\n" + many + "\nhuge header part\n";
        cases.push_back({"huge folded headers", head("b") + folded + "--b\n" + big + "--b\n" + tnef + "--b--\n",
                         {"--b\n" + big + "--b\n"}, 1});
    }
    {
        const std::string longLine = "Content-Type: text/plain\n\n" + std::string(3 * 1024 * 1024, 'x') + "\n";
        cases.push_back({"very long line", head("b") + "--b\n" + longLine + "--b\n" + tnef + "--b\n" + kPdfPart + "--b--\n",
                         {"--b\n" + longLine + "--b\n", "--b\n" + kPdfPart + "--b--\n"}, 1});
    }
    {
        const std::string longHeader = "Content-Type: text/plain; x=" + std::string(1024 * 1024, 'h') + "\n\nbody\n";
        cases.push_back({"very long header line",
                         head("b") + "--b\n" + longHeader + "--b\n" + tnef + "--b\n" + kPdfPart + "--b--\n",
                         {"--b\n" + longHeader + "--b\n", "--b\n" + kPdfPart + "--b--\n"}, 1});
    }
    {
        // Deeper than the walk follows, with a TNEF part at the top level.
        std::string nest;
        std::string tail;
        for (int i = 0; i < 300; ++i) {
            nest += "--n" + std::to_string(i) + "\nContent-Type: multipart/mixed; boundary=n" + std::to_string(i + 1) + "\n\n";
            tail = "--n" + std::to_string(i) + "--\n" + tail;
        }
        const std::string deep = "Content-Type: multipart/mixed; boundary=n0\n\n" + nest + "--n300\n" + kPlainPart +
                                 "--n300--\n" + tail;
        cases.push_back({"deep nesting", head("b") + "--b\n" + deep + "--b\n" + tnef + "--b--\n", {"--b\n" + deep + "--b\n"}, 1});
    }
    {
        const std::string inner = "Content-Type: multipart/mixed; boundary=b\n\n--b\n" + kPlainPart + "--b\n" + tnef + "--b--\n";
        cases.push_back({"nested body with the same boundary",
                         head("b") + "--b\n" + inner + "--b\n" + kPdfPart + "--b--\n", {"--b\n" + kPdfPart + "--b--\n"}, -1});
    }
    cases.push_back({"boundary look-alikes", head("b") + "--b-x\n--b \n--bb\n--b\n" + kPlainPart + "--b--x\n--b\n" + tnef +
                                                 "--b\n" + kPdfPart + "--b--\n",
                     {"--b-x\n--b \n--bb\n--b\n" + kPlainPart + "--b--x\n--b\n", "--b\n" + kPdfPart + "--b--\n"}, 1});
    cases.push_back({"two tnef parts back to back", head("b") + "--b\n" + kTnefHeaders + testsupport::base64Lines(goodTnef()) +
                                                        "\n--b\n" + kTnefHeaders + testsupport::base64Lines(goodTnef()) +
                                                        "\n--b\n" + kPdfPart + "--b--\n",
                     {"--b\n" + kPdfPart + "--b--\n"}, 2});
    cases.push_back({"part without a blank line after its headers",
                     head("b") + "--b\nContent-Type: text/plain\n--b\n" + tnef + "--b\n" + kPdfPart + "--b--\n",
                     {"--b\nContent-Type: text/plain\n--b\n", "--b\n" + kPdfPart + "--b--\n"}, 1});
    cases.push_back({"lines after the blank line that ends the tnef body",
                     head("b") + "--b\n" + kPlainPart + "--b\n" + kTnefHeaders + b64("not tnef at all") +
                         "\nstray text\n\n--b\n" + kPdfPart + "--b--\n",
                     {"--b\n" + kPlainPart + "--b\n", "--b\n" + kPdfPart + "--b--\n"}, 0});
    {
        // The inner body lacks its closing delimiter: what follows the TNEF part stays.
        const std::string inner = "Content-Type: multipart/mixed; boundary=c\n\n--c\n" + kPlainPart + "--c\n" + tnef +
                                  "\n-- \nsignature\n";
        cases.push_back({"inner body without its closing delimiter",
                         head("b") + "--b\n" + inner + "--b\n" + kPdfPart + "--b--\n",
                         {"--c\n" + kPlainPart + "--c\n", "\n-- \nsignature\n--b\n" + kPdfPart + "--b--\n"}, 1});
        cases.push_back({"inner body without its closing delimiter, stray text after the tnef part",
                         head("b") + "--b\n" + inner + "stray\n--b\n" + kPdfPart + "--b--\n",
                         {"--c\n" + kPlainPart + "--c\n", "stray\n--b\n" + kPdfPart + "--b--\n"}, 1});
    }
    cases.push_back({"tnef headers without a blank line before the next part",
                     head("b") + "--b\n" + kPlainPart + "--b\nContent-Type: application/ms-tnef\n" +
                         "--b\nContent-Disposition: attachment; filename=a.pdf\n\n" + b64("%PDF") + "--b--\n",
                     {"--b\n" + kPlainPart + "--b\n",
                      "--b\nContent-Disposition: attachment; filename=a.pdf\n\n" + b64("%PDF") + "--b--\n"},
                     0});
    cases.push_back({"empty input", "", {}, 0});
    cases.push_back({"headers only", "Content-Type: multipart/mixed; boundary=b\n", {"Content-Type: multipart/mixed"}, 0});
    cases.push_back({"no blank line before the body", "Content-Type: multipart/mixed; boundary=b\n--b\n" + tnef + "--b--\n",
                     {}, -1});
    cases.push_back({"epilogue after the delimiter",
                     head("b") + "--b\n" + tnef + "--b--\nepilogue --b\n--b\n" + kPlainPart,
                     {"--b--\nepilogue --b\n--b\n" + kPlainPart}, 1});
    return cases;
}

class HostileMessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string tnef = testsupport::findInPath("tnef");
        if (tnef.empty()) GTEST_SKIP() << "tnef is not installed";
        root_ = std::make_unique<testsupport::TempDir>();
        filter_.programDir = root_->path() + "/";
        ASSERT_EQ(::symlink(tnef.c_str(), (filter_.programDir + "tnef").c_str()), 0);
        ASSERT_EQ(::symlink(PARVEX_BINARY_DIR "/filter/rtf2html", (filter_.programDir + "rtf2html").c_str()), 0);
        filter_.tempDir = filter_.programDir + "pvx_temp/" + std::to_string(::getpid()) + "/";
        ASSERT_TRUE(cgp::makeOwnDirectory(filter_.programDir + "pvx_temp/" + std::to_string(::getpid())));
    }

    struct Outcome {
        std::vector<AttachmentRecord> records;
        std::string copy;
        std::string log;
    };

    // The walk, then the copy from the same file, as filter mode does it.
    Outcome convert(const std::string& message) {
        const std::string path = filter_.programDir + "message";
        testsupport::writeFile(path, message);
        Outcome o;
        testsupport::StdoutCapture capture;
        {
            qdl::ifstream in(path, std::ios::binary);
            filter_.convertMessage(in, o.records);
        }
        {
            qdl::ifstream in(path, std::ios::binary);
            std::ostringstream out;
            filter_.writeConvertedMessage(in, out, o.records);
            o.copy = out.str();
        }
        o.log = capture.text();
        return o;
    }

    std::unique_ptr<testsupport::TempDir> root_;
    Parvex filter_;
};

// Attachment names are the sender's: tnef lists them raw, line ends and
// separators included, and writes the files under escaped names.
TEST_F(HostileMessageTest, EveryAttachmentOfHostileNamesIsExtracted) {
    const std::vector<std::vector<std::string>> nameSets = {
        {"../escape.txt", "/etc/passwd", "a/b.txt", "..", "."},
        {"split\t|\tname.txt", "plain.txt"},
        {"x\t|\t\t|\t", "plain.txt"},
        {"q\n./winmail.dat\nz", "plain.txt"},
        {"plain.txt", "q\n./plain.txt\nz"},
        {"q\n./plain.txt\nz", "plain.txt"},
        {"line\nbreak.txt", "\n\n", "plain.txt"},
    };
    for (const std::vector<std::string>& names : nameSets) {
        SCOPED_TRACE(names[0]);
        TnefWriter w;
        for (std::size_t i = 0; i < names.size(); ++i) w.addAttachment(names[i], "content " + std::to_string(i) + "\n");
        const Outcome o = convert(head("b") + "--b\n" + kPlainPart + "--b\n" + kTnefHeaders + b64(w.bytes()) + "--b--\n");
        ASSERT_EQ(o.records.size(), 1u) << o.log;
        EXPECT_EQ(o.records[0].entries.size(), names.size()) << o.log;
        EXPECT_EQ(o.log.find("message is left unconverted"), std::string::npos) << o.log;
        for (std::size_t i = 0; i < names.size(); ++i)
            EXPECT_NE(o.copy.find(b64("content " + std::to_string(i) + "\n")), std::string::npos) << i;
        EXPECT_NE(o.copy.find("--b\n" + kPlainPart + "--b\n"), std::string::npos);
    }
}

struct Flags {
    bool keepWinmail;
    bool alwaysRemoveWinmail;
};

class HostileMessageFlagsTest : public HostileMessageTest, public ::testing::WithParamInterface<Flags> {};

TEST_P(HostileMessageFlagsTest, EveryOtherPartSurvives) {
    filter_.keepWinmail = GetParam().keepWinmail;
    filter_.alwaysRemoveWinmail = GetParam().alwaysRemoveWinmail;
    for (const HostileCase& c : hostileCases()) {
        SCOPED_TRACE(c.name);
        const Outcome o = convert(c.message);
        if (c.records >= 0 && !filter_.alwaysRemoveWinmail) {
            EXPECT_EQ(o.records.size(), static_cast<std::size_t>(c.records)) << o.log.substr(0, 2000);
        }
        for (const std::string& s : c.survivors)
            EXPECT_NE(o.copy.find(s), std::string::npos) << "lost: " << s.substr(0, 200);
        for (const AttachmentRecord& r : o.records) {
            if (r.entries.empty()) continue;
            // Each record's files went into the copy.
            EXPECT_NE(o.copy.find("Content-Disposition: attachment;\n   filename=\"inside"), std::string::npos);
        }
        EXPECT_EQ(o.log.find("message is left unconverted"), std::string::npos) << o.log.substr(0, 2000);
        // With the TNEF part kept, every line of the input is in the copy, in order.
        if (filter_.keepWinmail && c.message.find('\r') == std::string::npos) {
            EXPECT_TRUE(testsupport::linesInOrder(c.message, o.copy));
        }
    }
}

// Lines read in pieces, however small, change nothing: the same records,
// the same log and the same copy as lines read whole.
TEST_P(HostileMessageFlagsTest, SmallLinePiecesChangeNothing) {
    filter_.keepWinmail = GetParam().keepWinmail;
    filter_.alwaysRemoveWinmail = GetParam().alwaysRemoveWinmail;
    for (const HostileCase& c : hostileCases()) {
        SCOPED_TRACE(c.name);
        filter_.linePieceLimit = std::string::npos;
        const Outcome whole = convert(c.message);
        for (std::size_t limit : {std::size_t(1), std::size_t(3), std::size_t(64)}) {
            SCOPED_TRACE("piece limit " + std::to_string(limit));
            filter_.linePieceLimit = limit;
            const Outcome o = convert(c.message);
            ASSERT_EQ(o.records.size(), whole.records.size()) << o.log.substr(0, 2000);
            for (std::size_t i = 0; i < o.records.size(); ++i) {
                EXPECT_EQ(o.records[i].start, whole.records[i].start);
                EXPECT_EQ(o.records[i].end, whole.records[i].end);
                EXPECT_EQ(o.records[i].entries.size(), whole.records[i].entries.size());
            }
            EXPECT_EQ(o.log, whole.log);
            EXPECT_TRUE(o.copy == whole.copy) << "the copies differ";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Flags, HostileMessageFlagsTest,
                         ::testing::Values(Flags{false, false}, Flags{true, false}, Flags{false, true},
                                           Flags{true, true}));

}  // namespace

namespace {

// Every real-world sample, inside a message between two ordinary parts.
TEST_F(HostileMessageTest, FixtureSamplesThroughTheCopy) {
    const std::vector<std::string> samples = testsupport::tnefSamples();
    if (samples.empty()) GTEST_SKIP() << testsupport::noSamplesReason();
    const std::string fixtures = testsupport::tnefSamplesDir();
    for (const std::string& name : samples) {
        SCOPED_TRACE(name);
        const std::string data = testsupport::readFile(fixtures + "/" + name);
        const Outcome o = convert(head("b") + "--b\n" + kPlainPart + "--b\n" + kTnefHeaders + b64(data) + "--b\n" +
                                  kPdfPart + "--b--\n");
        EXPECT_NE(o.copy.find("--b\n" + kPlainPart + "--b\n"), std::string::npos);
        EXPECT_NE(o.copy.find("--b\n" + kPdfPart + "--b--\n"), std::string::npos);
        EXPECT_EQ(o.log.find("message is left unconverted"), std::string::npos) << o.log;
        std::size_t inserted = 0;
        for (std::size_t at = o.copy.find("Content-Disposition: attachment;\n   filename="); at != std::string::npos;
             at = o.copy.find("Content-Disposition: attachment;\n   filename=", at + 1))
            ++inserted;
        std::size_t entries = 0;
        for (const AttachmentRecord& r : o.records) entries += r.entries.size();
        // The body alternative is not an attachment; in multipart/mixed there is none.
        EXPECT_EQ(inserted, entries) << o.log;
        // What was inserted is gone from the temporary directory.
        EXPECT_EQ(testsupport::listDir(filter_.tempDir), std::vector<std::string>{cgp::kOwnDirectoryMarker});
    }
}

}  // namespace

namespace {

std::string noise(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (char& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return s;
}

// A message of a few megabytes whose text part, TNEF part and other
// attachment may each be one huge line.
struct HugeMessage {
    std::string text;        // the text part's body: one line without breaks
    std::string tnefData;    // holds a large attachment
    std::string payload;     // that attachment
    std::string attachment;  // the other attachment's data
    HugeMessage() {
        payload = noise(1536 * 1024, 7);
        TnefWriter w;
        w.addAttachment("big.bin", payload);
        w.addAttachment("inside.txt", "inside the winmail\n");
        tnefData = w.bytes();
        const std::string printable = testsupport::base64Lines(noise(1024 * 1024, 9), 0);
        text = "a text of one line " + printable;
        attachment = noise(1024 * 1024, 11);
    }
    // Each body is one line, or lines of 76 characters; `ending` follows the
    // closing delimiter ("" for a file without a final line end).
    std::string render(bool oneLineTnef, bool oneLineAttachment, const std::string& ending = "\n") const {
        return head("b") + "--b\nContent-Type: text/plain\n\n" + text + "\n--b\n" + kTnefHeaders +
               testsupport::base64Lines(tnefData, oneLineTnef ? 0 : 76) + "\n\n--b\n" + kAttachmentHeaders +
               testsupport::base64Lines(attachment, oneLineAttachment ? 0 : 76) + "\n--b--" + ending;
    }
    static const std::string kAttachmentHeaders;
};

const std::string HugeMessage::kAttachmentHeaders =
    "Content-Type: application/octet-stream; name=\"data.bin\"\nContent-Transfer-Encoding: base64\n\n";

// Bodies sent as one huge line are read in pieces: the copy is the one that
// lines read whole give, the other parts come out byte for byte, and the
// TNEF part gives what it gives when its base64 comes in ordinary lines.
TEST_F(HostileMessageTest, HugeSingleLinesAreReadInPieces) {
    const HugeMessage m;
    const std::string oneLine = m.render(true, true);
    const std::string textPart = "--b\nContent-Type: text/plain\n\n" + m.text + "\n--b\n";
    const std::string attachmentPart =
        "--b\n" + HugeMessage::kAttachmentHeaders + testsupport::base64Lines(m.attachment, 0) + "\n--b--\n";
    const std::string inserted = testsupport::base64Lines(m.payload) + "\n";

    filter_.linePieceLimit = std::string::npos;
    const Outcome whole = convert(oneLine);
    ASSERT_EQ(whole.records.size(), 1u) << whole.log;
    ASSERT_EQ(whole.records[0].entries.size(), 2u) << whole.log;
    EXPECT_NE(whole.copy.find(textPart), std::string::npos);
    EXPECT_NE(whole.copy.find(attachmentPart), std::string::npos);
    EXPECT_NE(whole.copy.find(inserted), std::string::npos);

    for (std::size_t limit : {std::size_t(997), std::size_t(4096), cgp::kDefaultLinePieceLimit}) {
        SCOPED_TRACE("piece limit " + std::to_string(limit));
        filter_.linePieceLimit = limit;
        const Outcome o = convert(oneLine);
        ASSERT_EQ(o.records.size(), 1u) << o.log;
        EXPECT_EQ(o.records[0].start, whole.records[0].start);
        EXPECT_EQ(o.records[0].end, whole.records[0].end);
        EXPECT_EQ(o.log, whole.log);
        EXPECT_TRUE(o.copy == whole.copy) << "the copies differ";

        // The same message with ordinary base64 lines gives the same copy.
        const Outcome lines = convert(m.render(false, true));
        EXPECT_EQ(lines.log, whole.log);
        EXPECT_TRUE(lines.copy == whole.copy) << "the copies differ";

        // The TNEF part kept: its huge line is copied unchanged.
        filter_.keepWinmail = true;
        const Outcome kept = convert(oneLine);
        filter_.keepWinmail = false;
        EXPECT_NE(kept.copy.find(inserted), std::string::npos);
        EXPECT_NE(kept.copy.find("--b\n" + kTnefHeaders + testsupport::base64Lines(m.tnefData, 0) + "\n\n--b\n"),
                  std::string::npos);
        EXPECT_NE(kept.copy.find(textPart), std::string::npos);
        EXPECT_NE(kept.copy.find(attachmentPart), std::string::npos);
    }
}

// CR LF line ends, a file that ends in the middle of a huge line, and a file
// that is one line without any line end.
TEST_F(HostileMessageTest, HugeLinesAtTheEndOfTheInput) {
    const HugeMessage m;
    const std::string crlf = testsupport::toCrlf(m.render(true, true));
    // The last part runs into the end of the file in the middle of its line.
    const std::string cutOff = head("b") + "--b\nContent-Type: text/plain\n\n" + m.text + "\n--b\n" + kTnefHeaders +
                               testsupport::base64Lines(m.tnefData, 0) + "\n\n--b\n" + HugeMessage::kAttachmentHeaders +
                               testsupport::base64Lines(m.attachment, 0);
    const std::string tnefLast = head("b") + "--b\n" + kTnefHeaders + testsupport::base64Lines(m.tnefData, 0);
    const std::string noLineEnd = m.text;
    struct Case {
        const char* name;
        const std::string& message;
        std::size_t records;
        std::string survivor;
    } cases[] = {
        {"CR LF line ends", crlf, 1, "--b\n" + HugeMessage::kAttachmentHeaders + testsupport::base64Lines(m.attachment, 0) + "\n--b--\n"},
        {"end of input inside the last line", cutOff, 1,
         "--b\n" + HugeMessage::kAttachmentHeaders + testsupport::base64Lines(m.attachment, 0) + "\n"},
        {"TNEF line at the end of the input", tnefLast, 1, head("b")},
        {"one line without a line end", noLineEnd, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        filter_.linePieceLimit = std::string::npos;
        const Outcome whole = convert(c.message);
        ASSERT_EQ(whole.records.size(), c.records) << whole.log;
        if (c.records > 0) {
            EXPECT_NE(whole.copy.find(testsupport::base64Lines(m.payload) + "\n"), std::string::npos);
        }
        EXPECT_NE(whole.copy.find(c.survivor), std::string::npos);
        for (std::size_t limit : {std::size_t(1000), cgp::kDefaultLinePieceLimit}) {
            SCOPED_TRACE("piece limit " + std::to_string(limit));
            filter_.linePieceLimit = limit;
            const Outcome o = convert(c.message);
            ASSERT_EQ(o.records.size(), c.records) << o.log;
            for (std::size_t i = 0; i < c.records; ++i) {
                EXPECT_EQ(o.records[i].start, whole.records[i].start);
                EXPECT_EQ(o.records[i].end, whole.records[i].end);
            }
            EXPECT_EQ(o.log, whole.log);
            EXPECT_TRUE(o.copy == whole.copy) << "the copies differ";
        }
    }
}

}  // namespace
