#include "ChunkReader.h"

#include "ByteOrder.h"
#include "FileSource.h"
#include "PackFormat.h"

#include <cstring>
#include <new>

namespace zarnik {

namespace {

// The file is read in steps of this size through a chunk reader's window.
const uint32_t kWindowSize = 1u << 20;

} // namespace

CChunkReader::CChunkReader(const CFileSource &source)
    : m_Source(&source), m_Base(0), m_Size(source.Size()), m_Windowed(false)
{
}

CChunkReader::CChunkReader(const CFileSource &source, uint32_t base, uint32_t size)
    : m_Source(&source), m_Base(base), m_Size(size), m_Windowed(true)
{
}

uint32_t CChunkReader::NextChunk()
{
    if (m_InChunk) {
        // m_ChunkSize was cut to the bytes present, so this cannot overflow.
        m_Pos = m_ChunkStart + m_ChunkSize;
        m_InChunk = false;
    }
    packformat::ChunkHeader chunk;
    if (!packformat::ReadChunkHeader(*this, chunk))
        return packformat::kNoChunk;
    m_ChunkStart = m_Pos;
    m_ChunkSize = chunk.size;
    m_ChunkCut = chunk.cutShort;
    m_InChunk = true;
    return chunk.id;
}

uint32_t CChunkReader::ChunkOffset() const
{
    return m_ChunkStart - packformat::kChunkHeaderSize;
}

CChunkReader CChunkReader::ChunkData() const
{
    return m_InChunk ? CChunkReader(*m_Source, m_Base + m_ChunkStart, m_ChunkSize)
                     : CChunkReader(*m_Source, m_Base, 0);
}

uint32_t CChunkReader::ReadAt(uint32_t position, void *buffer, uint32_t count)
{
    if (position >= m_Size)
        return 0;
    if (count > m_Size - position)
        count = m_Size - position;
    if (!m_Windowed || count >= kWindowSize)
        return m_Source->ReadAt(m_Base + position, buffer, count);

    if (position < m_WindowStart || position - m_WindowStart + uint64_t(count) > m_WindowLength) {
        if (!m_Window)
            m_Window.reset(new (std::nothrow) unsigned char[kWindowSize]);
        if (!m_Window)
            return m_Source->ReadAt(m_Base + position, buffer, count);
        const uint32_t want = m_Size - position < kWindowSize ? m_Size - position : kWindowSize;
        m_WindowStart = position;
        // Bytes that are gone by now (the file shrank) are simply missing.
        m_WindowLength = m_Source->ReadAt(m_Base + position, m_Window.get(), want);
        if (count > m_WindowLength)
            count = m_WindowLength;
    }
    std::memcpy(buffer, m_Window.get() + (position - m_WindowStart), count);
    return count;
}

void CChunkReader::ReadBeyondWindow(void *buffer, uint32_t count)
{
    const uint32_t available = Remaining();
    const uint32_t take = count < available ? count : available;
    const uint32_t got = take > 0 ? ReadAt(m_Pos, buffer, take) : 0;
    if (got < count)
        std::memset(static_cast<unsigned char *>(buffer) + got, 0, count - got);
    // Past the end the cursor rests at the end; within it, it advances.
    if (count <= available)
        m_Pos += count;
    else if (m_Pos < m_Size)
        m_Pos = m_Size;
}

uint32_t CChunkReader::ReadU32()
{
    unsigned char b[4];
    Read(b, 4);
    return LittleEndian32(b);
}

void CChunkReader::Skip(uint32_t count)
{
    const uint32_t available = Remaining();
    if (available == 0)
        return;
    m_Pos += count < available ? count : available;
}

} // namespace zarnik
