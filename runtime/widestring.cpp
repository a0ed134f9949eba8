#include "runtime/widestring.h"

namespace qdl {

namespace {

// The low 8 bits of a value, as the byte they make; through unsigned, so that
// negative values wrap by definition.
char lowByte(long value) { return static_cast<char>(static_cast<unsigned char>(value)); }

}  // namespace

std::wstring widen(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text) wide += static_cast<wchar_t>(static_cast<signed char>(c));
    return wide;
}

std::string wideToUTF16BE(const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (wchar_t c : text) {
        const long value = static_cast<long>(c);
        bytes += lowByte(value / 256);
        bytes += lowByte(value % 256);
    }
    return bytes;
}

std::wstring utf16BEToWide(const std::string& bytes) {
    std::wstring wide;
    wide.reserve((bytes.size() + 1) / 2);
    for (size_t i = 0; i < bytes.size(); i += 2) {
        const int high = static_cast<signed char>(bytes[i]);
        const int low = i + 1 < bytes.size() ? static_cast<signed char>(bytes[i + 1]) : 0;
        wide += static_cast<wchar_t>(high * 256 + low);
    }
    return wide;
}

std::string wideToUTF8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        const long value = static_cast<long>(c);
        if (value <= 0x7F) {
            out += lowByte(value);
        } else if (value <= 0x7FF) {
            out += lowByte(0xC0 | (value >> 6));
            out += lowByte(0x80 | (value & 0x3F));
        } else if (value <= 0xFFFF) {
            out += lowByte(0xE0 | (value >> 12));
            out += lowByte(0x80 | ((value >> 6) & 0x3F));
            out += lowByte(0x80 | (value & 0x3F));
        }
    }
    return out;
}

}  // namespace qdl
