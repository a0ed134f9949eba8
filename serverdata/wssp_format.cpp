// The WSSP formats: escaping for HTML, URLs and JavaScript, and dates with
// their pictures and name tables.
#include "serverdata/internal/wssp_format.h"

#include <time.h>

#include <cstring>
#include <sstream>

#include "runtime/convert.h"
#include "runtime/datetime.h"
#include "serverdata/wssp.h"

namespace cgp {

namespace {

// What each byte becomes in a page's HTML; null for itself.
struct HtmlTable {
    const char* of[256] = {};
    HtmlTable() {
        of[static_cast<unsigned char>('&')] = "&amp;";
        of[static_cast<unsigned char>('"')] = "&quot;";
        of[static_cast<unsigned char>('<')] = "&lt;";
        of[static_cast<unsigned char>('>')] = "&gt;";
        of[static_cast<unsigned char>('\'')] = "&#39;";
    }
};

struct DateNames {
    DataSet months{DataSet::kArray};
    DataSet weekdays{DataSet::kArray};
    DataSet halves{DataSet::kArray};
    DateNames() {
        for (const char* m : {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"})
            months->elements.emplace_back(m);
        for (const char* d : {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"}) weekdays->elements.emplace_back(d);
        for (const char* h : {"AM", "PM"}) halves->elements.emplace_back(h);
    }
};

// Made on first use; never destroyed.
const DateNames& dateNames() {
    static const DateNames* names = new DateNames;
    return *names;
}

const std::string& nameAt(const DataSet& names, int index) {
    static const std::string kNone;
    if (names.get() == nullptr || index < 0) return kNone;
    const data_set::Elements& list = names->elements;
    if (static_cast<std::size_t>(index) >= list.size() || list[static_cast<std::size_t>(index)].get() == nullptr)
        return kNone;
    return list[static_cast<std::size_t>(index)]->value;
}

std::string twoDigits(int value) {
    std::string text = std::to_string(value);
    if (value < 10 && value >= 0) text.insert(0, 1, '0');
    return text;
}

// The local zone's offset at t, not now: a summer time shown in winter keeps
// its summer hour.
long localOffsetAt(time_t t) {
    struct tm fields;
    if (::localtime_r(&t, &fields) == nullptr) return qdl::DateTime::localOffset();
    return static_cast<long>(::timegm(&fields) - t);
}

const char* const kShortTimePicture = "^H:^m:^s";
const char* const kShortDatePicture = "^Y/^N/^D";
const char* const kDateTimePicture = "^h:^m:^s ^W ^D-^M-^Y";
const char* const kDateWeekPicture = "^W, ^Y/^N/^D";
// DATETIMESHORT: shows the time of day for a time within this many seconds
// of now, else the date.
const long long kShortTimeWindow = 72000;

// Writes the text, each byte for which `replacementAt` (given the bytes
// and the byte's position) names a text replaced by that text.
template <class Replacement>
void putReplacing(std::ostream& out, const std::string& text, Replacement replacementAt) {
    // Read through a local pointer: the writes between could, for all the
    // compiler knows, change the string, which would cost a reload a byte.
    const char* data = text.data();
    const std::size_t size = text.size();
    std::size_t from = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const char* replacement = replacementAt(data, i);
        if (replacement == nullptr) continue;
        wssp::put(out, data + from, i - from);
        wssp::put(out, replacement, std::strlen(replacement));
        from = i + 1;
    }
    wssp::put(out, data + from, size - from);
}

}  // namespace

namespace wssp {

void putHtml(std::ostream& out, const std::string& text) {
    static const HtmlTable table;
    putReplacing(out, text,
                 [](const char* data, std::size_t i) { return table.of[static_cast<unsigned char>(data[i])]; });
}

std::string html(const std::string& text) {
    std::ostringstream out;
    putHtml(out, text);
    return out.str();
}

std::string urlEncoded(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' || u == '.' ||
            u == '_' || u == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

void putJavaScript(std::ostream& out, const std::string& text) {
    const std::size_t size = text.size();
    putReplacing(out, text, [size](const char* data, std::size_t i) -> const char* {
        switch (data[i]) {
        case '\\': return "\\\\";
        case '\'': return "\\'";
        case '"': return "\\\"";
        case '\n': return "\\n";
        case '\r': return "\\r";
        case '<':
            // "</" would end the script element, "<!--" change how the rest
            // of it is read.
            return i + 1 < size && (data[i + 1] == '/' || data[i + 1] == '!') ? "\\x3C" : nullptr;
        default: return nullptr;
        }
    });
}

std::string javaScript(const std::string& text) {
    std::ostringstream out;
    putJavaScript(out, text);
    return out.str();
}

std::string formattedDate(int code, time_t t, const std::string* picture) {
    switch (code) {
    case kDateTimeShort:
    case kLocalDateTimeShort: {
        const long long gap = static_cast<long long>(qdl::DateTime::now().toTime()) - static_cast<long long>(t);
        const bool close = gap < kShortTimeWindow && gap > -kShortTimeWindow;
        return WSSPPage::formatDate(t, close ? kShortTimePicture : kShortDatePicture, code == kLocalDateTimeShort);
    }
    case kDateTime:
    case kLocalDateTime:
        return WSSPPage::formatDate(t, picture != nullptr ? *picture : std::string(kDateTimePicture),
                                    code == kLocalDateTime);
    case kLocalDate:
    case kDate:
        return WSSPPage::formatDate(t, kShortDatePicture, code == kLocalDate);
    case kDateWeek:
        return WSSPPage::formatDate(t, kDateWeekPicture, false);
    default:
        return std::string();
    }
}

}  // namespace wssp

std::string WSSPPage::formatDate(time_t t, const std::string& picture, bool local) {
    const DateNames& names = dateNames();
    return formatDate(t, picture, local, names.months, names.weekdays, names.halves);
}

std::string WSSPPage::formatDate(time_t t, const std::string& picture, bool local, const DataSet& months,
                                 const DataSet& weekdays, const DataSet& dayHalves) {
    dateNames();
    qdl::DateTime date(t);
    if (local) date.setOffset(localOffsetAt(t));
    const int hour = date.hour();
    const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
    std::string year = std::to_string(date.year());
    if (year.size() < 4) year.insert(0, 4 - year.size(), '0');

    // One code after the other, each over the whole text: what a code puts
    // in may complete a later one, as the server's pictures expect.
    std::string text = picture;
    qdl::replaceAll(text, "^D", twoDigits(date.day()));
    qdl::replaceAll(text, "^d", std::to_string(date.day()));
    qdl::replaceAll(text, "^M", nameAt(months, date.month()));
    qdl::replaceAll(text, "^N", twoDigits(date.month() + 1));
    qdl::replaceAll(text, "^n", std::to_string(date.month() + 1));
    qdl::replaceAll(text, "^Y", twoDigits(date.year() % 100));
    qdl::replaceAll(text, "^y", year);
    qdl::replaceAll(text, "^s", twoDigits(date.second()));
    qdl::replaceAll(text, "^m", twoDigits(date.minute()));
    qdl::replaceAll(text, "^H", twoDigits(hour));
    qdl::replaceAll(text, "^h", std::to_string(hour12));
    qdl::replaceAll(text, "^t", nameAt(dayHalves, hour < 12 ? 0 : 1));
    qdl::replaceAll(text, "^W", nameAt(weekdays, date.weekday()));
    return text;
}

}  // namespace cgp
