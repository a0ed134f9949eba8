#include "filter/unpack.h"

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/files.h"

namespace cgp {

namespace {

std::atomic<int> timeoutMs{60 * 1000};

// realpath(3) into a string; empty when the path cannot be resolved.
std::string resolved(const std::string& path) {
    std::unique_ptr<char, void (*)(void*)> p(::realpath(path.c_str(), nullptr), std::free);
    return p ? std::string(p.get()) : std::string();
}

// The child's complaint for a failed write ends in one of these, as perror
// and strerror give them in the C locale (tnef sets no locale of its own).
// The C library's own texts are added, for a system that spells them
// otherwise.
const std::vector<std::string>& writeFailureTexts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> t = {"No space left on device", "Disk quota exceeded", "Disc quota exceeded",
                                      "File too large", "Input/output error", "Read-only file system"};
        for (int e : {ENOSPC, EDQUOT, EFBIG, EIO, EROFS}) t.push_back(std::strerror(e));
        return t;
    }();
    return texts;
}

bool endsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// How much of a child's standard error goes into the log.
const std::size_t kComplaintLimit = 4096;

}  // namespace

std::vector<std::string> tnefArguments(const std::string& datPath, const std::string& tempDir, bool ignoreRtfBody) {
    std::vector<std::string> args;
    args.push_back("-f");
    args.push_back(datPath);
    if (!ignoreRtfBody) args.push_back("--save-body=saved_body");
    args.push_back("--number-backups");
    args.push_back("--directory=" + tempDir.substr(0, tempDir.size() - 1));
    args.push_back("--verbose");
    return args;
}

std::vector<std::string> tnefListingLines(const std::string& out) {
    std::string text;
    text.reserve(out.size());
    for (char c : out)
        if (c != '\r') text += c;
    std::vector<std::string> lines;
    if (text.size() < 2) return lines;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        if (nl > pos) lines.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return lines;
}

std::string childComplaint(const std::string& err) {
    std::string joined;
    for (char c : err.substr(0, kComplaintLimit)) {
        if (c == '\0') break;
        if (c == '\r') continue;
        joined += c == '\n' ? ' ' : c;
    }
    while (!joined.empty() && (joined.back() == ' ' || joined.back() == '\t')) joined.pop_back();
    return joined;
}

std::string abnormalEnd(int status) {
    if (status == -1) return "ended in an unknown way";
    if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (!WIFEXITED(status)) return "ended in an unknown way";
    return std::string();
}

std::string localWriteFailure(const ChildRun& run) {
    if (run.status != -1 && WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGXFSZ)
        return "file size limit exceeded";
    // Each line on its own: "<file>: <reason>", perhaps among other lines.
    std::size_t pos = 0;
    while (pos < run.err.size()) {
        std::size_t nl = run.err.find('\n', pos);
        if (nl == std::string::npos) nl = run.err.size();
        std::string line = run.err.substr(pos, nl - pos);
        pos = nl + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '.')) line.pop_back();
        for (const std::string& text : writeFailureTexts())
            if (endsWith(line, ": " + text)) return text;
    }
    return std::string();
}

std::string extractionReport(std::size_t count, std::size_t kept) {
    std::string report = "* Extracted " + std::to_string(count) + " file(s) from winmail.dat";
    if (kept != count) report += " (" + std::to_string(count - kept) + " ignored by the -r option)";
    return report;
}

std::string tnefListingPath(const std::string& line, const std::string& tempDir) {
    static const std::string kSeparator = "\t|\t";
    const std::size_t first = line.find(kSeparator);
    if (first == std::string::npos) return tempDir + line;
    const std::size_t from = first + kSeparator.size();
    const std::size_t second = line.find(kSeparator, from);
    return line.substr(from, second == std::string::npos ? std::string::npos : second - from);
}

bool isPlainFileIn(const std::string& path, const std::string& dir) {
    if (dir.empty()) return false;
    const std::size_t n = dir.back() == '/' ? dir.size() : dir.size() + 1;
    if (path.size() <= n || path.compare(0, dir.size(), dir) != 0 || path[n - 1] != '/') return false;
    if (path.find('/', n) != std::string::npos) return false;
    const std::string name = path.substr(n);
    if (name == "." || name == "..") return false;
    return qdl::isRegularFileNoFollow(path);
}

std::string regularFileInside(const std::string& path, const std::string& dir) {
    if (path.empty() || dir.empty()) return std::string();
    // A name in the directory itself, as tnef gives them: no link to resolve.
    if (isPlainFileIn(path, dir)) return path;
    if (!qdl::isRegularFileNoFollow(path)) return std::string();
    const std::string file = resolved(path);
    std::string base = resolved(dir);
    if (file.empty() || base.empty()) return std::string();
    if (base.back() != '/') base += '/';
    if (file.size() <= base.size() || file.compare(0, base.size(), base) != 0) return std::string();
    return (dir.back() == '/' ? dir : dir + "/") + file.substr(base.size());
}

bool isRegularFileInside(const std::string& path, const std::string& dir) {
    return !regularFileInside(path, dir).empty();
}

int childTimeoutMs() { return timeoutMs.load(); }
void setChildTimeoutMs(int ms) { timeoutMs.store(ms); }

}  // namespace cgp
