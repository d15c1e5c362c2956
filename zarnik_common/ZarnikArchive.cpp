// Opening an archive: the open dispatch, the index "content.vfi", the single
// pack's file table, and the file entry with its scrambled name.
#include "ZarnikArchive_open.h"

#include "ChunkReader.h"
#include "FileSource.h"
#include "PackFormat.h"
#include "PackPath.h"
#include "PlatformFile.h"

#include <algorithm>

namespace zarnik {

namespace {

namespace pf = packformat;

const size_t kFirstNodeBlock = 64;
const size_t kLargestNodeBlock = 4096;

// A data file's name from the index, to be joined onto the index's folder:
// one segment here, and one on the system the packs were made for, where
// '\\' separates folders.
bool IsDataFileName(const std::string &name)
{
    return IsSafeName(name) && name.find('\\') == std::string::npos;
}

} // namespace

CZarnikArchive::~CZarnikArchive() = default;

CZarnikArchive::OpenResult CZarnikArchive::Open(const std::string &path)
{
    return OpenWith(path, &COpener::Open);
}

CZarnikArchive::OpenResult CZarnikArchive::OpenIndexFile(const std::string &path)
{
    return OpenWith(path, &COpener::OpenIndexFile);
}

CZarnikArchive::OpenResult CZarnikArchive::OpenWith(const std::string &path,
                                                    OpenFailure (COpener::*open)(const std::string &))
{
    OpenResult result;
    std::unique_ptr<CZarnikArchive> archive(new CZarnikArchive);
    COpener opener(*archive);
    result.failure = (opener.*open)(path);
    if (result.failure == OpenFailure::None)
        result.archive = std::move(archive);
    else
        result.report = std::move(archive->m_OpenReport);
    return result;
}

uint32_t CZarnikArchive::GetDataFileSize(size_t i) const
{
    return i < m_DataFiles.size() && m_DataFiles[i] ? m_DataFiles[i]->Size() : 0;
}

PlatformFile *CZarnikArchive::GetOpenDataFile(size_t i) const
{
    return i < m_DataFiles.size() && m_DataFiles[i] ? m_DataFiles[i]->File() : nullptr;
}

std::string CZarnikArchive::ChangedSinceOpened() const
{
    const auto changed = [](const std::string &path, const PlatformFileStamp &opened) {
        PlatformFileStamp now;
        return !PlatformStampAt(path, &now) || now != opened;
    };
    if (!m_IndexPath.empty() && changed(m_IndexPath, m_IndexStamp))
        return m_IndexPath;
    for (size_t i = 0; i < m_DataFiles.size(); ++i)
        if (m_DataFiles[i] && changed(m_DataPaths[i], m_DataFiles[i]->Stamp()))
            return m_DataPaths[i];
    return {};
}

const CFileSource *CZarnikArchive::DataFileOf(const ArchiveNode &node) const
{
    return node.m_DataFile < m_DataFiles.size() ? m_DataFiles[node.m_DataFile].get() : nullptr;
}

ArchiveNode *CZarnikArchive::COpener::NewNode()
{
    // Blocks grow from a few nodes, for the small packs, to a size where
    // their count no longer matters.
    if (m_BlockUsed == m_BlockSize) {
        m_BlockSize = m_BlockSize == 0 ? kFirstNodeBlock : std::min(2 * m_BlockSize, kLargestNodeBlock);
        m_Archive.m_NodeBlocks.push_back(std::make_unique<ArchiveNode[]>(m_BlockSize));
        m_BlockUsed = 0;
    }
    return &m_Archive.m_NodeBlocks.back()[m_BlockUsed++];
}

int CZarnikArchive::COpener::OpenDataFile(const std::string &path, bool refuseEmpty)
{
    std::vector<std::string> &paths = m_Archive.m_DataPaths;
    std::vector<std::unique_ptr<CFileSource>> &files = m_Archive.m_DataFiles;
    for (size_t i = 0; i < paths.size(); ++i)
        if (paths[i] == path)
            return files[i] ? static_cast<int>(i) : -1;
    auto file = std::make_unique<CFileSource>();
    // A file that failed to open is no data file: extraction must see none
    // rather than read through a closed one.
    if (!file->Open(path, refuseEmpty))
        file.reset();
    paths.push_back(path);
    files.push_back(std::move(file));
    return files.back() ? static_cast<int>(files.size() - 1) : -1;
}

void CZarnikArchive::COpener::Report(OpenReportItem::Kind kind, uint32_t offset, std::string path)
{
    m_Archive.m_OpenReport.push_back({kind, offset, std::move(path)});
}

OpenFailure CZarnikArchive::COpener::Open(const std::string &path)
{
    switch (RouteOf(path)) {
    case PackRoute::WholeIndex:
        return OpenIndexFile(path);
    case PackRoute::IndexedDataFile:
        return OpenVfs(path);
    case PackRoute::SinglePack:
        break;
    }
    return OpenSinglePack(path);
}

OpenFailure CZarnikArchive::COpener::OpenIndexFile(const std::string &path)
{
    const size_t slash = PlatformLastSeparator(path);
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    return OpenIndex(path.substr(0, start), nullptr, path.substr(start));
}

OpenFailure CZarnikArchive::COpener::OpenSinglePack(const std::string &path)
{
    if (OpenDataFile(path, true) < 0)
        return OpenFailure::DataUnreadable;
    CChunkReader pack(*m_Archive.m_DataFiles.front());

    // Several file tables give one tree of all their entries, in file order.
    const std::vector<const ArchiveNode *> &entries = m_Archive.m_Entries;
    bool sawTable = false;
    uint32_t id;
    while ((id = pack.NextChunk()) != pf::kNoChunk) {
        if (pack.ChunkCutShort())
            Report(OpenReportItem::Kind::ChunkCutShort, pack.ChunkOffset(), "");
        if (id != pf::kTableChunkId)
            continue;
        sawTable = true;
        m_ChunkOffset = pack.ChunkOffset();
        CChunkReader table = pack.ChunkData();
        // A file table that holds no entry fails the whole pack.
        const size_t before = entries.size();
        ReadEntries(table, 0, 0);
        if (entries.size() == before)
            return OpenFailure::NoEntries;
    }
    if (!sawTable)
        return OpenFailure::NoFileTable;
    BuildTree();
    return OpenFailure::None;
}

OpenFailure CZarnikArchive::COpener::OpenVfs(const std::string &path)
{
    m_Archive.m_IndexRoute = true;
    const size_t slash = PlatformLastSeparator(path);
    if (slash == std::string::npos)
        return OpenFailure::NoDirectory;
    const std::string dataName = path.substr(slash + 1);
    return OpenIndex(path.substr(0, slash + 1), &dataName, kIndexName);
}

// Walks the index in `folder` (which ends in a separator). With `onlyName`,
// the chunks naming that data file give the entries; without, every chunk
// whose data file is present beside the index does, and those naming one
// that is missing go into the open report.
OpenFailure CZarnikArchive::COpener::OpenIndex(const std::string &folder, const std::string *onlyName,
                                               const std::string &indexName)
{
    m_Archive.m_IndexRoute = true;
    CFileSource indexFile;
    if (!indexFile.Open(folder + indexName, true))
        return OpenFailure::IndexUnreadable;
    m_Archive.m_IndexPath = folder + indexName;
    m_Archive.m_IndexStamp = indexFile.Stamp();
    CChunkReader index(indexFile);

    const std::vector<const ArchiveNode *> &entries = m_Archive.m_Entries;
    bool named = false;
    bool unreadable = false;
    for (;;) {
        // A chunk may bear the identifier that also ends the walk; it is
        // passed over, and the walk ends only where no chunk is entered.
        const uint32_t id = index.NextChunk();
        if (!index.InChunk())
            break;
        if (index.ChunkCutShort())
            Report(OpenReportItem::Kind::ChunkCutShort, index.ChunkOffset(), "");
        if (id == pf::kNoChunk)
            continue;
        // A chunk too short for its numbers or the name it claims is passed
        // over.
        CChunkReader chunk = index.ChunkData();
        std::string name;
        if (pf::ReadIndexHead(chunk, name) != pf::IndexHeadEnd::Named)
            continue;
        if (onlyName && NameAsSystemCompares(*onlyName) != NameAsSystemCompares(name))
            continue;

        named = true;
        // A name that would lead out of the folder names no data file of it.
        const int dataFile = IsDataFileName(name) ? OpenDataFile(folder + name, false) : -1;
        if (dataFile < 0) {
            if (onlyName)
                return OpenFailure::DataUnreadable;
            unreadable = true;
            Report(OpenReportItem::Kind::DataFileMissing, index.ChunkOffset(), name);
            m_Archive.m_OpenReport.back().entriesLost = chunk.Remaining() > pf::kIndexTailSize;
            continue;
        }
        m_ChunkOffset = index.ChunkOffset();
        // What is left after the last entry is ignored.
        ReadEntries(chunk, pf::kIndexTailSize, static_cast<uint32_t>(dataFile));
    }
    if (entries.empty())
        return !named ? OpenFailure::NotNamedInIndex
                      : (unreadable ? OpenFailure::DataUnreadable : OpenFailure::NoEntries);
    BuildTree();
    return OpenFailure::None;
}

// Reads file entries from the cursor while more than `keepBytes` bytes of the
// chunk remain: the first entry that does not fit ends the chunk's entries,
// and one whose stored name is longer than a path may be is passed over. The
// entries, of data file `dataFile`, go to the end of the archive's list.
void CZarnikArchive::COpener::ReadEntries(CChunkReader &chunk, uint32_t keepBytes, uint32_t dataFile)
{
    pf::EntryHeader header;
    std::string path;
    while (chunk.Remaining() > keepBytes) {
        const pf::EntryEnd end = pf::ReadEntry(chunk, header, path);
        if (end == pf::EntryEnd::CutShort) {
            Report(OpenReportItem::Kind::EntryCutShort, m_ChunkOffset, "");
            break;
        }
        if (end == pf::EntryEnd::NameTooLong) {
            Report(OpenReportItem::Kind::NameTooLong, m_ChunkOffset, "");
            continue;
        }
        ArchiveNode *node = NewNode();
        node->m_Path = std::move(path);
        node->m_Offset = header.offset;
        node->m_UnpackedSize = header.unpackedSize;
        node->m_PackedSize = header.packedSize;
        node->m_DataFile = dataFile;
        if (node->m_Path.empty() || node->m_Path.back() == '\\')
            Report(OpenReportItem::Kind::EmptyName, m_ChunkOffset, node->m_Path);
        m_Archive.m_Entries.push_back(node);
    }
}

} // namespace zarnik
