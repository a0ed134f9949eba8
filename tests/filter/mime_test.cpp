#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "filter/mime.h"

using cgp::mimeTypeForFile;
using cgp::mimeTypeTable;

namespace {

struct MimeCase {
    const char* fileName;
    const char* type;
};

}  // namespace

TEST(MimeTypeForFile, TableOfCases) {
    const MimeCase cases[] = {
        // Exact, case-sensitive extension match.
        {"letter.doc", "application/msword"},
        {"LETTER.DOC", "application/octet-stream"},
        {"letter.Doc", "application/octet-stream"},
        {"report.pdf", "application/pdf"},
        {"report.PDF", "application/octet-stream"},
        // Only the text after the last dot counts.
        {"backup.tar.gz", "application/x-gzip"},
        {"backup.tar", "application/x-tar"},
        {"archive.gz.txt", "text/plain"},
        // No dot, a trailing dot, a dot only in the directory part.
        {"README", "application/octet-stream"},
        {"name.", "application/octet-stream"},
        {".", "application/octet-stream"},
        {"", "application/octet-stream"},
        {"/tmp/pvx_temp.d/README", "application/octet-stream"},
        {"/tmp/dir.html/noext", "application/octet-stream"},
        {"/tmp/pvx_temp/saved_body.html", "text/html"},
        // A leading dot is still the extension's dot.
        {".html", "text/html"},
        {"page.htm", "text/html"},
        {"body.rtf", "text/rtf"},
        {"body.RTF", "application/octet-stream"},
        // Types written with capitals are kept as written.
        {"part.stl", "application/SLA"},
        {"part.step", "application/STEP"},
        {"part.stp", "application/STEP"},
        {"clip.tsi", "audio/TSP-audio"},
        // Single-letter and odd extensions.
        {"prog.c", "text/plain"},
        {"doc.t", "application/x-troff"},
        {"mod.f90", "text/plain"},
        {"image.jpe", "image/jpeg"},
        {"movie.qt", "video/quicktime"},
        {"index.mime", "www/mime"},
        {"call.ice", "x-conference/x-cooltalk"},
        {"tool.exe", "application/octet-stream"},
        // Not in the table.
        {"photo.webp", "application/octet-stream"},
        {"sheet.xlsx", "application/octet-stream"},
        {"name with space.pdf", "application/pdf"},
        {"trailing.pdf ", "application/octet-stream"},
    };
    for (const MimeCase& c : cases) EXPECT_EQ(mimeTypeForFile(c.fileName), c.type) << '"' << c.fileName << '"';
}

// Every listed extension, grouped by type as the table is maintained.
TEST(MimeTypeForFile, WholeTable) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
        {"application/acad", {"dwg"}},
        {"application/andrew-inset", {"ez"}},
        {"application/clariscad", {"ccad"}},
        {"application/drafting", {"drw"}},
        {"application/dsptype", {"tsp"}},
        {"application/dxf", {"dxf"}},
        {"application/i-deas", {"unv"}},
        {"application/mac-binhex40", {"hqx"}},
        {"application/mac-compactpro", {"cpt"}},
        {"application/mspowerpoint", {"pot", "pps", "ppt", "ppz"}},
        {"application/msword", {"doc"}},
        {"application/octet-stream", {"bin", "class", "dms", "exe", "lha", "lzh"}},
        {"application/oda", {"oda"}},
        {"application/pdf", {"pdf"}},
        {"application/postscript", {"ai", "eps", "ps"}},
        {"application/pro_eng", {"prt"}},
        {"application/set", {"set"}},
        {"application/SLA", {"stl"}},
        {"application/smil", {"smi", "smil"}},
        {"application/solids", {"sol"}},
        {"application/STEP", {"step", "stp"}},
        {"application/vda", {"vda"}},
        {"application/vnd.mif", {"mif"}},
        {"application/vnd.ms-excel", {"xlc", "xll", "xlm", "xls", "xlw"}},
        {"application/x-bcpio", {"bcpio"}},
        {"application/x-cdlink", {"vcd"}},
        {"application/x-chess-pgn", {"pgn"}},
        {"application/x-cpio", {"cpio"}},
        {"application/x-csh", {"csh"}},
        {"application/x-director", {"dcr", "dir", "dxr"}},
        {"application/x-dvi", {"dvi"}},
        {"application/x-freelance", {"pre"}},
        {"application/x-futuresplash", {"spl"}},
        {"application/x-gtar", {"gtar"}},
        {"application/x-gzip", {"gz"}},
        {"application/x-hdf", {"hdf"}},
        {"application/x-ipix", {"ipx"}},
        {"application/x-ipscript", {"ips"}},
        {"application/x-javascript", {"js"}},
        {"application/x-koan", {"skd", "skm", "skp", "skt"}},
        {"application/x-latex", {"latex"}},
        {"application/x-lisp", {"lsp"}},
        {"application/x-lotusscreencam", {"scm"}},
        {"application/x-netcdf", {"cdf", "nc"}},
        {"application/x-sh", {"sh"}},
        {"application/x-shar", {"shar"}},
        {"application/x-shockwave-flash", {"swf"}},
        {"application/x-stuffit", {"sit"}},
        {"application/x-sv4cpio", {"sv4cpio"}},
        {"application/x-sv4crc", {"sv4crc"}},
        {"application/x-tar", {"tar"}},
        {"application/x-tcl", {"tcl"}},
        {"application/x-tex", {"tex"}},
        {"application/x-texinfo", {"texi", "texinfo"}},
        {"application/x-troff", {"roff", "t", "tr"}},
        {"application/x-troff-man", {"man"}},
        {"application/x-troff-me", {"me"}},
        {"application/x-troff-ms", {"ms"}},
        {"application/x-ustar", {"ustar"}},
        {"application/x-wais-source", {"src"}},
        {"application/zip", {"zip"}},
        {"audio/basic", {"au", "snd"}},
        {"audio/midi", {"kar", "mid", "midi"}},
        {"audio/mpeg", {"mp2", "mp3", "mpga"}},
        {"audio/TSP-audio", {"tsi"}},
        {"audio/x-aiff", {"aif", "aifc", "aiff"}},
        {"audio/x-pn-realaudio", {"ram", "rm"}},
        {"audio/x-pn-realaudio-plugin", {"rpm"}},
        {"audio/x-realaudio", {"ra"}},
        {"audio/x-wav", {"wav"}},
        {"chemical/x-pdb", {"pdb", "xyz"}},
        {"image/cmu-raster", {"ras"}},
        {"image/gif", {"gif"}},
        {"image/ief", {"ief"}},
        {"image/jpeg", {"jpe", "jpeg", "jpg"}},
        {"image/png", {"png"}},
        {"image/tiff", {"tif", "tiff"}},
        {"image/x-portable-anymap", {"pnm"}},
        {"image/x-portable-bitmap", {"pbm"}},
        {"image/x-portable-graymap", {"pgm"}},
        {"image/x-portable-pixmap", {"ppm"}},
        {"image/x-rgb", {"rgb"}},
        {"image/x-xbitmap", {"xbm"}},
        {"image/x-xpixmap", {"xpm"}},
        {"image/x-xwindowdump", {"xwd"}},
        {"model/iges", {"iges", "igs"}},
        {"model/mesh", {"mesh", "msh", "silo"}},
        {"model/vrml", {"vrml", "wrl"}},
        {"text/css", {"css"}},
        {"text/html", {"htm", "html"}},
        {"text/plain", {"asc", "c", "cc", "f", "f90", "h", "hh", "m", "txt"}},
        {"text/richtext", {"rtx"}},
        {"text/rtf", {"rtf"}},
        {"text/sgml", {"sgm", "sgml"}},
        {"text/tab-separated-values", {"tsv"}},
        {"text/x-setext", {"etx"}},
        {"text/xml", {"xml"}},
        {"video/mpeg", {"mpe", "mpeg", "mpg"}},
        {"video/quicktime", {"mov", "qt"}},
        {"video/vnd.vivo", {"viv", "vivo"}},
        {"video/x-fli", {"fli"}},
        {"video/x-msvideo", {"avi"}},
        {"video/x-sgi-movie", {"movie"}},
        {"www/mime", {"mime"}},
        {"x-conference/x-cooltalk", {"ice"}},
    };
    std::set<std::string> seen;
    for (const auto& row : rows) {
        for (const std::string& ext : row.second) {
            EXPECT_TRUE(seen.insert(ext).second) << ext << " listed twice";
            EXPECT_EQ(mimeTypeForFile("file." + ext), row.first) << ext;
            EXPECT_EQ(mimeTypeForFile("dir/x.y." + ext), row.first) << ext;
        }
    }
    // Nothing beyond what is listed.
    EXPECT_EQ(mimeTypeTable().size(), seen.size());
    for (const auto& entry : mimeTypeTable()) EXPECT_EQ(seen.count(entry.first), 1u) << entry.first;
}

TEST(MimeTypeForFile, FirstUseFromManyThreads) {
    std::vector<std::thread> threads;
    std::vector<std::string> results(8);
    for (std::size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&results, i] { results[i] = mimeTypeForFile("x.pdf"); });
    for (auto& t : threads) t.join();
    for (const std::string& r : results) EXPECT_EQ(r, "application/pdf");
}
