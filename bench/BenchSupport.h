// Helpers shared by the benchmarks that compare a path of the library with a
// hand-written baseline over the same data in the same run.
//
// Benchmarks are named "<Group>_<Path>"; the path "Baseline" is the
// hand-written one. At the end the reporter prints, for every group, each
// path's best CPU time and its ratio to the baseline's best. Repetitions of
// all benchmarks are interleaved (unless the command line says otherwise),
// and the best of each is the one least disturbed by other work on the
// machine. A benchmark that sets the counter "bytes" (per iteration) gets
// its throughput in MB/s as well.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace BenchSupport {

inline long long EnvCount(const char* name, long long fallback) {
    const char* v = std::getenv(name);
    const long long n = v ? std::atoll(v) : 0;
    return n > 0 ? n : fallback;
}

inline std::filesystem::path BenchDir() {
    const char* dir = std::getenv("VELORA_BENCH_DIR");
    return dir ? std::filesystem::path(dir) : std::filesystem::temp_directory_path();
}

[[noreturn]] inline void Die(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::exit(1);
}

// Small deterministic generator, so that every run builds the same data.
struct TRandom {
    unsigned long long State;
    explicit TRandom(unsigned long long seed) : State(seed * 0x9E3779B97F4A7C15ull + 1) {}
    unsigned long long Next() {
        State ^= State << 13;
        State ^= State >> 7;
        State ^= State << 17;
        return State;
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<unsigned long long>(n)); }
};

class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations == 0 || r.error_occurred) continue;
            const std::string name = r.run_name.function_name;
            const double t = r.GetAdjustedCPUTime();
            auto it = FBest.find(name);
            if (it == FBest.end() || t < it->second.Time) {
                TBest& b = FBest[name];
                b.Time = t;
                b.Unit = benchmark::GetTimeUnitString(r.time_unit);
                b.BytesPerSecond = 0;
                // "bytes": what one iteration reads or writes; MB/s from the best CPU time.
                const auto bytes = r.counters.find("bytes");
                if (bytes != r.counters.end() && t > 0)
                    b.BytesPerSecond = bytes->second.value / (t / benchmark::GetTimeUnitMultiplier(r.time_unit));
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::map<std::string, std::vector<std::pair<std::string, TBest>>> groups;
        for (auto& [name, best] : FBest) {
            const auto cut = name.rfind('_');
            if (cut == std::string::npos) continue;
            groups[name.substr(0, cut)].emplace_back(name.substr(cut + 1), best);
        }
        std::printf("\nbest CPU time per group, as a ratio of the hand-written baseline's best (same data, same run):\n");
        for (auto& [group, paths] : groups) {
            double base = 0;
            for (auto& [path, best] : paths)
                if (path == "Baseline") base = best.Time;
            for (auto& [path, best] : paths) {
                std::printf("  %-22s %-12s %10.2f %-2s", group.c_str(), path.c_str(), best.Time, best.Unit.c_str());
                if (base > 0) std::printf(" %7.2fx", best.Time / base);
                if (best.BytesPerSecond > 0) std::printf("  %8.1f MB/s", best.BytesPerSecond / 1e6);
                std::printf("\n");
            }
        }
    }

private:
    struct TBest {
        double Time = 0;
        std::string Unit;
        double BytesPerSecond = 0;
    };
    std::map<std::string, TBest> FBest;
};

// Runs the registered benchmarks with interleaved repetitions and the ratio
// report; prepare() builds the data after the command line was read.
template <class F>
int Main(int argc, char** argv, F&& prepare) {
    std::vector<char*> args(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    bool given = false;
    for (int i = 1; i < argc; ++i)
        given = given || std::string(argv[i]).rfind("--benchmark_enable_random_interleaving", 0) == 0;
    if (!given) args.insert(args.begin() + 1, interleave);
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;
    prepare();
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace BenchSupport
