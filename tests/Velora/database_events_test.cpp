// TADODatabase: the connection events, end to end through the event sink.
#include "Platform/vcl/Forms.h"
#include "tests/Velora/database_fixture.h"

namespace SpineTest {
namespace {

// How many sinks the connection's event point holds.
int SinkCount(const ComPtr<Connection15>& c) {
    auto container = c.As<Com::IConnectionPointContainer>();
    ComPtr<Com::IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(DIID_ConnectionEvents, point.Put()), Com::S_OK);
    std::vector<Com::TConnectData> connections;
    point->EnumConnections(connections);
    return static_cast<int>(connections.size());
}

TEST_F(DatabaseTest, EveryConnectionEventArrivesInOrder) {
    LogAllEvents();
    Db->Open();
    Db->StartTransaction();
    Db->ExecSQL("insert into t(name) values ('x')");
    Db->StartTransaction();
    Db->Rollback();
    Db->Commit();
    // A recordset whose cursor type ADO has to change brings an informational message.
    auto rs = CoRecordset::Create();
    rs->SetCursorLocation(adUseServer);
    rs->Open(Variant(W("select * from t")), Com::VarFromInterface(Db->GetHandle()), adOpenDynamic, adLockReadOnly,
             adCmdText);
    rs->Close();
    Db->Close();
    const std::vector<String> expected = {
        "WillConnect",
        "ConnectComplete",
        "BeginTransComplete 1",
        "WillExecute insert into t(name) values ('x') 129",
        "ExecuteComplete 1",
        "BeginTransComplete 2",
        "RollbackTransComplete",
        "CommitTransComplete",
        "WillExecute select * from t 1",
        "InfoMessage",
        "ExecuteComplete -1",
        "Disconnect",
    };
    EXPECT_EQ(Log, expected);
}

TEST_F(DatabaseTest, NoHandlerAtOpenMeansNoSink) {
    Db->Open();
    EXPECT_EQ(SinkCount(Db->GetHandle()), 0);
    // A handler assigned now waits for the next Open.
    LogAllEvents();
    Db->ExecSQL("insert into t(name) values ('unseen')");
    EXPECT_TRUE(Log.empty());
    Db->Close();
    Db->Open();
    EXPECT_EQ(SinkCount(Db->GetHandle()), 1);
    Log.clear();
    Db->ExecSQL("insert into t(name) values ('seen')");
    EXPECT_EQ(Log.size(), 2u);
}

TEST_F(DatabaseTest, ClosingTakesTheSinkOffTheConnection) {
    const ComPtr<_Connection> external = CoConnection::Create();
    external->Open(W("Provider=SQLite;Data Source=" + File));
    Db->SetExternalConnection(external);
    LogAllEvents();
    Db->Open();
    EXPECT_EQ(SinkCount(external), 1);
    Db->Close();
    EXPECT_EQ(SinkCount(external), 0);
    Log.clear();
    Variant affected;
    external->Execute(W("insert into t(name) values ('after')"), &affected, ExecNoRecords);
    EXPECT_TRUE(Log.empty());
    // And freeing the component leaves the application's connection usable.
    Db->Open();
    Db.reset();
    EXPECT_EQ(SinkCount(external), 0);
    external->Execute(W("insert into t(name) values ('after free')"), &affected, ExecNoRecords);
    EXPECT_EQ(Rows(), 2);
}

// A database that counts how often ADO calls each dispatcher.
class TCountingDatabase : public TADODatabase {
public:
    using TADODatabase::TADODatabase;
    int BeginTransCalls = 0;
    int CommitTransCalls = 0;

protected:
    void DoADOBeginTransComplete(int Level, Error* Error, EventStatusEnum& Status) override {
        ++BeginTransCalls;
        TADODatabase::DoADOBeginTransComplete(Level, Error, Status);
    }
    void DoADOCommitTransComplete(Error* Error, EventStatusEnum& Status) override {
        ++CommitTransCalls;
        TADODatabase::DoADOCommitTransComplete(Error, Status);
    }
};

TEST_F(DatabaseTest, AnEventWithoutHandlerIsDeclinedForTheConnection) {
    TCountingDatabase db(nullptr);
    db.SetDatabaseConnect("Data Source=" + File);
    int commits = 0;
    db.SetADOCommitTransComplete([&](TADODatabase*, Error*, EventStatusEnum&) { ++commits; });
    db.Open();
    for (int i = 0; i < 3; ++i) {
        db.StartTransaction();
        db.Commit();
    }
    // Unassigned: answered adStatusUnwantedEvent once, then never raised again.
    EXPECT_EQ(db.BeginTransCalls, 1);
    EXPECT_EQ(db.CommitTransCalls, 3);
    EXPECT_EQ(commits, 3);
}

TEST_F(DatabaseTest, HandlersChangeWhatAdoDoes) {
    // WillConnect's var arguments: connect to another file.
    const std::string other = Dir.File("other.db");
    SqliteExec(other, "create table t(id integer primary key, name text)");
    Db->SetADOWillConnect(
        [&](TADODatabase*, WideString& connectionString, WideString&, WideString&, int&, EventStatusEnum&) {
            connectionString = W("Provider=SQLite;Data Source=" + other);
        });
    // WillExecute: rewrite one statement, cancel another.
    Db->SetADOWillExecute([](TADODatabase*, WideString& source, CursorTypeEnum&, LockTypeEnum&, int&,
                             EventStatusEnum& status, _Command*, _Recordset*) {
        if (N(source) == "insert forbidden") status = adStatusCancel;
        if (N(source) == "insert rewritten") source = u"insert into t(name) values ('rewritten')";
    });
    Db->Open();
    Db->ExecSQL("insert rewritten");
    EXPECT_THROW(Db->ExecSQL("insert forbidden"), Com::EOleException);
    EXPECT_EQ(SqliteInt(other, "select count(*) from t where name = 'rewritten'"), 1);
    EXPECT_EQ(Rows(), 0);
}

TEST_F(DatabaseTest, AFailingHandlerIsShownAndTheOperationGoesOn) {
    std::vector<String> shown;
    Vcl::Application->SetOnException([&](Rtl::TObject* sender, const std::exception& e) {
        EXPECT_EQ(sender, Db.get());
        shown.push_back(e.what());
    });
    Db->SetADOExecuteComplete([](TADODatabase*, int, Error*, EventStatusEnum&, _Command*, _Recordset*) {
        throw Rtl::Exception("handler broke");
    });
    Db->Open();
    Db->ExecSQL("insert into t(name) values ('kept')");
    Vcl::Application->SetOnException(nullptr);
    EXPECT_EQ(shown, std::vector<String>{"handler broke"});
    EXPECT_EQ(Rows(), 1);
}

TEST_F(DatabaseTest, FailuresArriveWithTheirErrorObject) {
    String described;
    Db->SetADOExecuteComplete([&](TADODatabase*, int, Error* error, EventStatusEnum& status, _Command*, _Recordset*) {
        EXPECT_EQ(status, adStatusErrorsOccurred);
        if (error) described = N(error->GetDescription());
    });
    Db->Open();
    EXPECT_THROW(Db->ExecSQL("select * from missing_table"), Com::EOleException);
    EXPECT_NE(described.find("missing_table"), String::npos) << described;
}

}  // namespace
}  // namespace SpineTest
