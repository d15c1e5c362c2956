// First cut: raw blocks only (valid streams, no compression yet).
#include "Compressor.h"

#include <algorithm>
#include <cstdint>

namespace zarnik_pack {

std::vector<unsigned char> Compress(const unsigned char *data, size_t size, size_t blockSize)
{
    std::vector<unsigned char> out;
    if (blockSize == 0)
        blockSize = kDefaultBlockSize;
    size_t pos = 0;
    do {
        const size_t n = std::min(blockSize, size - pos);
        const bool wide = n + 3 > 255;
        const uint32_t header = wide ? 9 : 3;
        const uint32_t blockLength = static_cast<uint32_t>(n) + header;
        out.push_back(wide ? 2 : 0);
        for (int field = 0; field < 2; ++field) {
            const uint32_t v = field == 0 ? blockLength : static_cast<uint32_t>(n);
            for (uint32_t i = 0; i < (wide ? 4u : 1u); ++i)
                out.push_back(static_cast<unsigned char>(v >> (8 * i)));
        }
        out.insert(out.end(), data + pos, data + pos + n);
        pos += n;
    } while (pos < size);
    return out;
}

} // namespace zarnik_pack
