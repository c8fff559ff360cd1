// Criteria texts of Filter and Find, compiled against a row store's columns.
//
// A clause is `Field op Value`:
// - Field: a column name, in [brackets] when it holds blanks or operator
//   characters; names compare without regard to ASCII case;
// - op: =, <>, <, >, <=, >= or LIKE (keywords in any case);
// - Value: 'text' (a quote inside doubled: 'O''Malley'), #text# (dates, or
//   text that begins or ends with a quote: #'1'#), a number (decimal point,
//   '$', exponent: 12.5, $50.00, 1e3), True, False or Null.
// Values convert to the field's type when the criteria compiles (see
// Compare.h for the order); a value that cannot (a text for a number field,
// a date that is no date) is an error naming it.
// LIKE takes a text and matches text fields without regard to case; its
// wildcards are * and %, at the end ('Smi*') or at both ends ('*mit*'),
// nowhere else. Null goes with = and <> only: "= Null" keeps Null fields,
// "<> Null" the others; a Null field never matches a comparison with a value.
//
// Filter criteria join clauses with AND and OR. AND binds before OR, and
// parentheses group. As in ADO, clauses joined by OR inside parentheses
// cannot be joined to another clause with AND: "(a OR b) AND c" is refused
// (write "(a AND c) OR (b AND c)"), so every criteria is an OR of groups of
// clauses joined by AND. Find takes exactly one clause.
//
// Errors raise ECriteriaError (adErrInvalidArgument) whose message quotes the
// whole criteria and names the offending part; compiling never changes
// anything, so a caller compiles first and swaps the result in afterwards.
#pragma once

#include "Platform/data-engine/cursor/Compare.h"
#include "Platform/data-engine/cursor/RowStore.h"

namespace DataEngine {

class ECriteriaError : public EEngineError {
public:
    using EEngineError::EEngineError;
    const char* ClassName() const noexcept override { return "ECriteriaError"; }
};

enum TCompareOp : Byte { coEqual, coNotEqual, coLess, coGreater, coLessEqual, coGreaterEqual, coLike };

// One compiled clause.
struct TComparison {
    std::size_t Column = 0;
    TCompareOp Op = coEqual;
    TProbe Value;
    String Text;  // the clause as written, for messages

    bool Matches(const TRowStore& store, TRowId row) const;
    bool Matches(const TCell& cell) const noexcept;
};

class TCriteria {
public:
    TCriteria() = default;
    // Compiles Filter criteria; ECriteriaError on any fault.
    static TCriteria Parse(const TRowStore& store, std::string_view text);
    // Compiles the one comparison of a Find criteria.
    static TComparison ParseComparison(const TRowStore& store, std::string_view text);

    bool Matches(const TRowStore& store, TRowId row) const;
    // OR of groups; the clauses of a group are joined by AND.
    const std::vector<std::vector<TComparison>>& GetGroups() const noexcept { return FGroups; }
    const String& GetText() const noexcept { return FText; }

private:
    String FText;
    std::vector<std::vector<TComparison>> FGroups;
};

}  // namespace DataEngine
