// Value order shared by the cursor services (Filter, Sort, Find, indexes and
// Seek): how two cells of a column compare, and how a value written in a
// criteria or given as a seek key compares with the cells of a column.
//
// Order by the column's type, never by text:
// - numbers (integers of every width, single, double, currency, decimal) as
//   numbers; integers, currency and decimals exactly, doubles as doubles;
// - dates and times as points in time;
// - booleans with False before True;
// - GUIDs and binary values byte by byte;
// - text in the cursor's collation (CollateText): case-insensitive, accented
//   Latin letters with their base letter ("Émile" between "Dora" and
//   "Fritz"), accents breaking ties (the runtime library's AnsiCompareText);
//   ASCII text takes a fast path with the same result.
// Null sorts before every value. In a comparison with a value (Filter, Find,
// Seek) a Null cell matches only "= Null"; "<> Null" matches every other
// cell.
#pragma once

#include "Platform/data-engine/Values.h"

namespace DataEngine {

// The cursor's text order (see above): <0, 0, >0.
int CollateText(std::string_view a, std::string_view b) noexcept;
// Exact order of two decimals.
int CompareDecimals(const Rtl::TDecimal& a, const Rtl::TDecimal& b) noexcept;
// Order of two cells of one column of the given kind; Nulls first.
int CompareCells(TStorageKind kind, const TCell& a, const TCell& b) noexcept;

// The families of values a column holds, for messages and conversions.
enum TValueDomain : Byte { vdNumber, vdBoolean, vdDate, vdText, vdGuid, vdBytes };
TValueDomain DomainOf(TStorageKind kind) noexcept;

// How a LIKE pattern matches: a whole value, its beginning or any part of it.
enum TLikeMode : Byte { lmWhole, lmPrefix, lmContains };

// A value the cells of one column are compared with, converted once to the
// column's domain: a criteria literal, a Find value or one seek key.
class TProbe {
public:
    TProbe() = default;
    // A Null probe.
    static TProbe Null(TStorageKind kind);
    // A probe from a variant (seek keys). Raises EEngineError naming the
    // column and the value when the value cannot stand for the column's type.
    static TProbe FromVariant(const TColumnInfo& column, TStorageKind kind, const Variant& value);
    // A probe from criteria text: a number as written (decimal point, '$',
    // exponent), the inside of a quoted string, or of a #...# value.
    enum TLiteral : Byte { ltNumber, ltString, ltHash, ltTrue, ltFalse };
    static TProbe FromLiteral(const TColumnInfo& column, TStorageKind kind, TLiteral literal, std::string_view text);
    // A LIKE pattern over a text column: the text without its wildcards.
    static TProbe Like(TLikeMode mode, std::string_view text);

    bool IsNull() const noexcept { return FNull; }
    // Sign of (cell - probe) for a cell that is not Null.
    int Compare(const TCell& cell) const noexcept;
    // LIKE for a text cell that is not Null.
    bool MatchesLike(const TCell& cell) const noexcept;
    // For index lookups: the probe as a cell of the column's kind when it
    // holds one exactly (every probe of an exact type that equals some cell).
    bool AsCell(TCell& out) const noexcept;

private:
    static TProbe FromLiteral(const TColumnInfo& column, TStorageKind kind, TLiteral literal, std::string_view text,
                              const String& shown);
    enum TForm : Byte { pfNull, pfCell, pfNumber, pfText, pfBytes };
    TStorageKind FKind = skText;
    bool FNull = true;
    TForm FForm = pfNull;
    TLikeMode FLike = lmWhole;
    TCell FCell;          // pfCell: exact value of the column's own kind
    long double FNumber = 0;  // pfNumber: numbers without an exact cell (2.5 against integers)
    String FText;         // pfText, pfBytes; folded for LIKE
};

// Parses a date as criteria write it: ISO ("2024-01-31", with an optional
// time "2024-01-31 13:45[:30]" or 'T') or US ("1/31/2024", "1/31/24",
// with an optional time "1/31/2024 1:45 PM"). Two-digit years 00-29 are
// 2000-2029, 30-99 are 1930-1999. False for anything else.
bool ParseCriteriaDate(std::string_view text, double& out) noexcept;

}  // namespace DataEngine
