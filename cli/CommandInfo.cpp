// `zarnik info`: what kind of pack it is and what it holds.
#include "Commands.h"
#include "OpenPack.h"
#include "PackPath.h"
#include "PackText.h"
#include "Progress.h"
#include "TreeWalk.h"

#include <cinttypes>
#include <cstdio>
#include <vector>

using zarnik::ArchiveNode;

namespace {

std::string WithHuman(uint64_t bytes)
{
    std::string text = std::to_string(bytes) + " bytes";
    if (bytes >= 1024)
        text += " (" + HumanBytes(bytes) + ")";
    return text;
}

} // namespace

int RunInfo(const std::string &pack)
{
    const auto archive = OpenPack(pack);
    if (!archive)
        return kExitUsage;
    // The root "content" is not listed, nor counted.
    const zarnik::TreeTotals totals = zarnik::CountTree(archive->GetRoot());
    std::printf("pack:       %s\n", Printable(LibraryPath(pack)).c_str());
    const size_t dataFiles = archive->GetDataFileCount();
    std::printf("route:      %s\n", !archive->IsIndexRoute() ? "single pack"
                                     : dataFiles > 1       ? "index (content.vfi and every data file)"
                                                           : "index (content.vfi and data file)");
    std::vector<uint64_t> filesIn(dataFiles, 0);
    WalkBelow(archive->GetRoot(), [&filesIn](const ArchiveNode *node) {
        if (!node->IsFolder() && node->m_DataFile < filesIn.size())
            ++filesIn[node->m_DataFile];
    });
    for (size_t i = 0; i < dataFiles; ++i) {
        std::printf("data file:  %s, %s", Printable(archive->GetDataFilePath(i)).c_str(),
                    WithHuman(archive->GetDataFileSize(i)).c_str());
        if (dataFiles > 1)
            std::printf(", %" PRIu64 " files", filesIn[i]);
        std::printf("\n");
    }
    std::printf("files:      %" PRIu64 ", %" PRIu64 " of them packed\n", totals.files,
                totals.packedFiles);
    std::printf("folders:    %" PRIu64 "\n", totals.folders);
    std::printf("stored:     %s\n", WithHuman(totals.storedBytes).c_str());
    std::printf("unpacked:   %s\n", WithHuman(totals.unpackedBytes).c_str());
    // Entries opening passed over; `zarnik test` lists them.
    std::printf("passed over: %zu\n", archive->GetOpenReport().size());
    return kExitOk;
}
