#pragma once
// The calendar value: broken-down fields plus the zone offset (seconds east
// of UTC) in which they are expressed, with a picture formatter and a parser
// for mail-style dates.
//
// Typical uses:
//   DateTime::now()                        the current time as a UTC value
//   DateTime(t)                            seconds since the epoch as a UTC value
//   d.toTime()                             back to seconds, whatever the offset
//   d.format(".YYYYMMDD-hhmmss")           ".20030603-090507"
#include <ctime>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace qdl {

// Tokens are the maximal runs of characters not in separators; no empty
// tokens, except that a text without any token gives one empty token. With
// maxParts > 0 the last token takes the rest of the text.
std::vector<std::string> splitAny(const std::string& text, const std::string& separators, size_t maxParts = 0);

class DateTime {
public:
    // Not valid; every field reads as 0, format gives "".
    DateTime();
    // The instant t, expressed in UTC (offset 0).
    explicit DateTime(time_t t);
    // Fields taken as expressed at offset (seconds east); out-of-range fields
    // are normalised, weekday and day of year filled in.
    DateTime(const struct tm& fields, long offset);

    // The current time in UTC, or in the local zone when local is set.
    static DateTime now(bool local = false);
    // The local zone's current offset in seconds east of UTC.
    static long localOffset();

    // Re-expresses the same instant at another offset.
    void setOffset(long newOffset);
    // Seconds since the epoch; -1 for an invalid value.
    time_t toTime() const;

    bool isValid() const { return valid_; }
    uint16_t year() const { return static_cast<uint16_t>(fields_.tm_year + 1900); }
    int month() const { return fields_.tm_mon; }  // 0-11
    int day() const { return fields_.tm_mday; }   // 1-31
    int hour() const { return fields_.tm_hour; }
    int minute() const { return fields_.tm_min; }
    int second() const { return fields_.tm_sec; }
    int weekday() const { return fields_.tm_wday; }  // 0 = Sunday
    int dayOfYear() const { return fields_.tm_yday; }
    long offset() const { return static_cast<long>(offset_); }
    struct tm tm() const { return fields_; }

    // Picture letters: YYYY YY, MMMM MMM MM M, DD D, hh h, mm m, ss s, ww w
    // (long and short day name). Runs are taken from the left, longest first;
    // everything else is copied. The offset is not printed.
    std::string format(const std::string& picture) const;
    std::ostream& format(std::ostream& out, const std::string& picture) const;
    // "Tue, 3 Jun 2003 09:05:07 +0000  (GMT)": always the UTC expression.
    std::string rfc822() const;

    // "[weekday,] day month year hh:mm[:ss] zone", split at blanks, TABs and
    // commas; on failure the value becomes invalid. The result is expressed in the local zone.
    bool parse(const std::string& text);
    // Seconds east for a zone name (PST ... EDT, any case), or for a sign and
    // a number read as hhmm (d / 100 hours plus d % 100 minutes); 0 for
    // anything else, a number beyond 16 bits included.
    static long parseZone(const std::string& text);

    // 0-6 short names, 7-13 long names; "" beyond.
    static std::string dayName(int index);
    // 0-11 short names, 12-23 long names; "" beyond.
    static std::string monthName(int index);
    // Day of week / month (0-based) of a short or long name in any case; -1 if unknown.
    static int dayIndex(const std::string& name);
    static int monthIndex(const std::string& name);
    // Decimal value (as an unsigned 16-bit number) zero-filled to width.
    static std::string pad(unsigned value, unsigned width);

private:
    bool valid_;
    struct tm fields_;
    int64_t offset_;
};

}  // namespace qdl
