#include "FindHighlight.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QTextLayout>

QTextCharFormat foundMatchFormat()
{
    // The colours of a text marker, readable on light and dark themes alike.
    QTextCharFormat format;
    format.setBackground(QColor(255, 214, 0));
    format.setForeground(QColor(Qt::black));
    format.setFontWeight(QFont::Bold);
    return format;
}

QTextCharFormat foundLineFormat(const QPalette &palette)
{
    QColor shade = palette.color(QPalette::Highlight);
    shade.setAlpha(48);
    QTextCharFormat format;
    format.setBackground(shade);
    format.setProperty(QTextFormat::FullWidthSelection, true);
    return format;
}

void MatchDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const auto marks = index.data(m_marksRole).value<QList<QPair<int, int>>>();
    if (marks.isEmpty())
        return QStyledItemDelegate::paint(painter, option, index);
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QString text = item.text;
    item.text.clear(); // the style draws the row's background and focus, the text comes below
    const QWidget *widget = item.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
    const QRect room = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);

    QTextLayout layout(text, item.font);
    QList<QTextLayout::FormatRange> formats;
    for (const auto &[start, length] : marks)
        formats.append({start, length, foundMatchFormat()});
    layout.setFormats(formats);
    QTextOption single;
    single.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(single);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e6);
    layout.endLayout();

    const bool selected = item.state & QStyle::State_Selected;
    painter->save();
    painter->setClipRect(room);
    painter->setPen(item.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    layout.draw(painter, QPointF(room.left() + margin, room.top() + (room.height() - line.height()) / 2));
    painter->restore();
}
