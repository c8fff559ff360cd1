#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <thread>

#include "Platform/com/Com.h"
#include "tests/com/TestServer.h"

using namespace Com;
using Rtl::String;

namespace {

// Every test of this program finds its server modules in the test folder, never
// in the real server folder.
struct TServerPathEnvironment : ::testing::Environment {
    void SetUp() override { SetComServerPath({COM_TEST_SERVER_DIR}); }
};
const auto* const ServerPathEnvironment = ::testing::AddGlobalTestEnvironment(new TServerPathEnvironment);

struct IWidget : IUnknown {
    COM_INTERFACE(IWidget, IUnknown, "{C0DE0001-0000-4000-8000-00000000AA01}")
    virtual int Size() = 0;
};
struct INothing : IUnknown {
    COM_INTERFACE(INothing, IUnknown, "{C0DE0001-0000-4000-8000-00000000AA02}")
};

constexpr CLSID CLSID_Widget = GUIDLiteral("{C0DE0001-0000-4000-8000-00000000BB01}");
constexpr CLSID CLSID_Unknown = GUIDLiteral("{C0DE0001-0000-4000-8000-00000000BB02}");

class TWidget : public TDispatchImpl<TWidget, TImplements<TInterfacedObject, IWidget, IDispatch>> {
public:
    int Size() override { return 12; }
    static const TDispatchTable<TWidget>& GetDispatchTable() {
        static const auto table = TDispatchTable<TWidget>("Test.Widget").Property("Size", 1, &TWidget::Size);
        return table;
    }
};

TClassInfo WidgetInfo() { return {CLSID_Widget, {"Test.Widget.1", "Test.Widget"}, "A widget"}; }

template <class F>
HRESULT CodeOf(F fn) {
    try {
        fn();
    } catch (const EOleSysError& e) {
        return e.ErrorCode();
    }
    return S_OK;
}

}  // namespace

TEST(ClassRegistry, CreatesRegisteredClassesByClassIdAndProgID) {
    TClassRegistration reg(WidgetInfo(), MakeClassFactory<TWidget>());
    ComPtr<IWidget> w;
    ASSERT_EQ(CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_INPROC_SERVER, IIDOf<IWidget>(), w.PutVoid()), S_OK);
    EXPECT_EQ(w->Size(), 12);
    EXPECT_EQ(CreateComObject<IWidget>(CLSID_Widget)->Size(), 12);
    // ProgIDs are looked up case-insensitively; the first one is the class's own.
    EXPECT_EQ(ProgIDToClassID("test.widget"), CLSID_Widget);
    EXPECT_EQ(ProgIDToClassID("TEST.WIDGET.1"), CLSID_Widget);
    EXPECT_EQ(ClassIDToProgID(CLSID_Widget), "Test.Widget.1");
    CLSID clsid;
    EXPECT_EQ(CLSIDFromString("{C0DE0001-0000-4000-8000-00000000BB01}", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Widget);
    EXPECT_EQ(CLSIDFromString("Test.Widget", &clsid), S_OK);
    EXPECT_EQ(OleGet(CreateOleObject("Test.Widget"), "Size").ToInteger(), 12);
    // Revoked, the class is gone.
    reg.Revoke();
    EXPECT_EQ(CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_INPROC_SERVER, IIDOf<IWidget>(), w.PutVoid()),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CLSIDFromProgID("Test.Widget", &clsid), CO_E_CLASSSTRING);
}

TEST(ClassRegistry, UnknownClassesAndProgIDs) {
    ComPtr<IUnknown> obj;
    EXPECT_EQ(CoCreateInstance(CLSID_Unknown, nullptr, CLSCTX_ALL, IID_IUnknown, obj.PutVoid()), REGDB_E_CLASSNOTREG);
    String progId = "x";
    EXPECT_EQ(ProgIDFromCLSID(CLSID_Unknown, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, "");
    CLSID clsid;
    for (const char* bad : {"No.Such.Class", "", "1Bad", "has space", "{not-a-guid}"}) {
        EXPECT_EQ(CLSIDFromString(bad, &clsid), CO_E_CLASSSTRING) << bad;
        EXPECT_TRUE(clsid.IsNull());
    }
    // The raising forms say what was missing.
    try {
        CreateOleObject("No.Such.Class");
        FAIL();
    } catch (const EOleException& e) {
        EXPECT_EQ(e.ErrorCode(), CO_E_CLASSSTRING);
        EXPECT_EQ(e.Message(), "Invalid class string 'No.Such.Class'");
    }
    try {
        CreateComObject(CLSID_Unknown);
        FAIL();
    } catch (const EOleException& e) {
        EXPECT_EQ(e.ErrorCode(), REGDB_E_CLASSNOTREG);
        EXPECT_EQ(e.Message(), "Class not registered: {C0DE0001-0000-4000-8000-00000000BB02}");
    }
}

TEST(ClassRegistry, RegistrationRules) {
    TClassRegistration reg(WidgetInfo(), MakeClassFactory<TWidget>());
    int cookie = 0;
    auto factory = MakeClassFactory<TWidget>();
    EXPECT_EQ(RegisterClassObject(WidgetInfo(), factory, &cookie), CO_E_OBJISREG);
    EXPECT_EQ(RegisterClassObject({CLSID_Unknown, {"TEST.WIDGET"}, ""}, factory, &cookie), CO_E_OBJISREG);
    for (const char* bad : {"", "9Lives", ".Dot", "Has Space", "Tab\tName", "Quote'd",
                            "A.Name.That.Is.Far.Too.Long.For.A.ProgID.X"}) {
        EXPECT_EQ(RegisterClassObject({CLSID_Unknown, {bad}, ""}, factory, &cookie), E_INVALIDARG) << bad;
        EXPECT_EQ(cookie, 0);
    }
    EXPECT_EQ(RegisterClassObject({GUID_NULL, {}, ""}, factory, &cookie), E_INVALIDARG);
    EXPECT_EQ(RegisterClassObject({CLSID_Unknown, {}, ""}, nullptr, &cookie), E_INVALIDARG);
    EXPECT_EQ(RevokeClassObject(987654), CO_E_OBJNOTREG);
    // A class without ProgID is created by CLSID only.
    ASSERT_EQ(RegisterClassObject({CLSID_Unknown, {}, ""}, factory, &cookie), S_OK);
    String progId;
    EXPECT_EQ(ProgIDFromCLSID(CLSID_Unknown, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(CreateComObject(CLSID_Unknown));
    EXPECT_EQ(RevokeClassObject(cookie), S_OK);
    EXPECT_EQ(RevokeClassObject(cookie), CO_E_OBJNOTREG);
}

TEST(ClassRegistry, CreationFailures) {
    TClassRegistration reg(WidgetInfo(), MakeClassFactory<TWidget>());
    ComPtr<IUnknown> obj;
    ComPtr<IWidget> outer = CreateComObject<IWidget>(CLSID_Widget);
    EXPECT_EQ(CoCreateInstance(CLSID_Widget, outer.Get(), CLSCTX_ALL, IID_IUnknown, obj.PutVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_ALL, IIDOf<INothing>(), obj.PutVoid()), E_NOINTERFACE);
    EXPECT_EQ(CoCreateInstance(CLSID_Widget, nullptr, 0, IID_IUnknown, obj.PutVoid()), E_INVALIDARG);
    EXPECT_EQ(CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
    // A factory that fails describes why.
    constexpr CLSID CLSID_Faulty = GUIDLiteral("{C0DE0001-0000-4000-8000-00000000BB03}");
    TClassRegistration faulty({CLSID_Faulty, {"Test.Faulty"}, ""},
                              MakeComObject<TClassFactory>(
                                  []() -> ComPtr<IUnknown> { throw Rtl::EInOutError("Cannot open engine.dat"); },
                                  "Test.Faulty"));
    try {
        CreateOleObject("Test.Faulty");
        FAIL();
    } catch (const EOleException& e) {
        EXPECT_EQ(e.ErrorCode(), E_FAIL);
        EXPECT_EQ(e.Message(), "Cannot open engine.dat");
        EXPECT_EQ(e.Source(), "Test.Faulty");
    }
    EXPECT_FALSE(obj);
}

TEST(ClassRegistry, ThreadsMustJoinComFirst) {
    TClassRegistration reg(WidgetInfo(), MakeClassFactory<TWidget>());
    HRESULT before = S_OK, after = E_FAIL;
    int size = 0;
    std::thread([&] {
        ComPtr<IWidget> w;
        before = CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_ALL, IIDOf<IWidget>(), w.PutVoid());
        CoInitialize();
        after = CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_ALL, IIDOf<IWidget>(), w.PutVoid());
        if (w) size = w->Size();
        w.Reset();
        CoUninitialize();
    }).join();
    EXPECT_EQ(before, CO_E_NOTINITIALIZED);
    EXPECT_EQ(after, S_OK);
    EXPECT_EQ(size, 12);
}

TEST(ClassRegistry, ServerModulesLoadOnFirstUseAndCanBeHidden) {
    ASSERT_EQ(GetComServerPath(), std::vector<String>{COM_TEST_SERVER_DIR});
    auto obj = CreateOleObject("Velora.TestServer");
    EXPECT_EQ(OleGet(obj, "Version").ToString(), "2.8");
    EXPECT_EQ(OleCall(obj, "Add", {2, 40}).ToInteger(), 42);
    EXPECT_EQ(obj.As<ComTest::ITestServer>()->Add(1, 2), 3);
    EXPECT_EQ(ClassIDToProgID(ComTest::CLSID_TestServer), "Velora.TestServer.1");
    bool loaded = false;
    for (const auto& m : GetComServerModules())
        if (m.FileName == ComTest::TestServerModule) loaded = m.Loaded;
    EXPECT_TRUE(loaded);

    // Hidden, the server's classes are gone as on a machine without it.
    HideComServer(ComTest::TestServerModule);
    EXPECT_TRUE(IsComServerHidden(ComTest::TestServerModule));
    EXPECT_EQ(CodeOf([] { CreateOleObject("Velora.TestServer"); }), CO_E_CLASSSTRING);
    EXPECT_EQ(CodeOf([] { CreateComObject(ComTest::CLSID_TestServer); }), REGDB_E_CLASSNOTREG);
    // An object made before stays usable.
    EXPECT_EQ(OleGet(obj, "Version").ToString(), "2.8");
    HideComServer(ComTest::TestServerModule, false);
    EXPECT_EQ(OleGet(CreateOleObject("velora.testserver"), "Version").ToString(), "2.8");
}

TEST(ClassRegistry, ModulesThatCannotServeAreReported) {
    SetComServerPath({COM_TEST_BROKEN_SERVER_DIR});
    try {
        CreateComObject(CLSID_Unknown);
        FAIL();
    } catch (const EOleException& e) {
        EXPECT_EQ(e.ErrorCode(), REGDB_E_CLASSNOTREG);
        EXPECT_NE(e.Message().find("libcom_test_broken.so not loaded: no VeloraComRegisterServer entry point"),
                  std::string::npos)
            << e.Message();
    }
    SetComServerPath({COM_TEST_SERVER_DIR});
}

namespace {

// Runs the probe program with an environment and answers its output and exit
// code (1 when the class was not found; a sanitizer report would change it).
String Probe(const String& env, const String& arg = "Velora.TestServer") {
    const String cmd = "env -u VELORA_COM_SERVERS -u VELORA_COM_HIDE " + env + " '" COM_PROBE "' '" + arg + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return "popen failed";
    String out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    const int status = pclose(p);
    return out + "exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

}  // namespace

TEST(ClassRegistry, ProcessesSeeTheServersTheirEnvironmentGives) {
    const String servers = "VELORA_COM_SERVERS='" COM_TEST_SERVER_DIR "'";
    EXPECT_EQ(Probe(servers), "found 2.8\nexit 0");
    EXPECT_EQ(Probe(servers, GUIDToString(ComTest::CLSID_TestServer)), "found 2.8\nexit 0");
    // Hidden by the environment, or no server folder at all: a real "not registered".
    EXPECT_EQ(Probe(servers + " VELORA_COM_HIDE=other.so:" + ComTest::TestServerModule),
              "not found 800401F3 Invalid class string 'Velora.TestServer'\nexit 1");
    EXPECT_EQ(Probe("VELORA_COM_SERVERS="), "not found 800401F3 Invalid class string 'Velora.TestServer'\nexit 1");
    EXPECT_EQ(Probe("VELORA_COM_SERVERS=", GUIDToString(ComTest::CLSID_TestServer)),
              "not found 80040154 Class not registered: " + GUIDToString(ComTest::CLSID_TestServer) + "\nexit 1");
}
