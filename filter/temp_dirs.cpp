#include "filter/temp_dirs.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/directory_handle.h"
#include "runtime/files.h"

namespace cgp {

const char* const kOwnDirectoryMarker = ".parvex-unpack";

namespace {

// Rounds of "make the directory, else make the parent" before giving up;
// only other instances starting or ending at that very moment make a round
// fail.
const int kMakeAttempts = 16;

// Names tried for our own directory, our pid first, before giving up: only
// entries that are not ours at every one of them stop it.
const int kOwnNames = 64;

// The pid a directory name stands for ("<pid>" or "<pid>-<n>"), 0 when it
// is not one as we write them.
pid_t pidNamed(const std::string& name) {
    const std::string::size_type dash = name.find('-');
    const std::string pidText = name.substr(0, dash);
    if (pidText.empty() || pidText.size() > 9 || pidText[0] == '0') return 0;
    if (dash != std::string::npos) {
        const std::string n = name.substr(dash + 1);
        if (n.empty() || n.size() > 9 || n[0] == '0') return 0;
        for (char c : n)
            if (c < '0' || c > '9') return 0;
    }
    pid_t pid = 0;
    for (char c : pidText) {
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

// Makes `dir`, which must not exist, with the marker inside.
bool makeMarked(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0755) != 0) return false;
    ownByUs(dir);
    const qdl::DirectoryHandle made(dir);
    if (made.createFile(kOwnDirectoryMarker)) return true;
    ::rmdir(dir.c_str());
    errno = EIO;
    return false;
}

std::string parentOf(const std::string& dir) {
    const std::string::size_type slash = dir.rfind('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == dir.size()) return std::string();
    return dir.substr(0, slash);
}

}  // namespace

bool isOwnDirectory(const qdl::DirectoryHandle& parent, const std::string& name) {
    const qdl::DirectoryHandle inner(parent, name);
    const uid_t us = ::getuid();
    return inner.isOpen() && inner.isOwnedBy(us) && inner.holdsFileOf(kOwnDirectoryMarker, us);
}

bool makeOwnDirectory(const std::string& dir) {
    const std::string parent = parentOf(dir);
    if (parent.empty()) return false;
    const std::string name = dir.substr(parent.size() + 1);
    // Beside the parent, named by our pid, so no other instance uses it.
    const std::string staging = parent + "." + std::to_string(static_cast<long>(::getpid()));
    for (int attempt = 0; attempt < kMakeAttempts; ++attempt) {
        if (makeMarked(dir)) return true;
        if (errno == EEXIST) {
            // Ours is taken as it is; anything else is not ours to touch.
            const qdl::DirectoryHandle shared(parent, true);
            return isOwnDirectory(shared, name);
        }
        if (errno != ENOENT) return false;
        // The shared parent went: an ending instance removes it once it is
        // empty. A parent made empty could go again before our directory is
        // in it, so it is made with ours inside and moved into place in one
        // step. Where a parent has appeared meanwhile the move fails, and the
        // next round makes ours in that one.
        ::mkdir(staging.c_str(), 0755);
        const std::string inner = staging + "/" + name;
        const bool made = makeMarked(inner);
        if (made && qdl::renameNoReplace(staging, parent)) {
            ownByUs(parent);
            return true;
        }
        const qdl::DirectoryHandle left(staging);
        if (made) left.removeEntry(name);
        ::rmdir(staging.c_str());
        if (!made) return false;
    }
    return false;
}

std::string claimOwnDirectory(const std::string& shared) {
    const std::string pid = std::to_string(static_cast<long>(::getpid()));
    for (int n = 0; n < kOwnNames; ++n) {
        const std::string name = n == 0 ? pid : pid + "-" + std::to_string(n);
        // A directory of ours under our own pid is an earlier process's.
        removeOwnDirectory(shared, name);
        const std::string dir = shared + "/" + name;
        if (qdl::existsNoFollow(dir)) continue;  // not ours: another name
        if (makeOwnDirectory(dir)) return dir;
    }
    return std::string();
}

void clearOwnDirectory(const std::string& dir) {
    const qdl::DirectoryHandle handle(dir);
    const uid_t us = ::getuid();
    if (handle.isOpen() && handle.isOwnedBy(us) && handle.holdsFileOf(kOwnDirectoryMarker, us))
        handle.clearFiles(kOwnDirectoryMarker);
}

void removeOwnDirectory(const std::string& shared, const std::string& name) {
    const qdl::DirectoryHandle parent(shared, true);
    const qdl::DirectoryHandle inner(parent, name);
    const uid_t us = ::getuid();
    if (!inner.isOpen() || !inner.isOwnedBy(us) || !inner.holdsFileOf(kOwnDirectoryMarker, us)) return;
    // Emptied through the descriptor that was checked, so a directory put in
    // its place meanwhile is never emptied; only an empty one is removed.
    for (const std::string& entry : inner.entries())
        if (entry != kOwnDirectoryMarker) inner.removeEntry(entry);
    inner.removeEntry(kOwnDirectoryMarker);
    parent.removeEmptyDirectory(name);
}

void removeEndedInstances(const std::string& shared) {
    const qdl::DirectoryHandle handle(shared, true);
    const pid_t self = ::getpid();
    for (const std::string& name : handle.entries()) {
        const pid_t pid = pidNamed(name);
        if (pid <= 0 || pid == self) continue;
        // EPERM: the process runs under another user; it is still there.
        if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
        removeOwnDirectory(shared, name);
    }
}

bool UnpackDirectory::holds(const std::string& dir) const {
    if (handle_ == nullptr || !handle_->isOpen()) return false;
    std::string::size_type end = dir.size();
    while (end > 1 && dir[end - 1] == '/') --end;
    return dir.compare(0, end, path_) == 0 && end == path_.size() && handle_->isAt(path_);
}

bool UnpackDirectory::prepare(const std::string& path, bool make) {
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (!holds(dir)) {
        // Gone since the last message (with the shared pvx_temp): made again,
        // and opened anew.
        if (make && !makeOwnDirectory(dir)) {
            handle_.reset();
            return false;
        }
        handle_.reset(new qdl::DirectoryHandle(dir));
        path_ = dir;
    }
    handle_->clearFiles(kOwnDirectoryMarker);
    return true;
}

std::set<std::string> UnpackDirectory::names() const {
    std::set<std::string> names;
    if (handle_ == nullptr) return names;
    for (const std::string& name : handle_->entries()) names.insert(name);
    return names;
}

void UnpackDirectory::clear(const std::string& dir) const {
    if (holds(dir))
        handle_->clearFiles(kOwnDirectoryMarker);
    else
        clearOwnDirectory(dir);
}

}  // namespace cgp
