// Opening an archive: the open dispatch, the index "content.vfi", the single
// pack's file table, and the file entry with its scrambled name.
#include "ZarnikArchive.h"

#include "ChunkReader.h"
#include "PlatformFile.h"

#include <cstring>

namespace {

const uint32_t kEntryHeaderSize = 20;
// Room for a decoded name, terminator included.
const uint32_t kMaxNameLength = 260;

uint32_t LittleEndian32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

} // namespace

CZarnikArchive::CZarnikArchive()
    : m_Reader(nullptr), m_Root(nullptr), m_OpenFailure(OpenFailure::None), m_IndexRoute(false),
      m_LastFolder(nullptr)
{
}

CZarnikArchive::~CZarnikArchive()
{
    delete m_Reader;
}

ArchiveNode *CZarnikArchive::NewNode()
{
    m_Pool.emplace_back();
    return &m_Pool.back();
}

uint32_t CZarnikArchive::GetDataSize() const
{
    return m_Reader ? m_Reader->Size() : 0;
}

bool CZarnikArchive::OpenDataReader(const std::string &path, bool mapped)
{
    delete m_Reader;
    m_Reader = new CChunkReader;
    m_DataPath = path;
    if (m_Reader->Open(path, mapped))
        return true;
    // A reader that failed to open is no data reader: extraction must see
    // none rather than read through a closed one.
    delete m_Reader;
    m_Reader = nullptr;
    m_OpenFailure = OpenFailure::DataUnreadable;
    return false;
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
    // The data file's own name decides the route; the folders above it do
    // not.
    const size_t separator = zarnik::PlatformLastSeparator(path);
    if (path.find(".vfs", separator == std::string::npos ? 0 : separator + 1) != std::string::npos)
        return OpenVfs(path);

    m_IndexRoute = false;
    if (!OpenDataReader(path, true))
        return false;

    // Several file tables give one tree of all their entries, in file order.
    std::vector<ArchiveNode *> entries;
    bool sawTable = false;
    CChunkReader table;
    uint32_t id;
    while ((id = m_Reader->NextChunk(&table)) != CChunkReader::kNoChunk) {
        if (m_Reader->ChunkCutShort())
            Report(OpenReportItem::Kind::ChunkCutShort, m_Reader->ChunkOffset(), "");
        if (id != 1)
            continue;
        sawTable = true;
        m_ChunkOffset = m_Reader->ChunkOffset();
        if (!ReadFileTable(table, entries)) {
            m_OpenFailure = OpenFailure::NoEntries;
            return false;
        }
    }
    if (!sawTable) {
        m_OpenFailure = OpenFailure::NoFileTable;
        return false;
    }
    return BuildTree(entries);
}

bool CZarnikArchive::OpenVfs(const std::string &path)
{
    m_IndexRoute = true;
    const size_t slash = zarnik::PlatformLastSeparator(path);
    if (slash == std::string::npos) {
        m_OpenFailure = OpenFailure::NoDirectory;
        return false;
    }
    const std::string indexPath = path.substr(0, slash + 1) + "content.vfi";
    const std::string dataName = path.substr(slash + 1);

    CChunkReader index;
    if (!index.Open(indexPath, true)) {
        m_OpenFailure = OpenFailure::IndexUnreadable;
        return false;
    }

    std::vector<ArchiveNode *> entries;
    bool named = false;
    CChunkReader chunk;
    for (;;) {
        // A chunk may bear the identifier that also ends the walk; it is
        // passed over, and the walk ends only where no chunk is entered.
        const uint32_t id = index.NextChunk(&chunk);
        if (!index.InChunk())
            break;
        if (index.ChunkCutShort())
            Report(OpenReportItem::Kind::ChunkCutShort, index.ChunkOffset(), "");
        if (id == CChunkReader::kNoChunk)
            continue;
        // Two numbers and the name must fit the chunk, else it is passed over.
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
        if (dataName != name)
            continue;

        named = true;
        if (!OpenDataReader(path, false))
            return false;
        m_ChunkOffset = index.ChunkOffset();
        chunk.Skip(12);
        // Entries while more than 20 bytes of the chunk remain; what is left
        // after the last one is ignored.
        ReadEntries(chunk, kEntryHeaderSize, entries);
    }
    if (entries.empty()) {
        m_OpenFailure = named ? OpenFailure::NoEntries : OpenFailure::NotNamedInIndex;
        return false;
    }
    return BuildTree(entries);
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
