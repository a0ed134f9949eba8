#include "filter/lines.h"

#include <cstring>
#include <iostream>

namespace cgp {

namespace {

typedef std::char_traits<char> Traits;

// Read-ahead block: more than a file buffer holds, so that each block costs
// the stream one read at most.
const std::size_t kBlockSize = 16 * 1024;

}  // namespace

std::size_t headLimitFor(std::size_t pieceLimit, const std::string& boundaryLine) {
    std::size_t limit = pieceLimit == 0 ? 1 : pieceLimit;
    if (limit <= boundaryLine.size() + 2) limit = boundaryLine.size() + 3;
    return limit;
}

bool isDelimiterLine(const char* line, std::size_t size, const std::string& boundaryLine) {
    const std::size_t n = boundaryLine.size();
    if (size != n && (size != n + 2 || line[n] != '-' || line[n + 1] != '-')) return false;
    return std::memcmp(line, boundaryLine.data(), n) == 0;
}

bool isDelimiterLine(const std::string& line, const std::string& boundaryLine) {
    return isDelimiterLine(line.data(), line.size(), boundaryLine);
}

LineCursor::LineCursor(std::istream& in, bool readAhead) : in_(in), sb_(in.rdbuf()) {
    interactive_ = sb_ != nullptr && sb_ == std::cin.rdbuf();
    readAhead_ = readAhead && sb_ != nullptr && !interactive_;
    if (readAhead_) {
        try {
            base_ = static_cast<std::streamoff>(sb_->pubseekoff(0, std::ios::cur, std::ios::in));
        } catch (...) {
            base_ = -1;
        }
        // What is taken and not used could not be given back.
        if (base_ < 0) readAhead_ = false;
    }
    if (readAhead_) {
        block_.reset(new char[kBlockSize]);
        buffer_ = block_.get();
        capacity_ = kBlockSize;
    }
}

LineCursor::~LineCursor() {
    if (readAhead_ && pos_ < end_) {
        try {
            sb_->pubseekpos(base_ + static_cast<std::streamoff>(pos_), std::ios::in);
        } catch (...) {
        }
    }
}

std::streamoff LineCursor::position() const {
    if (base_ < 0 || in_.bad()) return -1;
    return base_ + static_cast<std::streamoff>(pos_);
}

// Takes the next block from the stream once the buffer is used up. Only
// bytes already in the stream's own buffer are taken, after at most one
// read: a read that fails then loses nothing, and the same bytes are seen
// before the failure as when the stream is read a byte at a time. Without
// read-ahead it takes the one byte about to be read.
bool LineCursor::fill() {
    if (base_ >= 0) base_ += static_cast<std::streamoff>(end_);
    pos_ = end_ = 0;
    if (!readAhead_) {
        const int c = sb_->sbumpc();
        if (Traits::eq_int_type(c, Traits::eof())) return false;
        buffer_[0] = Traits::to_char_type(c);
        end_ = 1;
    } else {
        if (Traits::eq_int_type(sb_->sgetc(), Traits::eof())) return false;
        std::streamsize ready = sb_->in_avail();
        if (ready <= 0) ready = 1;
        if (static_cast<std::size_t>(ready) > capacity_) ready = static_cast<std::streamsize>(capacity_);
        const std::streamsize n = sb_->sgetn(buffer_, ready);
        end_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    findCr();
    return end_ > 0;
}

void LineCursor::findCr() {
    const void* cr = std::memchr(buffer_ + pos_, '\r', end_ - pos_);
    cr_ = cr != nullptr ? static_cast<std::size_t>(static_cast<const char*>(cr) - buffer_) : end_;
}

// The first LF or CR among the n bytes from pos_, or null. Most messages
// hold no CR at all: the next one is looked for once per block, not once
// per line.
const char* LineCursor::findLineEnd(std::size_t n) {
    if (cr_ < pos_) findCr();
    const char* from = buffer_ + pos_;
    const char* lf = static_cast<const char*>(std::memchr(from, '\n', n));
    const std::size_t before = lf != nullptr ? static_cast<std::size_t>(lf - from) : n;
    return cr_ < pos_ + before ? buffer_ + cr_ : lf;
}

bool LineCursor::ready() {
    // What the stream's own sentry does for an unformatted read.
    if (in_.good() && in_.tie() != nullptr) in_.tie()->flush();
    if (in_.good()) return true;
    in_.setstate(std::ios::failbit);
    return false;
}

int LineCursor::peek() {
    if (pos_ < end_) return Traits::to_int_type(buffer_[pos_]);
    // Without read-ahead a byte is only looked at, so that it stays in the
    // stream for whoever reads next.
    if (!readAhead_) return sb_->sgetc();
    if (!fill()) return Traits::eof();
    return Traits::to_int_type(buffer_[pos_]);
}

void LineCursor::take() {
    if (pos_ < end_)
        ++pos_;
    else
        sb_->sbumpc();
}

bool LineCursor::available() const { return pos_ < end_ || sb_->in_avail() > 0; }

// After the line end `end`: the other half of a pair belongs to it. The
// standard input has no read-ahead of its own: there a pair is joined only
// when its second half has already arrived.
bool LineCursor::finishLine(int end) {
    if (!interactive_ || available()) {
        const int next = peek();
        if (next == (end == '\n' ? '\r' : '\n'))
            take();
        else if (Traits::eq_int_type(next, Traits::eof()))
            in_.setstate(std::ios::eofbit);
    }
    return true;
}

bool LineCursor::wholeLine(const char*& data, std::size_t& size, std::size_t limit) {
    // Only where piece() would read the line the same way without touching
    // the stream: it lies in the buffer with the byte after its end, and it
    // is shorter than the limit.
    if (end_ - pos_ < 2 || !in_.good() || in_.tie() != nullptr) return false;
    const std::size_t n = end_ - pos_ - 1 < limit ? end_ - pos_ - 1 : limit;
    const char* lineEnd = findLineEnd(n);
    if (lineEnd == nullptr) return false;
    data = buffer_ + pos_;
    size = static_cast<std::size_t>(lineEnd - data);
    pos_ += size + 1;
    if (buffer_[pos_] == (*lineEnd == '\n' ? '\r' : '\n')) ++pos_;
    metEnd_ = false;
    return true;
}

bool LineCursor::piece(std::string& piece, std::size_t limit) {
    if (limit == 0) limit = 1;
    const char* data;
    std::size_t size;
    if (wholeLine(data, size, limit)) {
        piece.assign(data, size);
        return true;
    }
    if (!ready()) return true;
    metEnd_ = false;
    piece.clear();
    // A file buffer throws when the read itself fails (an I/O error). As the
    // stream's own input functions do, that marks the stream bad instead of
    // leaving the reader: callers tell a broken read by the state.
    try {
        if (Traits::eq_int_type(peek(), Traits::eof())) {
            in_.setstate(std::ios::eofbit | std::ios::failbit);
            metEnd_ = true;
            return true;
        }
        for (;;) {
            if (piece.size() >= limit) {
                // A line end right after the limit still ends this piece, so
                // a cut piece is always followed by more of its line.
                const int c = peek();
                if (Traits::eq_int_type(c, Traits::eof())) {
                    in_.setstate(std::ios::eofbit);
                    metEnd_ = true;
                    return true;
                }
                if (c != '\n' && c != '\r') return false;
                take();
                return finishLine(c);
            }
            if (pos_ == end_ && !fill()) {
                in_.setstate(std::ios::eofbit);
                metEnd_ = true;
                return true;
            }
            const char* from = buffer_ + pos_;
            std::size_t n = end_ - pos_;
            if (n > limit - piece.size()) n = limit - piece.size();
            const char* lineEnd = findLineEnd(n);
            if (lineEnd != nullptr) {
                piece.append(from, static_cast<std::size_t>(lineEnd - from));
                pos_ += static_cast<std::size_t>(lineEnd - from) + 1;
                return finishLine(*lineEnd);
            }
            piece.append(from, n);
            pos_ += n;
        }
    } catch (const std::ios_base::failure&) {
        in_.setstate(std::ios::badbit);
    }
    return true;
}

void LineCursor::skipRest() {
    if (!ready()) return;
    metEnd_ = false;
    try {
        for (;;) {
            if (pos_ == end_ && !fill()) {
                in_.setstate(std::ios::eofbit);
                metEnd_ = true;
                return;
            }
            const char* from = buffer_ + pos_;
            const char* lineEnd = findLineEnd(end_ - pos_);
            if (lineEnd != nullptr) {
                pos_ += static_cast<std::size_t>(lineEnd - from) + 1;
                finishLine(*lineEnd);
                return;
            }
            pos_ = end_;
        }
    } catch (const std::ios_base::failure&) {
        in_.setstate(std::ios::badbit);
    }
}

bool LineCursor::head(std::string& head, std::size_t limit) {
    if (piece(head, limit)) return true;
    skipRest();
    return false;
}

void LineCursor::seek(std::streamoff offset) {
    in_.clear(in_.rdstate() & ~std::ios::eofbit);
    std::istream::sentry guard(in_, true);
    if (!guard || in_.fail()) return;
    metEnd_ = false;
    if (readAhead_ && offset >= base_ && offset <= base_ + static_cast<std::streamoff>(end_)) {
        // Still in the buffer: the stream is not asked again.
        pos_ = static_cast<std::size_t>(offset - base_);
        findCr();
        return;
    }
    try {
        if (sb_->pubseekpos(offset, std::ios::in) == std::streampos(-1)) {
            in_.setstate(std::ios::failbit);
            return;
        }
    } catch (...) {
        in_.setstate(std::ios::badbit);
        return;
    }
    pos_ = end_ = 0;
    if (readAhead_) base_ = offset;
}

bool readLinePiece(std::istream& in, std::string& piece, std::size_t limit) {
    LineCursor cursor(in, false);
    return cursor.piece(piece, limit);
}

bool readLineHead(std::istream& in, std::string& head, std::size_t limit) {
    LineCursor cursor(in, false);
    return cursor.head(head, limit);
}

}  // namespace cgp
