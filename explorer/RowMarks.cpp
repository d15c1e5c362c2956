#include "RowMarks.h"

#include "EditRecord.h"
#include "ShownText.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RowMarks", text);
}

} // namespace

RowMarks &RowMarks::operator+=(const RowMarks &other)
{
    bold = bold || other.bold;
    italic = italic || other.italic;
    struck = struck || other.struck;
    highlighted = highlighted || other.highlighted;
    if (stored.isEmpty())
        stored = other.stored;
    if (!colour.isValid())
        colour = other.colour;
    if (icon.isNull())
        icon = other.icon;
    note += other.note;
    tips += other.tips;
    return *this;
}

RowMarks pendingMarks(const zarnik_pack::EditRecord &record, const zarnik::ArchiveNode *node)
{
    RowMarks marks;
    const zarnik_pack::NodeState state = record.State(node);
    if (state.deleted) {
        marks.struck = true;
        marks.tips << tr("Deleted: left out when the pack is saved");
        return marks;
    }
    if (state.renamed) {
        marks.italic = true;
        marks.tips << tr("Renamed from %1").arg(shownText(node->m_Path));
    }
    if (state.added || state.replaced) {
        marks.bold = true;
        marks.stored = state.added ? tr("new") : tr("replaced");
        marks.tips << (state.added ? tr("Added: written into the pack when it is saved")
                                   : tr("Replaced: the new contents are written when the pack is saved"));
    }
    return marks;
}
