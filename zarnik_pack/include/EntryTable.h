// The file table a writer builds as it writes, held compactly until it is
// written out.
#pragma once

#include "Bytes.h"

#include <cstdint>
#include <functional>
#include <string>

namespace zarnik_pack {

// Each entry is kept as the end of its path that the path before it does
// not share (a pack lists a folder's files one after another, so that is
// mostly a file name's last characters) and its three 32-bit numbers. A
// table of a million entries then costs about twenty bytes an entry, not a
// whole path each; the table as a reader finds it is made only as it is
// written out, a piece at a time.
class EntryTable
{
public:
    // Room for `count` entries whose paths add up to `pathBytes` bytes at
    // most: what the entries do not use is never touched.
    void Reserve(uint64_t count, uint64_t pathBytes);
    void Add(const std::string &path, uint32_t offset, uint32_t unpackedSize, uint32_t storedSize);
    // The table's size as a reader finds it.
    uint64_t EncodedSize() const { return m_EncodedSize; }
    // The table as a reader finds it, handed to `put` in order, a piece of
    // some tens of KiB at a time.
    void Encode(const std::function<void(const Bytes &)> &put) const;
    Bytes Encoded() const;

private:
    Bytes m_Compact;
    std::string m_Last; // the path added last
    uint64_t m_EncodedSize = 0;
};

} // namespace zarnik_pack
