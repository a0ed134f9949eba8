#include "runtime/escape.h"

#include <cstring>

namespace qdl {

std::string cgpEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 2);
    cgpEscapeAppend(text.data(), text.size(), out);
    return out;
}

void cgpEscapeAppend(const char* text, std::size_t length, std::string& out) {
    // One pass gives the same result as the server's six passes (backslash
    // first, then CR, LF, TAB, quote, NUL), since none rescans its output.
    static const struct Special {
        bool is[256] = {};
        Special() {
            for (unsigned char c : {'\\', '\r', '\n', '\t', '"', '\0'}) is[c] = true;
        }
    } special;
    const char* end = text + length;
    while (text < end) {
        // The bytes up to the next one to escape go as they are, in one piece.
        const char* run = text;
        while (run < end && !special.is[static_cast<unsigned char>(*run)]) ++run;
        out.append(text, static_cast<std::size_t>(run - text));
        if (run == end) break;
        switch (*run) {
        case '\\': out += "\\\\"; break;
        case '\r': break;
        case '\n': out += "\\e"; break;
        case '\t': out += "\\t"; break;
        case '"': out += "\\\""; break;
        default: out += "\\0"; break;
        }
        text = run + 1;
    }
}

std::string cgpUnescape(const std::string& text) {
    std::string out;
    cgpUnescapeAppend(text.data(), text.size(), out);
    return out;
}

void cgpUnescapeAppend(const char* text, std::size_t length, std::string& out) {
    // The result is never longer than the text: one allocation, then the
    // bytes are written in place.
    const std::size_t at = out.size();
    out.resize(at + length);
    char* d = &out[at];
    const char* end = text + length;
    while (text < end) {
        // The bytes up to the next backslash go as they are, in one piece.
        const char* slash = static_cast<const char*>(std::memchr(text, '\\', static_cast<std::size_t>(end - text)));
        if (slash == nullptr) slash = end;
        std::memcpy(d, text, static_cast<std::size_t>(slash - text));
        d += slash - text;
        if (slash == end) break;
        if (slash + 1 == end) {
            *d++ = '\\';  // a backslash at the very end stays
            break;
        }
        switch (slash[1]) {
        case '"': *d++ = '"'; break;
        case '0': *d++ = '\0'; break;
        case '\\': *d++ = '\\'; break;
        case 'e': *d++ = '\n'; break;
        case 't': *d++ = '\t'; break;
        default:
            *d++ = '\\';
            *d++ = slash[1];
        }
        text = slash + 2;
    }
    out.resize(static_cast<std::size_t>(d - out.data()));
}

}  // namespace qdl
