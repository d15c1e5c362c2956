// Walking the archive's tree the way every command lists it: depth first, in
// m_Children order.
#pragma once

#include "ZarnikArchive.h"

#include <cstdint>
#include <functional>

// Calls `visit` for every node below `node` (not `node` itself), a folder
// before its children.
void WalkBelow(const zarnik::ArchiveNode *node,
               const std::function<void(const zarnik::ArchiveNode *)> &visit);
