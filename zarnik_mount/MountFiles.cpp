#include "MountFiles.h"

#include "MountReadAhead.h"
#include "ReadOutcome.h"

#include <algorithm>
#include <cerrno>

namespace zarnik_mount {

using zarnik::ArchiveNode;
using zarnik::StreamOutcome;

namespace {

const char *StreamText(StreamOutcome outcome)
{
    return zarnik::ReadOutcomeText(zarnik::ReadOutcomeOf(outcome));
}

} // namespace

CMountFiles::CMountFiles(const zarnik::CZarnikArchive &archive, const CMountTree &tree, size_t cacheBytes,
                         FailureLog log, unsigned aheadThreads)
    : m_Archive(archive), m_Tree(tree), m_Cache(cacheBytes), m_Log(std::move(log)),
      m_ReadAhead(std::make_unique<CMountReadAhead>(m_Cache, aheadThreads))
{
}

CMountFiles::~CMountFiles() = default;

const char *CMountFiles::Unavailable(const ArchiveNode &node) const
{
    const zarnik::ReadOutcome range = m_Archive.StoredRangeOutcome(node);
    if (range != zarnik::ReadOutcome::Sound)
        return zarnik::ReadOutcomeText(range);
    // The tree was read from the pack as it was at mount time; once it
    // was written to, even at the same size, no stored range can be trusted.
    if (m_Archive.DataFileChanged(node))
        return "the pack was written to after it was mounted";
    return nullptr;
}

CMountFiles::CHandle *CMountFiles::OpenFile(uint32_t entry)
{
    const ArchiveNode &node = *m_Tree.At(entry).node;
    auto handle = std::make_unique<CHandle>(entry, node);
    if (!Unavailable(node)) {
        handle->m_Stored = m_Archive.StoredStreamOf(node);
        if (node.IsPacked())
            handle->m_Packed = ReaderOf(entry, node);
    }
    CHandle *opened = handle.get();
    std::lock_guard<std::mutex> hold(m_HandlesLock);
    m_Handles.emplace(opened, std::move(handle));
    return opened;
}

void CMountFiles::CloseFile(CHandle *handle)
{
    std::lock_guard<std::mutex> hold(m_HandlesLock);
    m_Handles.erase(handle);
}

CMountFiles::Reader CMountFiles::ReaderOf(uint32_t entry, const ArchiveNode &node)
{
    std::lock_guard<std::mutex> hold(m_ReadersLock);
    for (auto it = m_Readers.begin(); it != m_Readers.end(); ++it)
        if (it->first == entry) {
            m_Readers.splice(m_Readers.begin(), m_Readers, it);
            return it->second;
        }
    m_Readers.emplace_front(entry, std::make_shared<const zarnik::CPackedFileReader>(m_Archive.StoredStreamOf(node)));
    if (m_Readers.size() > kKeptReaders)
        m_Readers.pop_back();
    return m_Readers.front().second;
}

int CMountFiles::Fail(CHandle &handle, const std::string &why)
{
    if (!handle.m_Reported.exchange(true))
        m_Log(handle.m_Node, why);
    return -EIO;
}

int CMountFiles::Read(CHandle &handle, uint64_t offset, size_t count, CPieces *out)
{
    const ArchiveNode &node = handle.m_Node;
    if (offset >= node.m_UnpackedSize)
        return 0;
    count = size_t(std::min<uint64_t>(count, node.m_UnpackedSize - offset));
    if (const char *why = Unavailable(node))
        return Fail(handle, why);
    return handle.m_Packed ? ReadPacked(handle, offset, count, out) : ReadStored(handle, offset, count, out);
}

int CMountFiles::ReadStored(CHandle &handle, uint64_t offset, size_t count, CPieces *out)
{
    out->own.reset(new char[count]);
    if (handle.m_Stored.read(offset, out->own.get(), uint32_t(count)) != count)
        return Fail(handle, zarnik::ReadOutcomeText(zarnik::ReadOutcome::Unreadable));
    out->pieces.push_back({out->own.get(), count});
    return int(count);
}

int CMountFiles::ReadPacked(CHandle &handle, uint64_t offset, size_t count, CPieces *out)
{
    const zarnik::CPackedFileReader &reader = *handle.m_Packed;
    uint64_t at = offset;
    const uint64_t end = offset + count;
    size_t first = SIZE_MAX, stretch = 0;
    while (at < end) {
        uint64_t start = 0;
        StreamOutcome outcome = StreamOutcome::Sound;
        if (!reader.StretchAt(at, &stretch, &start, &outcome))
            return Fail(handle, StreamText(outcome));
        if (first == SIZE_MAX) {
            first = stretch;
            // A read that goes on where the last one ended is a file read
            // from start to end: what follows is decoded ahead of it.
            const size_t next = handle.m_NextStretch.load(std::memory_order_relaxed);
            if (first == next || first + 1 == next)
                m_ReadAhead->Ask(handle.m_Packed, handle.m_Entry, first + 1, reader.Stretches());
        }
        const CMountCache::Got got =
            m_Cache.GetOrDecode(CMountCache::Key{handle.m_Entry, uint32_t(stretch)},
                                [&](zarnik::DecodedStretch &into) { return reader.DecodeStretch(stretch, into); });
        // A failure past the bytes asked for is no concern of this read.
        const uint64_t soundEnd = start + got.bytes->size;
        if (got.outcome != StreamOutcome::Sound && soundEnd < end)
            return Fail(handle, StreamText(got.outcome));
        if (soundEnd <= at) // an empty stretch: the pack changed
            return Fail(handle, StreamText(StreamOutcome::Damaged));
        const size_t n = size_t(std::min(end, soundEnd) - at);
        out->pieces.push_back({got.bytes->bytes.get() + (at - start), n});
        out->held.push_back(got.bytes);
        at += n;
    }
    // The bytes are sound; the read that reaches the file's end also meets
    // whatever the file's blocks do not account for after them.
    const StreamOutcome whole = reader.ReachOutcome(end);
    if (whole != StreamOutcome::Sound)
        return Fail(handle, StreamText(whole));
    handle.m_NextStretch.store(stretch + 1, std::memory_order_relaxed);
    return int(count);
}

} // namespace zarnik_mount
