// zarnik mount on real packs: contents against extraction, parallel reads, damage, start and end.
#include "BlockDecoder.h"
#include "TestSupport.h"

#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using zarnik_pack::Storage;

namespace {

// CI machines have FUSE: only elsewhere may these tests step aside.
#define NEEDS_FUSE()                                                                                              \
    if (access("/dev/fuse", F_OK) != 0 && !std::getenv("CI"))                                                   \
    GTEST_SKIP() << "needs /dev/fuse"

bool Mounted(const fs::path &dir)
{
    std::ifstream mounts("/proc/self/mounts");
    std::string line;
    while (std::getline(mounts, line))
        if (line.find(" " + dir.string() + " ") != std::string::npos)
            return true;
    return false;
}

// Whether `dir` was left mounted; it is not, afterwards.
bool LeftMounted(const fs::path &dir)
{
    if (!Mounted(dir))
        return false;
    std::system(("fusermount3 -u -z " + dir.string()).c_str());
    return true;
}

// Starts the tool with `args`, standard error into `err`; `path` replaces PATH when set.
pid_t Start(const std::vector<std::string> &args, const std::string &err, const char *path = nullptr)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        dup2(open("/dev/null", O_WRONLY), 1);
        std::vector<char *> argv{const_cast<char *>(ZARNIK_EXE)};
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        if (path)
            setenv("PATH", path, 1);
        execv(ZARNIK_EXE, argv.data());
        _exit(127);
    }
    return pid;
}

int Wait(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Text(const std::string &path)
{
    const Bytes bytes = ReadAll(path);
    return {bytes.begin(), bytes.end()};
}

// `zarnik mount PACK DIR -f`, ended with SIGTERM.
class CMount
{
public:
    explicit CMount(const std::string &pack, const std::vector<std::string> &options = {})
    {
        fs::create_directory(dir);
        std::vector<std::string> args{"mount", pack, dir.string(), "-f"};
        args.insert(args.end(), options.begin(), options.end());
        m_Pid = Start(args, m_Log);
        // Ready once the kernel lists it; a tool that exits gave up.
        for (int i = 0; i < 1000 && !Mounted(dir); ++i) {
            if (waitpid(m_Pid, nullptr, WNOHANG) == m_Pid)
                throw std::runtime_error("zarnik mount ended: " + Text(m_Log));
            usleep(10000);
        }
    }
    ~CMount()
    {
        if (m_Pid > 0)
            Stop();
        LeftMounted(dir);
    }
    // SIGTERM; the exit status.
    int Stop()
    {
        kill(m_Pid, SIGTERM);
        const int status = Wait(m_Pid);
        m_Pid = 0;
        return status;
    }
    pid_t Pid() const { return m_Pid; }
    std::string Log() const { return Text(m_Log); }

    TempDir m_Work;
    const fs::path dir = m_Work.path() / "mnt";

private:
    std::string m_Log = m_Work.file("log");
    pid_t m_Pid = 0;
};

// Text that packs well and differs everywhere: many blocks of 64 KiB.
Bytes Numbers(size_t size)
{
    std::string text;
    for (uint32_t i = 0; text.size() < size; ++i)
        text += std::to_string(i * 7919u % 100003u) + (i % 13 ? " " : "\n");
    text.resize(size);
    return zarnik_pack::ToBytes(text);
}

const Bytes kBig = Numbers(1500000);

std::vector<testpack::Entry> Sample()
{
    return {MakeEntry("content\\a.txt", "first", Storage::Stored), MakeEntry("content\\gfx\\big.txt", kBig, Storage::Packed),
            MakeEntry("content\\caf\xe9.txt", Pattern(70000), Storage::Stored), MakeEntry("content\\..\\evil.txt", "out"),
            MakeEntry("content\\gfx\\note.txt", "a packed neighbour", Storage::Packed),
            MakeEntry("content\\a.txt", "second")};
}

// Where the stored bytes of the file at `path` begin in the pack file.
uint32_t StoredOffset(const std::string &pack, const std::string &folder, const std::string &name)
{
    const auto opened = zarnik::CZarnikArchive::Open(pack);
    for (const zarnik::ArchiveNode *node : opened.archive->FindFolder(folder)->m_Children)
        if (node->m_Name == name)
            return node->m_Offset;
    throw std::runtime_error("no " + name);
}

} // namespace

TEST(Mount, ShowsEveryFileAsExtractionWritesIt)
{
    NEEDS_FUSE();
    for (bool vfs : {false, true}) {
        TempDir work;
        const std::string pack = vfs ? WriteVfs(work, Sample()) : WriteUpk(work, Sample());
        ASSERT_EQ(Wait(Start({"extract", pack, "-C", work.file("out"), "-q"}, work.file("err"))), 1);
        CMount mount(pack);
        const Files extracted = FilesBelow(work.path() / "out");
        EXPECT_EQ(extracted.size(), 4u);
        EXPECT_TRUE(FilesBelow(mount.dir) == extracted) << vfs;

        struct stat file, folder, packStat;
        ASSERT_TRUE(!stat((mount.dir / "content" / "a.txt").c_str(), &file) && !stat((mount.dir / "content" / "gfx").c_str(), &folder) &&
                    !stat(pack.c_str(), &packStat));
        EXPECT_EQ(file.st_mode, S_IFREG | 0444u);
        EXPECT_EQ(folder.st_mode, S_IFDIR | 0555u);
        EXPECT_EQ(file.st_uid, getuid());
        EXPECT_EQ(file.st_mtime, packStat.st_mtime);
        // Programs that map what they open (shared, read-only) see the same bytes.
        const int fd = open((mount.dir / "content" / "gfx" / "big.txt").c_str(), O_RDONLY);
        void *map = mmap(nullptr, kBig.size(), PROT_READ, MAP_SHARED, fd, 0);
        ASSERT_NE(map, MAP_FAILED) << std::strerror(errno);
        EXPECT_TRUE(std::equal(kBig.begin(), kBig.end(), static_cast<const unsigned char *>(map)));
        munmap(map, kBig.size());
        close(fd);
        EXPECT_EQ(mount.Stop(), 0);
        // One line for the name it hides; none for the duplicate.
        EXPECT_EQ(mount.Log(), std::string("zarnik: not shown: content/..: ") +
                                   zarnik::ExtractOutcomeText(zarnik::ExtractOutcome::UnsafeName) + "\n")
            << mount.Log();
    }
}

TEST(Mount, ParallelReadersOfRandomRangesAcrossBlockEdgesGetTheRightBytes)
{
    NEEDS_FUSE();
    TempDir work;
    // A cache of 1 MiB: stretches are pushed out and decoded again.
    CMount mount(WriteUpk(work, Sample()), {"--cache-mb", "1"});
    const std::string path = (mount.dir / "content" / "gfx" / "big.txt").string();
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (unsigned t = 0; t < 8; ++t)
        readers.emplace_back([&, t] {
            std::mt19937 random(t);
            const int fd = open(path.c_str(), O_RDONLY);
            Bytes got(300000);
            for (int i = 0; i < 200 && fd >= 0; ++i) {
                const size_t edge = (random() % (kBig.size() / 65536 + 1)) * 65536;
                const size_t offset = std::min(kBig.size(), size_t(std::max<long>(0, long(edge) + long(random() % 600) - 300)));
                const size_t count = 1 + random() % got.size();
                const ssize_t n = pread(fd, got.data(), count, off_t(offset));
                const size_t expect = std::min(count, kBig.size() - offset);
                if (n != ssize_t(expect) || !std::equal(got.begin(), got.begin() + n, kBig.begin() + ptrdiff_t(offset)))
                    ++wrong;
            }
            wrong += fd < 0;
            close(fd);
        });
    for (std::thread &reader : readers)
        reader.join();
    EXPECT_EQ(wrong, 0);
}

TEST(Mount, DamagedFileFailsFromTheDamageOnWhileItsNeighboursRead)
{
    NEEDS_FUSE();
    // A block length of 0 (the block index stops there), or zero control words (decoding fails).
    for (size_t from : {1, 9}) {
        TempDir work;
        const std::string pack = WriteUpk(work, Sample());
        Bytes bytes = ReadAll(pack);
        size_t at = StoredOffset(pack, "content\\gfx", "big.txt"), unpacked = 0;
        zarnik::BlockHeader header;
        for (int block = 0; block < 13; ++block) {
            ASSERT_TRUE(zarnik::ReadBlockHeader(&bytes[at], bytes.size() - at, header));
            at += header.blockLength;
            unpacked += header.rawLength;
        }
        std::fill(bytes.begin() + ptrdiff_t(at + from), bytes.begin() + ptrdiff_t(at + from + 32), 0);
        WriteAll(pack, bytes);

        CMount mount(pack);
        // Read from the start, as programs do (and decoded ahead past the
        // damage): every byte before it, then EIO, and EIO again.
        const int fd = open((mount.dir / "content" / "gfx" / "big.txt").c_str(), O_RDONLY);
        Bytes got(4096);
        size_t good = 0;
        ssize_t n = 0;
        while ((n = read(fd, got.data(), got.size())) > 0 && std::equal(got.begin(), got.begin() + n, kBig.begin() + ptrdiff_t(good)))
            good += size_t(n);
        EXPECT_EQ(good, unpacked / 4096 * 4096) << from;
        for (off_t retry : {off_t(good), off_t(unpacked + 100)}) {
            errno = 0;
            EXPECT_EQ(pread(fd, got.data(), got.size(), retry), -1) << from;
            EXPECT_EQ(errno, EIO);
        }
        close(fd);
        EXPECT_EQ(ReadAll((mount.dir / "content" / "caf\xc3\xa9.txt").string()), Pattern(70000));
        EXPECT_EQ(mount.Stop(), 0);
        EXPECT_NE(mount.Log().find("zarnik: content/gfx/big.txt: "), std::string::npos) << mount.Log();
    }
}

TEST(Mount, PackChangedUnderTheMountReadsAsEio)
{
    NEEDS_FUSE();
    // Cut short, or rewritten at the same size (its write time moved).
    for (const bool cut : {true, false}) {
        TempDir work;
        const std::string pack = WriteUpk(work, Sample());
        CMount mount(pack);
        const fs::path stored = mount.dir / "content" / "a.txt";
        EXPECT_EQ(Text(stored.string()), "first");
        if (cut) {
            fs::resize_file(pack, fs::file_size(pack) / 2);
        } else {
            Bytes bytes = ReadAll(pack);
            std::reverse(bytes.end() - 1000, bytes.end());
            const auto written = fs::last_write_time(pack);
            WriteAll(pack, bytes);
            fs::last_write_time(pack, written + std::chrono::seconds(1));
        }
        for (const fs::path &file : {stored, mount.dir / "content" / "gfx" / "big.txt"}) {
            const int fd = open(file.c_str(), O_RDONLY);
            char byte;
            errno = 0;
            EXPECT_EQ(read(fd, &byte, 1), -1) << file << cut;
            EXPECT_EQ(errno, EIO) << file << cut;
            close(fd);
        }
        EXPECT_EQ(kill(mount.Pid(), 0), 0);
        EXPECT_EQ(mount.Stop(), 0);
        EXPECT_FALSE(Mounted(mount.dir));
    }
}

TEST(Mount, RefusesWithOneLineAndMountsNothingButMountsInTheBackgroundUntilUnmount)
{
    NEEDS_FUSE();
    TempDir work;
    const std::string pack = WriteUpk(work, Sample());
    WriteAll(work.file("junk.upk"), Pattern(100));
    fs::create_directories(work.path() / "full" / "x");
    fs::create_directory(work.path() / "empty");
    const struct { std::string pack, dir; const char *path; std::string says; } cases[] = {
        {pack, work.file("missing"), nullptr, "no such directory"},
        {pack, work.file("full"), nullptr, "not empty"},
        {work.file("junk.upk"), work.file("empty"), nullptr, "cannot open"},
        {pack, work.file("empty"), "/nonexistent", "FUSE is not available"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Wait(Start({"mount", c.pack, c.dir}, work.file("err"), c.path)), 2) << c.says;
        const std::string err = Text(work.file("err"));
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_FALSE(LeftMounted(c.dir));
    }
    // In the background: ready on return, ended by unmount; nothing left to unmount then.
    const std::string dir = work.file("empty");
    ASSERT_EQ(Wait(Start({"mount", pack, dir}, work.file("err"))), 0) << Text(work.file("err"));
    EXPECT_EQ(Text(work.file("empty/content/a.txt")), "first");
    EXPECT_EQ(Wait(Start({"unmount", dir}, work.file("err"))), 0) << Text(work.file("err"));
    EXPECT_FALSE(LeftMounted(dir));
    EXPECT_EQ(Wait(Start({"unmount", dir}, work.file("err"))), 2);
}
