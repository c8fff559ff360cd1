// TADODatabase in form files: stored values written (never live ones),
// Connected applied in Loaded, failures shown at design time and raised at
// run time.
#include "Platform/vcl/Filer.h"
#include "Platform/vcl/Forms.h"
#include "tests/Velora/database_fixture.h"

namespace SpineTest {
namespace {

class DatabaseFormFile : public ::testing::Test {
protected:
    void SetUp() override {
        Vcl::RegisterClass<Vcl::TDataModule>();
        File = Dir.File("form.db");
        SqliteExec(File, "create table t(id integer primary key, name text)");
        Handlers.Add<TLoginEvent>("DbLogin", [this](TADODatabase* db) {
            ++Logins;
            EXPECT_FALSE(db->GetComponentState().Contains(Vcl::csReading));
        });
    }

    TTempDir Dir;
    std::string File;
    Vcl::TEventHandlers Handlers;
    int Logins = 0;
};

TEST_F(DatabaseFormFile, AConnectedDatabaseWritesItsStoredSettings) {
    std::unique_ptr<Vcl::TDataModule> dm(new Vcl::TDataModule(nullptr));
    dm->SetName("Module");
    auto* db = new TADODatabase(dm.get());
    db->SetName("Db");
    db->SetDatabaseProvider("SQLite");
    db->SetDatabaseConnect("Data Source=" + File);
    db->SetCommandTimeout(60);
    db->SetConnectionAttributes(TConnectionAttributes{caTransCommitRetaining});
    db->SetConnectionMode(cmShareDenyNone);
    db->SetConnectionTimeout(5);
    db->SetPassword("pw");
    db->SetTransIsolation(tiReadCommitted);
    db->SetUseADOVersion(avADO25);
    db->SetUserName("ann");
    db->SetOnLogin(Vcl::NamedEvent<void(TADODatabase*)>("DbLogin", [](TADODatabase*) {}));
    db->Open();
    // Live, ADO reports other values than those stored.
    ASSERT_EQ(db->GetTransIsolation(), tiSerializable);
    ASSERT_NE(db->GetDatabaseConnect(), "Data Source=" + File);

    const String text = Vcl::ComponentToText(dm.get());
    const String expected = "object Module: TDataModule\n"
                            "  object Db: TADODatabase\n"
                            "    CommandTimeout = 60\n"
                            "    Connected = True\n"
                            "    ConnectionAttributes = [caTransCommitRetaining]\n"
                            "    ConnectionMode = cmShareDenyNone\n"
                            "    ConnectionTimeout = 5\n"
                            "    DatabaseConnect = 'Data Source=" + File + "'\n"
                            "    DatabaseProvider = 'SQLite'\n"
                            "    Password = 'pw'\n"
                            "    TransIsolation = tiReadCommitted\n"
                            "    UseADOVersion = avADO25\n"
                            "    UserName = 'ann'\n"
                            "    OnLogin = DbLogin\n"
                            "  end\n"
                            "end\n";
    EXPECT_EQ(text, expected);

    // Reading it back gives the same settings and connects again in Loaded.
    dm.reset();
    std::unique_ptr<Vcl::TComponent> root(Vcl::ReadComponentFromText(text, nullptr, &Handlers));
    auto* back = dynamic_cast<TADODatabase*>(root->FindComponent("Db"));
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->GetConnected());
    EXPECT_EQ(Logins, 1);
    EXPECT_EQ(Vcl::ComponentToText(root.get()), text);
}

TEST_F(DatabaseFormFile, ConnectedIsAppliedAfterEverythingIsRead) {
    // Connected comes first in this file, before the string it needs.
    const String text = "object Module: TDataModule\n"
                        "  object Db: TADODatabase\n"
                        "    Connected = True\n"
                        "    OnLogin = DbLogin\n"
                        "    DatabaseConnect = 'Data Source=" + File + "'\n"
                        "  end\n"
                        "end\n";
    std::unique_ptr<Vcl::TComponent> root(Vcl::ReadComponentFromText(text, nullptr, &Handlers));
    auto* db = dynamic_cast<TADODatabase*>(root->FindComponent("Db"));
    ASSERT_NE(db, nullptr);
    EXPECT_TRUE(db->GetConnected());
    EXPECT_EQ(Logins, 1);
    db->ExecSQL("insert into t(name) values ('from the form')");
    EXPECT_EQ(SqliteInt(File, "select count(*) from t"), 1);
}

TEST_F(DatabaseFormFile, AFailingConnectIsRaisedAtRunTimeAndShownAtDesignTime) {
    const String text = "object Module: TDataModule\n"
                        "  object Db: TADODatabase\n"
                        "    Connected = True\n"
                        "    DatabaseConnect = 'Data Source=" + Dir.File("missing/x.db") + "'\n"
                        "  end\n"
                        "end\n";
    EXPECT_THROW(Vcl::ReadComponentFromText(text, nullptr, &Handlers), Com::EOleException);

    std::vector<String> shown;
    Vcl::Application->SetOnException([&](Rtl::TObject*, const std::exception& e) { shown.push_back(e.what()); });
    std::unique_ptr<Vcl::TDataModule> root(new Vcl::TDataModule(nullptr));
    root->SetDesigning(true);
    Vcl::ReadComponentFromText(text, root.get(), &Handlers);
    Vcl::Application->SetOnException(nullptr);
    auto* db = dynamic_cast<TADODatabase*>(root->FindComponent("Db"));
    ASSERT_NE(db, nullptr);
    EXPECT_FALSE(db->GetConnected());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("x.db"), String::npos) << shown[0];
}

TEST_F(DatabaseFormFile, DefaultsAreNotWritten) {
    std::unique_ptr<Vcl::TDataModule> dm(new Vcl::TDataModule(nullptr));
    dm->SetName("Module");
    (new TADODatabase(dm.get()))->SetName("Db");
    EXPECT_EQ(Vcl::ComponentToText(dm.get()), "object Module: TDataModule\n"
                                              "  object Db: TADODatabase\n"
                                              "    UseADOVersion = avADO\n"
                                              "  end\n"
                                              "end\n");
}

}  // namespace
}  // namespace SpineTest
