#include "filter/rtf2html/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <map>
#include <memory>
#include <mutex>

namespace rtf {

namespace {

// Bytes of a multi-byte code page decoded in one step at most.
const std::size_t kMaxPending = 4096;

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

bool isKnown(long codePage) {
    return codePage == 874 || codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950 ||
           (codePage >= 1250 && codePage <= 1258) || codePage == 10000;
}

iconv_t openConverter(int codePage) {
    // glibc knows the Mac Roman code page by this name only.
    const std::string name = codePage == 10000 ? "MACINTOSH" : "CP" + std::to_string(codePage);
    return ::iconv_open("UTF-32LE", name.c_str());
}

char32_t fromUtf32le(const char* p) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<char32_t>(u[0]) | static_cast<char32_t>(u[1]) << 8 | static_cast<char32_t>(u[2]) << 16 |
           static_cast<char32_t>(u[3]) << 24;
}

// What a code page makes of each byte on its own. A lead byte of a
// multi-byte code page marks the page as one.
struct Table {
    bool usable = false;
    bool multiByte = false;
    char32_t map[256];
};

std::unique_ptr<Table> buildTable(int codePage) {
    std::unique_ptr<Table> t(new Table);
    if (codePage == kSymbolCodePage) {
        for (int b = 0; b < 256; ++b) t->map[b] = static_cast<char32_t>(b);
        t->usable = true;
        return t;
    }
    const iconv_t cd = openConverter(codePage);
    if (cd == kNoConverter) return t;
    t->usable = true;
    for (int b = 0; b < 256; ++b) {
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char in = static_cast<char>(b);
        char out[16];
        char* inp = &in;
        char* outp = out;
        std::size_t inLeft = 1;
        std::size_t outLeft = sizeof out;
        const std::size_t r = ::iconv(cd, &inp, &inLeft, &outp, &outLeft);
        if (r == static_cast<std::size_t>(-1) && errno == EINVAL) t->multiByte = true;
        t->map[b] = r == static_cast<std::size_t>(-1) || outp - out < 4 ? kReplacementChar : fromUtf32le(out);
    }
    ::iconv_close(cd);
    return t;
}

// Tables are built once per process and never change: any number of
// decoders, on any thread, read them. Only the known code pages have one.
const Table& tableOf(int codePage) {
    static std::mutex mutex;
    static std::map<int, std::unique_ptr<Table>> tables;
    std::lock_guard<std::mutex> lock(mutex);
    std::unique_ptr<Table>& t = tables[codePage];
    if (t == nullptr) t = buildTable(codePage);
    return *t;
}

}  // namespace

int codePageOfCharset(long charset) {
    switch (charset) {
    case 0: return 1252;
    case 2: return kSymbolCodePage;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    default: return 0;
    }
}

void appendUtf8(std::string& out, char32_t c) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacementChar;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::size_t utf8Length(const char* data, std::size_t left) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    std::size_t n;
    char32_t v;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        v = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        v = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        v = c & 0x07;
    } else {
        return 0;
    }
    if (left < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        v = v << 6 | (p[i] & 0x3F);
    }
    if ((n == 3 && v < 0x800) || (n == 4 && (v < 0x10000 || v > 0x10FFFF)) || (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    return n;
}

bool isUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8Length(text.data() + i, text.size() - i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

TextDecoder::~TextDecoder() {
    for (const auto& c : converters_)
        if (c.second != kNoConverter) ::iconv_close(static_cast<iconv_t>(c.second));
}

int TextDecoder::usable(long codePage) {
    if (codePage == kSymbolCodePage) return kSymbolCodePage;
    return isKnown(codePage) && tableOf(static_cast<int>(codePage)).usable ? static_cast<int>(codePage)
                                                                           : kDefaultCodePage;
}

void TextDecoder::put(int codePage, const char* data, std::size_t size, CharSink& sink) {
    if (codePage != lastPage_) {
        lastPage_ = codePage;
        if (codePage != kSymbolCodePage && !isKnown(codePage)) codePage = kDefaultCodePage;
        const Table* t = &tableOf(codePage);
        if (!t->usable) t = &tableOf(codePage = kDefaultCodePage);
        lastTable_ = t;
        lastUsable_ = codePage;
    }
    const Table* t = static_cast<const Table*>(lastTable_);
    codePage = lastUsable_;
    if (pendingPage_ != codePage && !pending_.empty()) flush(sink);
    if (!t->multiByte) {
        for (std::size_t i = 0; i < size; ++i) sink.putChar(t->map[static_cast<unsigned char>(data[i])]);
        return;
    }
    pendingPage_ = codePage;
    pending_.append(data, size);
    if (pending_.size() >= kMaxPending) convert(false, sink);
}

void TextDecoder::flush(CharSink& sink) {
    if (!pending_.empty()) convert(true, sink);
}

void TextDecoder::convert(bool final, CharSink& sink) {
    auto c = converters_.begin();
    while (c != converters_.end() && c->first != pendingPage_) ++c;
    if (c == converters_.end()) c = converters_.emplace(c, pendingPage_, static_cast<void*>(openConverter(pendingPage_)));
    const iconv_t cd = static_cast<iconv_t>(c->second);
    if (cd == kNoConverter) {
        // The table was built, so this is a lack of resources: nothing is lost silently.
        for (std::size_t i = 0; i < pending_.size(); ++i) sink.putChar(kReplacementChar);
        pending_.clear();
        return;
    }
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = &pending_[0];
    std::size_t inLeft = pending_.size();
    char out[4096];
    while (inLeft > 0) {
        char* outp = out;
        std::size_t outLeft = sizeof out;
        const std::size_t r = ::iconv(cd, &in, &inLeft, &outp, &outLeft);
        const int error = r == static_cast<std::size_t>(-1) ? errno : 0;
        for (const char* q = out; q + 4 <= outp; q += 4) sink.putChar(fromUtf32le(q));
        if (error == 0 || error == E2BIG) continue;
        if (error == EILSEQ) {
            sink.putChar(kReplacementChar);
            ++in;
            --inLeft;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        // A sequence cut short: more bytes may follow, unless this is the end.
        if (error == EINVAL && !final) break;
        sink.putChar(kReplacementChar);
        inLeft = 0;
    }
    pending_.erase(0, pending_.size() - inLeft);
}

}  // namespace rtf
