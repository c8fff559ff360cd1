// Currency (value x 10000 in 64 bits) and TBcd (the 34-byte packed decimal).
//
// Rounding rules: a double becomes currency by rounding the decimal number it
// stands for (its shortest round-trip text, so 0.00015 is the decimal 0.00015)
// to four places with ties to even; currency text does the same with the
// digits as written. Products and quotients are computed exactly and rounded
// with ties to even. Dropping BCD places (BCD to currency, currency to a BCD
// with fewer decimals) rounds half away from zero, as decimal arithmetic does.
// The special bit of a TBcd is carried, not interpreted.
#include <charconv>
#include <cmath>
#include <cstring>

#include "Platform/rtl/Currency.h"
#include "Platform/rtl/FloatText.h"

namespace Rtl {

namespace {

using Int128 = __int128;
using UInt128 = unsigned __int128;

constexpr UInt64 NegativeLimit = static_cast<UInt64>(INT64_MAX) + 1;

[[noreturn]] void Overflow(const String& what) {
    throw EOverflow("Currency overflow: " + what + " is out of range");
}

[[noreturn]] void OperationOverflow(Currency a, const char* op, Currency b) {
    throw EOverflow("Currency overflow: " + CurrToStr(a) + " " + op + " " + CurrToStr(b));
}

bool IsBlank(char c) noexcept { return static_cast<unsigned char>(c) <= ' '; }
bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

std::string_view TrimView(std::string_view s) noexcept {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Parses blanks, sign, digits with an optional decimal separator and an
// optional exponent into value x 10000, rounded with ties to even.
bool ParseScaled(std::string_view s, char separator, Int64& out) noexcept {
    s = TrimView(s);
    std::size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    // value = 0.D1 D2 ... x 10^exp10; digits past the buffer only matter as "non-zero".
    char digits[24];
    int count = 0;
    bool sticky = false;
    long exp10 = 0;
    int seen = 0;
    bool afterPoint = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (IsDigit(c)) {
            ++seen;
            if (count == 0 && c == '0') {
                if (afterPoint) --exp10;
                continue;
            }
            if (!afterPoint) ++exp10;
            if (count < static_cast<int>(sizeof digits)) digits[count++] = c;
            else sticky |= c != '0';
        } else if (c == separator && !afterPoint) {
            afterPoint = true;
        } else {
            break;
        }
    }
    if (seen == 0) return false;
    if (i < s.size()) {
        if (s[i] != 'e' && s[i] != 'E') return false;
        ++i;
        bool expNeg = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) expNeg = s[i++] == '-';
        if (i >= s.size()) return false;
        long e = 0;
        for (; i < s.size(); ++i) {
            if (!IsDigit(s[i])) return false;
            if (e < 100000) e = e * 10 + (s[i] - '0');
        }
        exp10 += expNeg ? -e : e;
    }
    if (count == 0) {
        out = 0;
        return true;
    }
    const long k = exp10 + 4;  // digits of the scaled integer part
    if (k > 19) return false;
    UInt64 mag = 0;
    for (long j = 0; j < k; ++j) mag = mag * 10 + (j < count ? static_cast<UInt64>(digits[j] - '0') : 0);
    if (k >= 0 && k < count) {
        const int first = digits[k] - '0';
        bool rest = sticky;
        for (int j = static_cast<int>(k) + 1; j < count && !rest; ++j) rest = digits[j] != '0';
        if (first > 5 || (first == 5 && (rest || (mag & 1)))) ++mag;
    }
    if (mag > (neg ? NegativeLimit : static_cast<UInt64>(INT64_MAX))) return false;
    out = neg ? static_cast<Int64>(0 - mag) : static_cast<Int64>(mag);
    return true;
}

bool DoubleToScaled(double v, Int64& out) noexcept {
    if (!std::isfinite(v)) return false;
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return ParseScaled(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)), '.', out);
}

// num / den rounded with ties to even; false when the result leaves 64 bits.
bool RoundedQuotient(Int128 num, Int128 den, Int64& out) noexcept {
    if (den < 0) {
        num = -num;
        den = -den;
    }
    Int128 q = num / den;
    const Int128 r = num % den;
    const Int128 twice = (r < 0 ? -r : r) * 2;
    if (twice > den || (twice == den && (q & 1))) q += num < 0 ? -1 : 1;
    if (q > INT64_MAX || q < INT64_MIN) return false;
    out = static_cast<Int64>(q);
    return true;
}

// ---- BCD helpers ------------------------------------------------------------------

struct TUnpacked {
    bool Negative = false;
    int Places = 0;
    int Count = 0;      // = Precision
    char Digits[64];    // every used nibble as an ASCII digit
    int IntDigits() const noexcept { return Count - Places; }
};

int Nibble(const TBcd& b, int k) noexcept {
    const Byte byte = b.Fraction[k / 2];
    return (k % 2 == 0) ? byte >> 4 : byte & 0x0F;
}

bool Unpack(const TBcd& b, TUnpacked& u) noexcept {
    if (!IsValidBcd(b)) return false;
    u.Count = b.Precision;
    u.Places = b.SignSpecialPlaces & 0x3F;
    bool nonZero = false;
    for (int k = 0; k < u.Count; ++k) {
        u.Digits[k] = static_cast<char>('0' + Nibble(b, k));
        nonZero |= u.Digits[k] != '0';
    }
    u.Negative = (b.SignSpecialPlaces & 0x80) != 0 && nonZero;
    return true;
}

[[noreturn]] void MalformedBcd(const TBcd& b) {
    throw EConvertError("Invalid BCD record (precision " + IntToStr(b.Precision) + ", places " +
                        IntToStr(b.SignSpecialPlaces & 0x3F) + ")");
}

TUnpacked UnpackOrThrow(const TBcd& b) {
    TUnpacked u;
    if (!Unpack(b, u)) MalformedBcd(b);
    return u;
}

// Builds a record from integer digits (no leading zeros) and fraction digits.
bool BuildBcd(bool negative, std::string_view intDigits, std::string_view fracDigits, TBcd& out) noexcept {
    const std::size_t precision = intDigits.size() + fracDigits.size();
    if (precision > MaxFMTBcdFractionSize || fracDigits.size() > 63) return false;
    TBcd b;
    b.Precision = static_cast<Byte>(precision == 0 ? 1 : precision);
    bool nonZero = false;
    int k = 0;
    for (std::string_view part : {intDigits, fracDigits}) {
        for (char c : part) {
            const int d = c - '0';
            nonZero |= d != 0;
            b.Fraction[k / 2] |= static_cast<Byte>(k % 2 == 0 ? d << 4 : d);
            ++k;
        }
    }
    b.SignSpecialPlaces = static_cast<Byte>(fracDigits.size() | (negative && nonZero ? 0x80 : 0));
    out = b;
    return true;
}

bool ParseBcd(std::string_view s, TBcd& out) noexcept {
    const char sep = FormatSettings().DecimalSeparator;
    s = TrimView(s);
    std::size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    const std::size_t intStart = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    std::string_view intPart = s.substr(intStart, i - intStart);
    std::string_view fracPart;
    if (i < s.size() && s[i] == sep) {
        const std::size_t fracStart = ++i;
        while (i < s.size() && IsDigit(s[i])) ++i;
        fracPart = s.substr(fracStart, i - fracStart);
    }
    if (i != s.size() || (intPart.empty() && fracPart.empty())) return false;
    while (!intPart.empty() && intPart[0] == '0') intPart.remove_prefix(1);
    return BuildBcd(neg, intPart, fracPart, out);
}

// Significant integer digits and the fraction of an unpacked value.
std::string_view IntPart(const TUnpacked& u) noexcept {
    std::string_view v(u.Digits, static_cast<std::size_t>(u.IntDigits()));
    while (!v.empty() && v[0] == '0') v.remove_prefix(1);
    return v;
}

std::string_view FracPart(const TUnpacked& u) noexcept {
    return std::string_view(u.Digits + u.IntDigits(), static_cast<std::size_t>(u.Places));
}

}  // namespace

// ---- Currency -----------------------------------------------------------------------

Currency::Currency(int v) : Value(static_cast<Int64>(v) * Scale) {}

Currency::Currency(Int64 v) {
    if (__builtin_mul_overflow(v, Scale, &Value)) Overflow(IntToStr(v));
}

Currency::Currency(double v) {
    if (!DoubleToScaled(v, Value)) Overflow(FloatToStr(v));
}

Int64 Currency::Round() const noexcept {
    Int64 q = Value / Scale;
    const Int64 r = Value % Scale;
    const Int64 ar = r < 0 ? -r : r;
    if (ar > Scale / 2 || (ar == Scale / 2 && (q & 1))) q += Value < 0 ? -1 : 1;
    return q;
}

Currency Currency::operator+(Currency o) const {
    Currency c;
    if (__builtin_add_overflow(Value, o.Value, &c.Value)) OperationOverflow(*this, "+", o);
    return c;
}

Currency Currency::operator-(Currency o) const {
    Currency c;
    if (__builtin_sub_overflow(Value, o.Value, &c.Value)) OperationOverflow(*this, "-", o);
    return c;
}

Currency Currency::operator*(Currency o) const {
    Currency c;
    if (!RoundedQuotient(static_cast<Int128>(Value) * o.Value, Scale, c.Value)) OperationOverflow(*this, "*", o);
    return c;
}

Currency Currency::operator/(Currency o) const {
    if (o.Value == 0) throw EZeroDivide("Currency division by zero: " + CurrToStr(*this) + " / 0");
    Currency c;
    if (!RoundedQuotient(static_cast<Int128>(Value) * Scale, o.Value, c.Value)) OperationOverflow(*this, "/", o);
    return c;
}

Currency Currency::operator-() const {
    if (Value == INT64_MIN) Overflow("-(" + CurrToStr(*this) + ")");
    return FromScaled(-Value);
}

String CurrToStr(Currency c) {
    const Detail::TDecimalText t = Detail::ScaledDigits(c.Value, 4);
    String out;
    if (t.Count == 0) return "0";
    if (t.Negative) out += '-';
    if (t.Exponent <= 0) {
        out += '0';
    } else {
        for (int k = 0; k < t.Exponent; ++k) out += k < t.Count ? t.Digits[k] : '0';
    }
    if (t.Count > t.Exponent) {
        out += FormatSettings().DecimalSeparator;
        for (int k = t.Exponent; k < 0; ++k) out += '0';
        for (int k = t.Exponent > 0 ? t.Exponent : 0; k < t.Count; ++k) out += t.Digits[k];
    }
    return out;
}

String CurrToStrF(Currency c, TFloatFormat format, int digits) {
    String out;
    Detail::AppendFloatText(out, Detail::ScaledDigits(c.Value, 4), format, 19, digits, FormatSettings());
    return out;
}

bool TryStrToCurr(std::string_view s, Currency& c) noexcept {
    Int64 v;
    if (!ParseScaled(s, FormatSettings().DecimalSeparator, v)) return false;
    c = Currency::FromScaled(v);
    return true;
}

Currency StrToCurr(std::string_view s) {
    Currency c;
    if (!TryStrToCurr(s, c)) throw EConvertError("'" + String(s) + "' is not a valid floating point value");
    return c;
}

bool TryFloatToCurr(double v, Currency& c) noexcept {
    Int64 scaled;
    if (!DoubleToScaled(v, scaled)) return false;
    c = Currency::FromScaled(scaled);
    return true;
}

Currency FloatToCurr(double v) {
    Currency c;
    if (!TryFloatToCurr(v, c)) throw EConvertError("'" + FloatToStr(v) + "' is not a valid currency value");
    return c;
}

// ---- TBcd -------------------------------------------------------------------------------

bool IsValidBcd(const TBcd& bcd) noexcept {
    if (bcd.Precision > MaxFMTBcdFractionSize) return false;
    if ((bcd.SignSpecialPlaces & 0x3F) > bcd.Precision) return false;
    for (int k = 0; k < bcd.Precision; ++k)
        if (Nibble(bcd, k) > 9) return false;
    return true;
}

bool CurrToBCD(Currency c, TBcd& bcd, int precision, int decimals) {
    if (precision < 1 || precision > MaxFMTBcdFractionSize || decimals < 0 || decimals > 4 || decimals > precision)
        return false;
    const bool neg = c.Value < 0;
    UInt64 mag = neg ? 0 - static_cast<UInt64>(c.Value) : static_cast<UInt64>(c.Value);
    UInt64 divisor = 1;
    for (int k = decimals; k < 4; ++k) divisor *= 10;
    const UInt64 rest = mag % divisor;
    mag /= divisor;
    if (rest * 2 >= divisor && divisor > 1) ++mag;
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, mag);
    const int len = static_cast<int>(r.ptr - buf);
    // Zero needs no digits; any other value must fit in the precision.
    const int used = mag == 0 ? 0 : len;
    if (used > precision) return false;
    TBcd b;
    b.Precision = static_cast<Byte>(precision);
    b.SignSpecialPlaces = static_cast<Byte>(decimals | (neg && mag != 0 ? 0x80 : 0));
    for (int j = 0; j < used; ++j) {
        const int k = precision - used + j;
        const int d = buf[j] - '0';
        b.Fraction[k / 2] |= static_cast<Byte>(k % 2 == 0 ? d << 4 : d);
    }
    bcd = b;
    return true;
}

bool BCDToCurr(const TBcd& bcd, Currency& c) {
    TUnpacked u;
    if (!Unpack(bcd, u)) return false;
    UInt128 mag = 0;
    for (char d : IntPart(u)) {
        mag = mag * 10 + static_cast<unsigned>(d - '0');
        if (mag > NegativeLimit) return false;
    }
    const std::string_view frac = FracPart(u);
    for (int k = 0; k < 4; ++k) mag = mag * 10 + (k < static_cast<int>(frac.size()) ? frac[k] - '0' : 0);
    if (frac.size() > 4 && frac[4] >= '5') ++mag;
    if (mag > (u.Negative ? NegativeLimit : static_cast<UInt64>(INT64_MAX))) return false;
    c = Currency::FromScaled(u.Negative ? static_cast<Int64>(0 - static_cast<UInt64>(mag)) : static_cast<Int64>(mag));
    return true;
}

String BcdToStr(const TBcd& bcd) {
    const TUnpacked u = UnpackOrThrow(bcd);
    std::string_view frac = FracPart(u);
    while (!frac.empty() && frac.back() == '0') frac.remove_suffix(1);
    const std::string_view intPart = IntPart(u);
    String out;
    out.reserve(intPart.size() + frac.size() + 3);
    if (u.Negative) out += '-';
    if (intPart.empty()) out += '0';
    else out += intPart;
    if (!frac.empty()) {
        out += FormatSettings().DecimalSeparator;
        out += frac;
    }
    return out;
}

bool TryStrToBcd(std::string_view s, TBcd& bcd) noexcept { return ParseBcd(s, bcd); }

TBcd StrToBcd(std::string_view s) {
    TBcd b;
    if (!ParseBcd(s, b)) throw EConvertError("'" + String(s) + "' is not a valid BCD value");
    return b;
}

double BcdToDouble(const TBcd& bcd) {
    const TUnpacked u = UnpackOrThrow(bcd);
    char buf[72];
    int n = 0;
    for (int k = 0; k < u.Count; ++k) {
        if (k == u.IntDigits()) buf[n++] = '.';
        buf[n++] = u.Digits[k];
    }
    if (n == 0 || buf[0] == '.') {
        std::memmove(buf + 1, buf, static_cast<std::size_t>(n));
        buf[0] = '0';
        ++n;
    }
    double v = 0;
    std::from_chars(buf, buf + n, v);  // at most 64 digits: always in range
    return u.Negative ? -v : v;
}

TBcd DoubleToBcd(double v) {
    if (!std::isfinite(v)) throw EConvertError("'" + FloatToStr(v) + "' is not a valid BCD value");
    Detail::TDecimalText t = Detail::DoubleDigits(v, 15);
    if (t.Exponent > MaxFMTBcdFractionSize) throw EOverflow("'" + FloatToStr(v) + "' is too large for a BCD value");
    if (t.Count - t.Exponent > 63) Detail::RoundDigits(t, t.Exponent + 63);  // tiny values lose their last places
    String intDigits, fracDigits;
    for (int k = 0; k < t.Exponent; ++k) intDigits += k < t.Count ? t.Digits[k] : '0';
    for (int k = t.Exponent; k < t.Count; ++k) fracDigits += k < 0 ? '0' : t.Digits[k];
    TBcd b;
    BuildBcd(t.Negative, intDigits, fracDigits, b);
    return b;
}

int BcdCompare(const TBcd& a, const TBcd& b) {
    const TUnpacked ua = UnpackOrThrow(a);
    const TUnpacked ub = UnpackOrThrow(b);
    if (ua.Negative != ub.Negative) return ua.Negative ? -1 : 1;
    const int sign = ua.Negative ? -1 : 1;
    const std::string_view ia = IntPart(ua), ib = IntPart(ub);
    if (ia.size() != ib.size()) return ia.size() < ib.size() ? -sign : sign;
    if (const int r = ia.compare(ib)) return r < 0 ? -sign : sign;
    const std::string_view fa = FracPart(ua), fb = FracPart(ub);
    const std::size_t n = fa.size() > fb.size() ? fa.size() : fb.size();
    for (std::size_t k = 0; k < n; ++k) {
        const char da = k < fa.size() ? fa[k] : '0';
        const char db = k < fb.size() ? fb[k] : '0';
        if (da != db) return da < db ? -sign : sign;
    }
    return 0;
}

int BcdPrecision(const TBcd& bcd) noexcept {
    TUnpacked u;
    if (!Unpack(bcd, u)) return 0;
    const int p = static_cast<int>(IntPart(u).size()) + u.Places;
    return p > 0 ? p : 1;
}

int BcdScale(const TBcd& bcd) noexcept { return bcd.SignSpecialPlaces & 0x3F; }

bool IsBcdNegative(const TBcd& bcd) noexcept {
    TUnpacked u;
    if (!Unpack(bcd, u)) return (bcd.SignSpecialPlaces & 0x80) != 0;
    return u.Negative;
}

}  // namespace Rtl
