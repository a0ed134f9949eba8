// rtf2html RTF-FILE HTML-FILE
//
// Converts an RTF file to HTML with unrtf, found on PATH. The HTML file
// appears, complete and synced, only when the conversion succeeded; any
// failure leaves it absent and ends with a non-zero status.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/files.h"
#include "runtime/process.h"

namespace {

// The filter stops us at 60 seconds; give up on unrtf a little earlier.
const int unrtfTimeoutMs = 50 * 1000;

int fail(const std::string& text) {
    std::fprintf(stderr, "rtf2html: %s\n", text.c_str());
    return 1;
}

std::string findOnPath(const std::string& program) {
    const char* env = std::getenv("PATH");
    const std::string path = env != nullptr && *env != '\0' ? env : "/usr/local/bin:/usr/bin:/bin";
    std::size_t pos = 0;
    for (;;) {
        const std::size_t colon = path.find(':', pos);
        std::string dir = path.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
        if (dir.empty()) dir = ".";
        const std::string candidate = dir + "/" + program;
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string::npos) return std::string();
        pos = colon + 1;
    }
}

bool writeAll(int fd, const std::string& data) {
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Writes beside the target, syncs, then renames over it.
bool writeFileAtomically(const std::string& target, const std::string& data) {
    std::string temp = target + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    temp.assign(name.data());
    bool ok = ::fchmod(fd, 0644) == 0 && writeAll(fd, data) && ::fsync(fd) == 0;
    if (::close(fd) != 0 && errno != EINTR) ok = false;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    qdl::syncDirectory(qdl::directoryOf(target));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || argv[1][0] == '\0' || argv[2][0] == '\0') {
        std::fprintf(stderr, "usage: %s RTF-FILE HTML-FILE\n", argc > 0 ? argv[0] : "rtf2html");
        return 2;
    }
    std::string rtf = argv[1];
    const std::string html = argv[2];

    const int fd = ::open(rtf.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail("cannot read " + rtf + ": " + std::strerror(errno));
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!regular) return fail(rtf + " is not a regular file");

    const std::string unrtf = findOnPath("unrtf");
    if (unrtf.empty()) return fail("unrtf not found on PATH");
    // A name that starts with "-" must not be read as an option.
    if (rtf[0] == '-') rtf = "./" + rtf;

    std::vector<std::string> args{"--html", rtf};
    std::string out;
    std::string err;
    int status = -1;
    try {
        qdl::Process child = qdl::Process::launch(unrtf, args);
        if (!child.communicate(out, err, unrtfTimeoutMs)) return fail("unrtf did not finish in time");
        status = child.exitStatus();
    } catch (...) {
        return fail("cannot start " + unrtf);
    }
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string text = "unrtf failed";
        if (!err.empty()) text += ": " + err.substr(0, err.find('\n'));
        return fail(text);
    }
    if (out.empty()) return fail("unrtf produced no output");
    if (!writeFileAtomically(html, out)) return fail("cannot write " + html + ": " + std::strerror(errno));
    return 0;
}
