// CExtraction: nodes of an opened archive written to disk, depth first.
//
// Every file is written under a temporary name beside its place and takes
// its final name only when complete, never replacing anything; links below
// the destination are never followed.
#pragma once

#include "ZarnikArchive.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace zarnik {

// Per-file progress and results of an extraction, called on the thread that
// called CExtraction::Extract.
struct ExtractCallback
{
    // Once per file, before its bytes are read; `path` is its m_Path.
    virtual void OnExtractFile(const std::string &path) { (void)path; }
    // Bytes of the current file written to disk, as they go.
    virtual void OnExtractBytes(uint64_t count) { (void)count; }
    // Once per file tried: Written, or why it was not. For a folder only
    // when it could not be written; then nothing below it is tried. A file
    // announced but not yet begun when a stop or a full disk ends the run
    // has none: it was not tried.
    virtual void OnExtractResult(const ArchiveNode &node, ExtractOutcome outcome)
    {
        (void)node;
        (void)outcome;
    }
    // Just before OnExtractResult, when the system said why a file or folder
    // could not be made or written (CannotCreate, WriteFailed, NoDirectory):
    // its own words ("Permission denied", "File too large").
    virtual void OnExtractReason(const ArchiveNode &node, const std::string &reason)
    {
        (void)node;
        (void)reason;
    }

protected:
    // Extraction never deletes a callback.
    ~ExtractCallback() = default;
};

// How an extraction ended.
enum class ExtractEnd {
    Finished,   // every node was tried; each result went to the callback
    Stopped,    // the stop flag was set: the rest was not tried
    DiskFull,   // the disk is full or read-only: the rest was not tried
};

// Where a node goes. Paths are the system's own.
class ExtractDestination
{
public:
    // A file node written to exactly `path`, under the name the user chose
    // (a folder node goes below `path`, as with Folder(path)).
    static ExtractDestination File(std::string path)
    {
        return ExtractDestination(std::move(path), true, {});
    }
    // The node written below the directory `directory` at its place in the
    // tree: at directory/<names of leadingFolders>/<its own name>, the
    // folders made on the way. `leadingFolders` lead from the root to the
    // node, outermost first; none puts the node right below `directory`.
    // Its own name and theirs must be safe names (IsSafeName in PackPath.h);
    // one that is not is reported, never joined.
    static ExtractDestination Folder(std::string directory,
                                     std::vector<const ArchiveNode *> leadingFolders = {})
    {
        return ExtractDestination(std::move(directory), false, std::move(leadingFolders));
    }

    const std::string &Path() const { return m_Path; }
    bool IsFile() const { return m_IsFile; }
    const std::vector<const ArchiveNode *> &LeadingFolders() const { return m_LeadingFolders; }

private:
    ExtractDestination(std::string path, bool isFile, std::vector<const ArchiveNode *> leading)
        : m_Path(std::move(path)), m_IsFile(isFile), m_LeadingFolders(std::move(leading))
    {
    }

    std::string m_Path;
    bool m_IsFile;
    std::vector<const ArchiveNode *> m_LeadingFolders;
};

struct ExtractSettings
{
    // Set from any thread to stop: checked between files and while a long
    // file is written; the files in progress are removed.
    const std::atomic<bool> *stop = nullptr;
    // Files read, unpacked and written at once (1: all on the calling
    // thread; 0: as many as the machine has cores, at most 8, when the node
    // holds enough to gain from them). Whatever the number, every callback
    // is called on the calling thread and the results come in the pack's
    // order; with several, OnExtractFile comes when a file is handed to a
    // worker, so a few files may be announced before the first result, and
    // OnExtractBytes comes at least every 50 milliseconds.
    unsigned workers = 0;
    // Each file's bytes flushed to the disk before it takes its final name,
    // so that a power cut cannot leave a named but incomplete file; slower.
    bool sync = false;
};

class CExtraction
{
public:
    // `archive` and `callback` (which may be null) must outlive every Extract.
    CExtraction(const CZarnikArchive &archive, ExtractCallback *callback,
                ExtractSettings settings = ExtractSettings())
        : m_Archive(archive), m_Callback(callback), m_Settings(settings)
    {
    }

    // Writes `node` with everything below it to `destination`.
    ExtractEnd Extract(const ArchiveNode &node, const ExtractDestination &destination) const;

private:
    const CZarnikArchive &m_Archive;
    ExtractCallback *m_Callback;
    ExtractSettings m_Settings;
};

} // namespace zarnik
