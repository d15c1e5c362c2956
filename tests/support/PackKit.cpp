#include "PackKit.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace testpack {

namespace pf = zarnik::packformat;

Bytes StoredForm(const Entry &entry)
{
    if (entry.storage == zarnik_pack::Storage::Stored)
        return entry.data;
    return zarnik_pack::StoredForm(entry.data.data(), entry.data.size(), entry.storage);
}

Bytes EncodeEntry(const Entry &entry, uint32_t offset, uint32_t unpackedSize, uint32_t packedSize)
{
    Bytes name = entry.rawName ? *entry.rawName : zarnik_pack::ToBytes(entry.path);
    if (!entry.rawName)
        name.push_back(0);
    pf::EntryHeader header;
    header.key = entry.nameKey;
    header.offset = entry.offset.value_or(offset);
    header.unpackedSize = entry.unpackedSize.value_or(unpackedSize);
    header.packedSize = entry.packedSize.value_or(packedSize);
    header.nameLength = entry.nameLength.value_or(static_cast<uint32_t>(name.size()));
    Bytes out = pf::EncodeEntryHeader(header);
    pf::AppendScrambled(out, name, entry.nameKey);
    return out;
}

namespace {

// The entries' stored bytes one after another, each entry's offset counted
// from `start`; their encoded entries go to `encoded`.
Bytes LayOut(const std::vector<Entry> &entries, size_t start, std::vector<Bytes> &encoded)
{
    Bytes data;
    for (const Entry &entry : entries) {
        const Bytes stored = StoredForm(entry);
        encoded.push_back(EncodeEntry(entry, static_cast<uint32_t>(start + data.size()),
                                      static_cast<uint32_t>(entry.data.size()),
                                      static_cast<uint32_t>(stored.size())));
        data.insert(data.end(), stored.begin(), stored.end());
    }
    return data;
}

void AppendChunks(Bytes &file, const std::vector<Chunk> &chunks)
{
    for (const Chunk &chunk : chunks)
        pf::AppendChunk(file, chunk.id, chunk.data);
}

} // namespace

Bytes BuildUpk(const std::vector<Entry> &entries, const UpkOptions &options)
{
    Bytes file;
    AppendChunks(file, options.before);
    std::vector<Bytes> encoded;
    pf::AppendChunk(file, pf::kDataChunkId,
                             LayOut(entries, file.size() + pf::kChunkHeaderSize, encoded));
    // Entries spread evenly, so no table is left empty unless there are
    // fewer entries than tables.
    const size_t tables = std::max<size_t>(1, options.tables);
    for (size_t t = 0; t < tables; ++t) {
        Bytes table;
        for (size_t i = t * encoded.size() / tables; i < (t + 1) * encoded.size() / tables; ++i)
            table.insert(table.end(), encoded[i].begin(), encoded[i].end());
        pf::AppendChunk(file, options.tableId, table);
    }
    AppendChunks(file, options.after);
    return file;
}

VfsSet BuildVfs(const std::vector<Entry> &entries, const VfsOptions &options)
{
    VfsSet set;
    std::vector<Bytes> encoded;
    set.data = LayOut(entries, 0, encoded);
    Bytes listed;
    for (const Bytes &e : encoded)
        listed.insert(listed.end(), e.begin(), e.end());
    listed.insert(listed.end(), options.trailing.begin(), options.trailing.end());
    AppendChunks(set.index, options.before);
    pf::AppendChunk(set.index, pf::kIndexChunkId,
                             pf::IndexChunkData(options.dataName, listed));
    AppendChunks(set.index, options.after);
    return set;
}

void PutU32(Bytes &bytes, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
        bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t GetU32(const Bytes &bytes, size_t at)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
        value |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
    return value;
}

bool WriteFile(const std::string &path, const Bytes &bytes)
{
    // UTF-8 (on Windows a plain string would be read in the ANSI code page).
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

} // namespace testpack
