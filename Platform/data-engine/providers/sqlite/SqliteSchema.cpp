// Schema rowsets of the SQLite provider: Tables, Columns, Indexes and
// PrimaryKeys, with the OLE DB columns and restrictions of each.
//
// SQLite's databases (main, temp and attached ones) are catalogs; there are
// no schemas, so TABLE_SCHEMA is always Null.
#include "Platform/data-engine/providers/MemoryResult.h"
#include "Platform/data-engine/providers/sqlite/SqliteCommon.h"

namespace DataEngine::Sqlite {

using namespace Velora;

namespace {

constexpr int NameSize = 128;

String TextAt(sqlite3_stmt* s, int i) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
    return String(p ? p : "");
}

// Runs a query with text parameters and calls onRow for each row.
template <class F>
void Query(TCore& core, const char* sql, std::initializer_list<String> args, F&& onRow) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(core.Db, sql, -1, &stmt, nullptr);
    if (rc != SQLITE_OK) RaiseSqliteError(core, rc, sql);
    int k = 1;
    for (const auto& a : args) sqlite3_bind_text(stmt, k++, a.c_str(), static_cast<int>(a.size()), SQLITE_TRANSIENT);
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) onRow(stmt);
    if (rc != SQLITE_DONE) {
        try {
            RaiseSqliteError(core, rc, sql);
        } catch (...) {
            sqlite3_finalize(stmt);
            throw;
        }
    }
    sqlite3_finalize(stmt);
}

// A restriction given (neither Empty nor Null) that the value does not meet.
bool Excluded(const std::vector<Variant>& restrictions, std::size_t index, const Variant& value) {
    if (index >= restrictions.size()) return false;
    const Variant& r = restrictions[index];
    if (r.IsEmpty() || r.IsNull()) return false;
    if (value.IsNull() || value.IsEmpty()) return true;
    return !Rtl::SameText(r.ToString(), value.ToString());
}

struct TTableEntry {
    String Catalog;
    String Name;
    String Type;  // OLE DB TABLE_TYPE
};

std::vector<TTableEntry> ListTables(TCore& core) {
    std::vector<TTableEntry> out;
    Query(core, "SELECT schema, name, type FROM pragma_table_list ORDER BY schema, name", {}, [&](sqlite3_stmt* s) {
        TTableEntry e;
        e.Catalog = TextAt(s, 0);
        e.Name = TextAt(s, 1);
        const String type = TextAt(s, 2);
        if (type == "view") e.Type = "VIEW";
        else if (type == "shadow" || Rtl::CompareText(e.Name.substr(0, 7), "sqlite_") == 0) e.Type = "SYSTEM TABLE";
        else if (e.Catalog == "temp") e.Type = "LOCAL TEMPORARY";
        else e.Type = "TABLE";
        out.push_back(std::move(e));
    });
    return out;
}

Variant TextOrNull(const String& s) { return s.empty() ? Variant::Null() : Variant(s); }

std::unique_ptr<TResultStream> Tables(TCore& core, const std::vector<Variant>& r) {
    auto result = std::make_unique<TMemoryResult>(std::vector<TColumnInfo>{
        MakeColumn("TABLE_CATALOG", adVarWChar, NameSize), MakeColumn("TABLE_SCHEMA", adVarWChar, NameSize),
        MakeColumn("TABLE_NAME", adVarWChar, NameSize), MakeColumn("TABLE_TYPE", adVarWChar, 32),
        MakeColumn("TABLE_GUID", adGUID), MakeColumn("DESCRIPTION", adVarWChar, 255),
        MakeColumn("TABLE_PROPID", adUnsignedInt), MakeColumn("DATE_CREATED", adDate),
        MakeColumn("DATE_MODIFIED", adDate)});
    for (const auto& t : ListTables(core)) {
        if (Excluded(r, 0, Variant(t.Catalog)) || Excluded(r, 1, Variant::Null()) || Excluded(r, 2, Variant(t.Name)) ||
            Excluded(r, 3, Variant(t.Type)))
            continue;
        result->AddRow({Variant(t.Catalog), Variant::Null(), Variant(t.Name), Variant(t.Type)});
    }
    result->SortBy({3, 0, 1, 2});
    return result;
}

int FlagsOf(const TColumnInfo& mapped, const TBaseTable& table, std::size_t index, bool readOnly) {
    const TBaseColumn& c = table.Columns[index];
    int flags = mapped.Attributes & (adFldFixed | adFldLong);
    if (!c.NotNull) flags |= adFldIsNullable | adFldMayBeNull;
    if (!c.Generated && !table.IsView && !readOnly) flags |= adFldUpdatable;
    if (static_cast<int>(index) == table.RowidAliasColumn) flags |= adFldRowID;
    if (c.PrimaryKeyOrder > 0) flags |= adFldKeyColumn;
    return flags;
}

std::unique_ptr<TResultStream> Columns(TCore& core, const std::vector<Variant>& r) {
    auto result = std::make_unique<TMemoryResult>(std::vector<TColumnInfo>{
        MakeColumn("TABLE_CATALOG", adVarWChar, NameSize), MakeColumn("TABLE_SCHEMA", adVarWChar, NameSize),
        MakeColumn("TABLE_NAME", adVarWChar, NameSize), MakeColumn("COLUMN_NAME", adVarWChar, NameSize),
        MakeColumn("COLUMN_GUID", adGUID), MakeColumn("COLUMN_PROPID", adUnsignedInt),
        MakeColumn("ORDINAL_POSITION", adUnsignedInt), MakeColumn("COLUMN_HASDEFAULT", adBoolean),
        MakeColumn("COLUMN_DEFAULT", adLongVarWChar), MakeColumn("COLUMN_FLAGS", adUnsignedInt),
        MakeColumn("IS_NULLABLE", adBoolean), MakeColumn("DATA_TYPE", adUnsignedSmallInt),
        MakeColumn("TYPE_GUID", adGUID), MakeColumn("CHARACTER_MAXIMUM_LENGTH", adUnsignedInt),
        MakeColumn("CHARACTER_OCTET_LENGTH", adUnsignedInt), MakeColumn("NUMERIC_PRECISION", adUnsignedSmallInt),
        MakeColumn("NUMERIC_SCALE", adSmallInt), MakeColumn("DATETIME_PRECISION", adUnsignedInt),
        MakeColumn("CHARACTER_SET_CATALOG", adVarWChar, NameSize),
        MakeColumn("CHARACTER_SET_SCHEMA", adVarWChar, NameSize),
        MakeColumn("CHARACTER_SET_NAME", adVarWChar, NameSize), MakeColumn("COLLATION_CATALOG", adVarWChar, NameSize),
        MakeColumn("COLLATION_SCHEMA", adVarWChar, NameSize), MakeColumn("COLLATION_NAME", adVarWChar, NameSize),
        MakeColumn("DOMAIN_CATALOG", adVarWChar, NameSize), MakeColumn("DOMAIN_SCHEMA", adVarWChar, NameSize),
        MakeColumn("DOMAIN_NAME", adVarWChar, NameSize), MakeColumn("DESCRIPTION", adVarWChar, 255)});
    for (const auto& t : ListTables(core)) {
        if (Excluded(r, 0, Variant(t.Catalog)) || Excluded(r, 1, Variant::Null()) || Excluded(r, 2, Variant(t.Name)))
            continue;
        const TBaseTable table = ReadBaseTable(core, t.Catalog, t.Name);
        for (std::size_t k = 0; k < table.Columns.size(); ++k) {
            const TBaseColumn& c = table.Columns[k];
            if (Excluded(r, 3, Variant(c.Name))) continue;
            TColumnInfo mapped = MapSqliteDeclaredType(c.DeclaredType);
            if (static_cast<int>(k) == table.RowidAliasColumn) {
                mapped.Type = adBigInt;
                ApplyTypeDefaults(mapped);
            }
            const bool noFixedType = mapped.Type == adEmpty;
            const TStorageKind kind = noFixedType ? skText : StorageKindOf(mapped.Type);
            Variant maxLength = Variant::Null(), octets = Variant::Null(), precision = Variant::Null(),
                    scale = Variant::Null(), dtPrecision = Variant::Null();
            if (kind == skText && !noFixedType) {
                maxLength = Variant(static_cast<unsigned>(mapped.DefinedSize));
                octets = Variant(static_cast<unsigned>(mapped.DefinedSize) * 2u);
            } else if (kind == skBytes) {
                maxLength = octets = Variant(static_cast<unsigned>(mapped.DefinedSize));
            } else if (kind == skDate) {
                dtPrecision = Variant(static_cast<unsigned>(mapped.Type == adDBDate ? 0 : 6));
            } else if (!noFixedType && kind != skGuid && kind != skBoolean) {
                precision = Variant(static_cast<unsigned short>(mapped.Precision));
                if (kind == skDecimal || kind == skCurrency) scale = Variant(static_cast<short>(mapped.NumericScale));
            }
            result->AddRow({Variant(t.Catalog), Variant::Null(), Variant(t.Name), Variant(c.Name), Variant::Null(),
                            Variant::Null(), Variant(static_cast<unsigned>(k + 1)), Variant(c.HasDefault),
                            c.HasDefault ? Variant(c.Default) : Variant::Null(),
                            Variant(static_cast<unsigned>(FlagsOf(mapped, table, k, core.ReadOnly))),
                            Variant(!c.NotNull),
                            Variant(static_cast<unsigned short>(noFixedType ? adVariant : mapped.Type)),
                            Variant::Null(), maxLength, octets, precision, scale, dtPrecision, Variant::Null(),
                            Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(),
                            Variant::Null(), Variant::Null(), Variant::Null(), TextOrNull(c.DeclaredType)});
        }
    }
    result->SortBy({0, 1, 2, 6});
    return result;
}

std::unique_ptr<TResultStream> Indexes(TCore& core, const std::vector<Variant>& r) {
    auto result = std::make_unique<TMemoryResult>(std::vector<TColumnInfo>{
        MakeColumn("TABLE_CATALOG", adVarWChar, NameSize), MakeColumn("TABLE_SCHEMA", adVarWChar, NameSize),
        MakeColumn("TABLE_NAME", adVarWChar, NameSize), MakeColumn("INDEX_CATALOG", adVarWChar, NameSize),
        MakeColumn("INDEX_SCHEMA", adVarWChar, NameSize), MakeColumn("INDEX_NAME", adVarWChar, NameSize),
        MakeColumn("PRIMARY_KEY", adBoolean), MakeColumn("UNIQUE", adBoolean), MakeColumn("CLUSTERED", adBoolean),
        MakeColumn("TYPE", adUnsignedSmallInt), MakeColumn("FILL_FACTOR", adInteger),
        MakeColumn("INITIAL_SIZE", adInteger), MakeColumn("NULLS", adInteger), MakeColumn("SORT_BOOKMARKS", adBoolean),
        MakeColumn("AUTO_UPDATE", adBoolean), MakeColumn("NULL_COLLATION", adInteger),
        MakeColumn("ORDINAL_POSITION", adUnsignedInt), MakeColumn("COLUMN_NAME", adVarWChar, NameSize),
        MakeColumn("COLUMN_GUID", adGUID), MakeColumn("COLUMN_PROPID", adUnsignedInt),
        MakeColumn("COLLATION", adSmallInt), MakeColumn("CARDINALITY", adUnsignedBigInt),
        MakeColumn("PAGES", adInteger), MakeColumn("FILTER_CONDITION", adVarWChar, 255),
        MakeColumn("INTEGRATED", adBoolean)});
    constexpr int btree = 1;        // DBPROPVAL_IT_BTREE
    constexpr int nullsLow = 4;     // DBPROPVAL_NC_LOW
    for (const auto& t : ListTables(core)) {
        if (t.Type == "VIEW" || Excluded(r, 0, Variant(t.Catalog)) || Excluded(r, 1, Variant::Null()) ||
            Excluded(r, 3, Variant(btree)) || Excluded(r, 4, Variant(t.Name)))
            continue;
        const TBaseTable table = ReadBaseTable(core, t.Catalog, t.Name);
        struct TIndex {
            String Name;
            bool Unique;
            bool Primary;
        };
        std::vector<TIndex> indexes;
        Query(core, "SELECT name, \"unique\", origin FROM pragma_index_list(?1, ?2)", {t.Name, t.Catalog},
              [&](sqlite3_stmt* s) { indexes.push_back({TextAt(s, 0), sqlite3_column_int(s, 1) != 0, TextAt(s, 2) == "pk"}); });
        for (const auto& ix : indexes) {
            if (Excluded(r, 2, Variant(ix.Name))) continue;
            const bool clustered = ix.Primary && table.WithoutRowid;
            Query(core, "SELECT seqno, name, \"desc\" FROM pragma_index_xinfo(?1, ?2) WHERE key = 1 ORDER BY seqno",
                  {ix.Name, t.Catalog}, [&](sqlite3_stmt* s) {
                      const bool expression = sqlite3_column_type(s, 1) == SQLITE_NULL;
                      result->AddRow({Variant(t.Catalog), Variant::Null(), Variant(t.Name), Variant(t.Catalog),
                                      Variant::Null(), Variant(ix.Name), Variant(ix.Primary), Variant(ix.Unique),
                                      Variant(clustered), Variant(static_cast<unsigned short>(btree)), Variant::Null(),
                                      Variant::Null(), Variant(0), Variant(false), Variant(true), Variant(nullsLow),
                                      Variant(static_cast<unsigned>(sqlite3_column_int(s, 0) + 1)),
                                      expression ? Variant::Null() : Variant(TextAt(s, 1)), Variant::Null(),
                                      Variant::Null(), Variant(static_cast<short>(sqlite3_column_int(s, 2) ? 2 : 1)),
                                      Variant::Null(), Variant::Null(), Variant::Null(), Variant(clustered)});
                  });
        }
    }
    result->SortBy({7, 9, 3, 4, 5, 16});
    return result;
}

std::unique_ptr<TResultStream> PrimaryKeys(TCore& core, const std::vector<Variant>& r) {
    auto result = std::make_unique<TMemoryResult>(std::vector<TColumnInfo>{
        MakeColumn("TABLE_CATALOG", adVarWChar, NameSize), MakeColumn("TABLE_SCHEMA", adVarWChar, NameSize),
        MakeColumn("TABLE_NAME", adVarWChar, NameSize), MakeColumn("COLUMN_NAME", adVarWChar, NameSize),
        MakeColumn("COLUMN_GUID", adGUID), MakeColumn("COLUMN_PROPID", adUnsignedInt),
        MakeColumn("ORDINAL", adUnsignedInt), MakeColumn("PK_NAME", adVarWChar, NameSize)});
    for (const auto& t : ListTables(core)) {
        if (t.Type == "VIEW" || Excluded(r, 0, Variant(t.Catalog)) || Excluded(r, 1, Variant::Null()) ||
            Excluded(r, 2, Variant(t.Name)))
            continue;
        const TBaseTable table = ReadBaseTable(core, t.Catalog, t.Name);
        String pkName;
        Query(core, "SELECT name FROM pragma_index_list(?1, ?2) WHERE origin = 'pk'", {t.Name, t.Catalog},
              [&](sqlite3_stmt* s) { pkName = TextAt(s, 0); });
        for (const auto& c : table.Columns)
            if (c.PrimaryKeyOrder > 0)
                result->AddRow({Variant(t.Catalog), Variant::Null(), Variant(t.Name), Variant(c.Name), Variant::Null(),
                                Variant::Null(), Variant(static_cast<unsigned>(c.PrimaryKeyOrder)),
                                TextOrNull(pkName)});
    }
    result->SortBy({0, 1, 2, 6});
    return result;
}

}  // namespace

std::unique_ptr<TResultStream> OpenSchemaRowset(TCore& core, SchemaEnum schema, const std::vector<Variant>& r) {
    switch (schema) {
        case adSchemaTables: return Tables(core, r);
        case adSchemaColumns: return Columns(core, r);
        case adSchemaIndexes: return Indexes(core, r);
        case adSchemaPrimaryKeys: return PrimaryKeys(core, r);
        default:
            throw EEngineError("Schema rowset " + std::to_string(static_cast<int>(schema)) +
                                   " is not supported by the SQLite provider",
                               AdoErrorHResult(adErrFeatureNotAvailable), 0, {}, "SQLite");
    }
}

}  // namespace DataEngine::Sqlite
