// How Find in Files marks what it found, in its list of results and in the
// preview: one look for a match, another for the line it lies in.
#pragma once

#include <QStyledItemDelegate>
#include <QTextCharFormat>

class QPalette;

QTextCharFormat foundMatchFormat();
QTextCharFormat foundLineFormat(const QPalette &palette);

// Draws a row's text with the matches its model gives under a role
// (QList<QPair<int, int>>, start and length) marked.
class MatchDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    MatchDelegate(int marksRole, QObject *parent) : QStyledItemDelegate(parent), m_marksRole(marksRole) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    int m_marksRole;
};
