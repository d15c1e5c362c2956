// The pack writer: builds single packs (".upk") and index-plus-data sets
// ("content.vfi" with ".vfs" files) from (archive path, bytes) entries.
//
// Serves `zarnik create`, the tests, the benchmarks and the samples. Besides
// sound packs it can write unsound ones on purpose: every field of an entry
// can be overridden, chunks and their identifiers are the caller's to
// choose, and the helpers at the bottom cut or patch finished bytes.
#pragma once

#include <cstddef>
#include <cstdint>
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
// Writes `bytes` to a new file; false when anything exists at `path`.
bool WriteNewFile(const std::string &path, const Bytes &bytes);
Bytes ToBytes(const std::string &text);

} // namespace zarnik_pack
