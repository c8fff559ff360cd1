// Creates an automation object by ProgID (or by CLSID when the argument is a
// braced GUID) and prints its Version, the way a presence tester does; prints
// "not found" with the result code and message otherwise. Run by the registry
// tests with different VELORA_COM_SERVERS / VELORA_COM_HIDE environments.
#include <cstdio>

#include "Platform/com/Com.h"

int main(int argc, char** argv) {
    using namespace Com;
    const std::string_view name = argc > 1 ? argv[1] : "Velora.TestServer";
    CoInitialize();
    int rc = 0;
    try {
        ComPtr<IDispatch> obj = !name.empty() && name.front() == '{' ? CreateComObject<IDispatch>(StringToGUID(name))
                                                                      : CreateOleObject(name);
        std::printf("found %s\n", OleGet(obj, "Version").ToString().c_str());
    } catch (const EOleSysError& e) {
        std::printf("not found %08X %s\n", static_cast<unsigned>(e.ErrorCode()), e.Message().c_str());
        rc = 1;
    }
    CoUninitialize();
    return rc;
}
