// The engine's SQLite paths beside a plain sqlite3_prepare/step/column loop
// over the same file, in the same run:
//   RawSqliteLoop        the raw library: every cell of every row read once
//   ForwardReader        the engine's forward-only stream, typed access
//   ForwardReaderVariant the same stream, every cell read as a variant
//   RowStoreLoadAndScan  the client cursor's storage: load the whole result,
//                        then read every cell of every row
// At the end the run prints each engine path's time as a ratio of the raw
// loop, and the row store's bytes per row against the raw data size.
//
// The table has VELORA_BENCH_ROWS rows (default 1,000,000) of six columns: a
// 32-bit integer, a 64-bit integer, a double, a short text (about 12 bytes),
// a long text (200 bytes) and a 64-byte blob. The database file is kept in
// VELORA_BENCH_DIR (default the system's temporary folder) and reused.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "Platform/data-engine/cursor/ForwardReader.h"
#include "Platform/data-engine/cursor/RowStore.h"

using namespace DataEngine;

namespace {

const char* const Query = "SELECT i, big, f, short, long, data FROM t";

struct TBenchData {
    std::string File;
    long long Rows = 0;
    double RawBytes = 0;  // sum of the values' own sizes
    std::size_t StoreBytes = 0;
};

TBenchData& Data() {
    static TBenchData data;
    return data;
}

void Check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "%s: %s\n", what, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        std::exit(1);
    }
}

long long QueryInt(sqlite3* db, const char* sql) {
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), db, sql);
    long long v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    return v;
}

// Builds the table once; later runs reuse the file.
void PrepareData() {
    auto& d = Data();
    const char* rowsEnv = std::getenv("VELORA_BENCH_ROWS");
    const long long rows = rowsEnv ? std::atoll(rowsEnv) : 1000000;
    const char* dirEnv = std::getenv("VELORA_BENCH_DIR");
    const std::filesystem::path dir = dirEnv ? dirEnv : std::filesystem::temp_directory_path();
    d.File = (dir / ("velora-engine-bench-" + std::to_string(rows) + ".db")).string();
    sqlite3* db = nullptr;
    Check(sqlite3_open(d.File.c_str(), &db), db, "open");
    if (QueryInt(db, "SELECT count(*) FROM sqlite_schema WHERE name = 't'") != 1 ||
        QueryInt(db, "SELECT count(*) FROM t") != rows) {
        std::fprintf(stderr, "building %lld rows in %s\n", rows, d.File.c_str());
        Check(sqlite3_exec(db, "DROP TABLE IF EXISTS t", nullptr, nullptr, nullptr), db, "drop");
        Check(sqlite3_exec(db,
                           "CREATE TABLE t(i INT, big INTEGER, f REAL, short TEXT, long TEXT, data BLOB)",
                           nullptr, nullptr, nullptr),
              db, "create");
        const std::string fill =
            "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " + std::to_string(rows) +
            ") INSERT INTO t SELECT x, x * 1000003, x * 0.5, 'item-' || x, substr(hex(randomblob(100)), 1, 200), "
            "randomblob(64) FROM c";
        Check(sqlite3_exec(db, fill.c_str(), nullptr, nullptr, nullptr), db, "fill");
    }
    d.Rows = QueryInt(db, "SELECT count(*) FROM t");
    d.RawBytes = static_cast<double>(
        QueryInt(db, "SELECT sum(length(short)) + sum(length(long)) + sum(length(data)) + count(*) * (4 + 8 + 8) FROM t"));
    // Warm the page cache so that no path pays for the first read from disk.
    Check(sqlite3_exec(db, Query, nullptr, nullptr, nullptr), db, "warm");
    sqlite3_close(db);
}

// The same checksum for every path: integers summed, text and blob sizes and first bytes.
struct TChecksum {
    long long Value = 0;
    void Int(long long v) { Value += v; }
    void Real(double v) { Value += static_cast<long long>(v); }
    void Bytes(const void* p, std::size_t n) { Value += static_cast<long long>(n) + (n ? *static_cast<const unsigned char*>(p) : 0); }
};

void RawSqliteLoop(benchmark::State& state) {
    sqlite3* db = nullptr;
    Check(sqlite3_open_v2(Data().File.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr), db, "open");
    for (auto _ : state) {
        sqlite3_stmt* st = nullptr;
        Check(sqlite3_prepare_v2(db, Query, -1, &st, nullptr), db, "prepare");
        TChecksum sum;
        while (sqlite3_step(st) == SQLITE_ROW) {
            sum.Int(sqlite3_column_int(st, 0));
            sum.Int(sqlite3_column_int64(st, 1));
            sum.Real(sqlite3_column_double(st, 2));
            const unsigned char* s = sqlite3_column_text(st, 3);
            sum.Bytes(s, static_cast<std::size_t>(sqlite3_column_bytes(st, 3)));
            const unsigned char* l = sqlite3_column_text(st, 4);
            sum.Bytes(l, static_cast<std::size_t>(sqlite3_column_bytes(st, 4)));
            const void* b = sqlite3_column_blob(st, 5);
            sum.Bytes(b, static_cast<std::size_t>(sqlite3_column_bytes(st, 5)));
        }
        sqlite3_finalize(st);
        benchmark::DoNotOptimize(sum.Value);
    }
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * Data().Rows);
}

std::unique_ptr<TSession> OpenEngine() {
    return OpenSession("Provider=SQLite;Mode=Read;Data Source=" + QuoteConnectionValue(Data().File));
}

void ForwardReader(benchmark::State& state) {
    auto session = OpenEngine();
    auto st = session->CreateStatement();
    st->Prepare(Query);
    for (auto _ : state) {
        TForwardReader reader(st->Execute());
        TChecksum sum;
        while (reader.Next()) {
            sum.Int(reader.GetInt64(0));
            sum.Int(reader.GetInt64(1));
            sum.Real(reader.GetDouble(2));
            const auto s = reader.GetText(3);
            sum.Bytes(s.data(), s.size());
            const auto l = reader.GetText(4);
            sum.Bytes(l.data(), l.size());
            const auto b = reader.GetBytes(5);
            sum.Bytes(b.data(), b.size());
        }
        benchmark::DoNotOptimize(sum.Value);
    }
    state.SetItemsProcessed(state.iterations() * Data().Rows);
}

void ForwardReaderVariant(benchmark::State& state) {
    auto session = OpenEngine();
    auto st = session->CreateStatement();
    st->Prepare(Query);
    for (auto _ : state) {
        TForwardReader reader(st->Execute());
        long long n = 0;
        while (reader.Next())
            for (std::size_t c = 0; c < 6; ++c) {
                Rtl::Variant v = reader.GetValue(c);
                n += v.VType();
            }
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(state.iterations() * Data().Rows);
}

void RowStoreLoadAndScan(benchmark::State& state) {
    auto session = OpenEngine();
    auto st = session->CreateStatement();
    st->Prepare(Query);
    for (auto _ : state) {
        auto& result = st->Execute();
        TRowStore store(result.GetColumns());
        store.Reserve(static_cast<std::size_t>(Data().Rows));
        store.Load(result);
        TChecksum sum;
        TRowBuffer row;
        for (TRowId r : store.GetRows()) {
            store.GetRow(r, row);
            sum.Int(row[0].I);
            sum.Int(row[1].I);
            sum.Real(row[2].D);
            for (std::size_t c = 3; c < 6; ++c) sum.Bytes(row[c].Data, row[c].Size);
        }
        benchmark::DoNotOptimize(sum.Value);
        state.PauseTiming();
        Data().StoreBytes = store.GetMemoryUsage();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * Data().Rows);
    state.counters["store_bytes_per_row"] = static_cast<double>(Data().StoreBytes) / static_cast<double>(Data().Rows);
    state.counters["raw_bytes_per_row"] = Data().RawBytes / static_cast<double>(Data().Rows);
}

// Prints the runs as usual, then each path's best time as a ratio of the raw
// loop's best. Repetitions of the paths are interleaved, and the best of each
// is the one least disturbed by other work on the machine.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations == 0) continue;
            const std::string name = r.run_name.function_name;
            const double t = r.GetAdjustedCPUTime();
            auto it = FSeconds.find(name);
            if (it == FSeconds.end() || t < it->second) FSeconds[name] = t;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        double raw = 0;
        for (auto& [name, t] : FSeconds)
            if (name == "RawSqliteLoop") raw = t;
        if (raw <= 0) return;
        std::printf("\nbest CPU time as a ratio of the raw sqlite3 loop's best (same file, same run):\n");
        for (auto& [name, t] : FSeconds) std::printf("  %-24s %8.1f ms %6.2fx\n", name.c_str(), t, t / raw);
        const auto& d = Data();
        if (d.StoreBytes)
            std::printf("row store: %.1f bytes per row, raw data %.1f bytes per row, ratio %.2fx\n",
                        static_cast<double>(d.StoreBytes) / static_cast<double>(d.Rows),
                        d.RawBytes / static_cast<double>(d.Rows),
                        static_cast<double>(d.StoreBytes) / d.RawBytes);
    }

private:
    std::map<std::string, double> FSeconds;
};

}  // namespace

BENCHMARK(RawSqliteLoop)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(7)->UseRealTime();
BENCHMARK(ForwardReader)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(7)->UseRealTime();
BENCHMARK(ForwardReaderVariant)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7)->UseRealTime();
BENCHMARK(RowStoreLoadAndScan)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7)->UseRealTime();

int main(int argc, char** argv) {
    // Interleave the repetitions of the paths unless told otherwise.
    std::vector<char*> args(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    bool given = false;
    for (int i = 1; i < argc; ++i) given = given || std::string(argv[i]).rfind("--benchmark_enable_random_interleaving", 0) == 0;
    if (!given) args.insert(args.begin() + 1, interleave);
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    PrepareData();
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
