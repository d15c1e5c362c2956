// The files on disk that go into a pack: one walk for `create`, `add` and
// the explorer's Add and drops.
//
// It reads the disk through the file layer (so paths past 260 characters
// work on Windows too), follows no symbolic link below what it was given,
// reads nothing but sizes, and names every entry it cannot take, so that
// callers report each one.
#pragma once

#include "PlatformFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zarnik {

// A regular file and the path it takes in the pack.
struct SourceFile
{
    std::string packPath; // the pack's form (Latin-1, '\')
    std::string diskPath; // as the file layer opens it
    std::string shown;    // the disk path as people read it (Printable)
    uint64_t size = 0;
};

// An entry that is not taken, in a line for people: its disk path (as
// people read it), a colon and why.
struct SourceSkip
{
    enum class Kind {
        Link,       // a symbolic link (or junction) below what was given: never followed
        NotRegular, // a FIFO, socket or device
        Unreadable, // a file or folder the system would not read, or that is gone
        UnsafeName, // a name no file can have here (Windows: CON, a:b.txt ...), so it cannot be opened
        Refused,    // a path the pack could not hold as it is (the path rule, two files on one path)
        ThePack,    // a file of the pack being changed, or its lock: a pack never goes into itself
    };
    Kind kind;
    std::string line;
};

struct SourceWalk
{
    std::vector<SourceFile> files; // sorted by packPath
    uint64_t bytes = 0;            // their sizes added up
    // Not taken; the rest can go in without them.
    std::vector<SourceSkip> passedOver;
    // Paths the pack cannot hold as they are: what was given cannot go in
    // as it is.
    std::vector<SourceSkip> refused;
};

// The files below `folder` (a folder the user named), each at
// `packFolder`\<its path below `folder`>. When `packFolder` is the root, a
// folder named as the root at the top of `folder` is the root too, as
// `extract` writes a pack. Passed over: links, FIFOs, sockets, devices,
// unreadable files and folders, names no file can have here. Refused: what
// the path rule refuses, two names beside each other differing only in
// case, and two files taking one path. A `folder` that cannot be read at
// all is passed over whole.
// `passOver`: the files (by identity) passed over as ThePack.
SourceWalk WalkFolder(const std::string &folder, const std::string &packFolder,
                      const std::vector<PlatformFileStamp> &passOver = {});

// One source the user gave, into the pack folder `packFolder`: a file at
// `packFolder`\NAME, a folder's files at `packFolder`\NAME\..., where NAME
// is its own name (for "." the current folder's). A folder named as the
// root given for the root itself is the root. Links at `source` itself are
// followed, as the user chose them.
SourceWalk WalkSource(const std::string &source, const std::string &packFolder,
                      const std::vector<PlatformFileStamp> &passOver = {});

// The size of the regular file at `diskPath`, for packing it: false, with
// why in `reason`, when it is no regular file, cannot be read, or holds
// bytes beyond the size the system gives for it (as files of /proc do),
// which would be packed short.
bool SourceFileSize(const std::string &diskPath, uint64_t *size, std::string *reason);

} // namespace zarnik
