// Server types to ADO types, the server's text format to typed cells, and
// parameter values to the text the server reads.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "Platform/data-engine/providers/postgres/PgCommon.h"
#include "Platform/data-engine/providers/sqlite/SqliteProvider.h"  // ApplyTypeDefaults

namespace DataEngine {

using namespace Velora;
using namespace DataEngine::Postgres;

TColumnInfo MapPgType(unsigned typeOid, int typmod) {
    TColumnInfo c;
    auto set = [&](DataTypeEnum type, const char* declared) {
        c.Type = type;
        c.DeclaredType = declared;
        ApplyTypeDefaults(c);
    };
    switch (typeOid) {
        case oidBool: set(adBoolean, "boolean"); break;
        case oidInt2: set(adSmallInt, "smallint"); break;
        case oidInt4: set(adInteger, "integer"); break;
        case oidInt8: set(adBigInt, "bigint"); break;
        case oidOid: set(adUnsignedInt, "oid"); break;
        case oidFloat4: set(adSingle, "real"); break;
        case oidFloat8: set(adDouble, "double precision"); break;
        case oidNumeric:
            set(adNumeric, "numeric");
            if (typmod >= 4) {
                const int p = ((typmod - 4) >> 16) & 0xFFFF;
                // The scale is an 11-bit signed number (negative scales round to tens).
                const int s = (((typmod - 4) & 0x7FF) ^ 1024) - 1024;
                const int precision = s < 0 ? p - s : p;
                c.Precision = static_cast<Byte>(precision > 255 ? 255 : precision);
                c.NumericScale = static_cast<Byte>(s < 0 ? 0 : s);
                c.DeclaredType = "numeric(" + std::to_string(p) + "," + std::to_string(s) + ")";
            } else {
                // Unconstrained: each value keeps its own scale.
                c.Precision = 29;
                c.NumericScale = 255;
            }
            break;
        case oidText: set(adLongVarWChar, "text"); break;
        case oidVarchar:
            if (typmod >= 4) {
                set(adVarWChar, "character varying");
                c.DefinedSize = typmod - 4;
                c.DeclaredType = "character varying(" + std::to_string(typmod - 4) + ")";
            } else {
                set(adLongVarWChar, "character varying");
            }
            break;
        case oidBpchar:
            set(adWChar, "character");
            c.DefinedSize = typmod >= 4 ? typmod - 4 : 1;
            c.DeclaredType = "character(" + std::to_string(c.DefinedSize) + ")";
            break;
        case oidChar:
            set(adWChar, "\"char\"");
            c.DefinedSize = 1;
            break;
        case oidName:
            set(adVarWChar, "name");
            c.DefinedSize = 63;
            break;
        case oidBytea: set(adLongVarBinary, "bytea"); break;
        case oidDate: set(adDBDate, "date"); break;
        case oidTime: set(adDBTime, "time without time zone"); break;
        case oidTimestamp: set(adDBTimeStamp, "timestamp without time zone"); break;
        case oidTimestampTz: set(adDBTimeStamp, "timestamp with time zone"); break;
        case oidUuid: set(adGUID, "uuid"); break;
        case oidJson: set(adLongVarWChar, "json"); break;
        case oidJsonb: set(adLongVarWChar, "jsonb"); break;
        case oidXml: set(adLongVarWChar, "xml"); break;
        default:
            // Intervals, time with time zone, arrays, network addresses, enums,
            // ranges and the rest arrive as their text.
            set(adLongVarWChar, "");
            c.DeclaredType = "oid " + std::to_string(typeOid);
            break;
    }
    if ((typeOid == oidTime || typeOid == oidTimestamp || typeOid == oidTimestampTz) && typmod >= 0 && typmod < 6)
        c.NumericScale = static_cast<Byte>(typmod);
    return c;
}

}  // namespace DataEngine

namespace DataEngine::Postgres {

using namespace Velora;

TPgDecoder DecoderOf(Oid type) noexcept {
    switch (type) {
        case oidBool: return pdBool;
        case oidInt2:
        case oidInt4:
        case oidInt8: return pdInt;
        case oidOid: return pdUnsigned;
        case oidFloat4: return pdFloat4;
        case oidFloat8: return pdFloat8;
        case oidNumeric: return pdNumeric;
        case oidDate: return pdDate;
        case oidTime: return pdTime;
        case oidTimestamp: return pdTimestamp;
        case oidTimestampTz: return pdTimestampTz;
        case oidUuid: return pdUuid;
        case oidBytea: return pdBytea;
        default: return pdText;
    }
}

namespace {

[[noreturn]] void DoesNotFit(const TColumnInfo& column, std::string_view text, std::string_view why,
                             HRESULT hr = hrCantConvertValue) {
    throw EEngineError("Column \"" + column.Name + "\" holds '" + ClipForMessage(text, 100) + "', which does not fit its type " +
                           DataTypeName(column.Type) + ": " + String(why),
                       hr, 0, hr == hrDataOverflow ? "22003" : "22018", "PostgreSQL");
}

// Days from 1970-01-01 to a civil date, and back (proleptic Gregorian).
Int64 DaysFromCivil(Int64 y, unsigned m, unsigned d) noexcept {
    y -= m <= 2;
    const Int64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<Int64>(doe) - 719468;
}
void CivilFromDays(Int64 z, Int64& y, unsigned& m, unsigned& d) noexcept {
    z += 719468;
    const Int64 era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<Int64>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

// A timestamptz text: the local time, then the offset "+HH[:MM[:SS]]". The
// value is brought to UTC.
bool ParseTimestampTz(std::string_view s, double& out) {
    // The offset starts at the last sign after the time of day.
    std::size_t sign = std::string_view::npos;
    for (std::size_t k = s.size(); k > 11; --k)
        if (s[k - 1] == '+' || s[k - 1] == '-') {
            sign = k - 1;
            break;
        }
    if (sign == std::string_view::npos) return ParseIsoDateTime(s, false, out);
    int parts[3] = {0, 0, 0};
    int n = 0;
    std::size_t i = sign + 1;
    while (i < s.size() && n < 3) {
        if (i + 2 > s.size() || !(s[i] >= '0' && s[i] <= '9') || !(s[i + 1] >= '0' && s[i + 1] <= '9')) return false;
        parts[n++] = (s[i] - '0') * 10 + (s[i + 1] - '0');
        i += 2;
        if (i < s.size()) {
            if (s[i] != ':') return false;
            ++i;
        }
    }
    if (n == 0 || i != s.size()) return false;
    const Int64 offsetUs = ((static_cast<Int64>(parts[0]) * 60 + parts[1]) * 60 + parts[2]) * 1000000 * (s[sign] == '-' ? -1 : 1);
    double local;
    if (!ParseIsoDateTime(s.substr(0, sign), false, local)) return false;
    if (offsetUs == 0) {
        out = local;
        return true;
    }
    int y, mo, d, h, mi, sec, us;
    if (!DecodeDateTimeUs(local, y, mo, d, h, mi, sec, us)) return false;
    Int64 total = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400000000LL +
                  ((static_cast<Int64>(h) * 60 + mi) * 60 + sec) * 1000000 + us - offsetUs;
    Int64 days = total / 86400000000LL, rem = total % 86400000000LL;
    if (rem < 0) {
        rem += 86400000000LL;
        --days;
    }
    Int64 yy;
    unsigned mm, dd;
    CivilFromDays(days, yy, mm, dd);
    if (yy < 1 || yy > 9999) return false;
    const Int64 secs = rem / 1000000;
    return EncodeDateTimeUs(static_cast<int>(yy), static_cast<int>(mm), static_cast<int>(dd), static_cast<int>(secs / 3600),
                            static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60), static_cast<int>(rem % 1000000),
                            out);
}

// Hex digit values; -1 for other characters (so that OR-ing detects them).
constexpr auto HexDigits = [] {
    std::array<signed char, 256> t{};
    t.fill(-1);
    for (int c = 0; c < 10; ++c) t[static_cast<std::size_t>('0' + c)] = static_cast<signed char>(c);
    for (int c = 0; c < 6; ++c) {
        t[static_cast<std::size_t>('a' + c)] = static_cast<signed char>(10 + c);
        t[static_cast<std::size_t>('A' + c)] = static_cast<signed char>(10 + c);
    }
    return t;
}();

// bytea in the hex format ("\x0a1b") or the older escape format.
bool DecodeBytea(std::string_view s, String& out) {
    out.clear();
    if (s.size() >= 2 && s[0] == '\\' && s[1] == 'x') {
        if ((s.size() - 2) % 2 != 0) return false;
        const std::size_t n = (s.size() - 2) / 2;
        out.resize(n);
        const auto* src = reinterpret_cast<const unsigned char*>(s.data()) + 2;
        char* dst = out.data();
        for (std::size_t k = 0; k < n; ++k) {
            const int hi = HexDigits[src[2 * k]], lo = HexDigits[src[2 * k + 1]];
            if ((hi | lo) < 0) return false;
            dst[k] = static_cast<char>((hi << 4) | lo);
        }
        return true;
    }
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (i + 1 < s.size() && s[i + 1] == '\\') {
            out += '\\';
            ++i;
            continue;
        }
        if (i + 3 >= s.size()) return false;
        int v = 0;
        for (std::size_t k = 1; k <= 3; ++k) {
            const char c = s[i + k];
            if (c < '0' || c > '7') return false;
            v = v * 8 + (c - '0');
        }
        if (v > 255) return false;
        out += static_cast<char>(v);
        i += 3;
    }
    return true;
}

template <class T>
bool ParseWhole(std::string_view s, T& out) {
    const auto res = std::from_chars(s.data(), s.data() + s.size(), out);
    return res.ec == std::errc() && res.ptr == s.data() + s.size();
}

template <class T>
bool ParseFloat(std::string_view s, T& out) {
    // from_chars reads "inf", "infinity" and "nan" without regard to case, and no '+'.
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    const auto res = std::from_chars(s.data(), s.data() + s.size(), out);
    return res.ec == std::errc() && res.ptr == s.data() + s.size();
}

// [+-]digits[.digits][(e|E)[+-]digits], any number of digits, or NaN / Infinity.
bool IsNumericText(std::string_view s) {
    if (Rtl::SameText(s, "NaN") || Rtl::SameText(s, "Infinity") || Rtl::SameText(s, "-Infinity") ||
        Rtl::SameText(s, "+Infinity"))
        return true;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exp = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++exp;
        if (exp == 0) return false;
    }
    return i == s.size();
}

String FormatFloat(double d, bool single) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
    char buf[64];
    const auto res = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(d))
                            : std::to_chars(buf, buf + sizeof buf, d);
    return String(buf, res.ptr);
}

}  // namespace

void DecodePgValue(TPgDecoder decoder, const char* p, std::size_t n, const TColumnInfo& column, TStorageKind kind,
                   TCell& cell, String& scratch) {
    const std::string_view s(p, n);
    cell.Null = false;
    switch (decoder) {
        case pdText:
            cell.Data = p;
            cell.Size = n;
            return;
        case pdBool:
            if (s == "t") cell.I = 1;
            else if (s == "f") cell.I = 0;
            else DoesNotFit(column, s, "not a boolean");
            return;
        case pdInt: {
            Int64 v;
            if (!ParseWhole(s, v)) DoesNotFit(column, s, "not a whole number");
            cell.I = v;
            return;
        }
        case pdUnsigned: {
            UInt64 v;
            if (!ParseWhole(s, v)) DoesNotFit(column, s, "not a whole number");
            cell.U = v;
            return;
        }
        case pdFloat4: {
            float f;
            if (!ParseFloat(s, f)) DoesNotFit(column, s, "not a number");
            cell.D = f;
            return;
        }
        case pdFloat8: {
            double d;
            if (!ParseFloat(s, d)) DoesNotFit(column, s, "not a number");
            cell.D = d;
            return;
        }
        case pdNumeric: {
            TExactDecimal x;
            if (!ParseExactDecimal(s, x)) DoesNotFit(column, s, "not a finite number a decimal can hold");
            if (kind == skDouble) {  // not reached with the standard mapping; kept for overridden columns
                cell.D = std::strtod(String(s).c_str(), nullptr);
                return;
            }
            const int own = x.Scale < 0 ? 0 : x.Scale;
            const int scale = column.NumericScale <= 28 ? column.NumericScale : (own > 28 ? 28 : own);
            TDecimal d;
            if (!ExactToDecimal(x, scale, 29, d))
                DoesNotFit(column, s, "a decimal holds 29 digits, at most 28 of them after the point", hrDataOverflow);
            cell.SetDecimal(d);
            return;
        }
        case pdDate:
        case pdTime:
        case pdTimestamp:
        case pdTimestampTz: {
            double v;
            const bool ok = decoder == pdTimestampTz ? ParseTimestampTz(s, v) : ParseIsoDateTime(s, decoder == pdTime, v);
            if (!ok)
                DoesNotFit(column, s,
                           decoder == pdTime ? "a time of day from 00:00:00 to 23:59:59.999999"
                                             : "dates run from the year 1 to 9999, to the microsecond",
                           hrDataOverflow);
            cell.D = v;
            return;
        }
        case pdUuid:
            if (!ParseGuidText(s, cell.Raw)) DoesNotFit(column, s, "not a GUID");
            return;
        case pdBytea:
            if (!DecodeBytea(s, scratch)) DoesNotFit(column, s, "not bytea text");
            cell.Data = scratch.data();
            cell.Size = scratch.size();
            return;
    }
    (void)kind;
}

DataTypeEnum PgTypeOfVariant(const Variant& v, const String& label) {
    if (v.IsArray()) {
        if (Rtl::VarArrayElementType(v) == Rtl::varByte && Rtl::VarArrayDimCount(v) == 1) return adLongVarBinary;
    } else {
        switch (v.BaseType()) {
            case Rtl::varEmpty:
            case Rtl::varNull: return adEmpty;
            case Rtl::varBoolean: return adBoolean;
            case Rtl::varShortInt:
            case Rtl::varByte:
            case Rtl::varSmallint: return adSmallInt;
            case Rtl::varWord:
            case Rtl::varInteger: return adInteger;
            case Rtl::varLongWord:
            case Rtl::varInt64: return adBigInt;
            case Rtl::varUInt64: return adUnsignedBigInt;
            case Rtl::varSingle: return adSingle;
            case Rtl::varDouble: return adDouble;
            case Rtl::varCurrency: return adCurrency;
            case Rtl::varDate: return adDBTimeStamp;
            case Rtl::varDecimal: return adDecimal;
            case Rtl::varString:
            case Rtl::varOleStr: return adLongVarWChar;
            default: break;
        }
    }
    throw EEngineError("Parameter \"" + label + "\" holds " + DescribeValue(v) + ", which cannot be bound",
                       hrCantConvertValue, 0, "22018", "PostgreSQL");
}

namespace {

// The ADO type a server type's values convert to for binding.
DataTypeEnum AdoTypeForServer(Oid type) {
    switch (type) {
        case oidBool: return adBoolean;
        case oidInt2: return adSmallInt;
        case oidInt4: return adInteger;
        case oidInt8: return adBigInt;
        case oidOid: return adUnsignedInt;
        case oidFloat4: return adSingle;
        case oidFloat8: return adDouble;
        case oidNumeric: return adNumeric;
        case oidDate: return adDBDate;
        case oidTime: return adDBTime;
        case oidTimestamp:
        case oidTimestampTz: return adDBTimeStamp;
        case oidUuid: return adGUID;
        case oidBytea: return adLongVarBinary;
        default: return adEmpty;
    }
}

}  // namespace

void EncodePgParam(const Variant& value, DataTypeEnum type, const String& label, TPgParamValue& out, Oid serverType) {
    const Variant v = value.IsByRef() ? value.Deref() : value;
    out = TPgParamValue{};
    out.Type = serverType;
    if (v.IsEmpty() || v.IsNull()) return;
    if (type == adEmpty || type == adVariant) {
        const DataTypeEnum server = serverType ? AdoTypeForServer(serverType) : adEmpty;
        type = server != adEmpty ? server : PgTypeOfVariant(v, label);
        if (server == adEmpty && serverType != 0 && type != adLongVarBinary) type = adLongVarWChar;
    }
    const TStorageKind kind = StorageKindOf(type);
    // Text for a decimal keeps every digit (beyond what a decimal variant
    // holds); text for a date or time the server expects is read by the
    // server, which knows offsets, eras and infinity.
    const bool isText = !v.IsArray() && (v.BaseType() == Rtl::varString || v.BaseType() == Rtl::varOleStr);
    if (isText && (kind == skDecimal || (serverType != 0 && (kind == skDate || kind == skBoolean)))) {
        const String text = v.BaseType() == Rtl::varOleStr ? Rtl::WideToUtf8(v.ToWideString()) : v.ToString();
        const String trimmed = Rtl::Trim(text);
        if (kind == skDecimal && !IsNumericText(trimmed))
            throw EEngineError("Cannot store " + DescribeValue(v) + " in parameter \"" + label + "\" (" +
                                   DataTypeName(type) + "): not a number",
                               hrCantConvertValue, 0, "22018", "PostgreSQL");
        if (trimmed.find('\0') != String::npos)
            throw EEngineError("Parameter \"" + label + "\" holds " + DescribeValue(v) +
                                   ", with a NUL character, which PostgreSQL text cannot hold",
                               hrCantConvertValue, 0, "22021", "PostgreSQL");
        out.Null = false;
        out.Data = trimmed;
        if (!serverType) out.Type = oidNumeric;
        return;
    }
    TColumnInfo col;
    col.Name = label;
    col.Type = type;
    TCell cell;
    String scratch;
    VariantToCell(col, kind, v, cell, scratch, "parameter");
    if (cell.Null) return;
    out.Null = false;
    Oid oid = 0;
    switch (kind) {
        case skBoolean:
            out.Data = cell.I ? "t" : "f";
            oid = oidBool;
            break;
        case skInt8:
        case skInt16:
        case skInt32:
        case skInt64:
            out.Data = std::to_string(cell.I);
            oid = type == adBigInt ? oidInt8 : type == adInteger ? oidInt4 : oidInt2;
            break;
        case skUInt8:
        case skUInt16:
        case skUInt32:
        case skUInt64:
            out.Data = std::to_string(cell.U);
            oid = kind == skUInt64 ? oidNumeric : kind == skUInt32 ? oidInt8 : kind == skUInt16 ? oidInt4 : oidInt2;
            break;
        case skSingle:
            out.Data = FormatFloat(cell.D, true);
            oid = oidFloat4;
            break;
        case skDouble:
            out.Data = FormatFloat(cell.D, false);
            oid = oidFloat8;
            break;
        case skCurrency: {
            const UInt64 mag = cell.I < 0 ? 0 - static_cast<UInt64>(cell.I) : static_cast<UInt64>(cell.I);
            char buf[48];
            const int len = std::snprintf(buf, sizeof buf, "%s%llu.%04llu", cell.I < 0 ? "-" : "",
                                          static_cast<unsigned long long>(mag / 10000),
                                          static_cast<unsigned long long>(mag % 10000));
            out.Data.assign(buf, static_cast<std::size_t>(len));
            oid = oidNumeric;
            break;
        }
        case skDecimal:
            out.Data = DecimalToText(cell.GetDecimal());
            oid = oidNumeric;
            break;
        case skDate:
            out.Data = FormatIsoDateTime(cell.D, type);
            oid = type == adDBDate ? oidDate : type == adDBTime ? oidTime : oidTimestamp;
            break;
        case skGuid: {
            String g = FormatGuid(cell.Raw);  // "{...}"
            out.Data = g.substr(1, g.size() - 2);
            oid = oidUuid;
            break;
        }
        case skText: {
            const std::string_view t = cell.GetView();
            if (t.find('\0') != std::string_view::npos)
                throw EEngineError("Parameter \"" + label + "\" holds " + DescribeValue(v) +
                                       ", with a NUL character, which PostgreSQL text cannot hold",
                                   hrCantConvertValue, 0, "22021", "PostgreSQL");
            out.Data.assign(t);
            oid = 0;  // the server infers text's type from the statement
            break;
        }
        case skBytes:
            out.Data.assign(cell.GetView());
            out.Binary = true;
            oid = oidBytea;
            break;
    }
    if (!serverType) out.Type = oid;
}

}  // namespace DataEngine::Postgres
