// Reading the files of a mounted pack: stored files with positioned reads
// straight from the pack, packed files a stretch of blocks at a time through
// the decoded-stretch cache, decoded ahead of a file read from start to end.
// Any number of threads may read at once.
#pragma once

#include "MountCache.h"
#include "MountTree.h"
#include "PackedFileReader.h"
#include "ZarnikArchive.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>
#include <sys/uio.h>

namespace zarnik_mount {

class CMountReadAhead;

class CMountFiles
{
public:
    // Told once for each open file that fails: its node and why.
    using FailureLog = std::function<void(const zarnik::ArchiveNode &node, const std::string &why)>;
    using Reader = std::shared_ptr<const zarnik::CPackedFileReader>;

    // The files of `tree`, read from `archive` (both outlive this); up to
    // `cacheBytes` of decoded bytes are kept, and `aheadThreads` threads
    // decode ahead of a reader (none: nothing is read ahead).
    CMountFiles(const zarnik::CZarnikArchive &archive, const CMountTree &tree, size_t cacheBytes,
                FailureLog log, unsigned aheadThreads);
    ~CMountFiles();
    CMountFiles(const CMountFiles &) = delete;
    CMountFiles &operator=(const CMountFiles &) = delete;

    // One open file of the mount.
    class CHandle
    {
    public:
        CHandle(uint32_t entry, const zarnik::ArchiveNode &node) : m_Entry(entry), m_Node(node) {}
        const uint32_t m_Entry; // in the tree
        const zarnik::ArchiveNode &m_Node;
        zarnik::PackedStream m_Stored; // its stored bytes, when they lie in the pack
        Reader m_Packed;               // packed files only; decoding ahead holds it too
        std::atomic<bool> m_Reported{false};
        std::atomic<size_t> m_NextStretch{0}; // the one after the last read
    };
    // Opens the file of tree entry `entry`. Handles stay this object's
    // until CloseFile: a mount ended by a signal may never hear of the files
    // still open, and they go with it.
    CHandle *OpenFile(uint32_t entry);
    void CloseFile(CHandle *handle);
    const zarnik::CZarnikArchive &Archive() const { return m_Archive; }

    // What a read hands over, in pieces that point into kept stretches
    // (held here until the answer is sent) or into bytes of its own.
    struct CPieces
    {
        std::vector<struct iovec> pieces;
        std::vector<CMountCache::Bytes> held;
        std::unique_ptr<char[]> own;
    };
    // Reads `count` bytes at `offset` (cut at the file's size): the number
    // of bytes read, or -EIO when any of them cannot be (the pack changed or
    // is damaged there), as for every reader of the pack; all or nothing,
    // as a short read would pass for the end of the file.
    int Read(CHandle &handle, uint64_t offset, size_t count, CPieces *out);

private:
    // Why the bytes of `node` cannot be read now, or null when they can.
    const char *Unavailable(const zarnik::ArchiveNode &node) const;
    int ReadStored(CHandle &handle, uint64_t offset, size_t count, CPieces *out);
    int ReadPacked(CHandle &handle, uint64_t offset, size_t count, CPieces *out);
    // The reader of a packed file, made again only when it is not among
    // the last few opened: its block index, made by a walk over all the
    // file's blocks (55 ms for 1 GiB), outlives a close, so a program that
    // opens a file again reads it at once.
    Reader ReaderOf(uint32_t entry, const zarnik::ArchiveNode &node);
    static const size_t kKeptReaders = 16;
    int Fail(CHandle &handle, const std::string &why);

    const zarnik::CZarnikArchive &m_Archive;
    const CMountTree &m_Tree;
    CMountCache m_Cache;
    FailureLog m_Log;
    std::mutex m_HandlesLock;
    std::unordered_map<CHandle *, std::unique_ptr<CHandle>> m_Handles;
    std::mutex m_ReadersLock;
    std::list<std::pair<uint32_t, Reader>> m_Readers; // most recent first
    std::unique_ptr<CMountReadAhead> m_ReadAhead;     // stopped before the cache goes
};

} // namespace zarnik_mount
