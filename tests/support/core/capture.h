#pragma once
// Captures what the process writes to its standard output (descriptor 1)
// between construction and text().
#include <string>

namespace testsupport {

class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    // Stops capturing (once) and returns everything written meanwhile.
    std::string text();

private:
    int saved_ = -1;
    int file_ = -1;
    std::string text_;
    bool done_ = false;
};

}  // namespace testsupport
