// The bytes of a pack as this writer lays them out: little-endian numbers,
// chunks (identifier, size, data), file entries (a 20-byte header and the
// scrambled name) and the index chunk that names a data file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zarnik_pack {

using Bytes = std::vector<unsigned char>;

// Chunk identifiers: a single pack's file table and the chunk holding the
// stored bytes, and the index's chunk naming one data file.
const uint32_t kTableChunkId = 1;
const uint32_t kDataChunkId = 2;
const uint32_t kIndexChunkId = 0;
const size_t kChunkHeaderSize = 8;
// The key a name is scrambled with (any byte works; readers take it from
// the entry).
const unsigned char kNameKey = 0x5A;
// A reader takes names of at most this many bytes, the terminator included.
const size_t kMaxNameField = 260;
// A reader addresses its files with 32-bit positions.
const uint64_t kMaxPackSize = 0xFFFFFFFFu;

void AppendU32(Bytes &out, uint32_t value);
void AppendChunk(Bytes &file, uint32_t id, const Bytes &data);
Bytes ToBytes(const std::string &text);

// The 20-byte header of a file entry.
Bytes EntryHeader(unsigned char key, uint32_t offset, uint32_t unpackedSize, uint32_t packedSize,
                  uint32_t nameLength);
// `name` with every byte scrambled by `key`, appended to `out`.
void AppendScrambled(Bytes &out, const Bytes &name, unsigned char key);
// A whole file entry: the header and `path` with its terminator.
Bytes EncodeEntry(const std::string &path, uint32_t offset, uint32_t unpackedSize,
                  uint32_t packedSize, unsigned char key = kNameKey);
// The data of an index chunk naming `dataName`, followed by `entries`.
Bytes IndexChunkData(const std::string &dataName, const Bytes &entries);

} // namespace zarnik_pack
