#include "filter/unpack.h"

#include <sys/stat.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <memory>

namespace cgp {

namespace {

std::atomic<int> timeoutMs{60 * 1000};

// realpath(3) into a string; empty when the path cannot be resolved.
std::string resolved(const std::string& path) {
    std::unique_ptr<char, void (*)(void*)> p(::realpath(path.c_str(), nullptr), std::free);
    return p ? std::string(p.get()) : std::string();
}

}  // namespace

std::string tnefListingPath(const std::string& line, const std::string& tempDir) {
    static const std::string separator = "\t|\t";
    const std::size_t first = line.find(separator);
    if (first == std::string::npos) return tempDir + line;
    const std::size_t from = first + separator.size();
    const std::size_t second = line.find(separator, from);
    return line.substr(from, second == std::string::npos ? std::string::npos : second - from);
}

bool isPlainFileIn(const std::string& path, const std::string& dir) {
    if (dir.empty()) return false;
    const std::size_t n = dir.back() == '/' ? dir.size() : dir.size() + 1;
    if (path.size() <= n || path.compare(0, dir.size(), dir) != 0 || path[n - 1] != '/') return false;
    if (path.find('/', n) != std::string::npos) return false;
    const std::string name = path.substr(n);
    if (name == "." || name == "..") return false;
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string regularFileInside(const std::string& path, const std::string& dir) {
    if (path.empty() || dir.empty()) return std::string();
    // A name in the directory itself, as tnef gives them: no link to resolve.
    if (isPlainFileIn(path, dir)) return path;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::string();
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
