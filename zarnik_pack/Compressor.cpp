// Our level-3 block compressor.
//
// Each block is compressed on its own (no match reaches before the block's
// first byte) with hash chains over 3-byte prefixes and one step of lazy
// matching. Items are written exactly in the order the decoder consumes
// them: one flag per item (0 literal, 1 match), 31 flags per control word
// with bit 31 as the end marker, and the next control word right after the
// item of the 31st flag, also among the block's last literals, where the
// decoder skips it unread.
#include "Compressor.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zarnik_pack {
namespace {

using Bytes = std::vector<unsigned char>;

const int kHashBits = 15;
const int kMaxChain = 24;
const uint32_t kMinMatch = 3;
const uint32_t kMaxMatch = 258;
const uint32_t kMaxOffset = 131071; // 17-bit offset fields
// The decoder turns every literal from the last 11 bytes of a block on into
// the block's literal tail, so no match may start there; and a match must
// leave at least the block's last byte to literals.
const size_t kTailLength = 11;
// Below this a match that is good enough is taken without looking one byte
// further.
const uint32_t kLazyLimit = 32;

// Bytes of the shortest item that encodes (off, len); off >= 3, 3 <= len <= 258.
inline uint32_t MatchItemSize(uint32_t off, uint32_t len)
{
    if (len == 3 && off <= 63)
        return 1;
    if (len == 3 && off <= 16383)
        return 2;
    if (len <= 18 && off <= 1023)
        return 2;
    if (len <= 33)
        return 3;
    return 4;
}

inline uint32_t Hash3(const unsigned char *p)
{
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
}

struct Match
{
    uint32_t len = 0;
    uint32_t off = 0;
    int gain = 0; // bytes saved against literals
};

// Writes the items of one compressed payload.
class ItemWriter
{
public:
    explicit ItemWriter(Bytes &out) : m_out(out) { StartWord(); }

    void Literal(unsigned char byte)
    {
        Flag(false);
        m_out.push_back(byte);
    }

    void Match(uint32_t off, uint32_t len)
    {
        Flag(true);
        uint32_t w;
        uint32_t size = MatchItemSize(off, len);
        if (size == 1)
            w = off << 2;
        else if (len == 3 && off <= 16383)
            w = off << 2 | 1;
        else if (size == 2)
            w = off << 6 | (len - 3) << 2 | 2;
        else if (size == 3)
            w = off << 7 | (len - 2) << 2 | 3;
        else
            w = off << 15 | (len - 3) << 7 | 3;
        for (uint32_t i = 0; i < size; ++i)
            m_out.push_back(static_cast<unsigned char>(w >> (8 * i)));
    }

    void Finish() { PutWord(); }

private:
    void StartWord()
    {
        m_wordPos = m_out.size();
        m_out.resize(m_out.size() + 4);
        m_word = 0;
        m_flags = 0;
    }
    void PutWord()
    {
        const uint32_t w = m_word | 0x80000000u;
        for (int i = 0; i < 4; ++i)
            m_out[m_wordPos + i] = static_cast<unsigned char>(w >> (8 * i));
    }
    void Flag(bool match)
    {
        if (m_flags == 31) {
            PutWord();
            StartWord();
        }
        if (match)
            m_word |= 1u << m_flags;
        ++m_flags;
    }

    Bytes &m_out;
    size_t m_wordPos = 0;
    uint32_t m_word = 0;
    int m_flags = 0;
};

class BlockCompressor
{
public:
    BlockCompressor() : m_head(size_t(1) << kHashBits) {}

    // Appends the compressed payload of the `n` bytes at `data` to `out`.
    void Compress(const unsigned char *data, size_t n, Bytes &out)
    {
        m_data = data;
        m_size = n;
        std::fill(m_head.begin(), m_head.end(), -1);
        m_prev.resize(n);
        m_inserted = 0;

        ItemWriter writer(out);
        // Matches start before the tail and end before the block's last byte.
        const size_t matchEnd = n > kTailLength ? n - kTailLength : 0;
        size_t p = 0;
        while (p < matchEnd) {
            struct Match m = Find(p);
            if (m.gain > 0 && m.len < kLazyLimit && p + 1 < matchEnd) {
                const struct Match next = Find(p + 1);
                if (next.gain > m.gain + 1) {
                    writer.Literal(data[p]);
                    ++p;
                    continue;
                }
            }
            if (m.gain > 0) {
                writer.Match(m.off, m.len);
                p += m.len;
            } else {
                writer.Literal(data[p]);
                ++p;
            }
        }
        for (; p < n; ++p)
            writer.Literal(data[p]);
        writer.Finish();
    }

private:
    void InsertUpTo(size_t end)
    {
        for (; m_inserted < end; ++m_inserted) {
            const uint32_t h = Hash3(m_data + m_inserted);
            m_prev[m_inserted] = m_head[h];
            m_head[h] = static_cast<int32_t>(m_inserted);
        }
    }

    // The most profitable match at p (p + kTailLength < size).
    struct Match Find(size_t p)
    {
        InsertUpTo(p);
        struct Match best;
        const uint32_t maxLen = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, m_size - 1 - p));
        const unsigned char *const cur = m_data + p;
        int32_t cand = m_head[Hash3(cur)];
        for (int depth = 0; cand >= 0 && depth < kMaxChain; ++depth, cand = m_prev[cand]) {
            const uint32_t off = static_cast<uint32_t>(p - size_t(cand));
            if (off > kMaxOffset)
                break;
            if (off < 3)
                continue;
            const unsigned char *const ref = m_data + cand;
            if (best.len > 0 && ref[best.len] != cur[best.len])
                continue;
            uint32_t len = 0;
            while (len < maxLen && ref[len] == cur[len])
                ++len;
            if (len < kMinMatch)
                continue;
            const int gain = int(len) - int(MatchItemSize(off, len));
            if (gain > best.gain) {
                best.len = len;
                best.off = off;
                best.gain = gain;
                if (len == maxLen)
                    break;
            }
        }
        return best;
    }

    const unsigned char *m_data = nullptr;
    size_t m_size = 0;
    std::vector<int32_t> m_head;
    std::vector<int32_t> m_prev;
    size_t m_inserted = 0;
};

void PutField(Bytes &out, uint32_t v, bool wide)
{
    for (int i = 0; i < (wide ? 4 : 1); ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void PutHeader(Bytes &out, bool compressed, uint32_t blockLength, uint32_t raw, bool wide)
{
    out.push_back(static_cast<unsigned char>((compressed ? 1 : 0) | (wide ? 2 : 0)));
    PutField(out, blockLength, wide);
    PutField(out, raw, wide);
}

} // namespace

std::vector<unsigned char> Compress(const unsigned char *data, size_t size, size_t blockSize)
{
    if (blockSize == 0)
        blockSize = kDefaultBlockSize;
    // Block and raw lengths are 32-bit fields.
    blockSize = std::min<size_t>(blockSize, 0xFFFFFFFFu - 9);

    Bytes out;
    out.reserve(size + size / 16 + 16);
    Bytes payload;
    BlockCompressor compressor;
    size_t pos = 0;
    do {
        const size_t n = std::min(blockSize, size - pos);
        const unsigned char *const block = data + pos;
        payload.clear();
        compressor.Compress(block, n, payload);
        const size_t rawTotal = n + (n + 3 <= 255 ? 3 : 9);
        const bool narrow = payload.size() + 3 <= 255 && n <= 255;
        const size_t packedTotal = payload.size() + (narrow ? 3 : 9);
        if (packedTotal < rawTotal) {
            PutHeader(out, true, static_cast<uint32_t>(packedTotal), static_cast<uint32_t>(n), !narrow);
            out.insert(out.end(), payload.begin(), payload.end());
        } else {
            const bool rawNarrow = n + 3 <= 255;
            PutHeader(out, false, static_cast<uint32_t>(rawTotal), static_cast<uint32_t>(n), !rawNarrow);
            if (n)
                out.insert(out.end(), block, block + n);
        }
        pos += n;
    } while (pos < size);
    return out;
}

} // namespace zarnik_pack
