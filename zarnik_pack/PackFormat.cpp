#include "PackFormat.h"

namespace zarnik_pack {

void AppendU32(Bytes &out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void AppendChunk(Bytes &file, uint32_t id, const Bytes &data)
{
    AppendU32(file, id);
    AppendU32(file, static_cast<uint32_t>(data.size()));
    file.insert(file.end(), data.begin(), data.end());
}

Bytes ToBytes(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

Bytes EntryHeader(unsigned char key, uint32_t offset, uint32_t unpackedSize, uint32_t packedSize,
                  uint32_t nameLength)
{
    Bytes out{key, 0, 0, 0};
    AppendU32(out, offset);
    AppendU32(out, unpackedSize);
    AppendU32(out, packedSize);
    AppendU32(out, nameLength);
    return out;
}

void AppendScrambled(Bytes &out, const Bytes &name, unsigned char key)
{
    for (unsigned char c : name)
        out.push_back(static_cast<unsigned char>(c ^ key));
}

Bytes EncodeEntry(const std::string &path, uint32_t offset, uint32_t unpackedSize,
                  uint32_t packedSize, unsigned char key)
{
    Bytes name = ToBytes(path);
    name.push_back(0);
    Bytes out = EntryHeader(key, offset, unpackedSize, packedSize, static_cast<uint32_t>(name.size()));
    AppendScrambled(out, name, key);
    return out;
}

Bytes IndexChunkData(const std::string &dataName, const Bytes &entries)
{
    // The data file's name field, as the game's own index has it, then the
    // entries.
    Bytes data;
    AppendU32(data, 0);
    AppendU32(data, static_cast<uint32_t>(dataName.size() + 1 + 4));
    data.insert(data.end(), dataName.begin(), dataName.end());
    data.push_back(0);
    data.insert(data.end(), 12, 0);
    data.insert(data.end(), entries.begin(), entries.end());
    return data;
}

} // namespace zarnik_pack
