// The datasets' error rule (CheckADOError), through the dataset stand-in:
// the message built from the active connection's Errors, OnADOError and its
// actions.
#include "tests/Velora/database_fixture.h"

namespace SpineTest {
namespace {

// ---- A connection of another ADO whose Errors the test chooses ---------------------------------

class TFakeError : public Com::TImplements<Com::TInterfacedObject, Error> {
public:
    explicit TFakeError(String d) : FDescription(std::move(d)) {}
    Rtl::HRESULT GetIDsOfNames(std::string_view, Com::DISPID*) override { return Com::E_NOTIMPL; }
    Rtl::HRESULT Invoke(Com::DISPID, Rtl::Word, std::span<Variant>, Variant*, Com::TExcepInfo*, int*) override {
        return Com::E_NOTIMPL;
    }
    int GetNumber() override { return Com::E_FAIL; }
    WideString GetSource() override { return u"Fake"; }
    WideString GetDescription() override { return W(FDescription); }
    WideString GetHelpFile() override { return {}; }
    int GetHelpContext() override { return 0; }
    WideString GetSQLState() override { return {}; }
    int GetNativeError() override { return 0; }

private:
    String FDescription;
};

class TFakeErrors : public Com::TImplements<Com::TInterfacedObject, Errors> {
public:
    std::vector<ComPtr<Error>> Items;
    Rtl::HRESULT GetIDsOfNames(std::string_view, Com::DISPID*) override { return Com::E_NOTIMPL; }
    Rtl::HRESULT Invoke(Com::DISPID, Rtl::Word, std::span<Variant>, Variant*, Com::TExcepInfo*, int*) override {
        return Com::E_NOTIMPL;
    }
    int GetCount() override { return static_cast<int>(Items.size()); }
    ComPtr<Rtl::IUnknown> _NewEnum() override { return nullptr; }
    void Refresh() override {}
    ComPtr<Error> GetItem(const Variant& Index) override { return Items.at(Index.ToInteger()); }
    void Clear() override { Items.clear(); }
};

#define VELORA_TEST_UNUSED(...) \
    { throw Com::EOleSysError(Com::E_NOTIMPL); }

// Only Errors answers; the error rule needs nothing else of a connection.
class TFakeConnection : public Com::TImplements<Com::TInterfacedObject, _Connection> {
public:
    ComPtr<TFakeErrors> ErrorList = Com::MakeComObject<TFakeErrors>();
    ComPtr<Errors> GetErrors() override { return ErrorList; }

    Rtl::HRESULT GetIDsOfNames(std::string_view, Com::DISPID*) override { return Com::E_NOTIMPL; }
    Rtl::HRESULT Invoke(Com::DISPID, Rtl::Word, std::span<Variant>, Variant*, Com::TExcepInfo*, int*) override {
        return Com::E_NOTIMPL;
    }
    ComPtr<Properties> GetProperties() override VELORA_TEST_UNUSED()
    WideString GetConnectionString() override VELORA_TEST_UNUSED()
    void SetConnectionString(const WideString&) override VELORA_TEST_UNUSED()
    int GetCommandTimeout() override VELORA_TEST_UNUSED()
    void SetCommandTimeout(int) override VELORA_TEST_UNUSED()
    int GetConnectionTimeout() override VELORA_TEST_UNUSED()
    void SetConnectionTimeout(int) override VELORA_TEST_UNUSED()
    WideString GetVersion() override VELORA_TEST_UNUSED()
    void Close() override VELORA_TEST_UNUSED()
    ComPtr<_Recordset> Execute(const WideString&, Variant*, int) override VELORA_TEST_UNUSED()
    int BeginTrans() override VELORA_TEST_UNUSED()
    void CommitTrans() override VELORA_TEST_UNUSED()
    void RollbackTrans() override VELORA_TEST_UNUSED()
    void Open(const WideString&, const WideString&, const WideString&, int) override VELORA_TEST_UNUSED()
    WideString GetDefaultDatabase() override VELORA_TEST_UNUSED()
    void SetDefaultDatabase(const WideString&) override VELORA_TEST_UNUSED()
    IsolationLevelEnum GetIsolationLevel() override VELORA_TEST_UNUSED()
    void SetIsolationLevel(IsolationLevelEnum) override VELORA_TEST_UNUSED()
    int GetAttributes() override VELORA_TEST_UNUSED()
    void SetAttributes(int) override VELORA_TEST_UNUSED()
    CursorLocationEnum GetCursorLocation() override VELORA_TEST_UNUSED()
    void SetCursorLocation(CursorLocationEnum) override VELORA_TEST_UNUSED()
    ConnectModeEnum GetMode() override VELORA_TEST_UNUSED()
    void SetMode(ConnectModeEnum) override VELORA_TEST_UNUSED()
    WideString GetProvider() override VELORA_TEST_UNUSED()
    void SetProvider(const WideString&) override VELORA_TEST_UNUSED()
    int GetState() override VELORA_TEST_UNUSED()
    ComPtr<_Recordset> OpenSchema(SchemaEnum, const Variant&, const Variant&) override VELORA_TEST_UNUSED()
    void Cancel() override VELORA_TEST_UNUSED()
};

// A recordset as the error rule sees it: late-bound, with ActiveConnection.
class TFakeRecordset : public Com::TDispatchImpl<TFakeRecordset, Com::TImplements<Com::TInterfacedObject, Com::IDispatch>> {
public:
    std::function<Variant()> Active;
    Variant GetActiveConnection() { return Active ? Active() : Variant(); }
    static const Com::TDispatchTable<TFakeRecordset>& GetDispatchTable() {
        static const auto table =
            Com::TDispatchTable<TFakeRecordset>("Fake.Recordset").Property("ActiveConnection", 1, &TFakeRecordset::GetActiveConnection);
        return table;
    }
};

class ErrorRule : public DatabaseTest {
protected:
    void SetUp() override {
        DatabaseTest::SetUp();
        DataSet = std::make_unique<TStandInDataSet>(nullptr);
        DataSet->SetDatabase(Db.get());
        DataSet->Open();
    }
    void TearDown() override {
        DataSet.reset();
        DatabaseTest::TearDown();
    }
    // The message of the EADOError CheckADOError raises.
    std::string Raised(const String& msg) {
        return MessageOf<EADOError>([&] { DataSet->CheckADOError(msg); });
    }
    ComPtr<TFakeRecordset> RecordsetOn(ComPtr<TFakeConnection> connection) {
        auto rs = Com::MakeComObject<TFakeRecordset>();
        rs->Active = [connection] { return Com::VarFromInterface(static_cast<Com::IDispatch*>(connection.Get())); };
        return rs;
    }

    std::unique_ptr<TStandInDataSet> DataSet;
};

// The rule over a late-bound recordset, as a dataset with that recordset runs it.
std::string RaisedOver(Com::IDispatch* recordset, const String& msg) {
    return MessageOf<EADOError>([&] { RaiseADOError(nullptr, recordset, msg, nullptr); });
}

TEST_F(ErrorRule, TheEnginesErrorDescriptionsMakeTheMessage) {
    auto rs = CoRecordset::Create();
    rs->Open(Variant(u"select * from t"), Com::VarFromInterface(Db->GetHandle()));
    DataSet->Recordset = rs;
    String failure;
    try {
        Db->ExecSQL("update nowhere set x = 1");
    } catch (const Com::EOleException& e) {
        failure = e.Message();
    }
    ASSERT_FALSE(failure.empty());
    EXPECT_EQ(Raised("ignored while ADO has errors"), "\r" + failure);
}

TEST_F(ErrorRule, ErrorsAreWalkedFromTheLastToTheFirst) {
    auto connection = Com::MakeComObject<TFakeConnection>();
    connection->ErrorList->Items = {Com::MakeComObject<TFakeError>("first"), Com::MakeComObject<TFakeError>("second")};
    EXPECT_EQ(RaisedOver(RecordsetOn(connection).Get(), "msg"), "\rsecond\rfirst");
}

TEST_F(ErrorRule, WithoutErrorsTheCallersMessageStands) {
    auto emptyConnection = Com::MakeComObject<TFakeConnection>();
    auto unconnected = Com::MakeComObject<TFakeRecordset>();
    auto notAConnection = Com::MakeComObject<TFakeRecordset>();
    notAConnection->Active = [&] { return Com::VarFromInterface(static_cast<Com::IDispatch*>(unconnected.Get())); };
    auto unreadable = Com::MakeComObject<TFakeRecordset>();
    unreadable->Active = []() -> Variant { throw Com::EOleSysError(Com::E_FAIL); };
    const ComPtr<TFakeRecordset> recordsets[] = {RecordsetOn(emptyConnection), unconnected, notAConnection, unreadable};
    for (const auto& rs : recordsets) {
        EXPECT_EQ(RaisedOver(rs.Get(), "Operation failed"), "Operation failed");
        EXPECT_EQ(RaisedOver(rs.Get(), ""), "Unknown error");
    }
    // No current recordset at all.
    EXPECT_EQ(Raised("Operation failed"), "Operation failed");
    EXPECT_EQ(Raised(""), "Unknown error");
}

TEST_F(ErrorRule, OnADOErrorDecidesBetweenTheErrorAndASilentAbort) {
    struct TCase {
        Db::TDataAction Action;
        bool Silent;
    };
    for (const TCase c : {TCase{Db::daFail, false}, TCase{Db::daRetry, false}, TCase{Db::daAbort, true}}) {
        SCOPED_TRACE(static_cast<int>(c.Action));
        int calls = 0;
        DataSet->OnADOError = [&](Db::TDataSet* ds, Db::EDatabaseError& e, Db::TDataAction& action) {
            ++calls;
            EXPECT_EQ(ds, DataSet.get());
            EXPECT_NE(dynamic_cast<EADOError*>(&e), nullptr);
            EXPECT_EQ(e.Message(), "broken");
            EXPECT_EQ(action, Db::daFail);
            action = c.Action;
        };
        if (c.Silent) EXPECT_THROW(DataSet->CheckADOError("broken"), Rtl::EAbort);
        else EXPECT_EQ(Raised("broken"), "broken");
        EXPECT_EQ(calls, 1) << "no retry";
    }
}

TEST_F(ErrorRule, AHandlerMayRewordTheError) {
    DataSet->OnADOError = [](Db::TDataSet*, Db::EDatabaseError& e, Db::TDataAction&) {
        e.SetMessage("Could not save: " + e.Message());
    };
    EXPECT_EQ(Raised("disk full"), "Could not save: disk full");
}

}  // namespace
}  // namespace SpineTest
