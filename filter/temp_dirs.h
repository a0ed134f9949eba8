#pragma once
// The unpacking directories: each running instance (the filter, a batch)
// unpacks into a directory of its own in pvx_temp of the program directory,
// named by its pid. Several instances share pvx_temp: one that ends removes
// it once it is empty, one that is killed leaves its directory behind. An
// administrator may point pvx_temp at a shared temporary directory, so what
// stands there may belong to anyone: only a directory that proves to be one
// of ours (a real directory of our user holding our marker file of our
// user, looked at without following links) is ever emptied or removed.
#include <memory>
#include <set>
#include <string>

#include "runtime/directory_handle.h"

namespace cgp {

// The file that marks an unpacking directory as made by this filter.
extern const char* const kOwnDirectoryMarker;

// True when the entry `name` of `parent` is a directory of ours: not a link,
// owned by our user, holding our marker as a regular file of our user.
bool isOwnDirectory(const qdl::DirectoryHandle& parent, const std::string& name);

// Makes `dir` (no trailing "/") a directory of ours, marker included: a
// directory of ours standing there is taken as it is, anything else is left
// alone and gives false. A parent that is missing (another instance removed
// the shared pvx_temp) is made again, with `dir` already inside: it is built
// as parent + "." + pid beside it and moved into place in one step.
bool makeOwnDirectory(const std::string& dir);

// Start-up: makes this process's unpacking directory in `shared` and returns
// its path (no trailing "/"), empty when none can be made. It is named by
// our pid, or by our pid, "-" and a number where something that is not ours
// stands at that name; a directory of ours found there (left by an earlier
// process of the same pid) is removed first.
std::string claimOwnDirectory(const std::string& shared);

// Unlinks the files and links in `dir`, all but our marker, through a
// descriptor of it; nothing is done unless `dir` is a directory of ours.
void clearOwnDirectory(const std::string& dir);

// Removes the entry `name` of `shared` (`shared` may be a link) all the way
// down, never following a link inside, when it is a directory of ours.
void removeOwnDirectory(const std::string& shared, const std::string& name);

// Removes the directories of ours in `shared` named by the pid of a process
// that no longer exists, as a killed instance leaves them. Anything else,
// whatever its name, and this process's own are left alone.
void removeEndedInstances(const std::string& shared);

// An unpacking directory held open from one message to the next: while it
// still stands at its path, a message checks it with one lstat and lists and
// clears it through the descriptor, as clearOwnDirectory does.
class UnpackDirectory : private qdl::noncopyable {
public:
    // Readies `dir` (no trailing "/") for a message: with `make` it is made
    // a directory of ours as makeOwnDirectory does, unless it is still the
    // one held; then its files and links are removed. False when `make` is
    // set and `dir` cannot be made one of ours.
    bool prepare(const std::string& dir, bool make);

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
