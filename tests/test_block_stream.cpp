// Packed streams decoded by block ranges: in order by several workers, from the
// middle for random reads, refused when a block is too large or memory runs out.
#include "BlockDecoder.h"
#include "BlockStream.h"
#include "PackedFileReader.h"
#include "TestSeams.h"
#include "TestSupport.h"

#include "Compressor.h"
#include "Corpus.h"

#include <algorithm>
#include <atomic>
#include <cstring>

using namespace zarnik;
using testsupport::Bytes;
using testsupport::operator+;

namespace {

// Compressible text, so blocks hold matches and literals.
Bytes Sample(size_t size) { return zarnik_corpus::Text(size, 3); }

PackedStream InMemory(const Bytes &stored, uint64_t unpackedSize)
{
    return {[&stored](uint64_t at, void *to, uint32_t count) -> uint32_t {
                const uint64_t n = at >= stored.size() ? 0 : std::min<uint64_t>(count, stored.size() - at);
                std::memcpy(to, stored.data() + at, size_t(n));
                return uint32_t(n);
            },
            stored.size(), unpackedSize};
}

// Decodes through a fresh index; the sink checks that bytes come in order.
StreamDecodeResult DecodeAll(const PackedStream &stream, unsigned workers, Bytes *out,
                             const std::atomic<bool> *stop = nullptr)
{
    CBlockIndex index;
    index.Build(stream);
    return DecodeBlockStream(stream, index, workers, stop,
                             [out](uint64_t offset, const unsigned char *data, size_t size) {
                                 EXPECT_EQ(offset, out->size());
                                 out->insert(out->end(), data, data + size);
                                 return true;
                             });
}

// The offsets of each block of a stream.
std::vector<size_t> BlockStarts(const Bytes &stored)
{
    std::vector<size_t> starts;
    BlockHeader header;
    for (size_t at = 0; at < stored.size() && ReadBlockHeader(&stored[at], stored.size() - at, header);
         at += header.blockLength)
        starts.push_back(at);
    return starts;
}

} // namespace

TEST(BlockStream, EveryWorkerCountDeliversTheSameBytesInOrder)
{
    // `first`: a slow leading block, so later small blocks finish before it.
    const struct { size_t size, blockSize, first; unsigned workers; } cases[] = {
        {0, 4096, 0, 2}, {1000, 4096, 0, 3}, {3u << 20, 4096, 0, 1}, {3u << 20, 4096, 0, 2},
        {3u << 20, 1000, 0, 3}, {3u << 20, 65536, 0, 8}, {(3u << 20) + 17, 300000, 0, 2},
        {7u << 20, 4096, 6u << 20, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << "/" << c.blockSize << "/" << c.workers);
        const Bytes data = Sample(c.size);
        const Bytes stored = zarnik_pack::Compress(data.data(), c.first, c.first + 1) +
                             zarnik_pack::Compress(data.data() + c.first, data.size() - c.first, c.blockSize);
        Bytes out;
        const StreamDecodeResult r = DecodeAll(InMemory(stored, data.size()), c.workers, &out);
        EXPECT_EQ(r.outcome, StreamOutcome::Sound);
        EXPECT_EQ(r.delivered, data.size());
        EXPECT_TRUE(out == data);
    }
}

TEST(BlockStream, FailuresDeliverOnlyTheSoundBlocksBeforeThem)
{
    testsupport::CheckRecorder checks;
    const Bytes data = Sample(2u << 20);
    const Bytes sound = zarnik_pack::Compress(data.data(), data.size(), 4096);
    const std::vector<size_t> starts = BlockStarts(sound);
    const size_t middle = starts[starts.size() / 2 + 3];
    Bytes payload = sound, header = sound, cut = sound;
    // Control words of 0 in the payload; a block length of 0; a stream cut mid-block.
    std::fill(payload.begin() + middle + 9, payload.begin() + middle + 40, 0);
    std::fill(header.begin() + middle + 1, header.begin() + middle + 5, 0);
    cut.resize(middle + 10);
    const std::atomic<bool> raised{true};
    const struct { const Bytes *stored; uint64_t unpacked; const std::atomic<bool> *stop; StreamOutcome outcome; uint64_t delivered; } cases[] = {
        {&payload, data.size(), nullptr, StreamOutcome::Damaged, (starts.size() / 2 + 3) * 4096},
        {&header, data.size(), nullptr, StreamOutcome::Damaged, (starts.size() / 2 + 3) * 4096},
        {&cut, data.size(), nullptr, StreamOutcome::Damaged, (starts.size() / 2 + 3) * 4096},
        {&sound, data.size() + 1, nullptr, StreamOutcome::WrongSize, data.size()},
        {&sound, data.size() - 1, nullptr, StreamOutcome::Damaged, data.size() - 4096},
        {&sound, data.size(), &raised, StreamOutcome::Stopped, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        for (unsigned workers : {1u, 3u}) {
            SCOPED_TRACE(testing::Message() << i << "/" << workers);
            Bytes out;
            const StreamDecodeResult r = DecodeAll(InMemory(*cases[i].stored, cases[i].unpacked), workers, &out, cases[i].stop);
            EXPECT_EQ(r.outcome, cases[i].outcome);
            EXPECT_EQ(r.delivered, cases[i].delivered);
            EXPECT_TRUE(out.size() == r.delivered && std::equal(out.begin(), out.end(), data.begin()));
        }
    }
}

TEST(BlockStream, RandomReadsEqualTheFullDecode)
{
    const Bytes data = Sample(3u << 20);
    Bytes stored = zarnik_pack::Compress(data.data(), data.size(), 10000);
    const CPackedFileReader reader(InMemory(stored, data.size()));
    const uint64_t n = data.size(), spacing = CBlockIndex::kSpacing;
    const struct { uint64_t offset, count; } reads[] = {
        {0, 1}, {9999, 2}, {10000, 10000}, {spacing - 5, 10}, {spacing * 3 + 12345, 700000},
        {n - 65536, 65536}, {n - 1, 1}, {n - 10, 100}, {n, 5}, {n + 7, 5}, {123, 0}, {0, n},
    };
    // The first read makes the index (readers sharing one at once: MountFiles' parallel readers).
    for (const auto &r : reads) {
        Bytes got(size_t(r.count), 0xEE);
        size_t delivered = 99;
        const StreamOutcome outcome = reader.Read(r.offset, got.data(), got.size(), &delivered);
        const size_t expect = size_t(r.offset >= n ? 0 : std::min(r.count, n - r.offset));
        EXPECT_EQ(outcome, StreamOutcome::Sound) << r.offset;
        EXPECT_EQ(delivered, expect) << r.offset;
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + expect, data.begin() + ptrdiff_t(std::min(r.offset, n))))
            << r.offset;
    }

    // A damaged block: reads before it are sound, one across it stops there.
    const size_t damaged = BlockStarts(stored)[100];
    std::fill(stored.begin() + damaged + 9, stored.begin() + damaged + 40, 0);
    testsupport::CheckRecorder checks;
    const CPackedFileReader hurt(InMemory(stored, data.size()));
    Bytes got(30000);
    size_t delivered = 0;
    EXPECT_EQ(hurt.Read(100 * 10000 - 30000, got.data(), 30000, &delivered), StreamOutcome::Sound);
    EXPECT_EQ(hurt.Read(100 * 10000 - 20000, got.data(), 30000, &delivered), StreamOutcome::Damaged);
    EXPECT_EQ(delivered, 20000u);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 20000, data.begin() + 100 * 10000 - 20000));
}

namespace {
std::atomic<size_t> g_Largest{0};
std::atomic<size_t> g_FailAbove{SIZE_MAX};
bool Watch(size_t size)
{
    size_t largest = g_Largest.load();
    while (size > largest && !g_Largest.compare_exchange_weak(largest, size)) {
    }
    return size <= g_FailAbove.load();
}
} // namespace

TEST(BlockStream, OversizedBlocksAndFailedAllocationsAreTheirOwnOutcomes)
{
    const BlockAllocationHook previous = SetBlockAllocationHook(&Watch);
    // One block with a 9-byte header, its payload `fill` up to `blockLength`.
    auto wide = [](bool compressed, uint32_t blockLength, uint32_t raw, unsigned char fill) {
        Bytes b(blockLength, fill);
        b[0] = compressed ? 3 : 2;
        std::memcpy(&b[1], &blockLength, 4);
        std::memcpy(&b[5], &raw, 4);
        return b;
    };
    const Bytes atLimit = wide(false, kMaxBlockRawLength + 9, kMaxBlockRawLength, 'a'),
                tooLong = wide(false, kMaxBlockStoredLength + 1, 4, 'b'), tooMuch = wide(true, 20, kMaxBlockRawLength + 1, 0xFF);
    const Bytes small = zarnik_pack::Compress(atLimit.data() + 9, 1u << 20);
    const struct { const Bytes *stored; uint64_t unpacked; size_t failAbove; StreamOutcome outcome; } cases[] = {
        {&atLimit, kMaxBlockRawLength, SIZE_MAX, StreamOutcome::Sound},
        {&tooMuch, kMaxBlockRawLength + 1, SIZE_MAX, StreamOutcome::TooLarge},
        {&tooLong, 4, SIZE_MAX, StreamOutcome::TooLarge},
        {&small, 1u << 20, 0, StreamOutcome::NoMemory},
        {&small, 1u << 20, 65536, StreamOutcome::NoMemory},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        g_Largest = 0;
        g_FailAbove = cases[i].failAbove;
        Bytes out;
        EXPECT_EQ(DecodeAll(InMemory(*cases[i].stored, cases[i].unpacked), 2, &out).outcome, cases[i].outcome);
        size_t delivered = 0;
        Bytes one(1);
        EXPECT_EQ(CPackedFileReader(InMemory(*cases[i].stored, cases[i].unpacked)).Read(0, one.data(), 1, &delivered),
                  cases[i].outcome);
        EXPECT_LE(g_Largest.load(), size_t(kMaxBlockStoredLength + CBlockIndex::kSpacing));
        if (cases[i].outcome == StreamOutcome::TooLarge) {
            EXPECT_LT(g_Largest.load(), size_t(kMaxBlockRawLength));
        }
    }
    SetBlockAllocationHook(previous);
}
