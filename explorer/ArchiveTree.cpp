#include "ArchiveTree.h"

#include "ShownText.h"

#include "NameFilter.h"
#include "ZarnikArchive.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLocale>
#include <QMouseEvent>
#include <QStyledItemDelegate>

#include <algorithm>

using zarnik::ArchiveNode;

namespace {

// Numbers read best flush right; one delegate says so for every cell, where
// an alignment per item would cost three more values per item.
class NumberColumnsDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() != ArchiveTree::NameColumn)
            option->displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
    }
};

// Up to this many shown entries, a filter unfolds their folders: more would
// be a tree to scroll, not an answer, and the matches are listed flat.
const int kUnfoldAtMost = 2000;
// The flat list shows the first this many matches in the order asked for:
// the largest files are there, and a keystroke over a million names makes
// no million items.
const int kListAtMost = 2000;

// An item that knows its row: sorting compares the rows' numbers and
// names, never the texts shown.
class ArchiveItem : public QTreeWidgetItem
{
public:
    ArchiveItem(const QString &name, int row)
        : QTreeWidgetItem(QStringList(name), UserType)
        , row(row)
    {
    }
    const int row;

    bool operator<(const QTreeWidgetItem &other) const override
    {
        const auto *tree = static_cast<const ArchiveTree *>(treeWidget());
        return tree->rowLess(row, static_cast<const ArchiveItem &>(other).row);
    }
};

} // namespace

ArchiveTree::ArchiveTree(QWidget *parent)
    : QTreeWidget(parent)
{
    // Every item gets its own QIcon, but the copies share these two: loading
    // the picture from the resource once per item would dominate the time a
    // large pack takes to show.
    m_folderIcon = QIcon(QStringLiteral(":/icons/folder.png"));
    m_documentIcon = QIcon(QStringLiteral(":/icons/document.png"));
    setItemDelegate(new NumberColumnsDelegate(this));
    connect(header(), &QHeaderView::sortIndicatorChanged, this, &ArchiveTree::sortBy);
}

const ArchiveNode *ArchiveTree::nodeOf(const QTreeWidgetItem *item)
{
    return item ? reinterpret_cast<const ArchiveNode *>(item->data(0, Qt::UserRole).value<quintptr>())
                : nullptr;
}

QString ArchiveTree::sizeText(quint64 bytes)
{
    // As QLocale::formattedDataSize() in its traditional form writes it, at
    // a fraction of the cost: three of these per item of a large pack.
    static const QString units[] = {tr("bytes"), tr("kB"), tr("MB"), tr("GB"), tr("TB")};
    static const QLocale locale;
    static const QString decimalPoint = locale.decimalPoint();
    // Whole numbers from 1,000 on take the locale's separator.
    const auto whole = [](quint64 n) { return n < 1000 ? QString::number(n) : locale.toString(n); };
    if (bytes == 1)
        return tr("1 byte");
    if (bytes < 1024)
        return whole(bytes) + QLatin1Char(' ') + units[0];
    int unit = 0;
    quint64 scaled = bytes;
    while (scaled >= 1024 * 1024 && unit < 3) {
        scaled /= 1024;
        ++unit;
    }
    // Tenths, rounded half up, as the locale's formatting rounds.
    const quint64 tenths = (scaled * 10 + 512) / 1024;
    return whole(tenths / 10) + decimalPoint + QString::number(tenths % 10)
        + QLatin1Char(' ') + units[unit + 1];
}

void ArchiveTree::clear()
{
    m_flatItems.clear(); // QTreeWidget::clear() deletes them
    m_flatRows.clear();
    QTreeWidget::clear();
    m_rows.clear();
    m_rowOf.clear();
    m_match.clear();
    m_folderTotals.clear();
}

void ArchiveTree::showArchive(const ArchiveNode *root, const QSet<const ArchiveNode *> &uncounted)
{
    clear();
    if (!root)
        return;
    if (!m_sortReady) {
        // Each run starts in the pack's order; a header clicked sorts by its
        // column, ascending, descending, then the pack's order again.
        m_sortReady = true;
        header()->setSectionsClickable(true);
        header()->setSortIndicatorShown(true);
        header()->setSortIndicatorClearable(true);
        header()->setSortIndicator(-1, Qt::AscendingOrder);
    }
    m_rows.reserve(4096);
    // Translated in the window's context, as before the tree had a class.
    auto *top = new ArchiveItem(QCoreApplication::translate("MainWindow", "content"), 0);
    top->setIcon(0, m_folderIcon);
    top->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(root)));
    m_rows.push_back({top, root, -1, 0, NameFilter::fold(root->m_Name)});
    Totals all;
    m_uncounted = &uncounted;
    for (const ArchiveNode *child : root->m_Children) {
        const Totals below = addNode(child, 0, top);
        if (!uncounted.contains(child))
            all.AddChild(*child, below);
    }
    m_uncounted = nullptr;
    m_rows[0].end = int(m_rows.size());
    m_rowOf.reserve(qsizetype(m_rows.size()));
    for (size_t i = 0; i < m_rows.size(); ++i)
        m_rowOf.insert(m_rows[i].node, int(i));
    m_folderTotals.insert(root, all);
    m_rows[0].size = all.unpackedBytes;
    m_rows[0].stored = all.storedBytes;
    setColumns(top, all, true);
    addTopLevelItem(top);
    if (m_sortColumn >= 0)
        model()->sort(m_sortColumn, m_sortOrder);
}

ArchiveTree::Totals ArchiveTree::addNode(const ArchiveNode *node, int parentRow,
                                         QTreeWidgetItem *parentItem)
{
    // Translation looks names up by their shown UTF-8 form, which is also
    // what it gives back when nothing is installed.
    const QString name = shownText(node->m_Name);
    const int row = int(m_rows.size());
    auto *item = new ArchiveItem(QCoreApplication::translate("MainWindow", name.toUtf8().constData()), row);
    item->setIcon(0, node->IsFolder() ? m_folderIcon : m_documentIcon);
    m_rows.push_back({item, node, parentRow, 0, NameFilter::fold(node->m_Name)});

    Totals totals;
    if (node->IsFolder()) {
        for (const ArchiveNode *child : node->m_Children) {
            const Totals below = addNode(child, row, item);
            if (!m_uncounted->contains(child))
                totals.AddChild(*child, below);
        }
        m_folderTotals.insert(node, totals);
    } else {
        totals = Totals::OfFile(*node);
    }
    m_rows[size_t(row)].end = int(m_rows.size());
    m_rows[size_t(row)].size = totals.unpackedBytes;
    m_rows[size_t(row)].stored = totals.storedBytes;
    setColumns(item, totals, node->IsFolder());
    item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)));
    // Children first, then the item into its parent: the view is not told
    // of each item on its way.
    parentItem->addChild(item);
    return totals;
}

void ArchiveTree::setColumns(QTreeWidgetItem *item, const Totals &totals, bool isFolder)
{
    if (isFolder && totals.files == 0)
        return; // nothing to sum
    item->setText(SizeColumn, sizeText(totals.unpackedBytes));
    item->setText(StoredColumn, sizeText(totals.storedBytes));
    if (totals.unpackedBytes != 0)
        item->setText(RatioColumn,
                      QString::number(double(totals.storedBytes) * 100.0 / double(totals.unpackedBytes), 'f', 0)
                          + QLatin1Char('%'));
}

ArchiveTree::Totals ArchiveTree::totals(const ArchiveNode *node) const
{
    if (!node)
        return {};
    if (node->IsFolder())
        return m_folderTotals.value(node);
    return Totals::OfFile(*node);
}

int ArchiveTree::setFilter(const QString &text)
{
    const NameFilter filter(text);
    const size_t count = m_rows.size();
    if (count == 0)
        return 0;
    // Per row: 1 its name matches, 2 something below it matches.
    std::vector<unsigned char> match(count, 0);
    std::vector<int> matches;
    if (!filter.isEmpty()) {
        // Children come after their parent: walking backwards, every row is
        // complete before it tells its parent.
        for (size_t i = count; i-- > 1;) {
            const ArchiveNode *node = m_rows[i].node;
            if (filter.matches(filter.matchesPaths() ? NameFilter::fold(node->m_Path)
                                                     : m_rows[i].foldedName)) {
                match[i] |= 1;
                matches.push_back(int(i));
            }
            if (match[i] != 0)
                match[size_t(m_rows[i].parent)] |= 2;
        }
    }
    // Forward: a row is shown when its parent is, and it matches, holds a
    // match, or lies below a folder that matched. The root always stands.
    std::vector<unsigned char> shown(count, 0), underMatch(count, 0);
    shown[0] = 1;
    bool hidesSelected = false;
    int shownRows = 0;
    for (size_t i = 1; i < count; ++i) {
        const size_t parent = size_t(m_rows[i].parent);
        if (!shown[parent]) {
            i = size_t(m_rows[i].end) - 1; // nothing below a hidden row needs a change
            continue;
        }
        underMatch[i] = underMatch[parent] || (match[i] & 1);
        shown[i] = filter.isEmpty() || underMatch[i] || match[i] != 0;
        shownRows += shown[i];
        if (m_rows[i].hidden == !shown[i])
            continue;
        m_rows[i].hidden = !shown[i];
        m_rows[i].item->setHidden(!shown[i]);
        hidesSelected = hidesSelected || !shown[i];
    }
    if (filter.isEmpty()) {
        m_match.clear();
    } else {
        for (size_t i = 0; i < count; ++i)
            match[i] |= underMatch[i] ? BelowMatch : 0;
        m_match = std::move(match);
    }
    const bool flat = !filter.isEmpty() && shownRows > kUnfoldAtMost;
    if (flat || isFlat())
        clearSelection(); // the items chosen go, or hide below the root
    m_rows[0].item->setHidden(flat);
    std::reverse(matches.begin(), matches.end()); // the pack's order
    showFlat(flat ? matches : std::vector<int>());
    // A row below a hidden one is hidden too, though its own flag may say
    // otherwise: the selection is asked, not the rows.
    if (hidesSelected) {
        for (QTreeWidgetItem *item : selectedItems()) {
            bool visible = true;
            for (int r = rowOf(item); visible && r > 0; r = m_rows[size_t(r)].parent)
                visible = !m_rows[size_t(r)].hidden;
            if (!visible)
                item->setSelected(false);
        }
    }
    if (!filter.isEmpty() && !flat) {
        for (size_t i = 0; i < count; ++i)
            if ((m_match[i] & HoldsMatch) && shown[i])
                m_rows[i].item->setExpanded(true);
    }
    return int(matches.size());
}

void ArchiveTree::showFlat(std::vector<int> rows)
{
    // From the last: each item leaves the end of the list, not its front.
    while (!m_flatItems.isEmpty())
        delete m_flatItems.takeLast();
    m_flatRows = std::move(rows);
    if (m_flatRows.empty())
        return;
    std::vector<int> order(m_flatRows);
    const auto first = [this](int a, int b) {
        return m_sortOrder == Qt::AscendingOrder ? rowLess(a, b) : rowLess(b, a);
    };
    const auto listed = order.begin() + std::min<ptrdiff_t>(kListAtMost, ptrdiff_t(order.size()));
    std::partial_sort(order.begin(), listed, order.end(), first);
    order.erase(listed, order.end());
    m_flatItems.reserve(qsizetype(order.size()));
    for (int row : order) {
        const ArchiveNode *node = m_rows[size_t(row)].node;
        auto *item = new ArchiveItem(shownText(node->m_Path), row);
        item->setIcon(0, node->IsFolder() ? m_folderIcon : m_documentIcon);
        item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)));
        setColumns(item, totals(node), node->IsFolder());
        m_flatItems.append(item);
    }
    addTopLevelItems(m_flatItems);
}

int ArchiveTree::rowOf(const QTreeWidgetItem *item) const
{
    return static_cast<const ArchiveItem *>(item)->row;
}

void ArchiveTree::sortBy(int column, Qt::SortOrder order)
{
    m_sortColumn = column;
    m_sortOrder = column < 0 ? Qt::AscendingOrder : order;
    // The model's own sort, not sortItems(), which would set the header's
    // indicator again; the selection and the current item stay.
    if (!m_rows.empty())
        model()->sort(NameColumn, m_sortOrder);
    if (isFlat()) {
        clearSelection(); // the items chosen go
        showFlat(std::move(m_flatRows)); // its first items by the new order
    }
}

bool ArchiveTree::rowLess(int a, int b) const
{
    if (m_sortColumn < 0 || a == b)
        return a < b;
    // What comes first whichever the direction: the pack's root, then
    // folders. Descending, Qt asks whether b < a.
    const bool ascending = m_sortOrder == Qt::AscendingOrder;
    const Row &x = m_rows[size_t(a)], &y = m_rows[size_t(b)];
    if (a == 0 || b == 0)
        return (a == 0) == ascending;
    if (x.node->IsFolder() != y.node->IsFolder())
        return x.node->IsFolder() == ascending;
    const auto ratio = [](const Row &r) { return r.size ? double(r.stored) / double(r.size) : -1.0; };
    int order = 0;
    switch (m_sortColumn) {
    case SizeColumn:
        order = x.size < y.size ? -1 : x.size > y.size;
        break;
    case StoredColumn:
        order = x.stored < y.stored ? -1 : x.stored > y.stored;
        break;
    case RatioColumn:
        order = ratio(x) < ratio(y) ? -1 : ratio(x) > ratio(y);
        break;
    }
    if (order == 0)
        order = NameFilter::compareFolded(x.node->m_Path, y.node->m_Path);
    if (order == 0)
        return (a < b) == ascending;
    return order < 0;
}

QList<const ArchiveNode *> ArchiveTree::selectedNodes() const
{
    // A tree item and a flat one are never chosen together: the flat list
    // hides the tree.
    std::vector<int> rows;
    for (const QTreeWidgetItem *item : selectedItems())
        rows.push_back(rowOf(item));
    std::sort(rows.begin(), rows.end());
    QList<const ArchiveNode *> nodes;
    int end = 0;
    for (int row : rows) {
        if (row < end)
            continue; // what lies below a chosen folder comes along
        nodes << m_rows[size_t(row)].node;
        end = m_rows[size_t(row)].end;
    }
    return nodes;
}

QList<ExportItem> ArchiveTree::exportItems() const
{
    QList<ExportItem> items;
    for (const ArchiveNode *node : selectedNodes()) {
        const int row = m_rowOf.value(node, -1);
        if (row < 0)
            continue;
        if (m_match.empty() || (m_match[size_t(row)] & (NameMatches | BelowMatch))) {
            items.append(ExportItem{node, {}});
            continue;
        }
        // Each match below, whole, at its place below the selected node.
        for (int i = row + 1; i < m_rows[size_t(row)].end; ++i) {
            if (!(m_match[size_t(i)] & NameMatches))
                continue;
            ExportItem item{m_rows[size_t(i)].node, {}};
            for (int r = m_rows[size_t(i)].parent; r >= row; r = m_rows[size_t(r)].parent) {
                item.leadingFolders.insert(item.leadingFolders.begin(), m_rows[size_t(r)].node);
                if (r == row)
                    break;
            }
            items.append(item);
            i = m_rows[size_t(i)].end - 1; // all below comes along
        }
    }
    return items;
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
    QTreeWidget::mouseMoveEvent(event);
}

void ArchiveTree::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeWidget::mouseReleaseEvent(event);
    if (m_dragHeld) {
        m_dragHeld = false;
        emit dragReleased();
    }
}
