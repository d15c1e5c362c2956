// CZarnikArchive::COpener: the one run that fills a new archive, with the
// state only opening needs (the chunk being read, the last folder a file
// went into). The open dispatch, the index and the file table are in
// ZarnikArchive.cpp; the folder tree in ZarnikArchive_tree.cpp.
#pragma once

#include "ZarnikArchive.h"

#include <string>
#include <unordered_set>
#include <vector>

namespace zarnik {

class CChunkReader;

class CZarnikArchive::COpener
{
public:
    explicit COpener(CZarnikArchive &archive) : m_Archive(archive) {}

    // Fills the archive from `path`; None when it opened.
    OpenFailure Open(const std::string &path);
    // Fills it from the index file at `path` whatever its name, with the
    // data files it names beside it.
    OpenFailure OpenIndexFile(const std::string &path);

private:
    OpenFailure OpenSinglePack(const std::string &path);
    OpenFailure OpenVfs(const std::string &path);
    OpenFailure OpenIndex(const std::string &folder, const std::string *onlyName,
                          const std::string &indexName);
    // The index of the data file at `path`, opened on first use (a name met
    // again is the same file: it is opened once); -1 when it cannot be.
    int OpenDataFile(const std::string &path, bool refuseEmpty);
    void ReadEntries(CChunkReader &chunk, uint32_t keepBytes, uint32_t dataFile);
    void Report(OpenReportItem::Kind kind, uint32_t offset, std::string path);
    ArchiveNode *NewNode();

    // Makes the tree of the archive's entries.
    void BuildTree();
    ArchiveNode *AddNode(const std::string &path, ArchiveNode *file);
    ArchiveNode *PlaceFile(ArchiveNode *folder, size_t nameStart, ArchiveNode *file);
    ArchiveNode *FindFolder(const std::string &path) const;
    // Puts `child` last in `folder`, noting the folder for MarkDuplicates
    // when the child's name does not rise above the one before it.
    void AddChild(ArchiveNode *folder, ArchiveNode *child);
    // Marks duplicates and pairs differing only in case in the folders
    // AddChild noted.
    void MarkDuplicates();

    CZarnikArchive &m_Archive;
    uint32_t m_ChunkOffset = 0; // the chunk ReadEntries reads from
    // AddNode's memory of the last folder a file went into, keyed by the
    // file path's folder part: runs of files in one folder skip the walk.
    std::string m_LastFolderKey;
    ArchiveNode *m_LastFolder = nullptr;
    // The folders whose names do not all rise, in the order each was found.
    std::vector<const ArchiveNode *> m_FoldersToCheck;
    std::unordered_set<const ArchiveNode *> m_NotRising;
    // The size of the archive's last node block, and how many of it are used.
    size_t m_BlockSize = 0;
    size_t m_BlockUsed = 0;
};

} // namespace zarnik
