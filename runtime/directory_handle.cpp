#include "runtime/directory_handle.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace qdl {

namespace {

const int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Below this many levels a tree is left as it is: each level holds a
// descriptor while its entries go.
const int kMaxDepth = 128;

int openRetry(int at, const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::openat(at, path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

DirectoryHandle::DirectoryHandle(const std::string& path, bool followLink) {
    // A trailing "/" would make the system follow a link standing at the path.
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p.empty()) return;
    fd_.reset(openRetry(AT_FDCWD, p.c_str(), kDirectoryFlags | (followLink ? 0 : O_NOFOLLOW)));
}

DirectoryHandle::DirectoryHandle(const DirectoryHandle& parent, const std::string& name) {
    if (!parent.isOpen() || name.empty() || name.find('/') != std::string::npos) return;
    fd_.reset(openRetry(parent.fd_.get(), name.c_str(), kDirectoryFlags | O_NOFOLLOW));
}

DirectoryHandle::~DirectoryHandle() = default;

bool DirectoryHandle::isAt(const std::string& path) const {
    if (!fd_.isOpen()) return false;
    if (!identified_) {
        struct stat own;
        if (::fstat(fd_.get(), &own) != 0) return false;
        device_ = own.st_dev;
        inode_ = own.st_ino;
        identified_ = true;
    }
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_dev == device_ && st.st_ino == inode_;
}

namespace {

bool isDotOrDotDot(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// A name of an entry itself: not the directory, its parent or a path.
bool isEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

std::vector<std::string> DirectoryHandle::entries() const {
    std::vector<std::string> names;
    if (!fd_.isOpen()) return names;
#if defined(__linux__) && defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 30))
    // Straight from the descriptor: no second one to open and no stream of
    // the library to set up and take down.
    if (::lseek(fd_.get(), 0, SEEK_SET) != 0) return names;
    alignas(struct dirent64) char buffer[16 * 1024];
    for (;;) {
        ssize_t n;
        do {
            n = ::getdents64(fd_.get(), buffer, sizeof buffer);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const struct dirent64* e = reinterpret_cast<const struct dirent64*>(buffer + at);
            if (!isDotOrDotDot(e->d_name)) names.emplace_back(e->d_name);
            at += e->d_reclen;
        }
    }
#else
    // The listing gets a descriptor of its own, which closedir closes.
    const int listing = openRetry(fd_.get(), ".", kDirectoryFlags);
    if (listing < 0) return names;
    DIR* dir = ::fdopendir(listing);
    if (dir == nullptr) {
        ::close(listing);
        return names;
    }
    while (struct dirent* e = ::readdir(dir))
        if (!isDotOrDotDot(e->d_name)) names.emplace_back(e->d_name);
    ::closedir(dir);
#endif
    return names;
}

void DirectoryHandle::clearFiles(const std::string& keep) const {
    // A directory fails the unlink and stays.
    for (const std::string& name : entries())
        if (keep.empty() || name != keep) ::unlinkat(fd_.get(), name.c_str(), 0);
}

bool DirectoryHandle::isOwnedBy(uid_t uid) const {
    struct stat st;
    return fd_.isOpen() && ::fstat(fd_.get(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid;
}

bool DirectoryHandle::holdsFileOf(const std::string& name, uid_t uid) const {
    if (!fd_.isOpen() || name.empty() || name.find('/') != std::string::npos) return false;
    struct stat st;
    return ::fstatat(fd_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_uid == uid;
}

bool DirectoryHandle::createFile(const std::string& name) const {
    if (!fd_.isOpen() || name.empty() || name.find('/') != std::string::npos) return false;
    const Descriptor made(openRetry(fd_.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    return made.isOpen();
}

bool DirectoryHandle::removeFile(const std::string& name) const {
    if (!fd_.isOpen() || !isEntryName(name)) return false;
    return ::unlinkat(fd_.get(), name.c_str(), 0) == 0;
}

bool DirectoryHandle::removeEmptyDirectory(const std::string& name) const {
    if (!fd_.isOpen() || !isEntryName(name)) return false;
    return ::unlinkat(fd_.get(), name.c_str(), AT_REMOVEDIR) == 0;
}

bool DirectoryHandle::removeEntry(const std::string& name) const { return removeEntry(name, 0); }

bool DirectoryHandle::removeEntry(const std::string& name, int depth) const {
    if (!fd_.isOpen() || !isEntryName(name)) return false;
    if (::unlinkat(fd_.get(), name.c_str(), 0) == 0 || errno == ENOENT) return true;
    // Linux says EISDIR for a directory, POSIX allows EPERM.
    if ((errno != EISDIR && errno != EPERM) || depth >= kMaxDepth) return false;
    {
        const DirectoryHandle inner(*this, name);
        if (inner.isOpen())
            for (const std::string& entry : inner.entries()) inner.removeEntry(entry, depth + 1);
    }
    return ::unlinkat(fd_.get(), name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

}  // namespace qdl
