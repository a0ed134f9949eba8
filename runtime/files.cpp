#include "runtime/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

#include "runtime/datetime.h"
#include "runtime/descriptor.h"
#include "runtime/stream.h"

namespace qdl {

namespace {

// Links followed before a chain counts as a loop: as many as Linux itself
// follows in one path, more than FreeBSD does.
const int kMaxLinkLevels = 40;

int openRetry(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool writeAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, data, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Every entry name but "." and "..", read before anything is changed.
std::vector<std::string> allEntries(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return names;
    while (struct dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        names.emplace_back(e->d_name);
    }
    ::closedir(dir);
    return names;
}

bool syncPath(const std::string& path, int flags) {
    Descriptor fd(openRetry(path.c_str(), flags));
    if (!fd.isOpen()) return false;
    const bool synced = ::fsync(fd.get()) == 0;
    return fd.close() && synced;
}

// What a stat of an existing file tells; the one place that reads it.
FileStamp stampOf(const struct stat& st) {
    FileStamp stamp;
    stamp.exists = true;
    stamp.kind = st.st_mode & S_IFMT;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = static_cast<long long>(st.st_size);
    stamp.seconds = st.st_mtim.tv_sec;
    stamp.nanoseconds = st.st_mtim.tv_nsec;
    return stamp;
}

FileStamp streamStamp(FILE* f) {
    struct stat st;
    if (f == nullptr || ::fstat(::fileno(f), &st) != 0) return FileStamp();
    return stampOf(st);
}

// The file-type bits of what stands at the path, a link at it followed
// only with `follow`; 0 when nothing does.
mode_t kindOf(const std::string& path, bool follow) {
    struct stat st;
    return (follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0 ? (st.st_mode & S_IFMT) : 0;
}

}  // namespace

bool isDirectory(const std::string& path) { return S_ISDIR(kindOf(path, true)); }

bool isRegularFile(const std::string& path) { return S_ISREG(kindOf(path, true)); }

bool isFile(const std::string& path) {
    // One stat answers for an existing path; only when it fails does the
    // existence test of its own decide.
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return !S_ISDIR(st.st_mode);
    return ::access(path.c_str(), F_OK) == 0;
}

bool existsNoFollow(const std::string& path) { return kindOf(path, false) != 0; }

bool isDirectoryNoFollow(const std::string& path) { return S_ISDIR(kindOf(path, false)); }

bool isRegularFileNoFollow(const std::string& path) { return S_ISREG(kindOf(path, false)); }

bool isReadable(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

bool isWritable(const std::string& path) {
    if (!isReadable(path)) return false;
    // Opened without blocking: a FIFO would otherwise wait for a reader. One
    // without a reader counts as writable by its permissions.
    const Descriptor fd(openRetry(path.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK));
    return fd.isOpen() || (errno == ENXIO && ::access(path.c_str(), W_OK) == 0);
}

long long fileSize(const std::string& path) {
    const FileStamp stamp = fileStamp(path);
    return stamp.exists ? stamp.size : -1;
}

long long fileSize(FILE* f) {
    const FileStamp stamp = streamStamp(f);
    return stamp.exists ? stamp.size : -1;
}

time_t fileModificationTime(const std::string& path) {
    const FileStamp stamp = fileStamp(path);
    return stamp.exists ? stamp.seconds : -1;
}

time_t fileModificationTime(FILE* f) {
    const FileStamp stamp = streamStamp(f);
    return stamp.exists ? stamp.seconds : -1;
}

bool FileStamp::isRegular() const { return exists && S_ISREG(kind); }

bool FileStamp::operator==(const FileStamp& other) const {
    if (!exists || !other.exists) return exists == other.exists;
    return kind == other.kind && device == other.device && inode == other.inode && size == other.size &&
           seconds == other.seconds && nanoseconds == other.nanoseconds;
}

FileStamp fileStamp(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return FileStamp();
    return stampOf(st);
}

bool followLinks(const std::string& path, std::string& out) {
    std::string name = path;
    std::vector<char> target(256);
    for (int level = 0;; ++level) {
        struct stat st;
        if (::lstat(name.c_str(), &st) != 0) {
            // Nothing there: the name is where the file would be made.
            if (errno != ENOENT) return false;
            break;
        }
        if (!S_ISLNK(st.st_mode)) break;
        if (level == kMaxLinkLevels) {
            errno = ELOOP;
            return false;
        }
        ssize_t n;
        // A link may change or grow between lstat and readlink: the buffer
        // grows until the text fits with room to spare.
        while ((n = ::readlink(name.c_str(), target.data(), target.size())) >= 0 &&
               static_cast<std::size_t>(n) == target.size())
            target.resize(target.size() * 2);
        if (n < 0) return false;
        const std::string text(target.data(), static_cast<std::size_t>(n));
        if (text.empty()) {
            errno = ENOENT;
            return false;
        }
        if (text[0] == '/') {
            name = text;
        } else {
            const std::string::size_type slash = name.rfind('/');
            name = (slash == std::string::npos ? std::string() : name.substr(0, slash + 1)) + text;
        }
    }
    out = name;
    return true;
}

bool renameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool renameNoReplace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
    // A link never replaces either; the old name goes once the new one stands.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EMLINK) return false;
    // No links here (or a directory): the check leaves a gap that names
    // unique to the process keep closed.
    if (existsNoFollow(to)) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

int openFile(const std::string& path, int flags) { return openRetry(path.c_str(), flags, 0666); }

void closeFile(int fd) { ::close(fd); }

bool syncFile(const std::string& path) { return syncPath(path, O_RDONLY); }

bool syncDirectory(const std::string& path) { return syncPath(path, O_RDONLY | O_DIRECTORY); }

std::string& normalizeSlashes(std::string& path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

std::string baseName(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directoryOf(const std::string& path) {
    std::string p = path;
    normalizeSlashes(p);
    std::string::size_type slash = p.rfind('/');
    return slash == std::string::npos ? std::string("./") : p.substr(0, slash + 1);
}

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::vector<char> buffer(1024);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) return std::string();
        buffer.resize(buffer.size() * 2);
    }
    std::string dir(buffer.data());
    if (dir.empty()) return std::string();
    return dir + "/" + path;
}

bool makeDirectory(std::string& path, bool recursive) {
    normalizeSlashes(path);
    // "/" itself keeps its slash.
    if (path.size() > 1 && path[path.size() - 1] == '/') path.erase(path.size() - 1);
    if (isDirectory(path)) return true;
    if (recursive) {
        std::string::size_type slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0) {
            std::string parent = path.substr(0, slash);
            if (!makeDirectory(parent, true)) return false;
        }
    }
    if (::mkdir(path.c_str(), 0755) != 0) return false;
    // Only what we made changes owner; an existing object is left alone.
    if (::chown(path.c_str(), ::getuid(), ::getgid()) != 0) {
    }
    return true;
}

bool removeDirectory(const std::string& path, bool recursive) {
    if (recursive) {
        // Hidden entries go too, else the final rmdir could never succeed;
        // symbolic links are removed, never followed.
        for (const std::string& name : allEntries(path)) {
            std::string full = path + "/" + name;
            if (isDirectoryNoFollow(full))
                removeDirectory(full, true);
            else
                removeFile(full);
        }
    }
    return ::rmdir(path.c_str()) == 0;
}

void clearDirectory(const std::string& path) {
    for (const std::string& name : allEntries(path)) removeFile(path + "/" + name);
}

void copyDirectory(const std::string& src, const std::string& dst) {
    Directory dir(src);
    struct stat st;
    std::memset(&st, 0, sizeof st);
    mode_t mode = ::stat(src.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0755;
    if (!dst.empty()) ::mkdir(dst.substr(0, dst.size() - 1).c_str(), mode);
    std::vector<char> chunk(4096);
    while (dir.next()) {
        std::string name = dir.name();
        std::string from = src + name;
        std::string to = dst + name;
        // Only real directories are descended into, so a link cannot loop.
        if (isDirectoryNoFollow(from)) {
            copyDirectory(from + "/", to + "/");
            continue;
        }
        if (::stat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        const Descriptor in(openRetry(from.c_str(), O_RDONLY));
        if (!in.isOpen()) continue;
        const Descriptor out(openRetry(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, st.st_mode & 0777));
        if (!out.isOpen()) continue;
        for (;;) {
            ssize_t n = ::read(in.get(), chunk.data(), chunk.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            if (!writeAll(out.get(), chunk.data(), static_cast<size_t>(n))) break;
        }
    }
}

void copyPath(const std::string& src, const std::string& dst) {
    std::string s = src, d = dst;
    normalizeSlashes(s);
    normalizeSlashes(d);
    if (s.empty() || s[s.size() - 1] != '/') s += "/";
    if (d.empty() || d[d.size() - 1] != '/') d += "/";
    copyDirectory(s, d);
}

bool wildcardMatch(const char* pattern, const char* name) {
    const char* p = pattern;
    const char* n = name;
    while (*n && *p != '*') {
        if (*p != *n && *p != '?') return false;
        ++p;
        ++n;
    }
    const char* starP = nullptr;
    const char* starN = nullptr;
    while (*n) {
        if (*p == '*') {
            if (!*++p) return true;
            starP = p;
            starN = n + 1;
        } else if (*p == *n || *p == '?') {
            ++p;
            ++n;
        } else {
            p = starP;
            n = starN++;
        }
    }
    while (*p == '*') ++p;
    return !*p;
}

std::string makeBackupName(const std::string& path, const std::string& tag) {
    std::string name = tag + DateTime::now().format(".YYYYMMDD-hhmmss");
    // Any object under the name counts, a dangling link or a directory too,
    // also one that appears while we look.
    while (!renameNoReplace(path, path + name)) {
        if (errno != EEXIST) return std::string();
        name += ".1";
    }
    return name;
}

bool listBackups(const std::string& path, const std::string& tag, std::set<std::string>& out) {
    out.clear();
    const std::string full = path + tag;
    std::string::size_type slash = full.rfind('/');
    // Without a "/" the names are listed as they stand, in the working
    // directory, so that they still begin with path + tag.
    std::string lead = slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
    std::string prefix = slash == std::string::npos ? full : full.substr(slash + 1);
    std::string where = lead.empty() ? std::string(".") : lead;
    Directory dir(where);
    while (dir.next()) {
        std::string name = dir.name();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        std::istringstream in(name.substr(prefix.size() + 1));
        int date = 0;
        if (!(in >> date)) date = 0;
        if (date > 20000000) out.insert(lead + name);
    }
    return !out.empty();
}

bool removeOldBackups(const std::string& path, const std::string& tag, unsigned days) {
    time_t then = DateTime::now().toTime() - static_cast<time_t>(days) * 86400;
    int cutoff = 0;
    std::istringstream(DateTime(then).format("YYYYMMDD")) >> cutoff;
    std::set<std::string> names;
    listBackups(path, tag, names);
    bool removed = false;
    const size_t skip = path.size() + tag.size() + 1;
    for (const std::string& name : names) {
        if (name.size() <= skip) continue;
        std::istringstream in(name.substr(skip));
        unsigned long date = 0;
        if (!(in >> date)) continue;
        if (date < static_cast<unsigned long>(cutoff) && removeFile(name)) removed = true;
    }
    return removed;
}

struct Directory::Record {
    DIR* handle = nullptr;
    struct dirent* current = nullptr;
    std::string pattern;
};

Directory::Directory(const std::string& path) : record_(new Record) {
    record_->handle = ::opendir(path.c_str());
}

Directory::Directory(const std::string& path, const std::string& pattern) : Directory(path) {
    if (pattern != "*.*" && pattern != "*") record_->pattern = pattern;
}

Directory::~Directory() {
    if (record_->handle != nullptr) ::closedir(record_->handle);
    delete record_;
}

bool Directory::next() {
    if (record_->handle == nullptr) return false;
    while ((record_->current = ::readdir(record_->handle)) != nullptr) {
        const char* name = record_->current->d_name;
        if (name[0] == '.') continue;
        if (record_->pattern.empty() || wildcardMatch(record_->pattern.c_str(), name)) return true;
    }
    return false;
}

std::string Directory::name() const {
    return record_->current != nullptr ? std::string(record_->current->d_name) : std::string();
}

void Directory::rewind() {
    record_->current = nullptr;
    if (record_->handle != nullptr) ::rewinddir(record_->handle);
}

}  // namespace qdl
