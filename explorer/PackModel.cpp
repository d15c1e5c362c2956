#include "PackModel.h"

#include "EditRecord.h"
#include "ShownText.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QPalette>

#include <algorithm>
#include <unordered_set>

using zarnik::ArchiveNode;
using zarnik::TreeTotals;
using zarnik_pack::EditRecord;

struct PackModel::Look
{
    QString name, size, stored, ratio;
    bool folder = false;
    RowMarks marks;
};

struct PackModel::Row
{
    const Node *node = nullptr; // null above the top rows
    Row *parent = nullptr;
    int row = 0;   // among its parent's rows as shown
    int order = 0; // among them in the pack's order
    bool listed = false;
    std::vector<std::unique_ptr<Row>> children;
    mutable std::unique_ptr<Look> look;
};

PackModel::PackModel(QObject *parent)
    : QAbstractItemModel(parent)
    , m_root(std::make_unique<Row>())
    // Every row's icon shares these two: a picture loaded from the resource
    // for each row would cost as much as the rest of the row.
    , m_folderIcon(QStringLiteral(":/icons/folder.png"))
    , m_documentIcon(QStringLiteral(":/icons/document.png"))
{
}

PackModel::~PackModel() = default;

void PackModel::setRecord(const EditRecord *record)
{
    beginResetModel();
    m_record = record;
    m_filter.clear();
    buildRoot();
    endResetModel();
}

void PackModel::setExtraMarks(std::function<RowMarks(const Node *)> marks)
{
    m_extraMarks = std::move(marks);
    for (auto &row : m_rowOf)
        row.second->look.reset();
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void PackModel::setShown(std::function<bool(const Node *)> shown)
{
    beginResetModel();
    m_shown = std::move(shown);
    buildRoot();
    endResetModel();
}

void PackModel::buildRoot()
{
    m_rowOf.clear();
    m_root = std::make_unique<Row>();
}

// --- What a row shows

const ArchiveNode *PackModel::nodeOf(const QModelIndex &index)
{
    return index.isValid() ? reinterpret_cast<const ArchiveNode *>(index.data(NodeRole).value<quintptr>()) : nullptr;
}

bool PackModel::shownAsFolder(const Node *node) const
{
    // A stored size of 0 makes a folder, as the library counts the tree.
    return m_record->Made(node) ? !m_record->IsFile(node) : node->IsFolder();
}

TreeTotals PackModel::totals(const Node *node) const
{
    TreeTotals totals;
    if (!m_record || !node)
        return totals;
    const bool deleted = m_record->State(node).deleted;
    if (!m_record->IsFile(node)) {
        const zarnik_pack::FolderTotals &below = m_record->Totals(node);
        totals = below.kept;
        // A folder struck out holds what it held, all of it deleted.
        if (deleted)
            totals += below.deleted;
        return totals;
    }
    const zarnik_pack::DiskSource *source = deleted ? nullptr : m_record->Source(node);
    if (source) {
        totals.files = 1;
        totals.unpackedBytes = source->size;
    } else if (!node->IsFolder()) {
        totals = TreeTotals::OfFile(*node);
    }
    return totals;
}

RowMarks PackModel::marksOf(const Node *node) const
{
    if (!m_record || !node)
        return {};
    RowMarks marks = m_changeMarks ? m_changeMarks(node) : pendingMarks(*m_record, node);
    if (m_extraMarks)
        marks += m_extraMarks(node);
    return marks;
}

bool PackModel::bytesPending(const Node *node) const
{
    if (!m_record || !node)
        return false;
    const zarnik_pack::NodeState state = m_record->State(node);
    return state.added || state.replaced;
}

bool PackModel::isDeleted(const Node *node) const
{
    return m_record && node && m_record->State(node).deleted;
}

const PackModel::Look &PackModel::look(const Row *row) const
{
    if (row->look)
        return *row->look;
    auto look = std::make_unique<Look>();
    const Node *node = row->node;
    look->marks = marksOf(node);
    look->folder = shownAsFolder(node);
    // Names are looked up for translation by their shown UTF-8 form, which
    // is also what comes back when nothing is installed.
    if (node == m_record->Root())
        look->name = QCoreApplication::translate("MainWindow", "content");
    else if (row->parent == m_root.get())
        look->name = shownText(m_record->Path(node));
    else
        look->name = QCoreApplication::translate("MainWindow", shownText(m_record->Name(node)).toUtf8().constData());
    look->name += look->marks.note;
    const TreeTotals sums = totals(node);
    const bool fresh = !m_record->IsFile(node) && !look->marks.struck && m_record->Totals(node).newFiles != 0;
    if (!look->folder || sums.files != 0) {
        look->size = sizeText(sums.unpackedBytes);
        // Files added have no stored size until they are saved.
        look->stored = !look->marks.stored.isEmpty() ? look->marks.stored
                       : fresh ? tr("%1 + new").arg(sizeText(sums.storedBytes))
                               : sizeText(sums.storedBytes);
        if (sums.unpackedBytes != 0 && look->marks.stored.isEmpty() && !fresh)
            look->ratio = QString::number(double(sums.storedBytes) * 100.0 / double(sums.unpackedBytes), 'f', 0)
                          + QLatin1Char('%');
    }
    row->look = std::move(look);
    return *row->look;
}

QVariant PackModel::data(const QModelIndex &index, int role) const
{
    const Row *row = rowOf(index);
    if (!row || !m_record)
        return {};
    if (role == NodeRole)
        return QVariant::fromValue(reinterpret_cast<quintptr>(row->node));
    if (role == Qt::TextAlignmentRole)
        return index.column() == NameColumn ? QVariant() : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    const Look &shown = look(row);
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameColumn:
            return shown.name;
        case SizeColumn:
            return shown.size;
        case StoredColumn:
            return shown.stored;
        default:
            return shown.ratio;
        }
    case Qt::DecorationRole:
        if (index.column() != NameColumn)
            return {};
        return !shown.marks.icon.isNull() ? shown.marks.icon : shown.folder ? m_folderIcon : m_documentIcon;
    case Qt::FontRole: {
        if (!shown.marks.bold && !shown.marks.italic && !shown.marks.struck)
            return {};
        QFont font;
        font.setBold(shown.marks.bold);
        font.setItalic(shown.marks.italic);
        font.setStrikeOut(shown.marks.struck);
        return font;
    }
    case Qt::ForegroundRole:
        return shown.marks.struck      ? QVariant(QGuiApplication::palette().brush(QPalette::Disabled, QPalette::Text))
               : shown.marks.colour.isValid() ? QVariant(shown.marks.colour)
                                              : QVariant();
    case Qt::BackgroundRole:
        return shown.marks.highlighted ? QVariant(QGuiApplication::palette().brush(QPalette::AlternateBase))
                                       : QVariant();
    case Qt::ToolTipRole:
        return shown.marks.tips.isEmpty() ? QVariant() : QVariant(shown.marks.tips.join(QLatin1Char('\n')));
    default:
        return {};
    }
}

QVariant PackModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char *const titles[] = {"Name", "Size", "Stored", "Ratio"};
    return section >= 0 && section < ColumnCount ? QCoreApplication::translate("MainWindow", titles[section])
                                                 : QVariant();
}

Qt::ItemFlags PackModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled : Qt::NoItemFlags;
}

// --- Rows

PackModel::Row *PackModel::rowOf(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<Row *>(index.internalPointer()) : nullptr;
}

QModelIndex PackModel::indexOfRow(const Row *row, int column) const
{
    return row && row != m_root.get() ? createIndex(row->row, column, const_cast<Row *>(row)) : QModelIndex();
}

std::vector<const ArchiveNode *> PackModel::listing(const Row *row) const
{
    if (row == m_root.get()) {
        if (!m_record)
            return {};
        if (!m_filter.isFlat())
            return {m_record->Root()};
        std::vector<const Node *> listed;
        for (const TreeFilter::Match &match : m_filter.listed())
            listed.push_back(match.node);
        return listed;
    }
    std::vector<const Node *> children = m_record->Children(row->node);
    if (m_filter.isOn() || m_shown)
        children.erase(std::remove_if(children.begin(), children.end(),
                                      [this](const Node *child) {
                                          return (m_filter.isOn() && !m_filter.shows(child))
                                                 || (m_shown && !m_shown(child));
                                      }),
                       children.end());
    return children;
}

void PackModel::list(Row *row) const
{
    // A file lists nothing, nor does a row of the flat list.
    const bool leaf = row->node && (m_record->IsFile(row->node) || (row->parent == m_root.get() && m_filter.isFlat()));
    if (row->listed || leaf)
        return;
    row->listed = true;
    const std::vector<const Node *> nodes = listing(row);
    const bool flat = row == m_root.get() && m_filter.isFlat();
    row->children.reserve(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
        auto child = std::make_unique<Row>();
        child->node = nodes[i];
        child->parent = row;
        child->order = flat ? m_filter.listed()[i].order : int(i);
        if (!flat)
            m_rowOf[nodes[i]] = child.get();
        row->children.push_back(std::move(child));
    }
    // The flat list comes in the order asked for.
    if (!flat)
        sortRows(row->children);
    renumber(row);
}

void PackModel::renumber(Row *row) const
{
    for (size_t i = 0; i < row->children.size(); ++i)
        row->children[i]->row = int(i);
}

PackModel::Key PackModel::keyOf(const Node *node) const
{
    const TreeTotals sums = totals(node);
    return {shownAsFolder(node), sums.unpackedBytes, sums.storedBytes};
}

bool PackModel::before(const Node *a, std::string_view aName, int aOrder, const Node *b, std::string_view bName,
                       int bOrder) const
{
    if (m_sortColumn < 0 || a == b)
        return aOrder < bOrder;
    const Key x = keyOf(a), y = keyOf(b);
    if (x.folder != y.folder)
        return x.folder;
    const auto ratio = [](const Key &k) { return k.size ? double(k.stored) / double(k.size) : -1.0; };
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
        order = NameFilter::compareFolded(aName, bName);
    if (order == 0)
        return aOrder < bOrder;
    return m_sortOrder == Qt::AscendingOrder ? order < 0 : order > 0;
}

bool PackModel::rowBefore(const std::unique_ptr<Row> &a, const std::unique_ptr<Row> &b) const
{
    return m_sortColumn < 0 ? a->order < b->order
                            : before(a->node, m_record->Name(a->node), a->order, b->node, m_record->Name(b->node),
                                     b->order);
}

void PackModel::sortRows(std::vector<std::unique_ptr<Row>> &rows) const
{
    std::sort(rows.begin(), rows.end(), [this](const auto &a, const auto &b) { return rowBefore(a, b); });
}

QModelIndex PackModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.column() > 0 || column < 0 || column >= ColumnCount)
        return {};
    Row *above = parent.isValid() ? rowOf(parent) : m_root.get();
    list(above);
    if (row < 0 || size_t(row) >= above->children.size())
        return {};
    return createIndex(row, column, above->children[size_t(row)].get());
}

QModelIndex PackModel::parent(const QModelIndex &child) const
{
    const Row *row = rowOf(child);
    return row ? indexOfRow(row->parent) : QModelIndex();
}

int PackModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0 || !m_record)
        return 0;
    Row *row = parent.isValid() ? rowOf(parent) : m_root.get();
    list(row);
    return int(row->children.size());
}

int PackModel::columnCount(const QModelIndex &) const
{
    return ColumnCount;
}

bool PackModel::hasChildren(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return m_record != nullptr;
    const Row *row = rowOf(parent);
    if (parent.column() > 0 || m_record->IsFile(row->node) || (row->parent == m_root.get() && m_filter.isFlat()))
        return false;
    // Unfiltered, a folder shown has something below it: its rows wait
    // until it is opened.
    if (!m_filter.isOn())
        return true;
    return rowCount(parent) > 0;
}

QModelIndex PackModel::indexOf(const Node *node)
{
    if (!m_record || !node)
        return {};
    if (m_filter.isFlat()) {
        list(m_root.get());
        for (const auto &row : m_root->children)
            if (row->node == node)
                return indexOfRow(row.get());
        return {};
    }
    const auto known = m_rowOf.find(node);
    if (known != m_rowOf.end())
        return indexOfRow(known->second);
    std::vector<const Node *> chain;
    for (const Node *at = node; at; at = m_record->Parent(at))
        chain.push_back(at);
    Row *row = m_root.get();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        list(row);
        const auto found = std::find_if(row->children.begin(), row->children.end(),
                                        [node = *it](const auto &child) { return child->node == node; });
        if (found == row->children.end())
            return {};
        row = found->get();
    }
    return indexOfRow(row);
}

bool PackModel::packOrderLess(const QModelIndex &a, const QModelIndex &b) const
{
    // Up to the rows that share a parent, with no list made: a selection
    // of a folder's 200,000 rows is sorted by this.
    const auto depth = [this](const Row *row) {
        int n = 0;
        for (; row && row != m_root.get(); row = row->parent)
            ++n;
        return n;
    };
    const Row *x = rowOf(a), *y = rowOf(b);
    if (x == y)
        return false;
    int dx = depth(x), dy = depth(y);
    const bool bDeeper = dy > dx;
    for (; dx > dy; --dx)
        x = x->parent;
    for (; dy > dx; --dy)
        y = y->parent;
    if (x == y) // one lies below the other: the folder comes first
        return bDeeper;
    while (x->parent != y->parent)
        x = x->parent, y = y->parent;
    return x->order < y->order;
}

// --- Changes

void PackModel::setFilter(const QString &text, const Node *keep)
{
    if (!m_record)
        return;
    beginResetModel();
    m_filter.apply(*m_record, text, keep, [this](const TreeFilter::Match &a, const TreeFilter::Match &b) {
        return before(a.node, a.path, a.order, b.node, b.path, b.order);
    });
    buildRoot();
    endResetModel();
}

void PackModel::forget(Row *row)
{
    for (auto &child : row->children)
        forget(child.get());
    const auto known = m_rowOf.find(row->node);
    if (known != m_rowOf.end() && known->second == row)
        m_rowOf.erase(known);
}

void PackModel::movePersistentIndexes()
{
    const QModelIndexList indexes = persistentIndexList();
    for (const QModelIndex &index : indexes) {
        const Row *row = rowOf(index);
        changePersistentIndex(index, createIndex(row->row, index.column(), const_cast<Row *>(row)));
    }
}

void PackModel::refresh(Row *row)
{
    const std::vector<const Node *> nodes = listing(row);
    // Each node's place in the record's order; a row whose node has none goes.
    std::unordered_map<const Node *, int> order;
    for (size_t i = 0; i < nodes.size(); ++i)
        order[nodes[i]] = int(i);
    auto &children = row->children;
    std::unordered_set<const Node *> present;
    size_t going = 0;
    for (const auto &child : children)
        order.count(child->node) ? (void)present.insert(child->node) : (void)++going;
    std::vector<std::unique_ptr<Row>> fresh;
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (present.count(nodes[i]))
            continue;
        auto child = std::make_unique<Row>();
        child->node = nodes[i];
        child->parent = row;
        child->order = int(i);
        fresh.push_back(std::move(child));
    }
    // Each row that comes or goes on its own costs the rows beside it: many
    // of them are one change of the layout instead.
    if (going + fresh.size() > kRowsOneByOne)
        return replaceRows(row, order, std::move(fresh));
    const QModelIndex parent = indexOfRow(row);
    for (size_t i = children.size(); i-- > 0;) {
        if (order.count(children[i]->node))
            continue;
        beginRemoveRows(parent, int(i), int(i));
        forget(children[i].get());
        children.erase(children.begin() + ptrdiff_t(i));
        renumber(row);
        endRemoveRows();
    }
    // What stays takes its place in the record's order, then the new rows
    // come in where they belong.
    for (auto &child : children)
        child->order = order[child->node];
    const auto less = [this](const auto &a, const auto &b) { return rowBefore(a, b); };
    // A view holding many rows selected pays for a layout change in
    // proportion to them: none when the order stands.
    if (!std::is_sorted(children.begin(), children.end(), less)) {
        emit layoutAboutToBeChanged({parent});
        sortRows(children);
        renumber(row);
        movePersistentIndexes();
        emit layoutChanged({parent});
    }
    sortRows(fresh);
    for (auto &child : fresh) {
        // Where it goes among the rows already there, in the order shown.
        const auto at = std::upper_bound(children.begin(), children.end(), child, less);
        const int position = int(at - children.begin());
        beginInsertRows(parent, position, position);
        m_rowOf[child->node] = child.get();
        children.insert(at, std::move(child));
        renumber(row);
        endInsertRows();
    }
}

void PackModel::replaceRows(Row *row, const std::unordered_map<const Node *, int> &order,
                            std::vector<std::unique_ptr<Row>> fresh)
{
    const QModelIndex parent = indexOfRow(row);
    emit layoutAboutToBeChanged({parent});
    // The view's indexes into a row that goes, or below it, end with it.
    std::unordered_set<const Row *> gone;
    const std::function<void(const Row *)> below = [&](const Row *at) {
        gone.insert(at);
        for (const auto &child : at->children)
            below(child.get());
    };
    auto &children = row->children;
    for (const auto &child : children)
        if (!order.count(child->node)) {
            below(child.get());
            forget(child.get());
        }
    const QModelIndexList indexes = persistentIndexList();
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [&order](const auto &child) { return !order.count(child->node); }),
                   children.end());
    for (auto &child : children)
        child->order = order.at(child->node);
    for (auto &child : fresh) {
        m_rowOf[child->node] = child.get();
        children.push_back(std::move(child));
    }
    sortRows(children);
    renumber(row);
    for (const QModelIndex &index : indexes) {
        const Row *at = rowOf(index);
        changePersistentIndex(index, gone.count(at) ? QModelIndex()
                                                    : createIndex(at->row, index.column(), const_cast<Row *>(at)));
    }
    emit layoutChanged({parent});
}

void PackModel::follow(const zarnik_pack::EditTouch &touched)
{
    if (!m_record)
        return;
    // The folders whose rows may have come or gone, and those above them,
    // whose totals changed: from the top down, so that a row a refresh
    // takes away is not refreshed after it.
    std::vector<std::pair<int, const Node *>> folders;
    std::unordered_set<const Node *> seen;
    const auto add = [&](const Node *folder) {
        for (const Node *at = folder; at && seen.insert(at).second; at = m_record->Parent(at)) {
            int depth = 0;
            for (const Node *up = m_record->Parent(at); up; up = m_record->Parent(up))
                ++depth;
            folders.emplace_back(depth, at);
        }
    };
    for (const Node *folder : touched.folders)
        add(folder);
    for (const Node *node : touched.nodes)
        add(m_record->Parent(node));
    std::sort(folders.begin(), folders.end());
    for (const auto &folder : folders) {
        const auto known = m_rowOf.find(folder.second);
        if (known != m_rowOf.end() && known->second->listed)
            refresh(known->second);
    }
    showAgain(touched);
}

void PackModel::showAgain(const zarnik_pack::EditTouch &touched)
{
    // The flat list's rows are not kept by node: all of them are shown again.
    if (m_filter.isFlat()) {
        for (const auto &row : m_root->children)
            row->look.reset();
        if (!m_root->children.empty())
            emit dataChanged(index(0, 0), index(int(m_root->children.size()) - 1, ColumnCount - 1));
        return;
    }
    // Per folder row, the first and the last of its rows whose look changed:
    // those of the nodes touched, the folders above them (their totals) and
    // every row listed below a node touched (a folder deleted or renamed
    // marks all it holds). The rows the change did not reach stay as they are.
    std::unordered_map<const Row *, std::pair<int, int>> spans;
    const auto mark = [&spans](const Row *row) {
        row->look.reset();
        const auto [span, fresh] = spans.try_emplace(row->parent, row->row, row->row);
        if (!fresh)
            span->second = {std::min(span->second.first, row->row), std::max(span->second.second, row->row)};
    };
    const std::function<void(const Row *)> below = [&](const Row *row) {
        for (const auto &child : row->children) {
            mark(child.get());
            below(child.get());
        }
    };
    const auto reach = [&](const Node *node, bool withBelow) {
        const auto known = m_rowOf.find(node);
        if (known == m_rowOf.end())
            return;
        for (const Row *at = known->second; at != m_root.get(); at = at->parent)
            mark(at);
        if (withBelow)
            below(known->second);
    };
    for (const Node *node : touched.nodes)
        reach(node, true);
    // A folder a node left or entered shows new totals; its other rows stay.
    for (const Node *folder : touched.folders)
        reach(folder, false);
    for (const auto &[parent, span] : spans)
        emit dataChanged(createIndex(span.first, 0, parent->children[size_t(span.first)].get()),
                         createIndex(span.second, ColumnCount - 1, parent->children[size_t(span.second)].get()));
}

void PackModel::sortAll(Row *row)
{
    if (!row->listed)
        return;
    sortRows(row->children);
    renumber(row);
    for (auto &child : row->children)
        sortAll(child.get());
}

void PackModel::sort(int column, Qt::SortOrder order)
{
    m_sortColumn = column;
    m_sortOrder = column < 0 ? Qt::AscendingOrder : order;
    if (!m_record)
        return;
    // The flat list holds the first matches in the order asked for: it is
    // made again.
    if (m_filter.isFlat())
        return setFilter(m_filter.text(), m_filter.kept());
    emit layoutAboutToBeChanged();
    sortAll(m_root.get());
    movePersistentIndexes();
    emit layoutChanged();
}
