// zarnik mount as a program: how soon a 1,000,000-entry pack is ready, how
// long `ls -R` of it takes, and a 1 GiB packed file read from start to end
// through the mount beside `zarnik cat` of it to /dev/null (the medians of
// five runs of each, in turns), with the mount process's peak memory. Needs FUSE (/dev/fuse and fusermount3). The packs
// are made once in the temporary folder. ZARNIK_BENCH_TOOL names another
// build's zarnik to measure instead.
#include "Corpus.h"
#include "OutputFile.h"
#include "PackWriter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// The tool measured: this build's, or another one named by ZARNIK_BENCH_TOOL,
// so that two builds can be run in turns.
std::string Tool()
{
    const char *other = std::getenv("ZARNIK_BENCH_TOOL");
    return other && *other ? other : ZARNIK_EXE;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double Median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

std::string MadeOnce(const std::string &name, std::vector<zarnik_pack::Entry> (*entries)())
{
    const std::string path = (fs::temp_directory_path() / name).string();
    if (!fs::exists(path)) {
        const std::optional<zarnik_pack::Bytes> pack = zarnik_pack::BuildUpk(entries());
        if (!pack || !zarnik_pack::WriteNewFile(path, *pack))
            return "";
    }
    return path;
}

std::vector<zarnik_pack::Entry> OneGiB()
{
    return {{"content\\big.txt", zarnik_corpus::Text(size_t(1) << 30), zarnik_pack::Storage::Packed}};
}

pid_t Spawn(const std::vector<std::string> &args, const char *out = "/dev/null")
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(open(out, O_WRONLY), STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

int Reap(pid_t child)
{
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The peak resident size of a running process in MiB, from the kernel's own
// count (a child's rusage would count what it shared with this process
// before exec).
double PeakMiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    double kib = -1;
    while (status >> key)
        if (key == "VmHWM:" && status >> kib)
            break;
    return kib / 1024.0;
}

// A file system of its own stands at `dir` once it is mounted.
bool Mounted(const fs::path &dir)
{
    struct stat at, parent;
    return stat(dir.c_str(), &at) == 0 && stat(dir.parent_path().c_str(), &parent) == 0 &&
           at.st_dev != parent.st_dev;
}

// `zarnik mount -f PACK DIR`, ready or failed.
struct Mount
{
    fs::path dir = fs::temp_directory_path() / ("zarnik-bench-mount-" + std::to_string(getpid()));
    pid_t pid = -1;
    double readySeconds = 0;

    explicit Mount(const std::string &pack)
    {
        fs::create_directory(dir);
        const Clock::time_point start = Clock::now();
        pid = Spawn({Tool(), "mount", "-f", pack, dir.string()});
        while (!Mounted(dir) && waitpid(pid, nullptr, WNOHANG) == 0)
            usleep(1000);
        readySeconds = Seconds(start);
    }
    double End()
    {
        const double peak = PeakMiB(pid);
        kill(pid, SIGTERM);
        Reap(pid);
        fs::remove(dir);
        return peak;
    }
};

void BM_MountMillionEntries(benchmark::State &state)
{
    const std::string pack = MadeOnce("zarnik-bench-mount-1m.upk", zarnik_corpus::MillionEntries);
    for (auto _ : state) {
        Mount mount(pack);
        if (!Mounted(mount.dir)) {
            state.SkipWithError("the mount did not come up (FUSE?)");
            break;
        }
        const Clock::time_point start = Clock::now();
        Reap(Spawn({"ls", "-R", mount.dir.string()}));
        state.counters["ls_R_s"] = Seconds(start);
        state.counters["ready_s"] = mount.readySeconds;
        state.SetIterationTime(mount.readySeconds);
        state.counters["peak_MiB"] = mount.End();
    }
}
BENCHMARK(BM_MountMillionEntries)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_MountSequentialRead(benchmark::State &state)
{
    const std::string pack = MadeOnce("zarnik-bench-mount-1g.upk", OneGiB);
    for (auto _ : state) {
        Mount mount(pack);
        if (!Mounted(mount.dir)) {
            state.SkipWithError("the mount did not come up (FUSE?)");
            break;
        }
        // In turns, five of each: this machine's neighbours come and go,
        // and the medians say more than one run of each.
        std::vector<double> mountTimes, catTimes;
        for (int turn = 0; turn < 5; ++turn) {
            Clock::time_point start = Clock::now();
            Reap(Spawn({"cat", (mount.dir / "content" / "big.txt").string()}));
            mountTimes.push_back(Seconds(start));
            start = Clock::now();
            Reap(Spawn({Tool(), "cat", pack, "content/big.txt"}));
            catTimes.push_back(Seconds(start));
        }
        const double throughMount = Median(mountTimes), zarnikCat = Median(catTimes);
        state.SetIterationTime(throughMount);
        state.counters["mount_s"] = throughMount;
        state.counters["first_mount_s"] = mountTimes[0]; // the only one that walks the file's blocks
        state.counters["zarnik_cat_s"] = zarnikCat;
        state.counters["speed_vs_cat"] = zarnikCat / throughMount;
        state.counters["peak_MiB"] = mount.End();
    }
}
BENCHMARK(BM_MountSequentialRead)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
