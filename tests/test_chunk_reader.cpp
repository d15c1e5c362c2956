// CChunkReader: chunk walking, its end rules in both modes, sub-readers and
// reads that would leave the reader's bytes.
#include "ChunkReader.h"
#include "TestSupport.h"

using namespace testsupport;
using zarnik_pack::AppendChunk;
using zarnik_pack::Bytes;

namespace {

Bytes TwoChunks()
{
    Bytes file;
    AppendChunk(file, 7, {1, 2, 3, 4, 5});
    AppendChunk(file, 0x01020304, {});
    return file;
}

class ChunkReaderModes : public ::testing::TestWithParam<bool>
{
};

} // namespace

TEST_P(ChunkReaderModes, WalksChunksEndsCleanlyAndReadsStopAtTheEnd)
{
    const bool mapped = GetParam();
    TempDir dir;
    Bytes file = TwoChunks();
    file.insert(file.end(), {9, 8, 7}); // 3 bytes after the last chunk
    WriteAll(dir.file("f.bin"), file);

    CChunkReader reader, sub;
    ASSERT_TRUE(reader.Open(Backslashed(dir.file("f.bin")), mapped));
    EXPECT_EQ(reader.Size(), file.size());
    EXPECT_EQ(reader.NextChunk(mapped ? &sub : nullptr), 7u);
    EXPECT_EQ(reader.Position(), 8u);
    EXPECT_EQ(reader.ReadU32(), 0x04030201u);
    if (mapped) {
        // A sub-reader covers exactly its chunk.
        EXPECT_EQ(sub.ChunkId(), 7u);
        EXPECT_EQ(sub.Size(), 5u);
        sub.Skip(4);
        unsigned char last = 0;
        sub.Read(&last, 1);
        EXPECT_EQ(last, 5);
        EXPECT_TRUE(sub.Eof());
    }
    // Leaving a chunk half read: the next walk step starts after it anyway.
    // A chunk of 0 bytes re-attaches the sub-reader, at its end at once.
    EXPECT_EQ(reader.NextChunk(mapped ? &sub : nullptr), 0x01020304u);
    EXPECT_EQ(reader.Position(), 21u);
    if (mapped) {
        EXPECT_EQ(sub.Size(), 0u);
        EXPECT_TRUE(sub.Eof());
    }
    // Trailing bytes too short for a header: the walk ends but not at Eof,
    // and leaves the sub-reader on its old chunk.
    EXPECT_EQ(reader.NextChunk(mapped ? &sub : nullptr), CChunkReader::kNoChunk);
    EXPECT_FALSE(reader.Eof());
    EXPECT_EQ(reader.Remaining(), 3u);
    EXPECT_EQ(reader.ChunkId(), 0x01020304u);
    if (mapped)
        EXPECT_EQ(sub.ChunkId(), 0x01020304u);
    EXPECT_EQ(reader.NextChunk(nullptr), CChunkReader::kNoChunk);

    // Reads past the end give zeros and stop at the end.
    unsigned char buf[8];
    std::memset(buf, 0x77, sizeof buf);
    reader.Read(buf, 8);
    const unsigned char expected[8] = {9, 8, 7, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(buf, expected, 8));
    EXPECT_TRUE(reader.Eof());
    reader.Seek(file.size() - 2);
    EXPECT_EQ(reader.ReadU32(), 0x0708u);
    EXPECT_EQ(reader.Position(), file.size());

    // Moving: Skip clamps, Seek does not.
    reader.Seek(20);
    reader.Skip(100);
    EXPECT_EQ(reader.Position(), file.size());
    reader.Seek(1000);
    EXPECT_EQ(reader.Position(), 1000u);
    EXPECT_EQ(reader.Remaining(), 0u);
    reader.Rewind();
    EXPECT_EQ(reader.ReadU32(), 7u);
}
TEST_P(ChunkReaderModes, ChunkRunningPastTheEndIsCutAndEndsTheWalk)
{
    const bool mapped = GetParam();
    TempDir dir;
    Bytes file;
    AppendChunk(file, 1, {1, 2, 3});
    file.resize(file.size() + 4, 0x55);
    zarnik_pack::AppendU32(file, 5);
    zarnik_pack::AppendU32(file, 0xFFFFFFF0u); // claims ~4 GiB
    file.insert(file.end(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    // The first chunk claims 3 bytes but 7 follow: the next header is at 11.
    zarnik_pack::PutU32(file, 4, 7);
    WriteAll(dir.file("f.bin"), file);

    CChunkReader reader;
    ASSERT_TRUE(reader.Open(dir.file("f.bin"), mapped));
    CChunkReader sub;
    EXPECT_EQ(reader.NextChunk(mapped ? &sub : nullptr), 1u);
    EXPECT_EQ(reader.NextChunk(mapped ? &sub : nullptr), 5u);
    if (mapped) {
        EXPECT_EQ(sub.Size(), 10u);
        EXPECT_EQ(sub.ChunkId(), 5u);
        unsigned char buf[16];
        sub.Read(buf, 16);
        EXPECT_EQ(buf[9], 10);
        EXPECT_EQ(buf[10], 0);
        EXPECT_TRUE(sub.Eof());
    }
    EXPECT_EQ(reader.NextChunk(nullptr), CChunkReader::kNoChunk);
    EXPECT_TRUE(reader.Eof());
}

INSTANTIATE_TEST_SUITE_P(BothModes, ChunkReaderModes, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "Mapped" : "Handle";
                         });

TEST(ChunkReader, EmptyMissingAndFourGibibyteFiles)
{
    TempDir dir;
    WriteAll(dir.file("empty"), {});
    {
        CChunkReader handle;
        ASSERT_TRUE(handle.Open(dir.file("empty"), false));
        EXPECT_TRUE(handle.Eof());
        EXPECT_EQ(handle.NextChunk(nullptr), CChunkReader::kNoChunk);
    }
    {
        CheckRecorder checks;
        CChunkReader mapped;
        EXPECT_FALSE(mapped.Open(dir.file("empty"), true));
        EXPECT_EQ(checks.fired(), std::vector<std::string>{"m_Memory != NULL"});
    }
    {
        CheckRecorder checks;
        CChunkReader missing;
        EXPECT_FALSE(missing.Open(dir.file("nothing-here"), true));
        EXPECT_FALSE(missing.Open(dir.str(), false)); // a directory is no pack
        EXPECT_TRUE(checks.fired().empty());
    }

    // Files of 4 GiB or more are refused.
    const std::string path = dir.file("huge.bin");
    {
        std::ofstream out(path, std::ios::binary);
        out.put('x');
    }
    // A sparse file: no disk space is used.
    std::filesystem::resize_file(path, 0x100000000ull + 16);
    CChunkReader mapped, handle;
    EXPECT_FALSE(mapped.Open(path, true));
    EXPECT_FALSE(handle.Open(path, false));

    std::filesystem::resize_file(path, 0xFFFFFFFFull);
    CChunkReader justFits;
    ASSERT_TRUE(justFits.Open(path, false));
    EXPECT_EQ(justFits.Size(), 0xFFFFFFFFu);
    justFits.Seek(0xFFFFFFFBu);
    EXPECT_EQ(justFits.ReadU32(), 0u);
    EXPECT_EQ(justFits.Remaining(), 0u);
}
