#include "ComparedPreview.h"

#include "LineDiff.h"
#include "ZarnikArchive.h"

#include <QCoreApplication>
#include <QLocale>
#include <QPainter>

#include <algorithm>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ComparedPreview", text);
}

// Up to `limit` of the file's first bytes; false when they cannot be had.
bool readHead(const PreviewFile &file, qsizetype limit, QByteArray &out)
{
    return file.read(qsizetype(std::min<quint64>(file.size, quint64(limit))), out) == zarnik::ReadOutcome::Sound;
}

QImage sideBySide(const QImage &left, const QImage &right)
{
    const int gap = 8;
    QImage both(left.width() + gap + right.width(), std::max(left.height(), right.height()),
                QImage::Format_ARGB32_Premultiplied);
    both.fill(Qt::transparent);
    QPainter painter(&both);
    painter.drawImage(0, 0, left);
    painter.drawImage(left.width() + gap, 0, right);
    return both;
}

// "-" and "+" lines of the two texts, the changed ones marked.
ComparedPreview textDiff(const QString &before, const QString &after, bool cut)
{
    ComparedPreview preview;
    preview.kind = Preview::Kind::Text;
    const QStringList a = before.split(QLatin1Char('\n')), b = after.split(QLatin1Char('\n'));
    const LineDiff diff = diffLines(a, b);
    QStringList out;
    if (diff.capped)
        out << tr("[More lines differ than are compared: from the first difference on, this version's lines "
                  "are shown, then the other's]");
    if (cut)
        out << tr("[The beginning of each version only]");
    qsizetype at = out.isEmpty() ? 0 : out.join(QLatin1Char('\n')).size() + 1;
    for (const LineDiff::Line &line : diff.lines) {
        const QString shown = (line.op == LineDiff::Op::Same      ? QStringLiteral("  ")
                               : line.op == LineDiff::Op::Removed ? QStringLiteral("- ")
                                                                  : QStringLiteral("+ "))
                              + (line.op == LineDiff::Op::Added ? b[line.index] : a[line.index]);
        if (line.op != LineDiff::Op::Same)
            (line.op == LineDiff::Op::Removed ? preview.removed : preview.added) << Preview::Mark{at, at + shown.size()};
        out << shown;
        at += shown.size() + 1;
    }
    preview.text = out.join(QLatin1Char('\n'));
    return preview;
}

// Both versions in hex from the first byte that differs.
ComparedPreview hexFromDifference(const PreviewFile &a, const PreviewFile &b)
{
    ComparedPreview preview;
    QByteArray x, y;
    if (!readHead(a, ComparedPreview::kSearchBytes, x) || !readHead(b, ComparedPreview::kSearchBytes, y)) {
        preview.text = tr("No preview: a version could not be read.");
        return preview;
    }
    const qsizetype common = std::min(x.size(), y.size());
    const qsizetype first = qsizetype(std::mismatch(x.begin(), x.begin() + common, y.begin()).first - x.begin());
    if (first == common && x.size() == y.size()) {
        preview.text = tr("The first %1 of both versions are the same.").arg(QLocale().formattedDataSize(common));
        return preview;
    }
    const qsizetype from = first & ~qsizetype(15); // whole rows
    preview.kind = Preview::Kind::Hex;
    preview.text = tr("First difference at byte %1.").arg(QLocale().toString(first)) + QStringLiteral("\n\n")
                   + tr("This version:") + QLatin1Char('\n')
                   + Preview::hexLines(x.mid(from, ComparedPreview::kHexBytes), quint64(from)) + QStringLiteral("\n\n")
                   + tr("The other version:") + QLatin1Char('\n')
                   + Preview::hexLines(y.mid(from, ComparedPreview::kHexBytes), quint64(from));
    return preview;
}

} // namespace

ComparedPreview ComparedPreview::make(const PreviewFile &a, const PreviewFile &b)
{
    const Preview before = Preview::make(a), after = Preview::make(b);
    using Kind = Preview::Kind;
    if (before.kind == Kind::Picture && after.kind == Kind::Picture) {
        ComparedPreview preview;
        preview.kind = Kind::Picture;
        preview.picture = sideBySide(before.picture, after.picture);
        return preview;
    }
    const auto readable = [](Kind kind) { return kind == Kind::Text || kind == Kind::Empty; };
    if (readable(before.kind) && readable(after.kind) && (before.kind == Kind::Text || after.kind == Kind::Text))
        return textDiff(before.kind == Kind::Text ? before.text : QString(),
                        after.kind == Kind::Text ? after.text : QString(), before.cut || after.cut);
    return hexFromDifference(a, b);
}
