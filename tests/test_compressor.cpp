// Our compressor: every stream it writes unpacks to its input, and its
// blocks keep the rules that any level-3 decoder relies on.
#include "BlockFormat.h"
#include "Compressor.h"
#include "Corpus.h"
#include "TestSupport.h"
#include "BlockDecoder.h"

using zarnik::DecodeStream;

using testsupport::Bytes;
using testsupport::operator+;
namespace bf = zarnik::blockformat;

namespace {

struct Shape { size_t compressed = 0, forms[5] = {}; };

// Walks a stream's blocks and items by the format's rules, independently of
// Unpack: narrow header fields whenever they fit, compressed blocks only
// where they are smaller, control words with bit 31, offsets of 3 or more,
// matches inside their block ending before its last byte, and none starting
// in the last 11 bytes, where the decoder's literal tail may begin.
Shape Walk(const Bytes &s, size_t blockSize, size_t total)
{
    Shape shape;
    size_t pos = 0, produced = 0;
    while (pos < s.size()) {
        const bool wide = s[pos] & 2;
        uint32_t length = s[pos + 1], raw = s[pos + 2];
        if (wide) {
            std::memcpy(&length, &s[pos + 1], 4);
            std::memcpy(&raw, &s[pos + 5], 4);
        }
        EXPECT_EQ(wide, length > 255 || raw > 255);
        EXPECT_EQ(raw, std::min(blockSize, total - produced));
        if (s[pos] & 1) {
            ++shape.compressed;
            EXPECT_LT(length, raw + (raw + 3 <= 255 ? 3 : 9)) << "compressed only when it pays";
            size_t ip = pos + (wide ? 9 : 3);
            uint32_t op = 0, mask = 1;
            for (; op < raw; mask >>= 1) {
                if (mask == 1) {
                    std::memcpy(&mask, &s[ip], 4);
                    ip += 4;
                    EXPECT_TRUE(mask & 0x80000000u);
                }
                if (!(mask & 1)) {
                    ++ip, ++op;
                    continue;
                }
                EXPECT_LT(op + bf::kLiteralTailLength, raw) << "match where the literal tail may begin";
                uint32_t w = 0;
                std::memcpy(&w, &s[ip], std::min<size_t>(4, s.size() - ip));
                const uint32_t form = (w & 0x7F) == 3 ? bf::kFourByteForm : w & 3;
                const bf::MatchForm &f = bf::kMatchForms[form];
                const uint32_t off = w >> f.offShift & f.MaxOffset(), len = (w >> f.lenShift & ((1u << f.lenBits) - 1)) + f.lenBase;
                ++shape.forms[form];
                EXPECT_GE(off, 3u);
                EXPECT_LE(off, op);
                EXPECT_LT(op + len, raw);
                ip += f.size;
                op += len;
            }
            EXPECT_EQ(ip, pos + length) << "payload used exactly";
        }
        pos += length;
        produced += raw;
    }
    EXPECT_EQ(produced, total);
    return shape;
}

// Whether `packed` unpacks to exactly `data`.
bool Unpacks(const Bytes &packed, const Bytes &data)
{
    Bytes out(data.size() + 1);
    return DecodeStream(out.data(), packed.data(), uint32_t(packed.size()), uint32_t(data.size())) == data.size() &&
           std::equal(data.begin(), data.end(), out.begin());
}

Bytes Runs(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>(i / 1000 % 3 == 0 ? 0 : i / 1000 % 3 == 1 ? "ab"[i % 2] : "xyz"[i % 3]);
    return b;
}

} // namespace

TEST(Compressor, RoundTripsThroughUnpack)
{
    testsupport::CheckRecorder checks;
    for (int kind = 0; kind < 4; ++kind) {
        for (size_t size : {0, 1, 2, 3, 11, 12, 13, 14, 40, 200, 252, 255, 256, 300, 4096, 65535, 65536,
                            65537, 140000, 300000}) {
            const Bytes data = kind == 0   ? zarnik_corpus::Text(size, 7)
                               : kind == 1 ? zarnik_corpus::Binary(size, 7)
                               : kind == 2 ? testsupport::Pattern(size, 7)
                                           : Runs(size);
            for (size_t blockSize : {65536, 100, 5000}) {
                if (blockSize == 100 && size > 65536)
                    continue;
                const Bytes packed = zarnik_pack::Compress(data.data(), size, blockSize);
                Walk(packed, blockSize, size);
                ASSERT_TRUE(Unpacks(packed, data)) << kind << " " << size << " " << blockSize;
            }
        }
    }
    // A block wider than the farthest offset, whose only long match lies at
    // exactly that offset and one byte past it: the encoder must take the
    // first and never the second, whose offset its 17 bits cannot hold.
    for (size_t distance : {size_t(bf::kMaxMatchOffset), size_t(bf::kMaxMatchOffset) + 1}) {
        Bytes data = zarnik_corpus::Binary(distance, 11);
        data.insert(data.end(), data.begin(), data.begin() + 4096);
        EXPECT_TRUE(Unpacks(zarnik_pack::Compress(data.data(), data.size(), data.size()), data)) << "distance " << distance;
    }
    EXPECT_TRUE(checks.fired().empty());
}

TEST(Compressor, ShrinksWhatRepeatsStoresWhatDoesNotAndUsesEveryForm)
{
    const Bytes text = zarnik_corpus::Text(300000, 3);
    const Bytes packedText = zarnik_pack::Compress(text.data(), text.size());
    EXPECT_LT(packedText.size(), text.size() * 6 / 10);
    const Shape shape = Walk(packedText, 65536, text.size());
    EXPECT_EQ(shape.compressed, 5u);

    const Bytes binary = zarnik_corpus::Binary(300000, 3) + Runs(20000);
    const Shape binShape = Walk(zarnik_pack::Compress(binary.data(), binary.size()), 65536, binary.size());
    for (size_t form = 0; form < 5; ++form)
        EXPECT_GT(shape.forms[form] + binShape.forms[form], 0u) << "form " << form;

    const Bytes runs = Runs(100000);
    EXPECT_LT(zarnik_pack::Compress(runs.data(), runs.size()).size(), runs.size() / 20);

    // Random bytes: raw blocks, 9 header bytes each (a packed block would be smaller, as every round trip walks).
    const Bytes noise = testsupport::Pattern(200000, 5);
    EXPECT_EQ(zarnik_pack::Compress(noise.data(), noise.size()).size(), noise.size() + 4 * 9);
}

// Blocks packed on several threads at once come out as one thread packs
// them in turn: the same bytes, in the same order, the last short block too.
TEST(Compressor, BlocksPackedAtOnceAreTheBlocksPackedInTurn)
{
    // Text and noise in turn, so that packed and raw blocks alternate.
    Bytes data;
    for (uint32_t part = 0; part < 20; ++part)
        data = data + (part % 3 ? zarnik_corpus::Text(70000, part) : testsupport::Pattern(50000, part));
    const struct { size_t size, blockSize; } cases[] = {{0, 65536}, {65536, 65536}, {65537, 65536}, {data.size(), 65536},
                                                         {data.size() - 1, 65536}, {300000, 252}};
    for (const auto &c : cases) {
        Bytes inTurn, atOnce;
        zarnik_pack::StreamPacker one;
        size_t at = 0;
        do {
            const size_t n = std::min(c.blockSize, c.size - at);
            one.Pack(data.data() + at, n, inTurn);
            at += n;
        } while (at < c.size);
        zarnik_pack::StreamPacker().PackBlocks(data.data(), c.size, c.blockSize, atOnce);
        EXPECT_EQ(atOnce, inTurn) << c.size << " bytes in blocks of " << c.blockSize;
    }
}
