#include "BlockRange.h"

#include "BlockDecoder.h"

namespace zarnik {

StreamOutcome DecodeBlockRange(const PackedStream &stream, CBlockIndex::Entry from,
                               CBlockIndex::Entry to, BlockRangeBuffers &buffers,
                               const std::atomic<bool> *stop, uint64_t *sound)
{
    *sound = 0;
    // The index keeps a range within its spacing plus one block of the
    // limits, so both sizes fit the buffers' size_t and 32-bit reads.
    const uint32_t storedLength = uint32_t(to.stored - from.stored);
    const uint64_t decodedLength = to.unpacked - from.unpacked;
    if (!buffers.stored.Reserve(storedLength) || !buffers.decoded.Reserve(size_t(decodedLength)))
        return StreamOutcome::NoMemory;
    const unsigned char *const in = buffers.stored.Data();
    unsigned char *const out = buffers.decoded.Data();
    if (stream.read(from.stored, buffers.stored.Data(), storedLength) != storedLength)
        return StreamOutcome::Unreadable;
    uint32_t ipos = 0;
    uint64_t opos = 0;
    while (ipos < storedLength) {
        if (stop && stop->load(std::memory_order_relaxed))
            return StreamOutcome::Stopped;
        BlockHeader header;
        if (!ReadBlockHeader(in + ipos, storedLength - ipos, header) ||
            header.blockLength > storedLength - ipos || header.rawLength > decodedLength - opos ||
            !DecodeBlock(in + ipos, header, out + opos))
            return StreamOutcome::Damaged;
        ipos += header.blockLength;
        opos += header.rawLength;
        *sound = opos;
    }
    return opos == decodedLength ? StreamOutcome::Sound : StreamOutcome::Damaged;
}

} // namespace zarnik
