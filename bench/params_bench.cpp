// TParams::ParseSQL beside a plain scan of the same text, in the same run:
//   PlainScan          one pass that copies the text and counts its colons:
//                      the least any rewrite of the text can cost
//   ParseSQL           the scanner rewriting the markers, no parameters made
//   ParseSQLCreate     the same, creating one parameter per marker (and
//                      clearing the ones of the previous pass)
// Each runs over statements of 128 KB to 1 MB with 10,000 markers per
// megabyte (one every 105 bytes or so); the text also holds quoted
// literals with colons in them and "::" casts. The run ends with the time
// per byte of each path at each size (flat when the time is linear in the
// text's length) and each path's time as a ratio of the plain scan's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>

#include "Velora/Adods/Params.h"

namespace {

// 10,000 markers per megabyte: one per 104 or 105 bytes.
long Markers(long Size) { return Size * 10000 / (1 << 20); }

// A statement of Size bytes with Markers(Size) markers.
const std::string& Statement(long Size) {
    static std::map<long, std::string> cache;
    std::string& sql = cache[Size];
    if (!sql.empty()) return sql;
    const long markers = Markers(Size);
    sql = "select * from orders o where 1 = 1\r\n";
    for (long i = 0; i < markers; ++i) {
        // Chunks share out what is left, so the text ends at exactly Size bytes.
        const std::size_t length = static_cast<std::size_t>((Size - static_cast<long>(sql.size())) / (markers - i));
        std::string chunk = " and o.col" + std::to_string(i) + "::text = :param" + std::to_string(i % 5000) +
                            " or o.note = 'a:b ''c'' :x'";
        chunk.resize(length - 2, ' ');
        sql += chunk + "\r\n";
    }
    return sql;
}

void PlainScan(benchmark::State& state) {
    const std::string& sql = Statement(state.range(0));
    for (auto _ : state) {
        std::string out;
        out.reserve(sql.size());
        long colons = 0;
        for (char c : sql) {
            colons += c == ':';
            out += c;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(colons);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(sql.size()));
    state.counters["markers"] = static_cast<double>(Markers(state.range(0)));
}

void ParseSQL(benchmark::State& state) {
    const std::string& sql = Statement(state.range(0));
    Velora::TParams params;
    for (auto _ : state) {
        std::string out = params.ParseSQL(sql, false);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(sql.size()));
    state.counters["markers"] = static_cast<double>(Markers(state.range(0)));
}

void ParseSQLCreate(benchmark::State& state) {
    const std::string& sql = Statement(state.range(0));
    Velora::TParams params;
    for (auto _ : state) {
        std::string out = params.ParseSQL(sql, true);
        benchmark::DoNotOptimize(out.data());
    }
    if (params.GetCount() != Markers(state.range(0))) state.SkipWithError("wrong number of parameters");
    state.SetBytesProcessed(state.iterations() * static_cast<long>(sql.size()));
    state.counters["markers"] = static_cast<double>(params.GetCount());
}

// Prints the runs as usual, then per size each path's best time per byte and
// its ratio to the plain scan's best at that size.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations == 0) continue;
            const std::string name = r.run_name.function_name;
            const long size = std::stol(r.run_name.args);
            const double t = r.GetAdjustedCPUTime() * 1e6 / static_cast<double>(Statement(size).size());  // ns per byte
            auto key = std::make_pair(name, size);
            auto it = FNsPerByte.find(key);
            if (it == FNsPerByte.end() || t < it->second) FNsPerByte[key] = t;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nbest CPU time per byte, and as a ratio of the plain scan at the same size:\n");
        std::printf("  %-16s %10s %8s %12s %8s\n", "path", "bytes", "markers", "ns/byte", "ratio");
        for (auto& [key, t] : FNsPerByte) {
            auto scan = FNsPerByte.find({"PlainScan", key.second});
            const double ratio = scan != FNsPerByte.end() && scan->second > 0 ? t / scan->second : 0;
            std::printf("  %-16s %10zu %8ld %12.3f %7.2fx\n", key.first.c_str(), Statement(key.second).size(),
                        Markers(key.second), t, ratio);
        }
    }

private:
    std::map<std::pair<std::string, long>, double> FNsPerByte;
};

}  // namespace

#define PARAMS_SIZES ->Arg(128 << 10)->Arg(256 << 10)->Arg(512 << 10)->Arg(1 << 20)
BENCHMARK(PlainScan) PARAMS_SIZES->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(ParseSQL) PARAMS_SIZES->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(ParseSQLCreate) PARAMS_SIZES->Unit(benchmark::kMillisecond)->Repetitions(5);

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    bool given = false;
    for (int i = 1; i < argc; ++i)
        given = given || std::string(argv[i]).rfind("--benchmark_enable_random_interleaving", 0) == 0;
    if (!given) args.insert(args.begin() + 1, interleave);
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
