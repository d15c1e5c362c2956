#include "MainWindow.h"

#include "AboutDlg.h"
#include "ExportThread.h"
#include "ProgressDlg.h"
#include "ZarnikArchive.h"
#include "ui_MainWindow.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTreeWidgetItem>

#include <algorithm>
#include <string>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    m_archive = nullptr;
    m_progressDlg = nullptr;
    m_exportThread = nullptr;
    // Every item gets its own QIcon, but the copies share these two: loading
    // the picture from the resource once per item would dominate the time a
    // large pack takes to show.
    m_folderIcon = QIcon(QStringLiteral(":/icons/folder.png"));
    m_documentIcon = QIcon(QStringLiteral(":/icons/document.png"));
}

MainWindow::~MainWindow()
{
    // The window-modal progress dialog keeps the user from closing the
    // window during an export, but the application may still end (a session
    // logout). The worker reads the archive until it returns: let it finish
    // before the archive goes.
    if (m_exportThread) {
        m_exportThread->wait();
        delete m_exportThread;
    }
    delete ui;
    delete m_archive;
}

void MainWindow::changeEvent(QEvent *e)
{
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void MainWindow::on_actionAbout_triggered()
{
    AboutDlg dlg(this);
    dlg.exec();
}

void MainWindow::on_actionExport_triggered()
{
    if (!m_archive)
        return;
    const QList<QTreeWidgetItem *> selected = ui->treeWidget->selectedItems();
    if (selected.isEmpty())
        return;
    auto *node = reinterpret_cast<ArchiveNode *>(
        selected.first()->data(0, Qt::UserRole).value<quintptr>());
    if (!node)
        return;

    QString path;
    if (node->m_PackedSize != 0) {
        const QString name = QString::fromLatin1(node->m_Name.data(), qsizetype(node->m_Name.size()));
        path = QFileDialog::getSaveFileName(this, tr("Where to save..."), name, tr("Files (*.*)"));
    } else {
        path = QFileDialog::getExistingDirectory(this, tr("Where to save..."), QString(),
                                                 QFileDialog::ShowDirsOnly);
    }
    if (path.isEmpty())
        return;

    if (!m_progressDlg)
        m_progressDlg = new ProgressDlg(this);
    m_exportThread = new ExportThread;
    connect(m_exportThread, &QThread::finished, this, &MainWindow::onExportThreadTerminated);
    // The library writes with the system's 8-bit calls: the file-system
    // encoding keeps every name the dialog can return writable.
    m_exportThread->SetupExport(node, QFile::encodeName(path).toStdString(), m_archive,
                                m_progressDlg);
    m_exportThread->start();
}

void MainWindow::on_action_Open_triggered()
{
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

    delete m_archive;
    m_archive = new CZarnikArchive;
    if (!m_archive->Open(path)) {
        // The items point at nodes of the archive just deleted; none may
        // reach Export.
        ui->treeWidget->clear();
        return;
    }

    ui->treeWidget->clear();
    auto *top = new QTreeWidgetItem(QStringList(tr("content")), QTreeWidgetItem::Type);
    top->setIcon(0, m_folderIcon);
    ui->treeWidget->addTopLevelItem(top);

    ArchiveNode *root = m_archive->GetRoot();
    top->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(root)));
    if (!root)
        return;
    for (ArchiveNode *child : root->m_Children)
        populateTree(child, top);
}

void MainWindow::populateTree(ArchiveNode *node, QTreeWidgetItem *parent)
{
    // Pack names are 8-bit Latin-1; translation looks them up by their UTF-8
    // form, which is also what it gives back when nothing is installed.
    const QString name = QString::fromLatin1(node->m_Name.data(), qsizetype(node->m_Name.size()));
    auto *item = new QTreeWidgetItem(QStringList(tr(name.toUtf8().constData())),
                                     QTreeWidgetItem::Type);
    item->setIcon(0, node->m_PackedSize == 0 ? m_folderIcon : m_documentIcon);
    for (ArchiveNode *child : node->m_Children)
        populateTree(child, item);
    item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)));
    parent->addChild(item);
}

void MainWindow::on_actionE_xit_triggered()
{
    close();
}

void MainWindow::onExportThreadTerminated()
{
    if (m_exportThread) {
        // finished() is emitted from the worker before it has fully ended;
        // the object may only go once the thread is gone.
        m_exportThread->wait();
        delete m_exportThread;
        m_exportThread = nullptr;
    }
    if (m_progressDlg) {
        m_progressDlg->close();
        delete m_progressDlg;
        m_progressDlg = nullptr;
    }
}
