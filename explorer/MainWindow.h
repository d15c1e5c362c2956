// The explorer's only window: menus, tool bar, the archive tree and the
// archive it shows.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <memory>

namespace zarnik {
class CZarnikArchive;
struct ArchiveNode;
} // namespace zarnik
namespace zarnik_pack {
struct EditTouch;
} // namespace zarnik_pack
class ArchiveTree;
class CompareView;
class DesktopOpen;
class DetailsPane;
class ExportThread;
class FindPanel;
class PackEditor;
struct ExportItem;
struct ExportResult;
class ProgressDlg;
struct TextSpot;
class QLabel;
class QMessageBox;
class QMimeData;
class QTemporaryDir;
class QToolButton;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The archive the last successful Open made; null before the first one.
    const zarnik::CZarnikArchive *archive() const { return m_archive.get(); }
    // The running export; null when none runs.
    ExportThread *exportThread() const;
    // Files an export writes at once (0, the default: the library chooses
    // from the cores and the size of the export).
    void setExportWorkers(unsigned workers) { m_exportWorkers = workers; }

    // Opens the pack at `fileName` as the Open command does once its dialog
    // is answered (the command line and a drop come here too). A refused
    // name or a failed open says why and keeps the pack shown. With changes
    // pending it asks first; when they are to be saved, the pack opens once
    // the save ended well, and this returns false.
    bool openPack(const QString &fileName);
    // Makes the entry at `packPath` (a path of the pack as saved) current
    // and alone selected, its folders open; with the filter on and hiding
    // it, the filter goes. False when the tree shows no such entry.
    bool selectPath(const std::string &packPath);
    // Compares the pack shown with `other` (another pack, a folder on disk or
    // a saved hash list), as File > Compare with... does once its dialog is
    // answered.
    void compareWith(const QString &other);

protected:
    void changeEvent(QEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    // A pack file dropped on the window opens.
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dropEvent(QDropEvent *e) override;
    // During an export: asks whether to cancel it.
    void closeEvent(QCloseEvent *e) override;

private slots:
    void on_actionNew_triggered();
    void on_actionAbout_triggered();
    void on_actionExport_triggered();
    void on_action_Open_triggered();
    void on_actionCopyPath_triggered();
    void on_actionE_xit_triggered();
    // Connected by hand to the export thread's done(); the name keeps
    // connect-by-name away from it.
    void onExportDone(const ExportResult &result);
    void updateActions();
    void applyFilter(const QString &text);
    // The pack's numbers, or the selection's.
    void updateSelectionStatus();
    void showTreeMenu(const QPoint &position);
    void updateDetails();
    void updateRecentMenu();
    // A Recent entry chosen: opened, or offered for removal when its file
    // is gone.
    void openRecentPack(const QString &fileName);
    // The tree's selection dragged out: exported to a temporary folder,
    // then handed over as files.
    void dragSelectionOut();
    // The drag's button let go while its files were written: no drag.
    void abandonDrag();
    // A file activated (double-click, Enter): written to a temporary
    // folder, then opened with the desktop's application for it.
    void openWithApplication(const QModelIndex &index);
    // A pending change, or its undo: the tree, the title and the rest follow.
    void followEdit(const zarnik_pack::EditTouch &touched, const zarnik::ArchiveNode *focus);
    // A save ended well: the saved pack is shown, or none if it fails to open.
    void openSavedPack(const QString &fileName);
    // A result of Find in Files chosen: its file selected, its text at the spot.
    void showFound(const zarnik::ArchiveNode *file, const TextSpot &spot);
    // Compare mode began or ended: the Edit commands wait while it lasts.
    void followCompare();

private:
    // The Edit and Save commands of PackEditor, and Find in Files, into the menus.
    void addEditAndFind();
    const zarnik::ArchiveNode *selectedNode() const;
    // Shows `archive`, opened from `fileName`, in place of the pack shown.
    void showPack(std::unique_ptr<const zarnik::CZarnikArchive> archive, const QString &fileName);
    // No pack shown any more.
    void showNoPack();
    // The edit PackEditor holds now, in the tree, the whole of it chosen.
    void showEdit();
    // What opening the pack shown passed over, said in a warning.
    void reportOmissions();
    // The title: the pack's name, an asterisk while changes wait.
    void updateTitle();
    // Asks where to save a file, until the user names one that does not
    // exist or gives up (empty).
    QString askFileDestination(const zarnik::ArchiveNode *node);
    void startExport(const QList<ExportItem> &items, const QString &destination,
                     bool forDrag = false);
    void finishDrag();
    // The export's thread and dialog go; a running worker is stopped, and
    // its summary dropped.
    void endExport();
    // Keeps the window's, the panes' and the columns' sizes for the next run.
    void rememberLayout();
    static QString droppedPack(const QMimeData *mime);

    // What shows the open pack and reads it: cleared before the pack goes.
    struct PackViews
    {
        ArchiveTree *tree = nullptr;
        DetailsPane *details = nullptr;
        FindPanel *find = nullptr; // a search reads the pack too
        void clear() const;
        ~PackViews();
    };
    // A running export: stopped, and its worker ended, before the pack goes.
    struct ExportJob
    {
        QPointer<ExportThread> thread;
        QObject *window = nullptr; // what hears from it
        ~ExportJob();
    };

    // In the order they are made; they go in the reverse one, each before
    // what it reads.
    std::unique_ptr<Ui::MainWindow> ui;
    std::unique_ptr<const zarnik::CZarnikArchive> m_archive;
    std::unique_ptr<PackEditor> m_editor; // the edit of m_archive, and its save
    PackViews m_views;
    std::unique_ptr<CompareView> m_compare; // shows its comparison in the tree
    ExportJob m_export;
    unsigned m_exportWorkers = 0;
    QPointer<ProgressDlg> m_progressDlg;
    QLabel *m_statusLabel;
    QPointer<QMessageBox> m_closeQuestion; // the close question while it stands
    bool m_exportForDrag = false;
    std::unique_ptr<QTemporaryDir> m_dragFolder;
    QStringList m_dragNames;
    std::unique_ptr<DesktopOpen> m_desktop;
    QString m_fileToOpen; // the running export writes it to be opened
    QToolButton *m_openFolderButton; // beside the line of a finished export
    QString m_exportedTo;
    QString m_exportLine; // the status line that told of it
    FindPanel *m_find;
};
