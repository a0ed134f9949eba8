// Writes a starting corpus for wssp_fuzz into the folder it is given: pages
// that use every kind of statement, expression and format, and pages nested
// as deeply as they may be.
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wssp_seeds FOLDER\n");
        return 2;
    }
    const char* pages[] = {
        "Hello\nWorld\n",
        "%%HTML:x%%|%%x%%|%%JAVASCRIPT:x%%|%%URL:d.k%%",
        "<!--%%FOREACH item IN list-->%%INDEX1:item%%=%%item[]%%;<!--%%EMPTYFOR item-->none<!--%%ENDFOR item-->",
        "<!--%%IF a & b | c-->1<!--%%ELIF EXISTS(d.k)-->2<!--%%ELSE-->3<!--%%ENDIF-->",
        "<!--%%INCLUDE \"self\" (x, \"lit\", d.k)-->%%INCLUDEARG(0)%%",
        "<!--%%INCLUDE \"other\"--><!--%%INCLUDE \"missing\"-->",
        "%%DATETIME(\"^y-^N-^D ^h:^m ^t ^W\"):t%%%%DATE:t%%%%DATEWEEK:t%%%%DATETIMESHORT:t%%%%LOCALDATETIME:t%%",
        "%%HTMLTRUNCATED(20):x%%%%HTMLSUBST(a, b):x%%%%INDEX:item%%",
        "<!--%%BOOLMENU flag DEFAULT no DISPLAY names--><!--%%NUMERICMENU n DEFAULT n IN (1, 5, 10)-->",
        "<!--%%ENUMMENU x IN list DISPLAY names--><!--%%STRINGMENU x DEFAULT x IN list-->"
        "<!--%%MAILBOXMENU x IN list NOINBOX--><!--%%DAYTIMEMENU x PERIOD 30-->",
        "%%EQUALS(x AND \"y\")%%%%EQUALSNOCASE(x AND x)%%%%ISINDEX(\"1\" IN item)%%%%ISFIRST(item)%%"
        "%%ISEVEN(item)%%%%TRANSLATE(x USING names)%%%%CONTAINS(\"a\" IN list)%%%%SESSION(id)%%",
        "%%NOT(flag)%%%%CHECKED(flag)%%%%ISSTRING(x)%%%%ISARRAY(ARRAY(\"list\"))%%%%STRING(\"x\")%%"
        "%%DICTIONARY(\"d\").k%%%%NULL()%%%%EMPTYARRAY()%%%%WEEKDAYS(x)%%",
        "<!--%%FOREACH r IN rows--><!--%%FOREACH c IN d.list-->%%r[].name%%%%c[]%%<!--%%ENDFOR c--><!--%%ENDFOR r-->",
        "\xEF\xBB\xBF" "50% <!-- not a tag --> %%\"q\\\"\\e\"%%",
    };
    std::vector<std::string> all(std::begin(pages), std::end(pages));
    // As deeply nested as a page may be, and one statement more; an IF with
    // many ELIF parts.
    for (const int depth : {256, 257}) {
        std::string page = "x";
        for (int i = 0; i < depth; ++i) page = "<!--%%IF a-->" + page + "<!--%%ELSE-->y<!--%%ENDIF-->";
        all.push_back(page);
    }
    std::string elifs = "<!--%%IF a-->0";
    for (int i = 1; i < 2000; ++i) elifs += "<!--%%ELIF EXISTS(d.k)-->" + std::to_string(i);
    all.push_back(elifs + "<!--%%ENDIF-->");
    int n = 0;
    for (const std::string& page : all) {
        const std::string path = std::string(argv[1]) + "/seed" + std::to_string(n++) + ".wssp";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) return 1;
        std::fputs(page.c_str(), f);
        std::fclose(f);
    }
    return 0;
}
