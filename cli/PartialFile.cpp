#include "PartialFile.h"

PartialFile::PartialFile(zarnik::PlatformDirectory *folder, const std::string &name)
    : m_Folder(folder), m_Name(name)
{
    m_File = zarnik::PlatformCreateTemporary(folder, name, &m_TempName);
    if (!m_File)
        m_Failure = zarnik::PlatformLastFailure();
}

PartialFile::~PartialFile()
{
    Close(false);
    if (!m_Published && !m_TempName.empty())
        zarnik::PlatformRemoveAt(m_Folder, m_TempName);
}

bool PartialFile::Close(bool sync)
{
    if (!m_File)
        return true;
    bool closed = !sync || zarnik::PlatformFlush(m_File);
    if (!closed)
        m_Failure = zarnik::PlatformLastFailure();
    if (!zarnik::PlatformCloseWritten(m_File) && closed) {
        m_Failure = zarnik::PlatformLastFailure();
        closed = false;
    }
    m_File = nullptr;
    return closed;
}

bool PartialFile::Publish()
{
    m_Published = zarnik::PlatformPublish(m_Folder, m_TempName, m_Name);
    return m_Published;
}

void PartialFile::Unpublish()
{
    zarnik::PlatformRemoveAt(m_Folder, m_Name);
}
