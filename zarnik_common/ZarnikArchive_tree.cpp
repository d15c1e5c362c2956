// The folder tree: the flat entry list becomes folders and files under the
// root "content", with every folder findable by its path.
#include "ZarnikArchive_open.h"

#include "Check.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>

namespace zarnik {

namespace {

// Calls `duplicate` for each file child of `folder` whose name an earlier
// child of it already has, or a folder beside it has, before or after it:
// both would be written to one place, and which one wins must not depend on
// the order files happen to be written in. The folder, and the first file of
// a name, are the ones written. `names` is scratch space, kept from folder
// to folder for its buckets.
template <typename Duplicate>
void FindDuplicateNames(const ArchiveNode *folder, std::unordered_set<std::string_view> &names,
                        Duplicate duplicate)
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
    names.clear();
    names.reserve(children.size());
    // Folder names are unique among siblings: each folder path is made once.
    for (const ArchiveNode *child : children)
        if (child->IsFolder())
            names.insert(child->m_Name);
    for (const ArchiveNode *child : children)
        if (!child->IsFolder() && !names.insert(child->m_Name).second)
            duplicate(child);
}

char Folded(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names as a disk that ignores case compares them, for the set below.
struct FoldedHash
{
    size_t operator()(std::string_view name) const
    {
        size_t hash = name.size();
        for (char c : name)
            hash = hash * 131 + static_cast<unsigned char>(Folded(c));
        return hash;
    }
};
struct FoldedEqual
{
    bool operator()(std::string_view a, std::string_view b) const
    {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (Folded(a[i]) != Folded(b[i]))
                return false;
        return true;
    }
};
using FoldedNames = std::unordered_set<std::string_view, FoldedHash, FoldedEqual>;

// Marks each child of `folder` whose name differs only in case from an
// earlier child's; duplicates and empty names are reported already. Every
// node is the opener's own to mark while the archive is being made.
void MarkCaseTwins(const ArchiveNode *folder, FoldedNames &names)
{
    const std::vector<const ArchiveNode *> &children = folder->m_Children;
    const auto counts = [](const ArchiveNode *child) { return !child->m_Duplicate && !child->m_Name.empty(); };
    // Two names that differ only in case hold a capital letter between them.
    const auto capital = [](const ArchiveNode *child) {
        return std::any_of(child->m_Name.begin(), child->m_Name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    };
    if (std::none_of(children.begin(), children.end(), capital))
        return;
    // Small folders, the common case, are compared pair by pair.
    if (children.size() <= 16) {
        for (size_t i = 1; i < children.size(); ++i)
            for (size_t j = 0; j < i && counts(children[i]); ++j)
                if (counts(children[j]) && FoldedEqual()(children[j]->m_Name, children[i]->m_Name)) {
                    const_cast<ArchiveNode *>(children[i])->m_CaseTwin = 1;
                    break;
                }
        return;
    }
    names.clear();
    for (const ArchiveNode *child : children)
        if (counts(child) && !names.insert(child->m_Name).second)
            const_cast<ArchiveNode *>(child)->m_CaseTwin = 1;
}

} // namespace

void CZarnikArchive::COpener::BuildTree(const std::vector<ArchiveNode *> &files)
{
    ArchiveNode *root = NewNode();
    root->m_Name = "content";
    root->m_Path = "content";
    m_Archive.m_Root = root;
    m_Archive.m_Folders["content"] = root;
    m_Archive.m_Entries.assign(files.begin(), files.end());

    for (ArchiveNode *file : files)
        if (!AddNode(file->m_Path, file))
            Report(OpenReportItem::Kind::NoParent, 0, file->m_Path);
    MarkDuplicates();
}

void CZarnikArchive::COpener::MarkDuplicates()
{
    // Folders are few next to files; each is looked at once.
    std::vector<const ArchiveNode *> folders{m_Archive.m_Root};
    std::unordered_set<std::string_view> names;
    FoldedNames foldedNames;
    while (!folders.empty()) {
        const ArchiveNode *folder = folders.back();
        folders.pop_back();
        FindDuplicateNames(folder, names, [this](const ArchiveNode *file) {
            if (file->m_Name.empty())
                return; // reported as an empty name
            // Every node is this opener's own to mark while the archive is
            // being made; the tree only hands them out as const.
            const_cast<ArchiveNode *>(file)->m_Duplicate = 1;
            Report(OpenReportItem::Kind::DuplicatePath, 0, file->m_Path);
        });
        MarkCaseTwins(folder, foldedNames);
        for (const ArchiveNode *child : folder->m_Children)
            if (child->IsFolder())
                folders.push_back(child);
    }
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
    const size_t last = path.rfind('\\');
    ArchiveNode *lastDir = m_Archive.m_Root;

    if (last != std::string::npos) {
        // The walk depends only on the folder part and folders are never
        // removed, so a file in the same folder as the one before it lands
        // where that one did.
        if (m_LastFolder && m_LastFolderKey.size() == last + 1 &&
            path.compare(0, last + 1, m_LastFolderKey) == 0) {
            lastDir = m_LastFolder;
        } else {
            std::string current;
            size_t start = 0;
            while (start <= last) {
                const size_t pos = path.find('\\', start);
                const char *segment = path.data() + start;
                const size_t segmentLength = pos - start;
                if (current.empty() ||
                    (segmentLength == 7 && std::memcmp(segment, "content", 7) == 0)) {
                    current.assign(segment, segmentLength);
                } else {
                    ArchiveNode *parent = FindFolder(current);
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
                        parent->m_Children.push_back(folder);
                        m_Archive.m_Folders.emplace(folderPath, folder);
                    }
                    lastDir = folder;
                    current.swap(folderPath);
                }
                start = pos + 1;
            }
            m_LastFolderKey.assign(path, 0, last + 1);
            m_LastFolder = lastDir;
        }
    }

    if (!ZARNIK_CHECK(NULL != lastDir))
        return nullptr;
    file->m_Name.assign(path, last == std::string::npos ? 0 : last + 1, std::string::npos);
    lastDir->m_Children.push_back(file);
    return file;
}

} // namespace zarnik
