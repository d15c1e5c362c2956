// The Edit commands that change the open pack (Add files, Add folder,
// Replace, Delete, Rename, Undo), files dropped on a folder of the tree,
// and File > Save / Save As. Changes stay pending (PendingChanges) until a
// save writes them on a worker thread (SaveThread) under the progress
// dialog; the window then opens the saved pack. Leaving a pack with
// pending changes asks whether to save them.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <memory>
#include <string>
#include <vector>

#include "PendingChanges.h"
#include "ProgressDlg.h"
#include "SaveThread.h"

namespace zarnik {
class CZarnikArchive;
struct ArchiveNode;
} // namespace zarnik
class ArchiveTree;
class QAction;
class QMainWindow;
class QTreeWidgetItem;

class PackEditor : public QObject
{
    Q_OBJECT

public:
    PackEditor(QMainWindow *window, ArchiveTree *tree);
    ~PackEditor() override;

    // The commands, for the window's menus: Add files, Add folder, Replace,
    // Delete, Rename, Undo; Save, Save As.
    QList<QAction *> editActions() const;
    QList<QAction *> fileActions() const;

    // The pack the window shows now (null: none), opened from `fileName`;
    // what was pending for the last one goes.
    void setPack(const zarnik::CZarnikArchive *archive, const QString &fileName);

    const QString &fileName() const { return m_fileName; }
    bool hasChanges() const { return m_pending && !m_pending->isEmpty(); }
    bool saving() const { return m_saveThread != nullptr; }
    // A .vfs set: saved only where it lies.
    bool isSet() const;
    // The tree to show: the pack as it will be saved, or null when nothing
    // is pending (the pack's own), with the entries no total counts.
    const zarnik::ArchiveNode *shownRoot() const;
    QSet<const zarnik::ArchiveNode *> uncounted() const;
    // Marks the changed items of the shown tree; returns the item of the
    // last change, if any.
    QTreeWidgetItem *markTree() const;
    // A file whose bytes are not yet in the pack: nothing to preview or export.
    bool isNew(const zarnik::ArchiveNode *node) const;
    bool isReplaced(const zarnik::ArchiveNode *node) const;
    // The changes the tree's context menu offers on what is selected.
    QList<QAction *> treeActions() const { return {m_add, m_addFolder, m_replace, m_rename, m_delete}; }
    // The file on the disk a new or replaced file's bytes come from.
    QString sourceOf(const zarnik::ArchiveNode *node) const;

    // Whether the window may leave the pack: with changes pending, asks to
    // Save (and saves), Discard or Cancel. False while a save runs.
    bool mayLeave();

signals:
    // The pending changes changed: the tree is to be shown again.
    void changed();
    // A save ended well: the pack at `fileName` is the one to show now.
    void saved(const QString &fileName);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateActions();
    void addFiles();
    void addFolder();
    void replaceFile();
    void deleteSelected();
    void renameSelected();
    void undo();
    void saveAs();
    void startSave(const QString &target);
    void onSaveDone(bool written, bool stopped, const QString &reason);
    void applyChange(const std::vector<PendingChanges::Step> &steps, const std::string &focus);
    // The steps that add the files and folders at `paths` below the folder
    // `folder`; false, saying why, when a name cannot go into a pack.
    bool addSteps(const QStringList &paths, const std::string &folder,
                  std::vector<PendingChanges::Step> &steps);
    // Asks whether the files of `steps` the pack already holds are replaced
    // (their steps become replacements) or skipped (their steps go); false
    // when the question is cancelled or nothing is left to add.
    bool settleExisting(std::vector<PendingChanges::Step> &steps);
    // The folder of the selection: a selected folder, or the file's own.
    std::string targetFolder() const;
    const zarnik::ArchiveNode *selectedFile() const;
    void refuse(const QString &text);

    QMainWindow *m_window;
    ArchiveTree *m_tree;
    QString m_fileName;
    std::unique_ptr<PendingChanges> m_pending;
    std::string m_focus; // the path of the last change's entry
    QPointer<SaveThread> m_saveThread;
    QPointer<ProgressDlg> m_progressDlg;
    QString m_saveTarget;
    bool m_leaving = false; // a save the unsaved-changes question started
    bool m_savedWell = false;
    bool m_justSaved = false; // saved; the window has yet to show the saved pack
    QAction *m_add, *m_addFolder, *m_replace, *m_delete, *m_rename, *m_undo, *m_save, *m_saveAs;
};
