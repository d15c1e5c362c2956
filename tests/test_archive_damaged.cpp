// Damaged packs: cut at every byte, sizes that lie, names too long. Nothing
// may crash or read outside the file; the archive is read as far as it goes
// or refused.
#include "ArchiveDump.h"
#include "TestSupport.h"
#include "ZarnikArchive.h"

using namespace testsupport;
using zarnik_pack::Bytes;
using zarnik_pack::Entry;

namespace {

std::vector<Entry> Entries()
{
    return {MakeEntry("content\\one.txt", "first file"),
            MakeEntry("content\\dir\\two.txt", "second file"),
            MakeEntry("content\\dir\\three.bin", Pattern(100))};
}

// Opens `bytes` as a single pack; returns the number of file nodes in the
// tree, or -1 when the open fails.
int OpenUpk(const TempDir &dir, const Bytes &bytes)
{
    WriteAll(dir.file("p.upk"), bytes);
    CZarnikArchive archive;
    if (!archive.Open(Backslashed(dir.file("p.upk"))))
        return -1;
    int files = 0;
    std::vector<const ArchiveNode *> stack{archive.GetRoot()};
    while (!stack.empty()) {
        const ArchiveNode *n = stack.back();
        stack.pop_back();
        files += n->m_PackedSize != 0;
        for (const ArchiveNode *c : n->m_Children)
            stack.push_back(c);
    }
    return files;
}

int OpenVfs(const TempDir &dir, const Bytes &index)
{
    WriteAll(dir.file("content.vfi"), index);
    WriteAll(dir.file("data0.vfs"), Bytes(64, 0));
    CZarnikArchive archive;
    if (!archive.Open(Backslashed(dir.file("data0.vfs"))))
        return -1;
    return static_cast<int>(Dump(archive).size());
}

} // namespace

TEST(ArchiveDamaged, SinglePackCutAtEveryByte)
{
    TempDir dir;
    CheckRecorder quiet;
    const Bytes pack = zarnik_pack::BuildUpk(Entries());
    ASSERT_EQ(OpenUpk(dir, pack), 3);
    // The table is the last chunk; a cut inside it keeps the whole entries
    // before the cut and drops the rest.
    const size_t firstEntryEnd = 8 + zarnik_pack::GetU32(pack, 4) + 8 + 20 + sizeof "content\\one.txt";
    int previous = -1;
    for (size_t cut = 0; cut < pack.size(); ++cut) {
        Bytes damaged(pack.begin(), pack.begin() + cut);
        const int files = OpenUpk(dir, damaged);
        if (cut < firstEntryEnd) {
            EXPECT_EQ(files, -1) << cut;
        } else {
            EXPECT_GE(files, std::max(previous, 1)) << cut; // more bytes never mean fewer entries
        }
        EXPECT_LE(files, 3) << cut;
        previous = files;
    }
}

TEST(ArchiveDamaged, IndexCutAtEveryByteAndTinyIndexes)
{
    TempDir dir;
    CheckRecorder quiet;
    const Bytes index = zarnik_pack::BuildVfs(Entries()).index;
    const int whole = OpenVfs(dir, index);
    ASSERT_GT(whole, 0);
    for (size_t cut = 0; cut < index.size(); ++cut) {
        const int result = OpenVfs(dir, Bytes(index.begin(), index.begin() + cut));
        EXPECT_LE(result, whole) << cut;
        if (cut < 8) {
            EXPECT_EQ(result, -1) << cut; // 1 to 7 bytes: no chunk at all
        }
    }
    // 1 to 7 bytes after the last chunk change nothing.
    for (size_t extra = 1; extra < 8; ++extra) {
        Bytes longer = index;
        longer.insert(longer.end(), extra, 0xEE);
        EXPECT_EQ(OpenVfs(dir, longer), whole) << extra;
    }
}

TEST(ArchiveDamaged, IndexChunksWithImpossibleNumbers)
{
    TempDir dir;
    CheckRecorder quiet;
    const Bytes good = zarnik_pack::BuildVfs(Entries()).index;
    // Chunk data starts at 8: [8] unknown, [12] M, [16] name.
    for (uint32_t m : {0u, 1u, 3u, 4u, 0xFFFFFFFFu, 0x80000000u, 300u}) {
        Bytes bad = good;
        zarnik_pack::PutU32(bad, 12, m);
        EXPECT_EQ(OpenVfs(dir, bad), -1) << m;
    }
    // A chunk too short for its own two numbers.
    Bytes shortChunk;
    zarnik_pack::AppendChunk(shortChunk, 0, {1, 2, 3});
    shortChunk.insert(shortChunk.end(), good.begin(), good.end());
    EXPECT_GT(OpenVfs(dir, shortChunk), 0);
    // A chunk size that runs past the end is cut; the entries present count.
    Bytes lying = good;
    zarnik_pack::PutU32(lying, 4, 0xFFFFFF00u);
    EXPECT_GT(OpenVfs(dir, lying), 0);
}

TEST(ArchiveDamaged, EntryNamesAndTablesThatDoNotFit)
{
    TempDir dir;
    CheckRecorder quiet;
    // A name longer than a path may be is skipped by its length; the entries
    // around it are kept.
    std::vector<Entry> entries = Entries();
    Entry longName = MakeEntry("content\\" + std::string(300, 'n'), "long");
    entries.insert(entries.begin() + 1, longName);
    EXPECT_EQ(OpenUpk(dir, zarnik_pack::BuildUpk(entries)), 3);

    // Exactly 260 bytes with the terminator is still a name.
    entries[1] = MakeEntry("content\\" + std::string(251, 'n'), "fits");
    EXPECT_EQ(OpenUpk(dir, zarnik_pack::BuildUpk(entries)), 4);

    // An L that runs past the table ends the table there.
    entries = Entries();
    entries[1].nameLength = 0xFFFFFFF0u;
    EXPECT_EQ(OpenUpk(dir, zarnik_pack::BuildUpk(entries)), 1);
    entries[1].nameLength = 0x7FFFFFFFu;
    entries.erase(entries.begin());
    EXPECT_EQ(OpenUpk(dir, zarnik_pack::BuildUpk(entries)), -1);

    // A table ending inside an entry keeps the entries before it.
    Bytes pack = zarnik_pack::BuildUpk(Entries());
    pack.resize(pack.size() - 3);
    EXPECT_EQ(OpenUpk(dir, pack), 2);
}
