// Schema rowsets (what Connection.OpenSchema returns), shared by the providers.
//
// Each rowset has the column set OLE DB defines for it, in OLE DB's order and
// types, takes OLE DB's restrictions (a value per restriction column; Empty or
// Null restricts nothing) and comes sorted in OLE DB's default order. The
// definitions and the filtering live here once; each provider only gathers
// the rows from its catalog:
//   OpenSqliteSchema    the pragmas and sqlite_schema of every attached database
//   OpenPostgresSchema  the server's catalog (pg_catalog, information_schema)
// Both work through the session's own statements, with values bound as
// parameters. A schema the engine does not answer raises
// adErrFeatureNotAvailable naming the schema and the provider.
#pragma once

#include <memory>
#include <vector>

#include "Platform/data-engine/providers/MemoryResult.h"

namespace DataEngine::Schema {

using Velora::DataTypeEnum;
using Velora::SchemaEnum;

struct TSchemaColumn {
    const char* Name;
    DataTypeEnum Type;
    int Size;  // characters for text columns, 0 otherwise
};

struct TSchemaDef {
    SchemaEnum Schema;
    const char* Name;                    // OLE DB's rowset name: "TABLES", "DBINFOLITERALS" ...
    std::vector<TSchemaColumn> Columns;
    std::vector<int> Restrictions;       // the column each restriction compares with
    std::vector<int> SortColumns;        // OLE DB's default sort order
};

// The definition of a schema rowset the engine answers; nullptr for others.
const TSchemaDef* FindSchemaDef(SchemaEnum schema);
// "TABLES" for adSchemaTables; the number for schemas without a definition.
String SchemaRowsetName(SchemaEnum schema);
[[noreturn]] void RaiseSchemaNotSupported(SchemaEnum schema, std::string_view provider);

// Collects the rows of one schema rowset. Rows that do not meet a given
// restriction are left out as they are added; names compare exactly when
// caseSensitive (PostgreSQL), without regard to case otherwise (SQLite).
class TSchemaRowsetBuilder {
public:
    TSchemaRowsetBuilder(SchemaEnum schema, const std::vector<Variant>& restrictions, bool caseSensitive,
                         std::string_view provider);

    const TSchemaDef& GetDef() const noexcept { return *FDef; }
    // Whether restriction i was given, and its value as text.
    bool Restricted(std::size_t i) const noexcept;
    String Restriction(std::size_t i) const;
    // The restriction as a query parameter: its text, or Null when not given.
    Variant RestrictionParam(std::size_t i) const;
    // Whether a value meets restriction i (true when it was not given).
    bool Meets(std::size_t i, const Variant& value) const;
    // The provider applies restriction i itself (for values the row shows
    // differently from how they are restricted).
    void ApplyOwn(std::size_t i) { FOwn.at(i) = true; }

    // A row in the columns' order; missing values at the end are Null.
    void Add(std::vector<Variant> values);
    // The rows, sorted in the default order.
    std::unique_ptr<TResultStream> Finish();

private:
    const TSchemaDef* FDef;
    std::vector<Variant> FRestrictions;
    std::vector<bool> FOwn;
    bool FCaseSensitive;
    std::unique_ptr<TMemoryResult> FResult;
};

// ---- Pieces the providers share ---------------------------------------------------------------

// Text, or Null for an empty text.
Variant TextOrNull(const String& s);

// The values of one COLUMNS row from a column's mapped description.
struct TColumnFacts {
    String Catalog, Schema, Table, Column;
    unsigned Ordinal = 0;
    bool HasDefault = false;
    String Default;
    bool Nullable = true;
    bool Updatable = false;
    bool Key = false;
    bool RowId = false;
    bool NoFixedType = false;  // the column takes each value's own type (SQLite)
    TColumnInfo Mapped;        // Type, sizes, precision and scale
    String Description;
};
std::vector<Variant> ColumnsRow(const TColumnFacts& f);

// The values of PROCEDURE_PARAMETERS' type columns (DATA_TYPE ... NUMERIC_SCALE)
// and PROVIDER_TYPES' size for a mapped type.
struct TTypeFacts {
    Variant DataType, MaxLength, OctetLength, Precision, Scale, DateTimePrecision;
};
TTypeFacts TypeFactsOf(const TColumnInfo& mapped, bool noFixedType = false);

// One PROVIDER_TYPES row.
struct TProviderType {
    const char* Name;
    DataTypeEnum Type;
    unsigned ColumnSize;
    const char* Prefix;
    const char* Suffix;
    const char* CreateParams;
    bool CaseSensitive;
    int Searchable;  // DB_LIKE_ONLY 2, DB_ALL_EXCEPT_LIKE 3, DB_SEARCHABLE 4, DB_UNSEARCHABLE 1
    bool Unsigned;
    bool FixedPrecScale;
    bool AutoUnique;
    int MinScale, MaxScale;  // -1: Null
    bool IsLong;
    bool BestMatch;
    bool FixedLength;
};
void AddProviderTypes(TSchemaRowsetBuilder& b, const std::vector<TProviderType>& types);

// One DBINFOLITERALS row.
struct TLiteralInfo {
    int Literal;  // DBLITERAL value
    const char* Value;
    const char* InvalidChars;
    const char* InvalidStartingChars;
    int MaxLength;
};
void AddLiterals(TSchemaRowsetBuilder& b, const std::vector<TLiteralInfo>& literals);

// Runs a query on the session with its values bound as parameters and
// returns every row's values.
std::vector<std::vector<Variant>> QueryRows(TSession& session, const String& sql,
                                            const std::vector<Variant>& params = {});
// A value as text ("" for Null).
String Str(const Variant& v);

// ---- The providers' rowsets ---------------------------------------------------------------------

std::unique_ptr<TResultStream> OpenSqliteSchema(TSession& session, SchemaEnum schema,
                                                const std::vector<Variant>& restrictions);
std::unique_ptr<TResultStream> OpenPostgresSchema(TSession& session, SchemaEnum schema,
                                                  const std::vector<Variant>& restrictions);

// CHECK constraints written in a SQLite CREATE TABLE text: the constraint's
// name when it has one, and the condition between the parentheses. Never
// reads past the text; a text it cannot follow gives what was found so far.
struct TCheckClause {
    String Name;
    String Clause;
    String Column;  // the column a column constraint belongs to; empty for table constraints
};
std::vector<TCheckClause> FindSqliteCheckClauses(std::string_view createTable);
// The identifiers of an SQL expression (quoted ones unquoted), without
// keywords-like words inside quotes or strings.
std::vector<String> SqlIdentifiers(std::string_view expression);

}  // namespace DataEngine::Schema
