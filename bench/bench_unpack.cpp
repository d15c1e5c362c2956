// Unpack throughput against memcpy of the same output, and the compressor's
// ratio and speed, on the two sample corpora (16 MiB each, 64 KiB blocks).
#include "Compressor.h"
#include "Corpus.h"
#include "ZarnikArchive_packunpack.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
const size_t kCorpusSize = 16u << 20;

struct Sample
{
    Bytes data;
    Bytes packed;
};

// Corpus 2 is a real file, for comparison with the generated ones: the
// first 16 MiB of the file named by ZARNIK_BENCH_FILE (empty when unset).
Bytes ReadBenchFile()
{
    const char *path = std::getenv("ZARNIK_BENCH_FILE");
    if (!path)
        return Bytes();
    std::ifstream f(path, std::ios::binary);
    Bytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (data.size() > kCorpusSize)
        data.resize(kCorpusSize);
    return data;
}

const Sample &Corpus(int which)
{
    static Sample samples[3];
    Sample &s = samples[which];
    if (s.data.empty()) {
        s.data = which == 0   ? zarnik_corpus::Text(kCorpusSize)
                 : which == 1 ? zarnik_corpus::Binary(kCorpusSize)
                              : ReadBenchFile();
        s.packed = zarnik_pack::Compress(s.data.data(), s.data.size());
    }
    return s;
}

// Skips a benchmark on corpus 2 when no file was named.
bool Missing(benchmark::State &state, const Sample &s)
{
    if (!s.data.empty())
        return false;
    state.SkipWithError("set ZARNIK_BENCH_FILE to a file for corpus 2");
    return true;
}

void BM_Unpack(benchmark::State &state)
{
    const Sample &s = Corpus(static_cast<int>(state.range(0)));
    if (Missing(state, s))
        return;
    Bytes out(s.data.size());
    for (auto _ : state) {
        const uint32_t n = Unpack(out.data(), s.packed.data(), static_cast<uint32_t>(s.packed.size()),
                                  static_cast<uint32_t>(out.size()));
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
        if (n != s.data.size()) {
            state.SkipWithError("stream did not unpack");
            break;
        }
    }
    if (out != s.data)
        state.SkipWithError("unpacked bytes differ");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.data.size()));
    state.counters["ratio"] = double(s.packed.size()) / double(s.data.size());
}

void BM_Memcpy(benchmark::State &state)
{
    const Sample &s = Corpus(static_cast<int>(state.range(0)));
    if (Missing(state, s))
        return;
    Bytes out(s.data.size());
    for (auto _ : state) {
        std::memcpy(out.data(), s.data.data(), s.data.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.data.size()));
}

void BM_Compress(benchmark::State &state)
{
    const Sample &s = Corpus(static_cast<int>(state.range(0)));
    if (Missing(state, s))
        return;
    size_t packed = 0;
    for (auto _ : state) {
        const Bytes p = zarnik_pack::Compress(s.data.data(), s.data.size());
        packed = p.size();
        benchmark::DoNotOptimize(packed);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.data.size()));
    state.counters["ratio"] = double(packed) / double(s.data.size());
}

} // namespace

// Argument 0: text-like corpus; 1: binary-like corpus; 2: the file named by
// ZARNIK_BENCH_FILE, if any.
BENCHMARK(BM_Unpack)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Compress)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(2);

BENCHMARK_MAIN();
