// The kernel shim: libfuse's requests carried to the mounted pack
// (CMountFileSystem, the session's user data) and its answers back.
#pragma once

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

#include "MountTable.h"

#include <string>

// Every request the mount answers.
struct fuse_lowlevel_ops MountOperations();

// Asks the kernel to let packed files be mapped though read with direct
// I/O: through libfuse where it can ask, else by watching the session's
// traffic. Call after fuse_session_mount.
void AskForMappedDirectIo(struct fuse_session *session);

// What stands at `dir` now, from the system's own table and a look at the
// folder: a pack whose mount process is gone answers ENOTCONN.
zarnik_mount::MountState MountStateAt(const std::string &dir);
