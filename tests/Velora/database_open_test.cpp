// TADODatabase: opening and closing, the stored and live property rules, the
// external connection, destruction and the dataset list.
#include "tests/Velora/database_fixture.h"

namespace SpineTest {
namespace {

TEST_F(DatabaseTest, OpenConnectsAndCloseReleasesTheConnection) {
    EXPECT_FALSE(Db->GetConnected());
    EXPECT_EQ(Db->GetState(), adStateClosed);
    EXPECT_EQ(Db->GetADOVersion(), "");
    Db->Open();
    ASSERT_TRUE(Db->GetConnected());
    EXPECT_EQ(Db->GetState(), adStateOpen);
    EXPECT_EQ(Db->GetADOVersion(), "2.8");
    EXPECT_FALSE(Db->StillConnecting());
    EXPECT_FALSE(Db->StillExecuting());
    const ComPtr<Connection15> handle = Db->GetHandle();
    ASSERT_TRUE(handle);

    Db->Close();
    EXPECT_FALSE(Db->GetConnected());
    EXPECT_FALSE(Db->GetHandle());
    EXPECT_EQ(Db->GetADOVersion(), "");
    // The component closed the ADO connection before letting it go.
    EXPECT_EQ(handle->GetState(), adStateClosed);
}

TEST_F(DatabaseTest, ConnectedPropertyOpensAndCloses) {
    Db->SetConnected(true);
    EXPECT_TRUE(Db->GetConnected());
    Db->SetConnected(false);
    EXPECT_FALSE(Db->GetConnected());
}

TEST_F(DatabaseTest, OpenPushesTheStoredSettingsIntoTheNewConnection) {
    Db->SetCommandTimeout(42);
    Db->SetConnectionTimeout(7);
    Db->SetConnectionMode(cmShareDenyNone);
    Db->SetConnectionAttributes(TConnectionAttributes{caTransAbortRetaining});
    Db->SetTransIsolation(tiReadCommitted);
    Db->Open();
    const ComPtr<Connection15> c = Db->GetHandle();
    EXPECT_EQ(c->GetCommandTimeout(), 42);
    EXPECT_EQ(c->GetConnectionTimeout(), 7);
    EXPECT_EQ(c->GetMode(), adModeShareDenyNone);
    EXPECT_EQ(c->GetAttributes(), adXactAbortRetaining);
    EXPECT_EQ(N(c->GetProvider()), "SQLite");
    // The live getters read ADO back through the mappings.
    EXPECT_EQ(Db->GetCommandTimeout(), 42);
    EXPECT_EQ(Db->GetConnectionTimeout(), 7);
    EXPECT_EQ(Db->GetConnectionMode(), cmShareDenyNone);
    EXPECT_EQ(Db->GetConnectionAttributes(), TConnectionAttributes{caTransAbortRetaining});
    EXPECT_EQ(Db->GetDatabaseProvider(), "SQLite");
    EXPECT_NE(Db->GetDatabaseConnect().find(File), String::npos);
    // SQLite isolates connections completely: every level reads back as serializable.
    EXPECT_EQ(c->GetIsolationLevel(), adXactSerializable);
    EXPECT_EQ(Db->GetTransIsolation(), tiSerializable);
}

TEST_F(DatabaseTest, OpenOnAnOpenComponentFiresNoLoginAndMakesNoSecondConnection) {
    int logins = 0;
    Db->SetOnLogin([&](TADODatabase* d) {
        EXPECT_EQ(d, Db.get());
        EXPECT_FALSE(d->GetHandle());  // before the connection exists
        ++logins;
    });
    Db->Open();
    const ComPtr<Connection15> first = Db->GetHandle();
    Db->Open();
    Db->SetConnected(true);
    EXPECT_EQ(logins, 1);
    EXPECT_TRUE(Com::IsSameObject(first, Db->GetHandle()));
}

TEST_F(DatabaseTest, AFailedConnectLeavesTheComponentClosedAndTheNextOpenStartsAfresh) {
    // Read-write mode needs an existing file.
    Db->SetDatabaseConnect("Data Source=" + Dir.File("missing/none.db"));
    EXPECT_THROW(Db->Open(), Com::EOleException);
    EXPECT_FALSE(Db->GetConnected());
    const ComPtr<Connection15> halfMade = Db->GetHandle();
    EXPECT_TRUE(halfMade);
    // Not connected, so changing the string does not close (or fail).
    Db->SetDatabaseConnect("Data Source=" + File);
    Db->Open();
    EXPECT_TRUE(Db->GetConnected());
    EXPECT_FALSE(Com::IsSameObject(halfMade, Db->GetHandle()));
}

TEST_F(DatabaseTest, CloseDropsAHalfMadeHandle) {
    Db->SetDatabaseConnect("Data Source=" + Dir.File("missing/none.db"));
    EXPECT_THROW(Db->Open(), Com::EOleException);
    Db->Close();
    EXPECT_FALSE(Db->GetHandle());
}

// Setters that close a connected component, then store.
struct TClosingSetter {
    const char* Name;
    void (*Set)(TADODatabase&);
    bool (*Stored)(TADODatabase&);
};

const TClosingSetter ClosingSetters[] = {
    {"ConnectionMode", [](TADODatabase& d) { d.SetConnectionMode(cmShareExclusive); },
     [](TADODatabase& d) { return d.GetConnectionMode() == cmShareExclusive; }},
    {"ConnectionTimeout", [](TADODatabase& d) { d.SetConnectionTimeout(3); },
     [](TADODatabase& d) { return d.GetConnectionTimeout() == 3; }},
    {"DatabaseConnect", [](TADODatabase& d) { d.SetDatabaseConnect(d.GetDatabaseConnect() + ";Busy Timeout=10"); },
     [](TADODatabase& d) { return d.GetDatabaseConnect().find("Busy Timeout=10") != String::npos; }},
    {"DatabaseProvider", [](TADODatabase& d) { d.SetDatabaseProvider("SQLite.1"); },
     [](TADODatabase& d) { return d.GetDatabaseProvider() == "SQLite.1"; }},
    {"ConnectionOptions", [](TADODatabase& d) { d.SetConnectionOptions(TConnectionOptions{coAsyncExecute}); },
     [](TADODatabase& d) { return d.GetConnectionOptions() == TConnectionOptions{coAsyncExecute}; }},
    {"Password", [](TADODatabase& d) { d.SetPassword("secret"); },
     [](TADODatabase& d) { return d.GetPassword() == "secret"; }},
    {"UseADOVersion", [](TADODatabase& d) { d.SetUseADOVersion(avADO15); },
     [](TADODatabase& d) { return d.GetUseADOVersion() == avADO15; }},
    {"UserName", [](TADODatabase& d) { d.SetUserName("ann"); },
     [](TADODatabase& d) { return d.GetUserName() == "ann"; }},
};

TEST_F(DatabaseTest, SettersThatCloseAConnectedComponentAndStore) {
    for (const auto& s : ClosingSetters) {
        SCOPED_TRACE(s.Name);
        Db->Open();
        TStandInDataSet ds(nullptr);
        ds.SetDatabase(Db.get());
        ds.Open();
        s.Set(*Db);
        EXPECT_FALSE(Db->GetConnected());
        EXPECT_FALSE(ds.GetActive()) << "closing the database closes its datasets";
        EXPECT_TRUE(s.Stored(*Db));
        // Reset for the next row.
        Db.reset(new TADODatabase(nullptr));
        Db->SetDatabaseProvider("SQLite");
        Db->SetDatabaseConnect("Data Source=" + File);
    }
}

TEST_F(DatabaseTest, SettingDatabaseConnectToItsValueKeepsTheConnectionOpen) {
    const String text = "Data Source=" + File;
    Db->Open();
    Db->SetDatabaseConnect(text);
    EXPECT_TRUE(Db->GetConnected());
}

TEST_F(DatabaseTest, SettersThatWriteThroughKeepTheConnectionOpen) {
    Db->Open();
    const ComPtr<Connection15> c = Db->GetHandle();
    Db->SetCommandTimeout(99);
    EXPECT_EQ(c->GetCommandTimeout(), 99);
    Db->SetConnectionAttributes(TConnectionAttributes{caTransCommitRetaining, caTransAbortRetaining});
    EXPECT_EQ(c->GetAttributes(), adXactCommitRetaining + adXactAbortRetaining);
    Db->SetTransIsolation(tiChaos);
    EXPECT_TRUE(Db->GetConnected());
    EXPECT_TRUE(Com::IsSameObject(c, Db->GetHandle()));
    EXPECT_EQ(Db->GetCommandTimeout(), 99);
}

TEST_F(DatabaseTest, InformationalPropertiesIgnoreWritesAndAreNeverStored) {
    EXPECT_EQ(Db->GetAbout().rfind("Version 5.1", 0), 0u);
    EXPECT_EQ(Db->GetADOVersion(), "");
    Db->SetAbout("x");
    Db->SetADOVersion("9.9");
    Db->SetProperties("y");
    EXPECT_EQ(Db->GetAbout().rfind("Version 5.1", 0), 0u);
    EXPECT_EQ(Db->GetADOVersion(), "");
    EXPECT_EQ(Db->GetProperties(), "");
    for (const char* name : {"About", "ADOVersion", "Properties"})
        EXPECT_FALSE(Vcl::IsStoredProp(Db.get(), Vcl::FindPropInfo(Db.get(), name))) << name;
}

TEST_F(DatabaseTest, ExternalConnectionIsUsedAsItIsAndStaysOpen) {
    const ComPtr<_Connection> external = CoConnection::Create();
    external->Open(W("Provider=SQLite;Data Source=" + File));
    external->SetCommandTimeout(5);
    // Settings that would fail or show if Open applied them.
    Db->SetDatabaseProvider("NoSuchProvider");
    Db->SetCommandTimeout(77);
    Db->SetExternalConnection(external);
    Db->Open();
    ASSERT_TRUE(Db->GetConnected());
    EXPECT_TRUE(Com::IsSameObject(external, Db->GetHandle()));
    EXPECT_EQ(external->GetCommandTimeout(), 5);
    Db->ExecSQL("insert into t(name) values ('through the component')");
    EXPECT_EQ(Rows(), 1);

    Db->Close();
    EXPECT_FALSE(Db->GetHandle());
    EXPECT_EQ(external->GetState(), adStateOpen);
    Variant affected;
    external->Execute(W("delete from t"), &affected, ExecNoRecords);
    EXPECT_EQ(affected.ToInteger(), 1);
}

TEST_F(DatabaseTest, AFreedDatabaseClosesItsDatasetsAndRollsBack) {
    TStandInDataSet ds(nullptr);
    ds.SetDatabase(Db.get());
    ds.Open();
    Db->StartTransaction();
    Db->ExecSQL("insert into t(name) values ('pending')");
    const ComPtr<Connection15> c = Db->GetHandle();
    Db.reset();
    EXPECT_FALSE(ds.GetActive());
    EXPECT_EQ(ds.GetDatabase(), nullptr) << "the dataset heard of the removal";
    EXPECT_EQ(c->GetState(), adStateClosed);
    EXPECT_EQ(Rows(), 0);
}

TEST_F(DatabaseTest, TheDatasetListFollowsOpeningClosingAndFreeing) {
    auto* a = new TStandInDataSet(nullptr);
    TStandInDataSet b(nullptr);
    a->SetDatabase(Db.get());
    b.SetDatabase(Db.get());
    a->Open();  // opens the database too
    EXPECT_TRUE(Db->GetConnected());
    b.Open();
    ASSERT_EQ(Db->GetDataSetCount(), 2);
    EXPECT_EQ(Db->GetDataSet(0), a);
    EXPECT_EQ(Db->GetDataSet(1), &b);
    EXPECT_THROW(Db->GetDataSet(2), Rtl::EListError);
    EXPECT_THROW(Db->GetDataSet(-1), Rtl::EListError);
    b.Close();
    EXPECT_EQ(Db->GetDataSetCount(), 1);
    delete a;
    EXPECT_EQ(Db->GetDataSetCount(), 0);
}

TEST_F(DatabaseTest, CloseClosesTheDatasetsLastFirst) {
    std::vector<String> log;
    TStandInDataSet a(nullptr, &log), b(nullptr, &log), c(nullptr, &log);
    a.SetName("A");
    b.SetName("B");
    c.SetName("C");
    for (auto* ds : {&a, &b, &c}) {
        ds->SetDatabase(Db.get());
        ds->Open();
    }
    log.clear();
    Db->Close();
    EXPECT_EQ(log, (std::vector<String>{"close C", "close B", "close A"}));
    EXPECT_EQ(Db->GetDataSetCount(), 0);
}

}  // namespace
}  // namespace SpineTest
