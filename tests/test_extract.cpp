// Extraction to disk: byte-exact files, create-new semantics, the walk and
// its callback, and the cases where a file must not be written.
#include "ArchiveDump.h"
#include "TestSupport.h"
#include "ZarnikArchive.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;
using zarnik_pack::Bytes;
using zarnik_pack::Entry;
using zarnik_pack::Storage;

namespace {

struct Recorder : CZarnikArchive::Callback
{
    std::vector<std::string> files;
    std::vector<std::pair<std::string, std::string>> failures;
    void OnExtractFile(const std::string &path) override { files.push_back(path); }
    void OnExtractFailed(const std::string &path, const std::string &reason) override
    {
        failures.emplace_back(path, reason);
    }
};

Bytes Text(size_t size)
{
    static const char *const words[] = {"pack ", "zarnik ", "folder ", "file ", "export\n"};
    Bytes out;
    for (size_t i = 0; out.size() < size; ++i)
        for (const char *c = words[(i * 7) % 5]; *c && out.size() < size; ++c)
            out.push_back(static_cast<unsigned char>(*c));
    return out;
}

// A pack of both kinds of file, written as a single pack or an index set.
struct Fixture
{
    TempDir dir;
    CZarnikArchive archive;
    std::vector<Entry> entries;

    explicit Fixture(bool indexRoute, std::vector<Entry> list)
        : entries(std::move(list))
    {
        std::string path;
        if (indexRoute) {
            const zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(entries);
            WriteAll(dir.file("content.vfi"), set.index);
            WriteAll(dir.file("data0.vfs"), set.data);
            path = dir.file("data0.vfs");
        } else {
            WriteAll(dir.file("p.upk"), zarnik_pack::BuildUpk(entries));
            path = dir.file("p.upk");
        }
        std::filesystem::create_directory(dir.file("out"));
        EXPECT_TRUE(archive.Open(Backslashed(path)));
    }
    std::string out(const std::string &name = "") const { return dir.file("out/" + name); }
    ArchiveNode *node(const std::string &folder, size_t child)
    {
        return archive.FindNode(folder)->m_Children.at(child);
    }
};

std::vector<Entry> Standard()
{
    return {MakeEntry("content\\readme.txt", Text(5000), Storage::Packed),
            MakeEntry("content\\gfx\\noise.bin", Pattern(3000), Storage::Stored),
            MakeEntry("content\\gfx\\deep\\more.txt", Text(70000), Storage::Packed),
            MakeEntry("content\\gfx\\tiny.txt", "x", Storage::Stored)};
}

// Every path below `root`, relative, sorted.
std::vector<std::string> Listing(const std::string &root)
{
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::recursive_directory_iterator(root))
        out.push_back(std::filesystem::relative(e.path(), root).string() +
                      (e.is_directory() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
}

class ExtractRoutes : public ::testing::TestWithParam<bool>
{
};

} // namespace

TEST_P(ExtractRoutes, FilesAndFoldersComeOutByteExactInTreeOrder)
{
    Fixture f(GetParam(), Standard());
    ArchiveNode *readme = f.node("content", 0);
    ASSERT_TRUE(readme->IsPacked());
    Recorder single;
    EXPECT_TRUE(f.archive.Extract(readme, Backslashed(f.out("chosen name.txt")), &single));
    EXPECT_EQ(ReadAll(f.out("chosen name.txt")), f.entries[0].data);
    EXPECT_EQ(single.files, std::vector<std::string>{"content\\readme.txt"});
    EXPECT_TRUE(single.failures.empty());

    Recorder all;
    EXPECT_TRUE(f.archive.Extract(f.archive.GetRoot(), Backslashed(f.out()), &all));
    EXPECT_EQ(all.files, (std::vector<std::string>{"content\\readme.txt", "content\\gfx\\noise.bin",
                                                   "content\\gfx\\deep\\more.txt",
                                                   "content\\gfx\\tiny.txt"}));
    EXPECT_TRUE(all.failures.empty());
    for (const Entry &e : f.entries) {
        std::string rel = e.path;
        std::replace(rel.begin(), rel.end(), '\\', '/');
        EXPECT_EQ(ReadAll(f.out(rel)), e.data) << rel;
    }

    // Without a callback the same files are written.
    TempDir again;
    EXPECT_TRUE(f.archive.Extract(f.archive.GetRoot(), again.str(), nullptr));
    EXPECT_EQ(Listing(again.file("content")), Listing(f.out("content")));
}

INSTANTIATE_TEST_SUITE_P(BothRoutes, ExtractRoutes, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "Index" : "SinglePack";
                         });

TEST(Extract, NothingExistingIsTouchedAndASecondExportAddsWhatIsMissing)
{
    Fixture f(false, Standard());
    WriteAll(f.out("mine.txt"), zarnik_pack::ToBytes("keep me"));
    Recorder r;
    EXPECT_TRUE(f.archive.Extract(f.node("content", 0), f.out("mine.txt"), &r));
    EXPECT_EQ(ReadAll(f.out("mine.txt")), zarnik_pack::ToBytes("keep me"));
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].second, CZarnikArchive::kReasonExists);

    ASSERT_TRUE(f.archive.Extract(f.archive.GetRoot(), f.out(), nullptr));
    std::filesystem::remove(f.out("content/gfx/deep/more.txt"));
    WriteAll(f.out("content/gfx/noise.bin"), zarnik_pack::ToBytes("changed"));
    Recorder second;
    EXPECT_TRUE(f.archive.Extract(f.archive.GetRoot(), f.out(), &second));
    EXPECT_EQ(ReadAll(f.out("content/gfx/noise.bin")), zarnik_pack::ToBytes("changed"));
    EXPECT_EQ(ReadAll(f.out("content/gfx/deep/more.txt")), f.entries[2].data);
    EXPECT_EQ(second.files.size(), 4u);
    EXPECT_EQ(second.failures.size(), 3u); // the three that were there
}

TEST(Extract, EmptyFoldersZeroSizedEntriesAndEmptyFiles)
{
    std::vector<Entry> entries = Standard();
    Entry asFolder = MakeEntry("content\\listed\\as-file.dat", "ignored");
    asFolder.packedSize = 0; // a stored size of 0 marks a folder
    entries.push_back(asFolder);
    entries.push_back(MakeEntry("content\\empty.txt", Bytes{})); // packed: 0 bytes out
    Fixture f(false, entries);

    ArchiveNode *listed = f.archive.FindNode("content\\listed");
    ASSERT_NE(listed, nullptr);
    Recorder r;
    EXPECT_TRUE(f.archive.Extract(listed, Backslashed(f.out()), &r));
    EXPECT_TRUE(r.files.empty());
    EXPECT_EQ(Listing(f.out()), (std::vector<std::string>{"listed/", "listed/as-file.dat/"}));

    EXPECT_TRUE(f.archive.Extract(f.node("content", 3), f.out("empty.txt"), &r));
    EXPECT_TRUE(std::filesystem::is_regular_file(f.out("empty.txt")));
    EXPECT_EQ(std::filesystem::file_size(f.out("empty.txt")), 0u);
    EXPECT_TRUE(r.failures.empty());
}

TEST(Extract, NoDataReaderWritesNothing)
{
    TempDir dir;
    CZarnikArchive archive;
    ArchiveNode folder;
    folder.m_Name = "content";
    Recorder r;
    EXPECT_FALSE(archive.Extract(&folder, dir.str(), &r));
    EXPECT_FALSE(archive.Open(dir.file("missing.upk")));
    EXPECT_FALSE(archive.Extract(&folder, dir.str(), &r));
    EXPECT_TRUE(r.files.empty());
    EXPECT_TRUE(Listing(dir.str()).empty());
}

TEST(Extract, UnsoundBytesAreNeverWritten)
{
    std::vector<Entry> entries = {
        MakeEntry("content\\good.txt", Text(4000), Storage::Packed),
        MakeEntry("content\\past-end.bin", Pattern(100), Storage::Stored),
        MakeEntry("content\\damaged.txt", Text(4000), Storage::Packed),
        MakeEntry("content\\short.txt", Text(4000), Storage::Packed),
        MakeEntry("content\\huge-claim.txt", Text(4000), Storage::Packed),
        MakeEntry("content\\wrapping.bin", Pattern(100), Storage::Stored),
    };
    entries[1].offset = 0xFFFFFF00u;
    entries[3].unpackedSize = 4001;        // decodes to 4000
    entries[4].unpackedSize = 0xF0000000u; // far more than its bytes can give
    entries[5].offset = 0xFFFFFFF0u;       // offset + size wraps 32 bits
    entries[5].packedSize = entries[5].unpackedSize = 0x20;
    Bytes pack = zarnik_pack::BuildUpk(entries);
    // Break the third file's stream: its first block header claims 0 bytes.
    TempDir dir;
    WriteAll(dir.file("p.upk"), pack);
    CZarnikArchive archive;
    ASSERT_TRUE(archive.Open(dir.file("p.upk")));
    const ArchiveNode *damaged = archive.GetRoot()->m_Children[2];
    pack[damaged->m_Offset + 1] = 0;
    WriteAll(dir.file("p2.upk"), pack);
    CZarnikArchive broken;
    ASSERT_TRUE(broken.Open(dir.file("p2.upk")));

    Recorder r;
    CheckRecorder quiet;
    std::filesystem::create_directory(dir.file("out"));
    EXPECT_TRUE(broken.Extract(broken.GetRoot(), dir.file("out"), &r));
    EXPECT_EQ(Listing(dir.file("out")), (std::vector<std::string>{"content/", "content/good.txt"}));
    EXPECT_EQ(r.files.size(), 6u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"content\\past-end.bin", CZarnikArchive::kReasonOutOfRange},
        {"content\\damaged.txt", CZarnikArchive::kReasonDamaged},
        {"content\\short.txt", CZarnikArchive::kReasonWrongSize},
        {"content\\huge-claim.txt", CZarnikArchive::kReasonWrongSize},
        {"content\\wrapping.bin", CZarnikArchive::kReasonOutOfRange},
    };
    EXPECT_EQ(r.failures, expected);
}

TEST(Extract, PackNamesBecomeUtf8FileNames)
{
    Fixture f(false, {MakeEntry("content\\caf\xE9\\\xC6sir.txt", "latin-1 names")});
    EXPECT_TRUE(f.archive.Extract(f.archive.GetRoot(), f.out(), nullptr));
    EXPECT_EQ(ReadAll(f.out("content/caf\xC3\xA9/\xC3\x86sir.txt")), zarnik_pack::ToBytes("latin-1 names"));
}

TEST(Extract, AFailedWriteRemovesThePartialFile)
{
    Fixture f(false, {MakeEntry("content\\big.bin", Pattern(256 * 1024), Storage::Stored),
                      MakeEntry("content\\small.txt", "fits", Storage::Stored)});
    // The file-size limit applies to the whole process: try it in a child.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rlimit limit = {64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        Recorder r;
        f.archive.Extract(f.archive.GetRoot(), f.out(), &r);
        const bool ok = r.failures.size() == 1 && r.failures[0].first == "content\\big.bin" &&
                        r.failures[0].second == CZarnikArchive::kReasonWriteFailed;
        _exit(ok ? 0 : 3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the child was killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists(f.out("content/big.bin")));
    EXPECT_EQ(ReadAll(f.out("content/small.txt")), zarnik_pack::ToBytes("fits"));
}
