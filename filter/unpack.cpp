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

bool isRegularFileInside(const std::string& path, const std::string& dir) {
    if (path.empty()) return false;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const std::string file = resolved(path);
    std::string base = resolved(dir);
    if (file.empty() || base.empty()) return false;
    if (base.back() != '/') base += '/';
    return file.size() > base.size() && file.compare(0, base.size(), base) == 0;
}

int childTimeoutMs() { return timeoutMs.load(); }
void setChildTimeoutMs(int ms) { timeoutMs.store(ms); }

}  // namespace cgp
