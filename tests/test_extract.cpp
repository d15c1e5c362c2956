// Extraction to disk: byte-exact files, create-new semantics, the walk and
// its callback, and the cases where a file must not be written.
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
            MakeEntry("content\\gfx\\tiny.txt", "x", Storage::Stored),
            MakeEntry("content\\caf\xE9\\\xC6sir.txt", "latin-1 names")};
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

    // The whole tree: OnExtractFile once per file, archive paths, depth
    // first; Latin-1 names become UTF-8 file names.
    Recorder all;
    std::filesystem::create_directory(f.out("all"));
    std::filesystem::create_directory(f.out("quiet"));
    EXPECT_TRUE(f.archive.Extract(f.archive.GetRoot(), Backslashed(f.out("all")), &all));
    EXPECT_EQ(all.files, (std::vector<std::string>{"content\\readme.txt", "content\\gfx\\noise.bin",
                                                   "content\\gfx\\deep\\more.txt", "content\\gfx\\tiny.txt",
                                                   "content\\caf\xE9\\\xC6sir.txt"}));
    EXPECT_TRUE(all.failures.empty());
    const std::map<std::string, Bytes> expected = {
        {"content/readme.txt", f.entries[0].data}, {"content/gfx/noise.bin", f.entries[1].data},
        {"content/gfx/deep/more.txt", f.entries[2].data}, {"content/gfx/tiny.txt", f.entries[3].data},
        {"content/caf\xC3\xA9/\xC3\x86sir.txt", f.entries[4].data}};
    EXPECT_EQ(FilesBelow(f.out("all")), expected);

    // Without a callback the same files are written.
    EXPECT_TRUE(f.archive.Extract(f.archive.GetRoot(), f.out("quiet"), nullptr));
    EXPECT_EQ(FilesBelow(f.out("quiet")), expected);
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
    EXPECT_EQ(second.failures.size(), f.entries.size() - 1); // all but the removed one
}

TEST(Extract, EmptyFoldersZeroSizedEntriesAndNoDataReader)
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
    EXPECT_TRUE(std::filesystem::is_directory(f.out("listed/as-file.dat")));
    EXPECT_TRUE(FilesBelow(f.out()).empty());

    EXPECT_TRUE(f.archive.Extract(f.archive.GetRoot()->m_Children.back(), f.out("empty.txt"), &r));
    EXPECT_EQ(FilesBelow(f.out()), (std::map<std::string, Bytes>{{"empty.txt", {}}}));
    EXPECT_TRUE(r.failures.empty());

    // An archive that never opened has no data reader: false, nothing written.
    CZarnikArchive none;
    EXPECT_FALSE(none.Open(f.out("missing.upk")));
    EXPECT_FALSE(none.Extract(listed, f.out("none"), &r));
    EXPECT_EQ(r.files.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(f.out("none")));
}

TEST(Extract, UnsoundBytesAreNeverWritten)
{
    // Ranges outside the data file are the hostile suite's; here the stream
    // itself is damaged or decodes to another size than its entry says.
    std::vector<Entry> entries = {
        MakeEntry("content\\good.txt", Text(4000), Storage::Packed),
        MakeEntry("content\\damaged.txt", Text(4000), Storage::Packed),
        MakeEntry("content\\short.txt", Text(4000), Storage::Packed),
    };
    entries[2].unpackedSize = 4001; // decodes to 4000
    Fixture f(false, entries);
    // Break the second file's stream: its first block header claims 0 bytes.
    Bytes pack = zarnik_pack::BuildUpk(entries);
    pack[f.node("content", 1)->m_Offset + 1] = 0;
    WriteAll(f.dir.file("p2.upk"), pack);
    CZarnikArchive broken;
    ASSERT_TRUE(broken.Open(f.dir.file("p2.upk")));

    Recorder r;
    CheckRecorder quiet;
    EXPECT_TRUE(broken.Extract(broken.GetRoot(), f.out(), &r));
    EXPECT_EQ(FilesBelow(f.out()), (std::map<std::string, Bytes>{{"content/good.txt", entries[0].data}}));
    EXPECT_EQ(r.files.size(), 3u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"content\\damaged.txt", CZarnikArchive::kReasonDamaged},
        {"content\\short.txt", CZarnikArchive::kReasonWrongSize},
    };
    EXPECT_EQ(r.failures, expected);
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
