// TADODatabase: transactions and their levels, closing inside transactions,
// ExecSQL, the closed-database checks and the asynchronous options.
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

TEST_F(DatabaseTest, AsyncExecuteOptionReachesAdo) {
    Db->SetConnectionOptions(TConnectionOptions{coAsyncExecute});
    int options = 0;
    Db->SetADOWillExecute([&](TADODatabase*, WideString&, CursorTypeEnum&, LockTypeEnum&, int& o, EventStatusEnum&,
                              _Command*, _Recordset*) { options = o; });
    Db->Open();
    try {
        Db->ExecSQL("insert into t(name) values ('later')");
    } catch (const Com::EOleException& e) {
        // An engine without asynchronous execution says so, naming it.
        EXPECT_EQ(e.ErrorCode(), Com::E_NOTIMPL);
        EXPECT_NE(e.Description().find("Asynchronous execution"), std::string::npos) << e.Description();
        return;
    }
    EXPECT_EQ(options, ExecNoRecords + int{adAsyncExecute});
    EXPECT_TRUE(Com::PumpUntil([&] { return !Db->StillExecuting(); }, std::chrono::seconds(30)));
    EXPECT_EQ(Rows(), 1);
}

TEST_F(DatabaseTest, AsyncConnectOptionReachesAdo) {
    Db->SetConnectionOptions(TConnectionOptions{coAsyncConnect});
    try {
        Db->Open();
    } catch (const Com::EOleException& e) {
        EXPECT_EQ(e.ErrorCode(), Com::E_NOTIMPL);
        EXPECT_NE(e.Description().find("Asynchronous connecting"), std::string::npos) << e.Description();
        EXPECT_FALSE(Db->GetConnected());
        EXPECT_FALSE(Db->StillConnecting());
        return;
    }
    // An engine that connects asynchronously: the component reports connecting until it is open.
    EXPECT_TRUE(Com::PumpUntil([&] { return !Db->StillConnecting(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(Db->GetConnected());
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
