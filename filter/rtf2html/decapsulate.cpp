#include "filter/rtf2html/decapsulate.h"

namespace rtf {

namespace {

// Plain text is shown as it was written: spaces and line breaks kept, long
// lines still wrapped by the reader's window.
const char* const kTextStart = "<pre style=\"white-space: pre-wrap\">";
const char* const kTextEnd = "</pre>\r\n</body>\r\n</html>\r\n";

// Control words that stand for a character outside HTML tag groups.
char32_t characterOf(Word id) {
    switch (id) {
    case Word::Lquote: return 0x2018;
    case Word::Rquote: return 0x2019;
    case Word::Ldblquote: return 0x201C;
    case Word::Rdblquote: return 0x201D;
    case Word::Bullet: return 0x2022;
    case Word::Endash: return 0x2013;
    case Word::Emdash: return 0x2014;
    default: return 0;
    }
}

}  // namespace

bool Decapsulator::copying() const {
    const Group& g = group();
    // An HTML tag group is the original HTML itself: it is copied whatever
    // the \htmlrtf state around it.
    return g.destination == Destination::HtmlTag || (g.destination == Destination::Body && !g.htmlrtf);
}

bool Decapsulator::takesText() const { return encapsulation() != Encapsulation::None && copying(); }

void Decapsulator::startText() {
    textStarted_ = true;
    html_ += "<html>\r\n<head>\r\n";
    html_ += CharsetDeclaration::kMetaUtf8;
    html_ += "\r\n</head>\r\n<body>\r\n";
    html_ += kTextStart;
}

void Decapsulator::putChar(char32_t c) {
    if (c == 0) return;  // never text; a NUL would only upset the reader of the page
    if (encapsulation() != Encapsulation::Text) {
        appendUtf8(html_, c);
        return;
    }
    if (!textStarted_) {
        startText();
        // A line break just after <pre> is dropped by browsers: give them one to drop.
        if (c == '\r' || c == '\n') html_ += "\r\n";
    }
    switch (c) {
    case '&': html_ += "&amp;"; break;
    case '<': html_ += "&lt;"; break;
    case '>': html_ += "&gt;"; break;
    default: appendUtf8(html_, c);
    }
}

void Decapsulator::emitAscii(const char* text) {
    for (; *text != '\0'; ++text) putChar(static_cast<unsigned char>(*text));
}

void Decapsulator::word(Word id, const std::string&, bool hasParam, long param) {
    if (id == Word::Htmlrtf) {
        group().htmlrtf = !hasParam || param != 0;
        return;
    }
    if (!takesText()) return;
    if (id == Word::Par) {
        emitAscii("\r\n");
    } else if (id == Word::Tab) {
        putChar('\t');
    } else if (group().destination != Destination::HtmlTag) {
        if (id == Word::Line) {
            emitAscii("\r\n");
        } else if (const char32_t c = characterOf(id)) {
            putChar(c);
        }
    }
}

void Decapsulator::symbol(char c) {
    if (!takesText()) return;
    if (c == '\n') {  // a backslash before a line end is \par
        emitAscii("\r\n");
    } else if (group().destination != Destination::HtmlTag) {
        if (c == '~') putChar(0xA0);
        if (c == '_') putChar(0x2011);
    }
}

void Decapsulator::pass(std::string& out) {
    if (encapsulation() == Encapsulation::Html)
        declaration_.feed(html_, out);
    else
        out += html_;
    html_.clear();
}

bool Decapsulator::feed(const char* data, std::size_t size, std::string& out) {
    const bool ok = readSome(data, size);
    pass(out);
    return ok;
}

bool Decapsulator::finish(std::string& out) {
    const bool ok = readEnd();
    if (encapsulation() == Encapsulation::Text) {
        if (!textStarted_) startText();
        html_ += kTextEnd;
    }
    pass(out);
    if (encapsulation() == Encapsulation::Html) declaration_.finish(out);
    return ok;
}

bool decapsulate(const std::string& rtf, std::string& html) {
    Decapsulator d;
    html.clear();
    if (!d.feed(rtf.data(), rtf.size(), html) || !d.finish(html)) return false;
    return d.encapsulation() != Encapsulation::None;
}

Encapsulation encapsulationOf(const std::string& rtf) {
    Decapsulator d;
    std::string ignored;
    d.feed(rtf.data(), rtf.size(), ignored);
    if (!d.headerRead()) d.finish(ignored);
    return d.encapsulation();
}

}  // namespace rtf
