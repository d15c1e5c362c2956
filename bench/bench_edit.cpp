// Changing a pack: replacing one 1 MiB file of a 2 GiB pack with -o, in
// turns with `cp` of the same pack, with the new pack flushed to the disk
// before it takes its name (--sync) and without, and the peak memory of
// that change (measured in a child, whose peak is its own). Then the edit's
// record on a pack of 1,000,000 entries: starting an edit, renaming a folder
// of 200,000 files, taking it back, deleting one file, listing the changes,
// and the peak memory of the tool making such a rename beside that of a
// listing (of this build's tool, or of the one ZARNIK_BENCH_TOOL names, so
// that two builds can be run in turns).
#include "Corpus.h"
#include "PeakMemory.h"
#include "OutputFile.h"
#include "PackEdit.h"
#include "PackSink.h"
#include "PackWriter.h"
#include "ZarnikArchive.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
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

// The pack of 1,000,000 entries, made once and kept between runs.
std::string WidePack()
{
    const fs::path path = Root() / "wide.upk";
    if (!fs::exists(path)) {
        fs::create_directories(Root());
        const std::optional<zarnik_pack::Bytes> pack = zarnik_pack::BuildUpk(zarnik_corpus::ThousandFolders());
        if (!pack || !zarnik_pack::WriteNewFile(path.string(), *pack))
            std::abort();
    }
    return path.string();
}

const zarnik::CZarnikArchive &WideArchive()
{
    static const auto opened = zarnik::CZarnikArchive::Open(WidePack());
    if (!opened.archive)
        std::abort();
    return *opened.archive;
}

const char kArea[] = "content\\area_1";

void BM_EditStartOnAMillionEntries(benchmark::State &state)
{
    const zarnik::CZarnikArchive &archive = WideArchive();
    for (auto _ : state)
        benchmark::DoNotOptimize(zarnik_pack::PackEdit(archive, WidePack(), false).Usable());
}

// Each iteration times `step` on an edit of the wide pack that `before`
// prepared; `after` puts the edit back untimed.
void TimeStep(benchmark::State &state, const std::function<bool(zarnik_pack::PackEdit &)> &before,
              const std::function<bool(zarnik_pack::PackEdit &)> &step,
              const std::function<bool(zarnik_pack::PackEdit &)> &after)
{
    zarnik_pack::PackEdit edit(WideArchive(), WidePack(), false);
    for (auto _ : state) {
        state.PauseTiming();
        const bool ready = before(edit);
        state.ResumeTiming();
        if (!ready || !step(edit)) {
            state.SkipWithError("the change was refused");
            break;
        }
        state.PauseTiming();
        after(edit);
        state.ResumeTiming();
    }
}

const auto kNothing = [](zarnik_pack::PackEdit &) { return true; };
const auto kUndo = [](zarnik_pack::PackEdit &edit) { return edit.Undo(); };
const auto kRenameArea = [](zarnik_pack::PackEdit &edit) { return edit.Rename(kArea, "content\\moved"); };

void BM_RenameAFolderOf200000Files(benchmark::State &state)
{
    TimeStep(state, kNothing, kRenameArea, kUndo);
}

void BM_UndoOfThatRename(benchmark::State &state)
{
    TimeStep(state, kRenameArea, kUndo, kNothing);
}

void BM_DeleteOneFileOfAMillion(benchmark::State &state)
{
    TimeStep(state, kNothing,
             [](zarnik_pack::PackEdit &edit) { return edit.Delete("content\\area_4\\dir_199\\file_999999.dds"); },
             kUndo);
}

// What a caller lists after the rename: the 200,000 files renamed.
void BM_ChangesOfThatRename(benchmark::State &state)
{
    zarnik_pack::PackEdit edit(WideArchive(), WidePack(), false);
    if (!kRenameArea(edit))
        state.SkipWithError("the change was refused");
    size_t renamed = 0;
    for (auto _ : state)
        renamed = edit.Changes().renamed.size();
    state.counters["renamed"] = double(renamed);
}

// The peak resident memory of the tool, in MiB: `zarnik list` of the wide
// pack, and `zarnik rename` of a folder of 200,000 files in it to a new
// pack. Run before anything here holds the wide pack: the tool is forked
// from this process, and its peak counts what this one held.
void BM_ToolPeakOfARenameInAMillion(benchmark::State &state)
{
    const std::string pack = WidePack(), out = (Root() / "renamed.upk").string();
    std::vector<std::string> args{"list", pack};
    if (state.range(0))
        args = {"rename", pack, "content/area_1", "content/moved", "-o", out};
    const char *other = std::getenv("ZARNIK_BENCH_TOOL");
    double peak = 0;
    for (auto _ : state) {
        fs::remove(out);
        if (RunTool(other && *other ? other : ZARNIK_EXE, args, &peak) != 0)
            state.SkipWithError("zarnik failed");
    }
    fs::remove(out);
    state.counters["peak_MiB"] = peak;
}

} // namespace

// In turns: list, rename, list, rename.
BENCHMARK(BM_ToolPeakOfARenameInAMillion)->ArgName("rename")->Arg(0)->Arg(1)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);
// In turns, so both see the same page-cache state.
BENCHMARK(BM_CopyOf2GiB)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReplaceOneFileOf2GiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CopyOf2GiB)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReplaceOneFileOf2GiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PeakMemoryOfAChange)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_EditStartOnAMillionEntries)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RenameAFolderOf200000Files)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_UndoOfThatRename)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DeleteOneFileOfAMillion)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ChangesOfThatRename)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
