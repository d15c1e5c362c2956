// What the details pane shows of one file's bytes: a picture when Qt reads
// its format, text when the bytes are text (UTF-8, else Latin-1), a hex
// view of the beginning otherwise; why not, when the file is damaged or too
// large. Made off the GUI thread: everything here is plain data.
#pragma once

#include <QImage>
#include <QString>

namespace zarnik {
class CZarnikArchive;
struct ArchiveNode;
} // namespace zarnik

struct Preview
{
    enum class Kind { Picture, Text, Hex, Unreadable, TooLarge };

    Kind kind = Kind::TooLarge;
    QImage picture;
    QString text;   // text, hex lines, or why there is no preview
    bool cut = false; // the text or hex shows the beginning only

    // Files larger than this (stored or unpacked) get details only.
    static constexpr quint32 kMaxBytes = 64u << 20;
    // The hex view and the text view stop here: what the GUI thread lays
    // out of a preview stays small whatever the file holds.
    static constexpr int kHexBytes = 64 << 10;
    static constexpr int kTextBytes = 64 << 10;
    // A longer line is shown in pieces of this many characters: laying out
    // one line of megabytes would hold the window for seconds.
    static constexpr int kLineChars = 1000;

    // Reads and decodes `node`; safe from any thread while the archive stays.
    static Preview make(const zarnik::CZarnikArchive &archive, const zarnik::ArchiveNode &node);
    // The decision on bytes already read; `name` gives the picture format
    // a hint (formats such as TGA carry no signature).
    static Preview fromBytes(const QByteArray &bytes, const QString &name);
    // "00000010  48 65 6c 6c 6f ...  |Hello...|"
    static QString hexLines(const QByteArray &bytes);
};
