#include "TreeWalk.h"

using zarnik::ArchiveNode;

void WalkBelow(const ArchiveNode *node, const std::function<void(const ArchiveNode *)> &visit)
{
    // Names are at most 260 bytes, so the tree is at most 130 folders deep.
    for (const ArchiveNode *child : node->m_Children) {
        visit(child);
        WalkBelow(child, visit);
    }
}
