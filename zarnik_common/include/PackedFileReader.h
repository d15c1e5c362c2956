// Random access to a packed file's bytes: bytes N..M are read by decoding
// only the blocks that hold them, found through a block index made on the
// first read and kept for the reader's life (16 bytes per 256 KiB).
#pragma once

#include "BlockStream.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace zarnik {

class CPackedFileReader
{
public:
    explicit CPackedFileReader(PackedStream stream) : m_Stream(std::move(stream)) {}

    CPackedFileReader(const CPackedFileReader &) = delete;
    CPackedFileReader &operator=(const CPackedFileReader &) = delete;

    uint64_t Size() const { return m_Stream.unpackedSize; }

    // Reads the `count` bytes at unpacked offset `offset` into `buffer`;
    // a range past Size() is cut at it, and `*delivered` says how many
    // bytes came. Sound when all of them did; otherwise what stopped the
    // read (the bytes before it are delivered). Any number of threads may
    // read at once.
    StreamOutcome Read(uint64_t offset, void *buffer, size_t count, size_t *delivered) const;

private:
    const CBlockIndex &Index() const;

    PackedStream m_Stream;
    mutable std::once_flag m_IndexMade;
    mutable CBlockIndex m_Index;
};

} // namespace zarnik
