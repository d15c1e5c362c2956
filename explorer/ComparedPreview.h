// What the details pane shows of a file's two versions when they differ:
// text as a line diff of what Preview shows of each ("-" lines of this
// version, "+" of the other, each marked to be coloured); two pictures side
// by side, in one picture; other bytes in hex from the first that differs.
// Made off the GUI thread, as a Preview is.
#pragma once

#include "Preview.h"

struct ComparedPreview
{
    Preview::Kind kind = Preview::Kind::Unreadable; // Picture, Text (the diff), Hex, or a message
    QImage picture;                                 // both, this version on the left
    QString text;                                   // the diff, the hex views, or the message
    QList<Preview::Mark> removed, added;            // lines of `text`

    // Of the bytes, at most this many of each version are read to find where
    // they differ.
    static constexpr qsizetype kSearchBytes = 8 << 20;
    // Each version's hex view shows this many bytes from there.
    static constexpr int kHexBytes = 1024;

    // Safe from any thread while what the files read from stays.
    static ComparedPreview make(const PreviewFile &a, const PreviewFile &b);
};
