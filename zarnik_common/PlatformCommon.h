// What the file layer does the same way on every platform: its memory of
// the last failure, one per thread, for PlatformLastError, and reading a
// whole range. Each platform's file says only how its own error codes sort
// into kinds, where the last code stands (errno, GetLastError), and how one
// read is made.
#pragma once

#include "PlatformFaults.h"
#include "PlatformFile.h"

#include <cstddef>
#include <string>

namespace zarnik {
namespace platform_common {

// What PlatformLastError gives, and the system's code behind it (0 when
// the layer itself found the failure) (PlatformCommon.cpp).
extern thread_local PlatformError t_lastError;
extern thread_local long t_lastCode;

// The system's codes of one kind; unused places hold 0.
struct KindCodes
{
    PlatformError kind;
    long codes[5];
};

// The calling thread's last system error code, and its kind.
long LastSystemError();
PlatformError KindOf(long code);
// The system's own words for one of its codes.
std::string SystemErrorText(long code);

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

// One read of up to `count` bytes at `position`, retried when interrupted;
// 0 at the end of the file or on a failure.
uint32_t ReadOnce(PlatformFile *file, uint64_t position, void *buffer, uint32_t count);

// Records the last system error's kind and passes `result` on.
template <typename T>
T Fail(T result)
{
    t_lastCode = LastSystemError();
    t_lastError = KindOf(t_lastCode);
    return result;
}

template <typename T>
T FailWith(PlatformError error, T result)
{
    t_lastError = error;
    t_lastCode = 0;
    return result;
}

// True when a test's fault call asks `step` on `name` to fail: then the
// last failure is an I/O error of the layer's own.
bool Injected(PlatformStep step, const std::string &name);

// No failure so far, for a call that may end short without one.
inline void ClearLastError()
{
    FailWith(PlatformError::None, 0);
}

} // namespace platform_common
} // namespace zarnik
