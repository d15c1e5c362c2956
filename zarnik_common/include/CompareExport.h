// A comparison's differences as a patch: the files of B that A lacks or
// holds otherwise, written below a folder at their paths (DIR/content/...),
// and "removed.txt" naming, one a line as `list` prints them, the paths of
// A that B no longer has. Files are written whole or not at all and never
// over anything: from a pack through extraction, from a folder by copying.
#pragma once

#include "Compare.h"
#include "Extraction.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace zarnik {

// The name of the list of removed paths written beside the files.
extern const char kRemovedListName[];

struct ExportSettings
{
    const std::atomic<bool> *stop = nullptr;
    unsigned workers = 0; // as ExtractSettings::workers
    // Once per file and for removed.txt: its archive path (the list's own
    // name for it), Written or why not, and the system's words if it gave
    // any. On the calling thread.
    std::function<void(const std::string &path, ExtractOutcome outcome, const std::string &reason)> result;
};

struct ExportEnd
{
    ExtractEnd end = ExtractEnd::Finished;
    std::string refused; // set when nothing could be written: why
};

// Writes the added, modified and renamed files of `b` (whose differences
// against A are `differences`), an added folder with everything below it,
// and removed.txt listing the paths removed and those renamed away, below
// the folder `directory`. A hash list holds no bytes: it is refused.
ExportEnd ExportDifferences(const CCompareSide &b, const std::vector<Difference> &differences,
                            const std::string &directory, const ExportSettings &settings);

} // namespace zarnik
