#include "runtime/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <utility>

#include "runtime/deadline.h"
#include "runtime/files.h"

extern char** environ;

namespace qdl {

namespace {

std::atomic<int> gReleaseTimeoutMs{60000};

// One waitpid, retried when a signal interrupts it. Records the status when
// the child is reaped. Returns waitpid's result.
pid_t waitOnce(_process& p, int options) {
    if (p.reaped || p.pid <= 0) return -1;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(p.pid, &status, options);
    } while (r < 0 && errno == EINTR);
    if (r == p.pid) {
        p.status = status;
        p.reaped = true;
    } else if (r < 0 && errno == ECHILD) {
        // Reaped elsewhere (or never ours): its id must not be signalled again.
        p.reaped = true;
    }
    return r;
}

void sleepMs(int ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// Waits for the end of the child until the deadline; true when reaped.
// A process descriptor wakes us the moment the child ends; without one
// (older kernels) we poll with short, growing pauses.
bool waitUntil(_process& p, const Deadline& deadline) {
    if (p.reaped) return true;
    // A child that has closed its output has mostly ended already.
    waitOnce(p, WNOHANG);
    if (p.reaped) return true;
#ifdef SYS_pidfd_open
    const Descriptor pidfd(static_cast<int>(::syscall(SYS_pidfd_open, p.pid, 0)));
    if (pidfd.isOpen()) {
        bool done = false;
        for (;;) {
            waitOnce(p, WNOHANG);
            if (p.reaped) {
                done = true;
                break;
            }
            int left = deadline.remainingMs();
            if (left == 0) break;
            pollfd fd{pidfd.get(), POLLIN, 0};
            if (::poll(&fd, 1, left) < 0 && errno != EINTR) break;
        }
        if (done || deadline.passed()) return done;
    }
#endif
    int pause = 1;
    for (;;) {
        if (p.reaped) return true;
        pid_t r = waitOnce(p, WNOHANG);
        if (p.reaped) return true;
        if (r < 0) return false;
        int left = deadline.remainingMs();
        if (left == 0) return false;
        sleepMs(pause < left ? pause : left);
        if (pause < 20) pause *= 2;
    }
}

void killAndReap(_process& p) {
    if (p.reaped || p.pid <= 0) return;
    ::kill(p.pid, SIGKILL);
    // SIGKILL cannot be caught, so this ends promptly.
    waitOnce(p, 0);
}

void setNonBlocking(FILE* f, bool on) {
    int fd = ::fileno(f);
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return;
    ::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

// Everything the child does between fork and execv: only async-signal-safe
// calls, nothing allocated.
void closeDescriptorsAbove2(long openMax) {
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3u, ~0u, 0u) == 0) return;
#endif
    for (long fd = 3; fd < openMax; ++fd) ::close(static_cast<int>(fd));
}

// Starts the child with posix_spawn, which does not copy this process's
// memory: the child's ends go onto 0 to 2 and every other descriptor is
// closed (close_range where the kernel has it; the C library falls back to
// the list in /proc). 0 with `pid` set once the program runs; an error
// number when no child was made or the program could not be run, and then
// no child is left. The ends must lie above 2.
int spawnChild(const int childEnds[3], const char* path, char* const argv[], pid_t& pid) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int rc = posix_spawn_file_actions_init(&actions);
    if (rc != 0) return rc;
    rc = posix_spawnattr_init(&attributes);
    if (rc != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return rc;
    }
    for (int i = 0; i < 3 && rc == 0; ++i) rc = posix_spawn_file_actions_adddup2(&actions, childEnds[i], i);
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // The program starts with default handling of SIGPIPE (which we ignore)
    // and nothing blocked.
    sigset_t none, pipe;
    sigemptyset(&none);
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&attributes, &none);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&attributes, &pipe);
    if (rc == 0) rc = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (rc == 0) rc = posix_spawn(&pid, path, &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
#else
    (void)childEnds;
    (void)path;
    (void)argv;
    (void)pid;
    return ENOSYS;
#endif
}

// Moves a descriptor above 2, keeping it close-on-exec; false when it cannot.
bool liftAbove2(Descriptor& fd) {
    if (fd.get() > 2) return true;
    const int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0) return false;
    fd.reset(moved);
    return true;
}

// The fork path, where posix_spawn cannot serve.
[[noreturn]] void runChild(int childEnds[3], const char* path, char* const argv[], long openMax) {
    // Lift each end above 2 first, so that putting one in place cannot
    // overwrite another that happens to sit on 0, 1 or 2.
    for (int i = 0; i < 3; ++i) {
        if (childEnds[i] < 3) {
            int moved = ::fcntl(childEnds[i], F_DUPFD, 3);
            if (moved < 0) ::_exit(127);
            childEnds[i] = moved;
        }
    }
    for (int i = 0; i < 3; ++i) {
        if (::dup2(childEnds[i], i) < 0) ::_exit(127);
    }
    closeDescriptorsAbove2(openMax);

    // The program starts with default signal handling and nothing blocked.
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    ::execv(path, argv);
    // Never exit(): that would flush a copy of the parent's stdio buffers.
    ::_exit(127);
}

}  // namespace

_process::~_process() {
    FILE** streams[3] = {&in, &out, &err};
    for (int i = 0; i < 3; ++i) {
        if (*streams[i] != nullptr) {
            std::fclose(*streams[i]);
            *streams[i] = nullptr;
        }
        fd[i].reset();
    }
    if (pid > 0 && !reaped) {
        int timeout = gReleaseTimeoutMs.load();
        if (!waitUntil(*this, Deadline::after(timeout)))
            killAndReap(*this);
    }
}

void setCloseOnExec(int fd) {
    int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0) return;
    ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

Process Process::launch(const std::string& path, std::vector<std::string>& args) {
    if (!isFile(path)) throw FileNotFoundException();

    // All pipes are close-on-exec: no child inherits another child's ends.
    // Each end's owner closes it on every way out.
    Descriptor childEnds[3];
    Descriptor parentEnds[3];
    for (int i = 0; i < 3; ++i) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) throw Exception("Unknown Error", 0);
        // The child reads its input and writes the other two.
        childEnds[i].reset(ends[i == 0 ? 0 : 1]);
        parentEnds[i].reset(ends[i == 0 ? 1 : 0]);
    }

    // Built before fork: the child must not allocate.
    std::vector<std::string> argStore;
    argStore.reserve(args.size() + 1);
    argStore.push_back(path);
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(argStore.size() + 1);
    for (std::string& a : argStore) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    _process* record = new _process;
    Process handle(record);

    // A program that cannot be run makes posix_spawn fail without a child;
    // the fork path then runs it, so the caller still sees a child that
    // ends with status 127.
    pid_t pid = -1;
    bool lifted = true;
    for (Descriptor& fd : childEnds) lifted = liftAbove2(fd) && lifted;
    // The child's own copy: it changes the numbers, and owns nothing.
    int ends[3] = {childEnds[0].get(), childEnds[1].get(), childEnds[2].get()};
    if (!lifted || spawnChild(ends, path.c_str(), argv.data(), pid) != 0) {
        // Read before fork, for the child to use as it is.
        long openMax = ::sysconf(_SC_OPEN_MAX);
        if (openMax < 0 || openMax > (1L << 20)) openMax = 1L << 20;
        pid = ::fork();
        if (pid == 0) runChild(ends, path.c_str(), argv.data(), openMax);
    }
    for (Descriptor& fd : childEnds) fd.reset();
    if (pid < 0) throw Exception("Unknown Error", 0);
    record->pid = pid;
    for (int i = 0; i < 3; ++i) record->fd[i] = std::move(parentEnds[i]);

    args.insert(args.begin(), path);
    return handle;
}

namespace {

// The stream over end `i` of the record, made on first use; when it cannot
// be made the end is closed, as the child then sees.
FILE* streamOf(_process* p, int i) {
    if (p == nullptr) return nullptr;
    FILE** streams[3] = {&p->in, &p->out, &p->err};
    if (*streams[i] == nullptr && p->fd[i].isOpen()) {
        *streams[i] = ::fdopen(p->fd[i].get(), i == 0 ? "wb" : "rb");
        // The stream closes it from now on.
        if (*streams[i] != nullptr)
            p->fd[i].release();
        else
            p->fd[i].reset();
    }
    return *streams[i];
}

}  // namespace

FILE* Process::in() const { return streamOf(get(), 0); }
FILE* Process::out() const { return streamOf(get(), 1); }
FILE* Process::err() const { return streamOf(get(), 2); }

pid_t Process::pid() const { return get() != nullptr ? get()->pid : 0; }

int Process::exitStatus() const { return get() != nullptr && get()->reaped ? get()->status : -1; }

bool Process::isRunning() {
    _process* p = get();
    if (p == nullptr || p->pid <= 0 || p->reaped) return false;
    return waitOnce(*p, WNOHANG) == 0;
}

void Process::wait() {
    _process* p = get();
    if (p != nullptr) waitOnce(*p, 0);
}

bool Process::exists() {
    _process* p = get();
    if (p == nullptr || p->pid <= 0 || p->reaped) return false;
    return waitOnce(*p, WNOHANG) >= 0;
}

int Process::kill() {
    _process* p = get();
    if (p == nullptr || p->pid <= 0 || p->reaped) {
        errno = ESRCH;
        return -1;
    }
    return ::kill(p->pid, SIGKILL);
}

bool Process::waitFor(int timeoutMs) {
    _process* p = get();
    if (p == nullptr || p->pid <= 0) return false;
    return waitUntil(*p, Deadline::after(timeoutMs));
}

namespace {

// Reads the output and error ends until both end or the deadline passes;
// false when the time ran out. Each round reads once from every end that
// poll finds ready, so a busy end cannot starve the other, and a read after
// poll never blocks.
bool readEnds(_process& p, std::string* dest[2], const Deadline& deadline) {
    char buffer[65536];
    for (;;) {
        struct pollfd fds[2];
        int which[2];
        nfds_t count = 0;
        for (int i = 0; i < 2; ++i) {
            if (!p.fd[i + 1].isOpen()) continue;
            fds[count].fd = p.fd[i + 1].get();
            fds[count].events = POLLIN;
            fds[count].revents = 0;
            which[count] = i + 1;
            ++count;
        }
        if (count == 0) return true;
        const int left = deadline.remainingMs();
        if (left == 0) return false;
        const int ready = ::poll(fds, count, left);
        if (ready < 0 && errno == EINTR) continue;
        // Nothing sensible left to wait on.
        if (ready < 0) return false;
        for (nfds_t k = 0; k < count; ++k) {
            if (fds[k].revents == 0) continue;
            const int i = which[k];
            ssize_t n;
            do {
                n = ::read(p.fd[i].get(), buffer, sizeof buffer);
            } while (n < 0 && errno == EINTR);
            if (n > 0)
                dest[i - 1]->append(buffer, static_cast<size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                p.fd[i].reset();
        }
    }
}

// The same through the streams, for a caller that has read from one of
// them: what its reads left in the stream's buffer is not lost.
bool readStreams(_process& p, std::string* dest[2], const Deadline& deadline) {
    FILE* streams[2] = {streamOf(&p, 1), streamOf(&p, 2)};
    bool open[2];
    for (int i = 0; i < 2; ++i) {
        open[i] = streams[i] != nullptr && !std::feof(streams[i]);
        // Non-blocking reads through the stream itself.
        if (open[i]) setNonBlocking(streams[i], true);
    }

    bool timedOut = false;
    char buffer[65536];
    while (open[0] || open[1]) {
        for (int i = 0; i < 2; ++i) {
            if (!open[i]) continue;
            // A bounded number of full reads, so a busy stream cannot
            // starve the other or run past the deadline.
            for (int round = 0; round < 16; ++round) {
                errno = 0;
                size_t n = std::fread(buffer, 1, sizeof buffer, streams[i]);
                dest[i]->append(buffer, n);
                if (n == sizeof buffer) continue;
                if (std::feof(streams[i])) {
                    open[i] = false;
                } else if (std::ferror(streams[i])) {
                    bool again = errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
                    std::clearerr(streams[i]);
                    if (!again) open[i] = false;
                }
                break;
            }
        }
        if (!open[0] && !open[1]) break;

        int left = deadline.remainingMs();
        if (left == 0) {
            timedOut = true;
            break;
        }
        struct pollfd fds[2];
        nfds_t count = 0;
        for (int i = 0; i < 2; ++i) {
            if (!open[i]) continue;
            fds[count].fd = ::fileno(streams[i]);
            fds[count].events = POLLIN;
            fds[count].revents = 0;
            ++count;
        }
        if (::poll(fds, count, left) < 0 && errno != EINTR) {
            // Nothing sensible left to wait on.
            timedOut = true;
            break;
        }
    }

    for (int i = 0; i < 2; ++i)
        if (streams[i] != nullptr) setNonBlocking(streams[i], false);
    return !timedOut;
}

}  // namespace

bool Process::communicate(std::string& out, std::string& err, int timeoutMs) {
    _process* p = get();
    if (p == nullptr || p->pid <= 0) return false;
    const Deadline deadline = Deadline::after(timeoutMs);

    if (p->in != nullptr) {
        std::fclose(p->in);
        p->in = nullptr;
    }
    p->fd[0].reset();

    std::string* dest[2] = {&out, &err};
    // Straight from the descriptors unless a stream over one has been made.
    const bool inTime = p->out == nullptr && p->err == nullptr ? readEnds(*p, dest, deadline)
                                                                  : readStreams(*p, dest, deadline);
    bool ended = inTime && waitUntil(*p, deadline);
    if (!ended) killAndReap(*p);
    return ended;
}

void Process::setReleaseTimeout(int ms) { gReleaseTimeoutMs.store(ms); }

int Process::releaseTimeout() { return gReleaseTimeoutMs.load(); }

}  // namespace qdl
