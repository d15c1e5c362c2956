// The container of a pack: chunks, file entries with their scrambled names,
// a single pack's file table and a set's index chunks. The numbers the
// opener, the writer and the set save must agree on are written down here
// once, with a reader of the parts that trusts no byte and the encoder.
// docs/format.md describes the format in prose.
//
// Every number is an unsigned little-endian 32-bit value.
#pragma once

#include "ByteOrder.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zarnik {
namespace packformat {

using Bytes = std::vector<unsigned char>;

// A chunked file is chunks back to back from its first byte: identifier,
// data size N (the header not counted), N bytes. No header, no gaps.
const uint32_t kChunkHeaderSize = 8;
const uint32_t kChunkSizeAt = 4;
// What a chunk walk answers where no further chunk header fits; an index
// chunk bearing it names no data file and is passed over.
const uint32_t kNoChunk = 0xFFFFFFFFu;
// A single pack's file table; readers give no other identifier a meaning.
const uint32_t kTableChunkId = 1;
// What our writer calls the chunk of a single pack's stored bytes and a
// set's index chunks: readers look at neither identifier.
const uint32_t kDataChunkId = 2;
const uint32_t kIndexChunkId = 0;

// A file entry: a 20-byte header, then its stored name. The header holds
// the name key (one byte, then three unused ones), the stored bytes'
// position in the data file, the unpacked size, the stored size and L,
// the stored name's length with its terminator.
const uint32_t kEntryHeaderSize = 20;
const uint32_t kEntryOffsetAt = 4;
const uint32_t kEntryUnpackedAt = 8;
const uint32_t kEntryPackedAt = 12;
const uint32_t kEntryNameLengthAt = 16;
// The longest stored name a reader takes, its terminator included; a path
// may therefore hold one byte less.
const uint32_t kMaxNameField = 260;
const uint32_t kMaxPathLength = kMaxNameField - 1;
// The key our writer scrambles names with (a reader takes each entry's own).
const unsigned char kNameKey = 0x5A;

// An index chunk: 4 unused bytes, M, the data file's name in M - 4 bytes
// (its last byte the terminator), 12 unused bytes, then entries back to
// back for as long as more than kIndexTailSize bytes of the chunk remain.
const uint32_t kIndexNameLengthAt = 4;
const uint32_t kIndexNameAt = 8;
const uint32_t kIndexNameLengthBias = 4;
const uint32_t kIndexGapSize = 12;
const uint32_t kIndexTailSize = 20;

// Positions and sizes are 32-bit: no pack file reaches 4 GiB.
const uint64_t kMaxPackSize = 0xFFFFFFFFu;

// Whether `path` with its terminator fits the name field a reader takes.
inline bool FitsNameField(const std::string &path) { return path.size() <= kMaxPathLength; }
// The bytes the entry of `path` takes in a file table or an index.
inline uint64_t EncodedEntrySize(const std::string &path) { return kEntryHeaderSize + path.size() + 1; }

// ---- Reading. The readers below take a cursor: the library's chunk reader
// over a file, or a CByteCursor over memory. They read nothing the cursor's
// Remaining() does not cover, and say how far they got.

// Bytes in memory read as the chunk reader reads a file: a read past the end
// gives zeros for the missing bytes and leaves the cursor at the end.
class CByteCursor
{
public:
    CByteCursor(const unsigned char *data, uint32_t size) : m_Data(data), m_Size(size) {}
    uint32_t Remaining() const { return m_Size - m_Pos; }
    uint32_t Position() const { return m_Pos; }
    void Read(void *buffer, uint32_t count)
    {
        const uint32_t take = count < Remaining() ? count : Remaining();
        if (take > 0)
            std::memcpy(buffer, m_Data + m_Pos, take);
        std::memset(static_cast<unsigned char *>(buffer) + take, 0, count - take);
        m_Pos += take;
    }
    void Skip(uint32_t count) { m_Pos += count < Remaining() ? count : Remaining(); }

private:
    const unsigned char *m_Data;
    uint32_t m_Size;
    uint32_t m_Pos = 0;
};

struct ChunkHeader
{
    uint32_t id = 0;
    uint32_t size = 0;     // cut to the bytes present
    bool cutShort = false; // the size ran past the end
};

// The chunk header at the cursor, which then stands at the chunk's data;
// false, reading nothing, when fewer than kChunkHeaderSize bytes remain.
template <class Cursor>
bool ReadChunkHeader(Cursor &in, ChunkHeader &chunk)
{
    if (in.Remaining() < kChunkHeaderSize)
        return false;
    unsigned char header[kChunkHeaderSize];
    in.Read(header, kChunkHeaderSize);
    chunk.id = LittleEndian32(header);
    chunk.size = LittleEndian32(header + kChunkSizeAt);
    chunk.cutShort = chunk.size > in.Remaining();
    if (chunk.cutShort)
        chunk.size = in.Remaining();
    return true;
}

struct EntryHeader
{
    unsigned char key = 0;
    uint32_t offset = 0;
    uint32_t unpackedSize = 0;
    uint32_t packedSize = 0;
    uint32_t nameLength = 0; // L
};
EntryHeader DecodeEntryHeader(const unsigned char *header);

// Undoes the scrambling of `length` stored name bytes in place and gives the
// path: the bytes before the first 0, the last byte read as the terminator
// whatever it holds.
std::string UnscrambledPath(unsigned char *name, uint32_t length, unsigned char key);

enum class EntryEnd {
    Read,        // the whole entry; the cursor stands after it
    CutShort,    // its header or name runs past the end; nothing more is read
    NameTooLong, // L is over kMaxNameField: passed over by its length
};

// The file entry at the cursor into `header` and `path` (the path only when
// Read).
template <class Cursor>
EntryEnd ReadEntry(Cursor &in, EntryHeader &header, std::string &path)
{
    if (in.Remaining() < kEntryHeaderSize)
        return EntryEnd::CutShort;
    unsigned char bytes[kEntryHeaderSize];
    in.Read(bytes, kEntryHeaderSize);
    header = DecodeEntryHeader(bytes);
    if (header.nameLength > in.Remaining())
        return EntryEnd::CutShort;
    if (header.nameLength > kMaxNameField) {
        in.Skip(header.nameLength);
        return EntryEnd::NameTooLong;
    }
    unsigned char name[kMaxNameField];
    in.Read(name, header.nameLength);
    path = UnscrambledPath(name, header.nameLength, header.key);
    return EntryEnd::Read;
}

enum class IndexHeadEnd {
    Named,       // the data file's name is read; the cursor stands at the entries
    CutShort,    // the chunk is too short for its numbers or for the name M claims
    NameTooLong, // M - 4 is over kMaxNameField
};

// The head of the index chunk at the cursor: the data file it names goes to
// `dataName` ("" unless Named).
template <class Cursor>
IndexHeadEnd ReadIndexHead(Cursor &chunk, std::string &dataName)
{
    dataName.clear();
    if (chunk.Remaining() < kIndexNameAt)
        return IndexHeadEnd::CutShort;
    unsigned char numbers[kIndexNameAt];
    chunk.Read(numbers, kIndexNameAt);
    const uint32_t m = LittleEndian32(numbers + kIndexNameLengthAt);
    if (m < kIndexNameLengthBias || m - kIndexNameLengthBias > chunk.Remaining())
        return IndexHeadEnd::CutShort;
    const uint32_t length = m - kIndexNameLengthBias;
    if (length > kMaxNameField)
        return IndexHeadEnd::NameTooLong;
    char name[kMaxNameField];
    chunk.Read(name, length);
    if (length > 0) {
        const void *terminator = std::memchr(name, 0, length - 1);
        dataName.assign(name, terminator ? static_cast<const char *>(terminator) - name : length - 1);
    }
    chunk.Skip(kIndexGapSize);
    return IndexHeadEnd::Named;
}

// ---- Writing.

void AppendU32(Bytes &out, uint32_t value);
void AppendChunk(Bytes &file, uint32_t id, const Bytes &data);
Bytes EncodeChunkHeader(uint32_t id, uint32_t size);
Bytes EncodeEntryHeader(const EntryHeader &header);
// `name` with every byte scrambled by `key`, appended to `out`.
void AppendScrambled(Bytes &out, const Bytes &name, unsigned char key);
// A whole file entry: the header and `path` with its terminator.
Bytes EncodeEntry(const std::string &path, uint32_t offset, uint32_t unpackedSize, uint32_t packedSize,
                  unsigned char key = kNameKey);
// The data of an index chunk naming `dataName`, followed by `entries`.
Bytes IndexChunkData(const std::string &dataName, const Bytes &entries);

} // namespace packformat
} // namespace zarnik
