// WSSP rendering: pages with variables to text, byte for byte; formats,
// function words, loops, includes, menus and date pictures.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/datetime.h"
#include "serverdata/dataset_text.h"
#include "serverdata/wssp.h"
#include "support/serverdata/pages.h"
#include "support/serverdata/values.h"

using cgp::DataSet;
using cgp::WSSPPage;
using cgp::WsspNode;
using testsupport::array;
using testsupport::dict;
using testsupport::loadPage;
using testsupport::none;
using testsupport::str;

namespace {

struct RenderCase {
    const char* name;
    std::string page;
    DataSet variables;
    std::string out;
};

void expectRenders(const std::vector<RenderCase>& cases) {
    for (const RenderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<WsspNode> root = loadPage(c.page);
        ASSERT_NE(root, nullptr) << c.page;
        const std::string before = DataSet::toString(c.variables, false);
        EXPECT_EQ(testsupport::render(root.get(), c.variables), c.out) << c.page;
        // Formats work on copies: the variables stay as they were.
        EXPECT_EQ(DataSet::toString(c.variables, false), before);
    }
}

DataSet withParent(const DataSet& parent, std::initializer_list<std::pair<std::string, DataSet>> members) {
    DataSet value(DataSet::kDictionary, parent);
    for (const auto& m : members) value->members[m.first] = m.second;
    return value;
}

}  // namespace

TEST(WsspRender, TextNamesAndFormats) {
    const DataSet v = dict({{"x", str("a<b&\"c")}, {"q", str("it's")}, {"n", str("5")}, {"u", str("Az09-._~ /?%\xC3\xA9\n")}});
    expectRenders({
        {"text alone", "Hello\nWorld\n", v, "Hello\nWorld\n"},
        {"HTML and plain", "%%HTML:x%%|%%x%%", v, "a&lt;b&amp;&quot;c|a<b&\"c"},
        // Fault once: an apostrophe passed HTML: unescaped.
        {"HTML escapes the apostrophe", "%%HTML:q%%", v, "it&#39;s"},
        {"HTML escapes >", "%%HTML:\"a>b\"%%", v, "a&gt;b"},
        {"a missing variable writes nothing", "[%%missing%%][%%HTML:missing%%]", v, "[][]"},
        {"a quoted string", "%%\"a\\eb\"%%", v, "a\nb"},
        {"formats that leave the text", "%%MAILBOXRAWNAME:x%%%%MAILBOXNAME:x%%%%MAILBOXLASTNAME:x%%"
                                        "%%SIZE:n%%%%ROUNDSIZE:n%%%%TIME:n%%",
         v, "a<b&\"ca<b&\"ca<b&\"c555"},
        // Fault once: the other HTML formats wrote the text unescaped, and
        // the URL formats as it was, so a value could end an attribute.
        {"the other HTML formats escape", "%%HTMLUTF8:x%%|%%HTMLUTF8:q%%", v, "a&lt;b&amp;&quot;c|it&#39;s"},
        {"argument formats escape",
         "%%HTMLTRUNCATED(2):x%%|%%HTMLTRUNCATED(n):x%%|%%HTMLSUBST(n, q):x%%|%%HTMLSUBSTMAILBOX(n):x%%|"
         "%%HTMLSUBSTROUNDSIZE(n):x%%",
         v, "a&lt;b&amp;&quot;c|a&lt;b&amp;&quot;c|a&lt;b&amp;&quot;c|a&lt;b&amp;&quot;c|a&lt;b&amp;&quot;c"},
        {"URL formats encode all but the unreserved bytes", "%%URL:x%%|%%URLMAILBOXPARENT:x%%|%%URL:u%%", v,
         "a%3Cb%26%22c|a%3Cb%26%22c|Az09-._~%20%2F%3F%25%C3%A9%0A"},
        {"a dictionary's string is empty", "[%%d%%]", dict({{"d", dict({{"k", str("v")}})}}), "[]"},
    });
}

TEST(WsspRender, JavaScript) {
    expectRenders({
        {"quotes, backslash, line feed", "%%JAVASCRIPT:x%%", dict({{"x", str("a'b\"c\\d\ne")}}),
         "a\\'b\\\"c\\\\d\\ne"},
        // Fault once: CR and "</" passed, so a value could end the line or
        // the script element.
        {"CR and the start of an end tag", "%%JAVASCRIPT:x%%", dict({{"x", str("a\r</script>x<y")}}),
         "a\\r\\x3C/script>x<y"},
        // A "<!--" would make the tokenizer read past the script's own end tag.
        {"the start of a comment", "%%JAVASCRIPT:x%%", dict({{"x", str("<!--<script>")}}), "\\x3C!--<script>"},
    });
}

TEST(WsspRender, RendersTheSameTwice) {
    const auto root = loadPage("%%HTML:x%%|%%x%%");
    ASSERT_NE(root, nullptr);
    const DataSet v = dict({{"x", str("a<b&\"c")}});
    EXPECT_EQ(testsupport::render(root.get(), v), "a&lt;b&amp;&quot;c|a<b&\"c");
    EXPECT_EQ(testsupport::render(root.get(), v), "a&lt;b&amp;&quot;c|a<b&\"c");
}

TEST(WsspRender, Conditionals) {
    const DataSet v = dict({{"yes", str("YES")}, {"no", str("NO")}, {"zero", str("0")}, {"minus", str("-1")}});
    const std::string chain = "<!--%%IF a-->A<!--%%ELIF b-->B<!--%%ELSE-->C<!--%%ENDIF-->";
    expectRenders({
        {"true", "<!--%%IF yes-->1<!--%%ENDIF-->", v, "1"},
        {"false without else writes nothing", "<!--%%IF no-->1<!--%%ENDIF-->", v, ""},
        {"texts that read as false", "<!--%%IF zero-->0<!--%%ELIF minus-->-<!--%%ELIF missing-->m<!--%%ELSE-->e<!--%%ENDIF-->",
         v, "e"},
        {"the first true branch", chain, dict({{"a", str("NO")}, {"b", str("yes")}}), "B"},
        {"all false: the else", chain, dict({{"a", str("n")}, {"b", str("N")}}), "C"},
        {"and, or", "%%yes & no%%,%%yes | no%%,%%no | missing%%,%%yes & yes%%", v, "NO,YES,NO,YES"},
    });
}

TEST(WsspRender, Loops) {
    const DataSet v = dict({{"items", array({str("a"), str("b"), str("c")})},
                            {"empty", array({})},
                            {"text", str("abc")},
                            {"rows", array({dict({{"name", str("x<")}}), dict({{"name", str("y")}})})},
                            {"grid", array({array({str("1"), str("2")}), array({str("3")})})}});
    expectRenders({
        {"elements and counters", "<!--%%FOREACH item IN items-->%%INDEX1:item%%=%%item[]%%;<!--%%ENDFOR item-->", v,
         "1=a;2=b;3=c;"},
        {"INDEX:", "<!--%%FOREACH item IN items-->%%INDEX:item%%<!--%%ENDFOR item-->", v, "012"},
        {"an empty array runs EMPTYFOR", "<!--%%FOREACH i IN empty-->x<!--%%EMPTYFOR i-->none<!--%%ENDFOR i-->", v,
         "none"},
        {"a string runs EMPTYFOR", "<!--%%FOREACH i IN text-->x<!--%%EMPTYFOR i-->none<!--%%ENDFOR i-->", v, "none"},
        {"a missing value runs EMPTYFOR", "<!--%%FORALL i IN nothing-->x<!--%%EMPTYFOR i-->none<!--%%ENDFOR i-->", v,
         "none"},
        {"members of elements", "<!--%%FOREACH r IN rows-->%%HTML:r[].name%%,<!--%%ENDFOR r-->", v, "x&lt;,y,"},
        {"ISFIRST, ISEVEN, ISINDEX",
         "<!--%%FOREACH i IN items-->%%ISFIRST(i)%%/%%ISEVEN(i)%%/%%ISINDEX(\"1\" IN i)%%;<!--%%ENDFOR i-->", v,
         "YES/YES/NO;NO/NO/YES;NO/YES/NO;"},
        {"counters outside a loop are empty", "[%%ISFIRST(i)%%][%%ISEVEN(i)%%][%%ISINDEX(\"0\" IN i)%%][%%INDEX1:i%%][%%i[]%%]",
         v, "[][][][][]"},
        {"nested loops", "<!--%%FOREACH row IN grid-->(<!--%%FOREACH cell IN row[]-->%%INDEX:row%%.%%cell[]%%<!--%%ENDFOR cell-->)<!--%%ENDFOR row-->",
         v, "(0.10.2)(1.3)"},
        // The inner loop's end removes the bindings of the same name.
        {"an inner loop over the same name", "<!--%%FOREACH i IN grid-->[<!--%%FOREACH i IN i[]-->%%i[]%%<!--%%ENDFOR i-->%%i[]%%]<!--%%ENDFOR i-->",
         v, "[12][3]"},
        {"after the loop the bindings are gone", "<!--%%FOREACH i IN items--><!--%%ENDFOR i-->[%%i[]%%][%%INDEX:i%%]", v,
         "[][]"},
        {"CONTAINS( in a loop", "<!--%%FOREACH i IN items-->%%CONTAINS(i[] IN \"xbx\")%%<!--%%ENDFOR i-->", v,
         "NOYESNO"},
    });
}

TEST(WsspRender, FunctionWords) {
    const DataSet parent = dict({{"inherited", str("from parent")}, {"shadow", str("parent's")}});
    const DataSet v = dict({
        {"x", str("Value")},
        {"flag", str("yes")},
        {"list", array({str("a"), str("b")})},
        {"d", withParent(parent, {{"k", str("v")}, {"shadow", str("own")}, {"Key", str("K")}})},
        {"names", dict({{"Value", str("Wert")}})},
        {"session", dict({{"id", str("s1")}})},
        {"settings", dict({{"lang", str("en")}})},
        {"accountsettings", dict({{"tz", str("UTC")}})},
        {"blob", testsupport::block("xyz")},
        {"nothing", none()},
    });
    expectRenders({
        // The inner flag keeps kind 0, so EXISTS( of it is NO.
        {"EXISTS( of EXISTS(", "%%EXISTS(EXISTS(x))%%|%%EXISTS(x)%%|%%EXISTS(missing)%%", v, "NO|YES|NO"},
        {"DOESNOTEXIST(", "%%DOESNOTEXIST(missing)%%|%%DOESNOTEXIST(x)%%|%%DOESNOTEXIST(nothing)%%", v, "YES|NO|YES"},
        {"NOT(", "%%NOT(flag)%%|%%NOT(missing)%%", v, "NO|YES"},
        {"CHECKED(", "[%%CHECKED(flag)%%][%%CHECKED(missing)%%]", v, "[checked=\"checked\"][]"},
        {"EQUALS(", "%%EQUALS(x AND \"Value\")%%|%%EQUALS(x AND \"value\")%%", v, "YES|NO"},
        {"EQUALSNOCASE(", "%%EQUALSNOCASE(x AND \"vALUE\")%%|%%EQUALSNOCASE(x AND \"Valu\")%%", v, "YES|NO"},
        {"kinds", "%%ISSTRING(x)%%%%ISARRAY(list)%%%%ISDICTIONARY(d)%%%%ISDATA(blob)%%%%ISSTRING(list)%%", v,
         "YESYESYESYESNO"},
        {"words with no value", "[%%ISDATE(x)%%%%HASPARENTMAILBOX(x)%%%%RANDOMELEMENT(list)%%%%MONTHNAMES()%%"
                                "%%WEEKDAYS()%%%%WEEKDAYS(x)%%%%KNOWNCHARSETS()%%%%KNOWNTIMEZONES()%%]",
         v, "[]"},
        {"made values", "%%ISARRAY(EMPTYARRAY())%%%%ISDICTIONARY(EMPTYDICTIONARY())%%%%EXISTS(NULL())%%"
                        "%%EXISTS(EMPTYSTRING())%%",
         v, "YESYESNOYES"},
        {"STRING(, ARRAY(, DICTIONARY(",
         "%%STRING(\"x\")%%|%%ISARRAY(ARRAY(\"list\"))%%|%%DICTIONARY(\"d\").k%%|[%%STRING(\"list\")%%]", v,
         "Value|YES|v|[]"},
        {"TRANSLATE(", "%%TRANSLATE(x USING names)%%|%%TRANSLATE(flag USING names)%%|[%%TRANSLATE(list USING names)%%]",
         v, "Wert|yes|[]"},
        {"CONTAINS(", "%%CONTAINS(\"b\" IN list)%%%%CONTAINS(\"al\" IN x)%%%%CONTAINS(\"k\" IN d)%%"
                      "%%CONTAINS(\"z\" IN list)%%%%CONTAINS(list IN list)%%",
         v, "YESYESYESNONO"},
        {"members", "%%d.k%%|%%d.\"Key\"%%|[%%d.missing%%]|[%%x.k%%]", v, "v|K|[]|[]"},
        {"a missing member comes from the parent", "%%d.inherited%%|%%d.shadow%%", v, "from parent|own"},
        {"SESSION(, SETTINGS(, ACCOUNTSETTINGS(", "%%SESSION(id)%%|%%SETTINGS(\"lang\")%%|%%ACCOUNTSETTINGS(tz)%%",
         v, "s1|en|UTC"},
        {"INCLUDEARG( outside an include", "[%%INCLUDEARG(0)%%]", v, "[]"},
    });
}

TEST(WsspRender, Dates) {
    const time_t now = std::time(nullptr);
    const DataSet v = dict({{"epoch", str("0")},
                            {"t", str("1054631107")},  // Tue, 03 Jun 2003 09:05:07 UTC
                            {"recent", str(std::to_string(now - 2 * 3600))},
                            {"old", str(std::to_string(now - 3 * 86400))}});
    expectRenders({
        {"DATE:", "%%DATE:t%%", v, "03/06/03"},
        {"DATEWEEK:", "%%DATEWEEK:t%%", v, "Tue, 03/06/03"},
        {"DATETIME:", "%%DATETIME:t%%", v, "9:05:07 Tue 03-Jun-03"},
        {"DATETIME: at midnight", "%%DATETIME:epoch%%", v, "12:00:00 Thu 01-Jan-70"},
        {"DATETIME( with a picture", "%%DATETIME(\"^y-^N-^D ^H:^m ^t\"):t%%", v, "2003-06-03 09:05 AM"},
        {"DATETIME( with an unknown picture name", "%%DATETIME(short):t%%", v, "9:05:07 Tue 03-Jun-03"},
        {"DATETIMESHORT: two hours ago", "%%DATETIMESHORT:recent%%", v,
         WSSPPage::formatDate(now - 2 * 3600, "^H:^m:^s", false)},
        {"DATETIMESHORT: three days ago", "%%DATETIMESHORT:old%%", v,
         WSSPPage::formatDate(now - 3 * 86400, "^Y/^N/^D", false)},
    });
}

TEST(WsspRender, LocalDatesUseTheLocalZone) {
    ::setenv("TZ", "EST5", 1);
    ::tzset();
    const time_t now = std::time(nullptr);
    const DataSet v = dict({{"t", str("1054631107")}, {"recent", str(std::to_string(now - 60))}});
    expectRenders({
        {"LOCALDATE:", "%%LOCALDATE:t%%", v, "03/06/03"},
        {"LOCALDATETIMESHORT:", "%%LOCALDATETIMESHORT:t%%|%%LOCALDATETIMESHORT:recent%%", v,
         "03/06/03|" + WSSPPage::formatDate(now - 60, "^H:^m:^s", true)},
        {"LOCALDATETIME:", "%%LOCALDATETIME:t%%", v, "4:05:07 Tue 03-Jun-03"},
        {"LOCALDATETIME( with a picture", "%%LOCALDATETIME(\"^H^t\"):t%%|%%DATETIME(\"^H^t\"):t%%", v, "04AM|09AM"},
    });
    EXPECT_EQ(WSSPPage::formatDate(0, "^y-^N-^D ^H", true), "1969-12-31 19");
}

// Fault once: the zone's offset of the moment of rendering was used, so a
// summer time shown in winter (or the other way round) was an hour off.
TEST(WsspRender, LocalDatesTakeTheOffsetOfTheirOwnTime) {
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
    const DataSet v = dict({{"winter", str("1041422400")},   // 2003-01-01 12:00 UTC
                            {"summer", str("1057060800")},   // 2003-07-01 12:00 UTC
                            {"night", str("1057012200")}});  // 2003-06-30 22:30 UTC
    expectRenders({
        {"winter", "%%LOCALDATETIME(\"^H:^m\"):winter%%", v, "13:00"},
        {"summer", "%%LOCALDATETIME(\"^H:^m\"):summer%%", v, "14:00"},
        {"a summer night is the next day", "%%LOCALDATE:night%%|%%DATE:night%%", v, "03/07/01|03/06/30"},
    });
    EXPECT_EQ(WSSPPage::formatDate(1057060800, "^H", true), "14");
    EXPECT_EQ(WSSPPage::formatDate(1041422400, "^H", true), "13");
}

TEST(WsspRender, DatePicturesComeFromTheLocals) {
    const auto root = loadPage("%%DATETIME(short):t%%|%%LOCALDATETIME(\"^d\"):t%%");
    ASSERT_NE(root, nullptr);
    cgp::WsspContext context(dict({{"t", str("1054631107")}}));
    context.locals->members["DatePictures"] = dict({{"short", str("^d.^n.")}});
    std::ostringstream out;
    WSSPPage::execute(root.get(), out, context);
    EXPECT_EQ(out.str(), "3.6.|3");
}

TEST(WsspRender, FormatDate) {
    const struct {
        time_t t;
        const char* picture;
        std::string out;
    } cases[] = {
        {0, "^D|^d|^M|^N|^n|^Y|^y|^s|^m|^H|^h|^t|^W", "01|1|Jan|01|1|70|1970|00|00|00|12|AM|Thu"},
        {1054631107, "^D|^d|^M|^N|^n|^Y|^y|^s|^m|^H|^h|^t|^W", "03|3|Jun|06|6|03|2003|07|05|09|9|AM|Tue"},
        {30 * 60, "^h:^m ^t", "12:30 AM"},
        {13 * 3600 + 5 * 60, "^h:^m ^t ^H", "1:05 PM 13"},
        {-30641760000LL, "^y ^Y", "0999 99"},  // 1 January 999
        {0, "no codes ^x ^", "no codes ^x ^"},
        {0, "^D^D", "0101"},
        // Codes go one after the other: what ^M puts in may complete ^N.
        {26265600, "^^M", "11ov"},  // 1 November 1970
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.picture);
        EXPECT_EQ(WSSPPage::formatDate(c.t, c.picture, false), c.out);
    }
    const DataSet months = array({str("janvier")});
    const DataSet days = array({str("d0"), str("d1"), str("d2"), str("d3"), str("d4")});
    const DataSet halves = array({str("matin"), str("soir")});
    EXPECT_EQ(WSSPPage::formatDate(0, "^M ^W ^t", false, months, days, halves), "janvier d4 matin");
    EXPECT_EQ(WSSPPage::formatDate(40 * 86400, "[^M]", false, months, days, halves), "[]");  // no name for February
}

TEST(WsspRender, Includes) {
    testsupport::PageFolder pages;
    pages.write("head.wssp", "<h1>%%HTML:title%%</h1>");
    pages.write("row.wssp", "[%%INCLUDEARG(0)%%|%%INCLUDEARG(1)%%|%%INCLUDEARG(5)%%]");
    pages.write("outer.wssp", "(%%INCLUDEARG(0)%%<!--%%INCLUDE \"row.wssp\" (\"in\")-->%%INCLUDEARG(0)%%)");
    pages.write("self.wssp", "x<!--%%INCLUDE \"self.wssp\"-->");
    // As deep as a page may nest: a few of them make the most that
    // includes may add.
    std::string deepPage = "x<!--%%INCLUDE \"deep.wssp\"-->";
    for (int i = 0; i < cgp::wssp::kMaxNesting; ++i)
        deepPage = "<!--%%FOREACH i IN one-->" + deepPage + "<!--%%ENDFOR i-->";
    pages.write("deep.wssp", deepPage);
    pages.write("loop.wssp", "%%INDEX1:i%%");
    pages.write("broken.wssp", "%%x");
    pages.install();
    const DataSet v = dict({{"title", str("a<b")}, {"d", dict({{"k", str("member")}})}, {"items", array({str("p"), str("q")})},
                            {"one", array({str("1")})}});
    std::string deep;
    for (int i = 0; i < cgp::wssp::kMaxIncludeDepth; ++i) deep += "x";
    const std::string deeper(cgp::wssp::kMaxIncludedHeight / pages.page("deep.wssp")->height(), 'x');
    ASSERT_LT(deeper.size(), deep.size());
    expectRenders({
        {"a page", "<!--%%INCLUDE \"head.wssp\"-->!", v, "<h1>a&lt;b</h1>!"},
        {"arguments are rendered texts", "<!--%%INCLUDE \"row.wssp\" (title, \"lit\")-->", v, "[a<b|lit|]"},
        {"arguments are the included page's only", "<!--%%INCLUDE \"row.wssp\" (title)-->[%%INCLUDEARG(0)%%]", v,
         "[a<b||][]"},
        {"nested includes keep their own arguments", "<!--%%INCLUDE \"outer.wssp\" (\"out\")-->", v,
         "(out[in||]out)"},
        // Fault once: an operator as an argument wrote its first operand.
        {"an operator argument is its own value", "<!--%%INCLUDE \"row.wssp\" (d.k, EXISTS(title))-->", v,
         "[member|YES|]"},
        {"loop bindings reach the included page", "<!--%%FOREACH i IN items--><!--%%INCLUDE \"loop.wssp\"--><!--%%ENDFOR i-->",
         v, "12"},
        {"a missing page", "<!--%%INCLUDE \"none.wssp\"-->", v, "[ERROR, INCLUDED FILE 'none.wssp' NOT FOUND]"},
        {"a page that does not load", "<!--%%INCLUDE \"broken.wssp\"-->", v,
         "[ERROR, INCLUDED FILE 'broken.wssp' NOT FOUND]"},
        // Fault once: a page that included itself recursed until the stack
        // ran out.
        {"a page that includes itself ends", "<!--%%INCLUDE \"self.wssp\"-->", v,
         deep + "[ERROR, INCLUDED FILE 'self.wssp' NESTED TOO DEEPLY]"},
        // Sixteen of these on the stack took 8.7 MB of it.
        {"a deeply nested page that includes itself ends sooner", "<!--%%INCLUDE \"deep.wssp\"-->", v,
         deeper + "[ERROR, INCLUDED FILE 'deep.wssp' NESTED TOO DEEPLY]"},
    });
}

namespace {

struct Loader {
    cgp::WsspNode* page(const std::string&) { return nullptr; }
};

}  // namespace

// Fault once: a handler with one part set was called through the null part.
TEST(WsspRender, AnIncludeHandlerHalfSetIsNotSet) {
    const auto root = loadPage("<!--%%INCLUDE \"x\"-->");
    ASSERT_NE(root, nullptr);
    const std::string unset = "[INTERNAL ERROR, INCLUDE HANDLER NOT SET]";
    Loader loader;
    WSSPPage::setIncludeHandler(nullptr, nullptr);
    EXPECT_EQ(testsupport::render(root.get(), dict({})), unset);
    WSSPPage::setIncludeHandler(&loader, nullptr);
    EXPECT_EQ(testsupport::render(root.get(), dict({})), unset);
    WSSPPage::setIncludeHandler(nullptr, &Loader::page);
    EXPECT_EQ(testsupport::render(root.get(), dict({})), unset);
    WSSPPage::setIncludeHandler(static_cast<Loader*>(nullptr), &Loader::page);
    EXPECT_EQ(testsupport::render(root.get(), dict({})), unset);
    WSSPPage::setIncludeHandler(&loader, static_cast<cgp::WsspNode* (Loader::*)(const std::string&)>(nullptr));
    EXPECT_EQ(testsupport::render(root.get(), dict({})), unset);
    WSSPPage::setIncludeHandler(&loader, &Loader::page);
    EXPECT_EQ(testsupport::render(root.get(), dict({})), "[ERROR, INCLUDED FILE 'x' NOT FOUND]");
    WSSPPage::setIncludeHandler(nullptr, nullptr);
}

TEST(WsspRender, Menus) {
    const DataSet v = dict({
        {"yes", str("YES")},
        {"no", str("NO")},
        {"minus", str("-1")},
        {"twenty", str("20")},
        {"thirty", str("30")},
        {"b", str("b")},
        {"c", str("c")},
        {"list", array({str("a"), str("b"), str("c")})},
        {"odd", array({str("x<y"), str("q\"")})},
        {"names", dict({{"a", str("Alpha")}, {"YES", str("Ja")}, {"NO", str("Nein")}, {"x<y", str("X & Y")}})},
    });
    expectRenders({
        {"BOOLMENU, a true variable", "<!--%%BOOLMENU yes-->", v,
         "<option value=\"0\">NO</option><option value=\"1\" selected=\"selected\">YES</option>"},
        {"BOOLMENU, a false variable", "<!--%%BOOLMENU no DISPLAY names-->", v,
         "<option value=\"0\" selected=\"selected\">Nein</option><option value=\"1\">Ja</option>"},
        // Fault once: with a default first, the entry before the right one
        // was selected, so YES selected NO.
        {"BOOLMENU with a default selects YES", "<!--%%BOOLMENU yes DEFAULT no-->", v,
         "<option value=\"-1\">NO *</option><option value=\"0\">NO</option>"
         "<option value=\"1\" selected=\"selected\">YES</option>"},
        {"BOOLMENU at -1 selects the default", "<!--%%BOOLMENU minus DEFAULT yes-->", v,
         "<option value=\"-1\" selected=\"selected\">YES *</option><option value=\"0\">NO</option>"
         "<option value=\"1\">YES</option>"},
        {"NUMERICMENU", "<!--%%NUMERICMENU twenty IN (10, 20, 30)-->", v,
         "<option value=\"10\">10</option><option value=\"20\" selected=\"selected\">20</option>"
         "<option value=\"30\">30</option>"},
        {"NUMERICMENU with a default", "<!--%%NUMERICMENU twenty DEFAULT thirty IN (10, 20, 30)-->", v,
         "<option value=\"-1\">30 *</option><option value=\"10\">10</option>"
         "<option value=\"20\" selected=\"selected\">20</option><option value=\"30\">30 *</option>"},
        {"NUMERICMENU, a value not listed", "<!--%%NUMERICMENU b IN (10, 20)-->", v,
         "<option value=\"10\" selected=\"selected\">10</option><option value=\"20\">20</option>"},
        {"ENUMMENU", "<!--%%ENUMMENU b IN list DISPLAY names-->", v,
         "<option value=\"0\">Alpha</option><option value=\"1\" selected=\"selected\">b</option>"
         "<option value=\"2\">c</option>"},
        {"ENUMMENU with a default", "<!--%%ENUMMENU b DEFAULT c IN list-->", v,
         "<option value=\"-1\">c *</option><option value=\"0\">a</option>"
         "<option value=\"1\" selected=\"selected\">b</option><option value=\"2\">c *</option>"},
        {"STRINGMENU", "<!--%%STRINGMENU c IN list-->", v,
         "<option value=\"a\">a</option><option value=\"b\">b</option>"
         "<option value=\"c\" selected=\"selected\">c</option>"},
        // Fault once: values and texts were written unescaped.
        {"values and texts are escaped", "<!--%%STRINGMENU missing IN odd DISPLAY names-->", v,
         "<option value=\"x&lt;y\" selected=\"selected\">X &amp; Y</option>"
         "<option value=\"q&quot;\">q&quot;</option>"},
        {"menus not made", "<!--%%TIMEMENU b IN (1)--><!--%%SIZEMENU b IN (1)--><!--%%MAILBOXMENU b IN list-->"
                           "<!--%%DAYTIMEMENU b--><!--%%CALENDARTIMEMENU b--><!--%%LOCALCALENDARTIMEMENU b PERIOD 5-->",
         v, "NOT IMPLEMENTEDNOT IMPLEMENTEDNOT IMPLEMENTEDNOT IMPLEMENTEDNOT IMPLEMENTEDNOT IMPLEMENTED"},
    });
}

TEST(WsspRender, IndexInArrayAndTranslate) {
    const DataSet list = array({str("a"), str("2"), str("b"), str("3.5")});
    const struct {
        const char* text;
        DataSet list;
        unsigned at;
    } cases[] = {
        {"a", list, 0},        {"b", list, 2},       {"2", list, 1},   {"2.00001", list, 1},
        {"3.50", list, 3},     {"zz", list, 0},      {"", list, 0},    {"b", str("b"), 0},
        {"b", dict({}), 0},    {"-0", array({str("x"), str("0")}), 0},  // "x" reads as 0 too
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(cgp::wsspIndexInArray(c.text, c.list), c.at);
    }
    const DataSet names = dict({{"a", str("Alpha")}, {"d", dict({})}});
    EXPECT_EQ(cgp::wsspTranslate("a", names), "Alpha");
    EXPECT_EQ(cgp::wsspTranslate("A", names), "A");
    EXPECT_EQ(cgp::wsspTranslate("d", names), "");
    EXPECT_EQ(cgp::wsspTranslate("a", array({str("a")})), "a");
    EXPECT_EQ(cgp::wsspTranslate("a", DataSet()), "a");
}

TEST(WsspRender, EvaluateGivesValues) {
    const auto root = loadPage("%%HTML:x%%%%x%%%%EXISTS(x)%%%%x.k%%%%INDEX:i%%");
    ASSERT_NE(root, nullptr);
    const DataSet x = dict({{"k", str("<v>")}});
    cgp::WsspContext context(dict({{"x", x}}));
    const std::vector<WsspNode*>& items = root->children[0]->children;
    ASSERT_EQ(items.size(), 5u);
    // An inline expression gives a formatted copy.
    const DataSet formatted = WSSPPage::evaluate(items[0], context);
    EXPECT_EQ(testsupport::describe(formatted), "D{\"k\":S\"<v>\"}");
    EXPECT_NE(formatted.get(), x.get());
    EXPECT_NE(formatted->members.at("k").get(), x->members.at("k").get());
    // A name gives the variable itself.
    EXPECT_EQ(WSSPPage::evaluate(items[1]->children[1], context).get(), x.get());
    // A flag of EXISTS( keeps kind 0.
    const DataSet flag = WSSPPage::evaluate(items[2]->children[1], context);
    EXPECT_EQ(flag->getType(), DataSet::kEmpty);
    EXPECT_EQ(flag->value, "YES");
    EXPECT_EQ(WSSPPage::evaluate(items[3]->children[1], context).get(), x->members.at("k").get());
    // INDEX: makes a string value, a counter read from the locals.
    context.locals->members["i[index]"] = str("7");
    const DataSet index = WSSPPage::evaluate(items[4], context);
    EXPECT_EQ(testsupport::describe(index), "S\"7\"");
    EXPECT_TRUE(WSSPPage::evaluate(nullptr, context)->isEmpty());

    // Executing the operator writes its own value.
    std::ostringstream out;
    WSSPPage::execute(items[3]->children[1], out, context);
    EXPECT_EQ(out.str(), "<v>");
}

TEST(WsspRender, LocalsSetByTheCaller) {
    const auto root = loadPage("%%item[]%%|%%INDEX1:item%%|%%INCLUDEARG(1)%%|"
                               "<!--%%FOREACH item IN list-->%%item[]%%<!--%%ENDFOR item-->|%%item[]%%");
    ASSERT_NE(root, nullptr);
    cgp::WsspContext context(dict({{"list", array({str("a")})}}));
    context.locals->members["item[]"] = str("mine");
    context.locals->members["item[index]"] = str("4");
    context.locals->members["INCLUDEARG"] = array({str("zero"), str("one")});
    std::ostringstream out;
    WSSPPage::execute(root.get(), out, context);
    EXPECT_EQ(out.str(), "mine|5|one|a|");
    // The loop removed its bindings from the locals.
    EXPECT_EQ(context.locals->members.count("item[]"), 0u);
    EXPECT_EQ(context.locals->members.count("item[index]"), 0u);
    EXPECT_EQ(context.locals->members.count("INCLUDEARG"), 1u);
}

namespace {

// Serves one page, loaded before the renders start; safe on any thread.
struct FixedPages {
    std::unique_ptr<WsspNode> row;
    cgp::WsspNode* page(const std::string& name) { return name == "row.wssp" ? row.get() : nullptr; }
};

}  // namespace

// Renders share nothing but the variables they read and the include
// handler, which may change meanwhile.
TEST(WsspRender, RendersOnSeveralThreadsAtOnce) {
    FixedPages first, second;
    first.row = loadPage("<td>%%HTML:INCLUDEARG(0)%%</td>");
    second.row = loadPage("<td>%%HTML:INCLUDEARG(0)%%</td>");
    ASSERT_NE(first.row, nullptr);
    ASSERT_NE(second.row, nullptr);
    WSSPPage::setIncludeHandler(&first, &FixedPages::page);

    const std::string page =
        "<table><!--%%FOREACH r IN rows--><!--%%IF ISEVEN(r)--><tr class=even><!--%%ELSE--><tr><!--%%ENDIF-->"
        "%%INDEX1:r%%<!--%%INCLUDE \"row.wssp\" (r[].name)--></tr><!--%%ENDFOR r--></table>";
    DataSet rows(DataSet::kArray);
    std::string expected = "<table>";
    for (int i = 0; i < 50; ++i) {
        rows->elements.push_back(dict({{"name", str("n<" + std::to_string(i))}}));
        expected += std::string(i % 2 == 0 ? "<tr class=even>" : "<tr>") + std::to_string(i + 1) + "<td>n&lt;" +
                    std::to_string(i) + "</td></tr>";
    }
    expected += "</table>";
    const DataSet shared = dict({{"rows", rows}});

    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            const std::unique_ptr<WsspNode> own = loadPage(page);
            if (own == nullptr) {
                ++failures;
                return;
            }
            for (int i = 0; i < 100; ++i)
                if (testsupport::render(own.get(), shared) != expected) ++failures;
        });
    }
    std::thread switcher([&] {
        for (int i = 0; !done; ++i)
            WSSPPage::setIncludeHandler(i % 2 == 0 ? &second : &first, &FixedPages::page);
    });
    for (auto& t : threads) t.join();
    done = true;
    switcher.join();
    WSSPPage::setIncludeHandler(nullptr, nullptr);
    EXPECT_EQ(failures, 0);
}

namespace {

// Takes a few bytes, then refuses or throws, as a full disk or a closed
// peer would.
class ShortBuffer : public std::streambuf {
public:
    ShortBuffer(std::size_t room, bool throws) : room_(room), throws_(throws) {}
    std::string taken;

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        const std::size_t fits = std::min(room_ - taken.size(), static_cast<std::size_t>(n));
        taken.append(s, fits);
        if (fits < static_cast<std::size_t>(n) && throws_) throw std::ios_base::failure("write error");
        return static_cast<std::streamsize>(fits);
    }
    int_type overflow(int_type c) override {
        const char ch = traits_type::to_char_type(c);
        return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
    }

private:
    std::size_t room_;
    bool throws_;
};

struct CountingPages {
    std::unique_ptr<WsspNode> page = loadPage("-");
    int calls = 0;
    cgp::WsspNode* serve(const std::string&) {
        ++calls;
        return page.get();
    }
};

}  // namespace

TEST(WsspRender, AFailedOutputEndsTheRender) {
    const auto root = loadPage("<!--%%FOREACH i IN list-->%%i[]%%<!--%%INCLUDE \"x\"--><!--%%ENDFOR i-->");
    ASSERT_NE(root, nullptr);
    DataSet list(DataSet::kArray);
    for (int i = 0; i < 1000; ++i) list->elements.push_back(str("ab"));
    const DataSet v = dict({{"list", list}});
    for (bool throws : {false, true}) {
        SCOPED_TRACE(throws ? "throws" : "refuses");
        CountingPages pages;
        WSSPPage::setIncludeHandler(&pages, &CountingPages::serve);
        ShortBuffer buffer(7, throws);
        std::ostream out(&buffer);
        WSSPPage::render(root.get(), out, v);
        EXPECT_TRUE(out.bad());
        EXPECT_EQ(buffer.taken, "ab-ab-a");
        EXPECT_LE(pages.calls, 3);
        WSSPPage::setIncludeHandler(nullptr, nullptr);
    }
}
