#pragma once
// Bytes in the code pages RTF names, decoded to Unicode through the C
// library's iconv. A byte or sequence a code page does not define becomes
// U+FFFD: nothing is dropped, nothing stops the decoding.
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace rtf {

const char32_t kReplacementChar = 0xFFFD;

// A symbol font's bytes are not in any code page; they are taken as they
// are (byte N is U+00NN). The number is the one Windows gives CP_SYMBOL.
const int kSymbolCodePage = 42;
const int kDefaultCodePage = 1252;

// The code page of a font's \fcharsetN, or 0 when the charset names none
// (the document's code page applies).
int codePageOfCharset(long charset);

// Appends `c` as UTF-8; a surrogate or a value past U+10FFFF becomes U+FFFD.
void appendUtf8(std::string& out, char32_t c);

// The length of the UTF-8 sequence at `data` (`left` bytes there), or 0 when
// it is not valid: overlong, a surrogate, past U+10FFFF, or cut short.
std::size_t utf8Length(const char* data, std::size_t left);
bool isUtf8(const std::string& text);

// Receives decoded characters in order.
class CharSink {
public:
    virtual ~CharSink() = default;
    virtual void putChar(char32_t c) = 0;
};

class TextDecoder {
public:
    TextDecoder() = default;
    ~TextDecoder();
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

    // `codePage` when it is the symbol font's or one of the Windows code
    // pages RTF writers name (874, 932, 936, 949, 950, 1250 to 1258, 10000)
    // and can be decoded here; else the default, 1252.
    static int usable(long codePage);

    // Bytes in `codePage` (a usable one, or the symbol font's). A single-byte
    // code page decodes them at once; a multi-byte one (932, 936, 949, 950)
    // gathers them, since a character's bytes may come from several escapes
    // and text runs.
    void put(int codePage, const char* data, std::size_t size, CharSink& sink);
    // Decodes what is gathered; a sequence cut short becomes U+FFFD.
    void flush(CharSink& sink);

private:
    void convert(bool final, CharSink& sink);

    // This decoder's own converters for multi-byte code pages: a converter
    // keeps state between calls, so none is shared.
    std::vector<std::pair<int, void*>> converters_;
    std::string pending_;  // bytes in pendingPage_, not yet decoded
    int pendingPage_ = 0;
    // The table of the code page asked for last, without a lock for each run.
    int lastPage_ = -1;
    int lastUsable_ = 0;
    const void* lastTable_ = nullptr;
};

}  // namespace rtf
