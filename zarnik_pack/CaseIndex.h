// Names of the pack being changed that differ only in case from a new one
// beside them. Windows, where the game runs, takes two such names for one
// file: a pack holding both loses one of them when extracted there, so a
// change never makes such a pair.
#pragma once

#include "EditRecord.h"

#include <map>
#include <string>
#include <unordered_map>

namespace zarnik_pack {

class CaseIndex
{
public:
    using Node = zarnik::ArchiveNode;

    explicit CaseIndex(const EditRecord &record) : m_Record(record) {}

    // `node` stands at a new place or under a new name in the record.
    void Note(const Node *node);
    // The record went back (undo, cancel): every folder is gathered anew.
    void Forget() { m_Folders.clear(); }

    // A file or folder of the new pack beside which a name of `path` ('\'
    // separators) differs from it only in case (the first such, from the
    // root down), or null. `own` (the node being renamed) is no twin.
    const Node *TwinOf(const std::string &path, const Node *own) const;

private:
    // Folded name -> the nodes that stood in a folder under such a name.
    using Names = std::multimap<std::string, const Node *>;
    // A folder's names, gathered from the record when first asked for.
    const Names &NamesIn(const Node *folder) const;

    const EditRecord &m_Record;
    mutable std::unordered_map<const Node *, Names> m_Folders;
};

} // namespace zarnik_pack
