// A plain reference decoder of packed streams for the unpack harness: one
// byte at a time, no window, no wide moves, every read and write checked.
// The library's decoder is fast and clever; this one is only obviously
// right, so that the harness can demand the same answer from both.
#pragma once

#include <cstdint>
#include <vector>

namespace fuzzsupport {

// Decodes `in` with room for `capacity` bytes. False where the stream is
// damaged: a block header or payload past the stream, a block length below
// its header, output beyond the capacity, a raw payload shorter than its raw
// length, a control value of 0, a match reaching before its block or onto
// the block's last byte, a match offset below 3, or input that runs out.
inline bool ReferenceUnpack(const unsigned char *in, uint32_t length, uint32_t capacity,
                            std::vector<unsigned char> &out)
{
    out.clear();
    uint64_t pos = 0;
    while (pos < length) {
        const unsigned char *block = in + pos;
        const uint64_t left = length - pos;
        const bool wide = block[0] & 2;
        const uint64_t header = wide ? 9 : 3;
        if (left < header)
            return false;
        const auto field = [&](int at) -> uint64_t {
            if (!wide)
                return block[at];
            const int start = at == 1 ? 1 : 5;
            return uint64_t(block[start]) | uint64_t(block[start + 1]) << 8 |
                   uint64_t(block[start + 2]) << 16 | uint64_t(block[start + 3]) << 24;
        };
        const uint64_t blockLength = field(1);
        const uint64_t raw = field(2);
        if (blockLength < header || blockLength > left)
            return false;
        if (out.size() + raw > capacity)
            return false;
        const unsigned char *ip = block + header;
        const unsigned char *const iend = block + blockLength;
        const size_t start = out.size();
        const size_t end = start + raw;

        if (!(block[0] & 1)) {
            if (uint64_t(iend - ip) < raw)
                return false;
            out.insert(out.end(), ip, ip + raw);
        } else {
            uint32_t mask = 1;
            bool tail = false;
            while (!tail) {
                if (mask == 0)
                    return false;
                if (mask == 1) {
                    if (iend - ip < 4)
                        return false;
                    mask = uint32_t(ip[0]) | uint32_t(ip[1]) << 8 | uint32_t(ip[2]) << 16 |
                           uint32_t(ip[3]) << 24;
                    ip += 4;
                }
                if (mask & 1) {
                    mask >>= 1;
                    if (ip == iend)
                        return false;
                    const unsigned b0 = ip[0];
                    unsigned size;
                    if ((b0 & 0x7F) == 3)
                        size = 4;
                    else
                        size = (b0 & 3) == 0 ? 1 : (b0 & 3) == 3 ? 3 : 2;
                    if (uint64_t(iend - ip) < size)
                        return false;
                    uint32_t w = 0;
                    for (unsigned i = 0; i < size; ++i)
                        w |= uint32_t(ip[i]) << (8 * i);
                    ip += size;
                    uint32_t off, len;
                    switch (size == 4 ? 4 : b0 & 3) {
                    case 0: off = (w >> 2) & 0x3F; len = 3; break;
                    case 1: off = (w >> 2) & 0x3FFF; len = 3; break;
                    case 2: off = (w >> 6) & 0x3FF; len = ((w >> 2) & 15) + 3; break;
                    case 3: off = (w >> 7) & 0x1FFFF; len = ((w >> 2) & 31) + 2; break;
                    default: off = (w >> 15) & 0x1FFFF; len = ((w >> 7) & 255) + 3; break;
                    }
                    const size_t at = out.size();
                    if (off > at - start || at + len >= end || off < 3)
                        return false;
                    for (uint32_t i = 0; i < len; ++i)
                        out.push_back(out[at - off + i]);
                } else if (end - out.size() <= 11) {
                    tail = true;
                } else {
                    unsigned n = 0;
                    while (n < 4 && !(mask >> n & 1))
                        ++n;
                    if (uint64_t(iend - ip) < n)
                        return false;
                    out.insert(out.end(), ip, ip + n);
                    ip += n;
                    mask >>= n;
                }
            }
            while (out.size() < end) {
                if (mask == 1) {
                    if (iend - ip < 4)
                        return false;
                    ip += 4;
                    mask = 0x80000000u;
                }
                if (ip == iend)
                    return false;
                out.push_back(*ip++);
                mask >>= 1;
            }
        }
        pos += blockLength;
    }
    return true;
}

} // namespace fuzzsupport
