// The error a program understands for a name the mount cannot take into
// the pack, from the library's one rule for pack paths.
#pragma once

#include <string>
#include <vector>

namespace zarnik_mount {

// 0 when a file or, with `isFolder`, a folder named `name` (UTF-8) may
// stand in the folder at `folderPath` ('/'-separated UTF-8 below the top,
// its first name the pack's root) beside `siblings` (the other names of
// that folder), with paths up to `below` bytes longer below it; else
// EILSEQ for a character a pack cannot store, ENAMETOOLONG for a path a
// reader would not take, and EINVAL for a name it refuses (a reserved
// name, a folder read as the root, one that differs only in case from a
// sibling).
int NameErrno(const std::string &folderPath, const std::string &name, bool isFolder, size_t below,
              const std::vector<std::string> &siblings);

} // namespace zarnik_mount
