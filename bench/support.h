#pragma once
// What the benchmarks share: random input data, and running a system command
// against our own code in the same run (the command reads a file and writes
// to /dev/null, timed on the wall clock).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

// The same bytes on every run for one seed.
inline std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::string raw(size, '\0');
    for (size_t i = 0; i + 8 <= raw.size(); i += 8) {
        unsigned long long v = rng();
        for (int k = 0; k < 8; ++k) raw[i + k] = static_cast<char>(v >> (8 * k));
    }
    return raw;
}

// The first of the paths that can be run; empty when none can.
inline std::string findProgram(const std::vector<std::string>& paths) {
    for (const std::string& p : paths)
        if (::access(p.c_str(), X_OK) == 0) return p;
    return std::string();
}

// Runs the command with its input from a file and its output to /dev/null;
// returns the wall time in seconds, or a negative value on failure.
inline double runCommand(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    std::vector<std::string> copy(args);
    copy.insert(copy.begin(), program);
    for (std::string& a : copy) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    auto start = std::chrono::steady_clock::now();
    pid_t pid;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::chrono::duration<double>(end - start).count();
}

}  // namespace bench
