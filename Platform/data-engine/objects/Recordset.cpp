// The recordset: opening, closing, settings, properties and events.
#include "Platform/data-engine/objects/Recordset.h"

#include "Platform/data-engine/objects/Command.h"
#include "Platform/data-engine/objects/Stream.h"

#include <filesystem>

namespace DataEngine::Ado {

namespace {

constexpr int CommandTypeMask = adCmdText | adCmdTable | adCmdStoredProc | adCmdUnknown | adCmdFile | adCmdTableDirect;
// DB_S_ERRORSOCCURRED: a request was met only in part.
constexpr HRESULT hrPartlyMet = static_cast<HRESULT>(0x00040EDAu);

Rtl::IUnknown* UnknownOf(TRecordsetObject* r) { return static_cast<Rtl::IUnknown*>(static_cast<_Recordset*>(r)); }

const char* CursorTypeName(int t) {
    switch (t) {
        case adOpenForwardOnly: return "adOpenForwardOnly";
        case adOpenKeyset: return "adOpenKeyset";
        case adOpenDynamic: return "adOpenDynamic";
        case adOpenStatic: return "adOpenStatic";
        default: return "adOpenUnspecified";
    }
}

const char* LockTypeName(int t) {
    switch (t) {
        case adLockReadOnly: return "adLockReadOnly";
        case adLockPessimistic: return "adLockPessimistic";
        case adLockOptimistic: return "adLockOptimistic";
        case adLockBatchOptimistic: return "adLockBatchOptimistic";
        default: return "adLockUnspecified";
    }
}

// "Provider=MSPersist" (the persistence provider) in a connection string.
bool IsPersistProvider(const Variant& connection) {
    if (!Rtl::VarIsStr(connection)) return false;
    const String text = connection.ToString();
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == String::npos) end = text.size();
        const String part = text.substr(start, end - start);
        const std::size_t eq = part.find('=');
        if (eq != String::npos && Rtl::SameText(Rtl::Trim(part.substr(0, eq)), "Provider")) {
            const String value = Rtl::Trim(part.substr(eq + 1));
            return Rtl::SameText(value, "MSPersist") || Rtl::SameText(value.substr(0, 10), "MSPersist.");
        }
        start = end + 1;
    }
    return false;
}

bool IsFileOpen(int options, const Variant& connection) {
    if (options != adCmdUnspecified && (options & CommandTypeMask) == adCmdFile) return true;
    return IsPersistProvider(connection);
}

bool IsRegularFile(const String& path) {
    if (Rtl::Trim(path).empty()) return false;
    std::error_code ec;
    return std::filesystem::is_regular_file(std::filesystem::path(path), ec);
}

}  // namespace

TRecordsetObject* RecordsetOf(Rtl::IUnknown* unk) noexcept {
    auto r = Com::QueryInterface<Recordset15>(unk);
    return dynamic_cast<TRecordsetObject*>(r.Get());
}

TRecordsetObject::TRecordsetObject() {
    FFields = std::make_unique<TFieldsCollection>(UnknownOf(this), this);
    FProperties = std::make_unique<TPropertiesCollection>(
        UnknownOf(this), this, [this] { return ListProperties(); },
        [this](const String& name, const Variant& value) { SetProperty(name, value); });
    FEvents = FPoints.CreateConnectionPoint(IID_RecordsetEventsVt);
}

TRecordsetObject::~TRecordsetObject() {
    if (FOpeningOn) FOpeningOn->AbandonAsync();
    StopFetch(false);
    ResetOpenState();
}

ComPtr<Properties> TRecordsetObject::GetProperties() { return ComPtr<Properties>(FProperties.get()); }

std::vector<TPropertyInfo> TRecordsetObject::ListProperties() {
    return {
        {"Update Criteria", Variant(FUpdateCriteria), adPropRead | adPropWrite},
        {"Bookmarkable", Variant(FState == adStateOpen && FStore != nullptr), adPropRead},
        {"Maximum Rows", Variant(FMaxRecords), adPropRead},
        {"Keyset", Variant(FKeyset), adPropRead},
        {"Initial Fetch Size", Variant(FInitialFetchSize), adPropRead | adPropWrite},
        {"Background Fetch Size", Variant(FBackgroundFetchSize), adPropRead | adPropWrite},
    };
}

void TRecordsetObject::SetProperty(const String& name, const Variant& value) {
    if (Rtl::SameText(name, "Update Criteria")) {
        const int v = value.ToInteger();
        if (v < adCriteriaKey || v > adCriteriaTimeStamp)
            AdoFail(adErrPropInvalidValue, "Update Criteria " + std::to_string(v) +
                                               " is not adCriteriaKey, adCriteriaAllCols, adCriteriaUpdCols or "
                                               "adCriteriaTimeStamp");
        FUpdateCriteria = v;
    } else if (Rtl::SameText(name, "Initial Fetch Size") || Rtl::SameText(name, "Background Fetch Size")) {
        const bool initial = Rtl::SameText(name, "Initial Fetch Size");
        const int v = value.ToInteger();
        // The initial rows may be none; a batch has at least one row.
        if (v < (initial ? 0 : 1))
            AdoFail(adErrPropInvalidValue, name + " " + std::to_string(v) + " is less than " + (initial ? "0" : "1"));
        (initial ? FInitialFetchSize : FBackgroundFetchSize) = v;
    }
}

// ---- State checks -------------------------------------------------------------------------------

void TRecordsetObject::CheckOpen(std::string_view operation) const {
    if (FState != adStateOpen) AdoFail(adErrObjectClosed, String(operation) + ": the recordset is closed");
}

void TRecordsetObject::CheckClosed(std::string_view operation) const {
    if (FState != adStateClosed) AdoFail(adErrObjectOpen, String(operation) + " cannot change while the recordset is open");
}

int TRecordsetObject::GetState() {
    // Looking at the connection delivers a finished execution (and clears FOpeningOn).
    if (FOpeningOn && FOpeningOn->IsBusy()) return adStateExecuting;
    // Looking delivers a fetch that has ended (FetchComplete fires here).
    if (IsFetching()) return FState | adStateFetching;
    return FState;
}

// ---- Settings ------------------------------------------------------------------------------------

int TRecordsetObject::GetCacheSize() { return FCacheSize; }

void TRecordsetObject::SetCacheSize(int Value) {
    Guard([&] {
        if (Value < 1) AdoFail(adErrInvalidArgument, "CacheSize " + std::to_string(Value) + " is less than 1");
        FCacheSize = Value;
    });
}

CursorTypeEnum TRecordsetObject::GetCursorType() { return FCursorType; }

void TRecordsetObject::SetCursorType(CursorTypeEnum Value) {
    Guard([&] {
        CheckClosed("CursorType");
        if (Value < adOpenUnspecified || Value > adOpenStatic)
            AdoFail(adErrInvalidArgument, "CursorType " + std::to_string(Value) + " is not a CursorTypeEnum value");
        FCursorType = Value;
    });
}

LockTypeEnum TRecordsetObject::GetLockType() { return FLockType; }

void TRecordsetObject::SetLockType(LockTypeEnum Value) {
    Guard([&] {
        CheckClosed("LockType");
        if (Value < adLockUnspecified || Value > adLockBatchOptimistic || Value == 0)
            AdoFail(adErrInvalidArgument, "LockType " + std::to_string(Value) + " is not a LockTypeEnum value");
        FLockType = Value;
    });
}

int TRecordsetObject::GetMaxRecords() { return FMaxRecords; }

void TRecordsetObject::SetMaxRecords(int Value) {
    Guard([&] {
        CheckClosed("MaxRecords");
        if (Value < 0) AdoFail(adErrInvalidArgument, "MaxRecords " + std::to_string(Value) + " is negative");
        FMaxRecords = Value;
    });
}

int TRecordsetObject::GetPageSize() { return FPageSize; }

void TRecordsetObject::SetPageSize(int Value) {
    Guard([&] {
        if (Value < 1) AdoFail(adErrInvalidArgument, "PageSize " + std::to_string(Value) + " is less than 1");
        FPageSize = Value;
    });
}

CursorLocationEnum TRecordsetObject::GetCursorLocation() {
    if (FState == adStateClosed && !FCursorLocationSet && FConnection) return FConnection->GetCursorLocation();
    return FCursorLocation;
}

void TRecordsetObject::SetCursorLocation(CursorLocationEnum Value) {
    Guard([&] {
        CheckClosed("CursorLocation");
        if (Value != adUseServer && Value != adUseClient)
            AdoFail(adErrInvalidArgument, "CursorLocation " + std::to_string(Value) +
                                              " is not adUseServer (2) or adUseClient (3)");
        FCursorLocation = Value;
        FCursorLocationSet = true;
    });
}

MarshalOptionsEnum TRecordsetObject::GetMarshalOptions() { return FMarshalOptions; }

void TRecordsetObject::SetMarshalOptions(MarshalOptionsEnum Value) {
    Guard([&] {
        if (Value != adMarshalAll && Value != adMarshalModifiedOnly)
            AdoFail(adErrInvalidArgument, "MarshalOptions " + std::to_string(Value) + " is not a MarshalOptionsEnum value");
        FMarshalOptions = Value;
    });
}

void TRecordsetObject::SetStayInSync(bool Value) { FStayInSync = Value; }
bool TRecordsetObject::GetStayInSync() { return FStayInSync; }
WideString TRecordsetObject::GetDataMember() { return FDataMember; }

void TRecordsetObject::SetDataMember(const WideString& Value) {
    Guard([&] {
        CheckClosed("DataMember");
        FDataMember = Value;
    });
}

// ---- Connection and source ---------------------------------------------------------------------------

void TRecordsetObject::SetConnection(ComPtr<TConnectionObject> connection) {
    if (FConnection && FState == adStateOpen) FConnection->Detach(this);
    FConnection = std::move(connection);
    if (FConnection && FState == adStateOpen) FConnection->Attach(this);
}

Variant TRecordsetObject::GetActiveConnection() {
    if (!FConnection) return Variant();
    return Com::VarFromInterface(static_cast<Com::IDispatch*>(static_cast<_Connection*>(FConnection.Get())));
}

void TRecordsetObject::SetActiveConnectionRef(Com::IDispatch* Value) {
    Guard([&] { SetActiveConnection(Value ? Variant::FromDispatch(Value) : Variant()); });
}

void TRecordsetObject::SetActiveConnection(const Variant& Value) {
    Guard([&] {
        if (IsFetching())
            AdoFail(adErrStillExecuting, "the ActiveConnection cannot change while the recordset fetches rows asynchronously");
        if (FState == adStateOpen && FCommand)
            AdoFail(adErrBoundToCommand);
        if (FState == adStateOpen && !FStore)
            AdoFail(adErrObjectOpen, "the ActiveConnection of a forward-only recordset cannot change while it is open");
        if (FEditMode != adEditNone)
            AdoFail(adErrIllegalOperation, "ActiveConnection cannot change while an edit is in progress");
        const Variant v = Deref(Value);
        ComPtr<TConnectionObject> connection;
        if (v.BaseType() == Rtl::varDispatch || v.BaseType() == Rtl::varUnknown) {
            if (Rtl::IUnknown* unk = v.GetInterface()) {
                connection = ConnectionOf(unk);
                if (!connection) AdoFail(adErrInvalidArgument, "ActiveConnection takes a Connection object of this data engine");
            }
        } else if (Rtl::VarIsStr(v) && !v.ToString().empty()) {
            connection = Com::MakeComObject<TConnectionObject>();
            connection->SetConnectionString(v.ToWideString());
            connection->Open({}, {}, {}, adConnectUnspecified);
        } else if (!IsMissing(v) && !Rtl::VarIsStr(v)) {
            AdoFail(adErrInvalidArgument, "ActiveConnection takes a Connection object or a connection string, not " +
                                              DescribeValue(v));
        }
        SetConnection(connection);
        // An open recordset writes through its new connection (or keeps its changes while it has none).
        if (FState == adStateOpen && FStore && !FFabricated && !FSchemaRowset)
            FWriter = FConnection ? std::make_shared<TRowWriter>(*FConnection, FStore->Store().GetColumns()) : nullptr;
    });
}

Variant TRecordsetObject::GetSource() {
    if (FState == adStateOpen) return Variant(Wide(FSource));
    if (FSourceCommand) return Variant(FSourceCommand->GetCommandText());
    return Variant(Wide(FSource));
}

void TRecordsetObject::SetSource(const WideString& Value) {
    Guard([&] {
        CheckClosed("Source");
        FSource = Narrow(Value);
        FSourceCommand = nullptr;
    });
}

void TRecordsetObject::SetSourceRef(Com::IDispatch* Value) {
    Guard([&] {
        CheckClosed("Source");
        TCommandObject* command = Value ? CommandOf(Value) : nullptr;
        if (Value && !command) AdoFail(adErrInvalidArgument, "Source takes a Command object of this data engine");
        FSourceCommand = command;
        FSource.clear();
    });
}

ComPtr<Com::IDispatch> TRecordsetObject::GetActiveCommand() {
    if (!FCommand) return nullptr;
    return ComPtr<Com::IDispatch>(static_cast<Com::IDispatch*>(static_cast<_Command*>(FCommand.Get())));
}

// ---- Opening ---------------------------------------------------------------------------------------------

void TRecordsetObject::ResetOpenState() noexcept {
    StopFetch(false);
    if (FStream) FStream->Close();
    FStream.reset();
    FStore.reset();
    FWriter.reset();
    FStatement.reset();
    FColumns.clear();
    FEditMode = adEditNone;
    FEditRow = NoRow;
    FBeforeAddNew = NoRow;
    FChunkRow = NoRow;
    FChunkColumn = -1;
    FKeyset = false;
    FSchemaRowset = false;
    FFromFile = false;
    FFilterValue = Variant();
    FLastCriteria = TFilter();
    FSortText.clear();
    FIndexName.clear();
    FProviderIndexesLoaded = false;
    FSavedFile.clear();
    if (FConnection && FState == adStateOpen) FConnection->Detach(this);
    FState = adStateClosed;
}

void TRecordsetObject::Build(ComPtr<TConnectionObject> connection, TExecResult& run, CursorLocationEnum location,
                             CursorTypeEnum cursorType, LockTypeEnum lockType) {
    ResetOpenState();
    FFabricated = false;
    SetConnection(connection);
    FOpenLocation = location;
    if (!run.Result) return;  // the command returned no rows: the recordset stays closed
    const std::vector<TColumnInfo>& columns = run.Result->GetColumns();
    FWriter = std::make_shared<TRowWriter>(*connection, columns);

    CursorTypeEnum givenType;
    LockTypeEnum givenLock = lockType == adLockUnspecified ? adLockReadOnly : lockType;
    if (givenLock == adLockPessimistic) givenLock = adLockOptimistic;  // rows are never held locked
    String why;
    if (location == adUseClient) {
        givenType = adOpenStatic;
        why = "the client cursor gives";
    } else if (cursorType == adOpenStatic) {
        givenType = adOpenStatic;
        givenLock = adLockReadOnly;
        why = "a static server cursor is read-only and gives";
    } else if (cursorType == adOpenKeyset || cursorType == adOpenDynamic) {
        if (FWriter->HasKeys()) {
            givenType = adOpenKeyset;
            why = "the server cursor gives";
        } else {
            givenType = adOpenStatic;
            givenLock = adLockReadOnly;
            why = "the result has no complete key of one table, so the server cursor gives";
        }
    } else {
        givenType = adOpenForwardOnly;
        givenLock = adLockReadOnly;
        why = "a forward-only server cursor is read-only and gives";
    }
    bool fetchMore = false;  // an asynchronous fetch reads the rest
    if (givenType == adOpenForwardOnly) {
        FStream = std::make_unique<TStreamCursor>(run.Statement, *run.Result, FMaxRecords);
    } else {
        auto rows = std::make_shared<TRowSet>(columns);
        if (AsksAsyncFetch(run.Options, location)) {
            fetchMore = LoadInitialRows(run, rows->Store);
        } else {
            const std::size_t loaded = rows->Store.Load(*run.Result, static_cast<std::size_t>(FMaxRecords));
            if (FMaxRecords > 0 && loaded == static_cast<std::size_t>(FMaxRecords)) run.Statement->Close();
        }
        FStore = std::make_unique<TStoreCursor>(rows);
        FStatement = run.Statement;
        FKeyset = givenType == adOpenKeyset;
    }
    if (cursorType != adOpenUnspecified && cursorType != givenType)
        connection->Warn({hrPartlyMet,
                          "Cursor type changed: " + String(CursorTypeName(cursorType)) + " was asked for; " + why + " " +
                              CursorTypeName(givenType),
                          "ADODB.Recordset", "01S02", 0, {}, 0});
    else if (lockType != adLockUnspecified && lockType != givenLock)
        connection->Warn({hrPartlyMet,
                          "Lock type changed: " + String(LockTypeName(lockType)) + " was asked for; " + why + " " +
                              LockTypeName(givenLock),
                          "ADODB.Recordset", "01S02", 0, {}, 0});
    FCursorType = givenType;
    FLockType = givenLock;
    FColumns = columns;
    if (FLockType == adLockReadOnly)
        for (auto& c : FColumns) c.Attributes &= ~adFldUpdatable;
    FSource = run.Text;
    FState = adStateOpen;
    connection->Attach(this);
    if (fetchMore) StartFetch(run.Statement, *run.Result, !(run.Options & adAsyncFetchNonBlocking));
}

void TRecordsetObject::OpenFabricated(LockTypeEnum lockType) {
    ResetOpenState();
    FStore = std::make_unique<TStoreCursor>(std::make_shared<TRowSet>(FFieldDefs));
    FColumns = FFieldDefs;
    FFabricated = true;
    FCursorType = adOpenStatic;
    FCursorLocation = adUseClient;
    if (lockType != adLockUnspecified) FLockType = lockType;
    if (FLockType == adLockPessimistic) FLockType = adLockOptimistic;
    if (FLockType == adLockReadOnly)
        for (auto& c : FColumns) c.Attributes &= ~adFldUpdatable;
    FSource.clear();
    FState = adStateOpen;
}

void TRecordsetObject::AfterOpen() {
    if (FState != adStateOpen) return;
    FireWillMove(adRsnMove, adStatusCantDeny);
    try {
        AwaitRows(1);  // a blocking fetch that had no initial rows
        if (FStore) FStore->MoveFirst();
        Landed();
    } catch (...) {
        RaiseWithComplete([&](Error* e) { FireMoveComplete(adRsnMove, e); });
    }
    FireMoveComplete(adRsnMove, nullptr);
}

void TRecordsetObject::Open(const Variant& Source, const Variant& ActiveConnection, CursorTypeEnum CursorType,
                            LockTypeEnum LockType, int Options) {
    Guard([&] {
        if (FState == adStateOpen) AdoFail(adErrObjectOpen, "Recordset.Open: the recordset is already open");
        const Variant source = Deref(Source);
        const Variant connectionArg = Deref(ActiveConnection);
        if (FOpeningOn && FOpeningOn->IsBusy())
            AdoFail(adErrStillExecuting, "Recordset.Open: the recordset is still being opened asynchronously");
        if (Options != adCmdUnspecified && (Options & adExecuteNoRecords))
            AdoFail(adErrInvalidArgument, "Recordset.Open cannot run a command with adExecuteNoRecords");
        if (CursorType != adOpenUnspecified) SetCursorType(CursorType);
        if (LockType != adLockUnspecified) SetLockType(LockType);

        // What to run.
        ComPtr<TCommandObject> command;
        String text;
        if (source.BaseType() == Rtl::varDispatch || source.BaseType() == Rtl::varUnknown) {
            if (Rtl::IUnknown* unk = source.GetInterface()) {
                // A recordset saved into a Stream object.
                if (TStreamObject* stream = StreamOf(unk)) {
                    OpenFromStream(*stream, LockType);
                    return;
                }
                command = CommandOf(unk);
                if (!command)
                    AdoFail(adErrInvalidArgument, "Source must be a Command object of this data engine, a command text "
                                                  "or a table name");
            }
        } else if (Rtl::VarIsStr(source)) {
            text = source.ToString();
        } else if (!IsMissing(source)) {
            AdoFail(adErrInvalidArgument, "Source must be a Command object, a command text or a table name, not " +
                                              DescribeValue(source));
        } else if (FSourceCommand) {
            command = FSourceCommand;
        } else {
            text = FSource;
        }

        // A saved recordset: a file name with adCmdFile, or with the persistence provider as the connection.
        if (!command && (IsFileOpen(Options, connectionArg) ||
                         (IsMissing(connectionArg) && !FConnection && IsRegularFile(text)))) {
            if (Rtl::Trim(text).empty()) AdoFail(adErrInvalidArgument, "Recordset.Open: there is no file name to open");
            OpenFromFile(text, LockType);
            return;
        }

        // Where to run it.
        if (command) {
            if (!IsMissing(connectionArg))
                AdoFail(adErrBoundToCommand, "a recordset opened over a Command uses the command's connection");
            if (!command->Connection())
                AdoFail(adErrInvalidConnection, "Recordset.Open: the Command has no ActiveConnection");
        } else if (!IsMissing(connectionArg)) {
            SetActiveConnection(connectionArg);
        }

        if (!command && Rtl::Trim(text).empty()) {
            // No source: a recordset made of appended fields.
            if (FFieldDefs.empty())
                AdoFail(adErrInvalidArgument, "Recordset.Open: there is no Source, and no fields were appended to "
                                              "fabricate a recordset");
            if (FConnection)
                AdoFail(adErrInvalidArgument, "Recordset.Open: a recordset with an ActiveConnection needs a Source");
            OpenFabricated(LockType);
            AfterOpen();
            return;
        }

        ComPtr<TConnectionObject> connection = command ? ComPtr<TConnectionObject>(command->Connection()) : FConnection;
        if (!connection) AdoFail(adErrInvalidConnection, "Recordset.Open: the recordset has no ActiveConnection");
        connection->CheckUsable("Recordset.Open");
        if (command) SetConnection(connection);
        const CursorLocationEnum location = FCursorLocationSet ? FCursorLocation : connection->GetCursorLocation();

        if (Options != adCmdUnspecified && (Options & adAsyncExecute)) {
            OpenAsync(connection, command, text, location, Options);
            return;
        }
        TExecResult run;
        if (command) {
            run = command->Run(Options, Com::EmptyParam, FCursorType, FLockType, this);
        } else {
            TExecRequest request;
            request.Source = text;
            request.CommandType = Options == adCmdUnspecified || !(Options & CommandTypeMask)
                                      ? adCmdUnknown
                                      : static_cast<CommandTypeEnum>(Options & CommandTypeMask);
            request.CursorType = FCursorType;
            request.LockType = FLockType;
            request.Options = Options;
            request.Recordset = this;
            run = connection->RunCommand(std::move(request));
        }
        try {
            Build(connection, run, location, run.CursorType, run.LockType);
            FCursorLocation = location;
            FCommand = command;
            FOpenOptions = Options;
            if (!command) FSourceCommand = nullptr;
        } catch (...) {
            RaiseWithComplete([&](Error* e) { connection->FireExecuteComplete(run.RecordsAffected, e, command.Get(), this); });
        }
        connection->FireExecuteComplete(run.RecordsAffected, nullptr, command.Get(), this);
        AfterOpen();
    });
}

void TRecordsetObject::OpenOnResult(ComPtr<TConnectionObject> connection, TExecResult& run,
                                    CursorLocationEnum location, TCommandObject* command) {
    Build(connection, run, location, adOpenUnspecified, adLockUnspecified);
    FCursorLocation = location;
    FCommand = command;
    FOpenOptions = run.Options;  // Requery runs it again the same way
    if (FState == adStateOpen) AfterOpen();
}

void TRecordsetObject::OpenOnMemory(ComPtr<TConnectionObject> connection, TResultStream& result, const String& source) {
    ResetOpenState();
    SetConnection(connection);
    auto rows = std::make_shared<TRowSet>(result.GetColumns());
    rows->Store.Load(result);
    FStore = std::make_unique<TStoreCursor>(rows);
    FColumns = result.GetColumns();
    for (auto& c : FColumns) c.Attributes &= ~adFldUpdatable;
    FSchemaRowset = true;
    FFabricated = false;
    FCursorType = adOpenStatic;
    FLockType = adLockReadOnly;
    FCursorLocation = adUseClient;
    FSource = source;
    FState = adStateOpen;
    if (FConnection) FConnection->Attach(this);
    AfterOpen();
}

void TRecordsetObject::ConnectionClosing() noexcept {
    StopFetch(true);
    ResetOpenState();
}

void TRecordsetObject::Close() {
    Guard([&] {
        CheckOpen("Recordset.Close");
        if (FEditMode != adEditNone)
            AdoFail(adErrIllegalOperation, "Recordset.Close: an edit is in progress; call Update or CancelUpdate first");
        // A fetch still running stops first; its FetchComplete reports the cancel.
        StopFetch(true);
        if (FState != adStateOpen) return;  // a handler closed it
        const bool cancelled = FireWillChangeRecordset(adRsnClose).Cancelled;
        Surround(
            cancelled, "WillChangeRecordset", [&] { ResetOpenState(); },
            [&](Error* e) { FireRecordsetChangeComplete(adRsnClose, e); });
    });
}

void TRecordsetObject::Requery(int Options) {
    Guard([&] {
        CheckOpen("Recordset.Requery");
        if (FFabricated || FSchemaRowset)
            AdoFail(adErrFeatureNotAvailable, "Recordset.Requery: the recordset has no command to run again");
        if (FFromFile)
            AdoFail(adErrFeatureNotAvailable, "Recordset.Requery: the recordset was opened from a file and has no "
                                              "command to run again");
        FinishEdit();
        // A fetch still running stops first; its FetchComplete reports the cancel.
        StopFetch(true);
        CheckOpen("Recordset.Requery");
        const bool cancelled = FireWillChangeRecordset(adRsnRequery).Cancelled;
        const int options = Options == adOptionUnspecified ? FOpenOptions : Options;
        if (options != adOptionUnspecified && (options & adAsyncExecute)) {
            RequeryAsync(options, cancelled);
            return;
        }
        Surround(
            cancelled, "WillChangeRecordset",
            [&] {
                if (!FConnection) AdoFail(adErrInvalidConnection, "Recordset.Requery: the recordset has no connection");
                TExecResult run;
                if (FCommand) {
                    run = FCommand->Run(options, Com::EmptyParam, FCursorType, FLockType, this);
                } else {
                    TExecRequest request;
                    request.Source = FSource;
                    request.CommandType = adCmdText;
                    request.CursorType = FCursorType;
                    request.LockType = FLockType;
                    request.Options = options;
                    request.Recordset = this;
                    run = FConnection->RunCommand(std::move(request));
                }
                auto command = FCommand;
                const Variant filter = FFilterValue;
                const String sort = FSortText;
                Build(FConnection, run, FOpenLocation, run.CursorType, run.LockType);
                RestoreView(filter, sort);
                FCommand = command;
                FConnection->FireExecuteComplete(run.RecordsAffected, nullptr, FCommand.Get(), this);
                if (FState != adStateOpen) AdoFail(adErrProviderFailed, "running the command again gave no rows");
                if (FStore) FStore->MoveFirst();
                Landed();
            },
            [&](Error* e) { FireRecordsetChangeComplete(adRsnRequery, e); });
    });
}

ComPtr<_Recordset> TRecordsetObject::NextRecordset(Variant* RecordsAffected) {
    return Guard([&]() -> ComPtr<_Recordset> {
        if (RecordsAffected) *RecordsAffected = Variant();
        CheckOpen("Recordset.NextRecordset");
        if (IsFetching())
            AdoFail(adErrStillExecuting, "Recordset.NextRecordset: the rows of this result are still being fetched");
        std::shared_ptr<TStatement> statement = FStream ? FStream->SharedStatement() : FStatement;
        if (!statement || !FConnection) return nullptr;
        FinishEdit();
        const bool wasStream = FStream != nullptr;
        // A streaming recordset gives up its rows; a static one keeps them.
        if (wasStream) ResetOpenState();
        FStatement.reset();
        TResultStream* result = statement->NextResult();
        Int64 affected = -1;
        while (result && !result->HasRows()) {
            const Int64 a = result->GetRecordsAffected();
            if (a >= 0) affected = (affected < 0 ? 0 : affected) + a;
            result = statement->NextResult();
        }
        if (RecordsAffected) *RecordsAffected = Variant(static_cast<int>(std::clamp<Int64>(affected, -1, INT32_MAX)));
        if (!result) {
            if (affected < 0) return nullptr;
            // A last statement without rows gives a closed recordset.
            auto closed = Com::MakeComObject<TRecordsetObject>();
            return ComPtr<_Recordset>(static_cast<_Recordset*>(closed.Get()));
        }
        auto next = Com::MakeComObject<TRecordsetObject>();
        next->FCacheSize = FCacheSize;
        next->FMaxRecords = FMaxRecords;
        next->FPageSize = FPageSize;
        TExecResult run;
        run.Statement = statement;
        run.Result = result;
        run.RecordsAffected = affected;
        run.Text = statement->GetText();
        next->Build(FConnection, run, FOpenLocation, wasStream ? adOpenForwardOnly : FCursorType, FLockType);
        next->FCursorLocation = FOpenLocation;
        next->AfterOpen();
        return ComPtr<_Recordset>(static_cast<_Recordset*>(next.Get()));
    });
}

// ---- Members of later parts of the engine ------------------------------------------------------------

ComPtr<Rtl::IUnknown> TRecordsetObject::GetDataSource() {
    return Guard([&]() -> ComPtr<Rtl::IUnknown> { NotImplementedYet("Recordset.DataSource"); });
}

void TRecordsetObject::SetDataSourceRef(Rtl::IUnknown*) {
    Guard([&] { NotImplementedYet("Recordset.DataSource"); });
}

void TRecordsetObject::Cancel() {
    Guard([&] {
        // Stops the asynchronous execution that opens the recordset.
        if (FOpeningOn) {
            FOpeningOn->Cancel();
            return;
        }
        // Stops an asynchronous fetch: the rows fetched so far stay, and
        // FetchComplete reports the cancel before Cancel returns. From
        // another thread the worker stops and the owner gets the outcome.
        if (FFetch.IsRunning()) {
            if (std::this_thread::get_id() != FFetch.GetOwnerThread())
                FFetch.Interrupt();
            else
                FFetch.Cancel();
            return;
        }
        CheckOpen("Recordset.Cancel");
    });
}

// ---- Events ----------------------------------------------------------------------------------------------

TEventOutcome TRecordsetObject::FireWillMove(EventReasonEnum reason, EventStatusEnum status) {
    return FireEvent<RecordsetEventsVt>(FEvents, FGate, reWillMove, reason, status,
                                        [&](RecordsetEventsVt* s, EventStatusEnum& st) {
                                            return s->WillMove(reason, st, Self().Get());
                                        });
}

void TRecordsetObject::FireMoveComplete(EventReasonEnum reason, Error* error) {
    FireEvent<RecordsetEventsVt>(FEvents, FGate, reMoveComplete, reason, error ? adStatusErrorsOccurred : adStatusOK,
                                 [&](RecordsetEventsVt* s, EventStatusEnum& st) {
                                     return s->MoveComplete(reason, error, st, Self().Get());
                                 });
}

TEventOutcome TRecordsetObject::FireWillChangeRecord(EventReasonEnum reason, int count) {
    return FireEvent<RecordsetEventsVt>(FEvents, FGate, reWillChangeRecord, reason, adStatusOK,
                                        [&](RecordsetEventsVt* s, EventStatusEnum& st) {
                                            return s->WillChangeRecord(reason, count, st, Self().Get());
                                        });
}

void TRecordsetObject::FireRecordChangeComplete(EventReasonEnum reason, int count, Error* error) {
    FireEvent<RecordsetEventsVt>(FEvents, FGate, reRecordChangeComplete, reason,
                                 error ? adStatusErrorsOccurred : adStatusOK,
                                 [&](RecordsetEventsVt* s, EventStatusEnum& st) {
                                     return s->RecordChangeComplete(reason, count, error, st, Self().Get());
                                 });
}

TEventOutcome TRecordsetObject::FireWillChangeField(const Variant& fields, int count) {
    return FireEvent<RecordsetEventsVt>(FEvents, FGate, reWillChangeField, 0, adStatusOK,
                                        [&](RecordsetEventsVt* s, EventStatusEnum& st) {
                                            return s->WillChangeField(count, fields, st, Self().Get());
                                        });
}

void TRecordsetObject::FireFieldChangeComplete(const Variant& fields, int count, Error* error) {
    FireEvent<RecordsetEventsVt>(FEvents, FGate, reFieldChangeComplete, 0, error ? adStatusErrorsOccurred : adStatusOK,
                                 [&](RecordsetEventsVt* s, EventStatusEnum& st) {
                                     return s->FieldChangeComplete(count, fields, error, st, Self().Get());
                                 });
}

TEventOutcome TRecordsetObject::FireWillChangeRecordset(EventReasonEnum reason) {
    return FireEvent<RecordsetEventsVt>(FEvents, FGate, reWillChangeRecordset, reason, adStatusOK,
                                        [&](RecordsetEventsVt* s, EventStatusEnum& st) {
                                            return s->WillChangeRecordset(reason, st, Self().Get());
                                        });
}

void TRecordsetObject::FireRecordsetChangeComplete(EventReasonEnum reason, Error* error) {
    FireEvent<RecordsetEventsVt>(FEvents, FGate, reRecordsetChangeComplete, reason,
                                 error ? adStatusErrorsOccurred : adStatusOK,
                                 [&](RecordsetEventsVt* s, EventStatusEnum& st) {
                                     return s->RecordsetChangeComplete(reason, error, st, Self().Get());
                                 });
}

bool TRecordsetObject::FireEndOfRecordset() {
    bool more = false;
    FireEvent<RecordsetEventsVt>(FEvents, FGate, reEndOfRecordset, 0, adStatusOK,
                                 [&](RecordsetEventsVt* s, EventStatusEnum& st) {
                                     bool m = false;
                                     const auto hr = s->EndOfRecordset(m, st, Self().Get());
                                     more = more || m;
                                     return hr;
                                 });
    return more;
}

Variant TRecordsetObject::FieldArray(const std::vector<std::size_t>& columns) {
    std::vector<Variant> items;
    for (std::size_t c : columns)
        items.push_back(Com::VarFromInterface(static_cast<Com::IDispatch*>(static_cast<Field*>(FFields->FieldAt(c)))));
    return Rtl::VarArrayOf(items);
}

Com::HRESULT TRecordsetObject::EnumConnectionPoints(std::vector<ComPtr<Com::IConnectionPoint>>& points) {
    return FPoints.EnumConnectionPoints(points);
}

Com::HRESULT TRecordsetObject::FindConnectionPoint(const Com::IID& iid, Com::IConnectionPoint** point) {
    return FPoints.FindConnectionPoint(iid == DIID_RecordsetEvents ? IID_RecordsetEventsVt : iid, point);
}

}  // namespace DataEngine::Ado
