// The filter with our rtf2html, run as the mail server runs it: an Outlook
// message whose body is HTML wrapped in RTF gets that HTML back as its HTML
// alternative, character for character, declared UTF-8.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/filter/message_builder.h"
#include "support/filter/server_fixture.h"
#include "support/filter/tnef_writer.h"

using namespace testsupport;

namespace {

TEST(FilterWithRtf2html, WrappedHtmlBodyBecomesTheHtmlAlternative) {
    ServerFixture fx;
    if (!fx.haveTnef()) GTEST_SKIP() << "tnef is not installed";
    TnefWriter w;
    w.setRtfBody(
        "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}\r\n"
        "{\\*\\htmltag19 <html>}{\\*\\htmltag34 <head>}{\\*\\htmltag41 </head>}{\\*\\htmltag50 <body>}"
        "\\htmlrtf {\\htmlrtf0 Gr\\'fc\\'dfe,\\par}\\htmlrtf0 {\\*\\htmltag84 <a href=\"http://x/\">}\\htmlrtf "
        "{\\field{\\*\\fldinst{HYPERLINK \"http://x/\"}}{\\fldrslt\\ul \\htmlrtf0 caf\xe9\\htmlrtf }\\htmlrtf0 "
        "\\htmlrtf }\\htmlrtf0 {\\*\\htmltag92 </a>}{\\*\\htmltag58 </body>}{\\*\\htmltag27 </html>}}");
    const Part mail =
        message("Body", multipart("alternative", "alt-b", {textPart("Gruesse, cafe\n"), tnefPart(w.bytes())}));
    const std::string queued = fx.queue("1.msg", envelope("a@example.com", {"b@example.com"}) + render(mail));
    const ProgramResult r = fx.run("1 FILE " + queued + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("1 DISCARD\n"), std::string::npos) << r.out;
    const std::vector<std::string> files = fx.submitted();
    ASSERT_EQ(files.size(), 1u);

    // Python's MIME parser decodes the inserted quoted-printable part.
    TempDir parts;
    const ProgramResult summary = runProgram({"/usr/bin/python3", std::string(PARVEX_SOURCE_DIR) +
                                              "/scripts/mime_summary.py", fx.baseDir() + "Submitted/" + files[0],
                                              parts.path()},
                                             "");
    ASSERT_EQ(summary.exitCode, 0) << summary.err;
    std::istringstream lines(summary.out);
    std::string line;
    std::string html;
    while (std::getline(lines, line))
        if (line.find("\ttext/html\t") != std::string::npos) html = readFile(parts / line.substr(0, line.find('\t')));
    // \par gave CR LF; the parser reads a line end of the mail as LF.
    EXPECT_EQ(html,
              "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"></head><body>"
              "Gr\u00fc\u00dfe,\n<a href=\"http://x/\">caf\u00e9</a></body></html>");
}

}  // namespace
