#include "PackedFileReader.h"

#include "BlockRange.h"

#include <algorithm>
#include <cstring>

namespace zarnik {

const CBlockIndex &CPackedFileReader::Index() const
{
    std::call_once(m_IndexMade, [this] { m_Index.Build(m_Stream); });
    return m_Index;
}

StreamOutcome CPackedFileReader::Read(uint64_t offset, void *buffer, size_t count,
                                      size_t *delivered) const
{
    *delivered = 0;
    if (offset >= Size())
        return StreamOutcome::Sound;
    const uint64_t end = offset + std::min<uint64_t>(count, Size() - offset);
    const CBlockIndex &index = Index();
    BlockRangeBuffers buffers;
    uint64_t at = offset;
    while (at < end) {
        // Past the blocks indexed lies what ended the index: a failure,
        // since a sound index reaches the file's size.
        if (at >= index.End().unpacked)
            return index.Outcome();
        const size_t range = index.Find(at);
        const uint64_t rangeStart = index.Entries()[range].unpacked;
        uint64_t sound = 0;
        const StreamOutcome outcome =
            DecodeBlockRange(m_Stream, index.Entries()[range], index.RangeEnd(range), buffers, nullptr, &sound);
        if (rangeStart + sound > at) {
            const size_t n = size_t(std::min(end, rangeStart + sound) - at);
            std::memcpy(static_cast<unsigned char *>(buffer) + (at - offset),
                        buffers.decoded.Data() + (at - rangeStart), n);
            at += n;
            *delivered += n;
        }
        // A failure past the bytes asked for is no concern of this read.
        if (outcome != StreamOutcome::Sound && at < end)
            return outcome;
    }
    return ReachOutcome(end);
}

StreamOutcome CPackedFileReader::ReachOutcome(uint64_t end) const
{
    const CBlockIndex &index = Index();
    return end > index.End().unpacked || end >= Size() ? index.Outcome() : StreamOutcome::Sound;
}

bool CPackedFileReader::StretchAt(uint64_t offset, size_t *stretch, uint64_t *start,
                                  StreamOutcome *outcome) const
{
    const CBlockIndex &index = Index();
    if (offset >= index.End().unpacked) {
        *outcome = index.Outcome();
        return false;
    }
    *stretch = index.Find(offset);
    *start = index.Entries()[*stretch].unpacked;
    return true;
}

StreamOutcome CPackedFileReader::DecodeStretch(size_t stretch, DecodedStretch &out) const
{
    const CBlockIndex &index = Index();
    out = DecodedStretch();
    if (stretch >= index.Entries().size())
        return index.Outcome();
    BlockRangeBuffers buffers;
    uint64_t sound = 0;
    const StreamOutcome outcome = DecodeBlockRange(m_Stream, index.Entries()[stretch],
                                                   index.RangeEnd(stretch), buffers, nullptr, &sound);
    // The bytes are handed over where they were decoded.
    out.bytes = buffers.decoded.Release();
    out.size = out.bytes ? size_t(sound) : 0;
    return outcome;
}

} // namespace zarnik
