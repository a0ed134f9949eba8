#include "runtime/replacement_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <utility>

#include "runtime/descriptor.h"
#include "runtime/files.h"

namespace qdl {

namespace {

// A random name is drawn this many times before the creation gives up: only
// a folder that refuses every name runs out of them.
const int kMaxNameAttempts = 64;

std::atomic<std::uint64_t> nameCounter{0};

std::uint64_t randomBits() {
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
    // No entropy to be had yet: the process, the time and a counter still
    // differ between writers, and O_EXCL settles any clash.
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<std::uint64_t>(::getpid()) << 40) ^ (static_cast<std::uint64_t>(now.tv_nsec) << 8) ^
           static_cast<std::uint64_t>(now.tv_sec) ^ (++nameCounter * 0x9E3779B97F4A7C15ull);
}

// `count` characters of 32 kinds, five bits each.
std::string randomText(int count) {
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
    std::string text;
    std::uint64_t bits = 0;
    for (int i = 0; i < count; ++i, bits >>= 5) {
        if (i % 12 == 0) bits = randomBits();
        text += kAlphabet[bits & 31];
    }
    return text;
}

bool takeMode(int fd, const ReplacementFile::Options& options) {
    if (options.like == nullptr) return options.mode == 0 || ::fchmod(fd, options.mode) == 0;
    const struct stat& like = *options.like;
    if (::fchmod(fd, like.st_mode & 07777) != 0) return false;
    // Only root may give a file away; anyone else keeps it as theirs.
    if ((like.st_uid != ::geteuid() || like.st_gid != ::getegid()) && ::fchown(fd, like.st_uid, like.st_gid) != 0 &&
        errno != EPERM)
        return false;
    return true;
}

}  // namespace

ReplacementFile::ReplacementFile(const std::string& target, const Options& options)
    : target_(target), replace_(options.replace) {
    Descriptor made;
    std::string name;
    const int attempts = options.randomCharacters > 0 ? kMaxNameAttempts : 1;
    for (int attempt = 0; attempt < attempts && !made.isOpen(); ++attempt) {
        name = options.lead + randomText(options.randomCharacters);
        made.reset(openFile(name, O_WRONLY | O_CREAT | O_EXCL));
        if (!made.isOpen() && errno != EEXIST) break;
    }
    if (made.isOpen() && !takeMode(made.get(), options)) {
        const int error = errno;
        made.reset();
        removeFile(name);
        errno = error;
    }
    if (made.isOpen()) path_ = name;
    out_.reset(new OutputStream(std::move(made)));
}

ReplacementFile::~ReplacementFile() {
    // errno stays what the caller's last failure set.
    const int error = errno;
    discard();
    errno = error;
}

void ReplacementFile::discard() {
    out_.reset(new OutputStream(Descriptor()));
    closed_ = true;
    if (!path_.empty()) removeFile(path_);
    path_.clear();
}

bool ReplacementFile::close(bool syncData) {
    if (path_.empty() || closed_) return false;
    closed_ = true;
    written_ = out_->finish(syncData);
    return written_;
}

bool ReplacementFile::commit() {
    if (!closed_) close(true);
    const bool done = written_ && !path_.empty() &&
                      (replace_ ? renameFile(path_, target_) : renameNoReplace(path_, target_));
    if (!done) {
        const int error = errno;
        discard();
        errno = error;
        return false;
    }
    path_.clear();
    written_ = false;
    // The file is in place; a failed folder sync cannot undo that.
    syncDirectory(directoryOf(target_));
    return true;
}

}  // namespace qdl
