#pragma once
// A directory held by its descriptor. Its entries are listed and removed
// through that descriptor (openat, unlinkat), so a symbolic link planted
// inside is removed itself and never followed. Nothing throws or logs.
#include <string>
#include <vector>

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

    bool isOpen() const { return fd_ >= 0; }

    // Every entry name but "." and "..", read before anything is changed.
    std::vector<std::string> entries() const;
    // Unlinks every entry that is not a directory (links included).
    void clearFiles() const;
    // Removes the entry `name`: a file or a link is unlinked, a directory is
    // emptied the same way, all the way down, and removed. True once the
    // entry is gone (also when it was gone before).
    bool removeEntry(const std::string& name) const;

private:
    bool removeEntry(const std::string& name, int depth) const;

    int fd_ = -1;
};

}  // namespace qdl
