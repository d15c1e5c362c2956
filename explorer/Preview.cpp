#include "Preview.h"

#include "ZarnikArchive.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLocale>
#include <QStringDecoder>

#include <algorithm>

using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;
using zarnik::ReadOutcome;

namespace {

// Text holds no control characters but the usual white space.
bool looksLikeText(const QByteArray &bytes)
{
    for (char c : bytes) {
        const auto u = uchar(c);
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f') || u == 0x7F)
            return false;
    }
    return true;
}

// `text` laid out as the view lays it: every line break one '\n' (the view
// takes "\r\n" and a lone '\r' for one), and a break after every
// `lineChars` characters of a line, never inside a character. With `where`,
// where[i] is where character i of `text` lands, where[size] the end.
QString inPieces(const QString &text, int lineChars, std::vector<qsizetype> *where = nullptr)
{
    QString out;
    out.reserve(text.size() + text.size() / lineChars);
    if (where)
        where->assign(size_t(text.size()) + 1, 0);
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (where)
            (*where)[size_t(i)] = out.size();
        const QChar c = text[i];
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
            continue; // the '\n' that follows stands for both
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            out += QLatin1Char('\n');
            lineStart = out.size();
            continue;
        }
        if (out.size() - lineStart >= lineChars && !c.isLowSurrogate()) {
            out += QLatin1Char('\n');
            lineStart = out.size();
        }
        out += c;
    }
    if (where)
        where->back() = out.size();
    return out;
}

// UTF-8 when `bytes` are, else Latin-1; a character that a cut at the end
// (`cut`) split goes, so that only a real error makes it Latin-1.
QString decoded(const QByteArray &bytes, bool cut, bool &utf8)
{
    QByteArray sample = bytes;
    if (cut && !sample.isEmpty()) {
        qsizetype lead = sample.size() - 1;
        while (lead > 0 && sample.size() - lead < 4 && (uchar(sample[lead]) & 0xC0) == 0x80)
            --lead;
        if (uchar(sample[lead]) >= 0xC0)
            sample.truncate(lead);
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(sample);
    utf8 = !decoder.hasError();
    return utf8 ? text : QString::fromLatin1(bytes);
}

// Where each byte of `bytes` (and their end) lands in their decoded text.
std::vector<qsizetype> charPositions(const QByteArray &bytes, const QString &text, bool utf8)
{
    std::vector<qsizetype> at(size_t(bytes.size()) + 1);
    qsizetype position = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        at[size_t(i)] = std::min(position, text.size());
        const auto u = uchar(bytes[i]);
        // A character beyond U+FFFF takes two UTF-16 units.
        position += !utf8 ? 1 : (u & 0xC0) == 0x80 ? 0 : u >= 0xF0 ? 2 : 1;
    }
    at.back() = text.size();
    return at;
}

// Up to `limit` of the file's bytes from `from` on into `out`; the read
// stops there, or when `wanted` says no more.
ReadOutcome readRange(const CZarnikArchive &archive, const ArchiveNode &node, quint64 from, qsizetype limit,
                      QByteArray &out, const std::function<bool()> &wanted = {})
{
    out.reserve(limit);
    quint64 at = 0; // of the next byte to come
    const ReadOutcome outcome = archive.StreamFileData(
        node,
        [&](const unsigned char *data, size_t size) {
            const size_t skip = size_t(std::min<quint64>(from > at ? from - at : 0, size));
            at += size;
            out.append(reinterpret_cast<const char *>(data + skip),
                       qsizetype(std::min(size - skip, size_t(limit - out.size()))));
            return out.size() < limit && (!wanted || wanted());
        },
        {});
    // The sink's own stop ends the read as Stopped: here, with all it wanted.
    return outcome == ReadOutcome::Stopped && out.size() == limit ? ReadOutcome::Sound : outcome;
}

QString tr(const char *text)
{
    return QCoreApplication::translate("Preview", text);
}

Preview unreadable(ReadOutcome outcome)
{
    Preview preview;
    preview.kind = Preview::Kind::Unreadable;
    preview.text = tr("No preview: %1.").arg(QString::fromUtf8(zarnik::ReadOutcomeText(outcome)));
    return preview;
}

// The hex rows that bytes [begin, end) of a hex view lie in, as a mark.
Preview::Mark hexRows(const QString &hex, qsizetype begin, qsizetype end)
{
    // Row r begins after the r-th line break.
    const auto rowStart = [&](qsizetype row) {
        qsizetype at = 0;
        for (; row > 0 && at < hex.size(); --row) {
            const qsizetype newline = hex.indexOf(QLatin1Char('\n'), at);
            at = newline < 0 ? hex.size() : newline + 1;
        }
        return at;
    };
    const qsizetype last = rowStart(std::max(begin, end - 1) / 16);
    const qsizetype lastEnd = hex.indexOf(QLatin1Char('\n'), last);
    return {rowStart(begin / 16), lastEnd < 0 ? hex.size() : lastEnd};
}

// The bytes of a file read around a spot, and the spot's places in them.
struct Window
{
    QByteArray bytes;
    quint64 from = 0, fileSize = 0;
    quint64 line = 0;               // the spot's line number
    std::vector<qsizetype> places; // its line's start and end, then each match's
};

Preview hexAround(const Window &window)
{
    Preview preview;
    preview.kind = Preview::Kind::Hex;
    preview.text = Preview::hexLines(window.bytes, window.from);
    const std::vector<qsizetype> &places = window.places;
    preview.marked = true;
    preview.lineMark = hexRows(preview.text, places[0], places[1]);
    for (size_t i = 2; i + 1 < places.size(); i += 2)
        preview.matchMarks << hexRows(preview.text, places[i], places[i + 1]);
    return preview;
}

Preview textAround(const Window &window)
{
    const QByteArray &bytes = window.bytes;
    const std::vector<qsizetype> &places = window.places;
    // From the first line that starts in the window; a line that starts
    // before it, from its first whole character.
    qsizetype begin = 0;
    if (window.from > 0) {
        const qsizetype newline = bytes.indexOf('\n');
        begin = newline >= 0 && newline < places[0] ? newline + 1 : 0;
        while (begin < bytes.size() && (uchar(bytes[begin]) & 0xC0) == 0x80)
            ++begin;
    }
    const QByteArray shown = bytes.mid(begin);
    const bool cut = window.from + quint64(bytes.size()) < window.fileSize;
    bool utf8 = true;
    const QString text = decoded(shown, cut, utf8);
    const std::vector<qsizetype> chars = charPositions(shown, text, utf8);
    std::vector<qsizetype> laid;
    Preview preview;
    preview.kind = Preview::Kind::Text;
    preview.text = inPieces(text, Preview::kLineChars, &laid);
    QString head;
    if (window.from + quint64(begin) > 0) {
        const qsizetype before = shown.left(std::max<qsizetype>(places[0] - begin, 0)).count('\n');
        head = tr("[... from line %1]").arg(QLocale().toString(window.line - quint64(before))) + QLatin1Char('\n');
    }
    preview.text.prepend(head);
    if (cut)
        preview.text += QLatin1Char('\n') + tr("[... more follows]");
    const auto mark = [&](qsizetype byte) {
        return head.size() + laid[size_t(chars[size_t(std::clamp<qsizetype>(byte - begin, 0, shown.size()))])];
    };
    preview.marked = true;
    preview.lineMark = {mark(places[0]), mark(places[1])};
    for (size_t i = 2; i + 1 < places.size(); i += 2)
        preview.matchMarks << Preview::Mark{mark(places[i]), mark(places[i + 1])};
    return preview;
}

} // namespace

PreviewFile PreviewFile::inPack(const CZarnikArchive &archive, const ArchiveNode &node)
{
    return {QString::fromLatin1(node.m_Name.data(), qsizetype(node.m_Name.size())), node.m_UnpackedSize,
            [&archive, &node](qsizetype limit, QByteArray &out) { return readRange(archive, node, 0, limit, out); }};
}

PreviewFile PreviewFile::onDisk(const QString &path, quint64 size)
{
    return {QFileInfo(path).fileName(), size, [path, size](qsizetype limit, QByteArray &out) {
                QFile file(path);
                if (!file.open(QIODevice::ReadOnly))
                    return ReadOutcome::Unreadable;
                out = file.read(limit);
                // A file that changed since it was compared is no longer the version compared.
                return out.size() == qsizetype(std::min<quint64>(size, quint64(limit))) && quint64(file.size()) == size
                           ? ReadOutcome::Sound
                           : ReadOutcome::Unreadable;
            }};
}

Preview Preview::make(const CZarnikArchive &archive, const ArchiveNode &node)
{
    return make(PreviewFile::inPack(archive, node));
}

Preview Preview::make(const PreviewFile &file)
{
    Preview preview;
    if (file.size == 0) {
        preview.kind = Kind::Empty;
        preview.text = tr("Empty file.");
        return preview;
    }
    QByteArray head;
    ReadOutcome outcome = file.read(qsizetype(std::min<quint64>(file.size, kTextBytes)), head);
    if (outcome != ReadOutcome::Sound)
        return unreadable(outcome);
    // Picture formats say what they are, and their size, at their start;
    // the name's suffix is tried first (formats such as TGA carry no
    // signature).
    QBuffer buffer(&head);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray format = QFileInfo(file.name).suffix().toLower().toLatin1();
    QImageReader reader(&buffer, format);
    const QSize size = reader.canRead() ? reader.size() : QSize();
    if (size.isValid() && (qint64(size.width()) * size.height() > kMaxPixels || file.size > kMaxPictureBytes)) {
        preview.kind = Kind::TooLarge;
        preview.text = tr("Picture too large to preview: %1 x %2 pixels, %3.")
                           .arg(size.width()).arg(size.height())
                           .arg(QLocale().formattedDataSize(qint64(file.size), 1,
                                                            QLocale::DataSizeTraditionalFormat));
        return preview;
    }
    if (reader.canRead() && file.size <= kMaxPictureBytes) {
        QByteArray whole;
        if (head.size() < qsizetype(file.size)) {
            outcome = file.read(qsizetype(file.size), whole);
            if (outcome != ReadOutcome::Sound)
                return unreadable(outcome);
        }
        QBuffer wholeBuffer(whole.isEmpty() ? &head : &whole);
        wholeBuffer.open(QIODevice::ReadOnly);
        QImageReader wholeReader(&wholeBuffer, format);
        wholeReader.setAutoTransform(true);
        preview.picture = wholeReader.read();
        if (!preview.picture.isNull()) {
            preview.kind = Kind::Picture;
            return preview;
        }
    }
    return fromHead(head, file.size);
}

Preview Preview::around(const CZarnikArchive &archive, const ArchiveNode &node, const TextSpot &spot,
                        const std::function<bool()> &wanted)
{
    const quint64 size = node.m_UnpackedSize;
    if (size == 0)
        return make(archive, node);
    // A quarter of the window before the first match, the rest after it,
    // from a 16-byte boundary: a hex view's rows are then the file's own.
    // Near the end, the window starts at the boundary that lets it hold
    // the file's last byte.
    const quint64 anchor = spot.lineOffset + (spot.matches.isEmpty() ? 0 : spot.matches.first().first);
    const quint64 lastStart = size > quint64(kTextBytes) ? (size - kTextBytes + 15) & ~quint64(15) : 0;
    const quint64 from = std::min<quint64>((anchor > kTextBytes / 4 ? anchor - kTextBytes / 4 : 0) & ~quint64(15),
                                           lastStart);
    Window window{{}, from, size, spot.line, {}};
    const ReadOutcome outcome =
        readRange(archive, node, from, qsizetype(std::min<quint64>(size - from, kTextBytes)), window.bytes, wanted);
    if (outcome != ReadOutcome::Sound)
        return unreadable(outcome);
    // The spot's places in the window: its line's start and end, then its
    // matches' starts and ends.
    const auto at = [&](quint64 offset) {
        return qsizetype(std::clamp<quint64>(offset, from, from + quint64(window.bytes.size())) - from);
    };
    const qsizetype lineEnd = window.bytes.indexOf('\n', at(anchor));
    window.places = {at(spot.lineOffset), lineEnd < 0 ? window.bytes.size() : lineEnd};
    for (const auto &match : spot.matches)
        window.places.insert(window.places.end(), {at(spot.lineOffset + match.first), at(spot.lineOffset + match.second)});
    return looksLikeText(window.bytes) ? textAround(window) : hexAround(window);
}

Preview Preview::fromHead(const QByteArray &bytes, quint64 fileSize)
{
    Preview preview;
    const QByteArray head = bytes.left(kTextBytes);
    preview.cut = quint64(head.size()) < fileSize;
    if (looksLikeText(head)) {
        preview.kind = Kind::Text;
        bool utf8 = true;
        preview.text = inPieces(decoded(head, preview.cut, utf8), kLineChars);
        return preview;
    }
    preview.kind = Kind::Hex;
    preview.cut = fileSize > quint64(kHexBytes);
    preview.text = hexLines(bytes.left(kHexBytes));
    return preview;
}

QString Preview::hexLines(const QByteArray &bytes, quint64 base)
{
    static const char digits[] = "0123456789abcdef";
    QString out;
    out.reserve((bytes.size() / 16 + 1) * 78);
    for (qsizetype line = 0; line < bytes.size(); line += 16) {
        out += QStringLiteral("%1 ").arg(base + quint64(line), 8, 16, QLatin1Char('0'));
        QString ascii;
        for (qsizetype i = line; i < line + 16; ++i) {
            if (i == line + 8)
                out += QLatin1Char(' ');
            if (i < bytes.size()) {
                const auto u = uchar(bytes[i]);
                out += QLatin1Char(' ');
                out += QLatin1Char(digits[u >> 4]);
                out += QLatin1Char(digits[u & 15]);
                ascii += (u >= 0x20 && u < 0x7F) ? QLatin1Char(char(u)) : QLatin1Char('.');
            } else {
                out += QLatin1String("   ");
            }
        }
        out += QLatin1String("  |") + ascii + QLatin1String("|\n");
    }
    return out;
}
