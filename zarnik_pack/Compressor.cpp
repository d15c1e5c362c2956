// Our level-3 block compressor.
//
// Each block is compressed on its own (no match reaches before the block's
// first byte): hash chains over 3-byte prefixes find the matches at each
// position, and the cheapest parse of the whole block picks among them. Items are written exactly in the order the decoder consumes
// them: one flag per item (0 literal, 1 match), 31 flags per control word
// with bit 31 as the end marker, and the next control word right after the
// item of the 31st flag, also among the block's last literals, where the
// decoder skips it unread.
#include "Compressor.h"

#include "BlockFormat.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

namespace zarnik_pack {
namespace {

using Bytes = std::vector<unsigned char>;
namespace bf = zarnik::blockformat;

const int kHashBits = 15;
const int kHash4Bits = 16;
const uint32_t kMinMatch = bf::kMinMatchLength;
const uint32_t kMaxMatch = bf::kMaxMatchLength;
const uint32_t kMaxOffset = bf::kMaxMatchOffset;
// The decoder turns every literal from the block's last bytes on into the
// block's literal tail, so no match may start there; and a match must leave
// at least the block's last byte to literals.
const size_t kTailLength = bf::kLiteralTailLength;

// The shortest item form that encodes (off, len); off >= 3, 3 <= len <= 258.
// Spelt out rather than a loop over the forms: the parse asks for every
// length of every candidate.
inline const bf::MatchForm &MatchFormFor(uint32_t off, uint32_t len)
{
    const bf::MatchForm *const f = bf::kMatchForms;
    if (len == f[0].lenBase && off <= f[0].MaxOffset())
        return f[0];
    if (len == f[1].lenBase && off <= f[1].MaxOffset())
        return f[1];
    if (len <= f[2].MaxLength() && off <= f[2].MaxOffset())
        return f[2];
    if (len <= f[3].MaxLength())
        return f[3];
    return f[bf::kFourByteForm];
}

inline uint32_t MatchItemSize(uint32_t off, uint32_t len)
{
    return MatchFormFor(off, len).size;
}

inline uint32_t Hash3(const unsigned char *p)
{
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
}

inline uint32_t Hash4(const unsigned char *p)
{
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return (v * 2654435761u) >> (32 - kHash4Bits);
}

// Writes the items of one compressed payload.
class ItemWriter
{
public:
    explicit ItemWriter(Bytes &out) : m_Out(out) { StartWord(); }

    void Literal(unsigned char byte)
    {
        Flag(false);
        m_Out.push_back(byte);
    }

    void Match(uint32_t off, uint32_t len)
    {
        Flag(true);
        const bf::MatchForm &form = MatchFormFor(off, len);
        const uint32_t w = form.tag | off << form.offShift | (len - form.lenBase) << form.lenShift;
        for (uint32_t i = 0; i < form.size; ++i)
            m_Out.push_back(static_cast<unsigned char>(w >> (8 * i)));
    }

    void Finish() { PutWord(); }

private:
    void StartWord()
    {
        m_WordPos = m_Out.size();
        m_Out.resize(m_Out.size() + bf::kControlWordSize);
        m_Word = 0;
        m_Flags = 0;
    }
    void PutWord()
    {
        const uint32_t w = m_Word | bf::kControlWordEnd;
        for (uint32_t i = 0; i < bf::kControlWordSize; ++i)
            m_Out[m_WordPos + i] = static_cast<unsigned char>(w >> (8 * i));
    }
    void Flag(bool match)
    {
        if (m_Flags == bf::kFlagsPerControlWord) {
            PutWord();
            StartWord();
        }
        if (match)
            m_Word |= 1u << m_Flags;
        ++m_Flags;
    }

    Bytes &m_Out;
    size_t m_WordPos = 0;
    uint32_t m_Word = 0;
    uint32_t m_Flags = 0;
};

// Bit costs of the parse: a literal is its byte and its flag; a match is its
// item and its flag, plus a charge for the work a decoder spends on each
// match (a run of up to 16 literals is copied in one move, a match is an
// item to decode and a copy of its own, and the decoding time grows with
// the number of matches, hardly with their length), so that of two parses
// of about the same size the one with fewer, longer matches wins. At 10
// bits a 2-byte match of 3 bytes (27 bits) no longer beats its 3 literals
// (27 bits), a 1-byte one still does. On the text and binary samples this
// gives about 5% fewer matches for 0.6 points of packed size (0.380 to
// 0.386 of the input on text); from 11 bits on, the 2-byte matches of 3
// bytes vanish and the packed size grows by more than 2 points.
const uint32_t kLiteralCost = 9;
const uint32_t kMatchCharge = 10;
inline uint32_t MatchCost(uint32_t off, uint32_t len)
{
    return 8 * MatchItemSize(off, len) + 1 + kMatchCharge;
}

// Candidates looked at per position (besides the latest with the same
// 3 bytes), and the length from which a match is
// taken as it is, without weighing the positions it covers.
const int kChainDepth = 12;
const uint32_t kNiceLength = 64;
// A chain walk stops at a match this long: farther candidates rarely give a
// cheaper parse, and text has many of them.
const uint32_t kGoodLength = 24;

class BlockCompressor
{
public:
    BlockCompressor() : m_Head(size_t(1) << kHashBits), m_Head4(size_t(1) << kHash4Bits) {}

    // Appends the compressed payload of the `n` bytes at `data` to `out`.
    //
    // The parse is the cheapest path through the block: for each position
    // the matches found there (for every length, the nearest candidate
    // that reaches it, since a nearer offset never costs more), weighed
    // against literals by the bit costs above, from the block's start to
    // its end; then the items are written along that path.
    void Compress(const unsigned char *data, size_t n, Bytes &out)
    {
        m_Data = data;
        m_Size = n;
        std::fill(m_Head.begin(), m_Head.end(), -1);
        std::fill(m_Head4.begin(), m_Head4.end(), -1);
        m_Prev.resize(n);
        m_Inserted = 0;
        m_Cost.assign(n + 1, UINT32_MAX);
        m_Len.resize(n + 1);
        m_Off.resize(n + 1);
        m_Cost[0] = 0;

        // Matches start before the tail and end before the block's last byte.
        const size_t matchEnd = n > kTailLength ? n - kTailLength : 0;
        for (size_t p = 0; p < n; ++p) {
            const uint32_t here = m_Cost[p];
            if (here + kLiteralCost < m_Cost[p + 1]) {
                m_Cost[p + 1] = here + kLiteralCost;
                m_Len[p + 1] = 1;
            }
            if (p >= matchEnd)
                continue;
            const size_t found = Find(p);
            uint32_t shorter = kMinMatch - 1;
            for (size_t c = 0; c < found; ++c) {
                const uint32_t off = m_CandOff[c];
                const uint32_t top = m_CandLen[c];
                for (uint32_t len = shorter + 1; len <= top; ++len) {
                    const uint32_t cost = here + MatchCost(off, len);
                    if (cost < m_Cost[p + len]) {
                        m_Cost[p + len] = cost;
                        m_Len[p + len] = len;
                        m_Off[p + len] = off;
                    }
                }
                shorter = top;
            }
            if (shorter >= kNiceLength) {
                // A long match: take it whole. The positions it covers get
                // no matches of their own (they stay in the hash chains).
                const size_t end = p + shorter;
                for (size_t q = p + 1; q < end; ++q) {
                    if (m_Cost[q] + kLiteralCost < m_Cost[q + 1]) {
                        m_Cost[q + 1] = m_Cost[q] + kLiteralCost;
                        m_Len[q + 1] = 1;
                    }
                }
                p = end - 1;
            }
        }

        // Walk the path back from the end, then write it forwards.
        m_Path.clear();
        for (size_t q = n; q > 0; q -= m_Len[q])
            m_Path.push_back(q);
        ItemWriter writer(out);
        size_t p = 0;
        for (size_t k = m_Path.size(); k-- > 0;) {
            const size_t q = m_Path[k];
            if (m_Len[q] == 1)
                writer.Literal(data[p]);
            else
                writer.Match(m_Off[q], static_cast<uint32_t>(q - p));
            p = q;
        }
        writer.Finish();
    }

private:
    // Two indexes of the positions before the one being parsed: the latest
    // position of each 3-byte prefix (for 3-byte matches, which pay only at
    // short offsets), and chains of the positions with the same 4-byte
    // prefix, where every candidate is likely to be a real match.
    void InsertUpTo(size_t end)
    {
        // The last 3 positions of a block have no 4 bytes; they are never
        // inserted, since no match starts after the block's tail begins.
        for (; m_Inserted < end; ++m_Inserted) {
            const unsigned char *const at = m_Data + m_Inserted;
            m_Head[Hash3(at)] = static_cast<int32_t>(m_Inserted);
            const uint32_t h = Hash4(at);
            m_Prev[m_Inserted] = m_Head4[h];
            m_Head4[h] = static_cast<int32_t>(m_Inserted);
        }
    }

    // Collects the matches at p (p + kTailLength < size) into m_Cand*, from
    // the nearest outwards, each longer than the one before; returns their
    // number. Matches end before the block's last byte.
    size_t Find(size_t p)
    {
        InsertUpTo(p);
        size_t found = 0;
        uint32_t best = kMinMatch - 1;
        const uint32_t maxLen = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, m_Size - 1 - p));
        const unsigned char *const cur = m_Data + p;
        auto consider = [&](int32_t cand) {
            const uint32_t off = static_cast<uint32_t>(p - size_t(cand));
            if (off < bf::kMinMatchOffset || off > kMaxOffset)
                return;
            const unsigned char *const ref = m_Data + cand;
            if (ref[best] != cur[best] || ref[0] != cur[0])
                return;
            const uint32_t len = CommonLength(ref, cur, maxLen);
            if (len <= best)
                return;
            m_CandOff[found] = off;
            m_CandLen[found] = len;
            ++found;
            best = len;
        };
        // Most of the search is waiting for the heads: those of the next
        // position are on their way while this one's candidates are
        // compared (it is before the tail, so it has 4 bytes).
        __builtin_prefetch(&m_Head[Hash3(cur + 1)]);
        __builtin_prefetch(&m_Head4[Hash4(cur + 1)]);
        const int32_t near = m_Head[Hash3(cur)];
        if (near >= 0)
            consider(near);
        int32_t cand = m_Head4[Hash4(cur)];
        for (int depth = 0; cand >= 0 && depth < kChainDepth; ++depth, cand = m_Prev[cand]) {
            if (best >= kGoodLength || best == maxLen)
                break;
            if (p - size_t(cand) > kMaxOffset)
                break;
            if (cand != near)
                consider(cand);
        }
        return found;
    }

    static uint32_t CommonLength(const unsigned char *a, const unsigned char *b, uint32_t limit)
    {
        uint32_t len = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // Eight bytes at a time; the lowest differing byte ends the match.
        while (len + 8 <= limit) {
            uint64_t x, y;
            std::memcpy(&x, a + len, 8);
            std::memcpy(&y, b + len, 8);
            if (x != y)
                return len + static_cast<uint32_t>(__builtin_ctzll(x ^ y)) / 8;
            len += 8;
        }
#endif
        while (len < limit && a[len] == b[len])
            ++len;
        return len;
    }

    const unsigned char *m_Data = nullptr;
    size_t m_Size = 0;
    std::vector<int32_t> m_Head;
    std::vector<int32_t> m_Head4;
    std::vector<int32_t> m_Prev;
    size_t m_Inserted = 0;
    // The parse: cheapest cost to reach each position, and the item that
    // reaches it (length 1 without offset: a literal).
    std::vector<uint32_t> m_Cost;
    std::vector<uint16_t> m_Len;
    std::vector<uint32_t> m_Off;
    std::vector<size_t> m_Path;
    uint32_t m_CandOff[kChainDepth + 1];
    uint32_t m_CandLen[kChainDepth + 1];
};

// A size field: 1 byte in a narrow header, 4 in a wide one.
void PutField(Bytes &out, uint32_t v, bool wide)
{
    const uint32_t width = (bf::kWideHeaderSize - 1) / 2;
    for (uint32_t i = 0; i < (wide ? width : 1); ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void PutHeader(Bytes &out, bool compressed, uint32_t blockLength, uint32_t raw, bool wide)
{
    out.push_back(static_cast<unsigned char>((compressed ? bf::kFlagCompressed : 0) |
                                             (wide ? bf::kFlagWideFields : 0)));
    PutField(out, blockLength, wide);
    PutField(out, raw, wide);
}

} // namespace

struct StreamPacker::State
{
    BlockCompressor compressor;
    Bytes payload;
};

namespace {

// Block and raw lengths are 32-bit fields.
size_t FittingBlockSize(size_t blockSize)
{
    return std::min<size_t>(blockSize ? blockSize : kDefaultBlockSize, 0xFFFFFFFFu - bf::kWideHeaderSize);
}

// Threads that pack blocks at once: one for each core, up to four (a save
// runs beside the program that asked for it).
size_t PackingThreads()
{
    const size_t cores = std::thread::hardware_concurrency();
    return std::max<size_t>(1, std::min<size_t>(cores, 4));
}

// Input bytes each thread packs before the packed blocks are appended in
// order (they wait in memory until then): enough that starting a thread
// costs little beside the packing.
const size_t kBytesPerThreadAtOnce = size_t(256) << 10;

} // namespace

StreamPacker::StreamPacker() : m_State(std::make_unique<State>()) {}

StreamPacker::~StreamPacker() = default;

void StreamPacker::Pack(const unsigned char *block, size_t size, Bytes &out)
{
    PackWith(*m_State, block, size, out);
}

void StreamPacker::PackWith(State &state, const unsigned char *block, size_t size, Bytes &out)
{
    Bytes &payload = state.payload;
    payload.clear();
    state.compressor.Compress(block, size, payload);
    // A narrow header holds block and raw lengths up to kNarrowFieldMax.
    const auto header = [](bool narrow) { return narrow ? bf::kNarrowHeaderSize : bf::kWideHeaderSize; };
    const bool rawNarrow = size + bf::kNarrowHeaderSize <= bf::kNarrowFieldMax;
    const size_t rawTotal = size + header(rawNarrow);
    const bool narrow = payload.size() + bf::kNarrowHeaderSize <= bf::kNarrowFieldMax &&
                        size <= bf::kNarrowFieldMax;
    const size_t packedTotal = payload.size() + header(narrow);
    if (packedTotal < rawTotal) {
        PutHeader(out, true, static_cast<uint32_t>(packedTotal), static_cast<uint32_t>(size), !narrow);
        out.insert(out.end(), payload.begin(), payload.end());
    } else {
        PutHeader(out, false, static_cast<uint32_t>(rawTotal), static_cast<uint32_t>(size), !rawNarrow);
        if (size)
            out.insert(out.end(), block, block + size);
    }
}

void StreamPacker::PackBlocks(const unsigned char *data, size_t size, size_t blockSize, Bytes &out)
{
    blockSize = FittingBlockSize(blockSize);
    // An empty input is one empty block.
    const size_t blocks = size == 0 ? 1 : (size - 1) / blockSize + 1;
    const size_t threads = std::min(PackingThreads(), blocks);
    while (m_Helpers.size() + 1 < threads)
        m_Helpers.push_back(std::make_unique<State>());
    const size_t round = threads * std::max<size_t>(1, kBytesPerThreadAtOnce / blockSize);
    std::vector<Bytes> packed(std::min(blocks, round));
    for (size_t first = 0; first < blocks; first += round) {
        const size_t count = std::min(round, blocks - first);
        // Each thread takes the next block not yet taken; every block
        // stands on its own, so which thread packs it changes no byte.
        std::atomic<size_t> next{0};
        const auto work = [&](State *state) {
            for (size_t b = next++; b < count; b = next++) {
                const size_t at = (first + b) * blockSize;
                packed[b].clear();
                PackWith(*state, data + at, std::min(blockSize, size - at), packed[b]);
            }
        };
        // What a helper threw (out of memory) is thrown here, as it
        // would be by this thread.
        std::vector<std::exception_ptr> thrown(threads);
        std::vector<std::thread> helpers;
        for (size_t t = 0; t + 1 < threads && t + 1 < count; ++t) {
            try {
                helpers.emplace_back([&, t] {
                    try {
                        work(m_Helpers[t].get());
                    } catch (...) {
                        thrown[t] = std::current_exception();
                    }
                });
            } catch (const std::system_error &) {
                break; // no thread to be had: this one packs the rest
            }
        }
        try {
            work(m_State.get());
        } catch (...) {
            thrown.back() = std::current_exception();
        }
        for (std::thread &helper : helpers)
            helper.join();
        for (const std::exception_ptr &e : thrown)
            if (e)
                std::rethrow_exception(e);
        for (size_t b = 0; b < count; ++b)
            out.insert(out.end(), packed[b].begin(), packed[b].end());
    }
}

std::vector<unsigned char> Compress(const unsigned char *data, size_t size, size_t blockSize)
{
    Bytes out;
    out.reserve(size + size / 16 + 16);
    StreamPacker().PackBlocks(data, size, blockSize, out);
    return out;
}

} // namespace zarnik_pack
