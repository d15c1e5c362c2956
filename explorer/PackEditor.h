// The Edit commands that change the open pack (Add files, Add folder,
// Replace, Delete, Rename, Undo), files dropped on a folder of the tree,
// and File > Save / Save As. The changes go into the pack writer's edit
// (PackEdit), whose record the tree shows, and stay pending until a save
// writes them on a worker thread (SaveThread) under the progress dialog;
// the window then opens the saved pack. Leaving a pack with pending changes
// asks whether to save them first.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ProgressDlg.h"
#include "SaveThread.h"

namespace zarnik {
class CZarnikArchive;
struct ArchiveNode;
} // namespace zarnik
namespace zarnik_pack {
class PackEdit;
struct EditTouch;
} // namespace zarnik_pack
class ArchiveTree;
class QAction;
class QMainWindow;

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
    // The changes the tree's context menu offers on what is selected.
    QList<QAction *> treeActions() const { return {m_add, m_addFolder, m_replace, m_rename, m_delete}; }

    // The pack the window shows now (null: none), opened from `fileName`:
    // an edit of it starts, with nothing pending. The edit goes with the
    // next call, or with `setPack(nullptr, {})`.
    void setPack(const zarnik::CZarnikArchive *archive, const QString &fileName);
    // An empty pack, not saved yet, to add to: Save asks where it goes.
    void setNewPack();
    // The pack shown is the one setNewPack() made.
    bool isNew() const { return m_edit && !m_archive; }
    // The edit of the pack shown; null when none is open.
    const zarnik_pack::PackEdit *edit() const { return m_edit.get(); }

    const QString &fileName() const { return m_fileName; }
    // The pack as it would be saved differs from the one opened (a rename
    // there and back is no change); false once the changes are saved.
    bool hasChanges() const;
    bool saving() const { return m_state == State::Saving; }
    // A .vfs set: saved only where it lies.
    bool isSet() const;

    // Whether the window may leave the pack now (close, open another). With
    // changes pending it asks: Discard leaves, Cancel stays, Save saves and,
    // once the save ended well, calls `leave`. While a save runs, asks to
    // leave once it is done. A save that fails leaves nothing.
    bool mayLeave(std::function<void()> leave);
    // While the tree shows something else than the edit (a comparison),
    // every change waits, each command saying `reason`; "" lifts it.
    void hold(const QString &reason);

signals:
    // The edit changed (a change, or its undo): the rows it touched follow,
    // `focus` chosen where it is shown.
    void changed(const zarnik_pack::EditTouch &touched, const zarnik::ArchiveNode *focus);
    // A save ended well, or the changes were dropped: the pack at
    // `fileName` is the one to show now.
    void saved(const QString &fileName);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // One step of a change, as the edit takes it: paths in the pack's 8-bit
    // form with '\', the file on disk in the system's.
    struct Step
    {
        enum Kind { Add, Replace, Delete, Rename } kind;
        std::string path;
        std::string other; // Add and Replace: the file on disk; Rename: the new path
    };
    // Saving and leaving: a save runs (and, with m_afterSave, the pack is
    // left once it ended well); or it ended well, and the window has yet to
    // show the saved pack.
    enum class State { Idle, Saving, Saved };

    void updateActions();
    void addFiles();
    void addFolder();
    void replaceFile();
    void deleteSelected();
    void renameSelected();
    void undo();
    void saveAs();
    // When another program changed the pack since it was opened (`over`:
    // any of its files; else those a new pack copies from), says so,
    // offers what can still be done, and returns true: no save starts.
    bool changedElsewhere(bool over);
    void startSave(const QString &target);
    void onSaveDone(bool written, bool stopped, const QString &reason);
    // Makes the steps one change, all or none; false after saying why.
    bool applyChange(const std::vector<Step> &steps);
    bool applyStep(const Step &step);
    // The steps that add the files and folders at `paths` below the folder
    // `folder`; false, saying why, when a name cannot go into a pack.
    bool addSteps(const QStringList &paths, const std::string &folder, std::vector<Step> &steps);
    // Asks whether the files of `steps` the pack already holds are replaced
    // (their steps become replacements) or skipped (their steps go); false
    // when the question is cancelled or nothing is left to add.
    bool settleExisting(std::vector<Step> &steps);
    // Adds what `steps` names, as one change, the last file added chosen.
    void addAll(std::vector<Step> steps);
    // The folder of the selection: a selected folder, or the file's own.
    std::string targetFolder() const;
    const zarnik::ArchiveNode *selectedFile() const;
    // The nodes selected that a change may take: not the root, not deleted.
    QList<const zarnik::ArchiveNode *> changeable() const;
    void refuse(const QString &text);

    // The steps that make a new pack at `target` out of what was added to
    // the new one; false after saying why.
    bool makeNewPack(const QString &target);

    QMainWindow *m_window;
    ArchiveTree *m_tree;
    QString m_fileName;
    const zarnik::CZarnikArchive *m_archive = nullptr; // null for a new pack
    std::unique_ptr<zarnik_pack::PackEdit> m_edit;
    // A new pack as it is saved at the place chosen: the pack writer makes a
    // new pack only at a place given from the start.
    std::unique_ptr<zarnik_pack::PackEdit> m_newPack;
    State m_state = State::Idle;
    std::function<void()> m_afterSave; // leaving, once the running save ended well
    QPointer<SaveThread> m_saveThread;
    QPointer<ProgressDlg> m_progressDlg;
    QString m_saveTarget;
    QString m_held; // why no change is taken now, if so
    QAction *m_add, *m_addFolder, *m_replace, *m_delete, *m_rename, *m_undo, *m_save, *m_saveAs;
};
