// The project's main job: a tour of what the library does today.
#include <cstdio>

#include "Platform/rtl/Classes.h"
#include "Platform/rtl/Currency.h"
#include "Platform/rtl/DateTime.h"
#include "Platform/rtl/Variant.h"

using namespace Rtl;

namespace {
void Line(const String& s) { std::printf("%s\n", s.c_str()); }
}  // namespace

int main() {
    Line("Velora runtime library");

    // Text: UTF-8 strings, UTF-16 for COM, the framework's Format.
    const String text = "Grüße, Ελλάδα";
    const WideString wide = Utf8ToWide(text);
    Line(Format("  text     %-16s %d bytes, %d UTF-16 units, round trip %s",
                {text, int(text.size()), int(wide.size()), WideToUtf8(wide) == text ? "exact" : "BROKEN"}));

    // Dates: days since 1899-12-30, ISO text by default.
    const TDateTime moon = ComposeDateTime(EncodeDate(1969, 7, 20), EncodeTime(20, 17, 40, 0));
    Line(Format("  date     %s is day %.6f; 1850-01-01 is day %g", {DateTimeToStr(moon), double(moon),
                                                                     double(EncodeDate(1850, 1, 1))}));

    // Money: Currency is exact fixed point; TBcd the packed decimal record.
    const Currency price = StrToCurr("19.99");
    const Currency total = price * Currency(3);
    TBcd bcd;
    CurrToBCD(total, bcd, 10, 2);
    Line(Format("  money    3 x %s = %s, as BCD %s (precision %d)",
                {CurrToStr(price), CurrToStr(total), BcdToStr(bcd), BcdPrecision(bcd)}));

    // Variants: one 16-byte value type with the framework's conversions.
    const Variant values[] = {Variant(42), Variant("3.25"), Variant(moon), Variant(total), Variant::Null()};
    for (const Variant& v : values)
        Line(Format("  variant  %-10s -> '%s'", {VarTypeAsText(v.VType()), VarToStr(v)}));
    try {
        (void)Variant("abc").ToInteger();
    } catch (const Exception& e) {
        Line("  error    " + String(e.ClassName()) + ": " + e.Message());
    }

    // Lists.
    TStringList list;
    list.SetCommaText("pear,apple,\"kiwi fruit\",fig");
    list.SetSorted(true);
    Line("  sorted   " + list.GetCommaText());
    return 0;
}
