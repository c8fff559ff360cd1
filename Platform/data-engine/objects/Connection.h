// The Connection object ("ADODB.Connection"): one session of a provider,
// its settings, transactions, the Errors and Properties collections and the
// connection events. It also runs every command text of the connection
// (Execute here, Command.Execute, Recordset.Open), so that WillExecute and
// ExecuteComplete surround each of them.
#pragma once

#include "Platform/data-engine/objects/AdoSupport.h"
#include "Platform/data-engine/objects/Async.h"

namespace DataEngine {
class TRowStore;
}

namespace DataEngine::Ado {

class TCommandObject;
class TRecordsetObject;

// Connection event numbers, for the unwanted-event bookkeeping.
enum TConnectionEvent : int {
    ceInfoMessage,
    ceBeginTransComplete,
    ceCommitTransComplete,
    ceRollbackTransComplete,
    ceWillExecute,
    ceExecuteComplete,
    ceWillConnect,
    ceConnectComplete,
    ceDisconnect,
};

struct TExecResult;

// One command text run on the connection.
struct TExecRequest {
    String Source;                    // the text as given (for WillExecute)
    CommandTypeEnum CommandType = adCmdUnknown;
    CursorTypeEnum CursorType = adOpenForwardOnly;
    LockTypeEnum LockType = adLockReadOnly;
    int Options = adOptionUnspecified;
    TCommandObject* Command = nullptr;      // the command running it, if any
    TRecordsetObject* Recordset = nullptr;  // the recordset it opens, if any
    // A statement prepared earlier for the same text (Command.Prepared); used
    // when WillExecute leaves the text alone.
    std::shared_ptr<TStatement> Prepared;
    // Binds the parameters into a prepared statement.
    std::function<void(TStatement&)> Bind;
    // Run all results of the text, summing the records affected (adExecuteNoRecords).
    bool NoRecords = false;
    // Asynchronous execution: more work for the worker once the text has run
    // (the initial rows of an asynchronous fetch).
    std::function<void(TExecResult&)> OnWorker;
};

struct TExecResult {
    std::shared_ptr<TStatement> Statement;
    TResultStream* Result = nullptr;  // the first result with rows; null when none
    Int64 RecordsAffected = -1;
    // The request as WillExecute left it.
    CursorTypeEnum CursorType = adOpenForwardOnly;
    LockTypeEnum LockType = adLockReadOnly;
    int Options = adOptionUnspecified;
    String Text;  // the statement text that ran
    // Rows already read from Result on an execution's worker (the initial
    // rows of an asynchronous fetch); PrefetchEnded when Result had no more.
    std::shared_ptr<TRowStore> Prefetched;
    bool PrefetchEnded = false;
};

class TConnectionObject
    : public Com::TDispatchImpl<TConnectionObject,
                                Com::TImplements<Com::TInterfacedObject, _Connection, Com::IConnectionPointContainer>>,
      public TFailureReporter {
public:
    TConnectionObject();
    ~TConnectionObject() override;

    // ---- _Connection -------------------------------------------------------
    ComPtr<Properties> GetProperties() override;
    WideString GetConnectionString() override;
    void SetConnectionString(const WideString& Value) override;
    int GetCommandTimeout() override;
    void SetCommandTimeout(int Value) override;
    int GetConnectionTimeout() override;
    void SetConnectionTimeout(int Value) override;
    WideString GetVersion() override;
    void Close() override;
    ComPtr<_Recordset> Execute(const WideString& CommandText, Variant* RecordsAffected, int Options) override;
    int BeginTrans() override;
    void CommitTrans() override;
    void RollbackTrans() override;
    void Open(const WideString& ConnectionString, const WideString& UserID, const WideString& Password,
              int Options) override;
    ComPtr<Errors> GetErrors() override;
    WideString GetDefaultDatabase() override;
    void SetDefaultDatabase(const WideString& Value) override;
    IsolationLevelEnum GetIsolationLevel() override;
    void SetIsolationLevel(IsolationLevelEnum Value) override;
    int GetAttributes() override;
    void SetAttributes(int Value) override;
    CursorLocationEnum GetCursorLocation() override;
    void SetCursorLocation(CursorLocationEnum Value) override;
    ConnectModeEnum GetMode() override;
    void SetMode(ConnectModeEnum Value) override;
    WideString GetProvider() override;
    void SetProvider(const WideString& Value) override;
    int GetState() override;
    ComPtr<_Recordset> OpenSchema(SchemaEnum Schema, const Variant& Restrictions, const Variant& SchemaID) override;
    void Cancel() override;

    // ---- IConnectionPointContainer ---------------------------------------------
    Com::HRESULT EnumConnectionPoints(std::vector<ComPtr<Com::IConnectionPoint>>& points) override;
    Com::HRESULT FindConnectionPoint(const Com::IID& iid, Com::IConnectionPoint** point) override;

    // ---- TFailureReporter --------------------------------------------------------
    TErrorsCollection* GetErrorTarget() override { return FErrors.get(); }
    const char* GetSourceName() const override { return "ADODB.Connection"; }

    static const Com::TDispatchTable<TConnectionObject>& GetDispatchTable();

    // ---- Engine side ---------------------------------------------------------------
    bool IsOpen() const noexcept { return FState == adStateOpen; }
    // Raises adErrInvalidConnection naming the operation unless open.
    void CheckUsable(std::string_view operation) const;
    TSession& GetSession();
    // Counts opens, so that statements of an earlier session are not reused.
    unsigned GetOpenCount() const noexcept { return FOpenCount; }
    // Runs a command text: WillExecute, preparing, binding and executing. The
    // caller builds its recordset and then calls ExecuteComplete. A failure
    // here has already been reported with ExecuteComplete.
    TExecResult RunCommand(TExecRequest request);
    // Runs a command text asynchronously (adAsyncExecute): WillExecute fires
    // now, on this thread; compiling, binding (request.Bind must then only use
    // values it holds) and the execution run on a worker while State shows
    // adStateExecuting. When it ends, on this
    // thread: done(run) for a success (it builds the recordset and calls
    // ExecuteComplete), or ExecuteComplete with the failure and then failed().
    // A failure before the worker starts raises here, as RunCommand does.
    void StartCommand(TExecRequest request, std::function<void(TExecResult&)> done, std::function<void()> failed);
    // An asynchronous connect or execution is running (its outcome not delivered yet).
    bool IsBusy();
    // Stops the asynchronous work without any Complete event (the connection,
    // or what the work was for, is going away).
    void AbandonAsync() noexcept;
    void FireExecuteComplete(Int64 recordsAffected, Error* error, TCommandObject* command, TRecordsetObject* recordset);
    // Adds a warning to Errors and raises InfoMessage.
    void Warn(const TFailure& warning);
    // Recordsets opened on this connection (closed with it).
    void Attach(TRecordsetObject* rs);
    void Detach(TRecordsetObject* rs) noexcept;
    // A recordset's asynchronous fetch reads from the session (null when it
    // ends): State shows adStateFetching and every other use of the session is
    // refused with adErrStillExecuting until then.
    void SetFetching(TRecordsetObject* rs) noexcept { FFetching = rs; }
    bool IsFetching();
    // The text that reads a whole table, as the provider writes it.
    String TableCommandText(const String& table);

private:
    void CheckClosed(std::string_view what) const;
    std::vector<TPropertyInfo> ListProperties();
    TSession& SessionForProperties();
    ComPtr<_Connection> Self() { return ComPtr<_Connection>(static_cast<_Connection*>(this)); }
    void FireConnectComplete(Error* error, EventStatusEnum status);
    // Raises adErrStillConnecting / adErrStillExecuting while asynchronous work runs.
    void CheckNotBusy(std::string_view operation);
    // Reports a failure of asynchronous work (Errors, then complete) on this
    // thread, where nobody waits for an exception.
    void ReportAsyncFailure(std::exception_ptr failure, const std::function<void(Error*)>& complete);
    // A command text after WillExecute: what to compile, bind and run. The
    // compiling, binding and running (ExecutePrepared) touch only the session
    // and may run on a worker thread.
    struct TPreparedCommand {
        String Source;
        CommandTypeEnum Type = adCmdUnknown;
        TSession* Session = nullptr;
        std::shared_ptr<TStatement> Statement;  // a statement kept from before, else made by CompilePrepared
        std::function<void(TStatement&)> Bind;
        TExecResult Run;
        bool NoRecords = false;
        std::function<void(TExecResult&)> OnWorker;
    };
    TPreparedCommand PrepareCommand(TExecRequest& request);
    static void CompilePrepared(TPreparedCommand& prepared);
    static void ExecutePrepared(TPreparedCommand& prepared);

    String FConnectionString;
    String FProvider;  // as set; empty: from the connection string, else SQLite
    String FDefaultDatabase;
    int FCommandTimeout = 30;
    int FConnectionTimeout = 15;
    CursorLocationEnum FCursorLocation = adUseServer;
    IsolationLevelEnum FIsolationLevel = adXactReadCommitted;
    ConnectModeEnum FMode = adModeUnknown;
    int FAttributes = 0;
    ObjectStateEnum FState = adStateClosed;
    unsigned FOpenCount = 0;

    std::unique_ptr<TSession> FSession;
    String FSessionProvider;  // the provider FSession belongs to
    // Sessions of an earlier provider: statements made by them may still exist.
    std::vector<std::unique_ptr<TSession>> FRetiredSessions;
    std::vector<TRecordsetObject*> FRecordsets;

    std::unique_ptr<TErrorsCollection> FErrors;
    std::unique_ptr<TPropertiesCollection> FProperties;
    Com::TConnectionPoints FPoints{static_cast<Com::IConnectionPointContainer*>(this)};
    Com::TConnectionPoint* FEvents = nullptr;
    TEventGate FGate;

    // Asynchronous connect or execution.
    enum TAsyncKind { akNone, akConnect, akExecute };
    TAsyncKind FAsyncKind = akNone;
    TAsyncWork FAsync;
    TRecordsetObject* FAsyncRecordset = nullptr;  // the recordset the execution opens, told when it is abandoned
    TRecordsetObject* FFetching = nullptr;        // SetFetching

public:
    // Event raising for the other objects of the connection.
    TEventOutcome FireWillExecute(String& source, CursorTypeEnum& cursorType, LockTypeEnum& lockType, int& options,
                                  TCommandObject* command, TRecordsetObject* recordset);
};

// The engine object behind an interface pointer (null for objects of another
// implementation).
TConnectionObject* ConnectionOf(Rtl::IUnknown* unk) noexcept;

// A cancelled Will... event: raises ADO's "operation was cancelled" error.
[[noreturn]] void RaiseCancelled(std::string_view event);

}  // namespace DataEngine::Ado
