// Opening packs by both routes (index + data file, single pack) and the folder tree from entry paths.
#include "ArchiveSupport.h"
#include "PackPath.h"
#include "TestSupport.h"

#include <functional>
#include <set>

using namespace testsupport;
using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;
using zarnik::OpenReportItem;
using testpack::Chunk;
using testpack::Entry;
using Failure = zarnik::OpenFailure;

namespace {

std::vector<Entry> SmallSet()
{
    return {MakeEntry("content\\a.txt", "alpha"), MakeEntry("content\\x\\b.txt", "bravo!"),
            MakeEntry("content\\x\\y\\c.txt", "charlie"), MakeEntry("content\\x\\d.txt", "delta")};
}

const std::string kSmallTree = "a.txt\nx/\n  b.txt\n  y/\n    c.txt\n  d.txt\n";

// A single pack of a 1-byte file at each of `paths`, opened.
std::unique_ptr<const CZarnikArchive> OpenOneByteFiles(const TempDir &dir, const std::vector<std::string> &paths)
{
    std::vector<testpack::Entry> entries;
    for (const std::string &path : paths)
        entries.push_back(MakeEntry(path, "x", zarnik_pack::Storage::Stored));
    return MustOpen(WriteUpk(dir, entries));
}

} // namespace

// One file table or several, between foreign chunks: one tree in file order, offsets from the first byte.
TEST(ArchiveOpen, ASinglePackGivesTheTreeAndOffsetsFromItsFirstByte)
{
    std::vector<Entry> entries = SmallSet();
    entries[1].nameKey = 0x00;
    entries[2].nameKey = 0xFF;
    for (const unsigned tables : {1u, 3u}) {
        TempDir dir;
        testpack::UpkOptions options;
        options.tables = tables;
        options.before = {Chunk{9, Bytes(13, 1)}};
        options.after = {Chunk{3, Bytes(5, 2)}, Chunk{0, {}}};
        std::unique_ptr<const CZarnikArchive> archive;
        ASSERT_TRUE(archive = MustOpen(WriteUpk(dir, entries, "p.upk", options))) << tables;
        EXPECT_EQ(Dump(*archive), kSmallTree) << tables;
        const ArchiveNode *b = archive->FindFolder("content\\x")->m_Children[0];
        EXPECT_EQ(0, std::memcmp(ReadAll(dir.file("p.upk")).data() + b->m_Offset, "bravo!", 6)) << tables;
    }
}

TEST(ArchiveOpen, NamesEndAtTheirFirstZeroAndOnesPastAPathAreSkipped)
{
    TempDir dir;
    const auto raw = [](const Bytes &name) {
        Entry e = MakeEntry("", "raw");
        e.rawName = name;
        return e;
    };
    Entry latin = MakeEntry("content\\caf\xE9.txt", "latin");
    latin.nameKey = 0xE9;
    // Latin-1 kept; one past 260 bytes skipped, its neighbours kept.
    std::unique_ptr<const CZarnikArchive> archive;
    ASSERT_TRUE(archive = MustOpen(WriteUpk(dir, {raw({}), raw({'Q'}), // the only byte is the terminator
                                            raw(ToBytes("content\\j.txtX")),
                                            raw({'c', 'o', 'n', 't', 'e', 'n', 't', '\\', 'k', 0, 'z', 0}),
                                            MakeEntry("content\\" + std::string(252, 'n'), "too long"), latin,
                                            MakeEntry("content\\" + std::string(251, 'n'), "longest")})));
    std::vector<std::string> paths;
    for (const ArchiveNode *child : archive->GetRoot()->m_Children)
        paths.push_back(child->m_Path);
    EXPECT_EQ(paths, (std::vector<std::string>{"", "", "content\\j.txt", "content\\k",
                                               "content\\caf\xE9.txt", "content\\" + std::string(251, 'n')}));
}

namespace {

// content.vfi naming data0.vfs (SmallSet), data1.vfs, data2.vfs, DATA0.vfs, gone.vfs and, last, `outside`.
std::string WriteIndexNamingSixDataFiles(const TempDir &dir, const std::string &outside)
{
    testpack::VfsOptions options;
    const auto chunk = [](uint32_t id, const char *dataName, const char *path) {
        return Chunk{id, zarnik::packformat::IndexChunkData(
                             dataName, testpack::EncodeEntry(MakeEntry(path, "zz"), 0, 2, 2))};
    };
    options.before = {chunk(5, "data1.vfs", "content\\x\\from1.txt"),
                      chunk(6, "DATA0.vfs", "content\\other.txt"), // another file but on Windows
                      // The identifier that also ends a walk is passed over.
                      chunk(0xFFFFFFFFu, "data0.vfs", "content\\other.txt")};
    options.after = {chunk(7, "data2.vfs", "content\\a.txt"),
                     chunk(3, "data0.vfs", "content\\z.txt"),
                     // A missing data file is missing each time a chunk names it.
                     chunk(8, "gone.vfs", "content\\gone.txt"), chunk(9, "gone.vfs", "content\\gone.txt"),
                     chunk(10, outside.c_str(), "content\\outside.txt")};
    options.after[1].data[8 + 9] = 'X'; // the name's last byte reads as 0, whatever it holds
    WriteAll(dir.file("data1.vfs"), ToBytes("d1"));
    WriteAll(dir.file("data2.vfs"), ToBytes("d2"));
    return WriteVfs(dir, SmallSet(), options);
}

} // namespace

// Through a data file: every chunk naming it and no other. Through the whole index: every present data
// file in its folder in index order, each opened once, each entry's bytes from its own data file.
TEST(ArchiveOpen, ADataFileGathersItsChunksAndTheWholeIndexEveryPresentDataFile)
{
    TempDir dir, out, beside;
    // A name leading out of the index's folder names no data file, though one stands there.
    WriteAll(beside.file("data1.vfs"), ToBytes("beside"));
    const std::string outside = "../" + beside.path().filename().u8string() + "/data1.vfs";
    // Windows' file names ignore case: there DATA0.VFS is data0.vfs, and so is DATA0.vfs.
    const std::string path = kWindows ? dir.file("DATA0.VFS") : WriteIndexNamingSixDataFiles(dir, outside);
    if (kWindows)
        WriteIndexNamingSixDataFiles(dir, outside);
    std::unique_ptr<const CZarnikArchive> one, whole;
    ASSERT_TRUE(one = MustOpen(path));
    EXPECT_EQ(Dump(*one), (kWindows ? "other.txt\n" : "") + kSmallTree + "z.txt\n");
    // The data file is the one the index names, which there is the file typed in other letters.
    EXPECT_EQ(zarnik::NameAsSystemCompares(one->GetDataFilePath(0)), zarnik::NameAsSystemCompares(path));
    EXPECT_TRUE(one->GetOpenReport().empty());
    ASSERT_TRUE(whole = MustOpen(dir.file("content.vfi")));
    EXPECT_EQ(Dump(*whole), "x/\n  from1.txt\n  b.txt\n  y/\n    c.txt\n  d.txt\n" +
                               std::string(kWindows ? "other.txt\n" : "") + "a.txt\na.txt\nz.txt\n");
    ASSERT_EQ(whole->GetOpenReport().size(), kWindows ? 4u : 5u);
    const OpenReportItem &first = whole->GetOpenReport()[0], &refused = whole->GetOpenReport().end()[-2];
    EXPECT_TRUE(kWindows || (first.kind == OpenReportItem::Kind::DataFileMissing && first.path == "DATA0.vfs"));
    EXPECT_TRUE(refused.kind == OpenReportItem::Kind::DataFileMissing && refused.path == outside) << refused.path;
    EXPECT_EQ(whole->GetOpenReport().back().kind, OpenReportItem::Kind::DuplicatePath);
    // data1, DATA0, data0, data2, gone.
    EXPECT_EQ(whole->GetDataFileCount(), 5u);
    // Each entry's bytes come from its own data file.
    EXPECT_EQ(ExtractTo(*whole, whole->GetRoot(), zarnik::ExtractDestination::Folder(out.str()), nullptr),
              zarnik::ExtractEnd::Finished);
    auto files = FilesBelow(out.path());
    EXPECT_EQ(files.erase("content/other.txt"), kWindows ? 1u : 0u);
    EXPECT_EQ(files, (Files{{"content/x/from1.txt", ToBytes("d1")}, {"content/x/b.txt", ToBytes("bravo!")},
                            {"content/x/y/c.txt", ToBytes("charlie")}, {"content/x/d.txt", ToBytes("delta")},
                            {"content/a.txt", ToBytes("alpha")}, {"content/z.txt", ToBytes("al")}}));
}

TEST(ArchiveOpen, IndexEntriesStopWhen20BytesOrFewerRemain)
{
    // Each such tail would read as an empty-named entry.
    for (size_t trailing : {0u, 1u, 19u, 20u, 21u}) {
        TempDir dir;
        testpack::VfsOptions options;
        options.trailing = Bytes(trailing, 0);
        if (trailing >= 20) {
            options.trailing[12] = 1;
            options.trailing[16] = static_cast<unsigned char>(trailing - 20);
        }
        std::unique_ptr<const CZarnikArchive> archive;
        ASSERT_TRUE(archive = MustOpen(WriteVfs(dir, SmallSet(), options))) << trailing;
        EXPECT_EQ(Dump(*archive), kSmallTree + (trailing > 20 ? "\n" : "")) << trailing;
    }
}

TEST(ArchiveOpen, RefusalsByBothRoutes)
{
    TempDir dir, noData, emptyIndex, nameFills, nameCut;
    testpack::UpkOptions otherId;
    otherId.tableId = 4;
    WriteUpk(dir, SmallSet(), "no-table.upk", otherId);
    WriteUpk(dir, {}, "empty-table.upk");
    WriteVfs(dir, SmallSet());
    WriteAll(dir.file("data9.vfs"), {1, 2, 3});
    WriteVfs(noData, SmallSet());
    fs::remove(noData.file("data0.vfs"));
    WriteAll(dir.file("empty.upk"), {});
    WriteAll(emptyIndex.file("content.vfi"), {});
    WriteAll(emptyIndex.file("data0.vfs"), {1});
    // An index chunk whose name fills it names its data file (without entries); one byte short, it names none.
    for (const TempDir *folder : {&nameFills, &nameCut}) {
        Bytes chunk = zarnik::packformat::IndexChunkData("data0.vfs", {}), index;
        chunk.resize(chunk.size() - zarnik::packformat::kIndexGapSize - (folder == &nameCut));
        zarnik::packformat::AppendChunk(index, 0, chunk);
        WriteAll(folder->file("content.vfi"), index);
        WriteAll(folder->file("data0.vfs"), {1});
    }
    const std::pair<std::string, Failure> failures[] = {
        {dir.file("no-table.upk"), Failure::NoFileTable},
        {dir.file("empty-table.upk"), Failure::NoEntries},
        {dir.file("empty.upk"), Failure::DataUnreadable},
        {dir.str(), Failure::DataUnreadable}, // a directory is no pack
        {"data0.vfs", Failure::NoDirectory},
        {dir.file("data9.vfs"), Failure::NotNamedInIndex},
        {noData.file("data0.vfs"), Failure::DataUnreadable},
        {emptyIndex.file("data0.vfs"), Failure::IndexUnreadable},
        {nameFills.file("data0.vfs"), Failure::NoEntries},
        {nameCut.file("data0.vfs"), Failure::NotNamedInIndex},
    };
    CheckRecorder checks; // an empty file cannot be a pack
    for (const auto &[path, failure] : failures) {
        const CZarnikArchive::OpenResult refused = CZarnikArchive::Open(path);
        EXPECT_FALSE(refused.archive) << path;
        EXPECT_EQ(refused.failure, failure) << path;
    }
    // A data file that is not there is said to be missing, not unnamed.
    for (const std::string &path : {dir.file("data8.vfs"), dir.file("data9.vfs")})
        EXPECT_EQ(zarnik::OpenFailureReason(path, CZarnikArchive::Open(path)) == "no such file",
                  path == dir.file("data8.vfs"));
}

// Positions are 32-bit: a pack of 4 GiB less one byte opens and reads its last bytes; one byte more, it does
// not open. (Sparse files: the gap takes no disk space.)
TEST(ArchiveOpen, PositionsReachTo4GiBLessOne)
{
    namespace pf = zarnik::packformat;
    TempDir dir;
    const std::string path = dir.file("huge.upk");
    const uint32_t end = static_cast<uint32_t>(pf::kMaxPackSize);
    const uint32_t tableSize = static_cast<uint32_t>(pf::EncodedEntrySize("content\\e"));
    const uint32_t dataSize = end - 2 * pf::kChunkHeaderSize - tableSize;
    const Bytes tail = ToBytes("end") + pf::EncodeChunkHeader(pf::kTableChunkId, tableSize) +
                       pf::EncodeEntry("content\\e", pf::kChunkHeaderSize + dataSize - 3, 3, 3);
    WriteAll(path, pf::EncodeChunkHeader(pf::kDataChunkId, dataSize));
    fs::resize_file(path, end - tail.size());
    std::ofstream(fs::u8path(path), std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char *>(tail.data()), static_cast<std::streamsize>(tail.size()));
    std::unique_ptr<const CZarnikArchive> archive;
    ASSERT_TRUE(archive = MustOpen(path));
    std::unique_ptr<unsigned char[]> data;
    zarnik::ReadOutcome failure;
    ASSERT_TRUE(archive->ReadFileData(archive->GetEntries().at(0), data, failure));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(data.get()), 3), "end");
    archive.reset();
    fs::resize_file(path, pf::kMaxPackSize + 1 + 100); // not taken for a file of 100 bytes
    EXPECT_EQ(CZarnikArchive::Open(path).failure, Failure::DataUnreadable);
}

TEST(ArchiveTree, FoldersFromPaths)
{
    // Every entry a 1-byte file; `leftOut` entries whose folder has no parent.
    struct Case { std::vector<std::string> paths; std::string tree; size_t leftOut; };
    std::vector<Case> cases = {
        // Folders made once, in first-met order, also after jumps; file paths stay as stored.
        {{"content\\a.txt", "content\\x\\b.txt", "content\\x\\y\\c.txt", "content\\x\\d.txt",
          "content\\x\\y\\e.txt", "content\\late\\f.txt", "content\\x\\g.txt", "content\\z\\h.txt",
          "content\\i.txt", "top.bin"},
         "a.txt\nx/\n  b.txt\n  y/\n    c.txt\n    e.txt\n  d.txt\n  g.txt\nlate/\n  f.txt\nz/\n  h.txt\ni.txt\ntop.bin\n", 0},
        // A later segment "content" starts again at the root, but a file below it stays in the folder before
        // (where the path rule refuses it); "contents", or a file named "content", does not.
        {{"content\\a\\content\\b\\c.txt", "content\\a\\content\\d.txt", "content\\contents\\e.txt",
          "content\\content\\x", "content\\sub\\content"},
         "a/\n  d.txt\nb/\n  c.txt\ncontents/\n  e.txt\nx\nsub/\n  content\n", 0},
        // Any first segment stands for the root; empty segments are names.
        {{"content\\a\\\\b.txt", "content\\trailing\\", "\\content\\lead.txt", "data\\x.bin",
          "data\\content\\sub\\z.bin"},
         "a/\n  /\n    b.txt\ntrailing/\n  \nlead.txt\nx.bin\nsub/\n  z.bin\n", 0},
        // Below a first segment other than "content": no parent, reported, the file left out.
        {{"content\\ok.txt", "data\\sub\\x.bin", "Content\\sub\\y.bin", "content\\after.txt"},
         "ok.txt\nafter.txt\n", 2},
    };
    for (const Case &c : cases) {
        TempDir dir;
        std::unique_ptr<const CZarnikArchive> archive;
        CheckRecorder checks;
        ASSERT_TRUE(archive = OpenOneByteFiles(dir, c.paths));
        EXPECT_EQ(Dump(*archive), c.tree) << c.paths[0];
        EXPECT_EQ(checks.fired(), std::vector<std::string>(c.leftOut, "NULL != parent")) << c.paths[0];
        // Folders are found by their path, exactly as stored; files are not.
        EXPECT_EQ(archive->FindFolder("content"), archive->GetRoot());
        for (const std::string &path : c.paths)
            EXPECT_EQ(archive->FindFolder(path), nullptr) << path;
    }
}

TEST(ArchiveTree, ANameMetBeforeInItsFolderIsMarkedWhateverTheOrderOfTheNames)
{
    // Marked "=" a duplicate, "~" a name differing only in case.
    struct Case { std::vector<std::string> paths; std::set<std::string> marked; };
    std::vector<Case> cases = {
        {{"content\\a", "content\\B", "content\\c"}, {}},
        // Each of these rises in byte order; only the letters without case say they meet.
        {{"content\\Level.txt", "content\\level.txt"}, {"~content\\level.txt"}},
        {{"content\\Maps\\x", "content\\maps\\y"}, {"~content\\maps"}},
        // Latin-1 capitals fold as Windows folds them (0xC9 to 0xE9); the signs 0xD7 and 0xF7 are no letters.
        {{"content\\\xC9t\xE9", "content\\\xE9t\xE9", "content\\a\xD7", "content\\a\xF7"}, {"~content\\\xE9t\xE9"}},
        // A file beside a folder of its name, the file first or last.
        {{"content\\ff", "content\\ff\\x.txt"}, {"=content\\ff"}},
        {{"content\\ff\\x.txt", "content\\ff"}, {"=content\\ff"}},
        {{"content\\a", "content\\b", "content\\a"}, {"=content\\a"}},
    };
    // A folder too large to be compared pair by pair: A to Z, then a.
    cases.push_back({{}, {"~content\\a"}});
    for (char c = 'A'; c <= 'Z'; ++c)
        cases.back().paths.push_back("content\\" + std::string(1, c));
    cases.back().paths.push_back("content\\a");
    // Two folders too large to be compared pair by pair hold the same names, and one a file beside a folder of
    // its name.
    cases.push_back({{"content\\a\\ff"}, {"=content\\a\\ff"}});
    for (const std::string folder : {"a", "b"})
        for (int i = 0; i < 17; ++i)
            cases.back().paths.push_back("content\\" + folder + "\\" + std::to_string(i));
    cases.back().paths.push_back("content\\a\\ff\\x");
    for (const Case &c : cases) {
        TempDir dir;
        std::unique_ptr<const CZarnikArchive> archive;
        ASSERT_TRUE(archive = OpenOneByteFiles(dir, c.paths));
        std::set<std::string> marked;
        std::function<void(const ArchiveNode &)> walk = [&](const ArchiveNode &node) {
            if (node.m_Duplicate)
                marked.insert("=" + node.m_Path);
            if (node.m_CaseTwin)
                marked.insert("~" + node.m_Path);
            for (const ArchiveNode *child : node.m_Children)
                walk(*child);
        };
        walk(*archive->GetRoot());
        EXPECT_EQ(marked, c.marked) << c.paths.back();
    }
}
