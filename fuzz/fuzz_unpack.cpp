// Unpack on hostile streams, and the compressor against it.
//
// Byte 0 chooses: even, the rest after 4 capacity bytes is a packed stream
// decoded into a buffer of exactly that capacity (at most 4 MiB), which the
// sanitizers watch, and the verdict and bytes must match a plain reference
// decoder's; odd, the rest is compressed with a block size from byte
// 1 and must unpack to exactly itself.
#include "BlockFormat.h"
#include "ByteOrder.h"
#include "Check.h"
#include "Compressor.h"
#include "ReferenceUnpack.h"
#include "BlockDecoder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

using zarnik::DecodeStream;
using zarnik::kDecodeDamaged;

namespace {

void Hostile(const uint8_t *data, size_t size)
{
    if (size < 4)
        return;
    uint32_t capacity = zarnik::LittleEndian32(data) & 0x3FFFFF;
    // No stream decodes to more than kMaxUnpackRatio times its length; a
    // larger buffer behaves the same and only slows the runs down.
    const size_t most = zarnik::blockformat::kMaxUnpackRatio * (size - 4) + 64;
    if (capacity > most)
        capacity = uint32_t(most);
    std::unique_ptr<unsigned char[]> out(new unsigned char[capacity ? capacity : 1]);
    const uint32_t written = DecodeStream(out.get(), data + 4, uint32_t(size - 4), capacity);
    if (written != kDecodeDamaged && written > capacity)
        std::abort();
    // The same verdict and the same bytes as the plain decoder.
    std::vector<unsigned char> expected;
    const bool sound = fuzzsupport::ReferenceUnpack(data + 4, uint32_t(size - 4), capacity, expected);
    if (sound != (written != kDecodeDamaged))
        std::abort();
    if (sound && written != expected.size())
        std::abort();
    if (sound && written > 0 && std::memcmp(out.get(), expected.data(), written) != 0)
        std::abort();
}

void RoundTrip(const uint8_t *data, size_t size)
{
    if (size < 1)
        return;
    // Block sizes from 64 bytes up: streams of many blocks, narrow and wide
    // headers, and the window's refills. (Each block clears the compressor's
    // hash table, so tiny blocks would only slow the runs down.)
    const size_t blockSize = 64 + size_t(data[0]) * 256;
    ++data;
    --size;
    const std::vector<unsigned char> packed = zarnik_pack::Compress(data, size, blockSize);
    std::unique_ptr<unsigned char[]> out(new unsigned char[size ? size : 1]);
    const uint32_t written = DecodeStream(out.get(), packed.data(), uint32_t(packed.size()),
                                    uint32_t(size));
    if (written != size || std::memcmp(out.get(), data, size) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Damaged streams fail checks all the time; their reports would only
    // slow the runs down.
    static const bool quiet = (zarnik::SetCheckReporter([](const char *, const char *, int) {}), true);
    (void)quiet;
    if (size < 1)
        return 0;
    if (data[0] & 1)
        RoundTrip(data + 1, size - 1);
    else
        Hostile(data + 1, size - 1);
    return 0;
}
