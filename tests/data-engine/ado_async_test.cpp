// Asynchronous connect and execute: the work runs on a worker thread, the
// Complete events arrive on the owner's thread through its apartment queue,
// Cancel stops the work, and releasing an object never leaves work running.
//
// A worker is held at a known point by a lock another SQLite connection keeps
// on the file, so the tests see the connecting and executing states without
// racing the worker; the worker goes on when the lock is released.
#include <thread>

#include "Platform/com/Apartment.h"
#include "tests/data-engine/ado_support.h"

namespace AdoTest {
namespace {

using Com::HRESULT;
using Com::S_OK;

constexpr auto PumpLimit = std::chrono::seconds(60);

// A raw SQLite connection holding a lock on the file until Release.
class TLockHolder {
public:
    // "EXCLUSIVE" keeps readers out (the file opens but cannot be read);
    // "IMMEDIATE" keeps writers out.
    TLockHolder(const std::string& file, const char* kind) {
        EXPECT_EQ(sqlite3_open(file.c_str(), &FDb), SQLITE_OK);
        // The commit may meet the waiting side's passing read lock: wait for it.
        sqlite3_busy_timeout(FDb, 60000);
        EXPECT_EQ(sqlite3_exec(FDb, (std::string("BEGIN ") + kind).c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        // An exclusive lock is only taken for real by a write.
        EXPECT_EQ(sqlite3_exec(FDb, "UPDATE items SET qty = qty WHERE id = 1", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ~TLockHolder() {
        Release();
        sqlite3_close(FDb);
    }
    void Release() {
        if (FHeld) EXPECT_EQ(sqlite3_exec(FDb, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(FDb);
        FHeld = false;
    }

private:
    sqlite3* FDb = nullptr;
    bool FHeld = true;
};

struct TEvent {
    std::string Name;
    std::thread::id Thread;
    EventStatusEnum Status = adStatusOK;
    std::string Error;
    int Affected = -2;
    bool HadCommand = false;
    bool HadRecordset = false;
};

// Records each connection event with the thread it ran on.
class TSink : public Com::TImplements<Com::TInterfacedObject, ConnectionEventsVt> {
public:
    std::vector<TEvent> Events;
    // Runs inside ExecuteComplete / ConnectComplete (to act from a handler).
    std::function<void()> OnComplete;

    int Count(const std::string& name) const {
        int n = 0;
        for (const auto& e : Events) n += e.Name == name;
        return n;
    }
    const TEvent& Last(const std::string& name) const {
        for (auto it = Events.rbegin(); it != Events.rend(); ++it)
            if (it->Name == name) return *it;
        throw std::runtime_error("no " + name + " event");
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const auto& e : Events) out.push_back(e.Name);
        return out;
    }

    HRESULT InfoMessage(Error*, EventStatusEnum&, _Connection*) override { return S_OK; }
    HRESULT BeginTransComplete(int, Error*, EventStatusEnum&, _Connection*) override { return S_OK; }
    HRESULT CommitTransComplete(Error*, EventStatusEnum&, _Connection*) override { return S_OK; }
    HRESULT RollbackTransComplete(Error*, EventStatusEnum&, _Connection*) override { return S_OK; }
    HRESULT WillExecute(WideString&, CursorTypeEnum&, LockTypeEnum&, int&, EventStatusEnum& st, _Command* cmd,
                        _Recordset* rs, _Connection*) override {
        Add("WillExecute", st, nullptr).HadCommand = cmd != nullptr;
        Events.back().HadRecordset = rs != nullptr;
        return S_OK;
    }
    HRESULT ExecuteComplete(int affected, Error* e, EventStatusEnum& st, _Command* cmd, _Recordset* rs,
                            _Connection*) override {
        TEvent& ev = Add("ExecuteComplete", st, e);
        ev.Affected = affected;
        ev.HadCommand = cmd != nullptr;
        ev.HadRecordset = rs != nullptr;
        if (OnComplete) OnComplete();
        return S_OK;
    }
    HRESULT WillConnect(WideString&, WideString&, WideString&, int&, EventStatusEnum& st, _Connection*) override {
        Add("WillConnect", st, nullptr);
        return S_OK;
    }
    HRESULT ConnectComplete(Error* e, EventStatusEnum& st, _Connection*) override {
        Add("ConnectComplete", st, e);
        if (OnComplete) OnComplete();
        return S_OK;
    }
    HRESULT Disconnect(EventStatusEnum& st, _Connection*) override {
        Add("Disconnect", st, nullptr);
        return S_OK;
    }

private:
    TEvent& Add(const std::string& name, EventStatusEnum st, Error* e) {
        Events.push_back({name, std::this_thread::get_id(), st, e ? N(e->GetDescription()) : std::string()});
        return Events.back();
    }
};

// Never finishes unless interrupted.
constexpr const char* Endless = "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c";

class AsyncTest : public TAdoFixture {
protected:
    ComPtr<TSink> Advise(const ComPtr<_Connection>& c) {
        auto sink = Com::MakeComObject<TSink>();
        int cookie = 0;
        EXPECT_EQ(Com::InterfaceConnect(c.Get(), DIID_ConnectionEvents, static_cast<ConnectionEventsVt*>(sink.Get()),
                                        cookie),
                  S_OK);
        return sink;
    }
    // A connection that waits for locks instead of failing at once.
    std::string Patient() { return ConnectionStringFor(FFile, "Busy Timeout=60000"); }
    int CountItems() {
        auto c = OpenConnection(FFile);
        return c->Execute(W("SELECT count(*) FROM items"), nullptr, adCmdText)->GetFields()->GetItem(Variant(0))
            ->GetValue()
            .ToInteger();
    }
    bool Pump(const std::function<bool()>& done) { return Com::PumpUntil(done, PumpLimit); }
    const std::thread::id FOwner = std::this_thread::get_id();
};

// ---- Connecting --------------------------------------------------------------------------------------

TEST_F(AsyncTest, ConnectRunsOnAWorkerAndCompletesOnTheOwnersThread) {
    TLockHolder lock(FFile, "EXCLUSIVE");
    auto c = CoConnection::Create();
    auto sink = Advise(c);
    c->Open(W(Patient()), {}, {}, adAsyncConnect);

    // The worker cannot read the file yet: the connection is connecting.
    EXPECT_EQ(c->GetState(), adStateConnecting);
    EXPECT_EQ(sink->Names(), std::vector<std::string>{"WillConnect"});
    EXPECT_EQ(sink->Last("WillConnect").Thread, FOwner);
    EXPECT_EQ(OleCode([&] { c->Execute(W("SELECT 1"), nullptr, adCmdText); }), AdoCode(adErrStillConnecting));
    EXPECT_EQ(OleCode([&] { c->Open(W(Patient()), {}, {}, adConnectUnspecified); }), AdoCode(adErrStillConnecting));
    EXPECT_EQ(c->GetState(), adStateConnecting);

    lock.Release();
    ASSERT_TRUE(Pump([&] { return sink->Count("ConnectComplete") == 1; }));
    const TEvent& done = sink->Last("ConnectComplete");
    EXPECT_EQ(done.Thread, FOwner);
    EXPECT_EQ(done.Status, adStatusOK);
    EXPECT_EQ(done.Error, "");
    EXPECT_EQ(c->GetState(), adStateOpen);
    EXPECT_EQ(Exec(c, "INSERT INTO items (name) VALUES ('kiwi')"), 1);
}

TEST_F(AsyncTest, PollingTheStateDeliversAFinishedConnect) {
    auto c = CoConnection::Create();
    auto sink = Advise(c);
    c->Open(W(ConnectionStringFor(FFile)), {}, {}, adAsyncConnect);
    // Without processing messages: State looks at the worker and, once it has
    // finished, delivers ConnectComplete right there, on this thread.
    while (c->GetState() == adStateConnecting) std::this_thread::yield();
    EXPECT_EQ(c->GetState(), adStateOpen);
    ASSERT_EQ(sink->Count("ConnectComplete"), 1);
    EXPECT_EQ(sink->Last("ConnectComplete").Thread, FOwner);
    // The queued notification finds nothing left to deliver.
    Com::ProcessMessages();
    EXPECT_EQ(sink->Count("ConnectComplete"), 1);
}

TEST_F(AsyncTest, FailedConnectIsReportedByConnectComplete) {
    auto c = CoConnection::Create();
    auto sink = Advise(c);
    const std::string missing = FDir.File("missing.db");
    c->Open(W(ConnectionStringFor(missing, "Mode=Read")), {}, {}, adAsyncConnect);
    ASSERT_TRUE(Pump([&] { return sink->Count("ConnectComplete") == 1; }));
    const TEvent& done = sink->Last("ConnectComplete");
    EXPECT_EQ(done.Thread, FOwner);
    EXPECT_EQ(done.Status, adStatusErrorsOccurred);
    EXPECT_NE(done.Error.find("missing.db"), std::string::npos) << done.Error;
    EXPECT_EQ(c->GetState(), adStateClosed);
    ASSERT_EQ(c->GetErrors()->GetCount(), 1);
    EXPECT_EQ(N(c->GetErrors()->GetItem(Variant(0))->GetDescription()), done.Error);
    // The connection can be opened again.
    c->Open(W(ConnectionStringFor(FFile)), {}, {}, adConnectUnspecified);
    EXPECT_EQ(c->GetState(), adStateOpen);
}

TEST_F(AsyncTest, CancelStopsAConnect) {
    TLockHolder lock(FFile, "EXCLUSIVE");
    auto c = CoConnection::Create();
    auto sink = Advise(c);
    // SQLite cannot interrupt a wait for a lock: a short wait lets the connect end.
    c->Open(W(ConnectionStringFor(FFile, "Busy Timeout=200")), {}, {}, adAsyncConnect);
    EXPECT_EQ(c->GetState(), adStateConnecting);
    c->Cancel();
    // ConnectComplete has come before Cancel returned.
    ASSERT_EQ(sink->Count("ConnectComplete"), 1);
    const TEvent& done = sink->Last("ConnectComplete");
    EXPECT_EQ(done.Thread, FOwner);
    EXPECT_EQ(done.Status, adStatusErrorsOccurred);
    EXPECT_NE(done.Error.find("Operation was cancelled"), std::string::npos) << done.Error;
    EXPECT_EQ(c->GetState(), adStateClosed);
    Com::ProcessMessages();
    EXPECT_EQ(sink->Count("ConnectComplete"), 1);
    lock.Release();
    c->Open(W(ConnectionStringFor(FFile)), {}, {}, adConnectUnspecified);
    EXPECT_EQ(c->GetState(), adStateOpen);
}

TEST_F(AsyncTest, ReleasingAConnectingConnectionStopsTheWorker) {
    auto lock = std::make_unique<TLockHolder>(FFile, "EXCLUSIVE");
    auto sink = Com::MakeComObject<TSink>();
    {
        auto c = CoConnection::Create();
        int cookie = 0;
        Com::InterfaceConnect(c.Get(), DIID_ConnectionEvents, static_cast<ConnectionEventsVt*>(sink.Get()), cookie);
        c->Open(W(ConnectionStringFor(FFile, "Busy Timeout=200")), {}, {}, adAsyncConnect);
        EXPECT_EQ(c->GetState(), adStateConnecting);
    }
    // The object is gone and its worker joined; its notification does nothing.
    Com::ProcessMessages();
    EXPECT_EQ(sink->Names(), std::vector<std::string>{"WillConnect"});
}

// ---- Executing -------------------------------------------------------------------------------------------

TEST_F(AsyncTest, ExecuteWithoutRecordsCompletesOnTheOwnersThread) {
    auto c = CoConnection::Create();
    c->Open(W(Patient()));
    auto sink = Advise(c);
    TLockHolder lock(FFile, "IMMEDIATE");
    auto rs = c->Execute(W("INSERT INTO items (name) VALUES ('kiwi'), ('lime')"), nullptr,
                         adCmdText | adExecuteNoRecords | adAsyncExecute);
    EXPECT_FALSE(rs);

    // The insert waits for the lock on the worker.
    EXPECT_EQ(c->GetState(), adStateOpen | adStateExecuting);
    EXPECT_EQ(sink->Names(), std::vector<std::string>{"WillExecute"});
    // Nothing else may use the session meanwhile.
    const std::vector<std::pair<const char*, std::function<void()>>> refused = {
        {"Execute", [&] { c->Execute(W("SELECT 1"), nullptr, adCmdText); }},
        {"BeginTrans", [&] { c->BeginTrans(); }},
        {"OpenSchema", [&] { c->OpenSchema(adSchemaTables, Variant(), Variant()); }},
        {"CommandTimeout", [&] { c->SetCommandTimeout(5); }},
    };
    for (const auto& [what, call] : refused)
        EXPECT_EQ(OleCode(call), AdoCode(adErrStillExecuting)) << what;
    EXPECT_EQ(c->GetState(), adStateOpen | adStateExecuting);

    lock.Release();
    ASSERT_TRUE(Pump([&] { return sink->Count("ExecuteComplete") == 1; }));
    const TEvent& done = sink->Last("ExecuteComplete");
    EXPECT_EQ(done.Thread, FOwner);
    EXPECT_EQ(done.Status, adStatusOK);
    EXPECT_EQ(done.Affected, 2);
    EXPECT_FALSE(done.HadRecordset);
    EXPECT_EQ(c->GetState(), adStateOpen);
    EXPECT_EQ(CountItems(), 6);
}

TEST_F(AsyncTest, ExecuteReturnsARecordsetThatOpensAtExecuteComplete) {
    auto c = CoConnection::Create();
    c->SetCursorLocation(adUseClient);
    c->Open(W(Patient()));
    auto sink = Advise(c);
    auto lock = std::make_unique<TLockHolder>(FFile, "EXCLUSIVE");
    auto rs = c->Execute(W("SELECT name FROM items ORDER BY id"), nullptr, adCmdText | adAsyncExecute);
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->GetState(), adStateExecuting);
    EXPECT_EQ(c->GetState(), adStateOpen | adStateExecuting);
    // The handler sees the recordset open.
    int stateInHandler = -1;
    sink->OnComplete = [&] { stateInHandler = rs->GetState(); };

    lock.reset();
    ASSERT_TRUE(Pump([&] { return sink->Count("ExecuteComplete") == 1; }));
    EXPECT_EQ(sink->Names(), (std::vector<std::string>{"WillExecute", "ExecuteComplete"}));
    EXPECT_EQ(sink->Last("ExecuteComplete").Thread, FOwner);
    EXPECT_TRUE(sink->Last("ExecuteComplete").HadRecordset);
    EXPECT_EQ(stateInHandler, adStateOpen);
    EXPECT_EQ(rs->GetRecordCount(), 4);
    std::vector<std::string> names;
    for (; !rs->GetEOF(); rs->MoveNext()) names.push_back(FieldValue(rs, "name").ToString());
    EXPECT_EQ(names, (std::vector<std::string>{"apple", "pear", "plum", "fig"}));
}

TEST_F(AsyncTest, FailedExecuteIsReportedByExecuteComplete) {
    auto c = OpenConnection(FFile);
    auto sink = Advise(c);
    // Compiles, then fails while running: the constraint is checked on the worker.
    c->Execute(W("INSERT INTO items (id, name) VALUES (1, 'twin')"), nullptr,
               adCmdText | adExecuteNoRecords | adAsyncExecute);
    ASSERT_TRUE(Pump([&] { return sink->Count("ExecuteComplete") == 1; }));
    const TEvent& done = sink->Last("ExecuteComplete");
    EXPECT_EQ(done.Thread, FOwner);
    EXPECT_EQ(done.Status, adStatusErrorsOccurred);
    EXPECT_NE(done.Error.find("UNIQUE"), std::string::npos) << done.Error;
    ASSERT_EQ(c->GetErrors()->GetCount(), 1);
    EXPECT_EQ(c->GetState(), adStateOpen);
    // A text that does not compile is compiled on the worker too.
    c->Execute(W("SELEC 1"), nullptr, adCmdText | adAsyncExecute);
    ASSERT_TRUE(Pump([&] { return sink->Count("ExecuteComplete") == 2; }));
    EXPECT_NE(sink->Last("ExecuteComplete").Error.find("SELEC 1"), std::string::npos) << sink->Last("ExecuteComplete").Error;
    // An empty one fails at once, before anything runs.
    EXPECT_NE(OleError([&] { c->Execute(W(" "), nullptr, adCmdText | adAsyncExecute); }).find("empty"), std::string::npos);
    EXPECT_EQ(sink->Count("ExecuteComplete"), 3);
    EXPECT_EQ(c->GetState(), adStateOpen);
}

TEST_F(AsyncTest, CancelInterruptsARunningStatement) {
    auto c = OpenConnection(FFile);
    auto sink = Advise(c);
    auto rs = c->Execute(W(Endless), nullptr, adCmdText | adAsyncExecute);
    EXPECT_EQ(c->GetState(), adStateOpen | adStateExecuting);
    c->Cancel();
    ASSERT_EQ(sink->Count("ExecuteComplete"), 1);
    const TEvent& done = sink->Last("ExecuteComplete");
    EXPECT_EQ(done.Thread, FOwner);
    EXPECT_EQ(done.Status, adStatusErrorsOccurred);
    EXPECT_NE(done.Error.find("cancel"), std::string::npos) << done.Error;
    EXPECT_EQ(c->GetState(), adStateOpen);
    EXPECT_EQ(rs->GetState(), adStateClosed);
    // The connection goes on working.
    EXPECT_EQ(Exec(c, "INSERT INTO items (name) VALUES ('kiwi')"), 1);
    Com::ProcessMessages();
    EXPECT_EQ(sink->Count("ExecuteComplete"), 2);  // the insert's own
}

TEST_F(AsyncTest, CancelFromAnotherThreadLeavesTheOutcomeToTheOwner) {
    auto c = OpenConnection(FFile);
    auto sink = Advise(c);
    c->Execute(W(Endless), nullptr, adCmdText | adAsyncExecute);
    std::thread other([&] { c->Cancel(); });
    other.join();
    // The worker stops; ExecuteComplete still waits for the owner.
    EXPECT_EQ(sink->Count("ExecuteComplete"), 0);
    ASSERT_TRUE(Pump([&] { return sink->Count("ExecuteComplete") == 1; }));
    EXPECT_EQ(sink->Last("ExecuteComplete").Thread, FOwner);
    EXPECT_EQ(sink->Last("ExecuteComplete").Status, adStatusErrorsOccurred);
    EXPECT_EQ(c->GetState(), adStateOpen);
}

TEST_F(AsyncTest, CloseAndReleaseStopARunningStatement) {
    {
        auto c = OpenConnection(FFile);
        auto sink = Advise(c);
        c->Execute(W(Endless), nullptr, adCmdText | adAsyncExecute);
        c->Close();
        EXPECT_EQ(sink->Names(), (std::vector<std::string>{"WillExecute", "ExecuteComplete", "Disconnect"}));
        EXPECT_EQ(c->GetState(), adStateClosed);
    }
    auto sink = Com::MakeComObject<TSink>();
    {
        auto c = OpenConnection(FFile);
        int cookie = 0;
        Com::InterfaceConnect(c.Get(), DIID_ConnectionEvents, static_cast<ConnectionEventsVt*>(sink.Get()), cookie);
        auto rs = c->Execute(W(Endless), nullptr, adCmdText | adAsyncExecute);
        c = nullptr;  // the recordset still holds nothing of the connection's work
        rs = nullptr;
    }
    Com::ProcessMessages();
    EXPECT_EQ(sink->Names(), std::vector<std::string>{"WillExecute"});
}

TEST_F(AsyncTest, AHandlerMayStartTheNextExecution) {
    auto c = OpenConnection(FFile);
    auto sink = Advise(c);
    int started = 0;
    sink->OnComplete = [&] {
        if (++started < 3)
            c->Execute(W("INSERT INTO items (name) VALUES ('chain')"), nullptr,
                       adCmdText | adExecuteNoRecords | adAsyncExecute);
    };
    c->Execute(W("INSERT INTO items (name) VALUES ('chain')"), nullptr, adCmdText | adExecuteNoRecords | adAsyncExecute);
    ASSERT_TRUE(Pump([&] { return sink->Count("ExecuteComplete") == 3; }));
    EXPECT_EQ(sink->Names(), (std::vector<std::string>{"WillExecute", "ExecuteComplete", "WillExecute",
                                                       "ExecuteComplete", "WillExecute", "ExecuteComplete"}));
    for (const auto& e : sink->Events) EXPECT_EQ(e.Thread, FOwner) << e.Name;
    EXPECT_EQ(c->GetState(), adStateOpen);
    EXPECT_EQ(CountItems(), 7);
}

// ---- Recordsets -------------------------------------------------------------------------------------------

TEST_F(AsyncTest, RecordsetOpensWhenItsExecutionEnds) {
    auto c = CoConnection::Create();
    c->Open(W(Patient()));
    auto sink = Advise(c);
    auto lock = std::make_unique<TLockHolder>(FFile, "EXCLUSIVE");
    auto rs = CoRecordset::Create();
    rs->SetCursorLocation(adUseClient);
    rs->Open(Variant(W("SELECT name FROM items ORDER BY id")), Com::VarFromInterface(c), adOpenStatic,
             adLockOptimistic, adCmdText | adAsyncExecute);
    EXPECT_EQ(rs->GetState(), adStateExecuting);
    EXPECT_EQ(c->GetState(), adStateOpen | adStateExecuting);
    EXPECT_EQ(OleCode([&] { rs->MoveNext(); }), AdoCode(adErrObjectClosed));
    EXPECT_EQ(OleCode([&] {
                  rs->Open(Variant(W("SELECT 1")), Com::VarFromInterface(c), adOpenStatic, adLockOptimistic, adCmdText);
              }),
              AdoCode(adErrStillExecuting));

    lock.reset();
    ASSERT_TRUE(Pump([&] { return rs->GetState() == adStateOpen; }));
    ASSERT_EQ(sink->Count("ExecuteComplete"), 1);
    EXPECT_EQ(sink->Last("ExecuteComplete").Thread, FOwner);
    EXPECT_TRUE(sink->Last("ExecuteComplete").HadRecordset);
    EXPECT_EQ(rs->GetRecordCount(), 4);
    EXPECT_EQ(rs->GetLockType(), adLockOptimistic);
    EXPECT_EQ(FieldValue(rs, "name").ToString(), "apple");
    // The cursor is an ordinary one: its changes reach the table.
    rs->GetFields()->GetItem(Variant("name"))->SetValue(Variant(W("apricot")));
    rs->Update(Variant(), Variant());
    auto check = c->Execute(W("SELECT name FROM items WHERE id = 1"), nullptr, adCmdText);
    EXPECT_EQ(FieldValue(check, "name").ToString(), "apricot");
}

TEST_F(AsyncTest, RecordsetCancelStopsItsExecution) {
    auto c = OpenConnection(FFile);
    auto sink = Advise(c);
    auto rs = CoRecordset::Create();
    rs->Open(Variant(W(Endless)), Com::VarFromInterface(c), adOpenForwardOnly, adLockReadOnly,
             adCmdText | adAsyncExecute);
    EXPECT_EQ(rs->GetState(), adStateExecuting);
    rs->Cancel();
    EXPECT_EQ(rs->GetState(), adStateClosed);
    EXPECT_EQ(c->GetState(), adStateOpen);
    ASSERT_EQ(sink->Count("ExecuteComplete"), 1);
    EXPECT_EQ(sink->Last("ExecuteComplete").Status, adStatusErrorsOccurred);
    // The same recordset opens afterwards.
    rs->Open(Variant(W("SELECT count(*) AS n FROM items")), Com::VarFromInterface(c), adOpenForwardOnly,
             adLockReadOnly, adCmdText);
    EXPECT_EQ(FieldValue(rs, "n").ToInteger(), 4);
}

TEST_F(AsyncTest, ReleasedRecordsetsAndCommandsStillFinishTheirWork) {
    auto c = CoConnection::Create();
    c->Open(W(Patient()));
    auto sink = Advise(c);
    auto lock = std::make_unique<TLockHolder>(FFile, "IMMEDIATE");
    {
        auto cmd = CoCommand::Create();
        cmd->SetActiveConnectionRef(c.Get());
        cmd->SetCommandText(W("INSERT INTO items (name) VALUES ('kiwi') RETURNING id"));
        auto rs = cmd->Execute(nullptr, Variant(), adCmdText | adAsyncExecute);
        EXPECT_EQ(rs->GetState(), adStateExecuting);
    }
    EXPECT_EQ(c->GetState(), adStateOpen | adStateExecuting);
    lock.reset();
    ASSERT_TRUE(Pump([&] { return sink->Count("ExecuteComplete") == 1; }));
    EXPECT_EQ(sink->Last("ExecuteComplete").Status, adStatusOK);
    EXPECT_TRUE(sink->Last("ExecuteComplete").HadCommand);
    EXPECT_EQ(CountItems(), 5);
}

// ---- Commands --------------------------------------------------------------------------------------------

TEST_F(AsyncTest, CommandExecutesAsynchronouslyWithItsParameters) {
    auto c = CoConnection::Create();
    c->Open(W(Patient()));
    auto sink = Advise(c);
    auto cmd = CoCommand::Create();
    cmd->SetActiveConnectionRef(c.Get());
    cmd->SetCommandText(W("INSERT INTO items (name, qty) VALUES (?, ?)"));
    cmd->GetParameters()->Append(cmd->CreateParameter(W("name"), adVarWChar, adParamInput, 20, Variant(W("kiwi"))).Get());
    cmd->GetParameters()->Append(cmd->CreateParameter(W("qty"), adInteger, adParamInput, 0, Variant(7)).Get());
    TLockHolder lock(FFile, "IMMEDIATE");
    cmd->Execute(nullptr, Variant(), adCmdText | adExecuteNoRecords | adAsyncExecute);
    EXPECT_EQ(cmd->GetState(), adStateExecuting);
    EXPECT_EQ(OleCode([&] { cmd->SetCommandText(W("SELECT 1")); }), AdoCode(adErrStillExecuting));

    lock.Release();
    ASSERT_TRUE(Pump([&] { return sink->Count("ExecuteComplete") == 1; }));
    const TEvent& done = sink->Last("ExecuteComplete");
    EXPECT_EQ(done.Thread, FOwner);
    EXPECT_TRUE(done.HadCommand);
    EXPECT_EQ(done.Affected, 1);
    EXPECT_EQ(cmd->GetState(), adStateClosed);
    auto rs = c->Execute(W("SELECT qty FROM items WHERE name = 'kiwi'"), nullptr, adCmdText);
    EXPECT_EQ(FieldValue(rs, "qty").ToInteger(), 7);
}

TEST_F(AsyncTest, CommandCancelStopsItsExecution) {
    auto c = OpenConnection(FFile);
    auto sink = Advise(c);
    auto cmd = CoCommand::Create();
    cmd->SetActiveConnectionRef(c.Get());
    cmd->SetCommandText(W(Endless));
    auto rs = cmd->Execute(nullptr, Variant(), adCmdText | adAsyncExecute);
    EXPECT_EQ(cmd->GetState(), adStateExecuting);
    cmd->Cancel();
    EXPECT_EQ(cmd->GetState(), adStateClosed);
    ASSERT_EQ(sink->Count("ExecuteComplete"), 1);
    EXPECT_EQ(sink->Last("ExecuteComplete").Status, adStatusErrorsOccurred);
    EXPECT_TRUE(sink->Last("ExecuteComplete").HadCommand);
    // The command runs again.
    cmd->SetCommandText(W("SELECT count(*) FROM items"));
    EXPECT_EQ(cmd->Execute(nullptr, Variant(), adCmdText)->GetFields()->GetItem(Variant(0))->GetValue().ToInteger(), 4);
}

}  // namespace
}  // namespace AdoTest
