#include "MainWindow.h"

#include "AboutDlg.h"
#include "ArchiveTree.h"
#include "CompareView.h"
#include "DesktopOpen.h"
#include "DetailsPane.h"
#include "EditRecord.h"
#include "Habits.h"
#include "PackEdit.h"
#include "PackEditor.h"
#include "ExportSummaryDlg.h"
#include "ExportThread.h"
#include "FindPanel.h"
#include "PackPath.h"
#include "ProgressDlg.h"
#include "ShownText.h"
#include "ZarnikArchive.h"
#include "ui_MainWindow.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QGuiApplication>
#include <QMenu>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QHash>
#include <QLocale>
#include <QMessageBox>
#include <QShortcut>
#include <QToolButton>

#include <algorithm>
#include <memory>
#include <string>

using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;
using zarnik::OpenReportItem;

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>())
{
    ui->setupUi(this);
    m_views.tree = ui->treeWidget;
    m_views.details = ui->detailsPane;
    m_export.window = this;
    // The tree takes what room it needs for its columns; the details pane
    // the rest.
    QHeaderView *header = ui->treeWidget->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(ArchiveTree::NameColumn, QHeaderView::Stretch);
    for (int column :
         {ArchiveTree::SizeColumn, ArchiveTree::StoredColumn, ArchiveTree::RatioColumn})
        header->resizeSection(column, column == ArchiveTree::RatioColumn ? 55 : 80);
    ui->splitter->setStretchFactor(0, 3);
    ui->splitter->setStretchFactor(1, 2);
    ui->splitter->setSizes({480, 320});
    // The sizes the user left the window, its panes and columns at.
    restoreGeometry(Habits::layout(QStringLiteral("geometry")));
    ui->splitter->restoreState(Habits::layout(QStringLiteral("splitter")));
    header->restoreState(Habits::layout(QStringLiteral("columns")));
    m_statusLabel = new QLabel(this);
    statusBar()->addPermanentWidget(m_statusLabel);
    m_desktop = std::make_unique<DesktopOpen>();
    // After an export, beside its line, while the line stands.
    m_openFolderButton = new QToolButton(this);
    m_openFolderButton->setText(tr("Open Containing Folder"));
    m_openFolderButton->hide();
    statusBar()->addPermanentWidget(m_openFolderButton);
    connect(m_openFolderButton, &QToolButton::clicked, this,
            [this] { DesktopOpen::openFolderOf(m_exportedTo); });
    connect(statusBar(), &QStatusBar::messageChanged, m_openFolderButton,
            [this](const QString &message) {
                // Only beside the line of the export it opens the folder of.
                m_openFolderButton->setVisible(!message.isEmpty() && message == m_exportLine);
            });
    connect(ui->treeWidget, &QAbstractItemView::activated, this, &MainWindow::openWithApplication);
    ui->filterEdit->installEventFilter(this);
    connect(ui->filterEdit, &QLineEdit::textChanged, this, &MainWindow::applyFilter);
    connect(ui->treeWidget, &ArchiveTree::selectionMoved, this, &MainWindow::updateActions);
    connect(ui->treeWidget, &QWidget::customContextMenuRequested, this, &MainWindow::showTreeMenu);
    // The keys of file managers: Ctrl+F to the filter line, Shift+F10 for
    // the menu of the current item.
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, [this] {
        ui->filterEdit->setFocus(Qt::ShortcutFocusReason);
        ui->filterEdit->selectAll();
    });
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), ui->treeWidget, nullptr, nullptr,
                          Qt::WidgetShortcut),
            &QShortcut::activated, this, [this] {
                const QModelIndex current = ui->treeWidget->currentIndex();
                if (current.isValid())
                    showTreeMenu(ui->treeWidget->visualRect(current).center());
            });
    connect(ui->treeWidget, &ArchiveTree::dragRequested, this, &MainWindow::dragSelectionOut);
    connect(ui->treeWidget, &ArchiveTree::dragReleased, this, &MainWindow::abandonDrag);
    setAcceptDrops(true);
    connect(ui->treeWidget, &ArchiveTree::selectionMoved, this, &MainWindow::updateSelectionStatus);
    connect(ui->treeWidget, &ArchiveTree::selectionMoved, this, &MainWindow::updateDetails);
    updateRecentMenu();
    connect(ui->menu_File, &QMenu::aboutToShow, this, &MainWindow::updateRecentMenu);
    addEditAndFind();
    updateActions();
}

void MainWindow::addEditAndFind()
{
    // Changing the pack: the Edit and Save commands, the tree of what is
    // pending, and the saved pack shown.
    m_editor = std::make_unique<PackEditor>(this, ui->treeWidget);
    for (QAction *action : m_editor->editActions())
        action ? ui->menu_Edit->insertAction(ui->actionExport, action)
               : (void)ui->menu_Edit->insertSeparator(ui->actionExport);
    ui->menu_Edit->insertSeparator(ui->actionExport);
    ui->menu_Edit->setToolTipsVisible(true);
    ui->menu_File->insertActions(ui->actionE_xit, m_editor->fileActions());
    ui->menu_File->insertSeparator(ui->actionE_xit);
    connect(m_editor.get(), &PackEditor::changed, this, &MainWindow::followEdit);
    connect(m_editor.get(), &PackEditor::saved, this, &MainWindow::openSavedPack);
    // Find in Files: its panel below the tree and the details, its commands
    // at the end of the Edit menu.
    m_find = new FindPanel(this);
    m_views.find = m_find;
    addDockWidget(Qt::BottomDockWidgetArea, m_find);
    ui->menu_Edit->addSeparator();
    ui->menu_Edit->addActions(m_find->commands());
    m_find->setPendingCheck([this] { return m_editor->hasChanges(); });
    connect(m_editor.get(), &PackEditor::changed, m_find, &FindPanel::updateScope);
    connect(m_find, &FindPanel::resultChosen, this, &MainWindow::showFound);
    // Comparing the pack with another version: its commands in the File menu.
    m_compare = std::make_unique<CompareView>(
        this, ui->treeWidget, ui->detailsPane,
        [this]() -> QString {
            if (!m_archive || m_export.thread || m_editor->saving())
                return QString();
            if (m_editor->hasChanges()) {
                QMessageBox::information(this, tr("Compare"),
                                         tr("Save or undo the changes waiting first: the pack is compared as "
                                            "it is saved."));
                return QString();
            }
            return m_editor->fileName();
        },
        [this]() -> const zarnik_pack::EditRecord * { return m_editor->edit() ? &m_editor->edit()->Record() : nullptr; });
    ui->menu_File->insertActions(ui->actionE_xit, m_compare->actions());
    ui->menu_File->insertSeparator(ui->actionE_xit);
    connect(m_compare.get(), &CompareView::modeChanged, this, &MainWindow::followCompare);
}

void MainWindow::followCompare()
{
    m_editor->hold(m_compare->active() ? tr("Stop comparing to change the pack") : QString());
    updateTitle();
    updateSelectionStatus();
    updateDetails();
    updateActions();
}

void MainWindow::compareWith(const QString &other)
{
    m_compare->compareWith(other);
}

void MainWindow::PackViews::clear() const
{
    // A preview may be reading the pack, and the rows stand for its nodes.
    details->clear();
    tree->showRecord(nullptr);
}

MainWindow::PackViews::~PackViews()
{
    // The window's members made after these are gone already: the tree's
    // last selection change must reach none of their slots.
    const QSignalBlocker quiet(tree);
    if (find)
        find->setPack(nullptr, QString());
    clear();
}

MainWindow::ExportJob::~ExportJob()
{
    // The application may end while an export runs (a session logout): its
    // worker stops and ends here, before the pack it reads goes.
    // The summary is of no use to a window that goes.
    if (thread) {
        QObject::disconnect(thread, nullptr, window, nullptr);
        delete thread;
    }
}

MainWindow::~MainWindow() = default;

void MainWindow::updateTitle()
{
    // An asterisk while changes wait.
    const QString other = m_compare ? m_compare->otherName() : QString();
    const QString name = m_editor->isNew() ? tr("New pack") : QFileInfo(m_editor->fileName()).fileName();
    setWindowTitle(!m_editor->edit()  ? tr("Zarnik Explorer")
                   : !other.isEmpty() ? tr("%1 compared with %2 - Zarnik Explorer").arg(name, other)
                                      : tr("%1%2 - Zarnik Explorer")
                                            .arg(name, m_editor->hasChanges() ? QStringLiteral("*") : QString()));
}

void MainWindow::followEdit(const zarnik_pack::EditTouch &touched, const ArchiveNode *focus)
{
    ui->treeWidget->follow(touched, focus);
    updateTitle();
    updateSelectionStatus();
    updateDetails();
    updateActions();
}

void MainWindow::openSavedPack(const QString &fileName)
{
    // The saved pack is shown as the changed one was: the same folders
    // open, the same entry chosen, where they still stand.
    const QStringList expanded = ui->treeWidget->expandedPaths();
    const ArchiveNode *chosen = selectedNode();
    const std::string current = chosen ? m_editor->edit()->Record().Path(chosen) : std::string();
    if (openPack(fileName)) {
        // In place of the whole pack, which opening chose.
        if (const ArchiveNode *node = ui->treeWidget->expandPaths(expanded, current))
            ui->treeWidget->choose(node);
        return;
    }
    // The pack shown is no longer what the disk holds.
    showNoPack();
}

void MainWindow::showNoPack()
{
    m_compare->leave();
    m_views.clear();
    m_find->setPack(nullptr, QString());
    m_editor->setPack(nullptr, QString());
    m_archive.reset();
    updateTitle();
    updateSelectionStatus();
    updateActions();
}

ExportThread *MainWindow::exportThread() const
{
    return m_export.thread;
}

void MainWindow::changeEvent(QEvent *e)
{
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void MainWindow::closeEvent(QCloseEvent *e)
{
    // Once the changes it asks to save are saved, the window closes.
    if (!m_export.thread && (!m_compare->mayClose() || !m_editor->mayLeave([this] { close(); }))) {
        e->ignore();
        return;
    }
    if (!m_export.thread) {
        rememberLayout();
        QMainWindow::closeEvent(e);
        return;
    }
    QMessageBox question(QMessageBox::Question, tr("Export running"),
                         tr("An export is running. Cancel it and close?\n"
                            "Files written so far stay; the one being written is removed."),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(QMessageBox::No);
    // The export's end takes the question away (onExportDone), and the
    // window stays to show how the export went.
    m_closeQuestion = &question;
    const int answer = question.exec();
    if (answer != QMessageBox::Yes || !m_export.thread) {
        e->ignore();
        return;
    }
    endExport(); // the worker stops within a second
    rememberLayout();
    QMainWindow::closeEvent(e);
}

void MainWindow::rememberLayout()
{
    Habits::setLayout(QStringLiteral("geometry"), saveGeometry());
    Habits::setLayout(QStringLiteral("splitter"), ui->splitter->saveState());
    Habits::setLayout(QStringLiteral("columns"), ui->treeWidget->header()->saveState());
}

void MainWindow::endExport()
{
    if (m_export.thread) {
        // The summary is of no use to a window that goes.
        disconnect(m_export.thread, nullptr, this, nullptr);
        delete m_export.thread; // stops the worker and waits for it
    }
    if (m_progressDlg) {
        m_progressDlg->finish();
        delete m_progressDlg;
    }
    updateActions();
}

void MainWindow::on_actionNew_triggered()
{
    if (m_export.thread || !m_editor->mayLeave([this] { on_actionNew_triggered(); }))
        return;
    statusBar()->clearMessage();
    showNoPack();
    m_editor->setNewPack();
    showEdit();
}

void MainWindow::on_actionAbout_triggered()
{
    AboutDlg dlg(this);
    dlg.exec();
}

const ArchiveNode *MainWindow::selectedNode() const
{
    const QList<const ArchiveNode *> selected = ui->treeWidget->selectedNodes();
    return m_editor->edit() && !selected.isEmpty() ? selected.first() : nullptr;
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The line edit claims Ctrl+E (the end of the line) for itself; the
    // window's commands come first.
    if (watched == ui->filterEdit && event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const QKeySequence typed(key->keyCombination());
        for (const QAction *action : {ui->actionExport, ui->actionCopyPath})
            if (action->shortcut() == typed) {
                event->ignore();
                return true;
            }
    }
    // Escape in the filter line gives the whole tree back.
    if (watched == ui->filterEdit && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape
        && !ui->filterEdit->text().isEmpty()) {
        ui->filterEdit->clear();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::applyFilter(const QString &text)
{
    const int matching = ui->treeWidget->setFilter(text);
    updateActions(); // what Export writes follows the filter
    if (text.isEmpty())
        updateSelectionStatus();
    else
        m_statusLabel->setText(
            countText(quint64(matching), tr("1 entry matches"), tr("%1 entries match"), tr("No entry matches"))
            + (ui->treeWidget->isFlat() && ui->treeWidget->listed() < matching
                   ? tr(", the first %1 listed").arg(QLocale().toString(ui->treeWidget->listed()))
                   : QString()));
}

void MainWindow::updateSelectionStatus()
{
    // The tree shows the pack, or a comparison of it: its whole is its root.
    const zarnik_pack::EditRecord *shown = ui->treeWidget->packModel()->record();
    if (!m_editor->edit() || !shown) {
        m_statusLabel->clear();
        return;
    }
    const auto files = [](quint64 n) { return countText(n, tr("1 file"), tr("%1 files"), tr("no files")); };
    const QList<const ArchiveNode *> nodes = ui->treeWidget->selectedNodes();
    // With nothing or the whole pack selected, the pack's numbers.
    const ArchiveNode *root = shown->Root();
    if (nodes.isEmpty() || (nodes.size() == 1 && nodes.first() == root)) {
        const ArchiveTree::Totals all = ui->treeWidget->totals(root);
        // "in no folders" says nothing: the files lie in "content" itself.
        const QString where = all.folders == 0
                                  ? files(all.files)
                                  : tr("%1 in %2").arg(files(all.files),
                                                       countText(all.folders, tr("1 folder"), tr("%1 folders")));
        m_statusLabel->setText(tr("%1, %2 (%3 stored)")
                                   .arg(where, sizeText(all.unpackedBytes),
                                        sizeText(all.storedBytes)));
        return;
    }
    const ArchiveTree::Totals sum = ui->treeWidget->selectedTotals();
    const QString items = countText(quint64(nodes.size()), tr("1 item"), tr("%1 items"));
    m_statusLabel->setText(tr("%1 selected: %2, %3")
                               .arg(items, files(sum.files), sizeText(sum.unpackedBytes)));
}

void MainWindow::updateDetails()
{
    // The tree lets its rows go before the pack goes.
    const bool shown = m_editor->edit() && ui->treeWidget->packModel()->record();
    QList<const ArchiveNode *> nodes = shown ? ui->treeWidget->selectedNodes() : QList<const ArchiveNode *>();
    if (shown && nodes.isEmpty()) // nothing chosen: the whole pack
        nodes << ui->treeWidget->packModel()->record()->Root();
    if (m_compare->comparison()) {
        m_compare->showDetails(nodes);
    } else if (nodes.size() == 1) {
        const zarnik_pack::EditRecord &record = m_editor->edit()->Record();
        const ArchiveNode *node = nodes.first();
        const PackModel *model = ui->treeWidget->packModel();
        const DetailsPane::Entry entry{shownText(record.Name(node)), shownText(record.Path(node)),
                                       model->marksOf(node).tips.join(QLatin1Char('\n'))};
        if (const zarnik_pack::DiskSource *source = model->bytesPending(node) ? record.Source(node) : nullptr)
            // Its bytes are not in the pack yet: where they come from instead.
            ui->detailsPane->showPendingFile(entry, source->size,
                                             QFile::decodeName(QByteArray::fromStdString(source->path)));
        else if (record.IsFile(node) && !node->IsFolder())
            ui->detailsPane->showFile(m_archive.get(), node, entry);
        else
            ui->detailsPane->showFolder(entry, ui->treeWidget->totals(node));
    } else if (nodes.size() > 1) {
        ui->detailsPane->showSeveral(int(nodes.size()), ui->treeWidget->selectedTotals());
    }
}

void MainWindow::updateActions()
{
    // One export at a time, and the archive stays while it runs.
    const bool exporting = m_export.thread != nullptr;
    ui->action_Open->setEnabled(!exporting);
    for (QAction *recent : ui->menuRecent->actions())
        recent->setEnabled(!exporting);
    // While changes wait, the tree is not what the pack holds: save first.
    const bool pending = m_editor && m_editor->hasChanges();
    // A comparison's rows are of another opening of the pack and of the
    // other version: Export Differences writes from those.
    const bool comparing = m_compare && m_compare->comparison();
    ui->actionExport->setEnabled(!exporting && m_archive && !pending && !comparing
                                 && !ui->treeWidget->exportItems().isEmpty());
    ui->actionExport->setToolTip(pending     ? tr("Save the pending changes to export")
                                 : comparing ? tr("Stop comparing to export, or export the differences")
                                             : ui->actionExport->text().remove('&'));
    ui->actionCopyPath->setEnabled(selectedNode());
}

QString MainWindow::askFileDestination(const ArchiveNode *node)
{
    // Extraction never replaces a file, so Qt's own "Do you want to replace
    // it?" would promise what does not happen: ask again instead.
    // The name is proposed as the tree shows it, and what the dialog gives
    // back is written: a name with a line break is proposed, and written,
    // escaped. A shown name that is no file name here proposes none.
    const QString folder = Habits::exportFolder();
    const std::string shown = zarnik::ShownPath(node->m_Name);
    const QString name = zarnik::IsSafeName(shown) ? QString::fromStdString(shown) : QString();
    QString proposal = folder.isEmpty() ? name : QDir(folder).filePath(name);
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
    const QList<const ArchiveNode *> selected = m_archive ? ui->treeWidget->selectedNodes()
                                                          : QList<const ArchiveNode *>();
    const QList<ExportItem> items = ui->treeWidget->exportItems();
    if (items.isEmpty() || m_export.thread)
        return;
    // One file is saved under a name the user gives; a folder, or several
    // items, go below a directory.
    const ArchiveNode *first = selected.first();
    const QString path = selected.size() == 1 && !first->IsFolder()
                             ? askFileDestination(first)
                             : QFileDialog::getExistingDirectory(this, tr("Where to save..."),
                                                                 Habits::exportFolder(),
                                                                 QFileDialog::ShowDirsOnly);
    if (path.isEmpty())
        return;
    Habits::setExportFolder(selected.size() == 1 && !first->IsFolder()
                                ? QFileInfo(path).absolutePath()
                                : path);
    startExport(items, path);
}

void MainWindow::on_actionCopyPath_triggered()
{
    QStringList paths;
    for (const ArchiveNode *node : ui->treeWidget->selectedNodes())
        paths << shownText(node->m_Path);
    if (!paths.isEmpty())
        QGuiApplication::clipboard()->setText(paths.join(QLatin1Char('\n')));
}

void MainWindow::showTreeMenu(const QPoint &position)
{
    if (!ui->treeWidget->indexAt(position).isValid())
        return;
    QMenu menu(this);
    menu.addAction(ui->actionExport);
    menu.addAction(ui->actionCopyPath);
    menu.addSeparator();
    menu.addActions(m_editor->treeActions());
    menu.exec(ui->treeWidget->viewport()->mapToGlobal(position));
}

void MainWindow::startExport(const QList<ExportItem> &items, const QString &destination,
                             bool forDrag)
{
    // A child of the window, so nothing of it outlives the window; it
    // deletes itself once finished.
    m_export.thread = new ExportThread(m_archive.get(), items, destination, m_exportWorkers, this);
    m_exportForDrag = forDrag;
    if (forDrag)
        m_export.thread->placeBelow();
    m_progressDlg = new ProgressDlg(this);
    // This object lives in the GUI thread and the thread emits from the
    // worker, so the automatic connections queue every report.
    connect(m_export.thread, &ExportThread::fileStarted, m_progressDlg, &ProgressDlg::setFile);
    connect(m_export.thread, &ExportThread::progressChanged, m_progressDlg,
            &ProgressDlg::setProgress);
    connect(m_export.thread, &ExportThread::done, this, &MainWindow::onExportDone);
    connect(m_progressDlg, &ProgressDlg::cancelRequested, m_export.thread,
            &ExportThread::requestStop);
    updateActions();
    // Not modal: the window stays usable to browse and to be closed (a
    // blocked window's close would be dropped), while the commands that
    // touch the archive wait for the export's end.
    m_progressDlg->show();
    m_export.thread->start();
}

void MainWindow::onExportDone(const ExportResult &result)
{
    m_export.thread = nullptr; // it deletes itself once finished
    endExport();
    if (m_closeQuestion)
        m_closeQuestion->done(QMessageBox::No);

    if (!m_fileToOpen.isEmpty()) {
        const QString file = std::exchange(m_fileToOpen, QString());
        if (result.complete() && !DesktopOpen::open(file))
            QMessageBox::warning(this, tr("Cannot open"),
                                 tr("No application opens %1.").arg(QDir::toNativeSeparators(file)));
        if (result.complete() || result.end == zarnik::ExtractEnd::Stopped)
            return;
    }
    if (m_exportForDrag) {
        m_exportForDrag = false;
        // A drag begins only under a held button; one let go, or cancelled,
        // ends without a word. What failed is told.
        if (result.complete() && ui->treeWidget->dragHeld())
            finishDrag();
        if (result.complete() || result.end == zarnik::ExtractEnd::Stopped)
            return;
    }

    if (result.complete()) {
        m_exportedTo = result.destination;
        m_exportLine = tr("Exported %1 to %2")
                           .arg(ExportSummaryDlg::filesAndSize(result.filesWritten, result.bytesWritten),
                                QDir::toNativeSeparators(result.destination));
        statusBar()->showMessage(m_exportLine);
        return;
    }
    // The line of an earlier, full export no longer speaks for this one.
    statusBar()->clearMessage();
    ExportSummaryDlg summary(result, this);
    summary.exec();
}

void MainWindow::dragEnterEvent(QDragEnterEvent *e)
{
    // Items dragged out of the tree are no pack to open when they come back.
    // A pack is only read: taken as a copy, never as a move that would let
    // the source delete it.
    if (!m_export.thread && !e->source() && (e->possibleActions() & Qt::CopyAction)
        && !droppedPack(e->mimeData()).isEmpty()) {
        e->setDropAction(Qt::CopyAction);
        e->accept();
    }
}

void MainWindow::dropEvent(QDropEvent *e)
{
    const QString pack = droppedPack(e->mimeData());
    if (pack.isEmpty() || m_export.thread || e->source() || !(e->possibleActions() & Qt::CopyAction))
        return;
    e->setDropAction(Qt::CopyAction);
    e->accept();
    // After the drop has ended: the source waits for it, and opening may ask.
    QTimer::singleShot(0, this, [this, pack] { openPack(pack); });
}

QString MainWindow::droppedPack(const QMimeData *mime)
{
    // The first local file, when it is a file: any file may be a pack (the
    // library routes it by its name), and why it fails to open comes with
    // the opening.
    for (const QUrl &url : mime->urls())
        if (url.isLocalFile())
            return QFileInfo(url.toLocalFile()).isFile() ? url.toLocalFile() : QString();
    return QString();
}

void MainWindow::dragSelectionOut()
{
    if (m_export.thread || !m_archive || m_editor->hasChanges() || m_compare->comparison())
        return;
    const QList<const ArchiveNode *> nodes = ui->treeWidget->selectedNodes();
    const QList<ExportItem> items = ui->treeWidget->exportItems();
    if (items.isEmpty())
        return;
    // File managers take files, not archive entries: they are written first,
    // with the export's own machinery, to a folder that lives until the next
    // drag or the window's end.
    auto folder = std::make_unique<QTemporaryDir>();
    if (!folder->isValid())
        return;
    m_dragFolder = std::move(folder);
    m_dragNames.clear();
    for (const ArchiveNode *node : nodes)
        m_dragNames << QString::fromStdString(zarnik::FileSystemName(node->m_Name));
    startExport(items, m_dragFolder->path(), true);
}

void MainWindow::openWithApplication(const QModelIndex &index)
{
    const ArchiveNode *node = ArchiveTree::nodeOf(index);
    // A file added or replaced is not in the pack yet.
    if (!node || node->IsFolder() || m_export.thread || !m_archive || m_compare->comparison()
        || ui->treeWidget->packModel()->bytesPending(node))
        return;
    const QString file = m_desktop->placeFor(*node);
    if (file.isEmpty())
        return;
    m_fileToOpen = file;
    startExport({ExportItem{node, {}}}, file);
}

void MainWindow::abandonDrag()
{
    if (m_exportForDrag && m_export.thread)
        m_export.thread->requestStop();
}

void MainWindow::finishDrag()
{
    QList<QUrl> urls;
    for (const QString &name : qAsConst(m_dragNames)) {
        const QString file = QDir(m_dragFolder->path()).filePath(name);
        if (QFileInfo::exists(file))
            urls << QUrl::fromLocalFile(file);
    }
    if (urls.isEmpty())
        return;
    auto *mime = new QMimeData;
    mime->setUrls(urls);
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(Qt::CopyAction);
}

void MainWindow::on_action_Open_triggered()
{
    if (m_export.thread)
        return; // the worker reads the archive
    const QString fileName =
        QFileDialog::getOpenFileName(this, tr("Select Zarnik Pack"), Habits::openFolder(),
                                     tr("Zarnik packs (%1);;All files (*)")
                                         .arg(QString::fromLatin1(zarnik::kPackNamePatterns)));
    if (fileName.length() < 3)
        return;
    Habits::setOpenFolder(QFileInfo(fileName).absolutePath());
    openPack(fileName);
}

void MainWindow::updateRecentMenu()
{
    QMenu *menu = ui->menuRecent;
    menu->clear();
    // Packs no longer there are not offered; they stay remembered, as a
    // disk taken out may come back.
    QStringList packs = Habits::recentPacks();
    packs.erase(std::remove_if(packs.begin(), packs.end(), [](const QString &pack) { return !QFileInfo::exists(pack); }),
                packs.end());
    // A name met twice (every set's data0.vfs) says which folder it is in.
    QHash<QString, int> named;
    for (const QString &pack : packs)
        ++named[QFileInfo(pack).fileName()];
    for (int i = 0; i < packs.size(); ++i) {
        const QString pack = packs[i];
        const QFileInfo info(pack);
        const QString shown = named.value(info.fileName()) < 2
                                  ? info.fileName()
                                  : tr("%1 in %2").arg(info.fileName(), QDir::toNativeSeparators(info.absolutePath()));
        QAction *action = menu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown), this,
                                          [this, pack] { openRecentPack(pack); });
        action->setToolTip(QDir::toNativeSeparators(pack));
        action->setStatusTip(QDir::toNativeSeparators(pack));
        action->setEnabled(!m_export.thread);
    }
    if (!packs.isEmpty()) {
        menu->addSeparator();
        menu->addAction(tr("Clear the list"), this, [this] {
            Habits::clearRecentPacks();
            updateRecentMenu();
        });
    }
    menu->setEnabled(!packs.isEmpty());
}

void MainWindow::openRecentPack(const QString &fileName)
{
    // A pack deleted or moved since: its entry is of no more use.
    if (!QFileInfo::exists(fileName)) {
        const auto answer = QMessageBox::question(
            this, tr("Pack not found"),
            tr("%1 is no longer there.\nRemove it from the Recent list?")
                .arg(QDir::toNativeSeparators(fileName)),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        if (answer == QMessageBox::Yes) {
            Habits::removeRecentPack(fileName);
            updateRecentMenu();
        }
        return;
    }
    openPack(fileName);
}

bool MainWindow::openPack(const QString &fileName)
{
    if (m_export.thread)
        return false; // the worker reads the archive

    // The library takes 8-bit paths; the file-system encoding (not Latin-1)
    // keeps every name the user can pick openable.
    const std::string path = QFile::encodeName(fileName).toStdString();

    // The new pack first: a pack that fails to open leaves the one shown
    // open and usable. The library routes it by its name.
    CZarnikArchive::OpenResult opened = CZarnikArchive::Open(path);
    if (!opened.archive) {
        QMessageBox::critical(
            this, tr("Cannot open"),
            tr("%1 could not be opened:\n%2")
                .arg(QDir::toNativeSeparators(fileName),
                     QString::fromStdString(zarnik::OpenFailureReason(path, opened))));
        return false;
    }
    // Changes to be saved first: the pack opens again once they are.
    if (!m_editor->mayLeave([this, fileName] { openPack(fileName); }))
        return false;
    showPack(std::move(opened.archive), fileName);
    reportOmissions();
    return true;
}

void MainWindow::showPack(std::unique_ptr<const CZarnikArchive> archive, const QString &fileName)
{
    // A set by its index, which every save keeps, not by a data file a
    // save may give a new name.
    const QString remembered = archive->IsIndexRoute() ? QFile::decodeName(QByteArray::fromStdString(archive->GetIndexPath()))
                                                       : fileName;
    Habits::addRecentPack(QFileInfo(remembered).absoluteFilePath());
    updateRecentMenu();
    // The last pack's export line does not speak for this one.
    statusBar()->clearMessage();
    // What shows the old pack, and its edit, go before it; a search of it
    // ends as the new one takes its place.
    m_compare->leave();
    m_views.clear();
    m_find->setPack(archive.get(), fileName);
    m_editor->setPack(nullptr, QString());
    m_archive = std::move(archive);
    m_editor->setPack(m_archive.get(), fileName);
    showEdit();
}

void MainWindow::showEdit()
{
    updateTitle();
    ui->treeWidget->showRecord(&m_editor->edit()->Record());
    ui->treeWidget->setFilter(ui->filterEdit->text());
    // The whole pack chosen, as the details pane describes it: Export acts
    // on what the window shows.
    ui->treeWidget->choose(m_editor->edit()->Record().Root());
    updateSelectionStatus();
    updateDetails();
    updateActions();
}

void MainWindow::reportOmissions()
{
    const std::vector<OpenReportItem> &report = m_archive->GetOpenReport();
    QStringList details;
    for (const OpenReportItem &item : report) {
        const QString where = item.path.empty() ? tr("at byte %1").arg(item.offset)
                                                : shownText(item.path);
        details << where + QStringLiteral(": ") + QString::fromUtf8(zarnik::OpenReportItemText(item));
    }
    // What loses nothing is only said.
    const auto lost = size_t(std::count_if(report.begin(), report.end(),
                                           [](const OpenReportItem &item) { return item.entriesLost; }));
    if (lost == 0) {
        if (!details.isEmpty())
            statusBar()->showMessage(details.join(QStringLiteral("; ")));
        return;
    }
    QMessageBox box(QMessageBox::Warning, tr("Pack opened with omissions"),
                    lost == 1
                        ? tr("The pack opened, but 1 part of it was passed over: what could be "
                             "read is shown. See the details.")
                        : tr("The pack opened, but %1 parts of it were passed over: what could "
                             "be read is shown. See the details.")
                              .arg(QLocale().toString(qulonglong(lost))),
                    QMessageBox::Ok, this);
    box.setDetailedText(details.join('\n'));
    box.exec();
}

bool MainWindow::selectPath(const std::string &packPath)
{
    const zarnik_pack::PackEdit *edit = m_editor->edit();
    const ArchiveNode *node = edit ? edit->Record().Find(packPath) : nullptr;
    if (!node)
        return false;
    if (!ui->treeWidget->choose(node)) {
        ui->filterEdit->clear(); // the filter hides it
        if (!ui->treeWidget->choose(node))
            return false;
    }
    return true;
}

void MainWindow::showFound(const ArchiveNode *file, const TextSpot &spot)
{
    m_compare->leave(); // what was found is of the pack, not of a comparison
    // Another entry may stand at its path now, renamed there.
    const zarnik_pack::PackEdit *edit = m_editor->edit();
    if (!edit || edit->Record().Find(file->m_Path) != file || !selectPath(file->m_Path))
        statusBar()->showMessage(tr("%1 is renamed or deleted by the changes waiting: its text as saved is shown.")
                                     .arg(shownText(file->m_Path)));
    ui->detailsPane->showFile(m_archive.get(), file, {shownText(file->m_Name), shownText(file->m_Path), QString()},
                              spot);
}

void MainWindow::on_actionE_xit_triggered()
{
    close();
}
