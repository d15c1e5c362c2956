// Opening a large single pack: 1,000,000 entries in about 20,000 folders.
// Reports the time of Open (parse and tree) and the heap the open archive
// holds beyond the mapped file.
#include "PackWriter.h"
#include "ZarnikArchive.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <malloc.h>
#include <string>

namespace {

const int kAreas = 1000;
const int kSubsPerArea = 20;
const int kFiles = 1000000;

std::string PackPath()
{
    return (std::filesystem::temp_directory_path() / "zarnik-bench-open-1m.upk").string();
}

void MakePack(const std::string &path)
{
    std::vector<zarnik_pack::Entry> entries(kFiles);
    char name[96];
    for (int i = 0; i < kFiles; ++i) {
        const int folder = i / (kFiles / (kAreas * kSubsPerArea));
        std::snprintf(name, sizeof name, "content\\area_%04d\\sub_%d\\file_%06d.dds",
                      folder / kSubsPerArea, folder % kSubsPerArea, i);
        entries[i].path = name;
        entries[i].data = {static_cast<unsigned char>(i)};
        entries[i].storage = zarnik_pack::Storage::Stored;
    }
    if (!zarnik_pack::WriteFile(path, zarnik_pack::BuildUpk(entries)))
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
}

size_t HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void BM_OpenMillionEntries(benchmark::State &state)
{
    const std::string path = PackPath();
    if (!std::filesystem::exists(path))
        MakePack(path);
    malloc_trim(0);
    double heapMiB = 0;
    size_t nodes = 0;
    for (auto _ : state) {
        const size_t before = HeapInUse();
        auto *archive = new CZarnikArchive;
        if (!archive->Open(path)) {
            state.SkipWithError("open failed");
            break;
        }
        heapMiB = static_cast<double>(HeapInUse() - before) / (1024.0 * 1024.0);
        nodes = archive->FindNode("content")->m_Children.size();
        state.PauseTiming();
        delete archive;
        state.ResumeTiming();
    }
    state.counters["heap_MiB"] = heapMiB;
    state.counters["top_folders"] = static_cast<double>(nodes);
    state.counters["entries"] = kFiles;
}
BENCHMARK(BM_OpenMillionEntries)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
