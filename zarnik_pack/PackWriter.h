// The pack writer: builds single packs (".upk") and index-plus-data sets
// ("content.vfi" with ".vfs" files) from (archive path, bytes) entries.
//
// UpkWriter and VfsWriter lay a pack out into a sink, entry by entry; an
// entry's bytes come from memory or are read block by block, so a pack of
// any size is written with a few blocks of memory. BuildUpk and BuildVfs are
// the same writers into memory.
//
// Serves `zarnik create`, the tests, the benchmarks and the samples. Besides
// sound packs it can write unsound ones on purpose: every field of an entry
// can be overridden, chunks and their identifiers are the caller's to
// choose, and the helpers at the bottom cut or patch finished bytes.
#pragma once

#include "PlatformFile.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zarnik_pack {

using Bytes = std::vector<unsigned char>;

enum class Storage {
    Auto,   // packed when that is smaller, else stored as is
    Stored, // always as is
    Packed, // always as a packed stream
};

struct Entry
{
    std::string path; // archive path, '\' separators, e.g. content\a\b.txt
    Bytes data;
    Storage storage = Storage::Auto;
    unsigned char nameKey = 0x5A;

    // Written instead of the true values when set (damaged packs).
    std::optional<uint32_t> offset;
    std::optional<uint32_t> unpackedSize;
    std::optional<uint32_t> packedSize;
    std::optional<uint32_t> nameLength; // the L field; the name bytes stay
    // Stored name bytes before scrambling, replacing path + terminator.
    std::optional<Bytes> rawName;
};

struct Chunk
{
    uint32_t id;
    Bytes data;
};

struct UpkOptions
{
    uint32_t tableId = 1;       // identifier of the file-table chunk(s)
    uint32_t dataId = 2;        // identifier of the chunk holding the stored bytes
    std::vector<Chunk> before;  // chunks written before the data chunk
    std::vector<Chunk> after;   // chunks written after the file table(s)
    size_t tables = 1;          // entries spread over this many file tables
};

struct VfsOptions
{
    std::string dataName = "data0.vfs"; // the data file's name in the index
    uint32_t chunkId = 0;
    std::vector<Chunk> before; // index chunks before the data file's chunk
    std::vector<Chunk> after;  // index chunks after it
    Bytes trailing;            // bytes after the entries (20 or fewer are ignored)
};

struct VfsSet
{
    Bytes index; // "content.vfi"
    Bytes data;  // the ".vfs" data file
};

// The stored form of an entry's data: as is, or a packed stream.
Bytes StoredForm(const Entry &entry);

// Where a pack file's bytes go, front to back. After the first failure
// every call fails.
class PackSink
{
public:
    virtual ~PackSink() = default;
    bool Append(const unsigned char *data, size_t size);
    bool Append(const Bytes &bytes) { return Append(bytes.data(), bytes.size()); }
    // Writes over bytes appended before, from `at` on.
    bool Overwrite(uint64_t at, const unsigned char *data, size_t size);
    // Bytes appended so far.
    uint64_t size() const { return m_Size; }
    bool failed() const { return m_Failed; }

protected:
    virtual bool DoAppend(const unsigned char *data, size_t size) = 0;
    virtual bool DoOverwrite(uint64_t at, const unsigned char *data, size_t size) = 0;

private:
    uint64_t m_Size = 0;
    bool m_Failed = false;
};

class MemorySink : public PackSink
{
public:
    Bytes bytes;

protected:
    bool DoAppend(const unsigned char *data, size_t size) override;
    bool DoOverwrite(uint64_t at, const unsigned char *data, size_t size) override;
};

// A file being written through the library's file layer (see PlatformFile.h:
// a temporary name, published when complete).
class FileSink : public PackSink
{
public:
    explicit FileSink(zarnik::PlatformFile *file) : m_File(file) {}
    // Why the failed write failed (TooLarge: past the process's file-size
    // limit).
    const zarnik::PlatformFailure &failure() const { return m_Failure; }

protected:
    bool DoAppend(const unsigned char *data, size_t size) override;
    bool DoOverwrite(uint64_t at, const unsigned char *data, size_t size) override;

private:
    zarnik::PlatformFile *m_File;
    zarnik::PlatformFailure m_Failure;
};

// Fills `count` bytes from `position` of an entry's data; false when they
// cannot be read.
using ReadBytes = std::function<bool(uint64_t position, unsigned char *buffer, size_t count)>;

// Lays entries' stored bytes one after another into a sink (an entry's
// offset is where its bytes start in the sink's file) and keeps each entry's
// encoded header and name for the table or index that goes with them.
class DataWriter
{
public:
    // An entry whose bytes are in memory.
    bool Add(const Entry &entry);
    // An entry of `size` bytes read block by block through `read` (its
    // `data` is not looked at): stored as is with Storage::Stored, else
    // packed when that is smaller, as StoredForm decides. False when a read
    // or a write fails; the sink says which.
    bool AddStreamed(const Entry &entry, uint64_t size, const ReadBytes &read);

protected:
    explicit DataWriter(PackSink &sink) : m_Sink(sink) {}
    PackSink &m_Sink;
    std::vector<Bytes> m_Encoded;

private:
    void Record(const Entry &entry, uint64_t start, uint64_t unpacked, uint64_t stored);
};

// A single pack: the chunks before, the data chunk, the file table(s), the
// chunks after.
class UpkWriter : public DataWriter
{
public:
    // Writes the chunks before and the data chunk's header.
    explicit UpkWriter(PackSink &sink, const UpkOptions &options = {});
    // Fills in the data chunk's size and writes the tables and the chunks
    // after; false when a write fails or the file passed 4 GiB.
    bool Finish();

private:
    UpkOptions m_Options;
    uint64_t m_DataHeader;
};

// The data file of an index set goes to the sink; the index is made last.
class VfsWriter : public DataWriter
{
public:
    explicit VfsWriter(PackSink &data, const VfsOptions &options = {});
    // "content.vfi" for the entries added.
    Bytes Index() const;

private:
    VfsOptions m_Options;
};

Bytes BuildUpk(const std::vector<Entry> &entries, const UpkOptions &options = {});
VfsSet BuildVfs(const std::vector<Entry> &entries, const VfsOptions &options = {});

// Building blocks.
void AppendU32(Bytes &out, uint32_t value);
void PutU32(Bytes &bytes, size_t at, uint32_t value);
uint32_t GetU32(const Bytes &bytes, size_t at);
void AppendChunk(Bytes &file, uint32_t id, const Bytes &data);
// One file entry (20-byte header and scrambled name) with the given numbers,
// unless the entry overrides them.
Bytes EncodeEntry(const Entry &entry, uint32_t offset, uint32_t unpackedSize,
                  uint32_t packedSize);
// The data of an index chunk naming `dataName`, followed by `entries`.
Bytes IndexChunkData(const std::string &dataName, const Bytes &entries);

// Files.
// Writes `bytes` to `path`, replacing what is there; false on failure.
bool WriteFile(const std::string &path, const Bytes &bytes);
Bytes ToBytes(const std::string &text);

} // namespace zarnik_pack
