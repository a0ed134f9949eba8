#pragma once
// An input stream fed by the test through a pipe, a piece at a time, as the
// server feeds request lines; the reading side tells when it met the end.
#include <istream>
#include <streambuf>
#include <string>

#include "runtime/thread.h"

namespace testsupport {

class PipeInput {
public:
    PipeInput();
    ~PipeInput();
    PipeInput(const PipeInput&) = delete;
    PipeInput& operator=(const PipeInput&) = delete;

    std::istream& stream() { return stream_; }
    // Writes the text whole. A text of at most PIPE_BUF bytes arrives in one
    // read, so a CR LF sent together is joined without a wait for more.
    void send(const std::string& text);
    // Ends the input (once).
    void close();
    // Waits at most ms until the reader has met the end of the input.
    bool waitForEnd(int ms) { return buffer_.ended.timedWait(ms); }

private:
    struct Buffer : std::streambuf {
        int fd = -1;
        char data[4096];
        qdl::Event ended;
        int_type underflow() override;
    };

    int writeEnd_ = -1;
    Buffer buffer_;
    std::istream stream_;
};

}  // namespace testsupport
