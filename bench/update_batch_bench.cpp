// UpdateBatch of a client recordset (adLockBatchOptimistic) whose every row
// was changed, beside a hand-written sqlite3 loop that writes the same values
// to the same rows of the same file, in the same run:
//   UpdateBatch_Baseline   BEGIN, one prepared UPDATE ... WHERE id = ? bound,
//                          stepped and reset per row, COMMIT
//   UpdateBatch_CheckedLoop the same with the row's previous values in the
//                          WHERE as well, the check an optimistic writer makes
//   UpdateBatch_Recordset  Recordset.UpdateBatch: every pending row checked
//                          against the database (optimistic concurrency on
//                          the changed columns) and written, in one
//                          transaction
// Opening the recordset and changing its rows (Field.Value, MoveNext) is not
// part of the timed work; the time of the edit pass is shown as edit_ms.
// After each benchmark the database is read back to make sure every row got
// the values of the last round.
//
// The table u has VELORA_BENCH_BATCH_ROWS rows (default 100,000): id, a, name
// and price; every round sets a and price of every row to new values. The
// file lives in VELORA_BENCH_DIR (default the system's temporary folder).
#include <sqlite3.h>

#include <chrono>

#include "Platform/com/Com.h"
#include "Platform/data-engine/ConnectionString.h"
#include "Velora/com/Ado.h"
#include "bench/BenchSqlite.h"

using namespace Velora;
using BenchSupport::Check;
using BenchSupport::Die;
using BenchSupport::QueryInt;
using Com::ComPtr;

namespace {

struct TData {
    std::string File;
    long long Rows = 0;
    long long Round = 0;  // grows with every round, so that every round changes every row
    sqlite3* Db = nullptr;
    ComPtr<_Connection> Connection;
};

TData& Data() {
    static TData d;
    return d;
}

// The values of round r for the row with id.
int NewA(long long id, long long r) { return static_cast<int>((id * 7 + r) % 100000); }
double NewPrice(long long id, long long r) { return static_cast<double>(r % 1000) + static_cast<double>(id % 100) / 4; }

void Prepare() {
    auto& d = Data();
    d.Rows = BenchSupport::EnvCount("VELORA_BENCH_BATCH_ROWS", 100000);
    d.File = (BenchSupport::BenchDir() / ("velora-batch-bench-" + std::to_string(d.Rows) + ".db")).string();
    Check(sqlite3_open(d.File.c_str(), &d.Db), d.Db, "open " + d.File);
    if (QueryInt(d.Db, "SELECT count(*) FROM sqlite_schema WHERE name = 'u'") != 1 ||
        QueryInt(d.Db, "SELECT count(*) FROM u") != d.Rows) {
        std::fprintf(stderr, "building %lld rows in %s\n", d.Rows, d.File.c_str());
        const std::string fill =
            "DROP TABLE IF EXISTS u; CREATE TABLE u(id INTEGER PRIMARY KEY, a INT, name VARCHAR(30), price DOUBLE);"
            "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " +
            std::to_string(d.Rows) + ") INSERT INTO u SELECT x, x % 1000, 'name-' || x, x * 0.25 FROM c";
        Check(sqlite3_exec(d.Db, fill.c_str(), nullptr, nullptr, nullptr), d.Db, "fill");
    }
    // Go on from the round the file holds (row 1 has a = 7 + round), so that
    // the next round changes every row.
    d.Round = (QueryInt(d.Db, "SELECT a FROM u WHERE id = 1") + 100000 - 7) % 100000;
    d.Connection = CoConnection::Create();
    d.Connection->Open(Rtl::Utf8ToWide("Provider=SQLite;Data Source=" + DataEngine::QuoteConnectionValue(d.File)));
}

// Every row must hold the values of the last round.
void Verify(benchmark::State& state, long long round) {
    auto& d = Data();
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(d.Db, "SELECT id, a, price FROM u", -1, &st, nullptr), d.Db, "verify");
    long long good = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        const long long id = sqlite3_column_int64(st, 0);
        good += sqlite3_column_int(st, 1) == NewA(id, round) && sqlite3_column_double(st, 2) == NewPrice(id, round);
    }
    sqlite3_finalize(st);
    if (good != d.Rows) state.SkipWithError("the database does not hold the values written");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * d.Rows);
}

// checked: the WHERE also holds the values the row had (the previous
// round's), as an optimistic writer must check them.
void RawLoop(benchmark::State& state, bool checked) {
    auto& d = Data();
    long long round = 0;
    for (auto _ : state) {
        round = ++d.Round;
        Check(sqlite3_exec(d.Db, "BEGIN", nullptr, nullptr, nullptr), d.Db, "begin");
        sqlite3_stmt* st = nullptr;
        const char* sql = checked ? "UPDATE u SET a = ?, price = ? WHERE id = ? AND a = ? AND price = ?"
                                  : "UPDATE u SET a = ?, price = ? WHERE id = ?";
        Check(sqlite3_prepare_v2(d.Db, sql, -1, &st, nullptr), d.Db, "prepare");
        for (long long id = 1; id <= d.Rows; ++id) {
            sqlite3_bind_int(st, 1, NewA(id, round));
            sqlite3_bind_double(st, 2, NewPrice(id, round));
            sqlite3_bind_int64(st, 3, id);
            if (checked) {
                sqlite3_bind_int(st, 4, NewA(id, round - 1));
                sqlite3_bind_double(st, 5, NewPrice(id, round - 1));
            }
            Check(sqlite3_step(st), d.Db, "update");
            if (sqlite3_changes(d.Db) != 1) Die("the raw update missed a row");
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        Check(sqlite3_exec(d.Db, "COMMIT", nullptr, nullptr, nullptr), d.Db, "commit");
    }
    Verify(state, round);
}

void UpdateBatch_Baseline(benchmark::State& state) { RawLoop(state, false); }
void UpdateBatch_CheckedLoop(benchmark::State& state) { RawLoop(state, true); }

void UpdateBatch_Recordset(benchmark::State& state) {
    auto& d = Data();
    long long round = 0;
    double editSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        round = ++d.Round;
        auto rs = CoRecordset::Create();
        rs->SetCursorLocation(adUseClient);
        rs->Open(Variant(u"SELECT id, a, name, price FROM u"), Com::VarFromInterface(d.Connection), adOpenStatic,
                 adLockBatchOptimistic, adCmdText);
        const auto start = std::chrono::steady_clock::now();
        auto fields = rs->GetFields();
        auto id = fields->GetItem(Variant("id"));
        auto a = fields->GetItem(Variant("a"));
        auto price = fields->GetItem(Variant("price"));
        for (; !rs->GetEOF(); rs->MoveNext()) {
            const long long key = id->GetValue().ToInt64();
            a->SetValue(Variant(NewA(key, round)));
            price->SetValue(Variant(NewPrice(key, round)));
        }
        editSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.ResumeTiming();

        rs->UpdateBatch(adAffectAll);

        state.PauseTiming();
        rs->Close();
        state.ResumeTiming();
    }
    state.counters["edit_ms"] = editSeconds * 1000;
    Verify(state, round);
}

}  // namespace

BENCHMARK(UpdateBatch_Baseline)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->UseRealTime();
BENCHMARK(UpdateBatch_CheckedLoop)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->UseRealTime();
BENCHMARK(UpdateBatch_Recordset)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->UseRealTime();

int main(int argc, char** argv) {
    const int rc = BenchSupport::Main(argc, argv, Prepare);
    if (Data().Connection) Data().Connection->Close();
    Data().Connection = nullptr;
    if (Data().Db) sqlite3_close(Data().Db);
    return rc;
}
