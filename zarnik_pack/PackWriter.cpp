#include "PackWriter.h"

#include "Compressor.h"
#include "PlatformFile.h"

#include <algorithm>
#include <memory>

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

namespace {

// Files are read and packed in blocks of this many bytes.
const size_t kReadBlock = kDefaultBlockSize;

// Storage::Auto keeps the packed form when it is smaller; an empty file can
// only be told apart from a folder in packed form.
bool KeepPacked(uint64_t packedSize, uint64_t size)
{
    return size == 0 || packedSize < size;
}

bool PutChunk(PackSink &sink, uint32_t id, const Bytes &data)
{
    Bytes header;
    AppendU32(header, id);
    AppendU32(header, static_cast<uint32_t>(data.size()));
    return sink.Append(header) && sink.Append(data);
}

} // namespace

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
    return KeepPacked(packed.size(), entry.data.size()) ? packed : entry.data;
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

bool PackSink::Append(const unsigned char *data, size_t size)
{
    m_Failed = m_Failed || !DoAppend(data, size);
    if (!m_Failed)
        m_Size += size;
    return !m_Failed;
}

bool PackSink::Overwrite(uint64_t at, const unsigned char *data, size_t size)
{
    m_Failed = m_Failed || at > m_Size || size > m_Size - at || !DoOverwrite(at, data, size);
    return !m_Failed;
}

bool MemorySink::DoAppend(const unsigned char *data, size_t size)
{
    bytes.insert(bytes.end(), data, data + size);
    return true;
}

bool MemorySink::DoOverwrite(uint64_t at, const unsigned char *data, size_t size)
{
    std::copy(data, data + size, bytes.begin() + static_cast<ptrdiff_t>(at));
    return true;
}

bool FileSink::DoAppend(const unsigned char *data, size_t size)
{
    if (zarnik::PlatformWriteAll(m_File, data, size))
        return true;
    m_Failure = zarnik::PlatformLastFailure();
    return false;
}

bool FileSink::DoOverwrite(uint64_t at, const unsigned char *data, size_t size)
{
    if (zarnik::PlatformWriteAt(m_File, at, data, size))
        return true;
    m_Failure = zarnik::PlatformLastFailure();
    return false;
}

void DataWriter::Record(const Entry &entry, uint64_t start, uint64_t unpacked, uint64_t stored)
{
    // Past 4 GiB the numbers no longer fit; UpkWriter::Finish refuses such
    // a pack, and a caller checks the sizes before it starts.
    m_Encoded.push_back(EncodeEntry(entry, static_cast<uint32_t>(start), static_cast<uint32_t>(unpacked),
                                    static_cast<uint32_t>(stored)));
}

bool DataWriter::Add(const Entry &entry)
{
    const uint64_t start = m_Sink.size();
    const Bytes stored = StoredForm(entry);
    Record(entry, start, entry.data.size(), stored.size());
    return m_Sink.Append(stored);
}

bool DataWriter::AddStreamed(const Entry &entry, uint64_t size, const ReadBytes &read)
{
    const uint64_t start = m_Sink.size();
    const bool pack = entry.storage != Storage::Stored;
    Bytes block(static_cast<size_t>(std::min<uint64_t>(size, kReadBlock)));
    Bytes packed;
    std::unique_ptr<StreamPacker> packer(pack ? new StreamPacker : nullptr);
    uint64_t done = 0;
    do {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kReadBlock, size - done));
        if (n && !read(done, block.data(), n))
            return false;
        packed.clear();
        if (pack)
            packer->Pack(block.data(), n, packed);
        if (!(pack ? m_Sink.Append(packed) : m_Sink.Append(block.data(), n)))
            return false;
        done += n;
    } while (done < size);

    uint64_t stored = m_Sink.size() - start;
    if (pack && !KeepPacked(stored, size)) {
        // Not smaller: the bytes as they are go over the packed stream. It is
        // longer by no more than its block headers, and those last bytes
        // stay unused: nothing reads between one entry's bytes and the next.
        for (done = 0; done < size;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(kReadBlock, size - done));
            if (!read(done, block.data(), n) || !m_Sink.Overwrite(start + done, block.data(), n))
                return false;
            done += n;
        }
        stored = size;
    }
    Record(entry, start, size, stored);
    return true;
}

UpkWriter::UpkWriter(PackSink &sink, const UpkOptions &options)
    : DataWriter(sink), m_Options(options)
{
    for (const Chunk &chunk : m_Options.before)
        PutChunk(m_Sink, chunk.id, chunk.data);
    // The data chunk's size is known only at the end.
    m_DataHeader = m_Sink.size();
    PutChunk(m_Sink, m_Options.dataId, Bytes());
}

bool UpkWriter::Finish()
{
    const uint64_t dataSize = m_Sink.size() - (m_DataHeader + 8);
    if (m_Sink.size() > 0xFFFFFFFFu)
        return false;
    Bytes size;
    AppendU32(size, static_cast<uint32_t>(dataSize));
    m_Sink.Overwrite(m_DataHeader + 4, size.data(), size.size());

    // Entries spread evenly, so no table is left empty unless there are
    // fewer entries than tables.
    const size_t tables = std::max<size_t>(1, m_Options.tables);
    const size_t count = m_Encoded.size();
    for (size_t t = 0; t < tables; ++t) {
        Bytes table;
        for (size_t i = t * count / tables; i < (t + 1) * count / tables; ++i)
            table.insert(table.end(), m_Encoded[i].begin(), m_Encoded[i].end());
        PutChunk(m_Sink, m_Options.tableId, table);
    }
    for (const Chunk &chunk : m_Options.after)
        PutChunk(m_Sink, chunk.id, chunk.data);
    // A reader addresses its file with 32-bit positions.
    return !m_Sink.failed() && m_Sink.size() <= 0xFFFFFFFFu;
}

Bytes BuildUpk(const std::vector<Entry> &entries, const UpkOptions &options)
{
    MemorySink sink;
    UpkWriter writer(sink, options);
    for (const Entry &entry : entries)
        writer.Add(entry);
    writer.Finish();
    return std::move(sink.bytes);
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

VfsWriter::VfsWriter(PackSink &data, const VfsOptions &options)
    : DataWriter(data), m_Options(options)
{
}

Bytes VfsWriter::Index() const
{
    Bytes encoded;
    for (const Bytes &e : m_Encoded)
        encoded.insert(encoded.end(), e.begin(), e.end());
    encoded.insert(encoded.end(), m_Options.trailing.begin(), m_Options.trailing.end());

    Bytes index;
    for (const Chunk &chunk : m_Options.before)
        AppendChunk(index, chunk.id, chunk.data);
    AppendChunk(index, m_Options.chunkId, IndexChunkData(m_Options.dataName, encoded));
    for (const Chunk &chunk : m_Options.after)
        AppendChunk(index, chunk.id, chunk.data);
    return index;
}

VfsSet BuildVfs(const std::vector<Entry> &entries, const VfsOptions &options)
{
    MemorySink data;
    VfsWriter writer(data, options);
    for (const Entry &entry : entries)
        writer.Add(entry);
    return {writer.Index(), std::move(data.bytes)};
}

bool WriteFile(const std::string &path, const Bytes &bytes)
{
    // Through the library's file layer: written under a temporary name and
    // put in place of what stood there only once complete.
    const size_t separator = zarnik::PlatformLastSeparator(path);
    const std::string folder = separator == std::string::npos ? "." : path.substr(0, separator + 1);
    const std::string name = path.substr(separator == std::string::npos ? 0 : separator + 1);
    zarnik::PlatformDirectory *const dir = zarnik::PlatformOpenDirectory(folder);
    if (!dir)
        return false;
    std::string tempName;
    zarnik::PlatformFile *const file = zarnik::PlatformCreateTemporary(dir, name, &tempName);
    bool written = file && zarnik::PlatformWriteAll(file, bytes.data(), bytes.size());
    written = file && zarnik::PlatformCloseWritten(file) && written;
    written = written && zarnik::PlatformRemoveAt(dir, name) && zarnik::PlatformPublish(dir, tempName, name);
    if (file && !written)
        zarnik::PlatformRemoveAt(dir, tempName);
    zarnik::PlatformCloseDirectory(dir);
    return written;
}

} // namespace zarnik_pack
