// The parts of the file layer that are the same on every platform.
#include "PlatformCommon.h"

namespace zarnik {

thread_local PlatformError platform_common::t_lastError = PlatformError::None;
thread_local long platform_common::t_lastCode = 0;

PlatformError PlatformLastError()
{
    return platform_common::t_lastError;
}

PlatformFailure PlatformLastFailure()
{
    using platform_common::t_lastError;
    PlatformFailure failure;
    failure.kind = t_lastError;
    if (platform_common::t_lastCode != 0) {
        failure.text = platform_common::SystemErrorText(platform_common::t_lastCode);
        return failure;
    }
    // Found by the layer itself, without a code of the system's.
    switch (t_lastError) {
    case PlatformError::None:
        failure.text = "no error";
        break;
    case PlatformError::NotFound:
        failure.text = "not found";
        break;
    case PlatformError::Exists:
        failure.text = "something already stands there";
        break;
    case PlatformError::NotRegular:
        failure.text = "not a regular file";
        break;
    case PlatformError::IsLink:
        failure.text = "a link stands there";
        break;
    case PlatformError::NoSpace:
        failure.text = "the disk is full or read-only";
        break;
    case PlatformError::TooLarge:
        failure.text = "the file is too large";
        break;
    case PlatformError::Other:
        failure.text = "the operation failed";
        break;
    }
    return failure;
}

uint32_t PlatformReadAt(PlatformFile *file, uint64_t position, void *buffer, uint32_t count)
{
    if (!file)
        return 0;
    uint32_t done = 0;
    while (done < count) {
        const uint32_t n = platform_common::ReadOnce(file, position + done,
                                                     static_cast<char *>(buffer) + done, count - done);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

} // namespace zarnik
