// A readable picture of an opened archive's tree, for comparisons in tests.
#pragma once

#include "ZarnikArchive.h"

#include <string>

namespace testsupport {

// One line per node below `node`, depth first in m_Children order:
// indentation, the name, "/" for a folder.
inline void DumpInto(const ArchiveNode *node, int depth, std::string &out)
{
    for (const ArchiveNode *child : node->m_Children) {
        out.append(2 * depth, ' ');
        out += child->m_Name;
        out += child->m_PackedSize == 0 ? "/\n" : "\n";
        DumpInto(child, depth + 1, out);
    }
}

inline std::string Dump(const CZarnikArchive &archive)
{
    std::string out;
    if (archive.GetRoot())
        DumpInto(archive.GetRoot(), 0, out);
    return out;
}

} // namespace testsupport
