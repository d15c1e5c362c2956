#include "FileBytes.h"

#include "StoredBytes.h"

#include <algorithm>

namespace zarnik {

namespace {

// Bytes read in one step from a data file or a file on disk.
const uint32_t kWindow = 1u << 20;

// A failure known before any byte is read.
class CFailed : public CFileBytes
{
public:
    explicit CFailed(ReadOutcome outcome) : m_Outcome(outcome) {}
    ReadOutcome Next(const unsigned char **, size_t *) override { return m_Outcome; }

private:
    ReadOutcome m_Outcome;
};

// A window-sized buffer, allocated on the first read; its allocation never
// throws.
class CWindowed : public CFileBytes
{
protected:
    unsigned char *Window()
    {
        if (!m_Window)
            m_Window.reset(AllocateBytes(kWindow));
        return m_Window.get();
    }

private:
    std::unique_ptr<unsigned char[]> m_Window;
};

// Stored bytes read as they are.
class CStoredRange : public CWindowed
{
public:
    explicit CStoredRange(PackedStream stream) : m_Stream(std::move(stream)) {}

    ReadOutcome Next(const unsigned char **data, size_t *size) override
    {
        *size = 0;
        if (Stopping())
            return ReadOutcome::Stopped;
        if (m_Done == m_Stream.storedSize)
            return ReadOutcome::Sound;
        if (!Window())
            return ReadOutcome::NoMemory;
        const uint32_t step = uint32_t(std::min<uint64_t>(m_Stream.storedSize - m_Done, kWindow));
        if (m_Stream.read(m_Done, Window(), step) != step)
            return ReadOutcome::Unreadable;
        m_Done += step;
        *data = Window();
        *size = step;
        return ReadOutcome::Sound;
    }

private:
    PackedStream m_Stream;
    uint64_t m_Done = 0;
};

// A packed stream decoded one range of its block index at a time.
class CPackedRanges : public CFileBytes
{
public:
    explicit CPackedRanges(PackedStream stream) : m_Stream(std::move(stream)) {}

    ReadOutcome Next(const unsigned char **data, size_t *size) override
    {
        *size = 0;
        if (!m_Indexed) {
            m_Index.Build(m_Stream);
            m_Indexed = true;
        }
        if (Stopping())
            return ReadOutcome::Stopped;
        const auto &entries = m_Index.Entries();
        if (m_Range == entries.size())
            // Past the blocks indexed: the end, or what ended the index.
            return ReadOutcomeOf(m_Index.Outcome());
        uint64_t sound = 0;
        const StreamOutcome outcome =
            DecodeBlockRange(m_Stream, entries[m_Range], m_Index.RangeEnd(m_Range), m_Buffers, nullptr, &sound);
        if (outcome != StreamOutcome::Sound)
            return ReadOutcomeOf(outcome);
        ++m_Range;
        *data = m_Buffers.decoded.Data();
        *size = size_t(sound);
        return ReadOutcome::Sound;
    }

private:
    PackedStream m_Stream;
    CBlockIndex m_Index;
    bool m_Indexed = false;
    size_t m_Range = 0;
    BlockRangeBuffers m_Buffers;
};

// A file on disk, which must hold the bytes its listing gave it.
class CDiskFile : public CWindowed
{
public:
    CDiskFile(const std::string &path, uint64_t size) : m_File(PlatformOpenRead(path)), m_Size(size)
    {
        uint64_t now = 0;
        if (!m_File)
            m_Reason = PlatformLastFailure().text;
        else if (!PlatformFileSize(m_File, &now) || now != m_Size)
            m_Reason = "it changed while it was compared";
    }
    ~CDiskFile() override
    {
        if (m_File)
            PlatformClose(m_File);
    }

    ReadOutcome Next(const unsigned char **data, size_t *size) override
    {
        *size = 0;
        if (!m_Reason.empty())
            return ReadOutcome::Unreadable;
        if (Stopping())
            return ReadOutcome::Stopped;
        if (m_Done == m_Size)
            return ReadOutcome::Sound;
        if (!Window())
            return ReadOutcome::NoMemory;
        const uint32_t step = uint32_t(std::min<uint64_t>(m_Size - m_Done, kWindow));
        if (PlatformReadAt(m_File, m_Done, Window(), step) != step) {
            m_Reason = PlatformLastError() == PlatformError::None ? "it changed while it was compared"
                                                                 : PlatformLastFailure().text;
            return ReadOutcome::Unreadable;
        }
        m_Done += step;
        *data = Window();
        *size = step;
        return ReadOutcome::Sound;
    }

private:
    PlatformFile *m_File;
    const uint64_t m_Size;
    uint64_t m_Done = 0;
};

} // namespace

std::unique_ptr<CFileBytes> CFileBytes::Unpacked(const CZarnikArchive &archive, const ArchiveNode &node)
{
    const ReadOutcome range = archive.StoredRangeOutcome(node);
    if (range != ReadOutcome::Sound)
        return std::make_unique<CFailed>(range);
    if (!node.IsPacked())
        return std::make_unique<CStoredRange>(archive.StoredStreamOf(node));
    return std::make_unique<CPackedRanges>(archive.StoredStreamOf(node));
}

std::unique_ptr<CFileBytes> CFileBytes::Stored(const CZarnikArchive &archive, const ArchiveNode &node)
{
    const ReadOutcome range = archive.StoredRangeOutcome(node);
    if (range != ReadOutcome::Sound)
        return std::make_unique<CFailed>(range);
    return std::make_unique<CStoredRange>(archive.StoredStreamOf(node));
}

std::unique_ptr<CFileBytes> CFileBytes::OnDisk(const std::string &path, uint64_t size)
{
    return std::make_unique<CDiskFile>(path, size);
}

} // namespace zarnik
