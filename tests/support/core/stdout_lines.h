#pragma once
// Captures what the process writes to its standard output (descriptor 1)
// through a pipe, line by line, while other threads write: a test can wait,
// bounded, for the lines it expects.
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class StdoutLines {
public:
    StdoutLines();
    ~StdoutLines();
    StdoutLines(const StdoutLines&) = delete;
    StdoutLines& operator=(const StdoutLines&) = delete;

    // Waits at most ms for `count` lines so far that match; true when they came.
    bool waitFor(const std::function<bool(const std::string&)>& match, std::size_t count, int ms);
    bool waitForLine(const std::string& line, int ms, std::size_t count = 1);
    // The whole lines so far, without their line feeds.
    std::vector<std::string> lines();
    // Stops capturing (once): gives descriptor 1 back, reads what is left,
    // and returns every line; a last piece without a line feed counts as one.
    std::vector<std::string> stop();

private:
    void readAll();

    int saved_ = -1;
    int readEnd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::string partial_;
    bool stopped_ = false;
};

}  // namespace testsupport
