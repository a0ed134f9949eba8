// Batch mode over an mdir tree built in a temporary directory.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "filter/parvex.h"
#include "filter/temp_dirs.h"
#include "runtime/base64.h"
#include "runtime/files.h"
#include "support/core/capture.h"
#include "support/core/limits.h"
#include "support/core/run_program.h"
#include "support/filter/samples.h"
#include "support/filter/tnef_writer.h"

using testsupport::StdoutCapture;
using testsupport::TempDir;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

const char kPlainMessage[] =
    "P I 10-01-2025 10:00:00 0000 ____ ____ <s@example.com>\n"
    "R W 10-01-2025 10:00:00 0000 ____ ____ <r@example.com>\n"
    "\n"
    "From: s@example.com\n"
    "Subject: plain\n"
    "\n"
    "Nothing to convert here.\n";

class BatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = tree.path() + "/mail";
        ASSERT_EQ(0, ::mkdir(root.c_str(), 0755));
        ASSERT_EQ(0, ::mkdir((prog / "pvx_temp").c_str(), 0755));
        filter.programDir = prog.path() + "/";
    }

    void makeDir(const std::string& relative) { ASSERT_EQ(0, ::mkdir((root + "/" + relative).c_str(), 0755)); }
    void put(const std::string& relative, const std::string& text) {
        testsupport::writeFile(root + "/" + relative, text);
    }
    std::string get(const std::string& relative) { return testsupport::readFile(root + "/" + relative); }

    std::vector<std::string> runTree() {
        StdoutCapture capture;
        filter.convertMdirTree(root);
        return lines(capture.text());
    }

    TempDir tree;
    TempDir prog;
    std::string root;
    Parvex filter;
};

TEST_F(BatchTest, NamesWithADotAreSkippedAndDotNamesNeverVisited) {
    put("1234", kPlainMessage);
    for (const char* name : {"1234.msg", "a.tmp", "a.old"}) put(name, kPlainMessage);
    put(".hidden", kPlainMessage);
    makeDir(".dotdir");
    put(".dotdir/5678", kPlainMessage);
    const std::vector<std::string> out = runTree();

    EXPECT_TRUE(contains(out, "* Processing " + root + "/1234"));
    for (const char* name : {"1234.msg", "a.tmp", "a.old"})
        EXPECT_TRUE(contains(out, "* Skipping non-mdir file " + root + "/" + name)) << name;
    for (const std::string& line : out) {
        EXPECT_EQ(std::string::npos, line.find(".hidden")) << line;
        EXPECT_EQ(std::string::npos, line.find(".dotdir")) << line;
    }
    EXPECT_EQ(4u, out.size());
    EXPECT_EQ(kPlainMessage, get("1234")) << "nothing to convert: untouched";
}

TEST_F(BatchTest, RecursesUnlessNoRecurse) {
    put("1", kPlainMessage);
    makeDir("sub");
    put("sub/2", kPlainMessage);
    makeDir("sub/deeper");
    put("sub/deeper/3", kPlainMessage);

    std::vector<std::string> out = runTree();
    for (const char* name : {"/1", "/sub/2", "/sub/deeper/3"})
        EXPECT_TRUE(contains(out, "* Processing " + root + name)) << name;
    EXPECT_EQ(3u, out.size());

    filter.noRecurse = true;
    out = runTree();
    EXPECT_EQ(std::vector<std::string>{"* Processing " + root + "/1"}, out);
}

TEST_F(BatchTest, DepthFirstSubdirectoryFinishedFirst) {
    makeDir("sub");
    put("sub/2", kPlainMessage);
    put("sub/3", kPlainMessage);
    put("1", kPlainMessage);
    const std::vector<std::string> out = runTree();
    ASSERT_EQ(3u, out.size());
    // Whatever the listing order, the two lines of "sub" are adjacent.
    const auto first = std::find_if(out.begin(), out.end(),
                                    [](const std::string& l) { return l.find("/sub/") != std::string::npos; });
    ASSERT_NE(out.end(), first);
    ASSERT_NE(out.end(), first + 1);
    EXPECT_NE(std::string::npos, (first + 1)->find("/sub/"));
}

// A link back up the tree must not make the walk go round for ever; a link
// to a directory outside the tree is walked like the directory itself.
TEST_F(BatchTest, LinkLoopsArePassedOver) {
    put("1", kPlainMessage);
    makeDir("sub");
    put("sub/2", kPlainMessage);
    ASSERT_EQ(0, ::symlink("..", (root + "/sub/up").c_str()));
    ASSERT_EQ(0, ::symlink(root.c_str(), (root + "/self").c_str()));
    const std::string outside = tree.path() + "/outside";
    ASSERT_EQ(0, ::mkdir(outside.c_str(), 0755));
    testsupport::writeFile(outside + "/9", kPlainMessage);
    ASSERT_EQ(0, ::symlink(outside.c_str(), (root + "/linked").c_str()));

    const std::vector<std::string> out = runTree();
    int processing = 0;
    for (const std::string& line : out)
        if (line.compare(0, 13, "* Processing ") == 0) ++processing;
    EXPECT_EQ(3, processing);
    EXPECT_TRUE(contains(out, "* Processing " + root + "/linked/9"));
    EXPECT_TRUE(contains(out, "* Skipping directory visited before " + root + "/sub/up"));
    EXPECT_TRUE(contains(out, "* Skipping directory visited before " + root + "/self"));
}

TEST_F(BatchTest, UnreadableEntriesAreReportedAndWalkGoesOn) {
    ASSERT_EQ(0, ::symlink("nowhere", (root + "/dangling").c_str()));
    ASSERT_EQ(0, ::mkfifo((root + "/fifo").c_str(), 0644));
    put("2", kPlainMessage);
    std::vector<std::string> out;
    {
        StdoutCapture capture;
        filter.convertMdirFile(root + "/dangling");
        filter.convertMdirFile(root + "/fifo");
        out = lines(capture.text());
    }
    EXPECT_EQ((std::vector<std::string>{"* Processing " + root + "/dangling", "* Unable to open file " + root + "/dangling",
                                        "* Processing " + root + "/fifo", "* Unable to open file " + root + "/fifo"}),
              out);
    out = runTree();
    EXPECT_TRUE(contains(out, "* Unable to open file " + root + "/dangling"));
    EXPECT_TRUE(contains(out, "* Unable to open file " + root + "/fifo"));
    EXPECT_TRUE(contains(out, "* Processing " + root + "/2"));
}

// A file that opens but cannot be read (an I/O error; reading this
// process's memory from offset 0 fails the same way) is reported and the
// walk goes on; the batch must not end there.
TEST_F(BatchTest, ReadErrorIsReportedAndWalkGoesOn) {
    if (!qdl::isFile("/proc/self/mem")) GTEST_SKIP() << "no /proc/self/mem";
    ASSERT_EQ(0, ::symlink("/proc/self/mem", (root + "/mem").c_str()));
    put("2", kPlainMessage);
    std::vector<std::string> out;
    {
        StdoutCapture capture;
        EXPECT_NO_THROW(filter.convertMdirFile(root + "/mem"));
        out = lines(capture.text());
    }
    EXPECT_EQ((std::vector<std::string>{"* Processing " + root + "/mem", "* Unable to open file " + root + "/mem"}), out);
    EXPECT_NO_THROW(out = runTree());
    EXPECT_TRUE(contains(out, "* Processing " + root + "/2"));
    EXPECT_EQ(kPlainMessage, get("2"));
    EXPECT_EQ((std::vector<std::string>{"2", "mem"}), testsupport::listDir(root));
}

TEST_F(BatchTest, MissingTreeReportsNothing) {
    root = tree.path() + "/no-such-dir";
    EXPECT_TRUE(runTree().empty());
}

// One attachment "AUTHORS" of 244 bytes, made by our own TNEF writer.
std::string authorsTnef() {
    std::string text;
    for (int i = 0; text.size() < 244; ++i) text += "Author " + std::to_string(i) + " <a" + std::to_string(i) + "@example.com>\n";
    text.resize(243);
    text += '\n';
    testsupport::TnefWriter w;
    w.addAttachment("AUTHORS", text);
    return w.bytes();
}

// Conversions with the system's tnef, through a program directory that links to it.
class BatchTnefTest : public BatchTest {
protected:
    void SetUp() override {
        BatchTest::SetUp();
        if (!qdl::isFile("/usr/bin/tnef")) GTEST_SKIP() << "tnef is not installed";
        ASSERT_EQ(0, ::symlink("/usr/bin/tnef", (prog / "tnef").c_str()));
        std::string temp = prog.path() + "/pvx_temp/" + std::to_string(::getpid());
        ASSERT_TRUE(cgp::makeOwnDirectory(temp));
        filter.tempDir = temp + "/";
        tnefData = authorsTnef();
        // What tnef itself extracts from it.
        const std::string dat = reference / "winmail.dat";
        testsupport::writeFile(dat, tnefData);
        const testsupport::ProgramResult r = testsupport::runProgram(
            {"/usr/bin/tnef", "-f", dat, "--directory=" + reference.path()}, "");
        ASSERT_EQ(0, r.exitCode) << r.err;
        authors = testsupport::readFile(reference / "AUTHORS");
        ASSERT_EQ(244u, authors.size());
    }

    // `lineLength` 0 puts the whole base64 body on one line.
    std::string message(const std::string& eol = "\n", const std::string& extraHeader = "",
                        const std::string& padding = "", std::size_t lineLength = 76) {
        std::string body = qdl::base64EncodeString(tnefData);
        if (lineLength == 0) lineLength = body.size();
        std::string b64;
        for (std::size_t i = 0; i < body.size(); i += lineLength) b64 += body.substr(i, lineLength) + eol;
        std::string m = "P I 10-01-2025 10:00:00 0000 ____ ____ <s@example.com>" + eol +
                        "R W 10-01-2025 10:00:00 0000 ____ ____ <r@example.com>" + eol + eol + extraHeader +
                        "From: s@example.com" + eol + "Content-Type: multipart/mixed; boundary=\"XX\"" + eol + eol +
                        "--XX" + eol + "Content-Type: text/plain" + eol + eol + "Hello" + eol + padding + "--XX" + eol +
                        "Content-Type: application/ms-tnef; name=\"winmail.dat\"" + eol +
                        "Content-Transfer-Encoding: base64" + eol + eol + b64 + eol + "--XX--" + eol;
        return m;
    }

    // The base64 text of the part named `name` in a converted message.
    static std::string attachmentData(const std::string& converted, const std::string& name) {
        const std::string marker = "   filename=\"" + name + "\"\n\n";
        const std::string::size_type from = converted.find(marker);
        if (from == std::string::npos) return std::string();
        const std::string::size_type start = from + marker.size();
        const std::string::size_type end = converted.find("\n\n", start);
        std::string text = converted.substr(start, end - start);
        text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
        return qdl::base64DecodeString(text);
    }

    TempDir reference;
    std::string tnefData;
    std::string authors;
};

TEST_F(BatchTnefTest, MessageIsRewrittenInPlace) {
    put("1001", message());
    ASSERT_EQ(0, ::chmod((root + "/1001").c_str(), 0600));
    const std::vector<std::string> out = runTree();

    EXPECT_TRUE(contains(out, "* Processing " + root + "/1001"));
    EXPECT_EQ(std::vector<std::string>{"1001"}, testsupport::listDir(root)) << "no .tmp or .old is left";
    const std::string converted = get("1001");
    EXPECT_EQ(0u, converted.find("From: s@example.com\nContent-Type: multipart/mixed; boundary=\"XX\"\n\n--XX\n"))
        << "no envelope carried over";
    EXPECT_EQ(std::string::npos, converted.find("X-Parvex:"));
    EXPECT_EQ(std::string::npos, converted.find("X-ExtScanner:"));
    EXPECT_EQ(std::string::npos, converted.find("application/ms-tnef"));
    EXPECT_NE(std::string::npos, converted.find("Content-Disposition: attachment;\n   filename=\"AUTHORS\"\n"));
    EXPECT_EQ(authors, attachmentData(converted, "AUTHORS"));
    // The closing delimiter stays; the copy of a message that ended with a
    // line end gets one empty line more.
    EXPECT_EQ(converted.size() - 9, converted.rfind("\n--XX--\n\n"));

    struct stat st;
    ASSERT_EQ(0, ::stat((root + "/1001").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777) << "the copy keeps the message's mode";
    EXPECT_FALSE(qdl::isFile(filter.tempDir + "AUTHORS")) << "inserted files are deleted";

    // Nothing is left to convert in the copy: a second run leaves it alone.
    runTree();
    EXPECT_EQ(converted, get("1001"));
}

TEST_F(BatchTnefTest, CrLfMessageIsWrittenWithLf) {
    put("1002", message("\r\n"));
    runTree();
    const std::string converted = get("1002");
    EXPECT_EQ(std::string::npos, converted.find('\r'));
    EXPECT_EQ(authors, attachmentData(converted, "AUTHORS"));
}

// A TNEF body on one line, read in pieces shorter than the line, is
// rewritten to the same file as its ordinary form; kept, it stays one line.
TEST_F(BatchTnefTest, OneLineBodyReadInPiecesGivesTheOrdinaryCopy) {
    put("1010", message());
    runTree();
    const std::string ordinary = get("1010");
    for (const bool keep : {false, true}) {
        filter.keepWinmail = keep;
        filter.linePieceLimit = 100;
        const std::string oneLine = message("\n", "", "", 0);
        put("1011", oneLine);
        runTree();
        const std::string converted = get("1011");
        EXPECT_EQ(authors, attachmentData(converted, "AUTHORS"));
        if (keep) {
            const std::string line = qdl::base64EncodeString(tnefData);
            EXPECT_NE(std::string::npos, converted.find("Content-Transfer-Encoding: base64\n\n" + line + "\n\n--XX--\n"));
        } else {
            EXPECT_EQ(ordinary, converted);
        }
    }
}

TEST_F(BatchTnefTest, KeepWinmailKeepsThePartAfterTheFiles) {
    filter.keepWinmail = true;
    put("1003", message());
    runTree();
    const std::string converted = get("1003");
    const std::string::size_type file = converted.find("filename=\"AUTHORS\"");
    const std::string::size_type part = converted.find("Content-Type: application/ms-tnef");
    ASSERT_NE(std::string::npos, file);
    ASSERT_NE(std::string::npos, part);
    EXPECT_LT(file, part);
}

TEST_F(BatchTnefTest, AlreadyProcessedMessageIsLeftAlone) {
    const std::string original = message("\n", "X-Parvex: 1 attachments extracted.\n");
    put("1004", original);
    const std::vector<std::string> out = runTree();
    EXPECT_TRUE(contains(out, "* This file has already been processed, skipping"));
    EXPECT_EQ(original, get("1004"));
}

// A message its owner may only read is still converted by that owner (the
// directory allows the replacement), and the copy keeps the read-only mode.
TEST_F(BatchTnefTest, ReadOnlyMessageIsConvertedByItsOwner) {
    put("1007", message());
    const std::string file = root + "/1007";
    ASSERT_EQ(0, ::chmod(file.c_str(), 0444));
    if (::geteuid() != 0) {
        StdoutCapture capture;
        filter.convertMdirFile(file);
    } else {
        // Root writes whatever the mode says; run as an ordinary owner.
        const uid_t uid = 65534;
        const gid_t gid = 65534;
        for (const std::string& path : {tree.path(), root, file, prog.path(), prog / "pvx_temp", filter.tempDir})
            ASSERT_EQ(0, ::chown(path.c_str(), uid, gid)) << path;
        StdoutCapture capture;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(2);
            filter.convertMdirFile(file);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(child, ::waitpid(child, &status, 0));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    const std::string converted = get("1007");
    EXPECT_EQ(std::string::npos, converted.find("application/ms-tnef"));
    EXPECT_EQ(authors, attachmentData(converted, "AUTHORS"));
    struct stat st;
    ASSERT_EQ(0, ::stat(file.c_str(), &st));
    EXPECT_EQ(0444u, st.st_mode & 07777);
    EXPECT_EQ(std::vector<std::string>{"1007"}, testsupport::listDir(root));
}

// A name for the copy that is taken already is not overwritten; the
// message stays as it was.
TEST_F(BatchTnefTest, ExistingTmpIsNotOverwritten) {
    const std::string original = message();
    put("1005", original);
    put("1005.tmp", "not ours");
    const std::vector<std::string> out = runTree();
    EXPECT_TRUE(contains(out, "* Unable to write the converted copy of " + root + "/1005, file left unchanged"));
    EXPECT_EQ(original, get("1005"));
    EXPECT_EQ("not ours", get("1005.tmp"));
}

// The disk fills up (here: the file-size limit) while the copy is written:
// the half copy is removed, the message is untouched, and a line says so.
TEST_F(BatchTnefTest, FailedWriteLeavesOriginal) {
    const std::string original = message("\n", "", std::string(40, 'x') + "\n" + std::string(8000, 'y') + "\n");
    put("1006", original);
    std::vector<std::string> out;
    {
        // Room for the decoded TNEF data, not for the copy.
        testsupport::ResourceLimit small(RLIMIT_FSIZE, 6000);
        ASSERT_TRUE(small.ok());
        StdoutCapture capture;
        filter.convertMdirTree(root);
        out = lines(capture.text());
    }
    EXPECT_TRUE(contains(out, "* Unable to write the converted copy of " + root + "/1006, file left unchanged"));
    EXPECT_EQ(original, get("1006"));
    EXPECT_EQ(std::vector<std::string>{"1006"}, testsupport::listDir(root));
}

}  // namespace

namespace {

std::string pattern(std::size_t size, char first) {
    std::string s(size, ' ');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(first + i % 23);
    return s;
}

// tnef reads these only in part: it writes some files and then ends
// abnormally, so the batch keeps the TNEF part beside them.
struct PartlyRead {
    const char* name;
    std::string (*make)();
    const char* firstFile;
    std::size_t files;  // written before tnef ends
};

// Cut off inside the second attachment's data: tnef exits with status 1
// after writing the first.
std::string truncatedTnef() {
    testsupport::TnefWriter w;
    w.addAttachment("AUTHORS", pattern(244, 'a'));
    w.addAttachment("README", pattern(893, 'A'));
    w.truncateAt(w.span(testsupport::tnef::kAttAttachData, 1).dataOffset + 100);
    return w.bytes();
}

// An attribute of an unknown level after two attachments: tnef fails an
// assertion and dies by SIGABRT after writing the first.
std::string mangledTnef() {
    testsupport::TnefWriter w;
    w.addAttachment("image001.jpg", pattern(1125, '0'));
    w.addAttachment("image002.jpg", pattern(958, '@'));
    w.addRawAttribute(7, testsupport::tnef::kAttBody, "mangled");
    return w.bytes();
}

const PartlyRead kPartlyRead[] = {{"truncated", truncatedTnef, "AUTHORS", 1}, {"mangled", mangledTnef, "image001.jpg", 1}};

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Batch mode over a message that tnef reads only in part, three runs in a
// row: the first converts, the later ones change nothing, with or without
// --keep-winmail.
class BatchRerunTest : public BatchTnefTest {
protected:
    // `files`: how many files tnef writes before it ends.
    void threeRuns(const std::string& data, const std::string& firstFile, std::size_t files) {
        const struct {
            bool keep, alwaysRemove;
            const char* name;
        } flagSets[] = {{false, false, "default"},
                        {true, false, "--keep-winmail"},
                        {true, true, "--keep-winmail --always-remove-winmail"}};
        for (const auto& flags : flagSets) {
            SCOPED_TRACE(flags.name);
            filter.keepWinmail = flags.keep;
            filter.alwaysRemoveWinmail = flags.alwaysRemove;
            tnefData = data;
            const std::string original = message();
            put("2001", original);
            std::vector<std::string> log = runTree();
            const std::string first = get("2001");
            ASSERT_NE(original, first) << "the first run converts";
            EXPECT_EQ(1u, occurrences(first, "filename=\"" + firstFile + "\"")) << first;
            EXPECT_EQ(1u, occurrences(first, "Content-Type: application/ms-tnef")) << "the part is kept";
            // The mark opens the kept part's own header block; the top has none.
            const std::string kept = "\n--XX\nX-Parvex: " + std::to_string(files) +
                                     " attachments extracted.\nContent-Type: application/ms-tnef;";
            EXPECT_EQ(1u, occurrences(first, kept)) << first;
            EXPECT_EQ(1u, occurrences(first, "X-Parvex:"));
            for (int run = 2; run <= 3; ++run) {
                log = runTree();
                EXPECT_EQ(first, get("2001")) << "run " << run;
                EXPECT_TRUE(contains(log, "* This file has already been processed, skipping")) << "run " << run;
            }
            EXPECT_EQ(std::vector<std::string>{"2001"}, testsupport::listDir(root));
            EXPECT_EQ(std::vector<std::string>{cgp::kOwnDirectoryMarker}, testsupport::listDir(filter.tempDir));
        }
    }
};

TEST_F(BatchRerunTest, PartlyReadTnefIsConvertedOnce) {
    for (const PartlyRead& input : kPartlyRead) {
        SCOPED_TRACE(input.name);
        threeRuns(input.make(), input.firstFile, input.files);
    }
}

// The real-world samples the fault was seen on.
TEST_F(BatchRerunTest, PartlyReadSamplesAreConvertedOnce) {
    const std::string truncated = testsupport::tnefSample("truncated-derived-from-attach2.tnef");
    const std::string mangled = testsupport::tnefSample("corrupt-real-world-mangled.tnef");
    if (truncated.empty() || mangled.empty()) GTEST_SKIP() << testsupport::noSamplesReason();
    {
        SCOPED_TRACE("truncated-derived-from-attach2");
        threeRuns(testsupport::readFile(truncated), "AUTHORS", 1);
    }
    {
        SCOPED_TRACE("corrupt-real-world-mangled");
        threeRuns(testsupport::readFile(mangled), "image001.jpg", 2);
    }
}

}  // namespace
