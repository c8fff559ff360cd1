// Dates and times: the proleptic Gregorian calendar from 0001-01-01 to
// 9999-12-31, TDateTime <-> TTimeStamp with the framework's rounding to the
// millisecond (ties to even) and its rule for times before the epoch, text
// with FormatSettings(), and parsing of the settings' short date order and ISO.
#include <time.h>

#include <cmath>

#include "Platform/rtl/DateTime.h"

namespace Rtl {

namespace {

constexpr int MaxDateNumber = 3652059;  // TTimeStamp.Date of 9999-12-31
constexpr int MSecsPerHour = 3600000;
constexpr int MSecsPerMin = 60000;

constexpr Word DaysBeforeMonth[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366},
};

constexpr const char* ShortDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* LongDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* ShortMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* LongMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                          "July",    "August",   "September", "October", "November", "December"};

// Day number of a valid date: 1 is 0001-01-01.
int DayNumber(int y, int m, int d) noexcept {
    const int py = y - 1;
    return py * 365 + py / 4 - py / 100 + py / 400 + DaysBeforeMonth[IsLeapYear(static_cast<Word>(y))][m - 1] + d;
}

void DecodeDayNumber(int n, Word& year, Word& month, Word& day) noexcept {
    int t = n - 1;  // days since 0001-01-01
    int y = 1;
    y += (t / 146097) * 400;
    t %= 146097;
    int c = t / 36524;
    if (c == 4) c = 3;  // the last day of a 400-year cycle
    y += c * 100;
    t -= c * 36524;
    y += (t / 1461) * 4;
    t %= 1461;
    int k = t / 365;
    if (k == 4) k = 3;  // the last day of a leap cycle
    y += k;
    t -= k * 365;
    const auto& table = DaysBeforeMonth[IsLeapYear(static_cast<Word>(y))];
    int m = 1;
    while (t >= table[m]) ++m;
    year = static_cast<Word>(y);
    month = static_cast<Word>(m);
    day = static_cast<Word>(t - table[m - 1] + 1);
}

[[noreturn]] void InvalidDateTime(double v) {
    throw EConvertError("'" + FloatToStr(v) + "' is not a valid date and time");
}

struct TParts {
    Word Year, Month, Day, Hour, Min, Sec, MSec;
    int DayOfWeek;  // 1 = Sunday
};

TParts Decode(TDateTime dt) {
    const TTimeStamp ts = DateTimeToTimeStamp(dt);
    TParts p;
    DecodeDayNumber(ts.Date, p.Year, p.Month, p.Day);
    p.Hour = static_cast<Word>(ts.Time / MSecsPerHour);
    p.Min = static_cast<Word>(ts.Time / MSecsPerMin % 60);
    p.Sec = static_cast<Word>(ts.Time / 1000 % 60);
    p.MSec = static_cast<Word>(ts.Time % 1000);
    p.DayOfWeek = ts.Date % 7 + 1;
    return p;
}

// ---- Formatting ----------------------------------------------------------------

void AppendNumber(String& out, int v, int width) {
    char buf[12];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v > 0);
    for (int k = n; k < width; ++k) out += '0';
    while (n > 0) out += buf[--n];
}

bool StartsWithNoCase(std::string_view s, std::size_t at, std::string_view what) noexcept {
    if (s.size() - at < what.size()) return false;
    for (std::size_t k = 0; k < what.size(); ++k) {
        char a = s[at + k], b = what[k];
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
        if (a != b) return false;
    }
    return true;
}

// True when the pattern (outside quotes) asks for a 12-hour clock.
bool HasAmPm(std::string_view f) noexcept {
    for (std::size_t i = 0; i < f.size(); ++i) {
        const char c = f[i];
        if (c == '"' || c == '\'') {
            const std::size_t close = f.find(c, i + 1);
            if (close == std::string_view::npos) return false;
            i = close;
        } else if (c == 'a' || c == 'A') {
            if (StartsWithNoCase(f, i, "am/pm") || StartsWithNoCase(f, i, "a/p") || StartsWithNoCase(f, i, "ampm"))
                return true;
        }
    }
    return false;
}

void AppendDateTime(String& out, std::string_view f, const TParts& p, int depth) {
    const TFormatSettings& fs = FormatSettings();
    const bool twelve = HasAmPm(f);
    char lastToken = 0;
    for (std::size_t i = 0; i < f.size();) {
        const char c = f[i];
        if (c == '"' || c == '\'') {
            std::size_t close = f.find(c, i + 1);
            if (close == std::string_view::npos) close = f.size();
            out.append(f.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        char u = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        if (u < 'A' || u > 'Z') {
            if (c == '/') out += fs.DateSeparator;
            else if (c == ':') out += fs.TimeSeparator;
            else out += c;
            ++i;
            continue;
        }
        if (u == 'A') {
            const bool pm = p.Hour >= 12;
            if (StartsWithNoCase(f, i, "am/pm")) {
                out.append(f.substr(pm ? i + 3 : i, 2));
                i += 5;
            } else if (StartsWithNoCase(f, i, "a/p")) {
                out += f[pm ? i + 2 : i];
                i += 3;
            } else if (StartsWithNoCase(f, i, "ampm")) {
                out += pm ? fs.TimePMString : fs.TimeAMString;
                i += 4;
            } else {
                out += c;
                ++i;
            }
            lastToken = 'A';
            continue;
        }
        // A run of the same letter, case-insensitive.
        std::size_t n = 1;
        while (i + n < f.size() && (f[i + n] == c || f[i + n] == (c ^ 0x20))) ++n;
        if (u == 'M' && lastToken == 'H') u = 'N';  // "hh:mm" means minutes
        switch (u) {
            case 'Y':
                if (n <= 2) AppendNumber(out, p.Year % 100, 2);
                else AppendNumber(out, p.Year, 4);
                break;
            case 'M':
                if (n <= 2) AppendNumber(out, p.Month, static_cast<int>(n));
                else out += (n == 3 ? ShortMonthNames : LongMonthNames)[p.Month - 1];
                break;
            case 'D':
                if (n <= 2) AppendNumber(out, p.Day, static_cast<int>(n));
                else if (n == 3) out += ShortDayNames[p.DayOfWeek - 1];
                else if (n == 4) out += LongDayNames[p.DayOfWeek - 1];
                else if (depth < 2) AppendDateTime(out, n == 5 ? fs.ShortDateFormat : fs.LongDateFormat, p, depth + 1);
                break;
            case 'H': {
                int h = p.Hour;
                if (twelve) {
                    h %= 12;
                    if (h == 0) h = 12;
                }
                AppendNumber(out, h, n >= 2 ? 2 : 1);
                break;
            }
            case 'N':
                AppendNumber(out, p.Min, n >= 2 ? 2 : 1);
                break;
            case 'S':
                AppendNumber(out, p.Sec, n >= 2 ? 2 : 1);
                break;
            case 'Z':
                AppendNumber(out, p.MSec, n >= 3 ? 3 : 1);
                break;
            case 'T':
                if (depth < 2) AppendDateTime(out, n == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat, p, depth + 1);
                break;
            case 'C':
                if (depth < 2) {
                    AppendDateTime(out, fs.ShortDateFormat, p, depth + 1);
                    if (p.Hour || p.Min || p.Sec || p.MSec) {
                        out += ' ';
                        AppendDateTime(out, fs.LongTimeFormat, p, depth + 1);
                    }
                }
                break;
            default:
                out.append(f.substr(i, n));
                break;
        }
        lastToken = u;
        i += n;
    }
}

// ---- Parsing ---------------------------------------------------------------------

struct TScan {
    std::string_view S;
    std::size_t I = 0;

    bool AtEnd() const noexcept { return I >= S.size(); }
    char Peek() const noexcept { return I < S.size() ? S[I] : '\0'; }
    void SkipBlanks() noexcept {
        while (I < S.size() && static_cast<unsigned char>(S[I]) <= ' ') ++I;
    }
    // Up to maxDigits digits; false when there is none.
    bool Number(int& value, int& digits, int maxDigits) noexcept {
        value = 0;
        digits = 0;
        while (I < S.size() && S[I] >= '0' && S[I] <= '9' && digits < maxDigits) {
            value = value * 10 + (S[I++] - '0');
            ++digits;
        }
        return digits > 0 && !(I < S.size() && S[I] >= '0' && S[I] <= '9');
    }
    bool Char(char c) noexcept {
        if (I < S.size() && S[I] == c) {
            ++I;
            return true;
        }
        return false;
    }
};

int CurrentYear() {
    Word y, m, d;
    DecodeDate(Now(), y, m, d);
    return y;
}

int ExpandTwoDigitYear(int y) {
    const int window = FormatSettings().TwoDigitYearCenturyWindow;
    const int base = CurrentYear() - window;
    y += base / 100 * 100;
    if (window > 0 && y < base) y += 100;
    return y;
}

// The settings' order of day, month and year: 'D', 'M' or 'Y' first.
enum TDateOrder { doYMD, doDMY, doMDY };

TDateOrder ShortDateOrder() noexcept {
    for (char c : FormatSettings().ShortDateFormat) {
        switch (c) {
            case 'd': case 'D': return doDMY;
            case 'm': case 'M': return doMDY;
            case 'y': case 'Y': return doYMD;
            default: break;
        }
    }
    return doYMD;
}

// ISO yyyy-mm-dd (a 'T' and a time may follow it in StrToDateTime).
bool ScanIsoDate(TScan& sc, TDateTime& date) {
    TScan t = sc;
    int y, m, d, yd, md, dd;
    if (!t.Number(y, yd, 4) || yd != 4 || !t.Char('-') || !t.Number(m, md, 2) || !t.Char('-') || !t.Number(d, dd, 2))
        return false;
    if (!TryEncodeDate(static_cast<Word>(y), static_cast<Word>(m), static_cast<Word>(d), date)) return false;
    sc = t;
    return true;
}

bool ScanSettingsDate(TScan& sc, TDateTime& date) {
    TScan t = sc;
    const char sep = FormatSettings().DateSeparator;
    int n[3], digits[3];
    int count = 0;
    if (!t.Number(n[0], digits[0], 4)) return false;
    count = 1;
    while (count < 3 && t.Peek() == sep) {
        TScan probe = t;
        probe.Char(sep);
        if (!probe.Number(n[count], digits[count], 4)) break;
        t = probe;
        ++count;
    }
    if (count < 2) return false;
    int y, m, d, yearDigits;
    const TDateOrder order = ShortDateOrder();
    if (count == 2) {
        // Day and month of the current year.
        y = CurrentYear();
        yearDigits = 4;
        if (order == doDMY) { d = n[0]; m = n[1]; }
        else { m = n[0]; d = n[1]; }
    } else if (order == doYMD) {
        y = n[0]; yearDigits = digits[0]; m = n[1]; d = n[2];
    } else if (order == doDMY) {
        d = n[0]; m = n[1]; y = n[2]; yearDigits = digits[2];
    } else {
        m = n[0]; d = n[1]; y = n[2]; yearDigits = digits[2];
    }
    if (y <= 99 && yearDigits <= 2) y = ExpandTwoDigitYear(y);
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return false;
    if (!TryEncodeDate(static_cast<Word>(y), static_cast<Word>(m), static_cast<Word>(d), date)) return false;
    sc = t;
    return true;
}

// Matches an AM or PM marker (the settings' strings, or "AM"/"PM").
bool ScanAmPm(TScan& sc, bool& pm) {
    const TFormatSettings& fs = FormatSettings();
    for (int k = 0; k < 2; ++k) {
        const std::string_view am = k == 0 ? std::string_view(fs.TimeAMString) : std::string_view("AM");
        const std::string_view pmText = k == 0 ? std::string_view(fs.TimePMString) : std::string_view("PM");
        if (!am.empty() && StartsWithNoCase(sc.S, sc.I, am)) {
            sc.I += am.size();
            pm = false;
            return true;
        }
        if (!pmText.empty() && StartsWithNoCase(sc.S, sc.I, pmText)) {
            sc.I += pmText.size();
            pm = true;
            return true;
        }
    }
    return false;
}

// hh:nn[:ss[.fff]] [AM|PM], or hh AM|PM. Fractions of a second are read as a
// fraction ("12:00:00.5" is half a second) and cut to the millisecond.
bool ScanTime(TScan& sc, TDateTime& time) {
    const TFormatSettings& fs = FormatSettings();
    TScan t = sc;
    int h, mi = 0, s = 0, ms = 0, digits;
    if (!t.Number(h, digits, 2)) return false;
    auto timeSep = [&]() { return t.Char(fs.TimeSeparator) || t.Char(':'); };
    bool haveMinutes = false;
    if (timeSep()) {
        if (!t.Number(mi, digits, 2)) return false;
        haveMinutes = true;
        if (timeSep()) {
            if (!t.Number(s, digits, 2)) return false;
            if (t.Char(fs.DecimalSeparator) || t.Char('.')) {
                int scale = 100;
                if (!(t.Peek() >= '0' && t.Peek() <= '9')) return false;
                while (t.Peek() >= '0' && t.Peek() <= '9') {
                    ms += (t.S[t.I++] - '0') * scale;
                    scale /= 10;
                }
            }
        }
    }
    TScan afterNumbers = t;
    t.SkipBlanks();
    bool pm = false;
    const bool marked = ScanAmPm(t, pm);
    if (!marked) {
        if (!haveMinutes) return false;
        t = afterNumbers;
    } else {
        if (h > 12) return false;
        if (h == 12) h = 0;
        if (pm) h += 12;
    }
    if (!TryEncodeTime(static_cast<Word>(h), static_cast<Word>(mi), static_cast<Word>(s), static_cast<Word>(ms), time))
        return false;
    sc = t;
    return true;
}

bool EndsHere(TScan& sc) noexcept {
    sc.SkipBlanks();
    return sc.AtEnd();
}

}  // namespace

// ---- Calendar --------------------------------------------------------------------

bool IsLeapYear(Word year) noexcept { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

Word DaysInMonth(Word year, Word month) noexcept {
    if (month < 1 || month > 12) return 0;
    return DaysBeforeMonth[IsLeapYear(year)][month] - DaysBeforeMonth[IsLeapYear(year)][month - 1];
}

bool TryEncodeDate(Word year, Word month, Word day, TDateTime& date) noexcept {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
    date = TDateTime(DayNumber(year, month, day) - DateDelta);
    return true;
}

bool TryEncodeTime(Word hour, Word min, Word sec, Word msec, TDateTime& time) noexcept {
    if (hour >= 24 || min >= 60 || sec >= 60 || msec >= 1000) return false;
    time = TDateTime(static_cast<double>(hour * MSecsPerHour + min * MSecsPerMin + sec * 1000 + msec) / MSecsPerDay);
    return true;
}

TDateTime EncodeDate(Word year, Word month, Word day) {
    TDateTime d;
    if (!TryEncodeDate(year, month, day, d)) throw EConvertError("Invalid argument to date encode");
    return d;
}

TDateTime EncodeTime(Word hour, Word min, Word sec, Word msec) {
    TDateTime t;
    if (!TryEncodeTime(hour, min, sec, msec, t)) throw EConvertError("Invalid argument to time encode");
    return t;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) noexcept {
    return TDateTime(date.Value < 0 ? date.Value - time.Value : date.Value + time.Value);
}

void DecodeDate(TDateTime date, Word& year, Word& month, Word& day) {
    const TParts p = Decode(date);
    year = p.Year;
    month = p.Month;
    day = p.Day;
}

void DecodeTime(TDateTime time, Word& hour, Word& min, Word& sec, Word& msec) {
    const TTimeStamp ts = DateTimeToTimeStamp(time);
    hour = static_cast<Word>(ts.Time / MSecsPerHour);
    min = static_cast<Word>(ts.Time / MSecsPerMin % 60);
    sec = static_cast<Word>(ts.Time / 1000 % 60);
    msec = static_cast<Word>(ts.Time % 1000);
}

int DayOfWeek(TDateTime date) { return DateTimeToTimeStamp(date).Date % 7 + 1; }

// ---- Time stamps -----------------------------------------------------------------

TTimeStamp DateTimeToTimeStamp(TDateTime dt) {
    const double v = dt.Value;
    if (!(v > MinDateTime - 1 && v < MaxDateTime + 1)) InvalidDateTime(v);  // NaN fails here too
    // Whole milliseconds, ties to even; days truncate toward zero and the time of
    // day is the magnitude of the rest, so before the epoch it counts forward.
    const auto ms = static_cast<Int64>(std::nearbyint(v * MSecsPerDay));
    TTimeStamp ts;
    ts.Date = static_cast<int>(DateDelta + ms / MSecsPerDay);
    ts.Time = static_cast<int>((ms < 0 ? -ms : ms) % MSecsPerDay);
    if (ts.Date < 1 || ts.Date > MaxDateNumber) InvalidDateTime(v);
    return ts;
}

TDateTime TimeStampToDateTime(const TTimeStamp& ts) {
    if (ts.Time < 0 || ts.Time >= MSecsPerDay || ts.Date < 1 || ts.Date > MaxDateNumber)
        throw EConvertError("'" + IntToStr(ts.Date) + "." + IntToStr(ts.Time) + "' is not a valid timestamp");
    Int64 ms = static_cast<Int64>(ts.Date - DateDelta) * MSecsPerDay;
    ms = ms >= 0 ? ms + ts.Time : ms - ts.Time;
    return TDateTime(static_cast<double>(ms) / MSecsPerDay);
}

double TimeStampToMSecs(const TTimeStamp& ts) {
    return static_cast<double>(ts.Date) * MSecsPerDay + ts.Time;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
    if (!(msecs >= 0 && msecs < (MaxDateNumber + 1.0) * MSecsPerDay))
        throw EConvertError("'" + FloatToStr(msecs) + "' is not a valid timestamp");
    const auto ms = static_cast<Int64>(msecs);
    TTimeStamp ts;
    ts.Date = static_cast<int>(ms / MSecsPerDay);
    ts.Time = static_cast<int>(ms % MSecsPerDay);
    return ts;
}

// ---- Clock -----------------------------------------------------------------------

TDateTime Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const time_t secs = now.tv_sec;
    tm local{};
    localtime_r(&secs, &local);
    TDateTime d, t;
    TryEncodeDate(static_cast<Word>(local.tm_year + 1900), static_cast<Word>(local.tm_mon + 1),
                  static_cast<Word>(local.tm_mday), d);
    TryEncodeTime(static_cast<Word>(local.tm_hour), static_cast<Word>(local.tm_min),
                  static_cast<Word>(local.tm_sec > 59 ? 59 : local.tm_sec), static_cast<Word>(now.tv_nsec / 1000000), t);
    return ComposeDateTime(d, t);
}

TDateTime Date() { return TDateTime(std::trunc(Now().Value)); }

TDateTime Time() {
    const double n = Now().Value;
    return TDateTime(n - std::trunc(n));
}

// ---- Text -------------------------------------------------------------------------

String FormatDateTime(std::string_view format, TDateTime dt) {
    const TParts p = Decode(dt);
    String out;
    out.reserve(format.size() + 8);
    AppendDateTime(out, format, p, 0);
    return out;
}

String DateToStr(TDateTime d) { return FormatDateTime(FormatSettings().ShortDateFormat, d); }
String TimeToStr(TDateTime t) { return FormatDateTime(FormatSettings().LongTimeFormat, t); }
String DateTimeToStr(TDateTime dt) { return FormatDateTime("c", dt); }

bool TryStrToDate(std::string_view s, TDateTime& v) noexcept {
    try {
        TScan sc{s};
        sc.SkipBlanks();
        TDateTime d;
        if (!ScanIsoDate(sc, d) && !ScanSettingsDate(sc, d)) return false;
        if (!EndsHere(sc)) return false;
        v = d;
        return true;
    } catch (...) {
        return false;
    }
}

bool TryStrToTime(std::string_view s, TDateTime& v) noexcept {
    try {
        TScan sc{s};
        sc.SkipBlanks();
        TDateTime t;
        if (!ScanTime(sc, t) || !EndsHere(sc)) return false;
        v = t;
        return true;
    } catch (...) {
        return false;
    }
}

bool TryStrToDateTime(std::string_view s, TDateTime& v) noexcept {
    try {
        TScan sc{s};
        sc.SkipBlanks();
        TDateTime d, t;
        const bool iso = ScanIsoDate(sc, d);
        if (iso || ScanSettingsDate(sc, d)) {
            const std::size_t dateEnd = sc.I;
            if (EndsHere(sc)) {
                v = d;
                return true;
            }
            // A time follows after blanks, or right after 'T' in the ISO form.
            if (sc.I == dateEnd) {
                if (!(iso && (sc.Peek() == 'T' || sc.Peek() == 't'))) return false;
                ++sc.I;
            }
            if (!ScanTime(sc, t) || !EndsHere(sc)) return false;
            v = ComposeDateTime(d, t);
            return true;
        }
        sc.I = 0;
        sc.SkipBlanks();
        if (!ScanTime(sc, t) || !EndsHere(sc)) return false;
        v = t;
        return true;
    } catch (...) {
        return false;
    }
}

TDateTime StrToDate(std::string_view s) {
    TDateTime v;
    if (!TryStrToDate(s, v)) throw EConvertError("'" + String(s) + "' is not a valid date");
    return v;
}

TDateTime StrToTime(std::string_view s) {
    TDateTime v;
    if (!TryStrToTime(s, v)) throw EConvertError("'" + String(s) + "' is not a valid time");
    return v;
}

TDateTime StrToDateTime(std::string_view s) {
    TDateTime v;
    if (!TryStrToDateTime(s, v)) throw EConvertError("'" + String(s) + "' is not a valid date and time");
    return v;
}

}  // namespace Rtl
