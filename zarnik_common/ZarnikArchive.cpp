// Opening an archive: the open dispatch, the index "content.vfi", the single
// pack's file table, and the file entry with its scrambled name.
#include "ZarnikArchive.h"

#include "ByteOrder.h"
#include "ChunkReader.h"
#include "FileSource.h"
#include "PlatformFile.h"

#include <cstring>

namespace zarnik {

namespace {

const uint32_t kEntryHeaderSize = 20;
const char kIndexName[] = "content.vfi";
// Room for a decoded name, terminator included.
const uint32_t kMaxNameLength = 260;

// A data file's name from the index, to be joined onto the index's folder.
bool IsPlainFileName(const char *name)
{
    const std::string text(name);
    return !text.empty() && text != "." && text != ".." &&
           text.find_first_of("/\\") == std::string::npos;
}

} // namespace

CZarnikArchive::CZarnikArchive()
    : m_Root(nullptr), m_OpenFailure(OpenFailure::None), m_IndexRoute(false), m_LastFolder(nullptr)
{
}

CZarnikArchive::~CZarnikArchive() = default;

ArchiveNode *CZarnikArchive::NewNode()
{
    m_Pool.emplace_back();
    return &m_Pool.back();
}

const std::string &CZarnikArchive::GetDataPath() const
{
    static const std::string none;
    return m_DataPaths.empty() ? none : m_DataPaths.front();
}

uint32_t CZarnikArchive::GetDataSize() const
{
    return GetDataFileSize(0);
}

uint32_t CZarnikArchive::GetDataFileSize(size_t i) const
{
    return i < m_DataFiles.size() && m_DataFiles[i] ? m_DataFiles[i]->Size() : 0;
}

const CFileSource *CZarnikArchive::DataFile(const ArchiveNode &node) const
{
    return node.m_DataFile < m_DataFiles.size() ? m_DataFiles[node.m_DataFile].get() : nullptr;
}

int CZarnikArchive::OpenDataFile(const std::string &path, bool mapped)
{
    for (size_t i = 0; i < m_DataPaths.size(); ++i)
        if (m_DataPaths[i] == path)
            return m_DataFiles[i] ? static_cast<int>(i) : -1;
    auto file = std::make_unique<CFileSource>();
    // A file that failed to open is no data file: extraction must see none
    // rather than read through a closed one.
    if (!file->Open(path, mapped))
        file.reset();
    m_DataPaths.push_back(path);
    m_DataFiles.push_back(std::move(file));
    return m_DataFiles.back() ? static_cast<int>(m_DataFiles.size() - 1) : -1;
}

const char *OpenReportText(OpenReportItem::Kind kind)
{
    switch (kind) {
    case OpenReportItem::Kind::ChunkCutShort:
        return "a chunk runs past the end of the file; cut to the bytes present";
    case OpenReportItem::Kind::EntryCutShort:
        return "an entry is cut short by the end of its chunk; it and the rest of the chunk are lost";
    case OpenReportItem::Kind::NameTooLong:
        return "an entry's name is longer than 260 bytes; left out";
    case OpenReportItem::Kind::NoParent:
        return "an entry's folder has no parent folder (NULL != parent); left out";
    case OpenReportItem::Kind::DuplicatePath:
        return "another entry has the same path; only the first is written";
    case OpenReportItem::Kind::EmptyName:
        return "an entry has an empty name";
    case OpenReportItem::Kind::DataFileMissing:
        return "the index names a data file that is missing or unreadable; its entries are left out";
    }
    return "";
}

void CZarnikArchive::Report(OpenReportItem::Kind kind, uint32_t offset, std::string path)
{
    m_OpenReport.push_back({kind, offset, std::move(path)});
}

bool CZarnikArchive::Open(const std::string &path)
{
    m_OpenFailure = OpenFailure::None;
    m_OpenReport.clear();
    m_DataFiles.clear();
    m_DataPaths.clear();
    // The file's own name decides the route; the folders above it do not.
    const size_t separator = PlatformLastSeparator(path);
    const std::string name = path.substr(separator == std::string::npos ? 0 : separator + 1);
    if (name == kIndexName)
        return OpenIndex(path.substr(0, path.size() - name.size()), nullptr);
    if (name.find(".vfs") != std::string::npos)
        return OpenVfs(path);

    m_IndexRoute = false;
    if (OpenDataFile(path, true) < 0) {
        m_OpenFailure = OpenFailure::DataUnreadable;
        return false;
    }
    CChunkReader pack(*m_DataFiles.front());

    // Several file tables give one tree of all their entries, in file order.
    std::vector<ArchiveNode *> entries;
    bool sawTable = false;
    uint32_t id;
    while ((id = pack.NextChunk()) != CChunkReader::kNoChunk) {
        if (pack.ChunkCutShort())
            Report(OpenReportItem::Kind::ChunkCutShort, pack.ChunkOffset(), "");
        if (id != 1)
            continue;
        sawTable = true;
        m_ChunkOffset = pack.ChunkOffset();
        CChunkReader table = pack.ChunkData();
        if (!ReadFileTable(table, entries)) {
            m_OpenFailure = OpenFailure::NoEntries;
            return false;
        }
    }
    if (!sawTable) {
        m_OpenFailure = OpenFailure::NoFileTable;
        return false;
    }
    BuildTree(entries);
    return true;
}

bool CZarnikArchive::OpenVfs(const std::string &path)
{
    const size_t slash = PlatformLastSeparator(path);
    if (slash == std::string::npos) {
        m_IndexRoute = true;
        m_OpenFailure = OpenFailure::NoDirectory;
        return false;
    }
    const std::string dataName = path.substr(slash + 1);
    return OpenIndex(path.substr(0, slash + 1), &dataName);
}

// Walks the index in `folder` (which ends in a separator). With `onlyName`,
// the chunks naming that data file give the entries; without, every chunk
// whose data file is present beside the index does, and those naming one
// that is missing go into the open report.
bool CZarnikArchive::OpenIndex(const std::string &folder, const std::string *onlyName)
{
    m_IndexRoute = true;
    CFileSource indexFile;
    if (!indexFile.Open(folder + kIndexName, true)) {
        m_OpenFailure = OpenFailure::IndexUnreadable;
        return false;
    }
    CChunkReader index(indexFile);

    std::vector<ArchiveNode *> entries;
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
        if (id == CChunkReader::kNoChunk)
            continue;
        // Two numbers and the name must fit the chunk, else it is passed over.
        CChunkReader chunk = index.ChunkData();
        if (chunk.Remaining() < 8)
            continue;
        chunk.ReadU32();
        const uint32_t m = chunk.ReadU32();
        if (m < 4 || m - 4 > chunk.Remaining() || m - 4 > kMaxNameLength)
            continue;
        char name[kMaxNameLength + 1];
        const uint32_t nameLength = m - 4;
        chunk.Read(name, nameLength);
        name[nameLength ? nameLength - 1 : 0] = '\0';
        if (onlyName && *onlyName != name)
            continue;

        named = true;
        // A name that would lead out of the folder names no data file of it.
        const int dataFile = IsPlainFileName(name) ? OpenDataFile(folder + name, false) : -1;
        if (dataFile < 0) {
            if (onlyName) {
                m_OpenFailure = OpenFailure::DataUnreadable;
                return false;
            }
            unreadable = true;
            Report(OpenReportItem::Kind::DataFileMissing, index.ChunkOffset(), name);
            m_OpenReport.back().entriesLost = chunk.Remaining() > 12 + kEntryHeaderSize;
            continue;
        }
        m_ChunkOffset = index.ChunkOffset();
        chunk.Skip(12);
        // Entries while more than 20 bytes of the chunk remain; what is left
        // after the last one is ignored.
        const size_t first = entries.size();
        ReadEntries(chunk, kEntryHeaderSize, entries);
        for (size_t i = first; i < entries.size(); ++i)
            entries[i]->m_DataFile = static_cast<uint32_t>(dataFile);
    }
    if (entries.empty()) {
        m_OpenFailure = !named ? OpenFailure::NotNamedInIndex
                               : (unreadable ? OpenFailure::DataUnreadable : OpenFailure::NoEntries);
        return false;
    }
    BuildTree(entries);
    return true;
}

bool CZarnikArchive::ReadFileTable(CChunkReader &table, std::vector<ArchiveNode *> &entries)
{
    const size_t before = entries.size();
    ReadEntries(table, 0, entries);
    return entries.size() > before;
}

// Reads file entries from the cursor while more than `keepBytes` bytes of the
// chunk remain. Every field is checked against the chunk before it is read:
// the first entry that does not fit ends the chunk's entries, and an entry
// whose stored name is longer than a path may be is skipped by its length.
void CZarnikArchive::ReadEntries(CChunkReader &chunk, uint32_t keepBytes,
                                 std::vector<ArchiveNode *> &entries)
{
    unsigned char header[kEntryHeaderSize];
    unsigned char stored[kMaxNameLength];
    while (chunk.Remaining() > keepBytes) {
        if (chunk.Remaining() < kEntryHeaderSize) {
            Report(OpenReportItem::Kind::EntryCutShort, m_ChunkOffset, "");
            break;
        }
        chunk.Read(header, kEntryHeaderSize);
        const uint32_t nameLength = LittleEndian32(header + 16);
        if (nameLength > chunk.Remaining()) {
            Report(OpenReportItem::Kind::EntryCutShort, m_ChunkOffset, "");
            break;
        }
        if (nameLength > kMaxNameLength) {
            Report(OpenReportItem::Kind::NameTooLong, m_ChunkOffset, "");
            chunk.Skip(nameLength);
            continue;
        }
        chunk.Read(stored, nameLength);
        const unsigned char key = header[0];
        for (uint32_t i = 0; i < nameLength; ++i)
            stored[i] ^= key;
        if (nameLength > 0)
            stored[nameLength - 1] = 0;

        ArchiveNode *node = NewNode();
        node->m_Path.assign(reinterpret_cast<const char *>(stored),
                            nameLength ? strnlen(reinterpret_cast<const char *>(stored), nameLength)
                                       : 0);
        node->m_Offset = LittleEndian32(header + 4);
        node->m_UnpackedSize = LittleEndian32(header + 8);
        node->m_PackedSize = LittleEndian32(header + 12);
        if (node->m_Path.empty() || node->m_Path.back() == '\\')
            Report(OpenReportItem::Kind::EmptyName, m_ChunkOffset, node->m_Path);
        entries.push_back(node);
    }
}

} // namespace zarnik
