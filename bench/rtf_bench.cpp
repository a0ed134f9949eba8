// Our rtf2html against Debian's unrtf on the same files: a body of wrapped
// HTML as Outlook writes it (taken back by our own code), and plain RTF with
// 8-bit text (rewritten by us, then converted by unrtf). Wall time and peak
// memory of each program, medians of the rounds, and the ratio; then the
// de-encapsulator's own throughput in this process. Not a test: it prints
// figures.
//
//   rtf_bench [MB] [rounds]
//
// The files go on a tmpfs (TMPDIR, else /dev/shm).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support.h"
#include "filter/rtf2html/decapsulate.h"

using Clock = std::chrono::steady_clock;

namespace {

struct Run {
    double seconds = -1;
    long maxRssKb = 0;
};

// Runs the program with its outputs to /dev/null; wall time and peak memory.
Run runProgram(const std::string& program, std::vector<std::string> args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // unrtf warns on standard error about every formatting it cannot show.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    Run run;
    const auto start = Clock::now();
    pid_t pid;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return run;
    int status = 0;
    struct rusage usage = {};
    while (::wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR) return run;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return run;
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.maxRssKb = usage.ru_maxrss;
    return run;
}

// A stretch of a newsletter as Outlook wraps it: table rows, links with
// their RTF stand-ins, images, entities with their RTF renderings, text in
// code page 1252.
const char* const kBlock =
    "{\\*\\htmltag64 <tr>}\\htmlrtf {\\htmlrtf0 \r\n{\\*\\htmltag4 \\par }{\\*\\htmltag84     }\r\n"
    "{\\*\\htmltag148 <td bgcolor=\"#E2D8E6\" valign=\"top\">}\\htmlrtf {\\highlight4 \\htmlrtf0 \r\n"
    "{\\*\\htmltag84 <a href=\"http://www.example.org/apps/redir.asp?link=XcdbjjiaDC&oid=UdjeaBG\">}\\htmlrtf "
    "{\\field{\\*\\fldinst{HYPERLINK \"http://www.example.org/apps/redir.asp?link=XcdbjjiaDC&oid=UdjeaBG\"}}"
    "{\\fldrslt\\cf1\\ul \\htmlrtf0 \r\n{\\*\\htmltag148 <font color=\"#64AC04\">}\\htmlrtf {\\cf6 \\htmlrtf0 "
    "Click here to vote\\htmlrtf }\\htmlrtf0 \\htmlrtf }\\htmlrtf0 \\htmlrtf }\\htmlrtf0 \r\n"
    "{\\*\\htmltag92 </a>} entering the name of the person you want to nominate, and a brief reason why.\r\n"
    "{\\*\\htmltag84 &rsquo;}\\htmlrtf \\'92\\htmlrtf0 s Gr\\'fc\\'dfe aus K\\'f6ln \\'96 caf\\'e9 na\\'efve\r\n"
    "{\\*\\htmltag84 <img src=\"http://www.example.org/email/spacer.gif\" width=\"1\" height=\"20\" border=\"0\">}"
    "\\htmlrtf  {\\field{\\*\\fldinst{HYPERLINK \"http://www.example.org/email/spacer.gif\"}}{\\fldrslt\\cf1\\ul }}"
    "\\htmlrtf0 \r\n{\\*\\htmltag116 <br>}\\htmlrtf \\line\r\n\\htmlrtf0 \r\n"
    "{\\*\\htmltag156 </td>}\\htmlrtf }\\tab \\htmlrtf0 \r\n{\\*\\htmltag72 </tr>}\\htmlrtf\\par}\\htmlrtf0\r\n";

std::string wrappedBody(std::size_t size) {
    std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl\r\n{\\f0\\fswiss\\fcharset0 Arial;}\r\n"
        "{\\f1\\fmodern Courier New;}\r\n{\\f2\\fnil\\fcharset2 Symbol;}}\r\n"
        "{\\colortbl\\red0\\green0\\blue0;\\red0\\green0\\blue255;}\r\n\\uc1\\pard\\plain\\deftab360 \\f0\\fs24 \r\n"
        "{\\*\\htmltag19 <html>}{\\*\\htmltag34 <head>}{\\*\\htmltag177 <title>}{\\*\\htmltag241 News}"
        "{\\*\\htmltag185 </title>}{\\*\\htmltag41 </head>}{\\*\\htmltag50 <body>}\r\n"
        "{\\*\\htmltag96 <table width=\"547\">}\\htmlrtf {\\pard\\plain \\f0\\fs24 \\htmlrtf0 \r\n";
    while (rtf.size() < size) rtf += kBlock;
    rtf += "{\\*\\htmltag104 </table>}\\htmlrtf }\\htmlrtf0 {\\*\\htmltag58 </body>}{\\*\\htmltag27 </html>}}\r\n";
    return rtf;
}

// Plain RTF as Word writes it, its 8-bit text raw and escaped.
std::string plainBody(std::size_t size) {
    std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Calibri;}}"
        "{\\colortbl;\\red0\\green0\\blue0;}\\pard\\plain \\f0\\fs22 ";
    while (rtf.size() < size)
        rtf += "{\\cf1 Gr\xfc\xdf""e aus K\\'f6ln \\'96 caf\\'e9 na\\'efve, {\\b fett} und {\\i kursiv}.}\\par\r\n";
    return rtf + "}";
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

bool writeFile(const std::string& path, const std::string& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

void compare(const char* label, const std::string& rtf, const std::string& dir, const std::string& unrtf,
             int rounds) {
    const std::string in = dir + "/body.rtf";
    const std::string out = dir + "/body.html";
    if (!writeFile(in, rtf)) {
        std::printf("rtf_bench: cannot write %s\n", in.c_str());
        return;
    }
    std::vector<double> ours, theirs;
    long oursRss = 0, theirsRss = 0;
    for (int i = 0; i < rounds; ++i) {
        ::unlink(out.c_str());
        const Run a = runProgram(RTF2HTML_PROGRAM, {in, out});
        const Run b = unrtf.empty() ? Run() : runProgram(unrtf, {"--html", "--nopict", in});
        if (a.seconds < 0) {
            std::printf("rtf_bench: %s: rtf2html failed\n", label);
            return;
        }
        ours.push_back(a.seconds);
        oursRss = std::max(oursRss, a.maxRssKb);
        if (b.seconds >= 0) {
            theirs.push_back(b.seconds);
            theirsRss = std::max(theirsRss, b.maxRssKb);
        }
    }
    ::unlink(out.c_str());
    ::unlink(in.c_str());
    std::printf("%-34s %8.1f KB  rtf2html %8.1f ms %7ld KB", label, rtf.size() / 1024.0, median(ours) * 1e3, oursRss);
    if (theirs.empty())
        std::printf("  (no unrtf)\n");
    else
        std::printf("  unrtf %8.1f ms %7ld KB  unrtf/ours %6.1fx\n", median(theirs) * 1e3, theirsRss,
                    median(theirs) / median(ours));
}

}  // namespace

int main(int argc, char** argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::size_t size = static_cast<std::size_t>(megabytes * 1024 * 1024);
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/dev/shm") + "/rtf_bench-XXXXXX";
    if (::mkdtemp(&dir[0]) == nullptr) {
        std::perror("rtf_bench: mkdtemp");
        return 1;
    }
    const std::string unrtf = bench::findProgram({"/usr/bin/unrtf", "/usr/local/bin/unrtf"});
    std::printf("rtf2html against unrtf, medians of %d rounds\n", rounds);
    const std::string wrapped = wrappedBody(size);
    compare("wrapped HTML (\\fromhtml1)", wrapped, dir, unrtf, rounds);
    compare("plain RTF, 8-bit text (via unrtf)", plainBody(size), dir, unrtf, rounds);
    ::rmdir(dir.c_str());

    // The de-encapsulator alone, in this process.
    std::vector<double> times;
    std::string html;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        rtf::decapsulate(wrapped, html);
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::printf("de-encapsulator in process: %.1f ms for %.1f KB (%.0f MB/s), %.1f KB of HTML\n",
                median(times) * 1e3, wrapped.size() / 1024.0, wrapped.size() / median(times) / 1048576.0,
                html.size() / 1024.0);
    return 0;
}
