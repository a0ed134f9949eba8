#include "filter/rtf2html/reader.h"

namespace rtf {

namespace {

// \ucN beyond this is no fallback any writer makes; the bound keeps a huge
// N from swallowing the rest of the document.
const long kMaxUnicodeSkip = 16;

struct Entry {
    const char* name;
    Word id;
};

// Sorted by name. The skipped destinations hold no text of the document,
// whether or not \* marks them.
const Entry kWords[] = {
    {"ansicpg", Word::Ansicpg},
    {"bin", Word::Bin},
    {"bullet", Word::Bullet},
    {"colortbl", Word::SkippedDestination},
    {"deff", Word::Deff},
    {"emdash", Word::Emdash},
    {"endash", Word::Endash},
    {"f", Word::F},
    {"fcharset", Word::Fcharset},
    {"filetbl", Word::SkippedDestination},
    {"fonttbl", Word::Fonttbl},
    {"fromhtml", Word::Fromhtml},
    {"fromtext", Word::Fromtext},
    {"htmlrtf", Word::Htmlrtf},
    {"htmltag", Word::Htmltag},
    {"info", Word::SkippedDestination},
    {"ldblquote", Word::Ldblquote},
    {"line", Word::Line},
    {"listoverridetable", Word::SkippedDestination},
    {"listtable", Word::SkippedDestination},
    {"lquote", Word::Lquote},
    {"objdata", Word::SkippedDestination},
    {"par", Word::Par},
    {"pict", Word::SkippedDestination},
    {"plain", Word::Plain},
    {"rdblquote", Word::Rdblquote},
    {"revtbl", Word::SkippedDestination},
    {"rquote", Word::Rquote},
    {"rsidtbl", Word::SkippedDestination},
    {"rtf", Word::Rtf},
    {"stylesheet", Word::SkippedDestination},
    {"tab", Word::Tab},
    {"u", Word::U},
    {"uc", Word::Uc},
};

bool isBlank(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        if (data[i] != ' ' && data[i] != '\t') return false;
    return true;
}

}  // namespace

Word wordOf(const std::string& name) {
    std::size_t low = 0;
    std::size_t high = sizeof kWords / sizeof kWords[0];
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        const int order = name.compare(kWords[mid].name);
        if (order == 0) return kWords[mid].id;
        if (order > 0)
            low = mid + 1;
        else
            high = mid;
    }
    return Word::Other;
}

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

void Reader::putBytes(int codePage, const char* data, std::size_t size) {
    decoder_.put(codePage, data, size, *this);
}

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

void Reader::classify(Word id) {
    Group& g = group();
    if (depth() == 1) {
        if (id != Word::Rtf) headerRead_ = true;  // not RTF: never encapsulated
        return;
    }
    if (g.destination == Destination::Skip) return;
    if (starred_)
        g.destination = id == Word::Htmltag ? Destination::HtmlTag : Destination::Skip;
    else if (id == Word::Fonttbl)
        g.destination = Destination::FontTable;
    else if (id == Word::SkippedDestination)
        g.destination = Destination::Skip;
}

void Reader::controlWord(const std::string& name, bool hasParam, long param) {
    if (!active()) return;
    const Word id = wordOf(name);
    if (skip_ > 0) {
        --skip_;
        dropBinary_ = id == Word::Bin;
        return;
    }
    dropBinary_ = false;
    if (id == Word::U) {
        fresh_ = false;
        unicode(param);
        skip_ = group().unicodeSkip;
        return;
    }
    settle();
    if (fresh_) classify(id);
    fresh_ = false;
    Group& g = group();
    switch (id) {
    case Word::Uc:
        g.unicodeSkip = param < 0 ? 0 : param > kMaxUnicodeSkip ? kMaxUnicodeSkip : param;
        return;
    case Word::F:
        if (g.destination == Destination::FontTable)
            fontDefined_ = param;
        else
            g.font = param;
        break;
    case Word::Fcharset:
        if (g.destination == Destination::FontTable && fontDefined_ >= 0 &&
            (fonts_.size() < kMaxFonts || fonts_.count(fontDefined_) != 0)) {
            const int page = codePageOfCharset(param);
            fonts_[fontDefined_] = page == 0 ? 0 : decoder_.usable(page);
        }
        break;
    case Word::Ansicpg:
        documentCodePage_ = decoder_.usable(param);
        break;
    case Word::Deff:
        defaultFont_ = param;
        break;
    case Word::Plain:
        g.font = -1;
        break;
    case Word::Fromhtml:
    case Word::Fromtext:
        if (depth() == 1 && !headerRead_ && (!hasParam || param != 0)) {
            encapsulation_ = id == Word::Fromhtml ? Encapsulation::Html : Encapsulation::Text;
            headerRead_ = true;
        }
        break;
    default:
        break;
    }
    word(id, name, hasParam, param);
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
    if (takesText()) putBytes(codePage(), reinterpret_cast<const char*>(&byte), 1);
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
    putBytes(codePage(), data, size);
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
