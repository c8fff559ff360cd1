// Helpers shared by the engine tests: a temporary folder per test and
// shortcuts for opening SQLite sessions and running statements.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include "Platform/data-engine/providers/Provider.h"

namespace EngineTest {

// A fresh folder under the system's temporary directory, removed afterwards.
class TTempDir {
public:
    TTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "velora-engine-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        FPath = tmpl;
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, ec);
        for (auto& e : std::filesystem::directory_iterator(FPath, ec))
            std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(FPath, ec);
    }
    std::string File(const std::string& name) const { return (FPath / name).string(); }
    const std::filesystem::path& Path() const { return FPath; }

private:
    std::filesystem::path FPath;
};

inline std::unique_ptr<DataEngine::TSession> OpenSqlite(const std::string& file, const std::string& extra = {}) {
    return DataEngine::OpenSession("Provider=SQLite;Data Source=" + DataEngine::QuoteConnectionValue(file) + ";" +
                                   extra);
}

// Runs a text and returns the records affected by its last statement.
inline Rtl::Int64 Exec(DataEngine::TSession& s, const std::string& sql) {
    auto st = s.CreateStatement();
    st->Prepare(sql);
    Rtl::Int64 affected = st->Execute().GetRecordsAffected();
    while (auto* r = st->NextResult()) affected = r->GetRecordsAffected();
    return affected;
}

// The first column of the first row of a query, as a variant.
inline Rtl::Variant Scalar(DataEngine::TSession& s, const std::string& sql) {
    auto st = s.CreateStatement();
    st->Prepare(sql);
    auto& r = st->Execute();
    DataEngine::TRowBuffer row;
    if (!r.Fetch(row)) return Rtl::Variant();
    return DataEngine::CellToVariant(r.GetColumns()[0], r.GetKinds()[0], row[0]);
}

// Runs f and returns the message of the EEngineError it raises ("" when none).
template <class F>
std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const DataEngine::EEngineError& e) {
        return e.Message();
    }
    return {};
}

}  // namespace EngineTest
