#include "Platform/data-engine/providers/Provider.h"

#include <cstdlib>
#include <mutex>

#include "Platform/data-engine/providers/sqlite/SqliteProvider.h"
#ifdef VELORA_HAVE_POSTGRES
#include "Platform/data-engine/providers/postgres/PgProvider.h"
#endif

namespace DataEngine {

using namespace Velora;

void TStatement::PrepareProcedure(const String& name) {
    throw EEngineError("Stored procedures are not supported by this provider (procedure \"" + ClipForMessage(name) +
                           "\")",
                       AdoErrorHResult(adErrFeatureNotAvailable));
}

Variant TStatement::GetParameterValue(int) const { return Variant(); }

namespace {

struct TRegistry {
    std::mutex Lock;
    std::vector<std::shared_ptr<TProvider>> Providers;
    bool BuiltinsAdded = false;

    void AddBuiltins() {
        if (BuiltinsAdded) return;
        BuiltinsAdded = true;
        Providers.push_back(CreateSqliteProvider());
#ifdef VELORA_HAVE_POSTGRES
        Providers.push_back(CreatePostgresProvider());
#endif
    }
};

TRegistry& Registry() {
    static TRegistry registry;
    return registry;
}

}  // namespace

void RegisterProvider(std::shared_ptr<TProvider> provider) {
    if (!provider) return;
    auto& r = Registry();
    std::lock_guard lock(r.Lock);
    r.AddBuiltins();
    const String name = provider->GetName();
    for (auto& p : r.Providers)
        if (Rtl::SameText(p->GetName(), name)) {
            p = std::move(provider);
            return;
        }
    r.Providers.push_back(std::move(provider));
}

std::shared_ptr<TProvider> FindProvider(std::string_view name) {
    auto& r = Registry();
    std::lock_guard lock(r.Lock);
    r.AddBuiltins();
    // A version suffix ("SQLite.1") names the same provider.
    std::string_view base = name;
    if (auto dot = base.find('.'); dot != std::string_view::npos) base = base.substr(0, dot);
    for (auto& p : r.Providers)
        if (Rtl::SameText(p->GetName(), name) || Rtl::SameText(p->GetName(), base)) return p;
    throw EEngineError("Provider cannot be found: \"" + ClipForMessage(name) + "\" is not a known provider",
                       AdoErrorHResult(adErrProviderNotFound), 0, {}, "Connection");
}

std::vector<String> GetProviderNames() {
    auto& r = Registry();
    std::lock_guard lock(r.Lock);
    r.AddBuiltins();
    std::vector<String> names;
    for (auto& p : r.Providers) names.push_back(p->GetName());
    return names;
}

std::unique_ptr<TSession> OpenSession(std::string_view connectionString, const String& userId,
                                      const String& password) {
    TConnectionString cs = TConnectionString::Parse(connectionString);
    const String providerName = cs.Get("Provider", "SQLite");
    cs.Remove("Provider");
    auto session = FindProvider(providerName)->CreateSession();
    session->Open(cs, userId.empty() ? cs.Get("User ID") : userId, password.empty() ? cs.Get("Password") : password);
    return session;
}

int ParseConnectMode(const String& text, const char* provider) {
    const String t = Rtl::Trim(text);
    if (t.empty()) return adModeUnknown;
    if (t.find_first_not_of("0123456789") == String::npos && t.size() < 10) return std::atoi(t.c_str());
    static const struct {
        const char* Name;
        const char* AdoName;
        int Value;
    } names[] = {
        {"Unknown", "adModeUnknown", adModeUnknown},
        {"Read", "adModeRead", adModeRead},
        {"Write", "adModeWrite", adModeWrite},
        {"ReadWrite", "adModeReadWrite", adModeReadWrite},
        {"Share Deny Read", "adModeShareDenyRead", adModeShareDenyRead},
        {"Share Deny Write", "adModeShareDenyWrite", adModeShareDenyWrite},
        {"Share Exclusive", "adModeShareExclusive", adModeShareExclusive},
        {"Share Deny None", "adModeShareDenyNone", adModeShareDenyNone},
        {"Recursive", "adModeRecursive", adModeRecursive},
    };
    int mode = 0;
    std::size_t start = 0;
    while (start <= t.size()) {
        const auto bar = t.find('|', start);
        const String part = Rtl::Trim(std::string_view(t).substr(start, bar == String::npos ? String::npos : bar - start));
        bool found = false;
        for (const auto& n : names)
            if (Rtl::SameText(part, n.Name) || Rtl::SameText(part, n.AdoName)) {
                mode |= n.Value;
                found = true;
                break;
            }
        if (!found)
            throw EEngineError("Mode '" + ClipForMessage(text) + "' is not a connection mode (\"" + ClipForMessage(part) +
                                   "\" is unknown)",
                               AdoErrorHResult(adErrInvalidArgument), 0, "HY024", provider);
        if (bar == String::npos) break;
        start = bar + 1;
    }
    return mode;
}

int ParseWholeNumber(const String& text, const char* what, const char* unit, const char* provider) {
    const String t = Rtl::Trim(text);
    if (t.empty() || t.size() > 9 || t.find_first_not_of("0123456789") != String::npos)
        throw EEngineError(String(what) + " '" + ClipForMessage(text) + "' is not a whole number of " + unit,
                           AdoErrorHResult(adErrInvalidArgument), 0, "HY024", provider);
    return std::atoi(t.c_str());
}

}  // namespace DataEngine
