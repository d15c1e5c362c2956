// The parts of the file layer that are the same on every platform.
#include "PlatformCommon.h"

namespace zarnik {

thread_local PlatformError platform_common::t_lastError = PlatformError::None;

PlatformError PlatformLastError()
{
    return platform_common::t_lastError;
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
