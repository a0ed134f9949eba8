// Our rtf2html: unrtf behind it, the HTML file only on success.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/core/run_program.h"
#include "support/core/tool_path.h"

namespace {

const std::string program = PARVEX_BINARY_DIR "/filter/rtf2html";
const char* const sampleRtf = "{\\rtf1\\ansi{\\fonttbl\\f0\\fswiss Helvetica;}\\f0\\pard Hello {\\b bold} world.\\par}";

class Rtf2HtmlTest : public ::testing::Test {
protected:
    testsupport::TempDir dir_;

    // Runs the program with PATH set to `path` (empty: unchanged).
    testsupport::ProgramResult run(const std::vector<std::string>& args, const std::string& path = "") {
        std::vector<std::string> argv;
        if (!path.empty()) argv = {"/usr/bin/env", "PATH=" + path};
        argv.push_back(program);
        argv.insert(argv.end(), args.begin(), args.end());
        return testsupport::runProgram(argv, "");
    }

    // A stand-in unrtf in its own directory, to put on PATH.
    std::string fakeUnrtf(const std::string& body) {
        const std::string bin = dir_ / ("bin");
        ::mkdir(bin.c_str(), 0755);
        testsupport::writeFile(bin + "/unrtf", "#!/bin/sh\n" + body + "\n");
        ::chmod((bin + "/unrtf").c_str(), 0755);
        return bin + ":/usr/bin:/bin";
    }
};

TEST_F(Rtf2HtmlTest, ConvertsWithUnrtf) {
    if (testsupport::findInPath("unrtf").empty()) GTEST_SKIP() << "unrtf is not installed";
    const std::string rtf = dir_ / ("body with spaces.rtf");
    const std::string html = dir_ / ("body with spaces.html");
    testsupport::writeFile(rtf, sampleRtf);
    testsupport::ProgramResult r = run({rtf, html});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string text = testsupport::readFile(html);
    EXPECT_NE(text.find("<html>"), std::string::npos);
    EXPECT_NE(text.find("bold"), std::string::npos);
    // Nothing but the input and the result: the temporary name was renamed.
    EXPECT_EQ(testsupport::listDir(dir_.path()),
              (std::vector<std::string>{"body with spaces.html", "body with spaces.rtf"}));
}

struct FailureCase {
    const char* label;
    std::vector<std::string> args;  // "@" stands for the scratch directory
    const char* unrtfScript;        // nullptr: the real PATH
};

TEST_F(Rtf2HtmlTest, FailuresLeaveNoHtml) {
    testsupport::writeFile(dir_ / ("in.rtf"), sampleRtf);
    testsupport::writeFile(dir_ / ("empty.rtf"), "");
    const FailureCase cases[] = {
        {"no arguments", {}, nullptr},
        {"one argument", {"@/in.rtf"}, nullptr},
        {"three arguments", {"@/in.rtf", "@/out.html", "extra"}, nullptr},
        {"missing input", {"@/missing.rtf", "@/out.html"}, nullptr},
        {"input is a directory", {"@", "@/out.html"}, nullptr},
        {"unrtf fails", {"@/in.rtf", "@/out.html"}, "echo partial; exit 3"},
        {"unrtf killed", {"@/in.rtf", "@/out.html"}, "echo partial; kill -KILL $$"},
        {"unrtf writes nothing", {"@/in.rtf", "@/out.html"}, "exit 0"},
        {"unrtf not on PATH", {"@/in.rtf", "@/out.html"}, ""},
        {"output directory missing", {"@/in.rtf", "@/nodir/out.html"}, "echo '<html></html>'"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<std::string> args;
        for (std::string a : c.args) {
            if (!a.empty() && a[0] == '@') a = dir_.path() + a.substr(1);
            args.push_back(a);
        }
        std::string path;
        if (c.unrtfScript != nullptr) path = c.unrtfScript[0] == '\0' ? dir_ / ("nowhere") : fakeUnrtf(c.unrtfScript);
        testsupport::ProgramResult r = run(args, path);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_FALSE(testsupport::pathExists(dir_ / ("out.html")));
        EXPECT_FALSE(testsupport::pathExists(dir_ / ("nodir")));
        for (const std::string& name : testsupport::listDir(dir_.path()))
            EXPECT_EQ(name.find("out.html"), std::string::npos) << name;
    }
}

TEST_F(Rtf2HtmlTest, UnrtfFailureKeepsAnExistingTarget) {
    if (testsupport::findInPath("unrtf").empty()) GTEST_SKIP() << "unrtf is not installed";
    testsupport::writeFile(dir_ / ("empty.rtf"), "");
    testsupport::writeFile(dir_ / ("out.html"), "previous");
    testsupport::ProgramResult r = run({dir_ / ("empty.rtf"), dir_ / ("out.html")});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(testsupport::readFile(dir_ / ("out.html")), "previous");
}

TEST_F(Rtf2HtmlTest, ArgumentsReachUnrtfUnchanged) {
    const std::string path = fakeUnrtf("for a in \"$@\"; do echo \"[$a]\"; done");
    const std::string odd = dir_ / ("a b; $(touch x) 'q'.rtf");
    testsupport::writeFile(odd, sampleRtf);
    testsupport::ProgramResult r = run({odd, dir_ / ("out.html")}, path);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(testsupport::readFile(dir_ / ("out.html")), "[--html]\n[" + odd + "]\n");
    EXPECT_FALSE(testsupport::pathExists(dir_ / ("x")));
}

}  // namespace
