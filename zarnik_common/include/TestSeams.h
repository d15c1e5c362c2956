// Seams for tests, and for nothing else: calls of the library that a test
// swaps to take a path the machine it runs on would not take by itself (an
// allocation failing, a file system without a call). Product code never
// sets them; each stays unset (the real call) unless a test sets it.
#pragma once

#include <cstddef>

namespace zarnik {

// Called with the size of every allocation a streaming decoder's buffer is
// about to make; false makes it fail as if memory had run out. Returns the
// previous hook; nullptr removes it.
using BlockAllocationHook = bool (*)(size_t size);
BlockAllocationHook SetBlockAllocationHook(BlockAllocationHook hook);

#ifndef _WIN32
// The POSIX file layer publishes a file with renameat2(RENAME_NOREPLACE),
// and by link and unlink where the file system lacks that flag. The call
// (same arguments and result as renameat2) can be swapped for one that
// answers as such a file system does. Returns the previous call; nullptr
// restores the system's.
using RenameNoReplaceCall = int (*)(int fromDir, const char *from, int toDir, const char *to,
                                    unsigned flags);
RenameNoReplaceCall SetRenameNoReplaceCall(RenameNoReplaceCall call);
#endif

} // namespace zarnik
