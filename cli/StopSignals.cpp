#include "StopSignals.h"

#ifdef _WIN32
#include <windows.h>
#endif

std::atomic<bool> g_stop{false};
volatile sig_atomic_t g_signal = 0;

namespace {

extern "C" void OnStopSignal(int signal)
{
    g_signal = signal;
    g_stop.store(true);
}

#ifdef _WIN32
// (Closing the console ends the process whatever a handler does, as a kill
// would.)
BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    OnStopSignal(SIGINT);
    return TRUE;
}
#endif

} // namespace

#ifdef _WIN32
StopOnSignals::StopOnSignals() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }
StopOnSignals::~StopOnSignals() { SetConsoleCtrlHandler(OnConsoleControl, FALSE); }
#else
StopOnSignals::StopOnSignals()
{
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_OldInt);
    sigaction(SIGTERM, &action, &m_OldTerm);
}

StopOnSignals::~StopOnSignals()
{
    sigaction(SIGINT, &m_OldInt, nullptr);
    sigaction(SIGTERM, &m_OldTerm, nullptr);
}
#endif
