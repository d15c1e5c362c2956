#include "ExportSummaryDlg.h"

#include "ArchiveTree.h"
#include "DesktopOpen.h"
#include "ExportThread.h"
#include "ShownText.h"
#include "ui_ExportSummaryDlg.h"

#include <QDir>
#include <QPushButton>
#include <QLocale>
#include <QMap>

using zarnik::CZarnikArchive;
using zarnik::ExtractOutcome;

namespace {

// The kinds the summary counts: what the user can do about each differs.
enum class Kind { Exists, Damaged, Unwritable, BadName, Stopped };

Kind kindOf(ExtractOutcome outcome)
{
    switch (outcome) {
    case ExtractOutcome::Exists:
        return Kind::Exists;
    case ExtractOutcome::OutOfRange:
    case ExtractOutcome::Unreadable:
    case ExtractOutcome::Damaged:
    case ExtractOutcome::WrongSize:
    case ExtractOutcome::TooLarge:
        return Kind::Damaged;
    case ExtractOutcome::UnsafeName:
    case ExtractOutcome::EmptyName:
    case ExtractOutcome::Duplicate:
    case ExtractOutcome::CaseTwin:
        return Kind::BadName;
    case ExtractOutcome::Stopped:
        return Kind::Stopped;
    default:
        return Kind::Unwritable;
    }
}

QString kindText(Kind kind)
{
    switch (kind) {
    case Kind::Exists:
        return ExportSummaryDlg::tr("Skipped, already there");
    case Kind::Damaged:
        return ExportSummaryDlg::tr("Damaged in the pack");
    case Kind::Unwritable:
        return ExportSummaryDlg::tr("Could not be written");
    case Kind::BadName:
        return ExportSummaryDlg::tr("Unusable or repeated names");
    case Kind::Stopped:
        return ExportSummaryDlg::tr("Removed when cancelled");
    }
    return QString();
}

} // namespace

QString ExportSummaryDlg::filesAndSize(int files, quint64 bytes)
{
    return tr("%1 (%2)").arg(countText(quint64(files), tr("1 file"), tr("%1 files")), sizeText(bytes));
}

ExportSummaryDlg::ExportSummaryDlg(const ExportResult &result, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ExportSummaryDlg)
{
    ui->setupUi(this);

    const QString written = tr("Written: %1 of %2 to %3.")
                                .arg(filesAndSize(result.filesWritten, result.bytesWritten))
                                .arg(QLocale().toString(result.filesTotal))
                                .arg(QDir::toNativeSeparators(result.destination));
    QString ending;
    switch (result.end) {
    case zarnik::ExtractEnd::Stopped:
        ending = tr("The export was cancelled.");
        break;
    case zarnik::ExtractEnd::DiskFull:
        ending = tr("The disk is full or read-only: the export stopped.");
        break;
    case zarnik::ExtractEnd::Finished:
        ending = tr("Not everything was exported.");
        break;
    }
    ui->headlineLabel->setText(ending + ' ' + written);
    if (result.filesWritten > 0) {
        QPushButton *folder = ui->buttonBox->addButton(tr("Open Containing Folder"),
                                                       QDialogButtonBox::ActionRole);
        connect(folder, &QPushButton::clicked, this,
                [destination = result.destination] { DesktopOpen::openFolderOf(destination); });
    }

    QMap<Kind, int> counts;
    QStringList lines;
    for (const ExportResult::Failure &failure : result.failures) {
        ++counts[kindOf(failure.outcome)];
        lines << failure.path + QStringLiteral("\t") + QString::fromUtf8(ExtractOutcomeText(failure.outcome))
                     + (failure.reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(failure.reason));
    }
    QStringList countLines;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        countLines << tr("%1: %2").arg(kindText(it.key()), QLocale().toString(it.value()));
    if (result.filesNotTried() > 0)
        countLines << tr("Not tried: %1").arg(QLocale().toString(result.filesNotTried()));
    ui->countsLabel->setText(countLines.join('\n'));
    ui->failureList->setPlainText(lines.join('\n'));
    if (lines.isEmpty()) {
        // Only files not tried: the two lines alone, without the room the
        // list would take.
        ui->failureList->hide();
        adjustSize();
    }
}

ExportSummaryDlg::~ExportSummaryDlg()
{
    delete ui;
}
