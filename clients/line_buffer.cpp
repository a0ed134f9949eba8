#include "clients/line_buffer.h"

#include <cstring>

#include "clients/net_exception.h"

namespace qdl {

LineBuffer::LineBuffer(Ends ends, std::size_t maxLength) : ends_(ends), maxLength_(maxLength) {}

void LineBuffer::feed(const char* data, std::size_t length) {
    if (length == 0) return;
    // Taken lines go before the buffer grows, so it holds at most one
    // unfinished line and the chunk.
    if (start_ > 0) {
        data_.erase(0, start_);
        start_ = 0;
    }
    if (skipLineFeed_) {
        skipLineFeed_ = false;
        if (data[0] == '\n') {
            ++data;
            --length;
        }
    }
    data_.append(data, length);
}

bool LineBuffer::next(std::string& line) {
    const char* base = data_.data() + start_;
    const std::size_t available = data_.size() - start_;
    std::size_t end = scanned_;
    for (; end < available; ++end) {
        const char c = base[end];
        if (c == '\n' || (c == '\r' && ends_ == Ends::any)) break;
    }
    if (end > maxLength_) {
        clear();
        throw ProtocolException("line longer than " + std::to_string(maxLength_) + " bytes");
    }
    if (end == available) {
        scanned_ = end;
        return false;
    }
    std::size_t consumed = end + 1;
    std::size_t length = end;
    if (ends_ == Ends::lineFeed) {
        if (length > 0 && base[length - 1] == '\r') --length;
    } else if (base[end] == '\r') {
        if (consumed < available) {
            if (base[consumed] == '\n') ++consumed;
        } else {
            skipLineFeed_ = true;
        }
    }
    line.assign(base, length);
    start_ += consumed;
    scanned_ = 0;
    if (start_ == data_.size()) {
        data_.clear();
        start_ = 0;
    }
    return true;
}

std::string LineBuffer::takeRest() {
    std::string rest = data_.substr(start_);
    data_.clear();
    start_ = scanned_ = 0;
    return rest;
}

void LineBuffer::discard() {
    data_.clear();
    start_ = scanned_ = 0;
}

void LineBuffer::clear() {
    discard();
    skipLineFeed_ = false;
}

}  // namespace qdl
