#include "Preview.h"

#include "ZarnikArchive.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QStringDecoder>

#include <memory>

using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;
using zarnik::ExtractOutcome;

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

} // namespace

Preview Preview::make(const CZarnikArchive &archive, const ArchiveNode &node)
{
    Preview preview;
    if (node.m_UnpackedSize > kMaxBytes || node.m_PackedSize > kMaxBytes) {
        preview.kind = Kind::TooLarge;
        preview.text = QCoreApplication::translate("Preview",
                                                   "Larger than 64 MB: no preview, details only.");
        return preview;
    }
    std::unique_ptr<unsigned char[]> data;
    ExtractOutcome outcome = ExtractOutcome::Written;
    if (!archive.ReadFileData(&node, data, outcome)) {
        preview.kind = Kind::Unreadable;
        preview.text = QCoreApplication::translate("Preview", "No preview: %1.")
                           .arg(QString::fromUtf8(ExtractOutcomeText(outcome)));
        return preview;
    }
    const QByteArray bytes(reinterpret_cast<const char *>(data.get()),
                           qsizetype(node.m_UnpackedSize));
    return fromBytes(bytes, QString::fromLatin1(node.m_Name.data(), qsizetype(node.m_Name.size())));
}

Preview Preview::fromBytes(const QByteArray &bytes, const QString &name)
{
    Preview preview;
    if (!bytes.isEmpty()) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        // The name's suffix is tried first, then the bytes decide.
        QImageReader reader(&buffer, QFileInfo(name).suffix().toLower().toLatin1());
        reader.setAutoTransform(true);
        preview.picture = reader.read();
        if (!preview.picture.isNull()) {
            preview.kind = Kind::Picture;
            return preview;
        }
    }
    const QByteArray head = bytes.left(kTextBytes);
    preview.cut = head.size() < bytes.size();
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
    preview.cut = bytes.size() > kHexBytes;
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
