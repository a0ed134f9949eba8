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

bool cgpEscapeKeeps(const std::string& text) { return text.find('\r') == std::string::npos; }

std::string cgpUnescape(const std::string& text) {
    std::string out;
    cgpUnescapeAppend(text.data(), text.size(), out);
    return out;
}

void cgpUnescapeAppend(const char* text, std::size_t length, std::string& out) {
    const char* end = text + length;
    const char* slash = static_cast<const char*>(std::memchr(text, '\\', length));
    if (slash == nullptr) {
        out.append(text, length);
        return;
    }
    // The result is never longer than the text: one allocation at most.
    out.reserve(out.size() + length);
    for (;;) {
        // The bytes up to the backslash go as they are, in one piece.
        out.append(text, static_cast<std::size_t>(slash - text));
        if (slash + 1 == end) {
            out += '\\';  // a backslash at the very end stays
            return;
        }
        switch (slash[1]) {
        case '"': out += '"'; break;
        case '0': out += '\0'; break;
        case '\\': out += '\\'; break;
        case 'e': out += '\n'; break;
        case 't': out += '\t'; break;
        default:
            out += '\\';
            out += slash[1];
        }
        text = slash + 2;
        slash = static_cast<const char*>(std::memchr(text, '\\', static_cast<std::size_t>(end - text)));
        if (slash == nullptr) {
            out.append(text, static_cast<std::size_t>(end - text));
            return;
        }
    }
}

}  // namespace qdl
