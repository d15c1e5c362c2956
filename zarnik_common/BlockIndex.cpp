#include "BlockBuffer.h"
#include "BlockDecoder.h"
#include "BlockFormat.h"
#include "BlockStream.h"

#include <algorithm>
#include <new>

namespace zarnik {

namespace {
// Headers are read through a window of this size, so a stream of small
// blocks costs one read per window rather than one per block.
const uint32_t kHeaderWindow = 64u << 10;
// After a block of this many stored bytes or more, few headers share a
// window: the next is read through a small one, so that finding the
// headers of big blocks does not copy the whole stream (a 1 GiB file of
// 64 KiB blocks: 55 ms before its first byte, with full windows).
const uint32_t kLargeBlock = 8u << 10;
const uint32_t kSmallWindow = 4u << 10;
} // namespace

StreamOutcome CBlockIndex::Build(const PackedStream &stream)
{
    m_Entries.clear();
    m_End = {0, 0};
    m_Outcome = StreamOutcome::Sound;
    CBlockBuffer window;
    if (!window.Reserve(kHeaderWindow))
        return m_Outcome = StreamOutcome::NoMemory;
    uint64_t windowStart = 0, windowEnd = 0;
    Entry at = {0, 0};
    uint32_t windowSize = kHeaderWindow;
    while (at.stored < stream.storedSize) {
        if (at.stored + blockformat::kWideHeaderSize > windowEnd && windowEnd < stream.storedSize) {
            const uint32_t want = uint32_t(std::min<uint64_t>(windowSize, stream.storedSize - at.stored));
            if (stream.read(at.stored, window.Data(), want) != want) {
                m_Outcome = StreamOutcome::Unreadable;
                break;
            }
            windowStart = at.stored;
            windowEnd = at.stored + want;
        }
        BlockHeader header;
        if (!ReadBlockHeader(window.Data() + (at.stored - windowStart), windowEnd - at.stored, header)) {
            m_Outcome = StreamOutcome::Damaged;
            break;
        }
        // A block the stream cannot hold is damage, whatever its size; one
        // it does hold is refused only for its size.
        if (header.blockLength > stream.storedSize - at.stored ||
            header.rawLength > stream.unpackedSize - at.unpacked) {
            m_Outcome = StreamOutcome::Damaged;
            break;
        }
        if (header.rawLength > kMaxBlockRawLength || header.blockLength > kMaxBlockStoredLength) {
            m_Outcome = StreamOutcome::TooLarge;
            break;
        }
        const Entry &last = m_Entries.empty() ? at : m_Entries.back();
        if (m_Entries.empty() || at.stored - last.stored >= kSpacing ||
            at.unpacked - last.unpacked >= kSpacing) {
            try {
                m_Entries.push_back(at);
            } catch (const std::bad_alloc &) {
                m_Outcome = StreamOutcome::NoMemory;
                break;
            }
        }
        at.stored += header.blockLength;
        at.unpacked += header.rawLength;
        windowSize = header.blockLength >= kLargeBlock ? kSmallWindow : kHeaderWindow;
    }
    m_End = at;
    if (m_Outcome == StreamOutcome::Sound && at.unpacked != stream.unpackedSize)
        m_Outcome = StreamOutcome::WrongSize;
    return m_Outcome;
}

size_t CBlockIndex::Find(uint64_t offset) const
{
    // The last entry that starts at or before `offset`.
    const auto after = std::upper_bound(m_Entries.begin(), m_Entries.end(), offset,
                                        [](uint64_t o, const Entry &e) { return o < e.unpacked; });
    return after == m_Entries.begin() ? 0 : size_t(after - m_Entries.begin()) - 1;
}

} // namespace zarnik
