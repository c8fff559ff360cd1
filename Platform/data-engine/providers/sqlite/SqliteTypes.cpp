// Declared SQLite types to ADO types, and SQLite values to typed cells.
#include <charconv>
#include <cmath>

#include "Platform/data-engine/providers/sqlite/SqliteCommon.h"

namespace DataEngine {

using namespace Velora;

namespace {

struct TNamedType {
    const char* Name;
    DataTypeEnum Type;
    // Sized types take DefinedSize from "(n)"; unsized spellings fall back to LongType.
    DataTypeEnum LongType;
};

// Base names (upper case, blanks collapsed) and the ADO type they declare.
// Keep in step with the table in Platform/data-engine/README.md.
const TNamedType NamedTypes[] = {
    {"INTEGER", adBigInt, adEmpty},
    {"BIGINT", adBigInt, adEmpty},
    {"INT8", adBigInt, adEmpty},
    {"UNSIGNED BIG INT", adBigInt, adEmpty},
    {"LONG", adBigInt, adEmpty},
    {"INT", adInteger, adEmpty},
    {"INT4", adInteger, adEmpty},
    {"MEDIUMINT", adInteger, adEmpty},
    {"SMALLINT", adSmallInt, adEmpty},
    {"INT2", adSmallInt, adEmpty},
    {"SHORT", adSmallInt, adEmpty},
    {"TINYINT", adUnsignedTinyInt, adEmpty},
    {"BYTE", adUnsignedTinyInt, adEmpty},
    {"BOOLEAN", adBoolean, adEmpty},
    {"BOOL", adBoolean, adEmpty},
    {"BIT", adBoolean, adEmpty},
    {"LOGICAL", adBoolean, adEmpty},
    {"YESNO", adBoolean, adEmpty},
    {"REAL", adDouble, adEmpty},
    {"DOUBLE", adDouble, adEmpty},
    {"DOUBLE PRECISION", adDouble, adEmpty},
    {"FLOAT", adDouble, adEmpty},
    {"FLOAT4", adDouble, adEmpty},
    {"FLOAT8", adDouble, adEmpty},
    {"NUMERIC", adNumeric, adDouble},
    {"DECIMAL", adNumeric, adDouble},
    {"DEC", adNumeric, adDouble},
    {"MONEY", adCurrency, adEmpty},
    {"SMALLMONEY", adCurrency, adEmpty},
    {"CURRENCY", adCurrency, adEmpty},
    {"DATE", adDBDate, adEmpty},
    {"TIME", adDBTime, adEmpty},
    {"DATETIME", adDBTimeStamp, adEmpty},
    {"DATETIME2", adDBTimeStamp, adEmpty},
    {"SMALLDATETIME", adDBTimeStamp, adEmpty},
    {"TIMESTAMP", adDBTimeStamp, adEmpty},
    {"GUID", adGUID, adEmpty},
    {"UUID", adGUID, adEmpty},
    {"UNIQUEIDENTIFIER", adGUID, adEmpty},
    {"CHAR", adWChar, adLongVarWChar},
    {"CHARACTER", adWChar, adLongVarWChar},
    {"NCHAR", adWChar, adLongVarWChar},
    {"NATIVE CHARACTER", adWChar, adLongVarWChar},
    {"VARCHAR", adVarWChar, adLongVarWChar},
    {"NVARCHAR", adVarWChar, adLongVarWChar},
    {"VARYING CHARACTER", adVarWChar, adLongVarWChar},
    {"CHARACTER VARYING", adVarWChar, adLongVarWChar},
    {"VARCHAR2", adVarWChar, adLongVarWChar},
    {"NVARCHAR2", adVarWChar, adLongVarWChar},
    {"TEXT", adLongVarWChar, adEmpty},
    {"NTEXT", adLongVarWChar, adEmpty},
    {"CLOB", adLongVarWChar, adEmpty},
    {"MEMO", adLongVarWChar, adEmpty},
    {"LONGTEXT", adLongVarWChar, adEmpty},
    {"MEDIUMTEXT", adLongVarWChar, adEmpty},
    {"JSON", adLongVarWChar, adEmpty},
    {"BLOB", adLongVarBinary, adEmpty},
    {"IMAGE", adLongVarBinary, adEmpty},
    {"LONGBLOB", adLongVarBinary, adEmpty},
    {"BYTEA", adLongVarBinary, adEmpty},
    {"BINARY", adBinary, adLongVarBinary},
    {"VARBINARY", adVarBinary, adLongVarBinary},
};

String NormalizeTypeName(std::string_view s) {
    String out;
    bool blank = false;
    for (char c : s) {
        if (static_cast<unsigned char>(c) <= ' ') {
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}

bool ParseSmallInt(std::string_view s, int& out) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    if (s.empty() || s.size() > 9) return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

[[noreturn]] void DoesNotFit(sqlite3_value* val, const TColumnInfo& column, std::string_view why,
                             HRESULT hr = hrCantConvertValue) {
    String desc;
    switch (sqlite3_value_type(val)) {
        case SQLITE_INTEGER: desc = "the integer " + std::to_string(sqlite3_value_int64(val)); break;
        case SQLITE_FLOAT: desc = "the real number " + DoubleToShortest(sqlite3_value_double(val)); break;
        case SQLITE_TEXT: {
            const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(val));
            desc = "the text '" + ClipForMessage(std::string_view(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(val))), 100) + "'";
            break;
        }
        default: desc = "a blob of " + std::to_string(sqlite3_value_bytes(val)) + " bytes"; break;
    }
    throw EEngineError("Column \"" + column.Name + "\" holds " + desc + ", which does not fit its type " +
                           DataTypeName(column.Type) + ": " + String(why),
                       hr, 0, hr == hrDataOverflow ? "22003" : "22018", "SQLite");
}

std::string_view TextOf(sqlite3_value* val) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(val));
    return {p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(val))};
}

// Reads any numeric storage class (or numeric text) as an exact decimal.
bool ExactOf(sqlite3_value* val, int type, TExactDecimal& x) {
    switch (type) {
        case SQLITE_INTEGER: {
            const Int64 v = sqlite3_value_int64(val);
            x.Negative = v < 0;
            x.Mantissa = v < 0 ? static_cast<unsigned __int128>(-(v + 1)) + 1 : static_cast<unsigned __int128>(v);
            x.Scale = 0;
            return true;
        }
        case SQLITE_FLOAT: {
            const double d = sqlite3_value_double(val);
            return std::isfinite(d) && ParseExactDecimal(DoubleToShortest(d), x);
        }
        case SQLITE_TEXT: return ParseExactDecimal(TextOf(val), x);
        default: return false;
    }
}

}  // namespace

void ApplyTypeDefaults(TColumnInfo& c) {
    c.Attributes &= ~(adFldFixed | adFldLong);
    c.Precision = 255;
    c.NumericScale = 255;
    switch (c.Type) {
        case adBoolean: c.DefinedSize = 2; c.Attributes |= adFldFixed; break;
        case adTinyInt:
        case adUnsignedTinyInt: c.DefinedSize = 1; c.Precision = 3; c.Attributes |= adFldFixed; break;
        case adSmallInt:
        case adUnsignedSmallInt: c.DefinedSize = 2; c.Precision = 5; c.Attributes |= adFldFixed; break;
        case adInteger:
        case adUnsignedInt: c.DefinedSize = 4; c.Precision = 10; c.Attributes |= adFldFixed; break;
        case adBigInt:
        case adUnsignedBigInt: c.DefinedSize = 8; c.Precision = 19; c.Attributes |= adFldFixed; break;
        case adSingle: c.DefinedSize = 4; c.Precision = 7; c.Attributes |= adFldFixed; break;
        case adDouble: c.DefinedSize = 8; c.Precision = 15; c.Attributes |= adFldFixed; break;
        case adCurrency: c.DefinedSize = 8; c.Precision = 19; c.NumericScale = 4; c.Attributes |= adFldFixed; break;
        case adDBDate: c.DefinedSize = 6; c.Precision = 10; c.NumericScale = 0; c.Attributes |= adFldFixed; break;
        case adDBTime: c.DefinedSize = 6; c.Precision = 15; c.NumericScale = 6; c.Attributes |= adFldFixed; break;
        case adDate:
        case adDBTimeStamp: c.DefinedSize = 16; c.Precision = 26; c.NumericScale = 6; c.Attributes |= adFldFixed; break;
        case adDecimal:
        case adNumeric:
            c.DefinedSize = 19;
            c.Precision = 29;
            c.NumericScale = 0;
            c.Attributes |= adFldFixed;
            break;
        case adGUID: c.DefinedSize = 16; c.Attributes |= adFldFixed; break;
        case adWChar:
        case adChar:
        case adBinary: c.Attributes |= adFldFixed; break;
        case adVarWChar:
        case adVarChar:
        case adVarBinary: break;
        case adLongVarWChar:
        case adLongVarChar: c.DefinedSize = 1073741823; c.Attributes |= adFldLong; break;
        case adLongVarBinary: c.DefinedSize = 2147483647; c.Attributes |= adFldLong; break;
        default: break;
    }
}

TColumnInfo MapSqliteDeclaredType(std::string_view declared) {
    TColumnInfo c;
    c.DeclaredType = String(declared);
    const String norm = NormalizeTypeName(declared);
    String base = norm;
    std::vector<int> args;
    bool argsOk = true;
    if (auto open = norm.find('('); open != String::npos) {
        base = NormalizeTypeName(norm.substr(0, open));
        const auto close = norm.find(')', open);
        const std::string_view inside =
            std::string_view(norm).substr(open + 1, (close == String::npos ? norm.size() : close) - open - 1);
        std::size_t start = 0;
        while (start <= inside.size()) {
            const auto comma = inside.find(',', start);
            int v;
            if (!ParseSmallInt(inside.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start), v))
                argsOk = false;
            else
                args.push_back(v);
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
        if (close == String::npos) argsOk = false;
    }
    for (const auto& nt : NamedTypes) {
        if (base != nt.Name) continue;
        const bool sized = nt.LongType != adEmpty;
        if (sized && (args.empty() || !argsOk || args[0] <= 0)) {
            c.Type = nt.LongType;
            ApplyTypeDefaults(c);
            return c;
        }
        c.Type = nt.Type;
        ApplyTypeDefaults(c);
        if (c.Type == adNumeric) {
            const int p = args[0];
            const int s = args.size() > 1 ? args[1] : 0;
            if (p > 255 || s > p) {  // a declaration no decimal can honour: take it as a double
                c.Type = adDouble;
                ApplyTypeDefaults(c);
                return c;
            }
            c.Precision = static_cast<Byte>(p);
            c.NumericScale = static_cast<Byte>(s);
        } else if (sized) {
            c.DefinedSize = args[0];
        }
        return c;
    }
    // SQLite's affinity rules for every other name.
    if (norm.empty()) return c;  // no declared type: dynamic
    if (norm.find("INT") != String::npos) c.Type = adBigInt;
    else if (norm.find("CHAR") != String::npos || norm.find("CLOB") != String::npos || norm.find("TEXT") != String::npos)
        c.Type = adLongVarWChar;
    else if (norm.find("BLOB") != String::npos) c.Type = adLongVarBinary;
    else if (norm.find("REAL") != String::npos || norm.find("FLOA") != String::npos || norm.find("DOUB") != String::npos)
        c.Type = adDouble;
    else
        return c;  // NUMERIC affinity under an unknown name: dynamic
    ApplyTypeDefaults(c);
    return c;
}

}  // namespace DataEngine

namespace DataEngine::Sqlite {

using namespace Velora;

DataTypeEnum DynamicTypeOf(int sqliteType) noexcept {
    switch (sqliteType) {
        case SQLITE_INTEGER: return adBigInt;
        case SQLITE_FLOAT: return adDouble;
        case SQLITE_BLOB: return adLongVarBinary;
        default: return adLongVarWChar;
    }
}

namespace {

void ReadCell(sqlite3_value* val, const TColumnInfo& column, TStorageKind kind, TCell& cell, String& scratch) {
    const int type = sqlite3_value_type(val);
    if (type == SQLITE_NULL) {
        cell.Null = true;
        cell.Data = nullptr;
        cell.Size = 0;
        return;
    }
    cell.Null = false;
    switch (kind) {
        case skText: {
            std::string_view text;
            if (type == SQLITE_TEXT) {
                text = TextOf(val);
            } else if (type == SQLITE_INTEGER) {
                scratch = std::to_string(sqlite3_value_int64(val));
                text = scratch;
            } else if (type == SQLITE_FLOAT) {
                scratch = DoubleToShortest(sqlite3_value_double(val));
                text = scratch;
            } else {
                const auto* p = static_cast<const char*>(sqlite3_value_blob(val));
                text = std::string_view(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(val)));
                if (!Rtl::IsValidUtf8(text)) DoesNotFit(val, column, "binary data that is not UTF-8 text");
            }
            if (column.HasSizeLimit()) {
                const std::size_t len = Utf16Length(text);
                if (len > static_cast<std::size_t>(column.DefinedSize))
                    DoesNotFit(val, column,
                               std::to_string(len) + " characters are more than its " + std::to_string(column.DefinedSize),
                               hrDataOverflow);
            }
            cell.Data = text.data();
            cell.Size = text.size();
            return;
        }
        case skBytes: {
            const char* p = nullptr;
            if (type == SQLITE_BLOB) p = static_cast<const char*>(sqlite3_value_blob(val));
            else if (type == SQLITE_TEXT) p = reinterpret_cast<const char*>(sqlite3_value_text(val));
            else DoesNotFit(val, column, "a number is not binary data");
            const auto n = static_cast<std::size_t>(sqlite3_value_bytes(val));
            if (column.HasSizeLimit() && n > static_cast<std::size_t>(column.DefinedSize))
                DoesNotFit(val, column,
                           std::to_string(n) + " bytes are more than its " + std::to_string(column.DefinedSize),
                           hrDataOverflow);
            cell.Data = p ? p : "";
            cell.Size = n;
            return;
        }
        case skInt8:
        case skInt16:
        case skInt32:
        case skInt64:
        case skUInt8:
        case skUInt16:
        case skUInt32:
        case skUInt64: {
            Int64 v;
            if (type == SQLITE_INTEGER) {
                v = sqlite3_value_int64(val);
            } else {
                TExactDecimal x;
                if (!ExactOf(val, type, x)) DoesNotFit(val, column, "not a number");
                // Whole numbers only, and within 64 bits.
                TExactDecimal w = x;
                while (w.Scale > 0 && w.Mantissa % 10 == 0) {
                    w.Mantissa /= 10;
                    --w.Scale;
                }
                if (w.Scale > 0) DoesNotFit(val, column, "it has a fraction", hrDataOverflow);
                while (w.Scale < 0 && w.Mantissa <= static_cast<unsigned __int128>(UINT64_MAX)) {
                    w.Mantissa *= 10;
                    ++w.Scale;
                }
                if (w.Scale < 0 || w.Mantissa > static_cast<unsigned __int128>(INT64_MAX) + (w.Negative ? 1 : 0))
                    DoesNotFit(val, column, "out of range", hrDataOverflow);
                v = w.Negative ? static_cast<Int64>(0 - static_cast<UInt64>(w.Mantissa)) : static_cast<Int64>(w.Mantissa);
            }
            Int64 lo = INT64_MIN, hi = INT64_MAX;
            switch (kind) {
                case skInt8: lo = INT8_MIN; hi = INT8_MAX; break;
                case skInt16: lo = INT16_MIN; hi = INT16_MAX; break;
                case skInt32: lo = INT32_MIN; hi = INT32_MAX; break;
                case skUInt8: lo = 0; hi = UINT8_MAX; break;
                case skUInt16: lo = 0; hi = UINT16_MAX; break;
                case skUInt32: lo = 0; hi = UINT32_MAX; break;
                case skUInt64: lo = 0; break;
                default: break;
            }
            if (v < lo || v > hi) DoesNotFit(val, column, "out of range", hrDataOverflow);
            cell.I = v;
            return;
        }
        case skBoolean: {
            if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
                const double d = sqlite3_value_double(val);
                if (d == 0 || d == 1) {
                    cell.I = d == 1;
                    return;
                }
            } else if (type == SQLITE_TEXT) {
                const auto t = TextOf(val);
                if (Rtl::SameText(t, "true") || t == "1") { cell.I = 1; return; }
                if (Rtl::SameText(t, "false") || t == "0") { cell.I = 0; return; }
            }
            DoesNotFit(val, column, "a boolean is 0 or 1");
        }
        case skSingle:
        case skDouble: {
            double d;
            if (type == SQLITE_FLOAT) {
                d = sqlite3_value_double(val);
            } else if (type == SQLITE_INTEGER) {
                const Int64 v = sqlite3_value_int64(val);
                d = static_cast<double>(v);
                // Beyond 2^53 not every integer has a double; refuse the ones that do not.
                if (d >= 9223372036854775808.0 || static_cast<Int64>(d) != v)
                    DoesNotFit(val, column, "the integer has no exact double", hrDataOverflow);
            } else if (type == SQLITE_TEXT) {
                const auto t = TextOf(val);
                const auto res = std::from_chars(t.data(), t.data() + t.size(), d);
                if (res.ec != std::errc() || res.ptr != t.data() + t.size()) DoesNotFit(val, column, "not a number");
            } else {
                DoesNotFit(val, column, "not a number");
            }
            if (kind == skSingle && std::isfinite(d) && static_cast<double>(static_cast<float>(d)) != d)
                DoesNotFit(val, column, "the value has no exact single-precision form", hrDataOverflow);
            cell.D = d;
            return;
        }
        case skCurrency: {
            TExactDecimal x;
            if (!ExactOf(val, type, x)) DoesNotFit(val, column, "not a number");
            if (!ExactToCurrency(x, cell.I))
                DoesNotFit(val, column, "currency holds four decimals within +/-922337203685477", hrDataOverflow);
            return;
        }
        case skDecimal: {
            TExactDecimal x;
            if (!ExactOf(val, type, x)) DoesNotFit(val, column, "not a number");
            const int scale = column.NumericScale <= 28 ? column.NumericScale : 0;
            const int precision = column.Precision >= 1 && column.Precision <= 29 ? column.Precision : 29;
            TDecimal d;
            if (!ExactToDecimal(x, scale, precision, d))
                DoesNotFit(val, column,
                           "more digits than precision " + std::to_string(column.Precision) + ", scale " +
                               std::to_string(scale),
                           hrDataOverflow);
            cell.SetDecimal(d);
            return;
        }
        case skDate: {
            double v = 0;
            const bool dateOnly = column.Type == adDBDate;
            const bool timeOnly = column.Type == adDBTime;
            if (type == SQLITE_TEXT) {
                if (!ParseIsoDateTime(TextOf(val), timeOnly, v))
                    DoesNotFit(val, column, timeOnly ? "not a time HH:MM[:SS[.ffffff]]"
                                        : "not an ISO-8601 date (to the microsecond a date holds)");
            } else if (type == SQLITE_INTEGER) {
                // Unix time in seconds; for TIME columns seconds since midnight.
                const Int64 secs = sqlite3_value_int64(val);
                if (timeOnly) {
                    if (secs < 0 || secs >= 86400) DoesNotFit(val, column, "seconds of a day are 0..86399", hrDataOverflow);
                    v = static_cast<double>(secs) / 86400.0;
                } else {
                    if (secs < -62135596800LL || secs > 253402300799LL)
                        DoesNotFit(val, column, "outside the years 1..9999", hrDataOverflow);
                    Int64 days = secs / 86400, rem = secs % 86400;
                    if (rem < 0) {
                        rem += 86400;
                        --days;
                    }
                    // 25569 is 1970-01-01 as a day number.
                    const Int64 dn = days + 25569;
                    const double frac = static_cast<double>(rem) / 86400.0;
                    v = dn >= 0 ? static_cast<double>(dn) + frac : static_cast<double>(dn) - frac;
                }
            } else if (type == SQLITE_FLOAT && !timeOnly) {
                // A Julian day number, SQLite's own numeric date.
                const double jd = sqlite3_value_double(val);
                const double days = jd - 2415018.5;
                if (!(days >= Rtl::MinDateTime && days < Rtl::MaxDateTime + 1))
                    DoesNotFit(val, column, "outside the years 1..9999", hrDataOverflow);
                const double whole = std::floor(days);
                v = whole >= 0 ? days : whole - (days - whole);
            } else {
                DoesNotFit(val, column, "not a date");
            }
            if (dateOnly && v != std::trunc(v)) DoesNotFit(val, column, "a date without a time of day was expected", hrDataOverflow);
            cell.D = v;
            return;
        }
        case skGuid: {
            if (type == SQLITE_TEXT && ParseGuidText(TextOf(val), cell.Raw)) return;
            if (type == SQLITE_BLOB && sqlite3_value_bytes(val) == 16) {
                std::memcpy(cell.Raw, sqlite3_value_blob(val), 16);
                return;
            }
            DoesNotFit(val, column, "not a GUID");
        }
    }
}

}  // namespace

void ReadRow(sqlite3_stmt* stmt, const std::vector<TColumnInfo>& columns, const std::vector<TStorageKind>& kinds,
             TRowBuffer& row) {
    const std::size_t n = columns.size();
    if (row.Count() != n) row.Reset(n);
    // One value lookup per cell: the value functions then read it directly.
    for (std::size_t i = 0; i < n; ++i)
        ReadCell(sqlite3_column_value(stmt, static_cast<int>(i)), columns[i], kinds[i], row[i], row.Scratch(i));
}

}  // namespace DataEngine::Sqlite
