// The block decoder: turns packed file data, a stream of QuickLZ level-3
// blocks, back into its bytes. It only decodes; our compressor lives in the
// pack writer.
//
// Every header, payload and match is checked against the stream and the
// output's capacity; a damaged stream is reported, never followed outside
// the caller's buffers. No heap allocation; safe on any number of threads.
#pragma once

#include <cstdint>

namespace zarnik {

// DecodeStream's and DecodeBlockPayload's answer for a damaged stream or block.
static const uint32_t kDecodeDamaged = 0xFFFFFFFFu;

// Decodes the `inLength` bytes of a packed stream at `in` into `out`, which
// holds `outCapacity` bytes. Returns the number of bytes written (the sum of
// the blocks' raw lengths), or kDecodeDamaged.
uint32_t DecodeStream(unsigned char *out, const unsigned char *in, uint32_t inLength,
                      uint32_t outCapacity);

// Where a stream decoded in parts stands: bytes of input read, of output
// written.
struct DecodeCursor
{
    uint32_t in = 0;
    uint32_t out = 0;
};

// Decodes whole blocks from `cursor` on, until at least `outBudget` more
// bytes are written or the stream ends, and advances `cursor`. False for a
// damaged stream. DecodeStream is this with an unlimited budget.
bool DecodeBlocks(unsigned char *out, const unsigned char *in, uint32_t inLength,
                  uint32_t outCapacity, DecodeCursor &cursor, uint32_t outBudget);

// A block's header, read by ReadBlockHeader.
struct BlockHeader
{
    uint32_t headerSize = 0;  // 3 or 9 bytes
    uint32_t blockLength = 0; // the whole block, header included
    uint32_t rawLength = 0;   // the bytes it decodes to
    bool compressed = false;
};

// Reads the header of the block at `block`, of which `available` bytes may
// be read. False when the header itself is cut short or names a block
// shorter than its own header; whether the block fits what follows is the
// caller's to check.
bool ReadBlockHeader(const unsigned char *block, uint64_t available, BlockHeader &header);

// Decodes one whole block, whose header was read into `header` and whose
// `header.blockLength` bytes lie at `block`, into the `header.rawLength`
// bytes at `out`. False when it is damaged.
bool DecodeBlock(const unsigned char *block, const BlockHeader &header, unsigned char *out);

// Decodes one compressed payload of `inLength` bytes at `in` into the `size`
// bytes at `outData`. Returns `size`, or kDecodeDamaged.
uint32_t DecodeBlockPayload(const unsigned char *in, uint32_t inLength, unsigned char *outData,
                            uint32_t size);

} // namespace zarnik
