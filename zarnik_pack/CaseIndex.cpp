#include "CaseIndex.h"

#include "PackPath.h"
#include "PathRule.h"

namespace zarnik_pack {

namespace {

void Insert(std::multimap<std::string, const zarnik::ArchiveNode *> &names, const std::string &name,
            const zarnik::ArchiveNode *node)
{
    const std::string folded = zarnik::FoldedLatin1(name);
    for (auto it = names.lower_bound(folded); it != names.end() && it->first == folded; ++it)
        if (it->second == node)
            return;
    names.emplace(folded, node);
}

} // namespace

void CaseIndex::Note(const Node *node)
{
    // Only folders asked about before have names to keep up to date.
    const auto folder = m_Folders.find(m_Record.Parent(node));
    if (folder != m_Folders.end())
        Insert(folder->second, m_Record.Name(node), node);
}

const CaseIndex::Names &CaseIndex::NamesIn(const Node *folder) const
{
    const auto known = m_Folders.find(folder);
    if (known != m_Folders.end())
        return known->second;
    Names &names = m_Folders[folder];
    for (const Node *child : m_Record.Children(folder))
        Insert(names, m_Record.Name(child), child);
    return names;
}

const CaseIndex::Node *CaseIndex::TwinOf(const std::string &path, const Node *own) const
{
    const Node *folder = m_Record.Root();
    for (size_t start = path.find('\\'); start != std::string::npos && folder;) {
        const size_t end = path.find('\\', start + 1);
        const std::string name = path.substr(start + 1, end == std::string::npos ? end : end - start - 1);
        const Names &names = NamesIn(folder);
        const std::string folded = zarnik::FoldedLatin1(name);
        for (auto it = names.lower_bound(folded); it != names.end() && it->first == folded; ++it) {
            const Node *node = it->second;
            // A name noted once may have been renamed, moved or deleted
            // since: only what stands here under such a name now counts.
            const std::string &now = m_Record.Name(node);
            if (node != own && m_Record.Parent(node) == folder && now != name &&
                zarnik::SameNameIgnoringCase(now, name) && m_Record.State(node).kept)
                return node;
        }
        folder = m_Record.Child(folder, name);
        start = end;
    }
    return nullptr;
}

} // namespace zarnik_pack
