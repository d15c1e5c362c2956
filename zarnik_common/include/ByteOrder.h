// Numbers in a pack are little-endian, whatever the machine's own order.
#pragma once

#include <cstdint>

namespace zarnik {

inline uint32_t LittleEndian32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

} // namespace zarnik
