// Extraction throughput: a pack of 2,000 files and 512 MiB written out once
// stored and once packed, with one worker and with two, against `cp -r` of
// the same files in the same run.
#include "Corpus.h"
#include "PackPath.h"
#include "PackWriter.h"
#include "ZarnikArchive.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using zarnik::CZarnikArchive;

namespace fs = std::filesystem;

namespace {

const int kFiles = 2000;
const size_t kFileSize = 256 * 1024; // 2,000 x 256 KiB = 500 MiB
const int kFolders = 20;

fs::path Root()
{
    return fs::temp_directory_path() / "zarnik-bench-extract";
}

std::string RelativePath(int i)
{
    char name[64];
    std::snprintf(name, sizeof name, "content/folder_%02d/file_%04d.%s", i % kFolders, i,
                  i % 2 ? "txt" : "dat");
    return name;
}

// Source files and the two packs, made once and kept between runs.
void Prepare()
{
    const fs::path root = Root();
    if (fs::exists(root / "ready"))
        return;
    fs::remove_all(root);
    std::vector<zarnik_pack::Entry> stored(kFiles);
    for (int i = 0; i < kFiles; ++i) {
        const std::string rel = RelativePath(i);
        zarnik_pack::Bytes data = i % 2 ? zarnik_corpus::Text(kFileSize, i)
                                        : zarnik_corpus::Binary(kFileSize, i);
        fs::create_directories((root / "src" / rel).parent_path());
        zarnik_pack::WriteFile((root / "src" / rel).string(), data);
        stored[i].path = zarnik::WithBackslashes(rel);
        stored[i].data = std::move(data);
        stored[i].storage = zarnik_pack::Storage::Stored;
    }
    zarnik_pack::WriteFile((root / "stored.upk").string(), zarnik_pack::BuildUpk(stored));
    for (auto &e : stored)
        e.storage = zarnik_pack::Storage::Packed;
    zarnik_pack::WriteFile((root / "packed.upk").string(), zarnik_pack::BuildUpk(stored));
    zarnik_pack::WriteFile((root / "ready").string(), {});
}

void Report(benchmark::State &state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFiles * kFileSize);
}

void BM_CopyRecursive(benchmark::State &state)
{
    Prepare();
    const fs::path out = Root() / "out-cp";
    const std::string command = "cp -r '" + (Root() / "src" / "content").string() + "' '" +
                                out.string() + "'";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        state.ResumeTiming();
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("cp failed");
    }
    fs::remove_all(out);
    Report(state);
}

// state.range(0): the number of workers.
void ExtractPack(benchmark::State &state, const char *pack)
{
    Prepare();
    const fs::path out = Root() / "out-extract";
    CZarnikArchive archive;
    if (!archive.Open((Root() / pack).string())) {
        state.SkipWithError("open failed");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        fs::create_directory(out);
        state.ResumeTiming();
        CZarnikArchive::ExtractOptions options;
        options.workers = static_cast<unsigned>(state.range(0));
        archive.Extract(archive.GetRoot(), out.string(), nullptr, options);
    }
    fs::remove_all(out);
    Report(state);
}

void BM_ExtractStored(benchmark::State &state)
{
    ExtractPack(state, "stored.upk");
}

void BM_ExtractPacked(benchmark::State &state)
{
    ExtractPack(state, "packed.upk");
}

BENCHMARK(BM_CopyRecursive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ExtractStored)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ExtractPacked)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace

BENCHMARK_MAIN();
