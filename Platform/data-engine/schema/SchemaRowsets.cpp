#include "Platform/data-engine/schema/SchemaRowsets.h"

#include <algorithm>

namespace DataEngine::Schema {

using namespace Velora;

namespace {

constexpr int Name = 128;  // identifier columns
constexpr int Text = 255;  // descriptions and short texts
constexpr int Long = 0;    // definitions: no limit (adLongVarWChar)

#define W(n) {n, adVarWChar, Name}
#define D(n) {n, adVarWChar, Text}
#define L(n) {n, adLongVarWChar, Long}
#define G(n) {n, adGUID, 0}
#define T(n, t) {n, t, 0}

const std::vector<TSchemaDef>& Definitions() {
    static const std::vector<TSchemaDef> defs = {
        {adSchemaCatalogs, "CATALOGS", {W("CATALOG_NAME"), D("DESCRIPTION")}, {0}, {0}},
        {adSchemaSchemata,
         "SCHEMATA",
         {W("CATALOG_NAME"), W("SCHEMA_NAME"), W("SCHEMA_OWNER"), W("DEFAULT_CHARACTER_SET_CATALOG"),
          W("DEFAULT_CHARACTER_SET_SCHEMA"), W("DEFAULT_CHARACTER_SET_NAME")},
         {0, 1, 2},
         {0, 1, 2}},
        {adSchemaTables,
         "TABLES",
         {W("TABLE_CATALOG"), W("TABLE_SCHEMA"), W("TABLE_NAME"), {"TABLE_TYPE", adVarWChar, 32}, G("TABLE_GUID"),
          D("DESCRIPTION"), T("TABLE_PROPID", adUnsignedInt), T("DATE_CREATED", adDate), T("DATE_MODIFIED", adDate)},
         {0, 1, 2, 3},
         {3, 0, 1, 2}},
        {adSchemaColumns,
         "COLUMNS",
         {W("TABLE_CATALOG"), W("TABLE_SCHEMA"), W("TABLE_NAME"), W("COLUMN_NAME"), G("COLUMN_GUID"),
          T("COLUMN_PROPID", adUnsignedInt), T("ORDINAL_POSITION", adUnsignedInt), T("COLUMN_HASDEFAULT", adBoolean),
          L("COLUMN_DEFAULT"), T("COLUMN_FLAGS", adUnsignedInt), T("IS_NULLABLE", adBoolean),
          T("DATA_TYPE", adUnsignedSmallInt), G("TYPE_GUID"), T("CHARACTER_MAXIMUM_LENGTH", adUnsignedInt),
          T("CHARACTER_OCTET_LENGTH", adUnsignedInt), T("NUMERIC_PRECISION", adUnsignedSmallInt),
          T("NUMERIC_SCALE", adSmallInt), T("DATETIME_PRECISION", adUnsignedInt), W("CHARACTER_SET_CATALOG"),
          W("CHARACTER_SET_SCHEMA"), W("CHARACTER_SET_NAME"), W("COLLATION_CATALOG"), W("COLLATION_SCHEMA"),
          W("COLLATION_NAME"), W("DOMAIN_CATALOG"), W("DOMAIN_SCHEMA"), W("DOMAIN_NAME"), D("DESCRIPTION")},
         {0, 1, 2, 3},
         {0, 1, 2, 6}},
        {adSchemaIndexes,
         "INDEXES",
         {W("TABLE_CATALOG"), W("TABLE_SCHEMA"), W("TABLE_NAME"), W("INDEX_CATALOG"), W("INDEX_SCHEMA"),
          W("INDEX_NAME"), T("PRIMARY_KEY", adBoolean), T("UNIQUE", adBoolean), T("CLUSTERED", adBoolean),
          T("TYPE", adUnsignedSmallInt), T("FILL_FACTOR", adInteger), T("INITIAL_SIZE", adInteger),
          T("NULLS", adInteger), T("SORT_BOOKMARKS", adBoolean), T("AUTO_UPDATE", adBoolean),
          T("NULL_COLLATION", adInteger), T("ORDINAL_POSITION", adUnsignedInt), W("COLUMN_NAME"), G("COLUMN_GUID"),
          T("COLUMN_PROPID", adUnsignedInt), T("COLLATION", adSmallInt), T("CARDINALITY", adUnsignedBigInt),
          T("PAGES", adInteger), D("FILTER_CONDITION"), T("INTEGRATED", adBoolean)},
         {0, 1, 5, 9, 2},
         {7, 9, 3, 4, 5, 16}},
        {adSchemaPrimaryKeys,
         "PRIMARY_KEYS",
         {W("TABLE_CATALOG"), W("TABLE_SCHEMA"), W("TABLE_NAME"), W("COLUMN_NAME"), G("COLUMN_GUID"),
          T("COLUMN_PROPID", adUnsignedInt), T("ORDINAL", adUnsignedInt), W("PK_NAME")},
         {0, 1, 2},
         {0, 1, 2, 6}},
        {adSchemaForeignKeys,
         "FOREIGN_KEYS",
         {W("PK_TABLE_CATALOG"), W("PK_TABLE_SCHEMA"), W("PK_TABLE_NAME"), W("PK_COLUMN_NAME"), G("PK_COLUMN_GUID"),
          T("PK_COLUMN_PROPID", adUnsignedInt), W("FK_TABLE_CATALOG"), W("FK_TABLE_SCHEMA"), W("FK_TABLE_NAME"),
          W("FK_COLUMN_NAME"), G("FK_COLUMN_GUID"), T("FK_COLUMN_PROPID", adUnsignedInt), T("ORDINAL", adUnsignedInt),
          {"UPDATE_RULE", adVarWChar, 32}, {"DELETE_RULE", adVarWChar, 32}, W("PK_NAME"), W("FK_NAME"),
          T("DEFERRABILITY", adSmallInt)},
         {0, 1, 2, 6, 7, 8},
         {6, 7, 8, 16, 12}},
        {adSchemaProcedures,
         "PROCEDURES",
         {W("PROCEDURE_CATALOG"), W("PROCEDURE_SCHEMA"), W("PROCEDURE_NAME"), T("PROCEDURE_TYPE", adSmallInt),
          L("PROCEDURE_DEFINITION"), D("DESCRIPTION"), T("DATE_CREATED", adDate), T("DATE_MODIFIED", adDate)},
         {0, 1, 2, 3},
         {0, 1, 2}},
        {adSchemaProcedureParameters,
         "PROCEDURE_PARAMETERS",
         {W("PROCEDURE_CATALOG"), W("PROCEDURE_SCHEMA"), W("PROCEDURE_NAME"), W("PARAMETER_NAME"),
          T("ORDINAL_POSITION", adUnsignedSmallInt), T("PARAMETER_TYPE", adUnsignedSmallInt),
          T("PARAMETER_HASDEFAULT", adBoolean), L("PARAMETER_DEFAULT"), T("IS_NULLABLE", adBoolean),
          T("DATA_TYPE", adUnsignedSmallInt), T("CHARACTER_MAXIMUM_LENGTH", adUnsignedInt),
          T("CHARACTER_OCTET_LENGTH", adUnsignedInt), T("NUMERIC_PRECISION", adUnsignedSmallInt),
          T("NUMERIC_SCALE", adSmallInt), D("DESCRIPTION"), W("TYPE_NAME"), W("LOCAL_TYPE_NAME")},
         {0, 1, 2, 3},
         {0, 1, 2, 4}},
        {adSchemaProcedureColumns,
         "PROCEDURE_COLUMNS",
         {W("PROCEDURE_CATALOG"), W("PROCEDURE_SCHEMA"), W("PROCEDURE_NAME"), W("COLUMN_NAME"), G("COLUMN_GUID"),
          T("COLUMN_PROPID", adUnsignedInt), T("ROWSET_NUMBER", adUnsignedInt), T("ORDINAL_POSITION", adUnsignedInt),
          T("IS_NULLABLE", adBoolean), T("DATA_TYPE", adUnsignedSmallInt), G("TYPE_GUID"),
          T("CHARACTER_MAXIMUM_LENGTH", adUnsignedInt), T("CHARACTER_OCTET_LENGTH", adUnsignedInt),
          T("NUMERIC_PRECISION", adUnsignedSmallInt), T("NUMERIC_SCALE", adSmallInt), D("DESCRIPTION")},
         {0, 1, 2, 3},
         {0, 1, 2, 6, 7}},
        {adSchemaViews,
         "VIEWS",
         {W("TABLE_CATALOG"), W("TABLE_SCHEMA"), W("TABLE_NAME"), L("VIEW_DEFINITION"), T("CHECK_OPTION", adBoolean),
          T("IS_UPDATABLE", adBoolean), D("DESCRIPTION"), T("DATE_CREATED", adDate), T("DATE_MODIFIED", adDate)},
         {0, 1, 2},
         {0, 1, 2}},
        {adSchemaViewColumnUsage,
         "VIEW_COLUMN_USAGE",
         {W("VIEW_CATALOG"), W("VIEW_SCHEMA"), W("VIEW_NAME"), W("TABLE_CATALOG"), W("TABLE_SCHEMA"), W("TABLE_NAME"),
          W("COLUMN_NAME"), G("COLUMN_GUID"), T("COLUMN_PROPID", adUnsignedInt)},
         {0, 1, 2},
         {0, 1, 2, 3, 4, 5, 6}},
        {adSchemaViewTableUsage,
         "VIEW_TABLE_USAGE",
         {W("VIEW_CATALOG"), W("VIEW_SCHEMA"), W("VIEW_NAME"), W("TABLE_CATALOG"), W("TABLE_SCHEMA"), W("TABLE_NAME")},
         {0, 1, 2},
         {0, 1, 2, 3, 4, 5}},
        {adSchemaTableConstraints,
         "TABLE_CONSTRAINTS",
         {W("CONSTRAINT_CATALOG"), W("CONSTRAINT_SCHEMA"), W("CONSTRAINT_NAME"), W("TABLE_CATALOG"),
          W("TABLE_SCHEMA"), W("TABLE_NAME"), {"CONSTRAINT_TYPE", adVarWChar, 32}, T("IS_DEFERRABLE", adBoolean),
          T("INITIALLY_DEFERRED", adBoolean), D("DESCRIPTION")},
         {0, 1, 2, 3, 4, 5, 6},
         {0, 1, 2, 3, 4, 5, 6}},
        {adSchemaCheckConstraints,
         "CHECK_CONSTRAINTS",
         {W("CONSTRAINT_CATALOG"), W("CONSTRAINT_SCHEMA"), W("CONSTRAINT_NAME"), L("CHECK_CLAUSE"), D("DESCRIPTION")},
         {0, 1, 2},
         {0, 1, 2}},
        {adSchemaKeyColumnUsage,
         "KEY_COLUMN_USAGE",
         {W("CONSTRAINT_CATALOG"), W("CONSTRAINT_SCHEMA"), W("CONSTRAINT_NAME"), W("TABLE_CATALOG"),
          W("TABLE_SCHEMA"), W("TABLE_NAME"), W("COLUMN_NAME"), G("COLUMN_GUID"), T("COLUMN_PROPID", adUnsignedInt),
          T("ORDINAL_POSITION", adUnsignedInt)},
         {0, 1, 2, 3, 4, 5, 6},
         {0, 1, 2, 3, 4, 5, 9}},
        {adSchemaReferentialConstraints,
         "REFERENTIAL_CONSTRAINTS",
         {W("CONSTRAINT_CATALOG"), W("CONSTRAINT_SCHEMA"), W("CONSTRAINT_NAME"), W("UNIQUE_CONSTRAINT_CATALOG"),
          W("UNIQUE_CONSTRAINT_SCHEMA"), W("UNIQUE_CONSTRAINT_NAME"), {"MATCH_OPTION", adVarWChar, 32},
          {"UPDATE_RULE", adVarWChar, 32}, {"DELETE_RULE", adVarWChar, 32}, D("DESCRIPTION")},
         {0, 1, 2},
         {0, 1, 2}},
        {adSchemaConstraintColumnUsage,
         "CONSTRAINT_COLUMN_USAGE",
         {W("TABLE_CATALOG"), W("TABLE_SCHEMA"), W("TABLE_NAME"), W("COLUMN_NAME"), G("COLUMN_GUID"),
          T("COLUMN_PROPID", adUnsignedInt), W("CONSTRAINT_CATALOG"), W("CONSTRAINT_SCHEMA"), W("CONSTRAINT_NAME")},
         {0, 1, 2, 3},
         {0, 1, 2, 3, 6, 7, 8}},
        {adSchemaConstraintTableUsage,
         "CONSTRAINT_TABLE_USAGE",
         {W("TABLE_CATALOG"), W("TABLE_SCHEMA"), W("TABLE_NAME"), W("CONSTRAINT_CATALOG"), W("CONSTRAINT_SCHEMA"),
          W("CONSTRAINT_NAME")},
         {0, 1, 2},
         {0, 1, 2, 3, 4, 5}},
        {adSchemaProviderTypes,
         "PROVIDER_TYPES",
         {W("TYPE_NAME"), T("DATA_TYPE", adUnsignedSmallInt), T("COLUMN_SIZE", adUnsignedInt), D("LITERAL_PREFIX"),
          D("LITERAL_SUFFIX"), D("CREATE_PARAMS"), T("IS_NULLABLE", adBoolean), T("CASE_SENSITIVE", adBoolean),
          T("SEARCHABLE", adUnsignedInt), T("UNSIGNED_ATTRIBUTE", adBoolean), T("FIXED_PREC_SCALE", adBoolean),
          T("AUTO_UNIQUE_VALUE", adBoolean), W("LOCAL_TYPE_NAME"), T("MINIMUM_SCALE", adSmallInt),
          T("MAXIMUM_SCALE", adSmallInt), G("GUID"), D("TYPELIB"), D("VERSION"), T("IS_LONG", adBoolean),
          T("BEST_MATCH", adBoolean), T("IS_FIXEDLENGTH", adBoolean)},
         {1, 19},
         {1, 0}},
        {adSchemaStatistics,
         "STATISTICS",
         {W("TABLE_CATALOG"), W("TABLE_SCHEMA"), W("TABLE_NAME"), T("CARDINALITY", adUnsignedBigInt)},
         {0, 1, 2},
         {0, 1, 2}},
        {adSchemaTablePrivileges,
         "TABLE_PRIVILEGES",
         {W("GRANTOR"), W("GRANTEE"), W("TABLE_CATALOG"), W("TABLE_SCHEMA"), W("TABLE_NAME"),
          {"PRIVILEGE_TYPE", adVarWChar, 32}, T("IS_GRANTABLE", adBoolean)},
         {2, 3, 4, 0, 1},
         {2, 3, 4, 5, 1}},
        {adSchemaColumnPrivileges,
         "COLUMN_PRIVILEGES",
         {W("GRANTOR"), W("GRANTEE"), W("TABLE_CATALOG"), W("TABLE_SCHEMA"), W("TABLE_NAME"), W("COLUMN_NAME"),
          G("COLUMN_GUID"), T("COLUMN_PROPID", adUnsignedInt), {"PRIVILEGE_TYPE", adVarWChar, 32},
          T("IS_GRANTABLE", adBoolean)},
         {2, 3, 4, 5, 0, 1},
         {2, 3, 4, 5, 8, 1}},
        {adSchemaDBInfoLiterals,
         "DBINFOLITERALS",
         {{"LiteralName", adVarWChar, 64}, D("LiteralValue"), D("InvalidChars"), D("InvalidStartingChars"),
          T("Literal", adInteger), T("Supported", adBoolean), T("Maxlen", adInteger)},
         {},
         {4}},
        {adSchemaDBInfoKeywords, "DBINFOKEYWORDS", {{"Keyword", adVarWChar, 64}}, {}, {0}},
    };
    return defs;
}

#undef W
#undef D
#undef L
#undef G
#undef T

bool IsGiven(const Variant& v) { return !(v.IsEmpty() || v.IsNull()); }

}  // namespace

const TSchemaDef* FindSchemaDef(SchemaEnum schema) {
    for (const auto& d : Definitions())
        if (d.Schema == schema) return &d;
    return nullptr;
}

String SchemaRowsetName(SchemaEnum schema) {
    if (const auto* d = FindSchemaDef(schema)) return d->Name;
    static const struct {
        SchemaEnum Schema;
        const char* Name;
    } others[] = {{adSchemaProviderSpecific, "provider-specific"},
                  {adSchemaAsserts, "ASSERTIONS"},
                  {adSchemaCharacterSets, "CHARACTER_SETS"},
                  {adSchemaCollations, "COLLATIONS"},
                  {adSchemaColumnsDomainUsage, "COLUMN_DOMAIN_USAGE"},
                  {adSchemaUsagePrivileges, "USAGE_PRIVILEGES"},
                  {adSchemaSQLLanguages, "SQL_LANGUAGES"},
                  {adSchemaTranslations, "TRANSLATIONS"},
                  {adSchemaCubes, "CUBES"},
                  {adSchemaDimensions, "DIMENSIONS"},
                  {adSchemaHierarchies, "HIERARCHIES"},
                  {adSchemaLevels, "LEVELS"},
                  {adSchemaMeasures, "MEASURES"},
                  {adSchemaProperties, "PROPERTIES"},
                  {adSchemaMembers, "MEMBERS"}};
    for (const auto& o : others)
        if (o.Schema == schema) return o.Name;
    return std::to_string(static_cast<int>(schema));
}

void RaiseSchemaNotSupported(SchemaEnum schema, std::string_view provider) {
    throw EEngineError("Schema rowset " + SchemaRowsetName(schema) + " (" + std::to_string(static_cast<int>(schema)) +
                           ") is not supported by the " + String(provider) + " provider",
                       AdoErrorHResult(adErrFeatureNotAvailable), 0, "HYC00", String(provider));
}

TSchemaRowsetBuilder::TSchemaRowsetBuilder(SchemaEnum schema, const std::vector<Variant>& restrictions,
                                           bool caseSensitive, std::string_view provider)
    : FDef(FindSchemaDef(schema)), FCaseSensitive(caseSensitive) {
    if (!FDef) RaiseSchemaNotSupported(schema, provider);
    for (std::size_t i = 0; i < restrictions.size(); ++i) {
        const Variant v = restrictions[i].IsByRef() ? restrictions[i].Deref() : restrictions[i];
        if (i >= FDef->Restrictions.size()) {
            if (IsGiven(v))
                throw EEngineError("Schema rowset " + String(FDef->Name) + " takes " +
                                       std::to_string(FDef->Restrictions.size()) + " restrictions; restriction " +
                                       std::to_string(i + 1) + " (" + DescribeValue(v) + ") is one too many",
                                   AdoErrorHResult(adErrInvalidArgument), 0, "HY024", String(provider));
            continue;
        }
        if (IsGiven(v) && v.IsArray())
            throw EEngineError("Restriction " + std::to_string(i + 1) + " of schema rowset " + String(FDef->Name) +
                                   " is " + DescribeValue(v) + "; a restriction is one value",
                               AdoErrorHResult(adErrInvalidArgument), 0, "HY024", String(provider));
    }
    FRestrictions.resize(FDef->Restrictions.size());
    for (std::size_t i = 0; i < FRestrictions.size() && i < restrictions.size(); ++i)
        FRestrictions[i] = restrictions[i].IsByRef() ? restrictions[i].Deref() : restrictions[i];
    FOwn.assign(FRestrictions.size(), false);
    std::vector<TColumnInfo> columns;
    for (const auto& c : FDef->Columns) columns.push_back(MakeColumn(c.Name, c.Type, c.Size));
    FResult = std::make_unique<TMemoryResult>(std::move(columns));
}

bool TSchemaRowsetBuilder::Restricted(std::size_t i) const noexcept {
    return i < FRestrictions.size() && IsGiven(FRestrictions[i]);
}

String TSchemaRowsetBuilder::Restriction(std::size_t i) const {
    return Restricted(i) ? FRestrictions[i].ToString() : String();
}

Variant TSchemaRowsetBuilder::RestrictionParam(std::size_t i) const {
    return Restricted(i) ? Variant(FRestrictions[i].ToString()) : Variant::Null();
}

bool TSchemaRowsetBuilder::Meets(std::size_t i, const Variant& value) const {
    if (!Restricted(i) || FOwn[i]) return true;
    if (!IsGiven(value)) return false;
    const Variant& r = FRestrictions[i];
    if (Rtl::VarIsStr(r) && Rtl::VarIsStr(value)) {
        const String a = r.ToString(), b = value.ToString();
        return FCaseSensitive ? a == b : Rtl::SameText(a, b);
    }
    try {
        return Rtl::VarCompareValue(r, value) == Rtl::vrEqual;
    } catch (const Rtl::Exception&) {
        return r.ToString() == value.ToString();
    }
}

void TSchemaRowsetBuilder::Add(std::vector<Variant> values) {
    values.resize(FDef->Columns.size(), Variant::Null());
    for (std::size_t i = 0; i < FDef->Restrictions.size(); ++i)
        if (!Meets(i, values[static_cast<std::size_t>(FDef->Restrictions[i])])) return;
    FResult->AddRow(std::move(values));
}

std::unique_ptr<TResultStream> TSchemaRowsetBuilder::Finish() {
    FResult->SortBy(FDef->SortColumns);
    return std::move(FResult);
}

// ---- Shared pieces ----------------------------------------------------------------------------

Variant TextOrNull(const String& s) { return s.empty() ? Variant::Null() : Variant(s); }

String Str(const Variant& v) { return v.IsNull() || v.IsEmpty() ? String() : v.ToString(); }

TTypeFacts TypeFactsOf(const TColumnInfo& mapped, bool noFixedType) {
    TTypeFacts f{Variant(static_cast<unsigned short>(noFixedType ? adVariant : mapped.Type)), Variant::Null(),
                 Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null()};
    if (noFixedType) return f;
    const TStorageKind kind = StorageKindOf(mapped.Type);
    if (kind == skText) {
        f.MaxLength = Variant(static_cast<unsigned>(mapped.DefinedSize));
        f.OctetLength = Variant(static_cast<unsigned>(mapped.DefinedSize) * 2u);
    } else if (kind == skBytes) {
        f.MaxLength = f.OctetLength = Variant(static_cast<unsigned>(mapped.DefinedSize));
    } else if (kind == skDate) {
        f.DateTimePrecision = Variant(static_cast<unsigned>(mapped.Type == adDBDate ? 0 : mapped.NumericScale <= 6 ? mapped.NumericScale : 6));
    } else if (kind != skGuid && kind != skBoolean) {
        f.Precision = Variant(static_cast<unsigned short>(mapped.Precision));
        if (kind == skDecimal || kind == skCurrency)
            f.Scale = mapped.NumericScale == 255 ? Variant::Null() : Variant(static_cast<short>(mapped.NumericScale));
    }
    return f;
}

std::vector<Variant> ColumnsRow(const TColumnFacts& c) {
    const TTypeFacts t = TypeFactsOf(c.Mapped, c.NoFixedType);
    int flags = c.Mapped.Attributes & (adFldFixed | adFldLong);
    if (c.NoFixedType) flags = 0;
    if (c.Nullable) flags |= adFldIsNullable | adFldMayBeNull;
    if (c.Updatable) flags |= adFldUpdatable;
    if (c.RowId) flags |= adFldRowID;
    if (c.Key) flags |= adFldKeyColumn;
    return {Variant(c.Catalog),
            TextOrNull(c.Schema),
            Variant(c.Table),
            Variant(c.Column),
            Variant::Null(),
            Variant::Null(),
            Variant(c.Ordinal),
            Variant(c.HasDefault),
            c.HasDefault ? Variant(c.Default) : Variant::Null(),
            Variant(static_cast<unsigned>(flags)),
            Variant(c.Nullable),
            t.DataType,
            Variant::Null(),
            t.MaxLength,
            t.OctetLength,
            t.Precision,
            t.Scale,
            t.DateTimePrecision,
            Variant::Null(),
            Variant::Null(),
            Variant::Null(),
            Variant::Null(),
            Variant::Null(),
            Variant::Null(),
            Variant::Null(),
            Variant::Null(),
            Variant::Null(),
            TextOrNull(c.Description)};
}

void AddProviderTypes(TSchemaRowsetBuilder& b, const std::vector<TProviderType>& types) {
    auto text = [](const char* s) { return s ? Variant(String(s)) : Variant::Null(); };
    for (const auto& t : types)
        b.Add({Variant(String(t.Name)), Variant(static_cast<unsigned short>(t.Type)), Variant(t.ColumnSize),
               text(t.Prefix), text(t.Suffix), text(t.CreateParams), Variant(true), Variant(t.CaseSensitive),
               Variant(static_cast<unsigned>(t.Searchable)), Variant(t.Unsigned), Variant(t.FixedPrecScale),
               Variant(t.AutoUnique), Variant(String(t.Name)),
               t.MinScale < 0 ? Variant::Null() : Variant(static_cast<short>(t.MinScale)),
               t.MaxScale < 0 ? Variant::Null() : Variant(static_cast<short>(t.MaxScale)), Variant::Null(),
               Variant::Null(), Variant::Null(), Variant(t.IsLong), Variant(t.BestMatch), Variant(t.FixedLength)});
}

void AddLiterals(TSchemaRowsetBuilder& b, const std::vector<TLiteralInfo>& literals) {
    static const char* const names[] = {"DBLITERAL_INVALID",
                                        "DBLITERAL_BINARY_LITERAL",
                                        "DBLITERAL_CATALOG_NAME",
                                        "DBLITERAL_CATALOG_SEPARATOR",
                                        "DBLITERAL_CHAR_LITERAL",
                                        "DBLITERAL_COLUMN_ALIAS",
                                        "DBLITERAL_COLUMN_NAME",
                                        "DBLITERAL_CORRELATION_NAME",
                                        "DBLITERAL_CURSOR_NAME",
                                        "DBLITERAL_ESCAPE_PERCENT_PREFIX",
                                        "DBLITERAL_ESCAPE_UNDERSCORE_PREFIX",
                                        "DBLITERAL_INDEX_NAME",
                                        "DBLITERAL_LIKE_PERCENT",
                                        "DBLITERAL_LIKE_UNDERSCORE",
                                        "DBLITERAL_PROCEDURE_NAME",
                                        "DBLITERAL_QUOTE_PREFIX",
                                        "DBLITERAL_SCHEMA_NAME",
                                        "DBLITERAL_TABLE_NAME",
                                        "DBLITERAL_TEXT_COMMAND",
                                        "DBLITERAL_USER_NAME",
                                        "DBLITERAL_VIEW_NAME",
                                        "DBLITERAL_CUBE_NAME",
                                        "DBLITERAL_DIMENSION_NAME",
                                        "DBLITERAL_HIERARCHY_NAME",
                                        "DBLITERAL_LEVEL_NAME",
                                        "DBLITERAL_MEMBER_NAME",
                                        "DBLITERAL_PROPERTY_NAME",
                                        "DBLITERAL_SCHEMA_SEPARATOR",
                                        "DBLITERAL_QUOTE_SUFFIX",
                                        "DBLITERAL_ESCAPE_PERCENT_SUFFIX",
                                        "DBLITERAL_ESCAPE_UNDERSCORE_SUFFIX"};
    auto text = [](const char* s) { return s ? Variant(String(s)) : Variant::Null(); };
    for (const auto& l : literals) {
        const bool named = l.Literal >= 0 && l.Literal < static_cast<int>(std::size(names));
        b.Add({Variant(String(named ? names[l.Literal] : "DBLITERAL_" + std::to_string(l.Literal))), text(l.Value),
               text(l.InvalidChars), text(l.InvalidStartingChars), Variant(l.Literal), Variant(true),
               Variant(l.MaxLength)});
    }
}

std::vector<std::vector<Variant>> QueryRows(TSession& session, const String& sql, const std::vector<Variant>& params) {
    auto st = session.CreateStatement();
    st->Prepare(sql);
    for (std::size_t i = 0; i < params.size(); ++i) st->SetParameter(static_cast<int>(i) + 1, params[i]);
    auto& r = st->Execute();
    std::vector<std::vector<Variant>> rows;
    TRowBuffer row;
    while (r.Fetch(row)) {
        std::vector<Variant> values;
        const auto& cols = r.GetColumns();
        const auto& kinds = r.GetKinds();
        for (std::size_t c = 0; c < cols.size(); ++c) {
            Variant v = CellToVariant(cols[c], kinds[c], row[c]);
            // Texts come as wide strings; the rowsets are built from narrow ones.
            if (v.BaseType() == Rtl::varOleStr) v = Variant(v.ToString());
            values.push_back(std::move(v));
        }
        rows.push_back(std::move(values));
    }
    return rows;
}

// ---- SQL text of SQLite's CREATE TABLE ------------------------------------------------------------

namespace {

struct TToken {
    enum TKind { tkWord, tkQuoted, tkString, tkPunct } Kind;
    String Text;  // words as written, quoted identifiers unquoted, punctuation as is
    std::size_t Begin, End;
};

bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
}

std::vector<TToken> Tokenize(std::string_view s) {
    std::vector<TToken> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
            ++i;
        } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
            while (i < s.size() && s[i] != '\n') ++i;
        } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            const auto end = s.find("*/", i + 2);
            i = end == std::string_view::npos ? s.size() : end + 2;
        } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
            const char close = c == '[' ? ']' : c;
            const std::size_t begin = i;
            String text;
            ++i;
            while (i < s.size()) {
                if (s[i] == close) {
                    if (close != ']' && i + 1 < s.size() && s[i + 1] == close) {
                        text += close;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += s[i++];
            }
            out.push_back({c == '\'' ? TToken::tkString : TToken::tkQuoted, std::move(text), begin, i});
        } else if (IsWordChar(c)) {
            const std::size_t begin = i;
            while (i < s.size() && IsWordChar(s[i])) ++i;
            out.push_back({TToken::tkWord, String(s.substr(begin, i - begin)), begin, i});
        } else {
            out.push_back({TToken::tkPunct, String(1, c), i, i + 1});
            ++i;
        }
    }
    return out;
}

bool IsWord(const TToken& t, const char* word) { return t.Kind == TToken::tkWord && Rtl::SameText(t.Text, word); }
bool IsPunct(const TToken& t, char c) { return t.Kind == TToken::tkPunct && t.Text[0] == c; }

// Index of the ')' that closes the '(' at open; tokens.size() when none.
std::size_t Closing(const std::vector<TToken>& t, std::size_t open) {
    int depth = 0;
    for (std::size_t k = open; k < t.size(); ++k) {
        if (IsPunct(t[k], '(')) ++depth;
        else if (IsPunct(t[k], ')') && --depth == 0) return k;
    }
    return t.size();
}

}  // namespace

std::vector<TCheckClause> FindSqliteCheckClauses(std::string_view sql) {
    std::vector<TCheckClause> out;
    const std::vector<TToken> t = Tokenize(sql);
    std::size_t open = 0;
    while (open < t.size() && !IsPunct(t[open], '(')) ++open;
    if (open >= t.size()) return out;
    const std::size_t close = Closing(t, open);
    // The items of the definition list, split at top-level commas.
    std::size_t k = open + 1;
    while (k < close) {
        std::size_t end = k;
        int depth = 0;
        while (end < close && !(depth == 0 && IsPunct(t[end], ','))) {
            if (IsPunct(t[end], '(')) ++depth;
            else if (IsPunct(t[end], ')')) --depth;
            ++end;
        }
        const bool tableConstraint = k < end && (IsWord(t[k], "CONSTRAINT") || IsWord(t[k], "PRIMARY") ||
                                                 IsWord(t[k], "UNIQUE") || IsWord(t[k], "CHECK") ||
                                                 IsWord(t[k], "FOREIGN"));
        const String column = !tableConstraint && k < end && t[k].Kind != TToken::tkPunct ? t[k].Text : String();
        String pending;
        for (std::size_t j = tableConstraint ? k : k + 1; j < end; ++j) {
            if (IsWord(t[j], "CONSTRAINT") && j + 1 < end && t[j + 1].Kind != TToken::tkPunct) {
                pending = t[j + 1].Text;
                ++j;
            } else if (IsWord(t[j], "CHECK") && j + 1 < end && IsPunct(t[j + 1], '(')) {
                const std::size_t c = Closing(t, j + 1);
                if (c >= end) break;
                const std::size_t from = t[j + 1].End, to = t[c].Begin;
                out.push_back({pending, String(Rtl::Trim(sql.substr(from, to - from))), column});
                pending.clear();
                j = c;
            } else if (IsPunct(t[j], '(')) {
                j = std::min(Closing(t, j), end);
            } else if (t[j].Kind == TToken::tkWord &&
                       (IsWord(t[j], "PRIMARY") || IsWord(t[j], "NOT") || IsWord(t[j], "NULL") ||
                        IsWord(t[j], "UNIQUE") || IsWord(t[j], "DEFAULT") || IsWord(t[j], "COLLATE") ||
                        IsWord(t[j], "REFERENCES") || IsWord(t[j], "GENERATED") || IsWord(t[j], "AS") ||
                        IsWord(t[j], "FOREIGN"))) {
                pending.clear();
            }
        }
        k = end + 1;
    }
    return out;
}

std::vector<String> SqlIdentifiers(std::string_view expression) {
    std::vector<String> out;
    for (const auto& tok : Tokenize(expression))
        if ((tok.Kind == TToken::tkWord && !(tok.Text[0] >= '0' && tok.Text[0] <= '9')) || tok.Kind == TToken::tkQuoted)
            out.push_back(tok.Text);
    return out;
}

}  // namespace DataEngine::Schema
