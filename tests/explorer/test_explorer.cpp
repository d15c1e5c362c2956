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

using zarnik_pack::Entry;
using zarnik_pack::Storage;
using Step = std::function<void(QWidget *)>;

namespace {

Entry e(const char *path, const std::string &text, Storage s = Storage::Auto)
{
    return Entry{path, zarnik_pack::ToBytes(text), s, Entry().nameKey, {}, {}, {}, {}, {}};
}

// Nested folders, packed and stored files, a Latin-1 name, an entry of
// stored size 0 (a folder for the explorer) and an empty file stored packed
// (some bytes in the pack for none unpacked: a file).
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
            e("content\\void.dat", ""),
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
QString writeVfs(const QString &folder)
{
    QDir().mkpath(folder);
    const zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(sampleEntries(), {});
    zarnik_pack::WriteFile(nativePath(folder) + "/content.vfi", set.index);
    zarnik_pack::WriteFile(nativePath(folder) + "/data0.vfs", set.data);
    return folder + "/data0.vfs";
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
        QVERIFY2(box && box->icon() == icon && box->button(button), "expected another box");
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
        QString all = w->findChild<QPlainTextEdit *>()->toPlainText();
        for (const char *name : {"headlineLabel", "countsLabel"})
            all += '\n' + w->findChild<QLabel *>(name)->text();
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
// `seen` gets "proposed name|open, save or dir".
Step fileStep(const QString &path, QString *seen = nullptr)
{
    return [path, seen](QWidget *w) {
        auto *dlg = qobject_cast<QFileDialog *>(w);
        QVERIFY2(dlg, "expected a file dialog");
        auto *edit = dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (seen)
            *seen = edit->text() + '|'
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
        // are still queued and the dialog still stands, fresh at 0. Dialog
        // and thread are both gone at the export's end.
        QPointer<ProgressDlg> dlg = m_window->findChild<ProgressDlg *>();
        if (!dlg || !m_window->exportThread())
            return kNoExport;
        auto *bar = dlg->findChild<QProgressBar *>();
        auto *fileLabel = dlg->findChild<QLabel *>(QStringLiteral("fileLabel"));
        if (bar->value() != 0)
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
        const auto texts = [&](bool mark) {
            QStringList out;
            for (QWidget *w : {static_cast<QWidget *>(m_window), static_cast<QWidget *>(&about)}) {
                out << w->windowTitle();
                for (QAction *a : w->findChildren<QAction *>())
                    out << a->text();
                for (QAbstractButton *b : w->findChildren<QAbstractButton *>())
                    out << b->text();
            }
            for (QString &text : out)
                text = mark && !text.isEmpty() ? '<' + text + '>' : text;
            return out;
        };
        const QStringList source = texts(false), marked = texts(true);
        MarkingTranslator marking;
        QVERIFY(QCoreApplication::installTranslator(&marking));
        QCoreApplication::processEvents();
        QCOMPARE(texts(false), marked);
        QVERIFY(QCoreApplication::removeTranslator(&marking));
        QCoreApplication::processEvents();
        QCOMPARE(texts(false), source);

        // Exit ends the event loop with 0.
        QTimer::singleShot(0, m_window, [this] { run("actionE_xit"); });
        QTimer::singleShot(10000, m_window, [] { QCoreApplication::exit(99); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!m_window->isVisible());
    }

    void openFillsTheTree()
    {
        const QString upk = writeUpk(path("single.upk")), bak = path("x.upk.bak");
        QFile::copy(upk, bak);
        // The same pack again gives the same view. The extension may sit
        // anywhere in the name, before a suffix. Names outside Latin-1 open
        // on both routes; the library gets them in file-system bytes. The
        // index itself opens its whole set.
        for (const QString &file :
             {upk, writeVfs(path("set")), upk, bak, path("set/content.vfi"),
              writeUpk(path(QStringLiteral("\u03A9mega/\u65E5\u672C.upk"))),
              writeVfs(path(QStringLiteral("\u03A9mega/\u0416")))}) {
            open(file);
            QVERIFY2(m_window->archive() && m_window->archive()->GetRoot(), qPrintable(file));
            QCOMPARE(m_window->archive()->GetDataPath(),
                     nativePath(QString(file).replace("content.vfi", "data0.vfs")));
            // The archive's order, not sorted; the Latin-1 name as such; the
            // entry of stored size 0 a folder, the empty packed file a file;
            // nothing expanded.
            QCOMPARE(view(), QStringList({"content [folder]", "  readme.txt [document]",
                                          "  gfx [folder]", "    logo.bmp [document]",
                                          "    ui [folder]", "      button.bmp [document]",
                                          "    icon.bmp [document]",
                                          QStringLiteral("  caf\u00E9.txt [document]"),
                                          "  empty.dat [folder]", "  void.dat [document]",
                                          "  sound [folder]", "    a.wav [document]"}));
            QVERIFY(!m_tree->topLevelItem(0)->isExpanded());
        }

        // What opening passed over is named in a warning; the rest opens.
        const std::vector<Entry> twice{e("content\\dup.txt", "a"), e("content\\dup.txt", "b")};
        run("action_Open", {fileStep(writeUpk(path("dup.upk"), twice)),
                            boxStep(QMessageBox::Warning, "passed over", QMessageBox::Ok,
                                    "content\\dup.txt")});
        QCOMPARE(view(), QStringList({"content [folder]", "  dup.txt [document]",
                                      "  dup.txt [document]"}));

        // File > Recent: the packs opened, newest first, each once; one of
        // them opens from there. Open starts where the last pack was chosen.
        QMenu *recent = m_window->findChild<QMenu *>("menuRecent");
        const auto names = [&](int count) {
            QStringList texts;
            for (QAction *a : recent->actions().mid(0, count))
                texts << a->text();
            return texts;
        };
        QCOMPARE(names(10), QStringList({"&1 dup.upk", "&2 data0.vfs",
                                         QStringLiteral("&3 \u65E5\u672C.upk"), "&4 content.vfi",
                                         "&5 x.upk.bak", "&6 single.upk", "&7 data0.vfs", "",
                                         "Clear the list"}));
        recent->actions()[5]->trigger();
        QCOMPARE(m_window->archive()->GetDataPath(), nativePath(upk));
        QCOMPARE(names(2), QStringList({"&1 single.upk", "&2 dup.upk"}));
        QString folder;
        run("action_Open", {[&](QWidget *w) {
                folder = static_cast<QFileDialog *>(w)->directory().absolutePath();
            }});
        QCOMPARE(folder, QDir(m_dir->path()).absolutePath());
    }

    // A name the case-sensitive extension test refuses, Cancel, or a name
    // that passes but fails in the library: the pack shown stays open with
    // its view, and a refusal or failure says why.
    void openRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("why"); // in the error box; "" for none
        QTest::newRow("cancel") << "" << "";
        for (const char *name : {"PACK.UPK", "pack.Vfs", "plain.bin"})
            QTest::newRow(name) << name << "Invalid Zarnik Pack file";
        QTest::newRow("not a pack") << "junk.upk" << "no file table";
        QTest::newRow("no index") << "set/data0.vfs" << "content.vfi beside it is missing";
    }

    void openRefused()
    {
        QFETCH(QString, name);
        QFETCH(QString, why);
        const QString upk = writeUpk(path("shown.upk"));
        open(upk);
        CZarnikArchive *archive = m_window->archive();
        const QStringList before = view();
        QVERIFY(zarnik_pack::WriteFile(nativePath(path("junk.upk")), zarnik_pack::Bytes(64, 7)));
        QVERIFY(QFile::remove(QFileInfo(writeVfs(path("set"))).dir().filePath("content.vfi")));
        QFile::copy(upk, path(name)); // where nothing stands yet
        std::vector<Step> steps{fileStep(name.isEmpty() ? name : path(name))};
        if (!why.isEmpty())
            steps.push_back(boxStep(QMessageBox::Critical, why, QMessageBox::Ok));
        run("action_Open", steps);
        QCOMPARE(m_window->archive(), archive);
        QCOMPARE(view(), before);
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

        // Size, stored bytes and ratio of files (no ratio for an empty one);
        // a folder sums all below it, files of its subfolders too; so does
        // the status line, for the pack or the selection.
        const auto item = [&](const QString &name) {
            return m_tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive).value(0);
        };
        const auto columns = [&](const QString &name) {
            return QStringList{item(name)->text(1), item(name)->text(2), item(name)->text(3)};
        };
        const auto stored = [&](const QString &name) {
            return quint64(ArchiveTree::nodeOf(item(name))->m_PackedSize);
        };
        const quint64 gfxSize = entries[1].data.size() + 6 + entries[4].data.size();
        const quint64 gfxStored = stored("logo.bmp") + 6 + stored("icon.bmp");
        const quint64 allStored =
            gfxStored + 5 + stored(QStringLiteral("caf\u00E9.txt")) + stored("void.dat") + 4;
        const auto size = &ArchiveTree::sizeText;
        QCOMPARE(columns("readme.txt"), QStringList({size(5), size(5), "100%"}));
        QCOMPARE(columns("void.dat"), QStringList({size(0), size(stored("void.dat")), ""}));
        QCOMPARE(columns("gfx"), QStringList({size(gfxSize), size(gfxStored),
                                              QString::number(gfxStored * 100.0 / gfxSize, 'f', 0)
                                                  + '%'}));
        auto *status = m_window->statusBar()->findChild<QLabel *>();
        QCOMPARE(status->text(), "7 files in 4 folders, " + size(gfxSize + 21) + " ("
                                     + size(allStored) + " stored)");
        for (const char *name : {"readme.txt", "gfx"})
            item(name)->setSelected(true);
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
                                   e("content\\p\\void.dat", ""),
                                   e("content\\p\\bad.bin", std::string(64, '\xFF'), Storage::Stored)};
        entries.back().unpackedSize = 1000;
        const QString upk = writeUpk(path("kinds.upk"), entries);
        open(upk);
        auto *pane = m_window->findChild<DetailsPane *>();
        auto *details = pane->findChild<QLabel *>("detailsLabel");
        // What the pane shows once the preview has come, as "page:content";
        // only a file's details name the data file it lies in.
        const auto preview = [&](const QString &name) {
            QSignalSpy shown(pane, &DetailsPane::previewShown);
            if (!select(name) || !shown.wait(10000))
                return QStringLiteral("<no preview>");
            if (!details->text().contains(QDir::toNativeSeparators(upk)))
                return "<details: " + details->text() + '>';
            QWidget *page = pane->findChild<QStackedWidget *>()->currentWidget();
            if (auto *text = qobject_cast<QPlainTextEdit *>(page))
                return "text:" + text->toPlainText().left(40);
            if (auto *label = qobject_cast<QLabel *>(page))
                return "message:" + label->text();
            const QPixmap pixmap = page->findChild<QLabel *>()->pixmap();
            return QString("picture:%1x%2").arg(pixmap.width()).arg(pixmap.height());
        };
        for (const auto &[name, shown] : std::vector<std::pair<QString, QString>>{
                 {"pic.png", "picture:7x5"},
                 {"note.txt", QStringLiteral("text:gr\u00FC\u00DF dich")},
                 {"latin.txt", QStringLiteral("text:gr\u00FC\u00DF")},
                 {"blob.bin", "text:00000000  00 01 02 03 68 65 6c 6c  6f   "},
                 {"void.dat", "text:"},
                 {"bad.bin", "message:No preview: "
                                 + QString(ExtractOutcomeText(ExtractOutcome::Damaged)) + '.'}})
            QCOMPARE(preview(name), shown);
        // A folder: what lies below it.
        QVERIFY(select("p"));
        QVERIFY(details->text().contains(QRegularExpression("Files below:.*6")));
    }

    // Each of these exports, from a fresh window, is written byte-exact into
    // a folder whose name is outside Latin-1, and nothing else is. One file
    // is saved under the name the save dialog proposes (its own); anything
    // else goes below a directory. The bar follows the bytes written.
    void exportWrites_data()
    {
        QTest::addColumn<QStringList>("selection");
        QTest::addColumn<QStringList>("landed"); // in the order written; "x/" a folder
        const QString cafe = QStringLiteral("caf\u00E9.txt");
        for (const QString &file : {QString("logo.bmp"), QString("readme.txt"), cafe,
                                    QString("void.dat")})
            QTest::newRow(qPrintable(file)) << QStringList{file} << QStringList{file};
        const QStringList gfx{"gfx/logo.bmp", "gfx/ui/button.bmp", "gfx/icon.bmp"};
        QTest::newRow("folder") << QStringList{"gfx"} << gfx;
        // No file: nothing reported, no division by a total of 0.
        QTest::newRow("stored size 0") << QStringList{"empty.dat"} << QStringList{"empty.dat/"};
        QStringList all{"readme.txt"};
        all << gfx << cafe << "empty.dat/" << "void.dat" << "sound/a.wav";
        for (QString &file : all)
            file.prepend("content/");
        QTest::newRow("root") << QStringList{"content"} << all;
        // ui comes with gfx, once.
        QTest::newRow("several") << QStringList{"a.wav", "gfx", "ui", "readme.txt"}
                                 << QStringList{"readme.txt"} + gfx + QStringList{"a.wav"};
    }

    void exportWrites()
    {
        QFETCH(QStringList, selection);
        QFETCH(QStringList, landed);
        const std::vector<Entry> entries = sampleEntries();
        open(writeUpk(path("pack.upk"), entries));
        m_window->setExportWorkers(1); // the order written is the order reported
        m_tree->clearSelection();
        for (const QString &name : selection)
            m_tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive)[0]->setSelected(true);
        const QString out = path(QStringLiteral("\u03A9mega \u00FC"));
        QVERIFY(QDir().mkpath(out));
        const bool oneFile = landed == selection;
        QString seen;
        const QStringList bar = exportTo(oneFile ? out + '/' + selection[0] : out, &seen);
        QCOMPARE(seen, oneFile ? selection[0] + "|save" : QString("|dir"));
        QVERIFY(m_window->statusBar()->currentMessage().contains(out));

        QStringList rising;
        qsizetype total = 0, done = 0, files = 0;
        std::vector<std::pair<QString, QByteArray>> written; // archive path, bytes
        for (const QString &name : landed) {
            if (name.endsWith('/')) {
                QVERIFY2(QFileInfo(out + '/' + name).isDir(), qPrintable(name));
                continue;
            }
            const auto entry = std::find_if(entries.begin(), entries.end(), [&](const Entry &x) {
                return QString::fromLatin1(('\\' + x.path).c_str())
                    .endsWith('\\' + QString(name).replace('/', '\\'));
            });
            QVERIFY2(entry != entries.end(), qPrintable(name));
            written.push_back({QString::fromLatin1(entry->path.c_str()),
                               QByteArray(reinterpret_cast<const char *>(entry->data.data()),
                                          qsizetype(entry->data.size()))});
            QCOMPARE(readAll(out + '/' + name), written.back().second);
        }
        for (QDirIterator it(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             it.hasNext(); it.next())
            ++files;
        QCOMPARE(files, qsizetype(written.size()));
        // The bar: the bytes of the files written so far over all of them.
        for (const auto &file : written)
            total += file.second.size();
        int percent = 0;
        for (const auto &[archivePath, bytes] : written) {
            done += bytes.size();
            const int now = total ? int(done * 100 / total) : 100;
            if (now != percent)
                rising << archivePath + ' ' + QString::number(now);
            percent = now;
        }
        QCOMPARE(bar, rising);
    }

    void exportRefusesAndReports()
    {
        // No archive, no selection, or Cancel in either dialog: nothing
        // starts and nothing is made; Export is offered only with a selection.
        auto *exportAction = m_window->findChild<QAction *>(QStringLiteral("actionExport"));
        QVERIFY(!exportAction->isEnabled());
        run("actionExport");
        open(writeUpk(path(QStringLiteral("pack.upk"))));
        m_tree->clearSelection();
        QVERIFY(!exportAction->isEnabled());
        run("actionExport");
        for (const char *name : {"readme.txt", "gfx"})
            QCOMPARE(select(name) ? exportTo(QString()) : QStringList(), kNoExport);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"pack.upk"});

        // An existing name: the file dialog comes again, with no offer to
        // replace it, and nothing is written.
        const QString out = path("out");
        QVERIFY(QDir().mkpath(out + "/mix") && select("readme.txt"));
        QVERIFY(zarnik_pack::WriteFile(nativePath(out + "/saved"), zarnik_pack::ToBytes("old")));
        QCOMPARE(exportTo(out + "/saved", nullptr,
                          {boxStep(QMessageBox::Information, "already exists", QMessageBox::Ok),
                           fileStep(QString())}),
                 kNoExport);
        QCOMPARE(readAll(out + "/saved"), QByteArray("old"));

        // A file already there, one damaged in the pack and a folder that
        // cannot be made (a file stands in its place): none is written, and
        // the summary counts and names each.
        std::vector<Entry> mixed{e("content\\mix\\ok.txt", "fine"),
                                 e("content\\mix\\there.txt", "new"),
                                 e("content\\mix\\bad.bin", std::string(64, '\xFF'), Storage::Stored),
                                 e("content\\mix\\sub\\a.txt", "blocked")};
        mixed[2].unpackedSize = 1000;
        open(writeUpk(path(QStringLiteral("mixed.upk")), mixed));
        for (const char *name : {"/mix/there.txt", "/mix/sub"})
            QVERIFY(zarnik_pack::WriteFile(nativePath(out + name), zarnik_pack::ToBytes("old")));
        QVERIFY(select("mix"));
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
        const QString upk = writeUpk(path(QStringLiteral("pack.upk")), largeEntries(text));
        open(upk);
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
        // Open (from the menu or elsewhere) waits and the archive stays, the
        // bar has moved, and a close of the window asks and, told No, keeps
        // it. Cancel stops the export: two whole files, no partial one, and
        // the summary says so. One file after the other here, so that "two
        // files" is exact.
        m_window->setExportWorkers(1);
        m_pauseAt = 3;
        m_atPause = [&] {
            auto *dlg = m_window->findChild<ProgressDlg *>();
            for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter})
                QTest::keyClick(dlg, key);
            QVERIFY(!dlg->close()); // its close event, as the window manager's
            run("action_Open");
            CZarnikArchive *archive = m_window->archive();
            QVERIFY(!m_window->openPack(upk) && m_window->archive() == archive);
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
        // when the application ends: the export stops, and its worker has
        // ended before the archive goes (the tree goes right after it).
        m_window->show();
        QVERIFY(QDir(out).removeRecursively() && QDir().mkpath(out));
        run("actionExport", {fileStep(out)});
        QVERIFY(m_window->exportThread());
        std::atomic<bool> ended{false};
        bool endedFirst = false;
        connect(m_window->exportThread(), &QThread::finished, this, [&] { ended = true; },
                Qt::DirectConnection);
        connect(m_tree, &QObject::destroyed, this, [&] { endedFirst = ended; });
        delete m_window;
        m_window = nullptr;
        QVERIFY(endedFirst && written() >= 0);
    }
};

QTEST_MAIN(TestExplorer)
#include "test_explorer.moc"
