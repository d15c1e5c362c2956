// Linked into every test program of the Windows build. Before main, the
// program makes the file named in ZARNIK_STARTED: run_under_wine.sh tells
// by it a program that Wine never started from one that ran and failed.
#include <cstdio>
#include <cstdlib>

namespace
{
const bool kStartedMarked = [] {
    if (const char *path = std::getenv("ZARNIK_STARTED"))
        if (std::FILE *mark = std::fopen(path, "wb"))
            std::fclose(mark);
    return true;
}();
} // namespace
