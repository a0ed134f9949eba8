#pragma once
// An input buffer that serves a text and then fails the way a file buffer
// fails on an I/O error: by throwing from the read.
#include <ios>
#include <streambuf>
#include <string>

namespace testsupport {

class FailingBuffer : public std::streambuf {
public:
    explicit FailingBuffer(const std::string& text) : text_(text) {
        setg(&text_[0], &text_[0], &text_[0] + text_.size());
    }

protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        throw std::ios_base::failure("read error");
    }
    // Positions within the text, as a file buffer gives them.
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
        const off_type base = dir == std::ios_base::beg ? 0 : dir == std::ios_base::cur ? gptr() - eback()
                                                                                        : egptr() - eback();
        return seekpos(pos_type(base + off), std::ios_base::in);
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode) override {
        const off_type at = off_type(pos);
        if (at < 0 || at > egptr() - eback()) return pos_type(off_type(-1));
        setg(eback(), eback() + at, egptr());
        return pos;
    }

private:
    std::string text_;
};

}  // namespace testsupport
