// Opening packs by both routes: the index "content.vfi" beside a ".vfs" data
// file, and single packs with their own file table.
#include "TestSupport.h"
#include "ZarnikArchive.h"

using namespace testsupport;
using zarnik_pack::Bytes;
using zarnik_pack::Chunk;
using zarnik_pack::Entry;

namespace {

std::vector<Entry> SmallSet()
{
    return {MakeEntry("content\\a.txt", "alpha"), MakeEntry("content\\x\\b.txt", "bravo!"),
            MakeEntry("content\\x\\y\\c.txt", "charlie"), MakeEntry("content\\x\\d.txt", "delta")};
}

const char *const kSmallTree = "a.txt\n"
                               "x/\n"
                               "  b.txt\n"
                               "  y/\n"
                               "    c.txt\n"
                               "  d.txt\n";

// Writes an index-plus-data set into `dir` and returns the data file's path
// with backslashes.
std::string WriteVfs(const TempDir &dir, const zarnik_pack::VfsSet &set,
                     const std::string &dataName = "data0.vfs")
{
    WriteAll(dir.file("content.vfi"), set.index);
    WriteAll(dir.file(dataName), set.data);
    return Backslashed(dir.file(dataName));
}

} // namespace

TEST(ArchiveOpen, SinglePacksGiveTheTreeAndTheEntryFields)
{
    TempDir dir;
    std::vector<Entry> entries = SmallSet();
    entries[1].nameKey = 0x00;
    entries[2].nameKey = 0xFF;
    zarnik_pack::UpkOptions options;
    options.before = {Chunk{9, Bytes(13, 1)}};
    options.after = {Chunk{3, Bytes(5, 2)}, Chunk{0, {}}};
    const Bytes pack = zarnik_pack::BuildUpk(entries, options);
    WriteAll(dir.file("p.upk"), pack);

    CZarnikArchive archive;
    ASSERT_TRUE(archive.Open(Backslashed(dir.file("p.upk"))));
    EXPECT_FALSE(archive.IsIndexRoute());
    EXPECT_EQ(Dump(archive), kSmallTree);

    const ArchiveNode *root = archive.GetRoot();
    EXPECT_EQ(root->m_Name, "content");
    EXPECT_EQ(root->m_Path, "content");
    EXPECT_EQ(archive.FindNode("content"), root);
    const ArchiveNode *b = archive.FindNode("content\\x")->m_Children[0];
    EXPECT_EQ(b->m_Path, "content\\x\\b.txt");
    EXPECT_EQ(b->m_PackedSize, 6u);
    EXPECT_EQ(b->m_UnpackedSize, 6u);
    // Offsets count from the pack's first byte: the stored bytes are there.
    EXPECT_EQ(0, std::memcmp(pack.data() + b->m_Offset, "bravo!", 6));
    EXPECT_EQ(archive.FindNode("content\\x\\b.txt"), nullptr);

    // Several file tables give one tree in file order.
    zarnik_pack::UpkOptions three;
    three.tables = 3;
    WriteAll(dir.file("three.upk"), zarnik_pack::BuildUpk(SmallSet(), three));
    CZarnikArchive several;
    ASSERT_TRUE(several.Open(dir.file("three.upk")));
    EXPECT_EQ(Dump(several), kSmallTree);
}

TEST(ArchiveOpen, SinglePackRefusals)
{
    TempDir dir;
    // No chunk of identifier 1.
    zarnik_pack::UpkOptions other;
    other.tableId = 4;
    WriteAll(dir.file("no-table.upk"), zarnik_pack::BuildUpk(SmallSet(), other));
    // A file table with no entry.
    WriteAll(dir.file("empty-table.upk"), zarnik_pack::BuildUpk({}));

    CZarnikArchive a, b, c;
    EXPECT_FALSE(a.Open(dir.file("no-table.upk")));
    EXPECT_EQ(a.GetOpenFailure(), CZarnikArchive::OpenFailure::NoFileTable);
    EXPECT_FALSE(b.Open(dir.file("empty-table.upk")));
    EXPECT_EQ(b.GetOpenFailure(), CZarnikArchive::OpenFailure::NoEntries);
    EXPECT_FALSE(c.Open(dir.file("missing.upk")));
    EXPECT_EQ(c.GetOpenFailure(), CZarnikArchive::OpenFailure::DataUnreadable);
    EXPECT_EQ(c.GetRoot(), nullptr);
}

TEST(ArchiveOpen, IndexRouteReadsEveryChunkNamingTheDataFileAndNoOther)
{
    TempDir dir;
    zarnik_pack::VfsOptions options;
    const Bytes other = zarnik_pack::EncodeEntry(MakeEntry("content\\other.txt", "zz"), 0, 2, 2);
    options.before = {
        Chunk{5, zarnik_pack::IndexChunkData("data1.vfs", other)},
        // The same name in other letter case is another file.
        Chunk{6, zarnik_pack::IndexChunkData("DATA0.vfs", other)},
        // The chunk identifier that also ends a walk is passed over, not ended on.
        Chunk{0xFFFFFFFFu, zarnik_pack::IndexChunkData("data0.vfs", other)},
    };
    // A second chunk naming the data file adds its entries to the tree.
    const Bytes extra = zarnik_pack::EncodeEntry(MakeEntry("content\\z.txt", "zz"), 0, 2, 2);
    options.after = {Chunk{7, zarnik_pack::IndexChunkData("data2.vfs", other)},
                     Chunk{3, zarnik_pack::IndexChunkData("data0.vfs", extra)}};
    const std::string path = WriteVfs(dir, zarnik_pack::BuildVfs(SmallSet(), options));

    CZarnikArchive archive;
    ASSERT_TRUE(archive.Open(path));
    EXPECT_TRUE(archive.IsIndexRoute());
    EXPECT_EQ(Dump(archive), std::string(kSmallTree) + "z.txt\n");
    EXPECT_EQ(archive.GetDataPath(), path);
}

TEST(ArchiveOpen, IndexRouteFailures)
{
    TempDir dir;
    const std::string path = WriteVfs(dir, zarnik_pack::BuildVfs(SmallSet()));

    CZarnikArchive noBackslash;
    EXPECT_FALSE(noBackslash.Open("data0.vfs"));
    EXPECT_EQ(noBackslash.GetOpenFailure(), CZarnikArchive::OpenFailure::NoDirectory);

    // ".vfs" anywhere in the path takes the index route: here the folder's
    // name, so the index is looked for beside "x.upk" and is found.
    std::filesystem::create_directory(dir.file("a.vfs"));
    WriteAll(dir.file("a.vfs/content.vfi"), ReadAll(dir.file("content.vfi")));
    WriteAll(dir.file("a.vfs/x.upk"), {});
    CZarnikArchive inFolder;
    EXPECT_FALSE(inFolder.Open(Backslashed(dir.file("a.vfs/x.upk"))));
    EXPECT_EQ(inFolder.GetOpenFailure(), CZarnikArchive::OpenFailure::NotNamedInIndex);

    CZarnikArchive otherName;
    WriteAll(dir.file("data9.vfs"), {1, 2, 3});
    EXPECT_FALSE(otherName.Open(Backslashed(dir.file("data9.vfs"))));
    EXPECT_EQ(otherName.GetOpenFailure(), CZarnikArchive::OpenFailure::NotNamedInIndex);

    std::filesystem::remove(dir.file("data0.vfs"));
    CZarnikArchive noData;
    EXPECT_FALSE(noData.Open(path));
    EXPECT_EQ(noData.GetOpenFailure(), CZarnikArchive::OpenFailure::DataUnreadable);

    TempDir empty;
    WriteAll(empty.file("data0.vfs"), {1});
    CZarnikArchive noIndex;
    EXPECT_FALSE(noIndex.Open(Backslashed(empty.file("data0.vfs"))));
    EXPECT_EQ(noIndex.GetOpenFailure(), CZarnikArchive::OpenFailure::IndexUnreadable);
}

TEST(ArchiveOpen, IndexEntriesStopWhenTwentyBytesOrFewerRemain)
{
    for (size_t trailing : {0u, 1u, 19u, 20u}) {
        TempDir dir;
        zarnik_pack::VfsOptions options;
        options.trailing = Bytes(trailing, 0x41);
        CZarnikArchive archive;
        ASSERT_TRUE(archive.Open(WriteVfs(dir, zarnik_pack::BuildVfs(SmallSet(), options))))
            << trailing;
        EXPECT_EQ(Dump(archive), kSmallTree) << trailing;
    }
    // 21 bytes remain: read as one more entry's header, whose name does not fit.
    TempDir dir;
    zarnik_pack::VfsOptions options;
    options.trailing = Bytes(21, 0);
    options.trailing[12] = 1; // a stored size: a file, not a folder
    options.trailing[16] = 1; // L = 1: the name is the 21st byte
    CZarnikArchive archive;
    ASSERT_TRUE(archive.Open(WriteVfs(dir, zarnik_pack::BuildVfs(SmallSet(), options))));
    EXPECT_EQ(Dump(archive), std::string(kSmallTree) + "\n");
}

TEST(ArchiveOpen, NameDecoding)
{
    TempDir dir;
    Entry zeroLength = MakeEntry("", "zero");
    zeroLength.rawName = Bytes{};
    Entry oneByte = MakeEntry("", "one!");
    oneByte.rawName = Bytes{'Q'}; // the only byte is the terminator
    Entry junkTerminator = MakeEntry("", "junk");
    junkTerminator.rawName = zarnik_pack::ToBytes("content\\j.txtX");
    Entry innerZero = MakeEntry("", "zero inside");
    innerZero.rawName = Bytes{'c', 'o', 'n', 't', 'e', 'n', 't', '\\', 'k', 0, 'z', 0};
    Entry latin = MakeEntry("content\\caf\xE9.txt", "latin");
    latin.nameKey = 0xE9;
    // Longer than a path may be (260 bytes with the terminator): skipped by
    // its length, the entries around it kept. 260 exactly is still a name.
    Entry tooLong = MakeEntry("content\\" + std::string(252, 'n'), "too long");
    Entry longest = MakeEntry("content\\" + std::string(251, 'n'), "longest");
    WriteAll(dir.file("p.upk"), zarnik_pack::BuildUpk({zeroLength, oneByte, junkTerminator,
                                                       innerZero, tooLong, latin, longest}));

    CZarnikArchive archive;
    ASSERT_TRUE(archive.Open(dir.file("p.upk")));
    const auto &children = archive.GetRoot()->m_Children;
    ASSERT_EQ(children.size(), 6u);
    EXPECT_EQ(children[5]->m_Name.size(), 251u);
    EXPECT_EQ(children[0]->m_Path, "");
    EXPECT_EQ(children[1]->m_Path, "");
    EXPECT_EQ(children[2]->m_Path, "content\\j.txt");
    EXPECT_EQ(children[3]->m_Path, "content\\k");
    EXPECT_EQ(children[4]->m_Name, "caf\xE9.txt");
}
