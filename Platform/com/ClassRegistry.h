// The class registry: creating objects by class id or ProgID.
//
// A class is registered with its CLSID, its ProgIDs and a class factory, either
// from code (RegisterClassObject / TClassRegistration: tests and servers linked
// into the program) or by a server module. Server modules are shared libraries
// loaded on first use:
//
// * They are found in the server folders: the colon-separated list in the
//   environment variable VELORA_COM_SERVERS when it is set (an empty value means
//   no server folders), otherwise the folder "com-servers" beside the library that
//   holds this registry (libvelora_com.so). SetComServerPath overrides both.
// * When a CLSID or ProgID is not registered, every "*.so" file of those folders
//   that is not loaded yet (and not hidden) is loaded, in name order, and its
//   entry point `extern "C" HRESULT VeloraComRegisterServer()` is called; the
//   classes it registers belong to that module. Modules stay loaded.
// * A module can be hidden by its file name ("libvelora_data_engine.so"): through
//   the colon-separated VELORA_COM_HIDE environment variable or HideComServer. A
//   hidden module is not loaded, and the classes of an already loaded module
//   vanish while it is hidden, so the machine behaves as one without that server:
//   its classes give REGDB_E_CLASSNOTREG and its ProgIDs CO_E_CLASSSTRING.
//
// Failures also record error information naming the class or ProgID (and a
// module that failed to load), so OleCheck raises an EOleException that says
// what was missing.
#pragma once

#include <functional>
#include <vector>

#include "Platform/com/Dispatch.h"

namespace Com {

struct IClassFactory : IUnknown {
    COM_INTERFACE(IClassFactory, IUnknown, "{00000001-0000-0000-C000-000000000046}")
    // CLASS_E_NOAGGREGATION for a non-null outer object.
    virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** obj) = 0;
    virtual HRESULT LockServer(bool lock) = 0;
};

// A class factory around a creation function; an exception from the function
// becomes the failure's result code and error information.
class TClassFactory : public TImplements<TInterfacedObject, IClassFactory> {
public:
    using TCreator = std::function<ComPtr<IUnknown>()>;
    TClassFactory(TCreator creator, String source = {});
    HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** obj) override;
    HRESULT LockServer(bool lock) override { return S_OK; }

private:
    TCreator FCreator;
    String FSource;
};

// A factory that creates T with MakeComObject<T>().
template <class T>
ComPtr<IClassFactory> MakeClassFactory(String source = {}) {
    return MakeComObject<TClassFactory>(
        [] { return MakeComObject<T>().template As<IUnknown>(); },
        std::move(source));
}

struct TClassInfo {
    CLSID ClassID;
    // The first is what ProgIDFromCLSID answers ("Vendor.Class.2"); the others
    // are aliases, typically the version-independent name ("Vendor.Class").
    std::vector<String> ProgIDs;
    String Description;
};

enum : std::uint32_t {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
    CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER,
};

// Registers a class; *cookie identifies the registration for RevokeClassObject.
// CO_E_OBJISREG when the CLSID or one of the ProgIDs is registered already,
// E_INVALIDARG for a null CLSID, a null factory or a malformed ProgID (empty,
// longer than 39 characters, starting with a digit or a period, or holding
// anything but letters, digits, periods and underscores).
HRESULT RegisterClassObject(const TClassInfo& info, ComPtr<IClassFactory> factory, int* cookie);
// CO_E_OBJNOTREG for an unknown cookie.
HRESULT RevokeClassObject(int cookie);

// Registration for the lifetime of a scope (raises EOleException on failure).
class TClassRegistration {
public:
    TClassRegistration() = default;
    TClassRegistration(const TClassInfo& info, ComPtr<IClassFactory> factory);
    TClassRegistration(TClassRegistration&& o) noexcept : FCookie(std::exchange(o.FCookie, 0)) {}
    TClassRegistration& operator=(TClassRegistration&& o) noexcept;
    ~TClassRegistration() { Revoke(); }
    void Revoke() noexcept;
    int GetCookie() const noexcept { return FCookie; }

private:
    int FCookie = 0;
};

// The class factory of a registered class (REGDB_E_CLASSNOTREG when none).
HRESULT CoGetClassObject(const CLSID& clsid, std::uint32_t clsContext, const IID& iid, void** obj);
// Creates an object of a registered class and queries it for iid. REGDB_E_CLASSNOTREG
// for an unknown class, CO_E_NOTINITIALIZED on a thread without CoInitialize,
// CLASS_E_NOAGGREGATION for a non-null outer, E_NOINTERFACE when the object lacks iid.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t clsContext, const IID& iid, void** obj);
// CO_E_CLASSSTRING for an unknown ProgID (case-insensitive lookup).
HRESULT CLSIDFromProgID(std::string_view progId, CLSID* clsid);
// Accepts a braced GUID or a ProgID; CO_E_CLASSSTRING otherwise.
HRESULT CLSIDFromString(std::string_view text, CLSID* clsid);
// REGDB_E_CLASSNOTREG for an unknown class or one without ProgID.
HRESULT ProgIDFromCLSID(const CLSID& clsid, String* progId);

// Raising forms (OleCheck rules).
CLSID ProgIDToClassID(std::string_view progId);
String ClassIDToProgID(const CLSID& clsid);
ComPtr<IUnknown> CreateComObject(const CLSID& clsid);
template <class I>
ComPtr<I> CreateComObject(const CLSID& clsid) {
    ComPtr<I> r;
    OleCheck(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IIDOf<I>(), r.PutVoid()));
    return r;
}
// Creates an automation object by ProgID and answers its IDispatch.
ComPtr<IDispatch> CreateOleObject(std::string_view progId);

// ---- Server modules ----------------------------------------------------------------------

// The entry point every server module exports.
#define VELORA_COM_SERVER_ENTRY extern "C" __attribute__((visibility("default"))) ::Com::HRESULT VeloraComRegisterServer()

std::vector<String> GetComServerPath();
// Replaces the server folders (the environment is no longer consulted).
void SetComServerPath(std::vector<String> folders);
void HideComServer(const String& moduleFileName, bool hidden = true);
bool IsComServerHidden(const String& moduleFileName);

struct TComServerModule {
    String FileName;  // the module's file name within its folder
    String Path;
    bool Loaded = false;
    String Error;     // why it could not be loaded or registered
};
// The modules tried so far.
std::vector<TComServerModule> GetComServerModules();

}  // namespace Com
