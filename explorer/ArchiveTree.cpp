#include "ArchiveTree.h"

#include "ShownText.h"

#include "NameFilter.h"
#include "ZarnikArchive.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLocale>
#include <QMouseEvent>
#include <QSet>
#include <QStyledItemDelegate>

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
// be a list to scroll, not an answer.
const int kUnfoldAtMost = 2000;

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
    m_rows.reserve(4096);
    // Translated in the window's context, as before the tree had a class.
    auto *top = new QTreeWidgetItem(
        QStringList(QCoreApplication::translate("MainWindow", "content")), QTreeWidgetItem::Type);
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
    setColumns(top, all, true);
    addTopLevelItem(top);
}

ArchiveTree::Totals ArchiveTree::addNode(const ArchiveNode *node, int parentRow,
                                         QTreeWidgetItem *parentItem)
{
    // Translation looks names up by their shown UTF-8 form, which is also
    // what it gives back when nothing is installed.
    const QString name = shownText(node->m_Name);
    auto *item = new QTreeWidgetItem(
        QStringList(QCoreApplication::translate("MainWindow", name.toUtf8().constData())),
        QTreeWidgetItem::Type);
    item->setIcon(0, node->IsFolder() ? m_folderIcon : m_documentIcon);
    const int row = int(m_rows.size());
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
    int matching = 0;
    if (!filter.isEmpty()) {
        // Children come after their parent: walking backwards, every row is
        // complete before it tells its parent.
        for (size_t i = count; i-- > 1;) {
            if (filter.matches(m_rows[i].foldedName)) {
                match[i] |= 1;
                ++matching;
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
    // A row below a hidden one is hidden too, though its own flag may say
    // otherwise: the selection is asked, not the rows.
    if (hidesSelected) {
        for (QTreeWidgetItem *item : selectedItems()) {
            const int row = m_rowOf.value(nodeOf(item), -1);
            bool visible = row >= 0;
            for (int r = row; visible && r > 0; r = m_rows[size_t(r)].parent)
                visible = !m_rows[size_t(r)].hidden;
            if (!visible)
                item->setSelected(false);
        }
    }
    if (!filter.isEmpty() && shownRows <= kUnfoldAtMost) {
        for (size_t i = 0; i < count; ++i)
            if ((m_match[i] & HoldsMatch) && shown[i])
                m_rows[i].item->setExpanded(true);
    }
    return matching;
}

QList<const ArchiveNode *> ArchiveTree::selectedNodes() const
{
    const QList<QTreeWidgetItem *> items = selectedItems();
    QList<const ArchiveNode *> nodes;
    if (items.size() == 1) {
        nodes << nodeOf(items.first());
        return nodes;
    }
    const QSet<QTreeWidgetItem *> selected(items.begin(), items.end());
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (!selected.contains(m_rows[i].item))
            continue;
        nodes << nodeOf(m_rows[i].item);
        i = size_t(m_rows[i].end) - 1; // what lies below comes along
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
