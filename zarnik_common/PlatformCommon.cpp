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
    // Found by the layer itself, without a code of the system's: in the
    // order of PlatformError.
    static const char *const kTexts[] = {
        "no error", "not found", "something already stands there", "not a regular file",
        "a link stands there", "the disk is full or read-only", "the file is too large",
        "an unsafe name, or one Windows would misread", "the operation failed"};
    static_assert(sizeof kTexts / sizeof kTexts[0] == size_t(PlatformError::Other) + 1,
                  "a text for every kind");
    failure.text = kTexts[size_t(t_lastError)];
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
