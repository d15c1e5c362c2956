#include "CaseIndex.h"

#include "PackPath.h"

namespace zarnik_pack {

namespace {

bool StartsWith(const std::string &text, const std::string &start)
{
    return text.compare(0, start.size(), start) == 0;
}

bool AtOrBelow(const std::string &path, const std::string &top)
{
    return !top.empty() && (path == top || StartsWith(path, top + '\\'));
}

void Insert(std::multimap<std::string, std::string> &names, const std::string &name)
{
    const std::string folded = zarnik::FoldedLatin1(name);
    for (auto it = names.lower_bound(folded); it != names.end() && it->first == folded; ++it)
        if (it->second == name)
            return;
    names.emplace(folded, name);
}

} // namespace

void CaseIndex::Note(const std::string &path)
{
    // Only folders asked about before have names to keep up to date.
    for (size_t end = path.find('\\'); end != std::string::npos; end = path.find('\\', end + 1)) {
        const auto folder = m_Folders.find(path.substr(0, end));
        if (folder != m_Folders.end())
            Insert(folder->second, path.substr(end + 1, path.find('\\', end + 1) - end - 1));
    }
}

const CaseIndex::Names &CaseIndex::NamesIn(const std::string &folder) const
{
    const auto known = m_Folders.find(folder);
    if (known != m_Folders.end())
        return known->second;
    Names &names = m_Folders[folder];
    const std::string prefix = folder + '\\';
    for (auto it = m_Files.lower_bound(prefix); it != m_Files.end() && StartsWith(*it, prefix);) {
        const size_t end = it->find('\\', prefix.size());
        const std::string name = it->substr(prefix.size(), end - prefix.size());
        Insert(names, name);
        // A folder's files stand together: past them at once.
        it = end == std::string::npos ? std::next(it) : m_Files.lower_bound(prefix + name + char('\\' + 1));
    }
    return names;
}

bool CaseIndex::Exists(const std::string &path) const
{
    if (m_Files.count(path))
        return true;
    const auto below = m_Files.lower_bound(path + '\\');
    return below != m_Files.end() && StartsWith(*below, path + '\\');
}

std::string CaseIndex::TwinOf(const std::string &path, const std::string &own) const
{
    for (size_t start = path.find('\\'); start != std::string::npos;) {
        const std::string folder = path.substr(0, start);
        const size_t end = path.find('\\', start + 1);
        const std::string name = path.substr(start + 1, end == std::string::npos ? end : end - start - 1);
        const Names &names = NamesIn(folder);
        const std::string folded = zarnik::FoldedLatin1(name);
        for (auto it = names.lower_bound(folded); it != names.end() && it->first == folded; ++it) {
            const std::string twin = folder + '\\' + it->second;
            // Deleted names stay here: only what stands in the new pack counts.
            if (it->second != name && !AtOrBelow(twin, own) && Exists(twin))
                return twin;
        }
        start = end;
    }
    return {};
}

} // namespace zarnik_pack
