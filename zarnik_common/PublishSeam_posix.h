// A seam for tests of the POSIX file layer's publish: the call that renames
// without replacing (renameat2 with RENAME_NOREPLACE) can be swapped for one
// that answers as a file system without that flag does, so that the
// link-and-unlink way is tried where every test runs.
#pragma once

namespace zarnik {

// Same arguments and result as renameat2(2).
using RenameNoReplaceCall = int (*)(int fromDir, const char *from, int toDir, const char *to,
                                    unsigned flags);
// Returns the previous call; nullptr restores the system's.
RenameNoReplaceCall SetRenameNoReplaceCall(RenameNoReplaceCall call);

} // namespace zarnik
