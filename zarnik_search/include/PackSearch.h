// A search through files of a pack: each file is unpacked a window at a
// time and its bytes go through a CLineScanner as they come, several files
// at once on worker threads; what they find reaches the caller in the
// order of the files given, as if they had been searched one by one.
#pragma once

#include "LineScanner.h"
#include "ZarnikArchive.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace zarnik_search {

struct SearchSettings
{
    ScanSettings scan;
    // Files searched at once; 0: one for each core.
    unsigned workers = 0;
    // Raised by the caller to end the search within a window of each file.
    const std::atomic<bool> *stop = nullptr;
};

// How the search of one file ended.
struct FileSearchEnd
{
    ScanSummary summary;
    // How reading it ended: Sound when every byte needed was read (also
    // when the search needed no more), else why not; the hits before a
    // failure were found in sound bytes.
    zarnik::ReadOutcome read = zarnik::ReadOutcome::Sound;
};

// Called on the thread that called SearchFiles, one call at a time, in
// the order of the files.
class CSearchCallback
{
public:
    virtual ~CSearchCallback() = default;
    // False ends the whole search.
    virtual bool OnHit(const zarnik::ArchiveNode &file, const SearchHit &hit) = 0;
    virtual bool OnFileEnd(const zarnik::ArchiveNode &file, const FileSearchEnd &end) = 0;
    // Now and then while files are searched: files ended, bytes read.
    virtual void OnProgress(uint64_t files, uint64_t bytes) { static_cast<void>(files), static_cast<void>(bytes); }
};

enum class SearchEnd {
    Finished, // every file was searched
    Ended,    // the callback ended it
    Stopped,  // the stop flag was raised
};

// Searches `files` (file nodes of `archive`) with `matcher` (cloned for
// each worker). Memory: a few windows and lines per worker, and what the
// workers found ahead of the file whose hits the callback is given.
SearchEnd SearchFiles(const zarnik::CZarnikArchive &archive, const std::vector<const zarnik::ArchiveNode *> &files,
                      const CMatcher &matcher, const SearchSettings &settings, CSearchCallback &callback);

} // namespace zarnik_search
