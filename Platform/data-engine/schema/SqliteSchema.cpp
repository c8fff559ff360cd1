// Schema rowsets of the SQLite provider, read from the pragmas and
// sqlite_schema of every database of the connection.
//
// SQLite's databases (main, temp and attached ones) are the catalogs; there
// are no schemas, so the SCHEMA columns are Null and SCHEMATA is empty, and
// there are no stored procedures. Names compare without regard to case, as
// SQLite's do. Constraints without a name of their own in SQLite's catalog
// are named after their table: the primary key "<table>_pkey" (or its
// index's name), foreign keys "<table>_fk<n>", unnamed CHECK constraints
// "<table>_check<n>"; UNIQUE constraints take their index's name.
#include <sqlite3.h>

#include <map>
#include <set>

#include "Platform/data-engine/providers/sqlite/SqliteProvider.h"
#include "Platform/data-engine/schema/SchemaRowsets.h"

namespace DataEngine::Schema {

using namespace Velora;

namespace {

const char* const Provider = "SQLite";

String Quote(std::string_view name) {
    String out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

struct TTable {
    String Catalog;
    String Name;
    String Type;  // OLE DB TABLE_TYPE
    bool WithoutRowid = false;
    bool IsView() const { return Type == "VIEW"; }
};

std::vector<TTable> ListTables(TSession& s) {
    std::vector<TTable> out;
    for (auto& r : QueryRows(s, "SELECT schema, name, type, wr FROM pragma_table_list ORDER BY schema, name")) {
        TTable t;
        t.Catalog = Str(r[0]);
        t.Name = Str(r[1]);
        const String type = Str(r[2]);
        t.WithoutRowid = r[3].ToInteger() != 0;
        if (type == "view") t.Type = "VIEW";
        else if (type == "shadow" || Rtl::CompareText(t.Name.substr(0, 7), "sqlite_") == 0) t.Type = "SYSTEM TABLE";
        else if (t.Catalog == "temp") t.Type = "LOCAL TEMPORARY";
        else t.Type = "TABLE";
        out.push_back(std::move(t));
    }
    return out;
}

struct TColumn {
    String Name;
    String Declared;
    bool NotNull = false;
    int KeyOrder = 0;
    bool Generated = false;
    bool HasDefault = false;
    String Default;
};

struct TTableInfo {
    std::vector<TColumn> Columns;
    int RowidAlias = -1;
    std::vector<String> Key;  // in key order
};

TTableInfo ReadTable(TSession& s, const TTable& t) {
    TTableInfo info;
    for (auto& r : QueryRows(s, "SELECT name, type, \"notnull\", dflt_value, pk, hidden FROM pragma_table_xinfo(?1, ?2)",
                             {Variant(t.Name), Variant(t.Catalog)})) {
        const int hidden = r[5].ToInteger();
        if (hidden == 1) continue;  // hidden columns of virtual tables
        TColumn c;
        c.Name = Str(r[0]);
        c.Declared = Str(r[1]);
        c.NotNull = r[2].ToInteger() != 0;
        c.HasDefault = !r[3].IsNull();
        c.Default = Str(r[3]);
        c.KeyOrder = r[4].ToInteger();
        c.Generated = hidden == 2 || hidden == 3;
        info.Columns.push_back(std::move(c));
    }
    std::map<int, String> key;
    for (const auto& c : info.Columns)
        if (c.KeyOrder > 0) key[c.KeyOrder] = c.Name;
    for (auto& [order, name] : key) info.Key.push_back(name);
    if (!t.IsView() && !t.WithoutRowid && info.Key.size() == 1)
        for (std::size_t k = 0; k < info.Columns.size(); ++k)
            if (info.Columns[k].KeyOrder == 1 && Rtl::SameText(info.Columns[k].Declared, "INTEGER"))
                info.RowidAlias = static_cast<int>(k);
    return info;
}

struct TIndex {
    String Name;
    bool Unique = false;
    String Origin;  // c (CREATE INDEX), u (UNIQUE constraint), pk
    bool Partial = false;
};

std::vector<TIndex> IndexesOf(TSession& s, const TTable& t) {
    std::vector<TIndex> out;
    for (auto& r : QueryRows(s, "SELECT name, \"unique\", origin, partial FROM pragma_index_list(?1, ?2)",
                             {Variant(t.Name), Variant(t.Catalog)}))
        out.push_back({Str(r[0]), r[1].ToInteger() != 0, Str(r[2]), r[3].ToInteger() != 0});
    return out;
}

std::vector<String> IndexColumns(TSession& s, const String& catalog, const String& index) {
    std::vector<String> out;
    for (auto& r : QueryRows(s, "SELECT name FROM pragma_index_info(?1, ?2) ORDER BY seqno",
                             {Variant(index), Variant(catalog)}))
        out.push_back(Str(r[0]));
    return out;
}

String CreateSql(TSession& s, const TTable& t) {
    auto rows = QueryRows(s, "SELECT sql FROM " + Quote(t.Catalog) + ".sqlite_schema WHERE name = ?1 COLLATE NOCASE",
                          {Variant(t.Name)});
    return rows.empty() ? String() : Str(rows[0][0]);
}

// The constraints of one table, named as the header of this file says.
struct TConstraint {
    String Name;
    String Type;  // PRIMARY KEY, UNIQUE, FOREIGN KEY, CHECK
    std::vector<String> Columns;
    String RefTable;
    std::vector<String> RefColumns;
    String RefConstraint;  // the referenced table's key or unique constraint
    String OnUpdate, OnDelete, Match;
    String Clause;
};

String PrimaryKeyName(const TTable& t, const std::vector<TIndex>& indexes) {
    for (const auto& ix : indexes)
        if (ix.Origin == "pk") return ix.Name;
    return t.Name + "_pkey";
}

String Rule(const String& action) {
    if (Rtl::SameText(action, "CASCADE")) return "CASCADE";
    if (Rtl::SameText(action, "SET NULL")) return "SET NULL";
    if (Rtl::SameText(action, "SET DEFAULT")) return "SET DEFAULT";
    return "NO ACTION";  // NO ACTION and RESTRICT
}

std::vector<TConstraint> ConstraintsOf(TSession& s, const std::vector<TTable>& all, const TTable& t) {
    std::vector<TConstraint> out;
    if (t.IsView()) return out;
    const TTableInfo info = ReadTable(s, t);
    const auto indexes = IndexesOf(s, t);
    auto key = [](String name, const char* type, std::vector<String> columns) {
        TConstraint c;
        c.Name = std::move(name);
        c.Type = type;
        c.Columns = std::move(columns);
        return c;
    };
    if (!info.Key.empty()) out.push_back(key(PrimaryKeyName(t, indexes), "PRIMARY KEY", info.Key));
    for (const auto& ix : indexes)
        if (ix.Origin == "u") out.push_back(key(ix.Name, "UNIQUE", IndexColumns(s, t.Catalog, ix.Name)));
    std::map<int, TConstraint> fks;
    for (auto& r : QueryRows(s, "SELECT id, seq, \"table\", \"from\", \"to\", on_update, on_delete, \"match\" "
                                "FROM pragma_foreign_key_list(?1, ?2) ORDER BY id, seq",
                             {Variant(t.Name), Variant(t.Catalog)})) {
        const int id = r[0].ToInteger();
        TConstraint& fk = fks[id];
        fk.Type = "FOREIGN KEY";
        fk.RefTable = Str(r[2]);
        fk.Columns.push_back(Str(r[3]));
        fk.RefColumns.push_back(Str(r[4]));  // empty: the referenced table's key, filled below
        fk.OnUpdate = Rule(Str(r[5]));
        fk.OnDelete = Rule(Str(r[6]));
        fk.Match = Rtl::SameText(Str(r[7]), "FULL") ? "FULL" : Rtl::SameText(Str(r[7]), "PARTIAL") ? "PARTIAL" : "NONE";
    }
    int n = 0;
    for (auto& entry : fks) {
        TConstraint& fk = entry.second;
        fk.Name = t.Name + "_fk" + std::to_string(++n);
        const TTable* ref = nullptr;
        for (const auto& other : all)
            if (other.Catalog == t.Catalog && Rtl::SameText(other.Name, fk.RefTable)) ref = &other;
        if (ref) {
            fk.RefTable = ref->Name;
            const TTableInfo refInfo = ReadTable(s, *ref);
            const auto refIndexes = IndexesOf(s, *ref);
            for (std::size_t k = 0; k < fk.RefColumns.size(); ++k)
                if (fk.RefColumns[k].empty() && k < refInfo.Key.size()) fk.RefColumns[k] = refInfo.Key[k];
            auto same = [&](const std::vector<String>& cols) {
                if (cols.size() != fk.RefColumns.size()) return false;
                for (std::size_t k = 0; k < cols.size(); ++k)
                    if (!Rtl::SameText(cols[k], fk.RefColumns[k])) return false;
                return true;
            };
            if (same(refInfo.Key)) fk.RefConstraint = PrimaryKeyName(*ref, refIndexes);
            for (const auto& ix : refIndexes)
                if (fk.RefConstraint.empty() && ix.Unique && !ix.Partial && same(IndexColumns(s, ref->Catalog, ix.Name)))
                    fk.RefConstraint = ix.Name;
        }
        out.push_back(std::move(fk));
    }
    int checks = 0;
    for (const auto& clause : FindSqliteCheckClauses(CreateSql(s, t))) {
        TConstraint c;
        c.Type = "CHECK";
        c.Name = clause.Name.empty() ? t.Name + "_check" + std::to_string(checks + 1) : clause.Name;
        ++checks;
        c.Clause = clause.Clause;
        std::set<String> seen;
        if (!clause.Column.empty()) seen.insert(clause.Column);
        for (const auto& word : SqlIdentifiers(clause.Clause))
            for (const auto& col : info.Columns)
                if (Rtl::SameText(word, col.Name)) seen.insert(col.Name);
        for (const auto& col : info.Columns)
            if (seen.count(col.Name)) c.Columns.push_back(col.Name);
        out.push_back(std::move(c));
    }
    return out;
}

bool ReadOnly(TSession& s) {
    for (const auto& p : s.GetProperties())
        if (p.Name == "Read-Only Data Source") return p.Value.ToBoolean();
    return false;
}

// ---- The rowsets ----------------------------------------------------------------------------------

void Catalogs(TSession& s, TSchemaRowsetBuilder& b) {
    for (auto& r : QueryRows(s, "SELECT name, file FROM pragma_database_list ORDER BY seq"))
        b.Add({r[0], TextOrNull(Str(r[1]))});
}

void Tables(TSession& s, TSchemaRowsetBuilder& b) {
    for (const auto& t : ListTables(s)) b.Add({Variant(t.Catalog), Variant::Null(), Variant(t.Name), Variant(t.Type)});
}

void Columns(TSession& s, TSchemaRowsetBuilder& b) {
    const bool readOnly = ReadOnly(s);
    for (const auto& t : ListTables(s)) {
        if (!b.Meets(0, Variant(t.Catalog)) || !b.Meets(1, Variant::Null()) || !b.Meets(2, Variant(t.Name))) continue;
        const TTableInfo info = ReadTable(s, t);
        for (std::size_t k = 0; k < info.Columns.size(); ++k) {
            const TColumn& c = info.Columns[k];
            TColumnFacts f;
            f.Catalog = t.Catalog;
            f.Table = t.Name;
            f.Column = c.Name;
            f.Ordinal = static_cast<unsigned>(k + 1);
            f.HasDefault = c.HasDefault;
            f.Default = c.Default;
            f.RowId = static_cast<int>(k) == info.RowidAlias;
            f.Nullable = !c.NotNull && !f.RowId;  // the row id is never Null
            f.Updatable = !c.Generated && !t.IsView() && !readOnly;
            f.Key = c.KeyOrder > 0;
            f.Mapped = MapSqliteDeclaredType(c.Declared);
            if (f.RowId) {
                f.Mapped.Type = adBigInt;
                ApplyTypeDefaults(f.Mapped);
            }
            f.NoFixedType = f.Mapped.Type == adEmpty;
            f.Description = c.Declared;
            b.Add(ColumnsRow(f));
        }
    }
}

void Indexes(TSession& s, TSchemaRowsetBuilder& b) {
    constexpr int btree = 1;     // DBPROPVAL_IT_BTREE
    constexpr int nullsLow = 4;  // DBPROPVAL_NC_LOW
    for (const auto& t : ListTables(s)) {
        if (t.IsView() || !b.Meets(0, Variant(t.Catalog)) || !b.Meets(4, Variant(t.Name))) continue;
        for (const auto& ix : IndexesOf(s, t)) {
            if (!b.Meets(2, Variant(ix.Name))) continue;
            const bool primary = ix.Origin == "pk";
            const bool clustered = primary && t.WithoutRowid;
            String filter;
            if (ix.Partial) {
                auto rows = QueryRows(s, "SELECT sql FROM " + Quote(t.Catalog) + ".sqlite_schema WHERE name = ?1",
                                      {Variant(ix.Name)});
                if (!rows.empty()) {
                    const String sql = Str(rows[0][0]);
                    // The WHERE clause ends a partial index's definition.
                    const String upper = Rtl::UpperCase(sql);
                    const auto where = upper.rfind(" WHERE ");
                    if (where != String::npos) filter = Rtl::Trim(sql.substr(where + 7));
                }
            }
            for (auto& r : QueryRows(s, "SELECT seqno, name, \"desc\" FROM pragma_index_xinfo(?1, ?2) WHERE key = 1 "
                                        "ORDER BY seqno",
                                     {Variant(ix.Name), Variant(t.Catalog)}))
                b.Add({Variant(t.Catalog), Variant::Null(), Variant(t.Name), Variant(t.Catalog), Variant::Null(),
                       Variant(ix.Name), Variant(primary), Variant(ix.Unique), Variant(clustered),
                       Variant(static_cast<unsigned short>(btree)), Variant::Null(), Variant::Null(), Variant(0),
                       Variant(false), Variant(true), Variant(nullsLow),
                       Variant(static_cast<unsigned>(r[0].ToInteger() + 1)), r[1].IsNull() ? Variant::Null() : r[1],
                       Variant::Null(), Variant::Null(), Variant(static_cast<short>(r[2].ToInteger() ? 2 : 1)),
                       Variant::Null(), Variant::Null(), TextOrNull(filter), Variant(clustered)});
        }
    }
}

void PrimaryKeys(TSession& s, TSchemaRowsetBuilder& b) {
    for (const auto& t : ListTables(s)) {
        if (t.IsView() || !b.Meets(0, Variant(t.Catalog)) || !b.Meets(2, Variant(t.Name))) continue;
        const TTableInfo info = ReadTable(s, t);
        if (info.Key.empty()) continue;
        const String name = PrimaryKeyName(t, IndexesOf(s, t));
        for (std::size_t k = 0; k < info.Key.size(); ++k)
            b.Add({Variant(t.Catalog), Variant::Null(), Variant(t.Name), Variant(info.Key[k]), Variant::Null(),
                   Variant::Null(), Variant(static_cast<unsigned>(k + 1)), Variant(name)});
    }
}

// Calls f(table, constraint) for the constraints of every table the
// restrictions on the table's catalog and name (at those indexes) allow.
template <class F>
void ForEachConstraint(TSession& s, TSchemaRowsetBuilder& b, int catalogRestriction, int tableRestriction, F&& f) {
    const auto all = ListTables(s);
    for (const auto& t : all) {
        if (t.IsView() || t.Type == "SYSTEM TABLE") continue;
        if (catalogRestriction >= 0 && !b.Meets(static_cast<std::size_t>(catalogRestriction), Variant(t.Catalog)))
            continue;
        if (tableRestriction >= 0 && !b.Meets(static_cast<std::size_t>(tableRestriction), Variant(t.Name))) continue;
        for (const auto& c : ConstraintsOf(s, all, t)) f(t, c);
    }
}

void ForeignKeys(TSession& s, TSchemaRowsetBuilder& b) {
    ForEachConstraint(s, b, 3, 5, [&](const TTable& t, const TConstraint& c) {
        if (c.Type != "FOREIGN KEY") return;
        for (std::size_t k = 0; k < c.Columns.size(); ++k)
            b.Add({Variant(t.Catalog), Variant::Null(), Variant(c.RefTable), TextOrNull(c.RefColumns[k]),
                   Variant::Null(), Variant::Null(), Variant(t.Catalog), Variant::Null(), Variant(t.Name),
                   Variant(c.Columns[k]), Variant::Null(), Variant::Null(), Variant(static_cast<unsigned>(k + 1)),
                   Variant(c.OnUpdate), Variant(c.OnDelete), TextOrNull(c.RefConstraint), Variant(c.Name),
                   Variant::Null()});
    });
}

void Views(TSession& s, TSchemaRowsetBuilder& b) {
    for (const auto& t : ListTables(s)) {
        if (!t.IsView()) continue;
        auto rows = QueryRows(s,
                              "SELECT sql, (SELECT count(*) FROM " + Quote(t.Catalog) +
                                  ".sqlite_schema WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE AND "
                                  "upper(sql) LIKE '%INSTEAD OF%') FROM " +
                                  Quote(t.Catalog) + ".sqlite_schema WHERE type = 'view' AND name = ?1",
                              {Variant(t.Name)});
        if (rows.empty()) continue;
        b.Add({Variant(t.Catalog), Variant::Null(), Variant(t.Name), rows[0][0], Variant(false),
               Variant(rows[0][1].ToInteger() > 0)});
    }
}

// The base columns a view shows, from its own result's description.
void ViewUsage(TSession& s, TSchemaRowsetBuilder& b, bool columns) {
    for (const auto& t : ListTables(s)) {
        if (!t.IsView() || !b.Meets(0, Variant(t.Catalog)) || !b.Meets(2, Variant(t.Name))) continue;
        std::set<std::pair<String, String>> seen;
        try {
            auto st = s.CreateStatement();
            st->Prepare("SELECT * FROM " + Quote(t.Catalog) + "." + Quote(t.Name) + " LIMIT 0");
            for (const auto& c : st->Execute().GetColumns()) {
                if (c.BaseTableName.empty()) continue;
                const auto key = std::make_pair(c.BaseTableName, columns ? c.BaseColumnName : String());
                if (!seen.insert(key).second) continue;
                std::vector<Variant> row = {Variant(t.Catalog), Variant::Null(), Variant(t.Name),
                                            Variant(c.BaseCatalogName), Variant::Null(), Variant(c.BaseTableName)};
                if (columns) row.push_back(Variant(c.BaseColumnName));
                b.Add(std::move(row));
            }
        } catch (const EEngineError&) {
            // A view whose tables are gone uses nothing that exists.
        }
    }
}

void TableConstraints(TSession& s, TSchemaRowsetBuilder& b) {
    ForEachConstraint(s, b, 3, 5, [&](const TTable& t, const TConstraint& c) {
        b.Add({Variant(t.Catalog), Variant::Null(), Variant(c.Name), Variant(t.Catalog), Variant::Null(),
               Variant(t.Name), Variant(c.Type), Variant(false), Variant(false)});
    });
}

void CheckConstraints(TSession& s, TSchemaRowsetBuilder& b) {
    ForEachConstraint(s, b, 0, -1, [&](const TTable& t, const TConstraint& c) {
        if (c.Type == "CHECK") b.Add({Variant(t.Catalog), Variant::Null(), Variant(c.Name), Variant(c.Clause)});
    });
}

void KeyColumnUsage(TSession& s, TSchemaRowsetBuilder& b) {
    ForEachConstraint(s, b, 3, 5, [&](const TTable& t, const TConstraint& c) {
        if (c.Type == "CHECK") return;
        for (std::size_t k = 0; k < c.Columns.size(); ++k)
            b.Add({Variant(t.Catalog), Variant::Null(), Variant(c.Name), Variant(t.Catalog), Variant::Null(),
                   Variant(t.Name), Variant(c.Columns[k]), Variant::Null(), Variant::Null(),
                   Variant(static_cast<unsigned>(k + 1))});
    });
}

void ReferentialConstraints(TSession& s, TSchemaRowsetBuilder& b) {
    ForEachConstraint(s, b, 0, -1, [&](const TTable& t, const TConstraint& c) {
        if (c.Type != "FOREIGN KEY") return;
        b.Add({Variant(t.Catalog), Variant::Null(), Variant(c.Name),
               c.RefConstraint.empty() ? Variant::Null() : Variant(t.Catalog), Variant::Null(),
               TextOrNull(c.RefConstraint), Variant(c.Match), Variant(c.OnUpdate), Variant(c.OnDelete)});
    });
}

void ConstraintColumnUsage(TSession& s, TSchemaRowsetBuilder& b) {
    ForEachConstraint(s, b, 0, 2, [&](const TTable& t, const TConstraint& c) {
        for (const auto& col : c.Columns)
            b.Add({Variant(t.Catalog), Variant::Null(), Variant(t.Name), Variant(col), Variant::Null(),
                   Variant::Null(), Variant(t.Catalog), Variant::Null(), Variant(c.Name)});
    });
}

void ConstraintTableUsage(TSession& s, TSchemaRowsetBuilder& b) {
    ForEachConstraint(s, b, -1, -1, [&](const TTable& t, const TConstraint& c) {
        b.Add({Variant(t.Catalog), Variant::Null(), Variant(t.Name), Variant(t.Catalog), Variant::Null(),
               Variant(c.Name)});
        if (c.Type == "FOREIGN KEY" && !Rtl::SameText(c.RefTable, t.Name))
            b.Add({Variant(t.Catalog), Variant::Null(), Variant(c.RefTable), Variant(t.Catalog), Variant::Null(),
                   Variant(c.Name)});
    });
}

void ProviderTypes(TSchemaRowsetBuilder& b) {
    // SQLite keeps any value in any column; these are the declared types the
    // provider maps (Platform/data-engine/README.md), one best match per ADO type.
    const unsigned maxText = 1073741823, maxBlob = 2147483647;
    AddProviderTypes(b, {
                            {"BOOLEAN", adBoolean, 1, nullptr, nullptr, nullptr, false, 3, false, false, false, -1, -1, false, true, true},
                            {"TINYINT", adUnsignedTinyInt, 3, nullptr, nullptr, nullptr, false, 3, true, false, false, 0, 0, false, true, true},
                            {"SMALLINT", adSmallInt, 5, nullptr, nullptr, nullptr, false, 3, false, false, false, 0, 0, false, true, true},
                            {"INT", adInteger, 10, nullptr, nullptr, nullptr, false, 3, false, false, false, 0, 0, false, true, true},
                            {"INTEGER", adBigInt, 19, nullptr, nullptr, nullptr, false, 3, false, false, true, 0, 0, false, true, true},
                            {"DOUBLE", adDouble, 15, nullptr, nullptr, nullptr, false, 3, false, false, false, -1, -1, false, true, true},
                            {"NUMERIC", adNumeric, 29, nullptr, nullptr, "precision,scale", false, 3, false, false, false, 0, 28, false, true, true},
                            {"MONEY", adCurrency, 19, nullptr, nullptr, nullptr, false, 3, false, true, false, 4, 4, false, true, true},
                            {"DATE", adDBDate, 10, "'", "'", nullptr, false, 3, false, false, false, -1, -1, false, true, true},
                            {"TIME", adDBTime, 15, "'", "'", nullptr, false, 3, false, false, false, -1, -1, false, true, true},
                            {"DATETIME", adDBTimeStamp, 26, "'", "'", nullptr, false, 3, false, false, false, -1, -1, false, true, true},
                            {"GUID", adGUID, 38, "'", "'", nullptr, false, 3, false, false, false, -1, -1, false, true, true},
                            {"CHAR", adWChar, maxText, "'", "'", "length", true, 4, false, false, false, -1, -1, false, true, true},
                            {"VARCHAR", adVarWChar, maxText, "'", "'", "max length", true, 4, false, false, false, -1, -1, false, true, false},
                            {"TEXT", adLongVarWChar, maxText, "'", "'", nullptr, true, 4, false, false, false, -1, -1, true, true, false},
                            {"BINARY", adBinary, maxBlob, "X'", "'", "length", false, 3, false, false, false, -1, -1, false, true, true},
                            {"VARBINARY", adVarBinary, maxBlob, "X'", "'", "max length", false, 3, false, false, false, -1, -1, false, true, false},
                            {"BLOB", adLongVarBinary, maxBlob, "X'", "'", nullptr, false, 3, false, false, false, -1, -1, true, true, false},
                        });
}

void Statistics(TSession& s, TSchemaRowsetBuilder& b) {
    for (const auto& t : ListTables(s)) {
        if (t.IsView() || !b.Meets(0, Variant(t.Catalog)) || !b.Meets(2, Variant(t.Name))) continue;
        Variant count = Variant::Null();
        // ANALYZE's estimate when there is one; the rows counted otherwise.
        const auto stat = QueryRows(s, "SELECT count(*) FROM pragma_table_list WHERE name = ?1 AND schema = ?2",
                                    {Variant("sqlite_stat1"), Variant(t.Catalog)});
        if (!stat.empty() && stat[0][0].ToInteger() > 0) {
            auto rows = QueryRows(s, "SELECT stat FROM " + Quote(t.Catalog) + ".sqlite_stat1 WHERE tbl = ?1 LIMIT 1",
                                  {Variant(t.Name)});
            if (!rows.empty()) count = Variant(static_cast<UInt64>(std::strtoull(Str(rows[0][0]).c_str(), nullptr, 10)));
        }
        if (count.IsNull()) {
            auto rows = QueryRows(s, "SELECT count(*) FROM " + Quote(t.Catalog) + "." + Quote(t.Name));
            count = Variant(static_cast<UInt64>(rows[0][0].ToInt64()));
        }
        b.Add({Variant(t.Catalog), Variant::Null(), Variant(t.Name), count});
    }
}

// SQLite has no users: every connection may do what the file allows.
void Privileges(TSession& s, TSchemaRowsetBuilder& b, bool columns) {
    const bool readOnly = ReadOnly(s);
    for (const auto& t : ListTables(s)) {
        if (!b.Meets(0, Variant(t.Catalog)) || !b.Meets(2, Variant(t.Name))) continue;
        std::vector<const char*> kinds = {"SELECT"};
        if (!readOnly && !t.IsView()) kinds = {"SELECT", "INSERT", "UPDATE", "DELETE", "REFERENCES"};
        if (!columns) {
            for (const char* k : kinds)
                b.Add({Variant::Null(), Variant("PUBLIC"), Variant(t.Catalog), Variant::Null(), Variant(t.Name),
                       Variant(k), Variant(false)});
            continue;
        }
        for (const auto& c : ReadTable(s, t).Columns)
            for (const char* k : kinds) {
                if (String(k) == "DELETE") continue;
                b.Add({Variant::Null(), Variant("PUBLIC"), Variant(t.Catalog), Variant::Null(), Variant(t.Name),
                       Variant(c.Name), Variant::Null(), Variant::Null(), Variant(k), Variant(false)});
            }
    }
}

void Literals(TSchemaRowsetBuilder& b) {
    AddLiterals(b, {
                       {1, nullptr, nullptr, nullptr, -1},   // BINARY_LITERAL: X'0102'
                       {2, nullptr, nullptr, nullptr, -1},   // CATALOG_NAME
                       {3, ".", nullptr, nullptr, 1},        // CATALOG_SEPARATOR
                       {4, nullptr, nullptr, nullptr, -1},   // CHAR_LITERAL
                       {5, nullptr, nullptr, nullptr, -1},   // COLUMN_ALIAS
                       {6, nullptr, nullptr, nullptr, -1},   // COLUMN_NAME
                       {7, nullptr, nullptr, nullptr, -1},   // CORRELATION_NAME
                       {11, nullptr, nullptr, nullptr, -1},  // INDEX_NAME
                       {12, "%", nullptr, nullptr, 1},       // LIKE_PERCENT
                       {13, "_", nullptr, nullptr, 1},       // LIKE_UNDERSCORE
                       {15, "\"", nullptr, nullptr, 1},      // QUOTE_PREFIX
                       {17, nullptr, nullptr, nullptr, -1},  // TABLE_NAME
                       {18, nullptr, nullptr, nullptr, -1},  // TEXT_COMMAND
                       {20, nullptr, nullptr, nullptr, -1},  // VIEW_NAME
                       {28, "\"", nullptr, nullptr, 1},      // QUOTE_SUFFIX
                   });
}

void Keywords(TSchemaRowsetBuilder& b) {
    const int n = sqlite3_keyword_count();
    for (int i = 0; i < n; ++i) {
        const char* word = nullptr;
        int length = 0;
        if (sqlite3_keyword_name(i, &word, &length) == SQLITE_OK)
            b.Add({Variant(String(word, static_cast<std::size_t>(length)))});
    }
}

}  // namespace

std::unique_ptr<TResultStream> OpenSqliteSchema(TSession& s, SchemaEnum schema, const std::vector<Variant>& restrictions) {
    TSchemaRowsetBuilder b(schema, restrictions, false, Provider);
    switch (schema) {
        case adSchemaCatalogs: Catalogs(s, b); break;
        case adSchemaSchemata:
        case adSchemaProcedures:
        case adSchemaProcedureParameters:
        case adSchemaProcedureColumns: break;  // SQLite has neither schemas nor procedures
        case adSchemaTables: Tables(s, b); break;
        case adSchemaColumns: Columns(s, b); break;
        case adSchemaIndexes: Indexes(s, b); break;
        case adSchemaPrimaryKeys: PrimaryKeys(s, b); break;
        case adSchemaForeignKeys: ForeignKeys(s, b); break;
        case adSchemaViews: Views(s, b); break;
        case adSchemaViewColumnUsage: ViewUsage(s, b, true); break;
        case adSchemaViewTableUsage: ViewUsage(s, b, false); break;
        case adSchemaTableConstraints: TableConstraints(s, b); break;
        case adSchemaCheckConstraints: CheckConstraints(s, b); break;
        case adSchemaKeyColumnUsage: KeyColumnUsage(s, b); break;
        case adSchemaReferentialConstraints: ReferentialConstraints(s, b); break;
        case adSchemaConstraintColumnUsage: ConstraintColumnUsage(s, b); break;
        case adSchemaConstraintTableUsage: ConstraintTableUsage(s, b); break;
        case adSchemaProviderTypes: ProviderTypes(b); break;
        case adSchemaStatistics: Statistics(s, b); break;
        case adSchemaTablePrivileges: Privileges(s, b, false); break;
        case adSchemaColumnPrivileges: Privileges(s, b, true); break;
        case adSchemaDBInfoLiterals: Literals(b); break;
        case adSchemaDBInfoKeywords: Keywords(b); break;
        default: RaiseSchemaNotSupported(schema, Provider);
    }
    return b.Finish();
}

}  // namespace DataEngine::Schema
