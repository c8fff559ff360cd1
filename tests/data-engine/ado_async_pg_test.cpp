// Asynchronous connect and execute on the PostgreSQL server: the work runs on
// a worker thread, ExecuteComplete arrives on the owner's thread, and Cancel
// interrupts a statement the server is running (the server's own cancel, not
// a local interrupt as with SQLite).
//
// A worker is held at a known point by a row lock another connection keeps in
// an open transaction; it goes on when that transaction commits.
#include <thread>

#include "Platform/com/Apartment.h"
#include "tests/data-engine/AsyncTestSupport.h"

namespace AdoTest {
namespace {

using Com::HRESULT;
using Com::S_OK;

constexpr auto PumpLimit = std::chrono::seconds(60);

// Sleeps far longer than any test waits: it ends early only when cancelled.
constexpr const char* Sleeper = "SELECT pg_sleep(100) AS slept";

class AsyncPgTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELORA_REQUIRE_PG();
        FSchema = std::make_unique<EngineTest::TPgSchema>();
        auto s = FSchema->Open();
        EngineTest::Exec(*s, "CREATE TABLE items (id SERIAL PRIMARY KEY, name VARCHAR(20) NOT NULL, qty INT)");
        EngineTest::Exec(*s, "INSERT INTO items (name, qty) VALUES ('apple', 10), ('pear', 5)");
    }
    ComPtr<_Connection> Connect() {
        auto c = CoConnection::Create();
        c->Open(W(FSchema->ConnectionString()));
        return c;
    }
    ComPtr<TSink> Advise(const ComPtr<_Connection>& c) {
        auto sink = Com::MakeComObject<TSink>();
        int cookie = 0;
        EXPECT_EQ(Com::InterfaceConnect(c.Get(), DIID_ConnectionEvents, static_cast<ConnectionEventsVt*>(sink.Get()),
                                        cookie),
                  S_OK);
        return sink;
    }
    bool Pump(const std::function<bool()>& done) { return Com::PumpUntil(done, PumpLimit); }
    const std::thread::id FOwner = std::this_thread::get_id();
    std::unique_ptr<EngineTest::TPgSchema> FSchema;
};

TEST_F(AsyncPgTest, ConnectRunsOnAWorkerAndCompletesOnTheOwnersThread) {
    auto c = CoConnection::Create();
    auto sink = Advise(c);
    c->Open(W(FSchema->ConnectionString()), {}, {}, adAsyncConnect);
    ASSERT_TRUE(Pump([&] { return sink->Count("ConnectComplete") == 1; }));
    EXPECT_EQ(sink->Last("ConnectComplete").Thread, FOwner);
    EXPECT_EQ(sink->Last("ConnectComplete").Status, adStatusOK) << sink->Last("ConnectComplete").Error;
    EXPECT_EQ(c->GetState(), adStateOpen);
    EXPECT_EQ(FieldValue(c->Execute(u"SELECT count(*) AS n FROM items", nullptr, adCmdText), "n").ToInteger(), 2);
}

TEST_F(AsyncPgTest, AnExecutionWaitingForARowLockCompletesWhenTheLockGoes) {
    auto holder = Connect();
    holder->BeginTrans();
    Exec(holder, "UPDATE items SET qty = 11 WHERE id = 1");
    auto c = Connect();
    auto sink = Advise(c);
    c->Execute(u"UPDATE items SET qty = qty + 1", nullptr, adCmdText | adExecuteNoRecords | adAsyncExecute);
    // The update waits on the server for the row the other transaction holds.
    EXPECT_EQ(c->GetState(), adStateOpen | adStateExecuting);
    EXPECT_EQ(OleCode([&] { c->BeginTrans(); }), AdoCode(adErrStillExecuting));
    EXPECT_EQ(sink->Count("ExecuteComplete"), 0);
    holder->CommitTrans();
    ASSERT_TRUE(Pump([&] { return sink->Count("ExecuteComplete") == 1; }));
    const TEvent& done = sink->Last("ExecuteComplete");
    EXPECT_EQ(done.Thread, FOwner);
    EXPECT_EQ(done.Status, adStatusOK) << done.Error;
    EXPECT_EQ(done.Affected, 2);
    EXPECT_EQ(c->GetState(), adStateOpen);
    // It ran after the other transaction's change, not over it.
    auto rs = c->Execute(u"SELECT qty FROM items WHERE id = 1", nullptr, adCmdText);
    EXPECT_EQ(FieldValue(rs, "qty").ToInteger(), 12);
}

TEST_F(AsyncPgTest, CancelStopsAStatementTheServerIsRunning) {
    auto c = Connect();
    auto sink = Advise(c);
    auto rs = c->Execute(W(Sleeper), nullptr, adCmdText | adAsyncExecute);
    EXPECT_EQ(c->GetState(), adStateOpen | adStateExecuting);
    c->Cancel();
    // ExecuteComplete has come before Cancel returned.
    ASSERT_EQ(sink->Count("ExecuteComplete"), 1);
    const TEvent& done = sink->Last("ExecuteComplete");
    EXPECT_EQ(done.Thread, FOwner);
    EXPECT_EQ(done.Status, adStatusErrorsOccurred);
    EXPECT_NE(done.Error.find("cancel"), std::string::npos) << done.Error;
    EXPECT_EQ(c->GetState(), adStateOpen);
    EXPECT_EQ(rs->GetState(), adStateClosed);
    // The session goes on working, outside any transaction the cancel could have left behind.
    EXPECT_EQ(Exec(c, "INSERT INTO items (name) VALUES ('kiwi')"), 1);
    auto other = Connect();
    EXPECT_EQ(FieldValue(other->Execute(u"SELECT count(*) AS n FROM items", nullptr, adCmdText), "n").ToInteger(), 3);
}

TEST_F(AsyncPgTest, RecordsetCancelStopsItsExecutionAndItOpensAgain) {
    auto c = Connect();
    auto sink = Advise(c);
    auto rs = CoRecordset::Create();
    rs->SetCursorLocation(adUseClient);
    rs->Open(Variant(W(Sleeper)), Com::VarFromInterface(c), adOpenStatic, adLockReadOnly, adCmdText | adAsyncExecute);
    EXPECT_EQ(rs->GetState(), adStateExecuting);
    rs->Cancel();
    EXPECT_EQ(rs->GetState(), adStateClosed);
    EXPECT_EQ(c->GetState(), adStateOpen);
    ASSERT_EQ(sink->Count("ExecuteComplete"), 1);
    EXPECT_EQ(sink->Last("ExecuteComplete").Status, adStatusErrorsOccurred);
    rs->Open(Variant(u"SELECT name FROM items ORDER BY id"), Com::VarFromInterface(c), adOpenStatic, adLockReadOnly,
             adCmdText);
    EXPECT_EQ(rs->GetRecordCount(), 2);
    EXPECT_EQ(FieldValue(rs, "name").ToString(), "apple");
}

}  // namespace
}  // namespace AdoTest
