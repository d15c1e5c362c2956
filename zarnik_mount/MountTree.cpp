#include "MountTree.h"

#include "DiskName.h"
#include "PackPath.h"

#include <algorithm>

namespace zarnik_mount {

using zarnik::ArchiveNode;

namespace {

// A folder's children under the names extraction gives them: the nodes
// of `folder` and of every folder below it that names none of its own,
// without those it leaves out.
void GatherChildren(const ArchiveNode &folder, std::vector<MountEntry> &out,
                    const CMountTree::HiddenCallback &hidden)
{
    for (const ArchiveNode *child : folder.m_Children) {
        zarnik::DiskName disk = zarnik::DiskNameOf(*child);
        if (disk.outcome == zarnik::ExtractOutcome::Duplicate)
            continue; // the earlier entry of that path is shown; opening reported it
        if (disk.outcome != zarnik::ExtractOutcome::Written)
            hidden(*child, zarnik::ExtractOutcomeText(disk.outcome));
        else if (disk.name.empty())
            GatherChildren(*child, out, hidden);
        else
            out.push_back(MountEntry{std::move(disk.name), child, 0, 0});
    }
}

} // namespace

CMountTree::CMountTree(const ArchiveNode *root, const HiddenCallback &hidden)
{
    const zarnik::TreeTotals totals = zarnik::CountTree(root);
    m_Entries.reserve(size_t(totals.files + totals.folders) + 2);
    m_Entries.push_back(MountEntry{});
    m_Entries.push_back(MountEntry{zarnik::FileSystemName(root->m_Name), root, 0, 0});
    m_Entries[0].firstChild = 1;
    m_Entries[0].children = 1;
    // Breadth first: a folder's children are appended together, so they
    // stay side by side, sorted for the lookups.
    for (size_t i = 1; i < m_Entries.size(); ++i) {
        if (!m_Entries[i].IsFolder())
            continue;
        const size_t first = m_Entries.size();
        GatherChildren(*m_Entries[i].node, m_Entries, hidden);
        const auto begin = m_Entries.begin() + ptrdiff_t(first);
        std::stable_sort(begin, m_Entries.end(),
                         [](const MountEntry &a, const MountEntry &b) { return a.name < b.name; });
        // A file and a folder of one name: the first in the pack is shown.
        auto kept = begin;
        for (auto it = begin; it != m_Entries.end(); ++it) {
            if (it != begin && it->name == (kept - 1)->name)
                hidden(*it->node, "a file or folder of the same name comes before it");
            else if (kept++ != it)
                *(kept - 1) = std::move(*it);
        }
        m_Entries.erase(kept, m_Entries.end());
        m_Entries[i].firstChild = uint32_t(first);
        m_Entries[i].children = uint32_t(m_Entries.size() - first);
    }
    m_Entries.shrink_to_fit();
}

const MountEntry *CMountTree::Child(const MountEntry &folder, std::string_view name) const
{
    if (!folder.IsFolder())
        return nullptr;
    const MountEntry *first = &m_Entries[folder.firstChild];
    const MountEntry *last = first + folder.children;
    const MountEntry *found = std::lower_bound(
        first, last, name, [](const MountEntry &e, std::string_view s) { return e.name < s; });
    return found != last && found->name == name ? found : nullptr;
}

} // namespace zarnik_mount
