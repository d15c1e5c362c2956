// The two matchers behind CompileMatcher, and what they share.
#pragma once

#include "Matcher.h"

namespace zarnik_search {

// Each pattern split at its newlines.
std::vector<std::string> SplitLines(const std::vector<std::string> &patterns);

#ifdef ZARNIK_SEARCH_PCRE2
// Regular expressions, or fixed strings, through PCRE2.
std::unique_ptr<CMatcher> CompilePcre(const PatternSettings &settings, std::string &error);
#endif

} // namespace zarnik_search
