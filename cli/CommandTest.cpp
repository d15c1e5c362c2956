// `zarnik test` reads and unpacks every file without writing anything;
// `zarnik cat` writes one file's bytes to standard output.
#include "Commands.h"
#include "PathRule.h"
#include "OpenLosses.h"
#include "OpenPack.h"
#include "PackPath.h"
#include "PackText.h"
#include "Progress.h"
#include "TreeWalk.h"

#include <cinttypes>
#include <cstdio>

using zarnik::ArchiveNode;
using zarnik::ExtractOutcome;
using zarnik::OpenReportItem;
using zarnik::ReadOutcome;

namespace {

#ifdef _WIN32
const bool kDiskIgnoresCase = true;
#else
const bool kDiskIgnoresCase = false;
#endif

// Prints every node below `folder` that extraction would not write for its
// name alone: here, or with `portable` on Linux and on Windows alike, and on
// a disk that ignores case. Nothing below such a folder is written either.
// Empty names and repeated paths are in the open report. Returns the count.
uint64_t RefusedNames(const zarnik::CZarnikArchive &archive, const ArchiveNode &folder, bool portable)
{
    uint64_t refused = 0;
    for (const ArchiveNode *child : folder.m_Children) {
        if (child->m_Duplicate || (child->m_Name.empty() && !child->IsFolder()))
            continue;
        const std::string name = zarnik::FileSystemName(child->m_Name);
        const ArchiveNode *twin = portable || kDiskIgnoresCase ? archive.EarlierCaseTwin(*child) : nullptr;
        if (!child->m_Name.empty() && !(portable ? zarnik::IsPortableName(name) : zarnik::IsSafeName(name))) {
            std::printf("%s: %s\n", ShownPath(child->m_Path).c_str(),
                        ExtractOutcomeText(ExtractOutcome::UnsafeName));
            ++refused;
        } else if (twin) {
            std::printf("%s: its name differs only in case from %s, which a disk that ignores case (as "
                        "on Windows) takes for the same; not written there, nor anything below it\n",
                        ShownPath(child->m_Path).c_str(), ShownPath(twin->m_Path).c_str());
            ++refused;
        } else if (child->IsFolder()) {
            refused += RefusedNames(archive, *child, portable);
        }
    }
    return refused;
}

} // namespace

int RunTest(const std::string &pack, bool portable, const ProgressWish &progressWish)
{
    const auto archive = OpenPack(pack);
    if (!archive)
        return kExitUsage;
    // What opening passed over is lost as surely as a damaged file.
    for (const OpenReportItem &item : archive->GetOpenReport())
        std::printf("%s: %s\n", OpenReportPlace(item).c_str(), OpenReportItemText(item));
    uint64_t files = 0;
    uint64_t damaged = 0;
    uint64_t untested = 0;
    uint64_t bytes = 0;
    zarnik::CZarnikArchive::StreamSettings settings;
    settings.workers = 0;
    // Without the line, neither the count nor each file's shown path is made.
    const bool shown = progressWish.Shown();
    ProgressLine progress(shown, shown ? zarnik::CountTree(archive->GetRoot()).files : 0);
    WalkBelow(archive->GetRoot(), [&](const ArchiveNode *node) {
        if (node->IsFolder())
            return;
        if (shown)
            progress.Update(files, bytes, ShownPath(node->m_Path));
        ++files;
        const ReadOutcome outcome =
            archive->StreamFileData(*node, [](const unsigned char *, size_t) { return true; }, settings);
        if (outcome == ReadOutcome::Sound) {
            bytes += node->m_UnpackedSize;
            return;
        }
        // Memory running out says nothing about the file.
        ++(outcome == ReadOutcome::NoMemory ? untested : damaged);
        progress.Clear();
        std::printf("%s: %s\n", ShownPath(node->m_Path).c_str(), ReadOutcomeText(outcome));
    });
    progress.Update(files, bytes, "");
    progress.Clear();
    const uint64_t refused = RefusedNames(*archive, *archive->GetRoot(), portable);
    const OpenLosses losses = CountOpenLosses(*archive);
    std::string summary = Counted(files, "file", "files") + " tested, " + std::to_string(bytes) +
                          " bytes sound, " + std::to_string(damaged) + " damaged";
    if (untested)
        summary += ", " + std::to_string(untested) + " not tested for want of memory";
    if (refused)
        summary += "; " + Counted(refused, "name", "names") + " extraction would refuse";
    if (losses.Any())
        summary += "; " + OpenLossesText(losses);
    std::printf("%s\n", summary.c_str());
    return damaged || untested || refused || losses.Any() ? kExitFileFailed : kExitOk;
}

int RunCat(const std::string &pack, const std::string &path)
{
    const auto archive = OpenPack(pack);
    if (!archive)
        return kExitUsage;
    // As `list` prints it (PathRule.h); that is the node of that path.
    const std::optional<std::string> wanted = zarnik::PackPathFromTyped(path);
    const ArchiveNode *found = nullptr;
    if (wanted)
        WalkBelow(archive->GetRoot(), [&](const ArchiveNode *node) {
            if (!found && node->m_Path == *wanted)
                found = node;
        });
    if (!found) {
        PrintError(Printable(path) + ": no such file in the pack");
        return kExitFileFailed;
    }
    const std::string shown = ShownPath(found->m_Path);
    if (found->IsFolder()) {
        PrintError(shown + ": is a folder, not a file");
        return kExitFileFailed;
    }
    // A window at a time; a failed write is reported once, by main's final
    // check of stdout. Bytes before damage are out already: the status says.
    zarnik::CZarnikArchive::StreamSettings settings;
    settings.workers = 0;
    bool written = true;
    const ReadOutcome outcome = archive->StreamFileData(
        *found,
        [&written](const unsigned char *data, size_t size) {
            written = std::fwrite(data, 1, size, stdout) == size;
            return written;
        },
        settings);
    if (outcome != ReadOutcome::Sound && written) {
        PrintError(shown + ": " + ReadOutcomeText(outcome));
        return kExitFileFailed;
    }
    return kExitOk;
}
