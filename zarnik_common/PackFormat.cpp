#include "PackFormat.h"

namespace zarnik {
namespace packformat {

EntryHeader DecodeEntryHeader(const unsigned char *header)
{
    EntryHeader decoded;
    decoded.key = header[0];
    decoded.offset = LittleEndian32(header + kEntryOffsetAt);
    decoded.unpackedSize = LittleEndian32(header + kEntryUnpackedAt);
    decoded.packedSize = LittleEndian32(header + kEntryPackedAt);
    decoded.nameLength = LittleEndian32(header + kEntryNameLengthAt);
    return decoded;
}

std::string UnscrambledPath(unsigned char *name, uint32_t length, unsigned char key)
{
    if (length == 0)
        return {};
    // Eight bytes are undone at a time: a million names are read at an open.
    const uint64_t keys = key * 0x0101010101010101ull;
    const uint32_t path = length - 1;
    uint32_t i = 0;
    for (; i + 8 <= path; i += 8) {
        uint64_t word;
        std::memcpy(&word, name + i, 8);
        word ^= keys;
        std::memcpy(name + i, &word, 8);
    }
    for (; i < path; ++i)
        name[i] ^= key;
    const void *terminator = std::memchr(name, 0, path);
    return std::string(reinterpret_cast<const char *>(name),
                       terminator ? static_cast<const unsigned char *>(terminator) - name : path);
}

void AppendU32(Bytes &out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

Bytes EncodeChunkHeader(uint32_t id, uint32_t size)
{
    Bytes header;
    AppendU32(header, id);
    AppendU32(header, size);
    return header;
}

void AppendChunk(Bytes &file, uint32_t id, const Bytes &data)
{
    const Bytes header = EncodeChunkHeader(id, static_cast<uint32_t>(data.size()));
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), data.begin(), data.end());
}

Bytes EncodeEntryHeader(const EntryHeader &header)
{
    Bytes out{header.key, 0, 0, 0};
    AppendU32(out, header.offset);
    AppendU32(out, header.unpackedSize);
    AppendU32(out, header.packedSize);
    AppendU32(out, header.nameLength);
    return out;
}

void AppendScrambled(Bytes &out, const Bytes &name, unsigned char key)
{
    for (unsigned char c : name)
        out.push_back(static_cast<unsigned char>(c ^ key));
}

Bytes EncodeEntry(const std::string &path, uint32_t offset, uint32_t unpackedSize, uint32_t packedSize,
                  unsigned char key)
{
    Bytes name(path.begin(), path.end());
    name.push_back(0);
    EntryHeader header;
    header.key = key, header.offset = offset, header.unpackedSize = unpackedSize;
    header.packedSize = packedSize, header.nameLength = static_cast<uint32_t>(name.size());
    Bytes out = EncodeEntryHeader(header);
    AppendScrambled(out, name, key);
    return out;
}

Bytes IndexChunkData(const std::string &dataName, const Bytes &entries)
{
    Bytes data;
    AppendU32(data, 0);
    AppendU32(data, static_cast<uint32_t>(dataName.size() + 1 + kIndexNameLengthBias));
    data.insert(data.end(), dataName.begin(), dataName.end());
    data.push_back(0);
    data.insert(data.end(), kIndexGapSize, 0);
    data.insert(data.end(), entries.begin(), entries.end());
    return data;
}

} // namespace packformat
} // namespace zarnik
