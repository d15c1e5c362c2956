// CZarnikArchive: one opened Zarnik pack, and ArchiveNode, one file or folder
// of its tree.
//
// The file's own name routes it (RouteOf in PackPath.h): "content.vfi" and a
// name holding ".vfs" open through the index, any other as a single pack
// whose chunk 1 is the file table. The entries become a folder tree under
// the root "content". An opened archive never changes: it owns every node
// and frees them with itself, and any number of threads may read it at once.
// Writing its files to disk is CExtraction's (Extraction.h).
#pragma once

#include "BlockStream.h"
#include "PlatformFile.h"
#include "ReadOutcome.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
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
    // Which of the archive's data files holds the bytes. An index (under
    // 4 GiB, 20 bytes or more a chunk) names fewer than 2^28: 30 bits hold
    // any, and the flags below share their word, so that a million nodes
    // take no more memory for them.
    uint32_t m_DataFile : 30;
    // A file whose path an earlier file, or a folder, already has: extraction
    // writes only that earlier file, or the folder.
    uint32_t m_Duplicate : 1;
    // A file or folder whose name differs only in case from an earlier one
    // beside it (CZarnikArchive::EarlierCaseTwin): a disk that ignores case
    // takes the two for one.
    uint32_t m_CaseTwin : 1;
    std::vector<const ArchiveNode *> m_Children; // insertion order, not sorted
    // The folder whose m_Children hold this node; null for the root and for
    // an entry the tree left out. A caller that holds a node deep in a large
    // tree finds its folders without a search by path.
    const ArchiveNode *m_Parent = nullptr;

    ArchiveNode() : m_DataFile(0), m_Duplicate(0), m_CaseTwin(0) {}

    bool IsFolder() const { return m_PackedSize == 0; }
    bool IsPacked() const { return m_PackedSize != m_UnpackedSize; }
};

// What became of one node of an extraction. Every file reaches the callback
// once with one of these; a folder only when it could not be written. Reading
// a file's data fails with one of the reading kinds (OutOfRange to NoMemory),
// each a ReadOutcome of the same name (ExtractOutcomeOf), with its sentence.
enum class ExtractOutcome {
    Written,      // the file stands complete under its final name
    Exists,       // something already stands there; left untouched
    // The reading kinds, each the ReadOutcome of the same name:
    OutOfRange,
    Unreadable,
    Damaged,
    WrongSize,
    TooLarge,
    NoMemory,
    UnsafeName,   // a name IsSafeName refuses: not written, nor anything below it
    EmptyName,    // the entry's name is empty
    Duplicate,    // an earlier file, or a folder, has the same path; only that one is written
    CaseTwin,     // an earlier node beside it differs only in case, and this disk takes the
                  // two names for one: not written, nor anything below it
    LinkInPath,   // a link stands where a folder goes; not followed
    CannotCreate, // the file could not be created
    WriteFailed,  // writing failed; the partial file was removed
    NoDirectory,  // a folder's directory could not be made
    DiskFull,     // no space left, or the disk is read-only; extraction stops
    Stopped,      // a stop was requested while the file was being written
};

// One short English sentence for each outcome.
const char *ExtractOutcomeText(ExtractOutcome outcome);

// The outcome of an extraction whose read of the file ended in `read`:
// Written for Sound, else the reading kind of the same name.
ExtractOutcome ExtractOutcomeOf(ReadOutcome read);

// Something opening passed over; the pack opened with the rest.
struct OpenReportItem
{
    enum class Kind {
        ChunkCutShort,   // a chunk's size runs past the end of its file
        EntryCutShort,   // an entry does not fit in what is left of its chunk
        NameTooLong,     // a stored name longer than 260 bytes
        NoParent,        // an entry whose folder has no parent folder
        DuplicatePath,   // a second file of a path, or a file with a folder's path
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
// What `item` means for the pack, as the tool and the explorer say it: its
// kind's text, or that nothing is lost where a missing data file's chunk
// held no entry.
const char *OpenReportItemText(const OpenReportItem &item);

// Why opening failed.
enum class OpenFailure {
    None,
    NoDirectory,     // a ".vfs" path without a folder
    IndexUnreadable, // "content.vfi" missing or not readable beside the ".vfs"
    NotNamedInIndex, // no chunk of the index names the data file
    DataUnreadable,  // the data or pack file cannot be opened (or is 4 GiB or more)
    NoFileTable,     // a single pack without a chunk of identifier 1
    NoEntries,       // the file tables or index chunks hold no entry
};

// One sentence saying why, for people (the tool and the explorer alike).
const char *OpenFailureText(OpenFailure failure);

class CZarnikArchive
{
public:
    using OpenFailure = zarnik::OpenFailure;

    // What Open gives: the archive, or why there is none.
    struct OpenResult
    {
        std::unique_ptr<const CZarnikArchive> archive; // null when opening failed
        OpenFailure failure = OpenFailure::None;
        // What opening passed over before it failed (a chunk cut short, the
        // data files an index names that are missing), so that a caller
        // can say more than the failure's kind; empty on success, where
        // the archive's GetOpenReport() holds it.
        std::vector<OpenReportItem> report;
    };

    // "content.vfi" is opened with every data file it names that is present
    // beside it; a path whose file name holds ".vfs" through the
    // "content.vfi" in its folder, with that data file only; any other as a
    // single pack. Paths are the system's own.
    static OpenResult Open(const std::string &path);
    // `path` as the "content.vfi" of the data files beside it, whatever its
    // own name: a changed index is read back under its temporary name
    // before it takes the index's place.
    static OpenResult OpenIndexFile(const std::string &path);

    ~CZarnikArchive();
    CZarnikArchive(const CZarnikArchive &) = delete;
    CZarnikArchive &operator=(const CZarnikArchive &) = delete;

    const ArchiveNode *GetRoot() const { return m_Root; }
    // The folder at `path` ("content", "content\\gfx", ...), or null. Files
    // are reached through their folder's m_Children.
    const ArchiveNode *FindFolder(const std::string &path) const;

    // Reads a file node's bytes, unpacked: `out` receives m_UnpackedSize
    // bytes. On failure returns false and says why in `failure`. Safe to
    // call from several threads at once.
    bool ReadFileData(const ArchiveNode *node, std::unique_ptr<unsigned char[]> &out,
                      ReadOutcome &failure) const;

    // Receives a file's bytes in order, from one thread at a time; false
    // ends the read (Stopped).
    using DataSink = std::function<bool(const unsigned char *data, size_t size)>;
    // How a file's bytes are read a window at a time.
    struct StreamSettings
    {
        // Threads decoding a packed file's blocks at once (the calling one
        // among them); 0: as many as the machine has cores, at most 8, when
        // the file is large enough to gain from them.
        unsigned workers = 1;
        // Looked at before every block or step; a raised flag ends the read
        // (Stopped) within 8 MiB.
        const std::atomic<bool> *stop = nullptr;
    };
    // Hands a file node's bytes, unpacked, to `sink` in order, a few blocks
    // at a time: memory stays a few blocks per worker whatever the file's
    // size. Sound when every byte went to the sink, else why not; the
    // sink may have had the bytes before a failure, never any past it.
    // Safe to call from several threads at once.
    ReadOutcome StreamFileData(const ArchiveNode &node, const DataSink &sink,
                               StreamSettings settings) const;

    // For readers of their own (a mount reading a few blocks at a time):
    // Sound when `node`'s stored bytes lie inside its open data file and a
    // packed node claims no more than they can decode to; else why its
    // bytes cannot be read. Checked before any of them is.
    ReadOutcome StoredRangeOutcome(const ArchiveNode &node) const;
    // The stored bytes of a file node whose range is sound, read from its
    // data file (the archive must outlive the stream): a packed file's
    // blocks, or a stored file's own bytes.
    PackedStream StoredStreamOf(const ArchiveNode &node) const;
    // Whether the data file holding `node`'s bytes was written to since
    // the archive opened it (its size or write time moved): the tree no
    // longer tells where its files lie. A data file replaced by another
    // under its name is not this one: the archive keeps reading its own.
    bool DataFileChanged(const ArchiveNode &node) const;

    // Every entry read, in the order of its file table or index, also those
    // the tree left out (an empty name, no parent) or marked as duplicates:
    // what a writer keeps the order of.
    const std::vector<const ArchiveNode *> &GetEntries() const { return m_Entries; }

    // For a node marked m_CaseTwin, the first one beside it whose name
    // differs from its own only in case; null for any other node.
    const ArchiveNode *EarlierCaseTwin(const ArchiveNode &node) const;

    // Everything opening passed over, in the order it was met.
    const std::vector<OpenReportItem> &GetOpenReport() const { return m_OpenReport; }

    // Every data file an open met, in the order met (ArchiveNode::m_DataFile
    // counts in it), with its size (0 for one that could not be opened).
    size_t GetDataFileCount() const { return m_DataPaths.size(); }
    const std::string &GetDataFilePath(size_t i) const { return m_DataPaths.at(i); }
    uint32_t GetDataFileSize(size_t i) const;
    // Data file `i` as this archive holds it open (null where it could not
    // be opened): a copy made from it reads the file opened, even after
    // another program put a new one at its path.
    PlatformFile *GetOpenDataFile(size_t i) const;
    bool IsIndexRoute() const { return m_IndexRoute; }
    // The "content.vfi" a set was opened through (also when it was opened
    // through one of its data files); "" for a single pack.
    const std::string &GetIndexPath() const { return m_IndexPath; }
    // The first file this archive was opened from (its index, then each
    // data file) that no longer stands at its path as it was then:
    // replaced, rewritten, cut short or removed; "" when none did. A data
    // file that was missing then is not looked at.
    std::string ChangedSinceOpened() const;
    // The open data file holding `node`'s bytes, or null (the library's own
    // readers use it).
    const CFileSource *DataFileOf(const ArchiveNode &node) const;

private:
    // Opening's scratch state lives in it, not here (ZarnikArchive_open.h).
    class COpener;

    CZarnikArchive() = default;
    static OpenResult OpenWith(const std::string &path, OpenFailure (COpener::*open)(const std::string &));

    std::vector<std::unique_ptr<CFileSource>> m_DataFiles; // null where one failed
    std::vector<std::string> m_DataPaths;
    std::map<std::string, ArchiveNode *> m_Folders;
    ArchiveNode *m_Root = nullptr;
    // Every node of this archive, in blocks that never move, so that their
    // addresses stay stable; a block holds many nodes, so that a million of
    // them take a few hundred allocations, not one or more each.
    std::vector<std::unique_ptr<ArchiveNode[]>> m_NodeBlocks;
    std::vector<const ArchiveNode *> m_Entries;
    // Found once at opening: a pack may hold many such names in one folder,
    // and a search among their neighbours for each would take a while.
    std::unordered_map<const ArchiveNode *, const ArchiveNode *> m_CaseTwins;
    bool m_IndexRoute = false;
    std::string m_IndexPath; // and how it stood when read, for ChangedSinceOpened
    PlatformFileStamp m_IndexStamp;
    std::vector<OpenReportItem> m_OpenReport;
};

// The whole reason a pack at `path` did not open, as the tool and the
// explorer say it: the failure's sentence, with what the file system says
// of the file that could not be read, the data files an index names that
// are missing, or that the file was cut short.
std::string OpenFailureReason(const std::string &path, const CZarnikArchive::OpenResult &opened);

} // namespace zarnik
