#include "Platform/com/ClassRegistry.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>

#include "Platform/com/Apartment.h"

namespace Com {

// ---- TClassFactory ----------------------------------------------------------------------

TClassFactory::TClassFactory(TCreator creator, String source)
    : FCreator(std::move(creator)), FSource(std::move(source)) {}

HRESULT TClassFactory::CreateInstance(IUnknown* outer, const IID& iid, void** obj) {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    try {
        ComPtr<IUnknown> unk = FCreator();
        if (!unk) return SetErrorResult(E_UNEXPECTED, FSource, "The class factory created no object");
        return unk->QueryInterface(iid, obj);
    } catch (...) {
        return HandleSafeCallException(FSource);
    }
}

namespace {

// ---- The registry -------------------------------------------------------------------------

struct TEntry {
    int Cookie;
    TClassInfo Info;
    ComPtr<IClassFactory> Factory;
    String Module;  // file name of the server module, empty for registrations from code
};

struct TModule {
    String FileName;
    String Path;
    bool Loaded = false;
    String Error;
};

struct TRegistry {
    std::mutex Lock;
    std::vector<TEntry> Entries;
    int LastCookie = 0;
    bool Configured = false;
    std::vector<String> Path;
    std::set<String> Hidden;
    std::vector<TModule> Modules;  // every module tried, in the order tried
    // Serialises module loading; recursive because a module's entry point may
    // itself create objects of other modules.
    std::recursive_mutex LoadLock;
};

// Never destroyed: factories of server modules must not be released while the
// process tears those modules down.
TRegistry& Registry() {
    static auto* r = new TRegistry;
    return *r;
}

// The module whose entry point is running on this thread.
thread_local const String* LoadingModule = nullptr;

std::vector<String> SplitList(const char* text) {
    std::vector<String> r;
    std::string_view s(text);
    while (!s.empty()) {
        const auto colon = s.find(':');
        const auto item = s.substr(0, colon);
        if (!item.empty()) r.emplace_back(item);
        if (colon == std::string_view::npos) break;
        s.remove_prefix(colon + 1);
    }
    return r;
}

String DefaultServerFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&DefaultServerFolder), &info) && info.dli_fname) {
        String lib(info.dli_fname);
        const auto slash = lib.rfind('/');
        const String dir = slash == String::npos ? String(".") : lib.substr(0, slash);
        return dir + "/com-servers";
    }
    return "com-servers";
}

// Reads the environment once; callers hold r.Lock.
void Configure(TRegistry& r) {
    if (r.Configured) return;
    r.Configured = true;
    if (const char* path = std::getenv("VELORA_COM_SERVERS"))
        r.Path = SplitList(path);
    else
        r.Path = {DefaultServerFolder()};
    if (const char* hide = std::getenv("VELORA_COM_HIDE"))
        for (auto& name : SplitList(hide)) r.Hidden.insert(name);
}

bool SameProgID(std::string_view a, std::string_view b) noexcept { return Rtl::SameText(a, b); }

bool ValidProgID(std::string_view s) noexcept {
    if (s.empty() || s.size() > 39) return false;
    if ((s[0] >= '0' && s[0] <= '9') || s[0] == '.') return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
    });
}

// Callers hold r.Lock.
bool Visible(const TRegistry& r, const TEntry& e) { return e.Module.empty() || !r.Hidden.count(e.Module); }

template <class Pred>
const TEntry* FindVisible(const TRegistry& r, Pred pred) {
    // The latest registration wins, so a class registered from code can stand in
    // for one of a hidden module even after the module is shown again.
    for (auto it = r.Entries.rbegin(); it != r.Entries.rend(); ++it)
        if (Visible(r, *it) && pred(*it)) return &*it;
    return nullptr;
}

bool HasProgID(const TEntry& e, std::string_view progId) {
    return std::any_of(e.Info.ProgIDs.begin(), e.Info.ProgIDs.end(),
                       [&](const String& p) { return SameProgID(p, progId); });
}

std::vector<String> ListModules(const String& folder) {
    std::vector<String> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return names;
    while (dirent* d = readdir(dir)) {
        String name = d->d_name;
        if (name.size() <= 3 || name.compare(name.size() - 3, 3, ".so") != 0) continue;
        struct stat st {};
        if (stat((folder + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(std::move(name));
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void RevokeModuleClasses(TRegistry& r, const String& module) {
    std::vector<TEntry> removed;
    {
        std::lock_guard g(r.Lock);
        auto it = std::stable_partition(r.Entries.begin(), r.Entries.end(),
                                        [&](const TEntry& e) { return e.Module != module; });
        std::move(it, r.Entries.end(), std::back_inserter(removed));
        r.Entries.erase(it, r.Entries.end());
    }
}

void LoadModule(TRegistry& r, const String& folder, const String& fileName) {
    TModule m;
    m.FileName = fileName;
    m.Path = folder + "/" + fileName;
    {
        std::lock_guard g(r.Lock);
        r.Modules.push_back(m);
    }
    auto record = [&](bool loaded, String error) {
        std::lock_guard g(r.Lock);
        for (auto& mm : r.Modules)
            if (mm.Path == m.Path) {
                mm.Loaded = loaded;
                mm.Error = std::move(error);
            }
    };
    const String* previous = LoadingModule;
    LoadingModule = &m.FileName;
    // Modules are never unloaded: their objects and factories may outlive any
    // point at which unloading could be judged safe.
    void* handle = dlopen(m.Path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        LoadingModule = previous;
        const char* err = dlerror();
        record(false, err ? err : "dlopen failed");
        return;
    }
    using TEntryPoint = HRESULT (*)();
    auto entry = reinterpret_cast<TEntryPoint>(dlsym(handle, "VeloraComRegisterServer"));
    if (!entry) {
        LoadingModule = previous;
        RevokeModuleClasses(r, m.FileName);
        record(false, "no VeloraComRegisterServer entry point");
        return;
    }
    HRESULT hr;
    try {
        hr = entry();
    } catch (...) {
        hr = HandleSafeCallException(m.FileName);
    }
    LoadingModule = previous;
    if (Failed(hr)) {
        RevokeModuleClasses(r, m.FileName);
        record(false, "its registration failed: " + HResultMessage(hr));
        return;
    }
    record(true, {});
}

// Loads every module of the server folders not tried yet and not hidden.
void LoadServers(TRegistry& r) {
    std::lock_guard load(r.LoadLock);
    std::vector<String> path;
    std::set<String> hidden;
    std::set<String> tried;
    {
        std::lock_guard g(r.Lock);
        Configure(r);
        path = r.Path;
        hidden = r.Hidden;
        for (const auto& m : r.Modules) tried.insert(m.Path);
    }
    for (const auto& folder : path)
        for (const auto& name : ListModules(folder))
            if (!hidden.count(name) && !tried.count(folder + "/" + name)) LoadModule(r, folder, name);
}

// Finds a visible registration, loading server modules once when there is none.
template <class Pred>
bool Lookup(Pred pred, TEntry& found) {
    auto& r = Registry();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1) LoadServers(r);
        std::lock_guard g(r.Lock);
        Configure(r);
        if (const TEntry* e = FindVisible(r, pred)) {
            found = *e;
            return true;
        }
    }
    return false;
}

// Text about modules that could not be loaded, for "not registered" descriptions.
String ModuleFailures() {
    auto& r = Registry();
    std::lock_guard g(r.Lock);
    String s;
    for (const auto& m : r.Modules) {
        if (m.Loaded || r.Hidden.count(m.FileName)) continue;
        const bool onPath = std::any_of(r.Path.begin(), r.Path.end(),
                                        [&](const String& folder) { return m.Path == folder + "/" + m.FileName; });
        if (onPath) s += "; server module " + m.Path + " not loaded: " + m.Error;
    }
    return s;
}

HRESULT ClassNotRegistered(const CLSID& clsid) {
    return SetErrorResult(REGDB_E_CLASSNOTREG, {},
                          "Class not registered: " + GUIDToString(clsid) + ModuleFailures());
}

}  // namespace

// ---- Registration -----------------------------------------------------------------------------

HRESULT RegisterClassObject(const TClassInfo& info, ComPtr<IClassFactory> factory, int* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (info.ClassID.IsNull() || !factory) return E_INVALIDARG;
    for (const auto& p : info.ProgIDs)
        if (!ValidProgID(p)) return SetErrorResult(E_INVALIDARG, {}, "Invalid ProgID '" + p + "'");
    auto& r = Registry();
    std::lock_guard g(r.Lock);
    Configure(r);
    for (const auto& e : r.Entries) {
        if (!Visible(r, e)) continue;
        if (e.Info.ClassID == info.ClassID)
            return SetErrorResult(CO_E_OBJISREG, {}, "Class " + GUIDToString(info.ClassID) + " is already registered");
        for (const auto& p : info.ProgIDs)
            if (HasProgID(e, p))
                return SetErrorResult(CO_E_OBJISREG, {}, "ProgID '" + p + "' is already registered");
    }
    TEntry e;
    e.Cookie = ++r.LastCookie;
    e.Info = info;
    e.Factory = std::move(factory);
    if (LoadingModule) e.Module = *LoadingModule;
    *cookie = e.Cookie;
    r.Entries.push_back(std::move(e));
    return S_OK;
}

HRESULT RevokeClassObject(int cookie) {
    auto& r = Registry();
    ComPtr<IClassFactory> released;  // released after the lock
    std::lock_guard g(r.Lock);
    auto it = std::find_if(r.Entries.begin(), r.Entries.end(), [&](const TEntry& e) { return e.Cookie == cookie; });
    if (it == r.Entries.end()) return CO_E_OBJNOTREG;
    released = std::move(it->Factory);
    r.Entries.erase(it);
    return S_OK;
}

TClassRegistration::TClassRegistration(const TClassInfo& info, ComPtr<IClassFactory> factory) {
    OleCheck(RegisterClassObject(info, std::move(factory), &FCookie));
}

TClassRegistration& TClassRegistration::operator=(TClassRegistration&& o) noexcept {
    if (this != &o) {
        Revoke();
        FCookie = std::exchange(o.FCookie, 0);
    }
    return *this;
}

void TClassRegistration::Revoke() noexcept {
    if (FCookie) RevokeClassObject(std::exchange(FCookie, 0));
}

// ---- Creation ---------------------------------------------------------------------------------

HRESULT CoGetClassObject(const CLSID& clsid, std::uint32_t clsContext, const IID& iid, void** obj) {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (!IsComInitialized()) return CO_E_NOTINITIALIZED;
    if ((clsContext & CLSCTX_ALL) == 0) return E_INVALIDARG;
    TEntry e;
    if (!Lookup([&](const TEntry& x) { return x.Info.ClassID == clsid; }, e)) return ClassNotRegistered(clsid);
    return e.Factory->QueryInterface(iid, obj);
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t clsContext, const IID& iid, void** obj) {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (!IsComInitialized()) return CO_E_NOTINITIALIZED;
    if ((clsContext & CLSCTX_ALL) == 0) return E_INVALIDARG;
    if (outer) return CLASS_E_NOAGGREGATION;
    TEntry e;
    if (!Lookup([&](const TEntry& x) { return x.Info.ClassID == clsid; }, e)) return ClassNotRegistered(clsid);
    return e.Factory->CreateInstance(nullptr, iid, obj);
}

HRESULT CLSIDFromProgID(std::string_view progId, CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = GUID_NULL;
    TEntry e;
    if (!ValidProgID(progId) || !Lookup([&](const TEntry& x) { return HasProgID(x, progId); }, e)) {
        constexpr std::size_t MaxQuoted = 64;
        String quoted(progId.substr(0, MaxQuoted));
        if (progId.size() > MaxQuoted) quoted += "...";
        return SetErrorResult(CO_E_CLASSSTRING, {}, "Invalid class string '" + quoted + "'" + ModuleFailures());
    }
    *clsid = e.Info.ClassID;
    return S_OK;
}

HRESULT CLSIDFromString(std::string_view text, CLSID* clsid) {
    if (!clsid) return E_POINTER;
    if (!text.empty() && text.front() == '{') {
        if (TryStringToGUID(text, *clsid)) return S_OK;
        *clsid = GUID_NULL;
        return SetErrorResult(CO_E_CLASSSTRING, {}, "Invalid class string '" + String(text.substr(0, 64)) + "'");
    }
    return CLSIDFromProgID(text, clsid);
}

HRESULT ProgIDFromCLSID(const CLSID& clsid, String* progId) {
    if (!progId) return E_POINTER;
    progId->clear();
    TEntry e;
    if (!Lookup([&](const TEntry& x) { return x.Info.ClassID == clsid; }, e)) return ClassNotRegistered(clsid);
    if (e.Info.ProgIDs.empty())
        return SetErrorResult(REGDB_E_CLASSNOTREG, {}, "Class " + GUIDToString(clsid) + " has no ProgID");
    *progId = e.Info.ProgIDs.front();
    return S_OK;
}

CLSID ProgIDToClassID(std::string_view progId) {
    CLSID clsid;
    OleCheck(CLSIDFromProgID(progId, &clsid));
    return clsid;
}

String ClassIDToProgID(const CLSID& clsid) {
    String progId;
    OleCheck(ProgIDFromCLSID(clsid, &progId));
    return progId;
}

ComPtr<IUnknown> CreateComObject(const CLSID& clsid) { return CreateComObject<IUnknown>(clsid); }

ComPtr<IDispatch> CreateOleObject(std::string_view progId) {
    return CreateComObject<IDispatch>(ProgIDToClassID(progId));
}

// ---- Server modules ---------------------------------------------------------------------------

std::vector<String> GetComServerPath() {
    auto& r = Registry();
    std::lock_guard g(r.Lock);
    Configure(r);
    return r.Path;
}

void SetComServerPath(std::vector<String> folders) {
    auto& r = Registry();
    std::lock_guard g(r.Lock);
    Configure(r);
    r.Path = std::move(folders);
}

void HideComServer(const String& moduleFileName, bool hidden) {
    auto& r = Registry();
    std::lock_guard g(r.Lock);
    Configure(r);
    if (hidden)
        r.Hidden.insert(moduleFileName);
    else
        r.Hidden.erase(moduleFileName);
}

bool IsComServerHidden(const String& moduleFileName) {
    auto& r = Registry();
    std::lock_guard g(r.Lock);
    Configure(r);
    return r.Hidden.count(moduleFileName) > 0;
}

std::vector<TComServerModule> GetComServerModules() {
    auto& r = Registry();
    std::lock_guard g(r.Lock);
    std::vector<TComServerModule> list;
    for (const auto& m : r.Modules) list.push_back({m.FileName, m.Path, m.Loaded, m.Error});
    return list;
}

}  // namespace Com
