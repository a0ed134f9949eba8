#pragma once
// A new file written beside a target and then given the target's name: the
// step that replaces a file whole, or puts a complete one in place. The new
// file is made under a name no other writer has (O_EXCL, so nothing that
// stands at the name is opened or followed), written through the descriptor
// that made it, synced, renamed, and its folder synced. Until the rename,
// going away removes it: a failure leaves the target untouched and nothing
// beside it. Nothing throws or logs; errno tells why a step failed.
#include <sys/stat.h>

#include <memory>
#include <string>

#include "runtime/file_buffers.h"
#include "runtime/mutex.h"

namespace qdl {

class ReplacementFile : private noncopyable {
public:
    struct Options {
        // The new file's name: `lead` itself, or `lead` followed by
        // `randomCharacters` random letters and digits, drawn afresh while
        // a name is taken. A fixed name that is taken fails with EEXIST.
        std::string lead;
        int randomCharacters = 0;
        // The mode and, where the system allows it, the owner the new file
        // takes from `like`; without it `mode` when that is not 0, else the
        // mode of any new file. The descriptor writes even where the mode
        // denies writing.
        const struct stat* like = nullptr;
        mode_t mode = 0;
        // The rename replaces what has the target's name; unset, it happens
        // only while that name is free (EEXIST otherwise).
        bool replace = true;
    };

    // Makes the new file; isOpen() tells, errno why not.
    ReplacementFile(const std::string& target, const Options& options);
    // Removes the new file unless commit() gave it the target's name.
    ~ReplacementFile();

    bool isOpen() const { return !path_.empty(); }
    // The new file's own name; empty when it could not be made.
    const std::string& path() const { return path_; }
    // Where the content goes: a stream that takes nothing when the file
    // could not be made.
    OutputStream& out() { return *out_; }

    // Writes what is held, syncs the data when `syncData`, and closes the
    // file. False when it is not open, or any write, the sync or the close
    // failed.
    bool close(bool syncData);
    // Closes as close(true) does, unless that was done already, gives the
    // file the target's name and syncs the folder. False, with errno set and
    // the new file removed, when anything failed.
    bool commit();

private:
    void discard();

    std::string target_;
    bool replace_;
    std::string path_;
    std::unique_ptr<OutputStream> out_;
    bool closed_ = false;
    bool written_ = false;
};

}  // namespace qdl
