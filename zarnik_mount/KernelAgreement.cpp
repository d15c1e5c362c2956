#include "KernelAgreement.h"

#include <linux/fuse.h>

#include <cstring>
#include <unistd.h>

namespace zarnik_mount {

namespace {

// Newer than this system's headers: bit 36 of the flags, the fifth of flags2.
const uint32_t kDirectIoAllowMmap2 = 1u << (36 - 32);

} // namespace

ssize_t CKernelAgreement::ReadRequest(int fd, void *buffer, size_t length)
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
        m_Opening = header.unique;
    return got;
}

ssize_t CKernelAgreement::WriteAnswer(int fd, struct iovec *pieces, int count)
{
    fuse_out_header header;
    fuse_init_out init;
    // The answer to the opening request: its header, then what was agreed.
    if (m_Opening != 0 && count == 2 && pieces[0].iov_len == sizeof header &&
        pieces[1].iov_len >= offsetof(fuse_init_out, flags2) + sizeof init.flags2 &&
        pieces[1].iov_len <= sizeof init) {
        std::memcpy(&header, pieces[0].iov_base, sizeof header);
        if (header.unique == m_Opening && header.error == 0) {
            m_Opening = 0;
            std::memcpy(&init, pieces[1].iov_base, pieces[1].iov_len);
            init.flags |= FUSE_INIT_EXT;
            init.flags2 |= kDirectIoAllowMmap2;
            struct iovec amended[2] = {pieces[0], {&init, pieces[1].iov_len}};
            const ssize_t written = writev(fd, amended, 2);
            m_Agreed = written == ssize_t(sizeof header + pieces[1].iov_len);
            return written;
        }
    }
    return writev(fd, pieces, count);
}

} // namespace zarnik_mount
