#include "StopSignals.h"

#include <csignal>
#include <cstring>
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

std::atomic<bool> g_Stop{false};
volatile sig_atomic_t g_Signal = 0;

#ifndef _WIN32
// True when `path` ends in a temporary name the file layer gives:
// NAME.zarnik-partial or NAME.zarnik-partial-N.
bool IsTemporaryName(const char *path, size_t length)
{
    static const char kMark[] = ".zarnik-partial";
    const size_t markLength = sizeof kMark - 1;
    size_t end = length;
    while (end > 0 && path[end - 1] >= '0' && path[end - 1] <= '9')
        --end;
    if (end != length) { // digits must follow a '-'
        if (end == 0 || path[end - 1] != '-')
            return false;
        --end;
    }
    return end >= markLength && std::memcmp(path + end - markLength, kMark, markLength) == 0;
}

// Removes every file this process holds open for writing under a temporary
// name: they were made by this run (the file layer creates them new), so no
// file of anyone else is touched. Only calls that are safe in a signal
// handler.
void RemoveOpenTemporaries()
{
    char link[32] = "/proc/self/fd/";
    const size_t prefix = std::strlen(link);
    char path[4200];
    for (int fd = 3; fd < 4096; ++fd) {
        const int flags = fcntl(fd, F_GETFL);
        if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY)
            continue;
        // The number, written by hand: snprintf may not be called here.
        char digits[12];
        size_t count = 0;
        for (int n = fd; n > 0; n /= 10)
            digits[count++] = static_cast<char>('0' + n % 10);
        for (size_t i = 0; i < count; ++i)
            link[prefix + i] = digits[count - 1 - i];
        link[prefix + count] = '\0';
        const ssize_t length = readlink(link, path, sizeof path - 1);
        if (length <= 0 || path[0] != '/')
            continue;
        path[length] = '\0';
        if (IsTemporaryName(path, static_cast<size_t>(length)))
            unlink(path);
    }
}

extern "C" void OnStopSignal(int signal)
{
    if (g_Stop.exchange(true)) {
        RemoveOpenTemporaries();
        _exit(128 + signal);
    }
    g_Signal = signal;
}
#else
// Ctrl-C and Ctrl-Break in the console stop as SIGINT does; the second ends
// the process at once. (Closing the console ends it whatever a handler
// does, as a kill would.)
BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (g_Stop.exchange(true))
        ExitProcess(128 + SIGINT);
    g_Signal = SIGINT;
    return TRUE;
}
#endif

} // namespace

#ifdef _WIN32
StopOnSignals::StopOnSignals() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }
StopOnSignals::~StopOnSignals() { SetConsoleCtrlHandler(OnConsoleControl, FALSE); }
#else
namespace {
struct sigaction g_OldInt, g_OldTerm;
}

StopOnSignals::StopOnSignals()
{
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Neither signal interrupts the handler of the other.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(SIGINT, &action, &g_OldInt);
    sigaction(SIGTERM, &action, &g_OldTerm);
}

StopOnSignals::~StopOnSignals()
{
    sigaction(SIGINT, &g_OldInt, nullptr);
    sigaction(SIGTERM, &g_OldTerm, nullptr);
}
#endif

const std::atomic<bool> &StopRequested()
{
    return g_Stop;
}

const char *StopSignalName()
{
    return g_Signal == SIGTERM ? "SIGTERM" : "SIGINT";
}

int StoppedExitStatus()
{
    return 128 + (g_Signal == SIGTERM ? SIGTERM : SIGINT);
}
