// The tool's commands. Each returns the exit status (see ExitStatus).
#pragma once

#include <string>
#include <vector>

int RunList(const std::string &pack, bool longFormat, bool json);
int RunInfo(const std::string &pack);

struct ExtractOptions
{
    std::string pack;
    std::string dir = ".";
    bool progress = false; // draw the progress line even when stderr is no terminal
    bool quiet = false;    // never draw it
    unsigned jobs = 0;     // files written at once; 0: one per core
    std::vector<std::string> patterns;
};
int RunExtract(const ExtractOptions &options);

int RunTest(const std::string &pack);
int RunCat(const std::string &pack, const std::string &path);

struct CreateOptions
{
    std::string out; // OUT.upk or OUT.vfs
    std::string dir; // the folder to pack
    bool store = false; // every file as is, none packed
    bool sync = false;  // on the disk before it takes its name
};
int RunCreate(const CreateOptions &options);

struct MountOptions
{
    std::string pack;
    std::string dir;
    bool foreground = false;  // stay attached; SIGINT/SIGTERM unmount
    unsigned cacheMiB = 64;   // decoded stretches kept for the next reads
};
int RunMount(const MountOptions &options);
int RunUnmount(const std::string &dir);
