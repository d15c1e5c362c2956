// The pack the mount's tests show: stored and packed files, a name
// extraction refuses, a path held twice and one below an empty segment;
// and the changes a writable mount's tests make, as on a plain folder.
#pragma once

#include "TestSupport.h"

#include <cstdio>
#include <fcntl.h>

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

// A pack with room for every kind of change: files to rewrite, cut, append
// to, swap, a folder to move with its files.
inline std::vector<testpack::Entry> WritableSample()
{
    using zarnik_pack::Storage;
    return {MakeEntry("content\\a.txt", "first", Storage::Stored), MakeEntry("content\\gfx\\big.txt", BigText(), Storage::Packed),
            MakeEntry("content\\gfx\\note.txt", "note", Storage::Packed), MakeEntry("content\\z.txt", Pattern(3000), Storage::Stored),
            MakeEntry("content\\old\\x.txt", "x"), MakeEntry("content\\old\\y.txt", "y"),
            MakeEntry("content\\s1.txt", "one"), MakeEntry("content\\s2.txt", "two")};
}

// MoveKeeping: a rename that keeps what stands at the new path (RENAME_NOREPLACE).
enum class Op { Write, Append, Cut, Folder, RemoveFolder, Remove, Move, MoveKeeping };
struct Change
{
    Op op;
    std::string a, b; // paths below the top; b: the data, the new path or the size
};

// Every kind of change, on WritableSample(): new files, overwrites, appends,
// cuts, folders made and removed, files and a folder moved, a swap.
inline const std::vector<Change> &SampleChanges()
{
    static const std::vector<Change> changes = {
        {Op::Write, "content/new.txt", "new file"},    {Op::Write, "content/a.txt", "overwritten"},
        {Op::Append, "content/gfx/note.txt", "+more"}, {Op::Cut, "content/z.txt", "100"},
        {Op::Folder, "content/made", ""},              {Op::Folder, "content/gone", ""},
        {Op::RemoveFolder, "content/gone", ""},        {Op::Move, "content/new.txt", "content/made/moved.txt"},
        {Op::Move, "content/old", "content/made/old"}, {Op::Remove, "content/made/old/y.txt", ""},
        {Op::Move, "content/s1.txt", "content/tmp"},   {Op::Move, "content/s2.txt", "content/s1.txt"},
        {Op::Move, "content/tmp", "content/s2.txt"},   {Op::Write, "content/gfx/big.txt", "small now"},
        {Op::Move, "content/gfx/big.txt", "content/big.txt"},
    };
    return changes;
}

// `change` made on the folder `root` as a program would make it: false
// when it failed.
inline bool OnDisk(const fs::path &root, const Change &c)
{
    const fs::path a = root / c.a;
    std::error_code ec;
    switch (c.op) {
    case Op::Write: case Op::Append: {
        std::ofstream file(a, c.op == Op::Append ? std::ios::app : std::ios::trunc);
        file << c.b;
        file.close();
        return !file.fail();
    }
    case Op::Cut: fs::resize_file(a, std::stoul(c.b), ec); break;
    case Op::Folder: fs::create_directory(a, ec); break;
    case Op::RemoveFolder: case Op::Remove: fs::remove(a, ec); break;
    case Op::Move: fs::rename(a, root / c.b, ec); break;
    case Op::MoveKeeping: return renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, (root / c.b).c_str(), RENAME_NOREPLACE) == 0;
    }
    return !ec;
}

} // namespace testsupport
