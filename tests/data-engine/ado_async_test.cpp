// Asynchronous connect and execute: the work runs on a worker thread, the
// Complete events arrive on the owner's thread through its apartment queue,
// Cancel stops the work, and releasing an object never leaves work running.
//
// A worker is held at a known point by a lock another SQLite connection keeps
// on the file, so the tests see the connecting and executing states without
// racing the worker; the worker goes on when the lock is released.
#include <thread>

#include "Platform/com/Apartment.h"
#include "tests/data-engine/AsyncTestSupport.h"

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

TEST_F(AsyncTest, CancelEndsAWaitForAnotherConnectionsLock) {
    // Both wait for a lock that is never released within their (long) busy
    // timeout: only the cancel can end the wait, and it is what they report.
    {
        TLockHolder lock(FFile, "EXCLUSIVE");
        auto c = CoConnection::Create();
        auto sink = Advise(c);
        c->Open(W(Patient()), {}, {}, adAsyncConnect);
        EXPECT_EQ(c->GetState(), adStateConnecting);
        c->Cancel();
        ASSERT_EQ(sink->Count("ConnectComplete"), 1);
        EXPECT_EQ(sink->Last("ConnectComplete").Status, adStatusErrorsOccurred);
        EXPECT_NE(sink->Last("ConnectComplete").Error.find("cancel"), std::string::npos)
            << sink->Last("ConnectComplete").Error;
        EXPECT_EQ(c->GetState(), adStateClosed);
    }
    {
        auto c = CoConnection::Create();
        c->Open(W(Patient()));
        auto sink = Advise(c);
        TLockHolder lock(FFile, "IMMEDIATE");
        c->Execute(W("INSERT INTO items (name) VALUES ('kiwi')"), nullptr, adCmdText | adExecuteNoRecords | adAsyncExecute);
        EXPECT_EQ(c->GetState(), adStateOpen | adStateExecuting);
        c->Cancel();
        ASSERT_EQ(sink->Count("ExecuteComplete"), 1);
        const TEvent& done = sink->Last("ExecuteComplete");
        EXPECT_EQ(done.Status, adStatusErrorsOccurred);
        EXPECT_NE(done.Error.find("cancel"), std::string::npos) << done.Error;
        EXPECT_EQ(c->GetState(), adStateOpen);
        lock.Release();
        EXPECT_EQ(Exec(c, "INSERT INTO items (name) VALUES ('lime')"), 1);
    }
    EXPECT_EQ(CountItems(), 5);
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

TEST_F(AsyncTest, RequeryRunsAsynchronouslyAgain) {
    auto c = CoConnection::Create();
    c->SetCursorLocation(adUseClient);
    c->Open(W(Patient()));
    auto sink = Advise(c);
    auto cmd = CoCommand::Create();
    cmd->SetActiveConnectionRef(c.Get());
    cmd->SetCommandText(W("SELECT name FROM items ORDER BY id"));
    struct TCase {
        const char* Name;
        std::function<ComPtr<_Recordset>()> Open;
    };
    const TCase cases[] = {
        {"over a command", [&] { return cmd->Execute(nullptr, Variant(), adCmdText | adAsyncExecute); }},
        {"over a text", [&] { return c->Execute(W("SELECT name FROM items ORDER BY id"), nullptr, adCmdText | adAsyncExecute); }},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.Name);
        sink->Events.clear();
        auto rs = t.Open();
        ASSERT_TRUE(Pump([&] { return rs->GetState() == adStateOpen; }));
        rs->SetFilter(Variant(W("name <> 'pear'")));
        EXPECT_EQ(rs->GetRecordCount(), 3);
        Exec(c, "INSERT INTO items (name) VALUES ('kiwi')");
        // Requery uses the options the recordset was opened with: it runs on the worker again.
        auto lock = std::make_unique<TLockHolder>(FFile, "EXCLUSIVE");
        rs->Requery(adOptionUnspecified);
        EXPECT_EQ(rs->GetState(), adStateExecuting);
        lock.reset();
        ASSERT_TRUE(Pump([&] { return rs->GetState() == adStateOpen; }));
        EXPECT_EQ(sink->Last("ExecuteComplete").Status, adStatusOK);
        EXPECT_EQ(sink->Last("ExecuteComplete").Thread, FOwner);
        // The new row is there and the filter still applies.
        EXPECT_EQ(rs->GetRecordCount(), 4);
        rs->MoveLast();
        EXPECT_EQ(FieldValue(rs, "name").ToString(), "kiwi");
        Exec(c, "DELETE FROM items WHERE name = 'kiwi'");
    }
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


// ---- Fetching --------------------------------------------------------------------------------------------

// Numbers 1..n, one row each.
std::string Numbers(int n) {
    return "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " + std::to_string(n) +
           ") SELECT x FROM c";
}
// Numbers without end, each row after some work: the fetch runs until it is stopped.
constexpr const char* EndlessRows =
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
    "SELECT x, (WITH RECURSIVE d(y) AS (SELECT 1 UNION ALL SELECT y + 1 FROM d WHERE y < 500) "
    "SELECT count(*) FROM d) AS w FROM c";

struct TFetchEvent {
    std::string Name;
    std::thread::id Thread;
    int Progress = 0;
    EventStatusEnum Status = adStatusOK;
    std::string Error;
};

// Records the fetch events of a recordset with the thread they ran on.
class TFetchSink : public Com::TImplements<Com::TInterfacedObject, RecordsetEventsVt> {
public:
    std::vector<TFetchEvent> Events;
    std::vector<std::string> Others;  // the other events, by name
    std::function<void()> OnProgress;

    int Count(const std::string& name) const {
        int n = 0;
        for (const auto& e : Events) n += e.Name == name;
        return n;
    }
    const TFetchEvent& Complete() const {
        for (const auto& e : Events)
            if (e.Name == "FetchComplete") return e;
        throw std::runtime_error("no FetchComplete");
    }
    int LastProgress() const {
        int p = 0;
        for (const auto& e : Events)
            if (e.Name == "FetchProgress") p = e.Progress;
        return p;
    }

    HRESULT WillChangeField(int, const Variant&, EventStatusEnum&, _Recordset*) override { return S_OK; }
    HRESULT FieldChangeComplete(int, const Variant&, Error*, EventStatusEnum&, _Recordset*) override { return S_OK; }
    HRESULT WillChangeRecord(EventReasonEnum, int, EventStatusEnum&, _Recordset*) override { return S_OK; }
    HRESULT RecordChangeComplete(EventReasonEnum, int, Error*, EventStatusEnum&, _Recordset*) override { return S_OK; }
    HRESULT WillChangeRecordset(EventReasonEnum, EventStatusEnum&, _Recordset*) override {
        Others.push_back("WillChangeRecordset");
        return S_OK;
    }
    HRESULT RecordsetChangeComplete(EventReasonEnum, Error*, EventStatusEnum&, _Recordset*) override {
        Others.push_back("RecordsetChangeComplete");
        return S_OK;
    }
    HRESULT WillMove(EventReasonEnum, EventStatusEnum&, _Recordset*) override { return S_OK; }
    HRESULT MoveComplete(EventReasonEnum, Error*, EventStatusEnum&, _Recordset*) override { return S_OK; }
    HRESULT EndOfRecordset(bool&, EventStatusEnum&, _Recordset*) override { return S_OK; }
    HRESULT FetchProgress(int progress, int, EventStatusEnum& st, _Recordset*) override {
        Events.push_back({"FetchProgress", std::this_thread::get_id(), progress, st, {}});
        if (OnProgress) OnProgress();
        return S_OK;
    }
    HRESULT FetchComplete(Error* e, EventStatusEnum& st, _Recordset*) override {
        Events.push_back({"FetchComplete", std::this_thread::get_id(), 0, st, e ? N(e->GetDescription()) : ""});
        Others.push_back("FetchComplete");
        return S_OK;
    }
};

class FetchTest : public AsyncTest {
protected:
    void SetUp() override {
        AsyncTest::SetUp();
        FConnection = OpenConnection(FFile);
    }
    // A client recordset with a sink, not open yet.
    ComPtr<_Recordset> Prepared(ComPtr<TFetchSink>& sink) {
        auto rs = CoRecordset::Create();
        rs->SetCursorLocation(adUseClient);
        sink = Com::MakeComObject<TFetchSink>();
        int cookie = 0;
        EXPECT_EQ(Com::InterfaceConnect(rs.Get(), DIID_RecordsetEvents, static_cast<RecordsetEventsVt*>(sink.Get()),
                                        cookie),
                  S_OK);
        return rs;
    }
    void OpenOn(const ComPtr<_Recordset>& rs, const std::string& sql, int options) {
        rs->Open(Variant(W(sql)), Com::VarFromInterface(FConnection), adOpenStatic, adLockReadOnly, adCmdText | options);
    }
    bool PumpToEnd(const ComPtr<TFetchSink>& sink) { return Pump([&] { return sink->Count("FetchComplete") == 1; }); }
    static Int64 X(const ComPtr<_Recordset>& rs) { return FieldValue(rs, "x").ToInt64(); }
    static void SetProperty(const ComPtr<_Recordset>& rs, const char* name, int value) {
        rs->GetProperties()->GetItem(Variant(name))->SetValue(Variant(value));
    }

    ComPtr<_Connection> FConnection;
};

TEST_F(FetchTest, NonBlockingShowsTheInitialRowsWhileTheRestArrivesInOrder) {
    ComPtr<TFetchSink> sink;
    auto rs = Prepared(sink);
    SetProperty(rs, "Initial Fetch Size", 40);
    SetProperty(rs, "Background Fetch Size", 25);
    OpenOn(rs, Numbers(1000), adAsyncFetchNonBlocking);

    // Nothing arrives before this thread processes messages: the initial rows
    // are all there is, and the end of them reads as EOF.
    EXPECT_EQ(rs->GetRecordCount(), 40);
    EXPECT_EQ(X(rs), 1);
    rs->MoveLast();
    EXPECT_EQ(X(rs), 40);
    rs->MoveNext();
    EXPECT_TRUE(rs->GetEOF());
    EXPECT_EQ(sink->Events.size(), 0u);

    ASSERT_TRUE(PumpToEnd(sink));
    EXPECT_EQ(rs->GetState(), adStateOpen);
    EXPECT_EQ(rs->GetRecordCount(), 1000);
    // Progress counts every row fetched, batch by batch, on this thread; FetchComplete ends it.
    ASSERT_GE(sink->Count("FetchProgress"), 2);
    int last = 40;
    for (std::size_t i = 0; i + 1 < sink->Events.size(); ++i) {
        const auto& e = sink->Events[i];
        EXPECT_EQ(e.Name, "FetchProgress");
        EXPECT_EQ(e.Thread, FOwner);
        EXPECT_GT(e.Progress, last);
        EXPECT_LE(e.Progress - last, 25);
        last = e.Progress;
    }
    EXPECT_EQ(last, 1000);
    const TFetchEvent& done = sink->Events.back();
    EXPECT_EQ(done.Name, "FetchComplete");
    EXPECT_EQ(done.Thread, FOwner);
    EXPECT_EQ(done.Status, adStatusOK);
    // The rows stand in their order behind the initial ones; the cursor left at EOF moves on from there.
    EXPECT_TRUE(rs->GetEOF());
    rs->MoveFirst();
    for (Int64 want = 1; want <= 1000; ++want, rs->MoveNext()) ASSERT_EQ(X(rs), want);
    EXPECT_TRUE(rs->GetEOF());
}

TEST_F(FetchTest, StateShowsFetchingAndTheConnectionIsBusyUntilTheEnd) {
    ComPtr<TFetchSink> sink;
    auto rs = Prepared(sink);
    OpenOn(rs, EndlessRows, adAsyncFetchNonBlocking);
    EXPECT_EQ(rs->GetState(), adStateOpen | adStateFetching);
    EXPECT_EQ(FConnection->GetState(), adStateOpen | adStateFetching);
    // The session reads for the worker: nothing else may use it meanwhile.
    EXPECT_EQ(OleCode([&] { FConnection->Execute(W("SELECT 1"), nullptr, adCmdText); }), AdoCode(adErrStillExecuting));
    EXPECT_EQ(OleCode([&] { rs->NextRecordset(nullptr); }), AdoCode(adErrStillExecuting));
    rs->Cancel();
    EXPECT_EQ(rs->GetState(), adStateOpen);
    EXPECT_EQ(FConnection->GetState(), adStateOpen);
    EXPECT_EQ(Exec(FConnection, "INSERT INTO items (name) VALUES ('kiwi')"), 1);
}

TEST_F(FetchTest, BlockingMovesWaitForTheRowsTheyNeed) {
    ComPtr<TFetchSink> sink;
    auto rs = Prepared(sink);
    SetProperty(rs, "Initial Fetch Size", 10);
    SetProperty(rs, "Background Fetch Size", 7);
    OpenOn(rs, Numbers(500), adAsyncFetch);
    EXPECT_EQ(rs->GetRecordCount(), 10);

    // A row beyond those fetched: the move waits until it is there.
    rs->Move(99, Variant());
    EXPECT_EQ(X(rs), 100);
    EXPECT_GE(rs->GetRecordCount(), 100);
    rs->SetAbsolutePosition(150);
    EXPECT_EQ(X(rs), 150);
    // Stepping past the fetched rows never meets a false EOF.
    Int64 want = 150;
    for (int i = 0; i < 100; ++i) {
        rs->MoveNext();
        ASSERT_FALSE(rs->GetEOF());
        ASSERT_EQ(X(rs), ++want);
    }
    // The last row is the last of the result.
    rs->MoveLast();
    EXPECT_EQ(X(rs), 500);
    EXPECT_EQ(rs->GetRecordCount(), 500);
    EXPECT_EQ(sink->Count("FetchComplete"), 1);
    EXPECT_EQ(sink->Complete().Status, adStatusOK);
    for (const auto& e : sink->Events) EXPECT_EQ(e.Thread, FOwner) << e.Name;
}

TEST_F(FetchTest, MaxRecordsAndSizesLimitTheFetch) {
    struct TCase {
        int Initial, Batch, MaxRecords, Rows, Expected;
    };
    const TCase cases[] = {
        {50, 15, 0, 49, 49},     // everything in the initial rows: no batch at all
        {50, 15, 0, 50, 50},     // exactly the initial rows: the worker finds the end
        {0, 1, 0, 30, 30},       // no initial rows, batches of one
        {20, 15, 130, 1000, 130},  // MaxRecords stops the worker
        {200, 15, 130, 1000, 130}, // ... or the initial fetch
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message() << "initial " << t.Initial << ", batch " << t.Batch << ", max " << t.MaxRecords
                                        << ", rows " << t.Rows);
        ComPtr<TFetchSink> sink;
        auto rs = Prepared(sink);
        SetProperty(rs, "Initial Fetch Size", t.Initial);
        SetProperty(rs, "Background Fetch Size", t.Batch);
        rs->SetMaxRecords(t.MaxRecords);
        OpenOn(rs, Numbers(t.Rows), adAsyncFetch);
        // A blocking fetch opens on its first row, even without initial rows.
        EXPECT_EQ(X(rs), 1);
        rs->MoveLast();
        EXPECT_EQ(X(rs), t.Expected);
        EXPECT_EQ(rs->GetRecordCount(), t.Expected);
        EXPECT_EQ(rs->GetState(), adStateOpen);
        // FetchComplete comes once, whether or not a worker ran.
        EXPECT_LE(sink->Count("FetchComplete"), 1);
        rs->Close();
        EXPECT_EQ(FConnection->GetState(), adStateOpen);
    }
    ComPtr<TFetchSink> sink;
    auto rs = Prepared(sink);
    EXPECT_EQ(OleCode([&] { SetProperty(rs, "Background Fetch Size", 0); }), AdoCode(adErrPropInvalidValue));
    EXPECT_EQ(OleCode([&] { SetProperty(rs, "Initial Fetch Size", -1); }), AdoCode(adErrPropInvalidValue));
}

TEST_F(FetchTest, FiltersSortsClonesAndBookmarksSeeTheRowsThatArriveLater) {
    ComPtr<TFetchSink> sink;
    auto rs = Prepared(sink);
    SetProperty(rs, "Initial Fetch Size", 30);
    OpenOn(rs, Numbers(600), adAsyncFetchNonBlocking);
    ASSERT_EQ(rs->GetRecordCount(), 30);
    rs->SetAbsolutePosition(12);
    const Variant mark = rs->GetBookmark();
    auto clone = rs->Clone(adLockReadOnly);
    auto sorted = rs->Clone(adLockReadOnly);
    clone->SetFilter(Variant(W("x > 25 AND x <= 580")));
    sorted->SetSort(W("x DESC"));
    EXPECT_EQ(clone->GetRecordCount(), 5);
    sorted->MoveFirst();
    EXPECT_EQ(X(sorted), 30);

    ASSERT_TRUE(PumpToEnd(sink));
    EXPECT_EQ(rs->GetRecordCount(), 600);
    EXPECT_EQ(clone->GetRecordCount(), 555);
    clone->MoveFirst();
    EXPECT_EQ(X(clone), 26);
    clone->MoveLast();
    EXPECT_EQ(X(clone), 580);
    // The sort places every new row; equal keys are impossible here, so the order is exact.
    sorted->MoveFirst();
    for (Int64 want = 600; want >= 1; --want, sorted->MoveNext()) ASSERT_EQ(X(sorted), want);
    rs->SetBookmark(mark);
    EXPECT_EQ(X(rs), 12);
    EXPECT_EQ(rs->GetAbsolutePosition(), 12);
}

TEST_F(FetchTest, CancelKeepsTheRowsFetchedAndReportsTheCancel) {
    ComPtr<TFetchSink> sink;
    auto rs = Prepared(sink);
    OpenOn(rs, EndlessRows, adAsyncFetchNonBlocking);
    ASSERT_TRUE(Pump([&] { return sink->Count("FetchProgress") >= 3; }));
    rs->Cancel();
    // FetchComplete came before Cancel returned, once.
    ASSERT_EQ(sink->Count("FetchComplete"), 1);
    const TFetchEvent& done = sink->Complete();
    EXPECT_EQ(done.Thread, FOwner);
    EXPECT_EQ(done.Status, adStatusErrorsOccurred);
    EXPECT_NE(done.Error.find("cancel"), std::string::npos) << done.Error;
    EXPECT_EQ(sink->Events.back().Name, "FetchComplete");
    ASSERT_GT(FConnection->GetErrors()->GetCount(), 0);
    EXPECT_EQ(N(FConnection->GetErrors()->GetItem(Variant(0))->GetDescription()), done.Error);
    // Every row reported stays, in order, and nothing more comes.
    const int kept = rs->GetRecordCount();
    EXPECT_EQ(kept, sink->LastProgress());
    EXPECT_EQ(rs->GetState(), adStateOpen);
    Com::ProcessMessages();
    EXPECT_EQ(rs->GetRecordCount(), kept);
    EXPECT_EQ(sink->Count("FetchComplete"), 1);
    Int64 want = 0;
    for (rs->MoveFirst(); !rs->GetEOF(); rs->MoveNext()) ASSERT_EQ(X(rs), ++want);
    EXPECT_EQ(want, kept);
    EXPECT_EQ(Exec(FConnection, "INSERT INTO items (name) VALUES ('kiwi')"), 1);
}

TEST_F(FetchTest, CancelFromAnotherThreadLeavesFetchCompleteToTheOwner) {
    ComPtr<TFetchSink> sink;
    auto rs = Prepared(sink);
    OpenOn(rs, EndlessRows, adAsyncFetchNonBlocking);
    std::thread other([&] { rs->Cancel(); });
    other.join();
    EXPECT_EQ(sink->Count("FetchComplete"), 0);
    ASSERT_TRUE(PumpToEnd(sink));
    EXPECT_EQ(sink->Complete().Thread, FOwner);
    EXPECT_EQ(sink->Complete().Status, adStatusErrorsOccurred);
    EXPECT_EQ(rs->GetState(), adStateOpen);
}

TEST_F(FetchTest, CloseAndReleaseStopTheFetch) {
    {
        ComPtr<TFetchSink> sink;
        auto rs = Prepared(sink);
        OpenOn(rs, EndlessRows, adAsyncFetchNonBlocking);
        ASSERT_TRUE(Pump([&] { return sink->Count("FetchProgress") >= 1; }));
        rs->Close();
        // The fetch ends (reporting the cancel) before the recordset closes.
        EXPECT_EQ(sink->Others, (std::vector<std::string>{"FetchComplete", "WillChangeRecordset",
                                                           "RecordsetChangeComplete"}));
        EXPECT_EQ(rs->GetState(), adStateClosed);
        EXPECT_EQ(FConnection->GetState(), adStateOpen);
    }
    {
        // Closing the connection closes the recordset and its fetch.
        ComPtr<TFetchSink> sink;
        auto rs = Prepared(sink);
        OpenOn(rs, EndlessRows, adAsyncFetchNonBlocking);
        FConnection->Close();
        EXPECT_EQ(sink->Count("FetchComplete"), 1);
        EXPECT_EQ(rs->GetState(), adStateClosed);
        FConnection->Open(W(ConnectionStringFor(FFile)), {}, {}, adConnectUnspecified);
    }
    // Released while fetching: the worker is joined, nothing is delivered later.
    auto sink = Com::MakeComObject<TFetchSink>();
    {
        auto rs = CoRecordset::Create();
        rs->SetCursorLocation(adUseClient);
        int cookie = 0;
        Com::InterfaceConnect(rs.Get(), DIID_RecordsetEvents, static_cast<RecordsetEventsVt*>(sink.Get()), cookie);
        OpenOn(rs, EndlessRows, adAsyncFetchNonBlocking);
        ASSERT_TRUE(Pump([&] { return sink->Count("FetchProgress") >= 1; }));
    }
    const std::size_t seen = sink->Events.size();
    Com::ProcessMessages();
    EXPECT_EQ(sink->Events.size(), seen);
    EXPECT_EQ(sink->Count("FetchComplete"), 0);
    EXPECT_EQ(FConnection->GetState(), adStateOpen);
    EXPECT_EQ(Exec(FConnection, "INSERT INTO items (name) VALUES ('kiwi')"), 1);
}

TEST_F(FetchTest, AFailureDuringTheFetchReachesFetchComplete) {
    ComPtr<TFetchSink> sink;
    auto rs = Prepared(sink);
    SetProperty(rs, "Initial Fetch Size", 20);
    SetProperty(rs, "Background Fetch Size", 50);
    // The column is an integer by its first value; row 200 holds text that is not a number.
    OpenOn(rs,
           "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 1000) "
           "SELECT CASE WHEN x = 200 THEN 'not a number' ELSE x END AS x FROM c",
           adAsyncFetchNonBlocking);
    ASSERT_TRUE(PumpToEnd(sink));
    const TFetchEvent& done = sink->Complete();
    EXPECT_EQ(done.Thread, FOwner);
    EXPECT_EQ(done.Status, adStatusErrorsOccurred);
    EXPECT_NE(done.Error.find("not a number"), std::string::npos) << done.Error;
    ASSERT_GT(FConnection->GetErrors()->GetCount(), 0);
    // The rows before the failing one stay, even those of its unfinished batch.
    EXPECT_EQ(rs->GetRecordCount(), 199);
    rs->MoveLast();
    EXPECT_EQ(X(rs), 199);
    EXPECT_EQ(rs->GetState(), adStateOpen);
    EXPECT_EQ(FConnection->GetState(), adStateOpen);
}

TEST_F(FetchTest, AsyncExecuteAndFetchTogetherKeepTheOwnerFree) {
    FConnection = CoConnection::Create();
    FConnection->Open(W(Patient()));
    auto events = Advise(FConnection);
    ComPtr<TFetchSink> sink;
    auto rs = Prepared(sink);
    SetProperty(rs, "Initial Fetch Size", 25);
    // The execution waits on the worker until the lock goes.
    auto lock = std::make_unique<TLockHolder>(FFile, "EXCLUSIVE");
    OpenOn(rs, "SELECT x FROM (" + Numbers(400) + ") JOIN items ON items.id = 1", adAsyncExecute | adAsyncFetch);
    EXPECT_EQ(rs->GetState(), adStateExecuting);
    lock.reset();
    ASSERT_TRUE(Pump([&] { return events->Count("ExecuteComplete") == 1; }));
    EXPECT_EQ(events->Last("ExecuteComplete").Status, adStatusOK);
    // The initial rows were read on the worker, before the recordset opened.
    EXPECT_EQ(X(rs), 1);
    rs->MoveLast();  // waits for the rest
    EXPECT_EQ(X(rs), 400);
    EXPECT_EQ(rs->GetRecordCount(), 400);
    ASSERT_EQ(sink->Count("FetchComplete"), 1);
    for (const auto& e : sink->Events) EXPECT_EQ(e.Thread, FOwner) << e.Name;
    EXPECT_EQ(FConnection->GetState(), adStateOpen);
}

TEST_F(FetchTest, CommandsAndRequeryFetchAsynchronouslyToo) {
    FConnection->SetCursorLocation(adUseClient);
    auto cmd = CoCommand::Create();
    cmd->SetActiveConnectionRef(FConnection.Get());
    cmd->SetCommandText(W(Numbers(300)));
    auto rs = cmd->Execute(nullptr, Variant(), adCmdText | adAsyncFetch);
    rs->MoveLast();
    EXPECT_EQ(rs->GetFields()->GetItem(Variant(0))->GetValue().ToInteger(), 300);

    auto direct = FConnection->Execute(W(Numbers(300)), nullptr, adCmdText | adAsyncFetchNonBlocking);
    ASSERT_TRUE(Pump([&] { return !(direct->GetState() & adStateFetching); }));
    EXPECT_EQ(direct->GetRecordCount(), 300);

    // Requery fetches again the same way; a fetch still running is cancelled first.
    ComPtr<TFetchSink> sink;
    auto again = Prepared(sink);
    OpenOn(again, EndlessRows, adAsyncFetchNonBlocking);
    again->Requery(adCmdText | adAsyncFetchNonBlocking);
    ASSERT_EQ(sink->Count("FetchComplete"), 1);
    EXPECT_EQ(sink->Complete().Status, adStatusErrorsOccurred);
    EXPECT_EQ(again->GetState(), adStateOpen | adStateFetching);
    again->Cancel();
    EXPECT_EQ(sink->Count("FetchComplete"), 2);
}


// The same fetch over each provider: batches in order with their progress,
// then a fetch without end stopped by the provider's own cancel.
class FetchProviderTest : public TAdoProviderTest {};

TEST_P(FetchProviderTest, FetchesInBatchesAndCancelStopsTheProvider) {
    const std::thread::id owner = std::this_thread::get_id();
    auto c = Connect();
    auto open = [&](const std::string& sql, ComPtr<TFetchSink>& sink) {
        auto rs = CoRecordset::Create();
        rs->SetCursorLocation(adUseClient);
        sink = Com::MakeComObject<TFetchSink>();
        int cookie = 0;
        EXPECT_EQ(Com::InterfaceConnect(rs.Get(), DIID_RecordsetEvents, static_cast<RecordsetEventsVt*>(sink.Get()),
                                        cookie),
                  S_OK);
        rs->GetProperties()->GetItem(Variant("Background Fetch Size"))->SetValue(Variant(100));
        rs->Open(Variant(W(sql)), Com::VarFromInterface(c), adOpenStatic, adLockReadOnly,
                 adCmdText | adAsyncFetchNonBlocking);
        return rs;
    };
    {
        ComPtr<TFetchSink> sink;
        auto rs = open(Numbers(3000), sink);
        EXPECT_EQ(rs->GetRecordCount(), 50);
        ASSERT_TRUE(Com::PumpUntil([&] { return sink->Count("FetchComplete") == 1; }, PumpLimit));
        EXPECT_EQ(sink->Complete().Status, adStatusOK) << sink->Complete().Error;
        EXPECT_EQ(sink->LastProgress(), 3000);
        for (const auto& e : sink->Events) EXPECT_EQ(e.Thread, owner) << e.Name;
        Int64 want = 0;
        for (rs->MoveFirst(); !rs->GetEOF(); rs->MoveNext())
            ASSERT_EQ(FieldValue(rs, "x").ToInt64(), ++want);
        EXPECT_EQ(want, 3000);
    }
    {
        ComPtr<TFetchSink> sink;
        auto rs = open("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c", sink);
        ASSERT_TRUE(Com::PumpUntil([&] { return sink->Count("FetchProgress") >= 3; }, PumpLimit));
        rs->Cancel();
        ASSERT_EQ(sink->Count("FetchComplete"), 1);
        EXPECT_EQ(sink->Complete().Status, adStatusErrorsOccurred);
        EXPECT_NE(sink->Complete().Error.find("cancel"), std::string::npos) << sink->Complete().Error;
        EXPECT_EQ(rs->GetRecordCount(), sink->LastProgress());
        rs->MoveLast();
        EXPECT_EQ(FieldValue(rs, "x").ToInt64(), rs->GetRecordCount());
    }
    // The session serves the next statement.
    auto rs = c->Execute(W("SELECT count(*) AS n FROM items"), nullptr, adCmdText);
    EXPECT_EQ(FieldValue(rs, "n").ToInteger(), 4);
}

VELORA_PROVIDER_SUITE(FetchProviderTest);

}  // namespace
}  // namespace AdoTest
