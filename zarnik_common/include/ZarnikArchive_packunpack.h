// Unpacking of packed file data: a stream of QuickLZ level-3 blocks.
//
// Every header, payload and match is checked against the stream and the
// output's capacity; a damaged stream is reported, never followed outside
// the caller's buffers. No heap allocation; safe on any number of threads.
#pragma once

#include <cstdint>

namespace zarnik {

// Unpack's and UnpackBlock's answer for a damaged stream or block.
static const uint32_t kUnpackDamaged = 0xFFFFFFFFu;

// Decodes the `inLength` bytes of a packed stream at `in` into `out`, which
// holds `outCapacity` bytes. Returns the number of bytes written (the sum of
// the blocks' raw lengths), or kUnpackDamaged.
uint32_t Unpack(unsigned char *out, const unsigned char *in, uint32_t inLength,
                uint32_t outCapacity);

// Where a stream decoded in parts stands: bytes of input read, of output
// written.
struct UnpackCursor
{
    uint32_t in = 0;
    uint32_t out = 0;
};

// Decodes whole blocks from `cursor` on, until at least `outBudget` more
// bytes are written or the stream ends, and advances `cursor`. False for a
// damaged stream. Unpack is this with an unlimited budget.
bool UnpackSome(unsigned char *out, const unsigned char *in, uint32_t inLength,
                uint32_t outCapacity, UnpackCursor &cursor, uint32_t outBudget);

// Decodes one compressed payload of `inLength` bytes at `in` into the `size`
// bytes at `outData`. Returns `size`, or kUnpackDamaged.
uint32_t UnpackBlock(const unsigned char *in, uint32_t inLength, unsigned char *outData,
                     uint32_t size);

} // namespace zarnik
