// How a row of the tree is marked, and why. The pending changes mark added
// and replaced files bold (their Stored column says "new" or "replaced":
// the stored size is known once saved), renamed or moved entries in italics
// with their old path, deleted ones struck out and greyed; another kind of
// marking (a comparison's, a search's) adds its own marks to the same row.
#pragma once

#include "PackEditFwd.h"

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

struct RowMarks
{
    bool bold = false;
    bool italic = false;
    bool struck = false;      // greyed too
    bool highlighted = false; // a row another marking points out
    QString stored;           // the Stored column's word in place of a size, if any
    QColor colour;            // the name's colour, if any (a struck row is greyed)
    QIcon icon;               // in place of the file's or folder's own, if any
    QString note;             // after the name (a folder's count of changes)
    QStringList tips;         // one line for each mark, as the row's tooltip

    RowMarks &operator+=(const RowMarks &other);
};

// The marks the pending changes give `node` of `record`.
RowMarks pendingMarks(const zarnik_pack::EditRecord &record, const zarnik::ArchiveNode *node);
