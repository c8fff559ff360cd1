// Decimal digit strings behind the text forms of floating, currency and BCD
// values. Internal to the runtime library: other layers use FloatToStr,
// FloatToStrF, CurrToStrF and Format.
#pragma once

#include "Platform/rtl/SysUtils.h"

namespace Rtl::Detail {

// A number as sign, significant digits and decimal exponent:
// value = 0.D1 D2 ... Dn x 10^Exponent. Zero has no digits.
struct TDecimalText {
    enum Kind : Byte { Finite, Infinite, NotANumber };
    char Digits[40];  // ASCII digits, no leading zeros, no trailing zeros
    int Count = 0;
    int Exponent = 0;
    bool Negative = false;
    Kind Special = Finite;
};

// The digits of v correctly rounded to sig significant digits (1..17).
TDecimalText DoubleDigits(double v, int sig) noexcept;
// The exact digits of scaled / 10^scale (currency: scale 4).
TDecimalText ScaledDigits(Int64 scaled, int scale) noexcept;
// Keeps the first keep digits, rounding half away from zero on the digit string.
void RoundDigits(TDecimalText& t, int keep) noexcept;

// Appends t in the framework's float formats. For ffGeneral and ffExponent,
// precision is the number of significant digits and digits the minimum number
// of exponent digits; for ffFixed, ffNumber and ffCurrency digits is the number
// of decimals, and a value with more than precision integer digits falls back
// to the general format.
void AppendFloatText(String& out, TDecimalText t, TFloatFormat format, int precision, int digits,
                     const TFormatSettings& fs);

}  // namespace Rtl::Detail
