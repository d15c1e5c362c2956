#pragma once
// The switch of scripts/mutants/gen.py: ZM(n) is true only in a run with ZMUT=n.
#include <cstdlib>
inline int ZMActive()
{
    static const int v = [] { const char *e = std::getenv("ZMUT"); return e ? std::atoi(e) : 0; }();
    return v;
}
#define ZM(n) (ZMActive() == (n))
