// CChunkReader: read-only reader of a chunked file, or of one chunk of it.
//
// A chunked file is a sequence of chunks (identifier, data size N, N data
// bytes) from its first byte to its last. The reader opens a file, keeps one
// cursor, reads little-endian numbers and byte runs with positioned reads,
// and walks the chunks. In mapped mode the walk can attach a sub-reader to a
// chunk's bytes, which it reads through a window of its own. Nothing is
// mapped: a file cut short or rewritten by another program while it is open
// is only ever seen as bytes that are missing, never as a fault.
//
// Every byte is treated as hostile: no read leaves the reader's bytes. A read
// that would pass the end delivers zeros for the missing bytes and leaves the
// cursor at the end; a chunk whose size runs past the end is cut to the bytes
// present, and the walk ends after it.
#pragma once

#include <cstdint>
#include <string>

#include <memory>

namespace zarnik {

struct PlatformFile;

class CChunkReader
{
public:
    static constexpr uint32_t kNoChunk = 0xFFFFFFFFu;

    CChunkReader();
    virtual ~CChunkReader();

    CChunkReader(const CChunkReader &) = delete;
    CChunkReader &operator=(const CChunkReader &) = delete;

    // Opens the file read-only; mapped or handle mode. An empty file has
    // nothing to map. Files of 4 GiB or more do not fit the 32-bit positions
    // and are refused.
    bool Open(const std::string &path, bool mapped);

    // Enters the next chunk and returns its identifier, or kNoChunk when no
    // further chunk header fits. Attaches `sub` to the chunk's data when it
    // is not null (mapped readers only); the sub-reader reads from this
    // reader's file and must not outlive it.
    uint32_t NextChunk(CChunkReader *sub);

    uint32_t ChunkId() const { return m_ChunkId; }
    // True while a chunk entered by NextChunk is current.
    bool InChunk() const { return m_InChunk; }
    // Where the current chunk's header starts.
    uint32_t ChunkOffset() const { return m_ChunkStart - 8; }
    // True when the current chunk's size ran past the end and was cut.
    bool ChunkCutShort() const { return m_ChunkCut; }
    uint32_t ReadU32();
    void Read(void *buffer, uint32_t count);
    uint32_t Remaining() const { return m_Pos < m_Size ? m_Size - m_Pos : 0; }
    // At or past the end: a loop that reads until Eof() ends even after a
    // Seek beyond the last byte.
    bool Eof() const { return m_Pos >= m_Size; }
    void Seek(uint32_t pos) { m_Pos = pos; }
    void Skip(uint32_t count);

    uint32_t Size() const { return m_Size; }
    uint32_t Position() const { return m_Pos; }
    // Reads up to `count` bytes at `position` without moving the cursor;
    // returns the number delivered. On a reader that owns its file, safe
    // from several threads at once.
    uint32_t ReadAt(uint32_t position, void *buffer, uint32_t count) const;

    // The open file of an owning reader (null in a sub-reader), for copies
    // that need not pass through memory.
    PlatformFile *File() const { return m_File; }

private:
    bool m_Mapped;
    bool m_Owner;
    PlatformFile *m_File; // owned, or a sub-reader's parent's
    uint32_t m_Base;              // where a sub-reader's bytes start in m_File
    // A sub-reader's window on its bytes: entries are read a few bytes at a
    // time, the file in large steps.
    mutable std::unique_ptr<unsigned char[]> m_Window;
    mutable uint32_t m_WindowStart;
    mutable uint32_t m_WindowLength;
    uint32_t m_Size;
    uint32_t m_Pos;
    bool m_InChunk;
    bool m_ChunkCut;
    uint32_t m_ChunkId;
    uint32_t m_ChunkStart;
    uint32_t m_ChunkSize;
};

} // namespace zarnik
