// TADODatabase: the component that owns one ADO connection for the datasets.
//
// While closed it keeps the connection settings as published properties; Open
// creates an ADO connection of the requested interface generation, pushes the
// settings into it and connects. While connected, the getters with a live
// source read ADO (falling back to the stored value when that fails, and
// always answering stored values while the component is written to a form
// file). Transactions are counted as ADO reports their level, SQL that
// returns no rows runs through ExecSQL, and closing closes the datasets of the
// dataset list (last first) before the connection.
//
// ADO's connection events reach the nine ADO... event properties through a
// TADOConnectionEvent sink. The sink is advised when the connection is set up,
// and only when at least one of those events has a handler at that moment;
// an event without a handler answers adStatusUnwantedEvent, so ADO stops
// raising it for this connection. Handlers assigned later take effect at the
// next Open.
//
// The connection handle is the interface of the generation UseADOVersion
// asks for (Connection15 for avADO15, _Connection otherwise), typed as
// Connection15; the one member only _Connection has, Cancel, is reached by
// query.
#pragma once

#include <vector>

#include "Platform/db/DB.h"
#include "Velora/Adods/AdoUtils.h"

namespace Velora {

VCL_DECLARE_ENUM(TConnectionMode, Byte, cmUnknown, cmRead, cmWrite, cmReadWrite, cmShareDenyRead, cmShareDenyWrite,
                 cmShareExclusive, cmShareDenyNone)
VCL_DECLARE_ENUM(TTransIsolation, Byte, tiUnspecified, tiChaos, tiReadUncommitted, tiBrowse, tiCursorStability,
                 tiReadCommitted, tiRepeatableRead, tiSerializable, tiIsolated)
VCL_DECLARE_ENUM(TConnectionAttribute, Byte, caTransCommitRetaining, caTransAbortRetaining)
using TConnectionAttributes = Rtl::TSet<TConnectionAttribute>;
VCL_SET(TConnectionAttributes)
VCL_DECLARE_ENUM(TConnectionOption, Byte, coAsyncConnect, coAsyncExecute)
using TConnectionOptions = Rtl::TSet<TConnectionOption>;
VCL_SET(TConnectionOptions)

// The mappings between the component's enumerations and ADO's values.
ConnectModeEnum ConnectionModeToADO(TConnectionMode Value) noexcept;
// An unrecognised mode reads as cmUnknown.
TConnectionMode ConnectionModeFromADO(int Value) noexcept;
IsolationLevelEnum TransIsolationToADO(TTransIsolation Value) noexcept;
// ADO gives one value for tiReadUncommitted and tiBrowse, tiCursorStability
// and tiReadCommitted, tiSerializable and tiIsolated: the stored value tells
// which was meant. Any value not listed reads as tiUnspecified.
TTransIsolation TransIsolationFromADO(int Value, TTransIsolation Stored) noexcept;
int ConnectionAttributesToADO(TConnectionAttributes Value) noexcept;
TConnectionAttributes ConnectionAttributesFromADO(int Value) noexcept;

class TADODatabase;

using TLoginEvent = std::function<void(TADODatabase* Database)>;
using TInfoMessageEvent = std::function<void(TADODatabase* Database, Error* Error, EventStatusEnum& Status)>;
using TBeginTransCompleteEvent =
    std::function<void(TADODatabase* Database, int TransactionLevel, Error* Error, EventStatusEnum& Status)>;
using TCommitTransCompleteEvent = std::function<void(TADODatabase* Database, Error* Error, EventStatusEnum& Status)>;
using TRollbackTransCompleteEvent =
    std::function<void(TADODatabase* Database, Error* Error, EventStatusEnum& Status)>;
using TWillExecuteEvent =
    std::function<void(TADODatabase* Database, WideString& Source, CursorTypeEnum& CursorType, LockTypeEnum& LockType,
                       int& Options, EventStatusEnum& Status, _Command* Command, _Recordset* Recordset)>;
using TExecuteCompleteEvent =
    std::function<void(TADODatabase* Database, int RecordsAffected, Error* Error, EventStatusEnum& Status,
                       _Command* Command, _Recordset* Recordset)>;
using TWillConnectEvent =
    std::function<void(TADODatabase* Database, WideString& ConnectionString, WideString& UserID,
                       WideString& Password, int& Options, EventStatusEnum& Status)>;
using TConnectCompleteEvent = std::function<void(TADODatabase* Database, Error* Error, EventStatusEnum& Status)>;
using TDisconnectEvent = std::function<void(TADODatabase* Database, EventStatusEnum& Status)>;

// The sink advised on a connection's ConnectionEvents point. It holds a plain
// pointer back to its database, which detaches it before going away; each
// method forwards its arguments (all but the connection) to the database's
// DoADO... method and answers success.
class TADOConnectionEvent : public Com::TImplements<Com::TInterfacedObject, ConnectionEventsVt> {
public:
    explicit TADOConnectionEvent(TADODatabase* Database) noexcept : FDatabase(Database) {}
    // After this the sink forwards nothing (and answers adStatusUnwantedEvent).
    void Detach() noexcept { FDatabase = nullptr; }
    TADODatabase* GetDatabase() const noexcept { return FDatabase; }

    Rtl::HRESULT InfoMessage(Error* pError, EventStatusEnum& adStatus, _Connection* pConnection) override;
    Rtl::HRESULT BeginTransComplete(int TransactionLevel, Error* pError, EventStatusEnum& adStatus,
                                    _Connection* pConnection) override;
    Rtl::HRESULT CommitTransComplete(Error* pError, EventStatusEnum& adStatus, _Connection* pConnection) override;
    Rtl::HRESULT RollbackTransComplete(Error* pError, EventStatusEnum& adStatus, _Connection* pConnection) override;
    Rtl::HRESULT WillExecute(WideString& Source, CursorTypeEnum& CursorType, LockTypeEnum& LockType, int& Options,
                             EventStatusEnum& adStatus, _Command* pCommand, _Recordset* pRecordset,
                             _Connection* pConnection) override;
    Rtl::HRESULT ExecuteComplete(int RecordsAffected, Error* pError, EventStatusEnum& adStatus, _Command* pCommand,
                                 _Recordset* pRecordset, _Connection* pConnection) override;
    Rtl::HRESULT WillConnect(WideString& ConnectionString, WideString& UserID, WideString& Password, int& Options,
                             EventStatusEnum& adStatus, _Connection* pConnection) override;
    Rtl::HRESULT ConnectComplete(Error* pError, EventStatusEnum& adStatus, _Connection* pConnection) override;
    Rtl::HRESULT Disconnect(EventStatusEnum& adStatus, _Connection* pConnection) override;

private:
    // Runs one forward; a handler's exception goes to the application's
    // exception display, since nothing can raise through an ADO event.
    template <class F>
    Rtl::HRESULT Forward(EventStatusEnum& adStatus, F&& call);

    TADODatabase* FDatabase;
};

class TADODatabase : public Vcl::TComponent {
    VCL_CLASS(TADODatabase, Vcl::TComponent)
    friend class TADOConnectionEvent;

public:
    explicit TADODatabase(Vcl::TComponent* AOwner);
    ~TADODatabase() override;
    // `delete` closes the connection here, while the component is still whole.
    void BeforeDestruction() override;

    // ---- Connecting ----------------------------------------------------------------------
    void Open();
    void Close();
    // EDatabaseError "Cannot perform this operation on a closed database" unless connected.
    void CheckActive();
    // Closes the datasets of the dataset list, last first, and empties it.
    void CloseDataSets();
    // Fires OnLogin when assigned.
    void Login();
    // The prompt of the Data Links dialog over DatabaseConnect and
    // DatabaseProvider; true when the user confirmed (both are then updated).
    bool SelectConnection();

    // ---- State ---------------------------------------------------------------------------
    // The connection's State (ObjectStateEnum bits); adStateClosed without a handle.
    int GetState();
    bool GetConnected();
    void SetConnected(bool Value);
    bool StillConnecting();
    bool StillExecuting();
    // Stops an asynchronous connect or execute of the connection.
    void CancelAsync();
    // The connection's Errors (connected only).
    ComPtr<Errors> GetErrors();

    // ---- Transactions ----------------------------------------------------------------------
    // Begins a transaction and answers the nesting level ADO reports.
    int StartTransaction();
    void Commit();
    void Rollback();
    bool InTransaction() const noexcept { return FTransactionLevel > 0; }
    int GetTransactionLevel() const noexcept { return FTransactionLevel; }

    // Runs SQL that returns no rows (asynchronously with coAsyncExecute).
    void ExecSQL(const String& SQL);

    // ---- The connection ------------------------------------------------------------------------
    const ComPtr<Connection15>& GetHandle() const noexcept { return FHandle; }
    // Takes Value as the connection in use, moving the event sink to it.
    void SetHandle(ComPtr<Connection15> Value);
    // A connection the application supplies; Open then uses it as it is.
    const ComPtr<_Connection>& GetExternalConnection() const noexcept { return FExternalConnection; }
    void SetExternalConnection(ComPtr<_Connection> Value) { FExternalConnection = std::move(Value); }

    // ---- The dataset list ----------------------------------------------------------------------
    // Datasets whose cursor is open on this connection: a dataset adds itself
    // when its cursor opens and removes itself when it closes.
    Db::TDataSet* GetDataSet(int Index) const;
    int GetDataSetCount() const noexcept { return static_cast<int>(FDataSets.size()); }
    void AddDataSet(Db::TDataSet* DataSet);
    void RemoveDataSet(Db::TDataSet* DataSet) noexcept;

    // ---- Published properties ---------------------------------------------------------------------
    String GetAbout() const;
    void SetAbout(const String&) {}
    String GetADOVersion();
    void SetADOVersion(const String&) {}
    int GetCommandTimeout();
    void SetCommandTimeout(int Value);
    TConnectionAttributes GetConnectionAttributes();
    void SetConnectionAttributes(TConnectionAttributes Value);
    TConnectionMode GetConnectionMode();
    void SetConnectionMode(TConnectionMode Value);
    int GetConnectionTimeout();
    void SetConnectionTimeout(int Value);
    String GetDatabaseConnect();
    void SetDatabaseConnect(const String& Value);
    String GetDatabaseProvider();
    void SetDatabaseProvider(const String& Value);
    TConnectionOptions GetConnectionOptions() const noexcept { return FConnectionOptions; }
    void SetConnectionOptions(TConnectionOptions Value);
    const String& GetPassword() const noexcept { return FPassword; }
    void SetPassword(const String& Value);
    // A hook for the design-time property viewer: always empty.
    String GetProperties() const { return {}; }
    void SetProperties(const String&) {}
    TTransIsolation GetTransIsolation();
    void SetTransIsolation(TTransIsolation Value);
    TADOVersion GetUseADOVersion() const noexcept { return FUseADOVersion; }
    void SetUseADOVersion(TADOVersion Value);
    const String& GetUserName() const noexcept { return FUserName; }
    void SetUserName(const String& Value);

    // ---- Events ----------------------------------------------------------------------------------
    const TLoginEvent& GetOnLogin() const noexcept { return FOnLogin; }
    void SetOnLogin(TLoginEvent Value) { FOnLogin = std::move(Value); }
    const TInfoMessageEvent& GetADOInfoMessage() const noexcept { return FADOInfoMessage; }
    void SetADOInfoMessage(TInfoMessageEvent Value) { FADOInfoMessage = std::move(Value); }
    const TBeginTransCompleteEvent& GetADOBeginTransComplete() const noexcept { return FADOBeginTransComplete; }
    void SetADOBeginTransComplete(TBeginTransCompleteEvent Value) { FADOBeginTransComplete = std::move(Value); }
    const TCommitTransCompleteEvent& GetADOCommitTransComplete() const noexcept { return FADOCommitTransComplete; }
    void SetADOCommitTransComplete(TCommitTransCompleteEvent Value) { FADOCommitTransComplete = std::move(Value); }
    const TRollbackTransCompleteEvent& GetADORollbackTransComplete() const noexcept {
        return FADORollbackTransComplete;
    }
    void SetADORollbackTransComplete(TRollbackTransCompleteEvent Value) {
        FADORollbackTransComplete = std::move(Value);
    }
    const TWillExecuteEvent& GetADOWillExecute() const noexcept { return FADOWillExecute; }
    void SetADOWillExecute(TWillExecuteEvent Value) { FADOWillExecute = std::move(Value); }
    const TExecuteCompleteEvent& GetADOExecuteComplete() const noexcept { return FADOExecuteComplete; }
    void SetADOExecuteComplete(TExecuteCompleteEvent Value) { FADOExecuteComplete = std::move(Value); }
    const TWillConnectEvent& GetADOWillConnect() const noexcept { return FADOWillConnect; }
    void SetADOWillConnect(TWillConnectEvent Value) { FADOWillConnect = std::move(Value); }
    const TConnectCompleteEvent& GetADOConnectComplete() const noexcept { return FADOConnectComplete; }
    void SetADOConnectComplete(TConnectCompleteEvent Value) { FADOConnectComplete = std::move(Value); }
    const TDisconnectEvent& GetADODisconnect() const noexcept { return FADODisconnect; }
    void SetADODisconnect(TDisconnectEvent Value) { FADODisconnect = std::move(Value); }

protected:
    void Loaded() override;
    void Notification(Vcl::TComponent* AComponent, Vcl::TOperation Operation) override;

    // The event dispatchers, in the order of ADO's connection events: each calls
    // its event when assigned and otherwise answers adStatusUnwantedEvent.
    virtual void DoADOInfoMessage(Error* Error, EventStatusEnum& Status);
    virtual void DoADOBeginTransComplete(int TransactionLevel, Error* Error, EventStatusEnum& Status);
    virtual void DoADOCommitTransComplete(Error* Error, EventStatusEnum& Status);
    virtual void DoADORollbackTransComplete(Error* Error, EventStatusEnum& Status);
    virtual void DoADOWillExecute(WideString& Source, CursorTypeEnum& CursorType, LockTypeEnum& LockType,
                                  int& Options, EventStatusEnum& Status, _Command* Command, _Recordset* Recordset);
    virtual void DoADOExecuteComplete(int RecordsAffected, Error* Error, EventStatusEnum& Status, _Command* Command,
                                      _Recordset* Recordset);
    virtual void DoADOWillConnect(WideString& ConnectionString, WideString& UserID, WideString& Password,
                                  int& Options, EventStatusEnum& Status);
    virtual void DoADOConnectComplete(Error* Error, EventStatusEnum& Status);
    virtual void DoADODisconnect(EventStatusEnum& Status);

private:
    bool AnyADOEventAssigned() const noexcept;
    // Connected or still connecting: what the closing setters close.
    bool IsActive();
    void CloseIfActive();
    // Whether getters with a live source read ADO now.
    bool ReadsLive();
    // Tears the connection down after the datasets are closed; every step
    // runs, and the first failure is raised at the end.
    void ShutDown();

    ComPtr<_Connection> FExternalConnection;
    int FCommandTimeout = 30;
    TConnectionAttributes FConnectionAttributes;
    TConnectionMode FConnectionMode = cmReadWrite;
    TConnectionOptions FConnectionOptions;
    int FConnectionTimeout = 15;
    String FDatabaseConnect;
    String FDatabaseProvider;
    std::vector<Db::TDataSet*> FDataSets;
    bool FExternal = false;
    ComPtr<Connection15> FHandle;
    ComPtr<TADOConnectionEvent> FSink;
    int FConnEventsID = 0;
    String FPassword;
    bool FStreamedConnected = false;
    int FTransactionLevel = 0;
    TTransIsolation FTransIsolation = tiCursorStability;
    TADOVersion FUseADOVersion = avADO;
    String FUserName;

    TLoginEvent FOnLogin;
    TInfoMessageEvent FADOInfoMessage;
    TBeginTransCompleteEvent FADOBeginTransComplete;
    TCommitTransCompleteEvent FADOCommitTransComplete;
    TRollbackTransCompleteEvent FADORollbackTransComplete;
    TWillExecuteEvent FADOWillExecute;
    TExecuteCompleteEvent FADOExecuteComplete;
    TWillConnectEvent FADOWillConnect;
    TConnectCompleteEvent FADOConnectComplete;
    TDisconnectEvent FADODisconnect;
};

// The banner About answers.
inline constexpr const char* VeloraAboutBanner = "Version 5.1 (Velora data access components)";

}  // namespace Velora
