#include "FindResults.h"

#include "ShownText.h"
#include "ZarnikArchive.h"

#include <QFont>
#include <QLocale>

void FindResults::append(const QList<FoundLine> &rows)
{
    if (rows.isEmpty())
        return;
    beginInsertRows(QModelIndex(), int(m_rows.size()), int(m_rows.size()) + int(rows.size()) - 1);
    m_rows.insert(m_rows.end(), rows.begin(), rows.end());
    endInsertRows();
}

void FindResults::clear()
{
    beginResetModel();
    std::vector<FoundLine>().swap(m_rows);
    endResetModel();
}

int FindResults::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int FindResults::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FindResults::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_rows.size())
        return {};
    const FoundLine &row = m_rows[size_t(index.row())];
    const bool note = row.kind != FoundLine::Kind::Line;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (index.column() == FileColumn)
            return shownText(row.file->m_Path);
        if (index.column() == LineColumn)
            return note ? QVariant() : QLocale().toString(row.spot.line);
        return row.text;
    case MarksRole:
        return index.column() == TextColumn ? QVariant::fromValue(row.marks) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == LineColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    case Qt::FontRole: {
        // What is said of a whole file is no line of it.
        QFont font;
        font.setItalic(true);
        return note && index.column() == TextColumn ? QVariant(font) : QVariant();
    }
    default:
        return {};
    }
}

QVariant FindResults::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case FileColumn:
        return tr("File");
    case LineColumn:
        return tr("Line");
    default:
        return tr("Text");
    }
}
