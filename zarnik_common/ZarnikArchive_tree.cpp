// The folder tree: the flat entry list becomes folders and files under the
// root "content", with every folder findable by its path.
#include "ZarnikArchive_open.h"

#include "Check.h"
#include "PackPath.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

namespace zarnik {

namespace {

// The names of one folder's children, to find a name met twice: open
// addressing over slots kept from folder to folder, so that a folder of
// thousands of files costs no allocation per name, and names are compared
// only where their hashes are equal.
class CNameSet
{
public:
    // Empties the set for at most `count` names; at most half the slots are
    // ever used, so that a probe always ends at an empty one.
    void Reset(size_t count)
    {
        size_t size = 32;
        while (size < 2 * count)
            size *= 2;
        m_Slots.assign(size, Slot());
        m_Mask = size - 1;
    }

    // Adds `node`'s name; false when a node of that name is in the set already.
    bool Insert(const ArchiveNode *node)
    {
        const std::string &name = node->m_Name;
        const size_t hash = std::hash<std::string_view>()(name);
        for (size_t i = hash & m_Mask;; i = (i + 1) & m_Mask) {
            Slot &slot = m_Slots[i];
            if (!slot.node) {
                slot.hash = hash;
                slot.node = node;
                return true;
            }
            if (slot.hash == hash && slot.node->m_Name == name)
                return false;
        }
    }

private:
    struct Slot
    {
        size_t hash = 0;
        const ArchiveNode *node = nullptr;
    };
    std::vector<Slot> m_Slots;
    size_t m_Mask = 0;
};

// Calls `duplicate` for each file child of `folder` whose name an earlier
// child of it already has, or a folder beside it has, before or after it:
// both would be written to one place, and which one wins must not depend on
// the order files happen to be written in. The folder, and the first file of
// a name, are the ones written.
template <typename Duplicate>
void FindDuplicateNames(const ArchiveNode *folder, CNameSet &names, Duplicate duplicate)
{
    const std::vector<const ArchiveNode *> &children = folder->m_Children;
    // Small folders, the common case, are compared pair by pair.
    if (children.size() <= 16) {
        for (size_t i = 0; i < children.size(); ++i) {
            if (children[i]->IsFolder())
                continue;
            for (size_t j = 0; j < children.size(); ++j) {
                if ((j < i || children[j]->IsFolder()) && j != i &&
                    children[j]->m_Name == children[i]->m_Name) {
                    duplicate(children[i]);
                    break;
                }
            }
        }
        return;
    }
    names.Reset(children.size());
    // Folder names are unique among siblings: each folder path is made once.
    for (const ArchiveNode *child : children)
        if (child->IsFolder())
            names.Insert(child);
    for (const ArchiveNode *child : children)
        if (!child->IsFolder() && !names.Insert(child))
            duplicate(child);
}

// Where the last backslash of `path` stands, or npos.
size_t LastBackslash(const std::string &path)
{
    for (size_t i = path.size(); i > 0; --i)
        if (path[i - 1] == '\\')
            return i - 1;
    return std::string::npos;
}

// A letter of a name as a disk that ignores case compares it.
char Folded(char c)
{
    return FoldedLatin1(c);
}

// Names in the order a disk that ignores case would sort them.
bool FoldedLess(const ArchiveNode *a, const ArchiveNode *b)
{
    const std::string &x = a->m_Name, &y = b->m_Name;
    const size_t n = x.size() < y.size() ? x.size() : y.size();
    // Names beside each other mostly share a long start ("file_0001..."):
    // equal bytes fold alike, so they are passed over eight at a time.
    size_t i = 0;
    for (uint64_t wx, wy; i + 8 <= n; i += 8) {
        std::memcpy(&wx, x.data() + i, 8);
        std::memcpy(&wy, y.data() + i, 8);
        if (wx != wy)
            break;
    }
    for (; i < n; ++i) {
        const unsigned char cx = static_cast<unsigned char>(Folded(x[i]));
        const unsigned char cy = static_cast<unsigned char>(Folded(y[i]));
        if (cx != cy)
            return cx < cy;
    }
    return x.size() < y.size();
}

bool FoldedEqual(const std::string &x, const std::string &y)
{
    if (x.size() != y.size())
        return false;
    for (size_t i = 0; i < x.size(); ++i)
        if (Folded(x[i]) != Folded(y[i]))
            return false;
    return true;
}

// Calls `twin(child, earlier)` for each child of `folder` whose name
// differs only in case from an earlier child's, the first such; duplicates
// and empty names are reported already.
template <typename Twin>
void FindCaseTwins(const ArchiveNode *folder, std::vector<const ArchiveNode *> &sorted, Twin twin)
{
    const std::vector<const ArchiveNode *> &children = folder->m_Children;
    const auto counts = [](const ArchiveNode *child) { return !child->m_Duplicate && !child->m_Name.empty(); };
    // Two names that differ only in case hold a capital letter between them.
    const auto capital = [](const ArchiveNode *child) {
        return std::any_of(child->m_Name.begin(), child->m_Name.end(), [](char c) { return Folded(c) != c; });
    };
    if (std::none_of(children.begin(), children.end(), capital))
        return;
    // Small folders, the common case, are compared pair by pair.
    if (children.size() <= 16) {
        for (size_t i = 1; i < children.size(); ++i)
            for (size_t j = 0; j < i && counts(children[i]); ++j)
                if (counts(children[j]) && FoldedEqual(children[j]->m_Name, children[i]->m_Name)) {
                    twin(children[i], children[j]);
                    break;
                }
        return;
    }
    // Larger ones are sorted, not hashed: names chosen to collide cannot
    // slow a sort down. A stable sort keeps the pack's order among names
    // that fold alike, so the first of them is the one left unmarked.
    sorted.clear();
    for (const ArchiveNode *child : children)
        if (counts(child))
            sorted.push_back(child);
    std::stable_sort(sorted.begin(), sorted.end(), FoldedLess);
    size_t first = 0;
    for (size_t i = 1; i < sorted.size(); ++i) {
        if (FoldedEqual(sorted[first]->m_Name, sorted[i]->m_Name))
            twin(sorted[i], sorted[first]);
        else
            first = i;
    }
}

} // namespace

void CZarnikArchive::COpener::BuildTree()
{
    ArchiveNode *root = NewNode();
    root->m_Name = kRootName;
    root->m_Path = kRootName;
    m_Archive.m_Root = root;
    m_Archive.m_Folders[kRootName] = root;
    // Every node is this opener's own to place while the archive is being
    // made; the archive only hands them out as const.
    for (const ArchiveNode *file : m_Archive.m_Entries)
        if (!AddNode(file->m_Path, const_cast<ArchiveNode *>(file)))
            Report(OpenReportItem::Kind::NoParent, 0, file->m_Path);
    // Children came one at a time: what a folder's list grew beyond them is
    // given back, as the archive keeps them as long as it is open.
    for (const auto &folder : m_Archive.m_Folders)
        folder.second->m_Children.shrink_to_fit();
    MarkDuplicates();
}

void CZarnikArchive::COpener::AddChild(ArchiveNode *folder, ArchiveNode *child)
{
    // Names that rise one after the other, as a disk that ignores case sorts
    // them, are all different, even without case: such a folder holds no
    // duplicate and no pair differing only in case. Packers mostly list a
    // folder in that order, so only the folders where a name does not rise
    // are looked through again once the tree stands (while it is made, the
    // name before is still at hand; afterwards every node would be read
    // from memory once more).
    std::vector<const ArchiveNode *> &children = folder->m_Children;
    if (!children.empty() && !FoldedLess(children.back(), child) && m_NotRising.insert(folder).second)
        m_FoldersToCheck.push_back(folder);
    children.push_back(child);
    child->m_Parent = folder;
}

void CZarnikArchive::COpener::MarkDuplicates()
{
    CNameSet names;
    std::vector<const ArchiveNode *> sortedNames;
    for (const ArchiveNode *folder : m_FoldersToCheck) {
        FindDuplicateNames(folder, names, [this](const ArchiveNode *file) {
            if (file->m_Name.empty())
                return; // reported as an empty name
            // Every node is this opener's own to mark while the archive is
            // being made; the tree only hands them out as const.
            const_cast<ArchiveNode *>(file)->m_Duplicate = 1;
            Report(OpenReportItem::Kind::DuplicatePath, 0, file->m_Path);
        });
        FindCaseTwins(folder, sortedNames, [this](const ArchiveNode *node, const ArchiveNode *earlier) {
            const_cast<ArchiveNode *>(node)->m_CaseTwin = 1;
            m_Archive.m_CaseTwins.emplace(node, earlier);
        });
    }
}

const ArchiveNode *CZarnikArchive::EarlierCaseTwin(const ArchiveNode &node) const
{
    if (!node.m_CaseTwin)
        return nullptr;
    const auto it = m_CaseTwins.find(&node);
    return it == m_CaseTwins.end() ? nullptr : it->second;
}

const ArchiveNode *CZarnikArchive::FindFolder(const std::string &path) const
{
    const auto it = m_Folders.find(path);
    return it == m_Folders.end() ? nullptr : it->second;
}

ArchiveNode *CZarnikArchive::COpener::FindFolder(const std::string &path) const
{
    const auto it = m_Archive.m_Folders.find(path);
    return it == m_Archive.m_Folders.end() ? nullptr : it->second;
}

// Places one file. The segments before the last backslash lead, folder by
// folder, to the folder that receives the file. The first segment, and any
// later segment "content", set the current path without a lookup; every
// other segment is a folder below the current path, made when first met.
// Where a folder has no parent (a path such as data\sub\x.bin) the check
// fails and the file is left out: it returns null.
ArchiveNode *CZarnikArchive::COpener::AddNode(const std::string &path, ArchiveNode *file)
{
    // The walk depends only on the folder part and folders are never
    // removed, so a file in the same folder as the one before it lands where
    // that one did.
    const size_t keyLength = m_LastFolderKey.size();
    if (m_LastFolder && path.size() >= keyLength &&
        std::memcmp(path.data(), m_LastFolderKey.data(), keyLength) == 0 &&
        !std::memchr(path.data() + keyLength, '\\', path.size() - keyLength))
        return PlaceFile(m_LastFolder, keyLength, file);

    const size_t last = LastBackslash(path);
    ArchiveNode *lastDir = m_Archive.m_Root;
    if (last != std::string::npos) {
        std::string current;
        // The folder at `current` once a step has found or made it; the
        // paths a segment sets are looked up when a folder goes below.
        ArchiveNode *currentFolder = nullptr;
        size_t start = 0;
        while (start <= last) {
            const size_t pos = path.find('\\', start);
            const char *segment = path.data() + start;
            const size_t segmentLength = pos - start;
            if (current.empty() ||
                (segmentLength == sizeof kRootName - 1 && std::memcmp(segment, kRootName, segmentLength) == 0)) {
                current.assign(segment, segmentLength);
                currentFolder = nullptr;
            } else {
                ArchiveNode *parent = currentFolder ? currentFolder : FindFolder(current);
                if (!ZARNIK_CHECK(NULL != parent))
                    return nullptr;
                std::string folderPath;
                folderPath.reserve(current.size() + 1 + segmentLength);
                folderPath.append(current).append(1, '\\').append(segment, segmentLength);
                ArchiveNode *folder = FindFolder(folderPath);
                if (!folder) {
                    folder = NewNode();
                    folder->m_Name.assign(segment, segmentLength);
                    folder->m_Path = folderPath;
                    AddChild(parent, folder);
                    m_Archive.m_Folders.emplace(folderPath, folder);
                }
                lastDir = folder;
                currentFolder = folder;
                current.swap(folderPath);
            }
            start = pos + 1;
        }
        m_LastFolderKey.assign(path, 0, last + 1);
        m_LastFolder = lastDir;
    }

    if (!ZARNIK_CHECK(NULL != lastDir))
        return nullptr;
    return PlaceFile(lastDir, last == std::string::npos ? 0 : last + 1, file);
}

// Gives `file` the name that starts at `nameStart` of its path and puts it
// into `folder`.
ArchiveNode *CZarnikArchive::COpener::PlaceFile(ArchiveNode *folder, size_t nameStart, ArchiveNode *file)
{
    const std::string &path = file->m_Path;
    file->m_Name = std::string(path.data() + nameStart, path.size() - nameStart);
    AddChild(folder, file);
    return file;
}

} // namespace zarnik
