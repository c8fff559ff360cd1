// The Data Links prompt: TADODatabase::SelectConnection and the Data Links
// object behind it, answered by a connection prompt the test installs as a
// user would answer the dialog.
#include "Platform/data-engine/datalinks/ConnectionPrompt.h"
#include "Velora/com/DataLinks.h"
#include "tests/Velora/database_fixture.h"

namespace SpineTest {
namespace {

using DataEngine::IConnectionPrompt;

// The user: sees the pre-filled text and answers.
class TTestPrompt : public Com::TImplements<Com::TInterfacedObject, IConnectionPrompt> {
public:
    std::function<Rtl::HRESULT(WideString&)> Answer;
    std::vector<String> Seen;
    int Owner = -1;

    Rtl::HRESULT PromptConnection(int AOwner, WideString& ConnectionString) override {
        Owner = AOwner;
        Seen.push_back(N(ConnectionString));
        return Answer ? Answer(ConnectionString) : Com::S_FALSE;
    }
};

// Installs a TTestPrompt as the connection prompt for the scope.
struct TPromptInstalled {
    ComPtr<TTestPrompt> Prompt = Com::MakeComObject<TTestPrompt>();
    Com::TClassRegistration Registration{
        {DataEngine::CLSID_ConnectionPrompt, {DataEngine::ProgID_ConnectionPrompt}, "the test's user"},
        Com::MakeComObject<Com::TClassFactory>(
            [p = Prompt] { return ComPtr<Rtl::IUnknown>(static_cast<IConnectionPrompt*>(p.Get())); })};
};

class SelectConnectionTest : public DatabaseTest {
protected:
    TPromptInstalled User;
};

TEST_F(SelectConnectionTest, AConfirmedDialogStoresProviderAndStringAndCloses) {
    const std::string other = Dir.File("other.db");
    SqliteExec(other, "create table t(id integer primary key, name text)");
    User.Prompt->Answer = [&](WideString& text) {
        text = W("Provider=SQLite;Data Source=" + other);
        return Com::S_OK;
    };
    Db->Open();
    EXPECT_TRUE(Db->SelectConnection());
    EXPECT_EQ(User.Prompt->Seen, std::vector<String>{"Provider=SQLite;Data Source=" + File});
    EXPECT_EQ(User.Prompt->Owner, 0) << "the dialog has no owner window";
    EXPECT_FALSE(Db->GetConnected()) << "the setters close the connected component";
    EXPECT_EQ(Db->GetDatabaseProvider(), "SQLite");
    EXPECT_EQ(Db->GetDatabaseConnect(), "Provider=SQLite;Data Source=" + other);
    Db->Open();
    Db->ExecSQL("insert into t(name) values ('chosen')");
    EXPECT_EQ(SqliteInt(other, "select count(*) from t"), 1);
}

TEST_F(SelectConnectionTest, TheProviderIsAddedOnlyWhenTheStringNamesNone) {
    struct TCase {
        const char* Provider;
        const char* Connect;
        const char* Shown;
    };
    const TCase cases[] = {
        {"SQLite", "Data Source=a.db", "Provider=SQLite;Data Source=a.db"},
        {"SQLite", "Provider=SQLite.1;Data Source=a.db", "Provider=SQLite.1;Data Source=a.db"},
        // The test is case-sensitive: a lower-case key does not count.
        {"SQLite", "provider=SQLite;Data Source=a.db", "Provider=SQLite;provider=SQLite;Data Source=a.db"},
        {"", "Data Source=a.db", "Data Source=a.db"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Connect);
        User.Prompt->Seen.clear();
        Db->SetDatabaseProvider(c.Provider);
        Db->SetDatabaseConnect(c.Connect);
        EXPECT_FALSE(Db->SelectConnection());
        EXPECT_EQ(User.Prompt->Seen, std::vector<String>{c.Shown});
    }
}

TEST_F(SelectConnectionTest, ACancelledDialogChangesNothing) {
    User.Prompt->Answer = [](WideString& text) {
        text = u"Provider=SQLite;Data Source=elsewhere.db";  // typed, then cancelled
        return Com::S_FALSE;
    };
    Db->Open();
    EXPECT_FALSE(Db->SelectConnection());
    EXPECT_TRUE(Db->GetConnected());
    Db->Close();
    EXPECT_EQ(Db->GetDatabaseProvider(), "SQLite");
    EXPECT_EQ(Db->GetDatabaseConnect(), "Data Source=" + File);
}

TEST_F(SelectConnectionTest, AFailingDialogRaisesAndChangesNothing) {
    User.Prompt->Answer = [](WideString&) {
        return Com::SetErrorResult(Com::E_FAIL, "TestPrompt", "the dialog cannot be shown: no display");
    };
    EXPECT_EQ(MessageOf<Com::EOleException>([&] { Db->SelectConnection(); }), "the dialog cannot be shown: no display");
    EXPECT_EQ(Db->GetDatabaseConnect(), "Data Source=" + File);
}

TEST_F(SelectConnectionTest, AConfirmedButMalformedStringIsRefusedByTheConnection) {
    User.Prompt->Answer = [](WideString& text) {
        text = u"Provider=SQLite;Data Source='unterminated";
        return Com::S_OK;
    };
    EXPECT_THROW(Db->SelectConnection(), Com::EOleException);
    EXPECT_EQ(Db->GetDatabaseProvider(), "SQLite");
    EXPECT_EQ(Db->GetDatabaseConnect(), "Data Source=" + File);
}

TEST_F(DatabaseTest, WithoutAnInstalledDialogNobodyCanConfirm) {
    EXPECT_FALSE(Db->SelectConnection());
    EXPECT_EQ(Db->GetDatabaseConnect(), "Data Source=" + File);
}

TEST_F(SelectConnectionTest, DataLinksObjectByNameAndByInterface) {
    User.Prompt->Answer = [](WideString& text) {
        text += u";Busy Timeout=50";
        return Com::S_OK;
    };
    // Late-bound, as a script would use it; the connection is a var argument.
    const ComPtr<Com::IDispatch> links = Com::CreateOleObject(ProgID_DataLinks);
    Com::OlePut(links, "hWnd", Variant(1234));
    auto connection = CoConnection::Create();
    connection->SetConnectionString(u"Provider=SQLite;Data Source=a.db");
    Variant arg = Com::VarFromInterface(connection);
    EXPECT_TRUE(Com::OleCall(links, "PromptEdit", {Variant::ByRef(&arg)}).ToBoolean());
    EXPECT_EQ(User.Prompt->Owner, 1234);
    EXPECT_EQ(N(connection->GetConnectionString()), "Provider=SQLite;Data Source=a.db;Busy Timeout=50");

    const ComPtr<IDataSourceLocator> locator = CoDataLinks::Create();
    ComPtr<Com::IDispatch> none;
    EXPECT_EQ(CodeOf([&] { locator->PromptEdit(none); }), Com::E_INVALIDARG);
    const ComPtr<Com::IDispatch> made = locator->PromptNew();
    ASSERT_TRUE(made);
    EXPECT_EQ(N(made.As<_Connection>()->GetConnectionString()), ";Busy Timeout=50");
    User.Prompt->Answer = nullptr;
    EXPECT_FALSE(locator->PromptNew());
}

}  // namespace
}  // namespace SpineTest
