// Dates and times: TDateTime (days since 30 December 1899; the fraction is the
// time of day, and before the epoch the fraction still counts forward from
// midnight of the day: -1.25 is 29 December 1899, 06:00) and TTimeStamp (day 1 is
// 1 January 0001, milliseconds since midnight).
#pragma once

#include "Platform/rtl/SysUtils.h"

namespace Rtl {

// A distinct type so that variants and overloads can tell dates from doubles.
struct TDateTime {
    double Value = 0;
    constexpr TDateTime() noexcept = default;
    constexpr explicit TDateTime(double v) noexcept : Value(v) {}
    constexpr operator double() const noexcept { return Value; }
};

struct TTimeStamp {
    int Time = 0;  // milliseconds since midnight
    int Date = 0;  // days since 1 January 0001 plus one
    bool operator==(const TTimeStamp&) const = default;
};

constexpr int DateDelta = 693594;  // days from 1 January 0001 to 31 December 1899
constexpr int MSecsPerDay = 86400000;
constexpr double MinDateTime = -693593.0;            // 1 January 0001
constexpr double MaxDateTime = 2958465.99999999;     // 31 December 9999

bool IsLeapYear(Word year) noexcept;
Word DaysInMonth(Word year, Word month) noexcept;

// EConvertError on invalid parts ("Invalid argument to date encode" / "... time encode").
TDateTime EncodeDate(Word year, Word month, Word day);
TDateTime EncodeTime(Word hour, Word min, Word sec, Word msec);
bool TryEncodeDate(Word year, Word month, Word day, TDateTime& date) noexcept;
bool TryEncodeTime(Word hour, Word min, Word sec, Word msec, TDateTime& time) noexcept;
void DecodeDate(TDateTime date, Word& year, Word& month, Word& day);
void DecodeTime(TDateTime time, Word& hour, Word& min, Word& sec, Word& msec);
int DayOfWeek(TDateTime date);  // 1 = Sunday

// Joins a date (whole days) and a time of day (a fraction) by the rule above:
// before the epoch the time is subtracted, so the fraction still counts forward.
TDateTime ComposeDateTime(TDateTime date, TDateTime time) noexcept;

// EConvertError "'%g' is not a valid date and time" outside 0001-01-01 .. 9999-12-31 (or NaN).
TTimeStamp DateTimeToTimeStamp(TDateTime dt);
// EConvertError "'%d.%d' is not a valid timestamp" (date, time) for out-of-range parts.
TDateTime TimeStampToDateTime(const TTimeStamp& ts);
double TimeStampToMSecs(const TTimeStamp& ts);
// Milliseconds are truncated; EConvertError "'%g' is not a valid timestamp" when
// negative, not a number or beyond 9999-12-31.
TTimeStamp MSecsToTimeStamp(double msecs);

TDateTime Now();
TDateTime Date();
TDateTime Time();

// Text uses FormatSettings(): ISO "yyyy-mm-dd" and "hh:nn:ss" by default.
String DateToStr(TDateTime d);
String TimeToStr(TDateTime t);
String DateTimeToStr(TDateTime dt);  // time part omitted when zero, as the framework does
// Patterns: yyyy yy m mm mmm mmmm d dd ddd dddd h hh n nn s ss z zzz am/pm "..." '...'
String FormatDateTime(std::string_view format, TDateTime dt);
// Accept the short date format order of FormatSettings() with its separator, and
// also ISO yyyy-mm-dd; EConvertError "'%s' is not a valid date" / "... time" / "... date and time".
TDateTime StrToDate(std::string_view s);
TDateTime StrToTime(std::string_view s);
TDateTime StrToDateTime(std::string_view s);
bool TryStrToDate(std::string_view s, TDateTime& v) noexcept;
bool TryStrToTime(std::string_view s, TDateTime& v) noexcept;
bool TryStrToDateTime(std::string_view s, TDateTime& v) noexcept;

}  // namespace Rtl
