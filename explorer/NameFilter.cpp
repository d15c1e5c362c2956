#include "NameFilter.h"

#include <algorithm>

namespace {

unsigned char foldByte(unsigned char c)
{
    // A-Z and the Latin-1 capitals (not the multiplication sign).
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 0x20;
    return c;
}

// `pattern` matches the whole of `text`: the classic walk that goes back to
// the last '*' on a mismatch, linear for the usual few stars.
bool globMatch(const char *pattern, size_t patternSize, const char *text, size_t textSize)
{
    size_t p = 0, t = 0, starP = std::string::npos, starT = 0;
    while (t < textSize) {
        if (p < patternSize && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (p < patternSize && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < patternSize && pattern[p] == '*')
        ++p;
    return p == patternSize;
}

} // namespace

NameFilter::NameFilter(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() > 0xFF) {
            m_impossible = true;
            return;
        }
        // Paths in the pack separate their folders with '\\'.
        m_paths = m_paths || c == QLatin1Char('/') || c == QLatin1Char('\\');
        m_pattern += c == QLatin1Char('/') ? '\\' : char(foldByte(uchar(c.unicode())));
    }
    m_wildcards = m_pattern.find_first_of("*?") != std::string::npos;
    // Anywhere in the name.
    if (m_wildcards)
        m_pattern = '*' + m_pattern + '*';
}

bool NameFilter::matches(const std::string &foldedName) const
{
    if (m_impossible)
        return false;
    if (!m_wildcards)
        return foldedName.find(m_pattern) != std::string::npos;
    return globMatch(m_pattern.data(), m_pattern.size(), foldedName.data(), foldedName.size());
}

void NameFilter::foldInPlace(std::string &latin1Name)
{
    for (char &c : latin1Name)
        c = char(foldByte(uchar(c)));
}

int NameFilter::compareFolded(std::string_view a, std::string_view b)
{
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const unsigned char x = foldByte(uchar(a[i])), y = foldByte(uchar(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}
