// A file's bytes read from start to end a window at a time, whatever holds
// them: a pack's stored or packed entry, the raw stored bytes of an entry,
// or a file on disk. Comparing and hashing pull windows from two of these
// at their own pace; memory stays one window (a stored step, or one range
// of a packed file's block index) per reader, whatever the file's size.
#pragma once

#include "BlockRange.h"
#include "PlatformFile.h"
#include "ZarnikArchive.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zarnik {

class CFileBytes
{
public:
    // A pack entry's unpacked bytes.
    static std::unique_ptr<CFileBytes> Unpacked(const CZarnikArchive &archive, const ArchiveNode &node);
    // A pack entry's bytes as they are stored, packed or not.
    static std::unique_ptr<CFileBytes> Stored(const CZarnikArchive &archive, const ArchiveNode &node);
    // The file at `path` on disk, which should hold `size` bytes.
    static std::unique_ptr<CFileBytes> OnDisk(const std::string &path, uint64_t size);

    virtual ~CFileBytes() = default;

    // The next window of bytes in `*data`, `*size` of them, valid until the
    // next call; a size of 0 at the end. Sound while all is well, else why
    // the bytes cannot be had (the bytes before were sound).
    virtual ReadOutcome Next(const unsigned char **data, size_t *size) = 0;
    // The system's words for the last failure, where it gave any.
    const std::string &Reason() const { return m_Reason; }

    // Looked at before every window; a raised flag gives Stopped.
    void SetStop(const std::atomic<bool> *stop) { m_Stop = stop; }

protected:
    bool Stopping() const { return m_Stop && m_Stop->load(std::memory_order_relaxed); }
    std::string m_Reason;

private:
    const std::atomic<bool> *m_Stop = nullptr;
};

} // namespace zarnik
