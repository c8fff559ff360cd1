// The client cursor's services (Filter, Sort, Find, Optimize and Seek) over
// 10^6 rows, each beside a hand-written loop over plain vectors of the same
// values with the same comparisons, in the same run:
//   <Group>_Baseline   std::vector columns read from the same SQLite file,
//                      a plain loop / std::stable_sort of indices /
//                      std::lower_bound, with the cursor's text order
//   <Group>_Engine     the engine's cursor view over its row store
//                      (TCursorView, TFilter, TSortOrder, TIndexes)
//   <Group>_Recordset  the same through the COM Recordset (Filter, Sort,
//                      Find, the field property Optimize, Index and Seek):
//                      what a program pays
//
// The table c has VELORA_BENCH_ROWS rows (default 1,000,000): id, a (0-999),
// name (a capital and 5-11 small letters), price (0.00-999.99), qty (1-50)
// and code (8 capitals and digits, for Optimize and Seek). The file is built
// once in VELORA_BENCH_DIR (default the system's temporary folder) and reused.
#include <sqlite3.h>

#include <algorithm>
#include <numeric>

#include "Platform/com/Com.h"
#include "Platform/data-engine/cursor/CursorView.h"
#include "Velora/com/Ado.h"
#include "bench/BenchSqlite.h"

using namespace DataEngine;
using namespace Velora;
using BenchSupport::Check;
using BenchSupport::Die;
using BenchSupport::QueryInt;
using Com::ComPtr;

namespace {

const char* const Query = "SELECT id, a, name, price, qty, code FROM c ORDER BY id";
constexpr int SeekKeys = 10000;

// The cursor's text order on ASCII text: case-insensitive, the longer text
// greater when one is the beginning of the other.
inline int CollateAscii(std::string_view a, std::string_view b) noexcept {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        char ca = a[i], cb = b[i];
        if (ca == cb) continue;
        if (ca >= 'a' && ca <= 'z') ca = static_cast<char>(ca - 32);
        if (cb >= 'a' && cb <= 'z') cb = static_cast<char>(cb - 32);
        if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

struct TData {
    std::string File;
    std::size_t Rows = 0;
    // The baseline's columns, in row order.
    std::vector<int> A, Qty;
    std::vector<double> Price;
    std::vector<std::string> Name, Code;
    std::vector<std::string> Keys;  // codes to seek, in a shuffled order
    // The engine.
    std::unique_ptr<TSession> Session;
    std::unique_ptr<TRowStore> Store;
    std::unique_ptr<TCursorView> View;
    std::unique_ptr<TIndexes> SeekIndexes;  // Optimize on code, for Seek
    std::size_t NameColumn = 0, CodeColumn = 0, AColumn = 0;
    // The COM objects: one recordset for Filter, Sort and Find, one for Optimize and Seek.
    ComPtr<_Connection> Connection;
    ComPtr<_Recordset> Rs, SeekRs;
};

TData& Data() {
    static TData d;
    return d;
}

void BuildFile(sqlite3* db, std::size_t rows) {
    std::fprintf(stderr, "building %zu rows in %s\n", rows, Data().File.c_str());
    Check(sqlite3_exec(db,
                       "DROP TABLE IF EXISTS c; CREATE TABLE c(id INTEGER PRIMARY KEY, a INT, name VARCHAR(20), "
                       "price DOUBLE, qty INT, code VARCHAR(8)); BEGIN",
                       nullptr, nullptr, nullptr),
          db, "create");
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO c VALUES (?, ?, ?, ?, ?, ?)", -1, &st, nullptr), db, "insert");
    BenchSupport::TRandom rnd(7);
    static const char CodeChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (std::size_t i = 1; i <= rows; ++i) {
        std::string name(1, static_cast<char>('A' + rnd.Below(26)));
        const int len = 5 + rnd.Below(7);
        for (int k = 0; k < len; ++k) name += static_cast<char>('a' + rnd.Below(26));
        std::string code;
        for (int k = 0; k < 8; ++k) code += CodeChars[rnd.Below(36)];
        sqlite3_bind_int64(st, 1, static_cast<sqlite3_int64>(i));
        sqlite3_bind_int(st, 2, rnd.Below(1000));
        sqlite3_bind_text(st, 3, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_double(st, 4, rnd.Below(100000) / 100.0);
        sqlite3_bind_int(st, 5, 1 + rnd.Below(50));
        sqlite3_bind_text(st, 6, code.data(), static_cast<int>(code.size()), SQLITE_TRANSIENT);
        Check(sqlite3_step(st), db, "insert");
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
}

void Prepare() {
    auto& d = Data();
    const auto rows = static_cast<std::size_t>(BenchSupport::EnvCount("VELORA_BENCH_ROWS", 1000000));
    d.File = (BenchSupport::BenchDir() / ("velora-cursor-bench-" + std::to_string(rows) + ".db")).string();
    sqlite3* db = nullptr;
    Check(sqlite3_open(d.File.c_str(), &db), db, "open " + d.File);
    if (QueryInt(db, "SELECT count(*) FROM sqlite_schema WHERE name = 'c'") != 1 ||
        QueryInt(db, "SELECT count(*) FROM c") != static_cast<long long>(rows))
        BuildFile(db, rows);
    // The baseline's vectors, read with sqlite3 itself.
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(db, Query, -1, &st, nullptr), db, Query);
    while (sqlite3_step(st) == SQLITE_ROW) {
        d.A.push_back(sqlite3_column_int(st, 1));
        d.Name.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 2)),
                            static_cast<std::size_t>(sqlite3_column_bytes(st, 2)));
        d.Price.push_back(sqlite3_column_double(st, 3));
        d.Qty.push_back(sqlite3_column_int(st, 4));
        d.Code.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 5)),
                            static_cast<std::size_t>(sqlite3_column_bytes(st, 5)));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    d.Rows = d.A.size();
    BenchSupport::TRandom rnd(11);
    for (int i = 0; i < SeekKeys; ++i) d.Keys.push_back(d.Code[static_cast<std::size_t>(rnd.Below(static_cast<int>(d.Rows)))]);

    // The engine: the whole result in a row store, a view without filter or sort.
    d.Session = OpenSession("Provider=SQLite;Mode=Read;Data Source=" + QuoteConnectionValue(d.File));
    auto stmt = d.Session->CreateStatement();
    stmt->Prepare(Query);
    auto& result = stmt->Execute();
    d.Store = std::make_unique<TRowStore>(result.GetColumns());
    d.Store->Reserve(d.Rows);
    d.Store->Load(result);
    stmt->Close();
    if (d.Store->GetRowCount() != d.Rows) Die("the engine read a different number of rows");
    d.View = std::make_unique<TCursorView>(*d.Store);
    d.AColumn = static_cast<std::size_t>(d.Store->FindColumn("a"));
    d.NameColumn = static_cast<std::size_t>(d.Store->FindColumn("name"));
    d.CodeColumn = static_cast<std::size_t>(d.Store->FindColumn("code"));
    d.SeekIndexes = std::make_unique<TIndexes>(*d.Store);
    d.SeekIndexes->SetOptimize(d.CodeColumn, true);
    d.SeekIndexes->ColumnIndex(d.CodeColumn)->GetRows();

    // The COM objects, created through the class registry as a program creates them.
    d.Connection = CoConnection::Create();
    d.Connection->Open(Rtl::Utf8ToWide("Provider=SQLite;Mode=Read;Data Source=" + QuoteConnectionValue(d.File)));
    auto open = [&](const char* sql) {
        auto rs = CoRecordset::Create();
        rs->SetCursorLocation(adUseClient);
        rs->Open(Variant(Rtl::Utf8ToWide(sql)), Com::VarFromInterface(d.Connection), adOpenStatic, adLockReadOnly,
                 adCmdText);
        if (rs->GetRecordCount() != static_cast<int>(d.Rows)) Die("the recordset holds a different number of rows");
        return rs;
    };
    d.Rs = open(Query);
    d.SeekRs = open("SELECT id, code FROM c ORDER BY id");
}

ComPtr<Property> OptimizeOf(const ComPtr<_Recordset>& rs, const char* field) {
    return rs->GetFields()->GetItem(Variant(field))->GetProperties()->GetItem(Variant("Optimize"));
}

void Finish(benchmark::State& state, std::size_t kept) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(Data().Rows));
    state.counters["rows_kept"] = static_cast<double>(kept);
}

// ---- Filter ------------------------------------------------------------------------------------------------
// a < 100 keeps about 10% of the rows; the AND/OR criteria about 6%.

const char* const FilterTenth = "a < 100";
const char* const FilterAndOr = "(a < 50 AND price >= 500) OR name LIKE 'K*'";

template <class Keep>
void FilterBaseline(benchmark::State& state, Keep keep) {
    const auto& d = Data();
    std::size_t kept = 0;
    for (auto _ : state) {
        std::vector<std::uint32_t> rows;
        rows.reserve(d.Rows);
        for (std::uint32_t i = 0; i < d.Rows; ++i)
            if (keep(i)) rows.push_back(i);
        kept = rows.size();
        benchmark::DoNotOptimize(rows.data());
    }
    Finish(state, kept);
}

void FilterEngine(benchmark::State& state, const char* criteria) {
    auto& d = Data();
    std::size_t kept = 0;
    for (auto _ : state) {
        d.View->SetFilter(TFilter::FromCriteria(*d.Store, criteria));
        kept = d.View->GetCount();
    }
    d.View->SetFilter(TFilter());
    Finish(state, kept);
}

void FilterRecordset(benchmark::State& state, const char* criteria) {
    auto& d = Data();
    std::size_t kept = 0;
    const Variant text(Rtl::Utf8ToWide(criteria));
    for (auto _ : state) {
        d.Rs->SetFilter(text);
        kept = static_cast<std::size_t>(d.Rs->GetRecordCount());
    }
    d.Rs->SetFilter(Variant(static_cast<int>(adFilterNone)));
    Finish(state, kept);
}

void FilterTenth_Baseline(benchmark::State& state) {
    const auto& a = Data().A;
    FilterBaseline(state, [&](std::uint32_t i) { return a[i] < 100; });
}
void FilterTenth_Engine(benchmark::State& state) { FilterEngine(state, FilterTenth); }
void FilterTenth_Recordset(benchmark::State& state) { FilterRecordset(state, FilterTenth); }

void FilterAndOr_Baseline(benchmark::State& state) {
    const auto& d = Data();
    FilterBaseline(state, [&](std::uint32_t i) {
        if (d.A[i] < 50 && d.Price[i] >= 500) return true;
        const std::string& n = d.Name[i];
        return !n.empty() && (n[0] == 'K' || n[0] == 'k');
    });
}
void FilterAndOr_Engine(benchmark::State& state) { FilterEngine(state, FilterAndOr); }
void FilterAndOr_Recordset(benchmark::State& state) { FilterRecordset(state, FilterAndOr); }

// ---- Sort ----------------------------------------------------------------------------------------------------

template <class Less>
void SortBaseline(benchmark::State& state, Less less) {
    const auto& d = Data();
    std::uint32_t first = 0;
    for (auto _ : state) {
        std::vector<std::uint32_t> rows(d.Rows);
        std::iota(rows.begin(), rows.end(), 0u);
        std::stable_sort(rows.begin(), rows.end(), less);
        first = rows.front();
        benchmark::DoNotOptimize(rows.data());
    }
    Finish(state, d.Rows);
    state.counters["first_row"] = first;
}

void SortEngine(benchmark::State& state, const char* sort) {
    auto& d = Data();
    TRowId first = 0;
    for (auto _ : state) {
        d.View->SetSort(TSortOrder::Parse(*d.Store, sort));
        first = d.View->RowAt(0);
        state.PauseTiming();
        d.View->SetSort(TSortOrder());
        state.ResumeTiming();
    }
    Finish(state, d.Rows);
    state.counters["first_row"] = first;
}

void SortRecordset(benchmark::State& state, const char* sort) {
    auto& d = Data();
    const Rtl::WideString text = Rtl::Utf8ToWide(sort);
    double first = 0;
    for (auto _ : state) {
        d.Rs->SetSort(text);
        d.Rs->MoveFirst();
        state.PauseTiming();
        first = d.Rs->GetCollect(Variant("id")).ToDouble() - 1;
        d.Rs->SetSort(Rtl::WideString());
        state.ResumeTiming();
    }
    Finish(state, d.Rows);
    state.counters["first_row"] = first;
}

void SortInt_Baseline(benchmark::State& state) {
    const auto& a = Data().A;
    SortBaseline(state, [&](std::uint32_t x, std::uint32_t y) { return a[x] < a[y]; });
}
void SortInt_Engine(benchmark::State& state) { SortEngine(state, "a"); }
void SortInt_Recordset(benchmark::State& state) { SortRecordset(state, "a"); }

void SortText_Baseline(benchmark::State& state) {
    const auto& n = Data().Name;
    SortBaseline(state, [&](std::uint32_t x, std::uint32_t y) { return CollateAscii(n[x], n[y]) < 0; });
}
void SortText_Engine(benchmark::State& state) { SortEngine(state, "name"); }
void SortText_Recordset(benchmark::State& state) { SortRecordset(state, "name"); }

void SortTwoKeys_Baseline(benchmark::State& state) {
    const auto& d = Data();
    SortBaseline(state, [&](std::uint32_t x, std::uint32_t y) {
        if (d.Qty[x] != d.Qty[y]) return d.Qty[x] < d.Qty[y];
        return CollateAscii(d.Name[x], d.Name[y]) > 0;
    });
}
void SortTwoKeys_Engine(benchmark::State& state) { SortEngine(state, "qty, name DESC"); }
void SortTwoKeys_Recordset(benchmark::State& state) { SortRecordset(state, "qty, name DESC"); }

// ---- Find ----------------------------------------------------------------------------------------------------
// FindMiss: a name no row holds, so every row is compared.
// FindNext: every row with a = 7 (about 1,000), each Find starting one row
// after the last match (SkipRecords 1), as a program steps through matches.

const char* const MissCriteria = "name = 'Nobody-here'";
const char* const NextCriteria = "a = 7";

void FindMiss_Baseline(benchmark::State& state) {
    const auto& d = Data();
    std::size_t found = 0;
    for (auto _ : state) {
        std::size_t i = 0;
        while (i < d.Rows && CollateAscii(d.Name[i], "Nobody-here") != 0) ++i;
        found = i < d.Rows;
        benchmark::DoNotOptimize(i);
    }
    Finish(state, found);
}
void FindMiss_Engine(benchmark::State& state) {
    auto& d = Data();
    std::size_t found = 0;
    for (auto _ : state) {
        const TComparison c = TCriteria::ParseComparison(*d.Store, MissCriteria);
        found = d.View->Find(c, 0, 0, adSearchForward) >= 0;
    }
    Finish(state, found);
}
void FindMiss_Recordset(benchmark::State& state) {
    auto& d = Data();
    const Rtl::WideString text = Rtl::Utf8ToWide(MissCriteria);
    std::size_t found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        d.Rs->MoveFirst();
        state.ResumeTiming();
        d.Rs->Find(text, 0, adSearchForward, Com::EmptyParam);
        found = !d.Rs->GetEOF();
    }
    Finish(state, found);
}

void FindNext_Baseline(benchmark::State& state) {
    const auto& a = Data().A;
    std::size_t found = 0;
    for (auto _ : state) {
        found = 0;
        for (std::size_t i = 0;; ++i) {
            while (i < a.size() && a[i] != 7) ++i;
            if (i >= a.size()) break;
            ++found;
        }
        benchmark::DoNotOptimize(found);
    }
    Finish(state, found);
}
void FindNext_Engine(benchmark::State& state) {
    auto& d = Data();
    std::size_t found = 0;
    for (auto _ : state) {
        const TComparison c = TCriteria::ParseComparison(*d.Store, NextCriteria);
        found = 0;
        for (Int64 p = d.View->Find(c, 0, 0, adSearchForward); p >= 0; p = d.View->Find(c, p, 1, adSearchForward))
            ++found;
    }
    Finish(state, found);
}
void FindNext_Recordset(benchmark::State& state) {
    auto& d = Data();
    const Rtl::WideString text = Rtl::Utf8ToWide(NextCriteria);
    std::size_t found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        d.Rs->MoveFirst();
        state.ResumeTiming();
        found = 0;
        for (d.Rs->Find(text, 0, adSearchForward, Com::EmptyParam); !d.Rs->GetEOF();
             d.Rs->Find(text, 1, adSearchForward, Com::EmptyParam))
            ++found;
    }
    Finish(state, found);
}

// ---- Optimize and Seek ---------------------------------------------------------------------------------------
// Optimize: making the index of one text field (code). Seek: 10^4 codes
// looked up with adSeekFirstEQ in that index.

void Optimize_Baseline(benchmark::State& state) {
    const auto& c = Data().Code;
    SortBaseline(state, [&](std::uint32_t x, std::uint32_t y) { return CollateAscii(c[x], c[y]) < 0; });
}
void Optimize_Engine(benchmark::State& state) {
    auto& d = Data();
    for (auto _ : state) {
        auto indexes = std::make_unique<TIndexes>(*d.Store);
        indexes->SetOptimize(d.CodeColumn, true);
        benchmark::DoNotOptimize(indexes->ColumnIndex(d.CodeColumn)->GetRows().data());
        state.PauseTiming();  // not the freeing
        indexes.reset();
        state.ResumeTiming();
    }
    Finish(state, d.Rows);
}
void Optimize_Recordset(benchmark::State& state) {
    auto& d = Data();
    const Variant key(Rtl::Utf8ToWide(d.Keys.front()));
    for (auto _ : state) {
        // Optimize makes the index; Index and the first Seek put it to work.
        OptimizeOf(d.SeekRs, "code")->SetValue(Variant(true));
        d.SeekRs->SetIndex(u"code");
        d.SeekRs->Seek(key, adSeekFirstEQ);
        state.PauseTiming();
        if (d.SeekRs->GetEOF()) Die("Seek did not find a code that exists");
        d.SeekRs->SetIndex(Rtl::WideString());
        OptimizeOf(d.SeekRs, "code")->SetValue(Variant(false));
        state.ResumeTiming();
    }
    Finish(state, d.Rows);
}

void Seek_Baseline(benchmark::State& state) {
    const auto& d = Data();
    std::vector<std::uint32_t> sorted(d.Rows);
    std::iota(sorted.begin(), sorted.end(), 0u);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](std::uint32_t x, std::uint32_t y) { return CollateAscii(d.Code[x], d.Code[y]) < 0; });
    std::size_t found = 0;
    for (auto _ : state) {
        found = 0;
        for (const std::string& key : d.Keys) {
            const auto it = std::lower_bound(sorted.begin(), sorted.end(), key, [&](std::uint32_t r, const std::string& k) {
                return CollateAscii(d.Code[r], k) < 0;
            });
            found += it != sorted.end() && CollateAscii(d.Code[*it], key) == 0;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * SeekKeys);
    state.counters["found"] = static_cast<double>(found);
}
void Seek_Engine(benchmark::State& state) {
    auto& d = Data();
    const TIndex& index = *d.SeekIndexes->ColumnIndex(d.CodeColumn);
    std::vector<std::vector<Variant>> keys;
    for (const std::string& k : d.Keys) keys.push_back({Variant(Rtl::Utf8ToWide(k))});
    std::size_t found = 0;
    for (auto _ : state) {
        found = 0;
        for (const auto& key : keys) found += index.Seek(key, adSeekFirstEQ) != NoRow;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * SeekKeys);
    state.counters["found"] = static_cast<double>(found);
}
void Seek_Recordset(benchmark::State& state) {
    auto& d = Data();
    std::vector<Variant> keys;
    for (const std::string& k : d.Keys) keys.emplace_back(Rtl::Utf8ToWide(k));
    OptimizeOf(d.SeekRs, "code")->SetValue(Variant(true));
    d.SeekRs->SetIndex(u"code");
    std::size_t found = 0;
    for (auto _ : state) {
        found = 0;
        for (const auto& key : keys) {
            d.SeekRs->Seek(key, adSeekFirstEQ);
            found += !d.SeekRs->GetEOF();
        }
    }
    d.SeekRs->SetIndex(Rtl::WideString());
    OptimizeOf(d.SeekRs, "code")->SetValue(Variant(false));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * SeekKeys);
    state.counters["found"] = static_cast<double>(found);
}

}  // namespace

// Sorts and index builds take a second or so each: three repetitions of one.
#define CURSOR_BENCH(name, iterations) \
    BENCHMARK(name)->Unit(benchmark::kMillisecond)->Iterations(iterations)->Repetitions(iterations == 1 ? 3 : 5)->UseRealTime()

CURSOR_BENCH(FilterTenth_Baseline, 4);
CURSOR_BENCH(FilterTenth_Engine, 4);
CURSOR_BENCH(FilterTenth_Recordset, 4);
CURSOR_BENCH(FilterAndOr_Baseline, 4);
CURSOR_BENCH(FilterAndOr_Engine, 4);
CURSOR_BENCH(FilterAndOr_Recordset, 4);
CURSOR_BENCH(SortInt_Baseline, 1);
CURSOR_BENCH(SortInt_Engine, 1);
CURSOR_BENCH(SortInt_Recordset, 1);
CURSOR_BENCH(SortText_Baseline, 1);
CURSOR_BENCH(SortText_Engine, 1);
CURSOR_BENCH(SortText_Recordset, 1);
CURSOR_BENCH(SortTwoKeys_Baseline, 1);
CURSOR_BENCH(SortTwoKeys_Engine, 1);
CURSOR_BENCH(SortTwoKeys_Recordset, 1);
CURSOR_BENCH(FindMiss_Baseline, 4);
CURSOR_BENCH(FindMiss_Engine, 4);
CURSOR_BENCH(FindMiss_Recordset, 4);
CURSOR_BENCH(FindNext_Baseline, 4);
CURSOR_BENCH(FindNext_Engine, 4);
CURSOR_BENCH(FindNext_Recordset, 4);
CURSOR_BENCH(Optimize_Baseline, 1);
CURSOR_BENCH(Optimize_Engine, 1);
CURSOR_BENCH(Optimize_Recordset, 1);
CURSOR_BENCH(Seek_Baseline, 4);
CURSOR_BENCH(Seek_Engine, 4);
CURSOR_BENCH(Seek_Recordset, 4);

int main(int argc, char** argv) {
    const int rc = BenchSupport::Main(argc, argv, Prepare);
    // The COM objects go before the class registry's modules are unloaded.
    Data().Rs = nullptr;
    Data().SeekRs = nullptr;
    if (Data().Connection) Data().Connection->Close();
    Data().Connection = nullptr;
    return rc;
}
