#include "Preview.h"

#include "ZarnikArchive.h"

#include <QBuffer>
#include <QCoreApplication>
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

// `text` with a line break after every kLineChars characters of a line.
QString inPieces(const QString &text, int lineChars)
{
    QString out;
    out.reserve(text.size() + text.size() / lineChars);
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\n')) {
            lineStart = i + 1;
        } else if (i - lineStart == lineChars) {
            out += QLatin1Char('\n');
            lineStart = i;
        }
        out += text[i];
    }
    return out;
}

// Up to `limit` of the file's first bytes into `out`; the read stops there.
ReadOutcome readHead(const CZarnikArchive &archive, const ArchiveNode &node, qsizetype limit,
                     QByteArray &out)
{
    out.reserve(limit);
    const ReadOutcome outcome = archive.StreamFileData(
        node,
        [&](const unsigned char *data, size_t size) {
            out.append(reinterpret_cast<const char *>(data),
                       qsizetype(std::min(size, size_t(limit - out.size()))));
            return out.size() < limit;
        },
        {});
    // The sink's own stop ends the read as Stopped: here, with all it wanted.
    return outcome == ReadOutcome::Stopped && out.size() == limit ? ReadOutcome::Sound : outcome;
}

QString tr(const char *text)
{
    return QCoreApplication::translate("Preview", text);
}

} // namespace

Preview Preview::make(const CZarnikArchive &archive, const ArchiveNode &node)
{
    Preview preview;
    if (node.m_UnpackedSize == 0) {
        preview.kind = Kind::Empty;
        preview.text = tr("Empty file.");
        return preview;
    }
    const auto unreadable = [&](ReadOutcome outcome) {
        preview.kind = Kind::Unreadable;
        preview.text = tr("No preview: %1.").arg(QString::fromUtf8(zarnik::ReadOutcomeText(outcome)));
        return preview;
    };
    QByteArray head;
    ReadOutcome outcome = readHead(archive, node, qsizetype(std::min<quint64>(node.m_UnpackedSize, kTextBytes)), head);
    if (outcome != ReadOutcome::Sound)
        return unreadable(outcome);
    // Picture formats say what they are, and their size, at their start;
    // the name's suffix is tried first (formats such as TGA carry no
    // signature).
    QBuffer buffer(&head);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray format =
        QFileInfo(QString::fromLatin1(node.m_Name.data(), qsizetype(node.m_Name.size()))).suffix().toLower().toLatin1();
    QImageReader reader(&buffer, format);
    const QSize size = reader.canRead() ? reader.size() : QSize();
    if (size.isValid() && (qint64(size.width()) * size.height() > kMaxPixels || node.m_UnpackedSize > kMaxPictureBytes)) {
        preview.kind = Kind::TooLarge;
        preview.text = tr("Picture too large to preview: %1 x %2 pixels, %3.")
                           .arg(size.width()).arg(size.height())
                           .arg(QLocale().formattedDataSize(qint64(node.m_UnpackedSize), 1,
                                                            QLocale::DataSizeTraditionalFormat));
        return preview;
    }
    if (reader.canRead() && node.m_UnpackedSize <= kMaxPictureBytes) {
        QByteArray whole;
        if (head.size() < qsizetype(node.m_UnpackedSize)) {
            outcome = readHead(archive, node, qsizetype(node.m_UnpackedSize), whole);
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
    return fromHead(head, node.m_UnpackedSize);
}

Preview Preview::fromHead(const QByteArray &bytes, quint64 fileSize)
{
    Preview preview;
    const QByteArray head = bytes.left(kTextBytes);
    preview.cut = quint64(head.size()) < fileSize;
    if (looksLikeText(head)) {
        preview.kind = Kind::Text;
        // A cut may fall inside a character: that one goes, so that only a
        // real error makes it Latin-1.
        QByteArray sample = head;
        if (preview.cut) {
            qsizetype lead = sample.size() - 1;
            while (lead > 0 && sample.size() - lead < 4 && (uchar(sample[lead]) & 0xC0) == 0x80)
                --lead;
            if (uchar(sample[lead]) >= 0xC0)
                sample.truncate(lead);
        }
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        preview.text = utf8.decode(sample);
        if (utf8.hasError())
            preview.text = QString::fromLatin1(head);
        preview.text = inPieces(preview.text, kLineChars);
        return preview;
    }
    preview.kind = Kind::Hex;
    preview.cut = fileSize > quint64(kHexBytes);
    preview.text = hexLines(bytes.left(kHexBytes));
    return preview;
}

QString Preview::hexLines(const QByteArray &bytes)
{
    static const char digits[] = "0123456789abcdef";
    QString out;
    out.reserve((bytes.size() / 16 + 1) * 78);
    for (qsizetype line = 0; line < bytes.size(); line += 16) {
        out += QStringLiteral("%1 ").arg(line, 8, 16, QLatin1Char('0'));
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
