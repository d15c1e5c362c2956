// zarnik mount through the kernel: what only /dev/fuse shows (files as programs see
// them, mapping, refusals, the background, a mount whose process died, the
// changes of a writable mount between mounts and unmounts).
#include "MountSample.h"
#include "PackPath.h"
#include "ToolRun.h"

#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// CI machines have FUSE: only elsewhere may these tests step aside.
#define NEEDS_FUSE()                                                                                              \
    if (access("/dev/fuse", F_OK) != 0 && !std::getenv("CI"))                                                   \
    GTEST_SKIP() << "needs /dev/fuse"

bool Mounted(const fs::path &dir)
{
    return Text(ReadAll("/proc/self/mounts")).find(" " + dir.string() + " ") != std::string::npos;
}

// Whether `dir` was left mounted; it is not, afterwards.
bool LeftMounted(const fs::path &dir)
{
    if (!Mounted(dir))
        return false;
    std::system(("fusermount3 -u -z " + dir.string()).c_str());
    return true;
}

// Starts the tool with `args`, standard error into `err`.
pid_t Start(const std::vector<std::string> &args, const std::string &err)
{
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        dup2(open("/dev/null", O_WRONLY), 1);
        std::vector<char *> argv{const_cast<char *>(ZARNIK_EXE)};
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        signal(SIGINT, SIG_DFL); // a runner in the background ignores it, and the tests send it
        execv(ZARNIK_EXE, argv.data());
        _exit(127);
    }
    return pid;
}

// `signal` sent to `pid`; its exit status once it ended.
int SignalAndWait(pid_t pid, int signal)
{
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// `zarnik mount PACK DIR -f`, ended with SIGTERM.
struct CMount
{
    explicit CMount(const std::string &pack, const std::vector<std::string> &options = {})
    {
        fs::create_directory(dir);
        std::vector<std::string> args{"mount", pack, dir.string(), "-f"};
        args.insert(args.end(), options.begin(), options.end());
        pid = Start(args, log);
        // Ready once the kernel lists it; a tool that exits gave up.
        for (int i = 0; i < 1000 && !Mounted(dir); ++i) {
            if (waitpid(pid, nullptr, WNOHANG) == pid)
                throw std::runtime_error("zarnik mount ended: " + Text(ReadAll(log)));
            usleep(10000);
        }
    }
    ~CMount()
    {
        if (pid > 0)
            Stop();
        LeftMounted(dir);
    }
    // `signal` sent; the exit status.
    int Stop(int signal = SIGTERM) { return SignalAndWait(std::exchange(pid, 0), signal); }

    TempDir work;
    const fs::path dir = work.path() / "mnt";
    const std::string log = work.file("log");
    pid_t pid = 0;
};

} // namespace

// The kernel's calls are the same whatever the route; the in-process tests read an index set.
TEST(Mount, ShowsEveryFileAsExtractionWritesIt)
{
    NEEDS_FUSE();
    TempDir work;
    const std::string pack = WriteUpk(work, MountSample());
    ASSERT_EQ(Zarnik({"extract", pack, "-C", work.file("out"), "-q"}).status, 1);
    CMount mount(pack);
    const Files extracted = FilesBelow(work.path() / "out");
    EXPECT_EQ(extracted.size(), 6u);
    EXPECT_TRUE(FilesBelow(mount.dir) == extracted);

    struct stat file, folder, packStat;
    ASSERT_TRUE(!stat((mount.dir / "content" / "a.txt").c_str(), &file) && !stat((mount.dir / "content" / "gfx").c_str(), &folder) &&
                !stat(pack.c_str(), &packStat));
    EXPECT_EQ(file.st_mode, S_IFREG | 0444u);
    EXPECT_EQ(folder.st_mode, S_IFDIR | 0555u);
    EXPECT_EQ(file.st_uid, getuid());
    EXPECT_EQ(file.st_mtime, packStat.st_mtime);
    // Programs that map what they open (shared, read-only) see the same bytes.
    const int fd = open((mount.dir / "content" / "gfx" / "big.txt").c_str(), O_RDONLY);
    void *map = mmap(nullptr, BigText().size(), PROT_READ, MAP_SHARED, fd, 0);
    ASSERT_NE(map, MAP_FAILED) << std::strerror(errno);
    EXPECT_TRUE(std::equal(BigText().begin(), BigText().end(), static_cast<const unsigned char *>(map)));
    munmap(map, BigText().size());
    close(fd);
    EXPECT_EQ(mount.Stop(), 0);
    // One line for the name it hides; none for the duplicate.
    EXPECT_EQ(Text(ReadAll(mount.log)), std::string("zarnik: not shown: content/..: ") +
                                            zarnik::ExtractOutcomeText(zarnik::ExtractOutcome::UnsafeName) + "\n");
}

TEST(Mount, RefusesInOneLineAndMountsNothing)
{
    NEEDS_FUSE();
    TempDir work;
    const std::string pack = WriteUpk(work, MountSample());
    WriteAll(work.file("junk.upk"), Pattern(100));
    fs::create_directories(work.path() / "full" / "x");
    fs::create_directory(work.path() / "empty");
    const struct { std::string pack, dir, prefix, says; } cases[] = {
        {pack, work.file("missing"), "", "no such directory"},
        {pack, work.file("full"), "", "not empty"},
        {work.file("junk.upk"), work.file("empty"), "", "cannot open"},
        {pack, work.file("empty"), "env PATH=/nonexistent ", "FUSE is not available"},
    };
    for (const auto &c : cases) {
        const Result r = Zarnik({"mount", c.pack, c.dir}, ".", c.prefix);
        EXPECT_TRUE(Ran(r, 2, {}, {c.says}));
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(LeftMounted(c.dir));
    }
}

// The next mount, in the background, stays until unmounted: a read-only mount holds
// no changes to speak of, and a second unmount finds nothing.
TEST(Mount, AMountWhoseProcessDiedIsClearedByUnmountAndByTheNextMount)
{
    NEEDS_FUSE();
    for (const bool remount : {false, true}) {
        TempDir work;
        const std::string pack = WriteUpk(work, MountSample());
        CMount killed(pack);
        killed.Stop(SIGKILL);
        ASSERT_TRUE(Mounted(killed.dir));
        const std::string dir = killed.dir.string();
        const auto args = remount ? std::vector<std::string>{"mount", pack, dir} : std::vector<std::string>{"unmount", dir};
        EXPECT_TRUE(Ran(Zarnik(args), 0, {}));
        const Result unmounted = Zarnik({"unmount", dir + "/"});
        EXPECT_EQ(unmounted.status, remount ? 0 : 2);
        EXPECT_TRUE(!remount || unmounted.err.empty()) << unmounted.err;
        EXPECT_FALSE(LeftMounted(killed.dir));
    }
}

// A writable mount in the background, its changes below the test's own state folder.
TEST(MountWrite, ChangesWaitUntilSavedOrDiscarded)
{
    NEEDS_FUSE();
    TempDir work;
    setenv("XDG_STATE_HOME", work.file("state").c_str(), 1);
    const std::string pack = WriteUpk(work, WritableSample());
    const Bytes original = ReadAll(pack);
    const std::string dir = work.file("m");
    fs::create_directory(dir);
    // Refused, and then dropped: the pack as it was.
    ASSERT_TRUE(Ran(Zarnik({"mount", "--write", pack, dir}), 0, {}));
    EXPECT_TRUE(open((dir + "/content/\xe2\x82\xac.txt").c_str(), O_CREAT | O_WRONLY, 0644) < 0 && errno == EILSEQ);
    WriteAll(dir + "/content/new.txt", zarnik_pack::ToBytes("new"));
    // More waiting than one answer of the mount holds (64 KiB), all counted.
    for (int n = 0; n < 700; ++n)
        close(open((dir + "/content/" + std::string(100, 'n') + std::to_string(n)).c_str(), O_CREAT | O_WRONLY, 0644));
    EXPECT_TRUE(Ran(Zarnik({"unmount", dir}), 1, {}, {"701 changes wait"}));
    // The save stops when the command that asked for it is ended (Ctrl-C):
    // the pack as it was, nothing beside it, the changes still waiting.
    WriteAll(dir + "/content/big.txt", Numbers(16u << 20));
    const std::string partial = zarnik::TemporaryName(pack, 1);
    const pid_t asker = Start({"unmount", "--save", dir}, "/dev/null");
    for (int i = 0; i < 10000 && !fs::exists(partial); ++i)
        usleep(1000);
    EXPECT_TRUE(fs::exists(partial));
    SignalAndWait(asker, SIGINT);
    EXPECT_FALSE(fs::exists(partial));
    EXPECT_TRUE(ReadAll(pack) == original);
    const struct timespec moved[2] = {{1, 0}, {1, 0}}; // another program wrote to the pack
    utimensat(AT_FDCWD, pack.c_str(), moved, 0);
    EXPECT_TRUE(Ran(Zarnik({"unmount", "--save", dir}), 1, {}, {"changed by another program"}));
    EXPECT_TRUE(Ran(Zarnik({"unmount", "--discard", dir}), 0, {}));
    EXPECT_FALSE(LeftMounted(dir));
    EXPECT_EQ(ReadAll(pack), original);
    // Killed: the next mount takes the changes up, and they are saved.
    const fs::path folder = work.path() / "folder";
    ASSERT_TRUE(Ran(Zarnik({"extract", pack, "-C", folder.string(), "-q"}), 0, {}));
    {
        CMount killed(pack, {"--write"});
        for (const Change &c : SampleChanges())
            EXPECT_TRUE(OnDisk(folder, c) && OnDisk(killed.dir, c)) << c.a;
        killed.Stop(SIGKILL);
    }
    ASSERT_TRUE(Ran(Zarnik({"mount", "--write", pack, dir}), 0, {}, {"taking up"}));
    EXPECT_TRUE(Ran(Zarnik({"unmount", "--save", "--backup", dir}), 0, {}));
    EXPECT_FALSE(LeftMounted(dir));
    EXPECT_EQ(ReadAll(pack + ".bak"), original);
    // Changes that came to nothing leave nothing behind.
    ASSERT_TRUE(Ran(Zarnik({"mount", "--write", pack, dir}), 0, {}));
    close(open((dir + "/content/gone.txt").c_str(), O_CREAT | O_WRONLY, 0644));
    fs::remove(dir + "/content/gone.txt");
    EXPECT_TRUE(Ran(Zarnik({"unmount", dir}), 0, {}));
    EXPECT_TRUE(fs::is_empty(work.file("state/zarnik/changes")));
}
