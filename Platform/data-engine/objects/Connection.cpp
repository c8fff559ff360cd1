#include "Platform/data-engine/objects/Connection.h"

#include <algorithm>

#include "Platform/data-engine/objects/Command.h"
#include "Platform/data-engine/objects/Recordset.h"

namespace DataEngine::Ado {

namespace {

Rtl::IUnknown* UnknownOf(TConnectionObject* c) { return static_cast<Rtl::IUnknown*>(static_cast<_Connection*>(c)); }

constexpr int CommandTypeMask = adCmdText | adCmdTable | adCmdStoredProc | adCmdUnknown | adCmdFile | adCmdTableDirect;

// A text that can only be a table's name: one identifier, possibly quoted
// or qualified, nothing else.
bool IsPlainName(std::string_view text) {
    const String s = Rtl::Trim(text);
    if (s.empty()) return false;
    char quote = 0;
    for (char c : s) {
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '"' || c == '`') quote = c;
        else if (c == '[') quote = ']';
        else if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$' ||
                   static_cast<unsigned char>(c) >= 0x80))
            return false;
    }
    return quote == 0;
}

}  // namespace

void RaiseCancelled(std::string_view event) {
    AdoFail(adErrOperationCancelled, "the " + String(event) + " event handler set adStatusCancel");
}

TConnectionObject* ConnectionOf(Rtl::IUnknown* unk) noexcept {
    auto c = Com::QueryInterface<_Connection>(unk);
    return dynamic_cast<TConnectionObject*>(c.Get());
}

TConnectionObject::TConnectionObject() {
    FErrors = std::make_unique<TErrorsCollection>(UnknownOf(this));
    FProperties = std::make_unique<TPropertiesCollection>(
        UnknownOf(this), this, [this] { return ListProperties(); },
        [this](const String& name, const Variant& value) { SessionForProperties().SetProperty(name, value); });
    FEvents = FPoints.CreateConnectionPoint(IID_ConnectionEventsVt);
}

TConnectionObject::~TConnectionObject() {
    // Work still running stops before the session it uses goes away.
    AbandonAsync();
    try {
        if (FSession) FSession->Close();
    } catch (...) {
    }
}

// ---- Settings ------------------------------------------------------------------------------

void TConnectionObject::CheckClosed(std::string_view what) const {
    if (FState != adStateClosed)
        AdoFail(adErrObjectOpen, String(what) + " cannot change while the connection is open");
}

void TConnectionObject::CheckUsable(std::string_view operation) const {
    const_cast<TConnectionObject*>(this)->CheckNotBusy(operation);
    if (FState != adStateOpen) AdoFail(adErrInvalidConnection, String(operation) + ": the connection is closed");
}

ComPtr<Properties> TConnectionObject::GetProperties() { return ComPtr<Properties>(FProperties.get()); }

WideString TConnectionObject::GetConnectionString() {
    return Guard([&] { return Wide(FConnectionString); });
}

void TConnectionObject::SetConnectionString(const WideString& Value) {
    Guard([&] {
        CheckClosed("ConnectionString");
        const String text = Narrow(Value);
        TConnectionString::Parse(text);  // a malformed string is refused here, naming the fault
        FConnectionString = text;
    });
}

int TConnectionObject::GetCommandTimeout() { return FCommandTimeout; }

void TConnectionObject::SetCommandTimeout(int Value) {
    Guard([&] {
        if (Value < 0) AdoFail(adErrInvalidArgument, "CommandTimeout " + std::to_string(Value) + " is negative");
        CheckNotBusy("CommandTimeout");
        FCommandTimeout = Value;
        if (FState == adStateOpen) FSession->SetCommandTimeout(Value);
    });
}

int TConnectionObject::GetConnectionTimeout() { return FConnectionTimeout; }

void TConnectionObject::SetConnectionTimeout(int Value) {
    Guard([&] {
        CheckClosed("ConnectionTimeout");
        if (Value < 0) AdoFail(adErrInvalidArgument, "ConnectionTimeout " + std::to_string(Value) + " is negative");
        FConnectionTimeout = Value;
    });
}

WideString TConnectionObject::GetVersion() { return u"2.8"; }

ComPtr<Errors> TConnectionObject::GetErrors() { return ComPtr<Errors>(FErrors.get()); }

WideString TConnectionObject::GetDefaultDatabase() {
    return Guard([&] {
        if (FState != adStateOpen || IsBusy()) return Wide(FDefaultDatabase);
        for (const auto& p : FSession->GetProperties())
            if (Rtl::SameText(p.Name, "Current Catalog")) return p.Value.ToWideString();
        return Wide(FDefaultDatabase);
    });
}

void TConnectionObject::SetDefaultDatabase(const WideString& Value) {
    Guard([&] {
        CheckNotBusy("DefaultDatabase");
        if (FState == adStateOpen) FSession->SetProperty("Current Catalog", Variant(Value));
        FDefaultDatabase = Narrow(Value);
    });
}

IsolationLevelEnum TConnectionObject::GetIsolationLevel() { return FIsolationLevel; }

void TConnectionObject::SetIsolationLevel(IsolationLevelEnum Value) {
    Guard([&] {
        switch (Value) {
            case adXactUnspecified:
            case adXactChaos:
            case adXactReadUncommitted:
            case adXactReadCommitted:
            case adXactRepeatableRead:
            case adXactSerializable: break;
            default: AdoFail(adErrInvalidArgument, "IsolationLevel " + std::to_string(Value) + " is not an isolation level");
        }
        CheckNotBusy("IsolationLevel");
        // The level the data source really gives is what reads back.
        FIsolationLevel = FState == adStateOpen ? FSession->SetIsolationLevel(Value) : Value;
    });
}

int TConnectionObject::GetAttributes() { return FAttributes; }

void TConnectionObject::SetAttributes(int Value) {
    Guard([&] {
        if (Value & ~(adXactCommitRetaining | adXactAbortRetaining))
            AdoFail(adErrInvalidArgument, "Attributes " + std::to_string(Value) +
                                              " holds bits other than adXactCommitRetaining and adXactAbortRetaining");
        FAttributes = Value;
    });
}

CursorLocationEnum TConnectionObject::GetCursorLocation() { return FCursorLocation; }

void TConnectionObject::SetCursorLocation(CursorLocationEnum Value) {
    Guard([&] {
        if (Value != adUseServer && Value != adUseClient)
            AdoFail(adErrInvalidArgument, "CursorLocation " + std::to_string(Value) +
                                              " is not adUseServer (2) or adUseClient (3)");
        FCursorLocation = Value;
    });
}

ConnectModeEnum TConnectionObject::GetMode() { return FMode; }

void TConnectionObject::SetMode(ConnectModeEnum Value) {
    Guard([&] {
        CheckClosed("Mode");
        FMode = Value;
    });
}

WideString TConnectionObject::GetProvider() {
    return Guard([&] {
        if (!FProvider.empty()) return Wide(FProvider);
        try {
            const String p = TConnectionString::Parse(FConnectionString).Get("Provider");
            if (!p.empty()) return Wide(p);
        } catch (const EEngineError&) {
        }
        return WideString(u"SQLite");
    });
}

void TConnectionObject::SetProvider(const WideString& Value) {
    Guard([&] {
        CheckClosed("Provider");
        FProvider = Rtl::Trim(Narrow(Value));
    });
}

int TConnectionObject::GetState() {
    if (!IsBusy()) return IsFetching() ? FState | adStateFetching : FState;
    return FAsyncKind == akConnect ? adStateConnecting : FState | adStateExecuting;
}

// ---- Asynchronous work ---------------------------------------------------------------------------

bool TConnectionObject::IsBusy() {
    // Work that has ended delivers its outcome when its owner looks; from
    // another thread the state is only read.
    if (!FAsync.IsRunning()) return false;
    if (std::this_thread::get_id() == FAsync.GetOwnerThread()) return FAsync.Poll();
    return true;
}

bool TConnectionObject::IsFetching() {
    // Looking at the recordset delivers a fetch that has ended (which clears FFetching).
    return FFetching && FFetching->IsFetching() && FFetching;
}

void TConnectionObject::AbandonAsync() noexcept {
    if (FAsyncRecordset) FAsyncRecordset->SetOpeningOn(nullptr);
    FAsyncRecordset = nullptr;
    FAsync.Abandon();
    FAsyncKind = akNone;
}

void TConnectionObject::CheckNotBusy(std::string_view operation) {
    if (IsFetching())
        AdoFail(adErrStillExecuting,
                String(operation) + ": a recordset is still fetching rows asynchronously on the connection");
    if (!IsBusy()) return;
    if (FAsyncKind == akConnect)
        AdoFail(adErrStillConnecting, String(operation) + ": the connection is still connecting asynchronously");
    AdoFail(adErrStillExecuting, String(operation) + ": a command is still executing asynchronously on the connection");
}

void TConnectionObject::ReportAsyncFailure(std::exception_ptr failure, const std::function<void(Error*)>& complete) {
    try {
        Guard([&] {
            try {
                std::rethrow_exception(failure);
            } catch (...) {
                RaiseWithComplete(complete);
            }
        });
    } catch (...) {
        // Reported through Errors and the Complete event: nobody waits for it here.
    }
}

// ---- Sessions and properties ---------------------------------------------------------------------

TSession& TConnectionObject::GetSession() {
    CheckUsable("this operation");
    return *FSession;
}

TSession& TConnectionObject::SessionForProperties() {
    if (FAsyncKind == akExecute) CheckNotBusy("Properties");
    if (FState == adStateOpen) return *FSession;
    const String provider = Narrow(GetProvider());
    if (!FSession || !Rtl::SameText(FSessionProvider, provider)) {
        auto session = FindProvider(provider)->CreateSession();
        if (FSession) FRetiredSessions.push_back(std::move(FSession));
        FSession = std::move(session);
        FSessionProvider = provider;
    }
    return *FSession;
}

std::vector<TPropertyInfo> TConnectionObject::ListProperties() {
    if (FAsyncKind == akExecute && IsBusy()) return {};  // the session is busy on the worker
    return SessionForProperties().GetProperties();
}

String TConnectionObject::TableCommandText(const String& table) { return GetSession().TableCommandText(table); }

// ---- Open and close ---------------------------------------------------------------------------------

void TConnectionObject::FireConnectComplete(Error* error, EventStatusEnum status) {
    FireEvent<ConnectionEventsVt>(FEvents, FGate, ceConnectComplete, 0, status,
                                  [&](ConnectionEventsVt* s, EventStatusEnum& st) {
                                      return s->ConnectComplete(error, st, Self().Get());
                                  });
}

void TConnectionObject::Open(const WideString& ConnectionString, const WideString& UserID, const WideString& Password,
                             int Options) {
    Guard([&] {
        CheckNotBusy("Connection.Open");
        if (FState != adStateClosed) AdoFail(adErrObjectOpen, "Connection.Open: the connection is already open");
        const bool async = Options != adConnectUnspecified && (Options & adAsyncConnect);
        WideString text = ConnectionString.empty() ? Wide(FConnectionString) : ConnectionString;
        WideString user = UserID, password = Password;
        int options = Options;
        const TEventOutcome outcome = FireEvent<ConnectionEventsVt>(
            FEvents, FGate, ceWillConnect, 0, adStatusOK, [&](ConnectionEventsVt* s, EventStatusEnum& st) {
                return s->WillConnect(text, user, password, options, st, Self().Get());
            });
        // What the session needs to open; connect() may run on a worker thread
        // and touches nothing of this object but the fields copied here.
        struct TConnect {
            TConnectionString Props;
            String Provider, User, Password, DefaultDatabase;
            int CommandTimeout = 30;
            IsolationLevelEnum Level = adXactReadCommitted;
            std::unique_ptr<TSession> Session;
        };
        auto job = std::make_shared<TConnect>();
        try {
            if (outcome.Cancelled) RaiseCancelled("WillConnect");
            const String given = Narrow(text);
            job->Props = TConnectionString::Parse(given);
            job->Provider = Rtl::Trim(job->Props.Get("Provider"));
            // A URL with no provider names a document source (DocumentSource.h).
            if (job->Provider.empty() && FProvider.empty() && job->Props.Has("URL")) job->Provider = "MSDAIPP.DSO";
            if (job->Provider.empty()) job->Provider = FProvider.empty() ? String("SQLite") : FProvider;
            job->Props.Remove("Provider");
            if (!job->Props.Has("Mode") && FMode != adModeUnknown) job->Props.Set("Mode", std::to_string(FMode));
            if (!job->Props.Has("Connect Timeout") && !job->Props.Has("Busy Timeout"))
                job->Props.Set("Connect Timeout", std::to_string(FConnectionTimeout));
            job->User = Narrow(user);
            job->Password = Narrow(password);
            job->DefaultDatabase = FDefaultDatabase;
            job->CommandTimeout = FCommandTimeout;
            job->Level = FIsolationLevel;
            job->Session = FindProvider(job->Provider)->CreateSession();
        } catch (...) {
            RaiseWithComplete([&](Error* e) { FireConnectComplete(e, adStatusErrorsOccurred); });
        }
        auto connect = [job] {
            TSession& session = *job->Session;
            session.Open(job->Props, job->User, job->Password);
            session.SetCommandTimeout(job->CommandTimeout);
            job->Level = session.SetIsolationLevel(job->Level);
            if (!job->DefaultDatabase.empty()) {
                String current;
                for (const auto& p : session.GetProperties())
                    if (Rtl::SameText(p.Name, "Current Catalog")) current = p.Value.ToString();
                if (!Rtl::SameText(current, job->DefaultDatabase))
                    session.SetProperty("Current Catalog", Variant(job->DefaultDatabase));
            }
        };
        // Takes the opened session; on this object's thread.
        auto install = [this, job] {
            if (FSession) FRetiredSessions.push_back(std::move(FSession));
            FSession = std::move(job->Session);
            FSessionProvider = job->Provider;
            FIsolationLevel = job->Level;
            FProvider = job->Provider;
            FConnectionString = "Provider=" + QuoteConnectionValue(job->Provider) + ";" + job->Props.ToString();
            FState = adStateOpen;
            ++FOpenCount;
        };
        if (!async) {
            try {
                connect();
                install();
            } catch (...) {
                RaiseWithComplete([&](Error* e) { FireConnectComplete(e, adStatusErrorsOccurred); });
            }
            FireConnectComplete(nullptr, adStatusOK);
            return;
        }
        FAsyncKind = akConnect;
        FAsync.Start(
            [job, connect](const TAsyncWork::TCancelFlag& cancelled) {
                try {
                    if (!cancelled) connect();
                } catch (...) {
                    // A connect that failed because it was stopped reports the cancel.
                    if (!cancelled) throw;
                }
                // A cancel that came while connecting undoes the connection.
                if (cancelled) {
                    try {
                        job->Session->Close();
                    } catch (...) {
                    }
                    AdoFail(adErrOperationCancelled, "Connection.Cancel stopped the asynchronous connect");
                }
            },
            [this, job, install](std::exception_ptr failure, bool) {
                ComPtr<_Connection> keep = Self();
                FAsyncKind = akNone;
                if (!failure) {
                    try {
                        install();
                    } catch (...) {
                        failure = std::current_exception();
                    }
                }
                if (failure) {
                    ReportAsyncFailure(failure, [&](Error* e) { FireConnectComplete(e, adStatusErrorsOccurred); });
                    return;
                }
                FireConnectComplete(nullptr, adStatusOK);
            },
            [job] {
                if (job->Session) job->Session->Cancel();
            });
    });
}

void TConnectionObject::Close() {
    Guard([&] {
        // Asynchronous work ends first (its Complete event reports the cancel).
        if (IsBusy()) FAsync.Cancel();
        // So does a recordset's fetch, before the session is asked anything.
        if (IsFetching()) FFetching->Cancel();
        if (FState == adStateClosed) AdoFail(adErrObjectClosed, "Connection.Close: the connection is not open");
        if (FSession->GetTransactionLevel() > 0)
            AdoFail(adErrInTransaction, "the connection has a transaction at level " +
                                            std::to_string(FSession->GetTransactionLevel()) +
                                            "; commit or roll it back first");
        for (TRecordsetObject* rs : std::vector<TRecordsetObject*>(FRecordsets)) rs->ConnectionClosing();
        FRecordsets.clear();
        FSession->Close();
        FState = adStateClosed;
        FireEvent<ConnectionEventsVt>(FEvents, FGate, ceDisconnect, 0, adStatusOK,
                                      [&](ConnectionEventsVt* s, EventStatusEnum& st) {
                                          return s->Disconnect(st, Self().Get());
                                      });
    });
}

void TConnectionObject::Attach(TRecordsetObject* rs) {
    if (std::find(FRecordsets.begin(), FRecordsets.end(), rs) == FRecordsets.end()) FRecordsets.push_back(rs);
}

void TConnectionObject::Detach(TRecordsetObject* rs) noexcept {
    FRecordsets.erase(std::remove(FRecordsets.begin(), FRecordsets.end(), rs), FRecordsets.end());
}

// ---- Transactions ------------------------------------------------------------------------------------

int TConnectionObject::BeginTrans() {
    return Guard([&] {
        CheckUsable("Connection.BeginTrans");
        int level = 0;
        try {
            level = FSession->BeginTrans();
        } catch (...) {
            RaiseWithComplete([&](Error* e) {
                FireEvent<ConnectionEventsVt>(FEvents, FGate, ceBeginTransComplete, 0, adStatusErrorsOccurred,
                                              [&](ConnectionEventsVt* s, EventStatusEnum& st) {
                                                  return s->BeginTransComplete(0, e, st, Self().Get());
                                              });
            });
        }
        FireEvent<ConnectionEventsVt>(FEvents, FGate, ceBeginTransComplete, 0, adStatusOK,
                                      [&](ConnectionEventsVt* s, EventStatusEnum& st) {
                                          return s->BeginTransComplete(level, nullptr, st, Self().Get());
                                      });
        return level;
    });
}

void TConnectionObject::CommitTrans() {
    Guard([&] {
        CheckUsable("Connection.CommitTrans");
        auto complete = [&](Error* e, EventStatusEnum status) {
            FireEvent<ConnectionEventsVt>(FEvents, FGate, ceCommitTransComplete, 0, status,
                                          [&](ConnectionEventsVt* s, EventStatusEnum& st) {
                                              return s->CommitTransComplete(e, st, Self().Get());
                                          });
        };
        try {
            FSession->CommitTrans((FAttributes & adXactCommitRetaining) != 0);
        } catch (...) {
            RaiseWithComplete([&](Error* e) { complete(e, adStatusErrorsOccurred); });
        }
        complete(nullptr, adStatusOK);
    });
}

void TConnectionObject::RollbackTrans() {
    Guard([&] {
        CheckUsable("Connection.RollbackTrans");
        auto complete = [&](Error* e, EventStatusEnum status) {
            FireEvent<ConnectionEventsVt>(FEvents, FGate, ceRollbackTransComplete, 0, status,
                                          [&](ConnectionEventsVt* s, EventStatusEnum& st) {
                                              return s->RollbackTransComplete(e, st, Self().Get());
                                          });
        };
        try {
            FSession->RollbackTrans((FAttributes & adXactAbortRetaining) != 0);
        } catch (...) {
            RaiseWithComplete([&](Error* e) { complete(e, adStatusErrorsOccurred); });
        }
        complete(nullptr, adStatusOK);
    });
}

// ---- Running commands ------------------------------------------------------------------------------------

TEventOutcome TConnectionObject::FireWillExecute(String& source, CursorTypeEnum& cursorType, LockTypeEnum& lockType,
                                                 int& options, TCommandObject* command, TRecordsetObject* recordset) {
    _Command* cmd = command ? static_cast<_Command*>(command) : nullptr;
    _Recordset* rs = recordset ? static_cast<_Recordset*>(recordset) : nullptr;
    WideString text = Wide(source);
    const TEventOutcome outcome = FireEvent<ConnectionEventsVt>(
        FEvents, FGate, ceWillExecute, 0, adStatusOK, [&](ConnectionEventsVt* s, EventStatusEnum& st) {
            return s->WillExecute(text, cursorType, lockType, options, st, cmd, rs, Self().Get());
        });
    source = Narrow(text);
    return outcome;
}

void TConnectionObject::FireExecuteComplete(Int64 recordsAffected, Error* error, TCommandObject* command,
                                            TRecordsetObject* recordset) {
    _Command* cmd = command ? static_cast<_Command*>(command) : nullptr;
    _Recordset* rs = recordset ? static_cast<_Recordset*>(recordset) : nullptr;
    const int affected = static_cast<int>(std::clamp<Int64>(recordsAffected, -1, INT32_MAX));
    FireEvent<ConnectionEventsVt>(FEvents, FGate, ceExecuteComplete, 0, error ? adStatusErrorsOccurred : adStatusOK,
                                  [&](ConnectionEventsVt* s, EventStatusEnum& st) {
                                      return s->ExecuteComplete(affected, error, st, cmd, rs, Self().Get());
                                  });
}

TConnectionObject::TPreparedCommand TConnectionObject::PrepareCommand(TExecRequest& request) {
    CheckUsable("running \"" + ClipForMessage(request.Source) + "\"");
    TPreparedCommand prepared;
    TExecResult& run = prepared.Run;
    prepared.NoRecords = request.NoRecords;
    prepared.Bind = request.Bind;
    run.CursorType = request.CursorType;
    run.LockType = request.LockType;
    run.Options = request.Options;
    String source = request.Source;
    const TEventOutcome outcome =
        FireWillExecute(source, run.CursorType, run.LockType, run.Options, request.Command, request.Recordset);
    try {
        if (outcome.Cancelled) RaiseCancelled("WillExecute");
        CommandTypeEnum type = request.CommandType;
        if (run.Options != adOptionUnspecified && (run.Options & CommandTypeMask) && source != request.Source)
            type = static_cast<CommandTypeEnum>(run.Options & CommandTypeMask);
        if (source.empty() || Rtl::Trim(source).empty())
            AdoFail(adErrInvalidArgument, "the command text is empty");
        if (type == adCmdFile) NotImplementedYet("Opening a saved recordset file (adCmdFile)");
        if (request.Prepared && source == request.Source) prepared.Statement = request.Prepared;
        prepared.Source = source;
        prepared.Type = type;
        prepared.Session = FSession.get();
    } catch (...) {
        RaiseWithComplete([&](Error* e) { FireExecuteComplete(-1, e, request.Command, request.Recordset); });
    }
    return prepared;
}

void TConnectionObject::CompilePrepared(TPreparedCommand& prepared) {
    TSession& session = *prepared.Session;
    const String& source = prepared.Source;
    if (!prepared.Statement) {
        auto stmt = std::shared_ptr<TStatement>(session.CreateStatement());
        switch (prepared.Type) {
            case adCmdStoredProc: stmt->PrepareProcedure(source); break;
            case adCmdTable:
            case adCmdTableDirect: stmt->Prepare(session.TableCommandText(source)); break;
            case adCmdUnknown:
                try {
                    stmt->Prepare(source);
                } catch (const EEngineError&) {
                    // Neither a statement nor...: a bare name reads as a table.
                    if (!IsPlainName(source)) throw;
                    stmt->Prepare(session.TableCommandText(source));
                }
                break;
            default: stmt->Prepare(source); break;
        }
        prepared.Statement = stmt;
    }
    if (prepared.Bind) prepared.Bind(*prepared.Statement);
}

void TConnectionObject::ExecutePrepared(TPreparedCommand& prepared) {
    CompilePrepared(prepared);
    TStatement& stmt = *prepared.Statement;
    TResultStream* result = &stmt.Execute();
    Int64 affected = -1;
    while (result) {
        if (result->HasRows() && !prepared.NoRecords) break;
        const Int64 a = result->GetRecordsAffected();
        if (a >= 0) affected = (affected < 0 ? 0 : affected) + a;
        result = stmt.NextResult();
    }
    prepared.Run.Statement = prepared.Statement;
    prepared.Run.Result = result;
    prepared.Run.RecordsAffected = affected;
    prepared.Run.Text = stmt.GetText();
}

TExecResult TConnectionObject::RunCommand(TExecRequest request) {
    TPreparedCommand prepared = PrepareCommand(request);
    try {
        ExecutePrepared(prepared);
    } catch (...) {
        RaiseWithComplete([&](Error* e) { FireExecuteComplete(-1, e, request.Command, request.Recordset); });
    }
    return prepared.Run;
}

void TConnectionObject::StartCommand(TExecRequest request, std::function<void(TExecResult&)> done,
                                     std::function<void()> failed) {
    auto prepared = std::make_shared<TPreparedCommand>(PrepareCommand(request));
    prepared->OnWorker = std::move(request.OnWorker);
    // The command and recordset the outcome goes to stay alive until it is
    // delivered, even when the caller lets them go: the work they started
    // finishes and reports. Only the connection's own end stops it.
    ComPtr<_Command> command(request.Command ? static_cast<_Command*>(request.Command) : nullptr);
    ComPtr<_Recordset> recordset(request.Recordset ? static_cast<_Recordset*>(request.Recordset) : nullptr);
    TCommandObject* cmd = request.Command;
    TRecordsetObject* rs = request.Recordset;
    TSession* session = FSession.get();
    FAsyncKind = akExecute;
    FAsyncRecordset = rs;
    if (rs) rs->SetOpeningOn(this);
    FAsync.Start(
        [prepared](const TAsyncWork::TCancelFlag& cancelled) {
            if (cancelled) AdoFail(adErrOperationCancelled, "the execution was cancelled before it started");
            ExecutePrepared(*prepared);
            if (prepared->OnWorker) prepared->OnWorker(prepared->Run);
        },
        [this, prepared, command, recordset, cmd, rs, done = std::move(done), failed = std::move(failed)](
            std::exception_ptr failure, bool) {
            ComPtr<_Connection> keep = Self();
            FAsyncKind = akNone;
            FAsyncRecordset = nullptr;
            if (rs) rs->SetOpeningOn(nullptr);
            if (failure) {
                ReportAsyncFailure(failure, [&](Error* e) { FireExecuteComplete(-1, e, cmd, rs); });
                if (failed) failed();
                return;
            }
            try {
                done(prepared->Run);
            } catch (...) {
                ReportAsyncFailure(std::current_exception(), [&](Error* e) {
                    FireExecuteComplete(prepared->Run.RecordsAffected, e, cmd, rs);
                });
            }
        },
        [session] { session->Cancel(); });
}

ComPtr<_Recordset> TConnectionObject::Execute(const WideString& CommandText, Variant* RecordsAffected, int Options) {
    return Guard([&] {
        if (RecordsAffected) *RecordsAffected = Variant();
        CheckUsable("Connection.Execute");
        int options = Options;
        const bool async = options != adOptionUnspecified && (options & adAsyncExecute);
        TExecRequest request;
        request.Source = Narrow(CommandText);
        request.CommandType =
            options == adOptionUnspecified || !(options & CommandTypeMask) ? adCmdUnknown
                                                                           : static_cast<CommandTypeEnum>(options & CommandTypeMask);
        request.Options = options;
        request.NoRecords = options != adOptionUnspecified && (options & adExecuteNoRecords);
        auto rs = Com::MakeComObject<TRecordsetObject>();
        request.Recordset = request.NoRecords ? nullptr : rs.Get();
        if (async) {
            // The recordset opens when the execution ends; RecordsAffected
            // is not known before, and ExecuteComplete tells it.
            const bool noRecords = request.NoRecords;
            TRecordsetObject* target = rs.Get();
            StartCommand(
                request,
                [this, noRecords, target](TExecResult& run) {
                    if (!noRecords) target->OpenOnResult(ComPtr<TConnectionObject>(this), run, FCursorLocation, nullptr);
                    FireExecuteComplete(run.RecordsAffected, nullptr, nullptr, noRecords ? nullptr : target);
                },
                nullptr);
            return noRecords ? ComPtr<_Recordset>() : ComPtr<_Recordset>(static_cast<_Recordset*>(rs.Get()));
        }
        TExecResult run = RunCommand(request);
        try {
            if (!request.NoRecords) rs->OpenOnResult(ComPtr<TConnectionObject>(this), run, FCursorLocation, nullptr);
        } catch (...) {
            RaiseWithComplete([&](Error* e) { FireExecuteComplete(run.RecordsAffected, e, nullptr, rs.Get()); });
        }
        if (RecordsAffected) *RecordsAffected = Variant(static_cast<int>(std::clamp<Int64>(run.RecordsAffected, -1, INT32_MAX)));
        FireExecuteComplete(run.RecordsAffected, nullptr, nullptr, request.Recordset);
        return request.NoRecords ? ComPtr<_Recordset>() : ComPtr<_Recordset>(static_cast<_Recordset*>(rs.Get()));
    });
}

ComPtr<_Recordset> TConnectionObject::OpenSchema(SchemaEnum Schema, const Variant& Restrictions,
                                                 const Variant& SchemaID) {
    return Guard([&] {
        CheckUsable("Connection.OpenSchema");
        if (Schema == adSchemaProviderSpecific)
            AdoFail(adErrFeatureNotAvailable, "provider-specific schema rowsets (SchemaID " + DescribeValue(SchemaID) +
                                                  ") are not supported by this provider");
        std::vector<Variant> restrictions;
        const Variant r = Restrictions.IsByRef() ? Restrictions.Deref() : Restrictions;
        if (r.IsArray()) {
            if (Rtl::VarArrayDimCount(r) != 1)
                AdoFail(adErrInvalidArgument, "Restrictions must be a one-dimensional array of values");
            for (int i = Rtl::VarArrayLowBound(r, 1); i <= Rtl::VarArrayHighBound(r, 1); ++i)
                restrictions.push_back(r.GetElement(i));
        } else if (!IsMissing(r)) {
            AdoFail(adErrInvalidArgument, "Restrictions must be an array of values, not " + DescribeValue(r));
        }
        auto result = FSession->OpenSchema(Schema, restrictions);
        auto rs = Com::MakeComObject<TRecordsetObject>();
        rs->OpenOnMemory(ComPtr<TConnectionObject>(this), *result, "schema rowset " + std::to_string(Schema));
        return ComPtr<_Recordset>(static_cast<_Recordset*>(rs.Get()));
    });
}

void TConnectionObject::Cancel() {
    Guard([&] {
        // Stops the asynchronous connect or execution; its Complete event
        // arrives before Cancel returns. Without one, a statement running on
        // this connection from another thread is interrupted.
        if (FAsync.IsRunning() && std::this_thread::get_id() != FAsync.GetOwnerThread()) {
            // From another thread: stop the work; the owner gets the outcome as usual.
            FAsync.Interrupt();
            return;
        }
        if (IsBusy()) FAsync.Cancel();
        else if (FState == adStateOpen) FSession->Cancel();
    });
}

void TConnectionObject::Warn(const TFailure& warning) {
    ComPtr<Error> e = FErrors->Report(warning);
    FireEvent<ConnectionEventsVt>(FEvents, FGate, ceInfoMessage, 0, adStatusOK,
                                  [&](ConnectionEventsVt* s, EventStatusEnum& st) {
                                      return s->InfoMessage(e.Get(), st, Self().Get());
                                  });
}

// ---- Connection points ---------------------------------------------------------------------------------

Com::HRESULT TConnectionObject::EnumConnectionPoints(std::vector<ComPtr<Com::IConnectionPoint>>& points) {
    return FPoints.EnumConnectionPoints(points);
}

Com::HRESULT TConnectionObject::FindConnectionPoint(const Com::IID& iid, Com::IConnectionPoint** point) {
    // The dispinterface's point is the vtable interface's: sinks implement ConnectionEventsVt.
    return FPoints.FindConnectionPoint(iid == DIID_ConnectionEvents ? IID_ConnectionEventsVt : iid, point);
}

// ---- Late binding -----------------------------------------------------------------------------------------

const Com::TDispatchTable<TConnectionObject>& TConnectionObject::GetDispatchTable() {
    using T = TConnectionObject;
    using Com::TDispCall;
    static const auto table =
        Com::TDispatchTable<T>("ADODB.Connection")
            .Property("Properties", 500, &T::GetProperties)
            .Property("ConnectionString", 0, &T::GetConnectionString, &T::SetConnectionString)
            .Property("CommandTimeout", 2, &T::GetCommandTimeout, &T::SetCommandTimeout)
            .Property("ConnectionTimeout", 3, &T::GetConnectionTimeout, &T::SetConnectionTimeout)
            .Property("Version", 4, &T::GetVersion)
            .Method("Close", 5, &T::Close)
            .Method(
                "Execute", 6,
                [](T& self, TDispCall& call) {
                    Variant affected;
                    auto rs = self.Execute(call.ArgAs<WideString>(0), &affected,
                                           call.ArgOr<int>(2, adOptionUnspecified));
                    if (call.IsByRef(1)) call.SetArg(1, affected);
                    call.Result = Com::VarFromInterface(rs);
                },
                1, 3)
            .Method("BeginTrans", 7, &T::BeginTrans)
            .Method("CommitTrans", 8, &T::CommitTrans)
            .Method("RollbackTrans", 9, &T::RollbackTrans)
            .Method(
                "Open", 10,
                [](T& self, TDispCall& call) {
                    self.Open(call.ArgOr<WideString>(0, {}), call.ArgOr<WideString>(1, {}),
                              call.ArgOr<WideString>(2, {}), call.ArgOr<int>(3, adConnectUnspecified));
                },
                0, 4)
            .Property("Errors", 11, &T::GetErrors)
            .Property("DefaultDatabase", 12, &T::GetDefaultDatabase, &T::SetDefaultDatabase)
            .Property("IsolationLevel", 13, &T::GetIsolationLevel, &T::SetIsolationLevel)
            .Property("Attributes", 14, &T::GetAttributes, &T::SetAttributes)
            .Property("CursorLocation", 15, &T::GetCursorLocation, &T::SetCursorLocation)
            .Property("Mode", 16, &T::GetMode, &T::SetMode)
            .Property("Provider", 17, &T::GetProvider, &T::SetProvider)
            .Property("State", 18, &T::GetState)
            .Method("OpenSchema", 19, &T::OpenSchema, 2)
            .Method("Cancel", 21, &T::Cancel);
    return table;
}

}  // namespace DataEngine::Ado
