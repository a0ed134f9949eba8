#include "filter/rtf2html/reader.h"

namespace rtf {

namespace {

// \ucN beyond this is no fallback any writer makes; the bound keeps a huge
// N from swallowing the rest of the document.
const long kMaxUnicodeSkip = 16;

// Destinations that hold no text of the document, whether or not \* marks them.
bool isSkippedDestination(const std::string& name) {
    static const char* const names[] = {"colortbl", "stylesheet", "info", "pict", "listtable",
                                        "listoverridetable", "revtbl", "rsidtbl", "filetbl", "objdata"};
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

bool isBlank(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        if (data[i] != ' ' && data[i] != '\t') return false;
    return true;
}

}  // namespace

bool Reader::readSome(const char* data, std::size_t size) {
    if (!failed_) lexer_.feed(data, size, *this);
    return !failed_;
}

bool Reader::readEnd() {
    if (!failed_) {
        lexer_.finish(*this);
        settle();
    }
    headerRead_ = true;
    return !failed_;
}

void Reader::fail(const std::string& text) {
    failed_ = true;
    error_ = text;
    headerRead_ = true;
}

int Reader::codePage() const {
    if (group().destination == Destination::HtmlTag) return documentCodePage_;
    const long font = group().font >= 0 ? group().font : defaultFont_;
    const auto it = fonts_.find(font);
    return it != fonts_.end() && it->second != 0 ? it->second : documentCodePage_;
}

void Reader::putByte(int codePage, unsigned char byte) { decoder_.put(codePage, byte, *this); }

void Reader::settle() {
    decoder_.flush(*this);
    if (highSurrogate_ != 0) {
        highSurrogate_ = 0;
        putChar(kReplacementChar);
    }
}

void Reader::groupStart() {
    if (ended_ || failed_) return;
    skip_ = 0;
    if (stack_.empty()) {
        started_ = true;
        stack_.push_back(Group());
    } else {
        settle();
        if (stack_.size() >= kMaxGroupDepth) {
            fail("groups nested deeper than " + std::to_string(kMaxGroupDepth));
            return;
        }
        stack_.push_back(stack_.back());
    }
    fresh_ = true;
    starred_ = false;
    opened();
}

void Reader::groupEnd() {
    if (!active()) return;
    skip_ = 0;
    settle();
    const Destination closing = group().destination;
    stack_.pop_back();
    fresh_ = false;
    // The header ends with the font table; \fromhtml1 or \fromtext come before.
    if (closing == Destination::FontTable && (stack_.empty() || group().destination != Destination::FontTable))
        headerRead_ = true;
    closed();
    if (stack_.empty()) {
        ended_ = true;
        headerRead_ = true;
    }
}

void Reader::classify(const std::string& name) {
    Group& g = group();
    if (depth() == 1) {
        if (name != "rtf") headerRead_ = true;  // not RTF: never encapsulated
        return;
    }
    if (g.destination == Destination::Skip) return;
    if (starred_)
        g.destination = name == "htmltag" ? Destination::HtmlTag : Destination::Skip;
    else if (name == "fonttbl")
        g.destination = Destination::FontTable;
    else if (isSkippedDestination(name))
        g.destination = Destination::Skip;
}

void Reader::controlWord(const std::string& name, bool hasParam, long param) {
    if (!active()) return;
    if (skip_ > 0) {
        --skip_;
        dropBinary_ = name == "bin";
        return;
    }
    dropBinary_ = false;
    if (name == "u") {
        fresh_ = false;
        unicode(param);
        skip_ = group().unicodeSkip;
        return;
    }
    settle();
    if (fresh_) classify(name);
    fresh_ = false;
    Group& g = group();
    if (name == "uc") {
        g.unicodeSkip = param < 0 ? 0 : param > kMaxUnicodeSkip ? kMaxUnicodeSkip : param;
        return;
    }
    if (name == "f") {
        if (g.destination == Destination::FontTable)
            fontDefined_ = param;
        else
            g.font = param;
    } else if (name == "fcharset") {
        if (g.destination == Destination::FontTable && fontDefined_ >= 0 &&
            (fonts_.size() < kMaxFonts || fonts_.count(fontDefined_) != 0)) {
            const int page = codePageOfCharset(param);
            fonts_[fontDefined_] = page == 0 ? 0 : decoder_.usable(page);
        }
    } else if (name == "ansicpg") {
        documentCodePage_ = decoder_.usable(param);
    } else if (name == "deff") {
        defaultFont_ = param;
    } else if (name == "plain") {
        g.font = -1;
    } else if ((name == "fromhtml" || name == "fromtext") && depth() == 1 && !headerRead_ &&
               (!hasParam || param != 0)) {
        encapsulation_ = name == "fromhtml" ? Encapsulation::Html : Encapsulation::Text;
        headerRead_ = true;
    }
    word(name, hasParam, param);
}

void Reader::controlSymbol(char symbol) {
    if (!active()) return;
    if (skip_ > 0) {
        --skip_;
        return;
    }
    if (symbol == '{' || symbol == '}' || symbol == '\\') {
        textByte(static_cast<unsigned char>(symbol));
        return;
    }
    settle();
    if (symbol == '*')
        starred_ = fresh_;
    else
        fresh_ = false;
    this->symbol(symbol);
}

void Reader::hexByte(unsigned char byte) {
    if (!active()) return;
    if (skip_ > 0) {
        --skip_;
        return;
    }
    textByte(byte);
}

void Reader::textByte(unsigned char byte) {
    fresh_ = false;
    if (highSurrogate_ != 0) settle();
    if (group().destination == Destination::Body) headerRead_ = true;
    if (takesText()) putByte(codePage(), byte);
}

void Reader::text(const char* data, std::size_t size) {
    if (!active()) return;
    if (skip_ > 0) {
        const std::size_t n = static_cast<std::size_t>(skip_) < size ? static_cast<std::size_t>(skip_) : size;
        skip_ -= static_cast<long>(n);
        data += n;
        size -= n;
        if (size == 0) return;
    }
    fresh_ = false;
    if (highSurrogate_ != 0) settle();
    if (group().destination == Destination::Body && !isBlank(data, size)) headerRead_ = true;
    if (!takesText()) return;
    const int page = codePage();
    for (std::size_t i = 0; i < size; ++i) putByte(page, static_cast<unsigned char>(data[i]));
}

void Reader::binary(const char* data, std::size_t size) {
    if (!active() || dropBinary_) return;
    binaryData(data, size);
}

void Reader::lineBreak() {
    if (active()) sourceLineBreak();
}

void Reader::unicode(long param) {
    decoder_.flush(*this);
    if (group().destination == Destination::Body) headerRead_ = true;
    if (!takesText()) {
        if (highSurrogate_ != 0) settle();
        return;
    }
    long unit = param < 0 ? param + 65536 : param;
    const char32_t c = unit < 0 || unit > 0xFFFF ? kReplacementChar : static_cast<char32_t>(unit);
    if (c >= 0xD800 && c <= 0xDBFF) {
        if (highSurrogate_ != 0) putChar(kReplacementChar);
        highSurrogate_ = c;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
        if (highSurrogate_ != 0)
            putChar(0x10000 + ((highSurrogate_ - 0xD800) << 10) + (c - 0xDC00));
        else
            putChar(kReplacementChar);
        highSurrogate_ = 0;
    } else {
        if (highSurrogate_ != 0) settle();
        putChar(c);
    }
}

}  // namespace rtf
