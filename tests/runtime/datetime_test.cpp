#include "runtime/datetime.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

#include "runtime/convert.h"

namespace {

using qdl::DateTime;

// POSIX zone strings need no zone database.
const char* const kZones[] = {
    "UTC0",
    "EST5EDT,M3.2.0,M11.1.0",
    "CET-1CEST,M3.5.0,M10.5.0/3",
    "IST-5:30",
    "NZST-12NZDT,M9.5.0,M4.1.0/3",
};

class ZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TZ");
        hadTz_ = old != nullptr;
        if (hadTz_) oldTz_ = old;
        setZone("UTC0");
    }
    void TearDown() override {
        if (hadTz_) setenv("TZ", oldTz_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    static void setZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    static struct tm fields(int year, int month, int day, int hour, int minute, int second) {
        struct tm t = {};
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_sec = second;
        return t;
    }
    static time_t utc(int year, int month, int day, int hour, int minute, int second) {
        struct tm t = fields(year, month, day, hour, minute, second);
        return timegm(&t);
    }
    // Tuesday 3 June 2003, 09:05:07 UTC.
    static DateTime sample() { return DateTime(utc(2003, 6, 3, 9, 5, 7)); }

private:
    bool hadTz_ = false;
    std::string oldTz_;
};

using DateTimeFormat = ZoneTest;

TEST_F(DateTimeFormat, PictureLetters) {
    struct Case {
        const char* picture;
        const char* expected;
    } cases[] = {
        {"w, DD MMM YYYY hh:mm:ss", "Tue, 03 Jun 2003 09:05:07"},
        {"YYYYMMDD", "20030603"},
        {".YYYYMMDD-hhmmss", ".20030603-090507"},
        {"YYYY-MM-DD", "2003-06-03"},
        {"D.M.YY", "3.6.03"},
        {"h:m:s", "9:5:7"},
        {"MMMM", "June"},
        {"ww w", "Tuesday Tue"},
        {"MMMMM", "June6"},          // longest run first, then what is left
        {"MMMMMMM", "JuneJun"},
        {"DDD", "033"},
        {"YYYYY", "2003Y"},          // a lone Y stays a Y
        {"YYY", "03Y"},
        {"Y", "Y"},
        {"", ""},
        {"[1-2] +0000 (GT)", "[1-2] +0000 (GT)"},
        {"\x01\x02-\x07", "\x01\x02-\x07"},  // control bytes are not picture letters
    };
    const DateTime d = sample();
    for (const auto& c : cases) EXPECT_EQ(d.format(c.picture), c.expected) << c.picture;
}

TEST_F(DateTimeFormat, SundayAndLongNames) {
    const DateTime d(utc(2003, 6, 1, 0, 0, 0));
    EXPECT_EQ(d.weekday(), 0);
    EXPECT_EQ(d.format("ww"), "Sunday");
    EXPECT_EQ(d.format("w"), "Sun");
    EXPECT_EQ(DateTime(utc(2003, 12, 31, 23, 59, 59)).format("MMMM MMM MM YY"), "December Dec 12 03");
}

TEST_F(DateTimeFormat, StreamFormWritesSameText) {
    std::ostringstream out;
    sample().format(out, "YYYY") << "|";
    EXPECT_EQ(out.str(), "2003|");
}

TEST_F(DateTimeFormat, SameTextInEveryZone) {
    for (const char* zone : kZones) {
        setZone(zone);
        EXPECT_EQ(sample().format("w, DD MMM YYYY hh:mm:ss"), "Tue, 03 Jun 2003 09:05:07") << zone;
        EXPECT_EQ(sample().rfc822(), "Tue, 3 Jun 2003 09:05:07 +0000  (GMT)") << zone;
    }
}

TEST_F(DateTimeFormat, Rfc822AlwaysWritesUtcFields) {
    DateTime d = sample();
    d.setOffset(2 * 3600);
    EXPECT_EQ(d.format("hh"), "11");
    EXPECT_EQ(d.rfc822(), "Tue, 3 Jun 2003 09:05:07 +0000  (GMT)");
}

TEST_F(DateTimeFormat, Pad) {
    EXPECT_EQ(DateTime::pad(5, 2), "05");
    EXPECT_EQ(DateTime::pad(0, 3), "000");
    EXPECT_EQ(DateTime::pad(2003, 2), "2003");
    EXPECT_EQ(DateTime::pad(65536 + 12, 1), "12");  // taken as 16 bits
}

TEST_F(DateTimeFormat, InvalidValueFormatsNothing) {
    const DateTime d;
    EXPECT_FALSE(d.isValid());
    EXPECT_EQ(d.format("YYYY-MM-DD"), "");
    EXPECT_EQ(d.rfc822(), "");
    EXPECT_EQ(d.toTime(), static_cast<time_t>(-1));
    EXPECT_EQ(d.second(), 0);
}

using DateTimeConvert = ZoneTest;

TEST_F(DateTimeConvert, FromSecondsIsUtcAndRoundTrips) {
    const time_t samples[] = {0, utc(2003, 6, 3, 9, 5, 7), utc(2021, 3, 28, 1, 30, 0),
                              utc(2021, 10, 31, 1, 30, 0), utc(2024, 2, 29, 12, 0, 0), utc(1999, 12, 31, 23, 59, 59)};
    for (const char* zone : kZones) {
        setZone(zone);
        for (time_t t : samples) {
            DateTime d(t);
            EXPECT_TRUE(d.isValid());
            EXPECT_EQ(d.offset(), 0);
            EXPECT_EQ(d.toTime(), t) << zone << " " << t;
            struct tm g;
            gmtime_r(&t, &g);
            EXPECT_EQ(d.hour(), g.tm_hour) << zone;
            EXPECT_EQ(d.day(), g.tm_mday) << zone;
        }
    }
}

TEST_F(DateTimeConvert, Getters) {
    const DateTime d = sample();
    EXPECT_EQ(d.year(), 2003);
    EXPECT_EQ(d.month(), 5);
    EXPECT_EQ(d.day(), 3);
    EXPECT_EQ(d.hour(), 9);
    EXPECT_EQ(d.minute(), 5);
    EXPECT_EQ(d.second(), 7);
    EXPECT_EQ(d.weekday(), 2);
    EXPECT_EQ(d.dayOfYear(), 153);
    EXPECT_EQ(d.tm().tm_mday, 3);
}

TEST_F(DateTimeConvert, SetOffsetKeepsInstant) {
    for (const char* zone : kZones) {
        setZone(zone);
        DateTime d = sample();
        d.setOffset(-5 * 3600 - 30 * 60);
        EXPECT_EQ(d.offset(), -19800);
        EXPECT_EQ(d.format("DD hh:mm"), "03 03:35") << zone;
        EXPECT_EQ(d.toTime(), sample().toTime()) << zone;
        d.setOffset(10 * 3600);
        EXPECT_EQ(d.format("DD hh:mm"), "03 19:05") << zone;
        d.setOffset(-10 * 3600);
        EXPECT_EQ(d.format("w DD hh:mm"), "Mon 02 23:05") << zone;
        EXPECT_EQ(d.toTime(), sample().toTime()) << zone;
    }
}

TEST_F(DateTimeConvert, FieldsConstructorNormalisesWithoutZoneShift) {
    for (const char* zone : kZones) {
        setZone(zone);
        // 31 June is 1 July; 02:30 on the European spring-forward day exists at offset 0.
        DateTime d(fields(2003, 6, 31, 9, 5, 7), 0);
        EXPECT_EQ(d.format("YYYY-MM-DD hh:mm:ss w"), "2003-07-01 09:05:07 Tue") << zone;
        DateTime gap(fields(2021, 3, 28, 2, 30, 0), 3600);
        EXPECT_EQ(gap.format("hh:mm"), "02:30") << zone;
        EXPECT_EQ(gap.toTime(), utc(2021, 3, 28, 1, 30, 0)) << zone;
    }
}

TEST_F(DateTimeConvert, NowInUtcAndLocal) {
    setZone("IST-5:30");
    EXPECT_EQ(DateTime::localOffset(), 19800);
    const time_t before = time(nullptr);
    const DateTime u = DateTime::now();
    const DateTime l = DateTime::now(true);
    const time_t after = time(nullptr);
    EXPECT_EQ(u.offset(), 0);
    EXPECT_EQ(l.offset(), 19800);
    EXPECT_GE(u.toTime(), before);
    EXPECT_LE(u.toTime(), after);
    EXPECT_GE(l.toTime(), before);
    EXPECT_LE(l.toTime(), after);
    setZone("UTC0");
    EXPECT_EQ(DateTime::localOffset(), 0);
}

TEST_F(DateTimeConvert, BackupCutoffRoundTrip) {
    // Seconds minus whole days, back to a UTC value, as a day stamp.
    for (const char* zone : kZones) {
        setZone(zone);
        const time_t t = sample().toTime() - 3 * 86400;
        EXPECT_EQ(qdl::stringToInt(DateTime(t).format("YYYYMMDD")), 20030531) << zone;
    }
}

using DateTimeParse = ZoneTest;

TEST_F(DateTimeParse, AcceptedTexts) {
    struct Case {
        const char* text;
        time_t expected;
    } cases[] = {
        {"Tue, 3 Jun 2003 09:05:07 +0200", utc(2003, 6, 3, 7, 5, 7)},
        {"3 Jun 2003 09:05 +0200", utc(2003, 6, 3, 7, 5, 0)},
        {"Mon, 3 Jun 2003 09:05:07 +0000", utc(2003, 6, 3, 9, 5, 7)},  // weekday not checked
        {"tuesday, 03 june 2003 09:05:07 -0530", utc(2003, 6, 3, 14, 35, 7)},
        {"3 Jun 103 09:05:07 GMT", utc(2003, 6, 3, 9, 5, 7)},
        {"3 Jun 99 09:05:07 +0000", utc(1999, 6, 3, 9, 5, 7)},
        {"3 Jun 03 09:05:07 +0000", utc(2003, 6, 3, 9, 5, 7)},
        {"3 Jun 2003 09:05:07 est", utc(2003, 6, 3, 14, 5, 7)},
        {"3 Jun 2003 09:05:07 EST", utc(2003, 6, 3, 14, 5, 7)},
        {"3 Jun 2003 09:05:07 XYZ", utc(2003, 6, 3, 9, 5, 7)},
        {"29 Feb 2004 00:00 +0000", utc(2004, 2, 29, 0, 0, 0)},
        {"Tue, 3 Jun 2003 09:05:07 +0000  (GMT)", utc(2003, 6, 3, 9, 5, 7)},
        // TABs are white space as in an unfolded header; the zone is not lost.
        {"Tue,\t3 Jun 2003\t09:05:07\t-0500 (EST)", utc(2003, 6, 3, 14, 5, 7)},
        {"3 Jun +2003 09:05:07 +0000", utc(2003, 6, 3, 9, 5, 7)},
        {"3 Jun +03 09:05:07 +0000", utc(2003, 6, 3, 9, 5, 7)},
    };
    for (const char* zone : kZones) {
        setZone(zone);
        for (const auto& c : cases) {
            DateTime d;
            EXPECT_TRUE(d.parse(c.text)) << c.text;
            EXPECT_TRUE(d.isValid()) << c.text;
            EXPECT_EQ(d.toTime(), c.expected) << zone << ": " << c.text;
        }
    }
}

TEST_F(DateTimeParse, WithAndWithoutWeekdayGiveSameDay) {
    DateTime a, b;
    ASSERT_TRUE(a.parse("Tue, 3 Jun 2003 09:05:07 +0100"));
    ASSERT_TRUE(b.parse("3 Jun 2003 09:05 +0100"));
    EXPECT_EQ(a.format("YYYYMMDD"), b.format("YYYYMMDD"));
    EXPECT_EQ(a.second(), 7);
    EXPECT_EQ(b.second(), 0);
}

TEST_F(DateTimeParse, ResultIsExpressedInLocalZone) {
    setZone("CET-1CEST,M3.5.0,M10.5.0/3");
    DateTime d;
    ASSERT_TRUE(d.parse("3 Jun 2003 09:05:07 +0000"));
    EXPECT_EQ(d.offset(), 7200);
    EXPECT_EQ(d.format("hh:mm"), "11:05");
    EXPECT_EQ(d.rfc822(), "Tue, 3 Jun 2003 09:05:07 +0000  (GMT)");
}

TEST_F(DateTimeParse, RejectedTexts) {
    const char* cases[] = {
        "",
        "3 Jun 2003",                        // stops after the year
        "3 Jun 2003 09:05",                  // no zone
        "Tue, 3 Jun 2003 09:05",             // weekday form needs six tokens
        "3 Foo 2003 09:05:07 +0000",         // unknown month
        "3 Jun 1900 09:05:07 +0000",
        "3 Jun 2201 09:05:07 +0000",
        "Foo, 3 Jun 2003 09:05:07 +0000",    // unknown weekday
        "0 Jun 2003 09:05:07 +0000",
        "3 Jun 2003 0905 +0000",             // time needs a colon
        "3 Jun 2003 25:00 +0000",
        "3 Jun 2003 10:60 +0000",
        "31 Feb 2003 10:00 +0000",
        "29 Feb 2003 10:00 +0000",
        "32 Jan 2003 10:00 +0000",
        "3 Jun x 09:05:07 +0000",
        // Read as an unsigned number these would be the year 1900.
        "3 Jun -2003 09:05:07 +0000",
        "3 Jun + 09:05:07 +0000",
        "3 Jun +x 09:05:07 +0000",
    };
    for (const auto* text : cases) {
        DateTime d(time_t(0));
        EXPECT_FALSE(d.parse(text)) << text;
        EXPECT_FALSE(d.isValid()) << text;
        EXPECT_EQ(d.format("YYYY"), "") << text;
    }
}

TEST_F(DateTimeParse, Rfc822RoundTrips) {
    for (const char* zone : kZones) {
        setZone(zone);
        DateTime d;
        ASSERT_TRUE(d.parse(sample().rfc822()));
        EXPECT_EQ(d.toTime(), sample().toTime()) << zone;
    }
}

TEST(DateTimeZone, ParseZone) {
    struct Case {
        const char* text;
        long expected;
    } cases[] = {
        {"+0530", 19800}, {"-0800", -28800}, {"+0000", 0},   {"-0000", 0},  {"+1400", 50400},
        {"est", -18000},  {"EST", -18000},   {"eSt", -18000}, {"PST", -28800}, {"PDT", -25200},
        {"MST", -25200},  {"MDT", -21600},   {"CST", -21600}, {"CDT", -18000}, {"EDT", -14400},
        {"XYZ", 0},       {"", 0},           {"+", 0},       {"-x", 0},     {"0530", 0},
        // hhmm is one number: d / 100 hours and d % 100 minutes, whatever they are.
        {"+2400", 86400}, {"+0099", 5940},   {"+0060", 3600}, {"-0099", -5940}, {"+530", 19800},
        {"+32767", 327 * 3600 + 67 * 60}, {"-32767", -(327 * 3600 + 67 * 60)},
        // Past 16 bits the number would wrap round and flip the sign.
        {"+99999", 0},    {"+32768", 0},     {"-32768", 0},  {"-40000", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(DateTime::parseZone(c.text), c.expected) << c.text;
}

TEST(DateTimeNames, TablesAndLookups) {
    EXPECT_EQ(DateTime::dayName(0), "Sun");
    EXPECT_EQ(DateTime::dayName(7), "Sunday");
    EXPECT_EQ(DateTime::dayName(13), "Saturday");
    EXPECT_EQ(DateTime::dayName(14), "");
    EXPECT_EQ(DateTime::dayName(-1), "");
    EXPECT_EQ(DateTime::monthName(11), "Dec");
    EXPECT_EQ(DateTime::monthName(12), "January");
    EXPECT_EQ(DateTime::monthName(23), "December");
    EXPECT_EQ(DateTime::monthName(24), "");
    EXPECT_EQ(DateTime::dayIndex("MONDAY"), 1);
    EXPECT_EQ(DateTime::dayIndex("sat"), 6);
    EXPECT_EQ(DateTime::dayIndex("Sunday"), 0);
    EXPECT_EQ(DateTime::dayIndex("Mo"), -1);
    EXPECT_EQ(DateTime::monthIndex("december"), 11);
    EXPECT_EQ(DateTime::monthIndex("MAY"), 4);
    EXPECT_EQ(DateTime::monthIndex("Sept"), -1);
    EXPECT_EQ(DateTime::monthIndex(""), -1);
}

// The tables once reseeded the random generator with the time in seconds,
// so instances started in the same second drew the same submission names.
TEST(DateTimeNames, FirstUseLeavesTheRandomSeedAlone) {
    std::srand(12345);
    const int expected = std::rand();
    std::srand(12345);
    EXPECT_EQ(DateTime::dayIndex("mon"), 1);  // first use builds the tables
    EXPECT_EQ(std::rand(), expected);
}

TEST(SplitAny, Tokens) {
    struct Case {
        const char* text;
        const char* separators;
        size_t maxParts;
        std::vector<std::string> expected;
    } cases[] = {
        {"a, b,,c", " ,", 0, {"a", "b", "c"}},
        {"  lead trail  ", " ", 0, {"lead", "trail"}},
        {"", " ,", 0, {""}},
        {" , ", " ,", 0, {""}},
        {"a b c d", " ", 2, {"a", "b c d"}},
        {"  a b", " ", 1, {"a b"}},
        {"a b", " ", 5, {"a", "b"}},
        {"09:05:07", ":", 0, {"09", "05", "07"}},
        {"abc", "", 0, {"abc"}},
    };
    for (const auto& c : cases) EXPECT_EQ(qdl::splitAny(c.text, c.separators, c.maxParts), c.expected) << c.text;
}

}  // namespace
