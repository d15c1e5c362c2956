// Random access to a packed file's bytes: bytes N..M are read by decoding
// only the blocks that hold them, found through a block index made on the
// first read and kept for the reader's life (16 bytes per 256 KiB).
#pragma once

#include "BlockStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace zarnik {

// One stretch of a packed file, decoded: `size` bytes at `bytes`.
struct DecodedStretch
{
    std::unique_ptr<unsigned char[]> bytes;
    size_t size = 0;
};

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

    // The unit a cache of decoded bytes keeps: stretch N of the block index
    // (about kSpacing bytes of output) runs from its start to the next
    // one's. StretchAt finds the stretch holding `offset` (< Size()) and
    // where it starts; false when the blocks indexed end before `offset`,
    // with what ended them in `*outcome`.
    bool StretchAt(uint64_t offset, size_t *stretch, uint64_t *start, StreamOutcome *outcome) const;
    // How many stretches the blocks indexed make.
    size_t Stretches() const { return Index().Entries().size(); }
    // Decodes stretch `stretch` whole into `out`: all its bytes when Sound,
    // the sound ones before the failure otherwise.
    StreamOutcome DecodeStretch(size_t stretch, DecodedStretch &out) const;
    // What a read of the bytes before `end` meets beside the blocks it
    // decodes: Sound, or what the scan of the block headers found where
    // the blocks do not stand for those bytes: past the blocks indexed, or
    // at the file's end when they do not make the file whole (a bad header
    // after the last block, or too few bytes). The read that reaches the end
    // fails with it, so that no reader gets a damaged file whole.
    StreamOutcome ReachOutcome(uint64_t end) const;

private:
    const CBlockIndex &Index() const;

    PackedStream m_Stream;
    mutable std::once_flag m_IndexMade;
    mutable CBlockIndex m_Index;
};

} // namespace zarnik
