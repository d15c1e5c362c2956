#include "Glob.h"

#include "PathRule.h"

#include <cstdint>
#include <vector>

namespace {

// Length of the UTF-8 character at `at`; a stray byte counts as one.
size_t CharLength(const std::string &s, size_t at)
{
    const unsigned char c = static_cast<unsigned char>(s[at]);
    size_t length = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (at + length > s.size())
        length = 1;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(s[at + i]) & 0xC0) != 0x80)
            return 1;
    return length;
}

uint32_t CodePoint(const std::string &s, size_t at, size_t length)
{
    const unsigned char c = static_cast<unsigned char>(s[at]);
    if (length == 1)
        return c;
    uint32_t cp = c & (0x7F >> length);
    for (size_t i = 1; i < length; ++i)
        cp = cp << 6 | (static_cast<unsigned char>(s[at + i]) & 0x3F);
    return cp;
}

class Matcher
{
public:
    Matcher(const std::string &pattern, const std::string &text)
        : m_Pattern(pattern), m_Text(text), m_Memo((pattern.size() + 1) * (text.size() + 1), -1)
    {
    }

    // Every (pattern, text) position pair is decided once, so patterns full
    // of stars cannot make the match take exponential time.
    bool Match(size_t pi, size_t ti)
    {
        signed char &memo = m_Memo[pi * (m_Text.size() + 1) + ti];
        if (memo < 0)
            memo = Decide(pi, ti);
        return memo != 0;
    }

private:
    bool Decide(size_t pi, size_t ti)
    {
        const std::string &p = m_Pattern;
        const std::string &t = m_Text;
        if (pi == p.size())
            return ti == t.size();

        if (p[pi] == '*') {
            const bool across = pi + 1 < p.size() && p[pi + 1] == '*';
            const size_t next = pi + (across ? 2 : 1);
            if (across && next < p.size() && p[next] == '/' && Match(next + 1, ti))
                return true;
            for (size_t k = ti;; k += CharLength(t, k)) {
                if (Match(next, k))
                    return true;
                if (k == t.size() || (!across && t[k] == '/'))
                    return false;
            }
        }
        if (ti == t.size())
            return false;

        const size_t length = CharLength(t, ti);
        if (p[pi] == '?')
            return t[ti] != '/' && Match(pi + 1, ti + length);
        if (p[pi] == '[') {
            size_t end = 0;
            bool matched = false;
            if (MatchSet(pi, CodePoint(t, ti, length), end))
                matched = true;
            if (end != 0)
                return matched && t[ti] != '/' && Match(end, ti + length);
            // An unclosed '[' is an ordinary character.
        }
        return p[pi] == t[ti] && Match(pi + 1, ti + 1);
    }

    // Whether `cp` is in the set opening at `pi`; `end` is set past its ']',
    // or left 0 when the set is not closed.
    bool MatchSet(size_t pi, uint32_t cp, size_t &end) const
    {
        const std::string &p = m_Pattern;
        size_t i = pi + 1;
        bool negate = false;
        if (i < p.size() && (p[i] == '!' || p[i] == '^')) {
            negate = true;
            ++i;
        }
        bool found = false;
        bool first = true;
        while (i < p.size() && (first || p[i] != ']')) {
            first = false;
            const size_t lowLength = CharLength(p, i);
            const uint32_t low = CodePoint(p, i, lowLength);
            i += lowLength;
            uint32_t high = low;
            if (i + 1 < p.size() && p[i] == '-' && p[i + 1] != ']') {
                const size_t highLength = CharLength(p, i + 1);
                high = CodePoint(p, i + 1, highLength);
                i += 1 + highLength;
            }
            if (low <= cp && cp <= high)
                found = true;
        }
        if (i >= p.size())
            return false;
        end = i + 1;
        return found != negate;
    }

    const std::string &m_Pattern;
    const std::string &m_Text;
    std::vector<signed char> m_Memo;
};

} // namespace

bool GlobMatch(const std::string &pattern, const std::string &text)
{
    return Matcher(pattern, text).Match(0, 0);
}

std::string NormalizePattern(const std::string &pattern)
{
    return zarnik::SlashPathFromTyped(pattern);
}
