// What `diff` and `hash` share: a side named on the command line, and the
// patterns that narrow what is compared, as `extract` takes them.
#pragma once

#include "Compare.h"
#include "CompareSide.h"

#include <memory>
#include <string>
#include <vector>

// The side `argument` names, as CCompareSide::Open takes it: a folder, a
// pack or a saved hash list. Null after one line on standard error naming
// it and why it cannot be read.
std::unique_ptr<const zarnik::CCompareSide> OpenSide(const std::string &argument);

// Which archive paths the patterns choose: a path matched, or lying in a
// folder matched; every path when there are none.
class PathScope
{
public:
    explicit PathScope(const std::vector<std::string> &typed);

    bool operator()(const std::string &path) const;
    bool Everything() const { return m_Patterns.empty(); }
    // What a comparison or a hashing of these paths is given, with `jobs`
    // workers; it refers to this scope, which must outlive it.
    zarnik::CompareSettings Settings(unsigned jobs) const;
    // The patterns, as typed, that match no file or folder of any side.
    std::vector<std::string> Unmatched(const std::vector<const zarnik::CCompareSide *> &sides) const;

private:
    std::vector<std::string> m_Typed, m_Patterns;
};
