// A packed stream read from where it is stored, a window at a time: its
// blocks are independent (no match reaches before its own block), so they
// can be decoded one after another with a few blocks of memory, by several
// workers at once, or from the middle for a random-access read.
//
// Block size limit: a block that decodes to more than kMaxBlockRawLength
// (8 MiB) or is stored in more than kMaxBlockStoredLength is refused as too
// large before anything is allocated for it. The format allows 4 GiB - 1,
// but packers of this format cut their input into blocks of tens or
// hundreds of KiB (our own writes 64 KiB; the format's own decoder keeps a
// 128 KiB history and handles larger blocks only as a slow path), and a
// block is the smallest unit a stop request, a worker or a memory budget
// can act on: at 8 MiB a stop is seen within 8 MiB of output, and a worker
// never holds more than one stored and one decoded range of a few MiB.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace zarnik {

const uint32_t kMaxBlockRawLength = 8u << 20;
// An all-literal payload is its bytes plus a control word for every 31 of
// them; a quarter more is room for that and for the header.
const uint32_t kMaxBlockStoredLength = kMaxBlockRawLength + kMaxBlockRawLength / 4;

// How a decode or a read of a packed stream ended.
enum class StreamOutcome {
    Sound,      // every byte asked for was delivered
    Damaged,    // a block header or payload breaks the format
    TooLarge,   // a block past the size limit above (never allocated)
    WrongSize,  // the blocks decode to another size than the stream's unpacked size
    Unreadable, // the stored bytes could not all be read (the file is short)
    NoMemory,   // a buffer could not be allocated: nothing is known to be wrong
    Stopped,    // the stop flag was raised
    SinkFailed, // the sink refused bytes
};

// Reads up to `count` stored bytes at `position`, counted from the stream's
// first byte; returns the number delivered (short only at a failure or the
// end of the file). Called from several threads at once.
using StreamReader = std::function<uint32_t(uint64_t position, void *buffer, uint32_t count)>;

// Where a packed stream is stored and what it should decode to.
struct PackedStream
{
    StreamReader read;
    uint64_t storedSize = 0;
    uint64_t unpackedSize = 0;
};

// Where to start decoding for a given unpacked offset: a sparse list of
// block starts, one at least every kSpacing bytes of stored or unpacked
// data, so it stays small (16 bytes per 256 KiB) whatever the blocks' size.
// It is made by one pass over the block headers, which also checks every
// header; what lies past the first bad one is not indexed.
class CBlockIndex
{
public:
    static const uint32_t kSpacing = 256u << 10;

    struct Entry
    {
        uint64_t stored;   // the block's first byte in the stream
        uint64_t unpacked; // its first byte in the output
    };

    // Scans the headers of `stream`. The outcome is Sound when every block
    // is sound and they add up to the unpacked size; otherwise it says what
    // ended the scan, and the index covers the blocks before.
    StreamOutcome Build(const PackedStream &stream);

    StreamOutcome Outcome() const { return m_Outcome; }
    const std::vector<Entry> &Entries() const { return m_Entries; }
    // The end of the blocks indexed: after the last, or before the first
    // that failed.
    Entry End() const { return m_End; }
    // The range of entry `i`: from its start to the next entry or the end.
    Entry RangeEnd(size_t i) const
    {
        return i + 1 < m_Entries.size() ? m_Entries[i + 1] : m_End;
    }
    // The entry whose range holds unpacked offset `offset` (< End().unpacked).
    size_t Find(uint64_t offset) const;

private:
    std::vector<Entry> m_Entries;
    Entry m_End = {0, 0};
    StreamOutcome m_Outcome = StreamOutcome::Sound;
};

// Receives decoded bytes, in order and from one thread at a time: `offset`
// is the first byte's place in the output. False stops the decode
// (SinkFailed).
using StreamSink = std::function<bool(uint64_t offset, const unsigned char *data, size_t size)>;

struct StreamDecodeResult
{
    StreamOutcome outcome = StreamOutcome::Sound;
    uint64_t delivered = 0; // bytes handed to the sink, all sound
};

// Decodes `stream` through `index` (built for it) with `workers` threads
// (the calling one among them; 0 counts as 1), each decoding its own
// ranges of blocks; the sink gets every range in order, so it may write
// sequentially. Memory: about two ranges (kSpacing plus a block) per
// worker. `stop`, when given, is checked before every block, so a stop is
// seen within kMaxBlockRawLength of output per worker. Nothing past a
// failed block reaches the sink: the result's outcome is the first failure
// in stream order (or Stopped, or the index's own outcome once its blocks
// are delivered).
StreamDecodeResult DecodeBlockStream(const PackedStream &stream, const CBlockIndex &index,
                                     unsigned workers, const std::atomic<bool> *stop,
                                     const StreamSink &sink);

} // namespace zarnik
