// zarnik diff against zarnik test, both run as the built tool on two
// versions of a 1 GiB pack of 256 packed files of 4 MiB: one file replaced
// by `zarnik add --replace` (diff reads the stored bytes, unpacks one file),
// and the same files stored as they are (diff unpacks one side whole).
// The three run in turns, and the medians are reported as counters; then
// the peak memory of diff on 4 MiB files and on 256 MiB files, which should
// not differ. The packs are made once and kept (ZARNIK_BENCH_DIR chooses
// where).
#include "DiffPacks.h"
#include "PeakMemory.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path Root() { return zarnik_corpus::DiffPacksRoot(); }

int Run(const std::vector<std::string> &args, double *peakMiB = nullptr)
{
    return RunTool(ZARNIK_EXE, args, peakMiB);
}

bool Prepare() { return zarnik_corpus::PrepareDiffPacks(ZARNIK_EXE); }

double Seconds(const std::vector<std::string> &args, int expected, benchmark::State &state)
{
    const auto start = std::chrono::steady_clock::now();
    if (Run(args) != expected)
        state.SkipWithError(("unexpected exit status of zarnik " + args[0]).c_str());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// test of a.upk, diff a b, diff a s, in turns; medians in seconds.
void BM_DiffAgainstTest(benchmark::State &state)
{
    if (!Prepare()) {
        state.SkipWithError("cannot make the packs");
        return;
    }
    const std::string a = (Root() / "a.upk").string(), b = (Root() / "b.upk").string(), s = (Root() / "s.upk").string();
    std::vector<double> test, replaced, stored;
    for (auto _ : state) {
        test.push_back(Seconds({"test", a}, 0, state));
        replaced.push_back(Seconds({"diff", a, b}, 1, state));
        stored.push_back(Seconds({"diff", a, s}, 0, state));
    }
    state.counters["test_s"] = Median(test);
    state.counters["diff_replaced_s"] = Median(replaced);
    state.counters["diff_stored_s"] = Median(stored);
    state.counters["replaced_per_test"] = Median(replaced) / Median(test);
    state.counters["stored_per_test"] = Median(stored) / Median(test);
}

// Peak memory of diff, packed against stored, by file size in MiB.
void BM_DiffPeakMemory(benchmark::State &state)
{
    if (!Prepare()) {
        state.SkipWithError("cannot make the packs");
        return;
    }
    const bool big = state.range(0) > 4;
    const std::string a = (Root() / (big ? "big.upk" : "a.upk")).string();
    const std::string s = (Root() / (big ? "bigs.upk" : "s.upk")).string();
    double peak = 0;
    for (auto _ : state)
        if (Run({"diff", a, s}, &peak) != 0)
            state.SkipWithError("zarnik diff failed");
    state.counters["peak_MiB"] = peak;
}

} // namespace

BENCHMARK(BM_DiffAgainstTest)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_DiffPeakMemory)->ArgName("file_MiB")->Arg(4)->Arg(256)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
