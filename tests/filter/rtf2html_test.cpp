// Our rtf2html as the filter runs it: wrapped HTML and text taken back, other
// RTF through unrtf with every character kept, the HTML file only on success.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/core/run_program.h"
#include "support/core/tool_path.h"

namespace {

const std::string kProgram = PARVEX_BINARY_DIR "/filter/rtf2html";
const char* const kSampleRtf = "{\\rtf1\\ansi{\\fonttbl\\f0\\fswiss Helvetica;}\\f0\\pard Hello {\\b bold} world.\\par}";
const std::string kMeta = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">";

class Rtf2HtmlTest : public ::testing::Test {
protected:
    testsupport::TempDir dir_;

    // Runs the program with PATH set to `path` (empty: unchanged).
    testsupport::ProgramResult run(const std::vector<std::string>& args, const std::string& path = "") {
        std::vector<std::string> argv;
        if (!path.empty()) argv = {"/usr/bin/env", "PATH=" + path};
        argv.push_back(kProgram);
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
    testsupport::writeFile(rtf, kSampleRtf);
    testsupport::ProgramResult r = run({rtf, html});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string text = testsupport::readFile(html);
    EXPECT_NE(text.find("<html>"), std::string::npos);
    EXPECT_NE(text.find("bold"), std::string::npos);
    // Nothing but the input and the result: the temporary names are gone.
    EXPECT_EQ(testsupport::listDir(dir_.path()),
              (std::vector<std::string>{"body with spaces.html", "body with spaces.rtf"}));
}

// Fault: raw 8-bit text came out as "ein  eingefgt" (unrtf drops such bytes).
TEST_F(Rtf2HtmlTest, RawBytesReachUnrtfAsCharacters) {
    if (testsupport::findInPath("unrtf").empty()) GTEST_SKIP() << "unrtf is not installed";
    testsupport::writeFile(dir_ / ("in.rtf"),
                           "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Calibri;}"
                           "{\\f1\\fnil\\fcharset204 Cyr;}}\\f0 Habe in den Namen mal ein \xf6 eingef\xfcgt\x85"
                           "\\par {\\f1 \\'cf\xf0\\'e8}\\u-10179?\\u-8704? \\u8364?end & <b>\\par}");
    testsupport::ProgramResult r = run({dir_ / ("in.rtf"), dir_ / ("out.html")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string html = testsupport::readFile(dir_ / ("out.html"));
    EXPECT_NE(html.find("Habe in den Namen mal ein \u00f6 eingef\u00fcgt\u2026"), std::string::npos) << html;
    EXPECT_NE(html.find("\u041f\u0440\u0438"), std::string::npos) << html;
    EXPECT_NE(html.find("\U0001f600 \u20acend &amp; &lt;b&gt;"), std::string::npos) << html;
    EXPECT_NE(html.find("charset=utf-8"), std::string::npos);
    EXPECT_EQ(html.find("charset=", html.find("charset=utf-8") + 1), std::string::npos);
}

// Fault: wrapped HTML came out as runs of empty font tags, its own markup
// lost, and every link as the word "hyperlink".
TEST_F(Rtf2HtmlTest, WrappedHtmlComesBackAsWritten) {
    const std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}\r\n"
        "{\\*\\htmltag19 <html>}{\\*\\htmltag34 <head>}{\\*\\htmltag177 <title>}{\\*\\htmltag241 T\\'fc}"
        "{\\*\\htmltag185 </title>}{\\*\\htmltag41 </head>}{\\*\\htmltag50 <body>}\\htmlrtf \\lang1031 \\htmlrtf0 \r\n"
        "{\\*\\htmltag84 <a href=\"http://x/?a=1&b=2\">}\\htmlrtf {\\field{\\*\\fldinst{HYPERLINK "
        "\"http://x/?a=1&b=2\"}}{\\fldrslt\\cf1\\ul \\htmlrtf0 Gr\xfc\\'dfe\\htmlrtf }\\htmlrtf0 \\htmlrtf }"
        "\\htmlrtf0 \r\n{\\*\\htmltag92 </a>}{\\*\\htmltag58 </body>}{\\*\\htmltag27 </html>}}\r\n";
    testsupport::writeFile(dir_ / ("body.rtf"), rtf);
    // No unrtf on PATH: it is not needed.
    testsupport::ProgramResult r = run({dir_ / ("body.rtf"), dir_ / ("body.html")}, dir_ / ("nowhere"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(testsupport::readFile(dir_ / ("body.html")),
              "<html><head>" + kMeta + "<title>T\u00fc</title></head><body><a href=\"http://x/?a=1&b=2\">Gr\u00fc\u00dfe</a>"
              "</body></html>");
    EXPECT_EQ(testsupport::listDir(dir_.path()), (std::vector<std::string>{"body.html", "body.rtf"}));
}

TEST_F(Rtf2HtmlTest, WrappedTextComesBackEscaped) {
    testsupport::writeFile(dir_ / ("body.rtf"), "{\\rtf1\\ansi\\ansicpg1252\\fromtext \\deff0{\\fonttbl{\\f0 Arial;}}"
                                               "\\f0 a < b && c\\par\r\n\\'e9t\\'e9\\par}");
    testsupport::ProgramResult r = run({dir_ / ("body.rtf"), dir_ / ("body.html")}, dir_ / ("nowhere"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(testsupport::readFile(dir_ / ("body.html")),
              "<html>\r\n<head>\r\n" + kMeta + "\r\n</head>\r\n<body>\r\n<pre style=\"white-space: pre-wrap\">"
              "a &lt; b &amp;&amp; c\r\n\u00e9t\u00e9\r\n</pre>\r\n</body>\r\n</html>\r\n");
}

struct FailureCase {
    const char* label;
    std::vector<std::string> args;  // "@" stands for the scratch directory
    const char* unrtfScript;        // nullptr: the real PATH
    const char* message;            // what standard error begins with
};

TEST_F(Rtf2HtmlTest, FailuresLeaveNoHtml) {
    const std::size_t depth = 10001;
    testsupport::writeFile(dir_ / ("in.rtf"), kSampleRtf);
    testsupport::writeFile(dir_ / ("empty.rtf"), "");
    testsupport::writeFile(dir_ / ("deep.rtf"), "{\\rtf1\\fromhtml1 " + std::string(depth, '{'));
    testsupport::writeFile(dir_ / ("deep plain.rtf"), "{\\rtf1 " + std::string(depth, '{'));
    const FailureCase cases[] = {
        {"no arguments", {}, nullptr, "usage: "},
        {"one argument", {"@/in.rtf"}, nullptr, "usage: "},
        {"three arguments", {"@/in.rtf", "@/out.html", "extra"}, nullptr, "usage: "},
        {"missing input", {"@/missing.rtf", "@/out.html"}, nullptr, "rtf2html: cannot read "},
        {"input is a directory", {"@", "@/out.html"}, nullptr, "rtf2html: "},
        {"unrtf fails", {"@/in.rtf", "@/out.html"}, "echo partial; exit 3", "rtf2html: unrtf failed"},
        {"unrtf killed", {"@/in.rtf", "@/out.html"}, "echo partial; kill -KILL $$", "rtf2html: unrtf failed"},
        {"unrtf writes nothing", {"@/in.rtf", "@/out.html"}, "exit 0", "rtf2html: unrtf produced no output"},
        {"unrtf not on PATH", {"@/in.rtf", "@/out.html"}, "", "rtf2html: unrtf not found on PATH"},
        {"empty input", {"@/empty.rtf", "@/out.html"}, "exit 0", "rtf2html: unrtf produced no output"},
        {"output directory missing", {"@/in.rtf", "@/nodir/out.html"}, "echo '<html></html>'",
         "rtf2html: cannot create a file beside "},
        {"wrapped HTML nested too deep", {"@/deep.rtf", "@/out.html"}, "", "rtf2html: groups nested deeper than"},
        {"plain RTF nested too deep", {"@/deep plain.rtf", "@/out.html"}, "echo '<html></html>'",
         "rtf2html: groups nested deeper than"},
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
        EXPECT_EQ(r.err.compare(0, std::strlen(c.message), c.message), 0) << r.err;
        EXPECT_FALSE(testsupport::pathExists(dir_ / ("out.html")));
        EXPECT_FALSE(testsupport::pathExists(dir_ / ("nodir")));
        for (const std::string& name : testsupport::listDir(dir_.path()))
            EXPECT_EQ(name.find("out.html"), std::string::npos) << name;
    }
}

// The caller names the HTML file: one already under that name is replaced
// by a conversion that succeeds, as it always was, and kept by one that fails.
TEST_F(Rtf2HtmlTest, ExistingTargetIsReplacedOnlyBySuccess) {
    testsupport::writeFile(dir_ / ("wrapped.rtf"), "{\\rtf1\\fromhtml1 {\\*\\htmltag <p>}}");
    testsupport::writeFile(dir_ / ("plain.rtf"), kSampleRtf);
    const struct {
        const char* input;
        const char* unrtf;
        bool converts;
    } cases[] = {
        {"wrapped.rtf", "echo '<html></html>'", true},
        {"plain.rtf", "echo '<html></html>'", true},
        {"plain.rtf", "exit 3", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input) + (c.converts ? ", converts" : ", fails"));
        testsupport::writeFile(dir_ / ("out.html"), "previous");
        testsupport::ProgramResult r = run({dir_ / (c.input), dir_ / ("out.html")}, fakeUnrtf(c.unrtf));
        EXPECT_EQ(r.exitCode == 0, c.converts) << r.err;
        const std::string now = testsupport::readFile(dir_ / ("out.html"));
        if (c.converts)
            EXPECT_NE(now, "previous");
        else
            EXPECT_EQ(now, "previous");
        for (const std::string& name : testsupport::listDir(dir_.path()))
            EXPECT_TRUE(name == "out.html" || name.find("out.html") == std::string::npos) << name;
    }
}

// unrtf gets a rewritten copy beside the target: every character as \uN
// with one fallback escape, a symbol font's bytes as they were, and no
// pictures written into the working directory.
TEST_F(Rtf2HtmlTest, UnrtfReadsRewrittenText) {
    const std::string path = fakeUnrtf("for a in \"$@\"; do echo \"[$a]\"; done; cat \"$3\"");
    const std::string odd = dir_ / ("a b; $(touch x) 'q'.rtf");
    testsupport::writeFile(odd, "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fcharset204 Cyr;}{\\f2\\fcharset2 Symbol;}}"
                                "\r\n\\f0 \\'e4\xe4\\u246?x\\uc2\\u8364??{\\f2 \\'b7}\\{\\}\\\\ \\bin3 {\\}}");
    const std::string html = dir_ / ("-out.html");
    testsupport::ProgramResult r = run({odd, html}, path);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string text = testsupport::readFile(html);
    const std::string head = kMeta + "[--html]\n[--nopict]\n[" + html + ".";
    ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
    EXPECT_EQ(text.substr(text.find("]\n", head.size()) + 2),
              "{\\rtf1 \\ansi \\ansicpg1252 {\\fonttbl {\\f0 \\fcharset204 Cyr;}{\\f2 \\fcharset2 Symbol;}}\n\n"
              "\\f0 \\u1076\\'3f\\u1076\\'3f\\u246\\'3fx\\u8364\\'3f{\\f2 \\'b7}\\'7b\\'7d\\'5c \\bin3 {\\}}");
    EXPECT_FALSE(testsupport::pathExists(dir_ / ("x")));
    EXPECT_EQ(testsupport::listDir(dir_.path()),
              (std::vector<std::string>{"-out.html", "a b; $(touch x) 'q'.rtf", "bin"}));
}

TEST_F(Rtf2HtmlTest, UnrtfOutputBecomesUtf8) {
    const std::string path = fakeUnrtf(
        "printf '<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=iso-8859-1\"></head>"
        "<body>&#55357;&#56832; &#55357;x &ouml;&hellip;&nbsp;&#8364;&#x41; &lt;&amp;&#60;&quot; &bogus; \\377</body>'");
    testsupport::writeFile(dir_ / ("in.rtf"), kSampleRtf);
    testsupport::ProgramResult r = run({dir_ / ("in.rtf"), dir_ / ("out.html")}, path);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(testsupport::readFile(dir_ / ("out.html")),
              "<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=utf-8\"></head>"
              "<body>\U0001f600 \ufffdx \u00f6\u2026\u00a0\u20acA &lt;&amp;&#60;&quot; &bogus; \ufffd</body>");
}

}  // namespace
