// The explorer as a user meets it: the main window, About, Open with the
// tree it fills, Export with its progress dialog, worker thread and what
// lands on disk. Queued steps meet the modal dialogs a command opens.
#include "AboutDlg.h"
#include "ArchiveTree.h"
#include "CommandLine.h"
#include "DetailsPane.h"
#include "Compressor.h"
#include "ExportSummaryDlg.h"
#include "ExportThread.h"
#include "MainWindow.h"
#include "PackWriter.h"
#include "ProgressDlg.h"
#include "ZarnikArchive.h"

#include <QtTest>
#include <QtWidgets>

#include <algorithm>
#include <deque>
#include <functional>

using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;
using zarnik::ExtractOutcome;
using zarnik_pack::Entry;
using zarnik_pack::Storage;
using Step = std::function<void(QWidget *)>;

namespace {

Entry e(const char *path, const std::string &text, Storage s = Storage::Auto)
{
    return Entry{path, zarnik_pack::ToBytes(text), s, Entry().nameKey, {}, {}, {}, {}, {}};
}

// Nested folders, packed and stored files, a Latin-1 name and an empty file
// (stored size 0, no children: a folder for the explorer).
std::vector<Entry> sampleEntries()
{
    std::string logo;
    for (int i = 0; i < 400; ++i)
        logo += "line " + std::to_string(i % 17) + " of the logo\n";
    return {e("content\\readme.txt", "hello", Storage::Stored),
            e("content\\gfx\\logo.bmp", logo, Storage::Packed),
            e("content\\gfx\\ui\\button.bmp", "button", Storage::Stored),
            e("content\\caf\xE9.txt", "latin-1 name"),
            e("content\\gfx\\icon.bmp", logo + "x", Storage::Packed),
            e("content\\empty.dat", "", Storage::Stored),
            e("content\\sound\\a.wav", "wave")};
}

const int kLargeFiles = 32;

// 128 MiB to unpack and write, so the GUI thread's timer fires many times
// while the worker runs. Every entry points at the same 4 MiB stream,
// compressed once: the pack is cheap to make, the export is not.
std::vector<Entry> largeEntries(std::string &text)
{
    while (text.size() < (4u << 20))
        text += "line " + std::to_string(text.size() % 997) + " of a large file\n";
    const zarnik_pack::Bytes packed =
        zarnik_pack::Compress(reinterpret_cast<const unsigned char *>(text.data()), text.size());
    std::vector<Entry> entries;
    for (int i = 0; i < kLargeFiles; ++i) {
        // Entry 0 carries the bytes; the others point at them, just past the
        // data chunk's header.
        entries.push_back({"content\\big\\part" + std::to_string(i) + ".txt",
                           i == 0 ? packed : zarnik_pack::Bytes(), Storage::Stored,
                           Entry().nameKey, i == 0 ? std::nullopt : std::optional<uint32_t>(8),
                           uint32_t(text.size()), uint32_t(packed.size()), {}, {}});
    }
    return entries;
}

std::string nativePath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

QString writeUpk(const QString &path, const std::vector<Entry> &entries = sampleEntries())
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    zarnik_pack::WriteFile(nativePath(path), zarnik_pack::BuildUpk(entries));
    return path;
}

// An index-plus-data set in `folder`; returns the data file's path.
QString writeVfs(const QString &folder, const std::string &dataName = "data0.vfs")
{
    QDir().mkpath(folder);
    zarnik_pack::VfsOptions options;
    options.dataName = dataName;
    const zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(sampleEntries(), options);
    zarnik_pack::WriteFile(nativePath(folder) + "/content.vfi", set.index);
    zarnik_pack::WriteFile(nativePath(folder) + "/" + dataName, set.data);
    return folder + '/' + QString::fromStdString(dataName);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Answers the next message box with `button` once its text has been checked.
Step boxStep(QMessageBox::Icon icon, const QString &text, QMessageBox::StandardButton button,
             const QString &details = QString())
{
    return [=](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        QVERIFY2(box, "expected a message box");
        QCOMPARE(box->icon(), icon);
        QVERIFY(box->button(button));
        QVERIFY2(box->text().contains(text), qPrintable(box->text()));
        QVERIFY2(box->detailedText().contains(details), qPrintable(box->detailedText()));
        box->button(button)->click();
    };
}

// Checks the export summary and closes it.
Step summaryStep(const QStringList &lines)
{
    return [=](QWidget *w) {
        QVERIFY2(qobject_cast<ExportSummaryDlg *>(w), "expected the export summary");
        QString all;
        for (const char *name : {"headlineLabel", "countsLabel"})
            all += w->findChild<QLabel *>(name)->text() + '\n';
        all += w->findChild<QPlainTextEdit *>()->toPlainText();
        for (const QString &line : lines)
            QVERIFY2(all.contains(line), qPrintable(line + " not in:\n" + all));
        static_cast<QDialog *>(w)->accept();
    };
}

// One line per item, depth first, walked beside the nodes: "!" marks an item
// whose reference (what Export reads) or child count is not its node's.
void describe(QTreeWidgetItem *item, const ArchiveNode *node, const QString &indent,
              QStringList &out)
{
    const auto argb = [](const QImage &i) { return i.convertToFormat(QImage::Format_ARGB32); };
    const QImage icon = argb(item->icon(0).pixmap(16, 16).toImage());
    const bool fits = item->data(0, Qt::UserRole).value<quintptr>() == quintptr(node)
                      && size_t(item->childCount()) == node->m_Children.size();
    out << indent + item->text(0)
               + (icon == argb(QImage(":/icons/folder.png"))     ? " [folder]"
                  : icon == argb(QImage(":/icons/document.png")) ? " [document]"
                                                                  : " [?]")
               + (fits ? "" : "!");
    for (int i = 0; fits && i < item->childCount(); ++i)
        describe(item->child(i), node->m_Children[size_t(i)], indent + "  ", out);
}

// Marks every plain text of the window and the About dialog, so a re-applied
// text can be told from one left alone.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        const bool ours = !qstrcmp(context, "MainWindow") || !qstrcmp(context, "AboutDlg");
        return ours && !strstr(source, "<html>") ? '<' + QString::fromUtf8(source) + '>'
                                                 : QString();
    }
    bool isEmpty() const override { return false; }
};

// Types `path` into a file dialog and accepts it; an empty path cancels.
// `seen` gets "caption|proposed name|open, save or dir".
Step fileStep(const QString &path, QString *seen = nullptr)
{
    return [path, seen](QWidget *w) {
        auto *dlg = qobject_cast<QFileDialog *>(w);
        QVERIFY2(dlg, "expected a file dialog");
        auto *edit = dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (seen)
            *seen = dlg->windowTitle() + '|' + edit->text() + '|'
                    + (dlg->fileMode() == QFileDialog::Directory      ? "dir"
                       : dlg->acceptMode() == QFileDialog::AcceptSave ? "save"
                                                                      : "open");
        if (path.isEmpty())
            return dlg->reject();
        edit->setText(path);
        static_cast<QDialog *>(dlg)->accept(); // as the Open or Save button does
    };
}

const QStringList kNoExport{QStringLiteral("<no export>")};

} // namespace

class TestExplorer : public QObject
{
    Q_OBJECT

    QTemporaryDir *m_dir = nullptr;
    MainWindow *m_window = nullptr;
    QTreeWidget *m_tree = nullptr;
    QTimer m_poll;
    std::deque<Step> m_steps;
    QPointer<QWidget> m_last;
    int m_unexpected = 0;
    // The worker of the next export is held at the start of file number
    // m_pauseAt while the GUI thread runs m_atPause: what a user does
    // mid-export, with no race against the worker.
    int m_pauseAt = 0;
    std::function<void()> m_atPause;
    QSemaphore m_resume;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }

    // Triggers `action` as its menu entry or tool button does; each modal
    // dialog it opens goes, in turn, to the next step.
    void run(const char *action, std::vector<Step> steps = {})
    {
        m_steps.insert(m_steps.end(), steps.begin(), steps.end());
        m_window->findChild<QAction *>(action)->trigger();
    }

    void open(const QString &file) { run("action_Open", {fileStep(file)}); }

    QStringList view()
    {
        QStringList out;
        if (m_tree->topLevelItemCount() != 0)
            describe(m_tree->topLevelItem(0), m_window->archive()->GetRoot(), "", out);
        return out;
    }

    // The window shows the progress dialog before it starts the worker: the
    // hold goes in then, before the worker can pass the file.
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (m_pauseAt == 0 || e->type() != QEvent::Show || !o->inherits("ProgressDlg"))
            return false;
        const auto hold = [this, at = m_pauseAt](const QString &, int number, int) {
            if (number != at)
                return;
            QMetaObject::invokeMethod(
                this, [this] { m_atPause(); m_resume.release(); }, Qt::QueuedConnection);
            // Bounded, so that a GUI thread that never comes fails the test
            // instead of hanging it.
            m_resume.tryAcquire(1, 30000);
        };
        connect(m_window->exportThread(), &ExportThread::fileStarted, this, hold,
                Qt::DirectConnection);
        m_pauseAt = 0;
        return false;
    }

    void poll()
    {
        QPointer<QWidget> w = QApplication::activeModalWidget();
        if (!w || w == m_last || !w->isVisible())
            return;
        m_last = w;
        Step step;
        if (m_steps.empty()) {
            ++m_unexpected;
        } else {
            step = m_steps.front();
            m_steps.pop_front();
        }
        // Outside this timer's slot, so that a dialog the step opens (Qt's
        // own questions inside a file dialog) meets the timer too.
        QMetaObject::invokeMethod(this, [step, w] {
            if (step && w)
                step(w);
            // A dialog nobody expected, or whose step failed, is closed so
            // the test reports the failure instead of hanging.
            if (w && w->isVisible())
                QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
        }, Qt::QueuedConnection);
    }

    // Selects the one item with this name.
    bool select(const QString &name)
    {
        const auto items = m_tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        if (items.size() == 1)
            m_tree->setCurrentItem(items[0]);
        return items.size() == 1 && m_tree->selectedItems() == items;
    }

    // Runs Export, answers its file dialog and the dialogs `after` it, and
    // waits for the export to end. Gives each change of the bar as "archive
    // path percentage".
    QStringList exportTo(const QString &answer, QString *seen = nullptr,
                         std::vector<Step> after = {})
    {
        after.insert(after.begin(), fileStep(answer, seen));
        run("actionExport", after);
        // No event has been processed since the thread started: its reports
        // are still queued and the dialog still stands.
        QPointer<ProgressDlg> dlg = m_window->findChild<ProgressDlg *>();
        if (!dlg || !m_window->exportThread())
            return kNoExport;
        // Every export gets a fresh dialog with the notice at 0; dialog and
        // thread are both gone at its end.
        auto *bar = dlg->findChild<QProgressBar *>();
        auto *fileLabel = dlg->findChild<QLabel *>(QStringLiteral("fileLabel"));
        if (bar->value() != 0
            || dlg->findChild<QLabel *>(QStringLiteral("noticeLabel"))->text()
                   != "Exporting files, please wait, it may take several minutes...")
            return {QStringLiteral("<dialog not fresh>")};
        QStringList changes;
        QObject context;
        connect(bar, &QProgressBar::valueChanged, &context,
                [&] { changes << fileLabel->text() + ' ' + QString::number(bar->value()); });
        // A plain event loop, not qWaitFor(): that one sleeps between
        // rounds, and the GUI thread's timers have to run freely meanwhile.
        QEventLoop loop;
        connect(dlg, &QObject::destroyed, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        if (dlg || m_window->findChild<ProgressDlg *>() || m_window->exportThread())
            return {QStringLiteral("<export left behind>")};
        return changes;
    }

private slots:
    void initTestCase()
    {
        // The settings go to a test folder, never the user's.
        QStandardPaths::setTestModeEnabled(true);
        connect(&m_poll, &QTimer::timeout, this, &TestExplorer::poll);
        m_poll.start(5);
        qApp->installEventFilter(this);
    }

    void init()
    {
        QSettings().clear(); // remembered packs and folders start afresh
        m_steps.clear();
        m_unexpected = 0;
        m_dir = new QTemporaryDir;
        m_window = new MainWindow;
        m_window->show();
        m_tree = m_window->findChild<QTreeWidget *>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }

    // Every dialog the test expected came, and no other.
    void cleanup()
    {
        delete m_window;
        delete m_dir;
        QCOMPARE(m_steps.size(), size_t(0));
        QCOMPARE(m_unexpected, 0);
    }

    void windowCommandsAndLanguage()
    {
        // A real click on New: no window, no dialog (cleanup() counts those),
        // no archive, the tree still empty.
        const int windows = QApplication::topLevelWidgets().size();
        QTest::mouseClick(m_window->findChild<QToolBar *>()->widgetForAction(
                              m_window->findChild<QAction *>(QStringLiteral("actionNew"))),
                          Qt::LeftButton);
        QTest::qWait(50);
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);
        QVERIFY(!m_window->archive() && m_tree->topLevelItemCount() == 0);

        // About is window-modal and keeps its size; Close or Escape ends it
        // and nothing of it outlives the command.
        const Step close = [&](QWidget *dlg) {
            QVERIFY(dlg->inherits("AboutDlg") && dlg->windowModality() == Qt::WindowModal);
            const QSize size = dlg->size();
            dlg->resize(size + QSize(200, 200));
            QCOMPARE(dlg->size(), size);
            QTest::mouseClick(dlg->findChild<QPushButton *>(), Qt::LeftButton);
        };
        const Step escape = [](QWidget *dlg) { QTest::keyClick(dlg, Qt::Key_Escape); };
        for (const Step &step : {close, escape}) {
            run("actionAbout", {step});
            QVERIFY(m_window->findChildren<AboutDlg *>().isEmpty());
        }

        // A language change re-applies every title, action (menus included)
        // and button text, in a hidden dialog too.
        AboutDlg about(m_window);
        const auto texts = [&] {
            QStringList out{m_window->windowTitle(), about.windowTitle()};
            for (QObject *w : {static_cast<QObject *>(m_window), static_cast<QObject *>(&about)}) {
                for (QAction *a : w->findChildren<QAction *>())
                    out << a->text();
                for (QAbstractButton *b : w->findChildren<QAbstractButton *>())
                    out << b->text();
            }
            return out;
        };
        const QStringList source = texts();
        QStringList marked;
        for (const QString &text : source)
            marked << (text.isEmpty() ? text : '<' + text + '>');
        QCOMPARE(source.size(), 24);
        MarkingTranslator marking;
        QVERIFY(QCoreApplication::installTranslator(&marking));
        QCoreApplication::processEvents();
        QCOMPARE(texts(), marked);
        QVERIFY(QCoreApplication::removeTranslator(&marking));
        QCoreApplication::processEvents();
        QCOMPARE(texts(), source);

        // Exit ends the event loop with 0.
        QTimer::singleShot(0, m_window, [this] { run("actionE_xit"); });
        QTimer::singleShot(10000, m_window, [] { QCoreApplication::exit(99); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!m_window->isVisible());
    }

    void openFillsRefusesAndFails()
    {
        const QString upk = writeUpk(path("single.upk")), bak = path("x.upk.bak");
        QFile::copy(upk, bak);
        // The same pack again gives the same view. The extension may sit
        // anywhere in the name, before a suffix. Names outside Latin-1 open on both
        // routes; the library gets them in file-system bytes.
        for (const QString &file :
             {upk, writeVfs(path("set")), upk, bak,
              writeUpk(path(QStringLiteral("\u03A9mega/\u65E5\u672C.upk"))),
              writeVfs(path(QStringLiteral("\u03A9mega/\u0416")))}) {
            open(file);
            QVERIFY2(m_window->archive() && m_window->archive()->GetRoot(), qPrintable(file));
            QCOMPARE(m_window->archive()->GetDataPath(), nativePath(file));
            // The archive's order, not sorted; the Latin-1 name as such; the
            // empty file a folder by its stored size; nothing expanded.
            QCOMPARE(view(), QStringList({"content [folder]", "  readme.txt [document]",
                                          "  gfx [folder]", "    logo.bmp [document]",
                                          "    ui [folder]", "      button.bmp [document]",
                                          "    icon.bmp [document]",
                                          QStringLiteral("  caf\u00E9.txt [document]"),
                                          "  empty.dat [folder]", "  sound [folder]",
                                          "    a.wav [document]"}));
            QVERIFY(!m_tree->topLevelItem(0)->isExpanded());
        }
        // The index itself opens its whole set.
        const QStringList sample = view();
        open(path("set/content.vfi"));
        QCOMPARE(m_window->archive()->GetDataPath(), nativePath(path("set/data0.vfs")));
        QCOMPARE(view(), sample);

        // Cancel, and names the case-sensitive extension test refuses with
        // the error box: archive and view stay and still fit together.
        CZarnikArchive *archive = m_window->archive();
        const QStringList before = view();
        const Step error = [](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            QVERIFY(box && box->icon() == QMessageBox::Critical);
            box->defaultButton()->click();
        };
        for (const QString name : {"", "PACK.UPK", "pack.Vfs", "plain.bin"}) {
            std::vector<Step> steps{fileStep(name.isEmpty() ? name : path(name))};
            if (!name.isEmpty()) {
                QVERIFY(QFile::copy(upk, path(name)));
                steps.push_back(error);
            }
            run("action_Open", steps);
            QCOMPARE(m_window->archive(), archive);
            QCOMPARE(view(), before);
        }

        // Names that pass but fail in the library (not a pack; an index route
        // without its index) say why; the pack shown stays open with its view.
        QVERIFY(zarnik_pack::WriteFile(nativePath(path("junk.upk")), zarnik_pack::Bytes(64, 7)));
        QVERIFY(QFile::remove(path("set/content.vfi")));
        for (const auto &[bad, why] : {std::pair<QString, QString>{path("junk.upk"), "no file table"},
                                       {path("set/data0.vfs"), "content.vfi beside it is missing"}}) {
            run("action_Open",
                {fileStep(bad), boxStep(QMessageBox::Critical, why, QMessageBox::Ok)});
            QCOMPARE(m_window->archive(), archive);
            QCOMPARE(view(), before);
        }

        // What opening passed over is named in a warning; the rest opens.
        const std::vector<Entry> twice{e("content\\dup.txt", "a"), e("content\\dup.txt", "b")};
        run("action_Open", {fileStep(writeUpk(path("dup.upk"), twice)),
                            boxStep(QMessageBox::Warning, "passed over", QMessageBox::Ok,
                                    "content\\dup.txt")});
        QVERIFY(m_window->archive() != archive);
        QCOMPARE(view(), QStringList({"content [folder]", "  dup.txt [document]",
                                      "  dup.txt [document]"}));

        // File > Recent: the packs opened, newest first, each once; one of
        // them opens from there. Open starts where the last pack was chosen.
        const auto recent = [&] {
            QStringList texts;
            for (QAction *a : m_window->findChild<QMenu *>("menuRecent")->actions())
                texts << a->text();
            return texts;
        };
        QCOMPARE(recent(), QStringList({"&1 dup.upk", "&2 content.vfi", "&3 data0.vfs",
                                        QStringLiteral("&4 \u65E5\u672C.upk"), "&5 x.upk.bak",
                                        "&6 single.upk", "&7 data0.vfs", "", "Clear the list"}));
        m_window->findChild<QMenu *>("menuRecent")->actions()[5]->trigger();
        QCOMPARE(m_window->archive()->GetDataPath(), nativePath(upk));
        QCOMPARE(recent().mid(0, 2), QStringList({"&1 single.upk", "&2 dup.upk"}));
        QString folder;
        run("action_Open", {[&](QWidget *w) {
                folder = static_cast<QFileDialog *>(w)->directory().absolutePath();
            }});
        QCOMPARE(folder, QDir(m_dir->path()).absolutePath());
    }

    void commandLineDropColumnsAndFilter()
    {
        // The pack named on the command line opens as through Open; so does
        // a pack file dropped on the window.
        const std::vector<Entry> entries = sampleEntries();
        const QString upk = writeUpk(path("cli.upk"), entries);
        m_window->openPack(packFromCommandLine({"zarnik-explorer", upk}));
        QVERIFY(m_window->archive());
        QCOMPARE(m_window->archive()->GetDataPath(), nativePath(upk));
        QMimeData dropped;
        dropped.setUrls({QUrl::fromLocalFile(writeUpk(path("dropped.upk"), entries))});
        // As a drag arrives: it enters, then drops where it entered.
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &enter);
        QVERIFY(enter.isAccepted());
        QCoreApplication::sendEvent(m_window, &drop);
        QTRY_COMPARE(m_window->archive()->GetDataPath(), nativePath(path("dropped.upk")));

        // Sizes, stored bytes and ratio of files; a folder sums all below it,
        // files of its subfolders too.
        const auto columns = [&](const QString &name) {
            const auto items = m_tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
            QStringList texts;
            for (int c = 1; items.size() == 1 && c < 4; ++c)
                texts << items[0]->text(c);
            return texts.join('|');
        };
        const auto stored = [&](const QString &name) {
            return quint64(ArchiveTree::nodeOf(m_tree->findItems(name, Qt::MatchRecursive)[0])
                               ->m_PackedSize);
        };
        const quint64 gfxSize = entries[1].data.size() + entries[2].data.size()
                                + entries[4].data.size();
        const quint64 gfxStored = stored("logo.bmp") + 6 + stored("icon.bmp");
        const quint64 allStored = gfxStored + 5 + stored(QStringLiteral("caf\u00E9.txt")) + 4;
        const auto size = &ArchiveTree::sizeText;
        QCOMPARE(columns("readme.txt"), size(5) + '|' + size(5) + "|100%");
        QCOMPARE(columns("gfx"), size(gfxSize) + '|' + size(gfxStored) + '|'
                                     + QString::number(gfxStored * 100.0 / gfxSize, 'f', 0) + '%');
        // The sums behind them, to the byte: size, stored, files, folders.
        const auto totals = [&](const QString &name) {
            const auto t = static_cast<ArchiveTree *>(m_tree)->totals(
                ArchiveTree::nodeOf(m_tree->findItems(name, Qt::MatchRecursive)[0]));
            return QList<quint64>{t.size, t.stored, quint64(t.files), quint64(t.folders)};
        };
        QCOMPARE(totals("gfx"), QList<quint64>({gfxSize, gfxStored, 3, 1}));
        QCOMPARE(totals("content"), QList<quint64>({gfxSize + 21, allStored, 6, 4}));
        auto *status = m_window->statusBar()->findChild<QLabel *>();
        QVERIFY(status->text().startsWith("6 files in 4 folders, " + size(gfxSize + 21)));
        for (const char *name : {"readme.txt", "gfx"})
            m_tree->findItems(name, Qt::MatchRecursive)[0]->setSelected(true);
        QCOMPARE(status->text(), "2 items selected: 4 files, " + size(gfxSize + 5));

        // The filter keeps matching entries, their folders and all below a
        // matching folder; Escape gives everything back.
        const auto shown = [&] {
            QStringList names;
            for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
                bool visible = true;
                for (QTreeWidgetItem *i = *it; i; i = i->parent())
                    visible = visible && !i->isHidden();
                if (visible)
                    names << (*it)->text(0);
            }
            return names.join(' ');
        };
        const QString all = shown();
        auto *filter = m_window->findChild<QLineEdit *>("filterEdit");
        for (const auto &[text, names] : std::vector<std::pair<QString, QString>>{
                 {"LOGO", "content gfx logo.bmp"},
                 {"*.WAV", "content sound a.wav"},
                 {"b?tt*n", "content gfx ui button.bmp"},
                 {"ui", "content gfx ui button.bmp"},
                 {QStringLiteral("\u00C9"), QStringLiteral("content caf\u00E9.txt")},
                 {"nothing", "content"},
                 {"", all}}) {
            QTest::keyClick(filter, Qt::Key_Escape);
            QTest::keyClicks(filter, text);
            QCOMPARE(shown(), names);
        }
        QTest::keyClicks(filter, "gfx");
        QTest::keyClick(filter, Qt::Key_Escape);
        QCOMPARE(shown(), all);
    }

    void detailsAndPreviewKinds()
    {
        QImage picture(7, 5, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QBuffer png;
        QVERIFY(png.open(QIODevice::WriteOnly) && picture.save(&png, "PNG"));
        std::vector<Entry> entries{e("content\\p\\pic.png", png.data().toStdString(), Storage::Packed),
                                   e("content\\p\\note.txt", "gr\xC3\xBC\xC3\x9F dich"),
                                   e("content\\p\\latin.txt", "gr\xFC\xDF"),
                                   e("content\\p\\blob.bin", std::string("\0\1\2\3hello", 9)),
                                   e("content\\p\\bad.bin", std::string(64, '\xFF'), Storage::Stored)};
        entries.back().unpackedSize = 1000;
        const QString upk = writeUpk(path("kinds.upk"), entries);
        open(upk);
        auto *pane = m_window->findChild<DetailsPane *>();
        auto *details = pane->findChild<QLabel *>("detailsLabel");
        // What the pane shows once the preview has come, as "page:content".
        const auto preview = [&](const QString &name) {
            QSignalSpy shown(pane, &DetailsPane::previewShown);
            if (!select(name) || !shown.wait(10000))
                return QStringLiteral("<no preview>");
            QWidget *page = pane->findChild<QStackedWidget *>()->currentWidget();
            QString content;
            if (auto *text = qobject_cast<QPlainTextEdit *>(page))
                content = text->toPlainText().left(40);
            else if (auto *label = qobject_cast<QLabel *>(page))
                content = label->text();
            else
                content = QString("%1x%2").arg(page->findChild<QLabel *>()->pixmap().width())
                              .arg(page->findChild<QLabel *>()->pixmap().height());
            return page->objectName() + ':' + content;
        };
        for (const auto &[name, shown] : std::vector<std::pair<QString, QString>>{
                 {"pic.png", "pictureArea:7x5"},
                 {"note.txt", QStringLiteral("textView:gr\u00FC\u00DF dich")},
                 {"latin.txt", QStringLiteral("textView:gr\u00FC\u00DF")},
                 {"blob.bin", "textView:00000000  00 01 02 03 68 65 6c 6c  6f   "},
                 {"bad.bin", "messageLabel:No preview: "
                                 + QString(ExtractOutcomeText(ExtractOutcome::Damaged)) + '.'}})
            QCOMPARE(preview(name), shown);
        // The details name the file and the data file it lies in.
        QVERIFY(details->text().contains("content\\p\\bad.bin")
                && details->text().contains(QDir::toNativeSeparators(upk)));
        // A folder: what lies below it.
        QVERIFY(select("p"));
        QVERIFY(details->text().contains(QRegularExpression("Files below:.*5")));
    }

    void exportFilesAndFoldersByteExact()
    {
        // No archive, no selection, or Cancel in either dialog: nothing
        // starts and nothing is made; Export is offered only with a selection.
        auto *exportAction = m_window->findChild<QAction *>(QStringLiteral("actionExport"));
        QVERIFY(!exportAction->isEnabled());
        run("actionExport");
        const std::vector<Entry> entries = sampleEntries();
        open(writeUpk(path(QStringLiteral("pack.upk")), entries));
        m_tree->clearSelection();
        QVERIFY(!exportAction->isEnabled());
        run("actionExport");
        for (const char *name : {"readme.txt", "gfx"})
            QCOMPARE(select(name) ? exportTo(QString()) : QStringList(), kNoExport);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"pack.upk"});

        // Packed, stored and Latin-1-named files, one after the other, into
        // a folder whose name is outside Latin-1; then gfx, whose folder ui
        // does not count, so the bar goes 33, 66, 100.
        const QString out = path(QStringLiteral("\u03A9mega \u00FC"));
        QVERIFY(QDir().mkpath(out));
        const auto bytesOf = [](const Entry &e) {
            return QByteArray(reinterpret_cast<const char *>(e.data.data()), int(e.data.size()));
        };
        QString seen;
        for (size_t i : {1, 0, 3}) {
            const QString archivePath = QString::fromLatin1(entries[i].path.c_str());
            const QString name = archivePath.section('\\', -1);
            QVERIFY(select(name));
            QCOMPARE(exportTo(out + "/saved", &seen), QStringList{archivePath + " 100"});
            QCOMPARE(seen, "Where to save...|" + name + "|save");
            QCOMPARE(readAll(out + "/saved"), bytesOf(entries[i]));
            QVERIFY(QFile::remove(out + "/saved"));
        }
        // An existing name: the file dialog comes again, with no offer to
        // replace it, and nothing is written.
        QVERIFY(zarnik_pack::WriteFile(nativePath(out + "/saved"), zarnik_pack::ToBytes("old")));
        QCOMPARE(exportTo(out + "/saved", nullptr,
                          {boxStep(QMessageBox::Information, "already exists", QMessageBox::Ok),
                           fileStep(QString())}),
                 kNoExport);
        QCOMPARE(readAll(out + "/saved"), QByteArray("old"));

        // gfx, whose folder ui does not count: the bar follows the bytes.
        QVERIFY(select("gfx"));
        const size_t logo = entries[1].data.size(), button = entries[2].data.size(),
                     total = logo + button + entries[4].data.size();
        QStringList rising;
        for (const auto &[file, done] : {std::pair<QString, size_t>{"logo.bmp", logo},
                                         {"ui\\button.bmp", logo + button},
                                         {"icon.bmp", total}})
            rising << "content\\gfx\\" + file + ' ' + QString::number(done * 100 / total);
        QCOMPARE(exportTo(out, &seen), rising);
        QCOMPARE(seen, QStringLiteral("Where to save...||dir"));
        QCOMPARE(m_window->statusBar()->currentMessage(),
                 "Exported 3 files (" + QLocale().formattedDataSize(qint64(total), 1,
                                                                   QLocale::DataSizeTraditionalFormat)
                     + ") to " + out);

        // The root: the whole pack, the Latin-1 name in the file-system
        // encoding, the empty file as a directory.
        QVERIFY(select("content"));
        QCOMPARE(exportTo(out).last(), "content\\sound\\a.wav 100");
        for (const Entry &e : entries) {
            const QString file = out + '/' + QString::fromLatin1(e.path.c_str()).replace('\\', '/');
            QCOMPARE(readAll(file), e.data.empty() ? QByteArray("<missing>") : bytesOf(e));
        }
        QVERIFY(QFileInfo(out + "/content/empty.dat").isDir());

        // Stored size 0 is a folder without files: the directory dialog,
        // nothing reported, no division by a total of 0.
        QVERIFY(select("empty.dat"));
        QCOMPARE(exportTo(out, &seen), QStringList());
        QCOMPARE(seen, QStringLiteral("Where to save...||dir"));
        QVERIFY(QFileInfo(out + "/empty.dat").isDir());

        // Several items: each below the chosen directory under its own name
        // (ui comes with gfx, once), in one run; Copy path names them.
        m_tree->clearSelection();
        for (const char *name : {"a.wav", "gfx", "ui", "readme.txt"})
            m_tree->findItems(name, Qt::MatchRecursive)[0]->setSelected(true);
        run("actionCopyPath");
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 "content\\readme.txt\ncontent\\gfx\ncontent\\sound\\a.wav");
        const QString several = path("several");
        QVERIFY(QDir().mkpath(several));
        QCOMPARE(exportTo(several, &seen).join('|').section('|', -1), "content\\sound\\a.wav 100");
        QCOMPARE(seen, QStringLiteral("Where to save...||dir"));
        QStringList landed;
        for (QDirIterator it(several, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            const QString file = it.next();
            landed << QDir(several).relativeFilePath(file) + '=' + readAll(file).left(6);
        }
        landed.sort();
        QCOMPARE(landed, QStringList({"a.wav=wave", "gfx/icon.bmp=line 0", "gfx/logo.bmp=line 0",
                                      "gfx/ui/button.bmp=button", "readme.txt=hello"}));

        // A file already there, one damaged in the pack and a folder that
        // cannot be made (a file stands in its place): none is written, and
        // the summary counts and names each.
        std::vector<Entry> mixed{e("content\\mix\\ok.txt", "fine"),
                                 e("content\\mix\\there.txt", "new"),
                                 e("content\\mix\\bad.bin", std::string(64, '\xFF'), Storage::Stored),
                                 e("content\\mix\\sub\\a.txt", "blocked")};
        mixed[2].unpackedSize = 1000;
        open(writeUpk(path(QStringLiteral("mixed.upk")), mixed));
        QVERIFY(QDir().mkpath(out + "/mix") && select("mix"));
        for (const char *name : {"/mix/there.txt", "/mix/sub"})
            QVERIFY(zarnik_pack::WriteFile(nativePath(out + name), zarnik_pack::ToBytes("old")));
        exportTo(out, nullptr,
                 {summaryStep({"Written: 1 file", "Skipped, already there: 1",
                               "Damaged in the pack: 1", "Could not be written: 1",
                               "content\\mix\\there.txt\t", "content\\mix\\bad.bin\t",
                               "content\\mix\\sub\t"})});
        QCOMPARE(readAll(out + "/mix/ok.txt"), QByteArray("fine"));
        QCOMPARE(readAll(out + "/mix/there.txt"), QByteArray("old"));

        // Of several items, a file named ".." is reported, never joined onto
        // the directory; the other is written.
        open(writeUpk(path("names.upk"), {e("content\\..", "up"), e("content\\fine.txt", "ok")}));
        const QString names = path("names/in");
        QVERIFY(QDir().mkpath(names));
        for (const char *name : {"..", "fine.txt"})
            m_tree->findItems(name, Qt::MatchRecursive)[0]->setSelected(true);
        exportTo(names, nullptr, {summaryStep({"Written: 1 file", "Unusable or repeated names: 1",
                                               "content\\..\t"})});
        QCOMPARE(QDir(path("names")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"in"});
        QCOMPARE(readAll(names + "/fine.txt"), QByteArray("ok"));
    }

    void largeExportCancelAndClose()
    {
        std::string text;
        open(writeUpk(path(QStringLiteral("pack.upk")), largeEntries(text)));
        const QString out = path(QStringLiteral("out"));
        // How many files stand in out/big, each whole; -1 for anything else
        // (a short or temporary file).
        const auto written = [&] {
            int count = 0;
            const QRegularExpression name(QStringLiteral("^part[0-9]+\\.txt$"));
            for (const QFileInfo &f : QDir(out + "/big").entryInfoList(QDir::Files | QDir::Hidden)) {
                if (!name.match(f.fileName()).hasMatch() || readAll(f.filePath()) != text.c_str())
                    return -1;
                ++count;
            }
            return count;
        };
        QVERIFY(QDir().mkpath(out) && select("big"));
        auto *openAction = m_window->findChild<QAction *>(QStringLiteral("action_Open"));

        // Mid-export: keys and the window manager's close leave the dialog,
        // Open waits, the bar has moved, and a close of the window asks and,
        // told No, keeps it. Cancel stops the export: two whole files, no
        // partial one, and the summary says so. One file after the other
        // here, so that "two files" is exact.
        m_window->setExportWorkers(1);
        m_pauseAt = 3;
        m_atPause = [&] {
            auto *dlg = m_window->findChild<ProgressDlg *>();
            for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter})
                QTest::keyClick(dlg, key);
            QVERIFY(!dlg->close()); // its close event, as the window manager's
            run("action_Open");
            QVERIFY(dlg->isVisible() && !openAction->isEnabled());
            QCOMPARE(dlg->findChild<QProgressBar *>()->value(), 2 * 100 / kLargeFiles);
            m_steps.push_front(boxStep(QMessageBox::Question, "Cancel it", QMessageBox::No));
            QVERIFY(!m_window->close() && m_window->isVisible());
            dlg->findChild<QPushButton *>(QStringLiteral("cancelButton"))->click();
        };
        exportTo(out, nullptr,
                 {summaryStep({"The export was cancelled. Written: 2 files",
                               "content\\big\\part2.txt\t", "Not tried: 29"})});
        QCOMPARE(written(), 2);
        QVERIFY(openAction->isEnabled());

        // Told Yes, the window's close cancels the export and ends it.
        QVERIFY(QDir(out).removeRecursively() && QDir().mkpath(out));
        run("actionExport", {fileStep(out)});
        QVERIFY(m_window->exportThread());
        m_steps.push_back(boxStep(QMessageBox::Question, "Cancel it", QMessageBox::Yes));
        QVERIFY(m_window->close());
        QVERIFY(!m_window->exportThread() && written() >= 0);

        // The window (and with it the archive) goes while an export runs, as
        // when the application ends: the worker finishes first.
        m_window->show();
        QVERIFY(QDir(out).removeRecursively() && QDir().mkpath(out));
        run("actionExport", {fileStep(out)});
        QVERIFY(m_window->exportThread());
        delete m_window;
        m_window = nullptr;
        QCOMPARE(written(), kLargeFiles);
    }
};

QTEST_MAIN(TestExplorer)
#include "test_explorer.moc"
