// The per-thread memory of the file layer's last failure, the same on
// every platform.
#include "PlatformErrors.h"

namespace zarnik {

thread_local PlatformError platform_errors::t_lastError = PlatformError::None;

PlatformError PlatformLastError()
{
    return platform_errors::t_lastError;
}

} // namespace zarnik
