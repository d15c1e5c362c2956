// The extraction's old names for the block decoder, kept only until the
// extraction (being split now) calls BlockDecoder.h itself; nothing new uses
// them. Remove this file with its last include.
#pragma once

#include "BlockDecoder.h"

namespace zarnik {

static const uint32_t kUnpackDamaged = kDecodeDamaged;
using UnpackCursor = DecodeCursor;

inline uint32_t Unpack(unsigned char *out, const unsigned char *in, uint32_t inLength,
                       uint32_t outCapacity)
{
    return DecodeStream(out, in, inLength, outCapacity);
}

inline bool UnpackSome(unsigned char *out, const unsigned char *in, uint32_t inLength,
                       uint32_t outCapacity, UnpackCursor &cursor, uint32_t outBudget)
{
    return DecodeBlocks(out, in, inLength, outCapacity, cursor, outBudget);
}

} // namespace zarnik
