// TADODatabase: transactions and their levels, closing inside transactions,
// ExecSQL, the closed-database checks and the asynchronous options.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "tests/Velora/database_fixture.h"

namespace SpineTest {
namespace {

TEST_F(DatabaseTest, NestedTransactionsCountTheLevelsAdoReports) {
    Db->Open();
    EXPECT_FALSE(Db->InTransaction());
    EXPECT_EQ(Db->StartTransaction(), 1);
    Db->ExecSQL("insert into t(name) values ('outer')");
    EXPECT_EQ(Db->StartTransaction(), 2);
    EXPECT_EQ(Db->GetTransactionLevel(), 2);
    Db->ExecSQL("insert into t(name) values ('inner')");
    Db->Rollback();  // the inner level only
    EXPECT_EQ(Db->GetTransactionLevel(), 1);
    EXPECT_TRUE(Db->InTransaction());
    EXPECT_EQ(Db->StartTransaction(), 2);
    Db->ExecSQL("insert into t(name) values ('inner again')");
    Db->Commit();
    EXPECT_EQ(Db->GetTransactionLevel(), 1);
    EXPECT_EQ(Rows(), 0) << "nothing is visible before the outer commit";
    Db->Commit();
    EXPECT_FALSE(Db->InTransaction());
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(SqliteInt(File, "select count(*) from t where name = 'inner'"), 0);
}

TEST_F(DatabaseTest, RetainingAttributesKeepTheLevel) {
    struct TCase {
        TConnectionAttributes Attributes;
        bool Commit;
        int LevelAfter;
    };
    const TCase cases[] = {
        {TConnectionAttributes{caTransCommitRetaining}, true, 1},
        {TConnectionAttributes{caTransCommitRetaining}, false, 0},
        {TConnectionAttributes{caTransAbortRetaining}, false, 1},
        {TConnectionAttributes{caTransAbortRetaining}, true, 0},
        {TConnectionAttributes{}, true, 0},
        {TConnectionAttributes{}, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "attributes " << c.Attributes.Bits() << (c.Commit ? " commit" : " rollback"));
        Db->SetConnectionAttributes(c.Attributes);
        Db->Open();
        Db->StartTransaction();
        Db->ExecSQL("insert into t(name) values ('x')");
        if (c.Commit) Db->Commit();
        else Db->Rollback();
        EXPECT_EQ(Db->GetTransactionLevel(), c.LevelAfter);
        EXPECT_EQ(Db->InTransaction(), c.LevelAfter > 0);
        // A retained transaction really is one: what follows is undone with it.
        Db->ExecSQL("insert into t(name) values ('y')");
        Db->Close();
        EXPECT_FALSE(Db->InTransaction());
        Db->Open();
        Db->ExecSQL("delete from t");
        Db->Close();
    }
}

TEST_F(DatabaseTest, CloseRollsBackEveryLevelAfterClosingTheDatasets) {
    Db->SetADORollbackTransComplete(
        [this](TADODatabase*, Error*, EventStatusEnum&) { Log.push_back("RollbackTransComplete"); });
    Db->SetADODisconnect([this](TADODatabase*, EventStatusEnum&) { Log.push_back("Disconnect"); });
    TStandInDataSet a(nullptr, &Log), b(nullptr, &Log);
    a.SetName("A");
    b.SetName("B");
    a.SetDatabase(Db.get());
    b.SetDatabase(Db.get());
    a.Open();
    b.Open();
    Db->StartTransaction();
    Db->ExecSQL("insert into t(name) values ('one')");
    Db->StartTransaction();
    Db->ExecSQL("insert into t(name) values ('two')");
    Log.clear();

    Db->Close();
    EXPECT_EQ(Log, (std::vector<String>{"close B", "close A", "RollbackTransComplete", "RollbackTransComplete",
                                        "Disconnect"}));
    EXPECT_EQ(Db->GetTransactionLevel(), 0);
    EXPECT_EQ(Rows(), 0);
}

TEST_F(DatabaseTest, CloseEndsEvenWhenTheRetainingAttributesAreSet) {
    // With abort-retaining left on, every rollback would begin a new
    // transaction: Close clears the attributes first.
    Db->SetConnectionAttributes(TConnectionAttributes{caTransCommitRetaining, caTransAbortRetaining});
    Db->Open();
    Db->StartTransaction();
    Db->StartTransaction();
    Db->ExecSQL("insert into t(name) values ('gone')");
    Db->Close();
    EXPECT_FALSE(Db->GetConnected());
    EXPECT_EQ(Db->GetTransactionLevel(), 0);
    EXPECT_EQ(Rows(), 0);
    // The stored setting survives and is pushed at the next Open.
    EXPECT_EQ(Db->GetConnectionAttributes(), (TConnectionAttributes{caTransCommitRetaining, caTransAbortRetaining}));
    Db->Open();
    EXPECT_EQ(Db->GetHandle()->GetAttributes(), adXactCommitRetaining + adXactAbortRetaining);
}

TEST_F(DatabaseTest, OperationsOnAClosedDatabaseRaiseTheClosedDatabaseError) {
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"StartTransaction", [&] { Db->StartTransaction(); }},
        {"Commit", [&] { Db->Commit(); }},
        {"Rollback", [&] { Db->Rollback(); }},
        {"ExecSQL", [&] { Db->ExecSQL("delete from t"); }},
        {"CancelAsync", [&] { Db->CancelAsync(); }},
        {"GetErrors", [&] { Db->GetErrors(); }},
        {"CheckActive", [&] { Db->CheckActive(); }},
    };
    for (const auto& [name, op] : operations) {
        SCOPED_TRACE(name);
        EXPECT_EQ(MessageOf<Db::EDatabaseError>(op), "Cannot perform this operation on a closed database");
    }
    Db->SetName("Orders");
    EXPECT_EQ(MessageOf<Db::EDatabaseError>([&] { Db->ExecSQL("delete from t"); }),
              "Orders: Cannot perform this operation on a closed database");
}

TEST_F(DatabaseTest, ExecSqlRunsWithoutRecordsAndReportsFailuresThroughAdo) {
    LogAllEvents();
    Db->Open();
    Log.clear();
    Db->ExecSQL("insert into t(name) values ('a'); insert into t(name) values ('b')");
    EXPECT_EQ(Rows(), 2);
    ASSERT_EQ(Log.size(), 2u);
    // ExecNoRecords.
    EXPECT_EQ(Log[0], "WillExecute insert into t(name) values ('a'); insert into t(name) values ('b') 129");
    EXPECT_EQ(Log[1], "ExecuteComplete 2");

    const std::string message = MessageOf<Com::EOleException>([&] { Db->ExecSQL("insert into nowhere values (1)"); });
    EXPECT_NE(message.find("nowhere"), std::string::npos) << message;
    EXPECT_TRUE(Db->GetConnected());
    const ComPtr<Errors> errors = Db->GetErrors();
    ASSERT_EQ(errors->GetCount(), 1);
    EXPECT_EQ(N(errors->GetItem(Variant(0))->GetDescription()), message);
}

// A statement that runs until it is cancelled: an endless recursive count.
constexpr const char* EndlessStatement =
    "with recursive c(x) as (select 1 union all select x + 1 from c) select count(*) from c";

TEST_F(DatabaseTest, AsyncExecuteReturnsAtOnceAndCompletesOnTheOwnersThread) {
    Db->SetConnectionOptions(TConnectionOptions{coAsyncExecute});
    LogAllEvents();
    std::thread::id completedOn;
    Db->SetADOExecuteComplete([&](TADODatabase*, int affected, Error* error, EventStatusEnum&, _Command*, _Recordset*) {
        completedOn = std::this_thread::get_id();
        Log.push_back("ExecuteComplete " + std::to_string(affected) + (error ? " error" : ""));
    });
    Db->Open();
    Log.clear();
    Db->ExecSQL("insert into t(name) values ('later')");
    ASSERT_EQ(Log.size(), 1u);
    EXPECT_EQ(Log[0], "WillExecute insert into t(name) values ('later') " + std::to_string(ExecNoRecords + int{adAsyncExecute}));
    ASSERT_TRUE(Com::PumpUntil([&] { return Log.size() == 2; }, std::chrono::seconds(30)));
    EXPECT_EQ(Log[1], "ExecuteComplete 1");
    EXPECT_EQ(completedOn, std::this_thread::get_id());
    EXPECT_FALSE(Db->StillExecuting());
    EXPECT_EQ(Rows(), 1);
}

TEST_F(DatabaseTest, CancelAsyncStopsARunningExecution) {
    Db->SetConnectionOptions(TConnectionOptions{coAsyncExecute});
    std::vector<String> completions;
    Db->SetADOExecuteComplete([&](TADODatabase*, int, Error* error, EventStatusEnum& status, _Command*, _Recordset*) {
        completions.push_back(error ? N(error->GetDescription()) : "no error");
        EXPECT_EQ(status, error ? adStatusErrorsOccurred : adStatusOK);
    });
    Db->Open();
    Db->ExecSQL(EndlessStatement);
    // The statement never ends by itself, so it is still running here.
    EXPECT_TRUE(Db->StillExecuting());
    EXPECT_TRUE(Db->GetConnected());
    Db->CancelAsync();
    ASSERT_TRUE(Com::PumpUntil([&] { return !Db->StillExecuting() && !completions.empty(); }, std::chrono::seconds(30)));
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_NE(completions[0].find("cancel"), std::string::npos) << completions[0];
    // The connection stays open and usable.
    EXPECT_TRUE(Db->GetConnected());
    Db->ExecSQL("insert into t(name) values ('after the cancel')");
    ASSERT_TRUE(Com::PumpUntil([&] { return completions.size() == 2; }, std::chrono::seconds(30)));
    EXPECT_EQ(completions[1], "no error");
    EXPECT_EQ(Rows(), 1);
}

TEST_F(DatabaseTest, ClosingDuringAnAsyncExecutionEndsIt) {
    Db->SetConnectionOptions(TConnectionOptions{coAsyncExecute});
    Db->Open();
    Db->ExecSQL(EndlessStatement);
    EXPECT_TRUE(Db->StillExecuting());
    Db->Close();
    EXPECT_FALSE(Db->GetConnected());
    EXPECT_FALSE(Db->StillExecuting());
}

TEST_F(DatabaseTest, AsyncConnectReportsConnectingUntilTheOutcomeArrives) {
    Db->SetConnectionOptions(TConnectionOptions{coAsyncConnect});
    LogAllEvents();
    std::thread::id completedOn;
    Db->SetADOConnectComplete([&](TADODatabase*, Error* error, EventStatusEnum&) {
        completedOn = std::this_thread::get_id();
        Log.push_back(error ? "ConnectComplete error" : "ConnectComplete");
    });
    Db->Open();
    ASSERT_FALSE(Log.empty());
    EXPECT_EQ(Log[0], "WillConnect");
    ASSERT_TRUE(Com::PumpUntil([&] { return Db->GetConnected(); }, std::chrono::seconds(30)));
    EXPECT_FALSE(Db->StillConnecting());
    ASSERT_EQ(Log.size(), 2u);
    EXPECT_EQ(Log[1], "ConnectComplete");
    EXPECT_EQ(completedOn, std::this_thread::get_id());
    // A second Open while open changes nothing; the connection works.
    Db->Open();
    Db->ExecSQL("insert into t(name) values ('connected')");
    EXPECT_EQ(Rows(), 1);
}

// A TCP port that accepts connections and never says a word: a server
// connect to it waits until it is cancelled (or times out).
class TSilentServer {
public:
    TSilentServer() {
        FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (FSocket < 0 || ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(FSocket, 4) != 0 || ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        FPort = ntohs(address.sin_port);
    }
    ~TSilentServer() { ::close(FSocket); }
    int Port() const { return FPort; }

private:
    int FSocket = -1;
    int FPort = 0;
};

TEST_F(DatabaseTest, CancelAsyncStopsAConnectThatWouldWait) {
    TSilentServer server;
    Db->SetDatabaseProvider("PostgreSQL");
    Db->SetDatabaseConnect("Data Source=127.0.0.1:" + std::to_string(server.Port()) +
                           ";Initial Catalog=none;User ID=nobody");
    Db->SetConnectionTimeout(60);
    Db->SetConnectionOptions(TConnectionOptions{coAsyncConnect});
    std::vector<String> completions;
    Db->SetADOConnectComplete([&](TADODatabase*, Error* error, EventStatusEnum&) {
        completions.push_back(error ? N(error->GetDescription()) : "connected");
    });
    Db->Open();
    // The server never answers, so the connect is still under way.
    EXPECT_TRUE(Db->StillConnecting());
    EXPECT_FALSE(Db->GetConnected());
    Db->CancelAsync();
    ASSERT_TRUE(Com::PumpUntil([&] { return !Db->StillConnecting() && !completions.empty(); },
                               std::chrono::seconds(30)));
    EXPECT_FALSE(Db->GetConnected());
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_NE(completions[0].find("cancel"), std::string::npos) << completions[0];
}

TEST_F(DatabaseTest, CancelAsyncWithNothingRunningChangesNothing) {
    Db->Open();
    Db->CancelAsync();
    EXPECT_TRUE(Db->GetConnected());
    Db->ExecSQL("insert into t(name) values ('still works')");
    EXPECT_EQ(Rows(), 1);
}

TEST_F(DatabaseTest, TheOldestGenerationStillGetsEveryService) {
    Db->SetUseADOVersion(avADO15);
    Db->Open();
    EXPECT_EQ(Db->StartTransaction(), 1);
    Db->ExecSQL("insert into t(name) values ('ado 1.5')");
    Db->Commit();
    Db->CancelAsync();
    EXPECT_EQ(Rows(), 1);
}

}  // namespace
}  // namespace SpineTest
