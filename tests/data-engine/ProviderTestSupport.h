// One data source per test on each provider, so that a suite runs
// unchanged over SQLite and PostgreSQL as one parameterised suite:
//
//   class MySuite : public EngineTest::ProviderTest {};
//   TEST_P(MySuite, Something) { auto s = Target().Open(); ... }
//   VELORA_PROVIDER_SUITE(MySuite);
//
// SQLite gets a database file in a temporary folder; PostgreSQL a schema of
// its own on the test server (skipped when VELORA_PG_PORT is not set).
#pragma once

#include "PgTestSupport.h"

namespace EngineTest {

class TProviderTarget {
public:
    explicit TProviderTarget(const std::string& provider) : FProvider(provider) {
        if (IsPostgres()) FSchema = std::make_unique<TPgSchema>();
        else FFile = FDir.File("target.db");
    }
    bool IsPostgres() const { return FProvider == "PostgreSQL"; }
    const std::string& Provider() const { return FProvider; }
    // A new session on the test's data; extra is appended to the connection string.
    std::unique_ptr<DataEngine::TSession> Open(const std::string& extra = {}) const {
        return IsPostgres() ? FSchema->Open(extra) : OpenSqlite(FFile, extra);
    }
    // The connection string of those sessions, for the ADO objects.
    std::string ConnectionString(const std::string& extra = {}) const {
        return IsPostgres() ? FSchema->ConnectionString(extra)
                            : "Provider=SQLite;Data Source=" + DataEngine::QuoteConnectionValue(FFile) + ";" + extra;
    }
    // The schema the test's tables live in ("" on SQLite), for schema rowset restrictions.
    std::string Schema() const { return IsPostgres() ? FSchema->Name() : std::string(); }
    // A folder of the test's own, for files it writes.
    const TTempDir& Dir() const { return FDir; }

private:
    std::string FProvider;
    TTempDir FDir;
    std::string FFile;
    std::unique_ptr<TPgSchema> FSchema;
};

class ProviderTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "PostgreSQL" && !PgConfigured())
            GTEST_SKIP() << "VELORA_PG_PORT is not set: no PostgreSQL test server";
        FTarget = std::make_unique<TProviderTarget>(GetParam());
    }
    const TProviderTarget& Target() const { return *FTarget; }
    bool IsPostgres() const { return FTarget->IsPostgres(); }

private:
    std::unique_ptr<TProviderTarget> FTarget;
};

}  // namespace EngineTest

#define VELORA_PROVIDER_SUITE(suite)                                                            \
    INSTANTIATE_TEST_SUITE_P(Providers, suite, ::testing::Values("SQLite", "PostgreSQL"),     \
                             [](const auto& info) { return std::string(info.param); })
