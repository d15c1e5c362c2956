#include "OutputFile.h"

namespace zarnik_pack {

OutputFile::OutputFile(zarnik::PlatformDirectory *folder, const std::string &name, LeftOver *leftOver)
    : m_Folder(folder), m_Name(name), m_LeftOver(leftOver)
{
    m_File = zarnik::PlatformCreateTemporary(folder, name, &m_TempName);
    if (!m_File) {
        m_Failure = zarnik::PlatformLastFailure();
        m_TempName.clear();
    }
    m_Sink = std::make_unique<FileSink>(m_File);
}

OutputFile::~OutputFile()
{
    Discard();
}

void OutputFile::Discard()
{
    Close();
    if (!m_Published && !m_TempName.empty() && !zarnik::PlatformRemoveAt(m_Folder, m_TempName) && m_LeftOver)
        m_LeftOver->Note(m_TempName);
    if (!m_Published)
        m_TempName.clear();
}

bool OutputFile::TakeAccessOf(zarnik::PlatformFile *original)
{
    if (m_File && zarnik::PlatformCopyAccess(original, m_File))
        return true;
    m_Failure = zarnik::PlatformLastFailure();
    return false;
}

bool OutputFile::Close(bool sync)
{
    if (!m_File)
        return m_Closed && m_Sound;
    zarnik::PlatformFile *const file = m_File;
    m_File = nullptr;
    m_Closed = true;
    if (m_Sink->Failed()) {
        m_Failure = m_Sink->Failure();
        m_Sound = false;
    } else if (sync && !zarnik::PlatformFlush(file)) {
        m_Failure = zarnik::PlatformLastFailure();
        m_Sound = false;
    }
    // A failed close may have lost written bytes: such a file is never
    // published.
    if (!zarnik::PlatformCloseWritten(file)) {
        if (m_Sound)
            m_Failure = zarnik::PlatformLastFailure();
        m_Sound = false;
    }
    return m_Sound;
}

bool OutputFile::Publish()
{
    if (m_Published)
        return true;
    if (!Close() || m_TempName.empty())
        return false;
    if (!zarnik::PlatformPublish(m_Folder, m_TempName, m_Name)) {
        m_Failure = zarnik::PlatformLastFailure();
        Discard();
        m_Sound = false;
        return false;
    }
    m_Published = true;
    return true;
}

bool OutputFile::PublishOver()
{
    if (m_Published)
        return true;
    if (!Close() || m_TempName.empty())
        return false;
    if (!zarnik::PlatformReplace(m_Folder, m_TempName, m_Name)) {
        m_Failure = zarnik::PlatformLastFailure();
        return false;
    }
    m_Published = true;
    return true;
}

void OutputFile::Withdraw()
{
    if (!m_Published)
        return;
    if (!zarnik::PlatformRemoveAt(m_Folder, m_Name) && m_LeftOver)
        m_LeftOver->Note(m_Name);
    m_Published = false;
    m_TempName.clear();
}

bool WriteNewFile(const std::string &path, const Bytes &bytes, zarnik::PlatformFailure *failure)
{
    const size_t separator = zarnik::PlatformLastSeparator(path);
    const std::string folderPath = separator == std::string::npos ? "." : path.substr(0, separator + 1);
    const std::string name = path.substr(separator == std::string::npos ? 0 : separator + 1);
    std::unique_ptr<zarnik::PlatformDirectory, void (*)(zarnik::PlatformDirectory *)> folder(
        zarnik::PlatformOpenDirectory(folderPath), zarnik::PlatformCloseDirectory);
    if (!folder) {
        if (failure)
            *failure = zarnik::PlatformLastFailure();
        return false;
    }
    OutputFile file(folder.get(), name);
    const bool written = file.Created() && file.Sink().Append(bytes) && file.Publish();
    if (!written && failure)
        *failure = file.Failure();
    return written;
}

} // namespace zarnik_pack
