// The data condition's fast path: the common tokens read by hand, in flex's
// buffer as scanner.l hands it over for each token.
#include "serverdata/internal/scanner_fast.h"

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "serverdata/internal/scanner_support.h"
#include "cgparser_grammar.h"

namespace cgp {
namespace scan {

namespace {

// What a byte starts in the fast path, and the one-byte characters of a
// data block. Built by the compiler: the tables are read for every token.
enum FastClass : unsigned char { kSlow, kAtomByte, kBlank, kLineEnd, kPunctuation, kQuote, kBracket };

struct DataBytes {
    unsigned char fast[256] = {};
    int punctuation[256] = {};  // the token of a one-byte token
    bool block[256] = {};       // a one-byte character of a data block
    constexpr DataBytes() {
        for (int c = 0; c < 256; ++c) {
            const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
            fast[c] = alnum || c == '.' || c == '@' || c == '_' || c == '-' ? kAtomByte : kSlow;
            block[c] = alnum || c == '+' || c == '/' || c == '=' || c == '\n';
        }
        fast[int{' '}] = fast[int{'\t'}] = kBlank;
        fast[int{'\r'}] = fast[int{'\n'}] = kLineEnd;
        const char single[] = "(){};,=";
        const int tokens[] = {OPEN_PAREN, CLOSE_PAREN, OPEN_BRACE, CLOSE_BRACE, SEMICOLON, COMMA, EQUALS};
        for (int k = 0; k < 7; ++k) {
            fast[static_cast<unsigned char>(single[k])] = kPunctuation;
            punctuation[static_cast<unsigned char>(single[k])] = tokens[k];
        }
        fast[int{'"'}] = kQuote;
        fast[int{'['}] = kBracket;
    }
};

constexpr DataBytes kDataBytes;

bool allOf(const char* p, const char* set) {
    for (int k = 0; k < 3; ++k)
        if (std::strchr(set, p[k]) == nullptr || p[k] == '\0') return false;
    return true;
}

#if defined(__SSE2__)
// The number of data-block characters at the start of 16 bytes.
inline int blockRun16(const unsigned char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Bytes from 80 on are negative here and fall outside every range.
    const __m128i folded = _mm_or_si128(v, _mm_set1_epi8(0x20));
    const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(folded, _mm_set1_epi8('a' - 1)),
                                         _mm_cmplt_epi8(folded, _mm_set1_epi8('z' + 1)));
    const __m128i digit =
        _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1)));
    const __m128i sign = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('+')), _mm_cmpeq_epi8(v, _mm_set1_epi8('/'))),
                                      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('=')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
    const int in = _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(letter, digit), sign));
    return __builtin_ctz(static_cast<unsigned>(~in) | 0x10000u);
}
#endif

// The atom of plain ASCII that starts at token, measured as quotedLength
// and dataLength measure; last when the input ends with the buffer. One
// that a byte from 80 on follows, which may go on with a multi-byte
// sequence, the automaton reads.
int atomLength(const char* token, const char* end, std::size_t& from, bool last) {
    const char* q = token + (from > 0 ? from : 1);
    // The buffer ends with a NUL byte, which is no atom byte.
    while (kDataBytes.fast[static_cast<unsigned char>(*q)] == kAtomByte) ++q;
    from = static_cast<std::size_t>(q - token);
    if (q >= end) return last ? static_cast<int>(q - token) : 0;
    return static_cast<unsigned char>(*q) < 0x80 ? static_cast<int>(q - token) : -1;
}

// Past blanks: eight spaces at a time (indentation), then one by one. The
// buffer ends with a NUL byte, which stops the run.
char* skipBlanks(char* p, const char* end) {
    static const char kEight[] = "        ";
    while (p + 8 <= end && std::memcmp(p, kEight, 8) == 0) p += 8;
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

}  // namespace

int quotedLength(const char* token, const char* end, std::size_t& from) {
    const char* p = token + (from > 0 ? from : 1);
    for (;;) {
        // The buffer ends with a NUL byte, so strcspn stops within it.
        p += std::strcspn(p, "\"\\");
        from = static_cast<std::size_t>(p - token);
        if (p >= end) return 0;
        if (*p == '"') return static_cast<int>(p + 1 - token);
        if (*p == '\0') return -1;
        // A backslash: one of the escapes.
        if (p + 1 >= end) return 0;
        if (p[1] != '\0' && std::strchr("\"0\\eEnNrRtT", p[1]) != nullptr) {
            p += 2;
            continue;
        }
        if (p + 3 >= end) return 0;
        if (!allOf(p + 1, "0123456789") && !allOf(p + 1, "dD")) return -1;
        p += 4;
    }
}

int dataLength(const char* token, const char* end, std::size_t& from) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(token) + (from > 0 ? from : 1);
    const unsigned char* const last = reinterpret_cast<const unsigned char*>(end);
    for (;;) {
#if defined(__SSE2__)
        while (p + 16 <= last) {
            const int run = blockRun16(p);
            p += run;
            if (run < 16) break;
        }
#endif
        // The buffer ends with a NUL byte, which is no block character.
        while (kDataBytes.block[*p]) ++p;
        from = static_cast<std::size_t>(reinterpret_cast<const char*>(p) - token);
        if (p >= last) return 0;
        const unsigned char c = *p;
        if (c == ']') return static_cast<int>(reinterpret_cast<const char*>(p) + 1 - token);
        const int unit = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEE ? 3 : 0;
        if (unit == 0) return -1;
        if (p + unit > last) return 0;
        for (int k = 1; k < unit; ++k)
            if (p[k] < 0x80) return -1;
        p += unit;
    }
}

namespace {

// Past the run of blanks, or the line end and the blanks after it, that
// starts at p: counted as the automaton's rules count them.
inline char* pastBlanks(char* p, const char* end, unsigned char kind, int& atLineStart) {
    char* q = skipBlanks(p + 1, end);
    if (kind == kLineEnd) {
        ++cursor.line;
        cursor.column = static_cast<int>(q - p) - 1;
    } else {
        cursor.column += static_cast<int>(q - p);
    }
    atLineStart = q[-1] == '\n';
    return q;
}

// The token of `length` bytes at p handed on: the counters and the
// beginning-of-line flag as after the automaton's match, and the text in
// place, not copied.
inline FastToken handOn(char* p, int token, int length, int& atLineStart) {
    cursor.column += length;
    atLineStart = p[length - 1] == '\n';
    switch (token) {
    case ATOM:
        borrowed.text = cgparserlval.ATOM = p;
        borrowed.length = static_cast<std::size_t>(length);
        break;
    case QUOTED_STRING:
        borrowed.text = cgparserlval.QUOTED_STRING = p + 1;
        borrowed.length = static_cast<std::size_t>(length - 2);
        break;
    case DATA_BLOCK:
        borrowed.text = cgparserlval.DATA_BLOCK = p + 1;
        borrowed.length = static_cast<std::size_t>(length - 2);
        break;
    default: break;
    }
    return FastToken{p, token, length};
}

// Reads as readDataToken does, from p on: every case, the buffer's end and
// a token it cuts included.
[[gnu::noinline]] FastToken readFrom(char* p, char* end, int& atLineStart) {
    int length = 0;
    int token = kNoFastToken;
    // Where the token stands in the buffer while it is measured in the
    // memory text; null while it is measured in the buffer.
    char* inBuffer = nullptr;
    char* bufferEnd = nullptr;
    for (;;) {
        if (p == end) {
            // All that was read is taken: read on, or let the automaton
            // meet the end of the input.
            if (!bufferMayReadOn()) break;
            const Refill refill = bufferReadOn(p, end);
            p = refill.start;
            end = refill.start + refill.count;
            if (!refill.more) break;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(*p);
        const unsigned char kind = kDataBytes.fast[c];
        if (kind == kBlank || kind == kLineEnd) {
            p = pastBlanks(p, end, kind, atLineStart);
            continue;
        }
        if (kind == kPunctuation) {
            length = 1;
            token = kDataBytes.punctuation[c];
        } else if (kind == kAtomByte || kind == kQuote || kind == kBracket) {
            // A token the buffer's end cuts is measured on where the measure
            // stopped: a long token is read once, whatever its length. In a
            // memory text it is measured, and handed on, where it stands
            // there; from a file it moves to the buffer's start with more
            // input after it.
            std::size_t from = 0;
            bool last = false;
            for (;;) {
                length = kind == kAtomByte ? atomLength(p, end, from, last)
                         : kind == kQuote  ? quotedLength(p, end, from)
                                           : dataLength(p, end, from);
                if (length != 0 || last) break;
                if (!bufferMayReadOn()) {
                    last = true;
                } else if (input.file == nullptr && inBuffer == nullptr) {
                    // The buffer holds the bytes of the text just before
                    // input.text; the text ends with a NUL byte.
                    inBuffer = p;
                    bufferEnd = end;
                    p = const_cast<char*>(input.text) - (end - inBuffer);
                    end = const_cast<char*>(input.text + input.left);
                    last = true;
                } else {
                    const Refill refill = bufferReadOn(p, end);
                    p = refill.start;
                    end = refill.start + refill.count;
                    last = !refill.more;
                }
            }
            if (length <= 0 && inBuffer != nullptr) {
                // Malformed, or an atom that goes on with a multi-byte
                // sequence: the automaton reads it from the buffer.
                p = inBuffer;
                end = bufferEnd;
                inBuffer = nullptr;
            }
            token = kind == kAtomByte ? ATOM : kind == kQuote ? QUOTED_STRING : DATA_BLOCK;
        }
        break;
    }
    if (length <= 0) return FastToken{p, kNoFastToken, 0};
    if (inBuffer != nullptr) {
        // The input goes on after the token; what the buffer held of it is
        // spent.
        input.text = p + length;
        input.left = static_cast<std::size_t>(end - input.text);
        bufferSpend();
    }
    return handOn(p, token, length, atLineStart);
}

}  // namespace

// The common tokens take the short way: blanks and line ends, then a
// one-byte token or an atom of plain ASCII that the buffer holds whole and
// a byte below 80 ends. Everything else goes the whole way from where the
// blanks end, as if it had come there first.
FastToken readDataToken(char* position, char* end, int& atLineStart) {
    char* p = position;
    while (p != end) {
        const unsigned char c = static_cast<unsigned char>(*p);
        const unsigned char kind = kDataBytes.fast[c];
        if (kind == kBlank || kind == kLineEnd) {
            p = pastBlanks(p, end, kind, atLineStart);
            continue;
        }
        if (kind == kPunctuation) return handOn(p, kDataBytes.punctuation[c], 1, atLineStart);
        if (kind == kAtomByte) {
            const char* q = p + 1;
            // The buffer ends with a NUL byte, which is no atom byte.
            while (kDataBytes.fast[static_cast<unsigned char>(*q)] == kAtomByte) ++q;
            if (q < end && static_cast<unsigned char>(*q) < 0x80) return handOn(p, ATOM, static_cast<int>(q - p), atLineStart);
        }
        break;
    }
    return readFrom(p, end, atLineStart);
}

}  // namespace scan
}  // namespace cgp
