// Internals shared by the SQLite session, statements and schema rowsets.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "Platform/data-engine/providers/sqlite/SqliteProvider.h"

namespace DataEngine::Sqlite {

class TSqliteStatement;

// The open database shared by a session and its statements. Only Cancel
// touches it from another thread, under Lock.
struct TCore {
    sqlite3* Db = nullptr;
    std::mutex Lock;                         // guards Db against Cancel while closing
    std::atomic<int> Running{0};             // a step is in progress
    std::atomic<bool> CancelRequested{false};
    std::atomic<bool> TimedOut{false};
    std::atomic<std::int64_t> DeadlineNs{0};  // steady clock; 0 = none
    std::atomic<int> BusyMs{5000};            // how long a step waits for another connection's lock
    int CommandTimeout = 30;
    bool ReadOnly = false;
    String DataSource;
    // Live statements, finalized on close. Statements may be made and dropped on
    // a worker thread (asynchronous execution) while the owner closes the session.
    std::mutex StatementsLock;
    std::vector<TSqliteStatement*> Statements;

    static std::int64_t NowNs() noexcept {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

// Runs one sqlite3_step with cancellation and, when startsCommand, the
// command timeout armed.
int Step(TCore& core, sqlite3_stmt* stmt, bool startsCommand);

// Raises the error of the last call on the database (or of rc when the
// database has none) with SQLite's message, extended code and the statement.
[[noreturn]] void RaiseSqliteError(TCore& core, int rc, std::string_view statement, std::string_view context = {});

// Runs a statement without results (PRAGMA, BEGIN, SAVEPOINT ...).
void ExecSimple(TCore& core, const String& sql);

// Quotes an identifier for SQL text: "name" with '"' doubled.
String QuoteIdent(std::string_view name);

// Column facts of a base table (pragma table_xinfo and index_list).
struct TBaseColumn {
    String Name;
    String DeclaredType;
    bool NotNull = false;
    int PrimaryKeyOrder = 0;  // 1-based position in the primary key, 0 when not part of it
    bool Generated = false;
    bool HasDefault = false;
    String Default;
};
struct TBaseTable {
    bool Found = false;
    bool WithoutRowid = false;
    bool IsView = false;
    std::vector<TBaseColumn> Columns;
    int RowidAliasColumn = -1;  // the INTEGER PRIMARY KEY column, when there is one
    int KeyColumnCount() const noexcept {
        int n = 0;
        for (auto& c : Columns)
            if (c.PrimaryKeyOrder > 0) ++n;
        return n;
    }
};
TBaseTable ReadBaseTable(TCore& core, const String& database, const String& table);

// Reads the current row into row, each cell with its column's type. A value
// of another storage class converts only when nothing is lost; else
// EEngineError names the column and the value.
void ReadRow(sqlite3_stmt* stmt, const std::vector<TColumnInfo>& columns, const std::vector<TStorageKind>& kinds,
             TRowBuffer& row);
// The ADO type a column without a fixed type takes from its first value.
Velora::DataTypeEnum DynamicTypeOf(int sqliteType) noexcept;

}  // namespace DataEngine::Sqlite
