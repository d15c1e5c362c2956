// Extraction to disk: byte-exact files in tree order, create-new semantics,
// and the cases where a file must not be written.
#include "ArchiveSupport.h"
#include "BlockDecoder.h"
#include "PlatformFaults.h"
#include "PlatformFile.h"
#include "TestSeams.h"

#include <cerrno>
#include <csignal>
#include <set>
#include <utility>
#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#endif

using namespace testsupport;
using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;
using zarnik::ExtractOutcome;
using testpack::Entry;
using zarnik_pack::Storage;

namespace {

const auto kFinished = zarnik::ExtractEnd::Finished;
using To = zarnik::ExtractDestination;

// Text that packs well and spans several blocks when long.
Bytes Text(size_t size)
{
    Bytes out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<unsigned char>("zarnik pack folder file export\n"[i % 31] + i / 4099 % 3);
    return out;
}

// The entries as a single pack, opened, with an empty out/.
struct Fixture
{
    TempDir dir;
    std::vector<Entry> entries;
    std::unique_ptr<const CZarnikArchive> archive;

    explicit Fixture(std::vector<Entry> list) : entries(std::move(list))
    {
        fs::create_directory(dir.file("out"));
        archive = MustOpen(WriteUpk(dir, entries));
    }
    std::string out(const std::string &name = "") const { return dir.file("out/" + name); }
    const ArchiveNode *node(size_t child) { return archive->GetRoot()->m_Children.at(child); }
    // The whole pack into out/.
    zarnik::ExtractEnd ExtractAll(zarnik::ExtractCallback *r, unsigned workers = 0, const std::atomic<bool> *stop = nullptr)
    {
        return ExtractTo(*archive, archive->GetRoot(), To::Folder(out()), r, workers, stop);
    }
};

std::vector<Entry> SmallTree()
{
    return {MakeEntry("content\\readme.txt", Text(5000), Storage::Packed),
            MakeEntry("content\\gfx\\noise.bin", Pattern(3000), Storage::Stored),
            MakeEntry("content\\gfx\\deep\\more.txt", Text(70000), Storage::Packed),
            MakeEntry("content\\gfx\\tiny.txt", "x", Storage::Stored),
            MakeEntry("content\\caf\xE9\\\xC6sir\x80\xFF.txt", "latin-1 names")};
}

} // namespace

TEST(Extract, ATreeIsWrittenByteExactUnderUtf8NamesThenOnlyWhatIsMissingAndAFileUnderItsChosenName)
{
    Fixture f(SmallTree());
    Recorder first, r;
    EXPECT_EQ(kFinished, f.ExtractAll(&first));
    std::vector<std::string> paths;
    for (const Entry &e : f.entries)
        paths.push_back(e.path);
    EXPECT_EQ(first.files, paths);
    // Latin-1 names become UTF-8.
    Files expected{{"content/readme.txt", f.entries[0].data}, {"content/gfx/noise.bin", f.entries[1].data},
                   {"content/gfx/deep/more.txt", f.entries[2].data}, {"content/gfx/tiny.txt", f.entries[3].data},
                   {"content/caf\xC3\xA9/\xC3\x86sir\xC2\x80\xC3\xBF.txt", f.entries[4].data}};
    EXPECT_EQ(FilesBelow(f.out()), expected);
    // A second run leaves what stands alone, and writes what is missing over what a killed run left behind.
    fs::remove(f.out("content/gfx/deep/more.txt"));
    WriteAll(f.out("content/gfx/deep/more.txt.zarnik-partial"), Pattern(80000));
    WriteAll(f.out("content/gfx/noise.bin"), expected["content/gfx/noise.bin"] = {'n', 'e', 'w'});
    EXPECT_EQ(kFinished, f.ExtractAll(nullptr));
    EXPECT_EQ(FilesBelow(f.out()), expected);
    // One file under the name chosen, never over one standing there or appearing while ours is written.
    fs::remove_all(f.out("content"));
    WriteAll(f.out("mine.txt"), ToBytes("keep me"));
    for (const std::string name : {"chosen name.txt", "mine.txt", "theirs.txt"}) {
        r.intruder = name == "theirs.txt" ? f.out(name) : "";
        EXPECT_EQ(kFinished, ExtractTo(*f.archive, f.node(0), To::File(f.out(name)), &r));
    }
    EXPECT_EQ(FilesBelow(f.out()),
              (Files{{"chosen name.txt", f.entries[0].data}, {"mine.txt", ToBytes("keep me")}, {"theirs.txt", ToBytes("theirs")}}));
    EXPECT_EQ(r.failures, (decltype(r.failures)(2, {"content\\readme.txt", ExtractOutcome::Exists})));
}

namespace {

// Several write steps each, so that a stop is seen inside the file.
std::vector<Entry> LongFiles()
{
    return {MakeEntry("content\\stored.bin", Pattern(20 << 20), Storage::Stored),
            MakeEntry("content\\packed.txt", Text(20 << 20), Storage::Packed), MakeEntry("content\\after.txt", "after")};
}

// Stops (or dies) at `at`'s first bytes; with several workers, as `at` is announced.
struct Interrupt : Recorder
{
    std::string at;
    bool kill = false, onAnnounce = false;
    std::atomic<bool> stop{false};
    void OnExtractFile(const std::string &path) override
    {
        Recorder::OnExtractFile(path);
        if (onAnnounce && path == at)
            stop = true;
    }
    void OnExtractBytes(uint64_t) override
    {
        if (std::find(files.begin(), files.end(), at) == files.end())
            return;
#ifndef _WIN32
        if (kill)
            raise(SIGKILL);
#endif
        stop = true;
    }
};

std::set<std::string> NamesBelow(const std::string &dir)
{
    std::set<std::string> found;
    for (const auto &e : fs::recursive_directory_iterator(dir))
        found.insert(e.path().filename().string());
    return found;
}

} // namespace

TEST(Extract, AStopLeavesExactlyWhatWasReportedWritten)
{
    Fixture f(LongFiles());
    // Only one worker begins `at`, and with a pool it is stopped before it is begun.
    for (const unsigned workers : {1u, 3u}) {
        for (const std::string at : {"content\\stored.bin", "content\\packed.txt"}) {
            Interrupt stopper;
            stopper.at = at, stopper.onAnnounce = workers > 1;
            EXPECT_EQ(zarnik::ExtractEnd::Stopped, f.ExtractAll(&stopper, workers, &stopper.stop));
            std::set<std::string> expected(stopper.written.begin(), stopper.written.end());
            expected.insert("content");
            EXPECT_EQ(NamesBelow(f.out()), expected) << at << " with " << workers;
            EXPECT_EQ(expected.count(at.substr(at.rfind('\\') + 1)), 0u);
            for (const auto &failure : stopper.failures)
                EXPECT_EQ(failure.second, ExtractOutcome::Stopped) << failure.first;
            const std::pair<std::string, ExtractOutcome> stoppedAt{at, ExtractOutcome::Stopped};
            EXPECT_EQ(std::count(stopper.failures.begin(), stopper.failures.end(), stoppedAt), workers == 1 ? 1 : 0)
                << at << " with " << workers;
            fs::remove_all(f.out("content"));
        }
    }
}

TEST(Extract, AKilledRunOrAFailedCloseLeavesNoShortFile)
{
    // A close that fails (an I/O error the system tells only then) leaves a file that may not be whole:
    // never published, its temporary name gone.
    Fixture f(LongFiles());
    const zarnik::PlatformFaultCall previous = zarnik::SetPlatformFault(
        [](zarnik::PlatformStep step, const std::string &) { return step == zarnik::PlatformStep::CloseWritten; });
    Recorder failed;
    f.ExtractAll(&failed, 1);
    zarnik::SetPlatformFault(previous);
    EXPECT_EQ(failed.outcomes, std::vector<ExtractOutcome>(f.entries.size(), ExtractOutcome::WriteFailed));
    EXPECT_TRUE(FilesBelow(f.out()).empty());
    SKIP_ON_WINDOWS("fork and SIGKILL");
#ifndef _WIN32
    ASSERT_EQ(-SIGKILL, InChild([&] {
                  Interrupt killer;
                  killer.at = "content\\packed.txt", killer.kill = true;
                  f.ExtractAll(&killer, 1);
                  return 0;
              }));
    EXPECT_EQ(NamesBelow(f.out()), (std::set<std::string>{"content", "stored.bin", "packed.txt.zarnik-partial"}));
#endif
}

TEST(Extract, AFileNamedAsItsNeighboursTemporaryFileIsNeverTakenForALeftover)
{
    Fixture f({MakeEntry("content\\p.txt", "p"), MakeEntry("content\\p.txt.zarnik-partial", "t")});
    // The neighbour as a run of the whole pack wrote it; then p.txt alone, as the export of one file writes it.
    WriteAll(f.out("content/p.txt.zarnik-partial"), ToBytes("t"));
    EXPECT_EQ(kFinished, ExtractTo(*f.archive, f.node(0), To::File(f.out("content/p.txt")), nullptr));
    EXPECT_EQ(FilesBelow(f.out()), (Files{{"content/p.txt", ToBytes("p")}, {"content/p.txt.zarnik-partial", ToBytes("t")}}));
}

TEST(Extract, LinksInsideTheDestinationAreNeverFollowed)
{
    Fixture f({MakeEntry("content\\a\\1.txt", "1"), MakeEntry("content\\a\\2.txt", "2"),
               MakeEntry("content\\b\\3.txt", "3")});
    SKIP_ON_WINDOWS("symbolic links (test_cli makes a junction)");
    const std::string outside = f.dir.file("outside");
    fs::create_directory(outside);
    // While the first file is written, its folder is swapped for a link and
    // a link appears where the next folder goes.
    struct Swap : Recorder
    {
        std::string out, outside;
        void OnExtractFile(const std::string &path) override
        {
            Recorder::OnExtractFile(path);
            if (path != "content\\a\\1.txt")
                return;
            fs::rename(out + "/content/a", out + "/content/moved");
            fs::create_directory_symlink(outside, out + "/content/a");
            fs::create_directory_symlink(outside, out + "/content/b");
        }
    } swap;
    swap.out = f.out(), swap.outside = outside;
    // The folder the user chose may itself be a link.
    fs::create_directory_symlink(f.out(), f.dir.file("chosen"));
    EXPECT_EQ(kFinished, ExtractTo(*f.archive, f.archive->GetRoot(), To::Folder(f.dir.file("chosen")), &swap));
    EXPECT_EQ(swap.failures, (decltype(swap.failures){{"content\\b", ExtractOutcome::LinkInPath}}));
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(FilesBelow(f.out("content/moved")), (Files{{"1.txt", ToBytes("1")}, {"2.txt", ToBytes("2")}}));
}

TEST(Extract, APackCutShortWhileOpenIsDamageNotACrash)
{
    Fixture f({MakeEntry("content\\first.txt", Text(3000), Storage::Packed),
               MakeEntry("content\\last.bin", Pattern(3000), Storage::Stored)});
    const std::string data = f.archive->GetDataFilePath(0);
    fs::resize_file(data, f.node(1)->m_Offset + 100);
    Recorder r;
    EXPECT_EQ(kFinished, f.ExtractAll(&r));
    EXPECT_EQ(r.failures, (decltype(r.failures){{"content\\last.bin", ExtractOutcome::Unreadable}}));
    std::unique_ptr<unsigned char[]> bytes;
    zarnik::ReadOutcome outcome;
    EXPECT_TRUE(!f.archive->ReadFileData(f.node(1), bytes, outcome) && outcome == zarnik::ReadOutcome::Unreadable);
    EXPECT_EQ(FilesBelow(f.out()), (Files{{"content/first.txt", f.entries[0].data}}));
}

TEST(Extract, BigPackedFilesAreDecodedByBlockRangesInParallelWholeOrNotAtAll)
{
    const Bytes big = Text(24 << 20);
    const auto entries = [&] {
        return std::vector<Entry>{MakeEntry("content\\small1.txt", Text(5000), Storage::Packed),
                                  MakeEntry("content\\big.txt", big, Storage::Packed),
                                  MakeEntry("content\\small2.txt", Text(7000), Storage::Packed)};
    };
    // Patches `node`'s stored bytes, `at` counting from its middle block's header.
    const auto patchMiddleBlock = [](const CZarnikArchive &archive, const ArchiveNode &node,
                                     uint32_t at, std::vector<unsigned char> bytes) {
        const std::string path = archive.GetDataFilePath(node.m_DataFile);
        Bytes data = ReadAll(path);
        uint32_t block = node.m_Offset;
        zarnik::BlockHeader header;
        while (block < node.m_Offset + node.m_PackedSize / 2 &&
               zarnik::ReadBlockHeader(data.data() + block, node.m_Offset + node.m_PackedSize - block, header))
            block += header.blockLength;
        std::copy(bytes.begin(), bytes.end(), data.begin() + block + at);
        ASSERT_TRUE(testpack::WriteFile(path, data));
    };
    // Block length 0 is damage; a block claiming 8 MiB + 1 of output is too large.
    struct Case { const char *what; uint32_t at; std::vector<unsigned char> bytes; ExtractOutcome outcome; };
    const Case cases[] = {
        {"sound", 0, {}, ExtractOutcome::Written},
        {"damaged in the middle", 1, {0, 0, 0, 0}, ExtractOutcome::Damaged},
        {"oversized in the middle", 0, {3, 0, 0, 1, 0, 1, 0, 0x80, 0}, ExtractOutcome::TooLarge},
    };
    for (const Case &c : cases) {
        Fixture f(entries());
        patchMiddleBlock(*f.archive, *f.node(1), c.at, c.bytes);
        for (const unsigned workers : {1u, 2u, 3u}) {
            fs::remove_all(f.out("content"));
            Recorder r;
            EXPECT_EQ(kFinished, f.ExtractAll(&r, workers));
            Files expected{{"content/small1.txt", f.entries[0].data}, {"content/small2.txt", f.entries[2].data}};
            if (c.outcome == ExtractOutcome::Written) {
                expected["content/big.txt"] = big;
                // Every byte written is told once, whichever worker wrote it.
                EXPECT_EQ(r.bytes, f.entries[0].data.size() + big.size() + f.entries[2].data.size()) << workers;
            } else
                EXPECT_EQ(r.failures, (decltype(r.failures){{"content\\big.txt", c.outcome}})) << c.what;
            EXPECT_EQ(FilesBelow(f.out()), expected) << c.what << " with " << workers;
            // `test` and `cat` read the same way and say the same.
            const zarnik::ReadOutcome streamed = f.archive->StreamFileData(
                *f.node(1), [](const unsigned char *, size_t) { return true; }, {workers, nullptr});
            EXPECT_EQ(zarnik::ExtractOutcomeOf(streamed), c.outcome) << c.what << " with " << workers;
        }
    }
}

TEST(Extract, AStopInABigPackedFileLeavesItWholeOrNotAtAll)
{
    // Stopped at its first progress report, and the report says which. With
    // two workers the report may come only once the file is done, so the
    // file stands whole or not at all (one worker stops in the middle of a
    // file: AStopLeavesExactlyWhatWasReportedWritten).
    Fixture f({MakeEntry("content\\big.txt", Text(96 << 20), Storage::Packed)});
    Interrupt s;
    s.at = "content\\big.txt";
    const zarnik::ExtractEnd end = f.ExtractAll(&s, 2, &s.stop);
    const Files files = FilesBelow(f.out());
    const bool whole = !files.empty();
    EXPECT_TRUE(whole || end == zarnik::ExtractEnd::Stopped);
    EXPECT_EQ(s.written, std::vector<std::string>(whole, "big.txt"));
    EXPECT_EQ(s.failures, decltype(s.failures)(!whole, {"content\\big.txt", ExtractOutcome::Stopped}));
    EXPECT_EQ(files, (whole ? Files{{"content/big.txt", f.entries[0].data}} : Files{}));
}

TEST(Extract, AFullDiskBeginsNoFileAfterIt)
{
    SKIP_ON_WINDOWS("mount namespaces");
#ifndef _WIN32
    // While one worker copies the big file, the other fills a 64 KiB disk
    // mounted below: the files queued behind must not be begun.
    std::vector<Entry> entries{MakeEntry("content\\big.bin", Pattern(32 << 20), Storage::Stored),
                               MakeEntry("content\\small\\fills.bin", Pattern(256 << 10), Storage::Stored)};
    for (int i = 0; i < 12; ++i)
        entries.push_back(MakeEntry("content\\small\\" + std::to_string(i), "x"));
    Fixture f(entries);
    const std::string small = f.out("content/small");
    fs::create_directories(small);
    const unsigned workers = 2;
    const int status = InChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
            return 2;
        Recorder r;
        const zarnik::ExtractEnd end = f.ExtractAll(&r, workers);
        const auto full = std::find(r.outcomes.begin(), r.outcomes.end(), ExtractOutcome::DiskFull);
        // Only files in the other workers' hands when the disk filled may have results after it.
        const bool ok = end == zarnik::ExtractEnd::DiskFull && full != r.outcomes.end() &&
                        r.outcomes.end() - full - 1 <= static_cast<long>(workers) - 1;
        return ok ? 0 : 10 + static_cast<int>(r.outcomes.end() - full);
    });
    if (status == 2)
        GTEST_SKIP() << "no mount namespace for a small disk";
    EXPECT_EQ(status, 0) << "results from the full disk on: " << status - 10;
#endif
}

#ifndef _WIN32
namespace {
// renameat2 as a file system without RENAME_NOREPLACE answers it.
int NoReplaceUnsupported(int, const char *, int, const char *, unsigned)
{
    errno = EINVAL;
    return -1;
}
} // namespace
#endif

// Where the file system cannot rename without replacing, the name is taken by
// link and unlink; a rename that refuses is every other test's way.
TEST(Publish, WithoutARenameThatRefusesAWholeFileStillTakesItsNameNeverReplacingAnything)
{
    SKIP_ON_WINDOWS("renameat2");
#ifndef _WIN32
    for (const bool taken : {false, true}) {
        TempDir dir;
        if (taken)
            WriteAll(dir.file("name"), ToBytes("theirs"));
        const zarnik::RenameNoReplaceCall previous = zarnik::SetRenameNoReplaceCall(&NoReplaceUnsupported);
        zarnik::PlatformDirectory *folder = zarnik::PlatformOpenDirectory(dir.str());
        std::string temporary;
        zarnik::PlatformFile *file = zarnik::PlatformCreateTemporary(folder, "name", &temporary);
        EXPECT_TRUE(zarnik::PlatformWriteAll(file, "ours", 4) && zarnik::PlatformCloseWritten(file)) << taken;
        const bool published = zarnik::PlatformPublish(folder, temporary, "name");
        const zarnik::PlatformError error = zarnik::PlatformLastError();
        zarnik::PlatformCloseDirectory(folder);
        zarnik::SetRenameNoReplaceCall(previous);
        EXPECT_TRUE(published != taken && (!taken || error == zarnik::PlatformError::Exists)) << taken;
        Files expected{{"name", ToBytes(taken ? "theirs" : "ours")}};
        if (taken)
            expected[temporary] = ToBytes("ours"); // the caller's to remove
        EXPECT_EQ(FilesBelow(dir.path()), expected) << taken;
    }
#endif
}

// A stale temporary file gives way (Extract.ATreeIsWritten... reruns over one), and so does none named as a
// sibling in the pack (Extract.AFileNamedAsItsNeighboursTemporaryFileIsNeverTakenForALeftover).
TEST(Publish, ATemporaryNameInUseOrNotAPlainFileIsNeverTaken)
{
    // What stands at the first temporary name of "name" when it is written.
    enum class Before { OpenWriter, ClosedWriter, Link, Fifo };
    const Before rows[] = {Before::OpenWriter, Before::ClosedWriter,
#ifndef _WIN32
                           Before::Link,       Before::Fifo
#endif
    };
    for (const Before before : rows) {
        TempDir dir;
        const std::string first = dir.file("name.zarnik-partial");
        zarnik::PlatformDirectory *folder = zarnik::PlatformOpenDirectory(dir.str());
        zarnik::PlatformFile *earlier = nullptr;
        std::string earlierName;
        if (before == Before::OpenWriter || before == Before::ClosedWriter) {
            earlier = zarnik::PlatformCreateTemporary(folder, "name", &earlierName);
            ASSERT_TRUE(zarnik::PlatformWriteAll(earlier, "left", 4));
            ASSERT_TRUE(before == Before::OpenWriter || zarnik::PlatformCloseWritten(std::exchange(earlier, nullptr)));
        }
#ifndef _WIN32
        if (before == Before::Link) {
            WriteAll(dir.file("target"), ToBytes("left"));
            fs::create_symlink("target", first);
        }
        if (before == Before::Fifo) {
            ASSERT_EQ(0, mkfifo(first.c_str(), 0666));
        }
#endif
        const fs::file_type type = fs::symlink_status(first).type();
        std::string temporary;
        zarnik::PlatformFile *file = zarnik::PlatformCreateTemporary(folder, "name", &temporary);
        const int row = static_cast<int>(before);
        EXPECT_TRUE(zarnik::PlatformWriteAll(file, "ours", 4) && zarnik::PlatformCloseWritten(file) &&
                    zarnik::PlatformPublish(folder, temporary, "name")) << row;
        EXPECT_EQ(temporary, "name.zarnik-partial-2") << row;
        EXPECT_EQ(ReadAll(dir.file("name")), ToBytes("ours")) << row;
        EXPECT_EQ(fs::symlink_status(first).type(), type) << row;
        if (before != Before::Fifo) {
            EXPECT_EQ(ReadAll(first), ToBytes("left")) << row;
        }
        // The earlier writer, closed or not, still has its file to publish.
        if (!earlierName.empty()) {
            EXPECT_TRUE((!earlier || zarnik::PlatformCloseWritten(earlier)) &&
                        zarnik::PlatformPublish(folder, earlierName, "earlier")) << row;
            EXPECT_EQ(ReadAll(dir.file("earlier")), ToBytes("left")) << row;
        }
        zarnik::PlatformCloseDirectory(folder);
    }
}
