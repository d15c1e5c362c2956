// Reading one file's data: streamed a window at a time, or whole into memory.
#include "BlockStream.h"
#include "StoredBytes.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

namespace zarnik {

namespace {

// A stored file goes to the sink through one buffer of this size.
const uint32_t kStoredWindow = 1u << 20;

ReadOutcome StreamStored(const CFileSource &data, const ArchiveNode &node,
                         const CZarnikArchive::DataSink &sink, const std::atomic<bool> *stop)
{
    std::unique_ptr<unsigned char[]> window(
        AllocateBytes(std::min<uint32_t>(node.m_PackedSize, kStoredWindow)));
    if (!window)
        return ReadOutcome::NoMemory;
    for (uint32_t done = 0; done < node.m_PackedSize;) {
        if (stop && stop->load(std::memory_order_relaxed))
            return ReadOutcome::Stopped;
        const uint32_t step = std::min(node.m_PackedSize - done, kStoredWindow);
        if (data.ReadAt(node.m_Offset + done, window.get(), step) != step)
            return ReadOutcome::Unreadable;
        if (!sink(window.get(), step))
            return ReadOutcome::Stopped;
        done += step;
    }
    return ReadOutcome::Sound;
}

} // namespace

ReadOutcome ReadOutcomeOf(StreamOutcome outcome)
{
    switch (outcome) {
    case StreamOutcome::Sound:
        return ReadOutcome::Sound;
    case StreamOutcome::Damaged:
        return ReadOutcome::Damaged;
    case StreamOutcome::TooLarge:
        return ReadOutcome::TooLarge;
    case StreamOutcome::WrongSize:
        return ReadOutcome::WrongSize;
    case StreamOutcome::Unreadable:
        return ReadOutcome::Unreadable;
    case StreamOutcome::NoMemory:
        return ReadOutcome::NoMemory;
    case StreamOutcome::Stopped:
    case StreamOutcome::SinkFailed:
        break;
    }
    return ReadOutcome::Stopped;
}

PackedStream StoredStreamOf(const CFileSource &data, const ArchiveNode &node)
{
    const CFileSource *source = &data;
    const uint32_t offset = node.m_Offset;
    return PackedStream{[source, offset](uint64_t position, void *buffer, uint32_t count) {
                            return source->ReadAt(uint32_t(offset + position), buffer, count);
                        },
                        node.m_PackedSize, node.m_UnpackedSize};
}

ReadOutcome StoredRangeOutcome(const CFileSource *data, const ArchiveNode &node)
{
    if (!data)
        return ReadOutcome::Unreadable;
    if (static_cast<uint64_t>(node.m_Offset) + node.m_PackedSize > data->Size())
        return ReadOutcome::OutOfRange;
    // A hostile entry may claim gigabytes for a few bytes.
    if (node.IsPacked() &&
        node.m_UnpackedSize > uint64_t(blockformat::kMaxUnpackRatio) * node.m_PackedSize)
        return ReadOutcome::WrongSize;
    return ReadOutcome::Sound;
}

ReadOutcome CZarnikArchive::StoredRangeOutcome(const ArchiveNode &node) const
{
    return zarnik::StoredRangeOutcome(DataFileOf(node), node);
}

PackedStream CZarnikArchive::StoredStreamOf(const ArchiveNode &node) const
{
    return zarnik::StoredStreamOf(*DataFileOf(node), node);
}

bool CZarnikArchive::DataFileChanged(const ArchiveNode &node) const
{
    const CFileSource *data = DataFileOf(node);
    return !data || data->Changed();
}

ReadOutcome CZarnikArchive::StreamFileData(const ArchiveNode &node, const DataSink &sink,
                                           StreamSettings settings) const
{
    const CFileSource *data = DataFileOf(node);
    const ReadOutcome range = zarnik::StoredRangeOutcome(data, node);
    if (range != ReadOutcome::Sound)
        return range;
    if (!node.IsPacked())
        return StreamStored(*data, node, sink, settings.stop);
    unsigned workers = settings.workers;
    if (workers == 0) {
        const unsigned cores = std::thread::hardware_concurrency();
        workers = node.m_UnpackedSize < kParallelFileSize || cores < 2 ? 1 : std::min(cores, 8u);
    }
    const PackedStream stream = zarnik::StoredStreamOf(*data, node);
    CBlockIndex index;
    index.Build(stream);
    const StreamDecodeResult result = DecodeBlockStream(
        stream, index, workers, settings.stop,
        [&sink](uint64_t, const unsigned char *bytes, size_t size) { return sink(bytes, size); });
    return ReadOutcomeOf(result.outcome);
}

bool CZarnikArchive::ReadFileData(const ArchiveNode *node, std::unique_ptr<unsigned char[]> &out,
                                  ReadOutcome &failure) const
{
    out.reset();
    failure = StoredRangeOutcome(*node);
    if (failure != ReadOutcome::Sound)
        return false;
    std::unique_ptr<unsigned char[]> bytes(AllocateBytes(node->m_UnpackedSize));
    if (!bytes) {
        failure = ReadOutcome::NoMemory;
        return false;
    }
    uint64_t filled = 0;
    bool overflow = false;
    failure = StreamFileData(
        *node,
        [&](const unsigned char *data, size_t size) {
            // Never true while the streams keep their bounds: a stored file
            // gives exactly its size, and a packed one no byte past it (the
            // block index refuses a block reaching past the entry's size, and
            // each range decodes no more than the index spans). Kept so that
            // no stream can write past the buffer.
            if (size > node->m_UnpackedSize - filled) {
                overflow = true;
                return false;
            }
            std::memcpy(bytes.get() + filled, data, size);
            filled += size;
            return true;
        },
        StreamSettings());
    if (overflow)
        failure = ReadOutcome::WrongSize; // more bytes than the entry says
    if (failure != ReadOutcome::Sound)
        return false;
    out = std::move(bytes);
    return true;
}

} // namespace zarnik
