#include "EntryTable.h"

#include "PackFormat.h"

#include <algorithm>
#include <cstring>

namespace zarnik_pack {

namespace pf = zarnik::packformat;

namespace {

// A path's byte counts (at most a path's length, 260) take one byte below
// 128 and two from there.
const uint32_t kOneByteCount = 0x80;
const size_t kMostCountBytes = 2;
const size_t kNumberBytes = 3 * sizeof(uint32_t);
// The table is handed out in pieces of about this size.
const size_t kPieceSize = 64 * 1024;

void PutCount(Bytes &out, size_t count)
{
    if (count < kOneByteCount) {
        out.push_back(static_cast<unsigned char>(count));
        return;
    }
    out.push_back(static_cast<unsigned char>(kOneByteCount | (count & 0x7F)));
    out.push_back(static_cast<unsigned char>(count >> 7));
}

size_t TakeCount(const Bytes &in, size_t &at)
{
    size_t count = in[at++];
    if (count >= kOneByteCount)
        count = (count & 0x7F) | (static_cast<size_t>(in[at++]) << 7);
    return count;
}

} // namespace

void EntryTable::Reserve(uint64_t count, uint64_t pathBytes)
{
    m_Compact.reserve(static_cast<size_t>(count * (2 * kMostCountBytes + kNumberBytes) + pathBytes));
}

void EntryTable::Add(const std::string &path, uint32_t offset, uint32_t unpackedSize, uint32_t storedSize)
{
    const size_t most = std::min(path.size(), m_Last.size());
    const size_t shared = static_cast<size_t>(std::mismatch(path.begin(), path.begin() + most, m_Last.begin()).first -
                                              path.begin());
    PutCount(m_Compact, shared);
    PutCount(m_Compact, path.size() - shared);
    m_Compact.insert(m_Compact.end(), path.begin() + shared, path.end());
    const uint32_t numbers[3] = {offset, unpackedSize, storedSize};
    const size_t at = m_Compact.size();
    m_Compact.resize(at + kNumberBytes);
    std::memcpy(m_Compact.data() + at, numbers, kNumberBytes);
    m_Last = path;
    m_EncodedSize += pf::EncodedEntrySize(path);
}

void EntryTable::Encode(const std::function<void(const Bytes &)> &put) const
{
    Bytes piece;
    std::string path;
    for (size_t at = 0; at < m_Compact.size();) {
        const size_t shared = TakeCount(m_Compact, at);
        const size_t own = TakeCount(m_Compact, at);
        path.resize(shared);
        path.append(reinterpret_cast<const char *>(m_Compact.data() + at), own);
        at += own;
        uint32_t numbers[3];
        std::memcpy(numbers, m_Compact.data() + at, kNumberBytes);
        at += kNumberBytes;
        const Bytes entry = pf::EncodeEntry(path, numbers[0], numbers[1], numbers[2]);
        piece.insert(piece.end(), entry.begin(), entry.end());
        if (piece.size() >= kPieceSize) {
            put(piece);
            piece.clear();
        }
    }
    if (!piece.empty())
        put(piece);
}

Bytes EntryTable::Encoded() const
{
    Bytes table;
    table.reserve(static_cast<size_t>(m_EncodedSize));
    Encode([&table](const Bytes &piece) { table.insert(table.end(), piece.begin(), piece.end()); });
    return table;
}

} // namespace zarnik_pack
