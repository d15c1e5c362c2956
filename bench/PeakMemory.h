// The peak memory of a benchmark's child process (Linux only).
#pragma once

#include <fstream>
#include <string>
#include <sys/types.h>

// The peak resident size of a running process in MiB, from the kernel's own
// count for it since exec (a child's rusage would also count the pages it
// shared with this process before exec); -1 when it cannot be read.
inline double PeakMiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    double kib = -1;
    while (status >> key)
        if (key == "VmHWM:" && status >> kib)
            break;
    return kib < 0 ? -1 : kib / 1024.0;
}
