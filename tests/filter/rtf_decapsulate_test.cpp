// The de-encapsulator: HTML and text wrapped in RTF, taken back one rule at a
// time; its charset declaration; and its reading of hostile documents.
#include "filter/rtf2html/decapsulate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/rtf2html/charset_declaration.h"

namespace {

const std::string kMeta = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">";

// Fonts: 0 Windows Latin, 1 Cyrillic, 2 symbol, 3 Japanese, 4 no charset.
const std::string kFonts =
    R"({\fonttbl{\f0\fswiss\fcharset0 Arial;}{\f1\froman\fcharset204 Times Cyr;}{\f2\fnil\fcharset2 Symbol;})"
    R"({\f3\fnil\fcharset128 MS Mincho;}{\f4\fnil Plain;}})";

std::string wrappedHtml(const std::string& body, const std::string& codePage = "1252") {
    return "{\\rtf1\\ansi\\ansicpg" + codePage + "\\fromhtml1 \\deff0" + kFonts + "\n\\f0 " + body + "}";
}

std::string show(const std::string& s) {
    std::string out;
    for (char c : s) out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

struct Row {
    const char* name;
    std::string body;      // inside a \fromhtml1 document (code page 1252, font 0)
    std::string expected;  // the HTML, without the declaration added at its start
};

TEST(RtfDecapsulate, EachRuleOfWrappedHtml) {
    const Row rows[] = {
        // HTML tag groups
        {"tag group copied, its number ignored", R"({\*\htmltag19 <p>}{\*\htmltag0 x})", "<p>x"},
        {"the space after a control word is its delimiter", R"({\*\htmltag84  <b>})", " <b>"},
        {"CR and LF in the source are not text", "{\\*\\htmltag84 <a\r\nhref=x>}a\r\nb", "<ahref=x>ab"},
        {"nested group inside a tag group", R"({\*\htmltag84 <a{\b b}>})", "<ab>"},
        {"\\par and \\tab inside a tag group", R"({\*\htmltag241 a\par\tab b})", "a\r\n\tb"},
        {"backslash before a line end is \\par", "{\\*\\htmltag241 a\\\nb}", "a\r\nb"},
        {"\\line and quotes give nothing inside a tag group", R"({\*\htmltag84 \line\lquote x})", "x"},
        {"escaped braces and backslash", R"({\*\htmltag241 \{a\}\\})", "{a}\\"},
        // \htmlrtf
        {"text outside \\htmlrtf copied", R"({\*\htmltag64 <p>}Hello{\*\htmltag72 </p>})", "<p>Hello</p>"},
        {"\\htmlrtf run skipped", R"(A\htmlrtf B\par\htmlrtf0 C)", "AC"},
        {"\\htmlrtf1 starts a run too", R"(A\htmlrtf1 B\htmlrtf0 C)", "AC"},
        {"\\htmlrtf0 inside a group ends with it", R"(\htmlrtf {\htmlrtf0 A}B\htmlrtf0 C)", "AC"},
        {"\\htmlrtf inside a group ends with it", R"({\htmlrtf A}B)", "B"},
        {"a tag group is copied inside a \\htmlrtf run", R"(\htmlrtf {\*\htmltag84 <b>}x\htmlrtf0 y)", "<b>y"},
        {"field inside a \\htmlrtf run skipped, its shown text copied",
         R"({\*\htmltag84 <a href="u">}\htmlrtf {\field{\*\fldinst{HYPERLINK "u"}}{\fldrslt\ul \htmlrtf0 link)"
         R"(\htmlrtf }\htmlrtf0 \htmlrtf }\htmlrtf0 {\*\htmltag92 </a>})",
         "<a href=\"u\">link</a>"},
        {"image stand-in in a \\htmlrtf run skipped", R"({\*\htmltag84 <img src=x>}\htmlrtf {\field x}\htmlrtf0 )",
         "<img src=x>"},
        // control words outside tag groups
        {"\\par and \\line give CR LF, \\tab a TAB", R"(A\par B\line C\tab D)", "A\r\nB\r\nC\tD"},
        {"quotes, dashes and bullet", R"(\lquote\rquote\ldblquote\rdblquote\bullet\endash\emdash)",
         "\u2018\u2019\u201c\u201d\u2022\u2013\u2014"},
        {"non-breaking space and hyphen", R"(a\~b\_c\-d)", "a\u00a0b\u2011cd"},
        {"formatting words give nothing", R"({\b bold}\fs24\i x\plain y)", "boldxy"},
        // code pages
        {"\\'hh in the document's code page", R"(\'e4\'80)", "\u00e4\u20ac"},
        {"\\'hh in the current font's code page", R"({\f1 \'e4}\'e4)", "\u0434\u00e4"},
        {"a font without charset reads the document's", R"({\f4 \'e4})", "\u00e4"},
        {"tag groups read the document's code page", R"({\f1 {\*\htmltag84 \'e4}})", "\u00e4"},
        {"\\plain returns to the default font", R"(\f1\plain\'e4)", "\u00e4"},
        {"raw 8-bit bytes are bytes of the code page", "\xe4{\\f1 \xe4}", "\u00e4\u0434"},
        {"a symbol font's bytes are taken as they are", R"({\f2 \'95})", "\u0095"},
        {"a byte pair of a multi-byte code page", R"({\f3 \'82\'a0})", "\u3042"},
        {"a trail byte that is plain text", R"({\f3 \'83A})", "\u30a2"},
        {"a pair across a source line break", "{\\f3 \\'82\r\n\\'a0}", "\u3042"},
        {"a lead byte cut short", R"({\f3 \'82}x)", "\ufffdx"},
        {"a byte the code page lacks", R"(\'81x)", "\ufffdx"},
        // \uN
        {"\\uN skips one fallback character", R"(\u246?x)", "\u00f6x"},
        {"\\ucN sets how many", R"(\uc2\u246??x)", "\u00f6x"},
        {"\\uc0 skips none", R"(\uc0\u246 x)", "\u00f6x"},
        {"an escape is one fallback character", R"(\u246\'f6x)", "\u00f6x"},
        {"\\uc ends with its group", R"({\uc2}\u246?x)", "\u00f6x"},
        {"a group end stops the skipping", R"({\uc3\u246?}x)", "\u00f6x"},
        {"negative \\uN", R"(\u-28?)", "\uffe4"},
        {"a surrogate pair", R"(\u-10179?\u-8704?)", "\U0001f600"},
        {"a lone high surrogate", R"(\u-10179?x)", "\ufffdx"},
        {"a lone low surrogate", R"(\u-8704?x)", "\ufffdx"},
        {"\\uN beyond 16 bits", R"(\u70000?x)", "\ufffdx"},
        {"\\uN in a \\htmlrtf run", R"(\htmlrtf\u246?\htmlrtf0 x)", "x"},
        // destinations
        {"\\*\\mhtmltag skipped", R"({\*\mhtmltag84 <img src=cid:1>}{\*\htmltag84 <img src=a.png>})",
         "<img src=a.png>"},
        {"other starred destinations skipped", R"({\*\generator Word;}{\*\bkmkstart b}x)", "x"},
        {"tables, information and pictures skipped",
         R"({\colortbl;\red0;}{\stylesheet{\s0 Normal;}}{\info{\title T}}{\pict\pngblip 0a0b}x)", "x"},
        {"\\bin data skipped", "a\\bin3 {}\\b", "ab"},
        {"no output for a NUL escape", R"(a\'00b)", "ab"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::string html;
        ASSERT_TRUE(rtf::decapsulate(wrappedHtml(r.body), html));
        EXPECT_EQ(show(html), show(kMeta + r.expected));
    }
}

TEST(RtfDecapsulate, DocumentCodePageAndCharsetZero) {
    // \fcharset0 is Windows Latin whatever the document's code page.
    std::string html;
    ASSERT_TRUE(rtf::decapsulate(wrappedHtml(R"(\'e4{\f0 \'e4}{\f4 \'e4}{\*\htmltag84 \'e4})", "1251"), html));
    EXPECT_EQ(html, kMeta + "\u00e4\u00e4\u0434\u0434");
    ASSERT_TRUE(rtf::decapsulate(wrappedHtml(R"({\f4 \'82\'a0})", "932"), html));
    EXPECT_EQ(html, kMeta + "\u3042");
    // A code page iconv does not know reads as 1252.
    ASSERT_TRUE(rtf::decapsulate(wrappedHtml(R"({\f4 \'e4})", "99999"), html));
    EXPECT_EQ(html, kMeta + "\u00e4");
}

TEST(RtfDecapsulate, WrappedTextIsEscapedWithItsLineBreaks) {
    const std::string start = "<html>\r\n<head>\r\n" + kMeta +
                              "\r\n</head>\r\n<body>\r\n<pre style=\"white-space: pre-wrap\">";
    const std::string end = "</pre>\r\n</body>\r\n</html>\r\n";
    const Row rows[] = {
        {"escaped", R"(a<b> & c\par d\line e\tab f)", "a&lt;b&gt; &amp; c\r\nd\r\ne\tf"},
        {"code pages and \\uN", R"(\'e4{\f1 \'e4}\u8364?)", "\u00e4\u0434\u20ac"},
        {"a leading line break survives <pre>", R"(\par x)", "\r\n\r\nx"},
        {"nothing", "", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\fromtext \\deff0" + kFonts + "\\f0 " + r.body + "}";
        std::string html;
        ASSERT_TRUE(rtf::decapsulate(rtf, html));
        EXPECT_EQ(show(html), show(start + r.expected + end));
    }
}

TEST(RtfDecapsulate, HeaderTellsTheEncapsulation) {
    const struct {
        const char* name;
        std::string rtf;
        rtf::Encapsulation expected;
    } rows[] = {
        {"html", R"({\rtf1\ansi\ansicpg1252\fromhtml1 \deff0{\fonttbl{\f0 A;}} x})", rtf::Encapsulation::Html},
        {"text", R"({\rtf1\ansi\ansicpg1252\fromtext \deff0{\fonttbl{\f0 A;}} x})", rtf::Encapsulation::Text},
        {"html without a font table", R"({\rtf1\fromhtml1 {\*\htmltag x}})", rtf::Encapsulation::Html},
        {"plain RTF", R"({\rtf1\ansi\deff0{\fonttbl{\f0 A;}} x})", rtf::Encapsulation::None},
        {"\\fromhtml0", R"({\rtf1\ansi\fromhtml0{\fonttbl{\f0 A;}} x})", rtf::Encapsulation::None},
        {"after the font table", R"({\rtf1\ansi{\fonttbl{\f0 A;}}\fromhtml1 x})", rtf::Encapsulation::None},
        {"after body text", R"({\rtf1\ansi x\fromhtml1 y})", rtf::Encapsulation::None},
        {"in a nested group", R"({\rtf1\ansi{\fromhtml1}{\fonttbl{\f0 A;}} x})", rtf::Encapsulation::None},
        {"not RTF", R"({\pict\fromhtml1 x})", rtf::Encapsulation::None},
        {"cut in the word", R"({\rtf1\fromhtml1)", rtf::Encapsulation::Html},
        {"empty", "", rtf::Encapsulation::None},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(rtf::encapsulationOf(r.rtf), r.expected);
    }
    std::string html = "untouched";
    EXPECT_FALSE(rtf::decapsulate(R"({\rtf1\ansi x})", html));
    EXPECT_EQ(html, "");
}

// One document that uses every piece that can be cut: words, numbers,
// escapes, byte pairs, surrogates, \bin data, tag groups and the head.
std::string everyPiece() {
    return "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0" + kFonts +
           R"({\*\htmltag19 <html>}{\*\htmltag34 <head>}{\*\htmltag161 <meta http-equiv="Content-Type" )"
           R"(content="text/html; charset=iso-8859-1">}{\*\htmltag41 </head>}{\*\htmltag50 <body>})"
           "\\htmlrtf {\\htmlrtf0 caf\\'e9 {\\f3 \\'82\\'a0\\'83A} \\u-10179?\\u-8704? \xe4\r\n"
           "\\uc2\\u8364\\'80\\'80 x\\bin4 {}\\\\y\\ldblquote q\\rdblquote\\par}\\htmlrtf0 "
           R"({\*\htmltag58 </body>}{\*\htmltag27 </html>}})";
}

TEST(RtfDecapsulate, AnyCutGivesTheSameHtml) {
    const std::string rtf = everyPiece();
    std::string whole;
    ASSERT_TRUE(rtf::decapsulate(rtf, whole));
    EXPECT_EQ(show(whole), show("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
                                "</head><body>caf\u00e9 \u3042\u30a2 \U0001f600 \u00e4\u20ac xy\u201cq\u201d\r\n"
                                "</body></html>"));
    for (std::size_t cut = 0; cut <= rtf.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        rtf::Decapsulator d;
        std::string html;
        ASSERT_TRUE(d.feed(rtf.data(), cut, html));
        ASSERT_TRUE(d.feed(rtf.data() + cut, rtf.size() - cut, html));
        ASSERT_TRUE(d.finish(html));
        ASSERT_EQ(html, whole);
    }
    rtf::Decapsulator d;
    std::string html;
    for (char c : rtf) ASSERT_TRUE(d.feed(&c, 1, html));
    ASSERT_TRUE(d.finish(html));
    EXPECT_EQ(html, whole);
}

TEST(RtfDecapsulate, HostileDocumentsEndInTime) {
    // Nesting past the bound fails the document; up to it, it is read.
    const std::size_t limit = rtf::Reader::kMaxGroupDepth;
    std::string deep = wrappedHtml(std::string(limit - 1, '{') + "x" + std::string(limit - 1, '}'));
    std::string html;
    EXPECT_TRUE(rtf::decapsulate(deep, html));
    EXPECT_EQ(html, kMeta + "x");
    deep = wrappedHtml(std::string(limit, '{') + "x");
    rtf::Decapsulator d;
    EXPECT_FALSE(d.feed(deep.data(), deep.size(), html));
    EXPECT_EQ(d.error(), "groups nested deeper than " + std::to_string(limit));

    const Row rows[] = {
        {"a word longer than any is ignored, whole", R"(\)" + std::string(100000, 'a') + " x", "x"},
        {"a parameter beyond 32 bits saturates", R"(\uc99999999999999999999\u246?x)", "\u00f6"},
        {"\\bin longer than the input", R"(a\bin99999999999 bc)", "a"},
        {"negative \\bin", R"(a\bin-5 b)", "ab"},
        {"an unfinished escape", R"(a\'4)", "a"},
        {"a broken escape", R"(a\'zzb)", "azzb"},
        {"a hyphen after a word", R"(\b-x)", "-x"},
        {"a stray group end", R"(a}b)", "a"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ASSERT_TRUE(rtf::decapsulate(wrappedHtml(r.body), html));
        EXPECT_EQ(show(html), show(kMeta + r.expected));
    }
    // A document cut anywhere gives what was read, the declaration first.
    ASSERT_TRUE(rtf::decapsulate(R"({\rtf1\fromhtml1 {\*\htmltag <p>}a{{{)", html));
    EXPECT_EQ(html, kMeta + "<p>a");
}

TEST(CharsetDeclaration, SaysUtf8InTheHead) {
    const struct {
        const char* name;
        std::string in, out;
    } rows[] = {
        {"no head: at the start", "<p>x</p>", kMeta + "<p>x</p>"},
        {"empty document", "", kMeta},
        {"head: at its start", "<html><HEAD lang=en><title>t</title></head><body>x",
         "<html><HEAD lang=en>" + kMeta + "<title>t</title></head><body>x"},
        {"no head: after the html tag", "<!DOCTYPE html><html lang=en><body>x",
         "<!DOCTYPE html><html lang=en>" + kMeta + "<body>x"},
        {"doctype only", "<!DOCTYPE html>x", "<!DOCTYPE html>" + kMeta + "x"},
        {"http-equiv charset changed",
         "<head><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=iso-8859-1\"></head>",
         "<head><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=utf-8\"></head>"},
        {"http-equiv charset quoted within the content",
         "<head><meta http-equiv='content-type' content='text/html;charset = \"us-ascii\"'></head>",
         "<head><meta http-equiv='content-type' content='text/html;charset = \"utf-8\"'></head>"},
        {"meta charset changed, unquoted", "<head><meta charset=windows-1252></head>",
         "<head><meta charset=utf-8></head>"},
        {"both kinds changed", "<head><meta charset=\"koi8-r\"><meta http-equiv=Content-Type content=\"text/html; "
                               "charset=koi8-r\"></head>",
         "<head><meta charset=\"utf-8\"><meta http-equiv=Content-Type content=\"text/html; charset=utf-8\"></head>"},
        {"content without a charset declares none", "<head><meta http-equiv=Content-Type content=text/html></head>",
         "<head>" + kMeta + "<meta http-equiv=Content-Type content=text/html></head>"},
        {"a meta in a comment declares nothing", "<head><!-- <meta charset=latin1> --></head>",
         "<head>" + kMeta + "<!-- <meta charset=latin1> --></head>"},
        {"a meta in the body is left", "<head></head><body><meta charset=latin1>",
         "<head>" + kMeta + "</head><body><meta charset=latin1>"},
        {"a < in text is no tag", "<head><title>a < b</title></head>",
         "<head>" + kMeta + "<title>a < b</title></head>"},
        {"an unfinished tag at the end", "<head><meta charset=\"x", "<head>" + kMeta + "<meta charset=\"x"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        rtf::CharsetDeclaration whole;
        std::string out;
        whole.feed(r.in, out);
        whole.finish(out);
        EXPECT_EQ(out, r.out);
        rtf::CharsetDeclaration bytes;
        std::string cut;
        for (char c : r.in) bytes.feed(&c, 1, cut);
        bytes.finish(cut);
        EXPECT_EQ(cut, r.out);
    }
}

TEST(CharsetDeclaration, LongHeadIsNotHeldWhole) {
    rtf::CharsetDeclaration d;
    std::string out;
    d.feed("<head><style>" + std::string(rtf::CharsetDeclaration::kMaxHead, 'a'), out);
    EXPECT_EQ(out.compare(0, 6 + kMeta.size(), "<head>" + kMeta), 0);
    const std::size_t before = out.size();
    d.feed("<meta charset=latin1>", out);
    EXPECT_EQ(out.substr(before), "<meta charset=latin1>");
}

}  // namespace
