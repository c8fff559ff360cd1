// Text conversions and string routines of the runtime library: Format, the
// integer and floating conversions, case mapping and comparison, quoting,
// searching and file-name helpers.
//
// Floating text follows the framework: a value is first reduced to its
// significant digits (15 unless a caller asks for more, the precision of a
// double), and fixed formats then round that digit string to the requested
// decimals, half away from zero. So Format("%.2f", 1.005) is "1.01", as
// FloatToStr(1.005) is "1.005".
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "Platform/rtl/FloatText.h"
#include "Platform/rtl/SysUtils.h"

namespace Rtl {

namespace {

constexpr bool IsBlank(char c) noexcept { return static_cast<unsigned char>(c) <= ' '; }
constexpr bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }
constexpr char AsciiUpper(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
constexpr char AsciiLower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string_view TrimView(std::string_view s) noexcept {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

// ---- UTF-8 code points --------------------------------------------------------
// Bytes that are not well-formed UTF-8 decode to RawByte + byte, so that case
// mapping passes them through unchanged and comparisons stay deterministic.

constexpr char32_t RawByte = 0x110000;

char32_t NextCodePoint(std::string_view s, std::size_t& i) noexcept {
    const std::size_t start = i;
    const char32_t cp = Utf8Next(s, i);
    return cp == Utf8Invalid ? RawByte + static_cast<unsigned char>(s[start]) : cp;
}

void AppendCodePoint(String& out, char32_t cp) {
    if (cp >= RawByte) out += static_cast<char>(cp - RawByte);
    else Utf8Append(out, cp);
}

// ---- Simple case mapping for Latin, Greek, Cyrillic and Armenian ---------------

constexpr bool In(char32_t c, char32_t lo, char32_t hi) noexcept { return c >= lo && c <= hi; }

// Ranges where upper and lower case alternate, upper case on the even code point.
constexpr bool EvenUpperPair(char32_t c) noexcept {
    return In(c, 0x100, 0x12F) || In(c, 0x132, 0x137) || In(c, 0x14A, 0x177) || In(c, 0x1DE, 0x1EF) ||
           In(c, 0x1F4, 0x1F5) || In(c, 0x1F8, 0x21F) || In(c, 0x222, 0x233) || In(c, 0x246, 0x24F) ||
           In(c, 0x3D8, 0x3EF) || In(c, 0x460, 0x481) || In(c, 0x48A, 0x4BF) || In(c, 0x4D0, 0x52F) ||
           In(c, 0x1E00, 0x1E95) || In(c, 0x1EA0, 0x1EFF);
}
// The same with upper case on the odd code point.
constexpr bool OddUpperPair(char32_t c) noexcept {
    return In(c, 0x139, 0x148) || In(c, 0x179, 0x17E) || In(c, 0x1CD, 0x1DC) || In(c, 0x4C1, 0x4CE);
}

char32_t UpperOf(char32_t c) noexcept {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
    if (c < 0x100) {
        if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
        if (c == 0xFF) return 0x178;
        return c;
    }
    if (EvenUpperPair(c)) return c & ~char32_t(1);
    if (OddUpperPair(c)) return (c & 1) ? c : c - 1;
    switch (c) {
        case 0x131: return 'I';
        case 0x17F: return 'S';
        case 0x1C5: case 0x1C6: return 0x1C4;
        case 0x1C8: case 0x1C9: return 0x1C7;
        case 0x1CB: case 0x1CC: return 0x1CA;
        case 0x1F2: case 0x1F3: return 0x1F1;
        case 0x3C2: return 0x3A3;
        case 0x3AC: return 0x386;
        case 0x3CC: return 0x38C;
        case 0x4CF: return 0x4C0;
        default: break;
    }
    if (In(c, 0x3B1, 0x3C1) || In(c, 0x3C3, 0x3CB)) return c - 0x20;
    if (In(c, 0x3AD, 0x3AF)) return c - 0x25;
    if (In(c, 0x3CD, 0x3CE)) return c - 0x3F;
    if (In(c, 0x430, 0x44F)) return c - 0x20;
    if (In(c, 0x450, 0x45F)) return c - 0x50;
    if (In(c, 0x561, 0x586)) return c - 0x30;
    if (In(c, 0xFF41, 0xFF5A)) return c - 0x20;
    return c;
}

char32_t LowerOf(char32_t c) noexcept {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    if (c < 0x100) return (c >= 0xC0 && c <= 0xDE && c != 0xD7) ? c + 0x20 : c;
    if (EvenUpperPair(c)) return c | 1;
    if (OddUpperPair(c)) return (c & 1) ? c + 1 : c;
    switch (c) {
        case 0x130: return 'i';
        case 0x178: return 0xFF;
        case 0x1C4: case 0x1C5: return 0x1C6;
        case 0x1C7: case 0x1C8: return 0x1C9;
        case 0x1CA: case 0x1CB: return 0x1CC;
        case 0x1F1: case 0x1F2: return 0x1F3;
        case 0x386: return 0x3AC;
        case 0x38C: return 0x3CC;
        case 0x4C0: return 0x4CF;
        case 0x1E9E: return 0xDF;
        default: break;
    }
    if (In(c, 0x391, 0x3A1) || In(c, 0x3A3, 0x3AB)) return c + 0x20;
    if (In(c, 0x388, 0x38A)) return c + 0x25;
    if (In(c, 0x38E, 0x38F)) return c + 0x3F;
    if (In(c, 0x410, 0x42F)) return c + 0x20;
    if (In(c, 0x400, 0x40F)) return c + 0x50;
    if (In(c, 0x531, 0x556)) return c + 0x30;
    if (In(c, 0xFF21, 0xFF3A)) return c + 0x20;
    return c;
}

// Case-insensitive identity of a code point (sigma forms, long s and dotless i fold together).
char32_t FoldOf(char32_t c) noexcept { return LowerOf(UpperOf(c)); }

// Primary sort weight: accented Latin letters sort with their base letter, so
// "Émile" sorts between "Dora" and "Fritz". Letters are compared case-folded.
char32_t PrimaryOf(char32_t c) noexcept {
    // '*' marks letters that keep their own weight (multiplication and division signs, thorn).
    static constexpr char Latin1[] = "AAAAAAACEEEEIIIIDNOOOOO*OUUUUY*SAAAAAAACEEEEIIIIDNOOOOO*OUUUUY*Y";
    static constexpr char LatinA[] =
        "AAAAAACCCCCCCCDDDDEEEEEEEEEEGGGGGGGGHHHHIIIIIIIIIIIIJJKKKLLLLLLLLLLNNNNNNNNNOOOOOOOORRRRRRSSSSSSSS"
        "TTTTTTUUUUUUUUUUUUWWYYYZZZZZZS";
    static_assert(sizeof(Latin1) == 65 && sizeof(LatinA) == 129);
    c = FoldOf(c);  // so that texts equal when folded have equal weights
    if (c >= 0xC0 && c <= 0xFF && Latin1[c - 0xC0] != '*') return static_cast<char32_t>(Latin1[c - 0xC0]);
    if (c >= 0x100 && c <= 0x17F) return static_cast<char32_t>(LatinA[c - 0x100]);
    return UpperOf(c);
}

String MapCase(std::string_view s, bool upper) {
    String out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            out += upper ? AsciiUpper(s[i]) : AsciiLower(s[i]);
            ++i;
            continue;
        }
        const char32_t cp = NextCodePoint(s, i);
        AppendCodePoint(out, cp >= RawByte ? cp : (upper ? UpperOf(cp) : LowerOf(cp)));
    }
    return out;
}

template <typename Key>
int CompareBy(std::string_view a, std::string_view b, Key key) noexcept {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t ka = key(NextCodePoint(a, i));
        const char32_t kb = key(NextCodePoint(b, j));
        if (ka != kb) return ka < kb ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

int Sign(int v) noexcept { return (v > 0) - (v < 0); }

// ---- Integers -----------------------------------------------------------------

// Parses the framework's integer text: blanks around, a sign, decimal digits or
// a "$"/"0x" hexadecimal prefix. Hexadecimal covers the whole unsigned range of
// the target (so "$FFFFFFFF" is -1 as an Integer), decimal the signed range.
bool ParseInteger(std::string_view s, Int64 min, Int64 max, UInt64 hexMax, Int64& out) noexcept {
    s = TrimView(s);
    std::size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    bool hex = false;
    if (i < s.size() && s[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= s.size()) return false;
    UInt64 mag = 0;
    if (hex) {
        for (; i < s.size(); ++i) {
            const char c = s[i];
            unsigned d;
            if (IsDigit(c)) d = c - '0';
            else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else return false;
            if (mag > (hexMax >> 4)) return false;
            mag = (mag << 4) | d;
        }
        if (mag > hexMax) return false;
        // Reinterpret in the target's width, then apply the sign with wrap-around.
        Int64 v = hexMax == UINT64_MAX ? static_cast<Int64>(mag)
                                       : static_cast<Int64>(static_cast<std::int32_t>(static_cast<std::uint32_t>(mag)));
        if (neg) v = static_cast<Int64>(0 - static_cast<UInt64>(v));
        if (hexMax != UINT64_MAX) v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
        out = v;
        return true;
    }
    const UInt64 limit = neg ? static_cast<UInt64>(-(min + 1)) + 1 : static_cast<UInt64>(max);
    for (; i < s.size(); ++i) {
        if (!IsDigit(s[i])) return false;
        const unsigned d = s[i] - '0';
        if (mag > (limit - d) / 10) return false;
        mag = mag * 10 + d;
    }
    out = neg ? static_cast<Int64>(0 - mag) : static_cast<Int64>(mag);
    return true;
}

[[noreturn]] void ConvertError(std::string_view s, const char* what) {
    String msg;
    msg.reserve(s.size() + 40);
    msg += '\'';
    msg += s;
    msg += "' is not a valid ";
    msg += what;
    throw EConvertError(std::move(msg));
}

// ---- Floating text --------------------------------------------------------------

// Validates the framework's floating text (blanks, sign, digits with an optional
// decimal separator, optional exponent, or INF/NAN) and converts it.
bool ParseFloat(std::string_view s, char decimalSeparator, double& out) noexcept {
    s = TrimView(s);
    std::size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    const std::string_view body = s.substr(i);
    if (EqualsNoCase(body, "INF")) {
        out = neg ? -HUGE_VAL : HUGE_VAL;
        return true;
    }
    if (EqualsNoCase(body, "NAN")) {
        out = std::nan("");
        return true;
    }
    // Shape check, remembering where the digits sit for the underflow decision.
    std::size_t k = 0;
    int digits = 0;
    long magnitude = 0;  // decimal position of the first significant digit
    bool seenSignificant = false;
    bool afterPoint = false;
    long pointShift = 0;
    for (; k < body.size(); ++k) {
        const char c = body[k];
        if (IsDigit(c)) {
            ++digits;
            if (!afterPoint && (seenSignificant || c != '0')) ++magnitude;
            if (afterPoint && !seenSignificant && c == '0') --pointShift;
            if (c != '0') seenSignificant = true;
        } else if (c == decimalSeparator && !afterPoint) {
            afterPoint = true;
        } else {
            break;
        }
    }
    if (digits == 0) return false;
    long exponent = 0;
    if (k < body.size()) {
        if (body[k] != 'e' && body[k] != 'E') return false;
        ++k;
        bool expNeg = false;
        if (k < body.size() && (body[k] == '+' || body[k] == '-')) expNeg = body[k++] == '-';
        if (k >= body.size()) return false;
        for (; k < body.size(); ++k) {
            if (!IsDigit(body[k])) return false;
            if (exponent < 100000) exponent = exponent * 10 + (body[k] - '0');
        }
        if (expNeg) exponent = -exponent;
    }
    // from_chars wants '.'; copy only when the separator differs.
    double v = 0;
    std::from_chars_result r;
    if (decimalSeparator == '.') {
        r = std::from_chars(body.data(), body.data() + body.size(), v, std::chars_format::general);
    } else {
        String copy(body);
        std::replace(copy.begin(), copy.end(), decimalSeparator, '.');
        r = std::from_chars(copy.data(), copy.data() + copy.size(), v, std::chars_format::general);
        r.ptr = body.data() + (r.ptr - copy.data());
    }
    if (r.ec == std::errc::result_out_of_range) {
        if (!seenSignificant) {
            v = 0;
        } else {
            const long scale = (magnitude > 0 ? magnitude : pointShift) + exponent;
            if (scale > 0) return false;  // overflow
            v = 0;                        // underflow: the framework answers zero
        }
    } else if (r.ec != std::errc() || r.ptr != body.data() + body.size()) {
        return false;
    }
    if (std::isinf(v)) return false;
    out = neg ? -v : v;
    return true;
}

int ClampInt(int v, int lo, int hi) noexcept { return v < lo ? lo : (v > hi ? hi : v); }

void AppendGeneral(String& out, Detail::TDecimalText& t, int precision, int expDigits, char sep) {
    Detail::RoundDigits(t, precision);
    if (t.Count == 0) {
        out += '0';
        return;
    }
    if (t.Negative) out += '-';
    if (t.Exponent > precision || t.Exponent < -3) {
        out += t.Digits[0];
        if (t.Count > 1) {
            out += sep;
            out.append(t.Digits + 1, t.Count - 1);
        }
        out += 'E';
        int e = t.Exponent - 1;
        if (e < 0) {
            out += '-';
            e = -e;
        }
        char buf[12];
        const auto r = std::to_chars(buf, buf + sizeof buf, e);
        const int len = static_cast<int>(r.ptr - buf);
        if (len < expDigits) out.append(static_cast<std::size_t>(expDigits - len), '0');
        out.append(buf, r.ptr);
    } else if (t.Exponent <= 0) {
        out += '0';
        out += sep;
        out.append(static_cast<std::size_t>(-t.Exponent), '0');
        out.append(t.Digits, t.Count);
    } else {
        const int intDigits = std::min(t.Count, t.Exponent);
        out.append(t.Digits, intDigits);
        if (t.Exponent > t.Count) out.append(static_cast<std::size_t>(t.Exponent - t.Count), '0');
        if (t.Count > t.Exponent) {
            out += sep;
            out.append(t.Digits + t.Exponent, t.Count - t.Exponent);
        }
    }
}

void AppendWithCurrency(String& out, std::string_view number, bool negative, const TFormatSettings& fs) {
    static constexpr const char* Positive[] = {"$1", "1$", "$ 1", "1 $"};
    static constexpr const char* Negative[] = {"($1)", "-$1", "$-1", "$1-", "(1$)", "-1$", "1-$", "1$-",
                                               "-1 $", "-$ 1", "1 $-", "$ 1-", "$ -1", "1- $", "($ 1)", "(1 $)"};
    const char* pattern = negative ? Negative[fs.NegCurrFormat < 16 ? fs.NegCurrFormat : 1]
                                   : Positive[fs.CurrencyFormat < 4 ? fs.CurrencyFormat : 0];
    for (const char* p = pattern; *p; ++p) {
        if (*p == '$') out += fs.CurrencyString;
        else if (*p == '1') out += number;
        else out += *p;
    }
}

}  // namespace

// ---- Decimal digit machinery ------------------------------------------------------

namespace Detail {

TDecimalText DoubleDigits(double v, int sig) noexcept {
    TDecimalText t;
    if (std::isnan(v)) {
        t.Special = TDecimalText::NotANumber;
        return t;
    }
    t.Negative = std::signbit(v);
    if (std::isinf(v)) {
        t.Special = TDecimalText::Infinite;
        return t;
    }
    if (v == 0) return t;
    sig = ClampInt(sig, 1, 17);
    char buf[48];
    const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, sig - 1);
    const char* p = buf;
    t.Digits[t.Count++] = *p++;
    if (*p == '.')
        for (++p; IsDigit(*p); ++p) t.Digits[t.Count++] = *p;
    int e = 0;
    std::from_chars(p + 1 + (p[1] == '+'), r.ptr, e);  // "e+12" / "e-07"
    t.Exponent = e + 1;
    while (t.Count > 0 && t.Digits[t.Count - 1] == '0') --t.Count;
    return t;
}

TDecimalText ScaledDigits(Int64 scaled, int scale) noexcept {
    TDecimalText t;
    t.Negative = scaled < 0;
    const UInt64 mag = t.Negative ? 0 - static_cast<UInt64>(scaled) : static_cast<UInt64>(scaled);
    if (mag == 0) return t;
    const auto r = std::to_chars(t.Digits, t.Digits + sizeof t.Digits, mag);
    t.Count = static_cast<int>(r.ptr - t.Digits);
    t.Exponent = t.Count - scale;
    while (t.Digits[t.Count - 1] == '0') --t.Count;
    return t;
}

void RoundDigits(TDecimalText& t, int keep) noexcept {
    if (t.Special != TDecimalText::Finite || keep >= t.Count) return;
    if (keep < 0) {
        t.Count = 0;
        t.Exponent = 0;
        return;
    }
    const bool up = t.Digits[keep] >= '5';
    t.Count = keep;
    if (up) {
        int i = keep - 1;
        while (i >= 0 && t.Digits[i] == '9') --i;
        if (i < 0) {
            t.Digits[0] = '1';
            t.Count = 1;
            ++t.Exponent;
            return;
        }
        ++t.Digits[i];
        t.Count = i + 1;
    }
    while (t.Count > 0 && t.Digits[t.Count - 1] == '0') --t.Count;
    if (t.Count == 0) t.Exponent = 0;
}

void AppendFloatText(String& out, TDecimalText t, TFloatFormat format, int precision, int digits,
                     const TFormatSettings& fs) {
    if (t.Special == TDecimalText::NotANumber) {
        out += "NAN";
        return;
    }
    if (t.Special == TDecimalText::Infinite) {
        out += t.Negative ? "-INF" : "INF";
        return;
    }
    precision = ClampInt(precision, 1, 19);  // 19: every digit of a currency value
    const char sep = fs.DecimalSeparator;
    switch (format) {
        case ffGeneral:
            AppendGeneral(out, t, precision, ClampInt(digits, 0, 4), sep);
            return;
        case ffExponent: {
            RoundDigits(t, precision);
            if (t.Negative && t.Count > 0) out += '-';
            out += t.Count > 0 ? t.Digits[0] : '0';
            if (precision > 1) {
                out += sep;
                for (int k = 1; k < precision; ++k) out += k < t.Count ? t.Digits[k] : '0';
            }
            out += 'E';
            int e = t.Count > 0 ? t.Exponent - 1 : 0;
            out += e < 0 ? '-' : '+';
            if (e < 0) e = -e;
            char buf[12];
            const auto r = std::to_chars(buf, buf + sizeof buf, e);
            const int len = static_cast<int>(r.ptr - buf);
            const int minDigits = std::max(ClampInt(digits, 0, 4), 1);
            if (len < minDigits) out.append(static_cast<std::size_t>(minDigits - len), '0');
            out.append(buf, r.ptr);
            return;
        }
        default:
            break;
    }
    // Fixed, number and currency.
    if (t.Count > 0 && t.Exponent > precision) {
        AppendGeneral(out, t, precision, 0, sep);
        return;
    }
    digits = ClampInt(digits, 0, 18);
    RoundDigits(t, t.Exponent + digits);
    const bool grouped = (format == ffNumber || format == ffCurrency) && fs.ThousandSeparator != '\0';
    char number[96];
    int n = 0;
    if (t.Exponent <= 0) {
        number[n++] = '0';
    } else {
        for (int k = 0; k < t.Exponent; ++k) {
            if (grouped && k > 0 && (t.Exponent - k) % 3 == 0) number[n++] = fs.ThousandSeparator;
            number[n++] = k < t.Count ? t.Digits[k] : '0';
        }
    }
    if (digits > 0) {
        number[n++] = sep;
        for (int k = 0; k < digits; ++k) {
            const int idx = t.Exponent + k;
            number[n++] = (idx >= 0 && idx < t.Count) ? t.Digits[idx] : '0';
        }
    }
    const bool negative = t.Negative && t.Count > 0;
    if (format == ffCurrency) {
        AppendWithCurrency(out, std::string_view(number, n), negative, fs);
        return;
    }
    if (negative) out += '-';
    out.append(number, n);
}

}  // namespace Detail

// ---- Format -------------------------------------------------------------------------

namespace {

constexpr int MaxFormatNumber = 1000000;  // widths, precisions and indexes beyond this are rejected

[[noreturn]] void FormatError(std::string_view fmt) {
    String msg;
    msg.reserve(fmt.size() + 48);
    msg += "Format '";
    msg += fmt;
    msg += "' invalid or incompatible with argument";
    throw EConvertError(std::move(msg));
}

bool IsIntegerArg(const TVarRec& a) noexcept {
    return a.VType() == TVarRec::vtInteger || a.VType() == TVarRec::vtInt64 || a.VType() == TVarRec::vtUInt64;
}

void AppendHex(String& out, UInt64 v, int minDigits) {
    char buf[20];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, 16);
    for (char* p = buf; p < r.ptr; ++p) *p = AsciiUpper(*p);
    const int len = static_cast<int>(r.ptr - buf);
    if (minDigits > len) out.append(static_cast<std::size_t>(minDigits - len), '0');
    out.append(buf, r.ptr);
}

void AppendDecimal(String& out, UInt64 mag, bool negative, int minDigits) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, mag);
    const int len = static_cast<int>(r.ptr - buf);
    if (negative) out += '-';
    if (minDigits > len) out.append(static_cast<std::size_t>(minDigits - len), '0');
    out.append(buf, r.ptr);
}

// Byte length of the first maxChars code points of s.
std::size_t PrefixBytes(std::string_view s, std::size_t maxChars) noexcept {
    std::size_t i = 0;
    for (std::size_t n = 0; i < s.size() && n < maxChars; ++n) NextCodePoint(s, i);
    return i;
}

}  // namespace

String Format(std::string_view fmt, std::initializer_list<TVarRec> args) {
    return Format(fmt, args.begin(), args.size());
}

String Format(std::string_view fmt, const TVarRec* args, std::size_t count) {
    String out;
    out.reserve(fmt.size() + count * 8);
    const char* p = fmt.data();
    const char* const end = p + fmt.size();
    std::size_t argIndex = 0;
    const TFormatSettings& fs = FormatSettings();

    auto nextArg = [&]() -> const TVarRec& {
        if (argIndex >= count) FormatError(fmt);
        return args[argIndex++];
    };
    // Reads digits or '*' (taken from the arguments); false when neither is there.
    auto readNumber = [&](int& value) -> bool {
        if (p < end && *p == '*') {
            ++p;
            const TVarRec& a = nextArg();
            if (a.VType() != TVarRec::vtInteger && a.VType() != TVarRec::vtInt64) FormatError(fmt);
            const Int64 v = a.AsInt64();
            if (v > MaxFormatNumber || v < -MaxFormatNumber) FormatError(fmt);
            value = static_cast<int>(v);
            return true;
        }
        if (p >= end || !IsDigit(*p)) return false;
        int v = 0;
        for (; p < end && IsDigit(*p); ++p) {
            v = v * 10 + (*p - '0');
            if (v > MaxFormatNumber) FormatError(fmt);
        }
        value = v;
        return true;
    };

    while (p < end) {
        const char* pct = static_cast<const char*>(std::memchr(p, '%', static_cast<std::size_t>(end - p)));
        if (!pct) {
            out.append(p, end);
            break;
        }
        out.append(p, pct);
        p = pct + 1;
        if (p >= end) FormatError(fmt);
        if (*p == '%') {
            out += '%';
            ++p;
            continue;
        }
        bool left = false;
        int width = -1;
        int prec = -1;
        int n = 0;
        bool have = readNumber(n);
        if (have && p < end && *p == ':') {
            if (n < 0) FormatError(fmt);
            argIndex = static_cast<std::size_t>(n);
            ++p;
            have = false;
        }
        if (!have) {
            if (p < end && *p == '-') {
                left = true;
                ++p;
            }
            have = readNumber(n);
        }
        if (have) {
            if (n < 0) {
                left = true;
                n = -n;
            }
            width = n;
        }
        if (p < end && *p == '.') {
            ++p;
            if (!readNumber(prec)) prec = 0;
            if (prec < 0) prec = -1;
        }
        if (p >= end) FormatError(fmt);
        const char type = AsciiLower(*p++);
        const TVarRec& a = nextArg();
        const std::size_t start = out.size();
        switch (type) {
            case 'd': {
                if (!IsIntegerArg(a)) FormatError(fmt);
                if (a.VType() == TVarRec::vtUInt64) {
                    AppendDecimal(out, a.AsUInt64(), false, prec);
                } else {
                    const Int64 v = a.AsInt64();
                    AppendDecimal(out, v < 0 ? 0 - static_cast<UInt64>(v) : static_cast<UInt64>(v), v < 0, prec);
                }
                break;
            }
            case 'u':
            case 'x': {
                if (!IsIntegerArg(a)) FormatError(fmt);
                UInt64 v = a.AsUInt64();
                if (a.VType() == TVarRec::vtInteger) v = static_cast<std::uint32_t>(a.AsInt64());
                if (type == 'u') AppendDecimal(out, v, false, prec);
                else AppendHex(out, v, prec);
                break;
            }
            case 'e':
            case 'f':
            case 'g':
            case 'n':
            case 'm': {
                if (a.VType() != TVarRec::vtExtended) FormatError(fmt);
                const double v = a.AsDouble();
                if (type == 'e' || type == 'g') {
                    const int precision = ClampInt(prec < 0 ? 15 : prec, 1, 18);
                    Detail::AppendFloatText(out, Detail::DoubleDigits(v, std::max(precision, 15)),
                                            type == 'e' ? ffExponent : ffGeneral, precision, type == 'e' ? 3 : 0, fs);
                } else {
                    const int decimals = prec < 0 ? (type == 'm' ? fs.CurrencyDecimals : 2) : prec;
                    const TFloatFormat f = type == 'f' ? ffFixed : (type == 'n' ? ffNumber : ffCurrency);
                    Detail::AppendFloatText(out, Detail::DoubleDigits(v, 15), f, 18, decimals, fs);
                }
                break;
            }
            case 's': {
                std::string_view text;
                String wide;
                char ch;
                if (a.VType() == TVarRec::vtString) {
                    text = a.AsString();
                } else if (a.VType() == TVarRec::vtWideString) {
                    wide = WideToUtf8(a.AsWide());
                    text = wide;
                } else if (a.VType() == TVarRec::vtChar) {
                    ch = static_cast<char>(a.AsInt64());
                    text = std::string_view(&ch, 1);
                } else {
                    FormatError(fmt);
                }
                if (prec >= 0) text = text.substr(0, PrefixBytes(text, static_cast<std::size_t>(prec)));
                out += text;
                break;
            }
            case 'p': {
                if (a.VType() != TVarRec::vtPointer) FormatError(fmt);
                AppendHex(out, reinterpret_cast<std::uintptr_t>(a.AsPointer()), 16);
                break;
            }
            default:
                FormatError(fmt);
        }
        if (width > 0) {
            const std::string_view piece(out.data() + start, out.size() - start);
            const std::size_t chars = piece.size() >= static_cast<std::size_t>(width) * 4 ? piece.size()
                                                                                           : Utf8Length(piece);
            if (chars < static_cast<std::size_t>(width)) {
                const std::size_t pad = static_cast<std::size_t>(width) - chars;
                if (left) out.append(pad, ' ');
                else out.insert(start, pad, ' ');
            }
        }
    }
    return out;
}

// ---- Numbers and text -----------------------------------------------------------------

String IntToStr(Int64 v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return String(buf, r.ptr);
}

String UIntToStr(UInt64 v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return String(buf, r.ptr);
}

String IntToHex(UInt64 v, int digits) {
    String out;
    AppendHex(out, v, std::min(digits, 64));
    return out;
}

bool TryStrToInt(std::string_view s, int& v) noexcept {
    Int64 r;
    if (!ParseInteger(s, INT32_MIN, INT32_MAX, UINT32_MAX, r)) return false;
    v = static_cast<int>(r);
    return true;
}

bool TryStrToInt64(std::string_view s, Int64& v) noexcept {
    return ParseInteger(s, INT64_MIN, INT64_MAX, UINT64_MAX, v);
}

int StrToInt(std::string_view s) {
    int v;
    if (!TryStrToInt(s, v)) ConvertError(s, "integer value");
    return v;
}

Int64 StrToInt64(std::string_view s) {
    Int64 v;
    if (!TryStrToInt64(s, v)) ConvertError(s, "integer value");
    return v;
}

int StrToIntDef(std::string_view s, int def) noexcept {
    int v;
    return TryStrToInt(s, v) ? v : def;
}

Int64 StrToInt64Def(std::string_view s, Int64 def) noexcept {
    Int64 v;
    return TryStrToInt64(s, v) ? v : def;
}

bool TryStrToFloat(std::string_view s, double& v) noexcept {
    return ParseFloat(s, FormatSettings().DecimalSeparator, v);
}

double StrToFloat(std::string_view s) {
    double v;
    if (!TryStrToFloat(s, v)) ConvertError(s, "floating point value");
    return v;
}

double StrToFloatDef(std::string_view s, double def) noexcept {
    double v;
    return TryStrToFloat(s, v) ? v : def;
}

String FloatToStr(double v) { return FloatToStrF(v, ffGeneral, 15, 0); }

String FloatToStrF(double v, TFloatFormat format, int precision, int digits) {
    String out;
    precision = ClampInt(precision, 1, 18);
    Detail::AppendFloatText(out, Detail::DoubleDigits(v, precision), format, precision, digits, FormatSettings());
    return out;
}

bool TryStrToBool(std::string_view s, bool& v) noexcept {
    const std::string_view t = TrimView(s);
    if (EqualsNoCase(t, "True")) {
        v = true;
        return true;
    }
    if (EqualsNoCase(t, "False")) {
        v = false;
        return true;
    }
    double d;
    if (!TryStrToFloat(s, d) || std::isnan(d)) return false;
    v = d != 0;
    return true;
}

bool StrToBool(std::string_view s) {
    bool v;
    if (!TryStrToBool(s, v)) ConvertError(s, "boolean value");
    return v;
}

String BoolToStr(bool v, bool useBoolStrs) {
    if (useBoolStrs) return v ? "True" : "False";
    return v ? "-1" : "0";
}

// ---- Strings ---------------------------------------------------------------------------

String Trim(std::string_view s) { return String(TrimView(s)); }

String TrimLeft(std::string_view s) {
    std::size_t b = 0;
    while (b < s.size() && IsBlank(s[b])) ++b;
    return String(s.substr(b));
}

String TrimRight(std::string_view s) {
    std::size_t e = s.size();
    while (e > 0 && IsBlank(s[e - 1])) --e;
    return String(s.substr(0, e));
}

String UpperCase(std::string_view s) {
    String out(s);
    for (char& c : out) c = AsciiUpper(c);
    return out;
}

String LowerCase(std::string_view s) {
    String out(s);
    for (char& c : out) c = AsciiLower(c);
    return out;
}

String AnsiUpperCase(std::string_view s) { return MapCase(s, true); }
String AnsiLowerCase(std::string_view s) { return MapCase(s, false); }

int CompareStr(std::string_view a, std::string_view b) noexcept { return Sign(a.compare(b)); }

int CompareText(std::string_view a, std::string_view b) noexcept {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(AsciiUpper(a[i]));
        const auto cb = static_cast<unsigned char>(AsciiUpper(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool SameText(std::string_view a, std::string_view b) noexcept { return a.size() == b.size() && CompareText(a, b) == 0; }
bool SameStr(std::string_view a, std::string_view b) noexcept { return a == b; }

// Linguistic order in three levels: base letters (accents and case ignored),
// then accents, then case with lower case first; identical texts only compare
// equal. AnsiCompareText stops after the second level.
int AnsiCompareText(std::string_view a, std::string_view b) {
    if (int r = CompareBy(a, b, PrimaryOf)) return r;
    return CompareBy(a, b, FoldOf);
}

int AnsiCompareStr(std::string_view a, std::string_view b) {
    if (int r = AnsiCompareText(a, b)) return r;
    // Case: at the first difference the lower-case letter sorts first.
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t ca = NextCodePoint(a, i);
        const char32_t cb = NextCodePoint(b, j);
        if (ca == cb) continue;
        const bool la = LowerOf(ca) == ca, lb = LowerOf(cb) == cb;
        if (la != lb) return la ? -1 : 1;
        return ca < cb ? -1 : 1;
    }
    return CompareStr(a, b);
}

bool AnsiSameText(std::string_view a, std::string_view b) { return CompareBy(a, b, FoldOf) == 0; }

String QuotedStr(std::string_view s, char quote) {
    String out;
    out.reserve(s.size() + 2);
    out += quote;
    for (char c : s) {
        out += c;
        if (c == quote) out += quote;
    }
    out += quote;
    return out;
}

String AnsiDequotedStr(std::string_view s, char quote) {
    // The quoted text runs to the closing quote (doubled quotes stand for one);
    // text that is not properly quoted comes back unchanged.
    if (s.empty() || s[0] != quote) return String(s);
    String out;
    std::size_t i = 1;
    bool closed = false;
    while (i < s.size()) {
        if (s[i] == quote) {
            if (i + 1 < s.size() && s[i + 1] == quote) {
                out += quote;
                i += 2;
                continue;
            }
            closed = true;
            ++i;
            break;
        }
        out += s[i++];
    }
    const bool consumedAll = i >= s.size();
    if ((out.empty() || consumedAll) && !(s.size() >= 2 && s.back() == quote && closed)) return String(s);
    return out;
}

int Pos(std::string_view sub, std::string_view s) noexcept {
    if (sub.empty()) return 0;
    const std::size_t at = s.find(sub);
    return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

namespace {
// Byte length of the match of pattern at s[at], comparing case-folded code
// points; npos when it does not match there.
std::size_t MatchFolded(std::string_view s, std::size_t at, std::string_view pattern) noexcept {
    std::size_t i = at, j = 0;
    while (j < pattern.size()) {
        if (i >= s.size()) return std::string_view::npos;
        if (FoldOf(NextCodePoint(s, i)) != FoldOf(NextCodePoint(pattern, j))) return std::string_view::npos;
    }
    return i - at;
}
}  // namespace

String StringReplace(std::string_view s, std::string_view oldPattern, std::string_view newPattern, int flags) {
    if (oldPattern.empty()) return String(s);
    const bool all = (flags & rfReplaceAll) != 0;
    const bool ignoreCase = (flags & rfIgnoreCase) != 0;
    String out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t len = std::string_view::npos;
        if (ignoreCase) {
            len = MatchFolded(s, i, oldPattern);
        } else if (s.compare(i, oldPattern.size(), oldPattern) == 0) {
            len = oldPattern.size();
        }
        if (len != std::string_view::npos) {
            out += newPattern;
            i += len;
            if (!all) {
                out += s.substr(i);
                return out;
            }
            continue;
        }
        // Advance one whole code point so a folded match never starts mid-character.
        const std::size_t from = i;
        NextCodePoint(s, i);
        out.append(s.data() + from, i - from);
    }
    return out;
}

String StringOfChar(char c, int count) { return count > 0 ? String(static_cast<std::size_t>(count), c) : String(); }

// ---- File names and files ---------------------------------------------------------------

String IncludeTrailingPathDelimiter(std::string_view s) {
    String out(s);
    if (out.empty() || out.back() != '/') out += '/';
    return out;
}

String ExtractFileName(std::string_view s) {
    const std::size_t slash = s.rfind('/');
    return String(slash == std::string_view::npos ? s : s.substr(slash + 1));
}

String ExtractFilePath(std::string_view s) {
    const std::size_t slash = s.rfind('/');
    return slash == std::string_view::npos ? String() : String(s.substr(0, slash + 1));
}

namespace {
std::size_t ExtensionDot(std::string_view s) noexcept {
    const std::size_t at = s.find_last_of("./");
    return (at != std::string_view::npos && s[at] == '.') ? at : std::string_view::npos;
}
[[maybe_unused]] const char* ErrorText(int rc, const char* buf) noexcept { return rc == 0 ? buf : nullptr; }  // XSI strerror_r
[[maybe_unused]] const char* ErrorText(const char* text, const char*) noexcept { return text; }             // GNU strerror_r
}  // namespace

String ExtractFileExt(std::string_view s) {
    const std::size_t dot = ExtensionDot(s);
    return dot == std::string_view::npos ? String() : String(s.substr(dot));
}

String ChangeFileExt(std::string_view s, std::string_view ext) {
    const std::size_t dot = ExtensionDot(s);
    String out(dot == std::string_view::npos ? s : s.substr(0, dot));
    out += ext;
    return out;
}

bool FileExists(std::string_view path) {
    const String p(path);
    if (p.empty() || p.find('\0') != String::npos) return false;
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DeleteFile(std::string_view path) {
    const String p(path);
    if (p.empty() || p.find('\0') != String::npos) return false;
    return ::unlink(p.c_str()) == 0;
}

String SysErrorMessage(int error) {
    char buf[256] = {};
    const char* text = ErrorText(strerror_r(error, buf, sizeof buf), buf);
    if (!text || !*text) return "System error " + IntToStr(error);
    return text;
}

}  // namespace Rtl
