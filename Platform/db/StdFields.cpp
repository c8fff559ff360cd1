// The field classes: text, numbers, booleans, dates, binary, blobs, variants
// and interfaces.

#include "Platform/db/StdFields.h"

#include <cmath>
#include <cstring>
#include <memory>

#include "Platform/db/DBConsts.h"
#include "Platform/db/DataSet.h"
#include "Platform/db/DataSource.h"

namespace Db {

// Published properties: what a persistent field carries in a form file.

VCL_COMPONENT_IMPL(TStringField, TField) {
    Prop("FixedChar", &TStringField::GetFixedChar, &TStringField::SetFixedChar).Default(false);
    Prop("Size", &TField::GetSize, &TField::SetSize).Default(20);
}
VCL_COMPONENT_IMPL(TGuidField, TStringField) {
    Prop("Size", &TField::GetSize, &TField::SetSize).Default(38);
}
VCL_COMPONENT_IMPL(TWideStringField, TField) {
    Prop("Size", &TField::GetSize, &TField::SetSize).Default(20);
}
VCL_CLASS_IMPL(TNumericField, TField) {
    Prop("Alignment", &TField::GetAlignment, &TField::SetAlignment).Default(taRightJustify);
}
VCL_COMPONENT_IMPL(TIntegerField, TNumericField) {
    Prop("MaxValue", &TIntegerField::GetMaxValue, &TIntegerField::SetMaxValue).Default(0);
    Prop("MinValue", &TIntegerField::GetMinValue, &TIntegerField::SetMinValue).Default(0);
}
VCL_COMPONENT_IMPL(TSmallintField, TIntegerField) {}
VCL_COMPONENT_IMPL(TWordField, TIntegerField) {}
VCL_COMPONENT_IMPL(TAutoIncField, TIntegerField) {}
VCL_COMPONENT_IMPL(TLargeintField, TNumericField) {
    Prop("MaxValue", &TLargeintField::GetMaxValue, &TLargeintField::SetMaxValue).Default(0);
    Prop("MinValue", &TLargeintField::GetMinValue, &TLargeintField::SetMinValue).Default(0);
}
VCL_COMPONENT_IMPL(TFloatField, TNumericField) {
    Prop("Currency", &TFloatField::GetCurrency, &TFloatField::SetCurrency).Default(false);
    Prop("MaxValue", &TFloatField::GetMaxValue, &TFloatField::SetMaxValue);
    Prop("MinValue", &TFloatField::GetMinValue, &TFloatField::SetMinValue);
    Prop("Precision", &TFloatField::GetPrecision, &TFloatField::SetPrecision).Default(15);
}
VCL_COMPONENT_IMPL(TCurrencyField, TFloatField) {
    Prop("Currency", &TFloatField::GetCurrency, &TFloatField::SetCurrency).Default(true);
}
VCL_COMPONENT_IMPL(TBCDField, TNumericField) {
    Prop("Currency", &TBCDField::GetCurrency, &TBCDField::SetCurrency).Default(false);
    Prop("MaxValue", [](TBCDField* f) { return f->GetMaxValue().ToDouble(); },
         [](TBCDField* f, double v) { f->SetMaxValue(Currency(v)); });
    Prop("MinValue", [](TBCDField* f) { return f->GetMinValue().ToDouble(); },
         [](TBCDField* f, double v) { f->SetMinValue(Currency(v)); });
    Prop("Precision", &TBCDField::GetPrecision, &TBCDField::SetPrecision).Default(0);
    Prop("Size", &TField::GetSize, &TField::SetSize).Default(4);
}
VCL_COMPONENT_IMPL(TBooleanField, TField) {
    Prop("DisplayValues", &TBooleanField::GetDisplayValues, &TBooleanField::SetDisplayValues);
}
VCL_COMPONENT_IMPL(TDateTimeField, TField) {
    Prop("DisplayFormat", &TDateTimeField::GetDisplayFormat, &TDateTimeField::SetDisplayFormat);
}
VCL_COMPONENT_IMPL(TDateField, TDateTimeField) {}
VCL_COMPONENT_IMPL(TTimeField, TDateTimeField) {}
VCL_CLASS_IMPL(TBinaryField, TField) {}
VCL_COMPONENT_IMPL(TBytesField, TBinaryField) {
    Prop("Size", &TField::GetSize, &TField::SetSize).Default(16);
}
VCL_COMPONENT_IMPL(TVarBytesField, TBinaryField) {
    Prop("Size", &TField::GetSize, &TField::SetSize).Default(16);
}
VCL_COMPONENT_IMPL(TBlobField, TField) {
    Prop("BlobType", &TBlobField::GetBlobType, &TBlobField::SetBlobType);
    Prop("Size", &TField::GetSize, &TField::SetSize).Default(0);
}
VCL_COMPONENT_IMPL(TMemoField, TBlobField) {}
VCL_COMPONENT_IMPL(TGraphicField, TBlobField) {}
VCL_COMPONENT_IMPL(TVariantField, TField) {}
VCL_COMPONENT_IMPL(TInterfaceField, TField) {}
VCL_COMPONENT_IMPL(TIDispatchField, TInterfaceField) {}

void RegisterDbClasses() {
    Vcl::RegisterClasses({&TStringField::StaticClass(), &TGuidField::StaticClass(), &TWideStringField::StaticClass(),
                          &TSmallintField::StaticClass(), &TIntegerField::StaticClass(), &TWordField::StaticClass(),
                          &TAutoIncField::StaticClass(), &TLargeintField::StaticClass(), &TFloatField::StaticClass(),
                          &TCurrencyField::StaticClass(), &TBCDField::StaticClass(), &TBooleanField::StaticClass(),
                          &TDateField::StaticClass(), &TTimeField::StaticClass(), &TDateTimeField::StaticClass(),
                          &TBytesField::StaticClass(), &TVarBytesField::StaticClass(), &TBlobField::StaticClass(),
                          &TMemoField::StaticClass(), &TGraphicField::StaticClass(), &TVariantField::StaticClass(),
                          &TInterfaceField::StaticClass(), &TIDispatchField::StaticClass(),
                          &TDataSource::StaticClass()});
}

namespace {

[[maybe_unused]] const bool kClassesRegistered = (RegisterDbClasses(), true);

// Largest n <= limit at which s can be cut without splitting a UTF-8 sequence.
std::size_t Utf8CutPoint(const String& s, std::size_t limit) {
    if (s.size() <= limit) return s.size();
    std::size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return n;
}

// A double that converts to Int64 without undefined behaviour.
bool FitsInt64(double v) { return v >= -9223372036854775808.0 && v < 9223372036854775808.0; }

constexpr int kMaxStringSize = 1 << 20;

String GuidToText(const Rtl::GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.D1, g.D2, g.D3, g.D4[0],
                  g.D4[1], g.D4[2], g.D4[3], g.D4[4], g.D4[5], g.D4[6], g.D4[7]);
    return buf;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool TextToGuid(const String& s, Rtl::GUID& g) {
    if (s.size() != 38 || s[0] != '{' || s[37] != '}' || s[9] != '-' || s[14] != '-' || s[19] != '-' ||
        s[24] != '-')
        return false;
    auto hex = [&](int pos, int digits, std::uint64_t& out) {
        out = 0;
        for (int i = 0; i < digits; ++i) {
            int v = HexValue(s[pos + i]);
            if (v < 0) return false;
            out = out * 16 + static_cast<unsigned>(v);
        }
        return true;
    };
    std::uint64_t v;
    if (!hex(1, 8, v)) return false;
    g.D1 = static_cast<std::uint32_t>(v);
    if (!hex(10, 4, v)) return false;
    g.D2 = static_cast<std::uint16_t>(v);
    if (!hex(15, 4, v)) return false;
    g.D3 = static_cast<std::uint16_t>(v);
    static constexpr int kPos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!hex(kPos[i], 2, v)) return false;
        g.D4[i] = static_cast<std::uint8_t>(v);
    }
    return true;
}

}  // namespace

// ---- TStringField ----------------------------------------------------------------------

TStringField::TStringField(Vcl::TComponent* AOwner) : TField(AOwner) {
    SetDataType(ftString);
    SetSizeInternal(20);
}

void TStringField::CheckTypeSize(int Value) const {
    if (Value < 0 || Value > kMaxStringSize) DatabaseError(SInvalidFieldSize);
}

bool TStringField::GetValue(String& Value) {
    std::vector<char> buffer(static_cast<std::size_t>(GetDataSize()), '\0');
    if (!GetData(buffer.data())) return false;
    Value.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
    if (FFixedChar) {
        while (!Value.empty() && Value.back() == ' ') Value.pop_back();
    }
    return true;
}

String TStringField::GetAsString() {
    String s;
    return GetValue(s) ? s : String();
}

void TStringField::SetAsString(const String& Value) {
    std::vector<char> buffer(static_cast<std::size_t>(GetDataSize()), '\0');
    std::size_t n = Utf8CutPoint(Value, static_cast<std::size_t>(GetSize()));
    std::memcpy(buffer.data(), Value.data(), n);
    SetData(buffer.data());
}

WideString TStringField::GetAsWideString() { return Rtl::Utf8ToWide(GetAsString()); }
void TStringField::SetAsWideString(const WideString& Value) { SetAsString(Rtl::WideToUtf8(Value)); }

bool TStringField::GetAsBoolean() {
    String s = GetAsString();
    if (s.empty()) return false;
    switch (s[0]) {
        case 'T': case 't': case 'Y': case 'y': return true;
        case 'F': case 'f': case 'N': case 'n': return false;
        default: DatabaseErrorFmt(SInvalidBoolValue, {s});
    }
}

void TStringField::SetAsBoolean(bool Value) { SetAsString(Value ? String("T") : String("F")); }
TDateTime TStringField::GetAsDateTime() { return Rtl::StrToDateTime(GetAsString()); }
void TStringField::SetAsDateTime(TDateTime Value) { SetAsString(Rtl::DateTimeToStr(Value)); }
double TStringField::GetAsFloat() { return Rtl::StrToFloat(GetAsString()); }
void TStringField::SetAsFloat(double Value) { SetAsString(Rtl::FloatToStr(Value)); }
int TStringField::GetAsInteger() { return Rtl::StrToInt(GetAsString()); }
void TStringField::SetAsInteger(int Value) { SetAsString(Rtl::IntToStr(Value)); }
Int64 TStringField::GetAsLargeInt() { return Rtl::StrToInt64(GetAsString()); }
void TStringField::SetAsLargeInt(Int64 Value) { SetAsString(Rtl::IntToStr(Value)); }
Currency TStringField::GetAsCurrency() { return Rtl::StrToCurr(GetAsString()); }
void TStringField::SetAsCurrency(Currency Value) { SetAsString(Rtl::CurrToStr(Value)); }

Variant TStringField::GetAsVariant() {
    String s;
    if (!GetValue(s)) return Variant::Null();
    return Variant(s);
}

void TStringField::SetVarValue(const Variant& Value) { SetAsString(Value.ToString()); }

// ---- TGuidField --------------------------------------------------------------------------

TGuidField::TGuidField(Vcl::TComponent* AOwner) : TStringField(AOwner) {
    SetDataType(ftGuid);
    SetSizeInternal(38);
}

void TGuidField::CheckTypeSize(int Value) const {
    if (Value != 38) DatabaseError(SInvalidFieldSize);
}

Rtl::GUID TGuidField::GetAsGuid() {
    String s = GetAsString();
    Rtl::GUID g;
    if (s.empty()) return g;
    if (!TextToGuid(s, g)) DatabaseErrorFmt(SInvalidGuidValue, {s});
    return g;
}

void TGuidField::SetAsGuid(const Rtl::GUID& Value) { TStringField::SetAsString(GuidToText(Value)); }

void TGuidField::SetAsString(const String& Value) {
    if (Value.empty()) {
        Clear();
        return;
    }
    Rtl::GUID g;
    if (!TextToGuid(Value, g)) DatabaseErrorFmt(SInvalidGuidValue, {Value});
    TStringField::SetAsString(Value);
}

// ---- TWideStringField ----------------------------------------------------------------------

TWideStringField::TWideStringField(Vcl::TComponent* AOwner) : TField(AOwner) {
    SetDataType(ftWideString);
    SetSizeInternal(20);
}

void TWideStringField::CheckTypeSize(int Value) const {
    if (Value < 0 || Value > kMaxStringSize) DatabaseError(SInvalidFieldSize);
}

WideString TWideStringField::GetAsWideString() {
    std::vector<char16_t> buffer(static_cast<std::size_t>(GetSize()) + 1, u'\0');
    if (!GetData(buffer.data())) return {};
    std::size_t n = 0;
    while (n < buffer.size() && buffer[n] != 0) ++n;
    return WideString(buffer.data(), n);
}

void TWideStringField::SetAsWideString(const WideString& Value) {
    std::vector<char16_t> buffer(static_cast<std::size_t>(GetSize()) + 1, u'\0');
    std::size_t n = std::min(Value.size(), static_cast<std::size_t>(GetSize()));
    if (n < Value.size() && n > 0 && Value[n - 1] >= 0xD800 && Value[n - 1] <= 0xDBFF) --n;
    std::memcpy(buffer.data(), Value.data(), n * sizeof(char16_t));
    SetData(buffer.data());
}

String TWideStringField::GetAsString() { return Rtl::WideToUtf8(GetAsWideString()); }
void TWideStringField::SetAsString(const String& Value) { SetAsWideString(Rtl::Utf8ToWide(Value)); }

Variant TWideStringField::GetAsVariant() {
    if (GetIsNull()) return Variant::Null();
    return Variant(GetAsWideString());
}

void TWideStringField::SetVarValue(const Variant& Value) { SetAsWideString(Value.ToWideString()); }

// ---- Numbers ----------------------------------------------------------------------------------

TNumericField::TNumericField(Vcl::TComponent* AOwner) : TField(AOwner) { SetAlignment(taRightJustify); }

TIntegerField::TIntegerField(Vcl::TComponent* AOwner)
    : TNumericField(AOwner), FMinRange(INT32_MIN), FMaxRange(INT32_MAX) {
    SetDataType(ftInteger);
}

TSmallintField::TSmallintField(Vcl::TComponent* AOwner) : TIntegerField(AOwner) {
    SetDataType(ftSmallint);
    SetRange(INT16_MIN, INT16_MAX);
}

TWordField::TWordField(Vcl::TComponent* AOwner) : TIntegerField(AOwner) {
    SetDataType(ftWord);
    SetRange(0, UINT16_MAX);
}

TAutoIncField::TAutoIncField(Vcl::TComponent* AOwner) : TIntegerField(AOwner) { SetDataType(ftAutoInc); }

int TIntegerField::GetDataSize() const {
    return GetDataType() == ftSmallint || GetDataType() == ftWord ? 2 : 4;
}

bool TIntegerField::GetValue(Int64& Value) {
    switch (GetDataType()) {
        case ftSmallint: {
            std::int16_t v;
            if (!GetData(&v)) return false;
            Value = v;
            return true;
        }
        case ftWord: {
            std::uint16_t v;
            if (!GetData(&v)) return false;
            Value = v;
            return true;
        }
        default: {
            std::int32_t v;
            if (!GetData(&v)) return false;
            Value = v;
            return true;
        }
    }
}

void TIntegerField::CheckRange(Int64 Value) const {
    // The declared range, and in any case what the storage can hold.
    Int64 min = FMinRange, max = FMaxRange;
    if (FMinValue != 0 || FMaxValue != 0) {
        min = std::max<Int64>(min, FMinValue);
        max = std::min<Int64>(max, FMaxValue);
    }
    if (Value < min || Value > max) RangeError(Rtl::IntToStr(Value), Rtl::IntToStr(min), Rtl::IntToStr(max));
}

void TIntegerField::SetAsLargeInt(Int64 Value) {
    CheckRange(Value);
    switch (GetDataType()) {
        case ftSmallint: {
            auto v = static_cast<std::int16_t>(Value);
            SetData(&v);
            break;
        }
        case ftWord: {
            auto v = static_cast<std::uint16_t>(Value);
            SetData(&v);
            break;
        }
        default: {
            auto v = static_cast<std::int32_t>(Value);
            SetData(&v);
            break;
        }
    }
}

Int64 TIntegerField::GetAsLargeInt() {
    Int64 v;
    return GetValue(v) ? v : 0;
}

int TIntegerField::GetAsInteger() { return static_cast<int>(GetAsLargeInt()); }
void TIntegerField::SetAsInteger(int Value) { SetAsLargeInt(Value); }
bool TIntegerField::GetAsBoolean() { return GetAsLargeInt() != 0; }
void TIntegerField::SetAsBoolean(bool Value) { SetAsLargeInt(Value ? 1 : 0); }
double TIntegerField::GetAsFloat() { return static_cast<double>(GetAsLargeInt()); }
Currency TIntegerField::GetAsCurrency() { return Currency(GetAsLargeInt()); }

void TIntegerField::SetAsFloat(double Value) {
    double r = std::nearbyint(Value);
    if (!FitsInt64(r)) RangeError(Rtl::FloatToStr(Value), Rtl::IntToStr(FMinRange), Rtl::IntToStr(FMaxRange));
    SetAsLargeInt(static_cast<Int64>(r));
}

void TIntegerField::SetAsCurrency(Currency Value) { SetAsLargeInt(Value.Round()); }

String TIntegerField::GetAsString() {
    Int64 v;
    return GetValue(v) ? Rtl::IntToStr(v) : String();
}

void TIntegerField::SetAsString(const String& Value) {
    if (Value.empty()) {
        Clear();
        return;
    }
    Int64 v;
    if (!Rtl::TryStrToInt64(Value, v)) DatabaseErrorFmt(SInvalidIntegerValue, {Value});
    SetAsLargeInt(v);
}

Variant TIntegerField::GetAsVariant() {
    Int64 v;
    if (!GetValue(v)) return Variant::Null();
    return Variant(static_cast<int>(v));
}

// Text goes through the field's own parser, whose errors name the value.
void TIntegerField::SetVarValue(const Variant& Value) {
    if (Rtl::VarIsStr(Value))
        SetAsString(Value.ToString());
    else
        SetAsLargeInt(Value.ToInt64());
}

TLargeintField::TLargeintField(Vcl::TComponent* AOwner) : TNumericField(AOwner) { SetDataType(ftLargeint); }

Int64 TLargeintField::GetAsLargeInt() {
    Int64 v;
    return GetData(&v) ? v : 0;
}

void TLargeintField::SetAsLargeInt(Int64 Value) {
    if ((FMinValue != 0 || FMaxValue != 0) && (Value < FMinValue || Value > FMaxValue))
        RangeError(Rtl::IntToStr(Value), Rtl::IntToStr(FMinValue), Rtl::IntToStr(FMaxValue));
    SetData(&Value);
}

int TLargeintField::GetAsInteger() {
    Int64 v = GetAsLargeInt();
    if (v < INT32_MIN || v > INT32_MAX) DatabaseErrorFmt(SFieldOutOfRange, {GetDisplayName()});
    return static_cast<int>(v);
}

void TLargeintField::SetAsInteger(int Value) { SetAsLargeInt(Value); }
double TLargeintField::GetAsFloat() { return static_cast<double>(GetAsLargeInt()); }

void TLargeintField::SetAsFloat(double Value) {
    double r = std::nearbyint(Value);
    if (!FitsInt64(r))
        RangeError(Rtl::FloatToStr(Value), Rtl::IntToStr(INT64_MIN), Rtl::IntToStr(INT64_MAX));
    SetAsLargeInt(static_cast<Int64>(r));
}

String TLargeintField::GetAsString() {
    Int64 v;
    return GetData(&v) ? Rtl::IntToStr(v) : String();
}

void TLargeintField::SetAsString(const String& Value) {
    if (Value.empty()) {
        Clear();
        return;
    }
    Int64 v;
    if (!Rtl::TryStrToInt64(Value, v)) DatabaseErrorFmt(SInvalidIntegerValue, {Value});
    SetAsLargeInt(v);
}

Variant TLargeintField::GetAsVariant() {
    Int64 v;
    if (!GetData(&v)) return Variant::Null();
    return Variant(static_cast<long long>(v));
}

// Text goes through the field's own parser, whose errors name the value.
void TLargeintField::SetVarValue(const Variant& Value) {
    if (Rtl::VarIsStr(Value))
        SetAsString(Value.ToString());
    else
        SetAsLargeInt(Value.ToInt64());
}

TFloatField::TFloatField(Vcl::TComponent* AOwner) : TNumericField(AOwner) { SetDataType(ftFloat); }

TCurrencyField::TCurrencyField(Vcl::TComponent* AOwner) : TFloatField(AOwner) {
    SetDataType(ftCurrency);
    SetCurrency(true);
}

void TFloatField::SetPrecision(int Value) noexcept { FPrecision = std::clamp(Value, 2, 15); }

double TFloatField::GetAsFloat() {
    double v;
    return GetData(&v) ? v : 0.0;
}

void TFloatField::SetAsFloat(double Value) {
    if ((FMinValue != 0 || FMaxValue != 0) && !(Value >= FMinValue && Value <= FMaxValue))
        RangeError(Rtl::FloatToStr(Value), Rtl::FloatToStr(FMinValue), Rtl::FloatToStr(FMaxValue));
    SetData(&Value);
}

int TFloatField::GetAsInteger() {
    double r = std::nearbyint(GetAsFloat());
    if (!(r >= INT32_MIN && r <= INT32_MAX)) DatabaseErrorFmt(SFieldOutOfRange, {GetDisplayName()});
    return static_cast<int>(r);
}

void TFloatField::SetAsInteger(int Value) { SetAsFloat(Value); }

Int64 TFloatField::GetAsLargeInt() {
    double r = std::nearbyint(GetAsFloat());
    if (!FitsInt64(r)) DatabaseErrorFmt(SFieldOutOfRange, {GetDisplayName()});
    return static_cast<Int64>(r);
}

void TFloatField::SetAsLargeInt(Int64 Value) { SetAsFloat(static_cast<double>(Value)); }
Currency TFloatField::GetAsCurrency() { return Currency(GetAsFloat()); }
void TFloatField::SetAsCurrency(Currency Value) { SetAsFloat(Value.ToDouble()); }

String TFloatField::GetAsString() {
    double v;
    return GetData(&v) ? Rtl::FloatToStr(v) : String();
}

void TFloatField::SetAsString(const String& Value) {
    if (Value.empty()) {
        Clear();
        return;
    }
    double v;
    if (!Rtl::TryStrToFloat(Value, v)) DatabaseErrorFmt(SInvalidFloatValue, {Value});
    SetAsFloat(v);
}

Variant TFloatField::GetAsVariant() {
    double v;
    if (!GetData(&v)) return Variant::Null();
    return Variant(v);
}

// Text goes through the field's own parser, whose errors name the value.
void TFloatField::SetVarValue(const Variant& Value) {
    if (Rtl::VarIsStr(Value))
        SetAsString(Value.ToString());
    else
        SetAsFloat(Value.ToDouble());
}

void TFloatField::ValueToText(String& Text, bool DisplayText) {
    double v;
    if (!GetData(&v)) {
        Text.clear();
        return;
    }
    if (DisplayText && FCurrency)
        Text = Rtl::FloatToStrF(v, Rtl::ffCurrency, FPrecision, Rtl::FormatSettings().CurrencyDecimals);
    else
        Text = Rtl::FloatToStrF(v, Rtl::ffGeneral, FPrecision, 0);
}

TBCDField::TBCDField(Vcl::TComponent* AOwner) : TNumericField(AOwner) {
    SetDataType(ftBCD);
    SetSizeInternal(4);
}

void TBCDField::CheckTypeSize(int Value) const {
    if (Value < 0 || Value > 4) DatabaseError(SInvalidFieldSize);
}

void TBCDField::SetPrecision(int Value) {
    if (Value < 0 || Value > 32) DatabaseError(SInvalidFieldSize);
    FPrecision = Value;
}

Currency TBCDField::GetAsCurrency() {
    Currency c;
    return GetData(&c, false) ? c : Currency();
}

void TBCDField::SetAsCurrency(Currency Value) {
    // Round to the field's decimal places, half away from zero.
    Int64 unit = 1;
    for (int i = GetSize(); i < 4; ++i) unit *= 10;
    if (unit > 1) {
        Int64 q = Value.Value / unit, r = Value.Value % unit;
        if (2 * (r < 0 ? -r : r) >= unit) q += Value.Value < 0 ? -1 : 1;
        Value = Currency::FromScaled(q * unit);
    }
    if ((FMinValue.Value != 0 || FMaxValue.Value != 0) && (Value < FMinValue || Value > FMaxValue))
        RangeError(Rtl::CurrToStr(Value), Rtl::CurrToStr(FMinValue), Rtl::CurrToStr(FMaxValue));
    if (FPrecision > 0 && FPrecision - GetSize() < 19) {
        Int64 limit = 1;
        for (int i = 0; i < FPrecision - GetSize(); ++i) limit *= 10;
        Int64 whole = Value.Trunc();
        if (whole >= limit || whole <= -limit) DatabaseErrorFmt(SFieldOutOfRange, {GetDisplayName()});
    }
    SetData(&Value, false);
}

double TBCDField::GetAsFloat() { return GetAsCurrency().ToDouble(); }

void TBCDField::SetAsFloat(double Value) {
    Currency c;
    if (!Rtl::TryFloatToCurr(Value, c)) DatabaseErrorFmt(SFieldOutOfRange, {GetDisplayName()});
    SetAsCurrency(c);
}

int TBCDField::GetAsInteger() {
    Int64 v = GetAsCurrency().Round();
    if (v < INT32_MIN || v > INT32_MAX) DatabaseErrorFmt(SFieldOutOfRange, {GetDisplayName()});
    return static_cast<int>(v);
}

void TBCDField::SetAsInteger(int Value) { SetAsCurrency(Currency(Value)); }
Int64 TBCDField::GetAsLargeInt() { return GetAsCurrency().Round(); }

void TBCDField::SetAsLargeInt(Int64 Value) {
    if (Value > INT64_MAX / Currency::Scale || Value < INT64_MIN / Currency::Scale)
        DatabaseErrorFmt(SFieldOutOfRange, {GetDisplayName()});
    SetAsCurrency(Currency::FromScaled(Value * Currency::Scale));
}

String TBCDField::GetAsString() {
    Currency c;
    return GetData(&c, false) ? Rtl::CurrToStr(c) : String();
}

void TBCDField::SetAsString(const String& Value) {
    if (Value.empty()) {
        Clear();
        return;
    }
    Currency c;
    if (!Rtl::TryStrToCurr(Value, c)) DatabaseErrorFmt(SInvalidFloatValue, {Value});
    SetAsCurrency(c);
}

TBcd TBCDField::GetAsBCD() {
    TBcd bcd;
    if (!GetData(&bcd)) return TBcd();
    return bcd;
}

void TBCDField::SetAsBCD(const TBcd& Value) {
    Currency c;
    if (!Rtl::IsValidBcd(Value) || !Rtl::BCDToCurr(Value, c)) DatabaseErrorFmt(SFieldOutOfRange, {GetDisplayName()});
    SetAsCurrency(c);
}

Variant TBCDField::GetAsVariant() {
    Currency c;
    if (!GetData(&c, false)) return Variant::Null();
    return Variant(c);
}

// Text goes through the field's own parser, whose errors name the value.
void TBCDField::SetVarValue(const Variant& Value) {
    if (Rtl::VarIsStr(Value))
        SetAsString(Value.ToString());
    else
        SetAsCurrency(Value.ToCurrency());
}

void TBCDField::ValueToText(String& Text, bool DisplayText) {
    Currency c;
    if (!GetData(&c, false)) {
        Text.clear();
        return;
    }
    if (DisplayText && FCurrency)
        Text = Rtl::CurrToStrF(c, Rtl::ffCurrency, Rtl::FormatSettings().CurrencyDecimals);
    else
        Text = Rtl::CurrToStr(c);
}

// ---- TBooleanField -----------------------------------------------------------------------

TBooleanField::TBooleanField(Vcl::TComponent* AOwner) : TField(AOwner) {
    SetDataType(ftBoolean);
    SetDisplayValues(String());
}

void TBooleanField::SetDisplayValues(const String& Value) {
    FDisplayValues = Value;
    if (Value.empty()) {
        FTextValues[1] = STextTrue;
        FTextValues[0] = STextFalse;
        return;
    }
    auto sep = Value.find(';');
    FTextValues[1] = Value.substr(0, sep);
    FTextValues[0] = sep == String::npos ? String() : Value.substr(sep + 1);
    PropertyChanged(true);
}

bool TBooleanField::GetAsBoolean() {
    std::int16_t v;
    return GetData(&v) && v != 0;
}

void TBooleanField::SetAsBoolean(bool Value) {
    std::int16_t v = Value ? 1 : 0;
    SetData(&v);
}

int TBooleanField::GetAsInteger() { return GetAsBoolean() ? 1 : 0; }
void TBooleanField::SetAsInteger(int Value) { SetAsBoolean(Value != 0); }

String TBooleanField::GetAsString() {
    std::int16_t v;
    if (!GetData(&v)) return {};
    return FTextValues[v != 0 ? 1 : 0];
}

void TBooleanField::SetAsString(const String& Value) {
    if (Value.empty()) {
        if (FTextValues[0].empty())
            SetAsBoolean(false);
        else if (FTextValues[1].empty())
            SetAsBoolean(true);
        else
            Clear();
        return;
    }
    auto matches = [&](const String& text) {
        return text.size() >= Value.size() && Rtl::AnsiSameText(Value, text.substr(0, Value.size()));
    };
    if (matches(FTextValues[0]))
        SetAsBoolean(false);
    else if (matches(FTextValues[1]))
        SetAsBoolean(true);
    else
        DatabaseErrorFmt(SInvalidBoolValue, {Value});
}

Variant TBooleanField::GetAsVariant() {
    std::int16_t v;
    if (!GetData(&v)) return Variant::Null();
    return Variant(v != 0);
}

// Text goes through the field's own parser, whose errors name the value.
void TBooleanField::SetVarValue(const Variant& Value) {
    if (Rtl::VarIsStr(Value))
        SetAsString(Value.ToString());
    else
        SetAsBoolean(Value.ToBoolean());
}

// ---- Dates and times -------------------------------------------------------------------------

TDateTimeField::TDateTimeField(Vcl::TComponent* AOwner) : TField(AOwner) { SetDataType(ftDateTime); }
TDateField::TDateField(Vcl::TComponent* AOwner) : TDateTimeField(AOwner) { SetDataType(ftDate); }
TTimeField::TTimeField(Vcl::TComponent* AOwner) : TDateTimeField(AOwner) { SetDataType(ftTime); }

int TDateTimeField::GetDataSize() const { return GetDataType() == ftDateTime ? 8 : 4; }

void TDateTimeField::SetDisplayFormat(const String& Value) {
    if (Value == FDisplayFormat) return;
    FDisplayFormat = Value;
    PropertyChanged(false);
}

TDateTime TDateTimeField::GetAsDateTime() {
    TDateTime d;
    return GetData(&d, false) ? d : TDateTime();
}

void TDateTimeField::SetAsDateTime(TDateTime Value) { SetData(&Value, false); }
double TDateTimeField::GetAsFloat() { return GetAsDateTime().Value; }
void TDateTimeField::SetAsFloat(double Value) { SetAsDateTime(TDateTime(Value)); }

String TDateTimeField::GetAsString() {
    String s;
    ValueToText(s, false);
    return s;
}

void TDateTimeField::SetAsString(const String& Value) {
    if (Value.empty()) {
        Clear();
        return;
    }
    switch (GetDataType()) {
        case ftDate: SetAsDateTime(Rtl::StrToDate(Value)); break;
        case ftTime: SetAsDateTime(Rtl::StrToTime(Value)); break;
        default: SetAsDateTime(Rtl::StrToDateTime(Value)); break;
    }
}

Variant TDateTimeField::GetAsVariant() {
    TDateTime d;
    if (!GetData(&d, false)) return Variant::Null();
    return Variant(d);
}

// Text goes through the field's own parser, whose errors name the value.
void TDateTimeField::SetVarValue(const Variant& Value) {
    if (Rtl::VarIsStr(Value))
        SetAsString(Value.ToString());
    else
        SetAsDateTime(Value.ToDateTime());
}

void TDateTimeField::ValueToText(String& Text, bool DisplayText) {
    TDateTime d;
    if (!GetData(&d, false)) {
        Text.clear();
        return;
    }
    if (DisplayText && !FDisplayFormat.empty()) {
        Text = Rtl::FormatDateTime(FDisplayFormat, d);
        return;
    }
    switch (GetDataType()) {
        case ftDate: Text = Rtl::DateToStr(d); break;
        case ftTime: Text = Rtl::TimeToStr(d); break;
        default: Text = Rtl::DateTimeToStr(d); break;
    }
}

// ---- Binary ------------------------------------------------------------------------------------

TBinaryField::TBinaryField(Vcl::TComponent* AOwner) : TField(AOwner) {}

TBytesField::TBytesField(Vcl::TComponent* AOwner) : TBinaryField(AOwner) {
    SetDataType(ftBytes);
    SetSizeInternal(16);
}

TVarBytesField::TVarBytesField(Vcl::TComponent* AOwner) : TBinaryField(AOwner) {
    SetDataType(ftVarBytes);
    SetSizeInternal(16);
}

void TBinaryField::CheckTypeSize(int Value) const {
    if (Value < 1 || Value > UINT16_MAX) DatabaseError(SInvalidFieldSize);
}

String TBinaryField::GetAsString() {
    std::vector<Byte> bytes;
    if (!GetBytes(bytes)) return {};
    return String(bytes.begin(), bytes.end());
}

void TBinaryField::SetAsString(const String& Value) {
    SetBytes(reinterpret_cast<const Byte*>(Value.data()), Value.size());
}

Variant TBinaryField::GetAsVariant() {
    std::vector<Byte> bytes;
    if (!GetBytes(bytes)) return Variant::Null();
    return Rtl::BytesToVarArray(bytes.data(), bytes.size());
}

// The bytes of a one-dimensional array: a byte array, or an array of values
// that are each a byte (0..255); anything else is refused for Field.
static std::vector<Byte> ArrayBytes(const Variant& Value, const TField* Field) {
    try {
        if (Rtl::VarArrayDimCount(Value) == 1) {
            if (Rtl::VarArrayElementType(Value) == Rtl::varByte) return Rtl::VarArrayToBytes(Value);
            int low = Rtl::VarArrayLowBound(Value, 1), high = Rtl::VarArrayHighBound(Value, 1);
            std::vector<Byte> bytes;
            for (int i = low; i <= high; ++i) {
                Int64 b = Value.GetElement(i).ToInt64();
                if (b < 0 || b > 255) break;
                bytes.push_back(static_cast<Byte>(b));
            }
            if (static_cast<int>(bytes.size()) == high - low + 1) return bytes;
        }
    } catch (const Rtl::Exception&) {
    }
    DatabaseErrorFmt(SInvalidVarByteArray, {Field->GetDisplayName()});
}

void TBinaryField::SetVarValue(const Variant& Value) {
    if (Value.IsArray()) {
        std::vector<Byte> bytes = ArrayBytes(Value, this);
        SetBytes(bytes.data(), bytes.size());
    } else if (Rtl::VarIsStr(Value)) {
        SetAsString(Value.ToString());
    } else {
        DatabaseErrorFmt(SInvalidVarByteArray, {GetDisplayName()});
    }
}

bool TBytesField::GetBytes(std::vector<Byte>& Bytes) {
    Bytes.assign(static_cast<std::size_t>(GetSize()), 0);
    return GetData(Bytes.data());
}

void TBytesField::SetBytes(const Byte* Data, std::size_t Size) {
    if (Size > static_cast<std::size_t>(GetSize())) DatabaseErrorFmt(SInvalidVarByteArray, {GetDisplayName()});
    std::vector<Byte> buffer(static_cast<std::size_t>(GetSize()), 0);
    if (Size) std::memcpy(buffer.data(), Data, Size);
    SetData(buffer.data());
}

bool TVarBytesField::GetBytes(std::vector<Byte>& Bytes) {
    std::vector<Byte> buffer(static_cast<std::size_t>(GetDataSize()), 0);
    if (!GetData(buffer.data())) return false;
    Word length;
    std::memcpy(&length, buffer.data(), 2);
    // A length beyond the field's size cannot come from a write; never read past the value.
    std::size_t n = std::min<std::size_t>(length, static_cast<std::size_t>(GetSize()));
    Bytes.assign(buffer.begin() + 2, buffer.begin() + 2 + static_cast<std::ptrdiff_t>(n));
    return true;
}

void TVarBytesField::SetBytes(const Byte* Data, std::size_t Size) {
    if (Size > static_cast<std::size_t>(GetSize())) DatabaseErrorFmt(SInvalidVarByteArray, {GetDisplayName()});
    std::vector<Byte> buffer(static_cast<std::size_t>(GetDataSize()), 0);
    Word length = static_cast<Word>(Size);
    std::memcpy(buffer.data(), &length, 2);
    if (Size) std::memcpy(buffer.data() + 2, Data, Size);
    SetData(buffer.data());
}

// ---- Blobs ---------------------------------------------------------------------------------------

TBlobField::TBlobField(Vcl::TComponent* AOwner) : TField(AOwner) { SetDataType(ftBlob); }
TMemoField::TMemoField(Vcl::TComponent* AOwner) : TBlobField(AOwner) { SetDataType(ftMemo); }
TGraphicField::TGraphicField(Vcl::TComponent* AOwner) : TBlobField(AOwner) { SetDataType(ftGraphic); }

void TBlobField::CheckTypeSize(int Value) const {
    if (Value < 0) DatabaseError(SInvalidFieldSize);
}

void TBlobField::SetBlobType(TFieldType Value) {
    if (IsBlobType(Value)) SetDataType(Value);
}

void TBlobField::SetModified(bool Value) { FModified = Value; }

void TBlobField::FreeBuffers() {
    if (FModified) {
        if (TDataSet* ds = GetDataSet()) ds->CloseBlob(this);
        FModified = false;
    }
}

namespace {
std::unique_ptr<Rtl::TStream> OpenBlob(TBlobField* Field, TBlobStreamMode Mode) {
    TDataSet* ds = Field->GetDataSet();
    if (!ds) DatabaseErrorFmt(SDataSetMissing, {Field->GetDisplayName()});
    return std::unique_ptr<Rtl::TStream>(ds->CreateBlobStream(Field, Mode));
}
}  // namespace

String TBlobField::GetAsString() {
    auto stream = OpenBlob(this, bmRead);
    String result(static_cast<std::size_t>(stream->GetSize()), '\0');
    stream->SetPosition(0);
    if (!result.empty()) stream->ReadBuffer(result.data(), static_cast<Int64>(result.size()));
    return result;
}

void TBlobField::SetAsString(const String& Value) {
    auto stream = OpenBlob(this, bmWrite);
    if (!Value.empty()) stream->WriteBuffer(Value.data(), static_cast<Int64>(Value.size()));
}

WideString TBlobField::GetAsWideString() { return Rtl::Utf8ToWide(GetAsString()); }
void TBlobField::SetAsWideString(const WideString& Value) { SetAsString(Rtl::WideToUtf8(Value)); }

void TBlobField::Clear() { OpenBlob(this, bmWrite); }

bool TBlobField::GetIsNull() {
    if (!FModified) return TField::GetIsNull();
    return OpenBlob(this, bmRead)->GetSize() == 0;
}

int TBlobField::GetBlobSize() { return static_cast<int>(OpenBlob(this, bmRead)->GetSize()); }

Variant TBlobField::GetAsVariant() {
    if (GetIsNull()) return Variant::Null();
    return Variant(GetAsString());
}

void TBlobField::SetVarValue(const Variant& Value) {
    if (Value.IsArray()) {
        std::vector<Byte> bytes = ArrayBytes(Value, this);
        SetAsString(String(bytes.begin(), bytes.end()));
    } else {
        SetAsString(Value.ToString());
    }
}

void TBlobField::LoadFromStream(Rtl::TStream* Stream) {
    auto blob = OpenBlob(this, bmWrite);
    blob->CopyFrom(Stream, 0);
}

void TBlobField::SaveToStream(Rtl::TStream* Stream) {
    auto blob = OpenBlob(this, bmRead);
    if (blob->GetSize() > 0) Stream->CopyFrom(blob.get(), 0);
}

void TBlobField::LoadFromFile(const String& FileName) {
    Rtl::TFileStream file(FileName, Rtl::fmOpenRead);
    LoadFromStream(&file);
}

void TBlobField::SaveToFile(const String& FileName) {
    // Written beside the target and renamed, so a failure leaves the old file.
    Rtl::TMemoryStream memory;
    SaveToStream(&memory);
    memory.SaveToFile(FileName);
}

void TBlobField::ValueToText(String& Text, bool) {
    String name = Rtl::UpperCase(FieldTypeName(GetDataType()));
    Text = "(" + (GetIsNull() ? Rtl::LowerCase(name) : name) + ")";
}

void TMemoField::ValueToText(String& Text, bool DisplayText) {
    if (DisplayText)
        TBlobField::ValueToText(Text, true);
    else
        Text = GetAsString();
}

// ---- Variants and interfaces ----------------------------------------------------------------------

TVariantField::TVariantField(Vcl::TComponent* AOwner) : TField(AOwner) { SetDataType(ftVariant); }

Variant TVariantField::GetAsVariant() {
    Variant v;
    if (!GetData(&v)) return Variant::Null();
    return v;
}

void TVariantField::SetVarValue(const Variant& Value) { SetData(&Value); }

bool TVariantField::GetAsBoolean() { return GetAsVariant().ToBoolean(); }
void TVariantField::SetAsBoolean(bool Value) { SetAsVariant(Variant(Value)); }
Currency TVariantField::GetAsCurrency() { return GetAsVariant().ToCurrency(); }
void TVariantField::SetAsCurrency(Currency Value) { SetAsVariant(Variant(Value)); }
TDateTime TVariantField::GetAsDateTime() { return GetAsVariant().ToDateTime(); }
void TVariantField::SetAsDateTime(TDateTime Value) { SetAsVariant(Variant(Value)); }
double TVariantField::GetAsFloat() { return GetAsVariant().ToDouble(); }
void TVariantField::SetAsFloat(double Value) { SetAsVariant(Variant(Value)); }
int TVariantField::GetAsInteger() { return GetAsVariant().ToInteger(); }
void TVariantField::SetAsInteger(int Value) { SetAsVariant(Variant(Value)); }
Int64 TVariantField::GetAsLargeInt() { return GetAsVariant().ToInt64(); }
void TVariantField::SetAsLargeInt(Int64 Value) { SetAsVariant(Variant(static_cast<long long>(Value))); }
String TVariantField::GetAsString() { return Rtl::VarToStr(GetAsVariant()); }
void TVariantField::SetAsString(const String& Value) { SetAsVariant(Variant(Value)); }
WideString TVariantField::GetAsWideString() { return Rtl::VarToWideStr(GetAsVariant()); }
void TVariantField::SetAsWideString(const WideString& Value) { SetAsVariant(Variant(Value)); }

TInterfaceField::TInterfaceField(Vcl::TComponent* AOwner) : TField(AOwner) { SetDataType(ftInterface); }
TIDispatchField::TIDispatchField(Vcl::TComponent* AOwner) : TInterfaceField(AOwner) { SetDataType(ftIDispatch); }

Rtl::IUnknown* TInterfaceField::GetAsInterface() {
    Rtl::IUnknown* p = nullptr;
    if (!GetData(&p)) return nullptr;
    return p;
}

void TInterfaceField::SetAsInterface(Rtl::IUnknown* Value) {
    if (!Value) {
        Clear();
        return;
    }
    SetData(&Value);
}

Variant TInterfaceField::GetAsVariant() {
    Rtl::IUnknown* p = GetAsInterface();
    return p ? Variant::FromUnknown(p) : Variant::Null();
}

Variant TIDispatchField::GetAsVariant() {
    Rtl::IUnknown* p = GetAsInterface();
    return p ? Variant::FromDispatch(p) : Variant::Null();
}

void TInterfaceField::SetVarValue(const Variant& Value) {
    Rtl::TVarType kind = Value.BaseType();
    if (kind != Rtl::varUnknown && kind != Rtl::varDispatch) DatabaseErrorFmt(SFieldValueError, {GetDisplayName()});
    SetAsInterface(Value.GetInterface());
}

}  // namespace Db
