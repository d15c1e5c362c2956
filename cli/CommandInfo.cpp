// `zarnik info`: what kind of pack it is and what it holds.
#include "Commands.h"
#include "OpenLosses.h"
#include "OpenPack.h"
#include "PackPath.h"
#include "PackText.h"
#include "Progress.h"
#include "TreeWalk.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>
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
        const std::string &path = archive->GetDataFilePath(i);
        std::printf("data file:  %s, ", Printable(path).c_str());
        if (IsMissingDataFile(*archive, std::filesystem::u8path(path).filename().u8string()))
            std::printf("missing\n");
        else if (dataFiles > 1)
            std::printf("%s, %s\n", WithHuman(archive->GetDataFileSize(i)).c_str(),
                        Counted(filesIn[i], "file", "files").c_str());
        else
            std::printf("%s\n", WithHuman(archive->GetDataFileSize(i)).c_str());
    }
    std::printf("files:      %" PRIu64 ", %" PRIu64 " of them packed\n", totals.files,
                totals.packedFiles);
    std::printf("folders:    %" PRIu64 "\n", totals.folders);
    std::printf("stored:     %s\n", WithHuman(totals.storedBytes).c_str());
    std::printf("unpacked:   %s\n", WithHuman(totals.unpackedBytes).c_str());
    // What opening passed over; `zarnik test` lists it.
    const std::string losses = OpenLossesText(CountOpenLosses(*archive));
    std::printf("lost:       %s\n", losses.empty() ? "nothing" : losses.c_str());
    return kExitOk;
}
