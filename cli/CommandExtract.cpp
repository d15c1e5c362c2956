// `zarnik extract`: the whole tree, or the nodes that match patterns, written
// below a folder. The library writes; the tool chooses the nodes, makes the
// folders that lead to a chosen node, and counts what happened.
#include "Commands.h"
#include "Glob.h"
#include "OpenPack.h"
#include "PackText.h"
#include "Progress.h"
#include "TreeWalk.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A node to write, with the names of the folders that lead to it from the
// root (the root's included).
struct Selected
{
    const ArchiveNode *node;
    std::vector<const ArchiveNode *> folders;
    bool safeFolders; // none of `folders` has an unsafe name
};

// Counts the library's reports. The library announces each file before it
// reads it and reports a failure right after, so a file counts as written
// when the next one is announced (or the node is done) without a failure.
class ExtractReport : public CZarnikArchive::Callback
{
public:
    explicit ExtractReport(ProgressLine &progress) : m_Progress(progress) {}

    // The files the next Extract call may announce, in the order it writes them.
    void Begin(std::vector<const ArchiveNode *> files)
    {
        m_Files = std::move(files);
        m_Next = 0;
        m_Pending = nullptr;
    }
    void End() { Settle(); }

    void OnExtractFile(const std::string &path) override
    {
        Settle();
        // Files below an unsafe name are passed over without an announcement.
        while (m_Next < m_Files.size() && m_Files[m_Next]->m_Path != path)
            ++m_Next;
        if (m_Next < m_Files.size())
            m_Pending = m_Files[m_Next++];
        m_PendingFailed = false;
        m_Progress.Update(m_Done, m_Bytes, SlashPath(path));
    }

    void OnExtractFailed(const std::string &path, const std::string &reason) override
    {
        if (m_Pending && !m_PendingFailed && m_Pending->m_Path == path) {
            m_PendingFailed = true;
            ++m_Done;
            if (reason == CZarnikArchive::kReasonExists) {
                ++m_Skipped;
                return;
            }
        }
        Fail(SlashPath(path), reason);
    }

    // One failure line; `what` is already UTF-8 (a path in its '/' form, or
    // a pattern). Also for what the tool finds itself: an unsafe folder on
    // the way, a folder it could not make, a pattern without a match.
    void Fail(const std::string &what, const std::string &reason)
    {
        ++m_Failed;
        m_Progress.Clear();
        std::fprintf(stderr, "zarnik: %s: %s\n", what.c_str(), reason.c_str());
    }

    uint64_t written() const { return m_Written; }
    uint64_t bytes() const { return m_Bytes; }
    uint64_t skipped() const { return m_Skipped; }
    uint64_t failed() const { return m_Failed; }

private:
    void Settle()
    {
        if (m_Pending && !m_PendingFailed) {
            ++m_Written;
            ++m_Done;
            m_Bytes += m_Pending->m_UnpackedSize;
            m_Progress.Update(m_Done, m_Bytes, SlashPath(m_Pending->m_Path));
        }
        m_Pending = nullptr;
    }

    ProgressLine &m_Progress;
    std::vector<const ArchiveNode *> m_Files;
    size_t m_Next = 0;
    const ArchiveNode *m_Pending = nullptr;
    bool m_PendingFailed = false;
    uint64_t m_Done = 0;
    uint64_t m_Written = 0;
    uint64_t m_Bytes = 0;
    uint64_t m_Skipped = 0;
    uint64_t m_Failed = 0;
};

std::vector<const ArchiveNode *> FilesOf(const ArchiveNode *node)
{
    std::vector<const ArchiveNode *> files;
    if (!node->IsFolder())
        files.push_back(node);
    WalkBelow(node, [&files](const ArchiveNode *n) {
        if (!n->IsFolder())
            files.push_back(n);
    });
    return files;
}

// The nodes the patterns choose. A chosen folder brings its whole subtree,
// so nothing below it is looked at again: a node matched by several
// patterns, or lying inside a matched folder, is written once.
void Choose(const ArchiveNode *folder, const std::vector<std::string> &patterns,
            std::vector<bool> &used, std::vector<const ArchiveNode *> &folders, bool safe,
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
            chosen.push_back({child, folders, safe});
        else if (child->IsFolder())
            Choose(child, patterns, used, folders, safe && IsSafeName(child->m_Name), chosen);
    }
    folders.pop_back();
}

// Writes one chosen node at `dir` followed by its path in the tree.
void ExtractChosen(CZarnikArchive &archive, const Selected &chosen, const fs::path &dir,
                   ExtractReport &report)
{
    const ArchiveNode *node = chosen.node;
    if (!chosen.safeFolders || (!node->IsFolder() && !IsSafeName(node->m_Name))) {
        report.Fail(SlashPath(node->m_Path), CZarnikArchive::kReasonUnsafeName);
        return;
    }
    fs::path parent = dir;
    for (const ArchiveNode *folder : chosen.folders)
        parent /= DisplayName(folder->m_Name);
    std::error_code ec;
    fs::create_directories(parent, ec);
    if (ec) {
        report.Fail(SlashPath(chosen.folders.back()->m_Path),
                    std::string(CZarnikArchive::kReasonNoDirectory) + ": " + ec.message());
        return;
    }
    const std::string dest = node->IsFolder()
                                 ? parent.string()
                                 : (parent / DisplayName(node->m_Name)).string();
    report.Begin(FilesOf(node));
    archive.Extract(const_cast<ArchiveNode *>(node), WithBackslashes(dest), &report);
    report.End();
}

} // namespace

int RunExtract(const ExtractOptions &options)
{
    const auto archive = OpenPack(options.pack);
    if (!archive)
        return kExitUsage;

    std::error_code ec;
    const fs::path dir = fs::absolute(options.dir, ec);
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
        chosen.push_back({root, {}, true});
    } else {
        std::vector<const ArchiveNode *> folders;
        Choose(root, patterns, used, folders, true, chosen);
    }

    uint64_t totalFiles = 0;
    for (const Selected &s : chosen)
        totalFiles += CountTree(s.node).files;
    const bool showProgress = !options.quiet && (options.progress || isatty(STDERR_FILENO));
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

    for (const Selected &s : chosen) {
        if (s.node == root) {
            report.Begin(FilesOf(root));
            archive->Extract(const_cast<ArchiveNode *>(root), WithBackslashes(dir.string()),
                             &report);
            report.End();
        } else {
            ExtractChosen(*archive, s, dir, report);
        }
    }
    progress.Clear();

    std::printf("%" PRIu64 " files written (%s), %" PRIu64 " skipped (already there), %" PRIu64
                " failed\n",
                report.written(), HumanBytes(report.bytes()).c_str(), report.skipped(),
                report.failed());
    return report.failed() ? kExitFileFailed : kExitOk;
}
