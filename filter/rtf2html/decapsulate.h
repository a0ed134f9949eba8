#pragma once
// Takes back the HTML or plain text that Outlook and Exchange wrap in RTF
// (a \fromhtml1 or \fromtext document) and writes it as an HTML document in
// UTF-8 that declares its charset. HTML comes back as its sender wrote it,
// from the \*\htmltag groups and the text outside \htmlrtf runs; plain text
// comes back escaped, its line breaks kept, in a <pre> element.
//
// Fed piece by piece; the output is the same for any cut of the input.
#include <cstddef>
#include <string>

#include "filter/rtf2html/charset_declaration.h"
#include "filter/rtf2html/reader.h"

namespace rtf {

class Decapsulator : private Reader {
public:
    Decapsulator() = default;

    // Reads the next piece of the document and appends the HTML it gives to
    // `out`. False once the document has failed (error() tells why).
    bool feed(const char* data, std::size_t size, std::string& out);
    bool finish(std::string& out);

    // Known once headerRead(): a document that is neither HTML nor text
    // wrapped in RTF gives no output.
    using Reader::encapsulation;
    using Reader::error;
    using Reader::headerRead;

private:
    bool takesText() const override;
    void word(Word id, const std::string& name, bool hasParam, long param) override;
    void symbol(char c) override;
    void putChar(char32_t c) override;

    bool copying() const;
    void emitAscii(const char* text);
    void startText();
    void pass(std::string& out);

    std::string html_;  // output not yet passed on
    CharsetDeclaration declaration_;
    bool textStarted_ = false;
};

// Whole documents at once: false when `rtf` is not encapsulated or fails.
bool decapsulate(const std::string& rtf, std::string& html);

// Whether the document's header marks it as encapsulated HTML or text.
Encapsulation encapsulationOf(const std::string& rtf);

}  // namespace rtf
