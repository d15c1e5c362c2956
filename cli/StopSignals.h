// Ctrl-C and SIGTERM for the commands that write. The first asks the work
// to stop: it removes what it was writing and returns, and the command
// exits with 128 + the signal's number. A second one ends the program at
// once; on Linux the files this process still holds open for writing under
// a temporary name are removed first, so that only SIGKILL may leave one.
#pragma once

#include <atomic>

// While one of these lives, the signals set the stop flag.
class StopOnSignals
{
public:
    StopOnSignals();
    ~StopOnSignals();
    StopOnSignals(const StopOnSignals &) = delete;
    StopOnSignals &operator=(const StopOnSignals &) = delete;
};

// Set by the first signal; read by the work from any thread.
const std::atomic<bool> &StopRequested();

// "SIGINT" or "SIGTERM": the signal that asked to stop.
const char *StopSignalName();

// The exit status of a run a signal stopped: 130 for SIGINT, 143 for SIGTERM.
int StoppedExitStatus();
