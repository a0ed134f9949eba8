#pragma once
// Child programs with their standard input, output and error on pipes.
// The program is started with posix_spawn (fork and execv where that cannot
// serve), never through a shell, and inherits no other descriptor.
#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/descriptor.h"
#include "runtime/exception.h"
#include "runtime/handle.h"

namespace qdl {

// The record behind a Process handle. Destroying it closes the streams
// (input first, so the child sees the end of its input), then waits a bounded
// time for the child and kills it if it is still there.
struct _process {
    pid_t pid = 0;         // 0 when no child was started
    // Our ends of the child's standard input, output and error, until they
    // are closed or a stream is made over one (only when it is asked for),
    // which then owns it.
    Descriptor fd[3];
    FILE* in = nullptr;    // writes to the child's standard input
    FILE* out = nullptr;   // reads the child's standard output
    FILE* err = nullptr;   // reads the child's standard error
    int status = -1;       // raw wait status once reaped
    bool reaped = false;

    _process() = default;
    _process(const _process&) = delete;
    _process& operator=(const _process&) = delete;
    ~_process();
};

class Process : private ptr<_process> {
public:
    Process() {}
    Process(const Process& other) = default;
    Process& operator=(const Process& other) = default;
    ~Process() override {}

    // Starts path with args (without the program name); on return args holds
    // path at its front. Throws FileNotFoundException when path is not a file
    // (args untouched), Exception("Unknown Error") when no child can be made.
    // A child whose execv fails ends with status 127.
    static Process launch(const std::string& path, std::vector<std::string>& args);

    // The streams belong to the record: read and write them, never close them.
    // Each is made when first asked for; null when it cannot be.
    FILE* in() const;
    FILE* out() const;
    FILE* err() const;

    bool isRunning();  // reaps a child that has ended
    void wait();       // blocks until the child is reaped
    bool exists();     // a child that has ended exists once more, as it is reaped
    int kill();        // SIGKILL; -1 once the child is reaped (its id may be reused)

    // Closes the child's input, reads its output and error together until
    // both end or timeoutMs passes, then kills the child if the time ran out,
    // and reaps it. True when the child ended by itself in time.
    bool communicate(std::string& out, std::string& err, int timeoutMs);

    // Waits at most timeoutMs; true when the child was reaped in time.
    bool waitFor(int timeoutMs);

    // The raw wait status of the reaped child, -1 while not known.
    int exitStatus() const;
    pid_t pid() const;

    // How long releasing the last handle waits before it kills the child.
    static void setReleaseTimeout(int ms);
    static int releaseTimeout();

private:
    explicit Process(_process* record) : ptr<_process>(record) {}
};

// Adds FD_CLOEXEC to the descriptor's flags; does nothing when they cannot be read.
void setCloseOnExec(int fd);

}  // namespace qdl
