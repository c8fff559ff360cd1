// The raw sqlite3 calls the benchmarks use to build and check their data.
#pragma once

#include <sqlite3.h>

#include <string>

#include "bench/BenchSupport.h"

namespace BenchSupport {

// Ends the benchmark with sqlite's message when rc is an error.
inline void Check(int rc, sqlite3* db, const std::string& what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        Die(what + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
}

// The first column of the first row of a query (-1 without rows).
inline long long QueryInt(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), db, sql);
    const long long v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    return v;
}

}  // namespace BenchSupport
