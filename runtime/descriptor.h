#pragma once
// The owner of one open file descriptor. It closes the descriptor once, when
// it goes or is given another, and never retries a close: after EINTR the
// descriptor is gone all the same, and its number may already be another's.
// Moved, never copied, so that one object alone closes each descriptor.
namespace qdl {

class Descriptor {
public:
    Descriptor() = default;
    // Takes over `fd` (-1: holds none).
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }

    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        reset(other.release());
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

    // The descriptor, now the caller's to close; this one holds none after.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes what is held and holds `fd` instead.
    void reset(int fd = -1);
    // Closes what is held now. False when nothing was held or the close
    // reported an error other than EINTR (which Linux reports with the
    // descriptor already closed): a write the system had kept back failed.
    bool close();

private:
    int fd_ = -1;
};

}  // namespace qdl
