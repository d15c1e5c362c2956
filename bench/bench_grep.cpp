// zarnik grep as a program, on a 1 GiB pack of 256 packed text files, for a
// string that is not there: beside `zarnik test` of the pack (unpacking is
// the floor) and beside `zarnik extract` followed by `grep -r`, five runs of
// each in turns, medians reported. Then its peak memory on packs of one
// text file of 16 MiB and of 256 MiB, and of one 64 MiB line: it must not
// grow with the file. The packs are made once (ZARNIK_BENCH_DIR chooses
// where, as for the other benchmarks).
#include "Corpus.h"
#include "OutputFile.h"
#include "PeakMemory.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

const char kAbsent[] = "ZARNIK_NOT_IN_ANY_FILE";

fs::path Root() { return zarnik_corpus::BenchPath("zarnik-bench-grep"); }

double Median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

struct Run
{
    int status = -1;
    double seconds = 0;
    double peakMiB = 0;
};

// `args` run to its end with standard output to /dev/null, its peak
// memory read every millisecond while it runs.
Run Spawn(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    Run run;
    const Clock::time_point start = Clock::now();
    pid_t child = -1;
    if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        pid_t ended;
        while ((ended = waitpid(child, &status, WNOHANG)) == 0) {
            run.peakMiB = std::max(run.peakMiB, PeakMiB(child));
            usleep(1000);
        }
        if (ended == child && WIFEXITED(status))
            run.status = WEXITSTATUS(status);
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

// A pack made once from files written by `make` into a source folder,
// which goes again once the pack stands.
std::string Pack(const std::string &name, void (*make)(const fs::path &source))
{
    const fs::path pack = Root() / name;
    if (fs::exists(pack))
        return pack.string();
    const fs::path source = Root() / (name + ".source");
    fs::remove_all(source);
    make(source);
    const Run created = Spawn({ZARNIK_EXE, "create", pack.string(), source.string()});
    fs::remove_all(source);
    return created.status == 0 ? pack.string() : "";
}

void Write(const fs::path &path, const std::vector<unsigned char> &bytes)
{
    fs::create_directories(path.parent_path());
    zarnik_pack::WriteNewFile(path.string(), bytes);
}

void TextFiles(const fs::path &source)
{
    for (int i = 0; i < 256; ++i)
        Write(source / "content" / ("folder_" + std::to_string(i % 16)) / ("file_" + std::to_string(i) + ".txt"),
              zarnik_corpus::Text(4u << 20, uint32_t(i)));
}

template <size_t MiB> void OneText(const fs::path &source)
{
    Write(source / "content" / "big.txt", zarnik_corpus::Text(MiB << 20));
}

void OneLine(const fs::path &source)
{
    std::vector<unsigned char> text = zarnik_corpus::Text(64u << 20);
    std::replace(text.begin(), text.end(), '\n', ' ');
    Write(source / "content" / "line.txt", text);
}

void BM_GrepAbsentString(benchmark::State &state)
{
    const std::string pack = Pack("text-1g.upk", TextFiles);
    const fs::path out = Root() / "extracted";
    for (auto _ : state) {
        if (pack.empty()) {
            state.SkipWithError("the pack could not be made");
            break;
        }
        std::vector<double> grep, test, extractGrep;
        for (int turn = 0; turn < 5; ++turn) {
            const Run searched = Spawn({ZARNIK_EXE, "grep", kAbsent, pack});
            if (searched.status != 1)
                state.SkipWithError("zarnik grep did not end with status 1");
            grep.push_back(searched.seconds);
            test.push_back(Spawn({ZARNIK_EXE, "test", pack}).seconds);
            fs::remove_all(out);
            const double extract = Spawn({ZARNIK_EXE, "extract", pack, "-C", out.string(), "--quiet"}).seconds;
            extractGrep.push_back(extract + Spawn({"grep", "-r", kAbsent, out.string()}).seconds);
            fs::remove_all(out);
        }
        state.SetIterationTime(Median(grep));
        state.counters["grep_s"] = Median(grep);
        state.counters["test_s"] = Median(test);
        state.counters["extract_grep_r_s"] = Median(extractGrep);
        state.counters["grep_per_test"] = Median(grep) / Median(test);             // target: at most 1.3
        state.counters["extract_grep_per_grep"] = Median(extractGrep) / Median(grep); // target: at least 3
    }
}
BENCHMARK(BM_GrepAbsentString)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_GrepPeakMemory(benchmark::State &state)
{
    const std::string small = Pack("text-16m.upk", OneText<16>), large = Pack("text-256m.upk", OneText<256>),
                      line = Pack("line-64m.upk", OneLine);
    for (auto _ : state) {
        if (small.empty() || large.empty() || line.empty()) {
            state.SkipWithError("the packs could not be made");
            break;
        }
        const Run a = Spawn({ZARNIK_EXE, "grep", kAbsent, small}), b = Spawn({ZARNIK_EXE, "grep", kAbsent, large});
        const Run c = Spawn({ZARNIK_EXE, "grep", kAbsent, line});
        state.SetIterationTime(b.seconds);
        state.counters["peak_MiB_16M_file"] = a.peakMiB;
        state.counters["peak_MiB_256M_file"] = b.peakMiB;
        state.counters["peak_MiB_64M_line"] = c.peakMiB;
    }
}
BENCHMARK(BM_GrepPeakMemory)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
