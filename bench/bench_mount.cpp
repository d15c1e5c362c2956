// zarnik mount as a program: how soon a 1,000,000-entry pack is ready, how
// long `ls -R` of it takes, and a 1 GiB packed file read from start to end
// through the mount beside `zarnik cat` of it to /dev/null (the medians of
// five runs of each, in turns), with the mount process's peak memory. For a
// writable mount: one 4 MiB file of a 1 GiB pack of 256 files rewritten and
// saved beside `cp` of the pack, and a new 100 MiB file written into the
// mount beside the same file written to the disk that holds the changes.
// Needs FUSE (/dev/fuse and fusermount3). The packs are made once in the
// temporary folder. ZARNIK_BENCH_TOOL names another build's zarnik to
// measure instead.
#include "Corpus.h"
#include "OutputFile.h"
#include "PackWriter.h"
#include "PeakMemory.h"

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

std::vector<zarnik_pack::Entry> TwoHundredFiftySixFiles()
{
    std::vector<zarnik_pack::Entry> entries;
    for (uint32_t i = 0; i < 256; ++i)
        entries.push_back({"content\\f" + std::to_string(i) + ".txt", zarnik_corpus::Text(size_t(4) << 20, i + 1),
                           zarnik_pack::Storage::Packed});
    return entries;
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

// How long a program of the benchmark may take before it is taken for
// hung (a mount that never came up, an unmount whose fusermount3 failed).
const double kPatienceSeconds = 120;
// What Reap returns for a program killed after that.
const int kHung = -2;

// The exit status of `child` (-1: it did not exit), waited for no longer
// than the patience: a child still running then is killed and kHung
// returned, so that no benchmark hangs.
int Reap(pid_t child)
{
    const Clock::time_point start = Clock::now();
    int status = 0;
    pid_t got;
    while ((got = waitpid(child, &status, WNOHANG)) == 0 && Seconds(start) < kPatienceSeconds)
        usleep(1000);
    if (got == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return kHung;
    }
    return got == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

    explicit Mount(const std::string &pack, bool write = false)
    {
        fs::create_directory(dir);
        const Clock::time_point start = Clock::now();
        std::vector<std::string> args{Tool(), "mount", "-f", pack, dir.string()};
        if (write)
            args.push_back("--write");
        pid = Spawn(args);
        while (!Mounted(dir) && waitpid(pid, nullptr, WNOHANG) == 0 && Seconds(start) < kPatienceSeconds)
            usleep(1000);
        readySeconds = Seconds(start);
    }
    // The mount process ended, after an unmount (or, with `stop`, asked to
    // end now); false when it had to be killed: the mount is then taken
    // away lazily, so that the folder is free again.
    bool Ended(bool stop = false)
    {
        if (stop)
            kill(pid, SIGTERM);
        const bool ended = Reap(pid) != kHung;
        if (Mounted(dir))
            Reap(Spawn({"fusermount3", "-u", "-z", dir.string()}));
        std::error_code ignored;
        fs::remove(dir, ignored);
        return ended;
    }
    double End()
    {
        const double peak = PeakMiB(pid);
        Ended(true);
        return peak;
    }
};

const char kHungMount[] = "the mount did not end when it was unmounted (did fusermount3 fail?); it was killed "
                          "and unmounted lazily";

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

// Writes `size` bytes of `data` again and again into a new file at `path`,
// as a program would, 1 MiB at a time: the seconds it took, or -1.
double WriteFile(const fs::path &path, const std::vector<unsigned char> &data, size_t size)
{
    const Clock::time_point start = Clock::now();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    size_t done = 0;
    for (ssize_t put = 1; fd >= 0 && done < size && put > 0; done += size_t(std::max<ssize_t>(put, 0)))
        put = write(fd, data.data(), std::min(data.size(), size - done));
    const bool whole = fd >= 0 && close(fd) == 0 && done == size;
    return whole ? Seconds(start) : -1;
}

// The changes of the writable mounts below go to a state folder of the
// benchmark's own, on the disk the packs are on.
const fs::path &ChangesState()
{
    static const fs::path state = zarnik_corpus::BenchPath("zarnik-bench-mount-state");
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    return state;
}

void BM_MountWriteOneFileAndSave(benchmark::State &state)
{
    const std::string clean = MadeOnce("zarnik-bench-mount-256.upk", TwoHundredFiftySixFiles);
    const fs::path pack = zarnik_corpus::BenchPath("zarnik-bench-mount-write.upk");
    const std::vector<unsigned char> data = zarnik_corpus::Text(size_t(4) << 20, 999);
    ChangesState();
    for (auto _ : state) {
        // The save leaves the pack on the disk (a file renamed over another
        // is written out before the rename), cp leaves it in the page cache:
        // cp then `sync PACK` is measured too.
        std::vector<double> cpTimes, cpSyncTimes, saveTimes;
        for (int turn = 0; turn < 5; ++turn) {
            fs::remove(pack);
            Clock::time_point start = Clock::now();
            Reap(Spawn({"cp", clean, pack.string()}));
            cpTimes.push_back(Seconds(start));
            Reap(Spawn({"sync", pack.string()}));
            cpSyncTimes.push_back(Seconds(start));
            Mount mount(pack.string(), true);
            if (!Mounted(mount.dir)) {
                state.SkipWithError("the mount did not come up (FUSE?)");
                return;
            }
            start = Clock::now();
            const bool written = WriteFile(mount.dir / "content" / "f7.txt", data, data.size()) >= 0;
            const bool saved = Reap(Spawn({Tool(), "unmount", "--save", mount.dir.string()})) == 0;
            saveTimes.push_back(Seconds(start));
            if (!mount.Ended()) {
                state.SkipWithError(kHungMount);
                return;
            }
            if (!written || !saved) {
                state.SkipWithError("the rewrite or the save failed");
                return;
            }
        }
        const double cp = Median(cpTimes), cpSync = Median(cpSyncTimes), save = Median(saveTimes);
        state.SetIterationTime(save);
        state.counters["cp_s"] = cp;
        state.counters["cp_sync_s"] = cpSync;
        state.counters["write_and_save_s"] = save;
        state.counters["save_vs_cp"] = save / cp;
        state.counters["save_vs_cp_sync"] = save / cpSync;
    }
    fs::remove(pack);
}
BENCHMARK(BM_MountWriteOneFileAndSave)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_MountWriteNewFile(benchmark::State &state)
{
    const std::string pack = MadeOnce("zarnik-bench-mount-1g.upk", OneGiB);
    const std::vector<unsigned char> data = zarnik_corpus::Text(size_t(1) << 20, 5);
    const size_t size = size_t(100) << 20;
    const fs::path onDisk = ChangesState() / "zarnik-bench-new-file";
    for (auto _ : state) {
        Mount mount(pack, true);
        if (!Mounted(mount.dir)) {
            state.SkipWithError("the mount did not come up (FUSE?)");
            break;
        }
        std::vector<double> mountTimes, diskTimes;
        for (int turn = 0; turn < 5; ++turn) {
            mountTimes.push_back(WriteFile(mount.dir / "content" / "new.bin", data, size));
            diskTimes.push_back(WriteFile(onDisk, data, size));
            fs::remove(onDisk);
        }
        Reap(Spawn({Tool(), "unmount", "--discard", mount.dir.string()}));
        if (!mount.Ended()) {
            state.SkipWithError(kHungMount);
            break;
        }
        const double throughMount = Median(mountTimes), disk = Median(diskTimes);
        state.SetIterationTime(throughMount);
        state.counters["mount_s"] = throughMount;
        state.counters["disk_s"] = disk;
        state.counters["speed_vs_disk"] = disk / throughMount;
    }
}
BENCHMARK(BM_MountWriteNewFile)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
