// The built program at the edges of its machine, run as the mail server
// runs it: a full unpacking directory, a file-size limit, TNEF bodies with
// empty lines and trailing text, pvx_temp pointing at a shared directory,
// copies left by killed instances, envelopes without recipients and a path
// holding NUL.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/core/tool_path.h"
#include "support/filter/message_builder.h"
#include "support/filter/samples.h"
#include "support/filter/server_fixture.h"
#include "support/filter/tnef_writer.h"

using namespace testsupport;

namespace {

// Bytes that compress badly and show any shift.
std::string noise(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(((i + seed) * 2654435761u) >> 13);
    return s;
}

std::string oneFileTnef(const std::string& name, const std::string& data) {
    TnefWriter w;
    w.addAttachment(name, data);
    return w.bytes();
}

std::string queuedMail(const std::string& tnef) {
    Part mail = message("Edges", multipart("mixed", "b", {textPart("Hello.\n"), tnefPart(tnef)}));
    return envelope("a@example.com", {"b@example.com"}) + render(mail);
}

// A queued message whose TNEF part has `body` as its base64 body.
std::string mailWithBody(const std::string& body) {
    Part tnef = tnefPart("x");
    tnef.body = body;
    Part mail = message("Edges", multipart("mixed", "b", {textPart("Hello.\n"), tnef}));
    return envelope("a@example.com", {"b@example.com"}) + render(mail);
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The files of a submitted copy by name, as a MIME reader decodes them.
std::map<std::string, std::string> attachmentsOf(const std::string& path) {
    std::map<std::string, std::string> found;
    for (const LeafPart& p : parseMime(path))
        if (!p.name.empty()) found[p.name] = p.data;
    return found;
}

// A file-size limit on this process and the programs it starts, SIGXFSZ at
// its default, as "ulimit -f" in a shell leaves them.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit tight = saved_;
        tight.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &tight) == 0;
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    bool ok_ = false;
};

const std::vector<std::vector<std::string>> kOptionSets = {{}, {"--always-remove-winmail"}, {"-k"}};

std::string joined(const std::vector<std::string>& options) {
    std::string s;
    for (const std::string& o : options) s += (s.empty() ? "" : " ") + o;
    return s.empty() ? "no option" : s;
}

class EdgesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fx.haveTnef()) GTEST_SKIP() << "tnef is not installed";
    }
    void TearDown() override {
        if (mounted_) ::umount2(temp().c_str(), MNT_DETACH);
    }

    std::string temp() const { return fx.programDir() + "pvx_temp"; }

    // A small tmpfs on pvx_temp; false (with the reason) where mounting is
    // not permitted.
    bool mountSmallTemp(std::string& why) {
        ::mkdir(temp().c_str(), 0755);
        if (::mount("tmpfs", temp().c_str(), "tmpfs", 0, "size=700k") != 0) {
            why = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
            return false;
        }
        mounted_ = true;
        return true;
    }

    // The ".sub" files in Submitted/, and whether anything else is there.
    std::vector<std::string> handedOver(bool& others) const {
        std::vector<std::string> subs;
        others = false;
        for (const std::string& f : fx.submitted()) {
            if (f.size() > 8 && f.compare(f.size() - 8, 8, ".tmp.sub") == 0)
                subs.push_back(f);
            else
                others = true;
        }
        return subs;
    }

    // Runs `queued` (which does not convert) and then a small message that
    // does, with each option set: the first is answered OK, nothing of it
    // reaches Submitted/, and the next request is still answered.
    void expectLeftUnchanged(const std::string& queued, const std::string& expectedLog) {
        const std::string next = fx.queue("next.msg", queuedMail(oneFileTnef("next.txt", "next\n")));
        for (const auto& options : kOptionSets) {
            SCOPED_TRACE(joined(options));
            const ProgramResult r = fx.run("1 FILE " + queued + "\n2 FILE " + next + "\n", options);
            ASSERT_FALSE(r.timedOut);
            EXPECT_EQ(0, r.exitCode) << r.out;
            EXPECT_NE(std::string::npos, r.out.find("\n1 OK\n")) << r.out;
            EXPECT_EQ(std::string::npos, r.out.find("1 DISCARD")) << r.out;
            EXPECT_NE(std::string::npos, r.out.find(expectedLog)) << r.out;
            EXPECT_NE(std::string::npos, r.out.find("\n2 DISCARD\n")) << r.out;
            bool others = false;
            const std::vector<std::string> subs = handedOver(others);
            EXPECT_FALSE(others) << "a reserved file was left in Submitted/";
            ASSERT_EQ(1u, subs.size());
            EXPECT_EQ(1u, attachmentsOf(fx.baseDir() + "Submitted/" + subs[0]).count("next.txt"));
            ::unlink((fx.baseDir() + "Submitted/" + subs[0]).c_str());
        }
    }

    ServerFixture fx;
    bool mounted_ = false;
};

// tnef ran out of room while writing: it said "No space left on device" and
// the partly written file once went into a copy that replaced the original.
TEST_F(EdgesTest, FullUnpackingDirectoryLeavesTheMessageUnchanged) {
    std::string why;
    if (!mountSmallTemp(why)) GTEST_SKIP() << why;
    // The decoded winmail.dat fits; what tnef unpacks from it does not.
    const std::string queued = fx.queue("full.msg", queuedMail(oneFileTnef("big.bin", noise(400 * 1024, 1))));
    expectLeftUnchanged(queued, "No space left on device");
}

TEST_F(EdgesTest, FullUnpackingDirectoryWithARealSample) {
    const std::string sample = tnefSample("attach2-pdf-real-world.tnef");
    if (sample.empty()) GTEST_SKIP() << noSamplesReason();
    std::string why;
    if (!mountSmallTemp(why)) GTEST_SKIP() << why;
    const std::string queued = fx.queue("sample.msg", queuedMail(readFile(sample)));
    expectLeftUnchanged(queued, "No space left on device");
}

// Under a file-size limit the filter was killed by SIGXFSZ mid-request,
// leaving no reply and a partial ".tmp" in Submitted/.
TEST_F(EdgesTest, FileSizeLimitOnTheFilter) {
    const std::size_t limit = 300 * 1024;
    // The decoded winmail.dat is past the limit.
    const std::string tooBig = fx.queue("big.msg", queuedMail(oneFileTnef("big.bin", noise(600 * 1024, 2))));
    // Everything unpacks, but the copy, in base64, is past the limit.
    const std::string copyTooBig = fx.queue("copy.msg", queuedMail(oneFileTnef("mid.bin", noise(240 * 1024, 3))));
    for (const std::string& queued : {tooBig, copyTooBig}) {
        SCOPED_TRACE(queued);
        FileSizeLimit fsize(limit);
        ASSERT_TRUE(fsize.ok());
        expectLeftUnchanged(queued, "1] Accepting message");
    }
}

// An empty line inside the base64 of a TNEF part once ended its body: the
// files after it were lost, and the lines after it removed with the part.
TEST_F(EdgesTest, EmptyLinesInsideTheTnefBody) {
    TnefWriter w;
    w.addAttachment("first.pdf", noise(3000, 4));
    w.addAttachment("second.txt", std::string(1000, 's'));
    const std::string data = w.bytes();
    const std::size_t cut = w.span(tnef::kAttAttachRenddata, 1).offset;  // the second file's first attribute
    const std::string lines = base64Lines(data);
    const std::size_t thirdLine = 3 * 77;
    const struct {
        const char* name;
        std::string body;
    } cases[] = {
        {"halves encoded apart at an attribute boundary",
         base64Lines(data.substr(0, cut)) + "\n\n" + base64Lines(data.substr(cut)) + "\n"},
        {"an empty line between two lines", lines.substr(0, thirdLine) + "\n" + lines.substr(thirdLine) + "\n"},
        {"several empty lines and one of blanks",
         lines.substr(0, thirdLine) + "\n\n \n\n" + lines.substr(thirdLine) + "\n\n"},
    };
    const auto expected = tnefExtract(fx.systemTnef(), data);
    ASSERT_EQ(2u, expected.size());
    for (const auto& c : cases) {
        for (const auto& options : {std::vector<std::string>{}, std::vector<std::string>{"-k"}}) {
            SCOPED_TRACE(std::string(c.name) + ", " + joined(options));
            const std::string queued = fx.queue("blank.msg", mailWithBody(c.body));
            const ProgramResult r = fx.run("1 FILE " + queued + "\n", options);
            ASSERT_FALSE(r.timedOut);
            EXPECT_NE(std::string::npos, r.out.find("* Extracted 2 file(s) from winmail.dat\n")) << r.out;
            ASSERT_NE(std::string::npos, r.out.find("\n1 DISCARD\n")) << r.out;
            const std::vector<std::string> files = fx.submitted();
            ASSERT_EQ(1u, files.size());
            const std::string copy = fx.baseDir() + "Submitted/" + files[0];
            std::map<std::string, std::string> found = attachmentsOf(copy);
            for (const auto& [name, bytes] : expected) {
                ASSERT_EQ(1u, found.count(name)) << name;
                EXPECT_TRUE(found[name] == bytes) << name;
            }
            if (options.empty()) {
                EXPECT_EQ(0u, found.count("winmail.dat"));
                // All of the part's lines went with it: no base64 is left over.
                EXPECT_EQ(std::string::npos, readFile(copy).find(lines.substr(thirdLine, 76)));
            } else {
                // Kept whole, every line of it.
                EXPECT_EQ(1u, found.count("winmail.dat"));
                EXPECT_NE(std::string::npos, readFile(copy).find(c.body)) << "the part is not kept whole";
            }
            ::unlink(copy.c_str());
        }
    }
}

// A gateway's "-- " and disclaimer after the last part's base64 once landed
// in the copy right after the last inserted file, inside its base64.
TEST_F(EdgesTest, TextAfterTheBase64GoesWithThePart) {
    const std::string content = noise(300, 5);
    const std::string data = oneFileTnef("a.txt", content);
    const std::string disclaimer = "This message is confidential.";
    const std::string queued =
        fx.queue("disclaimer.msg", mailWithBody(base64Lines(data) + "\n\n-- \n" + disclaimer + "\n"));
    for (const auto& options : {std::vector<std::string>{}, std::vector<std::string>{"-k"}}) {
        SCOPED_TRACE(joined(options));
        const ProgramResult r = fx.run("1 FILE " + queued + "\n", options);
        ASSERT_NE(std::string::npos, r.out.find("\n1 DISCARD\n")) << r.out;
        const std::vector<std::string> files = fx.submitted();
        ASSERT_EQ(1u, files.size());
        const std::string copy = fx.baseDir() + "Submitted/" + files[0];
        std::map<std::string, std::string> found = attachmentsOf(copy);
        ASSERT_EQ(1u, found.count("a.txt"));
        EXPECT_EQ(300u, found["a.txt"].size());
        EXPECT_TRUE(found["a.txt"] == content);
        // Removed with the part, kept with it under -k.
        EXPECT_EQ(options.empty() ? 0u : 1u, count(readFile(copy), disclaimer));
        ::unlink(copy.c_str());
    }
}

// pvx_temp pointing at a shared directory: its numbered entries, which no
// running process names, were removed at start-up.
TEST_F(EdgesTest, SharedTemporaryDirectoryKeepsOtherEntries) {
    TempDir shared;
    const std::string dead = std::to_string(deadPid());
    ASSERT_EQ(0, ::mkdir((shared / "77777").c_str(), 0755));
    ASSERT_EQ(0, ::mkdir((shared / "77777/deep").c_str(), 0755));
    writeFile(shared / "77777/deep/z", "z");
    writeFile(shared / "88888", "8");
    ASSERT_EQ(0, ::mkdir((shared / "99999").c_str(), 0755));
    ASSERT_EQ(0, ::mkdir((shared / dead).c_str(), 0755));
    writeFile(shared / (dead + "/winmail.dat"), "someone else's");
    ASSERT_EQ(0, ::symlink(shared.path().c_str(), temp().c_str()));
    const std::set<std::string> before = {"77777", "88888", "99999", dead};

    const std::string queued = fx.queue("1.msg", queuedMail(oneFileTnef("a.txt", "A\n")));
    const ProgramResult r = fx.run("1 FILE " + queued + "\n");
    ASSERT_FALSE(r.timedOut);
    EXPECT_NE(std::string::npos, r.out.find("\n1 DISCARD\n")) << r.out;
    const std::vector<std::string> after = listDir(shared.path());
    EXPECT_EQ(before, std::set<std::string>(after.begin(), after.end()));
    EXPECT_EQ("z", readFile(shared / "77777/deep/z"));
    EXPECT_EQ("8", readFile(shared / "88888"));
    EXPECT_EQ("someone else's", readFile(shared / (dead + "/winmail.dat")));
    struct stat st;
    ASSERT_EQ(0, ::lstat(temp().c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link itself stays";
}

// A filter killed while writing left its ".tmp" in Submitted/ for ever.
TEST_F(EdgesTest, StaleReservedCopiesAreRemovedAtStartUp) {
    const std::string submitted = fx.baseDir() + "Submitted/";
    ASSERT_EQ(0, ::mkdir(submitted.c_str(), 0755));
    const std::string dead = std::to_string(deadPid());
    const std::string live = std::to_string(::getpid());
    const std::string prefix = "vivoveruriruve_1796900000_";
    const struct {
        std::string name;
        bool gone;
    } files[] = {
        {prefix + dead + "_123.tmp", true},
        {prefix + dead + "_-2094668883.tmp", true},
        {prefix + live + "_7.tmp", false},           // a running instance's
        {prefix + dead + "_8.tmp.sub", false},       // handed over
        {prefix + dead + "_9.tmp.part", false},      // another pattern
        {"other_1796900000_" + dead + "_9.tmp", false},
        {prefix + "x_" + dead + "_9.tmp", false},
        {"vivoveruriruve_1796900000_" + dead + ".tmp", false},
    };
    for (const auto& f : files) writeFile(submitted + f.name, "partial copy");
    const std::string link = prefix + dead + "_10.tmp";
    ASSERT_EQ(0, ::symlink((submitted + files[0].name).c_str(), (submitted + link).c_str()));
    const std::string dir = prefix + dead + "_11.tmp";
    ASSERT_EQ(0, ::mkdir((submitted + dir).c_str(), 0755));

    const ProgramResult r = fx.run("1 KEY\n");
    ASSERT_FALSE(r.timedOut);
    for (const auto& f : files) EXPECT_EQ(!f.gone, pathExists(submitted + f.name)) << f.name;
    struct stat st;
    EXPECT_EQ(0, ::lstat((submitted + link).c_str(), &st)) << "a link is not one of our files";
    EXPECT_EQ(0, ::lstat((submitted + dir).c_str(), &st)) << "nor is a directory";
}

// A copy with no recipient replaced the original and reached no one.
TEST_F(EdgesTest, NoRecipientLeavesTheMessageUnchanged) {
    Part mail = message("Edges", multipart("mixed", "b", {textPart("Hello.\n"), tnefPart(oneFileTnef("a.txt", "A\n"))}));
    const std::string body = render(mail);
    const struct {
        const char* name;
        std::string file;
    } cases[] = {
        {"no envelope", body},
        {"a sender only", envelopeLines({"P I:<a@example.com>"}) + body},
        {"lines the envelope reading does not know",
         envelopeLines({"P I:<a@example.com>", "R W:b@example.com", "X W:<c@example.com>"}) + body},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string queued = fx.queue("norcpt.msg", c.file);
        const ProgramResult r = fx.run("1 FILE " + queued + "\n");
        ASSERT_FALSE(r.timedOut);
        EXPECT_NE(std::string::npos, r.out.find("* The message has no envelope recipients, it is delivered unchanged\n"))
            << r.out;
        EXPECT_NE(std::string::npos, r.out.find("\n1 OK\n")) << r.out;
        EXPECT_EQ(std::vector<std::string>{}, fx.submitted());
    }
}

// "5 FILE Queue/x.msg\0junk" was processed as Queue/x.msg.
TEST_F(EdgesTest, NulInThePathNamesNoFile) {
    const std::string queued = fx.queue("x.msg", queuedMail(oneFileTnef("a.txt", "A\n")));
    const ProgramResult r = fx.run("5 FILE " + queued + std::string(1, '\0') + "junk\n");
    ASSERT_FALSE(r.timedOut);
    EXPECT_NE(std::string::npos, r.out.find("\n5 OK \"Error: unable to open file " + queued + "\\0junk\"\n")) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("DISCARD")) << r.out;
    EXPECT_EQ(std::vector<std::string>{}, fx.submitted());
}

}  // namespace
