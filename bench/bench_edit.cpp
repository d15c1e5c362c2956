// Changing a pack: replacing one 1 MiB file of a 2 GiB pack with -o, in
// turns with `cp` of the same pack, with the new pack flushed to the disk
// before it takes its name (--sync) and without, and the peak memory of
// that change (measured in a child, whose peak is its own).
#include "Corpus.h"
#include "OutputFile.h"
#include "PackEdit.h"
#include "PackSink.h"
#include "PackWriter.h"
#include "ZarnikArchive.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const int kFiles = 2048;
const size_t kFileSize = 1u << 20; // 2,048 x 1 MiB = 2 GiB
const int kReplaced = kFiles / 2;

fs::path Root()
{
    return zarnik_corpus::BenchPath("zarnik-bench-edit");
}

std::string EntryPath(int i)
{
    char name[64];
    std::snprintf(name, sizeof name, "content\\folder_%02d\\file_%04d.bin", i % 16, i);
    return name;
}

// The pack (stored files: nothing to unpack anywhere) and the new file,
// made once and kept between runs.
void Prepare()
{
    const fs::path root = Root();
    if (fs::exists(root / "ready"))
        return;
    fs::remove_all(root);
    fs::create_directories(root);
    zarnik_pack::Bytes block(kFileSize);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    zarnik_pack::WriteNewFile((root / "new.bin").string(), block);
    std::unique_ptr<zarnik::PlatformDirectory, void (*)(zarnik::PlatformDirectory *)> folder(
        zarnik::PlatformOpenDirectory(root.string()), zarnik::PlatformCloseDirectory);
    zarnik_pack::OutputFile pack(folder.get(), "big.upk");
    zarnik_pack::UpkWriter writer(pack.Sink());
    for (int i = 0; i < kFiles; ++i) {
        block[0] = static_cast<unsigned char>(i);
        writer.AddStreamed({EntryPath(i), {}, zarnik_pack::Storage::Stored}, kFileSize,
                           [&](uint64_t p, unsigned char *b, size_t n) {
                               std::copy(block.begin() + p, block.begin() + p + n, b);
                               return true;
                           });
    }
    if (!writer.Finish() || !pack.Publish())
        std::abort();
    zarnik_pack::WriteNewFile((root / "ready").string(), {});
}

bool ReplaceOne(const fs::path &out, bool sync = false)
{
    const fs::path root = Root();
    const auto opened = zarnik::CZarnikArchive::Open((root / "big.upk").string());
    if (!opened.archive)
        return false;
    zarnik_pack::PackEdit edit(*opened.archive, (root / "big.upk").string(), false);
    zarnik_pack::SaveOptions options;
    options.out = out.string();
    options.sync = sync;
    return edit.Add(EntryPath(kReplaced), (root / "new.bin").string(), true) &&
           edit.Save(options).problem == zarnik_pack::EditProblem::None;
}

// Argument 1: flushed to the disk before it takes its name.
void BM_ReplaceOneFileOf2GiB(benchmark::State &state)
{
    Prepare();
    const fs::path out = Root() / "out.upk";
    for (auto _ : state) {
        fs::remove(out);
        if (!ReplaceOne(out, state.range(0) != 0))
            state.SkipWithError("the edit failed");
    }
    fs::remove(out);
    state.SetBytesProcessed(int64_t(state.iterations()) * kFiles * int64_t(kFileSize));
}

void BM_CopyOf2GiB(benchmark::State &state)
{
    Prepare();
    const fs::path out = Root() / "copy.upk";
    const std::string command = "cp '" + (Root() / "big.upk").string() + "' '" + out.string() + "'";
    for (auto _ : state) {
        fs::remove(out);
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("cp failed");
    }
    fs::remove(out);
    state.SetBytesProcessed(int64_t(state.iterations()) * kFiles * int64_t(kFileSize));
}

// The peak resident memory of a process that opens the pack and makes the
// change, in MiB.
void BM_PeakMemoryOfAChange(benchmark::State &state)
{
    Prepare();
    const fs::path out = Root() / "peak.upk";
    double peak = 0;
    for (auto _ : state) {
        fs::remove(out);
        const pid_t child = fork();
        if (child == 0)
            _exit(ReplaceOne(out) ? 0 : 1);
        int status = 0;
        struct rusage usage = {};
        wait4(child, &status, 0, &usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("the edit failed");
        peak = usage.ru_maxrss / 1024.0;
    }
    fs::remove(out);
    state.counters["peak_MiB"] = peak;
}

} // namespace

// In turns, so both see the same page-cache state.
BENCHMARK(BM_CopyOf2GiB)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReplaceOneFileOf2GiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CopyOf2GiB)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReplaceOneFileOf2GiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PeakMemoryOfAChange)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
