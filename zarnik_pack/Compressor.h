// Our level-3 block compressor: writes streams that Unpack (and any decoder
// of the level-3 block format) accepts.
#pragma once

#include <cstddef>
#include <vector>

namespace zarnik_pack {

static const size_t kDefaultBlockSize = 65536;

// Compresses `size` bytes into a stream of blocks of at most `blockSize`
// input bytes each; a block that does not shrink is written raw.
std::vector<unsigned char> Compress(const unsigned char *data, size_t size,
                                    size_t blockSize = kDefaultBlockSize);

} // namespace zarnik_pack
