// Find in Files: a panel below the tree that searches inside every file of
// the open pack (a whole set through content.vfi) for a text or a regular
// expression, on a worker thread with progress and Cancel, and lists each
// line found as it comes. Choosing a result asks the window to show its
// file at that line; Enter or F3 goes to the next one, Shift+F3 back.
//
// What is searched is the pack as saved on disk: changes that wait are not
// in it until they are saved, and the panel says so when there are any.
#pragma once

#include "Preview.h"

#include <QDockWidget>

#include <functional>
#include <memory>

namespace zarnik {
class CZarnikArchive;
struct ArchiveNode;
} // namespace zarnik
class FindResults;
class FindThread;
struct FindTally;
struct FoundLine;
class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeView;

class FindPanel : public QDockWidget
{
    Q_OBJECT

public:
    explicit FindPanel(QWidget *parent);
    ~FindPanel() override;

    // Find in Files (Ctrl+Shift+F), Find Next (F3), Find Previous (Shift+F3),
    // for the window's Edit menu.
    QList<QAction *> commands() const;

    // The pack searched from now on (null: none), opened from `fileName`;
    // `archive` must stay until the next call. A running search stops
    // first, and the results go with the pack they point into.
    void setPack(const zarnik::CZarnikArchive *archive, const QString &fileName);
    // Asked as a search starts, and by updateScope(): whether changes wait
    // that the pack as saved does not hold.
    void setPendingCheck(std::function<bool()> pending) { m_pending = std::move(pending); }

public slots:
    // The changes waiting changed: the panel says again whether what it
    // shows is of the pack as saved only.
    void updateScope();

signals:
    // A result was chosen: its file (a node of the pack searched) and where
    // in it; a spot of line 0 when the result is the whole file.
    void resultChosen(const zarnik::ArchiveNode *file, const TextSpot &spot);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *makeControls();
    // Enter in the pattern: a new search when the pattern or a toggle
    // changed since the last one, else the next result.
    void findOrNext();
    void start();
    void cancel();
    // Stops a running search and waits for its end.
    void stopSearch();
    // The result `by` rows from the current one, round the ends.
    void step(int by);
    void choose(int row);
    void take(quint64 serial, const QList<FoundLine> &rows, const FindTally &tally);
    void showTally(const FindTally &tally);
    void updateCommands();
    QString query() const;

    QAction *m_findAction, *m_nextAction, *m_previousAction;
    QLineEdit *m_pattern;
    QCheckBox *m_matchCase, *m_wholeWord, *m_regex;
    QPushButton *m_findButton;
    QLabel *m_status, *m_scope;
    QProgressBar *m_progress;
    QTreeView *m_view;
    FindResults *m_results;

    const zarnik::CZarnikArchive *m_archive = nullptr;
    QString m_fileName;
    std::function<bool()> m_pending;
    std::unique_ptr<FindThread> m_thread;
    quint64 m_serial = 0; // of the search whose reports are taken
    QString m_lastQuery;  // of the search whose results are shown
    bool m_running = false;
};
