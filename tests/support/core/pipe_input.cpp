#include "support/core/pipe_input.h"

#include <unistd.h>

#include <cerrno>

namespace testsupport {

PipeInput::PipeInput() : stream_(&buffer_) {
    int ends[2];
    if (::pipe(ends) != 0) {
        stream_.setstate(std::ios::badbit);
        return;
    }
    buffer_.fd = ends[0];
    writeEnd_ = ends[1];
}

PipeInput::~PipeInput() {
    close();
    if (buffer_.fd >= 0) ::close(buffer_.fd);
}

void PipeInput::send(const std::string& text) {
    std::size_t done = 0;
    while (writeEnd_ >= 0 && done < text.size()) {
        const ssize_t n = ::write(writeEnd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
}

void PipeInput::close() {
    if (writeEnd_ >= 0) ::close(writeEnd_);
    writeEnd_ = -1;
}

PipeInput::Buffer::int_type PipeInput::Buffer::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    ssize_t n;
    do {
        n = ::read(fd, data, sizeof data);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        ended.signal();
        return traits_type::eof();
    }
    setg(data, data, data + n);
    return traits_type::to_int_type(*gptr());
}

}  // namespace testsupport
