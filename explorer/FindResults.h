// The rows of Find in Files: one a line found (file, line number, the line
// with its matches marked), or a file that could not be searched whole or
// is binary and matches. Rows point at the nodes of the archive searched:
// clear() comes before it goes.
#pragma once

#include "FindThread.h"

#include <QAbstractTableModel>

#include <vector>

class FindResults : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { FileColumn, LineColumn, TextColumn, ColumnCount };
    // The matches of a row's text, as QList<QPair<int, int>> (start, length).
    static constexpr int MarksRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    void append(const QList<FoundLine> &rows);
    void clear();
    const FoundLine &row(int index) const { return m_rows[size_t(index)]; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::vector<FoundLine> m_rows;
};
