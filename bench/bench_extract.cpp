// Extraction throughput: a pack of 2,000 files and 500 MiB written out once
// stored and once packed, with one worker and with two; the stored one in
// turns with `cp -r` of the same files.
#include "Corpus.h"
#include "PackPath.h"
#include "OutputFile.h"
#include "PackWriter.h"
#include "Extraction.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

using zarnik::CZarnikArchive;

namespace fs = std::filesystem;

namespace {

const int kFiles = 2000;
const size_t kFileSize = 256 * 1024; // 2,000 x 256 KiB = 500 MiB
const int kFolders = 20;

fs::path Root()
{
    return zarnik_corpus::BenchPath("zarnik-bench-extract");
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
        zarnik_pack::WriteNewFile((root / "src" / rel).string(), data);
        stored[i].path = zarnik::WithBackslashes(rel);
        stored[i].data = std::move(data);
        stored[i].storage = zarnik_pack::Storage::Stored;
    }
    const std::optional<zarnik_pack::Bytes> storedPack = zarnik_pack::BuildUpk(stored);
    for (auto &e : stored)
        e.storage = zarnik_pack::Storage::Packed;
    const std::optional<zarnik_pack::Bytes> packedPack = zarnik_pack::BuildUpk(stored);
    if (storedPack && packedPack && zarnik_pack::WriteNewFile((root / "stored.upk").string(), *storedPack) &&
        zarnik_pack::WriteNewFile((root / "packed.upk").string(), *packedPack))
        zarnik_pack::WriteNewFile((root / "ready").string(), {});
}

void Report(benchmark::State &state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFiles * kFileSize);
}

// Runs `cp -r` of the source files to `out`; false when it failed.
bool CopyRecursive(const fs::path &out)
{
    const std::string command = "cp -r '" + (Root() / "src" / "content").string() + "' '" +
                                out.string() + "'";
    return std::system(command.c_str()) == 0;
}

bool ExtractAll(const CZarnikArchive &archive, const fs::path &out, unsigned workers)
{
    fs::create_directory(out);
    zarnik::ExtractSettings settings;
    settings.workers = workers;
    return zarnik::CExtraction(archive, nullptr, settings)
               .Extract(*archive.GetRoot(), zarnik::ExtractDestination::Folder(out.string())) ==
           zarnik::ExtractEnd::Finished;
}

double Seconds(const std::function<bool()> &run, bool &ok)
{
    const auto start = std::chrono::steady_clock::now();
    ok = run() && ok;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// `cp -r` and the stored extraction in turns, each into a tree removed just
// before: ext4 scans the inodes freed in the last seconds when it makes new
// ones, so whichever ran later would pay for the other's deletions. The
// iteration time is the extraction's; the counters give the copy's mean time
// and the extraction's rate as a share of the copy's. state.range(0) is the
// number of workers.
void BM_StoredAgainstCopy(benchmark::State &state)
{
    Prepare();
    const std::unique_ptr<const CZarnikArchive> opened =
        CZarnikArchive::Open((Root() / "stored.upk").string()).archive;
    if (!opened) {
        state.SkipWithError("open failed");
        return;
    }
    const CZarnikArchive &archive = *opened;
    const fs::path copyOut = Root() / "out-cp", extractOut = Root() / "out-extract";
    const unsigned workers = static_cast<unsigned>(state.range(0));
    auto extract = [&] { return ExtractAll(archive, extractOut, workers); };
    auto copy = [&] { return CopyRecursive(copyOut); };
    double copyTotal = 0, extractTotal = 0;
    bool ok = true, copyFirst = true;
    for (auto _ : state) {
        fs::remove_all(copyOut);
        fs::remove_all(extractOut);
        double extractTime = 0;
        if (!copyFirst)
            extractTime = Seconds(extract, ok);
        copyTotal += Seconds(copy, ok);
        if (copyFirst)
            extractTime = Seconds(extract, ok);
        copyFirst = !copyFirst;
        extractTotal += extractTime;
        state.SetIterationTime(extractTime);
    }
    if (!ok)
        state.SkipWithError("cp or extraction failed");
    fs::remove_all(copyOut);
    fs::remove_all(extractOut);
    state.counters["cp_ms"] = 1000 * copyTotal / static_cast<double>(state.iterations());
    state.counters["stored_vs_cp"] = copyTotal / extractTotal;
    Report(state);
}

// state.range(0): the number of workers.
void BM_ExtractPacked(benchmark::State &state)
{
    Prepare();
    const fs::path out = Root() / "out-extract";
    const std::unique_ptr<const CZarnikArchive> opened =
        CZarnikArchive::Open((Root() / "packed.upk").string()).archive;
    if (!opened) {
        state.SkipWithError("open failed");
        return;
    }
    const CZarnikArchive &archive = *opened;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        state.ResumeTiming();
        if (!ExtractAll(archive, out, static_cast<unsigned>(state.range(0))))
            state.SkipWithError("extraction failed");
    }
    fs::remove_all(out);
    Report(state);
}

BENCHMARK(BM_StoredAgainstCopy)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(6);
BENCHMARK(BM_ExtractPacked)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace

BENCHMARK_MAIN();
