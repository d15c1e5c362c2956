// The pack writer: packs only when strictly smaller, streams in blocks, copies
// stored bytes only whole, and publishes a file whole or not at all.
#include "Compressor.h"
#include "OutputFile.h"
#include "PackWriter.h"
#include "PlatformFaults.h"
#include "PlatformFile.h"
#include "TestSupport.h"

#include <memory>

using namespace testsupport;
using zarnik_pack::Storage;

namespace {

// The first entry of a single pack with one table, as a reader finds it.
struct FirstEntry
{
    uint32_t offset = 0, unpacked = 0, packed = 0;
    Bytes stored;
};

FirstEntry ReadFirstEntry(const Bytes &upk)
{
    const size_t table = 8 + testpack::GetU32(upk, 4) + 8;
    FirstEntry entry{testpack::GetU32(upk, table + 4), testpack::GetU32(upk, table + 8),
                     testpack::GetU32(upk, table + 12), {}};
    if (table + 20 <= upk.size() && entry.offset + uint64_t(entry.packed) <= upk.size())
        entry.stored.assign(upk.begin() + entry.offset, upk.begin() + entry.offset + entry.packed);
    return entry;
}

// Bytes (noise, then a run) whose packed stream is exactly as long as they are.
Bytes PacksToItsOwnLength()
{
    const Bytes noise = Pattern(600, 7);
    for (size_t run = 1; run < 4000; ++run) {
        const Bytes data = noise + Bytes(run, 'z');
        if (zarnik_pack::Compress(data.data(), data.size()).size() == data.size())
            return data;
    }
    return {};
}

struct Streamed
{
    Bytes pack;
    size_t largestRead = 0;
    zarnik_pack::WriteProblem problem = zarnik_pack::WriteProblem::None;
};

// `data` alone in a pack, read through a counting reader failing from `failAt`.
Streamed StreamOne(const Bytes &data, Storage storage, uint64_t failAt = UINT64_MAX)
{
    Streamed out;
    zarnik_pack::MemorySink sink;
    zarnik_pack::UpkWriter writer(sink);
    zarnik_pack::Entry entry;
    entry.path = "content\\big.bin", entry.storage = storage;
    const auto read = [&](uint64_t position, unsigned char *buffer, size_t count) {
        out.largestRead = std::max(out.largestRead, count);
        if (position + count > failAt)
            return false;
        std::copy(data.begin() + position, data.begin() + position + count, buffer);
        return true;
    };
    if (writer.AddStreamed(entry, data.size(), read) && writer.Finish())
        out.pack = sink.Contents();
    out.problem = writer.Problem();
    return out;
}

} // namespace

// Equal sizes read back as "stored as is", so a same-length packed form is never
// kept; an empty file stays packed (stored it would read as a folder).
TEST(PackWriter, StoresWhatPackingDoesNotShrink)
{
    const Bytes even = PacksToItsOwnLength();
    ASSERT_FALSE(even.empty()) << "no input packs to its own length";
    // packed: 1 packed, 0 stored, -1 either (a stream cannot be packed again).
    const struct { const char *what; Bytes data; Storage storage; int packed; } cases[] = {
        {"packs to its own length", even, Storage::Auto, 0},
        {"repeats", zarnik_pack::ToBytes(std::string(3000, 'a')), Storage::Auto, 1},
        {"noise", Pattern(5000), Storage::Auto, 0},
        {"empty, stored", {}, Storage::Stored, 1},
        {"own length, forced packed", even, Storage::Packed, -1},
    };
    for (const auto &c : cases) {
        const std::optional<Bytes> memory = zarnik_pack::BuildUpk({{"content\\f", c.data, c.storage}});
        ASSERT_TRUE(memory) << c.what;
        for (const Bytes &pack : {*memory, StreamOne(c.data, c.storage).pack}) {
            const FirstEntry got = ReadFirstEntry(pack);
            EXPECT_EQ(got.unpacked, c.data.size()) << c.what;
            EXPECT_TRUE(c.packed < 0 || (got.packed != got.unpacked) == (c.packed == 1)) << c.what;
            // Equal sizes: whatever is stored is read as the file itself.
            EXPECT_TRUE(got.packed != got.unpacked || got.stored == c.data) << c.what;
        }
    }
}

// A streamed entry is read a piece at a time, never whole; a failed read finishes no pack.
TEST(PackWriter, StreamsEntriesInBlocks)
{
    const Bytes big = Pattern(3 * zarnik_pack::kDefaultBlockSize + 123) +
                      zarnik_pack::ToBytes(std::string(2 * zarnik_pack::kStreamedReadSize, 'q'));
    for (Storage storage : {Storage::Auto, Storage::Stored}) {
        const Streamed streamed = StreamOne(big, storage);
        EXPECT_LE(streamed.largestRead, zarnik_pack::kStreamedReadSize);
        EXPECT_EQ(streamed.pack, zarnik_pack::BuildUpk({{"content\\big.bin", big, storage}}));

        const Streamed failed = StreamOne(big, storage, big.size() / 2);
        EXPECT_TRUE(failed.pack.empty());
        EXPECT_EQ(failed.problem, zarnik_pack::WriteProblem::ReadFailed);
    }
}

// A save copies a kept entry's stored bytes from the pack into the new file: a source
// that ends before them is a failed read, never a short entry.
TEST(PackWriter, AStoredSourceThatEndsEarlyIsAFailedRead)
{
    TempDir dir;
    WriteAll(dir.file("source"), Pattern(100));
    std::unique_ptr<zarnik::PlatformFile, void (*)(zarnik::PlatformFile *)> source(
        zarnik::PlatformOpenRead(dir.file("source")), zarnik::PlatformClose);
    std::unique_ptr<zarnik::PlatformDirectory, void (*)(zarnik::PlatformDirectory *)> folder(
        zarnik::PlatformOpenDirectory(dir.str()), zarnik::PlatformCloseDirectory);
    ASSERT_TRUE(source && folder);
    zarnik_pack::OutputFile out(folder.get(), "out.upk");
    zarnik_pack::UpkWriter writer(out.Sink());
    EXPECT_TRUE(writer.AddStoredBytes("content\\whole", 100, source.get(), 0, 100));
    EXPECT_FALSE(writer.AddStoredBytes("content\\short", 100, source.get(), 50, 51));
    EXPECT_EQ(writer.Problem(), zarnik_pack::WriteProblem::ReadFailed);
}

// A file whose close failed may have lost written bytes: it never takes its name, and
// no temporary file is left.
TEST(PackWriter, PublishesOnlyWholeFiles)
{
    const auto failingClose = [](zarnik::PlatformStep step, const std::string &) {
        return step == zarnik::PlatformStep::CloseWritten;
    };
    const Bytes bytes = Pattern(1000);
    for (const zarnik::PlatformFaultCall fault : {zarnik::PlatformFaultCall(nullptr), +failingClose}) {
        TempDir dir;
        std::unique_ptr<zarnik::PlatformDirectory, void (*)(zarnik::PlatformDirectory *)> folder(
            zarnik::PlatformOpenDirectory(dir.str()), zarnik::PlatformCloseDirectory);
        ASSERT_TRUE(folder);
        {
            zarnik_pack::OutputFile out(folder.get(), "out.upk");
            zarnik::SetPlatformFault(fault);
            ASSERT_TRUE(out.Created());
            EXPECT_TRUE(out.Sink().Append(bytes));
            EXPECT_EQ(out.Publish(), !fault);
            zarnik::SetPlatformFault(nullptr);
        }
        EXPECT_EQ(FilesBelow(dir.path()), fault ? Files() : Files({{"out.upk", bytes}}));
    }
}

// Bytes counted, never kept: a pack of gigabytes at no cost.
struct CountingSink : zarnik_pack::PackSink
{
    bool DoAppend(const unsigned char *, size_t) override { return true; }
    bool DoOverwrite(uint64_t, const unsigned char *, size_t) override { return true; }
    uint64_t DoAppendFrom(zarnik::PlatformFile *, uint64_t, uint64_t count) override { return count; }
};

// What a reader could not find ends the pack: a name past its 260-byte field,
// or a file table that would end past 4 GiB, stored bytes and all; an entry whose
// own bytes would end there is refused before any of them is written.
TEST(PackWriter, RefusesWhatAReaderCannotFind)
{
    namespace pf = zarnik::packformat;
    using Problem = zarnik_pack::WriteProblem;
    const std::string path = "content\\f";
    // Stored bytes that leave room for the data chunk's header, the table's and its one entry.
    const uint64_t room = pf::kMaxPackSize - 2 * pf::kChunkHeaderSize - pf::EncodedEntrySize(path);
    const struct { std::string path; uint64_t stored; Problem problem; bool added; } cases[] = {
        {"content\\" + std::string(251, 'n'), 0, Problem::None, true},
        {"content\\" + std::string(252, 'n'), 0, Problem::NameTooLong, false},
        {path, room, Problem::None, true},
        {path, room + 1, Problem::TooLarge, true},
        {path, pf::kMaxPackSize - pf::kChunkHeaderSize + 1, Problem::TooLarge, false},
    };
    for (const auto &c : cases) {
        CountingSink sink;
        zarnik_pack::UpkWriter writer(sink);
        // The counting sink reads from no source.
        const bool added = writer.AddStoredBytes(c.path, c.stored, nullptr, 0, c.stored);
        EXPECT_EQ(added, c.added) << c.path.size() << " " << c.stored;
        EXPECT_EQ(added && writer.Finish(), c.problem == Problem::None) << c.path.size() << " " << c.stored;
        EXPECT_EQ(writer.Problem(), c.problem) << c.path.size() << " " << c.stored;
    }
}

// The table kept between a write and its end gives back every entry as it was added, whatever each
// path shares with the one before: all of it, none of it, more than the 127 bytes one count byte
// holds, or a longer path than itself; and a table of many pieces comes out whole.
TEST(PackWriter, KeepsTheTableAsAReaderFindsIt)
{
    namespace pf = zarnik::packformat;
    const std::string deep = "content\\" + std::string(200, 'd') + "\\";
    std::vector<std::string> paths{"content\\a\\b.txt", "content\\a\\b.txt",  "content\\a\\c.txt",
                                   "content\\a",        deep + "x.bin",       deep + "y.bin",
                                   "other\\z",          deep + std::string(40, 'w'), "content\\a\\b"};
    for (int i = 0; i < 3000; ++i)
        paths.push_back("content\\many\\file_" + std::to_string(i * 7919 % 3000) + ".bin");
    zarnik_pack::EntryTable table;
    Bytes expected;
    for (size_t i = 0; i < paths.size(); ++i) {
        const auto n = static_cast<uint32_t>(i);
        table.Add(paths[i], n * 3, 0x01020304u + n, UINT32_MAX - n);
        const Bytes entry = pf::EncodeEntry(paths[i], n * 3, 0x01020304u + n, UINT32_MAX - n);
        expected.insert(expected.end(), entry.begin(), entry.end());
    }
    EXPECT_EQ(table.EncodedSize(), expected.size());
    EXPECT_TRUE(table.Encoded() == expected);
}
