// CZarnikArchive: one opened Zarnik pack, and ArchiveNode, one file or folder
// of its tree.
//
// A path containing ".vfs" is opened through the index "content.vfi" beside
// it; any other path as a single pack whose chunk 1 is the file table. The
// entries become a folder tree under the root "content". The archive owns
// every node and frees them with itself.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CChunkReader;

struct ArchiveNode
{
    std::string m_Name; // last segment of m_Path
    std::string m_Path; // full archive path, segments separated by '\'
    uint32_t m_PackedSize = 0; // stored bytes; 0 marks a folder
    uint32_t m_UnpackedSize = 0;
    uint32_t m_Offset = 0; // from the first byte of the data file
    std::vector<ArchiveNode *> m_Children; // insertion order, not sorted

    bool IsFolder() const { return m_PackedSize == 0; }
    bool IsPacked() const { return m_PackedSize != m_UnpackedSize; }
};

class CZarnikArchive
{
public:
    // Per-file progress and failure reports of Extract.
    struct Callback
    {
        // Once per file, before its bytes are read; `path` is its m_Path.
        virtual void OnExtractFile(const std::string &path) { (void)path; }
        // A node that was not written: `path` is its archive path, `reason`
        // a short English sentence. Extraction goes on with the next node.
        virtual void OnExtractFailed(const std::string &path, const std::string &reason)
        {
            (void)path;
            (void)reason;
        }

    protected:
        // Extraction never deletes a callback.
        ~Callback() = default;
    };

    // Why the last Open failed.
    enum class OpenFailure {
        None,
        NoDirectory,     // a ".vfs" path without a backslash
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

    bool Open(const std::string &path);
    bool OpenVfs(const std::string &path);
    ArchiveNode *GetRoot() const { return m_Root; }

    bool BuildTree(const std::vector<ArchiveNode *> &files);
    ArchiveNode *AddNode(std::string path, ArchiveNode *file);
    ArchiveNode *FindNode(const std::string &path) const;

    // Writes `node` to disk: a file to exactly `dest`, a folder as
    // dest + '\' + its name with its whole subtree. False only when there is
    // no data reader.
    bool Extract(ArchiveNode *node, const std::string &dest, Callback *callback);

    // Reads a file node's bytes, unpacked: `out` receives m_UnpackedSize
    // bytes. On failure returns false and says why in `reason`. Uses the
    // data reader: one call at a time per archive.
    bool ReadFileData(const ArchiveNode *node, std::unique_ptr<unsigned char[]> &out,
                      std::string &reason);

    // The reasons OnExtractFailed gives; callers may compare against them.
    static const char *const kReasonExists;      // a file already exists there (left untouched)
    static const char *const kReasonOutOfRange;  // the stored bytes lie outside the data file
    static const char *const kReasonDamaged;     // the packed data is damaged
    static const char *const kReasonWrongSize;   // it unpacks to another size than the entry says
    static const char *const kReasonNoMemory;    // its buffers could not be allocated
    static const char *const kReasonUnsafeName;  // ".", ".." or a name holding '/'
    static const char *const kReasonCannotCreate;
    static const char *const kReasonWriteFailed;
    static const char *const kReasonNoDirectory; // a folder's directory could not be made

    OpenFailure GetOpenFailure() const { return m_OpenFailure; }
    // The file whose bytes the entries point into ("" before Open).
    const std::string &GetDataPath() const { return m_DataPath; }
    // Size of the data file in bytes (0 before a successful Open).
    uint32_t GetDataSize() const;
    bool IsIndexRoute() const { return m_IndexRoute; }

    // Reads one single-pack file table (a sub-reader over a chunk of
    // identifier 1) and appends its entries; false when it holds none.
    bool ReadFileTable(CChunkReader &table, std::vector<ArchiveNode *> &entries);

private:
    ArchiveNode *NewNode();
    bool OpenDataReader(const std::string &path, bool mapped);
    void ReadEntries(CChunkReader &chunk, uint32_t keepBytes, std::vector<ArchiveNode *> &entries);
    void ExtractFile(const ArchiveNode *node, const std::string &dest, Callback *callback);
    void ExtractFolder(const ArchiveNode *node, const std::string &dest, Callback *callback);
    bool StoredRangeInside(const ArchiveNode *node) const;
    // The stored bytes of a file node, checked against the data file: a view
    // into the mapped pack, or `buffer` filled through the reader.
    const unsigned char *StoredBytes(const ArchiveNode *node,
                                     std::unique_ptr<unsigned char[]> &buffer, std::string &reason);

    CChunkReader *m_Reader;
    std::map<std::string, ArchiveNode *> m_Nodes;
    ArchiveNode *m_Root;

    // Every node of this archive; a deque keeps their addresses stable.
    std::deque<ArchiveNode> m_Pool;
    OpenFailure m_OpenFailure;
    std::string m_DataPath;
    bool m_IndexRoute;
    // AddNode's memory of the last folder a file went into, keyed by the
    // file path's folder part: runs of files in one folder skip the walk.
    std::string m_LastFolderKey;
    ArchiveNode *m_LastFolder;
};
