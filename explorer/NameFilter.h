// What the filter line asks for: entries whose name holds the typed text,
// case-insensitively, where `*` stands for any run of characters and `?` for
// one. Pack names are Latin-1 bytes; they are matched as such, folded into
// one buffer used again (foldInPlace()), so that a keystroke over a million
// names makes no string for each.
#pragma once

#include <QString>

#include <string>
#include <string_view>

class NameFilter
{
public:
    explicit NameFilter(const QString &text);

    // True when the text is empty: everything is shown.
    bool isEmpty() const { return m_pattern.empty() && !m_impossible; }
    // The text holds a separator, '/' as the tool prints paths or '\' as
    // the pack keeps them: it is matched against paths (folded too),
    // so that a copied path finds its entry.
    bool matchesPaths() const { return m_paths; }
    // `foldedName` comes from foldInPlace().
    bool matches(const std::string &foldedName) const;

    // A Latin-1 name in lower case (the letters of Latin-1 too).
    static void foldInPlace(std::string &latin1Name);
    // -1, 0 or 1 as `a` sorts before, with or after `b`, case folded.
    static int compareFolded(std::string_view a, std::string_view b);

private:
    std::string m_pattern; // folded; '*' and '?' as typed
    bool m_wildcards = false;
    bool m_impossible = false; // a character no Latin-1 name holds
    bool m_paths = false;
};
