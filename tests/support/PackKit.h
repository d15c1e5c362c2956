// Packs for the tests, sound and unsound on purpose: every field of an
// entry can be overridden, the chunks and their identifiers are the test's
// to choose, the entries can be spread over several file tables, and the
// helpers at the bottom read and patch finished bytes. Packs are built in
// memory, with the pack writer's encoding and its rule for an entry's
// stored form; sound packs written the product's way come from
// zarnik_pack's own writers.
#pragma once

#include "PackFormat.h"
#include "StoredForm.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testpack {

using Bytes = zarnik_pack::Bytes;

struct Entry
{
    std::string path; // archive path, '\' separators, e.g. content\a\b.txt
    Bytes data;
    zarnik_pack::Storage storage = zarnik_pack::Storage::Auto;
    unsigned char nameKey = zarnik::packformat::kNameKey;

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
    uint32_t tableId = zarnik::packformat::kTableChunkId; // of the file-table chunk(s)
    std::vector<Chunk> before;  // chunks written before the data chunk
    std::vector<Chunk> after;   // chunks written after the file table(s)
    size_t tables = 1;          // entries spread over this many file tables
};

struct VfsOptions
{
    std::string dataName = "data0.vfs"; // the data file's name in the index
    std::vector<Chunk> before; // index chunks before the data file's chunk
    std::vector<Chunk> after;  // index chunks after it
    Bytes trailing;            // bytes after the entries (20 or fewer are ignored)
};

struct VfsSet
{
    Bytes index; // "content.vfi"
    Bytes data;  // the ".vfs" data file
};

// The stored form of an entry's data, as the writer makes it; except that
// Storage::Stored keeps even an empty file as is (it reads as a folder).
Bytes StoredForm(const Entry &entry);

// One file entry with the given numbers, unless the entry overrides them.
Bytes EncodeEntry(const Entry &entry, uint32_t offset, uint32_t unpackedSize, uint32_t packedSize);

Bytes BuildUpk(const std::vector<Entry> &entries, const UpkOptions &options = {});
VfsSet BuildVfs(const std::vector<Entry> &entries, const VfsOptions &options = {});

// Finished bytes: a 32-bit number read or written in place (bytes past the
// end are left out).
void PutU32(Bytes &bytes, size_t at, uint32_t value);
uint32_t GetU32(const Bytes &bytes, size_t at);

// Writes `bytes` to `path`, replacing what is there; false on failure.
bool WriteFile(const std::string &path, const Bytes &bytes);

} // namespace testpack
