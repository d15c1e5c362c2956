// `zarnik test` reads and unpacks every file without writing anything;
// `zarnik cat` writes one file's bytes to standard output.
#include "Commands.h"
#include "OpenPack.h"
#include "PackText.h"
#include "TreeWalk.h"

#include <cinttypes>
#include <cstdio>

int RunTest(const std::string &pack)
{
    const auto archive = OpenPack(pack);
    if (!archive)
        return kExitUsage;
    uint64_t files = 0;
    uint64_t damaged = 0;
    uint64_t bytes = 0;
    WalkBelow(archive->GetRoot(), [&](const ArchiveNode *node) {
        if (node->IsFolder())
            return;
        ++files;
        std::unique_ptr<unsigned char[]> data;
        std::string reason;
        if (archive->ReadFileData(node, data, reason)) {
            bytes += node->m_UnpackedSize;
            return;
        }
        ++damaged;
        std::printf("%s: %s\n", SlashPath(node->m_Path).c_str(), reason.c_str());
    });
    std::printf("%" PRIu64 " files tested, %" PRIu64 " bytes sound, %" PRIu64 " damaged\n", files,
                bytes, damaged);
    return damaged ? kExitFileFailed : kExitOk;
}

int RunCat(const std::string &pack, const std::string &path)
{
    const auto archive = OpenPack(pack);
    if (!archive)
        return kExitUsage;
    // The path as `list` prints it (UTF-8), or as the raw bytes of the pack.
    const std::string wanted = WithSlashes(path);
    const ArchiveNode *found = nullptr;
    WalkBelow(archive->GetRoot(), [&](const ArchiveNode *node) {
        if (!found && (SlashPath(node->m_Path) == wanted || WithSlashes(node->m_Path) == wanted))
            found = node;
    });
    if (!found) {
        PrintError(path + ": no such file in the pack");
        return kExitFileFailed;
    }
    if (found->IsFolder()) {
        PrintError(path + ": is a folder, not a file");
        return kExitFileFailed;
    }
    std::unique_ptr<unsigned char[]> data;
    std::string reason;
    if (!archive->ReadFileData(found, data, reason)) {
        PrintError(path + ": " + reason);
        return kExitFileFailed;
    }
    if (std::fwrite(data.get(), 1, found->m_UnpackedSize, stdout) != found->m_UnpackedSize ||
        std::fflush(stdout) != 0) {
        PrintError("cannot write to standard output");
        return kExitFileFailed;
    }
    return kExitOk;
}
