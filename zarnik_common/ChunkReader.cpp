#include "ChunkReader.h"

#include "Check.h"
#include "PlatformFile.h"

#include <cstring>

using namespace zarnik;

CChunkReader::CChunkReader()
    : m_Mapped(true), m_Owner(false), m_File(nullptr), m_Memory(nullptr), m_Size(0),
      m_Data(nullptr), m_Pos(0), m_InChunk(false), m_ChunkId(0), m_ChunkStart(0), m_ChunkSize(0)
{
}

CChunkReader::~CChunkReader()
{
    if (!m_Owner)
        return;
    if (m_Data) {
        PlatformUnmapView(m_Memory, m_Data);
        m_Data = nullptr;
    }
    if (m_Memory) {
        PlatformCloseMapping(m_Memory);
        m_Memory = nullptr;
    }
    if (m_File) {
        PlatformClose(m_File);
        m_File = nullptr;
    }
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

    if (!m_Mapped)
        return true;

    m_Memory = PlatformCreateMapping(m_File, size);
    if (!ZARNIK_CHECK(m_Memory != NULL))
        return false;
    m_Data = PlatformMapView(m_Memory, m_Size);
    if (!ZARNIK_CHECK(m_Data != NULL))
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
    if (m_ChunkSize > Remaining())
        m_ChunkSize = Remaining();
    m_InChunk = true;

    if (sub && m_Mapped && m_Data) {
        sub->m_Owner = false;
        sub->m_Size = m_ChunkSize;
        sub->m_Data = m_Data + m_ChunkStart;
        sub->m_Pos = 0;
        sub->m_InChunk = false;
        sub->m_ChunkId = m_ChunkId;
        sub->m_ChunkStart = 0;
        sub->m_ChunkSize = m_ChunkSize;
    }
    return m_ChunkId;
}

void CChunkReader::Read(void *buffer, uint32_t count)
{
    const uint32_t available = Remaining();
    const uint32_t take = count < available ? count : available;
    uint32_t got = 0;
    if (take > 0) {
        if (m_Mapped) {
            if (m_Data) {
                std::memcpy(buffer, m_Data + m_Pos, take);
                got = take;
            }
        } else {
            got = PlatformReadAt(m_File, m_Pos, buffer, take);
        }
    }
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
