#include "Platform/data-engine/objects/RowWriter.h"

#include <algorithm>
#include <map>

namespace DataEngine::Ado {

namespace {


String QuoteName(std::string_view name) {
    String out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

bool IsRowidName(std::string_view s) {
    return Rtl::SameText(s, "rowid") || Rtl::SameText(s, "oid") || Rtl::SameText(s, "_rowid_");
}

bool SameKeyName(std::string_view column, std::string_view key) {
    return Rtl::SameText(column, key) || (IsRowidName(column) && IsRowidName(key));
}

// Dates and GUIDs bind in the column's own form; other values by their kind.
DataTypeEnum BindType(const TColumnInfo& c, TStorageKind kind) {
    return (kind == skDate || kind == skGuid) ? c.Type : adEmpty;
}

}  // namespace

bool SameCell(TStorageKind kind, const TCell& a, const TCell& b) noexcept {
    if (a.Null || b.Null) return a.Null == b.Null;
    switch (kind) {
        case skText:
        case skBytes: return a.GetView() == b.GetView();
        case skSingle:
        case skDouble:
        case skDate: return a.D == b.D;
        case skDecimal: {
            // Equal values may differ in scale (1.5 and 1.50).
            return Rtl::VarSameValue(Variant(a.GetDecimal()), Variant(b.GetDecimal()));
        }
        case skGuid: return std::equal(a.Raw, a.Raw + 16, b.Raw);
        case skUInt8:
        case skUInt16:
        case skUInt32:
        case skUInt64: return a.U == b.U;
        default: return a.I == b.I;
    }
}

struct TRowWriter::TTable {
    String Catalog;
    String Schema;
    String Name;
    String Qualified;                 // quoted, ready for SQL
    std::vector<std::size_t> Columns;  // result columns of this table
    bool KeysLoaded = false;
    std::vector<std::size_t> Keys;  // result columns of the table's key, in key order
    bool KeyComplete = false;       // every key column is in the result
    std::vector<String> KeyNames;
    unsigned OpenCount = 0;
    std::map<String, std::unique_ptr<TStatement>> Readers;  // by SQL text

    String Label() const { return "\"" + (Schema.empty() ? Name : Schema + "." + Name) + "\""; }
};

struct TRowWriter::TFound {
    int Count = 0;      // rows found: 0, 1, or 2 for more than one
    TRowBuffer Values;  // a whole row: the table's columns as found, others as current
    String Unfit;       // a value found that the column cannot hold
};

TRowWriter::TRowWriter(TConnectionObject& connection, const std::vector<TColumnInfo>& columns)
    : FConnection(connection), FColumns(columns), FTableOfColumn(columns.size(), -1) {
    for (std::size_t c = 0; c < FColumns.size(); ++c) {
        const TColumnInfo& col = FColumns[c];
        if (col.BaseTableName.empty() || col.BaseColumnName.empty()) continue;
        int found = -1;
        for (std::size_t t = 0; t < FTables.size(); ++t) {
            const TTable& tt = *FTables[t];
            if (tt.Catalog == col.BaseCatalogName && tt.Schema == col.BaseSchemaName &&
                Rtl::SameText(tt.Name, col.BaseTableName))
                found = static_cast<int>(t);
        }
        if (found < 0) {
            auto t = std::make_unique<TTable>();
            t->Catalog = col.BaseCatalogName;
            t->Schema = col.BaseSchemaName;
            t->Name = col.BaseTableName;
            if (!t->Schema.empty())
                t->Qualified = QuoteName(t->Schema) + "." + QuoteName(t->Name);
            else if (!t->Catalog.empty())
                t->Qualified = QuoteName(t->Catalog) + "." + QuoteName(t->Name);
            else
                t->Qualified = QuoteName(t->Name);
            FTables.push_back(std::move(t));
            found = static_cast<int>(FTables.size()) - 1;
        }
        FTables[static_cast<std::size_t>(found)]->Columns.push_back(c);
        FTableOfColumn[c] = found;
        if (IsWritable(c)) ++FWritableCount;
    }
}

TRowWriter::~TRowWriter() = default;

bool TRowWriter::IsWritable(std::size_t column) const {
    return column < FColumns.size() && FTableOfColumn[column] >= 0 && FColumns[column].HasAttribute(adFldUpdatable) &&
           !IsRowidName(FColumns[column].BaseColumnName);
}

String TRowWriter::WhyNotWritable() const {
    if (FTables.empty()) return "no column of the result comes from a table";
    return "the provider reports no column of the result as updatable";
}

bool TRowWriter::HasKeys() const {
    if (FTables.size() != 1) return false;
    TTable& t = *FTables.front();
    const_cast<TRowWriter*>(this)->TableOf({t.Columns.front()}, "read");
    return t.KeyComplete;
}

TRowWriter::TTable& TRowWriter::TableOf(const std::vector<std::size_t>& columns, std::string_view action) {
    int table = -1;
    for (std::size_t c : columns) {
        const int t = FTableOfColumn[c];
        if (t < 0)
            AdoFail(adErrFeatureNotAvailable, "cannot " + String(action) + " column \"" + FColumns[c].Name +
                                                  "\": it is not a column of a table");
        if (table >= 0 && t != table)
            AdoFail(adErrFeatureNotAvailable,
                    "cannot " + String(action) + " one row in two tables at once (" +
                        FTables[static_cast<std::size_t>(table)]->Label() + " and " +
                        FTables[static_cast<std::size_t>(t)]->Label() + ")");
        table = t;
    }
    TTable* found = table >= 0 ? FTables[static_cast<std::size_t>(table)].get() : SoleTable();
    if (!found)
        AdoFail(adErrFeatureNotAvailable, "cannot " + String(action) + " the row: " +
                                              (FTables.empty() ? String("it comes from no table")
                                                               : String("it comes from several tables")));
    TTable& t = *found;
    if (!t.KeysLoaded) {
        // A table in a schema is named with it, so that a table of the same name elsewhere is not taken.
        t.KeyNames = FConnection.GetSession().GetKeyColumns(t.Catalog, t.Schema.empty() ? t.Name : t.Schema + "." + t.Name);
        t.KeysLoaded = true;
        t.KeyComplete = !t.KeyNames.empty();
        for (const String& k : t.KeyNames) {
            std::size_t hit = static_cast<std::size_t>(-1);
            for (std::size_t c : t.Columns)
                if (SameKeyName(FColumns[c].BaseColumnName, k)) hit = c;
            if (hit == static_cast<std::size_t>(-1)) {
                t.KeyComplete = false;
                t.Keys.clear();
                break;
            }
            t.Keys.push_back(hit);
        }
    }
    return t;
}

TRowWriter::TTable* TRowWriter::SoleTable() { return FTables.size() == 1 ? FTables.front().get() : nullptr; }

String TRowWriter::Locator(const TTable& t, TRowStore& store, TRowId row, TValueVersion version,
                           std::vector<std::pair<Variant, DataTypeEnum>>& binds) const {
    String where;
    const std::vector<std::size_t>& cols = t.KeyComplete ? t.Keys : t.Columns;
    for (std::size_t c : cols) {
        if (!where.empty()) where += " AND ";
        const TColumnInfo& col = FColumns[c];
        if (store.IsNull(row, c, version)) {
            where += QuoteName(col.BaseColumnName) + " IS NULL";
        } else {
            where += QuoteName(col.BaseColumnName) + " = ?";
            binds.emplace_back(store.GetValue(row, c, version), BindType(col, store.GetKinds()[c]));
        }
    }
    return where;
}

void TRowWriter::Find(TTable& t, TRowStore& store, TRowId row, TFound& found) {
    std::vector<std::pair<Variant, DataTypeEnum>> binds;
    String select;
    for (std::size_t c : t.Columns) select += (select.empty() ? "" : ", ") + QuoteName(FColumns[c].BaseColumnName);
    const String sql = "SELECT " + select + " FROM " + t.Qualified + " WHERE " + Locator(t, store, row, vvOriginal, binds);

    if (t.OpenCount != FConnection.GetOpenCount()) {
        t.Readers.clear();
        t.OpenCount = FConnection.GetOpenCount();
    }
    auto& stmt = t.Readers[sql];
    if (!stmt) {
        stmt = FConnection.GetSession().CreateStatement();
        stmt->Prepare(sql);
    }
    for (std::size_t k = 0; k < binds.size(); ++k)
        stmt->SetParameter(static_cast<int>(k) + 1, binds[k].first, binds[k].second);

    found.Count = 0;
    found.Unfit.clear();
    store.GetRow(row, found.Values);
    TResultStream& result = stmt->Execute();
    TRowBuffer fetched(result.GetColumns().size());
    try {
        while (found.Count < 2 && result.Fetch(fetched)) {
            if (++found.Count > 1) break;
            for (std::size_t i = 0; i < t.Columns.size(); ++i) {
                const std::size_t c = t.Columns[i];
                const Variant v = CellToVariant(result.GetColumns()[i], result.GetKinds()[i], fetched[i]);
                try {
                    VariantToCell(store.GetColumns()[c], store.GetKinds()[c], v, found.Values[c],
                                  found.Values.Scratch(c));
                } catch (const EEngineError&) {
                    found.Unfit = "column \"" + FColumns[c].Name + "\" holds " + DescribeValue(v) +
                                  " in the database, which it cannot hold";
                    found.Values.SetNull(c);
                }
            }
        }
    } catch (...) {
        stmt->Close();
        throw;
    }
    stmt->Close();
}

TStatement& TRowWriter::Statement(const String& sql) {
    if (FStatementsOpenCount != FConnection.GetOpenCount()) {
        FStatements.clear();
        FStatementsOpenCount = FConnection.GetOpenCount();
    }
    auto& stmt = FStatements[sql];
    if (!stmt) {
        auto fresh = FConnection.GetSession().CreateStatement();
        fresh->Prepare(sql);
        stmt = std::move(fresh);
    }
    return *stmt;
}

Int64 TRowWriter::Run(const String& sql, const std::vector<std::pair<Variant, DataTypeEnum>>& binds,
                      std::vector<Variant>* returned) {
    TStatement& stmt = Statement(sql);
    try {
        for (std::size_t k = 0; k < binds.size(); ++k)
            stmt.SetParameter(static_cast<int>(k) + 1, binds[k].first, binds[k].second);
    } catch (...) {
        stmt.Close();
        throw;
    }
    return Execute(stmt, returned);
}

Int64 TRowWriter::Execute(TStatement& stmt, std::vector<Variant>* returned) {
    Int64 rows = 0;
    try {
        TResultStream& result = stmt.Execute();
        if (!result.HasRows()) {
            rows = result.GetRecordsAffected();
        } else {
            TRowBuffer buf(result.GetColumns().size());
            while (result.Fetch(buf)) {
                if (++rows == 1 && returned) {
                    returned->clear();
                    for (std::size_t i = 0; i < buf.Count(); ++i)
                        returned->push_back(CellToVariant(result.GetColumns()[i], result.GetKinds()[i], buf[i]));
                }
            }
        }
    } catch (...) {
        stmt.Close();
        throw;
    }
    stmt.Close();
    return rows;
}

// The savepoints are the session's own nested transactions: a provider opens a
// transaction for the outermost one (a bare SAVEPOINT is refused outside a
// transaction by some databases), and the session's level stays true. Each
// remembers the level it made, so rolling back twice (a conflict, then the
// caller's cleanup) never reaches a level someone else began.
void TRowWriter::Savepoint() { FRowLevel = FConnection.GetSession().BeginTrans(); }
void TRowWriter::Release() { EndLevel(FRowLevel, true); }
void TRowWriter::BeginBatch() { FBatchLevel = FConnection.GetSession().BeginTrans(); }
void TRowWriter::EndBatch() { EndLevel(FBatchLevel, true); }
void TRowWriter::AbandonBatch() noexcept {
    try {
        EndLevel(FBatchLevel, false);
    } catch (...) {
    }
}

void TRowWriter::RollbackSavepoint() noexcept {
    try {
        EndLevel(FRowLevel, false);
    } catch (...) {
    }
}

void TRowWriter::EndLevel(int& level, bool commit) {
    const int mine = level;
    level = 0;
    TSession& session = FConnection.GetSession();
    if (mine <= 0 || session.GetTransactionLevel() != mine) return;
    if (commit)
        session.CommitTrans();
    else
        session.RollbackTrans();
}

String TRowWriter::KeyText(const TTable& t, TRowStore& store, TRowId row) const {
    if (!t.KeyComplete) return "located by all its values";
    String s;
    for (std::size_t c : t.Keys)
        s += (s.empty() ? "" : ", ") + FColumns[c].BaseColumnName + "=" +
             DescribeValue(store.GetValue(row, c, vvOriginal));
    return "key " + s;
}

void TRowWriter::Conflict(TTable& t, TRowStore& store, TRowId row, const TFound& found, const String& why,
                          std::string_view action) {
    RollbackSavepoint();
    if (found.Count == 1) {
        store.SetUnderlying(row, found.Values);
        store.SetStatusFlags(row, adRecConcurrencyViolation);
    } else if (found.Count == 0) {
        store.SetStatusFlags(row, adRecDBDeleted);
    }
    throw EEngineError("Row cannot be located for " + String(action) +
                           ". Some values may have been changed since it was last read (table " + t.Label() + ", " +
                           KeyText(t, store, row) + ": " + why + "); nothing was written",
                       hrConcurrencyViolation, 0, "40001");
}

void TRowWriter::Insert(TRowStore& store, TRowId row) {
    std::vector<std::size_t> set;
    for (std::size_t c = 0; c < FColumns.size(); ++c)
        if (!store.IsNull(row, c)) set.push_back(c);
    for (std::size_t c : set)
        if (!IsWritable(c)) AdoFail(adErrFeatureNotAvailable, "column \"" + FColumns[c].Name + "\" cannot be written");
    TTable& t = TableOf(set, "insert");
    String names, marks, returning;
    std::vector<std::pair<Variant, DataTypeEnum>> binds;
    for (std::size_t c : set) {
        names += (names.empty() ? "" : ", ") + QuoteName(FColumns[c].BaseColumnName);
        marks += marks.empty() ? "?" : ", ?";
        binds.emplace_back(store.GetValue(row, c), BindType(FColumns[c], store.GetKinds()[c]));
    }
    for (std::size_t c : t.Columns) returning += (returning.empty() ? "" : ", ") + QuoteName(FColumns[c].BaseColumnName);
    const String sql = "INSERT INTO " + t.Qualified + (set.empty() ? " DEFAULT VALUES" : " (" + names + ") VALUES (" + marks + ")") +
                       " RETURNING " + returning;
    std::vector<Variant> returned;
    Savepoint();
    try {
        if (Run(sql, binds, &returned) != 1)
            AdoFail(adErrProviderFailed, "inserting into table " + t.Label() + " did not give back the new row");
        Release();
    } catch (...) {
        RollbackSavepoint();
        throw;
    }
    // The database's values (generated keys, defaults) become the row's.
    TRowBuffer values;
    store.GetRow(row, values);
    for (std::size_t i = 0; i < t.Columns.size() && i < returned.size(); ++i) {
        const std::size_t c = t.Columns[i];
        VariantToCell(store.GetColumns()[c], store.GetKinds()[c], returned[i], values[c], values.Scratch(c));
    }
    store.Refresh(row, values);
}

void TRowWriter::Update(TRowStore& store, TRowId row, int criteria) {
    std::vector<std::size_t>& changed = FChanged;
    changed.clear();
    for (std::size_t c = 0; c < FColumns.size(); ++c)
        if (store.IsChanged(row, c)) changed.push_back(c);
    if (changed.empty()) {
        store.AcceptChanges(row);
        return;
    }
    for (std::size_t c : changed)
        if (!IsWritable(c)) AdoFail(adErrFeatureNotAvailable, "column \"" + FColumns[c].Name + "\" cannot be written");
    TTable& t = TableOf(changed, "update");
    if (t.KeyComplete) {
        // One statement: it needs a savepoint of its own only where a failed
        // statement would spoil the rest of the batch's transaction.
        const bool guard = !FConnection.GetSession().GetFailedStatementKeepsTransaction();
        if (guard) Savepoint();
        bool done = false;
        try {
            done = QuickUpdate(t, store, row, changed, criteria);
            if (guard) Release();
        } catch (...) {
            if (guard) RollbackSavepoint();
            throw;
        }
        if (done) {
            store.AcceptChanges(row);
            return;
        }
    }
    Savepoint();
    try {
        TFound found;
        Find(t, store, row, found);
        if (found.Count == 0) Conflict(t, store, row, found, "the row no longer exists", "updating");
        if (found.Count > 1)
            AdoFail(adErrProviderFailed, "Insufficient key column information for updating: table " + t.Label() +
                                             " has no key in the result and several rows hold the row's values");
        if (!found.Unfit.empty()) Conflict(t, store, row, found, found.Unfit, "updating");
        std::vector<std::size_t> compare;
        if (criteria == adCriteriaAllCols || criteria == adCriteriaTimeStamp)
            compare = t.Columns;
        else if (criteria == adCriteriaUpdCols)
            compare = changed;
        for (std::size_t c : compare) {
            const TCell was = store.GetCell(row, c, vvOriginal);
            if (!SameCell(store.GetKinds()[c], was, found.Values[c]))
                Conflict(t, store, row, found,
                         "column \"" + FColumns[c].Name + "\" holds " +
                             DescribeValue(CellToVariant(FColumns[c], store.GetKinds()[c], found.Values[c])) +
                             " in the database, " + DescribeValue(store.GetValue(row, c, vvOriginal)) + " when read",
                         "updating");
        }
        String set;
        std::vector<std::pair<Variant, DataTypeEnum>> binds;
        for (std::size_t c : changed) {
            set += (set.empty() ? "" : ", ") + QuoteName(FColumns[c].BaseColumnName) + " = ?";
            binds.emplace_back(store.GetValue(row, c), BindType(FColumns[c], store.GetKinds()[c]));
        }
        const String sql = "UPDATE " + t.Qualified + " SET " + set + " WHERE " + Locator(t, store, row, vvOriginal, binds);
        if (Run(sql, binds) != 1) Conflict(t, store, row, found, "the row could not be changed", "updating");
        Release();
    } catch (...) {
        RollbackSavepoint();
        throw;
    }
    store.AcceptChanges(row);
}

bool TRowWriter::QuickUpdate(TTable& t, TRowStore& store, TRowId row, const std::vector<std::size_t>& changed,
                             int criteria) {
    // The row is located by its key; the columns the update criteria name
    // must still hold their original values, which the database itself
    // compares. A row that changed no row of the table (changed by someone
    // else, gone, or a value the database compares differently from the
    // cursor, such as a date kept as text) goes the careful way.
    std::vector<std::size_t>& where = FWhere;
    where.assign(t.Keys.begin(), t.Keys.end());
    const bool all = criteria == adCriteriaAllCols || criteria == adCriteriaTimeStamp;
    if (all || criteria == adCriteriaUpdCols)
        for (std::size_t c : all ? t.Columns : changed)
            if (std::find(where.begin(), where.end(), c) == where.end()) where.push_back(c);
    // The statement's shape: the criteria, the columns set, and which compared values are Null.
    String& shape = FShape;
    shape.clear();
    const auto append = [&](std::uint32_t n) { shape.append(reinterpret_cast<const char*>(&n), sizeof n); };
    append(static_cast<std::uint32_t>(criteria));
    for (std::size_t c : changed) append(static_cast<std::uint32_t>(c));
    shape += '|';
    const std::size_t nulls = shape.size();
    // The row's values, each version read once (its cells point into the store).
    store.GetRow(row, FOriginalRow, vvOriginal);
    store.GetRow(row, FCurrentRow);
    for (std::size_t c : where) shape += FOriginalRow[c].Null ? 'n' : 'v';
    TQuick& quick = FQuick[shape];
    if (quick.Sql.empty()) {
        String text = "UPDATE " + t.Qualified + " SET ";
        for (std::size_t i = 0; i < changed.size(); ++i)
            text += (i ? ", " : "") + QuoteName(FColumns[changed[i]].BaseColumnName) + " = ?";
        text += " WHERE ";
        for (std::size_t i = 0; i < where.size(); ++i)
            text += (i ? " AND " : "") + QuoteName(FColumns[where[i]].BaseColumnName) +
                    (shape[nulls + i] == 'n' ? " IS NULL" : " = ?");
        quick.Sql = std::move(text);
    }
    if (!quick.Stmt || quick.OpenCount != FConnection.GetOpenCount()) {
        quick.Stmt = &Statement(quick.Sql);
        quick.OpenCount = FConnection.GetOpenCount();
    }
    // The row store's cells are bound as they are, without variants between.
    TStatement& stmt = *quick.Stmt;
    const std::vector<TColumnInfo>& columns = store.GetColumns();
    const std::vector<TStorageKind>& kinds = store.GetKinds();
    try {
        int n = 0;
        for (std::size_t c : changed)
            stmt.SetParameterCell(++n, columns[c], kinds[c], FCurrentRow[c], BindType(FColumns[c], kinds[c]));
        for (std::size_t i = 0; i < where.size(); ++i) {
            const std::size_t c = where[i];
            if (shape[nulls + i] != 'n')
                stmt.SetParameterCell(++n, columns[c], kinds[c], FOriginalRow[c], BindType(FColumns[c], kinds[c]));
        }
    } catch (...) {
        stmt.Close();
        throw;
    }
    return Execute(stmt, nullptr) == 1;
}

void TRowWriter::Delete(TRowStore& store, TRowId row, int criteria) {
    std::vector<std::size_t> none;
    TTable& t = TableOf(none, "delete");
    Savepoint();
    try {
        TFound found;
        Find(t, store, row, found);
        if (found.Count == 0) Conflict(t, store, row, found, "the row no longer exists", "deleting");
        if (found.Count > 1)
            AdoFail(adErrProviderFailed, "Insufficient key column information for deleting: table " + t.Label() +
                                             " has no key in the result and several rows hold the row's values");
        if (criteria == adCriteriaAllCols || criteria == adCriteriaTimeStamp) {
            for (std::size_t c : t.Columns)
                if (!SameCell(store.GetKinds()[c], store.GetCell(row, c, vvOriginal), found.Values[c]))
                    Conflict(t, store, row, found, "column \"" + FColumns[c].Name + "\" was changed", "deleting");
        }
        std::vector<std::pair<Variant, DataTypeEnum>> binds;
        const String sql = "DELETE FROM " + t.Qualified + " WHERE " + Locator(t, store, row, vvOriginal, binds);
        if (Run(sql, binds) != 1) Conflict(t, store, row, found, "the row could not be deleted", "deleting");
        Release();
    } catch (...) {
        RollbackSavepoint();
        throw;
    }
    store.AcceptChanges(row);
}

bool TRowWriter::Reread(TRowStore& store, TRowId row, TRowBuffer& values) {
    std::vector<std::size_t> none;
    TTable& t = TableOf(none, "read back");
    TFound found;
    Find(t, store, row, found);
    if (found.Count == 0) return false;
    // Copy into the caller's buffer, with its own scratch storage.
    values.Reset(found.Values.Count());
    for (std::size_t c = 0; c < found.Values.Count(); ++c) {
        const TCell& cell = found.Values[c];
        values[c] = cell;
        if (!cell.Null && IsVariableKind(store.GetKinds()[c])) values.SetOwnedText(c, cell.GetView());
    }
    return true;
}

}  // namespace DataEngine::Ado
