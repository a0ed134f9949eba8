#pragma once
// What it takes for unrtf to lose no character. unrtf drops raw 8-bit bytes,
// misreads several code pages, and after \uN swallows the rest of the word
// whatever \ucN says. So its input is rewritten first: every character of
// text, raw or escaped, is decoded in its code page (the current font's,
// else the document's) and written as \uN followed by one fallback escape,
// the form unrtf reads whole; a symbol font's bytes stay escapes, for
// unrtf's own symbol map. Its output then gets surrogate pairs joined, any
// invalid byte replaced, its character references written as the
// characters (markup characters stay escaped), and a charset declaration
// that says utf-8.
#include <cstddef>
#include <string>

#include "filter/rtf2html/reader.h"

namespace rtf {

class UnrtfInput : private Reader {
public:
    // Appends the rewritten RTF for the next piece to `out`; false once the
    // document has failed (error() tells why).
    bool feed(const char* data, std::size_t size, std::string& out);
    // Closes groups the input left open.
    bool finish(std::string& out);
    using Reader::error;

private:
    bool takesText() const override { return true; }
    void putBytes(int codePage, const char* data, std::size_t size) override;
    void putChar(char32_t c) override;
    void word(Word id, const std::string& name, bool hasParam, long param) override;
    void symbol(char c) override;
    void opened() override;
    void closed() override;
    void binaryData(const char* data, std::size_t size) override;
    void sourceLineBreak() override;

    void escape(unsigned char byte);

    std::string* out_ = nullptr;
    std::size_t open_ = 0;
};

// unrtf's HTML made whole UTF-8 that says so.
std::string unrtfOutputAsUtf8(const std::string& html);

}  // namespace rtf
