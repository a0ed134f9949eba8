#include "filter/rtf2html/unrtf_text.h"

#include <algorithm>

#include "filter/rtf2html/charset_declaration.h"
#include "filter/rtf2html/codepage.h"
#include "filter/rtf2html/entities.h"

namespace rtf {

namespace {

const char kHex[] = "0123456789abcdef";

// A character reference at `at` ("&#N;", "&#xH;" or "&name;"): its length
// and the character, or length 0 when there is none or it is unknown.
std::size_t readReference(const std::string& s, std::size_t at, unsigned long& value) {
    // No reference unrtf writes is longer; a longer one is left as it is.
    const std::size_t kMaxLength = 12;
    std::size_t i = at + 1;
    const std::size_t limit = std::min(s.size(), at + kMaxLength);
    value = 0;
    if (i < limit && s[i] == '#') {
        const bool hex = ++i < limit && (s[i] == 'x' || s[i] == 'X');
        if (hex) ++i;
        const std::size_t digits = i;
        for (; i < limit; ++i) {
            const char c = s[i];
            int d = c >= '0' && c <= '9' ? c - '0' : -1;
            if (hex && d < 0 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) d = (c | 0x20) - 'a' + 10;
            if (d < 0) break;
            value = value * (hex ? 16 : 10) + static_cast<unsigned long>(d);
        }
        if (i == digits) return 0;
    } else {
        const std::size_t name = i;
        while (i < limit && ((s[i] >= 'a' && s[i] <= 'z') || (s[i] >= 'A' && s[i] <= 'Z') || (s[i] >= '0' && s[i] <= '9')))
            ++i;
        value = htmlEntity(s.data() + name, i - name);
        if (value == 0) return 0;
    }
    if (i >= limit || s[i] != ';') return 0;
    return i + 1 - at;
}

// Characters that stay references: markup, and what is no text.
bool staysReference(unsigned long c) {
    return c == '<' || c == '>' || c == '&' || c == '"' || c == '\'' ||
           (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c > 0x10FFFF;
}

}  // namespace

void UnrtfInput::escape(unsigned char byte) {
    *out_ += "\\'";
    *out_ += kHex[byte >> 4];
    *out_ += kHex[byte & 15];
}

void UnrtfInput::putBytes(int codePage, const char* data, std::size_t size) {
    if (codePage != kSymbolCodePage) {
        Reader::putBytes(codePage, data, size);
        return;
    }
    settle();
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char byte = static_cast<unsigned char>(data[i]);
        if (byte >= 0x80)
            escape(byte);
        else
            putChar(byte);
    }
}

void UnrtfInput::putChar(char32_t c) {
    if (c < 0x80) {
        if (c < 0x20 || c == '\\' || c == '{' || c == '}')
            escape(static_cast<unsigned char>(c));
        else
            *out_ += static_cast<char>(c);
        return;
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacementChar;
    char32_t units[2] = {c, 0};
    if (c > 0xFFFF) {
        units[0] = 0xD800 + ((c - 0x10000) >> 10);
        units[1] = 0xDC00 + ((c - 0x10000) & 0x3FF);
    }
    for (char32_t u : units) {
        if (u == 0) break;
        // \u takes a signed 16-bit number; the escape after it is the one
        // fallback character unrtf skips.
        *out_ += "\\u";
        *out_ += std::to_string(u > 0x7FFF ? static_cast<long>(u) - 65536 : static_cast<long>(u));
        *out_ += "\\'3f";
    }
}

void UnrtfInput::word(Word, const std::string& name, bool hasParam, long param) {
    if (name.empty()) return;
    *out_ += '\\';
    *out_ += name;
    if (hasParam) *out_ += std::to_string(param);
    *out_ += ' ';
}

void UnrtfInput::symbol(char c) {
    if (c == '\n') {
        *out_ += "\\par ";
    } else if (c > ' ' && c < 0x7F) {
        *out_ += '\\';
        *out_ += c;
    }
}

void UnrtfInput::opened() {
    *out_ += '{';
    ++open_;
}

void UnrtfInput::closed() {
    *out_ += '}';
    --open_;
}

void UnrtfInput::binaryData(const char* data, std::size_t size) { out_->append(data, size); }

void UnrtfInput::sourceLineBreak() { *out_ += '\n'; }

bool UnrtfInput::feed(const char* data, std::size_t size, std::string& out) {
    out_ = &out;
    const bool ok = readSome(data, size);
    out_ = nullptr;
    return ok;
}

bool UnrtfInput::finish(std::string& out) {
    out_ = &out;
    const bool ok = readEnd();
    out.append(open_, '}');
    open_ = 0;
    out_ = nullptr;
    return ok;
}

std::string unrtfOutputAsUtf8(const std::string& html) {
    std::string text;
    text.reserve(html.size());
    for (std::size_t i = 0; i < html.size();) {
        const std::size_t n = utf8Length(html.data() + i, html.size() - i);
        if (n == 0) {
            appendUtf8(text, kReplacementChar);
            ++i;
            continue;
        }
        unsigned long c = 0;
        const std::size_t len = html[i] == '&' ? readReference(html, i, c) : 0;
        if (len == 0 || staysReference(c)) {
            text.append(html, i, len == 0 ? n : len);
            i += len == 0 ? n : len;
            continue;
        }
        i += len;
        // unrtf writes each half of a surrogate pair as a reference of its own.
        if (c >= 0xD800 && c <= 0xDBFF) {
            unsigned long low = 0;
            const std::size_t len2 = readReference(html, i, low);
            if (len2 != 0 && low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += len2;
            }
        }
        appendUtf8(text, static_cast<char32_t>(c));  // a lone surrogate becomes U+FFFD
    }
    std::string out;
    CharsetDeclaration declaration;
    declaration.feed(text, out);
    declaration.finish(out);
    return out;
}

}  // namespace rtf
