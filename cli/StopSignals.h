// Ctrl-C and SIGTERM (Ctrl-C and Ctrl-Break in a Windows console) ask a
// long command to stop: it ends what it is writing cleanly and returns. A
// second signal ends the program at once.
#pragma once

#include <atomic>
#include <csignal>

// Set by the first signal while a StopOnSignals lives.
extern std::atomic<bool> g_stop;
// Which signal it was (SIGINT or SIGTERM), for the exit status 128 + it.
extern volatile sig_atomic_t g_signal;

class StopOnSignals
{
public:
    StopOnSignals();
    ~StopOnSignals();
    StopOnSignals(const StopOnSignals &) = delete;
    StopOnSignals &operator=(const StopOnSignals &) = delete;

private:
#ifndef _WIN32
    struct sigaction m_OldInt, m_OldTerm;
#endif
};
