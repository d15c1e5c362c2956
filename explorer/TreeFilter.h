// What the filter line makes of the tree: the entries whose name matches
// (NameFilter; a text with a separator matches paths), their folders, and
// all below a folder that matches. When more rows than kUnfoldAtMost would
// be shown, the matches are listed flat instead, the first kListAtMost of
// them in the order asked for. One walk over the record's tree per text:
// nothing is kept per entry, so a keystroke over a million names makes no
// million objects.
#pragma once

#include "NameFilter.h"
#include "PackEditFwd.h"

#include <QString>

#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class TreeFilter
{
public:
    using Node = zarnik::ArchiveNode;
    // Up to this many rows shown, a filter unfolds their folders: more would
    // be a tree to scroll, not an answer, and the matches are listed flat.
    static const int kUnfoldAtMost = 2000;
    // The flat list shows the first this many matches in the order asked for.
    static const int kListAtMost = 2000;

    // A match as the flat list orders it: its node, its path, and where the
    // walk met it (the pack's order).
    struct Match
    {
        const Node *node;
        std::string_view path;
        int order;
    };
    using Less = std::function<bool(const Match &, const Match &)>;

    TreeFilter() : m_text(QString()) {}

    // Walks the tree below the record's root for `text`; `keep` and its
    // folders stay shown whatever their names. `less` orders the flat list.
    // `text` by value: it may be text() itself, which the walk starts by clearing.
    void apply(const zarnik_pack::EditRecord &record, QString text, const Node *keep, const Less &less);
    void clear();

    bool isOn() const { return !m_text.isEmpty(); }
    const QString &text() const { return m_typed; }
    const Node *kept() const { return m_keepNode; }
    bool isFlat() const { return m_flat; }
    int matches() const { return m_matches; }
    // Shown in the tree (not flat): everything when the filter is off.
    bool shows(const Node *node) const { return !isOn() || m_shown.count(node) != 0; }
    // Folders that hold a match, to be unfolded (not flat).
    const std::vector<const Node *> &holders() const { return m_holders; }
    // The matches listed flat, in order, with their paths.
    const std::vector<Match> &listed() const { return m_listed; }
    // Whether `name` (a path, for a text with a separator) matches.
    bool matches(const std::string &subject) const;
    bool matchesPaths() const { return m_text.matchesPaths(); }

private:
    bool walk(const Node *folder, bool belowMatch);

    const zarnik_pack::EditRecord *m_record = nullptr;
    QString m_typed;
    const Node *m_keepNode = nullptr;
    NameFilter m_text;
    bool m_flat = false;
    int m_matches = 0;
    int m_shownRows = 0;
    std::unordered_set<const Node *> m_shown, m_keep;
    std::vector<const Node *> m_holders;
    std::vector<Match> m_found, m_listed;
    std::deque<std::string> m_paths; // of the matches whose path is not their node's own
    std::string m_path;            // the walk's, reused
    mutable std::string m_folded; // reused
};
