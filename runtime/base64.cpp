#include "runtime/base64.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QDL_BASE64_AVX2 1
#endif

namespace qdl {

namespace {

const char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kSecond[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

const unsigned char kPad = 127;
const unsigned char kInvalid = 255;

// Four bytes as they lie in memory, read as one word: the tables are built
// through this, so they hold the same bytes on any byte order.
constexpr uint32_t wordOf(unsigned char b0, unsigned char b1, unsigned char b2, unsigned char b3) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<uint32_t>(b0) << 24 | static_cast<uint32_t>(b1) << 16 | static_cast<uint32_t>(b2) << 8 | b3;
#else
    return static_cast<uint32_t>(b3) << 24 | static_cast<uint32_t>(b2) << 16 | static_cast<uint32_t>(b1) << 8 | b0;
#endif
}

// Padding and invalid characters set the top bit of a group's fourth byte,
// so one test finds a group that needs the careful path.
constexpr uint32_t kBadWord = wordOf(0, 0, 0, 0x80);

// Eight bytes from memory with the first one highest.
uint64_t loadBigEndian64(const unsigned char* s) {
    uint64_t x;
    std::memcpy(&x, s, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    x = __builtin_bswap64(x);
#endif
    return x;
}

struct Tables {
    // Two output characters per 12 input bits, one table per alphabet.
    char pairs[2][4096][2];
    unsigned char value[256];
    // Per position in a group of four characters, what the character adds
    // to the three decoded bytes, as they lie in memory: the four words of a
    // group OR'd together are its bytes, ready to store; kBadWord for
    // padding and invalid characters.
    uint32_t decode[4][256];

    Tables() {
        for (int a = 0; a < 2; ++a) {
            const char* alphabet = a == 0 ? kStandard : kSecond;
            for (int i = 0; i < 4096; ++i) {
                pairs[a][i][0] = alphabet[i >> 6];
                pairs[a][i][1] = alphabet[i & 63];
            }
        }
        std::memset(value, kInvalid, sizeof value);
        for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kStandard[i])] = static_cast<unsigned char>(i);
        value[static_cast<unsigned char>(',')] = 63;
        value[static_cast<unsigned char>('=')] = kPad;
        for (int c = 0; c < 256; ++c) {
            const unsigned v = value[c];
            if (v >= 64) {
                for (int k = 0; k < 4; ++k) decode[k][c] = wordOf(0xff, 0xff, 0xff, 0xff);
                continue;
            }
            decode[0][c] = wordOf(static_cast<unsigned char>(v << 2), 0, 0, 0);
            decode[1][c] = wordOf(static_cast<unsigned char>(v >> 4), static_cast<unsigned char>((v & 15) << 4), 0, 0);
            decode[2][c] = wordOf(0, static_cast<unsigned char>(v >> 2), static_cast<unsigned char>((v & 3) << 6), 0);
            decode[3][c] = wordOf(0, 0, static_cast<unsigned char>(v), 0);
        }
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

// Encodes whole groups of three; n must be a multiple of 3.
void encodeGroups(const unsigned char* s, size_t n, char* d, const char (*pairs)[2]) {
    size_t i = 0;
    // Two groups at a time from one eight-byte load, while eight bytes are there.
    for (; i + 8 <= n; i += 6, d += 8) {
        const uint64_t x = loadBigEndian64(s + i);
        std::memcpy(d, pairs[(x >> 52) & 0xfff], 2);
        std::memcpy(d + 2, pairs[(x >> 40) & 0xfff], 2);
        std::memcpy(d + 4, pairs[(x >> 28) & 0xfff], 2);
        std::memcpy(d + 6, pairs[(x >> 16) & 0xfff], 2);
    }
    for (; i < n; i += 3, d += 4) {
        uint32_t v = (static_cast<uint32_t>(s[i]) << 16) | (static_cast<uint32_t>(s[i + 1]) << 8) | s[i + 2];
        std::memcpy(d, pairs[v >> 12], 2);
        std::memcpy(d + 2, pairs[v & 0xfff], 2);
    }
}

// The one or two bytes left over; returns the characters written.
size_t encodeTail(const unsigned char* s, size_t rest, char* d, bool alt) {
    const char* alphabet = alt ? kSecond : kStandard;
    size_t k = 0;
    if (rest == 2) {
        d[k++] = alphabet[s[0] >> 2];
        d[k++] = alphabet[((s[0] << 4) | (s[1] >> 4)) & 63];
        d[k++] = alphabet[(s[1] << 2) & 60];
        if (!alt) d[k++] = '=';
    } else if (rest == 1) {
        d[k++] = alphabet[s[0] >> 2];
        d[k++] = alphabet[(s[0] << 4) & 48];
        if (!alt) {
            d[k++] = '=';
            d[k++] = '=';
        }
    }
    return k;
}

// A group holding padding or an invalid character: the bytes written to d,
// or -1 when one is invalid, writing nothing of the group then.
int decodeOddGroup(const unsigned char* s, char* d) {
    const unsigned char* value = tables().value;
    unsigned char v[4];
    for (int k = 0; k < 4; ++k) {
        v[k] = value[s[k]];
        if (v[k] == kInvalid) return -1;
    }
    if (v[0] == kPad) return 0;
    d[0] = static_cast<char>((v[0] << 2) | (v[1] >> 4));
    if (v[1] == kPad || v[2] == kPad) return 1;
    d[1] = static_cast<char>((v[1] << 4) | (v[2] >> 2));
    if (v[3] == kPad) return 2;
    d[2] = static_cast<char>((v[2] << 6) | v[3]);
    return 3;
}

inline uint32_t groupWord(const Tables& t, const unsigned char* s) {
    return t.decode[0][s[0]] | t.decode[1][s[1]] | t.decode[2][s[2]] | t.decode[3][s[3]];
}

// One group, stored byte-exact: the bytes written, -1 on an invalid character.
inline int decodeOneGroup(const Tables& t, const unsigned char* s, char* d) {
    const uint32_t x = groupWord(t, s);
    if (x & kBadWord) return decodeOddGroup(s, d);
    std::memcpy(d, &x, 3);
    return 3;
}

// Decodes n characters (a multiple of 4) into d, which holds 3n/4 bytes.
// On an invalid character, written counts the bytes of the groups before it.
bool decodeGroupsScalar(const unsigned char* s, size_t n, char* d, size_t& written) {
    const Tables& t = tables();
    // Counted in a local: a store through d may alias the caller's counter,
    // which would then be reloaded after every byte.
    size_t w = 0;
    const size_t groups = n / 4;
    size_t g = 0;
    // Two groups at a time, each stored as a whole word of which the fourth
    // byte is overwritten next: while a third group follows, that byte lies
    // inside d.
    for (; g + 2 < groups; g += 2) {
        const unsigned char* p = s + 4 * g;
        const uint32_t a = groupWord(t, p);
        const uint32_t b = groupWord(t, p + 4);
        if (((a | b) & kBadWord) == 0) {
            std::memcpy(d + w, &a, 4);
            std::memcpy(d + w + 3, &b, 4);
            w += 6;
            continue;
        }
        for (int k = 0; k < 2; ++k) {
            const int n1 = decodeOneGroup(t, p + 4 * k, d + w);
            if (n1 < 0) {
                written = w;
                return false;
            }
            w += static_cast<size_t>(n1);
        }
    }
    for (; g < groups; ++g) {
        const int n1 = decodeOneGroup(t, s + 4 * g, d + w);
        if (n1 < 0) {
            written = w;
            return false;
        }
        w += static_cast<size_t>(n1);
    }
    written = w;
    return true;
}


#ifdef QDL_BASE64_AVX2

// 32 characters at a time with AVX2, after the method of Muła and Lemire.
// Only blocks of 32 characters from both alphabets are taken: the first
// block holding padding or any other character ends the run, and the
// careful path above decodes it, so the results are the same byte for byte.
// Returns the characters taken (a multiple of 32); d receives 3/4 of that.
__attribute__((target("avx2"))) size_t decodeBlocksAvx2(const unsigned char* s, size_t n, char* d) {
    // A character is valid when its two nibble classes share no bit; ","
    // (0x2c) is let through beside "+" and "/".
    const __m256i lutLo = _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1A,
                                           0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                           0x13, 0x1A, 0x1A, 0x1B, 0x1B, 0x1A);
    const __m256i lutHi = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10,
                                           0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10,
                                           0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    // What to add to a character to get its value, by its high nibble; "/"
    // takes the entry before its own. "+" and "," both come out right with 19.
    const __m256i lutRoll = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4, -65,
                                             -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i low4 = _mm256_set1_epi8(0x0f);
    const __m256i slash = _mm256_set1_epi8(0x2f);
    const __m256i pack = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4, 10, 9,
                                          8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, -1, -1);
    size_t i = 0;
    for (; i + 32 <= n; i += 32, d += 24) {
        const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i hiNibbles = _mm256_and_si256(_mm256_srli_epi32(in, 4), low4);
        const __m256i lo = _mm256_shuffle_epi8(lutLo, _mm256_and_si256(in, low4));
        const __m256i hi = _mm256_shuffle_epi8(lutHi, hiNibbles);
        if (!_mm256_testz_si256(lo, hi)) break;
        const __m256i roll = _mm256_shuffle_epi8(lutRoll, _mm256_add_epi8(_mm256_cmpeq_epi8(in, slash), hiNibbles));
        const __m256i values = _mm256_add_epi8(in, roll);
        // Four 6-bit values to 24 bits in each 32-bit word, then the three
        // bytes of each word in order, the words of both lanes together.
        const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
        const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
        const __m256i out = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, pack), lanes);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(out));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16), _mm256_extracti128_si256(out, 1));
    }
    return i;
}

// 24 bytes at a time into 32 characters with AVX2. Reads 28 bytes for each
// 24 it takes; returns the bytes taken (a multiple of 24).
__attribute__((target("avx2"))) size_t encodeBlocksAvx2(const unsigned char* s, size_t n, char* d, bool alt) {
    // Each 32-bit word gets the bytes b1 b0 b2 b1 of its group of three.
    const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0, 2, 1, 4, 3, 5, 4, 7,
                                            6, 8, 7, 10, 9, 11, 10);
    // The value's offset to its character, by class: 0 for 26..51, 1 to 10
    // for the digits, 11 for 62, 12 for 63, 13 for 0..25.
    const char last = alt ? ',' : '/';
    const __m256i offsets = _mm256_setr_epi8(
        'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
        '+' - 62, static_cast<char>(last - 63), 'A', 0, 0, 'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
        '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, static_cast<char>(last - 63), 'A', 0, 0);
    size_t i = 0;
    for (; i + 28 <= n; i += 24, d += 32) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 12));
        const __m256i in = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), spread);
        // The four 6-bit values of each group into the four bytes of its word.
        const __m256i t1 = _mm256_mulhi_epu16(_mm256_and_si256(in, _mm256_set1_epi32(0x0fc0fc00)),
                                              _mm256_set1_epi32(0x04000040));
        const __m256i t3 = _mm256_mullo_epi16(_mm256_and_si256(in, _mm256_set1_epi32(0x003f03f0)),
                                              _mm256_set1_epi32(0x01000010));
        const __m256i values = _mm256_or_si256(t1, t3);
        __m256i classes = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
        const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), values);
        classes = _mm256_or_si256(classes, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
        const __m256i text = _mm256_add_epi8(_mm256_shuffle_epi8(offsets, classes), values);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), text);
    }
    return i;
}

bool haveAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

std::atomic<bool> gVectors{haveAvx2()};

#else

std::atomic<bool> gVectors{false};

#endif

// The vector path over whole blocks where it can, the careful one over the
// blocks it leaves and the tail.
bool decodeGroups(const unsigned char* s, size_t n, char* d, size_t& written) {
#ifdef QDL_BASE64_AVX2
    if (gVectors.load(std::memory_order_relaxed)) {
        size_t w = 0;
        size_t i = 0;
        while (i < n) {
            const size_t taken = decodeBlocksAvx2(s + i, n - i, d + w);
            i += taken;
            w += taken / 4 * 3;
            // The block it refused, or the tail.
            const size_t careful = n - i < 32 ? n - i : 32;
            size_t more = 0;
            const bool ok = decodeGroupsScalar(s + i, careful, d + w, more);
            w += more;
            if (!ok) {
                written = w;
                return false;
            }
            i += careful;
        }
        written = w;
        return true;
    }
#endif
    return decodeGroupsScalar(s, n, d, written);
}

void encodeWhole(const unsigned char* s, size_t n, char* d, const char (*pairs)[2], bool alt) {
#ifdef QDL_BASE64_AVX2
    if (gVectors.load(std::memory_order_relaxed)) {
        const size_t taken = encodeBlocksAvx2(s, n, d, alt);
        s += taken;
        d += taken / 3 * 4;
        n -= taken;
    }
#else
    (void)alt;
#endif
    encodeGroups(s, n, d, pairs);
}

}  // namespace

bool base64UseVectors(bool on) {
#ifdef QDL_BASE64_AVX2
    if (on && !haveAvx2()) on = false;
#else
    on = false;
#endif
    return gVectors.exchange(on);
}

size_t base64EncodedSize(size_t n, bool alt) {
    size_t full = n / 3 * 4;
    size_t rest = n % 3;
    if (rest == 0) return full;
    return full + (alt ? rest + 1 : 4);
}

char* base64EncodeTo(const char* in, size_t size, char* out, bool alt) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(in);
    const size_t whole = size / 3 * 3;
    encodeWhole(s, whole, out, tables().pairs[alt ? 1 : 0], alt);
    out += whole / 3 * 4;
    return out + encodeTail(s + whole, size - whole, out, alt);
}

bool base64DecodeTo(const char* in, size_t size, char* out, size_t& written) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(in);
    const size_t whole = size / 4 * 4;
    written = 0;
    if (!decodeGroups(s, whole, out, written)) return false;
    if (whole == size) return true;
    // A short last group is filled up with padding.
    unsigned char last[4] = {'=', '=', '=', '='};
    std::memcpy(last, s + whole, size - whole);
    size_t more = 0;
    const bool ok = decodeGroups(last, 4, out + written, more);
    written += more;
    return ok;
}

void base64Encode(const std::string& in, std::ostream& out, bool alt) {
    const size_t chunk = 12 * 1024;
    char buffer[chunk / 3 * 4 + 4];
    for (size_t pos = 0; pos < in.size(); pos += chunk) {
        const size_t n = in.size() - pos < chunk ? in.size() - pos : chunk;
        const char* end = base64EncodeTo(in.data() + pos, n, buffer, alt);
        out.write(buffer, static_cast<std::streamsize>(end - buffer));
    }
}

std::string base64EncodeString(const std::string& in, bool alt) {
    std::string out;
    base64EncodeAppend(in, out, alt);
    return out;
}

void base64EncodeAppend(const std::string& in, std::string& out, bool alt) {
    const size_t at = out.size();
    out.resize(at + base64EncodedSize(in.size(), alt));
    if (!in.empty()) base64EncodeTo(in.data(), in.size(), &out[at], alt);
}

bool base64Decode(const std::string& in, std::ostream& out) {
    const size_t chunk = 16 * 1024;
    char buffer[chunk / 4 * 3];
    for (size_t pos = 0; pos < in.size(); pos += chunk) {
        const size_t n = in.size() - pos < chunk ? in.size() - pos : chunk;
        size_t written;
        const bool ok = base64DecodeTo(in.data() + pos, n, buffer, written);
        if (written > 0) out.write(buffer, static_cast<std::streamsize>(written));
        if (!ok) return false;
    }
    return true;
}

std::string base64DecodeString(const std::string& in, bool& failed) {
    // Decoded straight into the result, which is cut to what was written.
    std::string out(base64DecodedRoom(in.size()), '\0');
    if (out.empty()) {
        failed = false;
        return out;
    }
    size_t written = 0;
    failed = !base64DecodeTo(in.data(), in.size(), &out[0], written);
    out.resize(written);
    return out;
}

std::string base64DecodeString(const std::string& in) {
    bool failed;
    return base64DecodeString(in, failed);
}

}  // namespace qdl
