// The pack the mount's tests show: stored and packed files, a name
// extraction refuses, a path held twice and one below an empty segment.
#pragma once

#include "TestSupport.h"

namespace testsupport {

// Text that packs well and differs everywhere: many blocks of 64 KiB.
inline Bytes Numbers(size_t size)
{
    std::string text;
    for (uint32_t i = 0; text.size() < size; ++i)
        text += std::to_string(i * 7919u % 100003u) + (i % 13 ? " " : "\n");
    text.resize(size);
    return zarnik_pack::ToBytes(text);
}

inline const Bytes &BigText()
{
    static const Bytes big = Numbers(700000);
    return big;
}

// Its second entry is content\gfx\big.txt, BigText() packed.
inline std::vector<testpack::Entry> MountSample()
{
    using zarnik_pack::Storage;
    return {MakeEntry("content\\a.txt", "first", Storage::Stored),
            MakeEntry("content\\gfx\\big.txt", BigText(), Storage::Packed),
            MakeEntry("content\\caf\xe9.txt", Pattern(70000), Storage::Stored),
            MakeEntry("content\\..\\evil.txt", "out"),
            MakeEntry("content\\\\under\\empty.txt", "below an empty segment"),
            MakeEntry("content\\gfx\\note.txt", "a packed neighbour", Storage::Packed),
            MakeEntry("content\\a.txt", "second"),
            MakeEntry("content\\z.txt", Pattern(3000), Storage::Stored)};
}

} // namespace testsupport
