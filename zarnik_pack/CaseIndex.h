// Names of the pack being changed that differ only in case from a new one
// beside them. Windows, where the game runs, takes two such names for one
// file: a pack holding both loses one of them when extracted there, so a
// change never makes such a pair.
#pragma once

#include <map>
#include <set>
#include <string>

namespace zarnik_pack {

class CaseIndex
{
public:
    // `files`: the paths of the new pack's files, kept up to date by the edit.
    explicit CaseIndex(const std::set<std::string> &files) : m_Files(files) {}

    // `path` is now a file of the new pack.
    void Note(const std::string &path);

    // A file or folder of the new pack beside which a name of `path` differs
    // from it only in case (the first such, from the root down); empty when
    // there is none. What stands at or below `own` (the entry being renamed)
    // is no twin of it.
    std::string TwinOf(const std::string &path, const std::string &own) const;

private:
    // Folded name -> names as they are, of the files and folders in a folder.
    using Names = std::multimap<std::string, std::string>;
    // A folder's names, gathered from the files when first asked for.
    const Names &NamesIn(const std::string &folder) const;
    bool Exists(const std::string &path) const;

    const std::set<std::string> &m_Files;
    mutable std::map<std::string, Names> m_Folders;
};

} // namespace zarnik_pack
