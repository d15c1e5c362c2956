// The changes made to the open pack and not yet saved: the pack writer's
// edit of it, the changes in the order they were made (so the last can be
// taken back), what each entry became (added, replaced, renamed, deleted)
// and a tree of folder nodes the window shows in place of the pack's own.
// It reads nothing itself: every change is checked by the edit.
#pragma once

#include "PackEdit.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zarnik {
class CZarnikArchive;
struct ArchiveNode;
} // namespace zarnik

class PendingChanges
{
public:
    enum Mark { Unchanged, Added, Replaced, Renamed, Deleted };

    // One step of a change, as the edit takes it: paths in the pack's 8-bit
    // form with '\', `diskPath` in the system's.
    struct Step
    {
        enum Kind { Add, Replace, Delete, Rename } kind;
        std::string path;
        std::string other; // Add and Replace: the file on disk; Rename: the new path
    };

    // `archive` opened from `packPath` must outlive this object.
    PendingChanges(const zarnik::CZarnikArchive &archive, const std::string &packPath);

    // Whether the pack can be changed, and why not.
    bool usable() const { return m_edit->Usable(); }
    QString refusal() const { return QString::fromStdString(m_edit->Reason()); }

    // Applies the steps as one change that Undo takes back whole; false, with
    // reason(), and nothing changed when the edit refuses any of them.
    bool apply(const std::vector<Step> &steps);
    QString reason() const { return m_reason; }
    // Takes back the last change.
    void undo();
    bool isEmpty() const { return m_changes.empty(); }

    const zarnik_pack::PackEdit &edit() const { return *m_edit; }

    // The pack as it would be saved, with the entries deleted since it was
    // opened in their old places; valid until the change after the next.
    const zarnik::ArchiveNode *root() const { return m_root; }
    Mark markOf(const zarnik::ArchiveNode *node) const { return m_marks.value(node, Unchanged); }
    // For a renamed entry: its path in the pack as opened.
    std::string oldPath(const zarnik::ArchiveNode *node) const;
    // For an added or replaced file: the file on the disk its bytes come from.
    std::string sourceOf(const zarnik::ArchiveNode *node) const;
    // The deleted entries the tree shows (counted in no total).
    QSet<const zarnik::ArchiveNode *> deleted() const;

private:
    // The edit again from the pack and the changes; then the tree anew.
    void replay();
    void buildTree();
    bool applyStep(const Step &step);
    const zarnik::ArchiveNode *folder(const std::string &path);
    void addFile(const zarnik::ArchiveNode *file, Mark mark);

    const zarnik::CZarnikArchive &m_archive;
    std::string m_packPath;
    std::unique_ptr<zarnik_pack::PackEdit> m_edit;
    std::vector<std::vector<Step>> m_changes;
    QString m_reason;
    // Per path of the new pack: how it came to be; for replaced and renamed
    // entries also the original entry.
    struct Origin
    {
        Mark mark;
        const zarnik::ArchiveNode *original;
        std::string source; // Added and Replaced: the file on the disk
    };
    std::map<std::string, Origin> m_origins;

    std::deque<zarnik::ArchiveNode> m_nodes;      // the tree's own nodes
    std::deque<zarnik::ArchiveNode> m_shownNodes; // the last tree's, which the window may still show
    std::map<std::string, zarnik::ArchiveNode *> m_folders;
    const zarnik::ArchiveNode *m_root = nullptr;
    QHash<const zarnik::ArchiveNode *, Mark> m_marks;
    QHash<const zarnik::ArchiveNode *, const zarnik::ArchiveNode *> m_renamedFrom;
};
