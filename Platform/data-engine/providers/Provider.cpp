#include "Platform/data-engine/providers/Provider.h"

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

}  // namespace DataEngine
