#include "support/core/run_program.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

ProgramResult runProgram(const std::vector<std::string>& argv, const std::string& input,
                         const std::string& cwd, int timeoutSeconds) {
    ProgramResult result;
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    ::signal(SIGPIPE, SIG_IGN);

    size_t written = 0;
    int inFd = in[1];
    if (input.empty()) {
        ::close(inFd);
        inFd = -1;
    } else {
        ::fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd fds[3];
        int n = 0;
        if (outOpen) fds[n++] = {out[0], POLLIN, 0};
        if (errOpen) fds[n++] = {err[0], POLLIN, 0};
        if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
        int r = ::poll(fds, n, static_cast<int>(std::min<long long>(left, 1000)));
        if (r < 0 && errno != EINTR) break;
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents) continue;
            if (fds[i].fd == inFd) {
                ssize_t w = ::write(inFd, input.data() + written, input.size() - written);
                if (w > 0) written += static_cast<size_t>(w);
                if (w < 0 && errno != EAGAIN && errno != EINTR) written = input.size();
                if (written >= input.size()) {
                    ::close(inFd);
                    inFd = -1;
                }
                continue;
            }
            char buf[65536];
            ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
            std::string& sink = fds[i].fd == out[0] ? result.out : result.err;
            if (got > 0) {
                sink.append(buf, static_cast<size_t>(got));
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                (fds[i].fd == out[0] ? outOpen : errOpen) = false;
            }
        }
    }
    if (inFd >= 0) ::close(inFd);
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

namespace {

void removeTree(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        ::chmod(path.c_str(), 0700);
        if (DIR* d = ::opendir(path.c_str())) {
            while (dirent* e = ::readdir(d)) {
                std::string name = e->d_name;
                if (name == "." || name == "..") continue;
                removeTree(path + "/" + name);
            }
            ::closedir(d);
        }
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/parvex-test-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() { removeTree(path_); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

void addTree(const std::string& top, const std::string& dir, std::vector<std::string>& found) {
    for (const std::string& name : listDir(dir.empty() ? top : top + "/" + dir)) {
        const std::string path = dir.empty() ? name : dir + "/" + name;
        struct stat st;
        if (::lstat((top + "/" + path).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            addTree(top, path, found);
        else
            found.push_back(path);
    }
}

}  // namespace

std::vector<std::string> listTree(const std::string& path) {
    std::vector<std::string> found;
    addTree(path, "", found);
    std::sort(found.begin(), found.end());
    return found;
}

std::string builtProgram(const std::string& relative) { return std::string(PARVEX_BINARY_DIR) + "/" + relative; }

}  // namespace testsupport
