// What the details pane shows of one file's bytes: a picture when Qt reads
// its format, text when the bytes are text (UTF-8, else Latin-1), a hex
// view of the beginning otherwise; in words, an empty file, and why not
// when the file is damaged or the picture too large. Only what is shown is
// read: the beginning of a file, or a picture whole once its size allows.
// Made off the GUI thread: everything here is plain data.
#pragma once

#include <QImage>
#include <QList>
#include <QPair>
#include <QString>

#include "ReadOutcome.h"

#include <functional>

namespace zarnik {
class CZarnikArchive;
struct ArchiveNode;
} // namespace zarnik

// A place in a file's text that a search found: a line, by its number and
// the offset of its first byte in the file, and its matches, as byte
// offsets from the line's start.
struct TextSpot
{
    quint64 line = 0; // from 1; 0 for no line
    quint64 lineOffset = 0;
    QList<QPair<quint32, quint32>> matches; // [begin, end), in the order found
};

// The bytes of a file to preview: one of a pack, or one on disk (a version
// compared with).
struct PreviewFile
{
    QString name;     // the suffix names a picture's format
    quint64 size = 0; // unpacked
    // Up to `limit` of its bytes from the start into `out`: Sound when they
    // all came.
    std::function<zarnik::ReadOutcome(qsizetype limit, QByteArray &out)> read;

    // Safe from any thread while the archive stays.
    static PreviewFile inPack(const zarnik::CZarnikArchive &archive, const zarnik::ArchiveNode &node);
    static PreviewFile onDisk(const QString &path, quint64 size);
};

struct Preview
{
    enum class Kind { Picture, Text, Hex, Empty, Unreadable, TooLarge };

    Kind kind = Kind::Unreadable;
    QImage picture;
    QString text;   // text, hex lines, or why there is no preview
    bool cut = false; // the text or hex shows the beginning only

    // Where a TextSpot's line and matches lie in `text`, to be highlighted
    // and the first match brought into view; none in any other preview.
    struct Mark
    {
        qsizetype start = 0, end = 0;
    };
    bool marked = false;
    Mark lineMark;
    QList<Mark> matchMarks;

    // A picture file larger than this, or of more pixels, is not read.
    static constexpr quint32 kMaxPictureBytes = 64u << 20;
    static constexpr qint64 kMaxPixels = 40'000'000;
    // The hex view and the text view stop here, and no more of a file is
    // read unless it is a picture: what the GUI thread lays out of a
    // preview stays small whatever the file holds.
    static constexpr int kHexBytes = 64 << 10;
    static constexpr int kTextBytes = 64 << 10;
    // A longer line is shown in pieces of this many characters: laying out
    // one line of megabytes would hold the window for seconds.
    static constexpr int kLineChars = 1000;

    // Reads and decodes `node`; safe from any thread while the archive stays.
    static Preview make(const zarnik::CZarnikArchive &archive, const zarnik::ArchiveNode &node);
    static Preview make(const PreviewFile &file);
    // The text (or hex) of `node` around `spot`: at most kTextBytes of it,
    // from the start of a line before the spot where one is near, marked.
    // The read of a file that large goes through all that comes before the
    // spot: `wanted` is asked as the bytes come, and false ends it.
    static Preview around(const zarnik::CZarnikArchive &archive, const zarnik::ArchiveNode &node,
                          const TextSpot &spot, const std::function<bool()> &wanted);
    // Text or hex of the first bytes of a file of `fileSize` bytes.
    static Preview fromHead(const QByteArray &head, quint64 fileSize);
    // "00000010  48 65 6c 6c 6f ...  |Hello...|", the first line's offset `base`.
    static QString hexLines(const QByteArray &bytes, quint64 base = 0);
};
