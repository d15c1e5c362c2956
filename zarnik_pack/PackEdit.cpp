// The changes of an edit and the checks each one passes when it is made;
// the record they go into is EditRecord's, writing the new pack PackSave.cpp's.
#include "PackEdit.h"

#include "CaseIndex.h"
#include "PackFormat.h"
#include "PackPath.h"
#include "PathRule.h"
#include "PlatformFile.h"
#include "SaveSteps.h"
#include "SourceWalk.h"

#include <algorithm>
#include <iterator>
#include <unordered_set>

namespace zarnik_pack {

namespace pf = zarnik::packformat;
using zarnik::ArchiveNode;
using zarnik::Utf8Path;

namespace {

bool StartsWith(const std::string &text, const std::string &start)
{
    return text.compare(0, start.size(), start) == 0;
}

std::string ParentOf(const std::string &path)
{
    const size_t last = path.rfind('\\');
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

// A data file the index names that is missing loses nothing when its
// chunk holds no entry: such a chunk is kept as it is, as `test` passes it.
bool LosesNothing(const zarnik::OpenReportItem &item)
{
    return item.kind == zarnik::OpenReportItem::Kind::DataFileMissing && !item.entriesLost;
}

// Whether the data file at `path` is the one `given` names: by its name as
// the index names it (or, renamed by a save, NAME~N.vfs), or, when `given`
// is a path, by being the same file.
bool NamesDataFile(const std::string &given, const std::string &path, bool byPath)
{
    if (byPath) {
        zarnik::PlatformFileStamp one, other;
        return zarnik::PlatformStampAt(given, &one) && zarnik::PlatformStampAt(path, &other) &&
               one.volume == other.volume && one.file == other.file;
    }
    const std::string name = SplitPath(path).name;
    return name == given || DataNameBeforeSaves(name) == given;
}

std::string NameOf(const std::string &path)
{
    return path.substr(path.rfind('\\') + 1);
}

} // namespace

PackEdit::PackEdit(const std::string &newPackPath)
    : m_PackPath(newPackPath), m_EmptyRoot(std::make_unique<ArchiveNode>())
{
    m_EmptyRoot->m_Name = m_EmptyRoot->m_Path = zarnik::kRootName;
    m_Record = std::make_unique<EditRecord>(m_EmptyRoot.get(), std::vector<const ArchiveNode *>{},
                                            std::unordered_set<const ArchiveNode *>{});
    m_CaseIndex = std::make_unique<CaseIndex>(*m_Record);
}

PackEdit::PackEdit(const zarnik::CZarnikArchive &archive, const std::string &packPath, bool dropPassedOver)
    : m_Archive(&archive), m_PackPath(packPath)
{
    const std::vector<zarnik::OpenReportItem> &report = archive.GetOpenReport();
    std::vector<zarnik::OpenReportItem> passedOver;
    std::remove_copy_if(report.begin(), report.end(), std::back_inserter(passedOver), LosesNothing);
    // Entries the tree left out (no name, no parent) or marks as duplicates
    // are in the open report: a reader never shows them.
    const auto unread = [](const ArchiveNode *entry) { return entry->m_Name.empty() || entry->m_Duplicate; };
    const auto outside = [&archive](const ArchiveNode *entry) {
        return uint64_t(entry->m_Offset) + entry->m_PackedSize > archive.GetDataFileSize(entry->m_DataFile);
    };
    // The index of a set is kept chunk by chunk where it does not change:
    // what opening passed over in it would stay.
    if (archive.IsIndexRoute() && !passedOver.empty()) {
        m_Usable = false;
        m_Reason = "opening passed over " + std::to_string(passedOver.size()) +
                   " damaged part(s) of the set (see 'zarnik test'); a damaged .vfs set cannot be changed";
    } else if (!passedOver.empty() && !dropPassedOver) {
        m_Usable = false;
        m_Reason = "opening passed over " + std::to_string(passedOver.size()) +
                   " damaged part(s) of the pack (see 'zarnik test'); ask to drop them to change it";
    }
    // New files go to the last data file that is there.
    for (size_t d = archive.GetDataFileCount(); d-- > 0 && m_NewDataFile == 0;)
        if (std::none_of(report.begin(), report.end(), [&](const zarnik::OpenReportItem &item) {
                return item.kind == zarnik::OpenReportItem::Kind::DataFileMissing &&
                       item.path == SplitPath(archive.GetDataFilePath(d)).name;
            }))
            m_NewDataFile = static_cast<uint32_t>(d);
    for (const ArchiveNode *entry : archive.GetEntries())
        if (m_Usable && !dropPassedOver && !unread(entry) && outside(entry)) {
            m_Usable = false;
            m_Reason = Utf8Path(entry->m_Path) + ": its stored bytes lie outside the pack; "
                                              "ask to drop what cannot be read to change it";
        }
    for (const zarnik::OpenReportItem &item : passedOver)
        if (m_Usable)
            m_Dropped.push_back(std::string(zarnik::OpenReportText(item.kind)) +
                                (item.path.empty() ? "" : ": " + Utf8Path(item.path)));
    // A pack that cannot be changed is only shown, as the archive has it.
    std::vector<const ArchiveNode *> entries;
    std::unordered_set<const ArchiveNode *> excluded;
    for (const ArchiveNode *entry : archive.GetEntries()) {
        if (m_Usable && (unread(entry) || outside(entry))) {
            if (!unread(entry))
                m_Dropped.push_back("stored bytes outside the pack: " + Utf8Path(entry->m_Path));
            excluded.insert(entry);
            continue;
        }
        entries.push_back(entry);
    }
    m_Record = std::make_unique<EditRecord>(archive.GetRoot(), std::move(entries), std::move(excluded));
    m_CaseIndex = std::make_unique<CaseIndex>(*m_Record);
}

PackEdit::~PackEdit() = default;

bool PackEdit::SetDataFile(const std::string &name)
{
    if (!m_Archive || !m_Archive->IsIndexRoute())
        return Refuse(name + ": only a .vfs set has data files to choose from");
    const bool byPath = zarnik::PlatformLastSeparator(name) != std::string::npos;
    for (size_t i = 0; i < m_Archive->GetDataFileCount(); ++i) {
        if (m_Archive->GetDataFileSize(i) > 0 && NamesDataFile(name, m_Archive->GetDataFilePath(i), byPath)) {
            m_NewDataFile = static_cast<uint32_t>(i);
            return true;
        }
    }
    return Refuse(name + ": no data file of the set opened" +
                  (zarnik::RouteOf(m_PackPath) == zarnik::PackRoute::IndexedDataFile
                       ? " (opened through " + SplitPath(m_PackPath).name + " alone; open content.vfi for the others)"
                       : std::string()));
}

std::vector<std::string> PackEdit::PackFiles() const
{
    std::vector<std::string> files{m_PackPath};
    if (!m_Archive)
        return files;
    for (size_t i = 0; i < m_Archive->GetDataFileCount(); ++i)
        files.push_back(m_Archive->GetDataFilePath(i));
    // A set opened through a data file alone has its index beside it all the same.
    if (zarnik::RouteOf(m_PackPath) != zarnik::PackRoute::SinglePack)
        files.push_back(SplitPath(m_PackPath).folder + zarnik::kIndexName);
    return files;
}

// --- What the record says

const ArchiveNode *PackEdit::Kept(const std::string &path) const
{
    const ArchiveNode *node = m_Record->Find(path);
    return node && m_Record->State(node).kept ? node : nullptr;
}

bool PackEdit::IsFile(const std::string &path) const
{
    const ArchiveNode *node = Kept(path);
    return node && m_Record->State(node).file;
}

FileOrigin PackEdit::OriginOf(const std::string &given) const
{
    FileOrigin origin;
    const std::string path = zarnik::WithBackslashes(given);
    const ArchiveNode *node = Kept(path);
    if (!node || !m_Record->State(node).file)
        return origin;
    const DiskSource *source = m_Record->Source(node);
    if (source)
        origin.source = source->path, origin.size = source->size;
    const bool own = m_Record->Made(node);
    if (m_Record->Replaces(node)) {
        origin.kind = FileOrigin::Kind::Replacing;
        for (const auto &replaced : m_Record->Superseded())
            if (replaced.second == node)
                origin.entry = replaced.first;
    } else if (own) {
        origin.kind = FileOrigin::Kind::Added;
    } else {
        origin.entry = node;
        origin.kind = source ? FileOrigin::Kind::Replacing
                             : node->m_Path == path ? FileOrigin::Kind::Kept : FileOrigin::Kind::Renamed;
        if (node->m_Path != path)
            origin.from = node->m_Path;
    }
    if (!source)
        origin.size = node->m_UnpackedSize;
    return origin;
}

EditChanges PackEdit::Changes() const
{
    EditChanges changes;
    m_Record->ForEachFile([&](const ArchiveNode *node, const std::string &path) {
        if (m_Record->Made(node)) {
            (m_Record->Replaces(node) ? changes.replaced : changes.added).push_back(path);
            return;
        }
        if (m_Record->Source(node))
            changes.replaced.push_back(path);
        if (node->m_Path != path)
            changes.renamed.emplace_back(node->m_Path, path);
    });
    m_Record->ForEachDeleted([&](const ArchiveNode *entry) { changes.deleted.push_back(entry->m_Path); });
    return changes;
}

std::vector<PackEdit::Item> PackEdit::Items() const
{
    std::vector<Item> items;
    items.reserve(m_Record->Entries().size());
    ForEachItem([&items](const Item &item) { items.push_back(item); });
    return items;
}

void PackEdit::ForEachItem(const std::function<void(const Item &)> &visit) const
{
    Item item;
    m_Record->ForEachFile([&](const ArchiveNode *node, const std::string &path) {
        item = Item();
        item.path = path;
        const DiskSource *source = m_Record->Source(node);
        if (source) {
            item.diskPath = source->path;
            item.size = source->size;
            item.storage = source->storage;
        } else {
            item.node = node;
        }
        // A replaced entry stays in its data file.
        item.dataFile = m_Record->Made(node) ? source->dataFile : node->m_DataFile;
        visit(item);
    });
}

size_t PackEdit::FileCount() const
{
    return m_Record->Totals(m_Record->Root()).keptFiles;
}

// --- Changes and their checks

void PackEdit::BeginChange() { m_Record->Begin(); }
void PackEdit::EndChange() { m_Record->End(); }
void PackEdit::CancelChange()
{
    m_Record->Cancel();
    m_CaseIndex->Forget();
}
bool PackEdit::CanUndo() const { return m_Record->CanUndo(); }
bool PackEdit::Undo()
{
    m_CaseIndex->Forget();
    return m_Record->Undo();
}
bool PackEdit::HasChanges() const { return m_Record->Differs(); }
const EditTouch &PackEdit::Touched() const { return m_Record->Touched(); }

bool PackEdit::Refuse(const std::string &reason)
{
    m_Reason = reason;
    return false;
}

std::string PackEdit::CheckedPath(const std::string &given)
{
    const std::string path = zarnik::WithBackslashes(given);
    const zarnik::PathCheck check = zarnik::CheckPackPath(path);
    if (!check) {
        Refuse(Utf8Path(path) + ": " + check.reason);
        return {};
    }
    return path;
}

bool PackEdit::NoCaseTwin(const std::string &path, const ArchiveNode *own)
{
    const ArchiveNode *twin = m_CaseIndex->TwinOf(path, own);
    if (!twin)
        return true;
    const std::string twinPath = m_Record->Path(twin);
    // Names differing only in case are as long: the twin is as long as the part of `path` it clashes with.
    return Refuse(Utf8Path(path.substr(0, twinPath.size())) + ": " + zarnik::CaseTwinCheck(twinPath).reason);
}

bool PackEdit::PlaceFree(const std::string &path)
{
    if (const ArchiveNode *node = Kept(path))
        return Refuse(Utf8Path(path) + (m_Record->State(node).file ? ": a file of that path is in the pack already"
                                                                 : ": a folder of that path is in the pack already"));
    for (std::string folder = ParentOf(path); folder != zarnik::kRootName && !folder.empty(); folder = ParentOf(folder))
        if (IsFile(folder))
            return Refuse(Utf8Path(path) + ": " + Utf8Path(folder) + " is a file, not a folder");
    return true;
}

const ArchiveNode *PackEdit::MadeFolder(const std::string &path)
{
    if (path == zarnik::kRootName)
        return m_Record->Root();
    const ArchiveNode *parent = MadeFolder(ParentOf(path));
    const std::string name = NameOf(path);
    const ArchiveNode *folder = m_Record->Child(parent, name);
    if (folder)
        return folder;
    folder = m_Record->MakeFolder(parent, name);
    m_CaseIndex->Note(folder);
    return folder;
}

// A new file goes after the last file of its folder, or of the nearest
// folder above it that has files: a reader lists a folder's files in entry
// order, and the new one comes last.
const ArchiveNode *PackEdit::InsertionPoint(const std::string &path) const
{
    for (std::string folder = ParentOf(path); !folder.empty(); folder = ParentOf(folder)) {
        const ArchiveNode *node = Kept(folder);
        if (const ArchiveNode *last = node ? m_Record->LastFile(node) : nullptr)
            return last;
    }
    return nullptr;
}

bool PackEdit::Add(const std::string &archivePath, const std::string &diskPath, bool replace, Storage storage)
{
    const std::string path = CheckedPath(archivePath);
    if (path.empty())
        return false;
    uint64_t size = 0;
    std::string why;
    if (!zarnik::SourceFileSize(diskPath, &size, &why))
        return Refuse(diskPath + ": " + why);
    if (size >= pf::kMaxPackSize)
        return Refuse(diskPath + ": a pack holds files below 4 GiB only");

    DiskSource source{diskPath, size, storage, m_NewDataFile};
    const ArchiveNode *existing = Kept(path);
    if (existing && m_Record->State(existing).file) {
        if (!replace)
            return Refuse(Utf8Path(path) + ": already in the pack; replace it explicitly");
        // A replaced file stays in its data file.
        if (const DiskSource *old = m_Record->Source(existing))
            source.dataFile = old->dataFile;
        m_Record->SetSource(existing, source);
        return true;
    }
    if (!PlaceFree(path) || !NoCaseTwin(path, nullptr))
        return false;
    const ArchiveNode *after = InsertionPoint(path);
    m_Record->Begin();
    m_CaseIndex->Note(m_Record->MakeFile(MadeFolder(ParentOf(path)), NameOf(path), source, after));
    m_Record->End();
    return true;
}

bool PackEdit::Delete(const std::string &archivePath)
{
    const std::string path = zarnik::WithBackslashes(archivePath);
    if (path == zarnik::kRootName)
        return Refuse(Utf8Path(path) + ": the pack's root; name what below it goes");
    const ArchiveNode *node = Kept(path);
    if (!node)
        return Refuse(Utf8Path(path) + ": no such file or folder in the pack");
    m_Record->Begin();
    // What was moved or added into a folder goes with it: an entry is shown
    // deleted where it stood, an added file is no more.
    for (const ArchiveNode *moved : m_Record->MovedBelow(node))
        m_Record->Remove(moved);
    m_Record->Remove(node);
    m_Record->End();
    return true;
}

bool PackEdit::Rename(const std::string &fromPath, const std::string &toPath)
{
    const std::string from = zarnik::WithBackslashes(fromPath);
    const std::string to = CheckedPath(toPath);
    if (to.empty())
        return false;
    const ArchiveNode *node = Kept(from);
    if (!node || from == zarnik::kRootName)
        return Refuse(Utf8Path(from) + ": no such file or folder in the pack");
    if (to == from)
        return true;
    if (StartsWith(to, from + "\\"))
        return Refuse(Utf8Path(to) + ": a folder cannot move into itself");
    if (!PlaceFree(to) || !NoCaseTwin(to, node))
        return false;
    // Every new path is checked before anything changes: all or nothing.
    const size_t longest = m_Record->LongestBelow(node);
    if (to.size() + longest > pf::kMaxPathLength)
        return Refuse(Utf8Path(to) + ": a path below it would be longer than the " +
                      std::to_string(pf::kMaxPathLength) + " bytes a reader takes");
    m_Record->Begin();
    m_Record->Move(node, MadeFolder(ParentOf(to)), NameOf(to));
    m_CaseIndex->Note(node);
    m_Record->End();
    return true;
}

} // namespace zarnik_pack
