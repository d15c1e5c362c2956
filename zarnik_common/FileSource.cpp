#include "FileSource.h"

#include "Check.h"
#include "PackFormat.h"
#include "PlatformFile.h"

namespace zarnik {

CFileSource::~CFileSource()
{
    PlatformClose(m_File);
}

bool CFileSource::Open(const std::string &path, bool refuseEmpty)
{
    PlatformClose(m_File);
    m_Size = 0;
    m_File = PlatformOpenRead(path);
    if (m_File == NULL)
        return false;

    const bool result = PlatformStampOf(m_File, &m_Stamp);
    if (!ZARNIK_CHECK_TEXT(result, "the file's size can be read"))
        return false;
    // Positions are 32-bit: a file of 4 GiB or more cannot be addressed.
    if (m_Stamp.size > packformat::kMaxPackSize)
        return false;
    m_Size = static_cast<uint32_t>(m_Stamp.size);

    if (refuseEmpty && !ZARNIK_CHECK_TEXT(m_Size != 0, "the file is not empty"))
        return false;
    return true;
}

bool CFileSource::Changed() const
{
    PlatformFileStamp now;
    return !PlatformStampOf(m_File, &now) || now != m_Stamp;
}

uint32_t CFileSource::ReadAt(uint32_t position, void *buffer, uint32_t count) const
{
    if (position >= m_Size)
        return 0;
    if (count > m_Size - position)
        count = m_Size - position;
    return PlatformReadAt(m_File, position, buffer, count);
}

} // namespace zarnik
