// The system's mounts as they bear on one folder: whether a pack is
// mounted there by this tool, and whether its process still answers.
#pragma once

#include <string>

namespace zarnik_mount {

enum class MountState {
    None,     // nothing is mounted there
    Other,    // something else is: a disk, a tmpfs, another FUSE program
    Ours,     // a pack, mounted by this tool
    OursDead, // a pack whose mount process is gone: the folder answers ENOTCONN
};

// What the mount table says of this tool's mounts: "fuse." and this.
extern const char *const kMountSubtype;

// What `table` (the text of /proc/self/mounts) lists at `dir`, an absolute
// path without links: the last mount there, which hides those before it.
// Never OursDead: a table cannot tell (the kernel shim looks at the folder).
MountState ListedAt(const std::string &table, const std::string &dir);

} // namespace zarnik_mount
