// Column descriptions, typed cells and the conversions between cells and
// variants, shared by the providers, the row store and the streaming reader.
//
// A cell is the engine's unit of data: one value of one column, held in the
// physical form of the column's ADO type (TStorageKind), never as a variant.
// Text is UTF-8 and bytes are raw; a cell's Data points either into the
// provider's memory (valid until the next fetch) or into the row buffer's own
// scratch storage.
#pragma once

#include <cstring>
#include <vector>

#include "Platform/data-engine/EngineError.h"
#include "Platform/rtl/Variant.h"

namespace DataEngine {

using Rtl::Byte;
using Rtl::Currency;
using Rtl::TDateTime;
using Rtl::TDecimal;
using Rtl::UInt64;
using Rtl::Variant;
using Rtl::WideString;

// How a column's values are held.
enum TStorageKind : Byte {
    skBoolean,   // 1 byte, 0 or 1
    skInt8,
    skUInt8,
    skInt16,
    skUInt16,
    skInt32,
    skUInt32,
    skInt64,
    skUInt64,
    skSingle,    // float
    skDouble,
    skCurrency,  // Int64 scaled by 10000
    skDate,      // TDateTime (double)
    skDecimal,   // TDecimal, 16 bytes
    skGuid,      // 16 bytes in RFC 4122 order
    skText,      // UTF-8 bytes
    skBytes,     // raw bytes
};

// The storage kind for an ADO type; EEngineError (adErrFeatureNotAvailable)
// for types the engine cannot hold in a column (adVariant, adIDispatch, ...).
TStorageKind StorageKindOf(Velora::DataTypeEnum type);
bool IsVariableKind(TStorageKind kind) noexcept;  // skText, skBytes
// Width of the fixed slot of a kind (1..16); 0 for the variable kinds.
int FixedWidthOf(TStorageKind kind) noexcept;
// "adInteger", "adVarWChar", ...; the number in decimal for unknown values.
String DataTypeName(int type);

// One result column, as a provider describes it.
struct TColumnInfo {
    String Name;
    Velora::DataTypeEnum Type = Velora::adEmpty;
    int DefinedSize = 0;        // characters for text, bytes otherwise; 0 for no limit
    Byte Precision = 255;
    Byte NumericScale = 255;
    int Attributes = 0;         // FieldAttributeEnum bits
    String BaseCatalogName;     // the database ("main", an attached one) for SQLite
    String BaseSchemaName;
    String BaseTableName;
    String BaseColumnName;
    String DeclaredType;        // the type as the database declares it
    bool AutoIncrement = false;

    bool HasAttribute(int attr) const noexcept { return (Attributes & attr) != 0; }
    // Text and binary columns with a DefinedSize enforce it; long ones do not.
    bool HasSizeLimit() const noexcept;
};

// A typed value. Integers of every width are widened into I (signed kinds
// and booleans) or U (unsigned kinds); single, double and dates use D;
// currency uses I (scaled); decimals and GUIDs use the 16 raw bytes.
struct TCell {
    bool Null = true;
    union {
        Int64 I;
        UInt64 U;
        double D;
        Byte Raw[16];
    };
    const char* Data = nullptr;  // text and bytes
    std::size_t Size = 0;

    TCell() noexcept { std::memset(Raw, 0, sizeof Raw); }
    TDecimal GetDecimal() const noexcept {
        TDecimal d;
        std::memcpy(&d, Raw, sizeof d);
        return d;
    }
    void SetDecimal(const TDecimal& d) noexcept { std::memcpy(Raw, &d, sizeof d); }
    std::string_view GetView() const noexcept { return {Data ? Data : "", Size}; }
};

// One row being fetched or written: a cell per column and a scratch string
// per column for values the provider had to convert.
class TRowBuffer {
public:
    TRowBuffer() = default;
    explicit TRowBuffer(std::size_t columns) { Reset(columns); }
    void Reset(std::size_t columns) {
        FCells.assign(columns, TCell{});
        FScratch.resize(columns);
    }
    std::size_t Count() const noexcept { return FCells.size(); }
    TCell& operator[](std::size_t i) noexcept { return FCells[i]; }
    const TCell& operator[](std::size_t i) const noexcept { return FCells[i]; }
    String& Scratch(std::size_t i) noexcept { return FScratch[i]; }
    void SetNull(std::size_t i) noexcept { FCells[i].Null = true; FCells[i].Data = nullptr; FCells[i].Size = 0; }
    // Points cell i at a copy of the text held in the scratch storage.
    void SetOwnedText(std::size_t i, std::string_view s);

private:
    std::vector<TCell> FCells;
    std::vector<String> FScratch;
};

// The variant ADO gives for a cell: varBoolean, varShortInt, varByte,
// varSmallint, varWord, varInteger, varLongWord, varInt64, varUInt64,
// varSingle, varDouble, varCurrency, varDate, varDecimal, a wide string
// (text, and GUIDs in "{...}" form) or a byte array; Null for a null cell.
Variant CellToVariant(const TColumnInfo& column, TStorageKind kind, const TCell& cell);

// Converts a variant into a cell of the column's kind with COM's coercion
// rules. A value that does not fit (out of range, too long for the column's
// DefinedSize, more decimals than the column's scale, not a number or date)
// raises EEngineError naming the column and the value; nothing is cut.
// Empty and Null give a null cell. Converted text lands in scratch.
// role names what the target is in messages ("column", "parameter").
void VariantToCell(const TColumnInfo& column, TStorageKind kind, const Variant& value, TCell& cell, String& scratch,
                   std::string_view role = "column");

// A readable rendering of a variant for messages: 'text', 42, Null ...
String DescribeValue(const Variant& value);

// ---- Exact conversions used by the providers ------------------------------------------

// A decimal number parsed exactly: value = (-1)^Negative * Mantissa * 10^-Scale.
struct TExactDecimal {
    bool Negative = false;
    unsigned __int128 Mantissa = 0;
    int Scale = 0;  // may be negative for exponents
};
// Accepts [+-]digits[.digits][(e|E)[+-]digits] with no blanks; false otherwise
// or when the digits exceed 38.
bool ParseExactDecimal(std::string_view text, TExactDecimal& out) noexcept;
// Brings an exact decimal to the given scale without losing digits: false
// when nonzero digits would be dropped or more than maxPrecision digits (at
// most 29, the reach of TDecimal's 96 bits) would be needed.
bool ExactToDecimal(TExactDecimal value, int scale, int maxPrecision, TDecimal& out) noexcept;
// Shortest text that reads back as the same double ("0.1", "1e+300").
String DoubleToShortest(double v);
String DecimalToText(const TDecimal& d);
// Currency from an exact decimal with at most four decimals; false otherwise or out of range.
bool ExactToCurrency(const TExactDecimal& value, Int64& scaled) noexcept;

// Civil dates and TDateTime with microseconds (the framework's convention:
// before 1899-12-30 the fraction still counts forward from midnight).
bool EncodeDateTimeUs(int year, int month, int day, int hour, int minute, int second, int micro,
                      double& out) noexcept;
bool DecodeDateTimeUs(double value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                      int& micro) noexcept;
// ISO-8601 texts: "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.ffffff]]" (or with 'T'),
// optionally ending in 'Z'; "HH:MM[:SS[.ffffff]]" when timeOnly. More than six
// decimals of seconds, microseconds the date's double cannot hold (far from
// 1899), offsets and anything else are refused (false).
bool ParseIsoDateTime(std::string_view text, bool timeOnly, double& out) noexcept;
// "YYYY-MM-DD", "HH:MM:SS[.ffffff]" or "YYYY-MM-DD HH:MM:SS[.ffffff]" by the ADO type
// (adDBDate, adDBTime, others), microseconds only when nonzero.
String FormatIsoDateTime(double value, Velora::DataTypeEnum type);

// GUID text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, any case) <-> 16 bytes.
bool ParseGuidText(std::string_view text, Byte out[16]) noexcept;
String FormatGuid(const Byte bytes[16]);

// Number of UTF-16 code units the UTF-8 text takes (DefinedSize counts those).
std::size_t Utf16Length(std::string_view utf8) noexcept;

}  // namespace DataEngine
