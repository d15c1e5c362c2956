#include "ChunkReader.h"

#include "Check.h"
#include "PlatformFile.h"

#include <cstring>
#include <new>

namespace zarnik {

namespace {

// The file is read in steps of this size through a sub-reader's window.
const uint32_t kWindowSize = 1u << 20;

} // namespace

CChunkReader::CChunkReader()
    : m_Mapped(true), m_Owner(false), m_File(nullptr), m_Base(0), m_WindowStart(0),
      m_WindowLength(0), m_Size(0), m_Pos(0), m_InChunk(false), m_ChunkCut(false), m_ChunkId(0),
      m_ChunkStart(0), m_ChunkSize(0)
{
}

CChunkReader::~CChunkReader()
{
    if (m_Owner)
        PlatformClose(m_File);
}

bool CChunkReader::Open(const std::string &path, bool mapped)
{
    m_Mapped = mapped;
    m_Owner = true;

    m_File = PlatformOpenRead(path);
    if (m_File == NULL)
        return false;

    uint64_t size = 0;
    const bool result = PlatformFileSize(m_File, &size);
    if (!ZARNIK_CHECK_TEXT(result, "result != FALSE"))
        return false;
    // Positions are 32-bit: a file of 4 GiB or more cannot be addressed.
    if (size > 0xFFFFFFFFull)
        return false;
    m_Size = static_cast<uint32_t>(size);

    // As with a view of the whole file, an empty one has nothing to map.
    if (m_Mapped && !ZARNIK_CHECK_TEXT(m_Size != 0, "m_Memory != NULL"))
        return false;
    return true;
}

uint32_t CChunkReader::NextChunk(CChunkReader *sub)
{
    if (m_InChunk) {
        // m_ChunkSize was cut to the bytes present, so this cannot overflow.
        m_Pos = m_ChunkStart + m_ChunkSize;
        m_InChunk = false;
    }
    if (Remaining() < 8)
        return kNoChunk;

    m_ChunkId = ReadU32();
    m_ChunkSize = ReadU32();
    m_ChunkStart = m_Pos;
    m_ChunkCut = m_ChunkSize > Remaining();
    if (m_ChunkCut)
        m_ChunkSize = Remaining();
    m_InChunk = true;

    if (sub && m_Mapped) {
        if (sub->m_Owner)
            PlatformClose(sub->m_File);
        sub->m_Owner = false;
        sub->m_File = m_File;
        sub->m_Base = m_Base + m_ChunkStart;
        sub->m_WindowLength = 0;
        sub->m_Size = m_ChunkSize;
        sub->m_Pos = 0;
        sub->m_InChunk = false;
        sub->m_ChunkCut = false;
        sub->m_ChunkId = m_ChunkId;
        sub->m_ChunkStart = 0;
        sub->m_ChunkSize = m_ChunkSize;
    }
    return m_ChunkId;
}

uint32_t CChunkReader::ReadAt(uint32_t position, void *buffer, uint32_t count) const
{
    if (position >= m_Size)
        return 0;
    if (count > m_Size - position)
        count = m_Size - position;
    if (m_Owner || count >= kWindowSize)
        return PlatformReadAt(m_File, uint64_t(m_Base) + position, buffer, count);

    if (position < m_WindowStart || position - m_WindowStart + uint64_t(count) > m_WindowLength) {
        if (!m_Window)
            m_Window.reset(new (std::nothrow) unsigned char[kWindowSize]);
        if (!m_Window)
            return PlatformReadAt(m_File, uint64_t(m_Base) + position, buffer, count);
        const uint32_t want = m_Size - position < kWindowSize ? m_Size - position : kWindowSize;
        m_WindowStart = position;
        // Bytes that are gone by now (the file shrank) are simply missing.
        m_WindowLength = PlatformReadAt(m_File, uint64_t(m_Base) + position, m_Window.get(), want);
        if (count > m_WindowLength)
            count = m_WindowLength;
    }
    std::memcpy(buffer, m_Window.get() + (position - m_WindowStart), count);
    return count;
}

void CChunkReader::Read(void *buffer, uint32_t count)
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
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void CChunkReader::Skip(uint32_t count)
{
    const uint32_t available = Remaining();
    if (available == 0)
        return;
    m_Pos += count < available ? count : available;
}

} // namespace zarnik
