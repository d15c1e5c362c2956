// The memory of a benchmark's child process, or its own (Linux only).
#pragma once

#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// A size the kernel counts for a running process, in MiB (`field`, as
// /proc names it); -1 when it cannot be read.
inline double StatusMiB(pid_t pid, const std::string &field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    double kib = -1;
    while (status >> key)
        if (key == field && status >> kib)
            break;
    return kib < 0 ? -1 : kib / 1024.0;
}
// The peak resident size, from the kernel's own count since exec (a child's
// rusage would also count the pages it shared with this process before exec).
inline double PeakMiB(pid_t pid)
{
    return StatusMiB(pid, "VmHWM:");
}
// What it holds in memory now.
inline double ResidentMiB(pid_t pid)
{
    return StatusMiB(pid, "VmRSS:");
}

// Runs the built tool with `args`, its standard output to /dev/null, to its
// end. Returns its exit status (-1 when it could not run or was killed), and
// its peak resident size in MiB through `peakMiB`. The tool is exec'd at once
// from a small benchmark process, so the rusage of the child counts the tool.
inline int RunTool(const char *tool, const std::vector<std::string> &args, double *peakMiB = nullptr)
{
    std::vector<char *> argv{const_cast<char *>(tool)};
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status))
        return -1;
    if (peakMiB)
        *peakMiB = double(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB
    return WEXITSTATUS(status);
}
