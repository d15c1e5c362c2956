// CFileSource and CChunkReader: the chunk walk and its end, readers over a chunk, and reads
// that would leave the reader's bytes.
#include "ChunkReader.h"
#include "FileSource.h"
#include "TestSupport.h"

using namespace testsupport;
using zarnik::CChunkReader;
using zarnik::CFileSource;

namespace {

// Two chunks, then 3 bytes too few for a header.
Bytes TwoChunks()
{
    Bytes file;
    zarnik::packformat::AppendChunk(file, 7, {1, 2, 3, 4, 5});
    zarnik::packformat::AppendChunk(file, 0x01020304, {});
    file.insert(file.end(), {9, 8, 7});
    return file;
}

} // namespace

TEST(ChunkReader, AChunksReaderCoversExactlyItsChunkAndReadsPastAnEndGiveZeros)
{
    TempDir dir;
    WriteAll(dir.file("f.bin"), TwoChunks());
    CFileSource source;
    ASSERT_TRUE(source.Open(dir.file("f.bin"), true));
    CChunkReader reader(source);
    EXPECT_EQ(reader.NextChunk(), 7u);
    EXPECT_EQ(reader.ReadU32(), 0x04030201u);
    CChunkReader sub = reader.ChunkData();
    sub.Skip(4);
    unsigned char buf[8] = {0x77, 0x77};
    sub.Read(buf, 2);
    EXPECT_TRUE(buf[0] == 5 && buf[1] == 0 && sub.Remaining() == 0);
    // A chunk left half read: the next one starts after it all the same.
    EXPECT_EQ(reader.NextChunk(), 0x01020304u);
    EXPECT_EQ(reader.Remaining(), 3u);
    EXPECT_EQ(reader.NextChunk(), zarnik::packformat::kNoChunk);
    // The cursor stays at the end.
    reader.Skip(1);
    EXPECT_EQ(reader.ReadU32(), 0x0708u);
    EXPECT_EQ(reader.Remaining(), 0u);
}

TEST(ChunkReader, AChunkRunningPastTheEndIsCutToWhatIsThereAndEndsTheWalk)
{
    TempDir dir;
    Bytes file = TwoChunks();
    file.resize(21);
    zarnik::packformat::AppendU32(file, 5);
    zarnik::packformat::AppendU32(file, 0xFFFFFFF0u);
    file.insert(file.end(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    WriteAll(dir.file("cut.bin"), file);
    WriteAll(dir.file("f.bin"), TwoChunks());
    // Opened again: the second file's bytes and size are read.
    CFileSource source;
    ASSERT_TRUE(source.Open(dir.file("f.bin"), true) && source.Open(dir.file("cut.bin"), false));
    CChunkReader cut(source);
    EXPECT_EQ(cut.NextChunk(), 7u);
    EXPECT_EQ(cut.NextChunk(), 0x01020304u);
    EXPECT_EQ(cut.NextChunk(), 5u);
    EXPECT_TRUE(cut.ChunkCutShort());
    CChunkReader sub = cut.ChunkData();
    unsigned char buf[8];
    sub.Read(buf, 8);
    sub.Read(buf, 4);
    EXPECT_TRUE(buf[1] == 10 && buf[2] == 0 && sub.Remaining() == 0);
    EXPECT_EQ(cut.NextChunk(), zarnik::packformat::kNoChunk);
}

TEST(ChunkReader, AnEmptyFileHasNoChunkAndIsRefusedWhereAPackIsWanted)
{
    TempDir dir;
    WriteAll(dir.file("empty"), {});
    CFileSource source;
    ASSERT_TRUE(source.Open(dir.file("empty"), false));
    EXPECT_EQ(CChunkReader(source).NextChunk(), zarnik::packformat::kNoChunk);
    CheckRecorder checks;
    EXPECT_FALSE(source.Open(dir.file("empty"), true));
}

TEST(ChunkReader, PositionsAre32BitTo4GiBLessOne)
{
    // Sparse files take no disk space.
    TempDir dir;
    const std::string path = dir.file("huge.bin");
    WriteAll(path, {'x'});
    fs::resize_file(path, 0x100000000ull);
    CFileSource source;
    EXPECT_FALSE(source.Open(path, false));
    fs::resize_file(path, 0xFFFFFFFFull);
    ASSERT_TRUE(source.Open(path, false));
    CChunkReader last(source);
    last.Skip(0xFFFFFFFBu);
    EXPECT_TRUE(last.ReadU32() == 0u && last.Remaining() == 0u);
}
