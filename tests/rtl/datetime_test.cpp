#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "Platform/rtl/DateTime.h"

using namespace Rtl;

namespace {

class DateSettings : public ::testing::Test {
protected:
    void SetUp() override { FSaved = FormatSettings(); }
    void TearDown() override { FormatSettings() = FSaved; }
    TFormatSettings FSaved;
};

template <typename F>
String ConvertErrorOf(F&& f) {
    try {
        f();
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return "<no EConvertError>";
}

TDateTime At(Word y, Word mo, Word d, Word h = 0, Word mi = 0, Word s = 0, Word ms = 0) {
    return ComposeDateTime(EncodeDate(y, mo, d), EncodeTime(h, mi, s, ms));
}

// Independent of the settings: the colons are quoted, '-' and '.' are literal.
String Iso(TDateTime dt) { return FormatDateTime("yyyy-mm-dd hh':'nn':'ss.zzz", dt); }

}  // namespace

// ---- Calendar --------------------------------------------------------------------

TEST(Calendar, LeapYearsAndMonthLengths) {
    struct Case {
        Word year;
        bool leap;
    } years[] = {{1, false}, {4, true}, {100, false}, {400, true}, {1900, false}, {2000, true}, {2023, false},
                 {2024, true}, {9996, true}, {9999, false}};
    for (const auto& c : years) {
        EXPECT_EQ(IsLeapYear(c.year), c.leap) << c.year;
        EXPECT_EQ(DaysInMonth(c.year, 2), c.leap ? 29 : 28) << c.year;
    }
    EXPECT_EQ(DaysInMonth(2023, 4), 30);
    EXPECT_EQ(DaysInMonth(2023, 12), 31);
    EXPECT_EQ(DaysInMonth(2023, 13), 0);
    EXPECT_EQ(DaysInMonth(2023, 0), 0);
}

TEST(Calendar, KnownDayNumbers) {
    struct Case {
        Word y, m, d;
        double value;
        int dayOfWeek;  // 1 = Sunday
    } cases[] = {
        {1, 1, 1, -693593, 2},        {1600, 3, 1, -109511, 4},   {1899, 12, 29, -1, 6},
        {1899, 12, 30, 0, 7},         {1899, 12, 31, 1, 1},       {1900, 1, 1, 2, 2},
        {1900, 3, 1, 61, 5},          {1970, 1, 1, 25569, 5},     {2000, 2, 29, 36585, 3},
        {2024, 1, 1, 45292, 2},       {9999, 12, 31, 2958465, 6},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeDate(c.y, c.m, c.d).Value, c.value) << c.y << "-" << c.m << "-" << c.d;
        Word y, m, d;
        DecodeDate(TDateTime(c.value), y, m, d);
        EXPECT_EQ((std::array<Word, 3>{y, m, d}), (std::array<Word, 3>{c.y, c.m, c.d})) << c.value;
        EXPECT_EQ(DayOfWeek(TDateTime(c.value)), c.dayOfWeek) << c.value;
    }
}

TEST(Calendar, EveryDayOfTheRangeRoundTrips) {
    // Walks 0001-01-01 .. 9999-12-31 one day at a time: decoding must advance
    // the calendar by exactly one day and encoding must give the value back.
    Word py = 0, pm = 0, pd = 0;
    for (int day = -693593; day <= 2958465; ++day) {
        const TDateTime dt = ComposeDateTime(TDateTime(day), TDateTime(0.5));
        Word y, m, d;
        DecodeDate(dt, y, m, d);
        if (day > -693593) {
            const bool nextDay = y == py && m == pm && d == pd + 1;
            const bool nextMonth = y == py && m == pm + 1 && d == 1 && pd == DaysInMonth(py, pm);
            const bool nextYear = y == py + 1 && m == 1 && d == 1 && pm == 12 && pd == 31;
            ASSERT_TRUE(nextDay || nextMonth || nextYear) << day;
        }
        ASSERT_EQ(EncodeDate(y, m, d).Value, day);
        py = y, pm = m, pd = d;
    }
    EXPECT_EQ(py, 9999);
    EXPECT_EQ(pm, 12);
    EXPECT_EQ(pd, 31);
}

TEST(Calendar, InvalidPartsRaiseWithTheFrameworkMessages) {
    struct DateCase {
        Word y, m, d;
    } dates[] = {{2023, 2, 29}, {0, 1, 1}, {10000, 1, 1}, {2024, 13, 1}, {2024, 0, 1}, {2024, 4, 31}, {2024, 1, 0}};
    for (const auto& c : dates) {
        EXPECT_EQ(ConvertErrorOf([&] { EncodeDate(c.y, c.m, c.d); }), "Invalid argument to date encode");
        TDateTime v(42);
        EXPECT_FALSE(TryEncodeDate(c.y, c.m, c.d, v));
        EXPECT_EQ(v.Value, 42);
    }
    struct TimeCase {
        Word h, m, s, ms;
    } times[] = {{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}};
    for (const auto& c : times)
        EXPECT_EQ(ConvertErrorOf([&] { EncodeTime(c.h, c.m, c.s, c.ms); }), "Invalid argument to time encode");
    EXPECT_EQ(EncodeTime(23, 59, 59, 999).Value, 86399999.0 / MSecsPerDay);
}

// ---- Time of day and the rule before the epoch ---------------------------------------

TEST(TimeOfDay, FractionCountsForwardFromMidnightBeforeTheEpoch) {
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {0, "1899-12-30 00:00:00.000"},
        {0.5, "1899-12-30 12:00:00.000"},
        {-0.25, "1899-12-30 06:00:00.000"},
        {-1.25, "1899-12-29 06:00:00.000"},
        {-1.75, "1899-12-29 18:00:00.000"},
        {1.25, "1899-12-31 06:00:00.000"},
        {-693593.5, "0001-01-01 12:00:00.000"},
        {2958465.5, "9999-12-31 12:00:00.000"},
        {2958465 + 86399999.0 / MSecsPerDay, "9999-12-31 23:59:59.999"},
        {45292.0 + 1.0 / MSecsPerDay, "2024-01-01 00:00:00.001"},
    };
    for (const auto& c : cases) EXPECT_EQ(Iso(TDateTime(c.value)), c.text) << c.value;

    // ComposeDateTime applies the rule; plain addition would land on the wrong day.
    const TDateTime d = EncodeDate(1800, 1, 1);
    const TDateTime t = EncodeTime(6, 0, 0, 0);
    EXPECT_EQ(Iso(ComposeDateTime(d, t)), "1800-01-01 06:00:00.000");
    EXPECT_EQ(Iso(TDateTime(d.Value + t.Value)), "1800-01-02 18:00:00.000");
    Word h, m, s, ms;
    DecodeTime(ComposeDateTime(d, EncodeTime(13, 14, 15, 16)), h, m, s, ms);
    EXPECT_EQ((std::array<Word, 4>{h, m, s, ms}), (std::array<Word, 4>{13, 14, 15, 16}));
}

TEST(TimeOfDay, MillisecondsRoundToNearestWithTiesToEven) {
    // Half a millisecond: 0.5 ms rounds to 0, 1.5 ms to 2, 2.5 ms to 2.
    struct Case {
        double msecs;
        int expected;
    } cases[] = {{0.4, 0}, {0.5, 0}, {0.6, 1}, {1.5, 2}, {2.5, 2}, {86399999.4, 86399999}};
    for (const auto& c : cases)
        EXPECT_EQ(DateTimeToTimeStamp(TDateTime(c.msecs / MSecsPerDay)).Time, c.expected) << c.msecs;
    // 23:59:59.9996 rounds into the next day.
    const TTimeStamp ts = DateTimeToTimeStamp(TDateTime(1 + 86399999.6 / MSecsPerDay));
    EXPECT_EQ(ts.Date, DateDelta + 2);
    EXPECT_EQ(ts.Time, 0);
}

// ---- Time stamps --------------------------------------------------------------------

TEST(TimeStamps, RoundTripAcrossTheRange) {
    const TDateTime samples[] = {
        At(1, 1, 1),           At(1, 1, 1, 23, 59, 59, 999), At(1066, 10, 14, 9, 0, 0, 1),
        At(1752, 9, 14, 12),   At(1899, 12, 29, 0, 0, 0, 1), At(1899, 12, 29, 23, 59, 59, 999),
        At(1899, 12, 30),      At(1899, 12, 30, 0, 0, 0, 1), At(1899, 12, 31, 12),
        At(1970, 1, 1),        At(2000, 2, 29, 1, 2, 3, 4),  At(2038, 1, 19, 3, 14, 8),
        At(9999, 12, 31),      At(9999, 12, 31, 23, 59, 59, 999),
    };
    for (const TDateTime dt : samples) {
        const TTimeStamp ts = DateTimeToTimeStamp(dt);
        EXPECT_EQ(DateTimeToTimeStamp(TimeStampToDateTime(ts)), ts) << Iso(dt);
        EXPECT_EQ(Iso(TimeStampToDateTime(ts)), Iso(dt));
        const double msecs = TimeStampToMSecs(ts);
        EXPECT_EQ(MSecsToTimeStamp(msecs), ts) << Iso(dt);
        EXPECT_EQ(Iso(TimeStampToDateTime(MSecsToTimeStamp(msecs))), Iso(dt));
    }
    EXPECT_EQ(DateTimeToTimeStamp(At(1, 1, 1)), (TTimeStamp{0, 1}));
    EXPECT_EQ(DateTimeToTimeStamp(At(1899, 12, 30, 12)), (TTimeStamp{43200000, DateDelta}));
    EXPECT_EQ(TimeStampToMSecs(TTimeStamp{5, 2}), 2.0 * MSecsPerDay + 5);
}

TEST(TimeStamps, MillisecondsRoundTripAroundTheEpochAndAtTheEnds) {
    // Days on both sides of the epoch and the first and last day, at a prime
    // stride through the day: time stamp -> value -> time stamp is exact.
    for (int date : {DateDelta - 1, DateDelta, DateDelta + 1, 1, 3652059}) {
        for (int ms = 0; ms < MSecsPerDay; ms += 997) {
            const TTimeStamp ts{ms, date};
            const TDateTime dt = TimeStampToDateTime(ts);
            ASSERT_EQ(DateTimeToTimeStamp(dt), ts) << date << " " << ms;
        }
    }
}

TEST(TimeStamps, OutOfRangeValuesRaiseNamingTheValue) {
    struct StampCase {
        TTimeStamp ts;
        const char* message;
    } stamps[] = {
        {{0, 0}, "'0.0' is not a valid timestamp"},
        {{-1, 5}, "'5.-1' is not a valid timestamp"},
        {{MSecsPerDay, 5}, "'5.86400000' is not a valid timestamp"},
        {{0, 3652060}, "'3652060.0' is not a valid timestamp"},
    };
    for (const auto& c : stamps) EXPECT_EQ(ConvertErrorOf([&] { TimeStampToDateTime(c.ts); }), c.message);

    struct ValueCase {
        double value;
        const char* message;
    } values[] = {
        {2958466.0, "'2958466' is not a valid date and time"},
        {-693594.0, "'-693594' is not a valid date and time"},
        {1e300, "'1E300' is not a valid date and time"},
        {std::nan(""), "'NAN' is not a valid date and time"},
        {HUGE_VAL, "'INF' is not a valid date and time"},
    };
    for (const auto& c : values) {
        EXPECT_EQ(ConvertErrorOf([&] { DateTimeToTimeStamp(TDateTime(c.value)); }), c.message);
        EXPECT_EQ(ConvertErrorOf([&] { DateTimeToStr(TDateTime(c.value)); }), c.message);
    }
    for (double msecs : {-1.0, std::nan(""), 3652060.0 * MSecsPerDay, HUGE_VAL})
        EXPECT_NE(ConvertErrorOf([&] { MSecsToTimeStamp(msecs); }).find("is not a valid timestamp"), String::npos);
    EXPECT_EQ(MSecsToTimeStamp(1.9), (TTimeStamp{1, 0}));  // truncated
}

// ---- Text -------------------------------------------------------------------------

TEST(DateText, FormatDateTimePatterns) {
    const TDateTime dt = At(2024, 2, 9, 13, 5, 7, 9);  // a Friday
    struct Case {
        const char* pattern;
        const char* expected;
    } cases[] = {
        {"yyyy-mm-dd hh:nn:ss.zzz", "2024-02-09 13:05:07.009"},
        {"d/m/yy h:n:s.z", "9-2-24 13:5:7.9"},
        {"ddd dddd mmm mmmm", "Fri Friday Feb February"},
        {"hh:mm", "13:05"},                 // m after h is minutes
        {"mm/dd", "02-09"},
        {"h:nn am/pm|h:nn AM/PM|h a/p|h ampm", "1:05 pm|1:05 PM|1 p|1 PM"},
        {"'yyyy' \"mm\" yyyy", "yyyy mm 2024"},
        {"ddddd|dddddd", "2024-02-09|2024-02-09"},
        {"c", "2024-02-09 13:05:07"},
        {"t|tt", "13:05|13:05:07"},
        {"YYYY-MM-DD HH:NN", "2024-02-09 13:05"},
        {"x q!", "x q!"},
        {"'unclosed", "unclosed"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatDateTime(c.pattern, dt), c.expected) << c.pattern;
    EXPECT_EQ(FormatDateTime("h am/pm", At(2024, 1, 1, 0)), "12 am");
    EXPECT_EQ(FormatDateTime("h am/pm", At(2024, 1, 1, 12)), "12 pm");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd", At(1, 1, 1)), "0001-01-01");
}

TEST(DateText, DefaultsAreIso) {
    EXPECT_EQ(DateToStr(At(1999, 12, 31, 23)), "1999-12-31");
    EXPECT_EQ(TimeToStr(At(1999, 12, 31, 23, 4, 5)), "23:04:05");
    EXPECT_EQ(DateTimeToStr(At(1999, 12, 31, 23, 4, 5)), "1999-12-31 23:04:05");
    EXPECT_EQ(DateTimeToStr(At(1999, 12, 31)), "1999-12-31");  // midnight: no time
    EXPECT_EQ(DateTimeToStr(TDateTime(-1.25)), "1899-12-29 06:00:00");
}

TEST_F(DateSettings, TextFollowsTheSettings) {
    TFormatSettings& fs = FormatSettings();
    fs.DateSeparator = '/';
    fs.TimeSeparator = '.';
    fs.ShortDateFormat = "dd/mm/yyyy";
    fs.LongTimeFormat = "hh:nn:ss";
    fs.TimeAMString = "vorm.";
    fs.TimePMString = "nachm.";
    const TDateTime dt = At(2024, 2, 9, 13, 5, 7);
    EXPECT_EQ(DateTimeToStr(dt), "09/02/2024 13.05.07");
    EXPECT_EQ(FormatDateTime("h ampm", dt), "1 nachm.");
    EXPECT_EQ(Iso(StrToDateTime("09/02/2024 13.05.07")), "2024-02-09 13:05:07.000");
    EXPECT_EQ(Iso(StrToDateTime("2024-02-09 13:05")), "2024-02-09 13:05:00.000");  // ISO is always understood
    EXPECT_EQ(Iso(StrToTime("1.05 nachm.")), "1899-12-30 13:05:00.000");
    fs.ShortDateFormat = "m/d/yyyy";
    EXPECT_EQ(Iso(StrToDate("2/9/2024")), "2024-02-09 00:00:00.000");
}

TEST(DateText, ParsingAcceptsIsoAndTheSettingsOrder) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"2024-02-09", "2024-02-09 00:00:00.000"},
        {"  2024-2-9  ", "2024-02-09 00:00:00.000"},
        {"2024-02-09 13:05:07", "2024-02-09 13:05:07.000"},
        {"2024-02-09T13:05:07.25", "2024-02-09 13:05:07.250"},
        {"2024-02-09   1:05 PM", "2024-02-09 13:05:00.000"},
        {"2024-02-09 12:00 am", "2024-02-09 00:00:00.000"},
        {"2024-02-09 7 pm", "2024-02-09 19:00:00.000"},
        {"2024-02-09 13:05:07.1239", "2024-02-09 13:05:07.123"},
        {"0001-01-01 00:00:00.001", "0001-01-01 00:00:00.001"},
        {"1899-12-29 06:00", "1899-12-29 06:00:00.000"},
        {"1800-01-01 18:30:00", "1800-01-01 18:30:00.000"},
        {"9999-12-31 23:59:59.999", "9999-12-31 23:59:59.999"},
        {"13:05", "1899-12-30 13:05:00.000"},
    };
    for (const auto& c : cases) EXPECT_EQ(Iso(StrToDateTime(c.text)), c.expected) << c.text;
    EXPECT_EQ(Iso(StrToDate("1600-02-29")), "1600-02-29 00:00:00.000");
    EXPECT_EQ(Iso(StrToTime(" 23:59:59 ")), "1899-12-30 23:59:59.000");
}

TEST(DateText, ParsingRejectsWithTheExactMessages) {
    for (const char* text : {"", "2023-02-29", "2024-13-01", "10000-01-01", "2024-01-01x", "2024-01-01 25:00",
                             "2024-01-01 12:60", "2024-01-01T", "2024-01-01 13:00 pm", "abc", "2024--01-01",
                             "2024-01-01 12:00:00.", "12", "2024-01-01 12:00 1"}) {
        EXPECT_EQ(ConvertErrorOf([&] { StrToDateTime(text); }),
                  String("'") + text + "' is not a valid date and time");
    }
    EXPECT_EQ(ConvertErrorOf([] { StrToDate("2024-01-01 12:00"); }), "'2024-01-01 12:00' is not a valid date");
    EXPECT_EQ(ConvertErrorOf([] { StrToDate("12:00"); }), "'12:00' is not a valid date");
    EXPECT_EQ(ConvertErrorOf([] { StrToTime("2024-01-01"); }), "'2024-01-01' is not a valid time");
    EXPECT_EQ(ConvertErrorOf([] { StrToTime("24:00"); }), "'24:00' is not a valid time");
}

TEST_F(DateSettings, TwoDigitYearsFallInTheCenturyWindow) {
    FormatSettings().ShortDateFormat = "yy-mm-dd";
    Word thisYear, m, d;
    DecodeDate(Now(), thisYear, m, d);
    for (int window : {50, 10, 90}) {
        FormatSettings().TwoDigitYearCenturyWindow = static_cast<Word>(window);
        for (int yy : {0, 1, 49, 50, 99}) {
            Word y;
            DecodeDate(StrToDate(Format("%.2d-06-15", {yy})), y, m, d);
            EXPECT_EQ(y % 100, yy);
            EXPECT_GE(y, thisYear - window) << window << " " << yy;
            EXPECT_LT(y, thisYear - window + 100) << window << " " << yy;
        }
    }
    FormatSettings().TwoDigitYearCenturyWindow = 0;  // the current century
    Word y;
    DecodeDate(StrToDate("07-06-15"), y, m, d);
    EXPECT_EQ(y, thisYear / 100 * 100 + 7);
}

TEST(DateText, TextRoundTripsAcrossTheRange) {
    for (int day = -693593; day <= 2958465; day += 9973) {
        for (double frac : {0.0, 0.25, 0.999988426}) {
            const TDateTime dt = ComposeDateTime(TDateTime(day), TDateTime(frac));
            const String text = Iso(dt);
            EXPECT_EQ(Iso(StrToDateTime(text)), text);
            EXPECT_EQ(DateToStr(StrToDate(DateToStr(dt))), DateToStr(dt));
        }
    }
}
