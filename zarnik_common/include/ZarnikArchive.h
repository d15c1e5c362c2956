// CZarnikArchive: one opened Zarnik pack, and ArchiveNode, one file or folder
// of its tree.
//
// A path containing ".vfs" is opened through the index "content.vfi" beside
// it; any other path as a single pack whose chunk 1 is the file table. The
// entries become a folder tree under the root "content". The archive owns
// every node and frees them with itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace zarnik {

class CChunkReader;
class CFileSource;

struct ArchiveNode
{
    std::string m_Name; // last segment of m_Path
    std::string m_Path; // full archive path, segments separated by '\'
    uint32_t m_PackedSize = 0; // stored bytes; 0 marks a folder
    uint32_t m_UnpackedSize = 0;
    uint32_t m_Offset = 0; // from the first byte of the data file
    uint32_t m_DataFile = 0; // which of the archive's data files holds the bytes
    std::vector<const ArchiveNode *> m_Children; // insertion order, not sorted

    bool IsFolder() const { return m_PackedSize == 0; }
    bool IsPacked() const { return m_PackedSize != m_UnpackedSize; }
};

// What became of one node of an extraction. Every file reaches the callback
// once with one of these; a folder only when it could not be written.
enum class ExtractOutcome {
    Written,      // the file stands complete under its final name
    Exists,       // something already stands there; left untouched
    OutOfRange,   // the stored bytes lie outside the data file
    Unreadable,   // the stored bytes could not be read (the pack changed or shrank)
    Damaged,      // the packed data is damaged
    WrongSize,    // it unpacks to another size than the entry says
    NoMemory,     // its buffers could not be allocated
    UnsafeName,   // ".", ".." or a name holding '/': not written, nor anything below it
    EmptyName,    // the entry's name is empty
    Duplicate,    // an earlier entry has the same path; only that one is written
    LinkInPath,   // a link stands where a folder goes; not followed
    CannotCreate, // the file could not be created
    WriteFailed,  // writing failed; the partial file was removed
    NoDirectory,  // a folder's directory could not be made
    DiskFull,     // no space left, or the disk is read-only; extraction stops
    Stopped,      // a stop was requested while the file was being written
};

// One short English sentence for each outcome.
const char *ExtractOutcomeText(ExtractOutcome outcome);

// Something opening passed over; the pack opened with the rest.
struct OpenReportItem
{
    enum class Kind {
        ChunkCutShort,   // a chunk's size runs past the end of its file
        EntryCutShort,   // an entry does not fit in what is left of its chunk
        NameTooLong,     // a stored name longer than 260 bytes
        NoParent,        // an entry whose folder has no parent ("NULL != parent")
        DuplicatePath,   // a second entry with the path of an earlier one
        EmptyName,       // an entry whose name is empty (a path ending in '\')
        DataFileMissing, // the index names a data file that cannot be opened
    };
    Kind kind;
    // Where: the entry's archive path (for DataFileMissing the data file's
    // name) where it has one, and the position of its chunk's header in the
    // index or pack file.
    uint32_t offset;
    std::string path;
    // For DataFileMissing: whether the index chunk holds any entry, so that
    // its entries are lost with the data file.
    bool entriesLost = true;
};

const char *OpenReportText(OpenReportItem::Kind kind);

class CZarnikArchive
{
public:
    // Per-file progress and results of Extract, called on the extracting
    // thread.
    struct Callback
    {
        // Once per file, before its bytes are read; `path` is its m_Path.
        virtual void OnExtractFile(const std::string &path) { (void)path; }
        // Bytes of the current file written to disk, as they go.
        virtual void OnExtractBytes(uint64_t count) { (void)count; }
        // Once per file tried: Written, or why it was not. For a folder only
        // when it could not be written; then nothing below it is tried. A
        // file announced but not yet begun when a stop or a full disk ends
        // the run has none: it was not tried.
        virtual void OnExtractResult(const ArchiveNode &node, ExtractOutcome outcome)
        {
            (void)node;
            (void)outcome;
        }

    protected:
        // Extraction never deletes a callback.
        ~Callback() = default;
    };

    // How an extraction ended.
    enum class ExtractEnd {
        Finished,   // every node was tried; each result went to the callback
        Stopped,    // the stop flag was set: the rest was not tried
        DiskFull,   // the disk is full or read-only: the rest was not tried
        NoDataFile, // the archive has no data reader: nothing was tried
    };

    struct ExtractOptions
    {
        // Set from any thread to stop: checked between files and while a
        // long file is written; the files in progress are removed.
        const std::atomic<bool> *stop = nullptr;
        // Files read, unpacked and written at once (1: all on the calling
        // thread; 0: as many as the machine has cores, at most 8, when the
        // node holds enough to gain from them). Whatever the number, every
        // callback is called on the calling thread and the results come in
        // the pack's order; with several, OnExtractFile comes when a file
        // is handed to a worker, so a few files may be announced before the
        // first result, and OnExtractBytes comes at least every 50
        // milliseconds.
        unsigned workers = 0;
        // The folders that lead to the node from the root, outermost first.
        // When given, `dest` is a directory and the node is written at
        // dest/<their names>/<its name>, the folders made on the way.
        std::vector<const ArchiveNode *> leadingFolders;
    };

    // Why the last Open failed.
    enum class OpenFailure {
        None,
        NoDirectory,     // a ".vfs" path without a folder
        IndexUnreadable, // "content.vfi" missing or not readable beside the ".vfs"
        NotNamedInIndex, // no chunk of the index names the data file
        DataUnreadable,  // the data or pack file cannot be opened (or is 4 GiB or more)
        NoFileTable,     // a single pack without a chunk of identifier 1
        NoEntries,       // the file tables or index chunks hold no entry
    };

    CZarnikArchive();
    virtual ~CZarnikArchive();

    CZarnikArchive(const CZarnikArchive &) = delete;
    CZarnikArchive &operator=(const CZarnikArchive &) = delete;

    // "content.vfi" is opened with every data file it names that is present
    // beside it; a path whose file name holds ".vfs" through the
    // "content.vfi" in its folder, with that data file only; any other as a
    // single pack. Paths are the system's own.
    bool Open(const std::string &path);
    const ArchiveNode *GetRoot() const { return m_Root; }
    // The folder at `path` ("content", "content\\gfx", ...), or null. Files
    // are reached through their folder's m_Children.
    const ArchiveNode *FindNode(const std::string &path) const;

    // Writes `node` to disk below `dest`: a file to exactly `dest`, a folder
    // as dest/<its name> with its whole subtree (see ExtractOptions for a
    // node written at its place in the tree). Every file is written under a
    // temporary name and takes its final name only when complete, never
    // replacing anything; links below `dest` are never followed.
    ExtractEnd Extract(const ArchiveNode *node, const std::string &dest, Callback *callback,
                       const ExtractOptions &options);
    ExtractEnd Extract(const ArchiveNode *node, const std::string &dest, Callback *callback)
    {
        return Extract(node, dest, callback, ExtractOptions());
    }

    // Reads a file node's bytes, unpacked: `out` receives m_UnpackedSize
    // bytes. On failure returns false and says why in `outcome`. Safe to
    // call from several threads at once.
    bool ReadFileData(const ArchiveNode *node, std::unique_ptr<unsigned char[]> &out,
                      ExtractOutcome &outcome) const;

    // Everything opening passed over, in the order it was met.
    const std::vector<OpenReportItem> &GetOpenReport() const { return m_OpenReport; }

    OpenFailure GetOpenFailure() const { return m_OpenFailure; }
    // The (first) file whose bytes the entries point into ("" before Open).
    const std::string &GetDataPath() const;
    // Size of that data file in bytes (0 before a successful Open).
    uint32_t GetDataSize() const;
    // Every data file an open met, in the order met (ArchiveNode::m_DataFile
    // counts in it), with its size (0 for one that could not be opened).
    size_t GetDataFileCount() const { return m_DataPaths.size(); }
    const std::string &GetDataFilePath(size_t i) const { return m_DataPaths.at(i); }
    uint32_t GetDataFileSize(size_t i) const;
    bool IsIndexRoute() const { return m_IndexRoute; }

private:
    ArchiveNode *NewNode();
    bool OpenVfs(const std::string &path);
    // Reads one single-pack file table (a sub-reader over a chunk of
    // identifier 1) and appends its entries; false when it holds none.
    bool ReadFileTable(CChunkReader &table, std::vector<ArchiveNode *> &entries);
    // Makes the tree of `files`, nodes of this archive's own.
    void BuildTree(const std::vector<ArchiveNode *> &files);
    ArchiveNode *AddNode(const std::string &path, ArchiveNode *file);
    ArchiveNode *FindFolder(const std::string &path) const;
    bool OpenIndex(const std::string &folder, const std::string *onlyName);
    // The index of the data file at `path`, opened on first use; -1 when it
    // cannot be opened.
    int OpenDataFile(const std::string &path, bool mapped);
    const CFileSource *DataFile(const ArchiveNode &node) const;
    void ReadEntries(CChunkReader &chunk, uint32_t keepBytes, std::vector<ArchiveNode *> &entries);
    void Report(OpenReportItem::Kind kind, uint32_t offset, std::string path);
    friend class CExtraction;

    std::vector<std::unique_ptr<CFileSource>> m_DataFiles; // null where one failed
    std::vector<std::string> m_DataPaths;
    std::map<std::string, ArchiveNode *> m_Nodes;
    ArchiveNode *m_Root;

    // Every node of this archive; a deque keeps their addresses stable.
    std::deque<ArchiveNode> m_Pool;
    OpenFailure m_OpenFailure;
    bool m_IndexRoute;
    // AddNode's memory of the last folder a file went into, keyed by the
    // file path's folder part: runs of files in one folder skip the walk.
    std::string m_LastFolderKey;
    ArchiveNode *m_LastFolder;

    std::vector<OpenReportItem> m_OpenReport;
    uint32_t m_ChunkOffset = 0; // the chunk ReadEntries reads from
    // Second and later file entries of one path: extraction writes only the
    // first.
    std::unordered_set<const ArchiveNode *> m_Duplicates;
};

} // namespace zarnik
