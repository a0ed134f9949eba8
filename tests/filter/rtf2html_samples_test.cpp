// Our rtf2html on the RTF bodies of the real-world TNEF samples, saved by the
// real tnef as the filter runs it. Skipped when the samples or tnef are not
// there.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "filter/rtf2html/codepage.h"
#include "filter/rtf2html/decapsulate.h"
#include "support/core/run_program.h"
#include "support/core/tool_path.h"
#include "support/filter/samples.h"

namespace {

// The text outside tags and comments.
std::string visibleText(const std::string& html) {
    std::string text;
    for (std::size_t i = 0; i < html.size();) {
        if (html.compare(i, 4, "<!--") == 0) {
            const std::size_t end = html.find("-->", i + 4);
            i = end == std::string::npos ? html.size() : end + 3;
        } else if (html[i] == '<') {
            const std::size_t end = html.find('>', i);
            i = end == std::string::npos ? html.size() : end + 1;
        } else {
            text += html[i++];
        }
    }
    return text;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// What must come back from particular samples, in this order.
const std::map<std::string, std::vector<std::string>> kExpected = {
    {"body-rtf-only-winmail-1.tnef",
     {"<title>Oxfam</title>", "<body bgcolor=\"#592843\">",
      "<table width=\"502\" border=\"0\" align=\"center\" cellpadding=\"0\" cellspacing=\"0\">",
      "<a href=\"http://www.processrequest.com/apps/display.asp?id=23704709,ZcgbhdbhhjED&oid=UdjeaBG\">",
      "<strong>Click \r\n      here to view this email online</strong>", "<b>Dear Isabel,</b>",
      "This year, we&rsquo;re attempting", "</table>", "</html>"}},
    {"attach3-nonascii-and-space-names.tnef",
     {"<meta name=Generator content=\"Microsoft Word 14 (filtered medium)\">", "@font-face\r\n\t{font-family:Calibri;",
      "<body lang=DE link=blue vlink=purple>", "<b>TEST \u00e4\u00f6\u00fc +-*/~<o:p></o:p></b>",
      "<img width=38 height=25 id=\"Grafik_x0020_3\" src=\"cid:image003.jpg@01D2EE6A.85652C70\"", "</html>"}},
    {"voicemail-mp3-multi-value-attr.tnef",
     {"You received a voice mail from Curie Conf Room at <a style=\"color: #3399ff; \" href=\"tel:208225\">208225</a>."}},
    {"attach1-long-filename-vs-8.3-title.tnef",
     {"<pre", "I've attached a temp. license for QARun 4.7.", "\r\n\r\nHeather\r\n",
      "Compuware Corporation                                      msimpson@numega.com\r\n</pre>"}},
    {"attach4-missing-8.3-titles.tnef", {"<pre", "Hi Stephen,\r\n\r\nSue has", "cheers, Liedeke\r\n"}},
    {"attach1-nonascii-name-pdf.tnef", {"Habe in den Namen mal ein \u00f6 eingef\u00fcgt\u2026"}},
};

TEST(Rtf2HtmlSamples, EveryRtfBodyConverts) {
    const std::vector<std::string> samples = testsupport::tnefSamples();
    if (samples.empty()) GTEST_SKIP() << testsupport::noSamplesReason();
    const std::string tnef = testsupport::findInPath("tnef");
    if (tnef.empty()) GTEST_SKIP() << "tnef is not installed";
    const bool haveUnrtf = !testsupport::findInPath("unrtf").empty();

    int bodies = 0;
    int wrapped = 0;
    for (const std::string& name : samples) {
        SCOPED_TRACE(name);
        testsupport::TempDir dir;
        // The filter's own arguments.
        testsupport::runProgram({tnef, "-f", testsupport::tnefSample(name), "--save-body=saved_body",
                                 "--number-backups", "--directory=" + dir.path(), "--verbose"},
                                "");
        const std::string rtf = dir / ("saved_body.rtf");
        if (!testsupport::pathExists(rtf)) {
            EXPECT_EQ(kExpected.count(name), 0u) << "no RTF body";
            continue;
        }
        ++bodies;
        const rtf::Encapsulation kind = rtf::encapsulationOf(testsupport::readFile(rtf));
        if (kind == rtf::Encapsulation::None && !haveUnrtf) continue;
        if (kind != rtf::Encapsulation::None) ++wrapped;

        const std::string htmlPath = dir / ("saved_body.html");
        const testsupport::ProgramResult r =
            testsupport::runProgram({testsupport::builtProgram("filter/rtf2html"), rtf, htmlPath}, "");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string html = testsupport::readFile(htmlPath);
        EXPECT_TRUE(rtf::isUtf8(html));
        EXPECT_EQ(count(html, "charset="), 1u);
        EXPECT_EQ(count(html, "charset=utf-8"), 1u);
        // Nothing of the RTF shows: no control words, no field instructions.
        const std::string text = visibleText(html);
        for (const char* leak : {"\\par", "\\htmlrtf", "\\'", "\\u", "HYPERLINK", "hyperlink", "fldinst"})
            EXPECT_EQ(text.find(leak), std::string::npos) << leak;

        const auto expected = kExpected.find(name);
        if (expected == kExpected.end()) continue;
        std::size_t at = 0;
        for (const std::string& piece : expected->second) {
            const std::size_t found = html.find(piece, at);
            EXPECT_NE(found, std::string::npos) << piece << "\nin\n" << html;
            if (found != std::string::npos) at = found + piece.size();
        }
    }
    EXPECT_GT(bodies, 0);
    EXPECT_GT(wrapped, 0);
}

}  // namespace
