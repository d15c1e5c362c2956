// What `create` packs: every regular file below a folder, with the path it
// takes in the pack.
#pragma once

#include "OpenPack.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct Source
{
    std::string archivePath; // content\ and the relative path, Latin-1
    std::filesystem::path path; // as the system reads it
    std::string shown;          // as the user named it, for messages (Printable)
    uint64_t size;
};

struct SourceTree
{
    std::vector<Source> sources; // sorted by archivePath
    uint64_t total = 0;
    // Entries below the folder that are not packed, each "path: why": a
    // symbolic link, a FIFO, socket or device, a file that cannot be read.
    std::vector<std::string> passedOver;
    std::string error; // set when the folder cannot be packed
    int status = kExitOk;
};

// Every regular file below `dir` (symbolic links are not followed, and are
// passed over like every other entry that cannot be read as a regular file), as
// content\ and its relative path, with its size. A folder "content" at the
// top of `dir` is the pack's own root, as `extract` writes it: its files go
// in as content\<path below it>. Only the sizes are looked at, so a folder
// too large for a pack is refused before anything is read.
SourceTree CollectSources(const std::string &dir);
