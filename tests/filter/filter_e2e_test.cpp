// The built program in filter mode, run as the mail server runs it: request
// lines on standard input, queued files in a temporary base directory, the
// real tnef in the program directory.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <sstream>

#include "support/filter/message_builder.h"
#include "support/filter/server_fixture.h"
#include "support/filter/tnef_writer.h"

using namespace testsupport;

namespace {

const char* const kBanner =
    "* Quandrel's Parvex filter 2.6\n"
    "* This filter will extract winmail.dat attachments from messages and \n"
    "*    reinserts extracted content of winmail.dat into them.           \n"
    "*\n";

std::string twoAttachmentTnef() {
    TnefWriter w;
    w.addAttachment("quarterly report.pdf", std::string("%PDF-1.4\n\x00\x01\x02\xff", 13) + std::string(5000, 'p'),
                    "QUARTE~1.PDF");
    w.addAttachment("notes.txt", "line one\nline two\n");
    return w.bytes();
}

std::string mailWithTnef(const std::string& tnef, const std::string& from = "Sender@Example.COM") {
    Part mail = message("Report", multipart("mixed", "outer-b", {textPart("See attached.\n"), tnefPart(tnef)}));
    return envelope(from, {"b@example.com", "A@example.com", "a@EXAMPLE.com"}) + render(mail);
}

std::string afterReady(const std::string& out) {
    const std::string ready = "* Ready to receive INTF command.\n";
    size_t at = out.find(ready);
    return at == std::string::npos ? "<no ready line>" + out : out.substr(at + ready.size());
}

}  // namespace

class FilterEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fx.haveTnef()) GTEST_SKIP() << "tnef is not installed";
    }
    ServerFixture fx;
};

TEST_F(FilterEndToEnd, TnefMessageIsSubmittedConvertedAndDiscarded) {
    const std::string tnef = twoAttachmentTnef();
    const std::string queued = fx.queue("1.msg", mailWithTnef(tnef));
    auto r = fx.run("1 INTF 3\n2 FILE " + queued + "\n3 QUIT\n");
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.substr(0, std::string(kBanner).size()), kBanner);
    EXPECT_EQ(afterReady(r.out),
              "1 INTF 3\n"
              "* Found a winmail.dat attachment, unpacking\n"
              "* Extracted 2 file(s) from winmail.dat\n"
              "* Creating a new message with the extracted attachments\n"
              "* Inserting file \"quarterly report.pdf\"\n"
              "* Inserting file \"notes.txt\"\n"
              "* Submitting new message and discarding original\n"
              "* [2] Discarding message\n"
              "2 DISCARD\n"
              "* 3: Filter is shutting down...\n"
              "3 OK \"Filter is shut down and waiting for standard output to be closed\"\n");

    auto files = fx.submitted();
    ASSERT_EQ(files.size(), 1u);
    const std::string& name = files[0];
    EXPECT_EQ(name.rfind("vivoveruriruve_", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 8), ".tmp.sub");
    const std::string copy = readFile(fx.baseDir() + "Submitted/" + name);
    const std::string head =
        "Return-Path: sender@example.com\n"
        "Envelope-To: a@example.com\n"
        "Envelope-To: b@example.com\n"
        "X-Parvex: 1 attachments extracted.\n"
        "X-ExtScanner: Quandrel's Parvex filter\n"
        "From: <sender@example.com>\n";
    EXPECT_EQ(copy.substr(0, head.size()), head);
    EXPECT_EQ(copy.find('\r'), std::string::npos);

    // A standard MIME parser finds each extracted file as an attachment.
    auto extracted = tnefExtract(fx.systemTnef(), tnef);
    ASSERT_EQ(extracted.size(), 2u);
    std::map<std::string, std::string> found;
    for (const auto& p : parseMime(fx.baseDir() + "Submitted/" + name))
        if (!p.name.empty()) found[p.name] = p.data;
    EXPECT_EQ(found.count("winmail.dat"), 0u);
    for (const auto& [fileName, bytes] : extracted) {
        ASSERT_EQ(found.count(fileName), 1u) << fileName;
        EXPECT_EQ(found[fileName], bytes) << fileName;
    }
    // Nothing is left behind in the program directory.
    EXPECT_EQ(listDir(fx.programDir()), (std::vector<std::string>{"parvex", "rtf2html", "tnef"}));
}

// A TNEF body sent as one line of megabytes, behind an envelope with a huge
// line of its own, is converted to the very copy its ordinary form gives.
TEST_F(FilterEndToEnd, HugeSingleLinesGiveTheOrdinaryCopy) {
    TnefWriter w;
    std::string payload(1200 * 1024, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>((i * 2654435761u) >> 13);
    w.addAttachment("big.bin", payload);
    const std::string tnef = w.bytes();
    Part tnefLines = tnefPart(tnef);
    Part tnefOneLine = tnefPart(tnef);
    tnefOneLine.body = base64Lines(tnef, 0);
    const std::string env = envelope("s@example.com", {"r@example.com"});
    const std::string hugeEnv = envelopeLines({"P I:<s@example.com>", "X " + std::string(2 * 1024 * 1024, 'x'),
                                               "R W:<r@example.com>"});
    const std::string q1 = fx.queue("lines.msg", env + render(message("Big", multipart("mixed", "b", {textPart("x\n"),
                                                                                                    tnefLines}))));
    const std::string q2 = fx.queue("one.msg", hugeEnv + render(message("Big", multipart("mixed", "b", {textPart("x\n"),
                                                                                                      tnefOneLine}))));
    auto r = fx.run("1 FILE " + q1 + "\n2 FILE " + q2 + "\n");
    ASSERT_FALSE(r.timedOut);
    EXPECT_NE(r.out.find("\n1 DISCARD\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n2 DISCARD\n"), std::string::npos) << r.out;
    const auto files = fx.submitted();
    ASSERT_EQ(files.size(), 2u);
    const std::string a = readFile(fx.baseDir() + "Submitted/" + files[0]);
    const std::string b = readFile(fx.baseDir() + "Submitted/" + files[1]);
    EXPECT_TRUE(a == b) << "the copies differ";
    EXPECT_NE(a.find(base64Lines(payload) + "\n"), std::string::npos);
    EXPECT_EQ(a.find("xxxx"), std::string::npos);
}

TEST_F(FilterEndToEnd, MessagesWithoutTnefOrAlreadyProcessedAreAccepted) {
    Part plain = message("Hi", multipart("mixed", "b", {textPart("hello\n"), attachmentPart("data", "text/plain",
                                                                                              "a.txt")}));
    const std::string q1 = fx.queue("plain.msg", envelope("s@x.org", {"r@x.org"}) + render(plain));
    Part marked = message("Again", multipart("mixed", "b", {textPart("x\n"), tnefPart(twoAttachmentTnef())}));
    marked.headers.insert(marked.headers.begin(), "X-Parvex: 1 attachments extracted.");
    const std::string q2 = fx.queue("marked.msg", envelope("s@x.org", {"r@x.org"}) + render(marked));
    auto r = fx.run("1 FILE " + q1 + "\n2 FILE " + q2 + "\n");
    ASSERT_FALSE(r.timedOut);
    const std::string tail = afterReady(r.out);
    EXPECT_NE(tail.find("* [1] Accepting message\n1 OK\n"), std::string::npos) << tail;
    EXPECT_NE(tail.find("* [2] Accepting message\n2 OK\n"), std::string::npos) << tail;
    EXPECT_TRUE(fx.submitted().empty());
}

TEST_F(FilterEndToEnd, SubmittedCopyComesBackUnconverted) {
    const std::string queued = fx.queue("1.msg", mailWithTnef(twoAttachmentTnef()));
    fx.run("1 FILE " + queued + "\n");
    auto files = fx.submitted();
    ASSERT_EQ(files.size(), 1u);
    // The server queues the submitted copy again; the filter leaves it alone.
    const std::string again = fx.queue("2.msg", readFile(fx.baseDir() + "Submitted/" + files[0]));
    auto r = fx.run("5 FILE " + again + "\n");
    EXPECT_NE(afterReady(r.out).find("5 OK\n"), std::string::npos) << r.out;
    EXPECT_EQ(fx.submitted().size(), 1u);
}

TEST_F(FilterEndToEnd, UnwritableSubmittedLosesNothing) {
    const std::string original = mailWithTnef(twoAttachmentTnef());
    const std::string queued = fx.queue("1.msg", original);
    // Root may write anywhere a mode allows nothing; a proc directory refuses
    // new files to everyone.
    if (::geteuid() == 0) {
        ASSERT_EQ(::symlink("/proc/self/fdinfo", (fx.baseDir() + "Submitted").c_str()), 0);
    } else {
        ::mkdir((fx.baseDir() + "Submitted").c_str(), 0555);
    }
    auto r = fx.run("1 FILE " + queued + "\n");
    ASSERT_FALSE(r.timedOut);
    const std::string tail = afterReady(r.out);
    EXPECT_NE(tail.find("* [1] Accepting message\n1 OK\n"), std::string::npos) << tail;
    EXPECT_EQ(tail.find("DISCARD"), std::string::npos) << tail;
    EXPECT_EQ(readFile(fx.baseDir() + queued), original);
    EXPECT_EQ(listDir(fx.programDir()), (std::vector<std::string>{"parvex", "rtf2html", "tnef"}));
}

TEST_F(FilterEndToEnd, MissingFilesAndMalformedRequests) {
    auto r = fx.run("12 FILE Queue/none.msg\n13 FILE\nx FILE Queue/none.msg\n");
    EXPECT_EQ(afterReady(r.out),
              "12 OK \"Error: File Not Found Queue/none.msg\"\n"
              "13 FAILURE \"Missing parameter(s)\"\n"
              "x REJECTED \"Error: seqID should be a number\"\n");
}

TEST(FilterStartUp, WithoutTnefEveryMessageIsLeftUnscanned) {
    ServerFixture fx(false, false);
    const std::string queued = fx.queue("1.msg", mailWithTnef("not really tnef"));
    auto r = fx.run("1 FILE " + queued + "\n", {"-k"});
    EXPECT_EQ(r.out, std::string(kBanner) +
                         "* -k specified, original winmail.dat will be kept with extracted attachments\n"
                         "* ERROR: tnef binary not found, messages will be left unscanned\n"
                         "* Please reinstall the filter and follow the INSTALL instructions\n"
                         "* ERROR: rtf2html binary not found, rtf bodies will not be decoded as html\n"
                         "* Please reinstall the filter and follow the INSTALL instructions\n"
                         "* Ready to receive INTF command.\n"
                         "* tnef binary not found, message is left unscanned\n"
                         "* [1] Accepting message\n"
                         "1 OK\n");
    EXPECT_TRUE(listDir(fx.baseDir() + "Submitted").empty());
    EXPECT_EQ(listDir(fx.programDir()), std::vector<std::string>{"parvex"});  // pvx_temp removed at the end
}

TEST(FilterStartUp, FoundProgramsAndIgnoredRtfBody) {
    ServerFixture fx;
    if (!fx.haveTnef()) GTEST_SKIP() << "tnef is not installed";
    EXPECT_EQ(fx.run("").out, std::string(kBanner) +
                                  "* Found tnef binary\n"
                                  "* Found rtf2html binary\n"
                                  "* Ready to receive INTF command.\n");
    EXPECT_EQ(fx.run("", {"--ignore-rtf-body"}).out,
              std::string(kBanner) + "* Found tnef binary\n* Ready to receive INTF command.\n");
}

TEST(CommandLine, HelpPrintsTheOptionListOnly) {
    ServerFixture fx;
    auto r = fx.run("", {"-k", "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("all visible and hidden options:\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("* Quandrel's Parvex filter 2.6 for Communigate Pro\n"), std::string::npos);
    EXPECT_NE(r.out.find("Usage:\n"), std::string::npos);
    for (const char* option : {"-h [ --help ]", "-k [ --keep-winmail ]", "-r [ --no-rtf-alternative ]",
                               "--ignore-rtf-body", "--always-remove-winmail", "-p [ --path ] arg",
                               "-n [ --no-recurse ]", "Help. Shows this screen."})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    EXPECT_EQ(r.out.find("Found tnef"), std::string::npos);
    EXPECT_EQ(listDir(fx.programDir()), (std::vector<std::string>{"parvex", "rtf2html", "tnef"}));
    EXPECT_FALSE(::access((fx.baseDir() + "Submitted").c_str(), F_OK) == 0);
}

TEST(CommandLine, OptionErrorsGoToStandardError) {
    ServerFixture fx;
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-k", "-k"}, "option should only be specified once"},
        {{"--path", "a", "-p", "b"}, "option should only be specified once"},
        {{"--frobnicate"}, "unrecognised option '--frobnicate'"},
        {{"-p"}, "the required argument for option '--path' is missing"},
    };
    for (const auto& c : cases) {
        auto r = fx.run("", c.args);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "\n" + c.message + "\n\n" + fx.parvex() + " --help for usage information\n");
        EXPECT_EQ(listDir(fx.programDir()), (std::vector<std::string>{"parvex", "rtf2html", "tnef"}));
    }
}

TEST(BatchMode, WithoutTnefNothingIsTouched) {
    ServerFixture fx(false);
    TempDir tree;
    const std::string original = mailWithTnef("x");
    writeFile(tree / "1", original);
    auto r = runProgram({fx.parvex(), "-p", tree.path()}, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, std::string(kBanner) +
                         "* ERROR: tnef binary not found, unable to contine.\n"
                         "* Please reinstall the filter and follow the INSTALL instructions.\n");
    EXPECT_EQ(readFile(tree / "1"), original);
    EXPECT_EQ(listDir(fx.programDir()), (std::vector<std::string>{"parvex", "rtf2html"}));
}

// A batch reports rtf2html whatever --ignore-rtf-body says, and goes on
// without it.
TEST(BatchMode, StartUpLinesNameTheProgramsFound) {
    const struct {
        const char* name;
        bool withRtf2html;
        std::vector<std::string> options;
        std::string lines;
    } cases[] = {
        {"both", true, {}, "* Found tnef binary\n* Found rtf2html binary\n"},
        {"rtf body ignored", true, {"--ignore-rtf-body"}, "* Found tnef binary\n* Found rtf2html binary\n"},
        {"no rtf2html", false, {},
         "* Found tnef binary\n"
         "* ERROR: rtf2html binary not found, rtf bodies will not be decoded as html\n"
         "* Please reinstall the filter and follow the INSTALL instructions\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServerFixture fx(true, c.withRtf2html);
        if (!fx.haveTnef()) GTEST_SKIP() << "tnef is not installed";
        TempDir tree;
        std::vector<std::string> args{fx.parvex(), "-p", tree.path()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        auto r = runProgram(args, "");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, std::string(kBanner) + c.lines);
    }
}

TEST(BatchMode, ConvertsAnMdirTreeInPlace) {
    ServerFixture fx;
    if (!fx.haveTnef()) GTEST_SKIP() << "tnef is not installed";
    TempDir tree;
    const std::string tnef = twoAttachmentTnef();
    ::mkdir((tree / "sub").c_str(), 0755);
    writeFile(tree / "1", mailWithTnef(tnef));
    writeFile(tree / "sub/2", toCrlf(mailWithTnef(tnef)));
    const std::string plain = render(message("Plain", textPart("nothing here\n")));
    writeFile(tree / "3", plain);
    writeFile(tree / "notes.txt", mailWithTnef(tnef));
    ::symlink(tree.path().c_str(), (tree / "sub/loop").c_str());

    auto r = runProgram({fx.parvex(), "--path", tree.path()}, "");
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("* Found tnef binary\n* Found rtf2html binary\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("notes.txt"), std::string::npos) << "a name with a dot is reported: " << r.out;

    const auto extracted = tnefExtract(fx.systemTnef(), tnef);
    for (const char* name : {"1", "sub/2"}) {
        const std::string converted = readFile(tree / name);
        EXPECT_EQ(converted.rfind("From: <sender@example.com>\n", 0), 0u) << name << ": envelope left in";
        EXPECT_EQ(converted.find("X-Parvex:"), std::string::npos) << name;
        EXPECT_EQ(converted.find('\r'), std::string::npos) << name;
        std::map<std::string, std::string> found;
        for (const auto& p : parseMime(tree / name))
            if (!p.name.empty()) found[p.name] = p.data;
        for (const auto& [fileName, bytes] : extracted) EXPECT_EQ(found[fileName], bytes) << name << " " << fileName;
        EXPECT_EQ(found.count("winmail.dat"), 0u) << name;
    }
    EXPECT_EQ(readFile(tree / "3"), plain);
    EXPECT_EQ(readFile(tree / "notes.txt"), mailWithTnef(tnef));
    EXPECT_EQ(listDir(tree.path()), (std::vector<std::string>{"1", "3", "notes.txt", "sub"}));
    EXPECT_EQ(listDir(tree / "sub"), (std::vector<std::string>{"2", "loop"}));
    EXPECT_EQ(listDir(fx.programDir()), (std::vector<std::string>{"parvex", "rtf2html", "tnef"}));

    // A second run finds nothing more to do.
    const std::string once = readFile(tree / "1");
    runProgram({fx.parvex(), "--path", tree.path()}, "");
    EXPECT_EQ(readFile(tree / "1"), once);
}

// A message file that cannot be read must not end the batch: the other
// files are still converted and the temporary directory is removed.
TEST(BatchMode, UnreadableFileDoesNotEndTheRun) {
    ServerFixture fx;
    if (!fx.haveTnef()) GTEST_SKIP() << "tnef is not installed";
    if (::access("/proc/self/mem", F_OK) != 0) GTEST_SKIP() << "no /proc/self/mem";
    TempDir tree;
    ::mkdir((tree / "a").c_str(), 0755);
    ::mkdir((tree / "b").c_str(), 0755);
    // Reading the program's own memory from offset 0 fails like a bad disk.
    ASSERT_EQ(::symlink("/proc/self/mem", (tree / "a/mem").c_str()), 0);
    writeFile(tree / "b/1", mailWithTnef(twoAttachmentTnef()));
    auto r = runProgram({fx.parvex(), "--path", tree.path()}, "");
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("* Unable to open file " + tree.path() + "/a/mem\n"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(tree / "b/1").find("application/ms-tnef"), std::string::npos) << "b/1 was not converted";
    EXPECT_EQ(listDir(fx.programDir()), (std::vector<std::string>{"parvex", "rtf2html", "tnef"}));
}

TEST(BatchMode, FilterAndBatchShareOneProgramDirectory) {
    ServerFixture fx;
    if (!fx.haveTnef()) GTEST_SKIP() << "tnef is not installed";
    // A batch left running beside the filter (here: a process that runs, this
    // test) keeps its own unpacking directory; the filter removes only its own.
    const std::string running = std::to_string(::getpid());
    ::mkdir((fx.programDir() + "pvx_temp").c_str(), 0755);
    ::mkdir((fx.programDir() + "pvx_temp/" + running).c_str(), 0755);
    writeFile(fx.programDir() + "pvx_temp/" + running + "/busy.bin", "in use");
    const std::string queued = fx.queue("1.msg", mailWithTnef(twoAttachmentTnef()));
    auto r = fx.run("1 FILE " + queued + "\n");
    EXPECT_NE(afterReady(r.out).find("1 DISCARD\n"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(fx.programDir() + "pvx_temp/" + running + "/busy.bin"), "in use");
    EXPECT_EQ(listDir(fx.programDir() + "pvx_temp"), std::vector<std::string>{running});
}
