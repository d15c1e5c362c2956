// What `zarnik grep` looks for, compiled once: a matcher finds the first
// match of the patterns in a stretch of a file's bytes. Text is UTF-8 as
// the patterns are; bytes that are no UTF-8 are never part of a match.
//
// Where PCRE2 is built in (every Linux build), patterns are Perl-compatible
// regular expressions run by its JIT, and fixed strings go through it too.
// Without it (the Windows build) fixed strings are matched by our own
// matcher, which folds the case of ASCII and Latin-1 letters only, and a
// regular expression is refused: we write no regex engine of our own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace zarnik_search {

struct PatternSettings
{
    // Each one a pattern; a match of any is a match. A pattern holding
    // newlines is one pattern for each of its lines, as grep takes it.
    std::vector<std::string> patterns;
    bool fixed = false;      // fixed strings, not regular expressions
    bool ignoreCase = false; // letters of either case match
    bool wholeWord = false;  // a match neither starts nor ends inside a word
};

// The bytes a search looks at, and what lies around them.
struct Subject
{
    const unsigned char *bytes = nullptr;
    size_t size = 0;
    size_t from = 0; // matches start here or later; the bytes before are context
    // bytes[0] is the first byte of a line (else an earlier part of the
    // line was let go, and `^` does not match there).
    bool lineStart = true;
    // The last byte is the end of a line (else more of that line follows,
    // and a match reaching the end may be longer than what is here).
    bool lineEnd = true;
};

struct MatchSpan
{
    size_t begin = 0, end = 0;
};

enum class FindResult {
    Match,   // `span` is the first match at or after `from`
    Partial, // no match is certain yet; one may start at span.begin once more of the line is here
    None,    // no match at or after `from`
    Failed,  // the search gave up (a backtracking limit); `Failure()` says why
};

class CMatcher
{
public:
    virtual ~CMatcher() = default;
    // A matcher for another thread: one matcher is used by one thread at
    // a time.
    virtual std::unique_ptr<CMatcher> Clone() const = 0;

    // The subject may hold several whole lines separated by '\n' (when
    // LineLocal() says so): a match is then found as in the lines alone,
    // except that it may run on across a '\n', which the caller checks.
    virtual FindResult Find(const Subject &subject, MatchSpan &span) = 0;
    // How many bytes before a match's start it may look at.
    virtual size_t LookBehind() const = 0;
    // True when a match that lies inside one line of a subject of many lines
    // is found there as it would be in that line alone: the pattern looks
    // at nothing beyond its line but the '\n' around it, which it takes for
    // the line's start and end.
    virtual bool LineLocal() const = 0;
    virtual std::string Failure() const = 0;
};

// The matcher for `settings`, or null with `error` set to one line saying
// why (a pattern that is not valid, or a regular expression where this
// build has no PCRE2).
std::unique_ptr<CMatcher> CompileMatcher(const PatternSettings &settings, std::string &error);

// Our own matcher of fixed strings, in every build: what CompileMatcher
// gives where there is no PCRE2.
std::unique_ptr<CMatcher> CompileFixedStrings(const PatternSettings &settings);

// Whether a regular expression `pattern` means the same as its bytes taken
// literally (it holds none of \ ^ $ . | ? * + ( ) [ ] { }).
bool IsLiteral(const std::string &pattern);

} // namespace zarnik_search
