#include "PackWriter.h"

#include "Compressor.h"
#include "PackFormat.h"

#include <algorithm>
#include <memory>

namespace zarnik_pack {

namespace pf = zarnik::packformat;

bool DataWriter::Refuse(WriteProblem problem)
{
    if (m_Problem == WriteProblem::None)
        m_Problem = problem;
    return false;
}

bool DataWriter::Sound()
{
    if (m_Sink.Failed())
        Refuse(WriteProblem::WriteFailed);
    return m_Problem == WriteProblem::None;
}

bool DataWriter::Begin(const std::string &path)
{
    if (!Sound())
        return false;
    // A longer name would be left out by a reader.
    if (!pf::FitsNameField(path))
        return Refuse(WriteProblem::NameTooLong);
    return true;
}

bool DataWriter::Record(const std::string &path, uint64_t start, uint64_t unpacked, uint64_t stored)
{
    if (!Sound())
        return false;
    // Offsets and sizes are 32-bit fields; past them a reader would find
    // other bytes than these.
    if (unpacked > pf::kMaxPackSize || start + stored > pf::kMaxPackSize)
        return Refuse(WriteProblem::TooLarge);
    m_Entries.Add(path, static_cast<uint32_t>(start), static_cast<uint32_t>(unpacked), static_cast<uint32_t>(stored));
    return true;
}

void DataWriter::ReserveEntries(uint64_t count, uint64_t pathBytes)
{
    m_Entries.Reserve(count, pathBytes);
}

bool DataWriter::Add(const Entry &entry)
{
    if (!Begin(entry.path))
        return false;
    const uint64_t start = m_Sink.Size();
    const Bytes stored = StoredForm(entry.data.data(), entry.data.size(), entry.storage);
    m_Sink.Append(stored);
    return Record(entry.path, start, entry.data.size(), stored.size());
}

bool DataWriter::CopyBlocks(uint64_t size, const ReadBytes &read, bool pack)
{
    Bytes block(static_cast<size_t>(std::min<uint64_t>(size, kStreamedReadSize)));
    Bytes packed;
    std::unique_ptr<StreamPacker> packer(pack ? new StreamPacker : nullptr);
    uint64_t done = 0;
    // An empty entry still makes one (empty) packed block.
    do {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kStreamedReadSize, size - done));
        if (n && !read(done, block.data(), n))
            return Refuse(WriteProblem::ReadFailed);
        packed.clear();
        if (pack)
            packer->PackBlocks(block.data(), n, kDefaultBlockSize, packed);
        if (!(pack ? m_Sink.Append(packed) : m_Sink.Append(block.data(), n)))
            return Refuse(WriteProblem::WriteFailed);
        done += n;
    } while (done < size);
    return true;
}

bool DataWriter::OverwriteBlocks(uint64_t start, uint64_t size, const ReadBytes &read)
{
    Bytes block(static_cast<size_t>(std::min<uint64_t>(size, kStreamedReadSize)));
    for (uint64_t done = 0; done < size;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kStreamedReadSize, size - done));
        if (!read(done, block.data(), n))
            return Refuse(WriteProblem::ReadFailed);
        if (!m_Sink.Overwrite(start + done, block.data(), n))
            return Refuse(WriteProblem::WriteFailed);
        done += n;
    }
    return true;
}

bool DataWriter::AddStreamed(const Entry &entry, uint64_t size, const ReadBytes &read)
{
    if (!Begin(entry.path))
        return false;
    const uint64_t start = m_Sink.Size();
    const bool pack = TriesPacking(entry.storage, size);
    if (!CopyBlocks(size, read, pack))
        return false;
    uint64_t stored = m_Sink.Size() - start;
    if (pack && !KeepPacked(entry.storage, stored, size)) {
        // The bytes as they are go over the packed stream. It is longer by
        // no more than its block headers, and those last bytes stay unused:
        // nothing reads between one entry's bytes and the next.
        if (!OverwriteBlocks(start, size, read))
            return false;
        stored = size;
    }
    return Record(entry.path, start, size, stored);
}

bool DataWriter::AddStoredBytes(const std::string &path, uint64_t unpackedSize,
                                zarnik::PlatformFile *source, uint64_t offset, uint64_t storedSize)
{
    if (!Begin(path))
        return false;
    const uint64_t start = m_Sink.Size();
    if (!m_Sink.AppendFrom(source, offset, storedSize))
        return Refuse(m_Sink.SourceFailed() ? WriteProblem::ReadFailed : WriteProblem::WriteFailed);
    return Record(path, start, unpackedSize, storedSize);
}

UpkWriter::UpkWriter(PackSink &sink) : DataWriter(sink)
{
    // The data chunk's size is known only at the end.
    m_DataHeader = m_Sink.Size();
    m_Sink.Append(pf::EncodeChunkHeader(pf::kDataChunkId, 0));
}

bool UpkWriter::Finish()
{
    if (!Sound())
        return false;
    const uint64_t tableSize = m_Entries.EncodedSize();
    const uint64_t dataSize = m_Sink.Size() - (m_DataHeader + pf::kChunkHeaderSize);
    if (m_Sink.Size() + pf::kChunkHeaderSize + tableSize > pf::kMaxPackSize)
        return Refuse(WriteProblem::TooLarge);
    const Bytes header = pf::EncodeChunkHeader(pf::kDataChunkId, static_cast<uint32_t>(dataSize));
    m_Sink.Overwrite(m_DataHeader, header.data(), header.size());
    m_Sink.Append(pf::EncodeChunkHeader(pf::kTableChunkId, static_cast<uint32_t>(tableSize)));
    m_Entries.Encode([this](const Bytes &piece) { m_Sink.Append(piece); });
    return Sound();
}

VfsWriter::VfsWriter(PackSink &data, const std::string &dataName) : DataWriter(data), m_DataName(dataName)
{
}

Bytes VfsWriter::Index() const
{
    Bytes index;
    pf::AppendChunk(index, pf::kIndexChunkId, pf::IndexChunkData(m_DataName, m_Entries.Encoded()));
    return index;
}

std::optional<Bytes> BuildUpk(const std::vector<Entry> &entries)
{
    MemorySink sink;
    UpkWriter writer(sink);
    for (const Entry &entry : entries)
        if (!writer.Add(entry))
            return std::nullopt;
    if (!writer.Finish())
        return std::nullopt;
    return sink.Take();
}

std::optional<VfsSet> BuildVfs(const std::vector<Entry> &entries, const std::string &dataName)
{
    MemorySink data;
    VfsWriter writer(data, dataName);
    for (const Entry &entry : entries)
        if (!writer.Add(entry))
            return std::nullopt;
    return VfsSet{writer.Index(), data.Take()};
}

} // namespace zarnik_pack
