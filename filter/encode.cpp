#include "filter/encode.h"

#include <cstddef>
#include <cstring>
#include <string>

#include "runtime/base64.h"

namespace cgp {

namespace {

const std::size_t kBase64Slice = 57;
const std::size_t kBase64Line = 76;  // the characters of one slice
const std::size_t kBase64Block = kBase64Slice * 256;
const std::size_t kQpBlock = 4096;
// Longest encoded line, the soft break's "=" included.
const std::size_t kQpLineMax = 76;

}  // namespace

void encodeQuotedPrintable(std::istream& in, std::ostream& out) {
    static const char hex[] = "0123456789ABCDEF";
    char block[kQpBlock];
    std::string text;
    text.reserve(kQpBlock * 3 + kQpBlock / 25);
    std::size_t column = 0;
    while (in.good() && out.good()) {
        in.read(block, sizeof block);
        const std::streamsize n = in.gcount();
        if (n <= 0) break;
        text.clear();
        for (std::streamsize i = 0; i < n; ++i) {
            const unsigned char c = static_cast<unsigned char>(block[i]);
            if (c == '\n' || c == '\r') {
                text += static_cast<char>(c);
                if (c == '\n') column = 0;
                continue;
            }
            const bool plain = (c == ' ' || (c >= 33 && c <= 126)) && c != '=';
            const std::size_t width = plain ? 1 : 3;
            if (column + width > kQpLineMax - 1) {
                // A token may take the last column only when the line ends
                // right after it; otherwise that column is the soft break's.
                int next;
                if (i + 1 < n)
                    next = static_cast<unsigned char>(block[i + 1]);
                else
                    next = in.peek();
                const bool lineEnds = next == '\n' || next == '\r' || next == std::char_traits<char>::eof();
                if (!lineEnds || column + width > kQpLineMax) {
                    text += "=\n";
                    column = 0;
                }
            }
            if (plain) {
                text += static_cast<char>(c);
            } else {
                text += '=';
                text += hex[c >> 4];
                text += hex[c & 15];
            }
            column += width;
        }
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
}

void encodeBase64Lines(std::istream& in, std::ostream& out) {
    std::string block(kBase64Block, '\0');
    std::string text;
    for (;;) {
        in.read(&block[0], static_cast<std::streamsize>(block.size()));
        const std::size_t n = static_cast<std::size_t>(in.gcount());
        if (n > 0) {
            // A slice of 57 bytes is a whole number of groups: the block
            // encoded at once holds each line's characters in turn, with
            // padding only in its last one.
            const std::string encoded = qdl::base64EncodeString(n == block.size() ? block : block.substr(0, n));
            const std::size_t lines = (encoded.size() + kBase64Line - 1) / kBase64Line;
            text.resize(encoded.size() + lines);
            char* to = &text[0];
            const char* from = encoded.data();
            const char* const end = from + encoded.size();
            for (; end - from >= static_cast<std::ptrdiff_t>(kBase64Line); from += kBase64Line) {
                std::memcpy(to, from, kBase64Line);
                to[kBase64Line] = '\n';
                to += kBase64Line + 1;
            }
            if (from < end) {
                std::memcpy(to, from, static_cast<std::size_t>(end - from));
                to[end - from] = '\n';
            }
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
        }
        if (!in.good() || !out.good()) {
            // The last read came up short of a whole slice only when the
            // length is no multiple of 57; otherwise it read nothing.
            if (n % kBase64Slice == 0 && !in.bad()) out << '\n';
            return;
        }
    }
}

}  // namespace cgp
