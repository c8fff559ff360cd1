#include "Platform/data-engine/Values.h"

#include <cfloat>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <limits>

namespace DataEngine {

using namespace Velora;
using Rtl::Word;

namespace {

constexpr unsigned __int128 Pow10(int n) noexcept {
    unsigned __int128 r = 1;
    for (int k = 0; k < n; ++k) r *= 10;
    return r;
}
constexpr unsigned __int128 Max96 = (static_cast<unsigned __int128>(1) << 96) - 1;
constexpr unsigned __int128 Limit38 = Pow10(38);

int DigitCount(unsigned __int128 v) noexcept {
    int n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

String Int128ToText(unsigned __int128 v) {
    char buf[48];
    int pos = 47;
    buf[pos] = '\0';
    do {
        buf[--pos] = static_cast<char>('0' + static_cast<int>(v % 10));
        v /= 10;
    } while (v != 0);
    return String(buf + pos);
}

[[noreturn]] void CannotStore(std::string_view role, const TColumnInfo& column, const Variant& value,
                              std::string_view why, HRESULT hr = hrCantConvertValue) {
    throw EEngineError("Cannot store " + DescribeValue(value) + " in " + String(role) + " \"" + column.Name + "\" (" +
                           DataTypeName(column.Type) + "): " + String(why),
                       hr);
}

// A variant holding a number (or a numeric text) as an exact decimal. Doubles
// go through their shortest round-trip text, so 0.1 is the decimal 0.1.
bool VariantToExact(const Variant& v, TExactDecimal& out) {
    switch (v.BaseType()) {
        case Rtl::varShortInt:
        case Rtl::varSmallint:
        case Rtl::varInteger:
        case Rtl::varInt64:
        case Rtl::varBoolean: {
            const Int64 i = v.ToInt64();
            out.Negative = i < 0;
            out.Mantissa = i < 0 ? static_cast<unsigned __int128>(-(i + 1)) + 1 : static_cast<unsigned __int128>(i);
            out.Scale = 0;
            return true;
        }
        case Rtl::varByte:
        case Rtl::varWord:
        case Rtl::varLongWord:
        case Rtl::varUInt64:
            out.Negative = false;
            out.Mantissa = v.ToUInt64();
            out.Scale = 0;
            return true;
        case Rtl::varCurrency: {
            const Int64 s = v.ToCurrency().Value;
            out.Negative = s < 0;
            out.Mantissa = s < 0 ? static_cast<unsigned __int128>(-(s + 1)) + 1 : static_cast<unsigned __int128>(s);
            out.Scale = 4;
            return true;
        }
        case Rtl::varDecimal: {
            const TDecimal d = v.ToDecimal();
            out.Negative = d.Sign != 0;
            out.Mantissa = (static_cast<unsigned __int128>(d.Hi32) << 64) | d.Lo64;
            out.Scale = d.Scale;
            return true;
        }
        case Rtl::varSingle:
        case Rtl::varDouble:
        case Rtl::varDate: {
            const double d = v.ToDouble();
            if (!std::isfinite(d)) return false;
            return ParseExactDecimal(DoubleToShortest(d), out);
        }
        case Rtl::varString:
        case Rtl::varOleStr: {
            String s = Rtl::Trim(v.ToString());
            const char sep = Rtl::FormatSettings().DecimalSeparator;
            if (sep != '.')
                for (char& c : s)
                    if (c == sep) c = '.';
            return ParseExactDecimal(s, out);
        }
        default:
            return false;
    }
}

// Signed 64-bit value of an exact integral decimal; false when it has a
// fraction or does not fit.
bool ExactToInt64(TExactDecimal x, Int64& out) noexcept {
    while (x.Scale > 0) {
        if (x.Mantissa % 10 != 0) return false;
        x.Mantissa /= 10;
        --x.Scale;
    }
    while (x.Scale < 0) {
        if (x.Mantissa > Limit38 / 10) return false;
        x.Mantissa *= 10;
        ++x.Scale;
    }
    constexpr unsigned __int128 maxPos = static_cast<unsigned __int128>(INT64_MAX);
    if (x.Negative) {
        if (x.Mantissa > maxPos + 1) return false;
        out = x.Mantissa == maxPos + 1 ? INT64_MIN : -static_cast<Int64>(x.Mantissa);
    } else {
        if (x.Mantissa > maxPos) return false;
        out = static_cast<Int64>(x.Mantissa);
    }
    return true;
}

bool ExactToUInt64(TExactDecimal x, UInt64& out) noexcept {
    while (x.Scale > 0) {
        if (x.Mantissa % 10 != 0) return false;
        x.Mantissa /= 10;
        --x.Scale;
    }
    while (x.Scale < 0) {
        if (x.Mantissa > Limit38 / 10) return false;
        x.Mantissa *= 10;
        ++x.Scale;
    }
    if (x.Negative && x.Mantissa != 0) return false;
    if (x.Mantissa > UINT64_MAX) return false;
    out = static_cast<UInt64>(x.Mantissa);
    return true;
}

bool HasFraction(TExactDecimal x) noexcept {
    while (x.Scale > 0) {
        if (x.Mantissa % 10 != 0) return true;
        x.Mantissa /= 10;
        --x.Scale;
    }
    return false;
}

// days since 1970-01-01 of a civil date (proleptic Gregorian).
Int64 DaysFromCivil(Int64 y, unsigned m, unsigned d) noexcept {
    y -= m <= 2;
    const Int64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<Int64>(doe) - 719468;
}

void CivilFromDays(Int64 z, int& y, int& m, int& d) noexcept {
    z += 719468;
    const Int64 era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const Int64 yy = static_cast<Int64>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

const Int64 DelphiEpochDays = DaysFromCivil(1899, 12, 30);
constexpr double MicrosPerDay = 86400.0 * 1e6;

int DaysInMonthOf(int y, int m) noexcept {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return days[m - 1];
}

bool ReadDigits(std::string_view s, std::size_t& i, int count, int& out) noexcept {
    if (i + static_cast<std::size_t>(count) > s.size()) return false;
    int v = 0;
    for (int k = 0; k < count; ++k) {
        const char c = s[i + static_cast<std::size_t>(k)];
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    i += static_cast<std::size_t>(count);
    out = v;
    return true;
}

// "HH:MM[:SS[.f...]]" from position i; leaves i after it.
bool ReadTime(std::string_view s, std::size_t& i, int& h, int& mi, int& sec, int& micro, int& digitsGiven) noexcept {
    sec = 0;
    micro = 0;
    digitsGiven = 0;
    if (!ReadDigits(s, i, 2, h) || i >= s.size() || s[i] != ':') return false;
    ++i;
    if (!ReadDigits(s, i, 2, mi)) return false;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!ReadDigits(s, i, 2, sec)) return false;
        if (i < s.size() && s[i] == '.') {
            ++i;
            int digits = 0;
            while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
                if (digits < 6)
                    micro = micro * 10 + (s[i] - '0');
                else if (s[i] != '0')
                    return false;  // below a microsecond: would be lost
                ++digits;
                ++i;
            }
            if (digits == 0) return false;
            digitsGiven = digits < 6 ? digits : 6;
            for (int k = digits; k < 6; ++k) micro *= 10;
        }
    }
    return h < 24 && mi < 60 && sec < 60;
}

}  // namespace

// ---- Kinds and names --------------------------------------------------------------------

TStorageKind StorageKindOf(DataTypeEnum type) {
    switch (type) {
        case adBoolean: return skBoolean;
        case adTinyInt: return skInt8;
        case adUnsignedTinyInt: return skUInt8;
        case adSmallInt: return skInt16;
        case adUnsignedSmallInt: return skUInt16;
        case adInteger: return skInt32;
        case adUnsignedInt: return skUInt32;
        case adBigInt: return skInt64;
        case adUnsignedBigInt: return skUInt64;
        case adSingle: return skSingle;
        case adDouble: return skDouble;
        case adCurrency: return skCurrency;
        case adDate:
        case adDBDate:
        case adDBTime:
        case adDBTimeStamp: return skDate;
        case adDecimal:
        case adNumeric:
        case adVarNumeric: return skDecimal;
        case adGUID: return skGuid;
        case adBSTR:
        case adChar:
        case adVarChar:
        case adLongVarChar:
        case adWChar:
        case adVarWChar:
        case adLongVarWChar: return skText;
        case adBinary:
        case adVarBinary:
        case adLongVarBinary: return skBytes;
        default:
            throw EEngineError("Columns of type " + DataTypeName(type) + " cannot be held by the engine",
                               AdoErrorHResult(adErrFeatureNotAvailable));
    }
}

bool IsVariableKind(TStorageKind kind) noexcept { return kind == skText || kind == skBytes; }

int FixedWidthOf(TStorageKind kind) noexcept {
    switch (kind) {
        case skBoolean:
        case skInt8:
        case skUInt8: return 1;
        case skInt16:
        case skUInt16: return 2;
        case skInt32:
        case skUInt32:
        case skSingle: return 4;
        case skInt64:
        case skUInt64:
        case skDouble:
        case skCurrency:
        case skDate: return 8;
        case skDecimal:
        case skGuid: return 16;
        case skText:
        case skBytes: return 0;
    }
    return 0;
}

String DataTypeName(int type) {
    switch (type) {
        case adEmpty: return "adEmpty";
        case adSmallInt: return "adSmallInt";
        case adInteger: return "adInteger";
        case adSingle: return "adSingle";
        case adDouble: return "adDouble";
        case adCurrency: return "adCurrency";
        case adDate: return "adDate";
        case adBSTR: return "adBSTR";
        case adIDispatch: return "adIDispatch";
        case adError: return "adError";
        case adBoolean: return "adBoolean";
        case adVariant: return "adVariant";
        case adIUnknown: return "adIUnknown";
        case adDecimal: return "adDecimal";
        case adTinyInt: return "adTinyInt";
        case adUnsignedTinyInt: return "adUnsignedTinyInt";
        case adUnsignedSmallInt: return "adUnsignedSmallInt";
        case adUnsignedInt: return "adUnsignedInt";
        case adBigInt: return "adBigInt";
        case adUnsignedBigInt: return "adUnsignedBigInt";
        case adFileTime: return "adFileTime";
        case adGUID: return "adGUID";
        case adBinary: return "adBinary";
        case adChar: return "adChar";
        case adWChar: return "adWChar";
        case adNumeric: return "adNumeric";
        case adUserDefined: return "adUserDefined";
        case adDBDate: return "adDBDate";
        case adDBTime: return "adDBTime";
        case adDBTimeStamp: return "adDBTimeStamp";
        case adChapter: return "adChapter";
        case adPropVariant: return "adPropVariant";
        case adVarNumeric: return "adVarNumeric";
        case adVarChar: return "adVarChar";
        case adLongVarChar: return "adLongVarChar";
        case adVarWChar: return "adVarWChar";
        case adLongVarWChar: return "adLongVarWChar";
        case adVarBinary: return "adVarBinary";
        case adLongVarBinary: return "adLongVarBinary";
        default: return std::to_string(type);
    }
}

bool TColumnInfo::HasSizeLimit() const noexcept {
    if (DefinedSize <= 0 || HasAttribute(adFldLong)) return false;
    switch (Type) {
        case adChar:
        case adVarChar:
        case adWChar:
        case adVarWChar:
        case adBinary:
        case adVarBinary: return true;
        default: return false;
    }
}

void TRowBuffer::SetOwnedText(std::size_t i, std::string_view s) {
    String& scratch = FScratch[i];
    scratch.assign(s.data(), s.size());
    FCells[i].Null = false;
    FCells[i].Data = scratch.data();
    FCells[i].Size = scratch.size();
}

// ---- Cells and variants ------------------------------------------------------------------

Variant CellToVariant(const TColumnInfo& column, TStorageKind kind, const TCell& cell) {
    if (cell.Null) return Variant::Null();
    switch (kind) {
        case skBoolean: return Variant(cell.I != 0);
        case skInt8: return Variant(static_cast<signed char>(cell.I));
        case skUInt8: return Variant(static_cast<unsigned char>(cell.U));
        case skInt16: return Variant(static_cast<short>(cell.I));
        case skUInt16: return Variant(static_cast<unsigned short>(cell.U));
        case skInt32: return Variant(static_cast<int>(cell.I));
        case skUInt32: return Variant(static_cast<unsigned>(cell.U));
        case skInt64: return Variant(static_cast<long long>(cell.I));
        case skUInt64: return Variant(static_cast<unsigned long long>(cell.U));
        case skSingle: return Variant(static_cast<float>(cell.D));
        case skDouble: return Variant(cell.D);
        case skCurrency: return Variant(Currency::FromScaled(cell.I));
        case skDate: return Variant(TDateTime(cell.D));
        case skDecimal: return Variant(cell.GetDecimal());
        case skGuid: return Variant(Rtl::Utf8ToWide(FormatGuid(cell.Raw)));
        case skText: return Variant(Rtl::Utf8ToWide(cell.GetView()));
        case skBytes: return Rtl::BytesToVarArray(cell.Data, cell.Size);
    }
    (void)column;
    return Variant::Null();
}

String DescribeValue(const Variant& value) {
    const Variant v = value.IsByRef() ? value.Deref() : value;
    if (v.IsNull()) return "Null";
    if (v.IsEmpty()) return "Empty";
    if (v.IsArray()) {
        if (Rtl::VarArrayElementType(v) == Rtl::varByte && Rtl::VarArrayDimCount(v) == 1)
            return "a byte array of " +
                   std::to_string(Rtl::VarArrayHighBound(v, 1) - Rtl::VarArrayLowBound(v, 1) + 1) + " bytes";
        return "an array";
    }
    const Rtl::TVarType t = v.BaseType();
    if (t == Rtl::varString || t == Rtl::varOleStr) {
        String quoted = "'";
        quoted += ClipForMessage(v.ToString(), 100);
        quoted += '\'';
        return quoted;
    }
    if (t == Rtl::varUnknown || t == Rtl::varDispatch) return "an object";
    try {
        return v.ToString();
    } catch (const Rtl::Exception&) {
        return "a value of type " + Rtl::VarTypeAsText(t);
    }
}

void VariantToCell(const TColumnInfo& column, TStorageKind kind, const Variant& value, TCell& cell,
                   String& scratch, std::string_view role) {
    const Variant v = value.IsByRef() ? value.Deref() : value;
    cell.Data = nullptr;
    cell.Size = 0;
    if (v.IsNull() || v.IsEmpty()) {
        cell.Null = true;
        return;
    }
    cell.Null = false;
    const Rtl::TVarType t = v.BaseType();
    const bool isText = !v.IsArray() && (t == Rtl::varString || t == Rtl::varOleStr);
    const bool isBytes = v.IsArray() && Rtl::VarArrayElementType(v) == Rtl::varByte && Rtl::VarArrayDimCount(v) == 1;
    if (v.IsArray() && !isBytes) CannotStore(role, column, v, "arrays cannot be stored in a column");
    if ((t == Rtl::varUnknown || t == Rtl::varDispatch) && !v.IsArray())
        CannotStore(role, column, v, "objects cannot be stored in a column");
    try {
        switch (kind) {
            case skBoolean:
                if (isBytes) CannotStore(role, column, v, "not a boolean");
                cell.I = v.ToBoolean() ? 1 : 0;
                return;
            case skInt8:
            case skInt16:
            case skInt32:
            case skInt64:
            case skUInt8:
            case skUInt16:
            case skUInt32:
            case skUInt64: {
                TExactDecimal x;
                if (isBytes || !VariantToExact(v, x)) CannotStore(role, column, v, "not a number");
                if (HasFraction(x)) CannotStore(role, column, v, "the column holds whole numbers only", hrDataOverflow);
                const bool isUnsigned = kind == skUInt8 || kind == skUInt16 || kind == skUInt32 || kind == skUInt64;
                if (isUnsigned) {
                    UInt64 u;
                    if (!ExactToUInt64(x, u)) CannotStore(role, column, v, "out of range", hrDataOverflow);
                    const UInt64 max = kind == skUInt8 ? 0xFF : kind == skUInt16 ? 0xFFFF
                                                             : kind == skUInt32 ? 0xFFFFFFFFull
                                                                                : UINT64_MAX;
                    if (u > max) CannotStore(role, column, v, "out of range", hrDataOverflow);
                    cell.U = u;
                } else {
                    Int64 i;
                    if (!ExactToInt64(x, i)) CannotStore(role, column, v, "out of range", hrDataOverflow);
                    const Int64 lo = kind == skInt8 ? INT8_MIN : kind == skInt16 ? INT16_MIN
                                                             : kind == skInt32 ? INT32_MIN
                                                                               : INT64_MIN;
                    const Int64 hi = kind == skInt8 ? INT8_MAX : kind == skInt16 ? INT16_MAX
                                                             : kind == skInt32 ? INT32_MAX
                                                                               : INT64_MAX;
                    if (i < lo || i > hi) CannotStore(role, column, v, "out of range", hrDataOverflow);
                    cell.I = i;
                }
                return;
            }
            case skSingle: {
                if (isBytes) CannotStore(role, column, v, "not a number");
                const double d = v.ToDouble();
                if (std::isfinite(d) && std::fabs(d) > FLT_MAX) CannotStore(role, column, v, "out of range", hrDataOverflow);
                cell.D = static_cast<float>(d);
                return;
            }
            case skDouble:
                if (isBytes) CannotStore(role, column, v, "not a number");
                cell.D = v.ToDouble();
                return;
            case skCurrency:
                if (isBytes) CannotStore(role, column, v, "not a number");
                cell.I = v.ToCurrency().Value;
                return;
            case skDate: {
                if (isBytes) CannotStore(role, column, v, "not a date");
                double d = 0;
                if (isText) {
                    const String s = Rtl::Trim(v.ToString());
                    if (!ParseIsoDateTime(s, column.Type == adDBTime, d)) d = v.ToDateTime().Value;
                } else {
                    d = v.ToDateTime().Value;
                }
                if (!(d >= Rtl::MinDateTime && d < Rtl::MaxDateTime + 1e-9))
                    CannotStore(role, column, v, "outside the range of dates", hrDataOverflow);
                if (column.Type == adDBDate && d != std::trunc(d))
                    CannotStore(role, column, v, "the column holds dates without a time of day", hrDataOverflow);
                if (column.Type == adDBTime && (d < 0 || d >= 1))
                    CannotStore(role, column, v, "the column holds times of day without a date", hrDataOverflow);
                cell.D = d;
                return;
            }
            case skDecimal: {
                TExactDecimal x;
                if (isBytes || !VariantToExact(v, x)) CannotStore(role, column, v, "not a number");
                const int scale = column.NumericScale <= 28 ? column.NumericScale : std::min(x.Scale < 0 ? 0 : x.Scale, 28);
                const int precision = column.Precision >= 1 && column.Precision <= 29 ? column.Precision : 29;
                TDecimal d;
                // Rounding to the column's scale is the declared precision of the
                // column; more integer digits than it allows are an overflow.
                TExactDecimal rounded = x;
                if (rounded.Scale > scale) {
                    const int drop = rounded.Scale - scale;
                    if (drop > 38) {
                        rounded.Mantissa = 0;
                    } else {
                        const unsigned __int128 p = Pow10(drop);
                        const unsigned __int128 q = rounded.Mantissa / p;
                        const unsigned __int128 r = rounded.Mantissa % p;
                        rounded.Mantissa = q + (r * 2 >= p ? 1 : 0);
                    }
                    rounded.Scale = scale;
                }
                if (!ExactToDecimal(rounded, scale, precision, d))
                    CannotStore(role, column, v, "more digits than the column's precision", hrDataOverflow);
                cell.SetDecimal(d);
                return;
            }
            case skGuid: {
                if (isBytes) {
                    const auto bytes = Rtl::VarArrayToBytes(v);
                    if (bytes.size() != 16) CannotStore(role, column, v, "a GUID has 16 bytes");
                    std::memcpy(cell.Raw, bytes.data(), 16);
                    return;
                }
                if (!isText || !ParseGuidText(Rtl::Trim(v.ToString()), cell.Raw)) CannotStore(role, column, v, "not a GUID");
                return;
            }
            case skText: {
                if (isBytes) CannotStore(role, column, v, "binary data cannot be stored as text");
                if (t == Rtl::varOleStr)
                    scratch = Rtl::WideToUtf8(v.ToWideString());
                else if (t == Rtl::varDouble || t == Rtl::varSingle)
                    scratch = DoubleToShortest(v.ToDouble());
                else
                    scratch = v.ToString();
                if (column.HasSizeLimit()) {
                    const std::size_t len = Utf16Length(scratch);
                    if (len > static_cast<std::size_t>(column.DefinedSize))
                        CannotStore(role, column, v,
                                    std::to_string(len) + " characters are more than the column's " +
                                        std::to_string(column.DefinedSize),
                                    hrDataOverflow);
                }
                cell.Data = scratch.data();
                cell.Size = scratch.size();
                return;
            }
            case skBytes: {
                if (isBytes) {
                    const auto bytes = Rtl::VarArrayToBytes(v);
                    scratch.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
                } else if (isText) {
                    scratch = t == Rtl::varOleStr ? Rtl::WideToUtf8(v.ToWideString()) : v.ToString();
                } else {
                    CannotStore(role, column, v, "not binary data");
                }
                if (column.HasSizeLimit() && scratch.size() > static_cast<std::size_t>(column.DefinedSize))
                    CannotStore(role, column, v,
                                std::to_string(scratch.size()) + " bytes are more than the column's " +
                                    std::to_string(column.DefinedSize),
                                hrDataOverflow);
                cell.Data = scratch.data();
                cell.Size = scratch.size();
                return;
            }
        }
    } catch (const EEngineError&) {
        cell.Null = true;
        throw;
    } catch (const Rtl::Exception& e) {
        cell.Null = true;
        CannotStore(role, column, v, e.Message());
    }
}

// ---- Exact numbers -----------------------------------------------------------------------

bool ParseExactDecimal(std::string_view s, TExactDecimal& out) noexcept {
    std::size_t i = 0;
    TExactDecimal r;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) r.Negative = s[i++] == '-';
    int digits = 0;
    int fraction = 0;
    bool any = false;
    auto take = [&](char c) -> bool {
        any = true;
        if (r.Mantissa == 0 && c == '0') return true;  // leading zeros
        if (++digits > 38) return false;
        r.Mantissa = r.Mantissa * 10 + static_cast<unsigned>(c - '0');
        return true;
    };
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
        if (!take(s[i++])) return false;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            if (!take(s[i++])) return false;
            ++fraction;
        }
    }
    if (!any) return false;
    int exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negExp = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) negExp = s[i++] == '-';
        if (i >= s.size()) return false;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            exponent = exponent * 10 + (s[i++] - '0');
            if (exponent > 100000) return false;
        }
        if (negExp) exponent = -exponent;
    }
    if (i != s.size()) return false;
    r.Scale = fraction - exponent;
    if (r.Mantissa == 0) r.Scale = 0;
    out = r;
    return true;
}

bool ExactToDecimal(TExactDecimal x, int scale, int maxPrecision, TDecimal& out) noexcept {
    if (scale < 0 || scale > 28) return false;
    while (x.Scale > scale) {
        if (x.Mantissa % 10 != 0) return false;
        x.Mantissa /= 10;
        --x.Scale;
    }
    while (x.Scale < scale) {
        if (x.Mantissa > Limit38 / 10) return false;
        x.Mantissa *= 10;
        ++x.Scale;
    }
    if (x.Mantissa > Max96) return false;
    if (x.Mantissa != 0 && DigitCount(x.Mantissa) > std::min(maxPrecision, 29)) return false;
    TDecimal d;
    d.Scale = static_cast<Byte>(scale);
    d.Sign = x.Negative && x.Mantissa != 0 ? 0x80 : 0;
    d.Hi32 = static_cast<Rtl::LongWord>(x.Mantissa >> 64);
    d.Lo64 = static_cast<UInt64>(x.Mantissa);
    out = d;
    return true;
}

bool ExactToCurrency(const TExactDecimal& value, Int64& scaled) noexcept {
    TExactDecimal x = value;
    while (x.Scale > 4) {
        if (x.Mantissa % 10 != 0) return false;
        x.Mantissa /= 10;
        --x.Scale;
    }
    while (x.Scale < 4) {
        if (x.Mantissa > Limit38 / 10) return false;
        x.Mantissa *= 10;
        ++x.Scale;
    }
    x.Scale = 0;  // the mantissa is now the value scaled by 10000
    return ExactToInt64(x, scaled);
}

String DoubleToShortest(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return String(buf, res.ptr);
}

String DecimalToText(const TDecimal& d) {
    const unsigned __int128 m = (static_cast<unsigned __int128>(d.Hi32) << 64) | d.Lo64;
    const String digits = Int128ToText(m);
    const std::size_t scale = d.Scale;
    String out;
    if (d.Sign && m != 0) out += '-';
    if (scale == 0) {
        out += digits;
    } else if (digits.size() <= scale) {
        out += "0.";
        out.append(scale - digits.size(), '0');
        out += digits;
    } else {
        out.append(digits, 0, digits.size() - scale);
        out += '.';
        out.append(digits, digits.size() - scale, String::npos);
    }
    return out;
}

// ---- Dates ---------------------------------------------------------------------------------

bool EncodeDateTimeUs(int year, int month, int day, int hour, int minute, int second, int micro,
                      double& out) noexcept {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonthOf(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || micro < 0 ||
        micro > 999999)
        return false;
    const Int64 days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - DelphiEpochDays;
    const Int64 micros = ((static_cast<Int64>(hour) * 60 + minute) * 60 + second) * 1000000 + micro;
    const double frac = static_cast<double>(micros) / MicrosPerDay;
    out = days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
    return true;
}

namespace {

// Splits a date into its parts with the time of day rounded to unit microseconds.
bool DecodeRounded(double value, Int64 unit, int& year, int& month, int& day, int& hour, int& minute, int& second,
                   int& micro, Int64* totalMicros = nullptr) noexcept {
    if (!std::isfinite(value) || value < Rtl::MinDateTime - 1 || value > Rtl::MaxDateTime + 1) return false;
    Int64 days = static_cast<Int64>(std::trunc(value));
    const double frac = std::fabs(value - static_cast<double>(days));
    Int64 micros = std::llround(frac * MicrosPerDay / static_cast<double>(unit)) * unit;
    if (micros >= static_cast<Int64>(MicrosPerDay)) {
        micros -= static_cast<Int64>(MicrosPerDay);
        ++days;
    }
    if (totalMicros) *totalMicros = days * static_cast<Int64>(MicrosPerDay) + micros;
    CivilFromDays(days + DelphiEpochDays, year, month, day);
    micro = static_cast<int>(micros % 1000000);
    Int64 secs = micros / 1000000;
    second = static_cast<int>(secs % 60);
    minute = static_cast<int>((secs / 60) % 60);
    hour = static_cast<int>(secs / 3600);
    return year >= 1 && year <= 9999;
}

// Microseconds between two neighbouring doubles near value.
double UlpMicros(double value) noexcept {
    return (std::nextafter(std::fabs(value), INFINITY) - std::fabs(value)) * MicrosPerDay;
}

}  // namespace

bool DecodeDateTimeUs(double value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                      int& micro) noexcept {
    return DecodeRounded(value, 1, year, month, day, hour, minute, second, micro);
}

bool ParseIsoDateTime(std::string_view s, bool timeOnly, double& out) noexcept {
    std::size_t i = 0;
    int y = 1899, mo = 12, d = 30, h = 0, mi = 0, sec = 0, micro = 0, digits = 0;
    if (timeOnly) {
        if (!ReadTime(s, i, h, mi, sec, micro, digits) || i != s.size()) return false;
        out = static_cast<double>(((static_cast<Int64>(h) * 60 + mi) * 60 + sec) * 1000000 + micro) / MicrosPerDay;
        return true;
    }
    if (!ReadDigits(s, i, 4, y) || i >= s.size() || s[i] != '-') return false;
    ++i;
    if (!ReadDigits(s, i, 2, mo) || i >= s.size() || s[i] != '-') return false;
    ++i;
    if (!ReadDigits(s, i, 2, d)) return false;
    if (i < s.size() && (s[i] == ' ' || s[i] == 'T')) {
        ++i;
        if (!ReadTime(s, i, h, mi, sec, micro, digits)) return false;
        if (i < s.size() && s[i] == 'Z') ++i;
    }
    if (i != s.size()) return false;
    if (!EncodeDateTimeUs(y, mo, d, h, mi, sec, micro, out)) return false;
    // Far from 1899 a date's double cannot hold every microsecond: refuse a
    // value that would not read back the same to the digits given, rather
    // than round it away.
    Int64 unit = 1;
    for (int k = digits; k < 6; ++k) unit *= 10;
    int y2, mo2, d2, h2, mi2, s2, us2;
    Int64 got;
    if (!DecodeRounded(out, 1, y2, mo2, d2, h2, mi2, s2, us2, &got)) return false;
    const Int64 days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) - DelphiEpochDays;
    const Int64 want = days * static_cast<Int64>(MicrosPerDay) + ((static_cast<Int64>(h) * 60 + mi) * 60 + sec) * 1000000 + micro;
    const Int64 diff = got > want ? got - want : want - got;
    return diff * 2 < unit;
}

String FormatIsoDateTime(double value, DataTypeEnum type) {
    int y, mo, d, h, mi, sec, micro;
    // Show microseconds only where the double holds them.
    const Int64 unit = UlpMicros(value) >= 1 ? 1000 : 1;
    if (!DecodeRounded(value, unit, y, mo, d, h, mi, sec, micro))
        throw EEngineError("The date value " + DoubleToShortest(value) + " is outside the range of dates",
                           hrDataOverflow);
    char buf[64];
    int n = 0;
    if (type == adDBDate) {
        n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, mo, d);
    } else {
        if (type == adDBTime)
            n = std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, mi, sec);
        else
            n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, sec);
        if (micro != 0) {
            if (micro % 1000 == 0)
                n += std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), ".%03d", micro / 1000);
            else
                n += std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), ".%06d", micro);
        }
    }
    return String(buf, static_cast<std::size_t>(n));
}

// ---- GUIDs and text lengths ---------------------------------------------------------------

bool ParseGuidText(std::string_view s, Byte out[16]) noexcept {
    if (s.size() == 38) {
        if (s.front() != '{' || s.back() != '}') return false;
        s = s.substr(1, 36);
    }
    if (s.size() != 36) return false;
    int b = 0;
    for (std::size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (s[i] != '-') return false;
            ++i;
            continue;
        }
        int v = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = s[i++];
            int x;
            if (c >= '0' && c <= '9') x = c - '0';
            else if (c >= 'a' && c <= 'f') x = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') x = c - 'A' + 10;
            else return false;
            v = v * 16 + x;
        }
        out[b++] = static_cast<Byte>(v);
    }
    return b == 16;
}

String FormatGuid(const Byte g[16]) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[0],
                  g[1], g[2], g[3], g[4], g[5], g[6], g[7], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return String(buf, 38);
}

std::size_t Utf16Length(std::string_view s) noexcept {
    std::size_t n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80) ++n;       // each lead or ASCII byte starts one unit
        if (c >= 0xF0 && c <= 0xF4) ++n;   // four-byte sequences need a surrogate pair
    }
    return n;
}

}  // namespace DataEngine
