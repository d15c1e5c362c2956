// Peak memory of `zarnik list --json` on a pack of 1,000,000 entries in about
// 20,000 folders, beside plain `zarnik list` on the same pack. The built tool
// runs as a child with its output to /dev/null; its peak resident size comes
// from wait4. The pack is made once in the temporary folder.
#include "Corpus.h"
#include "OutputFile.h"
#include "PackWriter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Runs the tool with `args` and returns its peak resident size in MiB, or a
// negative number when it could not run or failed.
double PeakMiB(const std::vector<std::string> &args)
{
    std::vector<char *> argv{const_cast<char *>(ZARNIK_EXE)};
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB
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
        peak = PeakMiB(args);
        if (peak < 0) {
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
