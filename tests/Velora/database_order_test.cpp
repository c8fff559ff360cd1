// The order of the component's calls on its ADO connection: what Open pushes
// and in which order, and how Close takes a connection down. The engine's
// connection class is wrapped by one that writes down each call and passes
// it on.
#include "tests/Velora/database_fixture.h"

namespace SpineTest {
namespace {

class TRecordingConnection : public Com::TImplements<Com::TInterfacedObject, _Connection> {
public:
    TRecordingConnection(ComPtr<_Connection> inner, std::vector<String>* log) : I(std::move(inner)), L(log) {}

    // Events are the engine connection's own.
    Rtl::HRESULT QueryInterface(const Rtl::IID& iid, void** obj) override {
        if (iid == Com::IIDOf<Com::IConnectionPointContainer>()) return I->QueryInterface(iid, obj);
        return TImplements::QueryInterface(iid, obj);
    }
    Rtl::HRESULT GetIDsOfNames(std::string_view n, Com::DISPID* d) override { return I->GetIDsOfNames(n, d); }
    Rtl::HRESULT Invoke(Com::DISPID d, Rtl::Word f, std::span<Variant> a, Variant* r, Com::TExcepInfo* e,
                        int* x) override {
        return I->Invoke(d, f, a, r, e, x);
    }
    ComPtr<Properties> GetProperties() override { return I->GetProperties(); }
    WideString GetConnectionString() override { return I->GetConnectionString(); }
    void SetConnectionString(const WideString& v) override {
        Note("ConnectionString := " + N(v));
        I->SetConnectionString(v);
    }
    int GetCommandTimeout() override { return I->GetCommandTimeout(); }
    void SetCommandTimeout(int v) override {
        Note("CommandTimeout := " + std::to_string(v));
        I->SetCommandTimeout(v);
    }
    int GetConnectionTimeout() override { return I->GetConnectionTimeout(); }
    void SetConnectionTimeout(int v) override {
        Note("ConnectionTimeout := " + std::to_string(v));
        I->SetConnectionTimeout(v);
    }
    WideString GetVersion() override { return I->GetVersion(); }
    void Close() override {
        Note("Close");
        I->Close();
    }
    ComPtr<_Recordset> Execute(const WideString& t, Variant* ra, int o) override {
        Note("Execute " + N(t) + " " + std::to_string(o));
        return I->Execute(t, ra, o);
    }
    int BeginTrans() override {
        Note("BeginTrans");
        return I->BeginTrans();
    }
    void CommitTrans() override {
        Note("CommitTrans");
        I->CommitTrans();
    }
    void RollbackTrans() override {
        Note("RollbackTrans");
        I->RollbackTrans();
    }
    void Open(const WideString& c, const WideString& u, const WideString& p, int o) override {
        Note("Open " + N(c) + " / " + N(u) + " / " + N(p) + " / " + std::to_string(o));
        I->Open(c, u, p, o);
    }
    ComPtr<Errors> GetErrors() override { return I->GetErrors(); }
    WideString GetDefaultDatabase() override { return I->GetDefaultDatabase(); }
    void SetDefaultDatabase(const WideString& v) override { I->SetDefaultDatabase(v); }
    IsolationLevelEnum GetIsolationLevel() override { return I->GetIsolationLevel(); }
    void SetIsolationLevel(IsolationLevelEnum v) override {
        Note("IsolationLevel := " + std::to_string(v));
        I->SetIsolationLevel(v);
    }
    int GetAttributes() override { return I->GetAttributes(); }
    void SetAttributes(int v) override {
        Note("Attributes := " + std::to_string(v));
        I->SetAttributes(v);
    }
    CursorLocationEnum GetCursorLocation() override { return I->GetCursorLocation(); }
    void SetCursorLocation(CursorLocationEnum v) override { I->SetCursorLocation(v); }
    ConnectModeEnum GetMode() override { return I->GetMode(); }
    void SetMode(ConnectModeEnum v) override {
        Note("Mode := " + std::to_string(v));
        I->SetMode(v);
    }
    WideString GetProvider() override { return I->GetProvider(); }
    void SetProvider(const WideString& v) override {
        Note("Provider := " + N(v));
        I->SetProvider(v);
    }
    int GetState() override { return I->GetState(); }
    ComPtr<_Recordset> OpenSchema(SchemaEnum s, const Variant& r, const Variant& id) override {
        return I->OpenSchema(s, r, id);
    }
    void Cancel() override {
        Note("Cancel");
        I->Cancel();
    }

private:
    void Note(const String& s) { L->push_back(s); }
    ComPtr<_Connection> I;
    std::vector<String>* L;
};

// The engine's Connection class, recorded: ADODB.Connection objects made
// while it is installed write their calls to Calls.
class CallOrder : public DatabaseTest {
protected:
    void SetUp() override {
        DatabaseTest::SetUp();
        ComPtr<Com::IClassFactory> engine;
        Com::OleCheck(Com::CoGetClassObject(CLSID_Connection, Com::CLSCTX_INPROC_SERVER,
                                            Com::IIDOf<Com::IClassFactory>(), engine.PutVoid()));
        Com::HideComServer("libvelora_data_engine.so", true);
        Registration = Com::TClassRegistration(
            {CLSID_Connection, {}, "recorded connection"}, Com::MakeComObject<Com::TClassFactory>([engine, this] {
                ComPtr<_Connection> inner;
                Com::OleCheck(engine->CreateInstance(nullptr, Com::IIDOf<_Connection>(), inner.PutVoid()));
                return ComPtr<Rtl::IUnknown>(
                    static_cast<_Connection*>(Com::MakeComObject<TRecordingConnection>(inner, &Calls).Get()));
            }));
    }
    void TearDown() override {
        DatabaseTest::TearDown();
        Registration.Revoke();
        Com::HideComServer("libvelora_data_engine.so", false);
    }

    Com::TClassRegistration Registration;
    std::vector<String> Calls;
};

TEST_F(CallOrder, OpenPushesTheSettingsInTheirOrderThenConnects) {
    Db->SetConnectionAttributes(TConnectionAttributes{caTransCommitRetaining, caTransAbortRetaining});
    Db->SetTransIsolation(tiRepeatableRead);
    Db->SetConnectionMode(cmShareExclusive);
    Db->SetCommandTimeout(12);
    Db->SetConnectionTimeout(34);
    Db->SetUserName("ann");
    Db->SetPassword("pw");
    Db->SetConnectionOptions(TConnectionOptions{coAsyncExecute});
    Db->Open();
    EXPECT_EQ(Calls, (std::vector<String>{
                         "Provider := SQLite",
                         "IsolationLevel := 65536",
                         "Mode := 12",
                         "CommandTimeout := 12",
                         "ConnectionTimeout := 34",
                         "Attributes := 393216",
                         "Open Data Source=" + File + " / ann / pw / -1",
                     }));
}

TEST_F(CallOrder, WithoutAProviderNoneIsSet) {
    Db->SetDatabaseProvider("");
    Db->Open();
    ASSERT_FALSE(Calls.empty());
    EXPECT_EQ(Calls[0], "IsolationLevel := 4096");
}

TEST_F(CallOrder, CloseClearsTheAttributesRollsBackEachLevelThenCloses) {
    Db->SetConnectionAttributes(TConnectionAttributes{caTransAbortRetaining});
    TStandInDataSet ds(nullptr, &Calls);
    ds.SetName("DS");
    ds.SetDatabase(Db.get());
    ds.Open();
    Db->StartTransaction();
    Db->StartTransaction();
    Calls.clear();
    Db->Close();
    EXPECT_EQ(Calls, (std::vector<String>{"close DS", "Attributes := 0", "RollbackTrans", "RollbackTrans", "Close"}));
}

TEST_F(CallOrder, ClosingAnUnconnectedHandleDoesNotCloseIt) {
    Db->SetDatabaseConnect("Data Source=" + Dir.File("missing/none.db"));
    EXPECT_THROW(Db->Open(), Com::EOleException);
    Calls.clear();
    Db->Close();
    EXPECT_EQ(Calls, std::vector<String>{"Attributes := 0"});
    EXPECT_FALSE(Db->GetHandle());
}

}  // namespace
}  // namespace SpineTest
