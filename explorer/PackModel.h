// The open pack as the model of the window's tree view: rows made from the
// pack writer's record of the edit (EditRecord), folder by folder as the
// view asks for them, so that a pack of a million entries costs the rows on
// the screen. The record gives the pack as it will be saved, with what a
// pending change deletes where it stood; the model adds the columns (Name,
// Size, Stored, Ratio), the marks of pending changes, the order a header
// asks for and the filter's narrowing (TreeFilter).
//
// A row's look comes from its marks (RowMarks): today those of pending
// changes; another kind of marking (a comparison, a search) can sit beside
// them through setExtraMarks().
#pragma once

#include "PackPath.h"
#include "RowMarks.h"
#include "TreeFilter.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <functional>
#include <string_view>
#include <memory>
#include <unordered_map>
#include <vector>

namespace zarnik_pack {
class EditRecord;
struct EditTouch;
} // namespace zarnik_pack

class PackModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Column { NameColumn, SizeColumn, StoredColumn, RatioColumn, ColumnCount };
    // A row's node, as a quintptr.
    static constexpr int NodeRole = Qt::UserRole;
    using Node = zarnik::ArchiveNode;

    explicit PackModel(QObject *parent = nullptr);
    ~PackModel() override;

    // The record to show, null for none; it stays until the next call.
    void setRecord(const zarnik_pack::EditRecord *record);
    const zarnik_pack::EditRecord *record() const { return m_record; }
    // Marks another kind of marking adds to a row's (the pending changes').
    void setExtraMarks(std::function<RowMarks(const Node *)> marks);
    // How the record's own changes are marked, set with the record it is
    // for; none: as pending changes (pendingMarks). A comparison's record
    // stands for another version of the pack, not for changes to save.
    void setChangeMarks(std::function<RowMarks(const Node *)> marks) { m_changeMarks = std::move(marks); }
    // Which rows a folder lists (with the filter's say too); none: all.
    // The rows are made anew.
    void setShown(std::function<bool(const Node *)> shown);

    static const Node *nodeOf(const QModelIndex &index);
    // The row of `node`, made with those above it; invalid when it is not shown.
    QModelIndex indexOf(const Node *node);
    // What a row stands for: a file's own numbers, everything below a folder.
    zarnik::TreeTotals totals(const Node *node) const;
    RowMarks marksOf(const Node *node) const;
    // A file whose bytes are not in the pack yet (added or replaced).
    bool bytesPending(const Node *node) const;
    bool isDeleted(const Node *node) const;

    // Narrows the rows to `text` (see TreeFilter); "" shows all. `keep` stays
    // shown whatever its name (the entry a change just touched). The rows
    // are made anew.
    void setFilter(const QString &text, const Node *keep = nullptr);
    const TreeFilter &filter() const { return m_filter; }
    bool isFlat() const { return m_filter.isFlat(); }

    // The record changed: the rows the change touched follow it.
    void follow(const zarnik_pack::EditTouch &touched);

    // Whether the row of `a` (named `aName`, the `aOrder`th in the pack's
    // order) comes before that of `b` in the order the header asks for:
    // by its column, folders first in either direction, sizes as numbers,
    // names without regard to case, ties in the pack's order.
    bool before(const Node *a, std::string_view aName, int aOrder, const Node *b, std::string_view bName,
                int bOrder) const;
    // Whether row `a` comes before row `b` in the pack's order: in the tree
    // as the record lists it, or in the flat list as the walk met them.
    bool packOrderLess(const QModelIndex &a, const QModelIndex &b) const;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    void sort(int column, Qt::SortOrder order) override;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

private:
    struct Row;
    struct Look;

    // A row's numbers for sorting: its totals, and whether it shows as a folder.
    struct Key
    {
        bool folder;
        quint64 size, stored;
    };
    Key keyOf(const Node *node) const;
    bool shownAsFolder(const Node *node) const;
    Row *rowOf(const QModelIndex &index) const;
    QModelIndex indexOfRow(const Row *row, int column = 0) const;
    // Makes a folder row's children when they are first asked for.
    void list(Row *row) const;
    // The nodes a folder row shows, in the order asked for.
    std::vector<const Node *> listing(const Row *row) const;
    // Whether row `a` comes before row `b` in the order asked for.
    bool rowBefore(const std::unique_ptr<Row> &a, const std::unique_ptr<Row> &b) const;
    void sortRows(std::vector<std::unique_ptr<Row>> &rows) const;
    void renumber(Row *row) const;
    const Look &look(const Row *row) const;
    void forget(Row *row);
    void sortAll(Row *row);
    // A listed folder row brought to what the record says now.
    void refresh(Row *row);
    // The rows whose marks or totals a change may have changed shown again.
    void showAgain(const zarnik_pack::EditTouch &touched);
    // The same for many rows at once, as one change of the layout: the rows
    // whose nodes have no place in `order` go, `fresh` come.
    void replaceRows(Row *row, const std::unordered_map<const Node *, int> &order,
                     std::vector<std::unique_ptr<Row>> fresh);
    // Up to this many rows come or go one by one, each with its own signals.
    static constexpr size_t kRowsOneByOne = 16;
    // After rows moved within their parents: the view's indexes follow them.
    void movePersistentIndexes();
    void buildRoot();

    const zarnik_pack::EditRecord *m_record = nullptr;
    std::function<RowMarks(const Node *)> m_extraMarks;
    std::function<RowMarks(const Node *)> m_changeMarks;
    std::function<bool(const Node *)> m_shown;
    std::unique_ptr<Row> m_root; // above the top rows: "content", or the flat list
    mutable std::unordered_map<const Node *, Row *> m_rowOf; // the tree's rows
    TreeFilter m_filter;
    int m_sortColumn = -1; // -1: the pack's order
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QIcon m_folderIcon, m_documentIcon;
};
