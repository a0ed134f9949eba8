#include "runtime/siphash.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qdl {

namespace {

inline std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

inline std::uint64_t readLittleEndian(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

struct State {
    std::uint64_t v0, v1, v2, v3;

    void round() {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    }
    void compress(std::uint64_t m) {
        v3 ^= m;
        round();
        round();
        v0 ^= m;
    }
};

bool fillRandom(unsigned char* out, std::size_t length) {
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n = ::getrandom(out + got, length - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            break;
        }
    }
    if (got == length) return true;
    // A kernel without getrandom: the device.
    int fd;
    do {
        fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    got = 0;
    while (got < length) {
        const ssize_t n = ::read(fd, out + got, length - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fd);
    return got == length;
}

struct ProcessKey {
    unsigned char bytes[16];
    ProcessKey() {
        if (fillRandom(bytes, sizeof bytes)) return;
        // No random source at all: a key that at least differs from process
        // to process and from run to run.
        timeval now;
        ::gettimeofday(&now, nullptr);
        const std::uint64_t parts[2] = {
            static_cast<std::uint64_t>(now.tv_sec) * 1000003u ^ static_cast<std::uint64_t>(now.tv_usec),
            static_cast<std::uint64_t>(::getpid()) << 32 ^ reinterpret_cast<std::uintptr_t>(this)};
        std::memcpy(bytes, parts, sizeof bytes);
    }
};

}  // namespace

std::uint64_t sipHash24(const unsigned char key[16], const void* data, std::size_t length) {
    const std::uint64_t k0 = readLittleEndian(key);
    const std::uint64_t k1 = readLittleEndian(key + 8);
    State s{k0 ^ 0x736f6d6570736575ULL, k1 ^ 0x646f72616e646f6dULL, k0 ^ 0x6c7967656e657261ULL,
            k1 ^ 0x7465646279746573ULL};
    const unsigned char* p = static_cast<const unsigned char*>(data);
    const unsigned char* const whole = p + (length & ~static_cast<std::size_t>(7));
    for (; p != whole; p += 8) s.compress(readLittleEndian(p));
    // The last word: the bytes left over, and the length's low byte on top.
    std::uint64_t last = static_cast<std::uint64_t>(length & 0xff) << 56;
    for (std::size_t i = 0; i < (length & 7); ++i) last |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    s.compress(last);
    s.v2 ^= 0xff;
    for (int i = 0; i < 4; ++i) s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

std::uint64_t keyedHash(const void* data, std::size_t length) {
    static const ProcessKey key;
    return sipHash24(key.bytes, data, length);
}

}  // namespace qdl
