#pragma once
// A directory held by its descriptor. Its entries are listed and removed
// through that descriptor (openat, unlinkat), so a symbolic link planted
// inside is removed itself and never followed. Nothing throws or logs.
#include <sys/types.h>

#include <string>
#include <vector>

#include "runtime/descriptor.h"
#include "runtime/mutex.h"

namespace qdl {

class DirectoryHandle : private noncopyable {
public:
    // Opens `path` as a directory. A symbolic link standing at `path` itself
    // is followed only with `followLink`; otherwise isOpen() is false.
    explicit DirectoryHandle(const std::string& path, bool followLink = false);
    // Opens the entry `name` of `parent`, never following a link.
    DirectoryHandle(const DirectoryHandle& parent, const std::string& name);
    ~DirectoryHandle();

    bool isOpen() const { return fd_.isOpen(); }

    // True when `path`, not followed if it is a link, is this very directory:
    // one lstat, so that a directory held open from one use to the next
    // costs no more than that to check.
    bool isAt(const std::string& path) const;

    // Every entry name but "." and "..", read before anything is changed.
    // Read through the handle's own descriptor from its start: not from two
    // threads at once.
    std::vector<std::string> entries() const;
    // Unlinks every entry that is not a directory (links included), but the
    // one named `keep` when it is given.
    void clearFiles(const std::string& keep = std::string()) const;
    // Removes the entry `name`: a file or a link is unlinked, a directory is
    // emptied the same way, all the way down, and removed. True once the
    // entry is gone (also when it was gone before).
    bool removeEntry(const std::string& name) const;

    // True when the directory belongs to `uid`.
    bool isOwnedBy(uid_t uid) const;
    // True when the entry `name`, not followed if it is a link, is a regular
    // file that belongs to `uid`.
    bool holdsFileOf(const std::string& name, uid_t uid) const;
    // Creates the entry `name` as an empty file; false when anything stands
    // there already, or the file cannot be made.
    bool createFile(const std::string& name) const;
    // Unlinks the entry `name` only when it is not a directory.
    bool removeFile(const std::string& name) const;
    // Removes the entry `name` only when it is an empty directory.
    bool removeEmptyDirectory(const std::string& name) const;

private:
    bool removeEntry(const std::string& name, int depth) const;

    Descriptor fd_;
    // The directory's identity, read once isAt() needs it.
    mutable bool identified_ = false;
    mutable dev_t device_ = 0;
    mutable ino_t inode_ = 0;
};

}  // namespace qdl
