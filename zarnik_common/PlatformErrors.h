// The file layer's memory of its last failure, one per thread, for
// PlatformLastError. Both platforms' files keep it the same way; each says
// only how its own error codes sort into kinds (PlatformErrorKinds) and
// where the last code stands (errno, GetLastError).
#pragma once

#include "PlatformFile.h"

#include <cstddef>

namespace zarnik {
namespace platform_errors {

// What PlatformLastError gives (PlatformErrors.cpp).
extern thread_local PlatformError t_lastError;

// The system's codes of one kind; unused places hold 0.
struct KindCodes
{
    PlatformError kind;
    long codes[5];
};

// The calling thread's last system error code, and its kind.
long LastSystemError();
PlatformError KindOf(long code);

template <size_t N>
PlatformError FindKind(long code, const KindCodes (&table)[N])
{
    if (code == 0)
        return PlatformError::None;
    for (const KindCodes &entry : table)
        for (long c : entry.codes)
            if (c != 0 && c == code)
                return entry.kind;
    return PlatformError::Other;
}

// Records the last system error's kind and passes `result` on.
template <typename T>
T Fail(T result)
{
    t_lastError = KindOf(LastSystemError());
    return result;
}

template <typename T>
T FailWith(PlatformError error, T result)
{
    t_lastError = error;
    return result;
}

} // namespace platform_errors
} // namespace zarnik
