// Writes the seed corpora of the harnesses, from packs made by the packer:
//   fuzz_make_seeds OUTDIR
// makes OUTDIR/{open_upk,open_vfs,unpack,extract,block_stream}/ with a few small inputs
// each. Small on purpose: the fuzzers mutate faster on short inputs.
#include "Compressor.h"
#include "PackKit.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using zarnik_pack::Bytes;
using testpack::Entry;
using zarnik_pack::Storage;

namespace {

namespace fs = std::filesystem;

Bytes Text(const std::string &s) { return zarnik_pack::ToBytes(s); }

Bytes Repetitive(size_t size, unsigned period)
{
    Bytes out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<unsigned char>("zarnik pack of repeats "[i % period % 23] + i / 997);
    return out;
}

Entry Make(const std::string &path, const Bytes &data, Storage storage = Storage::Auto)
{
    Entry e;
    e.path = path;
    e.data = data;
    e.storage = storage;
    return e;
}

std::vector<std::vector<Entry>> EntrySets()
{
    std::vector<std::vector<Entry>> sets;
    sets.push_back({Make("content\\a.txt", Text("hello"), Storage::Stored)});
    sets.push_back({Make("content\\a.txt", Repetitive(300, 7), Storage::Packed),
                    Make("content\\dir\\b.bin", Repetitive(40, 40), Storage::Stored),
                    Make("content\\dir\\sub\\c", Bytes(), Storage::Packed)});
    sets.push_back({Make("content\\x\\y\\z.dat", Repetitive(2000, 13), Storage::Packed),
                    Make("content\\x\\w.dat", Repetitive(100, 3), Storage::Packed),
                    Make("content\\top", Text("stored bytes"), Storage::Stored)});
    // Names the extraction must never follow.
    Entry dots = Make("content\\..\\up.txt", Text("up"), Storage::Stored);
    Entry slash = Make("content\\a/b.txt", Text("slash"), Storage::Stored);
    Entry empty = Make("content\\\\e.txt", Text("empty segment"), Storage::Stored);
    Entry lead = Make("\\abs.txt", Text("lead"), Storage::Stored);
    sets.push_back({dots, slash, empty, lead});
    return sets;
}

int Failures = 0;

void Put(const fs::path &dir, const std::string &name, const Bytes &bytes)
{
    fs::create_directories(dir);
    if (!testpack::WriteFile((dir / name).string(), bytes)) {
        std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
        ++Failures;
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const fs::path out = argv[1];
    const auto sets = EntrySets();
    for (size_t i = 0; i < sets.size(); ++i) {
        const std::string name = "seed" + std::to_string(i);
        const Bytes upk = testpack::BuildUpk(sets[i]);
        Put(out / "open_upk", name, upk);
        Put(out / "extract", name, upk);

        testpack::UpkOptions two;
        two.tables = 2;
        Put(out / "open_upk", name + "-tables", testpack::BuildUpk(sets[i], two));

        // Index length first, then the index, then the data file.
        const testpack::VfsSet set = testpack::BuildVfs(sets[i]);
        Bytes vfs;
        zarnik::packformat::AppendU32(vfs, static_cast<uint32_t>(set.index.size()));
        vfs.insert(vfs.end(), set.index.begin(), set.index.end());
        vfs.insert(vfs.end(), set.data.begin(), set.data.end());
        Put(out / "open_vfs", name, vfs);

        for (size_t e = 0; e < sets[i].size(); ++e) {
            const Entry &entry = sets[i][e];
            // Even first byte: capacity, then the packed stream.
            Bytes stream{0};
            zarnik::packformat::AppendU32(stream, static_cast<uint32_t>(entry.data.size()));
            const Bytes packed = zarnik_pack::Compress(entry.data.data(), entry.data.size());
            stream.insert(stream.end(), packed.begin(), packed.end());
            Put(out / "unpack", name + "-" + std::to_string(e), stream);
            // The unpacked size, a read's offset and length, the stream.
            Bytes read;
            zarnik::packformat::AppendU32(read, static_cast<uint32_t>(entry.data.size()));
            zarnik::packformat::AppendU32(read, static_cast<uint32_t>(entry.data.size() / 3));
            zarnik::packformat::AppendU32(read, static_cast<uint32_t>(entry.data.size() / 2 + 1));
            read.insert(read.end(), packed.begin(), packed.end());
            Put(out / "block_stream", name + "-" + std::to_string(e), read);
            // Odd first byte: a block size, then bytes to round-trip.
            Bytes trip{1, static_cast<unsigned char>(e * 3)};
            trip.insert(trip.end(), entry.data.begin(), entry.data.end());
            Put(out / "unpack", name + "-" + std::to_string(e) + "-trip", trip);
        }
    }
    return Failures ? 1 : 0;
}
