#include "TreeFilter.h"

#include "EditRecord.h"

#include <algorithm>

void TreeFilter::clear()
{
    m_text = NameFilter(QString());
    m_typed.clear();
    m_keepNode = nullptr;
    m_flat = false;
    m_matches = m_shownRows = 0;
    m_shown.clear();
    m_keep.clear();
    m_holders.clear();
    m_found.clear();
    m_listed.clear();
    m_paths.clear();
}

bool TreeFilter::matches(const std::string &subject) const
{
    m_folded.assign(subject);
    NameFilter::foldInPlace(m_folded);
    return m_text.matches(m_folded);
}

void TreeFilter::apply(const zarnik_pack::EditRecord &record, QString text, const Node *keep, const Less &less)
{
    clear();
    m_text = NameFilter(text);
    if (!isOn())
        return;
    m_typed = text;
    m_keepNode = keep;
    m_record = &record;
    for (const Node *node = keep; node; node = record.Parent(node))
        m_keep.insert(node);
    m_path = record.Path(record.Root());
    walk(record.Root(), false);
    m_matches = int(m_found.size());
    m_flat = m_shownRows > kUnfoldAtMost;
    if (m_flat) {
        m_shown.clear();
        m_holders.clear();
        const auto end = m_found.begin() + std::min<ptrdiff_t>(kListAtMost, ptrdiff_t(m_found.size()));
        std::partial_sort(m_found.begin(), end, m_found.end(), less);
        m_listed.assign(m_found.begin(), end);
    } else {
        m_shown.insert(record.Root());
    }
    m_found.clear();
    m_found.shrink_to_fit();
}

// Depth first: a row is shown when it matches, lies below a folder that
// matches, or holds a match; returns whether `folder` holds one.
bool TreeFilter::walk(const Node *folder, bool belowMatch)
{
    bool holds = false;
    for (const Node *child : m_record->Children(folder)) {
        const size_t at = m_path.size();
        const std::string &name = m_record->Name(child);
        m_path.append(1, '\\').append(name);
        const bool match = matches(m_text.matchesPaths() ? m_path : name);
        if (match) {
            // The path of the node as the pack has it, or the one it takes.
            std::string_view path = child->m_Path;
            if (path != m_path)
                path = m_paths.emplace_back(m_path);
            m_found.push_back({child, path, int(m_found.size())});
        }
        const bool below = !m_record->IsFile(child) && walk(child, belowMatch || match);
        const bool kept = !m_keep.empty() && m_keep.count(child);
        if (belowMatch || match || below || kept) {
            if (++m_shownRows <= kUnfoldAtMost)
                m_shown.insert(child);
            if (below && m_shownRows <= kUnfoldAtMost)
                m_holders.push_back(child);
        }
        holds = holds || match || below || kept;
        m_path.resize(at);
    }
    return holds;
}
