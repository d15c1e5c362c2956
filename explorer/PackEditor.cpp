#include "PackEditor.h"

#include "ArchiveTree.h"
#include "ProgressDlg.h"
#include "SaveThread.h"
#include "ShownText.h"
#include "PackPath.h"
#include "PathRule.h"
#include "SourceWalk.h"
#include "ZarnikArchive.h"

#include <QAction>
#include <QDir>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLocale>
#include <QMainWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidgetItemIterator>
#include <QUrl>

#include <algorithm>
#include <functional>

using zarnik::ArchiveNode;
using Step = PendingChanges::Step;

namespace {

QStringList localFiles(const QMimeData *mime)
{
    QStringList files;
    for (const QUrl &url : mime->urls())
        if (url.isLocalFile())
            files << url.toLocalFile();
    return files;
}

} // namespace

PackEditor::PackEditor(QMainWindow *window, ArchiveTree *tree)
    : QObject(window)
    , m_window(window)
    , m_tree(tree)
{
    const auto action = [this](const char *name, const QString &text, const QKeySequence &keys,
                               std::function<void()> slot) {
        auto *a = new QAction(text, m_window);
        a->setObjectName(QLatin1String(name));
        a->setShortcut(keys);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    m_add = action("actionAddFiles", tr("&Add files..."), {}, [this] { addFiles(); });
    m_addFolder = action("actionAddFolder", tr("Add &folder..."), {}, [this] { addFolder(); });
    m_replace = action("actionReplace", tr("Re&place..."), {}, [this] { replaceFile(); });
    m_delete = action("actionDelete", tr("&Delete"), QKeySequence::Delete, [this] { deleteSelected(); });
    m_rename = action("actionRename", tr("Re&name..."), Qt::Key_F2, [this] { renameSelected(); });
    m_undo = action("actionUndo", tr("&Undo"), QKeySequence::Undo, [this] { undo(); });
    m_save = action("actionSave", tr("&Save"), QKeySequence::Save, [this] { startSave(QString()); });
    // Desktops without a key for Save As of their own (a bare X11 session
    // has none) get the usual one.
    const QList<QKeySequence> saveAsKeys = QKeySequence::keyBindings(QKeySequence::SaveAs);
    m_saveAs = action("actionSaveAs", tr("Save &As..."),
                      saveAsKeys.isEmpty() ? QKeySequence(tr("Ctrl+Shift+S")) : saveAsKeys.first(),
                      [this] { saveAs(); });
    // The tree's Delete and F2, not the filter line's.
    for (QAction *a : {m_delete, m_rename}) {
        m_tree->addAction(a);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    }
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &PackEditor::updateActions);
    m_tree->viewport()->installEventFilter(this);
    m_tree->setAcceptDrops(true);
    updateActions();
}

PackEditor::~PackEditor()
{
    delete m_saveThread; // stops the worker, which reads the edit
    delete m_progressDlg;
}

QList<QAction *> PackEditor::editActions() const
{
    return {m_undo, nullptr, m_add, m_addFolder, m_replace, m_rename, m_delete};
}

QList<QAction *> PackEditor::fileActions() const
{
    return {m_save, m_saveAs};
}

void PackEditor::setPack(const zarnik::CZarnikArchive *archive, const QString &fileName)
{
    m_pending.reset();
    m_justSaved = false;
    m_fileName = fileName;
    if (archive)
        m_pending = std::make_unique<PendingChanges>(*archive, QFile::encodeName(fileName).toStdString());
    updateActions();
}

const ArchiveNode *PackEditor::shownRoot() const
{
    return hasChanges() ? m_pending->root() : nullptr;
}

QSet<const ArchiveNode *> PackEditor::uncounted() const
{
    return hasChanges() ? m_pending->deleted() : QSet<const ArchiveNode *>();
}

bool PackEditor::isNew(const ArchiveNode *node) const
{
    const auto mark = hasChanges() ? m_pending->markOf(node) : PendingChanges::Unchanged;
    return mark == PendingChanges::Added || mark == PendingChanges::Replaced;
}

bool PackEditor::isReplaced(const ArchiveNode *node) const
{
    return hasChanges() && m_pending->markOf(node) == PendingChanges::Replaced;
}

QString PackEditor::sourceOf(const ArchiveNode *node) const
{
    return hasChanges() ? QFile::decodeName(QByteArray::fromStdString(m_pending->sourceOf(node))) : QString();
}

QTreeWidgetItem *PackEditor::markTree() const
{
    if (!hasChanges())
        return nullptr;
    QTreeWidgetItem *focus = nullptr;
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        QTreeWidgetItem *item = *it;
        const ArchiveNode *node = ArchiveTree::nodeOf(item);
        if (node && node->m_Path == m_focus && (!focus || m_pending->markOf(node) != PendingChanges::Deleted))
            focus = item;
        QString tip;
        QFont font = item->font(0);
        switch (m_pending->markOf(node)) {
        case PendingChanges::Unchanged:
            continue;
        case PendingChanges::Added:
        case PendingChanges::Replaced: {
            const bool added = m_pending->markOf(node) == PendingChanges::Added;
            tip = added ? tr("Added: written into the pack when it is saved")
                        : tr("Replaced: the new contents are written when the pack is saved");
            font.setBold(true);
            // Its stored size is known once it is saved.
            item->setText(ArchiveTree::StoredColumn, added ? tr("new") : tr("replaced"));
            item->setText(ArchiveTree::RatioColumn, QString());
            break;
        }
        case PendingChanges::Renamed:
            tip = tr("Renamed from %1").arg(shownText(m_pending->oldPath(node)));
            font.setItalic(true);
            break;
        case PendingChanges::Deleted:
            tip = tr("Deleted: left out when the pack is saved");
            font.setStrikeOut(true);
            for (int column = 0; column < m_tree->columnCount(); ++column)
                item->setForeground(column, m_tree->palette().brush(QPalette::Disabled, QPalette::Text));
            break;
        }
        for (int column = 0; column < m_tree->columnCount(); ++column) {
            item->setFont(column, font);
            item->setToolTip(column, tip);
        }
    }
    return focus;
}

void PackEditor::updateActions()
{
    const bool open = m_pending != nullptr;
    const bool usable = open && m_pending->usable() && !saving();
    const QString why = open && !m_pending->usable() ? m_pending->refusal() : QString();
    const ArchiveNode *file = selectedFile();
    bool anyChangeable = false;
    for (const ArchiveNode *node : m_tree->selectedNodes())
        anyChangeable = anyChangeable
                        || (node->m_Path.find('\\') != std::string::npos
                            && (!hasChanges() || m_pending->markOf(node) != PendingChanges::Deleted));
    m_add->setEnabled(usable);
    m_addFolder->setEnabled(usable);
    m_replace->setEnabled(usable && file);
    m_delete->setEnabled(usable && anyChangeable);
    m_rename->setEnabled(usable && anyChangeable && m_tree->selectedNodes().size() == 1);
    m_undo->setEnabled(!saving() && hasChanges());
    m_save->setEnabled(usable && hasChanges());
    m_saveAs->setEnabled(usable && !isSet());
    // A pack that cannot be changed says why on every command.
    for (QAction *a : {m_add, m_addFolder, m_replace, m_delete, m_rename, m_save, m_saveAs}) {
        a->setToolTip(why.isEmpty() ? a->text().remove(QLatin1Char('&')).remove(QStringLiteral("..."))
                                    : tr("This pack cannot be changed: %1").arg(why));
        a->setStatusTip(why.isEmpty() ? QString() : a->toolTip());
    }
    if (why.isEmpty() && isSet()) {
        m_saveAs->setToolTip(tr("A .vfs set is saved where it lies; to change a copy, copy its folder first"));
        m_saveAs->setStatusTip(m_saveAs->toolTip());
    }
}

std::string PackEditor::targetFolder() const
{
    const QList<const ArchiveNode *> nodes = m_tree->selectedNodes();
    if (nodes.isEmpty())
        return zarnik::kRootName;
    const std::string &path = nodes.first()->m_Path;
    if (nodes.first()->IsFolder() && !isNew(nodes.first()))
        return path;
    const size_t last = path.rfind('\\');
    return last == std::string::npos ? std::string(zarnik::kRootName) : path.substr(0, last);
}

const ArchiveNode *PackEditor::selectedFile() const
{
    const QList<const ArchiveNode *> nodes = m_tree->selectedNodes();
    if (nodes.size() != 1 || nodes.first()->IsFolder())
        return nullptr;
    if (hasChanges() && m_pending->markOf(nodes.first()) == PendingChanges::Deleted)
        return nullptr;
    return nodes.first();
}

void PackEditor::refuse(const QString &text)
{
    QMessageBox::warning(m_window, tr("Cannot change the pack"), text);
}

bool PackEditor::addSteps(const QStringList &paths, const std::string &folder, std::vector<Step> &steps)
{
    QStringList passedOver, refused;
    for (const QString &path : paths) {
        const zarnik::SourceWalk walk = zarnik::WalkSource(QFile::encodeName(path).toStdString(), folder);
        for (const zarnik::SourceFile &file : walk.files)
            steps.push_back({Step::Add, file.packPath, file.diskPath});
        for (const zarnik::SourceSkip &skip : walk.passedOver)
            passedOver << QString::fromStdString(skip.line);
        for (const zarnik::SourceSkip &skip : walk.refused)
            refused << QString::fromStdString(skip.line);
    }
    // The first lines of a list that may be long.
    const auto lines = [](const QStringList &list) {
        return list.mid(0, 10).join(QLatin1Char('\n'))
               + (list.size() > 10 ? tr("\n... and %1 more").arg(list.size() - 10) : QString());
    };
    if (!refused.isEmpty()) {
        refuse(tr("A pack cannot hold these as they are; nothing was added:\n%1").arg(lines(refused)));
        return false;
    }
    if (!passedOver.isEmpty())
        QMessageBox::information(m_window, tr("Not added"),
                                 tr("These are left out (links are not followed; only regular files are added):\n%1")
                                     .arg(lines(passedOver)));
    return settleExisting(steps);
}

bool PackEditor::settleExisting(std::vector<Step> &steps)
{
    const zarnik_pack::PackEdit &edit = m_pending->edit();
    const auto inPack = [&edit](const Step &step) { return edit.IsFile(step.path); };
    const size_t existing = size_t(std::count_if(steps.begin(), steps.end(), inPack));
    if (existing == 0)
        return true;
    const QString first = shownText(std::find_if(steps.begin(), steps.end(), inPack)->path);
    QMessageBox box(QMessageBox::Question, tr("Files already in the pack"),
                    existing == 1
                        ? tr("%1 is already in the pack.\nReplace it with the file you chose?").arg(first)
                        : tr("%1 files are already in the pack, such as %2.\nReplace them with the files you chose?")
                              .arg(QLocale().toString(qulonglong(existing)), first),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, m_window);
    box.button(QMessageBox::Yes)->setText(tr("&Replace"));
    box.button(QMessageBox::No)->setText(existing == steps.size() ? tr("&Skip") : tr("&Skip, add the others"));
    box.setDefaultButton(QMessageBox::Cancel);
    const int answer = box.exec();
    if (answer == QMessageBox::Yes) {
        for (Step &step : steps)
            if (inPack(step))
                step.kind = Step::Replace;
        return true;
    }
    if (answer != QMessageBox::No)
        return false;
    steps.erase(std::remove_if(steps.begin(), steps.end(), inPack), steps.end());
    return !steps.empty();
}

void PackEditor::applyChange(const std::vector<Step> &steps, const std::string &focus)
{
    if (steps.empty() || !m_pending)
        return;
    if (!m_pending->apply(steps))
        return refuse(m_pending->reason());
    m_focus = focus;
    emit changed();
    updateActions();
}

void PackEditor::addFiles()
{
    const std::string folder = targetFolder();
    const QStringList files = QFileDialog::getOpenFileNames(
        m_window, tr("Add files to %1").arg(shownText(folder)), QString(), tr("All files (*)"));
    std::vector<Step> steps;
    if (!files.isEmpty() && addSteps(files, folder, steps))
        applyChange(steps, steps.back().path);
}

void PackEditor::addFolder()
{
    const std::string folder = targetFolder();
    const QString dir = QFileDialog::getExistingDirectory(
        m_window, tr("Add a folder to %1").arg(shownText(folder)), QString(), QFileDialog::ShowDirsOnly);
    std::vector<Step> steps;
    if (dir.isEmpty() || !addSteps({dir}, folder, steps))
        return;
    if (steps.empty())
        return refuse(tr("%1 holds no file; a pack keeps no empty folder.").arg(QDir::toNativeSeparators(dir)));
    applyChange(steps, steps.back().path);
}

void PackEditor::replaceFile()
{
    const ArchiveNode *file = selectedFile();
    if (!file || !m_replace->isEnabled())
        return;
    const QString source = QFileDialog::getOpenFileName(
        m_window, tr("Replace %1 with").arg(shownText(file->m_Path)), QString(), tr("All files (*)"));
    if (!source.isEmpty())
        applyChange({{Step::Replace, file->m_Path, QFile::encodeName(source).toStdString()}}, file->m_Path);
}

void PackEditor::deleteSelected()
{
    if (!m_delete->isEnabled())
        return;
    std::vector<Step> steps;
    for (const ArchiveNode *node : m_tree->selectedNodes())
        if (node->m_Path.find('\\') != std::string::npos
            && (!hasChanges() || m_pending->markOf(node) != PendingChanges::Deleted))
            steps.push_back({Step::Delete, node->m_Path, {}});
    if (!steps.empty())
        applyChange(steps, steps.front().path);
}

void PackEditor::renameSelected()
{
    if (!m_rename->isEnabled())
        return;
    const ArchiveNode *node = m_tree->selectedNodes().first();
    bool ok = false;
    const QString name = QInputDialog::getText(m_window, tr("Rename"),
                                               tr("New name of %1 (a / moves it below its folder):")
                                                   .arg(shownText(node->m_Path)),
                                               QLineEdit::Normal, QString::fromLatin1(node->m_Name.c_str()), &ok);
    if (!ok || name.isEmpty())
        return;
    const std::optional<std::string> packed = zarnik::Latin1FromUtf8(name.toStdString());
    if (!packed)
        return refuse(QStringLiteral("%1: %2").arg(name, QString::fromLatin1(zarnik::kNotLatin1Reason)));
    const std::string to = node->m_Path.substr(0, node->m_Path.rfind('\\') + 1) + zarnik::WithBackslashes(*packed);
    applyChange({{Step::Rename, node->m_Path, to}}, to);
}

void PackEditor::undo()
{
    if (!hasChanges() || saving())
        return;
    m_pending->undo();
    m_focus.clear();
    emit changed();
    updateActions();
}

bool PackEditor::isSet() const
{
    return m_pending && m_pending->edit().Archive().IsIndexRoute();
}

void PackEditor::saveAs()
{
    if (!m_saveAs->isEnabled())
        return;
    // The pack writer never replaces a file: ask again instead of Qt's own
    // "Do you want to replace it?".
    QString proposal = QFileInfo(m_fileName).absolutePath();
    for (;;) {
        const QString packs = tr("Single packs (*.upk)");
        QString filter;
        QString path = QFileDialog::getSaveFileName(m_window, tr("Save the pack as"), proposal,
                                                    packs + tr(";;All files (*)"), &filter,
                                                    QFileDialog::DontConfirmOverwrite);
        if (path.isEmpty())
            return;
        // A name typed bare takes the chosen filter's extension, so that
        // File > Open's filter shows the saved pack.
        if (filter == packs && QFileInfo(path).suffix().isEmpty())
            path += QLatin1String(".upk");
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
            return startSave(path);
        QMessageBox::information(m_window, tr("File exists"),
                                 tr("%1 already exists.\nA pack is never saved over another file: "
                                    "choose another name.")
                                     .arg(QDir::toNativeSeparators(path)));
        proposal = path;
    }
}

void PackEditor::startSave(const QString &target)
{
    if (saving() || !m_pending || !m_pending->usable() || (target.isEmpty() && !hasChanges()))
        return;
    // A set is saved where it lies, its changed data files under new names:
    // it opens again through its index.
    m_saveTarget = !target.isEmpty() ? target
                   : isSet()         ? QFileInfo(m_fileName).dir().filePath(QString::fromLatin1(zarnik::kIndexName))
                                     : m_fileName;
    m_saveThread = new SaveThread(m_pending->edit(), target, this);
    m_progressDlg = new ProgressDlg(m_window);
    m_progressDlg->setWindowTitle(tr("Saving"));
    m_progressDlg->setNotice(tr("Saving %1: the pack changes only once the new one is written and checked...")
                                 .arg(QFileInfo(m_saveTarget).fileName()),
                             tr("Cancel the save?\nThe pack stays as it was, and the changes stay pending."),
                             tr("Cancelling: the pack stays as it was..."));
    connect(m_saveThread, &SaveThread::fileStarted, m_progressDlg, &ProgressDlg::setFile);
    connect(m_saveThread, &SaveThread::progressChanged, m_progressDlg, &ProgressDlg::setProgress);
    connect(m_saveThread, &SaveThread::done, this, &PackEditor::onSaveDone);
    connect(m_progressDlg, &ProgressDlg::cancelRequested, m_saveThread, &SaveThread::requestStop);
    updateActions();
    m_progressDlg->show();
    m_saveThread->start();
}

void PackEditor::onSaveDone(bool written, bool stopped, const QString &reason)
{
    m_saveThread = nullptr; // it deletes itself once finished
    if (m_progressDlg) {
        m_progressDlg->finish();
        delete m_progressDlg;
    }
    m_savedWell = written;
    updateActions();
    if (!written) {
        QMessageBox box(stopped ? QMessageBox::Information : QMessageBox::Critical,
                        stopped ? tr("Save cancelled") : tr("Not saved"),
                        tr("%1 was not saved: %2.\nThe changes are still pending.")
                            .arg(QDir::toNativeSeparators(m_saveTarget), reason),
                        QMessageBox::Ok, m_window);
        box.exec();
        return;
    }
    if (!m_leaving) {
        // The saved pack is the one to show: its entries, not the pending
        // tree (else the window leaves the pack anyway).
        m_justSaved = true;
        emit saved(m_saveTarget);
    }
    // After the opening, which clears the last pack's line.
    m_window->statusBar()->showMessage(tr("Saved %1").arg(QDir::toNativeSeparators(m_saveTarget)));
}

bool PackEditor::mayLeave()
{
    if (saving())
        return false;
    if (!hasChanges() || m_justSaved)
        return true;
    QMessageBox question(QMessageBox::Question, tr("Unsaved changes"),
                         tr("%1 has changes that are not saved.\nSave them?")
                             .arg(QFileInfo(m_fileName).fileName()),
                         QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, m_window);
    question.setDefaultButton(QMessageBox::Save);
    const int answer = question.exec();
    if (answer == QMessageBox::Discard)
        return true;
    if (answer != QMessageBox::Save)
        return false;
    m_leaving = true;
    m_savedWell = false;
    startSave(QString());
    if (m_saveThread) {
        QEventLoop loop;
        connect(m_saveThread, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec();
    }
    m_leaving = false;
    return m_savedWell;
}

bool PackEditor::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched != m_tree->viewport()
        || (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop))
        return QObject::eventFilter(watched, event);
    auto *drop = static_cast<QDropEvent *>(event);
    // Files from elsewhere, taken as a copy, onto a folder of a pack that
    // can change. Anything else is the window's (a pack dropped to open).
    const bool files = m_add->isEnabled() && !drop->source() && (drop->possibleActions() & Qt::CopyAction)
                       && !localFiles(drop->mimeData()).isEmpty();
    if (!files) {
        event->ignore();
        return type != QEvent::DragEnter; // an enter goes on to the window
    }
    const ArchiveNode *node = ArchiveTree::nodeOf(m_tree->itemAt(drop->position().toPoint()));
    const bool onFolder = node && node->IsFolder() && !isNew(node)
                          && (!hasChanges() || m_pending->markOf(node) != PendingChanges::Deleted);
    if (type == QEvent::DragEnter || onFolder) {
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
    } else {
        drop->ignore();
    }
    if (type == QEvent::Drop && onFolder) {
        const QStringList paths = localFiles(drop->mimeData());
        const std::string folder = node->m_Path;
        // After the drop has ended: the source waits for it, and a refusal asks.
        QMetaObject::invokeMethod(this, [this, paths, folder] {
            std::vector<Step> steps;
            if (addSteps(paths, folder, steps))
                applyChange(steps, steps.empty() ? folder : steps.back().path);
        }, Qt::QueuedConnection);
    }
    return true;
}
