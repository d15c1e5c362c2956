// The window's compare mode: File > Compare with... compares the pack shown
// with another version of it (a pack, a folder on disk, or a saved hash
// list) on a worker
// under the progress dialog, then the tree shows both versions in one
// (Comparison), each kind of change marked; View only the differences,
// the details and preview of both sides, Export Differences..., and Stop
// Comparing, which gives the tree back to the pack and its changes. While
// it compares or shows a comparison, the pack's changes wait (the window
// holds the Edit commands).
#pragma once

#include "DetailsPane.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace zarnik {
struct ArchiveNode;
} // namespace zarnik
namespace zarnik_pack {
class EditRecord;
} // namespace zarnik_pack
class ArchiveTree;
class Comparison;
class CompareThread;
class DifferencesThread;
class ProgressDlg;
class QAction;
class QMainWindow;

class CompareView : public QObject
{
    Q_OBJECT

public:
    // `packShown`: the pack to compare, after saying why not when it
    // cannot be now ("" then); `normal`: what the tree shows outside a
    // comparison.
    CompareView(QMainWindow *window, ArchiveTree *tree, DetailsPane *details, std::function<QString()> packShown,
                std::function<const zarnik_pack::EditRecord *()> normal);
    ~CompareView() override;

    // Compare with..., Only Differences, Export Differences..., Stop Comparing.
    QList<QAction *> actions() const;
    // Compares the pack shown with `other`, a pack, folder or hash list (as
    // Compare with... does once its dialog is answered).
    void compareWith(const QString &other);
    // Back to the pack and its changes; a running compare stops.
    void leave();
    // Comparing, or showing a comparison: the tree is not the pack's edit.
    bool active() const;
    const Comparison *comparison() const { return m_comparison.get(); }
    // The version compared with, as the title names it; "" when none is shown.
    QString otherName() const;
    // Whether the window may close: a running Export Differences asks first,
    // and stops when the answer is yes.
    bool mayClose();
    // The details and preview of what is selected, both sides of it.
    void showDetails(const QList<const zarnik::ArchiveNode *> &nodes);

signals:
    // The tree shows a comparison, or the pack again, or a compare began.
    void modeChanged();

private:
    // A pack or a hash list, or with `folder` a folder on disk.
    void chooseOther(bool folder);
    void onCompareDone(bool compared, const QString &reason);
    void showComparison();
    void setOnlyDifferences(bool only);
    // The Stored line of a folder's details: the figure its row shows.
    DetailsPane::StoredOf storedOf(const zarnik::ArchiveNode *folder) const;
    void exportDifferences();
    void onExportDone(int written, const QStringList &failed, bool stopped, const QString &refused);
    // The running jobs stop, their dialog goes.
    void endJobs();
    void updateActions();
    // The progress dialog of a job on a worker: titled, saying `running`,
    // asking `question` before Escape cancels.
    ProgressDlg *progress(const QString &title, const QString &running, const QString &question);

    QMainWindow *m_window;
    ArchiveTree *m_tree;
    DetailsPane *m_details;
    std::function<QString()> m_packShown;
    std::function<const zarnik_pack::EditRecord *()> m_normal;
    QPointer<CompareThread> m_thread;
    QPointer<ProgressDlg> m_progressDlg;
    QString m_pack, m_other; // the versions compared
    std::unique_ptr<Comparison> m_comparison;
    QPointer<DifferencesThread> m_export;
    QAction *m_compare, *m_compareFolder, *m_only, *m_exportAction, *m_stop;
};
