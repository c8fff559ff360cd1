// The engine's PostgreSQL forward-only path beside plain libpq loops over the
// same table, in the same run:
//   RawLibpqSingleRow    libpq in single-row mode (rows stream, one at a
//                        time, as the engine reads them): every cell parsed
//                        from its text once
//   RawLibpqWholeResult  the common libpq way: one PGresult holding every row
//   ForwardReader        the engine's forward-only stream, typed access
//   RowStoreLoadAndScan  the client cursor's storage: the whole result loaded,
//                        then every cell of every row read
// At the end the run prints each path's best time as a ratio of the
// single-row raw loop's best, in wall-clock time (what a caller waits, the
// server's work included) and in the client's CPU time.
//
// The server is the one the tests use: VELORA_PG_HOST, VELORA_PG_PORT,
// VELORA_PG_USER (scripts/services.sh starts one). The table lives in the
// database velora_bench, built once and reused, with VELORA_BENCH_ROWS rows
// (default 1,000,000) of six columns: int4, int8, float8, a short text (about
// 12 bytes), a 200-byte text and a 64-byte bytea.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "Platform/data-engine/cursor/ForwardReader.h"
#include "Platform/data-engine/cursor/RowStore.h"

using namespace DataEngine;

namespace {

const char* const Query = "SELECT i, big, f, short, long, data FROM t";

struct TBenchData {
    std::string Conninfo;  // libpq's form
    std::string ConnectionString;
    long long Rows = 0;
};

TBenchData& Data() {
    static TBenchData data;
    return data;
}

std::string Env(const char* name, const char* def) {
    const char* v = std::getenv(name);
    return v && *v ? v : def;
}

[[noreturn]] void Fail(const std::string& what, PGconn* conn) {
    std::fprintf(stderr, "%s: %s\n", what.c_str(), conn ? PQerrorMessage(conn) : "");
    std::exit(1);
}

PGconn* Connect(const std::string& db) {
    const std::string info = "host=" + Env("VELORA_PG_HOST", "127.0.0.1") + " port=" + Env("VELORA_PG_PORT", "5432") +
                             " user=" + Env("VELORA_PG_USER", "postgres") + " dbname=" + db;
    PGconn* conn = PQconnectdb(info.c_str());
    if (PQstatus(conn) != CONNECTION_OK) Fail("connecting with '" + info + "'", conn);
    return conn;
}

long long QueryInt(PGconn* conn, const std::string& sql) {
    PGresult* r = PQexec(conn, sql.c_str());
    if (PQresultStatus(r) != PGRES_TUPLES_OK) Fail(sql, conn);
    const long long v = PQntuples(r) ? std::atoll(PQgetvalue(r, 0, 0)) : -1;
    PQclear(r);
    return v;
}

void Run(PGconn* conn, const std::string& sql) {
    PGresult* r = PQexec(conn, sql.c_str());
    if (PQresultStatus(r) != PGRES_COMMAND_OK && PQresultStatus(r) != PGRES_TUPLES_OK) Fail(sql, conn);
    PQclear(r);
}

// Builds the database and table once; later runs reuse them.
void PrepareData() {
    auto& d = Data();
    const long long rows = std::atoll(Env("VELORA_BENCH_ROWS", "1000000").c_str());
    PGconn* admin = Connect(Env("VELORA_PG_DATABASE", "postgres"));
    if (QueryInt(admin, "SELECT count(*) FROM pg_database WHERE datname = 'velora_bench'") == 0)
        Run(admin, "CREATE DATABASE velora_bench");
    PQfinish(admin);
    PGconn* conn = Connect("velora_bench");
    if (QueryInt(conn, "SELECT count(*) FROM pg_class WHERE relname = 't'") != 1 ||
        QueryInt(conn, "SELECT count(*) FROM t") != rows) {
        std::fprintf(stderr, "building %lld rows in velora_bench\n", rows);
        Run(conn, "DROP TABLE IF EXISTS t");
        Run(conn, "CREATE TABLE t(i int4, big int8, f float8, short text, long text, data bytea)");
        Run(conn, "INSERT INTO t SELECT g, g * 1000003::int8, g * 0.5, 'item-' || g, "
                  "substr(repeat(md5(g::text), 7), 1, 200), decode(repeat(md5((g * 7)::text), 4), 'hex') "
                  "FROM generate_series(1, " + std::to_string(rows) + ") g");
        Run(conn, "VACUUM ANALYZE t");
    }
    d.Rows = QueryInt(conn, "SELECT count(*) FROM t");
    PQfinish(conn);
    d.Conninfo = "host=" + Env("VELORA_PG_HOST", "127.0.0.1") + " port=" + Env("VELORA_PG_PORT", "5432") +
                 " user=" + Env("VELORA_PG_USER", "postgres") + " dbname=velora_bench";
    d.ConnectionString = "Provider=PostgreSQL;Data Source=" + Env("VELORA_PG_HOST", "127.0.0.1") + ":" +
                         Env("VELORA_PG_PORT", "5432") + ";Initial Catalog=velora_bench;User ID=" +
                         Env("VELORA_PG_USER", "postgres");
}

// The same checksum for every path: integers summed, text and byte sizes and first bytes.
struct TChecksum {
    long long Value = 0;
    void Int(long long v) { Value += v; }
    void Real(double v) { Value += static_cast<long long>(v); }
    void Bytes(const void* p, std::size_t n) {
        Value += static_cast<long long>(n) + (n ? *static_cast<const unsigned char*>(p) : 0);
    }
};

// Hex digit values, for decoding bytea as fast as a careful client would.
const std::array<unsigned char, 256> HexDigits = [] {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 10; ++c) t[static_cast<std::size_t>('0' + c)] = static_cast<unsigned char>(c);
    for (int c = 0; c < 6; ++c) t[static_cast<std::size_t>('a' + c)] = t[static_cast<std::size_t>('A' + c)] =
                                     static_cast<unsigned char>(10 + c);
    return t;
}();

// What a plain libpq client does with one row: numbers parsed, bytea decoded.
void RawRow(const PGresult* r, int row, TChecksum& sum, std::string& bytes) {
    long long i = 0, big = 0;
    double f = 0;
    const char* p = PQgetvalue(r, row, 0);
    std::from_chars(p, p + PQgetlength(r, row, 0), i);
    p = PQgetvalue(r, row, 1);
    std::from_chars(p, p + PQgetlength(r, row, 1), big);
    p = PQgetvalue(r, row, 2);
    std::from_chars(p, p + PQgetlength(r, row, 2), f);
    sum.Int(i);
    sum.Int(big);
    sum.Real(f);
    sum.Bytes(PQgetvalue(r, row, 3), static_cast<std::size_t>(PQgetlength(r, row, 3)));
    sum.Bytes(PQgetvalue(r, row, 4), static_cast<std::size_t>(PQgetlength(r, row, 4)));
    const auto* hex = reinterpret_cast<const unsigned char*>(PQgetvalue(r, row, 5)) + 2;  // "\x..."
    const std::size_t n = (static_cast<std::size_t>(PQgetlength(r, row, 5)) - 2) / 2;
    bytes.resize(n);
    for (std::size_t k = 0; k < n; ++k) bytes[k] = static_cast<char>(HexDigits[hex[2 * k]] << 4 | HexDigits[hex[2 * k + 1]]);
    sum.Bytes(bytes.data(), bytes.size());
}

void RawLibpqSingleRow(benchmark::State& state) {
    PGconn* conn = PQconnectdb(Data().Conninfo.c_str());
    if (PQstatus(conn) != CONNECTION_OK) Fail("connect", conn);
    std::string bytes;
    for (auto _ : state) {
        if (!PQsendQueryParams(conn, Query, 0, nullptr, nullptr, nullptr, nullptr, 0)) Fail("send", conn);
        PQsetSingleRowMode(conn);
        TChecksum sum;
        while (PGresult* r = PQgetResult(conn)) {
            if (PQresultStatus(r) == PGRES_SINGLE_TUPLE) RawRow(r, 0, sum, bytes);
            else if (PQresultStatus(r) != PGRES_TUPLES_OK) Fail("fetch", conn);
            PQclear(r);
        }
        benchmark::DoNotOptimize(sum.Value);
    }
    PQfinish(conn);
    state.SetItemsProcessed(state.iterations() * Data().Rows);
}

void RawLibpqWholeResult(benchmark::State& state) {
    PGconn* conn = PQconnectdb(Data().Conninfo.c_str());
    if (PQstatus(conn) != CONNECTION_OK) Fail("connect", conn);
    std::string bytes;
    for (auto _ : state) {
        PGresult* r = PQexecParams(conn, Query, 0, nullptr, nullptr, nullptr, nullptr, 0);
        if (PQresultStatus(r) != PGRES_TUPLES_OK) Fail("exec", conn);
        TChecksum sum;
        const int n = PQntuples(r);
        for (int row = 0; row < n; ++row) RawRow(r, row, sum, bytes);
        PQclear(r);
        benchmark::DoNotOptimize(sum.Value);
    }
    PQfinish(conn);
    state.SetItemsProcessed(state.iterations() * Data().Rows);
}

void ForwardReader(benchmark::State& state) {
    auto session = OpenSession(Data().ConnectionString);
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

void RowStoreLoadAndScan(benchmark::State& state) {
    auto session = OpenSession(Data().ConnectionString);
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
    }
    state.SetItemsProcessed(state.iterations() * Data().Rows);
}

// Prints the runs as usual, then each path's best wall-clock and CPU time as
// ratios of the single-row raw loop's best. Repetitions are interleaved, and
// the best of each is the one least disturbed by other work on the machine.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations == 0) continue;
            const std::string name = r.run_name.function_name;
            Keep(FReal, name, r.GetAdjustedRealTime());
            Keep(FCpu, name, r.GetAdjustedCPUTime());
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const double raw = FReal["RawLibpqSingleRow"], rawCpu = FCpu["RawLibpqSingleRow"];
        if (raw <= 0 || rawCpu <= 0) return;
        std::printf("\nbest times as ratios of the raw single-row libpq loop's best (same table, same run):\n");
        std::printf("  %-22s %10s %7s %10s %7s\n", "path", "wall ms", "ratio", "cpu ms", "ratio");
        for (auto& [name, t] : FReal)
            std::printf("  %-22s %10.1f %6.2fx %10.1f %6.2fx\n", name.c_str(), t, t / raw, FCpu[name],
                        FCpu[name] / rawCpu);
    }

private:
    static void Keep(std::map<std::string, double>& m, const std::string& name, double t) {
        auto it = m.find(name);
        if (it == m.end() || t < it->second) m[name] = t;
    }
    std::map<std::string, double> FReal, FCpu;
};

}  // namespace

BENCHMARK(RawLibpqSingleRow)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7)->UseRealTime();
BENCHMARK(RawLibpqWholeResult)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7)->UseRealTime();
BENCHMARK(ForwardReader)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7)->UseRealTime();
BENCHMARK(RowStoreLoadAndScan)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7)->UseRealTime();

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    bool given = false;
    for (int i = 1; i < argc; ++i)
        given = given || std::string(argv[i]).rfind("--benchmark_enable_random_interleaving", 0) == 0;
    if (!given) args.insert(args.begin() + 1, interleave);
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    PrepareData();
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
