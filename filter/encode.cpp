#include "filter/internal/encode.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "runtime/base64.h"

namespace cgp {

namespace {

const std::size_t kBase64Slice = 57;
const std::size_t kBase64Line = 76;  // the characters of one slice
// Read and written at once: a 100 KB file takes two reads and two writes.
const std::size_t kBase64Block = kBase64Slice * 1024;
const std::size_t kQpBlock = 4096;
// Longest encoded line, the soft break's "=" included.
const std::size_t kQpLineMax = 76;

}  // namespace

void encodeQuotedPrintable(std::istream& in, std::ostream& out) {
    static const char kHex[] = "0123456789ABCDEF";
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
                text += kHex[c >> 4];
                text += kHex[c & 15];
            }
            column += width;
        }
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
}

void encodeBase64Lines(std::istream& in, std::ostream& out) {
    std::unique_ptr<char[]> block(new char[kBase64Block]);
    std::unique_ptr<char[]> flat(new char[kBase64Block / kBase64Slice * kBase64Line]);
    std::unique_ptr<char[]> text(new char[kBase64Block / kBase64Slice * (kBase64Line + 1)]);
    for (;;) {
        in.read(block.get(), static_cast<std::streamsize>(kBase64Block));
        const std::size_t n = static_cast<std::size_t>(in.gcount());
        if (n > 0) {
            // Each slice of 57 bytes is a whole number of groups, so the
            // block encodes in one step and is then cut into its lines, with
            // padding only in the last one.
            const char* end = qdl::base64EncodeTo(block.get(), n, flat.get());
            char* to = text.get();
            const char* from = flat.get();
            // Whole lines copied at a fixed length, then the last one.
            for (; end - from >= static_cast<std::ptrdiff_t>(kBase64Line); from += kBase64Line) {
                std::memcpy(to, from, kBase64Line);
                to += kBase64Line;
                *to++ = '\n';
            }
            if (from < end) {
                std::memcpy(to, from, static_cast<std::size_t>(end - from));
                to += end - from;
                *to++ = '\n';
            }
            out.write(text.get(), static_cast<std::streamsize>(to - text.get()));
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
