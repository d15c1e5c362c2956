// Opening 1,000,000 entries in about 20,000 folders: as one single pack, and
// as a whole index ("content.vfi") over 10 data files. Reports the time of
// Open (parse and tree) and the heap the open archive holds.
#include "Corpus.h"
#include "OutputFile.h"
#include "PackWriter.h"
#include "ZarnikArchive.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <malloc.h>
#include <string>

using zarnik::CZarnikArchive;

namespace {

const int kFiles = 1000000;

const int kDataFiles = 10;

std::filesystem::path BenchDir()
{
    return std::filesystem::temp_directory_path() / "zarnik-bench-open-1m";
}

// The single pack and the index set, made once and kept between runs.
void MakePacks()
{
    const std::filesystem::path dir = BenchDir();
    if (std::filesystem::exists(dir / "ready"))
        return;
    // What an interrupted run left is made again.
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::vector<zarnik_pack::Entry> entries = zarnik_corpus::MillionEntries();
    const std::optional<zarnik_pack::Bytes> pack = zarnik_pack::BuildUpk(entries);
    bool ok = pack && zarnik_pack::WriteNewFile((dir / "pack.upk").string(), *pack);
    // Data file k holds the k-th tenth of the entries; the index lists them
    // chunk by chunk.
    zarnik_pack::Bytes index;
    const size_t per = entries.size() / kDataFiles;
    for (int k = 0; k < kDataFiles; ++k) {
        const std::string dataName = "data" + std::to_string(k) + ".vfs";
        const std::vector<zarnik_pack::Entry> part(entries.begin() + k * per,
                                                   entries.begin() + (k + 1) * per);
        const std::optional<zarnik_pack::VfsSet> set = zarnik_pack::BuildVfs(part, dataName);
        ok = ok && set && zarnik_pack::WriteNewFile((dir / dataName).string(), set->data);
        if (set)
            index.insert(index.end(), set->index.begin(), set->index.end());
    }
    ok = ok && zarnik_pack::WriteNewFile((dir / "content.vfi").string(), index);
    if (ok)
        zarnik_pack::WriteNewFile((dir / "ready").string(), {});
    else
        std::fprintf(stderr, "cannot write the packs in %s\n", dir.c_str());
}

size_t HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void OpenMillionEntries(benchmark::State &state, const char *file)
{
    MakePacks();
    const std::string path = (BenchDir() / file).string();
    malloc_trim(0);
    double heapMiB = 0;
    size_t nodes = 0;
    for (auto _ : state) {
        // Only the open is timed: counting the heap walks all of it.
        state.PauseTiming();
        const size_t before = HeapInUse();
        state.ResumeTiming();
        std::unique_ptr<const CZarnikArchive> archive = CZarnikArchive::Open(path).archive;
        state.PauseTiming();
        if (!archive) {
            state.SkipWithError("open failed");
            break;
        }
        heapMiB = static_cast<double>(HeapInUse() - before) / (1024.0 * 1024.0);
        nodes = archive->FindFolder("content")->m_Children.size();
        archive.reset();
        state.ResumeTiming();
    }
    state.counters["heap_MiB"] = heapMiB;
    state.counters["top_folders"] = static_cast<double>(nodes);
    state.counters["entries"] = kFiles;
}
BENCHMARK_CAPTURE(OpenMillionEntries, SinglePack, "pack.upk")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(OpenMillionEntries, WholeIndexOfTenDataFiles, "content.vfi")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

} // namespace

BENCHMARK_MAIN();
