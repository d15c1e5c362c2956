#include "Check.h"

#include <atomic>
#include <cstdio>

namespace zarnik {
namespace {

void DefaultReporter(const char *expression, const char *file, int line)
{
    std::fprintf(stderr, "zarnik: check failed: %s (%s, line %d)\n", expression, file, line);
}

std::atomic<CheckReporter> g_reporter{&DefaultReporter};

} // namespace

CheckReporter SetCheckReporter(CheckReporter reporter)
{
    return g_reporter.exchange(reporter ? reporter : &DefaultReporter);
}

bool CheckFailed(const char *expression, const char *file, int line)
{
    // The source file's own name: where the library was built is nobody's
    // business.
    for (const char *p = file; *p; ++p)
        if (*p == '/' || *p == '\\')
            file = p + 1;
    g_reporter.load()(expression, file, line);
    return false;
}

} // namespace zarnik
