#include "support/serverdata/fake_base.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

#include "runtime/files.h"

namespace testsupport {

FakeBase::FakeBase(bool enter) {
    if (!enter) return;
    std::vector<char> cwd(4096);
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) throw std::runtime_error("getcwd failed");
    savedCwd_ = cwd.data();
    if (::chdir(dir_.path().c_str()) != 0) throw std::runtime_error("cannot enter " + dir_.path());
}

FakeBase::~FakeBase() {
    if (!savedCwd_.empty() && ::chdir(savedCwd_.c_str()) != 0) {
        // The folder goes anyway; nothing sensible is left to do.
    }
}

std::string FakeBase::makeFolder(const std::string& relative) {
    std::string path = dir_.path();
    std::string::size_type from = 0;
    while (from < relative.size()) {
        std::string::size_type slash = relative.find('/', from);
        if (slash == std::string::npos) slash = relative.size();
        path += "/" + relative.substr(from, slash - from);
        if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) throw std::runtime_error("cannot make " + path);
        from = slash + 1;
    }
    return path;
}

std::string FakeBase::write(const std::string& relative, const std::string& text) {
    const std::string::size_type slash = relative.rfind('/');
    if (slash != std::string::npos) makeFolder(relative.substr(0, slash));
    const std::string full = dir_ / relative;
    writeFile(full, text);
    return full;
}

std::string FakeBase::write(const std::string& relative, const cgp::DataSet& value) {
    return write(relative, cgp::DataSet::toString(value, true));
}

void FakeBase::remove(const std::string& relative) { ::unlink((dir_ / relative).c_str()); }

void FakeBase::link(const std::string& target, const std::string& relative) {
    const std::string::size_type slash = relative.rfind('/');
    if (slash != std::string::npos) makeFolder(relative.substr(0, slash));
    if (::symlink(target.c_str(), (dir_ / relative).c_str()) != 0) throw std::runtime_error("cannot link " + relative);
}

void FakeBase::move(const std::string& from, const std::string& to) {
    if (::rename((dir_ / from).c_str(), (dir_ / to).c_str()) != 0) throw std::runtime_error("cannot move " + from);
}

std::string FakeBase::read(const std::string& relative) const { return readFile(dir_ / relative); }

void FakeBase::setTime(const std::string& relative, time_t when, long nanoseconds) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = when;
    times[0].tv_nsec = times[1].tv_nsec = nanoseconds;
    if (::utimensat(AT_FDCWD, (dir_ / relative).c_str(), times, 0) != 0)
        throw std::runtime_error("cannot set the time of " + relative);
}

time_t FakeBase::modificationTime(const std::string& relative) const {
    return qdl::fileModificationTime(dir_ / relative);
}

void FakeBase::touchLater(const std::string& relative) { setTime(relative, modificationTime(relative) + 1); }

}  // namespace testsupport
