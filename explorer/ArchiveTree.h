// The tree of an open pack: one item per node in the pack's order, with the
// columns Name, Size, Stored and Ratio (a folder shows the totals of all
// below it, summed once when the pack is shown), sorted by any of them at a
// click on its header, the filter that narrows it (to a flat list of the
// matches with their paths when they are too many to unfold), and the start
// of a drag of the selection.
#pragma once

#include "PackPath.h"
#include "ExportThread.h"

#include <QTreeWidget>

#include <QHash>
#include <QSet>

#include <string>
#include <vector>

namespace zarnik {
struct ArchiveNode;
} // namespace zarnik

class ArchiveTree : public QTreeWidget
{
    Q_OBJECT

public:
    enum Column { NameColumn, SizeColumn, StoredColumn, RatioColumn };

    using Totals = zarnik::TreeTotals;

    explicit ArchiveTree(QWidget *parent = nullptr);

    // Shows the tree below `root` (the pack's "content"); the items point at
    // its nodes, so clear() must come before the archive goes. The nodes of
    // `uncounted` (entries a pending change deletes) are shown but add to
    // no folder's totals.
    void showArchive(const zarnik::ArchiveNode *root,
                     const QSet<const zarnik::ArchiveNode *> &uncounted = {});
    void clear();

    static const zarnik::ArchiveNode *nodeOf(const QTreeWidgetItem *item);
    // A file's own numbers, or everything below a folder.
    Totals totals(const zarnik::ArchiveNode *node) const;

    // Shows only the entries whose name matches `text` (see NameFilter; a
    // text with a separator matches paths), their folders, and all below a
    // folder that matches; "" shows all. When few match, their folders are
    // unfolded; when more match than that, they are listed flat, each with
    // its path, in place of the tree. What it hides leaves the selection: no
    // command acts on what is not shown. Returns the matching entries.
    int setFilter(const QString &text);
    // The matches are listed flat (see setFilter()).
    bool isFlat() const { return !m_flatItems.isEmpty(); }
    // How many of the matches the flat list shows: the first in the order
    // asked for.
    int listed() const { return int(m_flatItems.size()); }

    // What an export of the selection writes: each selected node whole, or,
    // with a filter on, only the matching entries below it, at their places
    // under it. Empty when nothing shown is selected.
    QList<ExportItem> exportItems() const;

    // The selected nodes in the pack's order, without those that lie below
    // another selected one (a folder brings them along).
    QList<const zarnik::ArchiveNode *> selectedNodes() const;

    // "12.3 KB", "1 byte"; the sizes of the columns, the status bar, the
    // details and the export's summary.
    static QString sizeText(quint64 bytes);

    // Whether row `a` sorts before row `b` as the header asks, seen from
    // ascending: the pack's order with no column; by a column, the pack's
    // "content" first and folders before files in either direction, sizes
    // as numbers, paths without regard to case, ties in the pack's order.
    bool rowLess(int a, int b) const;

    // A drag of the selection began and its button is still held.
    bool dragHeld() const { return m_dragHeld; }

signals:
    // The user began to drag the selection out of the window.
    void dragRequested();
    // The button of that drag was let go (before the drag itself began).
    void dragReleased();

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    // While a drag waits for its files, moves select nothing.
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    struct Row
    {
        QTreeWidgetItem *item;
        const zarnik::ArchiveNode *node;
        int parent;  // row of the parent; -1 for the root
        int end;     // one past the last row below it
        std::string foldedName;
        bool hidden = false; // as last set on the item
        quint64 size = 0;    // unpacked, a folder's of all below it
        quint64 stored = 0;
    };
    Totals addNode(const zarnik::ArchiveNode *node, int parentRow, QTreeWidgetItem *parentItem);
    void setColumns(QTreeWidgetItem *item, const Totals &totals, bool isFolder);
    // The rows a filter matched, listed flat in the tree's order; none for
    // an empty list.
    void showFlat(std::vector<int> rows);
    void sortBy(int column, Qt::SortOrder order);
    int rowOf(const QTreeWidgetItem *item) const;

    // Per row, as the filter last left it.
    enum Match : unsigned char { NameMatches = 1, HoldsMatch = 2, BelowMatch = 4 };

    std::vector<Row> m_rows; // depth first, the pack's order
    QHash<const zarnik::ArchiveNode *, int> m_rowOf;
    std::vector<unsigned char> m_match; // empty: no filter
    QHash<const zarnik::ArchiveNode *, Totals> m_folderTotals;
    const QSet<const zarnik::ArchiveNode *> *m_uncounted = nullptr; // while showArchive runs
    QIcon m_folderIcon;
    QIcon m_documentIcon;
    bool m_dragHeld = false;
    QList<QTreeWidgetItem *> m_flatItems; // top-level, after the root
    std::vector<int> m_flatRows;          // every match the list stands for
    bool m_sortReady = false;
    int m_sortColumn = -1; // -1: the pack's order
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};
