#include "filter/rtf2html/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <cstring>

namespace rtf {

namespace {

// A document names its code pages in its header and font table; a file that
// names more than this is hostile, and the rest read as the default.
const std::size_t kMaxPages = 32;
// Bytes of a multi-byte code page decoded in one step at most.
const std::size_t kMaxPending = 4096;

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

std::string iconvName(int codePage) {
    // glibc knows the Mac Roman code page by this name only.
    if (codePage == 10000) return "MACINTOSH";
    return "CP" + std::to_string(codePage);
}

char32_t fromUtf32le(const char* p) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<char32_t>(u[0]) | static_cast<char32_t>(u[1]) << 8 | static_cast<char32_t>(u[2]) << 16 |
           static_cast<char32_t>(u[3]) << 24;
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

// One code page: a table for a single-byte one, a converter for the others.
struct TextDecoder::Page {
    int number = 0;
    bool usable = false;
    bool multiByte = false;
    iconv_t converter = kNoConverter;
    char32_t table[256];

    ~Page() {
        if (converter != kNoConverter) ::iconv_close(converter);
    }
};

TextDecoder::TextDecoder() = default;
TextDecoder::~TextDecoder() = default;

TextDecoder::Page* TextDecoder::page(int codePage) {
    if (last_ != nullptr && last_->number == codePage) return last_;
    for (const std::unique_ptr<Page>& p : pages_)
        if (p->number == codePage) return last_ = p.get();
    if (pages_.size() >= kMaxPages && codePage != kDefaultCodePage && codePage != kSymbolCodePage) return nullptr;

    std::unique_ptr<Page> p(new Page);
    p->number = codePage;
    if (codePage == kSymbolCodePage) {
        for (int b = 0; b < 256; ++b) p->table[b] = static_cast<char32_t>(b);
        p->usable = true;
    } else if (codePage > 0) {
        p->converter = ::iconv_open("UTF-32LE", iconvName(codePage).c_str());
        if (p->converter != kNoConverter) {
            p->usable = true;
            for (int b = 0; b < 256; ++b) {
                ::iconv(p->converter, nullptr, nullptr, nullptr, nullptr);
                char in = static_cast<char>(b);
                char out[16];
                char* inp = &in;
                char* outp = out;
                std::size_t inLeft = 1;
                std::size_t outLeft = sizeof out;
                const std::size_t r = ::iconv(p->converter, &inp, &inLeft, &outp, &outLeft);
                if (r == static_cast<std::size_t>(-1) && errno == EINVAL) {
                    // A lead byte: this code page needs byte pairs.
                    p->multiByte = true;
                    p->table[b] = kReplacementChar;
                } else if (r == static_cast<std::size_t>(-1) || outp - out < 4) {
                    p->table[b] = kReplacementChar;
                } else {
                    p->table[b] = fromUtf32le(out);
                }
            }
            ::iconv(p->converter, nullptr, nullptr, nullptr, nullptr);
            if (!p->multiByte) {
                ::iconv_close(p->converter);
                p->converter = kNoConverter;
            }
        }
    }
    pages_.push_back(std::move(p));
    return last_ = pages_.back().get();
}

int TextDecoder::usable(long codePage) {
    if (codePage <= 0 || codePage > 0xFFFF) return kDefaultCodePage;
    const Page* p = page(static_cast<int>(codePage));
    return p != nullptr && p->usable ? static_cast<int>(codePage) : kDefaultCodePage;
}

void TextDecoder::put(int codePage, const char* data, std::size_t size, CharSink& sink) {
    Page* p = page(codePage);
    if (p == nullptr || !p->usable) p = page(kDefaultCodePage);
    if (pendingPage_ != p && !pending_.empty()) flush(sink);
    if (!p->multiByte) {
        for (std::size_t i = 0; i < size; ++i) sink.putChar(p->table[static_cast<unsigned char>(data[i])]);
        return;
    }
    pendingPage_ = p;
    pending_.append(data, size);
    if (pending_.size() >= kMaxPending) convert(false, sink);
}

void TextDecoder::flush(CharSink& sink) {
    if (!pending_.empty()) convert(true, sink);
}

void TextDecoder::convert(bool final, CharSink& sink) {
    iconv_t cd = pendingPage_->converter;
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
        if (error == E2BIG) continue;
        if (error == EILSEQ) {
            sink.putChar(kReplacementChar);
            ++in;
            --inLeft;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        if (error == EINVAL) {
            // A sequence cut short: more bytes may follow, unless this is the end.
            if (!final) break;
            sink.putChar(kReplacementChar);
            inLeft = 0;
        }
        if (error != 0 && error != EINVAL) {
            sink.putChar(kReplacementChar);
            inLeft = 0;
        }
    }
    pending_.erase(0, pending_.size() - inLeft);
    if (pending_.empty()) pendingPage_ = nullptr;
}

}  // namespace rtf
