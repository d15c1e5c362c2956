#include "MountFiles.h"

#include "BlockStream.h"

#include <algorithm>
#include <cerrno>
#include <thread>

using zarnik::ArchiveNode;
using zarnik::ExtractOutcome;
using zarnik::StreamOutcome;

namespace {

const char *StreamText(StreamOutcome outcome)
{
    return zarnik::ReadOutcomeText(zarnik::ReadOutcomeOf(outcome));
}

} // namespace

CMountFiles::CMountFiles(const zarnik::CZarnikArchive &archive, size_t cacheBytes, FailureLog log)
    : m_Archive(archive), m_Cache(cacheBytes), m_Log(std::move(log)),
      m_ReadAhead(std::make_unique<CMountReadAhead>(m_Cache, std::thread::hardware_concurrency()))
{
}

CMountFiles::~CMountFiles()
{
    m_ReadAhead.reset();
    for (zarnik::PlatformFile *file : m_Data)
        if (file)
            zarnik::PlatformClose(file);
}

bool CMountFiles::Open(std::string *why)
{
    for (size_t i = 0; i < m_Archive.GetDataFileCount(); ++i) {
        zarnik::PlatformFile *file = nullptr;
        zarnik::PlatformFileStamp stamp;
        // A data file the open could not read stays absent: its files fail
        // one by one, as they do in an extraction.
        if (m_Archive.GetDataFileSize(i) > 0) {
            file = zarnik::PlatformOpenRead(m_Archive.GetDataFilePath(i));
            if (!file) {
                *why = m_Archive.GetDataFilePath(i) + ": " + zarnik::PlatformLastFailure().text;
                return false;
            }
            zarnik::PlatformStampOf(file, &stamp);
        }
        m_Data.push_back(file);
        m_Stamps.push_back(stamp);
    }
    return true;
}

const char *CMountFiles::Unavailable(const ArchiveNode &node) const
{
    if (node.m_DataFile >= m_Data.size() || !m_Data[node.m_DataFile])
        return zarnik::ExtractOutcomeText(ExtractOutcome::Unreadable);
    const uint64_t expected = m_Archive.GetDataFileSize(node.m_DataFile);
    if (uint64_t(node.m_Offset) + node.m_PackedSize > expected)
        return zarnik::ExtractOutcomeText(ExtractOutcome::OutOfRange);
    // The tree was read from the pack as it was at mount time; once it
    // was written to, even at the same size, no stored range can be trusted.
    zarnik::PlatformFileStamp now;
    if (!zarnik::PlatformStampOf(m_Data[node.m_DataFile], &now) || now.size != expected)
        return "the pack changed size after it was mounted";
    if (now != m_Stamps[node.m_DataFile])
        return "the pack was written to after it was mounted";
    return nullptr;
}

void CMountFiles::CloseFile(CHandle *handle)
{
    std::lock_guard<std::mutex> hold(m_HandlesLock);
    m_Handles.erase(handle);
}

CMountFiles::CHandle *CMountFiles::OpenFile(const ArchiveNode &node)
{
    auto handle = std::make_unique<CHandle>(node);
    if (node.IsPacked() && !Unavailable(node))
        handle->m_Packed = ReaderOf(node);
    CHandle *opened = handle.get();
    std::lock_guard<std::mutex> hold(m_HandlesLock);
    m_Handles.emplace(opened, std::move(handle));
    return opened;
}

CMountReadAhead::Reader CMountFiles::ReaderOf(const ArchiveNode &node)
{
    std::lock_guard<std::mutex> hold(m_ReadersLock);
    for (auto it = m_Readers.begin(); it != m_Readers.end(); ++it)
        if (it->first == &node) {
            m_Readers.splice(m_Readers.begin(), m_Readers, it);
            return it->second;
        }
    zarnik::PlatformFile *file = m_Data[node.m_DataFile];
    const uint64_t start = node.m_Offset;
    m_Readers.emplace_front(&node, std::make_shared<const zarnik::CPackedFileReader>(zarnik::PackedStream{
                                       [file, start](uint64_t p, void *b, uint32_t n) {
                                           return zarnik::PlatformReadAt(file, start + p, b, n);
                                       },
                                       node.m_PackedSize, node.m_UnpackedSize}));
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
    if (!handle.m_Packed) {
        out->own.reset(new char[count]);
        const uint32_t got =
            zarnik::PlatformReadAt(m_Data[node.m_DataFile], node.m_Offset + offset, out->own.get(), uint32_t(count));
        if (got != count)
            return Fail(handle, zarnik::ExtractOutcomeText(ExtractOutcome::Unreadable));
        out->pieces.push_back({out->own.get(), count});
        return int(count);
    }
    return ReadPacked(handle, offset, count, out);
}

int CMountFiles::ReadPacked(CHandle &handle, uint64_t offset, size_t count, CPieces *out)
{
    const zarnik::CPackedFileReader &reader = *handle.m_Packed;
    // The node's place in the archive names its file in the cache: the
    // archive outlives the mount.
    const uint64_t file = reinterpret_cast<uintptr_t>(&handle.m_Node);
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
                m_ReadAhead->Ask(handle.m_Packed, file, first + 1, reader.Stretches());
        }
        CMountCache::Bytes bytes = m_Cache.Take(file, stretch);
        if (!bytes) {
            // Claimed: other readers wait for it until it is put or given up.
            std::shared_ptr<zarnik::DecodedStretch> decoded;
            try {
                decoded = std::make_shared<zarnik::DecodedStretch>();
                outcome = reader.DecodeStretch(stretch, *decoded);
            } catch (...) {
                m_Cache.Abandon(file, stretch);
                throw;
            }
            if (outcome != StreamOutcome::Sound) {
                m_Cache.Abandon(file, stretch);
                if (start + decoded->size < end)
                    return Fail(handle, StreamText(outcome));
            } else {
                m_Cache.Put(file, stretch, decoded);
            }
            bytes = std::move(decoded);
        }
        if (start + bytes->size <= at) // an empty stretch: the file changed
            return Fail(handle, StreamText(StreamOutcome::Damaged));
        const size_t n = size_t(std::min(end, start + bytes->size) - at);
        out->pieces.push_back({bytes->bytes.get() + (at - start), n});
        out->held.push_back(std::move(bytes));
        at += n;
    }
    handle.m_NextStretch.store(stretch + 1, std::memory_order_relaxed);
    return int(count);
}
