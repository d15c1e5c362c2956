#include "DiffPacks.h"

#include "Corpus.h"
#include "OutputFile.h"
#include "PackWriter.h"
#include "PeakMemory.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace zarnik_corpus {
namespace {

const size_t kPiece = 4u << 20;  // one file of the 256
const int kPieces = 256;         // 1 GiB

// Piece `i` of the 1 GiB: text and binary in turns.
std::vector<unsigned char> Piece(int i)
{
    return i % 2 ? Binary(kPiece, uint32_t(i + 1)) : Text(kPiece, uint32_t(i + 1));
}

std::string PiecePath(int i)
{
    char name[64];
    std::snprintf(name, sizeof name, "content\\folder_%02d\\file_%04d.bin", i % 16, i);
    return name;
}

// The 1 GiB as `files` files, packed or stored, as `name` below DiffPacksRoot().
bool WritePack(const std::string &name, int files, zarnik_pack::Storage storage)
{
    std::unique_ptr<zarnik::PlatformDirectory, void (*)(zarnik::PlatformDirectory *)> folder(
        zarnik::PlatformOpenDirectory(DiffPacksRoot().string()), zarnik::PlatformCloseDirectory);
    zarnik_pack::OutputFile pack(folder.get(), name);
    zarnik_pack::UpkWriter writer(pack.Sink());
    const int piecesPerFile = kPieces / files;
    for (int f = 0; f < files; ++f) {
        int loaded = -1;
        std::vector<unsigned char> piece;
        writer.AddStreamed({PiecePath(f), {}, storage}, uint64_t(kPiece) * piecesPerFile,
                           [&](uint64_t p, unsigned char *b, size_t n) {
                               // The writer asks in order, a block within one piece at a time.
                               const int wanted = f * piecesPerFile + int(p / kPiece);
                               if (wanted != loaded)
                                   piece = Piece(loaded = wanted);
                               std::copy_n(piece.begin() + p % kPiece, n, b);
                               return true;
                           });
    }
    return writer.Finish() && pack.Publish();
}

} // namespace

fs::path DiffPacksRoot() { return BenchPath("zarnik-bench-diff"); }

bool PrepareDiffPacks(const char *tool)
{
    const fs::path root = DiffPacksRoot();
    if (fs::exists(root / "ready"))
        return true;
    fs::remove_all(root);
    fs::create_directories(root / "new");
    const std::vector<unsigned char> replacement = Text(kPiece, 9999);
    const std::string newFile = (root / "new" / "file_0128.bin").string();
    return WritePack("a.upk", kPieces, zarnik_pack::Storage::Packed) &&
           WritePack("s.upk", kPieces, zarnik_pack::Storage::Stored) &&
           WritePack("big.upk", 4, zarnik_pack::Storage::Packed) &&
           WritePack("bigs.upk", 4, zarnik_pack::Storage::Stored) && zarnik_pack::WriteNewFile(newFile, replacement) &&
           RunTool(tool, {"add", (root / "a.upk").string(), newFile, "--at", "content/folder_00", "--replace", "-o",
                (root / "b.upk").string()}) == 0 &&
           zarnik_pack::WriteNewFile((root / "ready").string(), {});
}

} // namespace zarnik_corpus
