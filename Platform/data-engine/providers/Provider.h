// The engine's internal provider interface.
//
// A provider is found by name ("SQLite", later "PostgreSQL" and "MSDASQL")
// and creates sessions. A session is one open connection to a data source:
// it runs transactions (nested levels below the first are savepoints), knows
// its timeouts, can be cancelled from another thread, creates statements and
// answers schema rowsets. A statement holds one command text, possibly made
// of several SQL statements: it describes and binds parameters natively (a
// value is never spliced into the text), executes, and yields one result per
// SQL statement. A result either returns rows, fetched one at a time into a
// row buffer, or reports the records it affected.
//
// Ownership: sessions and statements are owned by their creators
// (unique_ptr); a statement may outlive its session's Close() (it then fails
// with a clear error) but not the session object itself. A result belongs to
// its statement and is valid until the statement's next Execute, NextResult,
// Close or destruction. Row buffer cells that point at text are valid until
// the next Fetch.
//
// Threads: a session and its statements are used by one thread at a time;
// only TSession::Cancel may be called from any thread. Providers that talk to
// a server (PostgreSQL) also take calls from several threads on one session,
// one at a time, so that Open, Execute and Fetch can run on a worker thread.
#pragma once

#include <memory>
#include <vector>

#include "Platform/data-engine/ConnectionString.h"
#include "Platform/data-engine/Values.h"

namespace DataEngine {

class TResultStream {
public:
    virtual ~TResultStream() = default;
    // The columns of a row result; empty for a result without rows.
    virtual const std::vector<TColumnInfo>& GetColumns() const = 0;
    bool HasRows() const { return !GetColumns().empty(); }
    // The storage kind of each column (parallel to GetColumns()).
    virtual const std::vector<TStorageKind>& GetKinds() const = 0;
    // Reads the next row into row (resized to the column count); false after
    // the last row. A value that does not fit its column's reported type
    // raises EEngineError naming the column and the value.
    virtual bool Fetch(TRowBuffer& row) = 0;
    // Rows inserted, changed or deleted by a statement without rows; -1 for a
    // row result.
    virtual Int64 GetRecordsAffected() const = 0;
};

struct TParamInfo {
    String Name;    // as written in the text (":id", "@id", "$id", "?3"); empty for a plain "?"
    int Ordinal = 0;  // 1-based position among the text's parameters
    Velora::ParameterDirectionEnum Direction = Velora::adParamInput;
    // Providers that cannot tell a parameter's type report adVariant.
    Velora::DataTypeEnum Type = Velora::adVariant;
    int Size = 0;
    Byte Precision = 0;
    Byte NumericScale = 0;
    int Attributes = Velora::adParamNullable;
};

class TStatement {
public:
    virtual ~TStatement() = default;
    // Compiles a command text. Errors name the statement.
    virtual void Prepare(const String& text) = 0;
    // Prepares a call of a stored procedure; providers without procedures
    // raise adErrFeatureNotAvailable.
    virtual void PrepareProcedure(const String& name);
    virtual const String& GetText() const = 0;
    // The parameters of the text, in order; named parameters used twice are
    // one parameter.
    virtual std::vector<TParamInfo> DescribeParameters() = 0;
    // Binds by 1-based ordinal or by name (with or without its prefix). type
    // adEmpty binds by the variant's own kind; another type converts first
    // (adDBTimeStamp turns a text into a date). Values stay bound for every
    // later execution until changed or cleared.
    virtual void SetParameter(int ordinal, const Variant& value, Velora::DataTypeEnum type = Velora::adEmpty) = 0;
    virtual void SetParameter(std::string_view name, const Variant& value,
                              Velora::DataTypeEnum type = Velora::adEmpty) = 0;
    // Binds a typed cell as a row store keeps it (column and kind describe
    // it): the same as SetParameter(ordinal, CellToVariant(column, kind,
    // cell), type), which is what this does unless the provider binds cells
    // itself. Text and bytes are copied: the cell need not outlive the call.
    virtual void SetParameterCell(int ordinal, const TColumnInfo& column, TStorageKind kind, const TCell& cell,
                                  Velora::DataTypeEnum type = Velora::adEmpty) {
        SetParameter(ordinal, CellToVariant(column, kind, cell), type);
    }
    virtual void ClearParameters() = 0;
    // Output and return values after execution; providers without them give Empty.
    virtual Variant GetParameterValue(int ordinal) const;
    // Runs the first SQL statement of the text (reusing the compiled form).
    virtual TResultStream& Execute() = 0;
    // Finishes the current result and runs the next SQL statement of the
    // text; nullptr when there is none.
    virtual TResultStream* NextResult() = 0;
    // Finishes the current result (releasing locks) and keeps the compiled form.
    virtual void Close() = 0;
};

struct TPropertyInfo {
    String Name;
    Variant Value;
    int Attributes = Velora::adPropRead;  // PropertyAttributesEnum bits
};

class TSession {
public:
    virtual ~TSession() = default;

    // Opens with the connection string's items (the provider's keys, and the
    // ones it does not know, which it may ignore) and the user's credentials.
    virtual void Open(const TConnectionString& properties, const String& userId, const String& password) = 0;
    virtual void Close() = 0;
    virtual bool GetConnected() const = 0;

    // Transactions. BeginTrans returns the new nesting level (1 for the
    // outermost); levels below the first are savepoints. Commit and rollback
    // end the innermost level; retaining starts a new one at the same level.
    virtual int BeginTrans() = 0;
    virtual void CommitTrans(bool retaining = false) = 0;
    virtual void RollbackTrans(bool retaining = false) = 0;
    virtual int GetTransactionLevel() const = 0;
    // Asks for an isolation level for later transactions; returns the level
    // the data source really gives (which may be stricter).
    virtual Velora::IsolationLevelEnum SetIsolationLevel(Velora::IsolationLevelEnum level) = 0;
    virtual Velora::IsolationLevelEnum GetIsolationLevel() const = 0;
    // Whether a statement that fails inside a transaction undoes only its own
    // work and leaves the transaction usable (SQLite). When false (PostgreSQL
    // refuses every later statement of the transaction), a caller that goes
    // on after a failure puts a savepoint around the statement.
    virtual bool GetFailedStatementKeepsTransaction() const { return false; }

    // Seconds a statement may run before it is stopped; 0 waits forever.
    virtual void SetCommandTimeout(int seconds) = 0;
    virtual int GetCommandTimeout() const = 0;
    // Stops what the session is running now: a statement executing and, with
    // a server (PostgreSQL), rows still streaming or an Open still
    // connecting. Safe from any thread; does nothing when nothing runs.
    virtual void Cancel() = 0;

    virtual std::unique_ptr<TStatement> CreateStatement() = 0;
    // The command text that reads a whole table (adCmdTable), with the name
    // quoted as the data source wants it.
    virtual String TableCommandText(const String& tableName) const = 0;

    // Schema rowsets with the OLE DB columns and restrictions (Empty or Null
    // restriction values restrict nothing); an unsupported schema raises
    // adErrFeatureNotAvailable.
    virtual std::unique_ptr<TResultStream> OpenSchema(Velora::SchemaEnum schema,
                                                      const std::vector<Variant>& restrictions) = 0;
    // Key columns of a base table, in key order: the primary key, or the row
    // identity column ("rowid" for SQLite) when the table has none.
    virtual std::vector<String> GetKeyColumns(const String& catalog, const String& table) = 0;

    // The data source's dynamic properties ("DBMS Name", "Data Source", ...).
    virtual std::vector<TPropertyInfo> GetProperties() const = 0;
    // Changes a writable property; adErrPropNotSettable / adErrPropNotSupported otherwise.
    virtual void SetProperty(const String& name, const Variant& value) = 0;
};

class TProvider {
public:
    virtual ~TProvider() = default;
    virtual String GetName() const = 0;         // "SQLite"
    virtual String GetDescription() const = 0;  // a friendly name
    virtual std::unique_ptr<TSession> CreateSession() = 0;
};

// The registry of providers. The built-in ones are registered on first use;
// others (and tests) register their own. Names compare without regard to case.
void RegisterProvider(std::shared_ptr<TProvider> provider);
// The provider of that name; EEngineError adErrProviderNotFound naming it when none.
std::shared_ptr<TProvider> FindProvider(std::string_view name);
std::vector<String> GetProviderNames();

// Opens a session from a full connection string: "Provider=..." chooses the
// provider (SQLite when absent), the other items go to the provider.
std::unique_ptr<TSession> OpenSession(std::string_view connectionString, const String& userId = {},
                                      const String& password = {});

// Helpers for the connection items every provider reads. Both raise an
// invalid-argument error naming the item, the text and the provider.
// The Mode item: a ConnectModeEnum number, or names ("Read", "adModeRead", ...) joined by '|'.
int ParseConnectMode(const String& text, const char* provider);
// A whole, non-negative number of `unit` ("seconds", "milliseconds") for the item `what`.
int ParseWholeNumber(const String& text, const char* what, const char* unit, const char* provider);

}  // namespace DataEngine
