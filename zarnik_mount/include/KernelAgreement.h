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

namespace zarnik_mount {

class CKernelAgreement
{
public:
    // Reads one request from the kernel's channel `fd`, as libfuse would,
    // noting the opening request when the kernel offers the agreement.
    ssize_t ReadRequest(int fd, void *buffer, size_t length);
    // Writes one answer of libfuse's to `fd`: the answer to the opening
    // request with the agreement asked for, any other as it is.
    ssize_t WriteAnswer(int fd, struct iovec *pieces, int count);

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
