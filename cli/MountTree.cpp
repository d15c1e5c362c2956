#include "MountTree.h"

#include "PackPath.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

using zarnik::ArchiveNode;

namespace {

// A folder's visible children: the nodes of `folder` and of every
// empty-named folder below it (extraction writes what lies below an empty
// segment into the parent), the first of each name only.
void GatherChildren(const ArchiveNode &folder, std::vector<MountEntry> &out,
                    std::unordered_set<std::string> &names, const CMountTree::HiddenCallback &hidden)
{
    for (const ArchiveNode *child : folder.m_Children) {
        if (child->IsFolder() && child->m_Name.empty()) {
            GatherChildren(*child, out, names, hidden);
            continue;
        }
        std::string name = zarnik::FileSystemName(child->m_Name);
        if (name.empty())
            hidden(*child, zarnik::ExtractOutcomeText(zarnik::ExtractOutcome::EmptyName));
        else if (!zarnik::IsSafeName(name))
            hidden(*child, zarnik::ExtractOutcomeText(zarnik::ExtractOutcome::UnsafeName));
        else if (child->m_Duplicate)
            continue; // the earlier entry of that path is shown; opening reported it
        else if (!names.insert(name).second)
            hidden(*child, "a file or folder of the same name comes before it");
        else
            out.push_back(MountEntry{std::move(name), child, 0, 0});
    }
}

} // namespace

CMountTree::CMountTree(const ArchiveNode *root, const HiddenCallback &hidden)
{
    m_Entries.push_back(MountEntry{});
    m_Entries.push_back(MountEntry{zarnik::FileSystemName(root->m_Name), root, 0, 0});
    m_Entries[0].firstChild = 1;
    m_Entries[0].children = 1;
    // Breadth first: a folder's children are appended together, so they
    // stay side by side and sorted for the lookups.
    std::vector<MountEntry> children;
    std::unordered_set<std::string> names;
    for (size_t i = 1; i < m_Entries.size(); ++i) {
        if (!m_Entries[i].IsFolder())
            continue;
        children.clear();
        names.clear();
        GatherChildren(*m_Entries[i].node, children, names, hidden);
        std::sort(children.begin(), children.end(),
                  [](const MountEntry &a, const MountEntry &b) { return a.name < b.name; });
        m_Entries[i].firstChild = uint32_t(m_Entries.size());
        m_Entries[i].children = uint32_t(children.size());
        for (MountEntry &child : children)
            m_Entries.push_back(std::move(child));
    }
    m_Entries.shrink_to_fit();
}

const MountEntry *CMountTree::Find(const char *path) const
{
    const MountEntry *at = &m_Entries[0];
    while (*path) {
        while (*path == '/')
            ++path;
        if (!*path)
            break;
        const char *end = std::strchr(path, '/');
        const size_t length = end ? size_t(end - path) : std::strlen(path);
        if (!at->IsFolder())
            return nullptr;
        const std::string_view segment(path, length);
        const MountEntry *first = &m_Entries[at->firstChild];
        const MountEntry *last = first + at->children;
        const MountEntry *found = std::lower_bound(
            first, last, segment, [](const MountEntry &e, std::string_view s) { return e.name < s; });
        if (found == last || found->name != segment)
            return nullptr;
        at = found;
        path += length;
    }
    return at;
}
