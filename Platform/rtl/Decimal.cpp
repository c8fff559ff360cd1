// TDecimal: COM's DECIMAL, a 96-bit unsigned integer with a power-of-ten scale
// (0..28) and a sign. The arithmetic here is what conversions need: text, double,
// currency and integers in and out, and comparison. Rounding is to nearest with
// ties to even, as COM rounds decimals.
#include <charconv>
#include <cmath>

#include "Platform/rtl/VariantInternal.h"

namespace Rtl {

namespace {

using U128 = unsigned __int128;
constexpr U128 Max96 = (U128(1) << 96) - 1;
constexpr int MaxScale = 28;
constexpr int MaxDigits = 29;     // 2^96 - 1 has 29 decimal digits
constexpr int KeptDigits = 40;    // significant digits read from text before rounding

U128 Pow10(int n) noexcept {  // n <= 38
    U128 r = 1;
    while (n-- > 0) r *= 10;
    return r;
}

U128 Mantissa(const TDecimal& d) noexcept { return (U128(d.Hi32) << 64) | d.Lo64; }

TDecimal Make(U128 m, int scale, bool negative) noexcept {
    TDecimal d;
    d.Scale = static_cast<Byte>(scale);
    d.Sign = (negative && m != 0) ? 0x80 : 0;
    d.Hi32 = static_cast<LongWord>(m >> 64);
    d.Lo64 = static_cast<UInt64>(m);
    return d;
}

// m / 10^k rounded to nearest, ties to even.
U128 DivRound(U128 m, int k) noexcept {
    if (k <= 0) return m;
    if (k > 38) return 0;  // m < 2^128 < 10^39 / 2
    const U128 p = Pow10(k);
    U128 q = m / p;
    const U128 r = m % p;
    const U128 half = p / 2;
    if (r > half || (r == half && (q & 1))) ++q;
    return q;
}

// Writes the decimal digits of m into buf (at least 40 chars); returns the count.
int Digits(U128 m, char* buf) noexcept {
    char tmp[40];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + static_cast<int>(m % 10));
        m /= 10;
    } while (m != 0);
    for (int i = 0; i < n; ++i) buf[i] = tmp[n - 1 - i];
    return n;
}

// A number read from text: value = digits * 10^Exp10, with Sticky set when
// non-zero digits beyond the kept ones were dropped.
struct TParsed {
    char D[KeptDigits];
    int N = 0;
    bool Sticky = false;
    long Exp10 = 0;
    bool Negative = false;
};

bool IsBlank(char c) noexcept { return static_cast<unsigned char>(c) <= ' '; }

bool Parse(std::string_view s, char sep, TParsed& p) noexcept {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    std::size_t i = b;
    if (i < e && (s[i] == '+' || s[i] == '-')) p.Negative = s[i++] == '-';
    bool any = false;
    auto digit = [&](char c, bool fraction) {
        any = true;
        if (p.N == 0 && c == '0') {
            if (fraction) --p.Exp10;
        } else if (p.N < KeptDigits) {
            p.D[p.N++] = c;
            if (fraction) --p.Exp10;
        } else {
            if (!fraction) ++p.Exp10;
            if (c != '0') p.Sticky = true;
        }
    };
    while (i < e && s[i] >= '0' && s[i] <= '9') digit(s[i++], false);
    if (i < e && s[i] == sep) {
        ++i;
        while (i < e && s[i] >= '0' && s[i] <= '9') digit(s[i++], true);
    }
    if (!any) return false;
    if (i < e && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool neg = false;
        if (i < e && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
        if (i == e || s[i] < '0' || s[i] > '9') return false;
        long x = 0;
        while (i < e && s[i] >= '0' && s[i] <= '9') {
            if (x < 100000) x = x * 10 + (s[i] - '0');
            ++i;
        }
        p.Exp10 += neg ? -x : x;
    }
    return i == e;
}

// Builds the decimal nearest to a parsed number; false when it does not fit.
bool Build(const TParsed& p, TDecimal& out) noexcept {
    if (p.N == 0) {
        const long scale = p.Exp10 < 0 ? std::min<long>(-p.Exp10, MaxScale) : 0;
        out = Make(0, static_cast<int>(scale), false);
        return true;
    }
    char d[KeptDigits + MaxDigits];
    int n = p.N;
    std::copy(p.D, p.D + n, d);
    long exp10 = p.Exp10;
    if (exp10 > 0) {
        if (n + exp10 > MaxDigits) return false;
        for (long k = 0; k < exp10; ++k) d[n++] = '0';
        exp10 = 0;
    }
    const long scale = -exp10;
    long drop = std::max<long>(0, scale - MaxScale);
    drop = std::max<long>(drop, n - MaxDigits);
    for (;; ++drop) {
        if (drop > scale) return false;  // the integer part alone is too large
        U128 m = 0;
        const long kept = n - drop;
        for (long k = 0; k < kept; ++k) m = m * 10 + static_cast<unsigned>(d[k] - '0');
        if (drop > 0 && kept >= 0) {
            const int first = d[kept] - '0';
            bool rest = p.Sticky;
            for (long k = kept + 1; k < n && !rest; ++k) rest = d[k] != '0';
            if (first > 5 || (first == 5 && (rest || (m & 1)))) ++m;
        }
        if (m <= Max96) {
            out = Make(m, static_cast<int>(scale - drop), p.Negative);
            return true;
        }
    }
}

}  // namespace

// ---- Helpers shared with the variant sources --------------------------------------

bool DecimalIsZero(const TDecimal& d) noexcept { return d.Hi32 == 0 && d.Lo64 == 0; }

bool DecimalIsNegative(const TDecimal& d) noexcept { return (d.Sign & 0x80) != 0 && !DecimalIsZero(d); }

int DecimalCompare(const TDecimal& a, const TDecimal& b) noexcept {
    const bool na = DecimalIsNegative(a), nb = DecimalIsNegative(b);
    if (na != nb) return na ? -1 : 1;
    const U128 ma = Mantissa(a), mb = Mantissa(b);
    const int sa = a.Scale, sb = b.Scale;
    int mag;
    if (std::max(sa, sb) > 38) {
        const double x = std::fabs(DecimalToDouble(a)), y = std::fabs(DecimalToDouble(b));
        mag = x < y ? -1 : x > y ? 1 : 0;
    } else {
        // Integer parts first (both below 2^96), then the fractions at a common scale.
        const U128 pa = Pow10(sa), pb = Pow10(sb);
        const U128 ia = ma / pa, ib = mb / pb;
        if (ia != ib) {
            mag = ia < ib ? -1 : 1;
        } else {
            const int s = std::max(sa, sb);
            const U128 fa = (ma % pa) * Pow10(s - sa), fb = (mb % pb) * Pow10(s - sb);
            mag = fa < fb ? -1 : fa > fb ? 1 : 0;
        }
    }
    return na ? -mag : mag;
}

bool DecimalToInt64(const TDecimal& d, Int64& v) noexcept {
    const U128 m = DivRound(Mantissa(d), d.Scale);
    if (DecimalIsNegative(d)) {
        if (m > (U128(1) << 63)) return false;
        v = static_cast<Int64>(-static_cast<__int128>(m));
    } else {
        if (m > static_cast<U128>(INT64_MAX)) return false;
        v = static_cast<Int64>(m);
    }
    return true;
}

bool DecimalToUInt64(const TDecimal& d, UInt64& v) noexcept {
    const U128 m = DivRound(Mantissa(d), d.Scale);
    if (m == 0) { v = 0; return true; }
    if (DecimalIsNegative(d) || m > UINT64_MAX) return false;
    v = static_cast<UInt64>(m);
    return true;
}

TDecimal UInt64ToDecimal(UInt64 v) noexcept { return Make(v, 0, false); }

bool TryStrToDecimal(std::string_view s, TDecimal& d, bool& outOfRange) noexcept {
    outOfRange = false;
    TParsed p;
    if (!Parse(s, FormatSettings().DecimalSeparator, p)) return false;
    if (!Build(p, d)) {
        outOfRange = true;
        return false;
    }
    return true;
}

// ---- Public conversions ----------------------------------------------------------------

String DecimalToStr(const TDecimal& d) {
    char buf[40];
    const int n = Digits(Mantissa(d), buf);
    String r;
    if (DecimalIsNegative(d)) r += '-';
    const int scale = d.Scale;
    if (scale == 0) {
        r.append(buf, n);
        return r;
    }
    if (n <= scale) {
        r += '0';
        r += FormatSettings().DecimalSeparator;
        r.append(static_cast<std::size_t>(scale - n), '0');
        r.append(buf, n);
    } else {
        r.append(buf, n - scale);
        r += FormatSettings().DecimalSeparator;
        r.append(buf + (n - scale), scale);
    }
    return r;
}

TDecimal StrToDecimal(std::string_view s) {
    TDecimal d;
    bool outOfRange;
    if (TryStrToDecimal(s, d, outOfRange)) return d;
    if (outOfRange) throw EConvertError(Format("'%s' is out of the decimal range", {s}));
    throw EConvertError(Format("'%s' is not a valid decimal value", {s}));
}

double DecimalToDouble(const TDecimal& d) noexcept {
    // "<digits>e-<scale>" read back with correct rounding.
    char buf[64];
    int n = Digits(Mantissa(d), buf);
    buf[n++] = 'e';
    buf[n++] = '-';
    n += Digits(d.Scale, buf + n);
    double v = 0;
    std::from_chars(buf, buf + n, v);
    return DecimalIsNegative(d) ? -v : v;
}

TDecimal DoubleToDecimal(double v) {
    if (!std::isfinite(v)) throw EOverflow(Format("%s is out of the decimal range", {FloatToStr(v)}));
    if (v == 0) return TDecimal{};
    // Fifteen significant digits, as COM converts doubles to decimals.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
    TParsed p;
    Parse(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)), '.', p);
    while (p.N > 1 && p.D[p.N - 1] == '0') {
        --p.N;
        ++p.Exp10;
    }
    TDecimal d;
    if (!Build(p, d)) throw EOverflow(Format("%s is out of the decimal range", {FloatToStr(v)}));
    return d;
}

bool DecimalToCurr(const TDecimal& d, Currency& c) noexcept {
    if (d.Scale > MaxScale) return false;
    U128 m = Mantissa(d);
    m = d.Scale <= 4 ? m * Pow10(4 - d.Scale) : DivRound(m, d.Scale - 4);
    if (DecimalIsNegative(d)) {
        if (m > (U128(1) << 63)) return false;
        c = Currency::FromScaled(static_cast<Int64>(-static_cast<__int128>(m)));
    } else {
        if (m > static_cast<U128>(INT64_MAX)) return false;
        c = Currency::FromScaled(static_cast<Int64>(m));
    }
    return true;
}

TDecimal CurrToDecimal(Currency c) noexcept {
    const bool neg = c.Value < 0;
    const U128 m = neg ? static_cast<U128>(-static_cast<__int128>(c.Value)) : static_cast<U128>(c.Value);
    return Make(m, 4, neg);
}

TDecimal Int64ToDecimal(Int64 v) noexcept {
    const bool neg = v < 0;
    const U128 m = neg ? static_cast<U128>(-static_cast<__int128>(v)) : static_cast<U128>(v);
    return Make(m, 0, neg);
}

}  // namespace Rtl
