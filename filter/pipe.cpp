#include "filter/pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "runtime/datetime.h"
#include "runtime/directory_handle.h"
#include "runtime/files.h"
#include "runtime/mutex.h"

namespace cgp {

namespace {

const char kSubmitPrefix[] = "Submitted/vivoveruriruve_";

qdl::SimpleMutex& pipeMutex() {
    static qdl::SimpleMutex mutex;
    return mutex;
}

// Signed 32 bits that wrap around on overflow; kept unsigned so the wrap is defined.
std::uint32_t counterValue = 0;

// Moves the counter on by the next random step; the caller holds pipeMutex.
int stepCounter() {
    counterValue += static_cast<std::uint32_t>(std::rand());
    return static_cast<std::int32_t>(counterValue);
}

std::string secondsNow() {
    std::ostringstream text;
    text << static_cast<unsigned long long>(std::time(nullptr));
    return text.str();
}

// How often a taken ".sub" name sends the file to a fresh name before the
// submission gives up.
const int kSubmitAttempts = 16;

}  // namespace

std::string Pipe::newSubmitFile() {
    qdl::Descriptor fd;
    return newSubmitFile(fd);
}

std::string Pipe::newSubmitFile(qdl::Descriptor& fd) {
    for (;;) {
        const std::string seconds = secondsNow();
        qdl::ScopedLock guard(pipeMutex());
        std::ostringstream name;
        // The pid keeps the names of instances started together apart.
        name << kSubmitPrefix << seconds << "_" << static_cast<long>(::getpid()) << "_" << stepCounter() << ".tmp";
        // O_EXCL: a name that exists, also one made by another process at
        // the same moment, is never handed out twice.
        fd.reset(qdl::openFile(name.str(), O_WRONLY | O_CREAT | O_EXCL));
        if (fd.isOpen() || errno != EEXIST) return name.str();
    }
}

namespace {

// Moves a complete, synced file to its ".sub" name, as submitFile says.
bool handOver(const std::string& name) {
    std::string current = name;
    for (int attempt = 1;; ++attempt) {
        if (qdl::renameNoReplace(current, current + ".sub")) break;
        if (errno != EEXIST || attempt == kSubmitAttempts) {
            qdl::removeFile(current);
            return false;
        }
        // The ".sub" name holds a message the server has not taken yet: the
        // file moves to a fresh reserved name of ours and tries again.
        const std::string fresh = Pipe::newSubmitFile();
        if (!qdl::renameFile(current, fresh)) {
            qdl::removeFile(current);
            qdl::removeFile(fresh);
            return false;
        }
        current = fresh;
    }
    // The file is the server's now; a failed directory sync cannot undo that.
    qdl::syncDirectory(qdl::directoryOf(current));
    return true;
}

}  // namespace

bool Pipe::submitFile(const std::string& name) {
    if (!qdl::syncFile(name)) {
        qdl::removeFile(name);
        return false;
    }
    return handOver(name);
}

bool Pipe::submitFile(const std::string& name, qdl::OutputStream& out) {
    // Synced through the descriptor it was written with.
    if (!out.finish(true)) {
        qdl::removeFile(name);
        return false;
    }
    return handOver(name);
}

bool Pipe::submitFile(const std::string& name, std::ofstream& out) {
    out.flush();
    bool written = out.good();
    out.close();
    if (out.fail()) written = false;
    if (!written) {
        qdl::removeFile(name);
        return false;
    }
    return submitFile(name);
}

void Pipe::cancelSubmitFile(const std::string& name) { qdl::removeFile(name); }

namespace {

// Reads decimal digits (with a leading "-" when `sign`) from `at` up to
// `stop`; false when there are none or anything else stands there.
bool digitsUpTo(const std::string& s, std::size_t& at, char stop, bool sign) {
    if (sign && at < s.size() && s[at] == '-') ++at;
    const std::size_t first = at;
    while (at < s.size() && s[at] >= '0' && s[at] <= '9') ++at;
    return at > first && at < s.size() && s[at] == stop;
}

}  // namespace

long Pipe::reservedNamePid(const std::string& name) {
    static const std::string kPrefix = std::string(kSubmitPrefix).substr(std::string("Submitted/").size());
    static const std::string kSuffix = ".tmp";
    if (name.size() <= kPrefix.size() + kSuffix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0 ||
        name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
        return 0;
    const std::string middle = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size()) + ".";
    std::size_t at = 0;
    if (!digitsUpTo(middle, at, '_', false)) return 0;
    const std::size_t pidStart = ++at;
    if (!digitsUpTo(middle, at, '_', false)) return 0;
    const std::string pid = middle.substr(pidStart, at - pidStart);
    ++at;
    if (!digitsUpTo(middle, at, '.', true) || at + 1 != middle.size()) return 0;
    if (pid.size() > 9 || pid[0] == '0') return 0;
    return std::stol(pid);
}

void Pipe::removeStaleFiles() {
    // "Submitted" itself may be a link, the server's choice; nothing in it
    // is followed.
    const qdl::DirectoryHandle submitted("Submitted", true);
    const uid_t us = ::getuid();
    const long self = static_cast<long>(::getpid());
    for (const std::string& name : submitted.entries()) {
        const long pid = reservedNamePid(name);
        if (pid <= 0 || pid == self || !submitted.holdsFileOf(name, us)) continue;
        // Only a pid that no process has: EPERM means one of another user
        // runs under it, and a file of a running instance is in use. A pid
        // taken again by some other process keeps its dead owner's file: a
        // file too many, never one too few.
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        submitted.removeFile(name);
    }
}

std::string Pipe::makeMessageId() {
    const std::string seconds = secondsNow();
    qdl::ScopedLock guard(pipeMutex());
    std::ostringstream id;
    id << "<" << seconds << "." << stepCounter() << "@vivoveruriruve>";
    return id.str();
}

int Pipe::counter() {
    qdl::ScopedLock guard(pipeMutex());
    return static_cast<std::int32_t>(counterValue);
}

bool Pipe::writeMessage(const std::string& sender, const std::set<std::string>& recipients,
                        const std::string& message) {
    const std::string name = newSubmitFile();
    qdl::ofstream out(name);
    if (!out.is_open()) {
        cancelSubmitFile(name);
        return false;
    }
    out << Envelope(sender, recipients);
    out.write(message.data(), static_cast<std::streamsize>(message.size()));
    return submitFile(name, out);
}

std::ostream& Pipe::Envelope::operator()(std::ostream& out) const {
    out << "Return-Path: " << sender << '\n';
    for (const std::string& recipient : recipients) out << "Envelope-To: " << recipient << '\n';
    return out;
}

std::ostream& Pipe::Headers::operator()(std::ostream& out) const {
    out << "Message-ID: " << messageId << std::endl;
    out << "From: " << from << std::endl;
    out << "To: " << to << std::endl;
    out << "Subject: " << subject << std::endl;
    // A zone of four digits, as mail dates require.
    out << "Date: " << qdl::DateTime::now(false).format("w, DD MMM YYYY hh:mm:ss") << " +0000 (GMT)" << std::endl;
    out << std::endl << std::endl;
    return out;
}

}  // namespace cgp
