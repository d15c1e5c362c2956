// `zarnik extract`: the whole tree, or the nodes that match patterns, written
// below a folder. The library writes; the tool chooses the nodes, makes the
// folders that lead to a chosen node, and counts what happened.
#include "Commands.h"
#include "Console.h"
#include "ExtractReport.h"
#include "Extraction.h"
#include "Glob.h"
#include "OpenLosses.h"
#include "OpenPack.h"
#include "PackPath.h"
#include "PackText.h"
#include "Progress.h"
#include "StopSignals.h"
#include "TreeWalk.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;
using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;

namespace {

// A node to write, with the folders that lead to it from the root (the
// root's included).
struct Selected
{
    const ArchiveNode *node;
    std::vector<const ArchiveNode *> folders;
};

// The nodes the patterns chose, and the patterns that matched nothing.
struct Selection
{
    std::vector<Selected> chosen;
    std::vector<std::string> unmatched; // as the user typed them
    uint64_t files = 0;                 // files below every chosen node
};

// The nodes the patterns choose. A chosen folder brings its whole subtree,
// so nothing below it is looked at again: a node matched by several
// patterns, or lying inside a matched folder, is written once.
void Choose(const ArchiveNode *folder, const std::vector<std::string> &patterns,
            std::vector<bool> &used, std::vector<const ArchiveNode *> &folders,
            std::vector<Selected> &chosen)
{
    folders.push_back(folder);
    for (const ArchiveNode *child : folder->m_Children) {
        const std::string path = SlashPath(child->m_Path);
        bool matched = false;
        for (size_t i = 0; i < patterns.size(); ++i) {
            if (GlobMatch(patterns[i], path)) {
                used[i] = true;
                matched = true;
            }
        }
        if (matched)
            chosen.push_back({child, folders});
        else if (child->IsFolder())
            Choose(child, patterns, used, folders, chosen);
    }
    folders.pop_back();
}

// A pattern whose matches all lie inside a folder another pattern chose
// was not looked at by Choose, yet it matched.
bool MatchesAnything(const ArchiveNode *root, const std::string &pattern)
{
    bool matched = false;
    WalkBelow(root, [&](const ArchiveNode *node) {
        matched = matched || GlobMatch(pattern, SlashPath(node->m_Path));
    });
    return matched;
}

Selection Select(const ArchiveNode *root, const std::vector<std::string> &typed)
{
    std::vector<std::string> patterns;
    for (const std::string &p : typed)
        patterns.push_back(NormalizePattern(p));
    std::vector<bool> used(patterns.size(), false);
    bool everything = patterns.empty();
    for (size_t i = 0; i < patterns.size(); ++i) {
        if (GlobMatch(patterns[i], SlashPath(root->m_Path)))
            used[i] = everything = true;
    }
    Selection selection;
    if (everything) {
        selection.chosen.push_back({root, {}});
    } else {
        std::vector<const ArchiveNode *> folders;
        Choose(root, patterns, used, folders, selection.chosen);
    }
    for (size_t i = 0; i < patterns.size(); ++i)
        if (!used[i] && !MatchesAnything(root, patterns[i]))
            selection.unmatched.push_back(typed[i]);
    for (const Selected &s : selection.chosen)
        selection.files += zarnik::CountTree(s.node).files;
    return selection;
}

zarnik::ExtractEnd WriteSelection(const CZarnikArchive &archive, const Selection &selection, const fs::path &dir,
                                  const ExtractOptions &options, ExtractReport &report)
{
    StopOnSignals stopOnSignals;
    zarnik::ExtractSettings settings;
    settings.stop = &StopRequested();
    settings.workers = options.jobs;
    settings.sync = options.sync;
    const zarnik::CExtraction extraction(archive, &report, settings);
    for (const Selected &s : selection.chosen) {
        const zarnik::ExtractEnd end =
            extraction.Extract(*s.node, zarnik::ExtractDestination::Folder(dir.u8string(), s.folders));
        if (end != zarnik::ExtractEnd::Finished)
            return end;
    }
    return zarnik::ExtractEnd::Finished;
}

// The closing lines and the exit status. The summary counts each file asked
// for once, as written, skipped, failed or not written, and says whatever
// else went wrong, so that a run ending in failure never sums up as one
// where nothing did.
int Summarize(const Selection &selection, const ExtractReport &report, zarnik::ExtractEnd end,
              const OpenLosses &losses)
{
    const uint64_t tried = report.Written() + report.Skipped() + report.FailedFiles();
    const uint64_t left = selection.files > tried ? selection.files - tried : 0;
    std::string summary = Counted(report.Written(), "file", "files") + " written (" +
                          HumanBytes(report.WrittenBytes()) + "), " + std::to_string(report.Skipped()) +
                          " skipped (already there), " + std::to_string(report.FailedFiles()) + " failed";
    if (left)
        summary += ", " + std::to_string(left) + " not written";
    if (!selection.unmatched.empty())
        summary += ", " + Counted(selection.unmatched.size(), "pattern", "patterns") + " matched nothing";
    // What opening passed over is not on the disk either.
    if (losses.Any())
        summary += "; the pack could not be read whole: " + OpenLossesText(losses);
    std::printf("%s\n", summary.c_str());

    const std::string notWritten = Counted(left, "file was", "files were") + " not written";
    if (end == zarnik::ExtractEnd::DiskFull) {
        PrintError("the disk is full or read-only; " + notWritten);
        return kExitFileFailed;
    }
    if (end == zarnik::ExtractEnd::Stopped) {
        PrintError(std::string("interrupted by ") + StopSignalName() + "; " + notWritten);
        return StoppedExitStatus();
    }
    const bool failed = report.AnyFailure() || !selection.unmatched.empty() || losses.Any();
    return failed ? kExitFileFailed : kExitOk;
}

} // namespace

int RunExtract(const ExtractOptions &options)
{
    const auto archive = OpenPack(options.pack);
    if (!archive)
        return kExitUsage;
    const fs::path dir = DestinationFolder(options.dir);
    if (dir.empty())
        return kExitUsage;

    const Selection selection = Select(archive->GetRoot(), options.patterns);
    ProgressLine progress(options.progress.Shown(), selection.files);
    ExtractReport report(progress);
    for (const std::string &pattern : selection.unmatched)
        report.PrintFailure(Printable(pattern), "no file or folder matches this pattern");
    for (const zarnik::OpenReportItem &item : archive->GetOpenReport())
        if (LostBeforeReading(item))
            report.PrintFailure(OpenReportPlace(item), zarnik::OpenReportItemText(item));

    const zarnik::ExtractEnd end = WriteSelection(*archive, selection, dir, options, report);
    progress.Clear();
    return Summarize(selection, report, end, CountOpenLosses(*archive));
}
