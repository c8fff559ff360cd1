// Currency (64-bit fixed point, four decimals) and TBcd (the 34-byte packed
// decimal record).
#pragma once

#include <compare>

#include "Platform/rtl/SysUtils.h"

namespace Rtl {

// Fixed point with four decimals, stored as value * 10000. A floating value is
// rounded to the nearest ten-thousandth with ties to even (the framework's FPU
// rounding); a value or result outside the 64-bit range raises EOverflow.
struct Currency {
    Int64 Value = 0;  // scaled by 10000

    constexpr Currency() noexcept = default;
    static constexpr Currency FromScaled(Int64 scaled) noexcept { Currency c; c.Value = scaled; return c; }
    Currency(int v);
    Currency(Int64 v);    // EOverflow when |v| * 10000 does not fit
    explicit Currency(double v);  // rounded to four decimals; EOverflow when out of range

    double ToDouble() const noexcept { return static_cast<double>(Value) / 10000.0; }
    Int64 Trunc() const noexcept { return Value / 10000; }
    Int64 Round() const noexcept;  // to an integer, ties to even

    Currency operator+(Currency o) const;  // EOverflow on overflow
    Currency operator-(Currency o) const;
    Currency operator*(Currency o) const;
    Currency operator/(Currency o) const;  // EZeroDivide
    Currency operator-() const;
    Currency& operator+=(Currency o) { return *this = *this + o; }
    Currency& operator-=(Currency o) { return *this = *this - o; }
    bool operator==(const Currency&) const = default;
    auto operator<=>(const Currency&) const = default;

    static constexpr Int64 Scale = 10000;
    static Currency Max() noexcept { return FromScaled(INT64_MAX); }
    static Currency Min() noexcept { return FromScaled(INT64_MIN); }
};

String CurrToStr(Currency c);  // shortest form: "1.5", "-0.0001", "12"
String CurrToStrF(Currency c, TFloatFormat format, int digits);
Currency StrToCurr(std::string_view s);  // EConvertError "'%s' is not a valid floating point value"
bool TryStrToCurr(std::string_view s, Currency& c) noexcept;
Currency FloatToCurr(double v);          // EConvertError when out of range
bool TryFloatToCurr(double v, Currency& c) noexcept;

// ---- TBcd -----------------------------------------------------------------------
// Precision: number of digits (1..64); SignSpecialPlaces: bit 7 sign, bit 6
// special (blank), bits 0..5 the number of decimal places; Fraction: packed
// digits, two per byte, high nibble first, the first Precision nibbles used.
struct TBcd {
    Byte Precision = 0;
    Byte SignSpecialPlaces = 0;
    Byte Fraction[32] = {};
};
static_assert(sizeof(TBcd) == 34, "TBcd is the 34-byte record");

constexpr int MaxFMTBcdFractionSize = 64;

// Converts c into bcd with the given precision (1..64) and decimals (0..4):
// the digits are right-aligned in the first precision nibbles, the rest of the
// record is zero, and fewer than four decimals round half away from zero.
// Returns false (bcd untouched) when the value does not fit or an argument is
// out of range.
bool CurrToBCD(Currency c, TBcd& bcd, int precision = 32, int decimals = 4);
// Returns false when the BCD value is out of the currency range or malformed;
// more than four decimals are rounded.
bool BCDToCurr(const TBcd& bcd, Currency& c);
String BcdToStr(const TBcd& bcd);          // "-123.45"; EConvertError for a malformed record
TBcd StrToBcd(std::string_view s);         // EConvertError "'%s' is not a valid BCD value"
bool TryStrToBcd(std::string_view s, TBcd& bcd) noexcept;
double BcdToDouble(const TBcd& bcd);
TBcd DoubleToBcd(double v);
int BcdCompare(const TBcd& a, const TBcd& b);  // -1, 0, 1 by numeric value
int BcdPrecision(const TBcd& bcd) noexcept;
int BcdScale(const TBcd& bcd) noexcept;
bool IsBcdNegative(const TBcd& bcd) noexcept;
// Checks a record read from outside: precision within 0..64, places <= precision,
// every used nibble a decimal digit.
bool IsValidBcd(const TBcd& bcd) noexcept;

}  // namespace Rtl
