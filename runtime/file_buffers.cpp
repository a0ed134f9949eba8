#include "runtime/file_buffers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ios>
#include <system_error>
#include <utility>

#include "runtime/files.h"

namespace qdl {

InputFile::InputFile(const std::string& path, bool regularOnly) : block_(new char[kBlockSize]) {
    setg(block_.get(), block_.get(), block_.get());
    fd_.reset(qdl::openFile(path, O_RDONLY | O_NOCTTY | (regularOnly ? O_NONBLOCK : 0)));
    if (!fd_.isOpen() || !regularOnly) return;
    struct stat st;
    if (::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        close();
        return;
    }
    const int flags = ::fcntl(fd_.get(), F_GETFL);
    if (flags != -1) ::fcntl(fd_.get(), F_SETFL, flags & ~O_NONBLOCK);
}

InputFile::~InputFile() { close(); }

void InputFile::close() {
    fd_.reset();
    setg(block_.get(), block_.get(), block_.get());
}

std::size_t InputFile::readAt(char* to, std::size_t n, off_t at) {
    if (!fd_.isOpen()) return 0;
    ssize_t got;
    do {
        got = ::pread(fd_.get(), to, n, at);
    } while (got < 0 && errno == EINTR);
    if (got < 0) throw std::ios_base::failure("error reading the file", std::error_code(errno, std::generic_category()));
    return static_cast<std::size_t>(got);
}

InputFile::int_type InputFile::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    start_ += egptr() - eback();
    setg(block_.get(), block_.get(), block_.get());
    const std::size_t n = readAt(block_.get(), nextRead_, start_);
    if (nextRead_ < kBlockSize) nextRead_ *= 2;
    if (n == 0) return traits_type::eof();
    setg(block_.get(), block_.get(), block_.get() + n);
    return traits_type::to_int_type(*gptr());
}

std::streamsize InputFile::xsgetn(char* to, std::streamsize n) {
    if (gptr() < egptr() || n < static_cast<std::streamsize>(kBlockSize / 2)) return std::streambuf::xsgetn(to, n);
    // Past the block: the next read starts where it ends.
    start_ += egptr() - eback();
    setg(block_.get(), block_.get(), block_.get());
    std::streamsize got = 0;
    while (got < n) {
        const std::size_t r = readAt(to + got, static_cast<std::size_t>(n - got), start_);
        if (r == 0) break;
        got += static_cast<std::streamsize>(r);
        start_ += static_cast<off_t>(r);
    }
    return got;
}

InputFile::pos_type InputFile::seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) {
    if (!fd_.isOpen() || !(which & std::ios_base::in)) return pos_type(off_type(-1));
    off_type base = 0;
    if (dir == std::ios_base::cur) {
        base = start_ + (gptr() - eback());
    } else if (dir == std::ios_base::end) {
        struct stat st;
        if (::fstat(fd_.get(), &st) != 0) return pos_type(off_type(-1));
        base = st.st_size;
    }
    return seekpos(pos_type(base + off), which);
}

InputFile::pos_type InputFile::seekpos(pos_type pos, std::ios_base::openmode which) {
    const off_type at = off_type(pos);
    if (!fd_.isOpen() || !(which & std::ios_base::in) || at < 0) return pos_type(off_type(-1));
    if (at >= start_ && at <= start_ + (egptr() - eback())) {
        setg(eback(), eback() + (at - start_), egptr());
    } else {
        start_ = at;
        nextRead_ = kFirstRead;
        setg(block_.get(), block_.get(), block_.get());
    }
    return pos;
}

InputStream::InputStream(const std::string& path, bool regularOnly) : std::istream(nullptr), file_(path, regularOnly) {
    rdbuf(&file_);
    if (!file_.isOpen()) setstate(std::ios::failbit);
}

OutputFile::OutputFile(Descriptor fd) : fd_(std::move(fd)), block_(new char[kRoomLimit]) {
    setp(block_.get(), block_.get() + kRoomLimit);
}

OutputFile::OutputFile(const std::string& path, int flags) : OutputFile(Descriptor(qdl::openFile(path, flags))) {}

OutputFile::~OutputFile() = default;

char* OutputFile::room(std::size_t n) {
    if (static_cast<std::size_t>(epptr() - pptr()) < n) flush();
    return pptr();
}

bool OutputFile::flush() {
    const char* from = pbase();
    std::size_t left = static_cast<std::size_t>(pptr() - pbase());
    while (left > 0 && !failed_) {
        const ssize_t n = fd_.isOpen() ? ::write(fd_.get(), from, left) : -1;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            break;
        }
        from += n;
        left -= static_cast<std::size_t>(n);
    }
    // After a failed write the rest is dropped: the stream and close() tell.
    setp(block_.get(), block_.get() + kRoomLimit);
    return !failed_;
}

OutputFile::int_type OutputFile::overflow(int_type c) {
    if (!flush()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

std::streamsize OutputFile::xsputn(const char* from, std::streamsize n) {
    std::streamsize done = 0;
    while (done < n) {
        if (pptr() == epptr() && !flush()) break;
        std::size_t take = static_cast<std::size_t>(epptr() - pptr());
        if (take > static_cast<std::size_t>(n - done)) take = static_cast<std::size_t>(n - done);
        std::memcpy(pptr(), from + done, take);
        pbump(static_cast<int>(take));
        done += static_cast<std::streamsize>(take);
    }
    return done;
}

int OutputFile::sync() { return flush() ? 0 : -1; }

bool OutputFile::close(bool syncData) {
    if (!fd_.isOpen()) return false;
    bool ok = flush();
    if (ok && syncData && ::fsync(fd_.get()) != 0) ok = false;
    if (!fd_.close()) ok = false;
    return ok;
}

OutputStream::OutputStream(Descriptor fd) : std::ostream(nullptr), file_(std::move(fd)) {
    rdbuf(&file_);
    if (!file_.isOpen()) setstate(std::ios::failbit);
}

OutputStream::OutputStream(const std::string& path, int flags) : std::ostream(nullptr), file_(path, flags) {
    rdbuf(&file_);
    if (!file_.isOpen()) setstate(std::ios::failbit);
}

bool OutputStream::finish(bool syncData) {
    flush();
    const bool written = good();
    return file_.close(syncData) && written;
}

}  // namespace qdl
