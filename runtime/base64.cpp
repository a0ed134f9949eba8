#include "runtime/base64.h"

#include <cstdint>
#include <cstring>

namespace qdl {

namespace {

const char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kSecond[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

const unsigned char kPad = 127;
const unsigned char kInvalid = 255;
const uint32_t kBad = 0x80000000u;

struct Tables {
    // Two output characters per 12 input bits, one table per alphabet.
    char pairs[2][4096][2];
    unsigned char value[256];
    // value shifted into its place in a 24-bit group; kBad for padding and
    // invalid bytes, so one test finds a group that needs the careful path.
    uint32_t shifted[4][256];

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
        for (int c = 0; c < 256; ++c)
            for (int k = 0; k < 4; ++k)
                shifted[k][c] = value[c] < 64 ? static_cast<uint32_t>(value[c]) << (18 - 6 * k) : kBad;
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

size_t encodedSize(size_t n, bool alt) {
    size_t full = n / 3 * 4;
    size_t rest = n % 3;
    if (rest == 0) return full;
    return full + (alt ? rest + 1 : 4);
}

// Encodes whole groups of three; n must be a multiple of 3.
void encodeGroups(const unsigned char* s, size_t n, char* d, const char (*pairs)[2]) {
    for (size_t i = 0; i < n; i += 3, d += 4) {
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

// A group holding padding or an invalid character. Returns false when one is
// invalid, writing nothing of the group then.
bool decodeOddGroup(const unsigned char* s, char* d, size_t& written) {
    const unsigned char* value = tables().value;
    unsigned char v[4];
    for (int k = 0; k < 4; ++k) {
        v[k] = value[s[k]];
        if (v[k] & 0x80) return false;
    }
    if (v[0] == kPad) return true;
    d[written++] = static_cast<char>((v[0] << 2) | (v[1] >> 4));
    if (v[1] == kPad || v[2] == kPad) return true;
    d[written++] = static_cast<char>((v[1] << 4) | (v[2] >> 2));
    if (v[3] != kPad) d[written++] = static_cast<char>((v[2] << 6) | v[3]);
    return true;
}

// Decodes n characters (a multiple of 4) into d, which holds 3n/4 bytes.
// On an invalid character, written counts the bytes of the groups before it.
bool decodeGroups(const unsigned char* s, size_t n, char* d, size_t& written) {
    const Tables& t = tables();
    // Counted in a local: a store through d may alias the caller's counter,
    // which would then be reloaded after every byte.
    size_t w = 0;
    for (size_t i = 0; i < n; i += 4) {
        uint32_t v = t.shifted[0][s[i]] | t.shifted[1][s[i + 1]] | t.shifted[2][s[i + 2]] | t.shifted[3][s[i + 3]];
        if (v & kBad) {
            if (!decodeOddGroup(s + i, d, w)) {
                written = w;
                return false;
            }
            continue;
        }
        d[w] = static_cast<char>(v >> 16);
        d[w + 1] = static_cast<char>(v >> 8);
        d[w + 2] = static_cast<char>(v);
        w += 3;
    }
    written = w;
    return true;
}

}  // namespace

void base64Encode(const std::string& in, std::ostream& out, bool alt) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(in.data());
    const char (*pairs)[2] = tables().pairs[alt ? 1 : 0];
    const size_t whole = in.size() / 3 * 3;
    const size_t chunk = 12 * 1024;
    char buffer[chunk / 3 * 4 + 4];
    for (size_t pos = 0; pos < whole; pos += chunk) {
        size_t n = whole - pos < chunk ? whole - pos : chunk;
        encodeGroups(s + pos, n, buffer, pairs);
        out.write(buffer, static_cast<std::streamsize>(n / 3 * 4));
    }
    size_t k = encodeTail(s + whole, in.size() - whole, buffer, alt);
    if (k > 0) out.write(buffer, static_cast<std::streamsize>(k));
}

std::string base64EncodeString(const std::string& in, bool alt) {
    std::string out;
    base64EncodeAppend(in, out, alt);
    return out;
}

void base64EncodeAppend(const std::string& in, std::string& out, bool alt) {
    const size_t at = out.size();
    out.resize(at + encodedSize(in.size(), alt));
    if (in.empty()) return;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(in.data());
    const size_t whole = in.size() / 3 * 3;
    encodeGroups(s, whole, &out[at], tables().pairs[alt ? 1 : 0]);
    encodeTail(s + whole, in.size() - whole, &out[at + whole / 3 * 4], alt);
}

bool base64Decode(const std::string& in, std::ostream& out) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(in.data());
    const size_t whole = in.size() / 4 * 4;
    const size_t chunk = 16 * 1024;
    char buffer[chunk / 4 * 3];
    size_t written;
    for (size_t pos = 0; pos < whole; pos += chunk) {
        size_t n = whole - pos < chunk ? whole - pos : chunk;
        bool ok = decodeGroups(s + pos, n, buffer, written);
        if (written > 0) out.write(buffer, static_cast<std::streamsize>(written));
        if (!ok) return false;
    }
    if (whole == in.size()) return true;
    // A short last group is filled up with padding.
    unsigned char last[4] = {'=', '=', '=', '='};
    std::memcpy(last, s + whole, in.size() - whole);
    bool ok = decodeGroups(last, 4, buffer, written);
    if (written > 0) out.write(buffer, static_cast<std::streamsize>(written));
    return ok;
}

std::string base64DecodeString(const std::string& in, bool& failed) {
    // Decoded straight into the result, which is cut to what was written.
    std::string out((in.size() + 3) / 4 * 3, '\0');
    if (out.empty()) {
        failed = false;
        return out;
    }
    const unsigned char* s = reinterpret_cast<const unsigned char*>(in.data());
    const size_t whole = in.size() / 4 * 4;
    size_t written = 0;
    bool ok = decodeGroups(s, whole, &out[0], written);
    if (ok && whole < in.size()) {
        unsigned char last[4] = {'=', '=', '=', '='};
        std::memcpy(last, s + whole, in.size() - whole);
        size_t more = 0;
        ok = decodeGroups(last, 4, &out[written], more);
        written += more;
    }
    out.resize(written);
    failed = !ok;
    return out;
}

std::string base64DecodeString(const std::string& in) {
    bool failed;
    return base64DecodeString(in, failed);
}

}  // namespace qdl
