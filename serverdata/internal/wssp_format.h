#pragma once
// What the WSSP renderer writes values with: output straight to a stream's
// buffer, the escapings of the formats ("HTML:", "URL:", "JAVASCRIPT:") and
// the date formats with their pictures. Nothing here knows the page tree.
#include <ctime>
#include <ostream>
#include <streambuf>
#include <string>

#include "runtime/convert.h"
#include "serverdata/wssp.h"

namespace cgp {
namespace wssp {

// Straight to the buffer: a render writes many small pieces, and a stream's
// sentry for each costs more than the copy. A failed stream takes nothing
// more, as with write().
inline void put(std::ostream& out, const char* text, std::size_t length) {
    if (length == 0 || !out.good()) return;
    std::streambuf* buffer = out.rdbuf();
    const std::streamsize n = static_cast<std::streamsize>(length);
    bool written = false;
    try {
        written = buffer != nullptr && buffer->sputn(text, n) == n;
    } catch (...) {
        // As write() does: the stream goes bad, and throws only when asked to.
        if (out.exceptions() & std::ios_base::badbit) throw;
    }
    if (!written) out.setstate(std::ios_base::badbit);
}

inline void put(std::ostream& out, const std::string& text) { put(out, text.data(), text.size()); }

// The text as HTML: "&", double and single quotes, "<" and ">" as entities.
void putHtml(std::ostream& out, const std::string& text);
std::string html(const std::string& text);

// A URL component: every byte but the unreserved ones as %XX, so that a
// value ends neither the attribute nor the parameter it stands in.
std::string urlEncoded(const std::string& text);

// A JavaScript string's content: nothing in it ends the string, the line or
// the script element.
void putJavaScript(std::ostream& out, const std::string& text);
std::string javaScript(const std::string& text);

// The formats whose text goes into HTML: they escape as "HTML:" does (what
// else they would do to the text is not made). Inline, as the next two: a
// render asks for every formatted value.
inline bool isHtmlFormat(int code) {
    return code == kHtml || code == kHtmlUtf8 || code == kHtmlTruncated || code == kHtmlSubst ||
           code == kHtmlSubstMailbox || code == kHtmlSubstRoundSize;
}
inline bool isUrlFormat(int code) { return code == kUrl || code == kUrlMailboxParent; }
// DATETIMESHORT:, DATETIME:, DATE:, DATEWEEK: and their local forms.
inline bool isDateFormat(int code) {
    return code == kDateTimeShort || code == kLocalDateTimeShort || code == kDateTime || code == kLocalDateTime ||
           code == kLocalDate || code == kDate || code == kDateWeek;
}

// A counter or a time as an unsigned number, as qdl::stringToUnsigned reads
// it; plain digits, the common case, without a string stream.
inline unsigned readUnsigned(const std::string& text) {
    if (text.empty() || text.size() > 10) return qdl::stringToUnsigned(text);
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return qdl::stringToUnsigned(text);
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= 0xFFFFFFFFull ? static_cast<unsigned>(value) : qdl::stringToUnsigned(text);
}

// The time `t` as the date format `code` shows it; `picture`, when given,
// in place of the format's own (DATETIME: and LOCALDATETIME: take one).
std::string formattedDate(int code, time_t t, const std::string* picture);

}  // namespace wssp
}  // namespace cgp
