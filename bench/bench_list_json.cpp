// Peak memory of `zarnik list --json` on a pack of 1,000,000 entries in about
// 20,000 folders, beside plain `zarnik list` on the same pack. The built tool
// runs as a child with its output to /dev/null; its peak resident size comes
// from wait4. The pack is made once in the temporary folder.
#include "Corpus.h"
#include "OutputFile.h"
#include "PackWriter.h"
#include "PeakMemory.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

const int kFiles = 1000000;

std::string PackPath()
{
    return (std::filesystem::temp_directory_path() / "zarnik-bench-list-1m.upk").string();
}

bool MakePack(const std::string &path)
{
    const std::optional<zarnik_pack::Bytes> pack = zarnik_pack::BuildUpk(zarnik_corpus::MillionEntries());
    return pack && zarnik_pack::WriteNewFile(path, *pack);
}

void BM_ListPeakMemory(benchmark::State &state)
{
    const std::string path = PackPath();
    if (!std::filesystem::exists(path) && !MakePack(path)) {
        state.SkipWithError("cannot write the pack");
        return;
    }
    std::vector<std::string> args{"list", path};
    if (state.range(0))
        args.push_back("--json");
    double peak = 0;
    for (auto _ : state) {
        if (RunTool(ZARNIK_EXE, args, &peak) != 0) {
            state.SkipWithError("zarnik failed");
            break;
        }
    }
    state.counters["peak_MiB"] = peak;
    state.counters["entries"] = kFiles;
}
BENCHMARK(BM_ListPeakMemory)->ArgName("json")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
