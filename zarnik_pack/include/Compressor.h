// Our level-3 block compressor: writes streams that Unpack (and any decoder
// of the level-3 block format) accepts.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace zarnik_pack {

static const size_t kDefaultBlockSize = 65536;

// Compresses `size` bytes into a stream of blocks of at most `blockSize`
// input bytes each; a block that does not shrink is written raw.
std::vector<unsigned char> Compress(const unsigned char *data, size_t size,
                                    size_t blockSize = kDefaultBlockSize);

// The same stream made one block at a time, for input read piece by piece:
// every block stands on its own, so a stream is its blocks one after
// another (an empty input is one empty block).
class StreamPacker
{
public:
    StreamPacker();
    ~StreamPacker();

    // Appends the block of `size` input bytes (at most 0xFFFFFFFF less a wide block header) to `out`.
    void Pack(const unsigned char *block, size_t size, std::vector<unsigned char> &out);
    // Appends the stream of the `size` bytes at `data` in blocks of
    // `blockSize` (as Compress) to `out`: byte for byte what Pack gives for
    // each block in turn, the blocks packed on several threads at once.
    void PackBlocks(const unsigned char *data, size_t size, size_t blockSize, std::vector<unsigned char> &out);

private:
    struct State;
    static void PackWith(State &state, const unsigned char *block, size_t size, std::vector<unsigned char> &out);

    std::unique_ptr<State> m_State;
    std::vector<std::unique_ptr<State>> m_Helpers; // one for each other thread
};

} // namespace zarnik_pack
