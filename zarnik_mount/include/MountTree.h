// The folder tree a mounted pack shows: the pack's names as extraction
// writes them (UTF-8), without the names it refuses and with each path once,
// laid out for lookups by path.
#pragma once

#include "ZarnikArchive.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zarnik_mount {

struct MountEntry
{
    std::string name;                          // one UTF-8 segment; empty for the top
    const zarnik::ArchiveNode *node = nullptr; // null for the top, above "content"
    uint32_t firstChild = 0;                   // children: entries [firstChild, firstChild + children)
    uint32_t children = 0;                     // sorted by name

    bool IsFolder() const { return !node || node->IsFolder(); }
};

class CMountTree
{
public:
    // Called once for every node left out, with its pack path and why.
    using HiddenCallback = std::function<void(const zarnik::ArchiveNode &node, const char *why)>;

    CMountTree(const zarnik::ArchiveNode *root, const HiddenCallback &hidden);

    // The child `name` of `folder`, or null.
    const MountEntry *Child(const MountEntry &folder, std::string_view name) const;
    const MountEntry &At(uint32_t index) const { return m_Entries[index]; }
    // The entry's place in the tree, unique to it; the top's is 0.
    uint32_t IndexOf(const MountEntry &entry) const { return uint32_t(&entry - m_Entries.data()); }
    size_t Size() const { return m_Entries.size(); }

private:
    std::vector<MountEntry> m_Entries; // the top first; each folder's children side by side
};

} // namespace zarnik_mount
