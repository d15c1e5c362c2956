// `zarnik extract`: the whole tree, or the nodes that match patterns, written
// below a folder. The library writes; the tool chooses the nodes, makes the
// folders that lead to a chosen node, and counts what happened.
#include "Commands.h"
#include "Extraction.h"
#include "Console.h"
#include "Glob.h"
#include "OpenPack.h"
#include "PackPath.h"
#include "PackText.h"
#include "Progress.h"
#include "StopSignals.h"
#include "TreeWalk.h"

#include <atomic>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <filesystem>
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace fs = std::filesystem;
using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;
using zarnik::ExtractOutcome;

namespace {

// A node to write, with the folders that lead to it from the root (the
// root's included).
struct Selected
{
    const ArchiveNode *node;
    std::vector<const ArchiveNode *> folders;
};

// Counts the library's per-file results and prints every failure.
class ExtractReport : public zarnik::ExtractCallback
{
public:
    explicit ExtractReport(ProgressLine &progress) : m_Progress(progress) {}

    void OnExtractFile(const std::string &path) override
    {
        m_Current = ShownPath(path);
        m_Progress.Update(m_Done, m_Bytes, m_Current);
    }

    void OnExtractBytes(uint64_t count) override
    {
        m_Bytes += count;
        m_Progress.Update(m_Done, m_Bytes, m_Current);
    }

    void OnExtractResult(const ArchiveNode &node, ExtractOutcome outcome) override
    {
        if (!node.IsFolder())
            ++m_Done;
        switch (outcome) {
        case ExtractOutcome::Written:
            ++m_Written;
            m_WrittenBytes += node.m_UnpackedSize;
            break;
        case ExtractOutcome::Exists:
            ++m_Skipped;
            break;
        case ExtractOutcome::Stopped:
        case ExtractOutcome::DiskFull:
            // The run ends; the summary says what was not written.
            break;
        default:
            Fail(ShownPath(node.m_Path), ExtractOutcomeText(outcome));
            break;
        }
        m_Progress.Update(m_Done, m_Bytes, m_Current);
    }

    // One failure line; `what` is already UTF-8 (a path in its '/' form, or
    // a pattern).
    void Fail(const std::string &what, const std::string &reason)
    {
        ++m_Failed;
        m_Progress.Clear();
        std::fprintf(stderr, "zarnik: %s: %s\n", what.c_str(), reason.c_str());
    }

    uint64_t written() const { return m_Written; }
    uint64_t writtenBytes() const { return m_WrittenBytes; }
    uint64_t skipped() const { return m_Skipped; }
    uint64_t failed() const { return m_Failed; }

private:
    ProgressLine &m_Progress;
    std::string m_Current;
    uint64_t m_Done = 0;
    uint64_t m_Written = 0;
    uint64_t m_Bytes = 0; // as they are written, for the progress line
    uint64_t m_WrittenBytes = 0;
    uint64_t m_Skipped = 0;
    uint64_t m_Failed = 0;
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

} // namespace

int RunExtract(const ExtractOptions &options)
{
    const auto archive = OpenPack(options.pack);
    if (!archive)
        return kExitUsage;

    std::error_code ec;
    const fs::path dir = fs::absolute(fs::u8path(options.dir), ec);
    if (!ec)
        fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir)) {
        PrintError("cannot use " + options.dir + " as the destination folder" +
                   (ec ? ": " + ec.message() : ""));
        return kExitUsage;
    }

    std::vector<std::string> patterns;
    for (const std::string &p : options.patterns)
        patterns.push_back(NormalizePattern(p));
    const ArchiveNode *root = archive->GetRoot();
    std::vector<bool> used(patterns.size(), false);
    std::vector<Selected> chosen;
    bool everything = patterns.empty();
    for (size_t i = 0; i < patterns.size(); ++i) {
        if (GlobMatch(patterns[i], SlashPath(root->m_Path))) {
            used[i] = true;
            everything = true;
        }
    }
    if (everything) {
        chosen.push_back({root, {}});
    } else {
        std::vector<const ArchiveNode *> folders;
        Choose(root, patterns, used, folders, chosen);
    }

    uint64_t totalFiles = 0;
    for (const Selected &s : chosen)
        totalFiles += zarnik::CountTree(s.node).files;
    const bool showProgress = !options.quiet && (options.progress || StandardErrorIsTerminal());
    ProgressLine progress(showProgress, totalFiles);
    ExtractReport report(progress);

    // A pattern whose matches all lie inside a folder another pattern chose
    // was not looked at above, yet it matched.
    for (size_t i = 0; i < patterns.size(); ++i) {
        if (used[i])
            continue;
        WalkBelow(root, [&](const ArchiveNode *node) {
            used[i] = used[i] || GlobMatch(patterns[i], SlashPath(node->m_Path));
        });
        if (!used[i])
            report.Fail(options.patterns[i], "no file or folder matches this pattern");
    }

    StopOnSignals stopOnSignals;
    zarnik::ExtractEnd end = zarnik::ExtractEnd::Finished;
    zarnik::ExtractSettings settings;
    settings.stop = &g_stop;
    settings.workers = options.jobs;
    const zarnik::CExtraction extraction(*archive, &report, settings);
    for (const Selected &s : chosen) {
        end = extraction.Extract(*s.node, zarnik::ExtractDestination::Folder(dir.u8string(), s.folders));
        if (end != zarnik::ExtractEnd::Finished)
            break;
    }
    progress.Clear();

    std::printf("%" PRIu64 " files written (%s), %" PRIu64 " skipped (already there), %" PRIu64
                " failed\n",
                report.written(), HumanBytes(report.writtenBytes()).c_str(), report.skipped(),
                report.failed());
    const uint64_t left = totalFiles - report.written() - report.skipped() - report.failed();
    const std::string notWritten =
        std::to_string(left) + (left == 1 ? " file was" : " files were") + " not written";
    if (end == zarnik::ExtractEnd::DiskFull) {
        PrintError("the disk is full or read-only; " + notWritten);
        return kExitFileFailed;
    }
    if (end == zarnik::ExtractEnd::Stopped) {
        const bool term = g_signal == SIGTERM;
        PrintError(std::string("interrupted by ") + (term ? "SIGTERM" : "SIGINT") + "; " +
                   notWritten);
        return 128 + (term ? SIGTERM : SIGINT);
    }
    return report.failed() ? kExitFileFailed : kExitOk;
}
