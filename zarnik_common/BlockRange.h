// Decoding of one range of a packed stream's block index: its stored bytes
// read in one go, its blocks decoded one after another. Shared by the
// workers of DecodeBlockStream and by CPackedFileReader.
#pragma once

#include "BlockBuffer.h"
#include "BlockStream.h"

#include <atomic>
#include <cstdint>

namespace zarnik {

// The buffers a worker or a reader keeps from one range to the next.
struct BlockRangeBuffers
{
    CBlockBuffer stored;
    CBlockBuffer decoded;
};

// Decodes the blocks from `from` up to `to` into `buffers.decoded`. The
// headers were checked when the index was made, but the file may have
// changed since, so every block is checked again against the range.
// `*sound` is set to the number of bytes decoded before any failure.
// `stop` (may be null) is looked at before every block.
StreamOutcome DecodeBlockRange(const PackedStream &stream, CBlockIndex::Entry from,
                               CBlockIndex::Entry to, BlockRangeBuffers &buffers,
                               const std::atomic<bool> *stop, uint64_t *sound);

} // namespace zarnik
