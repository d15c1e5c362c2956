// zarnik diff against zarnik test, both run as the built tool on two
// versions of a 1 GiB pack of 256 packed files of 4 MiB: one file replaced
// by `zarnik add --replace` (diff reads the stored bytes, unpacks one file),
// and the same files stored as they are (diff unpacks one side whole).
// The three run in turns, and the medians are reported as counters; then
// the peak memory of diff on 4 MiB files and on 256 MiB files, which should
// not differ. The packs are made once and kept (ZARNIK_BENCH_DIR chooses
// where).
#include "Corpus.h"
#include "OutputFile.h"
#include "PackWriter.h"
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

const size_t kPiece = 4u << 20;  // one file of the 256
const int kPieces = 256;         // 1 GiB
const int kReplaced = 128;

fs::path Root() { return zarnik_corpus::BenchPath("zarnik-bench-diff"); }

// Piece `i` of the 1 GiB: text and binary in turns.
std::vector<unsigned char> Piece(int i)
{
    return i % 2 ? zarnik_corpus::Binary(kPiece, uint32_t(i + 1)) : zarnik_corpus::Text(kPiece, uint32_t(i + 1));
}

std::string PiecePath(int i)
{
    char name[64];
    std::snprintf(name, sizeof name, "content\\folder_%02d\\file_%04d.bin", i % 16, i);
    return name;
}

// The 1 GiB as `files` files, packed or stored, as `name` below Root().
bool WritePack(const std::string &name, int files, zarnik_pack::Storage storage)
{
    std::unique_ptr<zarnik::PlatformDirectory, void (*)(zarnik::PlatformDirectory *)> folder(
        zarnik::PlatformOpenDirectory(Root().string()), zarnik::PlatformCloseDirectory);
    zarnik_pack::OutputFile pack(folder.get(), name);
    zarnik_pack::UpkWriter writer(pack.Sink());
    const int piecesPerFile = kPieces / files;
    for (int f = 0; f < files; ++f) {
        int loaded = -1;
        std::vector<unsigned char> piece;
        writer.AddStreamed({PiecePath(f), {}, storage}, uint64_t(kPiece) * piecesPerFile,
                           [&](uint64_t p, unsigned char *b, size_t n) {
                               // The writer asks in order, a block within one piece at a time.
                               const int wanted = f * piecesPerFile + int(p / kPiece);
                               if (wanted != loaded)
                                   piece = Piece(loaded = wanted);
                               std::copy_n(piece.begin() + p % kPiece, n, b);
                               return true;
                           });
    }
    return writer.Finish() && pack.Publish();
}

int Run(const std::vector<std::string> &args, double *peakMiB = nullptr)
{
    return RunTool(ZARNIK_EXE, args, peakMiB);
}

bool Prepare()
{
    const fs::path root = Root();
    if (fs::exists(root / "ready"))
        return true;
    fs::remove_all(root);
    fs::create_directories(root / "new");
    const std::vector<unsigned char> replacement = zarnik_corpus::Text(kPiece, 9999);
    const std::string newFile = (root / "new" / "file_0128.bin").string();
    return WritePack("a.upk", kPieces, zarnik_pack::Storage::Packed) &&
           WritePack("s.upk", kPieces, zarnik_pack::Storage::Stored) &&
           WritePack("big.upk", 4, zarnik_pack::Storage::Packed) &&
           WritePack("bigs.upk", 4, zarnik_pack::Storage::Stored) && zarnik_pack::WriteNewFile(newFile, replacement) &&
           Run({"add", (root / "a.upk").string(), newFile, "--at", "content/folder_00", "--replace", "-o",
                (root / "b.upk").string()}) == 0 &&
           zarnik_pack::WriteNewFile((root / "ready").string(), {});
}

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
