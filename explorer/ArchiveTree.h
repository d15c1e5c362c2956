// The tree of an open pack: a view of PackModel (the pack as it will be
// saved, rows made as folders open) with the columns Name, Size, Stored and
// Ratio, sorted by any of them at a click on its header, the filter that
// narrows it (to a flat list of the matches with their paths when they are
// too many to unfold), the selection as nodes of the pack, and the start of
// a drag of the selection.
#pragma once

#include "ExportThread.h"
#include "PackEditFwd.h"
#include "PackModel.h"

#include <QTreeView>

#include <string>
#include <vector>

class ArchiveTree : public QTreeView
{
    Q_OBJECT

public:
    using Column = PackModel::Column;
    static constexpr Column NameColumn = PackModel::NameColumn, SizeColumn = PackModel::SizeColumn,
                            StoredColumn = PackModel::StoredColumn, RatioColumn = PackModel::RatioColumn;
    using Totals = zarnik::TreeTotals;
    using Node = zarnik::ArchiveNode;

    explicit ArchiveTree(QWidget *parent = nullptr);

    PackModel *packModel() const { return m_model; }
    // Shows the pack the record stands for (null: none), "content" alone
    // chosen; the record must stay until the next call.
    void showRecord(const zarnik_pack::EditRecord *record);

    static const Node *nodeOf(const QModelIndex &index) { return PackModel::nodeOf(index); }
    // A file's own numbers, or everything below a folder.
    Totals totals(const Node *node) const { return m_model->totals(node); }

    // Shows only the entries whose name matches `text` (see TreeFilter); ""
    // shows all. When few match, their folders are unfolded; when more, they
    // are listed flat, each with its path, in place of the tree. What it
    // hides leaves the selection. Returns the matching entries.
    int setFilter(const QString &text);
    bool isFlat() const { return m_model->isFlat(); }
    // How many of the matches the flat list shows.
    int listed() const { return int(m_model->filter().listed().size()); }

    // The record changed: the rows it touched follow, and `focus` (when
    // shown) becomes the current row; with a filter on, `focus` stays shown.
    void follow(const zarnik_pack::EditTouch &touched, const Node *focus);

    // What an export of the selection writes: each selected node whole, or,
    // with a filter on, only the matching entries below it, at their places
    // under it. Empty when nothing shown is selected.
    QList<ExportItem> exportItems() const;
    // The selected nodes in the pack's order, without those that lie below
    // another selected one (a folder brings them along).
    QList<const Node *> selectedNodes() const;
    // Their totals, summed.
    Totals selectedTotals() const;
    const Node *currentNode() const { return nodeOf(currentIndex()); }
    // Makes the row of `node` current and alone selected, unfolding the
    // folders above it; false when it is not shown.
    bool choose(const Node *node);
    // The paths of the folders open, and, in another tree, those opened
    // again; returns the node at `current` when it stands.
    QStringList expandedPaths() const;
    const Node *expandPaths(const QStringList &paths, const std::string &current);

    // A drag of the selection began and its button is still held.
    bool dragHeld() const { return m_dragHeld; }

signals:
    // The selection changed (also when a change or the filter made it anew).
    void selectionMoved();
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
    // The nodes of the open folders, outermost first.
    std::vector<const Node *> expandedNodes() const;
    // Unfolds each node shown, and selects `chosen` as they are.
    void restore(const std::vector<const Node *> &expanded, const QList<const Node *> &chosen, const Node *current);
    // The matches below `node` an export writes, each at its place below it.
    void addMatchesBelow(const Node *node, std::vector<const Node *> &folders, std::string &path,
                         QList<ExportItem> &items) const;

    // The rows or what they stand for changed: the selection is worked out
    // anew, and its sum too.
    void forgetSelection();

    PackModel *m_model;
    bool m_dragHeld = false;
    // The selection as last worked out, kept while it stands. A selection
    // that grew at its end (Shift+Page Down held over many rows) adds only
    // what it gained to the sum, instead of counting it all again.
    struct Chosen
    {
        bool current = false; // `nodes` is the selection now
        QList<const Node *> nodes;
        Totals sum;           // of the first `summed` nodes
        qsizetype summed = 0;
    };
    mutable Chosen m_chosen;
};
