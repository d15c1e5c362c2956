// The name a node takes beside its siblings when the pack is seen as files:
// written by extraction, shown by a mount. One policy for both.
#pragma once

#include "ZarnikArchive.h"

#include <string>

namespace zarnik {

struct DiskName
{
    // Written when the node takes `name`; else why it is left out, with all
    // below it (EmptyName, UnsafeName, Duplicate).
    ExtractOutcome outcome = ExtractOutcome::Written;
    // UTF-8. Empty for a folder of an empty name (a doubled separator in a
    // path, content\\x): it names no folder of its own, and what lies below
    // it goes into its parent.
    std::string name;
};

DiskName DiskNameOf(const ArchiveNode &node);

} // namespace zarnik
