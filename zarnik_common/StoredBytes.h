// A file node's stored bytes, read from its data file: for reading a file's
// data (FileData.cpp) and for writing a packed file (Extraction.cpp).
#pragma once

#include "BlockFormat.h"
#include "FileSource.h"
#include "ZarnikArchive.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

namespace zarnik {

// Bytes read or written between two looks at a stop flag: a few milliseconds.
const uint32_t kStoredStep = 8u << 20;

inline unsigned char *AllocateBytes(uint64_t size)
{
    return new (std::nothrow) unsigned char[size ? size : 1];
}

// The stored bytes of a file node, checked against its data file and read
// a few MiB at a time while `stopping()` says no; null with the reason in
// `outcome` when they cannot be had. A packed node must not claim more than
// its stored bytes can possibly decode to: a hostile entry may claim
// gigabytes for a few bytes.
template <typename Stopping>
std::unique_ptr<unsigned char[]> ReadStored(const CFileSource *data, const ArchiveNode &node,
                                            ExtractOutcome &outcome, Stopping stopping)
{
    std::unique_ptr<unsigned char[]> stored;
    if (!data)
        outcome = ExtractOutcome::Unreadable;
    else if (static_cast<uint64_t>(node.m_Offset) + node.m_PackedSize > data->Size())
        outcome = ExtractOutcome::OutOfRange;
    else if (node.IsPacked() &&
             node.m_UnpackedSize > uint64_t(blockformat::kMaxUnpackRatio) * node.m_PackedSize)
        outcome = ExtractOutcome::WrongSize;
    else if (!(stored.reset(AllocateBytes(node.m_PackedSize)), stored))
        outcome = ExtractOutcome::NoMemory;
    for (uint32_t done = 0; stored && done < node.m_PackedSize;) {
        const uint32_t step = std::min(node.m_PackedSize - done, kStoredStep);
        if (stopping()) {
            stored.reset();
            outcome = ExtractOutcome::Stopped;
        } else if (data->ReadAt(node.m_Offset + done, stored.get() + done, step) != step) {
            stored.reset();
            outcome = ExtractOutcome::Unreadable;
        }
        done += step;
    }
    return stored;
}

} // namespace zarnik
