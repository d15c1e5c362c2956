// What changed from the pack shown (A) to another version of it (B), as the
// window's tree shows it. The differences the library found become a record
// over A's own tree whose changes make it B: A's removed entries struck out
// where they stood, renamed ones at their new paths, modified ones with B's
// size, and B's added files and folders as the record's own nodes. So the
// one model shows both versions in one tree, with no second tree beside it,
// and the marks here tell the kinds of change apart. Plain data: made on
// the compare's worker, then read on the window's thread.
#pragma once

#include "Compare.h"
#include "EditRecord.h"
#include "RowMarks.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

class Comparison
{
public:
    using Node = zarnik::ArchiveNode;
    enum class Kind { Same, Added, Removed, Modified, Renamed };

    // `a` a pack; `b` a pack, a folder on disk or a saved hash list;
    // `result` what CompareSides found between them.
    Comparison(std::unique_ptr<const zarnik::CCompareSide> a, std::unique_ptr<const zarnik::CCompareSide> b,
               zarnik::CompareResult result);
    ~Comparison();

    const zarnik_pack::EditRecord &record() const { return *m_record; }
    const zarnik::CompareResult &result() const { return m_result; }
    const zarnik::CCompareSide &sideA() const { return *m_a; }
    const zarnik::CCompareSide &sideB() const { return *m_b; }

    Kind kindOf(const Node *node) const;
    // The differences the library lists at or below `node`.
    int changesBelow(const Node *node) const;
    // The file of each side that the row of `node` stands for; null where
    // that side holds none. B's may have no node: a folder's file, or a
    // hash list's, which holds no bytes.
    const zarnik::SideFile *fileInA(const Node *node) const;
    const zarnik::SideFile *fileInB(const Node *node) const;
    RowMarks marks(const Node *node) const;
    // Whether the Stored figure of a folder is B's: it holds B's changes, or
    // is B's own. Else it is A's, as the record counts it.
    bool storedIsB(const Node *folder) const;
    // B's folder's stored bytes; none where B stores none (a folder on disk,
    // a hash list) or holds no such folder.
    std::optional<uint64_t> storedInB(const Node *folder) const;
    // The files of B an export of the differences writes.
    int filesToExport() const;

private:
    void build();
    // The folder of the record at `path` ('\' between the folders), made
    // with those above it where B has it and A has not.
    const Node *folderAt(const std::string &path);
    // B's files below an added folder, but those renamed into it.
    void addBelow(const std::string &folder, const std::unordered_set<std::string> &renamedHere);
    void addFile(const zarnik::SideFile &file);
    void note(const Node *node, Kind kind);

    std::unique_ptr<const zarnik::CCompareSide> m_a, m_b;
    zarnik::CompareResult m_result;
    std::unique_ptr<zarnik_pack::EditRecord> m_record;
    std::unordered_map<const Node *, Kind> m_kinds;
    std::unordered_map<const Node *, int> m_below;
};
