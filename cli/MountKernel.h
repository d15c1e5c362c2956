// The kernel shim: libfuse's requests carried to the mounted pack
// (CMountFileSystem, the session's user data) and its answers back.
#pragma once

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

// Every request the mount answers.
struct fuse_lowlevel_ops MountOperations();

// Asks the kernel to let packed files be mapped though read with direct
// I/O: through libfuse where it can ask, else by watching the session's
// traffic. Call after fuse_session_mount.
void AskForMappedDirectIo(struct fuse_session *session);
