// What the mount agrees with the kernel beyond what libfuse asks for.
//
// A packed file is best read with direct I/O: its decoded bytes are kept in
// the mount's own cache, and the kernel's page cache would only copy them a
// second time (half the cost of a read from start to end). Direct I/O used
// to refuse shared mappings of a file, which would break every program that
// maps what it opens; kernels since 6.6 map such files when asked at start,
// and the libfuse of this system cannot ask. So the mount asks itself, by
// amending libfuse's answer to the kernel's opening request, and uses
// direct I/O only when the kernel agreed.
#pragma once

struct fuse_session;

// Watches the session's traffic for the opening exchange; call after
// fuse_session_mount. Should libfuse not hand its traffic over, packed
// files are read through the page cache like the rest.
void AskForMappedDirectIo(struct fuse_session *session);

// Whether the kernel agreed: packed files may then be opened for direct I/O.
bool MappedDirectIoAgreed();
