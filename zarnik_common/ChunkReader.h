// CChunkReader: read-only reader of a chunked file, or of one chunk of it.
//
// A chunked file is a sequence of chunks (identifier, data size N, N data
// bytes) from its first byte to its last. The reader opens a file mapped
// (every read from one read-only view) or in handle mode (positioned reads),
// keeps one cursor, reads little-endian numbers and byte runs, and walks the
// chunks. A sub-reader covers one chunk's data inside its parent's view and
// owns nothing.
//
// Every byte is treated as hostile: no read leaves the reader's bytes. A read
// that would pass the end delivers zeros for the missing bytes and leaves the
// cursor at the end; a chunk whose size runs past the end is cut to the bytes
// present, and the walk ends after it.
#pragma once

#include <cstdint>
#include <string>

namespace zarnik {
struct PlatformFile;
struct PlatformMapping;
} // namespace zarnik

class CChunkReader
{
public:
    static constexpr uint32_t kNoChunk = 0xFFFFFFFFu;

    CChunkReader();
    virtual ~CChunkReader();

    CChunkReader(const CChunkReader &) = delete;
    CChunkReader &operator=(const CChunkReader &) = delete;

    // Opens the file read-only; mapped or handle mode. Files of 4 GiB or
    // more do not fit the 32-bit positions and are refused.
    bool Open(const std::string &path, bool mapped);

    // Enters the next chunk and returns its identifier, or kNoChunk when no
    // further chunk header fits. Attaches `sub` to the chunk's data when it
    // is not null (mapped readers only).
    uint32_t NextChunk(CChunkReader *sub);

    uint32_t ChunkId() const { return m_ChunkId; }
    // True while a chunk entered by NextChunk is current.
    bool InChunk() const { return m_InChunk; }
    uint32_t ReadU32();
    void Read(void *buffer, uint32_t count);
    uint32_t Remaining() const { return m_Pos < m_Size ? m_Size - m_Pos : 0; }
    // At or past the end: a loop that reads until Eof() ends even after a
    // Seek beyond the last byte.
    bool Eof() const { return m_Pos >= m_Size; }
    void Seek(uint32_t pos) { m_Pos = pos; }
    void Rewind() { Seek(0); }
    void Skip(uint32_t count);

    uint32_t Size() const { return m_Size; }
    uint32_t Position() const { return m_Pos; }
    bool IsMapped() const { return m_Mapped; }
    // The open file of an owning reader (null in a sub-reader), for copies
    // that need not pass through memory.
    zarnik::PlatformFile *File() const { return m_File; }
    // The first byte the reader covers (mapped readers), for callers that
    // decode in place after checking Remaining().
    const unsigned char *Data() const { return m_Data; }

private:
    bool m_Mapped;
    bool m_Owner;
    zarnik::PlatformFile *m_File;
    zarnik::PlatformMapping *m_Memory;
    uint32_t m_Size;
    const unsigned char *m_Data;
    uint32_t m_Pos;
    bool m_InChunk;
    uint32_t m_ChunkId;
    uint32_t m_ChunkStart;
    uint32_t m_ChunkSize;
};
