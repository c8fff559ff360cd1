// The PostgreSQL test server that scripts/services.sh starts (VELORA_PG_HOST,
// VELORA_PG_PORT, VELORA_PG_USER, VELORA_PG_DATABASE), and a schema or a
// database of its own for each test so that tests run side by side.
//
// Without VELORA_PG_PORT the tests that need the server skip; with it set,
// a server that cannot be reached fails them.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "EngineTestSupport.h"

namespace EngineTest {

inline bool PgConfigured() { return std::getenv("VELORA_PG_PORT") != nullptr; }

inline std::string PgEnv(const char* name, const char* def) {
    const char* v = std::getenv(name);
    return v && *v ? v : def;
}

// "Provider=PostgreSQL;Data Source=host:port;Initial Catalog=db;User ID=user;" plus extra.
inline std::string PgConnectionString(const std::string& database = {}, const std::string& extra = {}) {
    return "Provider=PostgreSQL;Data Source=" + PgEnv("VELORA_PG_HOST", "127.0.0.1") + ":" +
           PgEnv("VELORA_PG_PORT", "5432") + ";Initial Catalog=" +
           (database.empty() ? PgEnv("VELORA_PG_DATABASE", "postgres") : database) +
           ";User ID=" + PgEnv("VELORA_PG_USER", "postgres") + ";" + extra;
}

inline std::string UniquePgName(const char* prefix) {
    static std::atomic<int> counter{0};
    return std::string(prefix) + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

// A schema of its own, dropped with everything in it afterwards; sessions
// opened through it find their tables there first.
class TPgSchema {
public:
    TPgSchema() : FName(UniquePgName("velora_t_")) {
        FAdmin = DataEngine::OpenSession(PgConnectionString());
        Exec(*FAdmin, "CREATE SCHEMA " + FName);
    }
    ~TPgSchema() {
        try {
            Exec(*FAdmin, "DROP SCHEMA " + FName + " CASCADE");
        } catch (...) {
        }
    }
    const std::string& Name() const { return FName; }
    // A connection string whose sessions find the schema's tables first.
    std::string ConnectionString(const std::string& extra = {}) const {
        return PgConnectionString({}, "options='-c search_path=" + FName + "';" + extra);
    }
    std::unique_ptr<DataEngine::TSession> Open(const std::string& extra = {}) const {
        return DataEngine::OpenSession(ConnectionString(extra));
    }
    DataEngine::TSession& Admin() { return *FAdmin; }

private:
    std::string FName;
    std::unique_ptr<DataEngine::TSession> FAdmin;
};

// A database of its own, for what a schema cannot isolate (catalogs).
class TPgDatabase {
public:
    TPgDatabase() : FName(UniquePgName("velora_db_")) {
        FAdmin = DataEngine::OpenSession(PgConnectionString());
        Exec(*FAdmin, "CREATE DATABASE " + FName);
    }
    ~TPgDatabase() {
        try {
            Exec(*FAdmin, "DROP DATABASE " + FName + " WITH (FORCE)");
        } catch (...) {
        }
    }
    const std::string& Name() const { return FName; }
    std::unique_ptr<DataEngine::TSession> Open(const std::string& extra = {}) const {
        return DataEngine::OpenSession(PgConnectionString(FName, extra));
    }

private:
    std::string FName;
    std::unique_ptr<DataEngine::TSession> FAdmin;
};

}  // namespace EngineTest

// Skips the test when no server is configured.
#define VELORA_REQUIRE_PG()                                                                  \
    do {                                                                                     \
        if (!EngineTest::PgConfigured()) GTEST_SKIP() << "VELORA_PG_PORT is not set: no PostgreSQL test server"; \
    } while (0)
