// The SQLite provider and its session: opening, transactions, timeouts,
// cancellation and properties.
#include <algorithm>
#include <cstdlib>

#include "Platform/data-engine/providers/sqlite/SqliteCommon.h"
#include "Platform/data-engine/providers/sqlite/SqliteStatement.h"
#include "Platform/data-engine/schema/SchemaRowsets.h"

namespace DataEngine::Sqlite {

using namespace Velora;

// ---- Shared helpers ------------------------------------------------------------------------

namespace {

int OnProgress(void* p) {
    auto& core = *static_cast<TCore*>(p);
    if (core.CancelRequested.load(std::memory_order_relaxed)) return 1;
    const auto deadline = core.DeadlineNs.load(std::memory_order_relaxed);
    if (deadline != 0 && TCore::NowNs() > deadline) {
        core.TimedOut.store(true);
        return 1;
    }
    return 0;
}

// Waits for another connection's lock in short sleeps up to the busy
// timeout, so that a cancel ends the wait at once instead of after the whole
// timeout, as SQLite's own busy handler would.
int OnBusy(void* p, int count) {
    auto& core = *static_cast<TCore*>(p);
    constexpr int SleepMs = 5;
    if (core.CancelRequested.load(std::memory_order_relaxed)) return 0;
    if (static_cast<std::int64_t>(count) * SleepMs >= core.BusyMs.load(std::memory_order_relaxed)) return 0;
    sqlite3_sleep(SleepMs);
    return 1;
}

struct TErrorClass {
    HRESULT Hr;
    const char* SQLState;
};

TErrorClass ClassifyError(int primary) {
    switch (primary) {
        case SQLITE_CONSTRAINT: return {hrIntegrityViolation, "23000"};
        case SQLITE_ERROR: return {hrErrorsInCommand, "42000"};
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH: return {hrPermissionDenied, "42000"};
        case SQLITE_CANTOPEN: return {hrFail, "08001"};
        case SQLITE_MISMATCH: return {hrCantConvertValue, "22018"};
        case SQLITE_TOOBIG:
        case SQLITE_RANGE: return {hrDataOverflow, "22001"};
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return {hrFail, "40001"};
        default: return {hrFail, "HY000"};
    }
}

}  // namespace

int Step(TCore& core, sqlite3_stmt* stmt, bool startsCommand) {
    if (startsCommand) {
        core.TimedOut.store(false);
        core.CancelRequested.store(false);
        core.DeadlineNs.store(core.CommandTimeout > 0
                                  ? TCore::NowNs() + static_cast<std::int64_t>(core.CommandTimeout) * 1000000000LL
                                  : 0);
    }
    core.Running.store(1, std::memory_order_release);
    const int rc = sqlite3_step(stmt);
    core.Running.store(0, std::memory_order_release);
    if (startsCommand) core.DeadlineNs.store(0);
    return rc;
}

void RaiseSqliteError(TCore& core, int rc, std::string_view statement, std::string_view context) {
    int ext = rc;
    String msg = sqlite3_errstr(rc);
    if (core.Db) {
        const int dbExt = sqlite3_extended_errcode(core.Db);
        if ((dbExt & 0xFF) == (rc & 0xFF)) ext = dbExt;
        msg = sqlite3_errmsg(core.Db);
    }
    const int primary = ext & 0xFF;
    TErrorClass cls = ClassifyError(primary);
    if (primary == SQLITE_ERROR && msg.rfind("no such table", 0) == 0) cls = {hrNoTable, "42S02"};
    // A lock wait that a cancel ended reports the cancel, not the lock.
    if ((primary == SQLITE_BUSY || primary == SQLITE_LOCKED) && core.CancelRequested.exchange(false)) {
        msg = "Operation cancelled";
        cls = TErrorClass{hrCanceled, "HY008"};
    }
    if (primary == SQLITE_INTERRUPT) {
        const bool timedOut = core.TimedOut.exchange(false);
        core.CancelRequested.store(false);
        msg = timedOut ? "Query timeout expired" : "Operation cancelled";
        cls = timedOut ? TErrorClass{hrTimeout, "HYT00"} : TErrorClass{hrCanceled, "HY008"};
    }
    String text;
    if (!context.empty()) text = String(context) + ": ";
    text += msg + " (SQLite error " + std::to_string(ext) + ": " + sqlite3_errstr(ext) + ")";
    if (!statement.empty()) text += " in statement: " + ClipForMessage(statement, 1000);
    throw EEngineError(text, cls.Hr, ext, cls.SQLState, "SQLite", String(statement));
}

void ExecSimple(TCore& core, const String& sql) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(core.Db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK) RaiseSqliteError(core, rc, sql);
    do {
        rc = Step(core, stmt, true);
    } while (rc == SQLITE_ROW);
    if (rc != SQLITE_DONE) {
        const int err = rc;
        try {
            RaiseSqliteError(core, err, sql);
        } catch (...) {
            sqlite3_finalize(stmt);
            throw;
        }
    }
    sqlite3_finalize(stmt);
}

String QuoteIdent(std::string_view name) {
    String out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') out += '"';
    }
    out += '"';
    return out;
}

TBaseTable ReadBaseTable(TCore& core, const String& database, const String& table) {
    TBaseTable info;
    auto query = [&](const char* sql, auto&& onRow) {
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(core.Db, sql, -1, &stmt, nullptr);
        if (rc != SQLITE_OK) RaiseSqliteError(core, rc, sql);
        sqlite3_bind_text(stmt, 1, table.c_str(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 2, database.c_str(), static_cast<int>(database.size()), SQLITE_TRANSIENT);
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
    };
    auto text = [](sqlite3_stmt* s, int i) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
        return String(p ? p : "");
    };
    String type;
    query("SELECT type, wr FROM pragma_table_list(?1) WHERE schema = ?2", [&](sqlite3_stmt* s) {
        info.Found = true;
        type = text(s, 0);
        info.WithoutRowid = sqlite3_column_int(s, 1) != 0;
    });
    if (!info.Found) return info;
    info.IsView = type == "view";
    query("SELECT name, type, \"notnull\", dflt_value, pk, hidden FROM pragma_table_xinfo(?1, ?2)",
          [&](sqlite3_stmt* s) {
              TBaseColumn c;
              c.Name = text(s, 0);
              c.DeclaredType = text(s, 1);
              c.NotNull = sqlite3_column_int(s, 2) != 0;
              c.HasDefault = sqlite3_column_type(s, 3) != SQLITE_NULL;
              c.Default = text(s, 3);
              c.PrimaryKeyOrder = sqlite3_column_int(s, 4);
              const int hidden = sqlite3_column_int(s, 5);
              if (hidden == 1) return;  // hidden columns of virtual tables
              c.Generated = hidden == 2 || hidden == 3;
              info.Columns.push_back(std::move(c));
          });
    if (!info.IsView && !info.WithoutRowid && info.KeyColumnCount() == 1) {
        for (std::size_t k = 0; k < info.Columns.size(); ++k)
            if (info.Columns[k].PrimaryKeyOrder == 1 && Rtl::SameText(info.Columns[k].DeclaredType, "INTEGER"))
                info.RowidAliasColumn = static_cast<int>(k);
    }
    return info;
}

// ---- The session ---------------------------------------------------------------------------

namespace {

bool IsPragmaName(std::string_view s) {
    if (s.empty()) return false;
    bool start = true;
    int dots = 0;
    for (char c : s) {
        if (c == '.') {
            if (start || ++dots > 1) return false;
            start = true;
            continue;
        }
        const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        const bool digit = c >= '0' && c <= '9';
        if (!(alpha || (digit && !start))) return false;
        start = false;
    }
    return !start;
}

String PragmaLiteral(std::string_view v) {
    bool plain = !v.empty();
    std::size_t i = (v.size() > 1 && (v[0] == '-' || v[0] == '+')) ? 1 : 0;
    for (; i < v.size() && plain; ++i) {
        const char c = v[i];
        plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    }
    if (plain) return String(v);
    String out = "'";
    for (char c : v) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

// Splits "schema.table" into its one or two parts, each bare or quoted with
// "", [] or `` (quotes doubled inside); false for anything else.
bool SplitQualifiedName(std::string_view s, std::vector<String>& parts) {
    std::size_t i = 0;
    while (i <= s.size()) {
        String part;
        if (i < s.size() && (s[i] == '"' || s[i] == '`' || s[i] == '[')) {
            const char close = s[i] == '[' ? ']' : s[i];
            ++i;
            bool closed = false;
            while (i < s.size()) {
                if (s[i] == close) {
                    if (close != ']' && i + 1 < s.size() && s[i + 1] == close) {
                        part += close;
                        i += 2;
                        continue;
                    }
                    closed = true;
                    ++i;
                    break;
                }
                part += s[i++];
            }
            if (!closed) return false;
        } else {
            const std::size_t start = i;
            while (i < s.size() && s[i] != '.') {
                if (s[i] == '"' || s[i] == '`' || s[i] == '[' || s[i] == ']') return false;
                ++i;
            }
            part = Rtl::Trim(s.substr(start, i - start));
        }
        if (part.empty()) return false;
        parts.push_back(std::move(part));
        if (i == s.size()) break;
        if (s[i] != '.' || parts.size() == 2) return false;
        ++i;
    }
    return parts.size() == 1 || parts.size() == 2;
}

class TSqliteSession : public TSession {
public:
    TSqliteSession() : FCore(std::make_shared<TCore>()) {}
    ~TSqliteSession() override {
        try {
            Close();
        } catch (...) {
        }
    }

    void Open(const TConnectionString& props, const String& userId, const String& password) override {
        if (FCore->Db)
            throw EEngineError("The connection is already open", AdoErrorHResult(adErrObjectOpen), 0, {}, "SQLite");
        const String dataSource = Rtl::Trim(props.Get("Data Source"));
        if (dataSource.empty())
            throw EEngineError("The connection string names no Data Source (the SQLite database file)",
                               AdoErrorHResult(adErrInvalidConnection), 0, "08001", "SQLite");
        const int mode = ParseConnectMode(props.Get("Mode"), "SQLite");
        const int access = mode & 3;
        const int share = mode & (adModeShareDenyRead | adModeShareDenyWrite | adModeShareDenyNone);
        if (share == adModeShareDenyRead || share == adModeShareDenyWrite || (share & adModeShareDenyNone && share != adModeShareDenyNone))
            throw EEngineError("SQLite cannot deny only reads or only writes to other connections (Mode " +
                                   std::to_string(mode) + "); use Share Exclusive or Share Deny None",
                               AdoErrorHResult(adErrDenyTypeNotSupported), 0, {}, "SQLite");
        int flags = SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
        const char* modeText;
        switch (access) {
            case adModeRead: flags |= SQLITE_OPEN_READONLY; modeText = "read-only"; break;
            case adModeWrite:
            case adModeReadWrite: flags |= SQLITE_OPEN_READWRITE; modeText = "read-write"; break;
            default: flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE; modeText = "read-write, created when missing"; break;
        }
        int busyMs = 5000;
        if (props.Has("Busy Timeout")) busyMs = ParseWholeNumber(props.Get("Busy Timeout"), "Busy Timeout", "milliseconds", "SQLite");
        else if (props.Has("Connect Timeout"))
            busyMs = static_cast<int>(std::min<Int64>(
                Int64{ParseWholeNumber(props.Get("Connect Timeout"), "Connect Timeout", "seconds", "SQLite")} * 1000, INT32_MAX));
        const TConnectionString pragmas = TConnectionString::Parse(props.Get("Extended Properties"));
        for (const auto& item : pragmas.Items())
            if (!IsPragmaName(item.Key) || item.Value.empty())
                throw EEngineError("Extended Properties item '" + ClipForMessage(item.Key + "=" + item.Value) +
                                       "' is not a pragma setting name=value",
                                   AdoErrorHResult(adErrInvalidArgument), 0, "HY024", "SQLite");

        sqlite3* db = nullptr;
        const int rc = sqlite3_open_v2(dataSource.c_str(), &db, flags, nullptr);
        if (rc != SQLITE_OK) {
            const String why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
            const int ext = db ? sqlite3_extended_errcode(db) : rc;
            sqlite3_close_v2(db);
            throw EEngineError("Cannot open the SQLite database \"" + ClipForMessage(dataSource, 500) + "\" (" +
                                   modeText + "): " + why + " (SQLite error " + std::to_string(ext) + ")",
                               hrFail, ext, "08001", "SQLite");
        }
        {
            std::lock_guard lock(FCore->Lock);
            FCore->Db = db;
        }
        sqlite3_extended_result_codes(db, 1);
        FCore->BusyMs = busyMs;
        sqlite3_busy_handler(db, OnBusy, FCore.get());
        sqlite3_progress_handler(db, 1000, OnProgress, FCore.get());
        try {
            // Reading the header now reports "not a database" at Open, naming the file.
            try {
                ExecSimple(*FCore, "PRAGMA schema_version");
            } catch (const EEngineError& e) {
                throw EEngineError("Cannot open the SQLite database \"" + ClipForMessage(dataSource, 500) + "\" (" +
                                       modeText + "): " + e.Message(),
                                   e.GetNumber(), e.GetNativeError(), "08001", "SQLite");
            }
            if ((mode & adModeShareExclusive) == adModeShareExclusive)
                ExecSimple(*FCore, "PRAGMA locking_mode=EXCLUSIVE");
            for (const auto& item : pragmas.Items())
                ExecSimple(*FCore, "PRAGMA " + item.Key + "=" + PragmaLiteral(item.Value));
        } catch (...) {
            CloseDb();
            throw;
        }
        FCore->ReadOnly = sqlite3_db_readonly(db, "main") == 1;
        FCore->DataSource = dataSource;
        FProps = props;
        FMode = mode;
        FBusyMs = busyMs;
        FLevel = 0;
        (void)userId;  // SQLite files have no users; the credentials are not needed
        (void)password;
    }

    void Close() override {
        if (!FCore->Db) return;
        // Statements give up their compiled forms first; the database closes after.
        {
            std::lock_guard<std::mutex> guard(FCore->StatementsLock);
            for (auto* s : FCore->Statements) s->Detach();
            FCore->Statements.clear();
        }
        CloseDb();
        FLevel = 0;
    }

    bool GetConnected() const override { return FCore->Db != nullptr; }

    int BeginTrans() override {
        CheckOpen();
        SyncLevel();
        if (FLevel == 0)
            ExecSimple(*FCore, "BEGIN");
        else
            ExecSimple(*FCore, "SAVEPOINT " + SavepointName(FLevel + 1));
        return ++FLevel;
    }

    void CommitTrans(bool retaining) override {
        CheckOpen();
        SyncLevel();
        if (FLevel == 0) NoTransaction("CommitTrans");
        if (FLevel == 1)
            ExecSimple(*FCore, "COMMIT");
        else
            ExecSimple(*FCore, "RELEASE " + SavepointName(FLevel));
        --FLevel;
        if (retaining) BeginTrans();
    }

    void RollbackTrans(bool retaining) override {
        CheckOpen();
        if (FLevel > 0 && sqlite3_get_autocommit(FCore->Db)) {
            // SQLite already rolled the transaction back (after an I/O or full-disk
            // error, or a ROLLBACK in SQL text): there is nothing left to undo.
            FLevel = 0;
            if (retaining) BeginTrans();
            return;
        }
        if (FLevel == 0) NoTransaction("RollbackTrans");
        if (FLevel == 1) {
            ExecSimple(*FCore, "ROLLBACK");
        } else {
            const String sp = SavepointName(FLevel);
            ExecSimple(*FCore, "ROLLBACK TO " + sp);
            ExecSimple(*FCore, "RELEASE " + sp);
        }
        --FLevel;
        if (retaining) BeginTrans();
    }

    // SQLite undoes a failed statement's own changes and keeps the transaction
    // (errors that end the whole transaction end it with or without savepoints).
    bool GetFailedStatementKeepsTransaction() const override { return true; }

    int GetTransactionLevel() const override {
        const_cast<TSqliteSession*>(this)->SyncLevel();
        return FLevel;
    }

    IsolationLevelEnum SetIsolationLevel(IsolationLevelEnum) override {
        // SQLite isolates transactions of different connections completely.
        return adXactSerializable;
    }
    IsolationLevelEnum GetIsolationLevel() const override { return adXactSerializable; }

    void SetCommandTimeout(int seconds) override { FCore->CommandTimeout = seconds < 0 ? 0 : seconds; }
    int GetCommandTimeout() const override { return FCore->CommandTimeout; }

    void Cancel() override {
        std::lock_guard lock(FCore->Lock);
        if (FCore->Db && FCore->Running.load(std::memory_order_acquire)) {
            FCore->CancelRequested.store(true);
            sqlite3_interrupt(FCore->Db);
        }
    }

    std::unique_ptr<TStatement> CreateStatement() override {
        CheckOpen();
        return std::make_unique<TSqliteStatement>(FCore);
    }

    String TableCommandText(const String& tableName) const override {
        const String name = Rtl::Trim(tableName);
        if (name.empty())
            throw EEngineError("No table name was given", AdoErrorHResult(adErrInvalidArgument), 0, {}, "SQLite");
        // The name is always rewritten as quoted identifiers, never passed on as
        // SQL: "schema.table", quoted parts ("a.b", [x], `y`), or one name.
        std::vector<String> parts;
        if (!SplitQualifiedName(name, parts)) parts = {name};
        String sql = "SELECT * FROM ";
        for (std::size_t k = 0; k < parts.size(); ++k) {
            if (k) sql += '.';
            sql += QuoteIdent(parts[k]);
        }
        return sql;
    }

    std::unique_ptr<TResultStream> OpenSchema(SchemaEnum schema, const std::vector<Variant>& restrictions) override {
        CheckOpen();
        return Schema::OpenSqliteSchema(*this, schema, restrictions);
    }

    std::vector<String> GetKeyColumns(const String& catalog, const String& table) override {
        CheckOpen();
        const TBaseTable info = ReadBaseTable(*FCore, catalog.empty() ? "main" : catalog, table);
        if (!info.Found)
            throw EEngineError("Table \"" + ClipForMessage(table) + "\" does not exist", hrNoTable, 0, "42S02",
                               "SQLite");
        std::vector<String> keys(static_cast<std::size_t>(info.KeyColumnCount()));
        for (const auto& c : info.Columns)
            if (c.PrimaryKeyOrder > 0 && static_cast<std::size_t>(c.PrimaryKeyOrder) <= keys.size())
                keys[static_cast<std::size_t>(c.PrimaryKeyOrder) - 1] = c.Name;
        if (keys.empty() && !info.IsView && !info.WithoutRowid) keys.push_back("rowid");
        return keys;
    }

    std::vector<TPropertyInfo> GetProperties() const override {
        const bool open = FCore->Db != nullptr;
        std::vector<TPropertyInfo> p = {
            {"Provider Name", Variant("SQLite"), adPropRead},
            {"Provider Friendly Name", Variant("SQLite Provider"), adPropRead},
            {"Provider Version", Variant("01.00.0000"), adPropRead},
            {"OLE DB Version", Variant("02.80"), adPropRead},
            {"DBMS Name", Variant("SQLite"), adPropRead},
            {"DBMS Version", Variant(sqlite3_libversion()), adPropRead},
            {"Data Source", Variant(FProps.Get("Data Source")), adPropRead},
            {"Data Source Name", Variant(open ? String(sqlite3_db_filename(FCore->Db, "main") ? sqlite3_db_filename(FCore->Db, "main") : "") : String()), adPropRead},
            {"Current Catalog", Variant("main"), adPropRead},
            {"Mode", Variant(FMode), adPropRead},
            {"Extended Properties", Variant(FProps.Get("Extended Properties")), adPropRead},
            {"Busy Timeout", Variant(FBusyMs), adPropRead | adPropWrite},
            {"Read-Only Data Source", Variant(FCore->ReadOnly), adPropRead},
            {"Connection Status", Variant(open ? 1 : 0), adPropRead},
            {"Multiple Results", Variant(1), adPropRead},
            {"Transaction DDL", Variant(8), adPropRead},
            {"Isolation Levels", Variant(static_cast<int>(adXactSerializable)), adPropRead},
            {"Active Sessions", Variant(0), adPropRead},
            {"Output Parameter Availability", Variant(1), adPropRead},
            {"Multiple Parameter Sets", Variant(false), adPropRead},
            {"Identifier Case Sensitivity", Variant(8), adPropRead},
            {"NULL Collation Order", Variant(4), adPropRead},
        };
        // Keys of the connection string this provider does not read stay visible.
        static const char* known[] = {"Data Source", "Mode", "Extended Properties", "Busy Timeout", "Connect Timeout",
                                      "User ID", "Password", "Provider"};
        for (const auto& item : FProps.Items()) {
            bool isKnown = false;
            for (const char* k : known) isKnown = isKnown || Rtl::SameText(item.Key, k);
            if (!isKnown) p.push_back({item.Key, Variant(item.Value), adPropRead});
        }
        return p;
    }

    void SetProperty(const String& name, const Variant& value) override {
        if (Rtl::SameText(name, "Busy Timeout")) {
            const int ms = value.ToInteger();
            if (ms < 0)
                throw EEngineError("Busy Timeout " + std::to_string(ms) + " is negative",
                                   AdoErrorHResult(adErrPropInvalidValue), 0, {}, "SQLite");
            FBusyMs = ms;
            FCore->BusyMs = ms;
            return;
        }
        for (const auto& p : GetProperties())
            if (Rtl::SameText(p.Name, name))
                throw EEngineError("Property \"" + name + "\" cannot be changed", AdoErrorHResult(adErrPropNotSettable),
                                   0, {}, "SQLite");
        throw EEngineError("Property \"" + ClipForMessage(name) + "\" is not supported by the SQLite provider",
                           AdoErrorHResult(adErrPropNotSupported), 0, {}, "SQLite");
    }

private:
    void CheckOpen() const {
        if (!FCore->Db)
            throw EEngineError("The connection is closed", AdoErrorHResult(adErrObjectClosed), 0, {}, "SQLite");
    }
    void CloseDb() {
        sqlite3* db;
        {
            std::lock_guard lock(FCore->Lock);
            db = FCore->Db;
            FCore->Db = nullptr;
        }
        sqlite3_close_v2(db);
    }
    // A COMMIT or ROLLBACK run as SQL text ends the transaction behind our back.
    void SyncLevel() {
        if (FCore->Db && FLevel > 0 && sqlite3_get_autocommit(FCore->Db)) FLevel = 0;
    }
    static String SavepointName(int level) { return "velora_level_" + std::to_string(level); }
    [[noreturn]] static void NoTransaction(const char* op) {
        throw EEngineError(String(op) + ": no transaction is active", AdoErrorHResult(adErrInvalidTransaction), 0,
                           "25000", "SQLite");
    }

    std::shared_ptr<TCore> FCore;
    TConnectionString FProps;
    int FMode = 0;
    int FBusyMs = 5000;
    int FLevel = 0;
};

class TSqliteProvider : public TProvider {
public:
    String GetName() const override { return "SQLite"; }
    String GetDescription() const override { return "SQLite Provider"; }
    std::unique_ptr<TSession> CreateSession() override { return std::make_unique<TSqliteSession>(); }
};

}  // namespace

}  // namespace DataEngine::Sqlite

namespace DataEngine {

std::shared_ptr<TProvider> CreateSqliteProvider() { return std::make_shared<Sqlite::TSqliteProvider>(); }

}  // namespace DataEngine
