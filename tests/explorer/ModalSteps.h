// What the explorer's tests share: a window whose modal dialogs are
// answered by queued steps, choosing a tree row by its name, packs on disk.
#pragma once

#include "ArchiveTree.h"
#include "CompareThread.h"
#include "ExportThread.h"
#include "ExportSummaryDlg.h"
#include "FindThread.h"
#include "MainWindow.h"
#include "PackKit.h"
#include "SaveThread.h"

#include <QtTest>
#include <QtWidgets>

#include <functional>

using Step = std::function<void(QWidget *)>;

// Called often (a timer of a few milliseconds): the modal dialog on top,
// once, gets the first of `steps`, or counts in `unexpected` when none is
// left; a dialog its step leaves open is rejected. A dialog is marked once
// it had its step: it may come to the top again when one opened over it
// closes.
inline void answerModal(QObject *context, QList<Step> &steps, int &unexpected)
{
    QPointer<QWidget> w = QApplication::activeModalWidget();
    if (!w || w->property("stepTaken").toBool() || !w->isVisible())
        return;
    w->setProperty("stepTaken", true);
    const Step step = steps.empty() ? Step() : steps.takeFirst();
    unexpected += step ? 0 : 1;
    // Outside the caller, so a dialog the step opens meets the timer too.
    QMetaObject::invokeMethod(context, [step, w] {
        if (step && w)
            step(w);
        if (w && w->isVisible())
            QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

// Types `text` into a file or input dialog and accepts it ("" cancels); `seen` gets a file dialog's
// "proposal|open, save or dir".
inline Step typed(const QString &text, QString *seen = nullptr)
{
    return [text, seen](QWidget *w) {
        auto *files = qobject_cast<QFileDialog *>(w);
        auto *input = qobject_cast<QInputDialog *>(w);
        QVERIFY2(files || input, "expected a file or input dialog");
        auto *edit = files ? files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
        if (files && seen)
            *seen = edit->text() + (files->fileMode() == QFileDialog::Directory ? "|dir"
                                    : files->acceptMode() == QFileDialog::AcceptSave ? "|save" : "|open");
        if (text.isEmpty())
            return static_cast<QDialog *>(w)->reject();
        files ? edit->setText(text) : input->setTextValue(text);
        static_cast<QDialog *>(w)->accept(); // as the Open or Save button does
    };
}

inline testpack::Entry e(const std::string &path, const std::string &text,
                         zarnik_pack::Storage storage = zarnik_pack::Storage::Auto)
{
    testpack::Entry entry;
    entry.path = path, entry.data = zarnik_pack::ToBytes(text), entry.storage = storage;
    return entry;
}

inline std::string nativePath(const QString &path) { return QFile::encodeName(path).toStdString(); }

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Checks that a message box (NoIcon: the export summary) says each of `lines`; answers `button`.
inline Step textStep(QMessageBox::Icon icon, const QStringList &lines, QMessageBox::StandardButton button = QMessageBox::Ok)
{
    return [=](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        QVERIFY2(box ? box->icon() == icon && box->button(button) : icon == QMessageBox::NoIcon
                         && qobject_cast<ExportSummaryDlg *>(w), "expected another dialog");
        QString all = box ? box->detailedText() : w->findChild<QPlainTextEdit *>()->toPlainText();
        for (const QLabel *label : w->findChildren<QLabel *>())
            all += '\n' + label->text();
        for (const QString &line : lines)
            QVERIFY2(all.contains(line), qPrintable(line + " not in:\n" + all));
        box ? box->button(button)->click() : static_cast<QDialog *>(w)->accept();
    };
}

inline QString writeUpk(const QString &path, const std::vector<testpack::Entry> &entries)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    testpack::WriteFile(nativePath(path), testpack::BuildUpk(entries));
    return path;
}

// An index-plus-data set of `entries` in `folder`; returns the data file's path.
inline QString writeVfs(const QString &folder, const std::vector<testpack::Entry> &entries,
                        const testpack::VfsOptions &options = {})
{
    QDir().mkpath(folder);
    const testpack::VfsSet set = testpack::BuildVfs(entries, options);
    testpack::WriteFile(nativePath(folder) + "/content.vfi", set.index);
    testpack::WriteFile(nativePath(folder) + "/data0.vfs", set.data);
    return folder + "/data0.vfs";
}

// A main window over a fresh folder, with this run's own settings (other
// runs may be going at once); each modal dialog a command opens takes the
// next of m_steps.
class ExplorerHarness
{
protected:
    QTemporaryDir *m_dir = nullptr;
    MainWindow *m_window = nullptr;
    ArchiveTree *m_tree = nullptr;
    QTimer m_poll;
    QTemporaryDir m_settings;
    QList<Step> m_steps;
    int m_unexpected = 0;
    // The next worker waits while m_atPause runs: no race. An export or a save waits at the start of its
    // file m_pauseAt, a search or a compare (m_pauseAt 1) at its first report.
    int m_pauseAt = 0;
    std::function<void()> m_atPause;
    QSemaphore m_resume;
    // On the application: a progress dialog shows before its worker starts, so the hold goes in then.
    struct HoldFilter : QObject
    {
        ExplorerHarness *harness;
        explicit HoldFilter(ExplorerHarness *h) : harness(h) {}
        bool eventFilter(QObject *o, QEvent *e) override { return harness->holdWorker(o, e), false; }
    } m_holdFilter{this};

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    // Every row the tree holds below `parent`, depth first, open or not (the
    // model makes a folder's rows as they are asked for).
    QModelIndexList rows(const QModelIndex &parent = {}) const
    {
        QModelIndexList out;
        for (int i = 0; i < m_tree->model()->rowCount(parent); ++i)
            out << m_tree->model()->index(i, 0, parent) << rows(m_tree->model()->index(i, 0, parent));
        return out;
    }
    // The one row named `name`; invalid when there is not exactly one.
    QModelIndex row(const QString &name) const
    {
        QModelIndexList found;
        for (const QModelIndex &at : rows())
            if (at.data().toString() == name)
                found << at;
        return found.size() == 1 ? found[0] : QModelIndex();
    }
    QModelIndexList selectedRows() const { return m_tree->selectionModel()->selectedRows(); }
    // The rows named `names` become the selection.
    void choose(const QStringList &names)
    {
        m_tree->clearSelection();
        for (const QString &name : names)
            m_tree->selectionModel()->select(row(name), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // Makes the one row named `name` current and selected; false when there is not exactly one.
    bool select(const QString &name)
    {
        const QModelIndex at = row(name);
        if (at.isValid())
            m_tree->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return at.isValid() && selectedRows() == QModelIndexList{at};
    }

    QAction *action(const char *name) const { return m_window->findChild<QAction *>(name); }
    QString label(const char *name) const { return m_window->findChild<QLabel *>(name)->text(); }
    QString message() const { return m_window->statusBar()->currentMessage(); }
    QLineEdit *filter() const { return m_window->findChild<QLineEdit *>("filterEdit"); }
    // The status line's sums of the pack or the selection.
    QString sums() const { return m_window->statusBar()->findChild<QLabel *>()->text(); }
    std::string shownPack() const { return m_window->archive()->GetDataFilePath(0); }

    // `key` typed into `focus` as a user types it: the window's shortcuts first.
    void press(QWidget *focus, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        focus->setFocus();
        QTest::keyClick(m_window->windowHandle(), key, modifiers);
        for (const auto &[held, modifier] :
             {std::pair(Qt::Key_Control, Qt::ControlModifier), {Qt::Key_Shift, Qt::ShiftModifier}})
            if (modifiers & modifier) // QTest leaves them held
                QTest::keyRelease(m_window->windowHandle(), held);
    }

    // Triggers `name` as its menu entry does.
    void run(const char *name, const QList<Step> &steps = {})
    {
        m_steps += steps;
        action(name)->trigger();
    }
    // Triggers `name` on the one row named `row` alone chosen.
    void on(const QString &row, const char *name, const QList<Step> &steps = {})
    {
        QVERIFY2(select(row), qPrintable(row));
        run(name, steps);
    }

    // `bytes` written to `relative` in the test's folder, its folders made; its path, "" when it failed.
    QString writeFile(const QString &relative, const QByteArray &bytes) const
    {
        QFile f(path(relative));
        QDir().mkpath(QFileInfo(f).absolutePath());
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? path(relative) : QString();
    }
    QString madeDir(const QString &relative) const { return QDir().mkpath(path(relative)) ? path(relative) : QString(); }

    // Once, from initTestCase: nothing goes to the user's folders; `test` answers the dialogs.
    void startHarness(QObject *test)
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
        QObject::connect(&m_poll, &QTimer::timeout, test, [this, test] { answerModal(test, m_steps, m_unexpected); });
        m_poll.start(5);
        qApp->installEventFilter(&m_holdFilter);
    }

    // Before each test: remembered packs and folders start afresh.
    void openWindow()
    {
        QSettings().clear();
        m_steps.clear();
        m_unexpected = 0;
        m_dir = new QTemporaryDir;
        m_window = new MainWindow;
        m_window->show();
        m_tree = m_window->findChild<ArchiveTree *>();
        QVERIFY(m_dir->isValid() && QTest::qWaitForWindowExposed(m_window));
    }

    void holdWorker(QObject *o, QEvent *e)
    {
        if (m_pauseAt == 0 || e->type() != QEvent::Show || !(o->inherits("ProgressDlg") || o->objectName() == "findProgress"))
            return;
        const auto hold = [this, at = m_pauseAt](int number) {
            if (number != at)
                return;
            QMetaObject::invokeMethod(&m_poll, [this] { m_atPause(); m_resume.release(); }, Qt::QueuedConnection);
            m_resume.tryAcquire(1, 30000); // a GUI thread that never comes fails, not hangs
        };
        const auto atFile = [hold](const QString &, int number, int) { hold(number); };
        const auto once = Qt::ConnectionType(Qt::DirectConnection | Qt::SingleShotConnection);
        if (auto *save = m_window->findChild<SaveThread *>())
            QObject::connect(save, &SaveThread::fileStarted, &m_poll, atFile, Qt::DirectConnection);
        else if (auto *find = m_window->findChild<FindThread *>())
            QObject::connect(find, &FindThread::report, &m_poll, [hold] { hold(1); }, once);
        else if (auto *compare = m_window->findChild<CompareThread *>())
            QObject::connect(compare, &CompareThread::progressChanged, &m_poll, [hold] { hold(1); }, once);
        else
            QObject::connect(m_window->exportThread(), &ExportThread::fileStarted, &m_poll, atFile, Qt::DirectConnection);
        m_pauseAt = 0;
    }

    void closeWindow()
    {
        delete m_window;
        delete m_dir;
        QVERIFY2(m_steps.isEmpty() && m_unexpected == 0, "a dialog did not come, or one came unasked");
    }
};
