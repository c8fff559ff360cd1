// A server module for the class registry tests: one automation class,
// "Velora.TestServer", with a Version property and an Add method.
#include "tests/com/TestServer.h"

namespace {

using namespace Com;

class TTestServer : public TDispatchImpl<TTestServer, TImplements<TInterfacedObject, ComTest::ITestServer>> {
public:
    Rtl::String GetVersion() override { return "2.8"; }
    int Add(int a, int b) override { return a + b; }

    static const TDispatchTable<TTestServer>& GetDispatchTable() {
        static const auto table = TDispatchTable<TTestServer>("Velora.TestServer")
                                      .Property("Version", 1, &TTestServer::GetVersion)
                                      .Method("Add", 2, &TTestServer::Add);
        return table;
    }
};

}  // namespace

VELORA_COM_SERVER_ENTRY {
    int cookie = 0;
    return Com::RegisterClassObject(
        {ComTest::CLSID_TestServer, {"Velora.TestServer.1", "Velora.TestServer"}, "Test server"},
        Com::MakeClassFactory<TTestServer>("Velora.TestServer"), &cookie);
}
