// The block decoder: packed file data, a stream of QuickLZ level-3 blocks.
//
// The block bytes come straight from the pack, so every read of the payload
// and every write of the output is bounded by the lengths we were given.
// The fast paths copy more bytes than an item needs (4, 16 or 32 bytes per
// literal run, 8 or 16 bytes per match move); each wide access is taken only
// where the bytes it touches lie inside the payload or the block's output,
// and falls back to exact copies otherwise.
#include "BlockDecoder.h"

#include "BlockFormat.h"
#include "Check.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Length of a literal run: the zero flags from bit 0 of the control value up
// to its lowest set bit, at most 4. Counting trailing zeros of the value with
// bit 4 forced on gives the same as a 16-entry table by the low 4 bits
// (4, 0, 1, 0, 2, 0, 1, 0, 3, ...) without a load on the decoder's path.
inline uint32_t RunLength(uint32_t mask)
{
    return static_cast<uint32_t>(__builtin_ctz(mask | 16u));
}

namespace bf = zarnik::blockformat;

// How the careful step decodes a match item's little-endian value W: the
// offset is (W & offMask) >> offShift, the length ((W >> lenShift) &
// lenMask) + lenBase.
struct MatchDecoding
{
    uint32_t offMask;
    uint32_t offShift;
    uint32_t lenShift;
    uint32_t lenMask;
    uint32_t lenBase;
};
constexpr MatchDecoding Decoding(const bf::MatchForm &form)
{
    return {uint32_t((uint64_t(1) << (form.offShift + form.offBits)) - 1), form.offShift,
            form.lenShift, (1u << form.lenBits) - 1, form.lenBase};
}
constexpr MatchDecoding kMatchDecodings[5] = {
    Decoding(bf::kMatchForms[0]), Decoding(bf::kMatchForms[1]), Decoding(bf::kMatchForms[2]),
    Decoding(bf::kMatchForms[3]), Decoding(bf::kMatchForms[4])};

// The item sizes by form, packed in nibbles: the input position is the
// careful step's critical path, so it does not wait for a second load.
constexpr uint32_t ItemSizeNibbles()
{
    uint32_t v = 0;
    for (uint32_t f = 0; f < 5; ++f)
        v |= bf::kMatchForms[f].size << (4 * f);
    return v;
}

// The fast loop's view of a match item: everything it needs but the offset's
// upper bytes comes from the item's first byte, so one lookup by that byte
// replaces the form's decoding. The offset is (W & offMask) >> offShift. The
// 4-byte form, whose length lies beyond the first byte and may reach 258,
// has an offMask of 0: its offset of 0 fails the fast loop's offset test,
// which leaves the item to the careful step.
struct FirstByteForm
{
    uint32_t offMask;
    uint8_t offShift;
    uint8_t len;
};
struct FirstByteTable
{
    FirstByteForm e[256];
    constexpr FirstByteTable() : e()
    {
        for (uint32_t b = 0; b < 256; ++b) {
            const bf::MatchForm &four = bf::kMatchForms[bf::kFourByteForm];
            if ((b & ((1u << four.tagBits) - 1)) == four.tag) {
                e[b] = {0, 0, 0};
                continue;
            }
            const MatchDecoding d = kMatchDecodings[b & 3];
            e[b].offMask = d.offMask;
            e[b].offShift = static_cast<uint8_t>(d.offShift);
            e[b].len = static_cast<uint8_t>(((b >> d.lenShift) & d.lenMask) + d.lenBase);
        }
    }
    constexpr const FirstByteForm &operator[](size_t b) const { return e[b]; }
};
constexpr FirstByteTable kFirstByteForms;

// The longest match the fast loop copies itself (the 3-byte form's).
const size_t kFastMaxMatch = bf::kMatchForms[3].MaxLength();

inline uint32_t Load32(const unsigned char *p)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
#else
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
#endif
}

// Hides a pointer's value from the optimiser, so that the additions around
// it happen in the order written.
inline void Opaque(const unsigned char *&p)
{
#if defined(__GNUC__)
    __asm__("" : "+r"(p));
#else
    (void)p;
#endif
}

// The first `n` (< 4) bytes at p, little-endian, zeros above.
inline uint32_t LoadPartial(const unsigned char *p, size_t n)
{
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v |= uint32_t(p[i]) << (8 * i);
    return v;
}

// One 8-byte move; the load completes before the store, so source and
// destination may overlap.
inline void Move8(unsigned char *d, const unsigned char *s)
{
    uint64_t v;
    std::memcpy(&v, s, 8);
    std::memcpy(d, &v, 8);
}

// The match copy by 8-byte moves (any offset of 3 or more), from `s` (`off`
// bytes before `d`) up to `e`; each move may write up to 7 bytes past `e`,
// which the caller has room for.
inline void CopyMatchBy8(unsigned char *d, const unsigned char *s, size_t off,
                         unsigned char *const e)
{
    if (off < 8) {
        // Each move gets `off` bytes right. Repeat until the bytes written
        // hold a whole number of periods of at least 8 bytes, then copy from
        // that distance 8 bytes at a time.
        unsigned char *const start = d;
        do {
            Move8(d, s);
            d += off;
            s += off;
        } while (d - start < 8 && d < e);
        if (d >= e)
            return;
        s = start;
    }
    do {
        Move8(d, s);
        d += 8;
        s += 8;
    } while (d < e);
}

// The match copy by 16-byte moves from `s` (16 or more bytes before `d`) up
// to `e`: source and destination of each move are disjoint, and the last
// move may write up to 15 bytes past `e`, which the caller has room for.
inline void CopyBy16(unsigned char *d, const unsigned char *s, unsigned char *const e)
{
    do {
        std::memcpy(d, s, 16);
        d += 16;
        s += 16;
    } while (d < e);
}

// Copies the `len` bytes that start `off` (>= 3) bytes before `d` to `d`,
// with the result of a one-byte-at-a-time copy: an overlapping source
// repeats the bytes just written. `room` is the number of output bytes from
// `d` to the block's end, more than `len`.
inline void CopyMatch(unsigned char *d, uint32_t off, uint32_t len, size_t room)
{
    const unsigned char *s = d - off;
    unsigned char *const e = d + len;
    if (off >= 16 && room - len >= 16) {
        // The moves may write up to 15 bytes past the match, inside the block.
        CopyBy16(d, s, e);
        return;
    }
    if (room - len < 8) {
        // Too close to the block's end for moves that overshoot the match.
        while (d < e)
            *d++ = *s++;
        return;
    }
    // Each move may write up to 7 bytes past the match's end, still inside
    // the block; the following items overwrite them.
    CopyMatchBy8(d, s, off, e);
}

// CopyMatch for the fast loop's matches (at most kFastMaxMatch bytes): it
// writes below d + 48 (its 16-byte moves) and below d + len + 8 (its 8-byte
// moves), and the caller has room for that.
inline void CopyShortMatch(unsigned char *d, size_t off, size_t len)
{
    const unsigned char *s = d - off;
    if (off >= 16) {
        // Most matches: two 16-byte moves cover up to 32 bytes without a
        // branch on the length, which varies from match to match. Each
        // move's source ends at or before its destination begins.
        std::memcpy(d, s, 16);
        std::memcpy(d + 16, s + 16, 16);
        if (len > 32)
            std::memcpy(d + 32, s + 32, 16);
        return;
    }
    CopyMatchBy8(d, s, off, d + len);
}
static_assert(kFastMaxMatch <= 48, "three 16-byte moves cover the fast loop's matches");

// The fast loop tests its bounds only where it takes a control word, so
// these are the most that the (at most 31) items of one word can touch from
// there, exactly: the fast loop starts a word only where all of it lies
// inside the payload and the block. On the input: the word, 31 items of up
// to 3 bytes (a 4-byte form is read as 4 bytes at its start, but left to
// the careful step), and the 16-byte read of the literal run that follows
// the last match. On the output: 31 matches of kFastMaxMatch bytes and the
// 16-byte store of the literal run after the last; every other sequence of
// items, with the overshoot of its moves, ends earlier (a match's moves end
// at most 15 bytes past it, a run's 32-byte store 1 byte past a 31-byte
// run).
const size_t kFastInputReach =
    bf::kControlWordSize + bf::kFlagsPerControlWord * bf::kMatchForms[3].size + 16;
const size_t kFastOutputReach = bf::kFlagsPerControlWord * kFastMaxMatch + 16;

// The decoder's state within one block: the next input byte, the next
// output byte and the control value (its bits the flags still to use,
// above them the end marker).
struct BlockState
{
    const unsigned char *ip;
    unsigned char *op;
    uint32_t mask;
};

// What one block's decoding is bounded by, fixed for the block.
struct BlockBounds
{
    const unsigned char *iend;
    unsigned char *outData;
    unsigned char *oend;
    uint32_t size;
    // The last positions from which a control word may start in the fast
    // loop (0 when the payload or the block is too short for any).
    uintptr_t inFast;
    uintptr_t outFast;
    // The fast loop's offset check needs op at least 3 bytes into the
    // block, so the block's first items go through the careful step.
    uintptr_t outLow;

    BlockBounds(const unsigned char *in, uint32_t inLength, unsigned char *out, uint32_t size)
        : iend(in + inLength), outData(out), oend(out + size), size(size),
          inFast(inLength >= kFastInputReach ? uintptr_t(iend - kFastInputReach) : 0),
          outFast(size >= kFastOutputReach ? uintptr_t(oend - kFastOutputReach) : 0),
          outLow(uintptr_t(out) + bf::kMinMatchOffset)
    {
    }

    bool FastFits(const BlockState &s) const
    {
        return uintptr_t(s.ip) <= inFast && uintptr_t(s.op) <= outFast;
    }
};

// The fast loop and the careful step are separate functions for reading,
// but must compile as one: measured with bench_unpack (the single-function
// decoder and these, in turns, best of four rounds), inlined they decode as
// fast as the single function did (8.1 ms per pass of either corpus),
// while the fast loop as a call of its own lost 4 to 8%. Hence always
// inline; the state is passed by reference into the caller's registers.
#if defined(__GNUC__)
#define ZARNIK_DECODER_INLINE inline __attribute__((always_inline))
#else
#define ZARNIK_DECODER_INLINE inline
#endif

// Fast loop: while both ends are far away, no access of a control word's
// items can leave the payload or the block, and no literal can belong to
// the block's literal tail, so only a match's offset is checked. Each step
// decodes one match, copies it, then copies the literal run behind it (up
// to the next match or the end of the word) by 16-byte moves: literal and
// match items follow each other without a branch on the flag, which a
// decoder would mispredict at every other item. It returns at anything
// unusual (a control word of 0 or 1, a bad offset, the 4-byte form), with
// that item unconsumed for the careful step, and where the ends come near.
ZARNIK_DECODER_INLINE void DecodeFast(const BlockBounds &b, BlockState &s)
{
    const unsigned char *ip = s.ip;
    unsigned char *op = s.op;
    uint32_t mask = s.mask;
    while (uintptr_t(ip) <= b.inFast && uintptr_t(op) <= b.outFast) {
        if (mask == 1) {
            const uint32_t word = Load32(ip);
            if (word < 2)
                break;
            mask = word;
            ip += bf::kControlWordSize;
        }
        if (!(mask & 1)) {
            // A run of literals up to the next match or the end marker, at
            // most 31: the end marker bounds it within the word.
            const uint32_t n = static_cast<uint32_t>(__builtin_ctz(mask));
            std::memcpy(op, ip, 16);
            if (n > 16)
                std::memcpy(op + 16, ip + 16, 16);
            op += n;
            ip += n;
            mask >>= n;
        }
        while (mask != 1) {
            // Bit 0 of mask is set: a match at ip.
            const size_t w = Load32(ip);
            const FirstByteForm &form = kFirstByteForms[w & 0xFF];
            const size_t off = (w & form.offMask) >> form.offShift;
            // 3 <= off <= op - outData in one comparison: off - 3 wraps
            // above any block size when off < 3, and op is at least 3 bytes
            // into the block here.
            if (off - 3 > size_t(uintptr_t(op) - b.outLow)) {
                s = {ip, op, mask}; // the match is the careful step's
                return;
            }
            const size_t len = form.len;
            // The flags of this match and of the literals behind it: k is 1
            // plus their number; the next set bit is the next match or the
            // end marker.
            const uint32_t rest = mask & (mask - 1);
            const size_t k = static_cast<uint32_t>(__builtin_ctz(rest));
            // The next item's position is this loop's critical path (load
            // the item, find its size, advance): the item size, 1 to 3 by
            // its bits 1..0 (1, 2, 2, 3), is added to what does not depend
            // on the item, and in two steps rather than summed first.
            const size_t f = w & 3;
            const unsigned char *next = ip + k;
            Opaque(next);
            next += f;
            Opaque(next);
            next -= f >> 1;
            CopyShortMatch(op, off, len);
            op += len;
            const unsigned char *const literals = next - (k - 1);
            std::memcpy(op, literals, 16);
            if (__builtin_expect(k > 17, 0))
                std::memcpy(op + 16, literals + 16, 16);
            op += k - 1;
            ip = next;
            mask = rest >> k;
        }
    }
    s = {ip, op, mask};
}

enum class CarefulResult { Decoded, TailReached, Damaged };

// Careful step: one item (a match, or a run of up to 4 literals), every
// access checked; it also meets the block's literal tail.
ZARNIK_DECODER_INLINE CarefulResult DecodeCareful(const BlockBounds &b, BlockState &s)
{
    if (!ZARNIK_CHECK_TEXT(s.mask != 0, "mask != 0"))
        return CarefulResult::Damaged;
    if (s.mask == 1) {
        if (size_t(b.iend - s.ip) < bf::kControlWordSize)
            return CarefulResult::Damaged;
        s.mask = Load32(s.ip);
        s.ip += bf::kControlWordSize;
    }
    const size_t room = size_t(b.oend - s.op);
    const size_t avail = size_t(b.iend - s.ip);
    if (!(s.mask & 1)) {
        if (room <= bf::kLiteralTailLength)
            return CarefulResult::TailReached; // the block's last bytes: all literals
        const uint32_t n = RunLength(s.mask);
        if (avail >= 4) {
            // More than the tail's bytes remain, so the 4-byte store fits.
            std::memcpy(s.op, s.ip, 4);
        } else {
            if (avail < n)
                return CarefulResult::Damaged;
            std::memcpy(s.op, s.ip, n);
        }
        s.op += n;
        s.ip += n;
        s.mask >>= n;
        return CarefulResult::Decoded;
    }
    s.mask >>= 1;
    uint32_t w;
    if (avail >= 4) {
        w = Load32(s.ip);
    } else {
        if (avail == 0)
            return CarefulResult::Damaged;
        w = LoadPartial(s.ip, avail);
    }
    // The form, from the first byte: its bits 1..0, and the 4-byte form
    // where bits 6..0 are 0000011. Table-driven rather than branching, since
    // the forms follow each other unpredictably.
    const bf::MatchForm &four = bf::kMatchForms[bf::kFourByteForm];
    const uint32_t f = (w & 3) + ((w & ((1u << four.tagBits) - 1)) == four.tag);
    const MatchDecoding &form = kMatchDecodings[f];
    const uint32_t off = (w & form.offMask) >> form.offShift;
    const uint32_t len = ((w >> form.lenShift) & form.lenMask) + form.lenBase;
    const size_t itemSize = (ItemSizeNibbles() >> (4 * f)) & 15;
    if (itemSize > avail)
        return CarefulResult::Damaged;
    s.ip += itemSize;
    if (!ZARNIK_CHECK_TEXT(off <= size_t(s.op - b.outData), "outp - off >= outData"))
        return CarefulResult::Damaged;
    if (!ZARNIK_CHECK_TEXT(len < room, "outp + len <= outlast"))
        return CarefulResult::Damaged;
    // Offsets 0 to 2 would repeat bytes the match has not produced yet.
    if (off < bf::kMinMatchOffset)
        return CarefulResult::Damaged;
    CopyMatch(s.op, off, len, room);
    s.op += len;
    return CarefulResult::Decoded;
}

// Tail: every remaining byte is a literal; flags are no longer looked at,
// and a control word that falls among these bytes is skipped unread.
bool DecodeTail(const BlockBounds &b, BlockState &s)
{
    while (s.op != b.oend) {
        if (s.mask == 1) {
            if (size_t(b.iend - s.ip) < bf::kControlWordSize)
                return false;
            s.ip += bf::kControlWordSize;
            s.mask = bf::kControlWordEnd;
        }
        if (s.ip == b.iend)
            return false;
        *s.op++ = *s.ip++;
        s.mask >>= 1;
    }
    return true;
}

} // namespace

namespace zarnik {

uint32_t DecodeBlockPayload(const unsigned char *in, uint32_t inLength, unsigned char *outData,
                            uint32_t size)
{
    const BlockBounds bounds(in, inLength, outData, size);
    BlockState state{in, outData, 1};
    // The careful step takes the block's first items and whatever the fast
    // loop leaves; it hands back to the fast loop as soon as it may.
    for (;;) {
        switch (DecodeCareful(bounds, state)) {
        case CarefulResult::Damaged:
            return kDecodeDamaged;
        case CarefulResult::TailReached:
            return DecodeTail(bounds, state) ? size : kDecodeDamaged;
        case CarefulResult::Decoded:
            break;
        }
        // A control value of 0 is the careful step's to report.
        if (state.mask != 0 && uintptr_t(state.op) >= bounds.outLow && bounds.FastFits(state))
            DecodeFast(bounds, state);
    }
}

bool ReadBlockHeader(const unsigned char *block, uint64_t available, BlockHeader &header)
{
    if (available < bf::kNarrowHeaderSize)
        return false;
    const unsigned char flags = block[0];
    const bool wide = flags & bf::kFlagWideFields;
    header.headerSize = wide ? bf::kWideHeaderSize : bf::kNarrowHeaderSize;
    if (available < header.headerSize)
        return false;
    // The two size fields follow the flags byte.
    header.blockLength = wide ? Load32(block + 1) : block[1];
    header.rawLength = wide ? Load32(block + 5) : block[2];
    header.compressed = flags & bf::kFlagCompressed;
    return header.blockLength >= header.headerSize;
}

bool DecodeBlock(const unsigned char *block, const BlockHeader &header, unsigned char *out)
{
    const unsigned char *const payload = block + header.headerSize;
    const uint32_t payloadLength = header.blockLength - header.headerSize;
    if (header.compressed)
        return DecodeBlockPayload(payload, payloadLength, out, header.rawLength) != kDecodeDamaged;
    if (payloadLength < header.rawLength)
        return false;
    if (header.rawLength)
        std::memcpy(out, payload, header.rawLength);
    return true;
}

bool DecodeBlocks(unsigned char *out, const unsigned char *in, uint32_t inLength,
                  uint32_t outCapacity, DecodeCursor &cursor, uint32_t outBudget)
{
    // The format decodes a block into a 131,072-byte history window when it
    // fits behind the blocks already there (the fill count plus the raw
    // length, minus 1, below 131,072 in 32-bit arithmetic), copies it out
    // from there, and otherwise decodes it straight into the output and
    // starts the window over. No match reaches before the first byte of its
    // own block, so a block's bytes never depend on where it was decoded:
    // decoding every block straight into the output gives the same bytes
    // without the window, its 128 KiB of stack and the extra copy. It also
    // lets a stream be decoded a few blocks at a time, or its blocks apart.

    // A result of 0xFFFFFFFF bytes would read as the damage mark.
    if (outCapacity == kDecodeDamaged)
        --outCapacity;

    uint32_t ipos = cursor.in;
    uint32_t opos = cursor.out;
    const uint32_t start = opos;
    while (ipos < inLength && opos - start < outBudget) {
        const unsigned char *const block = in + ipos;
        BlockHeader header;
        if (!ReadBlockHeader(block, inLength - ipos, header))
            return false;
        if (header.blockLength > inLength - ipos || header.rawLength > outCapacity - opos)
            return false;
        if (!DecodeBlock(block, header, out + opos))
            return false;
        opos += header.rawLength;
        ipos += header.blockLength;
    }
    cursor.in = ipos;
    cursor.out = opos;
    return true;
}

uint32_t DecodeStream(unsigned char *out, const unsigned char *in, uint32_t inLength,
                      uint32_t outCapacity)
{
    DecodeCursor cursor;
    if (!DecodeBlocks(out, in, inLength, outCapacity, cursor, 0xFFFFFFFFu))
        return kDecodeDamaged;
    return cursor.out;
}

} // namespace zarnik
