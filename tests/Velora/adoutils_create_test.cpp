// Creating the ADO objects by interface generation, the version probe and
// the optional-argument placeholder.
#include "tests/Velora/database_fixture.h"

namespace SpineTest {
namespace {

constexpr const char* EngineModule = "libvelora_data_engine.so";

// Hides a server module for the scope, as on a machine without it.
struct THiddenServer {
    explicit THiddenServer(const char* module) : Module(module) { Com::HideComServer(Module, true); }
    ~THiddenServer() { Com::HideComServer(Module, false); }
    String Module;
};

// Stands in for the engine's class factory: records the interface each
// creation asks for, refuses the ones it is told to, creates the rest with
// the engine's own factory.
class TRecordingFactory : public Com::TImplements<Com::TInterfacedObject, Com::IClassFactory> {
public:
    TRecordingFactory(ComPtr<Com::IClassFactory> inner, std::vector<Rtl::IID>* asked, std::vector<Rtl::IID> refused)
        : FInner(std::move(inner)), FAsked(asked), FRefused(std::move(refused)) {}
    Rtl::HRESULT CreateInstance(Rtl::IUnknown* outer, const Rtl::IID& iid, void** obj) override {
        FAsked->push_back(iid);
        for (const auto& r : FRefused)
            if (r == iid) {
                *obj = nullptr;
                return Com::E_NOINTERFACE;
            }
        return FInner->CreateInstance(outer, iid, obj);
    }
    Rtl::HRESULT LockServer(bool) override { return Com::S_OK; }

private:
    ComPtr<Com::IClassFactory> FInner;
    std::vector<Rtl::IID>* FAsked;
    std::vector<Rtl::IID> FRefused;
};

// The engine's three classes behind recording factories.
class RecordedEngine : public ::testing::Test {
protected:
    void SetUp() override {
        for (const Rtl::CLSID& clsid : {CLSID_Connection, CLSID_Command, CLSID_Recordset}) {
            ComPtr<Com::IClassFactory> inner;
            Com::OleCheck(Com::CoGetClassObject(clsid, Com::CLSCTX_INPROC_SERVER, Com::IIDOf<Com::IClassFactory>(),
                                                inner.PutVoid()));
            Inner.push_back(inner);
        }
        Hidden = std::make_unique<THiddenServer>(EngineModule);
    }
    void TearDown() override {
        Registrations.clear();
        Hidden.reset();
    }
    void Register(std::vector<Rtl::IID> refused = {}) {
        const Rtl::CLSID classes[] = {CLSID_Connection, CLSID_Command, CLSID_Recordset};
        for (int i = 0; i < 3; ++i)
            Registrations.emplace_back(Com::TClassInfo{classes[i], {}, "recorded"},
                                       Com::MakeComObject<TRecordingFactory>(Inner[i], &Asked, refused));
    }

    std::vector<ComPtr<Com::IClassFactory>> Inner;
    std::unique_ptr<THiddenServer> Hidden;
    std::vector<Com::TClassRegistration> Registrations;
    std::vector<Rtl::IID> Asked;
};

// The reference answered is the object's interface for iid.
template <class I>
bool IsInterface(const ComPtr<I>& p, const Rtl::IID& iid) {
    void* expected = nullptr;
    if (!p || Com::Failed(p->QueryInterface(iid, &expected))) return false;
    static_cast<Rtl::IUnknown*>(expected)->Release();
    return static_cast<void*>(p.Get()) == expected;
}

TEST_F(RecordedEngine, EachGenerationAsksForTheInterfaceOfItsCell) {
    Register();
    struct TRow {
        TADOVersion Version;
        Rtl::IID Connection, Command, Recordset;
    };
    const Rtl::IID c15 = Connection15::InterfaceIID, c = _Connection::InterfaceIID;
    const TRow rows[] = {
        {avADO15, c15, Command15::InterfaceIID, Recordset15::InterfaceIID},
        {avADO20, c, Command25::InterfaceIID, Recordset20::InterfaceIID},
        {avADO21, c, Command25::InterfaceIID, Recordset21::InterfaceIID},
        {avADO25, c, Command25::InterfaceIID, _Recordset::InterfaceIID},
        {avADO26, c, _Command::InterfaceIID, _Recordset::InterfaceIID},
        {avADO27, c, _Command::InterfaceIID, _Recordset::InterfaceIID},
        {avADO28, c, _Command::InterfaceIID, _Recordset::InterfaceIID},
        {avADO, c, _Command::InterfaceIID, _Recordset::InterfaceIID},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(Vcl::GetEnumName(Vcl::TypeInfo<TADOVersion>(), r.Version));
        Asked.clear();
        const auto connection = CreateADOConnection(r.Version);
        const auto command = CreateADOCommand(r.Version);
        const auto recordset = CreateADORecordset(r.Version);
        EXPECT_EQ(Asked, (std::vector<Rtl::IID>{r.Connection, r.Command, r.Recordset}));
        EXPECT_TRUE(IsInterface(connection, r.Connection));
        EXPECT_TRUE(IsInterface(command, r.Command));
        EXPECT_TRUE(IsInterface(recordset, r.Recordset));
    }
}

TEST_F(RecordedEngine, AnInterfaceTheEngineLacksIsTheCallersComError) {
    Register({_Connection::InterfaceIID});
    EXPECT_EQ(CodeOf([] { CreateADOConnection(avADO); }), Com::E_NOINTERFACE);
    EXPECT_TRUE(CreateADOConnection(avADO15));
    // A database asking for the newest generation cannot open; the oldest can.
    TTempDir dir;
    TADODatabase db(nullptr);
    db.SetDatabaseConnect("Data Source=" + dir.File("x.db"));
    db.SetConnectionMode(cmUnknown);
    EXPECT_EQ(CodeOf([&] { db.Open(); }), Com::E_NOINTERFACE);
    EXPECT_FALSE(db.GetConnected());
    db.SetUseADOVersion(avADO15);
    db.Open();
    EXPECT_TRUE(db.GetConnected());
}

TEST(AdoVersionProbe, AnswersTheEnginesVersion) { EXPECT_EQ(GetADOVersion(), "2.8"); }

TEST(AdoVersionProbe, WithoutTheEngineAnswersZeroAndCreationFails) {
    THiddenServer hidden(EngineModule);
    EXPECT_EQ(GetADOVersion(), "0.0");
    EXPECT_EQ(CodeOf([] { CreateADOConnection(avADO); }), Com::REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CodeOf([] { CreateADOCommand(avADO); }), Com::REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CodeOf([] { CreateADORecordset(avADO); }), Com::REGDB_E_CLASSNOTREG);
    TADODatabase db(nullptr);
    EXPECT_EQ(CodeOf([&] { db.Open(); }), Com::REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(db.GetConnected());
}

TEST(AdoNotUsed, IsTheMissingArgumentMarker) {
    EXPECT_TRUE(Com::IsEmptyParam(NotUsed()));
    // ADO takes it as an omitted optional argument.
    TTempDir dir;
    const std::string file = dir.File("n.db");
    SqliteExec(file, "create table t(a int); insert into t values (1), (2)");
    auto connection = CoConnection::Create();
    connection->Open(W("Provider=SQLite;Data Source=" + file));
    auto rs = CoRecordset::Create();
    rs->Open(Variant(u"select a from t order by a"), Com::VarFromInterface(connection));
    const Variant rows = rs->GetRows(adGetRowsRest, NotUsed(), NotUsed());
    EXPECT_EQ(Rtl::VarArrayHighBound(rows, 2), 1);
}

}  // namespace
}  // namespace SpineTest
