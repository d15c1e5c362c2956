#include "PackEditor.h"

#include "ArchiveTree.h"
#include "PackEdit.h"
#include "PackPath.h"
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
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLocale>
#include <QMainWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QUrl>

#include <algorithm>
#include <functional>

using zarnik::ArchiveNode;

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
    connect(m_tree, &ArchiveTree::selectionMoved, this, &PackEditor::updateActions);
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
    m_newPack.reset();
    m_edit.reset();
    m_state = State::Idle;
    m_fileName = fileName;
    m_archive = archive;
    if (archive)
        m_edit = std::make_unique<zarnik_pack::PackEdit>(*archive, QFile::encodeName(fileName).toStdString(), false);
    updateActions();
    // Greyed commands say why on their own; the status line says it at once.
    if (m_edit && !m_edit->Usable())
        m_window->statusBar()->showMessage(m_save->toolTip());
}

void PackEditor::setNewPack()
{
    setPack(nullptr, QString());
    // The writer's empty start, as `zarnik create` makes it; the place is
    // given once Save asks for it (makeNewPack).
    m_edit = std::make_unique<zarnik_pack::PackEdit>(std::string());
    updateActions();
}

bool PackEditor::makeNewPack(const QString &target)
{
    m_newPack = std::make_unique<zarnik_pack::PackEdit>(QFile::encodeName(target).toStdString());
    for (const zarnik_pack::PackEdit::Item &item : m_edit->Items())
        if (!m_newPack->Add(item.path, item.diskPath, false, item.storage)) {
            refuse(QString::fromStdString(m_newPack->Reason()));
            m_newPack.reset();
            return false;
        }
    return true;
}

bool PackEditor::hasChanges() const
{
    return m_edit && m_state != State::Saved && m_edit->HasChanges();
}

QList<const ArchiveNode *> PackEditor::changeable() const
{
    QList<const ArchiveNode *> nodes;
    if (!m_edit)
        return nodes;
    const zarnik_pack::EditRecord &record = m_edit->Record();
    for (const ArchiveNode *node : m_tree->selectedNodes())
        if (node != record.Root() && !record.State(node).deleted)
            nodes << node;
    return nodes;
}

void PackEditor::hold(const QString &reason)
{
    m_held = reason;
    updateActions();
}

void PackEditor::updateActions()
{
    const bool open = m_edit != nullptr;
    const bool usable = open && m_edit->Usable() && m_state != State::Saving && m_held.isEmpty();
    const QString why = !m_held.isEmpty()                ? m_held
                        : open && !m_edit->Usable() ? tr("This pack cannot be changed: %1")
                                                          .arg(QString::fromStdString(m_edit->Reason()))
                                                    : QString();
    const qsizetype changing = changeable().size();
    m_add->setEnabled(usable);
    m_addFolder->setEnabled(usable);
    m_replace->setEnabled(usable && selectedFile());
    m_delete->setEnabled(usable && changing > 0);
    m_rename->setEnabled(usable && changing == 1 && m_tree->selectedNodes().size() == 1);
    m_undo->setEnabled(open && m_state == State::Idle && m_edit->CanUndo() && m_held.isEmpty());
    m_save->setEnabled(usable && hasChanges());
    m_saveAs->setEnabled(usable && !isSet() && (!isNew() || hasChanges()));
    // A pack that cannot be changed says why on every command.
    for (QAction *a : {m_add, m_addFolder, m_replace, m_delete, m_rename, m_save, m_saveAs}) {
        a->setToolTip(why.isEmpty() ? a->text().remove(QLatin1Char('&')).remove(QStringLiteral("..."))
                                    : why);
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
    const zarnik_pack::EditRecord &record = m_edit->Record();
    if (nodes.isEmpty())
        return record.Path(record.Root());
    const ArchiveNode *folder = record.IsFile(nodes.first()) ? record.Parent(nodes.first()) : nodes.first();
    return record.Path(folder ? folder : record.Root());
}

const ArchiveNode *PackEditor::selectedFile() const
{
    const QList<const ArchiveNode *> nodes = changeable();
    if (nodes.size() != 1 || m_tree->selectedNodes().size() != 1 || !m_edit->Record().IsFile(nodes.first()))
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
    const zarnik_pack::PackEdit &edit = *m_edit;
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

bool PackEditor::applyStep(const Step &step)
{
    switch (step.kind) {
    case Step::Add:
    case Step::Replace:
        return m_edit->Add(step.path, step.other, step.kind == Step::Replace);
    case Step::Delete:
        return m_edit->Delete(step.path);
    case Step::Rename:
        return m_edit->Rename(step.path, step.other);
    }
    return false;
}

bool PackEditor::applyChange(const std::vector<Step> &steps)
{
    if (steps.empty() || !m_edit)
        return false;
    // All steps or none: a step refused takes back those before it.
    m_edit->BeginChange();
    for (const Step &step : steps)
        if (!applyStep(step)) {
            m_edit->CancelChange();
            refuse(QString::fromStdString(m_edit->Reason()));
            return false;
        }
    m_edit->EndChange();
    return true;
}

void PackEditor::addAll(std::vector<Step> steps)
{
    if (!applyChange(steps))
        return;
    emit changed(m_edit->Touched(), m_edit->Record().Find(steps.back().path));
    updateActions();
}

void PackEditor::addFiles()
{
    const std::string folder = targetFolder();
    const QStringList files = QFileDialog::getOpenFileNames(
        m_window, tr("Add files to %1").arg(shownText(folder)), QString(), tr("All files (*)"));
    std::vector<Step> steps;
    if (!files.isEmpty() && addSteps(files, folder, steps))
        addAll(std::move(steps));
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
    addAll(std::move(steps));
}

void PackEditor::replaceFile()
{
    const ArchiveNode *file = selectedFile();
    if (!file || !m_replace->isEnabled())
        return;
    const std::string path = m_edit->Record().Path(file);
    const QString source = QFileDialog::getOpenFileName(
        m_window, tr("Replace %1 with").arg(shownText(path)), QString(), tr("All files (*)"));
    if (!source.isEmpty() && applyChange({{Step::Replace, path, QFile::encodeName(source).toStdString()}})) {
        emit changed(m_edit->Touched(), file);
        updateActions();
    }
}

void PackEditor::deleteSelected()
{
    if (!m_delete->isEnabled())
        return;
    const QList<const ArchiveNode *> nodes = changeable();
    std::vector<Step> steps;
    for (const ArchiveNode *node : nodes)
        steps.push_back({Step::Delete, m_edit->Record().Path(node), {}});
    if (applyChange(steps)) {
        emit changed(m_edit->Touched(), nodes.first());
        updateActions();
    }
}

void PackEditor::renameSelected()
{
    if (!m_rename->isEnabled())
        return;
    const ArchiveNode *node = changeable().first();
    const zarnik_pack::EditRecord &record = m_edit->Record();
    const std::string path = record.Path(node);
    bool ok = false;
    const QString name = QInputDialog::getText(m_window, tr("Rename"),
                                               tr("New name of %1 (a / moves it below its folder):")
                                                   .arg(shownText(path)),
                                               QLineEdit::Normal, QString::fromLatin1(record.Name(node).c_str()), &ok);
    if (!ok || name.isEmpty())
        return;
    const std::optional<std::string> packed = zarnik::Latin1FromUtf8(name.toStdString());
    if (!packed)
        return refuse(QStringLiteral("%1: %2").arg(name, QString::fromLatin1(zarnik::kNotLatin1Reason)));
    const std::string to = path.substr(0, path.rfind('\\') + 1) + zarnik::WithBackslashes(*packed);
    if (applyChange({{Step::Rename, path, to}})) {
        emit changed(m_edit->Touched(), node);
        updateActions();
    }
}

void PackEditor::undo()
{
    if (!m_edit || m_state != State::Idle || !m_edit->Undo())
        return;
    // The entry the undone change touched is chosen again where it stands.
    const zarnik_pack::EditTouch &touched = m_edit->Touched();
    const zarnik_pack::EditRecord &record = m_edit->Record();
    const ArchiveNode *focus = nullptr;
    for (const ArchiveNode *node : touched.nodes) {
        const zarnik_pack::NodeState state = record.State(node);
        if (!focus && (state.kept || state.deleted))
            focus = node;
    }
    if (!focus && !touched.folders.empty())
        focus = touched.folders.front();
    emit changed(touched, focus);
    updateActions();
}

bool PackEditor::isSet() const
{
    return m_archive && m_archive->IsIndexRoute();
}

bool PackEditor::changedElsewhere(bool over)
{
    // Over the pack, any file of it changed counts: the save would write
    // over the other program's work. A new pack needs only the files it
    // copies from to be as they were.
    if (isNew())
        return false;
    const std::string changed = over ? m_archive->ChangedSinceOpened() : std::string();
    const std::string source = m_edit->ChangedSource();
    if (changed.empty() && source.empty())
        return false;
    const QString file = QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(source.empty() ? changed
                                                                                                            : source)));
    if (source.empty() && !isSet()) {
        QMessageBox box(QMessageBox::Warning, tr("Not saved"),
                        tr("%1 was changed by another program since it was opened: saving over it would lose "
                           "that program's work.\nSave As... keeps your changes in a new pack.")
                            .arg(file),
                        QMessageBox::Save | QMessageBox::Cancel, m_window);
        box.button(QMessageBox::Save)->setText(tr("Save &As..."));
        if (box.exec() == QMessageBox::Save)
            saveAs();
        return true;
    }
    QMessageBox box(QMessageBox::Warning, tr("Not saved"),
                    tr("%1 was changed by another program since it was opened: your changes cannot be applied "
                       "to it any more.\nExport what you still need from it, or discard the changes to see the "
                       "pack as it is now.")
                        .arg(file),
                    QMessageBox::Discard | QMessageBox::Cancel, m_window);
    box.setDefaultButton(QMessageBox::Cancel);
    if (box.exec() == QMessageBox::Discard) {
        m_state = State::Saved; // nothing is left to ask about
        emit saved(m_fileName);
    }
    return true;
}

void PackEditor::saveAs()
{
    if (!m_saveAs->isEnabled() || changedElsewhere(false))
        return;
    // The pack writer never replaces a file: ask again instead of Qt's own
    // "Do you want to replace it?".
    QString proposal = isNew() ? QString() : QFileInfo(m_fileName).absolutePath();
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
    if (m_state == State::Saving || !m_edit || !m_edit->Usable() || (target.isEmpty() && !hasChanges())
        || (target.isEmpty() && changedElsewhere(true)))
        return;
    // A new pack has no place yet: Save is Save As.
    if (isNew() && target.isEmpty())
        return saveAs();
    if (isNew() && !makeNewPack(target))
        return;
    // A set is saved where it lies, its changed data files under new names:
    // it opens again through its index.
    m_saveTarget = !target.isEmpty() ? target
                   : isSet()         ? QFileInfo(m_fileName).dir().filePath(QString::fromLatin1(zarnik::kIndexName))
                                     : m_fileName;
    m_state = State::Saving;
    m_saveThread = m_newPack ? new SaveThread(*m_newPack, QString(), this) : new SaveThread(*m_edit, target, this);
    m_progressDlg = new ProgressDlg(m_window);
    m_progressDlg->setWindowTitle(tr("Saving"));
    m_progressDlg->setNotice(tr("Saving %1: the pack changes only once the new one is written and checked...")
                                 .arg(QFileInfo(m_saveTarget).fileName()),
                             tr("Cancel the save?\nThe pack stays as it was, and the changes stay pending."),
                             tr("Cancelling: the pack stays as it was..."));
    connect(m_saveThread, &SaveThread::fileStarted, m_progressDlg, &ProgressDlg::setFile);
    connect(m_saveThread, &SaveThread::progressChanged, m_progressDlg, &ProgressDlg::setProgress);
    connect(m_saveThread, &SaveThread::checkStarted, m_progressDlg, &ProgressDlg::setChecking);
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
    m_newPack.reset();
    // Leaving waited for this save; a save that failed leaves nothing.
    const std::function<void()> leave = std::exchange(m_afterSave, {});
    m_state = written ? State::Saved : State::Idle;
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
    const QString target = m_saveTarget;
    // The saved pack is the one to show, unless the window leaves it.
    if (leave)
        leave();
    else
        emit saved(target);
    // After the opening, which clears the last pack's line.
    m_window->statusBar()->showMessage(tr("Saved %1").arg(QDir::toNativeSeparators(target)));
}

bool PackEditor::mayLeave(std::function<void()> leave)
{
    if (m_state == State::Saving) {
        QMessageBox question(QMessageBox::Question, tr("Saving"),
                             tr("%1 is being saved.\nGo on once the save is done?")
                                 .arg(QFileInfo(m_saveTarget).fileName()),
                             QMessageBox::Yes | QMessageBox::No, m_window);
        question.setDefaultButton(QMessageBox::Yes);
        if (question.exec() == QMessageBox::Yes && m_state == State::Saving)
            m_afterSave = std::move(leave);
        return false;
    }
    if (!hasChanges())
        return true;
    QMessageBox question(QMessageBox::Question, tr("Unsaved changes"),
                         tr("%1 has changes that are not saved.\nSave them?")
                             .arg(isNew() ? tr("The new pack") : QFileInfo(m_fileName).fileName()),
                         QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, m_window);
    question.setDefaultButton(QMessageBox::Save);
    const int answer = question.exec();
    if (answer == QMessageBox::Discard)
        return true;
    if (answer == QMessageBox::Save) {
        startSave(QString());
        if (m_state == State::Saving)
            m_afterSave = std::move(leave);
    }
    return false;
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
    const ArchiveNode *node = ArchiveTree::nodeOf(m_tree->indexAt(drop->position().toPoint()));
    const bool onFolder = node && !m_edit->Record().IsFile(node) && !m_edit->Record().State(node).deleted;
    if (type == QEvent::DragEnter || onFolder) {
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
    } else {
        drop->ignore();
    }
    if (type == QEvent::Drop && onFolder) {
        const QStringList paths = localFiles(drop->mimeData());
        const std::string folder = m_edit->Record().Path(node);
        // After the drop has ended: the source waits for it, and a refusal asks.
        QMetaObject::invokeMethod(this, [this, paths, folder] {
            std::vector<Step> steps;
            if (addSteps(paths, folder, steps))
                addAll(std::move(steps));
        }, Qt::QueuedConnection);
    }
    return true;
}
