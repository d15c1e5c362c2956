// The changes of an edit and the checks each one passes when it is made;
// writing the new pack is PackSave.cpp's.
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
#include <map>

namespace zarnik_pack {

namespace pf = zarnik::packformat;
using zarnik::Utf8Path;

namespace {

// Why `path` cannot be taken when it does not fit the name field: a reader
// would leave its entry out.
std::string TooLong(const std::string &path)
{
    return Utf8Path(path) + ": longer than the " + std::to_string(pf::kMaxPathLength) + " bytes a reader takes";
}

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

} // namespace

PackEdit::PackEdit(const std::string &newPackPath)
    : m_PackPath(newPackPath), m_CaseIndex(std::make_unique<CaseIndex>(m_Files))
{
}

PackEdit::PackEdit(const zarnik::CZarnikArchive &archive, const std::string &packPath, bool dropPassedOver)
    : m_Archive(&archive), m_PackPath(packPath), m_CaseIndex(std::make_unique<CaseIndex>(m_Files))
{
    const std::vector<zarnik::OpenReportItem> &report = archive.GetOpenReport();
    std::vector<zarnik::OpenReportItem> passedOver;
    std::remove_copy_if(report.begin(), report.end(), std::back_inserter(passedOver), LosesNothing);
    // The index of a set is kept chunk by chunk where it does not change:
    // what opening passed over in it would stay.
    if (archive.IsIndexRoute() && !passedOver.empty()) {
        m_Usable = false;
        m_Reason = "opening passed over " + std::to_string(passedOver.size()) +
                   " damaged part(s) of the set (see 'zarnik test'); a damaged .vfs set cannot be changed";
        return;
    }
    // New files go to the last data file that is there.
    for (size_t d = archive.GetDataFileCount(); d-- > 0 && m_NewDataFile == 0;)
        if (std::none_of(report.begin(), report.end(), [&](const zarnik::OpenReportItem &item) {
                return item.kind == zarnik::OpenReportItem::Kind::DataFileMissing &&
                       item.path == SplitPath(archive.GetDataFilePath(d)).name;
            }))
            m_NewDataFile = static_cast<uint32_t>(d);
    if (!passedOver.empty() && !dropPassedOver) {
        m_Usable = false;
        m_Reason = "opening passed over " + std::to_string(passedOver.size()) +
                   " damaged part(s) of the pack (see 'zarnik test'); ask to drop them to change it";
        return;
    }
    for (const zarnik::OpenReportItem &item : passedOver)
        m_Dropped.push_back(std::string(zarnik::OpenReportText(item.kind)) +
                            (item.path.empty() ? "" : ": " + Utf8Path(item.path)));
    for (const zarnik::ArchiveNode *entry : archive.GetEntries()) {
        // Entries the tree left out (no name, no parent) or marks as
        // duplicates are in the open report: a reader never shows them.
        if (entry->m_Name.empty() || entry->m_Duplicate)
            continue;
        const uint64_t end = uint64_t(entry->m_Offset) + entry->m_PackedSize;
        if (end > archive.GetDataFileSize(entry->m_DataFile)) {
            if (!dropPassedOver) {
                m_Usable = false;
                m_Reason = Utf8Path(entry->m_Path) + ": its stored bytes lie outside the pack; "
                                                  "ask to drop what cannot be read to change it";
                return;
            }
            m_Dropped.push_back("stored bytes outside the pack: " + Utf8Path(entry->m_Path));
            continue;
        }
        Item item;
        item.path = entry->m_Path;
        item.node = entry;
        item.dataFile = entry->m_DataFile;
        m_Files.insert(item.path);
        m_Items.push_back(std::move(item));
        m_Original.push_back(entry);
    }
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

EditChanges PackEdit::Changes() const
{
    EditChanges changes;
    std::set<const zarnik::ArchiveNode *> kept;
    for (const Item &item : m_Items)
        if (item.node)
            kept.insert(item.node);
    // A new file replaces the entry of its path unless that entry moved away.
    std::map<std::string, const zarnik::ArchiveNode *> gone;
    for (const zarnik::ArchiveNode *entry : m_Original)
        if (!kept.count(entry))
            gone.emplace(entry->m_Path, entry);
    std::set<const zarnik::ArchiveNode *> replaced;
    for (const Item &item : m_Items) {
        if (item.node) {
            if (item.node->m_Path != item.path)
                changes.renamed.emplace_back(item.node->m_Path, item.path);
            continue;
        }
        const auto old = gone.find(item.path);
        if (old == gone.end()) {
            changes.added.push_back(item.path);
        } else {
            changes.replaced.push_back(item.path);
            replaced.insert(old->second);
        }
    }
    for (const zarnik::ArchiveNode *entry : m_Original)
        if (!kept.count(entry) && !replaced.count(entry))
            changes.deleted.push_back(entry->m_Path);
    return changes;
}

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

bool PackEdit::NoCaseTwin(const std::string &path, const std::string &own)
{
    const std::string twin = m_CaseIndex->TwinOf(path, own);
    // Names differing only in case are as long: the twin is as long as the part of `path` it clashes with.
    return twin.empty() || Refuse(Utf8Path(path.substr(0, twin.size())) + ": " + zarnik::CaseTwinCheck(twin).reason);
}

bool PackEdit::IsFolder(const std::string &path) const
{
    const std::string prefix = path + "\\";
    const auto it = m_Files.lower_bound(prefix);
    return it != m_Files.end() && StartsWith(*it, prefix);
}

bool PackEdit::PlaceFree(const std::string &path)
{
    if (IsFile(path))
        return Refuse(Utf8Path(path) + ": a file of that path is in the pack already");
    if (IsFolder(path))
        return Refuse(Utf8Path(path) + ": a folder of that path is in the pack already");
    for (std::string folder = ParentOf(path); folder != zarnik::kRootName && !folder.empty();
         folder = ParentOf(folder))
        if (IsFile(folder))
            return Refuse(Utf8Path(path) + ": " + Utf8Path(folder) + " is a file, not a folder");
    return true;
}

// A new file goes after the last entry of its folder, or of the nearest
// folder above it that has entries: a reader lists a folder's files in
// entry order, and the new one comes last.
size_t PackEdit::InsertionPoint(const std::string &path) const
{
    for (std::string folder = ParentOf(path); !folder.empty(); folder = ParentOf(folder)) {
        const std::string prefix = folder + "\\";
        for (size_t i = m_Items.size(); i-- > 0;)
            if (StartsWith(m_Items[i].path, prefix))
                return i + 1;
    }
    return m_Items.size();
}

bool PackEdit::Add(const std::string &archivePath, const std::string &diskPath, bool replace,
                   Storage storage)
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

    Item item;
    item.path = path;
    item.diskPath = diskPath;
    item.size = size;
    item.storage = storage;
    item.dataFile = m_NewDataFile;
    if (IsFile(path)) {
        if (!replace)
            return Refuse(Utf8Path(path) + ": already in the pack; replace it explicitly");
        // A replaced file stays in its data file.
        for (Item &old : m_Items)
            if (old.path == path) {
                item.dataFile = old.dataFile;
                old = item;
            }
        return true;
    }
    if (!PlaceFree(path) || !NoCaseTwin(path, {}))
        return false;
    m_Items.insert(m_Items.begin() + static_cast<ptrdiff_t>(InsertionPoint(path)), item);
    m_Files.insert(path);
    m_CaseIndex->Note(path);
    return true;
}

bool PackEdit::Delete(const std::string &archivePath)
{
    const std::string path = zarnik::WithBackslashes(archivePath);
    const std::string prefix = path + "\\";
    if (!IsFile(path) && !IsFolder(path))
        return Refuse(Utf8Path(path) + ": no such file or folder in the pack");
    std::vector<Item> kept;
    for (Item &item : m_Items) {
        if (item.path == path || StartsWith(item.path, prefix))
            m_Files.erase(item.path);
        else
            kept.push_back(std::move(item));
    }
    m_Items.swap(kept);
    return true;
}

bool PackEdit::Rename(const std::string &fromPath, const std::string &toPath)
{
    const std::string from = zarnik::WithBackslashes(fromPath);
    const std::string to = CheckedPath(toPath);
    if (to.empty())
        return false;
    const bool file = IsFile(from);
    if (!file && !IsFolder(from))
        return Refuse(Utf8Path(from) + ": no such file or folder in the pack");
    if (to == from)
        return true;
    if (StartsWith(to, from + "\\"))
        return Refuse(Utf8Path(to) + ": a folder cannot move into itself");
    if (!PlaceFree(to) || !NoCaseTwin(to, from))
        return false;
    // Every new path is checked before any changes: all or nothing.
    const std::string prefix = from + "\\";
    std::vector<std::pair<size_t, std::string>> renamed;
    for (size_t i = 0; i < m_Items.size(); ++i) {
        const std::string &path = m_Items[i].path;
        if (file ? path != from : !StartsWith(path, prefix))
            continue;
        std::string newPath = file ? to : to + path.substr(from.size());
        if (!pf::FitsNameField(newPath))
            return Refuse(TooLong(newPath));
        renamed.emplace_back(i, std::move(newPath));
    }
    for (auto &change : renamed) {
        m_Files.erase(m_Items[change.first].path);
        m_Files.insert(change.second);
        m_CaseIndex->Note(change.second);
        m_Items[change.first].path = std::move(change.second);
    }
    return true;
}

} // namespace zarnik_pack
