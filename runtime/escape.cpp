#include "runtime/escape.h"

namespace qdl {

std::string cgpEscape(const std::string& text) {
    // One pass gives the same result as the server's six passes (backslash
    // first, then CR, LF, TAB, quote, NUL), since none rescans its output.
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 2);
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\r': break;
        case '\n': out += "\\e"; break;
        case '\t': out += "\\t"; break;
        case '"': out += "\\\""; break;
        case '\0': out += "\\0"; break;
        default: out += c;
        }
    }
    return out;
}

std::string cgpUnescape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    bool escaped = false;
    for (char c : text) {
        if (!escaped) {
            if (c == '\\')
                escaped = true;
            else
                out += c;
            continue;
        }
        escaped = false;
        switch (c) {
        case '"': out += '"'; break;
        case '0': out += '\0'; break;
        case '\\': out += '\\'; break;
        case 'e': out += '\n'; break;
        case 't': out += '\t'; break;
        default:
            out += '\\';
            out += c;
        }
    }
    if (escaped) out += '\\';
    return out;
}

}  // namespace qdl
