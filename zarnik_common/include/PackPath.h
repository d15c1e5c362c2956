// Paths and names of a pack, and how they meet the file system and people.
//
// A pack's paths are 8-bit Latin-1 with '\' between the folders; the tool
// and the tests write them with '/', and on disk a name is UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace zarnik {

struct ArchiveNode;

// Every '\' turned into '/', and every '/' into '\'.
std::string WithSlashes(std::string path);
std::string WithBackslashes(std::string path);

// A name from a pack (8-bit, Latin-1) as a file-system name component: the
// file layer's names are UTF-8, so bytes of 0x80 and above become two.
std::string FileSystemName(const std::string &latin1);

// A name that would leave its parent directory, or name it, is never joined
// onto a path: not "." or "..", no '/'.
bool IsSafeName(const std::string &name);

// What `node` and everything at every depth below it hold.
struct TreeTotals
{
    uint64_t files = 0;
    uint64_t folders = 0;     // `node` itself included when it is one
    uint64_t packedFiles = 0;
    uint64_t storedBytes = 0;
    uint64_t unpackedBytes = 0;
};
TreeTotals CountTree(const ArchiveNode *node);

} // namespace zarnik
