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

TreeTotals CountTree(const ArchiveNode *node)
{
    TreeTotals totals;
    auto add = [&totals](const ArchiveNode *n) {
        if (n->IsFolder()) {
            ++totals.folders;
            return;
        }
        ++totals.files;
        totals.packedFiles += n->IsPacked();
        totals.storedBytes += n->m_PackedSize;
        totals.unpackedBytes += n->m_UnpackedSize;
    };
    add(node);
    WalkBelow(node, add);
    return totals;
}
