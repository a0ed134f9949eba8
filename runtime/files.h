#pragma once
// File and directory utilities over path texts. Nothing throws or logs:
// failures show in the results.
#include <sys/types.h>

#include <cstdio>
#include <ctime>
#include <set>
#include <string>

#include "runtime/mutex.h"

namespace qdl {

// Tests and attributes.
bool isFile(const std::string& path);       // exists and is not a directory
bool isDirectory(const std::string& path);  // follows symbolic links
bool isRegularFile(const std::string& path);  // follows symbolic links; no FIFO or device
// The same tests without following a symbolic link at the path itself: a
// link is neither a directory nor a regular file, and its name is taken
// even when it leads nowhere.
bool existsNoFollow(const std::string& path);
bool isDirectoryNoFollow(const std::string& path);
bool isRegularFileNoFollow(const std::string& path);
bool isReadable(const std::string& path);
bool isWritable(const std::string& path);   // readable and opens for appending
long long fileSize(const std::string& path);  // -1 when stat fails
long long fileSize(FILE* f);                  // -1 for a null stream
time_t fileModificationTime(const std::string& path);  // -1 when stat fails
time_t fileModificationTime(FILE* f);

// What tells one state of a file from another: the modification time to the
// nanosecond, the size, the inode on its device and the kind of file. A file
// rewritten within the second of the last look, or another file renamed into
// its place, compares unequal. Two stamps of missing files compare equal.
struct FileStamp {
    bool exists = false;
    mode_t kind = 0;  // the file-type bits of st_mode
    dev_t device = 0;
    ino_t inode = 0;
    long long size = 0;
    time_t seconds = 0;
    long nanoseconds = 0;

    bool isRegular() const;
    bool operator==(const FileStamp& other) const;
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};
// The stamp of what the path names, symbolic links followed; one that does
// not exist when stat fails.
FileStamp fileStamp(const std::string& path);

// The name a symbolic link finally leads to: the path itself when it is no
// link, else its target, followed through every level, a relative target
// counting from the folder of the link that holds it. A link that leads
// nowhere gives the name it points at. False, with errno ELOOP, after more
// links than the system itself follows (a loop), or with the errno of the
// lstat or readlink that failed.
bool followLinks(const std::string& path, std::string& out);

// Plain operations.
bool renameFile(const std::string& from, const std::string& to);
// Moves `from` to `to` only while nothing has that name, so a file another
// writer put there is never replaced; false with errno EEXIST when it is taken.
bool renameNoReplace(const std::string& from, const std::string& to);
bool removeFile(const std::string& path);
int openFile(const std::string& path, int flags);  // close-on-exec; -1 on failure
void closeFile(int fd);

// Durability: flush a file's data, or a directory's entries (after a rename).
bool syncFile(const std::string& path);
bool syncDirectory(const std::string& path);

// Path texts.
std::string& normalizeSlashes(std::string& path);  // backslashes to "/", in place
std::string baseName(const std::string& path);     // after the last "/"
std::string directoryOf(const std::string& path);  // up to the last "/", else "./"
std::string absolutePath(const std::string& path); // empty on failure

// Directories. makeDirectory normalizes the caller's string and drops one
// trailing "/".
bool makeDirectory(std::string& path, bool recursive = false);
bool removeDirectory(const std::string& path, bool recursive = false);
void clearDirectory(const std::string& path);
void copyDirectory(const std::string& src, const std::string& dst);  // both end with "/"
void copyPath(const std::string& src, const std::string& dst);

// "*" any run, "?" one character, everything else itself (case matters).
bool wildcardMatch(const char* pattern, const char* name);

// Backups: the file moved to path + tag + ".YYYYMMDD-hhmmss" (UTC), with
// ".1" appended while anything, a link or a directory included, has that
// name. makeBackupName returns what was appended to the path, or "" when the
// move failed. listBackups fills out with the backups' paths (a path without
// "/" lists the working directory); removeOldBackups removes those dated
// before today minus days, true when at least one was really removed.
std::string makeBackupName(const std::string& path, const std::string& tag);
bool listBackups(const std::string& path, const std::string& tag, std::set<std::string>& out);
bool removeOldBackups(const std::string& path, const std::string& tag, unsigned days);

// Reads one directory's entries, skipping names that begin with "." and,
// with a pattern, names that do not match it. Entries come unsorted.
class Directory : private noncopyable {
public:
    explicit Directory(const std::string& path);
    Directory(const std::string& path, const std::string& pattern);
    ~Directory();

    bool next();
    std::string name() const;
    void rewind();

private:
    struct Record;
    Record* record_;
};

}  // namespace qdl
