// `zarnik test` reads and unpacks every file without writing anything;
// `zarnik cat` writes one file's bytes to standard output.
#include "Commands.h"
#include "OpenLosses.h"
#include "OpenPack.h"
#include "PackPath.h"
#include "PackText.h"
#include "TreeWalk.h"

#include <cinttypes>
#include <cstdio>

using zarnik::ArchiveNode;
using zarnik::ExtractOutcome;
using zarnik::OpenReportItem;

int RunTest(const std::string &pack)
{
    const auto archive = OpenPack(pack);
    if (!archive)
        return kExitUsage;
    // What opening passed over is lost as surely as a damaged file.
    for (const OpenReportItem &item : archive->GetOpenReport()) {
        const std::string what = item.path.empty() ? "pack offset " + std::to_string(item.offset)
                                                   : ShownPath(item.path);
        if (item.entriesLost)
            std::printf("%s: %s\n", what.c_str(), OpenReportText(item.kind));
        else
            std::printf("%s: the index names a data file that is missing; its chunk holds no entry, so "
                        "nothing is lost\n", what.c_str());
    }
    uint64_t files = 0;
    uint64_t damaged = 0;
    uint64_t bytes = 0;
    WalkBelow(archive->GetRoot(), [&](const ArchiveNode *node) {
        if (node->IsFolder())
            return;
        ++files;
        std::unique_ptr<unsigned char[]> data;
        ExtractOutcome outcome;
        if (archive->ReadFileData(node, data, outcome)) {
            bytes += node->m_UnpackedSize;
            return;
        }
        ++damaged;
        std::printf("%s: %s\n", ShownPath(node->m_Path).c_str(), ExtractOutcomeText(outcome));
    });
    const OpenLosses losses = CountOpenLosses(*archive);
    std::printf("%s tested, %" PRIu64 " bytes sound, %" PRIu64 " damaged%s%s\n",
                Counted(files, "file", "files").c_str(), bytes, damaged, losses.Any() ? "; " : "",
                OpenLossesText(losses).c_str());
    return damaged || losses.Any() ? kExitFileFailed : kExitOk;
}

int RunCat(const std::string &pack, const std::string &path)
{
    const auto archive = OpenPack(pack);
    if (!archive)
        return kExitUsage;
    // The real name in UTF-8 or as the raw bytes of the pack, '/' or '\'
    // separators; or exactly as `list` prints it, escapes and all.
    const std::string wanted = zarnik::WithSlashes(path);
    const ArchiveNode *found = nullptr;
    WalkBelow(archive->GetRoot(), [&](const ArchiveNode *node) {
        if (!found && (SlashPath(node->m_Path) == wanted || zarnik::WithSlashes(node->m_Path) == wanted ||
                       ShownPath(node->m_Path) == path))
            found = node;
    });
    if (!found) {
        PrintError(Printable(wanted) + ": no such file in the pack");
        return kExitFileFailed;
    }
    const std::string shown = ShownPath(found->m_Path);
    if (found->IsFolder()) {
        PrintError(shown + ": is a folder, not a file");
        return kExitFileFailed;
    }
    std::unique_ptr<unsigned char[]> data;
    ExtractOutcome outcome;
    if (!archive->ReadFileData(found, data, outcome)) {
        PrintError(shown + ": " + ExtractOutcomeText(outcome));
        return kExitFileFailed;
    }
    // A failed write is reported once, by main's final check of stdout.
    std::fwrite(data.get(), 1, found->m_UnpackedSize, stdout);
    return kExitOk;
}
