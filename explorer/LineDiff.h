// The lines two texts share and those that differ: a plain Myers diff of
// lines (the shortest edit script), after the lines both begin and end
// with are set aside. The work grows with the number of differing lines,
// so it is capped: beyond `maxEdits` the rest of the middle is given as
// removed, then added, and the result says so.
#pragma once

#include <QStringList>

#include <vector>

struct LineDiff
{
    enum class Op { Same, Removed, Added };
    struct Line
    {
        Op op;
        int index; // in the old lines for Same and Removed, in the new ones for Added
    };
    std::vector<Line> lines; // in reading order
    bool capped = false;     // the differences were more than the work allowed
};

LineDiff diffLines(const QStringList &before, const QStringList &after, int maxEdits = 1000);
