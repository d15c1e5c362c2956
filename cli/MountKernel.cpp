#define FUSE_USE_VERSION 312
#include "MountKernel.h"

#include <fuse_lowlevel.h>
#include <linux/fuse.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// Newer than this system's headers: bit 36 of the flags, the fifth of flags2.
const uint32_t kDirectIoAllowMmap2 = 1u << (36 - 32);

// The opening request's number while its answer is awaited, 0 otherwise.
std::atomic<uint64_t> g_opening{0};
std::atomic<bool> g_agreed{false};

ssize_t ReadRequest(int fd, void *buffer, size_t length, void *)
{
    const ssize_t got = read(fd, buffer, length);
    fuse_in_header header;
    fuse_init_in init;
    if (got < ssize_t(sizeof header + sizeof init))
        return got;
    std::memcpy(&header, buffer, sizeof header);
    if (header.opcode != FUSE_INIT)
        return got;
    std::memcpy(&init, static_cast<const char *>(buffer) + sizeof header, sizeof init);
    if ((init.flags & FUSE_INIT_EXT) && (init.flags2 & kDirectIoAllowMmap2))
        g_opening = header.unique;
    return got;
}

ssize_t WriteAnswer(int fd, struct iovec *pieces, int count, void *)
{
    fuse_out_header header;
    fuse_init_out init;
    // The answer to the opening request: its header, then what was agreed.
    if (g_opening != 0 && count == 2 && pieces[0].iov_len == sizeof header &&
        pieces[1].iov_len >= offsetof(fuse_init_out, flags2) + sizeof init.flags2 &&
        pieces[1].iov_len <= sizeof init) {
        std::memcpy(&header, pieces[0].iov_base, sizeof header);
        if (header.unique == g_opening && header.error == 0) {
            g_opening = 0;
            std::memcpy(&init, pieces[1].iov_base, pieces[1].iov_len);
            init.flags |= FUSE_INIT_EXT;
            init.flags2 |= kDirectIoAllowMmap2;
            struct iovec amended[2] = {pieces[0], {&init, pieces[1].iov_len}};
            const ssize_t written = writev(fd, amended, 2);
            g_agreed = written == ssize_t(sizeof header + pieces[1].iov_len);
            return written;
        }
    }
    return writev(fd, pieces, count);
}

} // namespace

void AskForMappedDirectIo(struct fuse_session *session)
{
    struct fuse_custom_io io;
    std::memset(&io, 0, sizeof io);
    io.read = ReadRequest;
    io.writev = WriteAnswer;
    fuse_session_custom_io(session, &io, fuse_session_fd(session));
}

bool MappedDirectIoAgreed() { return g_agreed; }
