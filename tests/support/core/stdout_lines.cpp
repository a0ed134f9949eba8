#include "support/core/stdout_lines.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>

namespace testsupport {

StdoutLines::StdoutLines() {
    std::cout.flush();
    std::fflush(stdout);
    int ends[2];
    if (::pipe(ends) != 0) return;
    readEnd_ = ends[0];
    saved_ = ::dup(1);
    ::dup2(ends[1], 1);
    // Descriptor 1 is then the only write end: giving it back ends the reader.
    ::close(ends[1]);
    reader_ = std::thread(&StdoutLines::readAll, this);
}

StdoutLines::~StdoutLines() { stop(); }

void StdoutLines::readAll() {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(readEnd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::lock_guard<std::mutex> guard(mutex_);
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\n') {
                lines_.push_back(partial_);
                partial_.clear();
            } else {
                partial_ += buf[i];
            }
        }
        changed_.notify_all();
    }
}

bool StdoutLines::waitFor(const std::function<bool(const std::string&)>& match, std::size_t count, int ms) {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, std::chrono::milliseconds(ms), [&] {
        std::size_t seen = 0;
        for (const std::string& line : lines_)
            if (match(line)) ++seen;
        return seen >= count;
    });
}

bool StdoutLines::waitForLine(const std::string& line, int ms, std::size_t count) {
    return waitFor([&](const std::string& l) { return l == line; }, count, ms);
}

std::vector<std::string> StdoutLines::lines() {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
}

std::vector<std::string> StdoutLines::stop() {
    if (!stopped_ && saved_ >= 0) {
        stopped_ = true;
        std::cout.flush();
        std::fflush(stdout);
        ::dup2(saved_, 1);
        ::close(saved_);
        reader_.join();
        ::close(readEnd_);
        if (!partial_.empty()) lines_.push_back(partial_);
        partial_.clear();
    }
    return lines();
}

}  // namespace testsupport
