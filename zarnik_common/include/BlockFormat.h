// The packed-data block format (QuickLZ level 3): the numbers the decoder
// and our compressor must agree on, written down once.
//
// A packed stream is blocks laid end to end. A block is a flags byte, its
// length and its raw length (1 or 4 bytes each), then either its raw bytes
// or a compressed payload: control words of 31 flags (0 literal, 1 match),
// each followed by the items of its flags. Matches repeat earlier output of
// the same block; the block's last bytes are always literals.
#pragma once

#include <cstdint>

namespace zarnik {
namespace blockformat {

// Flags byte: bit 0, the payload is compressed (else raw); bit 1, the two
// size fields are 4 bytes wide (else 1 byte). Other bits are ignored.
const unsigned kFlagCompressed = 1;
const unsigned kFlagWideFields = 2;
// Flags byte plus two size fields of 1 or of 4 bytes.
const uint32_t kNarrowHeaderSize = 1 + 2 * 1;
const uint32_t kWideHeaderSize = 1 + 2 * 4;
// The largest value of a 1-byte size field: a narrow block is at most this
// long, header included.
const uint32_t kNarrowFieldMax = 255;

// A control word is a little-endian 32-bit value; its highest set bit ends
// its flags rather than being one, so a word written with bit 31 as that
// end marker carries 31 flags.
const uint32_t kControlWordSize = 4;
const uint32_t kFlagsPerControlWord = 31;
const uint32_t kControlWordEnd = 0x80000000u;

// From the first literal flag met where 11 or fewer bytes of the block
// remain, every remaining byte is a literal and no flag is looked at, so a
// decoder may copy a literal run 4 bytes at a time while more bytes remain
// without ever writing past the block. A match always leaves at least the
// block's last byte to literals; our compressor starts none in these bytes.
const uint32_t kLiteralTailLength = 11;

// Match items: a match repeats `len` bytes from `off` bytes back in the
// block's output. Offsets below 3 would repeat bytes the match has not
// produced yet and are refused.
const uint32_t kMinMatchOffset = 3;
const uint32_t kMinMatchLength = 3;

// The five item forms. The first byte alone tells the form: its tag is the
// low `tagBits` bits; the item's little-endian value W then holds the offset
// in `offBits` bits from bit `offShift`, and the length minus `lenBase` in
// `lenBits` bits from bit `lenShift` (no bits: the length is `lenBase`). The
// 4-byte form's tag 0000011 is the 3-byte form's tag with a length field of
// 0, which the 3-byte form therefore never uses (its lengths start at 3).
struct MatchForm
{
    uint32_t size;
    uint32_t tag;
    uint32_t tagBits;
    uint32_t offShift;
    uint32_t offBits;
    uint32_t lenShift;
    uint32_t lenBits;
    uint32_t lenBase;

    constexpr uint32_t MaxOffset() const { return (1u << offBits) - 1; }
    constexpr uint32_t MaxLength() const { return lenBase + (1u << lenBits) - 1; }
};
// Shortest first; indexed by the first byte's bits 1..0, and 4 for the
// 4-byte form.
constexpr MatchForm kMatchForms[5] = {
    {1, 0, 2, 2, 6, 2, 0, 3},   // 00: offset 0..63, length 3
    {2, 1, 2, 2, 14, 2, 0, 3},  // 01: offset up to 16,383, length 3
    {2, 2, 2, 6, 10, 2, 4, 3},  // 10: offset up to 1,023, length 3..18
    {3, 3, 2, 7, 17, 2, 5, 2},  // 11: offset up to 131,071, length 3..33
    {4, 3, 7, 15, 17, 7, 8, 3}, // 0000011: offset up to 131,071, length 3..258
};
const uint32_t kFourByteForm = 4;
// The longest match and the farthest offset (17-bit offset fields, so a
// match reaches back at most one byte less than the 128 KiB history of the
// format's own decoder).
const uint32_t kMaxMatchLength = kMatchForms[kFourByteForm].MaxLength();
const uint32_t kMaxMatchOffset = kMatchForms[kFourByteForm].MaxOffset();

// The most output one stored byte can stand for: a 4-byte item gives at most
// 258 bytes, and headers and control words only lower the ratio.
const uint32_t kMaxUnpackRatio = (kMaxMatchLength + kMatchForms[kFourByteForm].size - 1) /
                                 kMatchForms[kFourByteForm].size;

} // namespace blockformat
} // namespace zarnik
