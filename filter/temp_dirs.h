#pragma once
// The unpacking directories: each running instance (the filter, a batch)
// unpacks into pvx_temp/<pid> of the program directory, a directory of its
// own. Several instances share pvx_temp: one that ends removes it once it
// is empty, one that is killed leaves its directory behind, and whatever
// stands at our own name may be a link to files that are not ours.
#include <memory>
#include <set>
#include <string>

#include "runtime/directory_handle.h"

namespace cgp {

// Makes `dir` (no trailing "/") a real directory: a symbolic link or any
// other file standing there is removed, never followed, and a parent that
// is missing (another instance removed the shared pvx_temp) is made again,
// with `dir` already inside: it is built as parent + "." + pid beside it
// and moved into place in one step. True when `dir` is a directory.
bool makeOwnDirectory(const std::string& dir);

// Unlinks the files and links in `dir` through a descriptor of it; nothing
// is done when `dir` itself is a link.
void clearOwnDirectory(const std::string& dir);

// Removes the entry `name` of `shared` (`shared` may be a link), all the way
// down, never following a link inside.
void removeOwnDirectory(const std::string& shared, const std::string& name);

// Removes the directories in `shared` named by the pid of a process that no
// longer exists, as a killed instance leaves them. Names that are not a pid
// and this process's own are left alone.
void removeEndedInstances(const std::string& shared);

// An unpacking directory held open from one message to the next: while it
// still stands at its path, a message checks it with one lstat and lists and
// clears it through the descriptor, as clearOwnDirectory does.
class UnpackDirectory : private qdl::noncopyable {
public:
    // Readies `dir` (no trailing "/") for a message: with `make` it is made
    // a real directory as makeOwnDirectory does, unless it is still the one
    // held; then its files and links are removed.
    void prepare(const std::string& dir, bool make);

    // Every name in the directory prepared last, hidden ones too.
    std::set<std::string> names() const;

    // Clears `dir` as clearOwnDirectory does, through the held descriptor
    // while `dir` is still the directory held.
    void clear(const std::string& dir) const;

private:
    bool holds(const std::string& dir) const;

    std::string path_;
    std::unique_ptr<qdl::DirectoryHandle> handle_;
};

}  // namespace cgp
