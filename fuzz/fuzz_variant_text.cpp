// Text read from outside into variants, decimals and string lists: every
// conversion either succeeds or raises the variant error, and the text forms
// the lists write read back to the same items.
#include <cstdint>
#include <cstdlib>

#include "Platform/rtl/Classes.h"
#include "Platform/rtl/Variant.h"

using namespace Rtl;

namespace {

const TVarType Kinds[] = {varEmpty,  varNull,    varSmallint, varInteger, varSingle, varDouble,
                          varCurrency, varDate,  varOleStr,   varBoolean, varDecimal, varShortInt,
                          varByte,   varWord,    varLongWord, varInt64,   varUInt64, varString};

void Check(bool ok) {
    if (!ok) std::abort();
}

void Conversions(const Variant& v) {
    for (TVarType k : Kinds) {
        try {
            const Variant r = VarAsType(v, k);
            Check(r.VType() == k);
            (void)VarToStr(r);
        } catch (const EVariantError&) {
        }
    }
    for (const Variant& other : {Variant(1), Variant(1.5), Variant(TDateTime(1)), Variant(true), Variant("x")}) {
        try {
            (void)(v == other);
            (void)VarCompareValue(v, other);
        } catch (const EVariantError&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    Conversions(Variant(text));
    Conversions(Variant(Utf8ToWide(text)));

    // A decimal written out reads back to the same value.
    try {
        const TDecimal d = StrToDecimal(text);
        const TDecimal back = StrToDecimal(DecimalToStr(d));
        Check(Variant(d) == Variant(back));
    } catch (const EConvertError&) {
    }

    TStringList list;
    list.SetCommaText(text);
    TStringList again;
    again.SetCommaText(list.GetCommaText());
    Check(again.Equals(&list));

    list.SetText(text);
    again.SetText(list.GetText());
    Check(again.Equals(&list));
    for (int i = 0; i < list.Count(); ++i) (void)list.Names(i), (void)list.ValueFromIndex(i);

    TStringStream stream{String(text)};
    list.LoadFromStream(&stream);
    return 0;
}
