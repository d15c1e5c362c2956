#include "MainWindow.h"

#include "AboutDlg.h"
#include "ExportSummaryDlg.h"
#include "ExportThread.h"
#include "ProgressDlg.h"
#include "ZarnikArchive.h"
#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTreeWidgetItem>

#include <memory>
#include <string>

namespace {

QString openFailureText(CZarnikArchive::OpenFailure failure)
{
    switch (failure) {
    case CZarnikArchive::OpenFailure::NoDirectory:
        return MainWindow::tr("The path names no folder to look for the index content.vfi in.");
    case CZarnikArchive::OpenFailure::IndexUnreadable:
        return MainWindow::tr("The index content.vfi beside it is missing or cannot be read.");
    case CZarnikArchive::OpenFailure::NotNamedInIndex:
        return MainWindow::tr("The index content.vfi beside it does not name this data file.");
    case CZarnikArchive::OpenFailure::DataUnreadable:
        return MainWindow::tr("The file cannot be read, or is 4 GiB or larger.");
    case CZarnikArchive::OpenFailure::NoFileTable:
        return MainWindow::tr("It holds no file table: it is not a Zarnik pack.");
    case CZarnikArchive::OpenFailure::NoEntries:
        return MainWindow::tr("Its file tables hold no entry.");
    case CZarnikArchive::OpenFailure::None:
        break;
    }
    return MainWindow::tr("The pack could not be read.");
}

QString latin1(const std::string &s)
{
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    m_archive = nullptr;
    // Every item gets its own QIcon, but the copies share these two: loading
    // the picture from the resource once per item would dominate the time a
    // large pack takes to show.
    m_folderIcon = QIcon(QStringLiteral(":/icons/folder.png"));
    m_documentIcon = QIcon(QStringLiteral(":/icons/document.png"));
    connect(ui->treeWidget, &QTreeWidget::itemSelectionChanged, this, &MainWindow::updateActions);
    updateActions();
}

MainWindow::~MainWindow()
{
    // The application may end while an export runs (a session logout): the
    // thread's destructor lets the worker finish before the archive goes.
    delete m_exportThread;
    delete ui;
    delete m_archive;
}

ExportThread *MainWindow::exportThread() const
{
    return m_exportThread;
}

void MainWindow::changeEvent(QEvent *e)
{
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void MainWindow::closeEvent(QCloseEvent *e)
{
    if (!m_exportThread) {
        QMainWindow::closeEvent(e);
        return;
    }
    const auto answer = QMessageBox::question(
        this, tr("Export running"),
        tr("An export is running. Cancel it and close?\n"
           "Files written so far stay; the one being written is removed."),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    // The export may have ended while the question stood.
    if (answer != QMessageBox::Yes && m_exportThread) {
        e->ignore();
        return;
    }
    if (m_exportThread) {
        // The summary is of no use to a window that goes.
        disconnect(m_exportThread, nullptr, this, nullptr);
        m_exportThread->requestStop();
        delete m_exportThread; // waits: the worker stops within a second
    }
    if (m_progressDlg) {
        m_progressDlg->finish();
        delete m_progressDlg;
    }
    updateActions();
    QMainWindow::closeEvent(e);
}

void MainWindow::on_actionAbout_triggered()
{
    AboutDlg dlg(this);
    dlg.exec();
}

ArchiveNode *MainWindow::selectedNode() const
{
    const QList<QTreeWidgetItem *> selected = ui->treeWidget->selectedItems();
    if (!m_archive || selected.isEmpty())
        return nullptr;
    return reinterpret_cast<ArchiveNode *>(selected.first()->data(0, Qt::UserRole).value<quintptr>());
}

void MainWindow::updateActions()
{
    // One export at a time, and the archive stays while it runs.
    const bool exporting = m_exportThread != nullptr;
    ui->action_Open->setEnabled(!exporting);
    ui->actionExport->setEnabled(!exporting && selectedNode());
}

QString MainWindow::askFileDestination(const ArchiveNode *node)
{
    // Extraction never replaces a file, so Qt's own "Do you want to replace
    // it?" would promise what does not happen: ask again instead.
    QString proposal = latin1(node->m_Name);
    for (;;) {
        const QString path = QFileDialog::getSaveFileName(this, tr("Where to save..."), proposal,
                                                          tr("Files (*.*)"), nullptr,
                                                          QFileDialog::DontConfirmOverwrite);
        const QFileInfo info(path);
        if (path.isEmpty() || (!info.exists() && !info.isSymLink()))
            return path;
        QMessageBox::information(this, tr("File exists"),
                                 tr("%1 already exists.\nThe explorer never replaces a file: "
                                    "choose another name.")
                                     .arg(QDir::toNativeSeparators(path)));
        proposal = path;
    }
}

void MainWindow::on_actionExport_triggered()
{
    ArchiveNode *node = selectedNode();
    if (!node || m_exportThread)
        return;
    const QString path = node->IsFolder()
                             ? QFileDialog::getExistingDirectory(this, tr("Where to save..."),
                                                                 QString(), QFileDialog::ShowDirsOnly)
                             : askFileDestination(node);
    if (!path.isEmpty())
        startExport(node, path);
}

void MainWindow::startExport(ArchiveNode *node, const QString &destination)
{
    // A child of the window, so nothing of it outlives the window; it
    // deletes itself once finished.
    m_exportThread = new ExportThread(m_archive, node, destination, this);
    m_progressDlg = new ProgressDlg(this);
    // This object lives in the GUI thread and the thread emits from the
    // worker, so the automatic connections queue every report.
    connect(m_exportThread, &ExportThread::fileStarted, m_progressDlg, &ProgressDlg::setFile);
    connect(m_exportThread, &ExportThread::progressChanged, m_progressDlg,
            &ProgressDlg::setProgress);
    connect(m_exportThread, &ExportThread::done, this, &MainWindow::onExportDone);
    connect(m_progressDlg, &ProgressDlg::cancelRequested, m_exportThread,
            &ExportThread::requestStop);
    updateActions();
    // Not modal: the window stays usable to browse and to be closed (a
    // blocked window's close would be dropped), while the commands that
    // touch the archive wait for the export's end.
    m_progressDlg->show();
    m_exportThread->start();
}

void MainWindow::onExportDone(const ExportResult &result)
{
    m_exportThread = nullptr; // it deletes itself once finished
    if (m_progressDlg) {
        m_progressDlg->finish();
        delete m_progressDlg;
    }
    updateActions();

    if (result.complete()) {
        statusBar()->showMessage(tr("Exported %1 to %2")
                                     .arg(ExportSummaryDlg::filesAndSize(result.filesWritten,
                                                                         result.bytesWritten),
                                          QDir::toNativeSeparators(result.destination)));
        return;
    }
    ExportSummaryDlg summary(result, this);
    summary.exec();
}

void MainWindow::on_action_Open_triggered()
{
    if (m_exportThread)
        return; // the worker reads the archive
    const QString fileName = QFileDialog::getOpenFileName(this, tr("Select Zarnik Pack"));
    if (fileName.length() < 3)
        return;

    // The library takes 8-bit paths; the file-system encoding (not Latin-1)
    // keeps every name the user can pick openable.
    const std::string path = QFile::encodeName(fileName).toStdString();

    if (path.find(".upk") == std::string::npos && path.find(".vfs") == std::string::npos) {
        QMessageBox::critical(this, tr("Error"), tr("Invalid Zarnik Pack file"), QMessageBox::Ok,
                              QMessageBox::Ok);
        return;
    }

    // The new pack first: a pack that fails to open leaves the one shown
    // open and usable.
    auto opened = std::make_unique<CZarnikArchive>();
    if (!opened->Open(path)) {
        QMessageBox::critical(this, tr("Cannot open"),
                              tr("%1 could not be opened.\n%2")
                                  .arg(QDir::toNativeSeparators(fileName),
                                       openFailureText(opened->GetOpenFailure())));
        return;
    }

    // The items point at the old archive's nodes: they go before it.
    ui->treeWidget->clear();
    delete m_archive;
    m_archive = opened.release();

    auto *top = new QTreeWidgetItem(QStringList(tr("content")), QTreeWidgetItem::Type);
    top->setIcon(0, m_folderIcon);
    ui->treeWidget->addTopLevelItem(top);

    ArchiveNode *root = m_archive->GetRoot();
    top->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(root)));
    if (root) {
        for (ArchiveNode *child : root->m_Children)
            populateTree(child, top);
    }
    updateActions();

    const std::vector<OpenReportItem> &report = m_archive->GetOpenReport();
    if (report.empty())
        return;
    QStringList details;
    for (const OpenReportItem &item : report) {
        const QString where = item.path.empty() ? tr("at byte %1").arg(item.offset)
                                                : latin1(item.path);
        details << where + QStringLiteral(": ") + QString::fromUtf8(OpenReportText(item.kind));
    }
    QMessageBox box(QMessageBox::Warning, tr("Pack opened with omissions"),
                    tr("The pack opened, but %n part(s) of it were passed over: what could be "
                       "read is shown. See the details.",
                       nullptr, int(report.size())),
                    QMessageBox::Ok, this);
    box.setDetailedText(details.join('\n'));
    box.exec();
}

void MainWindow::populateTree(ArchiveNode *node, QTreeWidgetItem *parent)
{
    // Pack names are 8-bit Latin-1; translation looks them up by their UTF-8
    // form, which is also what it gives back when nothing is installed.
    const QString name = latin1(node->m_Name);
    auto *item = new QTreeWidgetItem(QStringList(tr(name.toUtf8().constData())),
                                     QTreeWidgetItem::Type);
    item->setIcon(0, node->IsFolder() ? m_folderIcon : m_documentIcon);
    for (ArchiveNode *child : node->m_Children)
        populateTree(child, item);
    item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)));
    parent->addChild(item);
}

void MainWindow::on_actionE_xit_triggered()
{
    close();
}
