// CFileSource: one file of a pack, opened read-only.
//
// It owns the open file and knows its size at opening. Reads are positioned
// and never move anything, so any number of threads may read at once. Nothing
// is mapped: a file cut short or rewritten by another program while it is
// open is only ever seen as bytes that are missing, never as a fault.
#pragma once

#include "PlatformFile.h"

#include <cstdint>
#include <string>

namespace zarnik {

class CFileSource
{
public:
    CFileSource() = default;
    ~CFileSource();

    CFileSource(const CFileSource &) = delete;
    CFileSource &operator=(const CFileSource &) = delete;

    // Opens the file read-only. `refuseEmpty`: an empty file is refused (an
    // index or a single pack without a byte holds nothing). Files of 4 GiB
    // or more do not fit the 32-bit positions and are refused.
    bool Open(const std::string &path, bool refuseEmpty);

    uint32_t Size() const { return m_Size; }
    // The file as it was when opened.
    const PlatformFileStamp &Stamp() const { return m_Stamp; }
    // Reads up to `count` bytes at `position`; returns the number delivered.
    uint32_t ReadAt(uint32_t position, void *buffer, uint32_t count) const;
    // The open file, for copies that need not pass through memory.
    PlatformFile *File() const { return m_File; }
    // Whether the file was written to since it was opened: its size or its
    // write time moved (or can no longer be told).
    bool Changed() const;

private:
    PlatformFile *m_File = nullptr;
    uint32_t m_Size = 0;
    PlatformFileStamp m_Stamp; // as opened
};

} // namespace zarnik
