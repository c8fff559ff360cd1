// Saving and loading a 10^5-row store in ADO's XML rowset format and in the
// TableGram (ADTG), in MB/s of the saved bytes, beside hand-written code doing the least any writer or reader of the
// same text must do, in the same run:
//   XmlSave_Baseline   the same z:row elements written from plain vectors
//                      (std::to_chars, the same escaping)
//   XmlSave_Engine     SaveXml of the row store, into memory
//   XmlSave_File       SaveToFile: the same, written beside the file and
//                      renamed over it
//   XmlLoad_Baseline   the z:row elements of the engine's text read back into
//                      plain vectors (attributes found, entities undone,
//                      numbers parsed with std::from_chars); no schema
//   XmlLoad_Engine     LoadXml into a new row store (schema, types, checks)
//   XmlLoad_File       LoadFromFile of the saved file
//   AdtgSave_* and AdtgLoad_* the same for the binary TableGram: its baseline
//                      writes each row's values in their own width (text
//                      with a length before it) and reads them back
//
// The table p has VELORA_BENCH_PERSIST_ROWS rows (default 100,000): id, a,
// name (about 12 bytes), price, and note (about 40 bytes with '&' and quotes
// to escape, Null in every fifth row). The SQLite file and the saved XML live
// in VELORA_BENCH_DIR (default the system's temporary folder).
#include <sqlite3.h>

#include <charconv>
#include <cstring>
#include <fstream>

#include "Platform/data-engine/persist/Persist.h"
#include "bench/BenchSqlite.h"

using namespace DataEngine;
using BenchSupport::Check;
using BenchSupport::Die;
using BenchSupport::QueryInt;

namespace {

const char* const Query = "SELECT id, a, name, price, note FROM p ORDER BY id";

struct TColumns {
    std::vector<long long> Id;
    std::vector<int> A;
    std::vector<std::string> Name;
    std::vector<double> Price;
    std::vector<std::string> Note;
    std::vector<bool> NoteNull;
};

struct TData {
    std::string Db, XmlFile, AdtgFile;
    std::size_t Rows = 0;
    TColumns Columns;
    std::unique_ptr<TSession> Session;
    std::unique_ptr<TRowStore> Store;
    String Xml;   // the engine's text, which both loaders read
    String Adtg;  // the engine's TableGram
};

TData& Data() {
    static TData d;
    return d;
}

void Prepare() {
    auto& d = Data();
    const auto rows = BenchSupport::EnvCount("VELORA_BENCH_PERSIST_ROWS", 100000);
    d.Db = (BenchSupport::BenchDir() / ("velora-persist-bench-" + std::to_string(rows) + ".db")).string();
    d.XmlFile = (BenchSupport::BenchDir() / ("velora-persist-bench-" + std::to_string(rows) + ".xml")).string();
    d.AdtgFile = (BenchSupport::BenchDir() / ("velora-persist-bench-" + std::to_string(rows) + ".adtg")).string();
    sqlite3* db = nullptr;
    Check(sqlite3_open(d.Db.c_str(), &db), db, "open " + d.Db);
    if (QueryInt(db, "SELECT count(*) FROM sqlite_schema WHERE name = 'p'") != 1 ||
        QueryInt(db, "SELECT count(*) FROM p") != rows) {
        std::fprintf(stderr, "building %lld rows in %s\n", rows, d.Db.c_str());
        const std::string fill =
            "DROP TABLE IF EXISTS p; CREATE TABLE p(id INTEGER PRIMARY KEY, a INT, name VARCHAR(20), price DOUBLE, "
            "note VARCHAR(60)); WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " +
            std::to_string(rows) +
            ") INSERT INTO p SELECT x, x % 1000, 'name-' || x, x * 0.37, CASE WHEN x % 5 = 0 THEN NULL ELSE "
            "'Fish & chips for ''table ' || (x % 40) || '''; <' || hex(randomblob(6)) || '>' END FROM c";
        Check(sqlite3_exec(db, fill.c_str(), nullptr, nullptr, nullptr), db, "fill");
    }
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(db, Query, -1, &st, nullptr), db, Query);
    auto& c = d.Columns;
    auto text = [&](int i) {
        return std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                           static_cast<std::size_t>(sqlite3_column_bytes(st, i)));
    };
    while (sqlite3_step(st) == SQLITE_ROW) {
        c.Id.push_back(sqlite3_column_int64(st, 0));
        c.A.push_back(sqlite3_column_int(st, 1));
        c.Name.push_back(text(2));
        c.Price.push_back(sqlite3_column_double(st, 3));
        c.NoteNull.push_back(sqlite3_column_type(st, 4) == SQLITE_NULL);
        c.Note.push_back(c.NoteNull.back() ? std::string() : text(4));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    d.Rows = c.Id.size();

    d.Session = OpenSession("Provider=SQLite;Mode=Read;Data Source=" + QuoteConnectionValue(d.Db));
    auto stmt = d.Session->CreateStatement();
    stmt->Prepare(Query);
    auto& result = stmt->Execute();
    d.Store = std::make_unique<TRowStore>(result.GetColumns());
    d.Store->Load(result);
    stmt->Close();
    if (d.Store->GetRowCount() != d.Rows) Die("the engine read a different number of rows");
    d.Xml = SaveXml(*d.Store);
    SaveToFile(*d.Store, d.XmlFile, Velora::adPersistXML);
    d.Adtg = SaveAdtg(*d.Store);
    SaveToFile(*d.Store, d.AdtgFile, Velora::adPersistADTG);
}

void Bytes(benchmark::State& state, std::size_t size) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(Data().Rows));
    state.counters["bytes"] = static_cast<double>(size);
}
void Bytes(benchmark::State& state) { Bytes(state, Data().Xml.size()); }

// ---- The hand-written writer and reader ----------------------------------------------------------------

void Escape(std::string& out, std::string_view s) {
    for (char ch : s) switch (ch) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '\'': out += "&apos;"; break;
            case '"': out += "&quot;"; break;
            default: out += ch;
        }
}

template <class T>
void Number(std::string& out, T v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

std::string WriteBaseline() {
    const auto& c = Data().Columns;
    std::string out;
    out.reserve(Data().Xml.size() + 4096);
    out += "<rs:data>\n";
    for (std::size_t i = 0; i < c.Id.size(); ++i) {
        out += "\t<z:row id='";
        Number(out, c.Id[i]);
        out += "' a='";
        Number(out, c.A[i]);
        out += "' name='";
        Escape(out, c.Name[i]);
        out += "' price='";
        Number(out, c.Price[i]);
        out += '\'';
        if (!c.NoteNull[i]) {
            out += " note='";
            Escape(out, c.Note[i]);
            out += '\'';
        }
        out += "/>\n";
    }
    out += "</rs:data>\n";
    return out;
}

void Unescape(std::string_view v, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '&') {
            out += v[i];
            continue;
        }
        const std::size_t semi = v.find(';', i);
        if (semi == std::string_view::npos) Die("an entity without ';'");
        const std::string_view e = v.substr(i + 1, semi - i - 1);
        out += e == "amp" ? '&' : e == "lt" ? '<' : e == "gt" ? '>' : e == "apos" ? '\'' : e == "quot" ? '"' : '?';
        i = semi;
    }
}

// Reads every z:row of the text into columns; returns the rows read.
std::size_t ReadBaseline(std::string_view xml, TColumns& c) {
    std::string value;
    std::size_t at = xml.find("<rs:data>");
    if (at == std::string_view::npos) Die("no rs:data");
    for (;;) {
        at = xml.find("<z:row", at);
        if (at == std::string_view::npos) break;
        at += 6;
        bool hasNote = false;
        for (;;) {
            while (xml[at] == ' ') ++at;
            if (xml[at] == '/') break;
            const std::size_t eq = xml.find("='", at);
            const std::string_view name = xml.substr(at, eq - at);
            const std::size_t close = xml.find('\'', eq + 2);
            const std::string_view raw = xml.substr(eq + 2, close - eq - 2);
            at = close + 1;
            if (name == "id") {
                long long v = 0;
                std::from_chars(raw.data(), raw.data() + raw.size(), v);
                c.Id.push_back(v);
            } else if (name == "a") {
                int v = 0;
                std::from_chars(raw.data(), raw.data() + raw.size(), v);
                c.A.push_back(v);
            } else if (name == "price") {
                double v = 0;
                std::from_chars(raw.data(), raw.data() + raw.size(), v);
                c.Price.push_back(v);
            } else if (name == "name") {
                Unescape(raw, value);
                c.Name.push_back(value);
            } else if (name == "note") {
                Unescape(raw, value);
                c.Note.push_back(value);
                hasNote = true;
            }
        }
        if (!hasNote) c.Note.emplace_back();
        c.NoteNull.push_back(!hasNote);
    }
    return c.Id.size();
}

// The binary floor: each row's values in their own width, text with a 4-byte length before it.
std::string WriteBinaryBaseline() {
    const auto& c = Data().Columns;
    std::string out;
    out.reserve(Data().Adtg.size() + 4096);
    auto put = [&](const auto& v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); };
    auto text = [&](const std::string& t) {
        put(static_cast<std::uint32_t>(t.size()));
        out += t;
    };
    for (std::size_t i = 0; i < c.Id.size(); ++i) {
        out += static_cast<char>(c.NoteNull[i]);  // the row's null flags
        put(c.Id[i]);
        put(c.A[i]);
        text(c.Name[i]);
        put(c.Price[i]);
        if (!c.NoteNull[i]) text(c.Note[i]);
    }
    return out;
}

std::size_t ReadBinaryBaseline(std::string_view data, TColumns& c) {
    std::size_t at = 0;
    auto get = [&](auto& v) {
        if (at + sizeof v > data.size()) Die("the binary baseline ran out of data");
        std::memcpy(&v, data.data() + at, sizeof v);
        at += sizeof v;
    };
    auto text = [&](std::string& t) {
        std::uint32_t n = 0;
        get(n);
        if (at + n > data.size()) Die("the binary baseline ran out of data");
        t.assign(data.data() + at, n);
        at += n;
    };
    while (at < data.size()) {
        const bool noteNull = data[at++] != 0;
        long long id = 0;
        int a = 0;
        double price = 0;
        std::string name, note;
        get(id);
        get(a);
        text(name);
        get(price);
        if (!noteNull) text(note);
        c.Id.push_back(id);
        c.A.push_back(a);
        c.Name.push_back(std::move(name));
        c.Price.push_back(price);
        c.Note.push_back(std::move(note));
        c.NoteNull.push_back(noteNull);
    }
    return c.Id.size();
}

// ---- Save ------------------------------------------------------------------------------------------------------

void XmlSave_Baseline(benchmark::State& state) {
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string out = WriteBaseline();
        size = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["baseline_bytes"] = static_cast<double>(size);
    Bytes(state);
}

void XmlSave_Engine(benchmark::State& state) {
    for (auto _ : state) {
        const String out = SaveXml(*Data().Store);
        if (out.size() != Data().Xml.size()) state.SkipWithError("SaveXml wrote a different text");
        benchmark::DoNotOptimize(out.data());
    }
    Bytes(state);
}

void XmlSave_File(benchmark::State& state) {
    for (auto _ : state) SaveToFile(*Data().Store, Data().XmlFile, Velora::adPersistXML);
    Bytes(state);
}

// ---- Load ------------------------------------------------------------------------------------------------------

void XmlLoad_Baseline(benchmark::State& state) {
    for (auto _ : state) {
        TColumns c;
        if (ReadBaseline(Data().Xml, c) != Data().Rows) state.SkipWithError("the baseline read a different number of rows");
        benchmark::DoNotOptimize(c.Id.data());
    }
    Bytes(state);
}

void XmlLoad_Engine(benchmark::State& state) {
    for (auto _ : state) {
        auto store = LoadXml(Data().Xml);
        if (store->GetRowCount() != Data().Rows) state.SkipWithError("LoadXml read a different number of rows");
        state.PauseTiming();  // not the freeing
        store.reset();
        state.ResumeTiming();
    }
    Bytes(state);
}

void XmlLoad_File(benchmark::State& state) {
    for (auto _ : state) {
        auto store = LoadFromFile(Data().XmlFile);
        if (store->GetRowCount() != Data().Rows) state.SkipWithError("LoadFromFile read a different number of rows");
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    Bytes(state);
}

// ---- The TableGram ------------------------------------------------------------------------------------------------

void AdtgSave_Baseline(benchmark::State& state) {
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string out = WriteBinaryBaseline();
        size = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["baseline_bytes"] = static_cast<double>(size);
    Bytes(state, Data().Adtg.size());
}

void AdtgSave_Engine(benchmark::State& state) {
    for (auto _ : state) {
        const String out = SaveAdtg(*Data().Store);
        if (out.size() != Data().Adtg.size()) state.SkipWithError("SaveAdtg wrote different bytes");
        benchmark::DoNotOptimize(out.data());
    }
    Bytes(state, Data().Adtg.size());
}

void AdtgSave_File(benchmark::State& state) {
    for (auto _ : state) SaveToFile(*Data().Store, Data().AdtgFile, Velora::adPersistADTG);
    Bytes(state, Data().Adtg.size());
}

void AdtgLoad_Baseline(benchmark::State& state) {
    const std::string binary = WriteBinaryBaseline();
    for (auto _ : state) {
        TColumns c;
        if (ReadBinaryBaseline(binary, c) != Data().Rows) state.SkipWithError("the baseline read a different number of rows");
        benchmark::DoNotOptimize(c.Id.data());
    }
    Bytes(state, Data().Adtg.size());
}

void AdtgLoad_Engine(benchmark::State& state) {
    for (auto _ : state) {
        auto store = LoadAdtg(Data().Adtg);
        if (store->GetRowCount() != Data().Rows) state.SkipWithError("LoadAdtg read a different number of rows");
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    Bytes(state, Data().Adtg.size());
}

void AdtgLoad_File(benchmark::State& state) {
    for (auto _ : state) {
        auto store = LoadFromFile(Data().AdtgFile);
        if (store->GetRowCount() != Data().Rows) state.SkipWithError("LoadFromFile read a different number of rows");
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    Bytes(state, Data().Adtg.size());
}

}  // namespace

#define PERSIST_BENCH(name) \
    BENCHMARK(name)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(5)->UseRealTime()

PERSIST_BENCH(XmlSave_Baseline);
PERSIST_BENCH(XmlSave_Engine);
PERSIST_BENCH(XmlSave_File);
PERSIST_BENCH(XmlLoad_Baseline);
PERSIST_BENCH(XmlLoad_Engine);
PERSIST_BENCH(XmlLoad_File);
PERSIST_BENCH(AdtgSave_Baseline);
PERSIST_BENCH(AdtgSave_Engine);
PERSIST_BENCH(AdtgSave_File);
PERSIST_BENCH(AdtgLoad_Baseline);
PERSIST_BENCH(AdtgLoad_Engine);
PERSIST_BENCH(AdtgLoad_File);

int main(int argc, char** argv) {
    const int rc = BenchSupport::Main(argc, argv, Prepare);
    std::remove(Data().XmlFile.c_str());
    std::remove(Data().AdtgFile.c_str());
    return rc;
}
