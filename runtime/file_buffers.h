#pragma once
// Files read and written through their descriptors in large blocks. A file
// stream of the library reads a message in blocks of 8 KiB, reads its first
// block again after each seek to the start, and hands every write of a
// kilobyte or more to the system on its own; each of those costs a call.
//
// Reading: a read error throws std::ios_base::failure, as a file stream of
// the library does, so that the stream (and the line cursor) marks itself
// bad. Writing: a failed write fails the stream, and close() tells.
#include <sys/types.h>

#include <cstddef>
#include <istream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "runtime/descriptor.h"

namespace qdl {

class InputFile : public std::streambuf {
public:
    // Opens `path` for reading. With `regularOnly` anything that is not a
    // regular file is refused without waiting (a FIFO would stall the open).
    explicit InputFile(const std::string& path, bool regularOnly = false);
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool isOpen() const { return fd_.isOpen(); }
    void close();

protected:
    int_type underflow() override;
    // A read of half a block or more, with nothing buffered, goes straight
    // into the reader's memory: the same reads, one copy less.
    std::streamsize xsgetn(char* to, std::streamsize n) override;
    // Inside the block held, a seek moves no data.
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;

private:
    static constexpr std::size_t kBlockSize = 64 * 1024;
    // After the open and after a seek out of the block, reads start this
    // small and double: the copy reads a few header lines and then jumps
    // over the part it replaces, and need not take a whole block for them.
    static constexpr std::size_t kFirstRead = 4 * 1024;

    // One read at `at`, retried on EINTR; throws on an error.
    std::size_t readAt(char* to, std::size_t n, off_t at);

    Descriptor fd_;
    off_t start_ = 0;  // the file offset of the block's first byte
    std::size_t nextRead_ = kFirstRead;
    std::unique_ptr<char[]> block_;
};

class InputStream : public std::istream {
public:
    explicit InputStream(const std::string& path, bool regularOnly = false);
    bool is_open() const { return file_.isOpen(); }
    void close() { file_.close(); }

private:
    InputFile file_;
};

class OutputFile : public std::streambuf {
public:
    // Takes over an open descriptor (none: every write fails).
    explicit OutputFile(Descriptor fd);
    // Opens `path` with `flags` (O_WRONLY and the like; close-on-exec is added).
    OutputFile(const std::string& path, int flags);
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool isOpen() const { return fd_.isOpen(); }

    // Room for `n` bytes (at most kRoomLimit) after what is held, for a
    // writer that fills it itself; what it wrote counts once commit() says
    // how much it was.
    char* room(std::size_t n);
    void commit(std::size_t n) { pbump(static_cast<int>(n)); }
    static constexpr std::size_t kRoomLimit = 64 * 1024;

    // Writes what is held, syncs the data when `syncData`, and closes the
    // file. False when it was never open, or any write, the sync or the
    // close failed.
    bool close(bool syncData = false);

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* from, std::streamsize n) override;
    // Writes what is held: what a flush of the stream asks for.
    int sync() override;

private:
    bool flush();

    Descriptor fd_;
    bool failed_ = false;
    std::unique_ptr<char[]> block_;
};

class OutputStream : public std::ostream {
public:
    explicit OutputStream(Descriptor fd);
    OutputStream(const std::string& path, int flags);
    bool is_open() const { return file_.isOpen(); }
    OutputFile& file() { return file_; }
    // Flushes, then closes as OutputFile::close does; false also when the
    // stream itself has failed.
    bool finish(bool syncData);

private:
    OutputFile file_;
};

}  // namespace qdl
