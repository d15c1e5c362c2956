// The streaming decoder on one 1 GiB packed file (text-like, 64 KiB blocks)
// in a file on tmpfs: a random-access read of its last 64 KiB once the
// reader's index is made, and the whole file decoded in order by one worker
// and by two (the sink only looks at the bytes, so the figures are the
// reading and decoding alone).
#include "BlockStream.h"
#include "Compressor.h"
#include "Corpus.h"
#include "PackedFileReader.h"
#include "PlatformFile.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const uint64_t kUnpacked = uint64_t(1) << 30;
const size_t kPiece = 8u << 20; // packed once, repeated: blocks stand alone

fs::path PackedFile()
{
    return zarnik_corpus::BenchPath("zarnik-bench-stream.packed", "/dev/shm");
}

// The packed file, made once and kept between runs, opened for the run.
struct Packed
{
    zarnik::PlatformFile *file = nullptr;
    zarnik::PackedStream stream;

    Packed()
    {
        const fs::path path = PackedFile();
        const std::vector<unsigned char> piece = zarnik_corpus::Text(kPiece, 7);
        const std::vector<unsigned char> packed = zarnik_pack::Compress(piece.data(), piece.size());
        const uint64_t storedSize = packed.size() * (kUnpacked / kPiece);
        std::error_code ec;
        if (fs::file_size(path, ec) != storedSize) {
            std::FILE *out = std::fopen(path.string().c_str(), "wb");
            for (uint64_t i = 0; out && i < kUnpacked / kPiece; ++i)
                std::fwrite(packed.data(), 1, packed.size(), out);
            if (out)
                std::fclose(out);
        }
        file = zarnik::PlatformOpenRead(path.string());
        zarnik::PlatformFile *const f = file;
        stream = {[f](uint64_t at, void *to, uint32_t count) { return zarnik::PlatformReadAt(f, at, to, count); },
                  storedSize, kUnpacked};
    }
    ~Packed() { zarnik::PlatformClose(file); }
};

const Packed &File()
{
    static const Packed packed;
    return packed;
}

void BM_ReadLast64KiB(benchmark::State &state)
{
    const Packed &p = File();
    const zarnik::CPackedFileReader reader(p.stream);
    std::vector<unsigned char> buffer(64 << 10);
    size_t delivered = 0;
    // The first read makes the index; the target is for the reads after it.
    if (reader.Read(0, buffer.data(), 1, &delivered) != zarnik::StreamOutcome::Sound) {
        state.SkipWithError("the packed file does not read");
        return;
    }
    for (auto _ : state) {
        if (reader.Read(kUnpacked - buffer.size(), buffer.data(), buffer.size(), &delivered) !=
            zarnik::StreamOutcome::Sound || delivered != buffer.size())
            state.SkipWithError("the read failed");
        benchmark::DoNotOptimize(buffer.data());
    }
}

void BM_DecodeWholeFile(benchmark::State &state)
{
    const Packed &p = File();
    zarnik::CBlockIndex index;
    index.Build(p.stream);
    for (auto _ : state) {
        unsigned char seen = 0;
        const zarnik::StreamDecodeResult r = zarnik::DecodeBlockStream(
            p.stream, index, unsigned(state.range(0)), nullptr,
            [&seen](uint64_t, const unsigned char *data, size_t size) {
                seen ^= data[0] ^ data[size - 1];
                return true;
            });
        benchmark::DoNotOptimize(seen);
        if (r.outcome != zarnik::StreamOutcome::Sound || r.delivered != kUnpacked)
            state.SkipWithError("the packed file does not decode");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kUnpacked));
}

} // namespace

BENCHMARK(BM_ReadLast64KiB)->Unit(benchmark::kMillisecond);
// One worker and two in turns, a few rounds, so that both see the same
// moments of a shared machine.
BENCHMARK(BM_DecodeWholeFile)->Arg(1)->Arg(2)->Arg(1)->Arg(2)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
