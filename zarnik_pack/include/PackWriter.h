// The pack writer: single packs (".upk") and the data file of an index set
// (".vfs", with its "content.vfi"), entry by entry into a PackSink.
//
// An entry's bytes come from memory, are read block by block from any
// source (so a pack of any size is written with a few blocks of memory), or
// are an opened pack's stored bytes copied as they are. Every call reports
// failure; after the first one the writer refuses everything, and
// Problem() says what went wrong. Write a pack to a file through an
// OutputFile, so that a failed pack leaves nothing behind.
#pragma once

#include "Bytes.h"
#include "Compressor.h"
#include "EntryTable.h"
#include "PackSink.h"
#include "PlatformFile.h"
#include "StoredForm.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zarnik_pack {

struct Entry
{
    std::string path; // archive path, '\' separators, e.g. content\a\b.txt
    Bytes data;
    Storage storage = Storage::Auto;
};

// A streamed entry's bytes are read this many at a time (the last read
// shorter): enough blocks at once for every packing thread to have its
// share, and a few blocks of memory whatever the entry's size.
const size_t kStreamedReadSize = 16 * kDefaultBlockSize;

// Fills `count` bytes (at most kStreamedReadSize) from `position` of an
// entry's data; false when they cannot be read.
using ReadBytes = std::function<bool(uint64_t position, unsigned char *buffer, size_t count)>;

enum class WriteProblem {
    None,
    ReadFailed,  // a source's bytes could not be read
    WriteFailed, // the sink failed: its Failure() says why
    TooLarge,    // the file would reach 4 GiB, past what a reader addresses
    NameTooLong, // a path longer than a reader takes
};

// Lays entries' stored bytes one after another into a sink (an entry's
// offset is where its bytes start in the sink's file) and keeps each entry's
// encoded header and name for the table or index that goes with them.
class DataWriter
{
public:
    // An entry whose bytes are in memory.
    bool Add(const Entry &entry);
    // An entry of `size` bytes read block by block through `read` (its
    // `data` is not looked at), in the form StoredForm gives; when packing
    // does not pay, the bytes are read a second time and stored as is.
    bool AddStreamed(const Entry &entry, uint64_t size, const ReadBytes &read);
    // An entry whose stored form is already made: `storedSize` bytes of
    // `source` from `offset` on (an entry of an opened pack), copied as they
    // are, with `unpackedSize` as its size; packed stays packed.
    bool AddStoredBytes(const std::string &path, uint64_t unpackedSize, zarnik::PlatformFile *source,
                        uint64_t offset, uint64_t storedSize);
    WriteProblem Problem() const { return m_Problem; }
    // Room for `count` entries whose paths take `pathBytes` in all, when the
    // caller knows them: the table is then kept in one block.
    void ReserveEntries(uint64_t count, uint64_t pathBytes);

protected:
    explicit DataWriter(PackSink &sink) : m_Sink(sink) {}
    // False, remembering `problem`, so that every later call fails too.
    bool Refuse(WriteProblem problem);
    // False unless nothing failed so far and the sink is sound.
    bool Sound();

    PackSink &m_Sink;
    // The file table, or the entries of the index chunk.
    EntryTable m_Entries;

private:
    bool Begin(const std::string &path);
    bool Record(const std::string &path, uint64_t start, uint64_t unpacked, uint64_t stored);
    bool CopyBlocks(uint64_t size, const ReadBytes &read, bool pack);
    bool OverwriteBlocks(uint64_t start, uint64_t size, const ReadBytes &read);

    WriteProblem m_Problem = WriteProblem::None;
};

// A single pack: the data chunk, then the file table.
class UpkWriter : public DataWriter
{
public:
    // Writes the data chunk's header.
    explicit UpkWriter(PackSink &sink);
    // Fills in the data chunk's size and writes the table; false when a
    // write failed or the pack would reach 4 GiB.
    bool Finish();

private:
    uint64_t m_DataHeader;
};

// The data file of an index set goes to the sink; the index is made last.
class VfsWriter : public DataWriter
{
public:
    // `dataName`: the data file's name as the index names it.
    explicit VfsWriter(PackSink &data, const std::string &dataName = "data0.vfs");
    // "content.vfi" for the entries added: one chunk, so the index of a
    // set of several data files is their writers' Index() one after another.
    Bytes Index() const;

private:
    std::string m_DataName;
};

struct VfsSet
{
    Bytes index; // "content.vfi"
    Bytes data;  // the ".vfs" data file
};

// The same writers into memory; nullopt when an entry was refused.
std::optional<Bytes> BuildUpk(const std::vector<Entry> &entries);
std::optional<VfsSet> BuildVfs(const std::vector<Entry> &entries, const std::string &dataName = "data0.vfs");

} // namespace zarnik_pack
