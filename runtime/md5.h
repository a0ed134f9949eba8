#pragma once
// The MD5 message digest of RFC 1321, fed in pieces. The APOP login hashes
// its stamp and password with it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qdl {

class MD5 {
public:
    MD5();
    ~MD5() {}

    // False, with no effect, once finalized.
    bool update(const char* data, unsigned length);
    bool update(const std::string& text);

    // Pads and finishes on the first call; later calls return the same 16
    // bytes. The working state is cleared once the digest is taken.
    const unsigned char* finalize();
    void digest(unsigned char out[16]);

    // 32 lower-case hexadecimal digits, high nibble first.
    static std::string hexDigest(const unsigned char digest[16]);

private:
    void feed(const unsigned char* data, std::size_t length);

    uint32_t state_[4];
    uint32_t count_[2];  // bits fed so far, low word first
    unsigned char buffer_[64];
    unsigned char digest_[16];
    bool finalized_;
};

}  // namespace qdl
