#include "KernelAgreement.h"

#include <linux/fuse.h>

#include <cstring>

namespace zarnik_mount {

namespace {

// Newer than this system's headers: bit 36 of the flags, the fifth of flags2.
const uint32_t kDirectIoAllowMmap2 = 1u << (36 - 32);

} // namespace

void CKernelAgreement::NoteRequest(const void *request, ssize_t length)
{
    fuse_in_header header;
    fuse_init_in init;
    if (length < ssize_t(sizeof header + sizeof init))
        return;
    std::memcpy(&header, request, sizeof header);
    if (header.opcode != FUSE_INIT)
        return;
    std::memcpy(&init, static_cast<const char *>(request) + sizeof header, sizeof init);
    if ((init.flags & FUSE_INIT_EXT) && (init.flags2 & kDirectIoAllowMmap2))
        m_Opening = header.unique;
}

std::vector<unsigned char> CKernelAgreement::AmendedAnswer(const struct iovec *pieces, int count)
{
    fuse_out_header header;
    fuse_init_out init;
    // The answer to the opening request: its header, then what was agreed.
    if (m_Opening == 0 || count != 2 || pieces[0].iov_len != sizeof header ||
        pieces[1].iov_len < offsetof(fuse_init_out, flags2) + sizeof init.flags2 || pieces[1].iov_len > sizeof init)
        return {};
    std::memcpy(&header, pieces[0].iov_base, sizeof header);
    if (header.unique != m_Opening || header.error != 0)
        return {};
    m_Opening = 0;
    std::memcpy(&init, pieces[1].iov_base, pieces[1].iov_len);
    init.flags |= FUSE_INIT_EXT;
    init.flags2 |= kDirectIoAllowMmap2;
    std::vector<unsigned char> answer(sizeof header + pieces[1].iov_len);
    std::memcpy(answer.data(), &header, sizeof header);
    std::memcpy(answer.data() + sizeof header, &init, pieces[1].iov_len);
    return answer;
}

} // namespace zarnik_mount
