#include "PackWriter.h"

#include "Compressor.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#ifdef _WIN32
#include <filesystem>
#include <io.h>
#include <sys/stat.h>
#endif

namespace zarnik_pack {

void AppendU32(Bytes &out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
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

Bytes StoredForm(const Entry &entry)
{
    if (entry.storage == Storage::Stored)
        return entry.data;
    Bytes packed = Compress(entry.data.data(), entry.data.size());
    if (entry.storage == Storage::Packed) {
        // The reader takes equal sizes for "stored as is"; a packed form must
        // differ in length. A stream of raw blocks always does.
        if (packed.size() == entry.data.size())
            packed = Compress(entry.data.data(), entry.data.size(), 255 - 3);
        return packed;
    }
    // An empty file can only be told apart from a folder in packed form.
    if (entry.data.empty() || packed.size() < entry.data.size())
        return packed;
    return entry.data;
}

Bytes EncodeEntry(const Entry &entry, uint32_t offset, uint32_t unpackedSize,
                  uint32_t packedSize)
{
    Bytes name = entry.rawName ? *entry.rawName : ToBytes(entry.path);
    if (!entry.rawName)
        name.push_back(0);
    Bytes out;
    out.push_back(entry.nameKey);
    out.push_back(0);
    out.push_back(0);
    out.push_back(0);
    AppendU32(out, entry.offset.value_or(offset));
    AppendU32(out, entry.unpackedSize.value_or(unpackedSize));
    AppendU32(out, entry.packedSize.value_or(packedSize));
    AppendU32(out, entry.nameLength.value_or(static_cast<uint32_t>(name.size())));
    for (unsigned char c : name)
        out.push_back(static_cast<unsigned char>(c ^ entry.nameKey));
    return out;
}

namespace {

// Lays every entry's stored bytes one after another starting at `base` and
// returns the data plus each entry's encoded header and name.
struct Laid
{
    Bytes data;
    std::vector<Bytes> encoded;
};

Laid LayOut(const std::vector<Entry> &entries, uint32_t base)
{
    Laid laid;
    for (const Entry &entry : entries) {
        const Bytes stored = StoredForm(entry);
        const uint32_t offset = base + static_cast<uint32_t>(laid.data.size());
        laid.encoded.push_back(EncodeEntry(entry, offset, static_cast<uint32_t>(entry.data.size()),
                                           static_cast<uint32_t>(stored.size())));
        laid.data.insert(laid.data.end(), stored.begin(), stored.end());
    }
    return laid;
}

} // namespace

Bytes BuildUpk(const std::vector<Entry> &entries, const UpkOptions &options)
{
    Bytes file;
    for (const Chunk &chunk : options.before)
        AppendChunk(file, chunk.id, chunk.data);
    const Laid laid = LayOut(entries, static_cast<uint32_t>(file.size() + 8));
    AppendChunk(file, options.dataId, laid.data);

    // Entries spread evenly, so no table is left empty unless there are
    // fewer entries than tables.
    const size_t tables = std::max<size_t>(1, options.tables);
    const size_t count = laid.encoded.size();
    for (size_t t = 0; t < tables; ++t) {
        Bytes table;
        for (size_t i = t * count / tables; i < (t + 1) * count / tables; ++i)
            table.insert(table.end(), laid.encoded[i].begin(), laid.encoded[i].end());
        AppendChunk(file, options.tableId, table);
    }
    for (const Chunk &chunk : options.after)
        AppendChunk(file, chunk.id, chunk.data);
    return file;
}

Bytes IndexChunkData(const std::string &dataName, const Bytes &entries)
{
    Bytes data;
    AppendU32(data, 0);
    AppendU32(data, static_cast<uint32_t>(dataName.size() + 1 + 4));
    data.insert(data.end(), dataName.begin(), dataName.end());
    data.push_back(0);
    data.insert(data.end(), 12, 0);
    data.insert(data.end(), entries.begin(), entries.end());
    return data;
}

VfsSet BuildVfs(const std::vector<Entry> &entries, const VfsOptions &options)
{
    VfsSet set;
    Laid laid = LayOut(entries, 0);
    set.data = std::move(laid.data);

    Bytes encoded;
    for (const Bytes &e : laid.encoded)
        encoded.insert(encoded.end(), e.begin(), e.end());
    encoded.insert(encoded.end(), options.trailing.begin(), options.trailing.end());

    for (const Chunk &chunk : options.before)
        AppendChunk(set.index, chunk.id, chunk.data);
    AppendChunk(set.index, options.chunkId, IndexChunkData(options.dataName, encoded));
    for (const Chunk &chunk : options.after)
        AppendChunk(set.index, chunk.id, chunk.data);
    return set;
}

namespace {

bool WriteToDescriptor(int fd, const Bytes &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

#ifdef _WIN32
// The UTF-8 path opened as UTF-16, so every name works; in binary mode, or
// each \n written would gain a \r.
int OpenForWriting(const std::string &path, int flags)
{
    return ::_wopen(std::filesystem::u8path(path).c_str(),
                    O_WRONLY | O_CREAT | O_BINARY | O_NOINHERIT | flags, _S_IREAD | _S_IWRITE);
}
void RemoveFile(const std::string &path)
{
    ::_wunlink(std::filesystem::u8path(path).c_str());
}
#else
int OpenForWriting(const std::string &path, int flags)
{
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0666);
}
void RemoveFile(const std::string &path)
{
    ::unlink(path.c_str());
}
#endif

bool WriteWithFlags(const std::string &path, const Bytes &bytes, int flags)
{
    const int fd = OpenForWriting(path, flags);
    if (fd < 0)
        return false;
    const bool written = WriteToDescriptor(fd, bytes);
    const bool closed = ::close(fd) == 0;
    if (!(written && closed)) {
        RemoveFile(path);
        return false;
    }
    return true;
}

} // namespace

bool WriteFile(const std::string &path, const Bytes &bytes)
{
    return WriteWithFlags(path, bytes, O_TRUNC);
}

bool WriteNewFile(const std::string &path, const Bytes &bytes)
{
    return WriteWithFlags(path, bytes, O_EXCL);
}

} // namespace zarnik_pack
