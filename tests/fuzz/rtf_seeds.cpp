// Writes a starting corpus for rtf_fuzz into the folder it is given: wrapped
// HTML and text, code pages single and multi-byte, \uN with its fallbacks,
// fields, \bin, deep and cut documents, and unrtf output to clean up.
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: rtf_seeds FOLDER\n");
        return 2;
    }
    const std::string fonts =
        "{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}{\\f1\\fcharset204 Cyr;}{\\f2\\fcharset2 Symbol;}"
        "{\\f3\\fcharset128 MS Mincho;}{\\f4\\fcharset136 MingLiU;}}";
    const std::string seeds[] = {
        "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0" + fonts +
            "{\\*\\htmltag19 <html>}{\\*\\htmltag34 <head>}{\\*\\htmltag161 <meta http-equiv=\"Content-Type\" "
            "content=\"text/html; charset=iso-8859-1\">}{\\*\\htmltag41 </head>}{\\*\\htmltag50 <body>}"
            "\\htmlrtf {\\htmlrtf0 caf\\'e9 {\\f1 \\'e4}{\\f3 \\'82\\'a0\\'83A}\\u-10179?\\u-8704?\xe4\\par}"
            "\\htmlrtf0 {\\*\\htmltag84 <a href=\"u\">}\\htmlrtf {\\field{\\*\\fldinst{HYPERLINK \"u\"}}"
            "{\\fldrslt\\ul \\htmlrtf0 link\\htmlrtf }\\htmlrtf0 \\htmlrtf }\\htmlrtf0 {\\*\\htmltag92 </a>}"
            "{\\*\\mhtmltag84 <img src=cid:x>}{\\*\\htmltag241 a\\par\\tab b\\{\\}\\\\}"
            "{\\*\\htmltag58 </body>}{\\*\\htmltag27 </html>}}",
        "{\\rtf1\\ansi\\ansicpg1251\\fromtext \\deff0" + fonts +
            "\\f0 a < b & c\\par\\'e4{\\f4 \\'a4\\'40}\\uc2\\u8364??\\lquote\\emdash\\bullet\\line\\tab x}",
        "{\\rtf1\\ansi\\ansicpg932\\deff0" + fonts +
            "{\\colortbl;\\red0;}{\\stylesheet{\\s0 N;}}{\\info{\\title T}}\\f3 \\'82\\'a0\x82\xa0{\\f2 \\'b7}"
            "{\\pict\\pngblip 0a0b}\\bin4 {}\\\\{\\*\\generator W;}\\uc0\\u1234 x}",
        "{\\rtf1\\fromhtml1 " + std::string(200, '{') + "{\\*\\htmltag <p>}" + std::string(150, '}'),
        "{\\rtf1\\fromhtml1 \\" + std::string(100, 'w') + "123456789012345678901234567890 \\bin999999999 x",
        "<html><head><meta charset=latin1></head><body>&#55357;&#56832;&ouml;&#x41;&lt;\xff</body></html>",
    };
    int n = 0;
    for (const std::string& seed : seeds) {
        const std::string path = std::string(argv[1]) + "/seed" + std::to_string(n++) + ".rtf";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) return 1;
        std::fwrite(seed.data(), 1, seed.size(), f);
        std::fclose(f);
    }
    return 0;
}
