#include "runtime/datetime.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "runtime/casefold.h"
#include "runtime/convert.h"

#if defined(__GLIBC__) || defined(__FreeBSD__) || defined(__APPLE__)
#define QDL_TM_GMTOFF 1
#else
#define QDL_TM_GMTOFF 0
#endif

namespace qdl {

namespace {

struct NameTables {
    std::vector<std::string> days;
    std::vector<std::string> months;
    std::map<std::string, int> dayLookup;
    std::map<std::string, int> monthLookup;
    std::map<std::string, int16_t> zoneLookup;

    NameTables() {
        // No srand here: reseeding with the time in seconds would undo the
        // finer seed the filter draws its submission names from.
        days = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat",
                "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
        months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec",
                  "January", "February", "March", "April", "May", "June",
                  "July", "August", "September", "October", "November", "December"};
        zoneLookup = {{"pst", -28800}, {"pdt", -25200}, {"mst", -25200}, {"mdt", -21600},
                      {"cst", -21600}, {"cdt", -18000}, {"est", -18000}, {"edt", -14400}};
        for (size_t i = 0; i < days.size(); ++i) dayLookup[lowerCase(days[i])] = static_cast<int>(i % 7);
        for (size_t i = 0; i < months.size(); ++i) monthLookup[lowerCase(months[i])] = static_cast<int>(i % 12);
    }
};

// Built once, thread-safely, on first use.
const NameTables& tables() {
    static const NameTables t;
    return t;
}

struct tm zeroFields() {
    struct tm t;
    std::memset(&t, 0, sizeof t);
    return t;
}

// The zone's offset east of UTC in which the local fields of t are expressed.
long localOffsetAt(time_t t, struct tm& local) {
    if (localtime_r(&t, &local) == nullptr) return 0;
    struct tm copy = local;
    return static_cast<long>(timegm(&copy) - t);
}

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int month, int year) {
    static const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 1 && isLeap(year) ? 29 : kMonthDays[month];
}

}  // namespace

std::vector<std::string> splitAny(const std::string& text, const std::string& separators, size_t maxParts) {
    std::vector<std::string> parts;
    size_t pos = 0;
    while (true) {
        pos = text.find_first_not_of(separators, pos);
        if (pos == std::string::npos) break;
        if (maxParts > 0 && parts.size() + 1 == maxParts) {
            parts.push_back(text.substr(pos));
            break;
        }
        size_t end = text.find_first_of(separators, pos);
        if (end == std::string::npos) end = text.size();
        parts.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    if (parts.empty()) parts.push_back(std::string());
    return parts;
}

DateTime::DateTime() : valid_(false), fields_(zeroFields()), offset_(0) {}

DateTime::DateTime(time_t t) : valid_(false), fields_(zeroFields()), offset_(0) {
    valid_ = gmtime_r(&t, &fields_) != nullptr;
    if (!valid_) fields_ = zeroFields();
}

DateTime::DateTime(const struct tm& fields, long offset) : valid_(true), fields_(fields), offset_(offset) {
    // timegm, not mktime: the fields are not local time, and a DST gap of the
    // local zone must not shift them.
    timegm(&fields_);
#if QDL_TM_GMTOFF
    fields_.tm_gmtoff = offset;
#endif
}

DateTime DateTime::now(bool local) {
    DateTime d(time(nullptr));
    if (local) d.setOffset(localOffset());
    return d;
}

long DateTime::localOffset() {
    struct tm local;
    return localOffsetAt(time(nullptr), local);
}

void DateTime::setOffset(long newOffset) {
    if (!valid_) return;
    time_t shifted = toTime() + newOffset;
    struct tm fields;
    if (gmtime_r(&shifted, &fields) == nullptr) return;
    fields_ = fields;
    offset_ = newOffset;
#if QDL_TM_GMTOFF
    fields_.tm_gmtoff = newOffset;
#endif
}

time_t DateTime::toTime() const {
    if (!valid_) return static_cast<time_t>(-1);
    struct tm copy = fields_;
    return timegm(&copy) - static_cast<time_t>(offset_);
}

std::string DateTime::pad(unsigned value, unsigned width) {
    std::string text = toString(static_cast<unsigned>(static_cast<uint16_t>(value)));
    if (text.size() < width) text.insert(0, width - text.size(), '0');
    return text;
}

std::string DateTime::dayName(int index) {
    const auto& days = tables().days;
    return index < 0 || static_cast<size_t>(index) >= days.size() ? std::string() : days[index];
}

std::string DateTime::monthName(int index) {
    const auto& months = tables().months;
    return index < 0 || static_cast<size_t>(index) >= months.size() ? std::string() : months[index];
}

int DateTime::dayIndex(const std::string& name) {
    const auto& lookup = tables().dayLookup;
    auto it = lookup.find(lowerCase(name));
    return it == lookup.end() ? -1 : it->second;
}

int DateTime::monthIndex(const std::string& name) {
    const auto& lookup = tables().monthLookup;
    auto it = lookup.find(lowerCase(name));
    return it == lookup.end() ? -1 : it->second;
}

std::ostream& DateTime::format(std::ostream& out, const std::string& picture) const {
    return out << format(picture);
}

std::string DateTime::format(const std::string& picture) const {
    if (!valid_) return std::string();
    const unsigned year = this->year();
    const unsigned month = static_cast<unsigned>(fields_.tm_mon);
    std::string out;
    out.reserve(picture.size() + 16);
    size_t i = 0;
    while (i < picture.size()) {
        const char c = picture[i];
        if (std::strchr("YMDhmsw", c) == nullptr || c == '\0') {
            out += c;
            ++i;
            continue;
        }
        size_t n = 0;
        while (i + n < picture.size() && picture[i + n] == c) ++n;
        i += n;
        switch (c) {
        case 'Y':
            for (; n >= 4; n -= 4) out += pad(year, 4);
            if (n >= 2) {
                out += pad(year % 100, 2);
                n -= 2;
            }
            if (n == 1) out += 'Y';  // a lone Y has no meaning: keep it as written
            break;
        case 'M':
            for (; n >= 4; n -= 4) out += monthName(static_cast<int>(month) + 12);
            if (n == 3) out += monthName(static_cast<int>(month));
            else if (n == 2) out += pad(month + 1, 2);
            else if (n == 1) out += pad(month + 1, 1);
            break;
        case 'w':
            for (; n >= 2; n -= 2) out += dayName(fields_.tm_wday + 7);
            if (n == 1) out += dayName(fields_.tm_wday);
            break;
        default: {
            unsigned value = static_cast<unsigned>(c == 'D' ? fields_.tm_mday
                                                   : c == 'h' ? fields_.tm_hour
                                                   : c == 'm' ? fields_.tm_min
                                                              : fields_.tm_sec);
            for (; n >= 2; n -= 2) out += pad(value, 2);
            if (n == 1) out += pad(value, 1);
        }
        }
    }
    return out;
}

std::string DateTime::rfc822() const {
    if (!valid_) return std::string();
    // The text names UTC, so write the UTC fields.
    DateTime utc(*this);
    utc.setOffset(0);
    return utc.format("w, D MMM YYYY hh:mm:ss +0000 ") + " (GMT)";
}

long DateTime::parseZone(const std::string& text) {
    const auto& zones = tables().zoneLookup;
    auto it = zones.find(lowerCase(text));
    if (it != zones.end()) return it->second;
    if (text.empty() || (text[0] != '+' && text[0] != '-')) return 0;
    // hhmm read as one number, so "+0099" is 99 minutes. A number past 16
    // bits is no zone: wrapped round, it would flip the sign.
    const int number = stringToInt(text.substr(1));
    if (number < INT16_MIN || number > INT16_MAX) return 0;
    const long d = text[0] == '-' ? -number : number;
    return d / 100 * 3600 + d % 100 * 60;
}

bool DateTime::parse(const std::string& text) {
    valid_ = false;
    fields_ = zeroFields();
    offset_ = 0;

    // TAB too: an unfolded header keeps it as white space, and a time glued to
    // its zone by one would lose the zone.
    const std::vector<std::string> tokens = splitAny(text, " ,\t");
    if (tokens.size() < 5) return false;
    size_t i = 0;
    if (stringToInt(tokens[0]) == 0) {
        if (dayIndex(tokens[0]) == -1 || tokens.size() < 6) return false;
        i = 1;
    }
    const unsigned day = stringToUnsigned(tokens[i]);
    const int month = monthIndex(tokens[i + 1]);
    if (month < 0) return false;

    // A "+" may stand before the digits; anything else that reads as no year
    // (a "-", a letter) would otherwise pass as 0, the year 1900.
    const std::string& yearToken = tokens[i + 2];
    const std::string yearDigits = !yearToken.empty() && yearToken[0] == '+' ? yearToken.substr(1) : yearToken;
    if (yearDigits.empty() || yearDigits[0] < '0' || yearDigits[0] > '9') return false;
    unsigned year = stringToUnsigned(yearDigits);
    if (year > 1900) year -= 1900;
    else if (year < 50 && yearDigits.size() <= 2) year += 100;  // two-digit years 00-49 are 2000-2049
    if (year > 300) return false;

    const std::vector<std::string> clock = splitAny(tokens[i + 3], ":");
    if (clock.size() < 2) return false;
    const unsigned hour = stringToUnsigned(clock[0]);
    const unsigned minute = stringToUnsigned(clock[1]);
    const unsigned second = clock.size() > 2 ? stringToUnsigned(clock[2]) : 0;
    // Out-of-range fields would silently roll over into another date.
    if (day < 1 || static_cast<int>(day) > daysInMonth(month, static_cast<int>(year) + 1900)) return false;
    if (hour > 23 || minute > 59 || second > 60) return false;

    struct tm fields = zeroFields();
    fields.tm_mday = static_cast<int>(day);
    fields.tm_mon = month;
    fields.tm_year = static_cast<int>(year);
    fields.tm_hour = static_cast<int>(hour);
    fields.tm_min = static_cast<int>(minute);
    fields.tm_sec = static_cast<int>(second);
    fields.tm_isdst = -1;
    const time_t instant = timegm(&fields) - parseZone(tokens[i + 4]);

    struct tm local;
    if (localtime_r(&instant, &local) == nullptr) return false;
    const long offset = localOffsetAt(instant, local);
    fields_ = local;
    offset_ = offset;
    valid_ = true;
    return true;
}

}  // namespace qdl
