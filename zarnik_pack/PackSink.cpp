#include "PackSink.h"

#include "Compressor.h"

#include <algorithm>

namespace zarnik_pack {

bool PackSink::Note(bool succeeded, uint64_t appended)
{
    m_Failed = m_Failed || !succeeded;
    if (!m_Failed)
        m_Size += appended;
    return !m_Failed;
}

bool PackSink::Append(const unsigned char *data, size_t size)
{
    return Note(!m_Failed && DoAppend(data, size), size);
}

bool PackSink::AppendFrom(zarnik::PlatformFile *source, uint64_t offset, uint64_t count)
{
    if (m_Failed)
        return false;
    const uint64_t copied = DoAppendFrom(source, offset, count);
    // Bytes a short copy did write count all the same: they are in the file.
    m_Size += copied;
    return Note(copied == count, 0);
}

bool PackSink::Overwrite(uint64_t at, const unsigned char *data, size_t size)
{
    return Note(!m_Failed && at <= m_Size && size <= m_Size - at && DoOverwrite(at, data, size), 0);
}

uint64_t PackSink::DoAppendFrom(zarnik::PlatformFile *source, uint64_t offset, uint64_t count)
{
    Bytes buffer(static_cast<size_t>(std::min<uint64_t>(count, kDefaultBlockSize)));
    uint64_t done = 0;
    while (done < count) {
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(buffer.size(), count - done));
        const uint32_t got = zarnik::PlatformReadAt(source, offset + done, buffer.data(), want);
        if (got != want) {
            SetFailure(zarnik::PlatformLastFailure(), true);
            return done;
        }
        if (!DoAppend(buffer.data(), got))
            return done;
        done += got;
    }
    return done;
}

bool MemorySink::DoAppend(const unsigned char *data, size_t size)
{
    m_Bytes.insert(m_Bytes.end(), data, data + size);
    return true;
}

bool MemorySink::DoOverwrite(uint64_t at, const unsigned char *data, size_t size)
{
    std::copy(data, data + size, m_Bytes.begin() + static_cast<ptrdiff_t>(at));
    return true;
}

bool FileSink::DoAppend(const unsigned char *data, size_t size)
{
    if (m_File && zarnik::PlatformWriteAll(m_File, data, size))
        return true;
    SetFailure(zarnik::PlatformLastFailure());
    return false;
}

bool FileSink::DoOverwrite(uint64_t at, const unsigned char *data, size_t size)
{
    if (m_File && zarnik::PlatformWriteAt(m_File, at, data, size))
        return true;
    SetFailure(zarnik::PlatformLastFailure());
    return false;
}

uint64_t FileSink::DoAppendFrom(zarnik::PlatformFile *source, uint64_t offset, uint64_t count)
{
    const uint64_t copied = m_File ? zarnik::PlatformCopyRange(source, offset, m_File, count) : 0;
    if (copied != count) {
        // The file layer reports no error when the source ended early.
        const zarnik::PlatformFailure failure = zarnik::PlatformLastFailure();
        SetFailure(failure, failure.kind == zarnik::PlatformError::None);
    }
    return copied;
}

} // namespace zarnik_pack
