#include "Velora/Adods/Database.h"

#include <algorithm>
#include <exception>

#include "Platform/com/ConnectionPoints.h"
#include "Platform/vcl/Forms.h"
#include "Velora/com/DataLinks.h"

namespace Velora {

using Rtl::Utf8ToWide;
using Rtl::WideToUtf8;

// ---- Mappings --------------------------------------------------------------------------------

namespace {

constexpr ConnectModeEnum ModeValues[] = {adModeUnknown,       adModeRead,           adModeWrite,
                                          adModeReadWrite,     adModeShareDenyRead,  adModeShareDenyWrite,
                                          adModeShareExclusive, adModeShareDenyNone};

constexpr IsolationLevelEnum IsolationValues[] = {
    adXactUnspecified,     adXactChaos,           adXactReadUncommitted, adXactBrowse,        adXactCursorStability,
    adXactReadCommitted,   adXactRepeatableRead,  adXactSerializable,    adXactIsolated};

}  // namespace

ConnectModeEnum ConnectionModeToADO(TConnectionMode Value) noexcept {
    return Value <= cmShareDenyNone ? ModeValues[Value] : adModeUnknown;
}

TConnectionMode ConnectionModeFromADO(int Value) noexcept {
    for (int i = 0; i <= cmShareDenyNone; ++i)
        if (ModeValues[i] == Value) return static_cast<TConnectionMode>(i);
    return cmUnknown;
}

IsolationLevelEnum TransIsolationToADO(TTransIsolation Value) noexcept {
    return Value <= tiIsolated ? IsolationValues[Value] : adXactUnspecified;
}

TTransIsolation TransIsolationFromADO(int Value, TTransIsolation Stored) noexcept {
    switch (Value) {
        case adXactChaos: return tiChaos;
        case adXactReadUncommitted: return Stored == tiBrowse ? tiBrowse : tiReadUncommitted;
        case adXactCursorStability: return Stored == tiReadCommitted ? tiReadCommitted : tiCursorStability;
        case adXactRepeatableRead: return tiRepeatableRead;
        case adXactSerializable: return Stored == tiIsolated ? tiIsolated : tiSerializable;
        default: return tiUnspecified;
    }
}

int ConnectionAttributesToADO(TConnectionAttributes Value) noexcept {
    int r = 0;
    if (Value.Contains(caTransCommitRetaining)) r += adXactCommitRetaining;
    if (Value.Contains(caTransAbortRetaining)) r += adXactAbortRetaining;
    return r;
}

TConnectionAttributes ConnectionAttributesFromADO(int Value) noexcept {
    TConnectionAttributes r;
    if (Value & adXactCommitRetaining) r.Include(caTransCommitRetaining);
    if (Value & adXactAbortRetaining) r.Include(caTransAbortRetaining);
    return r;
}

// ---- TADOConnectionEvent --------------------------------------------------------------------------

template <class F>
Rtl::HRESULT TADOConnectionEvent::Forward(EventStatusEnum& adStatus, F&& call) {
    if (!FDatabase) {
        adStatus = adStatusUnwantedEvent;
        return Com::S_OK;
    }
    try {
        call(*FDatabase);
    } catch (...) {
        Vcl::Application->HandleException(FDatabase);
    }
    return Com::S_OK;
}

Rtl::HRESULT TADOConnectionEvent::InfoMessage(Error* pError, EventStatusEnum& adStatus, _Connection*) {
    return Forward(adStatus, [&](TADODatabase& db) { db.DoADOInfoMessage(pError, adStatus); });
}

Rtl::HRESULT TADOConnectionEvent::BeginTransComplete(int TransactionLevel, Error* pError, EventStatusEnum& adStatus,
                                                     _Connection*) {
    return Forward(adStatus,
                   [&](TADODatabase& db) { db.DoADOBeginTransComplete(TransactionLevel, pError, adStatus); });
}

Rtl::HRESULT TADOConnectionEvent::CommitTransComplete(Error* pError, EventStatusEnum& adStatus, _Connection*) {
    return Forward(adStatus, [&](TADODatabase& db) { db.DoADOCommitTransComplete(pError, adStatus); });
}

Rtl::HRESULT TADOConnectionEvent::RollbackTransComplete(Error* pError, EventStatusEnum& adStatus, _Connection*) {
    return Forward(adStatus, [&](TADODatabase& db) { db.DoADORollbackTransComplete(pError, adStatus); });
}

Rtl::HRESULT TADOConnectionEvent::WillExecute(WideString& Source, CursorTypeEnum& CursorType, LockTypeEnum& LockType,
                                              int& Options, EventStatusEnum& adStatus, _Command* pCommand,
                                              _Recordset* pRecordset, _Connection*) {
    return Forward(adStatus, [&](TADODatabase& db) {
        db.DoADOWillExecute(Source, CursorType, LockType, Options, adStatus, pCommand, pRecordset);
    });
}

Rtl::HRESULT TADOConnectionEvent::ExecuteComplete(int RecordsAffected, Error* pError, EventStatusEnum& adStatus,
                                                  _Command* pCommand, _Recordset* pRecordset, _Connection*) {
    return Forward(adStatus, [&](TADODatabase& db) {
        db.DoADOExecuteComplete(RecordsAffected, pError, adStatus, pCommand, pRecordset);
    });
}

Rtl::HRESULT TADOConnectionEvent::WillConnect(WideString& ConnectionString, WideString& UserID, WideString& Password,
                                              int& Options, EventStatusEnum& adStatus, _Connection*) {
    return Forward(adStatus, [&](TADODatabase& db) {
        db.DoADOWillConnect(ConnectionString, UserID, Password, Options, adStatus);
    });
}

Rtl::HRESULT TADOConnectionEvent::ConnectComplete(Error* pError, EventStatusEnum& adStatus, _Connection*) {
    return Forward(adStatus, [&](TADODatabase& db) { db.DoADOConnectComplete(pError, adStatus); });
}

Rtl::HRESULT TADOConnectionEvent::Disconnect(EventStatusEnum& adStatus, _Connection*) {
    return Forward(adStatus, [&](TADODatabase& db) { db.DoADODisconnect(adStatus); });
}

// ---- TADODatabase: published surface ----------------------------------------------------------

VCL_COMPONENT_IMPL(TADODatabase, Vcl::TComponent) {
    Prop("About", &TADODatabase::GetAbout, &TADODatabase::SetAbout).Stored(false);
    Prop("ADOVersion", &TADODatabase::GetADOVersion, &TADODatabase::SetADOVersion).Stored(false);
    Prop("CommandTimeout", &TADODatabase::GetCommandTimeout, &TADODatabase::SetCommandTimeout).Default(30);
    Prop("Connected", &TADODatabase::GetConnected, &TADODatabase::SetConnected).Default(false);
    Prop("ConnectionAttributes", &TADODatabase::GetConnectionAttributes, &TADODatabase::SetConnectionAttributes)
        .Default(TConnectionAttributes());
    Prop("ConnectionMode", &TADODatabase::GetConnectionMode, &TADODatabase::SetConnectionMode).Default(cmReadWrite);
    Prop("ConnectionTimeout", &TADODatabase::GetConnectionTimeout, &TADODatabase::SetConnectionTimeout).Default(15);
    Prop("DatabaseConnect", &TADODatabase::GetDatabaseConnect, &TADODatabase::SetDatabaseConnect);
    Prop("DatabaseProvider", &TADODatabase::GetDatabaseProvider, &TADODatabase::SetDatabaseProvider);
    Prop("ConnectionOptions", &TADODatabase::GetConnectionOptions, &TADODatabase::SetConnectionOptions)
        .Default(TConnectionOptions());
    Prop("Password", &TADODatabase::GetPassword, &TADODatabase::SetPassword);
    Prop("Properties", &TADODatabase::GetProperties, &TADODatabase::SetProperties).Stored(false);
    Prop("TransIsolation", &TADODatabase::GetTransIsolation, &TADODatabase::SetTransIsolation)
        .Default(tiCursorStability);
    Prop("UseADOVersion", &TADODatabase::GetUseADOVersion, &TADODatabase::SetUseADOVersion);
    Prop("UserName", &TADODatabase::GetUserName, &TADODatabase::SetUserName);
    Event("OnLogin", &TADODatabase::GetOnLogin, &TADODatabase::SetOnLogin, "Velora::TLoginEvent");
    Event("ADOInfoMessage", &TADODatabase::GetADOInfoMessage, &TADODatabase::SetADOInfoMessage,
          "Velora::TInfoMessageEvent");
    Event("ADOBeginTransComplete", &TADODatabase::GetADOBeginTransComplete, &TADODatabase::SetADOBeginTransComplete,
          "Velora::TBeginTransCompleteEvent");
    Event("ADOCommitTransComplete", &TADODatabase::GetADOCommitTransComplete,
          &TADODatabase::SetADOCommitTransComplete, "Velora::TCommitTransCompleteEvent");
    Event("ADORollbackTransComplete", &TADODatabase::GetADORollbackTransComplete,
          &TADODatabase::SetADORollbackTransComplete, "Velora::TRollbackTransCompleteEvent");
    Event("ADOWillExecute", &TADODatabase::GetADOWillExecute, &TADODatabase::SetADOWillExecute,
          "Velora::TWillExecuteEvent");
    Event("ADOExecuteComplete", &TADODatabase::GetADOExecuteComplete, &TADODatabase::SetADOExecuteComplete,
          "Velora::TExecuteCompleteEvent");
    Event("ADOWillConnect", &TADODatabase::GetADOWillConnect, &TADODatabase::SetADOWillConnect,
          "Velora::TWillConnectEvent");
    Event("ADOConnectComplete", &TADODatabase::GetADOConnectComplete, &TADODatabase::SetADOConnectComplete,
          "Velora::TConnectCompleteEvent");
    Event("ADODisconnect", &TADODatabase::GetADODisconnect, &TADODatabase::SetADODisconnect,
          "Velora::TDisconnectEvent");
}

namespace {
[[maybe_unused]] const bool kClassRegistered = (Vcl::RegisterClass<TADODatabase>(), true);
}

// ---- Lifetime -------------------------------------------------------------------------------------

TADODatabase::TADODatabase(Vcl::TComponent* AOwner) : TComponent(AOwner) {}

void TADODatabase::BeforeDestruction() {
    TComponent::BeforeDestruction();
    try {
        Close();
    } catch (...) {
        // Going away regardless: the destructor drops what is left.
    }
}

TADODatabase::~TADODatabase() {
    // A database destroyed without `delete` (on the stack, as a member) has not
    // been through BeforeDestruction.
    try {
        Close();
    } catch (...) {
    }
    FDataSets.clear();
    FExternalConnection = nullptr;
    try {
        SetHandle(nullptr);
    } catch (...) {
    }
}

void TADODatabase::Notification(Vcl::TComponent* AComponent, Vcl::TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    // Only pointers are compared: the component going away may be half destroyed.
    if (Operation == Vcl::opRemove)
        FDataSets.erase(std::remove_if(FDataSets.begin(), FDataSets.end(),
                                       [&](Db::TDataSet* d) { return static_cast<Vcl::TComponent*>(d) == AComponent; }),
                        FDataSets.end());
}

void TADODatabase::Loaded() {
    TComponent::Loaded();
    try {
        if (FStreamedConnected) SetConnected(true);
    } catch (...) {
        // In the designer the form still loads; at run time the failure is the caller's.
        if (GetComponentState().Contains(Vcl::csDesigning)) Vcl::Application->HandleException(this);
        else throw;
    }
}

// ---- Connecting -------------------------------------------------------------------------------------

void TADODatabase::Login() {
    if (FOnLogin) FOnLogin(this);
}

void TADODatabase::Open() {
    if (GetConnected() || StillConnecting()) return;
    Login();
    if (FExternalConnection) {
        FExternal = true;
        SetHandle(FExternalConnection);
        return;
    }
    FExternal = false;
    SetHandle(CreateADOConnection(FUseADOVersion));
    if (!FDatabaseProvider.empty()) FHandle->SetProvider(Utf8ToWide(FDatabaseProvider));
    FHandle->SetIsolationLevel(TransIsolationToADO(FTransIsolation));
    FHandle->SetMode(ConnectionModeToADO(FConnectionMode));
    FHandle->SetCommandTimeout(FCommandTimeout);
    FHandle->SetConnectionTimeout(FConnectionTimeout);
    FHandle->SetAttributes(ConnectionAttributesToADO(FConnectionAttributes));
    FHandle->Open(Utf8ToWide(FDatabaseConnect), Utf8ToWide(FUserName), Utf8ToWide(FPassword),
                  FConnectionOptions.Contains(coAsyncConnect) ? adAsyncConnect : adConnectUnspecified);
}

void TADODatabase::Close() {
    if (!FHandle) return;
    CloseDataSets();
    ShutDown();
}

void TADODatabase::ShutDown() {
    std::exception_ptr failure;
    auto note = [&] {
        if (!failure) failure = std::current_exception();
    };
    // No rollback below may start a new transaction.
    try {
        FHandle->SetAttributes(0);
    } catch (...) {
        note();
    }
    // A level that cannot be rolled back (the data source went away) ends the
    // loop: closing the connection discards the rest.
    try {
        while (InTransaction()) Rollback();
    } catch (...) {
        note();
    }
    try {
        // A supplied connection stays as the application left it.
        if (!FExternal) {
            if (FHandle->GetState() & adStateConnecting)
                if (auto connection = FHandle.TryAs<_Connection>()) connection->Cancel();
            if (FHandle->GetState() & adStateOpen) FHandle->Close();
        }
    } catch (...) {
        note();
    }
    // The component ends closed whatever failed; the first failure is still reported.
    SetHandle(nullptr);
    FTransactionLevel = 0;
    if (failure) std::rethrow_exception(failure);
}

void TADODatabase::CheckActive() {
    if (!GetConnected()) Db::DatabaseError(Db::SDatabaseClosed, this);
}

void TADODatabase::CloseDataSets() {
    // Each dataset removes itself from the list as it closes.
    for (int i = static_cast<int>(FDataSets.size()) - 1; i >= 0; --i)
        if (i < static_cast<int>(FDataSets.size())) FDataSets[i]->Close();
    FDataSets.clear();
}

bool TADODatabase::AnyADOEventAssigned() const noexcept {
    return FADOInfoMessage || FADOBeginTransComplete || FADOCommitTransComplete || FADORollbackTransComplete ||
           FADOWillExecute || FADOExecuteComplete || FADOWillConnect || FADOConnectComplete || FADODisconnect;
}

void TADODatabase::SetHandle(ComPtr<Connection15> Value) {
    if (FHandle && FConnEventsID != 0) Com::InterfaceDisconnect(FHandle.Get(), DIID_ConnectionEvents, FConnEventsID);
    FConnEventsID = 0;
    if (FSink) {
        // Should the old connection still hold it, it no longer reaches this component.
        FSink->Detach();
        FSink = nullptr;
    }
    FHandle = std::move(Value);
    if (!FHandle || !AnyADOEventAssigned()) return;
    FSink = Com::MakeComObject<TADOConnectionEvent>(this);
    Com::InterfaceConnect(FHandle.Get(), DIID_ConnectionEvents, static_cast<ConnectionEventsVt*>(FSink.Get()),
                          FConnEventsID);
}

bool TADODatabase::SelectConnection() {
    const ComPtr<Connection15> scratch = CreateADOConnection(FUseADOVersion);
    scratch->SetConnectionString(Utf8ToWide(FDatabaseConnect));
    if (!FDatabaseProvider.empty()) {
        const WideString current = scratch->GetConnectionString();
        if (WideToUtf8(current).find("Provider") == String::npos)
            scratch->SetConnectionString(Utf8ToWide("Provider=" + FDatabaseProvider + ";") + current);
    }
    ComPtr<Com::IDispatch> connection = scratch;
    if (!CoDataLinks::Create()->PromptEdit(connection)) return false;
    // The dialog may hand back another connection object; read the one it answered.
    ComPtr<Connection15> edited = connection ? connection.TryAs<Connection15>() : nullptr;
    if (!edited) edited = scratch;
    SetDatabaseProvider(WideToUtf8(edited->GetProvider()));
    SetDatabaseConnect(WideToUtf8(edited->GetConnectionString()));
    return true;
}

// ---- State ---------------------------------------------------------------------------------------

int TADODatabase::GetState() { return FHandle ? FHandle->GetState() : adStateClosed; }

bool TADODatabase::GetConnected() { return FHandle && (GetState() & adStateOpen) != 0; }

void TADODatabase::SetConnected(bool Value) {
    if (GetComponentState().Contains(Vcl::csReading)) {
        FStreamedConnected = Value;
        return;
    }
    if (Value) Open();
    else Close();
}

bool TADODatabase::StillConnecting() { return FHandle && (GetState() & adStateConnecting) != 0; }

bool TADODatabase::StillExecuting() { return FHandle && (GetState() & adStateExecuting) != 0; }

void TADODatabase::CancelAsync() {
    // An asynchronous connect is cancelled too, although the component is not connected yet.
    if (!StillConnecting()) CheckActive();
    const auto connection = FHandle.TryAs<_Connection>();
    if (!connection)
        throw Com::EOleSysError("The connection's interface generation (ADO 1.5) has no Cancel", Com::E_NOINTERFACE);
    connection->Cancel();
}

ComPtr<Errors> TADODatabase::GetErrors() {
    CheckActive();
    return FHandle->GetErrors();
}

bool TADODatabase::IsActive() { return FHandle && (GetState() & (adStateOpen | adStateConnecting)) != 0; }

void TADODatabase::CloseIfActive() {
    if (IsActive()) Close();
}

bool TADODatabase::ReadsLive() {
    if (GetComponentState().Contains(Vcl::csWriting)) return false;
    try {
        return GetConnected();
    } catch (...) {
        return false;
    }
}

// ---- Transactions --------------------------------------------------------------------------------

int TADODatabase::StartTransaction() {
    CheckActive();
    FTransactionLevel = FHandle->BeginTrans();
    return FTransactionLevel;
}

void TADODatabase::Commit() {
    CheckActive();
    FHandle->CommitTrans();
    // With commit-retaining ADO has begun the next transaction: the level stays.
    if (FTransactionLevel > 0 && !(FHandle->GetAttributes() & adXactCommitRetaining)) --FTransactionLevel;
}

void TADODatabase::Rollback() {
    CheckActive();
    FHandle->RollbackTrans();
    if (FTransactionLevel >= 1 && !(FHandle->GetAttributes() & adXactAbortRetaining)) --FTransactionLevel;
}

void TADODatabase::ExecSQL(const String& SQL) {
    CheckActive();
    int options = int{adCmdText} | int{adExecuteNoRecords};
    const bool async = FConnectionOptions.Contains(coAsyncExecute);
    if (async) options |= adAsyncExecute;
    // The count is discarded; an asynchronous execution finishes after this
    // returns, so it gets no place to write one into.
    Variant recordsAffected;
    FHandle->Execute(Utf8ToWide(SQL), async ? nullptr : &recordsAffected, options);
}

// ---- The dataset list ----------------------------------------------------------------------------

Db::TDataSet* TADODatabase::GetDataSet(int Index) const {
    if (Index < 0 || Index >= GetDataSetCount())
        throw Rtl::EListError(Rtl::Format("List index out of bounds (%d)", {Index}));
    return FDataSets[Index];
}

void TADODatabase::AddDataSet(Db::TDataSet* DataSet) {
    if (!DataSet || std::find(FDataSets.begin(), FDataSets.end(), DataSet) != FDataSets.end()) return;
    FDataSets.push_back(DataSet);
    // Heard of when it goes away, should it not remove itself first.
    FreeNotification(DataSet);
}

void TADODatabase::RemoveDataSet(Db::TDataSet* DataSet) noexcept {
    FDataSets.erase(std::remove(FDataSets.begin(), FDataSets.end(), DataSet), FDataSets.end());
}

// ---- Properties -------------------------------------------------------------------------------------

namespace {
// A live value, or the stored one when ADO cannot give it.
template <class T, class F>
T LiveOr(bool live, T stored, F&& read) {
    if (!live) return stored;
    try {
        return read();
    } catch (...) {
        return stored;
    }
}
}  // namespace

String TADODatabase::GetAbout() const { return VeloraAboutBanner; }

String TADODatabase::GetADOVersion() {
    return LiveOr<String>(ReadsLive(), String(), [&] { return WideToUtf8(FHandle->GetVersion()); });
}

int TADODatabase::GetCommandTimeout() {
    return LiveOr(ReadsLive(), FCommandTimeout, [&] { return FHandle->GetCommandTimeout(); });
}

void TADODatabase::SetCommandTimeout(int Value) {
    FCommandTimeout = Value;
    if (GetConnected()) FHandle->SetCommandTimeout(Value);
}

TConnectionAttributes TADODatabase::GetConnectionAttributes() {
    return LiveOr(ReadsLive(), FConnectionAttributes,
                  [&] { return ConnectionAttributesFromADO(FHandle->GetAttributes()); });
}

void TADODatabase::SetConnectionAttributes(TConnectionAttributes Value) {
    FConnectionAttributes = Value;
    if (FHandle) FHandle->SetAttributes(ConnectionAttributesToADO(Value));
}

TConnectionMode TADODatabase::GetConnectionMode() {
    return LiveOr(ReadsLive(), FConnectionMode, [&] { return ConnectionModeFromADO(FHandle->GetMode()); });
}

void TADODatabase::SetConnectionMode(TConnectionMode Value) {
    CloseIfActive();
    FConnectionMode = Value;
}

int TADODatabase::GetConnectionTimeout() {
    return LiveOr(ReadsLive(), FConnectionTimeout, [&] { return FHandle->GetConnectionTimeout(); });
}

void TADODatabase::SetConnectionTimeout(int Value) {
    CloseIfActive();
    FConnectionTimeout = Value;
}

String TADODatabase::GetDatabaseConnect() {
    return LiveOr(ReadsLive(), FDatabaseConnect, [&] { return WideToUtf8(FHandle->GetConnectionString()); });
}

void TADODatabase::SetDatabaseConnect(const String& Value) {
    if (GetComponentState().Contains(Vcl::csReading)) {
        FDatabaseConnect = Value;
        return;
    }
    if (Value == FDatabaseConnect) return;
    CloseIfActive();
    FDatabaseConnect = Value;
}

String TADODatabase::GetDatabaseProvider() {
    return LiveOr(ReadsLive(), FDatabaseProvider, [&] { return WideToUtf8(FHandle->GetProvider()); });
}

void TADODatabase::SetDatabaseProvider(const String& Value) {
    CloseIfActive();
    FDatabaseProvider = Value;
}

void TADODatabase::SetConnectionOptions(TConnectionOptions Value) {
    CloseIfActive();
    FConnectionOptions = Value;
}

void TADODatabase::SetPassword(const String& Value) {
    CloseIfActive();
    FPassword = Value;
}

TTransIsolation TADODatabase::GetTransIsolation() {
    return LiveOr(ReadsLive(), FTransIsolation,
                  [&] { return TransIsolationFromADO(FHandle->GetIsolationLevel(), FTransIsolation); });
}

void TADODatabase::SetTransIsolation(TTransIsolation Value) {
    FTransIsolation = Value;
    if (FHandle) FHandle->SetIsolationLevel(TransIsolationToADO(Value));
}

void TADODatabase::SetUseADOVersion(TADOVersion Value) {
    CloseIfActive();
    FUseADOVersion = Value;
}

void TADODatabase::SetUserName(const String& Value) {
    CloseIfActive();
    FUserName = Value;
}

// ---- Event dispatch -----------------------------------------------------------------------------------

void TADODatabase::DoADOInfoMessage(Error* Error, EventStatusEnum& Status) {
    if (FADOInfoMessage) FADOInfoMessage(this, Error, Status);
    else Status = adStatusUnwantedEvent;
}

void TADODatabase::DoADOBeginTransComplete(int TransactionLevel, Error* Error, EventStatusEnum& Status) {
    if (FADOBeginTransComplete) FADOBeginTransComplete(this, TransactionLevel, Error, Status);
    else Status = adStatusUnwantedEvent;
}

void TADODatabase::DoADOCommitTransComplete(Error* Error, EventStatusEnum& Status) {
    if (FADOCommitTransComplete) FADOCommitTransComplete(this, Error, Status);
    else Status = adStatusUnwantedEvent;
}

void TADODatabase::DoADORollbackTransComplete(Error* Error, EventStatusEnum& Status) {
    if (FADORollbackTransComplete) FADORollbackTransComplete(this, Error, Status);
    else Status = adStatusUnwantedEvent;
}

void TADODatabase::DoADOWillExecute(WideString& Source, CursorTypeEnum& CursorType, LockTypeEnum& LockType,
                                    int& Options, EventStatusEnum& Status, _Command* Command, _Recordset* Recordset) {
    if (FADOWillExecute) FADOWillExecute(this, Source, CursorType, LockType, Options, Status, Command, Recordset);
    else Status = adStatusUnwantedEvent;
}

void TADODatabase::DoADOExecuteComplete(int RecordsAffected, Error* Error, EventStatusEnum& Status,
                                        _Command* Command, _Recordset* Recordset) {
    if (FADOExecuteComplete) FADOExecuteComplete(this, RecordsAffected, Error, Status, Command, Recordset);
    else Status = adStatusUnwantedEvent;
}

void TADODatabase::DoADOWillConnect(WideString& ConnectionString, WideString& UserID, WideString& Password,
                                    int& Options, EventStatusEnum& Status) {
    if (FADOWillConnect) FADOWillConnect(this, ConnectionString, UserID, Password, Options, Status);
    else Status = adStatusUnwantedEvent;
}

void TADODatabase::DoADOConnectComplete(Error* Error, EventStatusEnum& Status) {
    if (FADOConnectComplete) FADOConnectComplete(this, Error, Status);
    else Status = adStatusUnwantedEvent;
}

void TADODatabase::DoADODisconnect(EventStatusEnum& Status) {
    if (FADODisconnect) FADODisconnect(this, Status);
    else Status = adStatusUnwantedEvent;
}

}  // namespace Velora
