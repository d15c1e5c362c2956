#include "DetailsPane.h"

#include "FindHighlight.h"
#include "ShownText.h"

#include "ZarnikArchive.h"
#include "ui_DetailsPane.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>

using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;

namespace {

// `text` with a chance to wrap after every separator and within every run
// of 30 characters without one: a long path or name wraps in the pane
// instead of widening it, and with it the window.
QString breakable(const QString &text)
{
    const QChar zeroWidthSpace(0x200B);
    QString out;
    out.reserve(text.size() + text.size() / 8);
    int run = 0;
    for (const QChar c : text) {
        out += c;
        run = c.isSpace() ? 0 : run + 1;
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || run == 30) {
            out += zeroWidthSpace;
            run = 0;
        }
    }
    return out;
}

// "<b>Size:</b> 1.2 KiB (1,234 bytes)" lines of a small table.
QString row(const QString &label, const QString &value)
{
    return QStringLiteral("<tr><td><b>%1</b>&nbsp;&nbsp;</td><td>%2</td></tr>")
        .arg(label.toHtmlEscaped(), breakable(value).toHtmlEscaped());
}

QString exactSize(quint64 bytes)
{
    return bytes < 1024 ? sizeText(bytes)
                        : DetailsPane::tr("%1 (%2 bytes)").arg(sizeText(bytes), QLocale().toString(bytes));
}

// A pending change's row of the table (or another marking's), when there is one.
QString changeRow(const DetailsPane::Entry &entry)
{
    return entry.change.isEmpty() ? QString()
                                  : row(entry.changeLabel.isEmpty() ? DetailsPane::tr("Pending:") : entry.changeLabel,
                                        entry.change);
}

// A count beside its label: "none" reads better than a 0.
QString number(quint64 n)
{
    return n == 0 ? DetailsPane::tr("none") : QLocale().toString(n);
}

} // namespace

DetailsPane::DetailsPane(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::DetailsPane)
{
    ui->setupUi(this);
    ui->textView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The pane's width is the splitter's to give: what a label holds never
    // asks for more (a long path wraps, see breakable()).
    for (QLabel *label : {ui->titleLabel, ui->detailsLabel, ui->messageLabel}) {
        QSizePolicy policy = label->sizePolicy();
        policy.setHorizontalPolicy(QSizePolicy::Ignored);
        label->setSizePolicy(policy);
    }
    m_pool.setMaxThreadCount(1);
    clear();
}

DetailsPane::~DetailsPane()
{
    // A preview still running posts to this object; Qt drops what is
    // posted to an object that is gone, so waiting is enough.
    forgetPreview();
    delete ui;
}

void DetailsPane::changeEvent(QEvent *e)
{
    QWidget::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void DetailsPane::dropPreview()
{
    // Not waited for: a large file read for the last selection must not
    // hold the GUI. Its result is dropped by its generation.
    ++m_generation;
    m_pool.clear();
}

void DetailsPane::forgetPreview()
{
    dropPreview();
    m_pool.waitForDone();
}

void DetailsPane::clear()
{
    forgetPreview();
    ui->titleLabel->setText(tr("Open a pack, then choose a file or a folder."));
    ui->detailsLabel->clear();
    showMessage(QString());
}

void DetailsPane::showMessage(const QString &text)
{
    ui->messageLabel->setText(text);
    ui->previewStack->setCurrentWidget(ui->messageLabel);
    ui->pictureView->clear();
    ui->textView->clear();
    ui->textView->setExtraSelections({});
}

void DetailsPane::showFile(const CZarnikArchive *archive, const ArchiveNode *file, const Entry &entry,
                           const TextSpot &spot)
{
    dropPreview();
    ui->titleLabel->setText(breakable(entry.name));
    // The data file's path is the system's own, in its file-name encoding.
    const QString dataFile =
        file->m_DataFile < archive->GetDataFileCount()
            ? QDir::toNativeSeparators(QFile::decodeName(
                  QByteArray::fromStdString(archive->GetDataFilePath(file->m_DataFile))))
            : tr("unknown");
    ui->detailsLabel->setText(
        QStringLiteral("<table>")
        + row(tr("Path:"), entry.path) + changeRow(entry)
        + row(tr("Size:"), exactSize(file->m_UnpackedSize))
        + row(tr("Stored:"), exactSize(file->m_PackedSize)
                                 + (file->IsPacked() ? tr(", packed") : tr(", not packed")))
        + row(tr("Offset:"), QLocale().toString(file->m_Offset))
        + row(tr("Data file:"), dataFile) + QStringLiteral("</table>"));
    showMessage(tr("Reading..."));
    const quint64 generation = m_generation;
    m_pool.start([this, archive, file, generation, spot] {
        // Reading up to a spot deep in a large file ends once it is not wanted.
        const Preview preview = spot.line == 0 ? Preview::make(*archive, *file)
                                               : Preview::around(*archive, *file, spot, [this, generation] {
                                                     return m_generation.load() == generation;
                                                 });
        QMetaObject::invokeMethod(
            this, [this, generation, preview] { showPreview(generation, preview); },
            Qt::QueuedConnection);
    });
}

void DetailsPane::showCompared(const Entry &entry, const PreviewFile &before, const PreviewFile &after)
{
    dropPreview();
    ui->titleLabel->setText(breakable(entry.name));
    ui->detailsLabel->setText(QStringLiteral("<table>") + row(tr("Path:"), entry.path) + changeRow(entry)
                              + row(tr("Size:"), exactSize(before.size))
                              + row(tr("Other version:"), exactSize(after.size))
                              + QStringLiteral("</table>"));
    showMessage(tr("Reading..."));
    const quint64 generation = m_generation;
    m_pool.start([this, before, after, generation] {
        const ComparedPreview preview = ComparedPreview::make(before, after);
        QMetaObject::invokeMethod(
            this, [this, generation, preview] { showComparedPreview(generation, preview); }, Qt::QueuedConnection);
    });
}

void DetailsPane::showComparedPreview(quint64 generation, const ComparedPreview &preview)
{
    if (generation != m_generation)
        return; // the selection moved on
    // Only a message goes into the label: a page of the stack asks for the
    // room of all it holds, and a long diff would stretch the window.
    const bool shown = preview.kind == Preview::Kind::Picture || preview.kind == Preview::Kind::Text
                       || preview.kind == Preview::Kind::Hex;
    showMessage(shown ? QString() : preview.text);
    if (preview.kind == Preview::Kind::Picture) {
        ui->previewStack->setCurrentWidget(ui->pictureView);
        ui->pictureView->setPicture(preview.picture);
    } else if (preview.kind == Preview::Kind::Text || preview.kind == Preview::Kind::Hex) {
        ui->textView->setPlainText(preview.text);
        ui->previewStack->setCurrentWidget(ui->textView);
        QList<QTextEdit::ExtraSelection> marks;
        const auto mark = [&](const Preview::Mark &line, const QColor &colour) {
            QTextEdit::ExtraSelection marked{QTextCursor(ui->textView->document()), QTextCharFormat()};
            marked.format.setBackground(colour);
            marked.format.setProperty(QTextFormat::FullWidthSelection, true);
            marked.cursor.setPosition(int(line.start));
            return marked;
        };
        for (const Preview::Mark &line : preview.removed)
            marks << mark(line, QColor(255, 220, 220));
        for (const Preview::Mark &line : preview.added)
            marks << mark(line, QColor(220, 255, 220));
        ui->textView->setExtraSelections(marks);
    }
    emit previewShown();
}

void DetailsPane::showPendingFile(const Entry &entry, quint64 size, const QString &source)
{
    dropPreview();
    ui->titleLabel->setText(breakable(entry.name));
    ui->detailsLabel->setText(QStringLiteral("<table>")
                              + row(tr("Path:"), entry.path)
                              + row(tr("Size:"), exactSize(size))
                              + row(tr("From:"), QDir::toNativeSeparators(source))
                              + QStringLiteral("</table>"));
    showMessage(entry.change);
}

void DetailsPane::showPreview(quint64 generation, const Preview &preview)
{
    if (generation != m_generation)
        return; // the selection moved on
    switch (preview.kind) {
    case Preview::Kind::Picture:
        showMessage(QString());
        ui->previewStack->setCurrentWidget(ui->pictureView);
        ui->pictureView->setPicture(preview.picture); // fitted to the room it now has
        ui->detailsLabel->setText(ui->detailsLabel->text().replace(
            QStringLiteral("</table>"),
            row(tr("Picture:"), tr("%1 x %2 pixels").arg(preview.picture.width())
                                    .arg(preview.picture.height()))
                + QStringLiteral("</table>")));
        break;
    case Preview::Kind::Text:
    case Preview::Kind::Hex:
        showMessage(QString());
        ui->textView->setPlainText(preview.text);
        if (preview.cut)
            ui->textView->appendPlainText(tr("[... the beginning only]"));
        ui->previewStack->setCurrentWidget(ui->textView);
        markFound(preview);
        break;
    case Preview::Kind::Empty:
    case Preview::Kind::Unreadable:
    case Preview::Kind::TooLarge:
        showMessage(preview.text);
        break;
    }
    emit previewShown();
}

void DetailsPane::markFound(const Preview &preview)
{
    if (!preview.marked)
        return;
    QTextDocument *document = ui->textView->document();
    const auto selection = [&](const Preview::Mark &mark, const QTextCharFormat &format) {
        QTextEdit::ExtraSelection marked{QTextCursor(document), format};
        marked.cursor.setPosition(int(mark.start));
        marked.cursor.setPosition(int(mark.end), QTextCursor::KeepAnchor);
        return marked;
    };
    QList<QTextEdit::ExtraSelection> marks{selection(preview.lineMark, foundLineFormat(palette()))};
    for (const Preview::Mark &mark : preview.matchMarks)
        marks << selection(mark, foundMatchFormat());
    ui->textView->setExtraSelections(marks);
    QTextCursor at(document);
    at.setPosition(int(preview.matchMarks.isEmpty() ? preview.lineMark.start : preview.matchMarks.first().start));
    ui->textView->setTextCursor(at);
    ui->textView->centerCursor();
}

void DetailsPane::showFolder(const Entry &entry, const ArchiveTree::Totals &totals, const StoredOf &storedOf)
{
    dropPreview();
    const QString stored = storedOf.version.isEmpty() ? exactSize(totals.storedBytes)
                           : storedOf.bytes           ? tr("%1, in %2").arg(exactSize(*storedOf.bytes), storedOf.version)
                                                      : tr("unknown: %1 is no pack").arg(storedOf.version);
    ui->titleLabel->setText(breakable(entry.name));
    ui->detailsLabel->setText(QStringLiteral("<table>") + row(tr("Path:"), entry.path) + changeRow(entry)
                              + row(tr("Files below:"), number(totals.files))
                              + row(tr("Folders below:"), number(totals.folders))
                              + row(tr("Size:"), exactSize(totals.unpackedBytes))
                              + row(tr("Stored:"), stored)
                              + QStringLiteral("</table>"));
    showMessage(QString());
}

void DetailsPane::showSeveral(int count, const ArchiveTree::Totals &totals)
{
    dropPreview();
    ui->titleLabel->setText(tr("%1 items selected").arg(QLocale().toString(count)));
    ui->detailsLabel->setText(QStringLiteral("<table>")
                              + row(tr("Files:"), number(totals.files))
                              + row(tr("Size:"), exactSize(totals.unpackedBytes))
                              + row(tr("Stored:"), exactSize(totals.storedBytes))
                              + QStringLiteral("</table>"));
    showMessage(QString());
}
