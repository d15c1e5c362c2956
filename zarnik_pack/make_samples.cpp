// Writes the sample packs that a first look at the explorer opens:
//   OUT/zarnik-sample.upk          a single pack
//   OUT/vfs/content.vfi + data0.vfs an index-plus-data set
// Both hold the same few folders, text files and pictures, some stored and
// some packed, and one name with a Latin-1 letter.
#include "OutputFile.h"
#include "PackFormat.h"
#include "PackWriter.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using zarnik::packformat::AppendU32;
using zarnik_pack::Bytes;
using zarnik_pack::Entry;
using zarnik_pack::Storage;

namespace {

void Put16(Bytes &b, uint16_t v)
{
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}

// A 24-bit BMP whose pixels come from `pixel(x, y)` as 0xRRGGBB.
template <typename Pixel>
Bytes Bmp(int w, int h, Pixel pixel)
{
    const uint32_t stride = (uint32_t(w) * 3 + 3) & ~3u;
    const uint32_t imageSize = stride * uint32_t(h);
    Bytes b;
    b.push_back('B');
    b.push_back('M');
    AppendU32(b, 54 + imageSize);
    AppendU32(b, 0);
    AppendU32(b, 54);
    AppendU32(b, 40);
    AppendU32(b, uint32_t(w));
    AppendU32(b, uint32_t(h));
    Put16(b, 1);
    Put16(b, 24);
    AppendU32(b, 0);
    AppendU32(b, imageSize);
    AppendU32(b, 2835);
    AppendU32(b, 2835);
    AppendU32(b, 0);
    AppendU32(b, 0);
    for (int y = h - 1; y >= 0; --y) {
        uint32_t written = 0;
        for (int x = 0; x < w; ++x, written += 3) {
            const uint32_t rgb = pixel(x, y);
            b.push_back(static_cast<unsigned char>(rgb));
            b.push_back(static_cast<unsigned char>(rgb >> 8));
            b.push_back(static_cast<unsigned char>(rgb >> 16));
        }
        for (; written < stride; ++written)
            b.push_back(0);
    }
    return b;
}

uint32_t Rgb(int r, int g, int b)
{
    return (uint32_t(r & 255) << 16) | (uint32_t(g & 255) << 8) | uint32_t(b & 255);
}

Entry MakeEntry(const std::string &path, Bytes data, Storage storage)
{
    Entry e;
    e.path = path;
    e.data = std::move(data);
    e.storage = storage;
    return e;
}

Entry TextEntry(const std::string &path, const std::string &body, Storage storage)
{
    return MakeEntry(path, zarnik_pack::ToBytes(body), storage);
}

std::vector<Entry> SampleEntries()
{
    std::string story;
    for (int i = 1; i <= 60; ++i)
        story += "Chapter " + std::to_string(i)
            + ": the caravan crossed the salt flats of Zarnik and made camp by the old well.\n";

    std::vector<Entry> e;
    e.push_back(TextEntry("content\\readme.txt",
                     "Zarnik sample pack.\nOpen folders on the left; export a file or a folder "
                     "with Edit > Export...\n",
                     Storage::Stored));
    e.push_back(TextEntry("content\\docs\\story.txt", story, Storage::Packed));
    e.push_back(TextEntry("content\\docs\\credits.txt",
                     "Drawn and packed by the Zarnik Explorer sample generator.\n", Storage::Stored));
    e.push_back(MakeEntry("content\\gfx\\sky.bmp",
                      Bmp(128, 64, [](int, int y) { return Rgb(40 + y, 90 + y * 2, 200 + y / 2); }),
                      Storage::Packed));
    e.push_back(MakeEntry("content\\gfx\\checker.bmp",
                      Bmp(32, 32,
                          [](int x, int y) {
                              return ((x / 8 + y / 8) & 1) ? Rgb(0x2b, 0x3a, 0x4a) : Rgb(0xf6, 0xc1, 0x4f);
                          }),
                      Storage::Stored));
    e.push_back(MakeEntry("content\\gfx\\icons\\gem.bmp",
                      Bmp(16, 16,
                          [](int x, int y) {
                              const int d = (x > 7 ? x - 8 : 7 - x) + (y > 7 ? y - 8 : 7 - y);
                              return d < 7 ? Rgb(0x3a, 0x8d + d * 10, 0xe0) : Rgb(255, 255, 255);
                          }),
                      Storage::Packed));
    e.push_back(MakeEntry("content\\gfx\\icons\\noise.bmp",
                      Bmp(16, 16,
                          [](int x, int y) {
                              uint32_t v = uint32_t(x * 73856093) ^ uint32_t(y * 19349663);
                              v = v * 2654435761u;
                              return v >> 8;
                          }),
                      Storage::Auto));
    e.push_back(TextEntry("content\\maps\\desert\\layout.txt",
                     "width 64\nheight 64\ntiles sand,rock,well\n", Storage::Stored));
    e.push_back(TextEntry("content\\maps\\desert\\caf\xE9.txt",
                     "A name with a Latin-1 letter: caf\xE9.\n", Storage::Stored));
    e.push_back(TextEntry("content\\settings.ini", "[video]\nwidth=1024\nheight=768\n", Storage::Packed));
    return e;
}

// The samples of an earlier build are made again.
bool Write(const std::filesystem::path &path, const std::optional<Bytes> &bytes)
{
    std::error_code ec;
    std::filesystem::remove(path, ec);
    if (bytes && zarnik_pack::WriteNewFile(path.string(), *bytes))
        return true;
    std::fprintf(stderr, "make_samples: cannot write %s\n", path.string().c_str());
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples OUT_DIR\n");
        return 2;
    }
    const std::filesystem::path out(argv[1]);
    std::error_code ec;
    std::filesystem::create_directories(out / "vfs", ec);
    if (ec) {
        std::fprintf(stderr, "make_samples: cannot create %s\n", (out / "vfs").string().c_str());
        return 1;
    }
    const std::vector<Entry> entries = SampleEntries();
    const std::optional<zarnik_pack::VfsSet> set = zarnik_pack::BuildVfs(entries);
    const bool ok = set && Write(out / "zarnik-sample.upk", zarnik_pack::BuildUpk(entries))
        && Write(out / "vfs" / "content.vfi", set->index) && Write(out / "vfs" / "data0.vfs", set->data);
    return ok ? 0 : 1;
}
