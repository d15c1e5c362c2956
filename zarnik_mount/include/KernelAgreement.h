// What the kernel agreed to when the mount started.
//
// Folders: a kernel that opens folders itself spares a listing two requests.
//
// Mapped direct I/O, beyond what libfuse 3.14 asks for. A packed file is best read with direct I/O: its decoded bytes are kept in
// the mount's own cache, and the kernel's page cache would only copy them a
// second time (half the cost of a read from start to end). Direct I/O used
// to refuse shared mappings of a file, which would break every program that
// maps what it opens; kernels since 6.6 map such files when asked at start.
// A libfuse that cannot ask leaves it to this: it watches the opening
// request go by and amends libfuse's answer to it, and the mount uses
// direct I/O only once the kernel agreed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <sys/uio.h>
#include <vector>

namespace zarnik_mount {

// Only watches and amends: the kernel shim reads and writes the channel.
class CKernelAgreement
{
public:
    // One request as read from the kernel's channel (`length` as the read
    // returned it): the opening request is noted when the kernel offers the
    // agreement.
    void NoteRequest(const void *request, ssize_t length);
    // What to write in place of libfuse's answer `pieces`: for the answer to
    // the opening request, that answer whole with the agreement asked for;
    // empty for any other, which goes as it is.
    std::vector<unsigned char> AmendedAnswer(const struct iovec *pieces, int count);
    // Whether the amended answer went out whole: only then is it agreed.
    void AmendedSent(bool whole) { m_Agreed = whole; }

    // Direct I/O taken as agreed, where libfuse itself asked and was answered.
    void AgreeDirectIo() { m_Agreed = true; }
    // Whether packed files may be opened for direct I/O.
    bool DirectIoAgreed() const { return m_Agreed; }

    void AgreeKernelOpensFolders() { m_KernelOpensFolders = true; }
    bool KernelOpensFolders() const { return m_KernelOpensFolders; }

private:
    std::atomic<bool> m_KernelOpensFolders{false};
    // The opening request's number while its answer is awaited, 0 otherwise.
    std::atomic<uint64_t> m_Opening{0};
    std::atomic<bool> m_Agreed{false};
};

} // namespace zarnik_mount
