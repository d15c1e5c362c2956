// CChunkReader: a cursor over a chunked file, or over one chunk of it.
//
// A chunked file is a sequence of chunks (identifier, data size N, N data
// bytes) from its first byte to its last. The reader covers a range of a
// CFileSource, keeps one cursor, reads little-endian numbers and byte runs
// with positioned reads, and walks the chunks. ChunkData() gives a reader of
// its own over the current chunk's bytes, which it reads through a window:
// entries are read a few bytes at a time, the file in large steps.
//
// Every byte is treated as hostile: no read leaves the reader's bytes. A read
// that would pass the end delivers zeros for the missing bytes and leaves the
// cursor at the end; a chunk whose size runs past the end is cut to the bytes
// present, and the walk ends after it.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

namespace zarnik {

class CFileSource;

class CChunkReader
{
public:
    // The whole of `source`, which must outlive the reader and every reader
    // made from it.
    explicit CChunkReader(const CFileSource &source);

    CChunkReader(CChunkReader &&) = default;
    CChunkReader &operator=(CChunkReader &&) = default;

    // Enters the next chunk and returns its identifier, or
    // packformat::kNoChunk when no further chunk header fits.
    uint32_t NextChunk();
    // The data of the chunk NextChunk entered, as a reader of its own.
    CChunkReader ChunkData() const;

    // True while a chunk entered by NextChunk is current.
    bool InChunk() const { return m_InChunk; }
    // Where the current chunk's header starts.
    uint32_t ChunkOffset() const;
    // True when the current chunk's size ran past the end and was cut.
    bool ChunkCutShort() const { return m_ChunkCut; }

    uint32_t ReadU32();
    void Read(void *buffer, uint32_t count)
    {
        // Entries are read a few bytes at a time: bytes the window holds are
        // copied without a call.
        if (m_Pos >= m_WindowStart && m_WindowLength > 0 &&
            uint64_t(m_Pos) + count <= uint64_t(m_WindowStart) + m_WindowLength) {
            std::memcpy(buffer, m_Window.get() + (m_Pos - m_WindowStart), count);
            m_Pos += count;
            return;
        }
        ReadBeyondWindow(buffer, count);
    }
    uint32_t Remaining() const { return m_Pos < m_Size ? m_Size - m_Pos : 0; }
    void Skip(uint32_t count);

private:
    CChunkReader(const CFileSource &source, uint32_t base, uint32_t size);
    void ReadBeyondWindow(void *buffer, uint32_t count);
    // Up to `count` bytes at `position` of this reader's range; the number
    // delivered.
    uint32_t ReadAt(uint32_t position, void *buffer, uint32_t count);

    const CFileSource *m_Source;
    uint32_t m_Base; // where this reader's bytes start in the source
    uint32_t m_Size;
    uint32_t m_Pos = 0;
    // A chunk's reader reads through its window; the whole file's does not.
    bool m_Windowed;
    std::unique_ptr<unsigned char[]> m_Window;
    uint32_t m_WindowStart = 0;
    uint32_t m_WindowLength = 0;
    bool m_InChunk = false;
    bool m_ChunkCut = false;
    uint32_t m_ChunkStart = 0;
    uint32_t m_ChunkSize = 0;
};

} // namespace zarnik
