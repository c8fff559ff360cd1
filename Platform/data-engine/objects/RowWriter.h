// Writes a row store's changes through to the base table, with optimistic
// concurrency.
//
// A result's columns are grouped by the base table they come from (the
// provider reports base catalog, schema, table and column). A row is found in
// its table by the table's key (the provider's GetKeyColumns: the primary key,
// or the row identity) when the result holds every key column, otherwise by
// the original values of all the table's columns, which must then match
// exactly one row.
//
// An update of a row whose table key the result holds is first tried as one
// statement: UPDATE ... WHERE the key and the columns the update criteria
// name still hold their original values, as the database compares them. When
// it changes the row, that is all (no read back, and no savepoint where a
// failed statement leaves the transaction usable). When it changes nothing,
// the write goes the careful way below, which tells a conflict from a value
// the database compares differently than the cursor (a date kept as text).
//
// Every careful write runs inside a savepoint: the row is read back by its original
// key, the values the update criteria name are compared with the values the
// cursor read (converted the same way, so a date stored as text compares as a
// date), and only then is the row changed; a row that no longer matches is a
// conflict: nothing is written, the savepoint is rolled back, the values found
// become the row's underlying values, the row gets adRecConcurrencyViolation
// (or adRecDBDeleted) and the write fails with "Row cannot be located for
// updating" naming the table, the key and the column that differs. An insert
// reads the new row back (RETURNING), so generated keys and defaults are in
// the cursor afterwards.
#pragma once

#include <map>

#include "Platform/data-engine/cursor/RowStore.h"
#include "Platform/data-engine/objects/Connection.h"

namespace DataEngine::Ado {

// DB_E_CONCURRENCYVIOLATION: the row changed or went away since it was read.
constexpr HRESULT hrConcurrencyViolation = static_cast<HRESULT>(0x80040E38u);

class TRowWriter {
public:
    // columns: the result's columns as the provider described them.
    TRowWriter(TConnectionObject& connection, const std::vector<TColumnInfo>& columns);
    ~TRowWriter();

    // Whether column c can be written (it comes from a table and the provider
    // calls it updatable).
    bool IsWritable(std::size_t column) const;
    // Whether any column can be written; why not, when none can.
    bool CanWrite() const noexcept { return FWritableCount > 0; }
    String WhyNotWritable() const;
    // Whether rows can be found again in their tables by key (keyset cursors).
    bool HasKeys() const;

    void Insert(TRowStore& store, TRowId row);
    void Update(TRowStore& store, TRowId row, int criteria);
    // The row must carry a pending delete; on success the store drops it.
    void Delete(TRowStore& store, TRowId row, int criteria);
    // Brackets the writes of one UpdateBatch: they reach the database together
    // (rows that conflict are left out, each rolled back on its own).
    void BeginBatch();
    void EndBatch();
    void AbandonBatch() noexcept;

    // Reads the row's values from its tables by its key. values receives a
    // whole row (columns of no table keep the store's current values). False
    // when the row no longer exists.
    bool Reread(TRowStore& store, TRowId row, TRowBuffer& values);

private:
    struct TTable;
    struct TFound;

    TTable& TableOf(const std::vector<std::size_t>& columns, std::string_view action);
    TTable* SoleTable();
    String Locator(const TTable& t, TRowStore& store, TRowId row, TValueVersion version,
                   std::vector<std::pair<Variant, DataTypeEnum>>& binds) const;
    // Reads the row of t in the database; found.Count is 0, 1 or 2 (ambiguous).
    // (An out parameter: the row buffer's cells point into its own storage.)
    void Find(TTable& t, TRowStore& store, TRowId row, TFound& found);
    Int64 Run(const String& sql, const std::vector<std::pair<Variant, DataTypeEnum>>& binds,
              std::vector<Variant>* returned = nullptr);
    // Executes a statement whose parameters are bound and closes it: the rows
    // it changed, or the rows it returned (the first one into returned).
    Int64 Execute(TStatement& stmt, std::vector<Variant>* returned);
    // A compiled statement kept for the text (statements repeat from row to
    // row); the cache empties when the connection was opened again.
    TStatement& Statement(const String& sql);
    // The update as one statement whose WHERE holds the key and the compared
    // original values; false when it changed no row (the careful path then
    // finds out why).
    bool QuickUpdate(TTable& t, TRowStore& store, TRowId row, const std::vector<std::size_t>& changed,
                     int criteria);
    void Savepoint();
    void Release();
    void RollbackSavepoint() noexcept;
    // Commits or rolls back the nested transaction begun at level, if it is still the innermost.
    void EndLevel(int& level, bool commit);
    [[noreturn]] void Conflict(TTable& t, TRowStore& store, TRowId row, const TFound& found, const String& why,
                               std::string_view action);
    String KeyText(const TTable& t, TRowStore& store, TRowId row) const;

    TConnectionObject& FConnection;
    std::vector<TColumnInfo> FColumns;
    std::vector<std::unique_ptr<TTable>> FTables;
    std::vector<int> FTableOfColumn;  // index into FTables, -1 for columns of no table
    std::size_t FWritableCount = 0;
    std::map<String, std::unique_ptr<TStatement>> FStatements;  // by SQL text
    struct TQuick {
        String Sql;
        TStatement* Stmt = nullptr;  // in FStatements while OpenCount is the connection's
        unsigned OpenCount = 0;
    };
    std::map<String, TQuick> FQuick;  // UPDATEs by shape (criteria, columns set, Nulls compared)
    // Kept from row to row so that a batch allocates nothing per row.
    String FShape;
    std::vector<std::size_t> FChanged;
    std::vector<std::size_t> FWhere;
    TRowBuffer FOriginalRow;
    TRowBuffer FCurrentRow;
    unsigned FStatementsOpenCount = 0;
    int FRowLevel = 0;    // the session's level of the savepoint around one row's write
    int FBatchLevel = 0;  // and of the one around an UpdateBatch
};

// Whether two cells of one storage kind hold the same value.
bool SameCell(TStorageKind kind, const TCell& a, const TCell& b) noexcept;

}  // namespace DataEngine::Ado
