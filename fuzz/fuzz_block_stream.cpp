// The streaming decoder and the random-access read on hostile streams,
// against the plain reference decoder run block by block.
//
// Input: the unpacked size (4 bytes, at most 4 MiB), a read's offset and
// length (4 bytes each), then the packed stream. The stream is decoded by
// DecodeBlockStream with two workers, read once through CPackedFileReader,
// and the stretch holding the read's offset is decoded as the mount does;
// every byte any of them delivers must be the reference's byte of a sound
// block, and each must deliver all it should.
#include "BlockFormat.h"
#include "BlockStream.h"
#include "ByteOrder.h"
#include "Check.h"
#include "PackedFileReader.h"
#include "ReferenceUnpack.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// The reference's view: the bytes of every block up to the first header
// that cannot be followed, and which of those bytes belong to sound blocks.
struct Reference
{
    Bytes bytes;
    std::vector<bool> sound;
    uint64_t firstFailure = UINT64_MAX; // unpacked offset of the first unsound block
    bool complete = false;              // headers followed to the stream's end
};

Reference Decode(const unsigned char *in, uint64_t length, uint64_t unpackedSize)
{
    Reference r;
    uint64_t pos = 0;
    while (pos < length) {
        const bool wide = in[pos] & 2;
        const uint64_t header = wide ? 9 : 3, left = length - pos;
        if (left < header)
            break;
        const uint64_t blockLength = wide ? zarnik::LittleEndian32(in + pos + 1) : in[pos + 1];
        const uint64_t raw = wide ? zarnik::LittleEndian32(in + pos + 5) : in[pos + 2];
        if (blockLength < header || blockLength > left || raw > zarnik::kMaxBlockRawLength ||
            blockLength > zarnik::kMaxBlockStoredLength || r.bytes.size() + raw > unpackedSize)
            break;
        Bytes block;
        const bool sound = fuzzsupport::ReferenceUnpack(in + pos, uint32_t(blockLength), uint32_t(raw), block) &&
                           block.size() == raw;
        block.resize(raw);
        if (!sound)
            r.firstFailure = std::min<uint64_t>(r.firstFailure, r.bytes.size());
        r.bytes.insert(r.bytes.end(), block.begin(), block.end());
        r.sound.insert(r.sound.end(), raw, sound);
        pos += blockLength;
    }
    r.complete = pos == length;
    if (!r.complete)
        r.firstFailure = std::min<uint64_t>(r.firstFailure, r.bytes.size());
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (zarnik::SetCheckReporter([](const char *, const char *, int) {}), true);
    (void)quiet;
    if (size < 12)
        return 0;
    const unsigned char *const in = data + 12;
    const uint64_t length = size - 12;
    const uint64_t most = zarnik::blockformat::kMaxUnpackRatio * length + 64;
    const uint64_t unpacked = std::min<uint64_t>(zarnik::LittleEndian32(data) & 0x3FFFFF, most);
    const Reference ref = Decode(in, length, unpacked);
    const zarnik::PackedStream stream{[in, length](uint64_t at, void *to, uint32_t count) -> uint32_t {
                                          const uint64_t n = at >= length ? 0 : std::min<uint64_t>(count, length - at);
                                          std::memcpy(to, in + at, size_t(n));
                                          return uint32_t(n);
                                      },
                                      length, unpacked};

    // The whole stream in order: the sound blocks before the first failure.
    zarnik::CBlockIndex index;
    index.Build(stream);
    Bytes whole;
    const zarnik::StreamDecodeResult all = zarnik::DecodeBlockStream(
        stream, index, 2, nullptr, [&whole](uint64_t offset, const unsigned char *bytes, size_t n) {
            if (offset != whole.size())
                std::abort();
            whole.insert(whole.end(), bytes, bytes + n);
            return true;
        });
    const bool sound = ref.firstFailure == UINT64_MAX && ref.bytes.size() == unpacked;
    const uint64_t expect = std::min<uint64_t>(ref.firstFailure, ref.bytes.size());
    if ((all.outcome == zarnik::StreamOutcome::Sound) != sound || all.delivered != expect ||
        whole.size() != expect || !std::equal(whole.begin(), whole.end(), ref.bytes.begin()))
        std::abort();

    // One read: what it delivers is sound and right; a sound read delivers all.
    const uint64_t offset = zarnik::LittleEndian32(data + 4) % (unpacked + 16);
    const size_t count = zarnik::LittleEndian32(data + 8) & 0x3FFFFF;
    const zarnik::CPackedFileReader reader(stream);
    Bytes got(count);
    size_t delivered = 0;
    const zarnik::StreamOutcome outcome = reader.Read(offset, got.data(), count, &delivered);
    const size_t asked = offset >= unpacked ? 0 : size_t(std::min<uint64_t>(count, unpacked - offset));
    if (delivered > asked || (outcome == zarnik::StreamOutcome::Sound && delivered != asked))
        std::abort();
    for (size_t i = 0; i < delivered; ++i)
        if (offset + i >= ref.bytes.size() || !ref.sound[offset + i] || got[i] != ref.bytes[offset + i])
            std::abort();

    // The stretch holding that offset, as the mount decodes it: the same rule.
    size_t stretch = 0;
    uint64_t start = 0;
    zarnik::StreamOutcome ended = zarnik::StreamOutcome::Sound;
    if (offset < unpacked && reader.StretchAt(offset, &stretch, &start, &ended)) {
        zarnik::DecodedStretch decoded;
        const bool whole = reader.DecodeStretch(stretch, decoded) == zarnik::StreamOutcome::Sound;
        if (start > offset || (whole && start + decoded.size <= offset))
            std::abort();
        for (size_t i = 0; i < decoded.size; ++i)
            if (start + i >= ref.bytes.size() || !ref.sound[start + i] || decoded.bytes[i] != ref.bytes[start + i])
                std::abort();
    } else if (offset < unpacked && ended == zarnik::StreamOutcome::Sound) {
        std::abort(); // an index that ends early always says why
    }
    return 0;
}
