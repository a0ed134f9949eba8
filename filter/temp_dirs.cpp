#include "filter/temp_dirs.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/directory_handle.h"

namespace cgp {

namespace {

// Rounds of "make the directory, else remove what stands there or make the
// parent" before giving up; each instance that ends can undo a round once.
const int kMakeAttempts = 100;

// The pid a directory name stands for, 0 when it is not one as we write them.
pid_t pidNamed(const std::string& name) {
    if (name.empty() || name.size() > 9 || name[0] == '0') return 0;
    pid_t pid = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return 0;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

// Only what we made changes owner, as everywhere else.
void ownByUs(const std::string& path) {
    if (::chown(path.c_str(), ::getuid(), ::getgid()) != 0) {
    }
}

}  // namespace

bool makeOwnDirectory(const std::string& dir) {
    const std::string::size_type slash = dir.rfind('/');
    const std::string parent = slash == std::string::npos || slash == 0 ? std::string() : dir.substr(0, slash);
    bool madeParent = false;
    bool made = false;
    for (int attempt = 0; attempt < kMakeAttempts && !made; ++attempt) {
        if (::mkdir(dir.c_str(), 0755) == 0) {
            made = true;
            ownByUs(dir);
            break;
        }
        if (errno == EEXIST) {
            struct stat st;
            if (::lstat(dir.c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode)) return true;
            // A link, or any other file, in our place is removed, not followed.
            if (::unlink(dir.c_str()) != 0 && errno != ENOENT) return false;
            continue;
        }
        if (errno != ENOENT || parent.empty()) return false;
        // The shared parent went (an ending instance removes it once it is
        // empty): made again, and our directory at once after it, so that
        // the window in which it can go again is as short as can be.
        if (::mkdir(parent.c_str(), 0755) == 0)
            madeParent = true;
        else if (errno != EEXIST)
            return false;
    }
    if (madeParent) ownByUs(parent);
    return made;
}

void clearOwnDirectory(const std::string& dir) {
    const qdl::DirectoryHandle handle(dir);
    handle.clearFiles();
}

void removeOwnDirectory(const std::string& shared, const std::string& name) {
    const qdl::DirectoryHandle handle(shared, true);
    handle.removeEntry(name);
}

void removeEndedInstances(const std::string& shared) {
    const qdl::DirectoryHandle handle(shared, true);
    const pid_t self = ::getpid();
    for (const std::string& name : handle.entries()) {
        const pid_t pid = pidNamed(name);
        if (pid <= 0 || pid == self) continue;
        // EPERM: the process runs under another user; it is still there.
        if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
        handle.removeEntry(name);
    }
}

}  // namespace cgp
