// Arbitrary text through the runtime library's text conversions: numbers,
// dates, currency, BCD (as text and as a raw 34-byte record) and Format with
// the input as the format string. Nothing may crash or read out of bounds, and
// whatever parses must print and parse back to the same value.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "Platform/rtl/Currency.h"
#include "Platform/rtl/DateTime.h"

using namespace Rtl;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// Widths like "%900000d" are legal but only make the run slow; keep them small.
bool HasLongNumber(std::string_view s) {
    int run = 0;
    for (char c : s) {
        run = (c >= '0' && c <= '9') ? run + 1 : 0;
        if (run >= 5) return true;
    }
    return false;
}

constexpr const char* IsoPattern = "yyyy-mm-dd hh':'nn':'ss.zzz";

void Numbers(std::string_view text) {
    double d;
    if (TryStrToFloat(text, d) && (d == 0 || std::isnormal(d))) {
        const String s = FloatToStr(d);
        double back;
        Check(TryStrToFloat(s, back));
        Check(FloatToStr(back) == s);
        FloatToStrF(d, ffCurrency, 15, 2);
        FloatToStrF(d, ffExponent, 18, 4);
    }
    Int64 i;
    if (TryStrToInt64(text, i)) Check(StrToInt64(IntToStr(i)) == i);
    int n;
    if (TryStrToInt(text, n)) Check(StrToInt(IntToStr(n)) == n);
    bool b;
    TryStrToBool(text, b);
}

void Dates(std::string_view text) {
    TDateTime dt;
    if (TryStrToDateTime(text, dt)) {
        const String s = FormatDateTime(IsoPattern, dt);
        TDateTime back;
        Check(TryStrToDateTime(s, back));
        Check(FormatDateTime(IsoPattern, back) == s);
        DateTimeToStr(dt);
        const TTimeStamp ts = DateTimeToTimeStamp(dt);
        Check(DateTimeToTimeStamp(TimeStampToDateTime(ts)) == ts);
    }
    TryStrToDate(text, dt);
    TryStrToTime(text, dt);
    try {
        FormatDateTime(text, TDateTime(45331.5));
    } catch (const EConvertError&) {
        std::abort();  // a valid date never fails to format
    }
}

void Money(std::string_view text) {
    Currency c;
    if (TryStrToCurr(text, c)) {
        Check(StrToCurr(CurrToStr(c)) == c);
        CurrToStrF(c, ffCurrency, 2);
        TBcd bcd;
        Currency back;
        Check(CurrToBCD(c, bcd) && BCDToCurr(bcd, back) && back == c);
    }
    TBcd bcd;
    if (TryStrToBcd(text, bcd)) {
        Check(IsValidBcd(bcd));
        Check(BcdCompare(StrToBcd(BcdToStr(bcd)), bcd) == 0);
        BCDToCurr(bcd, c);
        BcdToDouble(bcd);
    }
}

// The input's first bytes as a record read from a field buffer or a file.
void RawBcd(const uint8_t* data, size_t size) {
    if (size < sizeof(TBcd)) return;
    TBcd raw;
    std::memcpy(&raw, data, sizeof raw);
    Currency c;
    if (!IsValidBcd(raw)) {
        Check(!BCDToCurr(raw, c));
        Check(BcdPrecision(raw) == 0);
        return;
    }
    const String s = BcdToStr(raw);
    Check(BcdCompare(StrToBcd(s), raw) == 0);
    BCDToCurr(raw, c);
    BcdToDouble(raw);
    BcdCompare(raw, raw);
}

void Formatting(std::string_view text) {
    const WideString wide = u"wide";
    const TVarRec args[] = {42, "text", 3.5, -7LL, 'c', wide, static_cast<const void*>(nullptr), 2, -1e300, 0u};
    if (!HasLongNumber(text)) {
        try {
            Format(text, args, sizeof args / sizeof args[0]);
        } catch (const EConvertError&) {
        }
    }
    AnsiUpperCase(text);
    AnsiLowerCase(text);
    AnsiCompareStr(text, "Grüße");
    AnsiDequotedStr(text, '\'');
    StringReplace(text, "e", "ÉÉ", rfReplaceAll | rfIgnoreCase);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Numbers(text);
    Dates(text);
    Money(text);
    RawBcd(data, size);
    Formatting(text);
    return 0;
}
