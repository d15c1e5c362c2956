#include "MatcherParts.h"

#include <cstring>

namespace zarnik_search {

std::vector<std::string> SplitLines(const std::vector<std::string> &patterns)
{
    std::vector<std::string> lines;
    for (const std::string &pattern : patterns) {
        size_t start = 0;
        for (size_t end; (end = pattern.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(pattern.substr(start, end - start));
        lines.push_back(pattern.substr(start));
    }
    return lines;
}

bool IsLiteral(const std::string &pattern)
{
    return pattern.find_first_of("\\^$.|?*+()[]{}") == std::string::npos;
}

std::unique_ptr<CMatcher> CompileMatcher(const PatternSettings &settings, std::string &error)
{
    if (settings.patterns.empty()) {
        error = "no pattern";
        return nullptr;
    }
#ifdef ZARNIK_SEARCH_PCRE2
    return CompilePcre(settings, error);
#else
    bool literal = true;
    for (const std::string &pattern : settings.patterns)
        literal = literal && (settings.fixed || IsLiteral(pattern));
    if (!literal) {
        error = "regular expressions need PCRE2, which this build lacks (Debian has none for Windows): "
                "use -F to search for fixed strings";
        return nullptr;
    }
    return CompileFixedStrings(settings);
#endif
}

} // namespace zarnik_search
