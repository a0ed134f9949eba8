#include "runtime/utf7.h"

#include "runtime/base64.h"
#include "runtime/widestring.h"

namespace qdl {

namespace {

bool isDirect(wchar_t c) { return c >= 0x20 && c <= 0x7E; }

char shiftOf(bool imap) { return imap ? '&' : '+'; }

// One closed run: its base64 characters, padded, as UTF-8.
void appendRun(std::string collected, std::string& out) {
    collected.append((4 - collected.size() % 4) % 4, '=');
    const std::string bytes = base64DecodeString(collected);
    std::wstring units;
    units.reserve((bytes.size() + 1) / 2);
    for (size_t i = 0; i < bytes.size(); i += 2) {
        // An odd last byte is the high half of a unit whose low half is 0.
        const unsigned high = static_cast<unsigned char>(bytes[i]);
        const unsigned low = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        units += static_cast<wchar_t>(high << 8 | low);
    }
    out += wideToUTF8(units);
}

}  // namespace

std::string encodeUTF7(const std::string& text, bool imap) {
    const char shift = shiftOf(imap);
    const std::wstring wide = widen(text);
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < wide.size()) {
        const wchar_t c = wide[i];
        if (c == static_cast<wchar_t>(shift)) {
            out += shift;
            out += '-';
            ++i;
        } else if (isDirect(c)) {
            out += static_cast<char>(c);
            ++i;
        } else {
            size_t end = i;
            while (end < wide.size() && !isDirect(wide[end])) ++end;
            out += shift;
            out += base64EncodeString(wideToUTF16BE(wide.substr(i, end - i)), true);
            // Closed even at the end of the text.
            out += '-';
            i = end;
        }
    }
    return out;
}

void encodeUTF7(const std::string& text, std::ostream& out, bool imap) { out << encodeUTF7(text, imap); }

std::string decodeUTF7(const std::string& text, bool imap) {
    const char shift = shiftOf(imap);
    std::string out;
    out.reserve(text.size());
    std::string collected;
    bool inRun = false;
    bool justOpened = false;
    for (char c : text) {
        // In the plain form "+" is also base64 (value 62), so inside a run it
        // is collected; "&" never is, and restarts the run.
        if (c == shift && (imap || !inRun)) {
            collected.clear();
            inRun = justOpened = true;
            continue;
        }
        if (c == '-' && justOpened) {
            out += shift;
            inRun = false;
        } else if (c == '-' && inRun) {
            appendRun(collected, out);
            collected.clear();
            inRun = false;
        } else if (inRun) {
            collected += c;
        } else {
            out += c;
        }
        justOpened = false;
    }
    return out;
}

void decodeUTF7(const std::string& text, std::ostream& out, bool imap) { out << decodeUTF7(text, imap); }

}  // namespace qdl
