// A file node's stored bytes in its data file: the checks before any byte of
// them is read, and the packed stream they form. For reading a file's data
// (FileData.cpp) and for writing it to disk (Extraction.cpp).
#pragma once

#include "BlockFormat.h"
#include "BlockStream.h"
#include "FileSource.h"
#include "ZarnikArchive.h"

#include <cstdint>
#include <new>

namespace zarnik {

// Bytes read or written between two looks at a stop flag: a few milliseconds.
const uint32_t kStoredStep = 8u << 20;
// A packed file unpacking to this much or more gains from several threads
// decoding its block ranges at once: below it, starting them costs more
// than they win.
const uint64_t kParallelFileSize = 16u << 20;

inline unsigned char *AllocateBytes(uint64_t size)
{
    return new (std::nothrow) unsigned char[size ? size : 1];
}

// Sound when `node`'s stored bytes lie inside `data` (which may be null)
// and a packed node claims no more than they can decode to; else why not.
ReadOutcome StoredRangeOutcome(const CFileSource *data, const ArchiveNode &node);

// The stored bytes of `node`, read from `data` (which must outlive it) at
// the node's offset; its range must have passed StoredRangeOutcome.
PackedStream StoredStreamOf(const CFileSource &data, const ArchiveNode &node);

} // namespace zarnik
