// The Connection object: creation through the registry, opening, settings,
// Execute, transactions, Errors, Properties and schema rowsets.
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "tests/data-engine/ado_support.h"

namespace AdoTest {
namespace {

using Com::OleCall;
using Com::OleGet;

// Over each provider.
class ConnectionTest : public TAdoProviderTest {};
// What only SQLite's files show, and what needs no data source.
class ConnectionSqliteTest : public TAdoFixture {};

TEST(AdoRegistry, ConnectionIsCreatedByProgIdAndReadsVersionLateBound) {
    auto disp = Com::CreateOleObject("ADODB.Connection");
    EXPECT_EQ(OleGet(disp, "Version").ToString(), "2.8");
    // Every generation of the interface is there, in one object.
    auto c15 = Com::ComPtr<Com::IDispatch>(disp).As<Connection15>();
    EXPECT_TRUE(c15.TryAs<_Connection>());
    EXPECT_TRUE(Com::IsSameObject(c15, Com::ComPtr<Com::IDispatch>(disp)));
    for (const char* progId : {"ADODB.Command", "ADODB.Recordset", "ADODB.Parameter", "ADODB.Connection.2.8"})
        EXPECT_TRUE(Com::CreateOleObject(progId)) << progId;
    auto rs = CoRecordset::Create();
    EXPECT_TRUE(rs.TryAs<Recordset15>() && rs.TryAs<Recordset20>() && rs.TryAs<Recordset21>());
    auto cmd = CoCommand::Create();
    EXPECT_TRUE(cmd.TryAs<Command15>() && cmd.TryAs<Command25>());
}

TEST(AdoRegistry, HiddenServerMeansClassNotRegistered) {
    Com::CreateOleObject("ADODB.Connection");  // the module is loaded
    Com::HideComServer("libvelora_data_engine.so");
    const auto byProgId = OleCode([] { Com::CreateOleObject("ADODB.Connection"); });
    const auto byClass = OleCode([] { CoConnection::Create(); });
    Com::HideComServer("libvelora_data_engine.so", false);
    EXPECT_EQ(byProgId, Com::CO_E_CLASSSTRING);
    EXPECT_EQ(byClass, Com::REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(CoConnection::Create());
}

TEST_P(ConnectionTest, OpensAndClosesAndReportsItsState) {
    auto c = CoConnection::Create();
    EXPECT_EQ(c->GetState(), adStateClosed);
    EXPECT_EQ(c->GetVersion(), u"2.8");
    c->Open(W(ConnectionString()));
    EXPECT_EQ(c->GetState(), adStateOpen);
    EXPECT_EQ(N(c->GetProvider()), GetParam());
    EXPECT_NE(N(c->GetConnectionString()).find("Provider=" + GetParam() + ";"), std::string::npos);
    EXPECT_EQ(N(c->GetDefaultDatabase()), IsPostgres() ? EngineTest::PgEnv("VELORA_PG_DATABASE", "postgres") : "main");
    // The level the data source really gives.
    EXPECT_EQ(c->GetIsolationLevel(), IsPostgres() ? adXactReadCommitted : adXactSerializable);
    EXPECT_EQ(OleCode([&] { c->Open(W(ConnectionString())); }), AdoCode(adErrObjectOpen));
    c->Close();
    EXPECT_EQ(c->GetState(), adStateClosed);
    EXPECT_EQ(OleCode([&] { c->Close(); }), AdoCode(adErrObjectClosed));
    // Reopening with the stored connection string.
    c->Open();
    EXPECT_EQ(c->GetState(), adStateOpen);
}

TEST_F(ConnectionSqliteTest, BadConnectionsGiveClearErrors) {
    struct TCase {
        std::string ConnectionString;
        std::string Expected;  // part of the description
    };
    const std::string missing = FDir.File("missing.db");
    const std::vector<TCase> cases = {
        {"Provider=SQLite;Data Source='unterminated", "unterminated"},
        {"Provider=NoSuchProvider;Data Source=x.db", "NoSuchProvider"},
        {"Provider=SQLite", "Data Source"},
        {"Provider=SQLite;Mode=Read;Data Source=" + missing, "missing.db"},
        {"Provider=SQLite;Mode=Sideways;Data Source=" + missing, "Sideways"},
    };
    for (const auto& tc : cases) {
        auto c = CoConnection::Create();
        const std::string message = OleError([&] { c->Open(W(tc.ConnectionString)); });
        EXPECT_NE(message.find(tc.Expected), std::string::npos) << tc.ConnectionString << " -> " << message;
        EXPECT_EQ(c->GetState(), adStateClosed);
        // The failure is in the connection's Errors too.
        ASSERT_EQ(c->GetErrors()->GetCount(), 1) << tc.ConnectionString;
        EXPECT_EQ(N(c->GetErrors()->GetItem(Variant(0))->GetDescription()), message);
    }
}

TEST_F(ConnectionSqliteTest, ReadOnlyFileRefusesWritesNamingTheStatement) {
    ASSERT_EQ(chmod(FFile.c_str(), 0444), 0);
    if (access(FFile.c_str(), W_OK) == 0) GTEST_SKIP() << "running as a user who can write read-only files";
    auto c = OpenConnection(FFile);
    const std::string message = OleError([&] { Exec(c, "UPDATE items SET qty = 0"); });
    EXPECT_NE(message.find("readonly"), std::string::npos) << message;
    EXPECT_NE(message.find("UPDATE items SET qty = 0"), std::string::npos) << message;
    auto rs = OpenRecordset(c, "SELECT COUNT(*) FROM items WHERE qty > 0", adUseServer, adOpenForwardOnly, adLockReadOnly);
    EXPECT_EQ(rs->GetFields()->GetItem(Variant(0))->GetValue().ToInteger(), 4);
}

TEST_P(ConnectionTest, ErrorsDescribeTheFailureAndTheStatement) {
    // The provider's own codes: SQLite's result code and generic states, the server's SQLSTATE.
    const char* syntaxState = IsPostgres() ? "42601" : "42000";
    const char* notNullState = IsPostgres() ? "23502" : "23000";
    const int native = IsPostgres() ? 0 : SQLITE_ERROR;
    auto c = Connect();
    const auto code = OleCode([&] { Exec(c, "SELEC * FROM items"); });
    EXPECT_EQ(code, static_cast<Rtl::HRESULT>(0x80040E14u));
    auto errors = c->GetErrors();
    ASSERT_EQ(errors->GetCount(), 1);
    auto e = errors->GetItem(Variant(0));
    EXPECT_EQ(e->GetNumber(), static_cast<int>(0x80040E14u));
    EXPECT_EQ(N(e->GetSource()), GetParam());
    EXPECT_EQ(N(e->GetSQLState()), syntaxState);
    EXPECT_EQ(e->GetNativeError(), native);
    EXPECT_NE(N(e->GetDescription()).find("SELEC * FROM items"), std::string::npos);
    // The next failure replaces it; Clear empties the collection.
    OleCode([&] { Exec(c, "INSERT INTO items (name) VALUES (NULL)"); });
    ASSERT_EQ(errors->GetCount(), 1);
    EXPECT_EQ(N(errors->GetItem(Variant(0))->GetSQLState()), notNullState);
    errors->Clear();
    EXPECT_EQ(errors->GetCount(), 0);
    EXPECT_EQ(OleCode([&] { errors->GetItem(Variant(0)); }), AdoCode(adErrItemNotFound));
    // Late-bound, the same objects.
    OleCode([&] { OleCall(c, "Execute", {Variant(u"DROP TABLE nothing_here")}); });
    const Variant item = OleGet(OleGet(c, "Errors"), "Item", {Variant(0)});
    EXPECT_NE(OleGet(item, "Description").ToString().find("nothing_here"), std::string::npos);
}

TEST_P(ConnectionTest, ExecuteReportsRecordsAffected) {
    auto c = Connect();
    Variant affected;
    auto rs = c->Execute(u"UPDATE items SET qty = qty + 1 WHERE price > 1", &affected, adCmdText);
    EXPECT_EQ(affected.ToInteger(), 3);
    ASSERT_TRUE(rs);  // a command without rows gives a closed recordset
    EXPECT_EQ(rs->GetState(), adStateClosed);
    EXPECT_FALSE(c->Execute(u"DELETE FROM items WHERE name = 'fig'", &affected, adCmdText | adExecuteNoRecords));
    EXPECT_EQ(affected.ToInteger(), 1);
    // Several statements run in turn; the count is their sum.
    c->Execute(u"INSERT INTO items (name) VALUES ('a'); INSERT INTO items (name) VALUES ('b')", &affected,
               adExecuteNoRecords);
    EXPECT_EQ(affected.ToInteger(), 2);
    rs = c->Execute(u"SELECT name FROM items ORDER BY id", &affected, adCmdText);
    EXPECT_EQ(rs->GetState(), adStateOpen);
    EXPECT_EQ(rs->GetCursorType(), adOpenForwardOnly);
    EXPECT_EQ(rs->GetLockType(), adLockReadOnly);
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "apple");
    // A table name alone reads the table.
    rs = c->Execute(u"items", nullptr, adCmdTable);
    EXPECT_EQ(rs->GetFields()->GetCount(), 6);
    // Late-bound Execute writes RecordsAffected back through a by-reference argument.
    Variant count;
    OleCall(c, "Execute", {Variant(u"UPDATE items SET note = 'x'"), Variant::ByRef(&count), Variant(adExecuteNoRecords)});
    EXPECT_EQ(count.ToInteger(), 5);
}

TEST_P(ConnectionTest, NestedTransactionsUseSavepoints) {
    auto c = Connect();
    auto other = Connect();
    EXPECT_EQ(c->BeginTrans(), 1);
    Exec(c, "UPDATE items SET qty = 100 WHERE name = 'apple'");
    EXPECT_EQ(c->BeginTrans(), 2);
    Exec(c, "UPDATE items SET qty = 200 WHERE name = 'pear'");
    c->RollbackTrans();  // only the inner level goes
    auto value = [&](const ComPtr<_Connection>& conn, const char* name) {
        auto rs = conn->Execute(W(std::string("SELECT qty FROM items WHERE name = '") + name + "'"), nullptr, adCmdText);
        return rs->GetFields()->GetItem(Variant(0))->GetValue().ToInteger();
    };
    EXPECT_EQ(value(c, "apple"), 100);
    EXPECT_EQ(value(c, "pear"), 5);
    EXPECT_EQ(value(other, "apple"), 10);  // not committed yet
    EXPECT_EQ(OleCode([&] { c->Close(); }), AdoCode(adErrInTransaction));
    c->CommitTrans();
    EXPECT_EQ(value(other, "apple"), 100);
    EXPECT_EQ(OleCode([&] { c->CommitTrans(); }), AdoCode(adErrInvalidTransaction));
}

TEST_P(ConnectionTest, RetainingAttributesStartTheNextTransaction) {
    auto c = Connect();
    auto other = Connect();
    c->SetAttributes(adXactCommitRetaining | adXactAbortRetaining);
    EXPECT_EQ(c->GetAttributes(), adXactCommitRetaining | adXactAbortRetaining);
    EXPECT_EQ(c->BeginTrans(), 1);
    Exec(c, "UPDATE items SET qty = 1");
    c->CommitTrans();  // committed, and a new transaction is running
    auto rs = other->Execute(u"SELECT SUM(qty) FROM items", nullptr, adCmdText);
    EXPECT_EQ(rs->GetFields()->GetItem(Variant(0))->GetValue().ToInteger(), 4);
    Exec(c, "UPDATE items SET qty = 7");
    c->RollbackTrans();  // rolled back, and again a new one
    c->SetAttributes(0);
    c->CommitTrans();  // ends the transaction the rollback began
    EXPECT_EQ(OleCode([&] { c->CommitTrans(); }), AdoCode(adErrInvalidTransaction));
    rs = other->Execute(u"SELECT SUM(qty) FROM items", nullptr, adCmdText);
    EXPECT_EQ(rs->GetFields()->GetItem(Variant(0))->GetValue().ToInteger(), 4);
    EXPECT_EQ(OleCode([&] { c->SetAttributes(1); }), AdoCode(adErrInvalidArgument));
}

TEST_P(ConnectionTest, SettingsAreCheckedAndSomeOnlyChangeWhileClosed) {
    auto c = CoConnection::Create();
    EXPECT_EQ(c->GetCommandTimeout(), 30);
    EXPECT_EQ(c->GetConnectionTimeout(), 15);
    EXPECT_EQ(c->GetCursorLocation(), adUseServer);
    EXPECT_EQ(c->GetMode(), adModeUnknown);
    EXPECT_EQ(c->GetIsolationLevel(), adXactReadCommitted);
    EXPECT_EQ(OleCode([&] { c->SetCommandTimeout(-1); }), AdoCode(adErrInvalidArgument));
    EXPECT_EQ(OleCode([&] { c->SetCursorLocation(adUseNone); }), AdoCode(adErrInvalidArgument));
    EXPECT_NE(OleError([&] { c->SetConnectionString(u"Data Source='open"); }).find("open"), std::string::npos);
    c->SetMode(adModeRead);
    c->SetConnectionString(W(ConnectionString()));
    c->Open();
    EXPECT_EQ(c->GetMode(), adModeRead);
    for (auto f : std::vector<std::function<void()>>{[&] { c->SetMode(adModeReadWrite); },
                                                    [&] { c->SetConnectionTimeout(5); },
                                                    [&] { c->SetProvider(u"SQLite"); },
                                                    [&] { c->SetConnectionString(u"x=y"); }})
        EXPECT_EQ(OleCode(f), AdoCode(adErrObjectOpen));
    c->SetCommandTimeout(5);  // allowed while open
    EXPECT_EQ(c->GetCommandTimeout(), 5);
    // Mode Read reached the provider: writing fails.
    const std::string message = OleError([&] { Exec(c, "DELETE FROM items"); });
    EXPECT_NE(message.find(IsPostgres() ? "read-only" : "readonly"), std::string::npos) << message;
}

TEST_F(ConnectionSqliteTest, PropertiesAreTheProvidersDynamicProperties) {
    auto c = OpenConnection(FFile, "Cache Hint=large");
    auto props = c->GetProperties();
    EXPECT_GT(props->GetCount(), 10);
    EXPECT_EQ(N(props->GetItem(Variant("DBMS Name"))->GetValue().ToWideString()), "SQLite");
    EXPECT_EQ(N(props->GetItem(Variant("dbms name"))->GetName()), "DBMS Name");
    EXPECT_EQ(props->GetItem(Variant("DBMS Name"))->GetType(), adBSTR);
    // A key the provider does not read is kept and shown.
    EXPECT_EQ(N(props->GetItem(Variant("Cache Hint"))->GetValue().ToWideString()), "large");
    // A writable one changes; a read-only one refuses, naming it.
    auto busy = props->GetItem(Variant("Busy Timeout"));
    busy->SetValue(Variant(250));
    EXPECT_EQ(busy->GetValue().ToInteger(), 250);
    EXPECT_NE(OleError([&] { props->GetItem(Variant("DBMS Name"))->SetValue(Variant("x")); }).find("DBMS Name"),
              std::string::npos);
    EXPECT_EQ(OleCode([&] { props->GetItem(Variant("No Such Property")); }), AdoCode(adErrItemNotFound));
    // The same property object each time; by index too.
    EXPECT_EQ(props->GetItem(Variant("DBMS Name")).Get(), props->GetItem(Variant("DBMS Name")).Get());
    EXPECT_FALSE(N(props->GetItem(Variant(0))->GetName()).empty());
}

TEST_P(ConnectionTest, OpenSchemaListsTablesColumnsIndexesAndKeys) {
    auto c = Connect();
    Exec(c, "CREATE INDEX items_name ON items (name)");
    // Restricted to the test's own schema: a server holds other tests' tables too.
    const Variant schema = SchemaRestriction();
    auto tables = c->OpenSchema(adSchemaTables, Rtl::VarArrayOf({Variant(), schema, Variant(), Variant("TABLE")}),
                                Com::EmptyParam);
    EXPECT_EQ(tables->GetRecordCount(), 1);
    EXPECT_EQ(N(FieldValue(tables, "TABLE_NAME").ToWideString()), "items");
    auto columns =
        c->OpenSchema(adSchemaColumns, Rtl::VarArrayOf({Variant(), schema, Variant("items")}), Com::EmptyParam);
    EXPECT_EQ(columns->GetRecordCount(), 6);
    EXPECT_EQ(N(FieldValue(columns, "COLUMN_NAME").ToWideString()), "id");
    auto indexes = c->OpenSchema(adSchemaIndexes, Rtl::VarArrayOf({Variant(), schema, Variant("items_name")}),
                                 Com::EmptyParam);
    EXPECT_EQ(indexes->GetRecordCount(), 1);
    EXPECT_EQ(N(FieldValue(indexes, "TABLE_NAME").ToWideString()), "items");
    EXPECT_EQ(N(FieldValue(indexes, "COLUMN_NAME").ToWideString()), "name");
    auto keys = c->OpenSchema(adSchemaPrimaryKeys, Rtl::VarArrayOf({Variant(), schema, Variant("items")}),
                              Com::EmptyParam);
    EXPECT_EQ(keys->GetRecordCount(), 1);
    EXPECT_EQ(N(FieldValue(keys, "COLUMN_NAME").ToWideString()), "id");
    EXPECT_EQ(OleCode([&] { c->OpenSchema(adSchemaCubes, Com::EmptyParam, Com::EmptyParam); }),
              AdoCode(adErrFeatureNotAvailable));
}

TEST_F(ConnectionSqliteTest, ClosedConnectionRefusesWork) {
    auto c = CoConnection::Create();
    for (auto f : std::vector<std::function<void()>>{[&] { Exec(c, "SELECT 1"); }, [&] { c->BeginTrans(); },
                                                    [&] { c->OpenSchema(adSchemaTables, Com::EmptyParam, Com::EmptyParam); }})
        EXPECT_EQ(OleCode(f), AdoCode(adErrInvalidConnection));
    c->Cancel();  // nothing runs: nothing to stop
}

TEST_P(ConnectionTest, CancelFromAnotherThreadStopsTheRunningStatement) {
    auto c = Connect();
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        // Cancel does nothing while nothing runs, so keep asking until the statement has stopped.
        while (!done.load()) {
            c->Cancel();
            std::this_thread::yield();
        }
    });
    const std::string message = OleError([&] { c->Execute(W(Endless()), nullptr, adCmdText); });
    done = true;
    canceller.join();
    EXPECT_NE(message.find("cancelled"), std::string::npos) << message;
    EXPECT_EQ(c->GetErrors()->GetItem(Variant(0))->GetNumber(), static_cast<int>(0x80040E4Eu));
    // The connection goes on working.
    EXPECT_EQ(c->Execute(u"SELECT COUNT(*) FROM items", nullptr, adCmdText)->GetFields()->GetItem(Variant(0))->GetValue().ToInteger(), 4);
}

TEST_P(ConnectionTest, CommandTimeoutStopsALongStatement) {
    auto c = Connect();
    c->SetCommandTimeout(1);
    const std::string message = OleError([&] { c->Execute(W(Endless()), nullptr, adCmdText); });
    EXPECT_NE(message.find("timeout"), std::string::npos) << message;
    // A command's own timeout applies to its executions.
    c->SetCommandTimeout(0);
    auto cmd = CoCommand::Create();
    cmd->SetActiveConnectionRef(c.Get());
    cmd->SetCommandText(W(Endless()));
    cmd->SetCommandTimeout(1);
    EXPECT_NE(OleError([&] { cmd->Execute(nullptr, Com::EmptyParam, adOptionUnspecified); }).find("timeout"),
              std::string::npos);
}

TEST_P(ConnectionTest, CloseClosesTheRecordsetsOfTheConnection) {
    auto c = Connect();
    auto rs = OpenRecordset(c, "SELECT * FROM items", adUseClient, adOpenStatic, adLockOptimistic);
    EXPECT_EQ(rs->GetState(), adStateOpen);
    c->Close();
    EXPECT_EQ(rs->GetState(), adStateClosed);
}

VELORA_PROVIDER_SUITE(ConnectionTest);

}  // namespace
}  // namespace AdoTest
