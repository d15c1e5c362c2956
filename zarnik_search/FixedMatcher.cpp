// Fixed strings matched by our own code, for the build without PCRE2: the
// same matches as PCRE2 gives for the escaped strings, the longest first,
// except that case is folded for ASCII and Latin-1 letters only.
#include "MatcherParts.h"

#include <algorithm>
#include <cstring>

namespace zarnik_search {

namespace {

bool IsWordByte(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// The bytes one place of a pattern takes: `a` or `b` (the same byte when
// case does not matter there). The two cases of a letter differ in bit 5,
// in ASCII as in the second byte of a Latin-1 letter's UTF-8 (C3 80-9E
// and C3 A0-BE).
struct Place
{
    unsigned char a, b;
    bool Takes(unsigned char c) const { return c == a || c == b; }
};

std::vector<Place> Places(const std::string &pattern, bool ignoreCase)
{
    std::vector<Place> places;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(pattern[i]);
        unsigned char other = c;
        const bool asciiLetter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
        const bool latin1Letter = i > 0 && static_cast<unsigned char>(pattern[i - 1]) == 0xC3 &&
                                  (c & ~0x20) >= 0x80 && (c & ~0x20) <= 0x9E && (c & ~0x20) != 0x97;
        if (ignoreCase && (asciiLetter || latin1Letter))
            other = c ^ 0x20;
        places.push_back({c, other});
    }
    return places;
}

// How common a byte is in text, roughly: the scan looks for the rarest
// byte of a pattern and checks the rest around it.
int Commonness(const Place &place)
{
    const unsigned char c = place.a;
    int score = c == ' ' || c == 'e' || c == 't' || c == 'a' || c == 'o' ? 4
                : (c >= 'a' && c <= 'z')                             ? 3
                : (c >= 'A' && c <= 'Z') || c == '\n'                ? 2
                : c < 0x80                                           ? 1
                                                                     : 0;
    return place.a == place.b ? score : score + 2; // two bytes to look for
}

class CString
{
public:
    CString(const std::string &text, bool ignoreCase) : m_Places(Places(text, ignoreCase))
    {
        for (size_t i = 1; i < m_Places.size(); ++i)
            if (Commonness(m_Places[i]) < Commonness(m_Places[m_Anchor]))
                m_Anchor = i;
    }
    size_t Size() const { return m_Places.size(); }

    // The first place in [from, limit) where the string matches, or npos.
    size_t FirstIn(const unsigned char *bytes, size_t size, size_t from, size_t limit) const
    {
        if (m_Places.empty())
            return from < limit ? from : std::string::npos;
        const Place &anchor = m_Places[m_Anchor];
        const size_t last = std::min(limit, size - std::min(size, Size() - 1)); // starts below it fit
        for (size_t at = from + m_Anchor; at < last + m_Anchor;) {
            const unsigned char *hit = anchor.a == anchor.b ? static_cast<const unsigned char *>(
                                                                  std::memchr(bytes + at, anchor.a, last + m_Anchor - at))
                                                            : FindEither(bytes + at, bytes + last + m_Anchor, anchor);
            if (!hit)
                return std::string::npos;
            const size_t start = size_t(hit - bytes) - m_Anchor;
            if (At(bytes, start))
                return start;
            at = size_t(hit - bytes) + 1;
        }
        return std::string::npos;
    }

    bool At(const unsigned char *bytes, size_t start) const
    {
        for (size_t i = 0; i < m_Places.size(); ++i)
            if (!m_Places[i].Takes(bytes[start + i]))
                return false;
        return true;
    }

private:
    static const unsigned char *FindEither(const unsigned char *p, const unsigned char *end, const Place &place)
    {
        const unsigned char folded = place.a | 0x20;
        for (; p < end; ++p)
            if ((*p | 0x20) == folded)
                return p;
        return nullptr;
    }

    std::vector<Place> m_Places;
    size_t m_Anchor = 0;
};

class CFixedMatcher : public CMatcher
{
public:
    explicit CFixedMatcher(const PatternSettings &settings) : m_WholeWord(settings.wholeWord)
    {
        std::vector<std::string> patterns = SplitLines(settings.patterns);
        std::stable_sort(patterns.begin(), patterns.end(),
                         [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
        for (const std::string &p : patterns) {
            m_Strings.emplace_back(p, settings.ignoreCase);
            m_Longest = std::max(m_Longest, p.size());
        }
    }

    std::unique_ptr<CMatcher> Clone() const override { return std::make_unique<CFixedMatcher>(*this); }

    FindResult Find(const Subject &subject, MatchSpan &span) override
    {
        // With more of the line to come, a match is certain only where every
        // string, and the byte after it, fits in what is here.
        const size_t reach = m_Longest + 1;
        const size_t limit = subject.lineEnd ? subject.size + 1
                             : subject.size > subject.from + reach ? subject.size - reach + 1
                                                                   : subject.from;
        if (First(subject, limit, span))
            return FindResult::Match;
        if (subject.lineEnd)
            return FindResult::None;
        span.begin = span.end = limit;
        return FindResult::Partial;
    }

    size_t LookBehind() const override { return 1; }
    bool LineLocal() const override { return true; }
    std::string Failure() const override { return {}; }

private:
    // The earliest start in [from, limit) where a string matches (whole
    // words only, with -w), the longest string there.
    bool First(const Subject &s, size_t limit, MatchSpan &span) const
    {
        size_t best = std::string::npos;
        for (const CString &string : m_Strings) {
            const size_t bound = std::min(limit, best == std::string::npos ? limit : best + 1);
            for (size_t from = s.from;;) {
                const size_t at = string.FirstIn(s.bytes, s.size, from, bound);
                if (at == std::string::npos)
                    break;
                const size_t end = at + string.Size();
                const bool word = !m_WholeWord || ((at == 0 || !IsWordByte(s.bytes[at - 1])) &&
                                                   (end >= s.size || !IsWordByte(s.bytes[end])));
                if (word) {
                    if (best == std::string::npos || at < best)
                        best = at, span = {at, end};
                    break;
                }
                from = at + 1;
            }
        }
        return best != std::string::npos;
    }

    bool m_WholeWord;
    std::vector<CString> m_Strings; // the longest first
    size_t m_Longest = 0;
};

} // namespace

std::unique_ptr<CMatcher> CompileFixedStrings(const PatternSettings &settings)
{
    return std::make_unique<CFixedMatcher>(settings);
}

} // namespace zarnik_search
