#include "ArchiveTree.h"

#include "EditRecord.h"

#include <QHeaderView>
#include <QMouseEvent>

#include <algorithm>
#include <unordered_set>

using zarnik::ArchiveNode;

ArchiveTree::ArchiveTree(QWidget *parent)
    : QTreeView(parent)
    , m_model(new PackModel(this))
{
    setModel(m_model);
    // Each run starts in the pack's order; a header clicked sorts by its
    // column, ascending, descending, then the pack's order again.
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(true);
    header()->setSortIndicatorClearable(true);
    header()->setSortIndicator(-1, Qt::AscendingOrder);
    connect(header(), &QHeaderView::sortIndicatorChanged, this, [this](int column, Qt::SortOrder order) {
        const bool flat = isFlat();
        m_model->sort(column, order);
        // The flat list is made anew by its first rows in the new order.
        if (flat)
            emit selectionMoved();
    });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        m_chosen.current = false;
        emit selectionMoved();
    });
    // Rows that come, go or move change the selection's nodes or their
    // order without a word from the selection; a change of the pack comes
    // through follow().
    connect(m_model, &QAbstractItemModel::modelReset, this, &ArchiveTree::forgetSelection);
    connect(m_model, &QAbstractItemModel::layoutChanged, this, &ArchiveTree::forgetSelection);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &ArchiveTree::forgetSelection);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &ArchiveTree::forgetSelection);
    connect(m_model, &QAbstractItemModel::rowsMoved, this, &ArchiveTree::forgetSelection);
}

void ArchiveTree::forgetSelection()
{
    m_chosen = Chosen();
}

void ArchiveTree::showRecord(const zarnik_pack::EditRecord *record)
{
    forgetSelection();
    m_model->setRecord(record);
    if (record)
        setCurrentIndex(m_model->index(0, 0));
    emit selectionMoved();
}

std::vector<const ArchiveNode *> ArchiveTree::expandedNodes() const
{
    std::vector<const Node *> expanded;
    std::vector<QModelIndex> open{QModelIndex()};
    while (!open.empty()) {
        const QModelIndex parent = open.back();
        open.pop_back();
        if (parent.isValid() && !isExpanded(parent))
            continue;
        if (parent.isValid())
            expanded.push_back(nodeOf(parent));
        for (int row = m_model->rowCount(parent); row-- > 0;)
            if (m_model->hasChildren(m_model->index(row, 0, parent)))
                open.push_back(m_model->index(row, 0, parent));
    }
    return expanded;
}

void ArchiveTree::restore(const std::vector<const Node *> &expanded, const QList<const Node *> &chosen,
                          const Node *current)
{
    for (const Node *node : expanded) {
        const QModelIndex index = m_model->indexOf(node);
        if (index.isValid())
            setExpanded(index, true);
    }
    QItemSelection selection;
    for (const Node *node : chosen) {
        const QModelIndex index = m_model->indexOf(node);
        if (index.isValid())
            selection.select(index, index.siblingAtColumn(PackModel::ColumnCount - 1));
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    const QModelIndex index = m_model->indexOf(current);
    if (index.isValid())
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

int ArchiveTree::setFilter(const QString &text)
{
    const std::vector<const Node *> expanded = expandedNodes();
    const QList<const Node *> chosen = selectedNodes();
    const Node *current = currentNode();
    const bool wasFlat = isFlat();
    m_model->setFilter(text);
    if (!isFlat())
        for (const Node *holder : m_model->filter().holders())
            setExpanded(m_model->indexOf(holder), true);
    // Going to or from the flat list, the rows chosen go.
    restore(expanded, isFlat() || wasFlat ? QList<const Node *>() : chosen, current);
    emit selectionMoved();
    return m_model->filter().matches();
}

void ArchiveTree::follow(const zarnik_pack::EditTouch &touched, const Node *focus)
{
    forgetSelection();
    if (m_model->filter().isOn()) {
        // The rows a filter shows are found again, the entry changed with them.
        const std::vector<const Node *> expanded = expandedNodes();
        const QList<const Node *> chosen = selectedNodes();
        m_model->setFilter(m_model->filter().text(), focus);
        restore(expanded, chosen, currentNode());
    } else {
        m_model->follow(touched);
    }
    if (!focus || !choose(focus))
        emit selectionMoved();
}

bool ArchiveTree::choose(const Node *node)
{
    const QModelIndex index = m_model->indexOf(node);
    if (!index.isValid())
        return false;
    for (QModelIndex above = index.parent(); above.isValid(); above = above.parent())
        setExpanded(above, true);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
    return true;
}

QList<const ArchiveNode *> ArchiveTree::selectedNodes() const
{
    if (!m_model->record())
        return {};
    if (m_chosen.current)
        return m_chosen.nodes;
    QModelIndexList rows = selectionModel()->selectedRows(NameColumn);
    const auto packOrder = [this](const QModelIndex &a, const QModelIndex &b) { return m_model->packOrderLess(a, b); };
    if (!std::is_sorted(rows.begin(), rows.end(), packOrder))
        std::sort(rows.begin(), rows.end(), packOrder);
    std::unordered_set<const Node *> chosen;
    for (const QModelIndex &row : rows)
        chosen.insert(nodeOf(row));
    // What lies below a chosen folder comes along with it.
    QList<const Node *> nodes;
    for (const QModelIndex &row : rows) {
        const Node *node = nodeOf(row);
        bool below = false;
        for (const Node *up = m_model->record()->Parent(node); up && !below; up = m_model->record()->Parent(up))
            below = chosen.count(up) != 0;
        if (!below)
            nodes << node;
    }
    // The sum so far stands when the selection only grew at its end.
    const QList<const Node *> &was = m_chosen.nodes;
    if (m_chosen.summed > nodes.size() || !std::equal(was.begin(), was.begin() + m_chosen.summed, nodes.begin()))
        m_chosen.sum = Totals(), m_chosen.summed = 0;
    m_chosen.nodes = nodes;
    m_chosen.current = true;
    return nodes;
}

ArchiveTree::Totals ArchiveTree::selectedTotals() const
{
    const QList<const Node *> nodes = selectedNodes();
    for (; m_chosen.summed < nodes.size(); ++m_chosen.summed)
        m_chosen.sum += totals(nodes[m_chosen.summed]);
    return m_chosen.sum;
}

void ArchiveTree::addMatchesBelow(const Node *node, std::vector<const Node *> &folders, std::string &path,
                                  QList<ExportItem> &items) const
{
    const zarnik_pack::EditRecord &record = *m_model->record();
    const TreeFilter &filter = m_model->filter();
    folders.push_back(node);
    for (const Node *child : record.Children(node)) {
        const size_t at = path.size();
        path.append(1, '\\').append(record.Name(child));
        if (filter.matches(filter.matchesPaths() ? path : record.Name(child)))
            items.append(ExportItem{child, folders}); // all below comes along
        else if (!record.IsFile(child))
            addMatchesBelow(child, folders, path, items);
        path.resize(at);
    }
    folders.pop_back();
}

QList<ExportItem> ArchiveTree::exportItems() const
{
    QList<ExportItem> items;
    const TreeFilter &filter = m_model->filter();
    for (const Node *node : selectedNodes()) {
        const zarnik_pack::EditRecord &record = *m_model->record();
        // Whole when it matches or lies below a folder that does.
        bool whole = !filter.isOn();
        for (const Node *up = node; up && !whole; up = record.Parent(up))
            whole = filter.matches(filter.matchesPaths() ? record.Path(up) : record.Name(up));
        if (whole) {
            items.append(ExportItem{node, {}});
            continue;
        }
        std::vector<const Node *> folders;
        std::string path = record.Path(node);
        addMatchesBelow(node, folders, path, items);
    }
    return items;
}

QStringList ArchiveTree::expandedPaths() const
{
    QStringList paths;
    for (const Node *node : expandedNodes())
        paths << QString::fromLatin1(QByteArray::fromStdString(m_model->record()->Path(node)));
    return paths;
}

const ArchiveNode *ArchiveTree::expandPaths(const QStringList &paths, const std::string &current)
{
    if (!m_model->record())
        return nullptr;
    for (const QString &path : paths) {
        const QModelIndex index = m_model->indexOf(m_model->record()->Find(path.toLatin1().toStdString()));
        if (index.isValid())
            setExpanded(index, true);
    }
    return current.empty() ? nullptr : m_model->record()->Find(current);
}

void ArchiveTree::startDrag(Qt::DropActions)
{
    // The drag itself comes later, once its files are written: until the
    // button is let go, the view's own dragging is over and its moves would
    // extend the selection.
    m_dragHeld = true;
    emit dragRequested();
}

void ArchiveTree::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragHeld && (event->buttons() & Qt::LeftButton)) {
        event->accept();
        return;
    }
    m_dragHeld = false; // the release went elsewhere
    QTreeView::mouseMoveEvent(event);
}

void ArchiveTree::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeView::mouseReleaseEvent(event);
    if (m_dragHeld) {
        m_dragHeld = false;
        emit dragReleased();
    }
}
