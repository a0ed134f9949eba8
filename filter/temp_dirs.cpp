#include "filter/temp_dirs.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/directory_handle.h"
#include "runtime/files.h"

namespace cgp {

namespace {

// Rounds of "make the directory, else remove what stands there or make the
// parent" before giving up; only other instances starting or ending at
// that very moment make a round fail.
const int kMakeAttempts = 16;

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
    if (slash == std::string::npos || slash == 0 || slash + 1 == dir.size()) return false;
    const std::string parent = dir.substr(0, slash);
    const std::string name = dir.substr(slash + 1);
    // Beside the parent, named by our pid, so no other instance uses it.
    const std::string staging = parent + "." + std::to_string(static_cast<long>(::getpid()));
    for (int attempt = 0; attempt < kMakeAttempts; ++attempt) {
        if (::mkdir(dir.c_str(), 0755) == 0) {
            ownByUs(dir);
            return true;
        }
        if (errno == EEXIST) {
            struct stat st;
            if (::lstat(dir.c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode)) return true;
            // A link, or any other file, in our place is removed, not followed.
            if (::unlink(dir.c_str()) != 0 && errno != ENOENT) return false;
            continue;
        }
        if (errno != ENOENT) return false;
        // The shared parent went: an ending instance removes it once it is
        // empty. A parent made empty could go again before our directory is
        // in it, so it is made with ours inside and moved into place in one
        // step. Where a parent has appeared meanwhile the move fails, and the
        // next round makes ours in that one.
        ::mkdir(staging.c_str(), 0755);
        const std::string inner = staging + "/" + name;
        const bool made = ::mkdir(inner.c_str(), 0755) == 0;
        if (made && qdl::renameNoReplace(staging, parent)) {
            ownByUs(parent);
            ownByUs(dir);
            return true;
        }
        ::rmdir(inner.c_str());
        ::rmdir(staging.c_str());
        if (!made) return false;
    }
    return false;
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

bool UnpackDirectory::holds(const std::string& dir) const {
    if (handle_ == nullptr || !handle_->isOpen()) return false;
    std::string::size_type end = dir.size();
    while (end > 1 && dir[end - 1] == '/') --end;
    return dir.compare(0, end, path_) == 0 && end == path_.size() && handle_->isAt(path_);
}

void UnpackDirectory::prepare(const std::string& dir, bool make) {
    if (!holds(dir)) {
        // Gone since the last message (with the shared pvx_temp), or a link
        // stands in its place: made real again, and opened anew.
        if (make) makeOwnDirectory(dir);
        handle_.reset(new qdl::DirectoryHandle(dir));
        path_ = dir;
    }
    handle_->clearFiles();
}

std::set<std::string> UnpackDirectory::names() const {
    std::set<std::string> names;
    if (handle_ == nullptr) return names;
    for (const std::string& name : handle_->entries()) names.insert(name);
    return names;
}

void UnpackDirectory::clear(const std::string& dir) const {
    if (holds(dir))
        handle_->clearFiles();
    else
        clearOwnDirectory(dir);
}

}  // namespace cgp
