// The explorer as a user meets it: the main window, About, Open with the
// tree it fills, and Export with its progress dialog, worker thread and what
// lands on disk. Every test starts from a shown window and a scratch
// directory; a driver meets the modal dialogs a command opens, one after
// the other, from their own event loops.
#include "AboutDlg.h"
#include "Compressor.h"
#include "ExportThread.h"
#include "MainWindow.h"
#include "PackWriter.h"
#include "ProgressDlg.h"
#include "ZarnikArchive.h"

#include <QDirIterator>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QTranslator>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <algorithm>
#include <deque>
#include <functional>

using zarnik_pack::Entry;
using zarnik_pack::Storage;

namespace {

// Nested folders, packed and stored files, a Latin-1 name and an empty file
// (stored size 0: a folder without children for the explorer).
std::vector<Entry> sampleEntries()
{
    std::string logo;
    for (int i = 0; i < 400; ++i)
        logo += "line " + std::to_string(i % 17) + " of the logo\n";
    auto e = [](const char *path, const std::string &text, Storage storage = Storage::Auto) {
        Entry entry;
        entry.path = path;
        entry.data = zarnik_pack::ToBytes(text);
        entry.storage = storage;
        return entry;
    };
    return {e("content\\readme.txt", "hello", Storage::Stored),
            e("content\\gfx\\logo.bmp", logo, Storage::Packed),
            e("content\\gfx\\ui\\button.bmp", "button", Storage::Stored),
            e("content\\caf\xE9.txt", "latin-1 name"),
            e("content\\gfx\\icon.bmp", logo + "x", Storage::Packed),
            e("content\\empty.dat", "", Storage::Stored),
            e("content\\sound\\a.wav", "wave")};
}

const int kLargeFiles = 32;

// 128 MiB to unpack and write: long enough that the GUI thread's timer
// fires many times while the worker runs. One 4 MiB stream is compressed
// once and every entry points at the same stored bytes, so making the pack
// stays cheap while the export is not.
std::vector<Entry> largeEntries(std::string &text)
{
    while (text.size() < (4u << 20))
        text += "line " + std::to_string(text.size() % 997) + " of a large file\n";
    const zarnik_pack::Bytes packed =
        zarnik_pack::Compress(reinterpret_cast<const unsigned char *>(text.data()), text.size());
    std::vector<Entry> entries(kLargeFiles);
    for (int i = 0; i < kLargeFiles; ++i) {
        Entry &e = entries[size_t(i)];
        e.path = "content\\big\\part" + std::to_string(i) + ".txt";
        e.storage = Storage::Stored;
        if (i == 0)
            e.data = packed; // the first entry carries the stored bytes
        else
            e.offset = 8; // just past the data chunk's header: entry 0's bytes
        e.packedSize = uint32_t(packed.size());
        e.unpackedSize = uint32_t(text.size());
    }
    return entries;
}

std::string nativePath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

// A single pack at `path`, its folders made.
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

QByteArray bytesOf(const Entry &e)
{
    return QByteArray(reinterpret_cast<const char *>(e.data.data()), qsizetype(e.data.size()));
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Every file and directory below `dir`, relative, sorted.
QStringList listTree(const QString &dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(dir).relativeFilePath(it.next());
    out.sort();
    return out;
}

QString iconKind(const QIcon &icon)
{
    const auto argb = [](const QImage &i) { return i.convertToFormat(QImage::Format_ARGB32); };
    const QImage image = argb(icon.pixmap(16, 16).toImage());
    for (const char *kind : {"folder", "document"})
        if (image == argb(QImage(QString(":/icons/") + kind + ".png")))
            return QString::fromLatin1(kind);
    return QStringLiteral("?");
}

// One line per item, depth first: indentation, text and icon, walked beside
// the nodes; "!" marks an item whose reference or child count is not its
// node's.
void describe(QTreeWidgetItem *item, const ArchiveNode *node, int depth, QStringList &out)
{
    const bool fits = item->data(0, Qt::UserRole).value<quintptr>() == quintptr(node)
                      && size_t(item->childCount()) == node->m_Children.size();
    out << QString(depth * 2, ' ') + item->text(0) + " [" + iconKind(item->icon(0)) + ']'
               + (fits ? "" : "!");
    for (int i = 0; fits && i < item->childCount(); ++i)
        describe(item->child(i), node->m_Children[size_t(i)], depth + 1, out);
}

QStringList describe(QTreeWidget *tree, CZarnikArchive *archive)
{
    QStringList out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        describe(tree->topLevelItem(i), archive->GetRoot(), 0, out);
    return out;
}

// Marks every text it translates, so a test can tell a re-applied text from
// one that was left alone. The About text stays a document; only its author
// is marked.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (qstrcmp(context, "MainWindow") != 0 && qstrcmp(context, "AboutDlg") != 0)
            return QString();
        const QString text = QString::fromUtf8(source);
        return text.contains("<html>") ? QString(text).replace("Pellworth", "Marked")
                                       : '<' + text + '>';
    }
    bool isEmpty() const override { return false; }
};

// Every text of the window (menus with their entries, tool tips), then of
// an About dialog.
QStringList texts(MainWindow &w, AboutDlg &about)
{
    QStringList out{w.windowTitle()};
    for (QAction *menu : w.menuBar()->actions()) {
        out << menu->text();
        for (QAction *a : menu->menu()->actions())
            out << a->text();
    }
    for (QAction *a : w.findChild<QToolBar *>()->actions())
        out << a->toolTip();
    return out << about.windowTitle() << about.findChild<QPushButton *>()->text()
               << about.findChild<QTextEdit *>()->toPlainText();
}

const QString kNotice =
    QStringLiteral("Exporting files, please wait, it may take several minutes...");
// What exportTo() gives back when no export started.
const QStringList kNoExport{QStringLiteral("<no export>")};

} // namespace

class TestExplorer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void treeLimitsNewAndExit();
    void aboutClosedByCloseOrEscape();
    void languageChangeReappliesTexts();
    void openFillsTheTreeOnBothRoutes();
    void openCancelledRefusedOrFailed();
    void exportFilesAndFoldersByteExact();
    void largeExportKeepsGuiAndDialogUntilDone();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    // As the user picks the menu entry or tool button.
    void trigger(const char *action) { m_window->findChild<QAction *>(action)->trigger(); }
    // The next modal dialog that appears is handed to `step`.
    void then(std::function<void(QWidget *)> step) { m_steps.push_back(std::move(step)); }
    void answerFile(const QString &path, QString *seen = nullptr);
    void open(const QString &file, QString *seen = nullptr)
    {
        answerFile(file, seen);
        trigger("action_Open");
    }
    void poll();
    bool select(const std::string &archivePath);
    QStringList exportTo(const QString &answer, QString *seen = nullptr);

    QTemporaryDir *m_dir = nullptr;
    MainWindow *m_window = nullptr;
    QTreeWidget *m_tree = nullptr;
    QTimer *m_timer = nullptr;
    std::deque<std::function<void(QWidget *)>> m_steps;
    QPointer<QWidget> m_last;
    int m_unexpected = 0;
};

void TestExplorer::init()
{
    m_steps.clear();
    m_unexpected = 0;
    m_timer = new QTimer;
    connect(m_timer, &QTimer::timeout, this, &TestExplorer::poll);
    m_timer->start(5);
    m_dir = new QTemporaryDir;
    m_window = new MainWindow;
    m_window->show();
    m_tree = m_window->findChild<QTreeWidget *>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

// Every dialog the test expected came, and no other.
void TestExplorer::cleanup()
{
    delete m_timer;
    delete m_window;
    delete m_dir;
    QCOMPARE(m_steps.size(), size_t(0));
    QCOMPARE(m_unexpected, 0);
}

void TestExplorer::poll()
{
    // The progress dialog goes away on its own.
    QWidget *w = QApplication::activeModalWidget();
    if (!w || w == m_last || !w->isVisible() || w->inherits("ProgressDlg"))
        return;
    m_last = w;
    QPointer<QWidget> guard(w);
    if (m_steps.empty()) {
        ++m_unexpected;
    } else {
        const auto step = std::move(m_steps.front());
        m_steps.pop_front();
        step(w);
    }
    // A dialog nobody expected, or one whose step failed, is closed so the
    // test reports the failure instead of hanging.
    if (guard && guard->isVisible())
        QMetaObject::invokeMethod(guard, "reject", Qt::QueuedConnection);
}

// Types `path` into the next file dialog and accepts it; an empty path
// cancels it. `seen` gets "caption|proposed name|open, save or dir".
void TestExplorer::answerFile(const QString &path, QString *seen)
{
    then([path, seen](QWidget *w) {
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
    });
}

// Selects the item whose node, found through the reference the view keeps,
// has this archive path (the root's is "content").
bool TestExplorer::select(const std::string &archivePath)
{
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        const auto *node = reinterpret_cast<const ArchiveNode *>(
            (*it)->data(0, Qt::UserRole).value<quintptr>());
        if (node->m_Path == archivePath || (!(*it)->parent() && archivePath == "content")) {
            m_tree->setCurrentItem(*it);
            return m_tree->selectedItems() == QList<QTreeWidgetItem *>{*it};
        }
    }
    return false;
}

// Triggers Export, answers its file dialog with `answer` and waits for the
// export to end. Gives each change of the bar as "archive path percentage".
QStringList TestExplorer::exportTo(const QString &answer, QString *seen)
{
    answerFile(answer, seen);
    trigger("actionExport");
    // No event has been processed since the thread started, so whatever it
    // reported is still queued and the dialog still stands.
    QPointer<ProgressDlg> dlg = m_window->findChild<ProgressDlg *>();
    QPointer<ExportThread> thread = m_window->exportThread();
    if (!dlg || !thread)
        return kNoExport;
    auto *bar = dlg->findChild<QProgressBar *>();
    auto *fileLabel = dlg->findChild<QLabel *>(QStringLiteral("label_2"));
    const QString atStart = dlg->findChild<QLabel *>(QStringLiteral("label"))->text() + ' '
                            + QString::number(bar->value());
    // The reports arrive queued in emission order: a path before its
    // percentage.
    QStringList changes;
    QObject context;
    connect(bar, &QProgressBar::valueChanged, &context,
            [&] { changes << fileLabel->text() + ' ' + QString::number(bar->value()); });
    // Every export gets a fresh dialog with the notice at 0 and a thread of
    // its own; both are gone at its end.
    if (atStart != kNotice + " 0")
        return {"<dialog not fresh: " + atStart + '>'};
    // A plain event loop, not qWaitFor(): that one sleeps between rounds,
    // and the GUI thread's timers have to run freely meanwhile.
    QEventLoop loop;
    connect(dlg, &QObject::destroyed, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    if (dlg)
        return {QStringLiteral("<dialog stays>")};
    if (thread || m_window->findChild<ProgressDlg *>() || m_window->exportThread())
        return {QStringLiteral("<export left behind>")};
    return changes;
}

void TestExplorer::treeLimitsNewAndExit()
{
    // The tree stays 100 to 350 pixels wide however the splitter is dragged.
    auto *splitter = m_window->findChild<QSplitter *>();
    const int total = splitter->sizes()[0] + splitter->sizes()[1];
    splitter->setSizes({10, total - 10});
    QCOMPARE(m_tree->width(), 100);
    splitter->setSizes({total - 10, 10});
    QCOMPARE(m_tree->width(), 350);

    // A real click on New: no window, no dialog (cleanup() counts those), no
    // archive, the tree still empty.
    const int windows = QApplication::topLevelWidgets().size();
    auto *newButton = m_window->findChild<QToolBar *>()->widgetForAction(
        m_window->findChild<QAction *>(QStringLiteral("actionNew")));
    QTest::mouseClick(newButton, Qt::LeftButton);
    QTest::qWait(50);
    QCOMPARE(QApplication::topLevelWidgets().size(), windows);
    QVERIFY(!m_window->archive() && m_tree->topLevelItemCount() == 0 && m_window->isVisible());

    // Exit ends the event loop with 0.
    QTimer::singleShot(0, m_window, [this] { trigger("actionE_xit"); });
    QTimer::singleShot(10000, m_window, [] { QCoreApplication::exit(99); });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!m_window->isVisible());
}

void TestExplorer::aboutClosedByCloseOrEscape()
{
    then([&](QWidget *dlg) {
        QVERIFY(dlg->inherits("AboutDlg") && dlg->parentWidget() == m_window);
        // Window-modal, and no resizing.
        QCOMPARE(dlg->windowModality(), Qt::WindowModal);
        const QSize size = dlg->size();
        dlg->resize(size + QSize(200, 200));
        QCOMPARE(dlg->size(), size);
        QTest::mouseClick(dlg->findChild<QPushButton *>(), Qt::LeftButton);
    });
    trigger("actionAbout");
    // Nothing of the dialog outlives the command; a second one is fresh and
    // Escape ends it. That both were met: cleanup().
    QVERIFY(m_window->findChildren<AboutDlg *>().isEmpty());
    then([](QWidget *dlg) { QTest::keyClick(dlg, Qt::Key_Escape); });
    trigger("actionAbout");
    QVERIFY(m_window->findChildren<AboutDlg *>().isEmpty());
    QVERIFY(!QApplication::activeModalWidget());
}

void TestExplorer::languageChangeReappliesTexts()
{
    // A hidden dialog gets the language change too.
    AboutDlg about(m_window);
    const QStringList source = texts(*m_window, about);
    QCOMPARE(source.size(), 17);
    QCOMPARE(source.last(), QStringLiteral("Zarnik Resources Explorer\n\nWritten by Pellworth"));

    // Installing a translator sends the language change to every widget.
    MarkingTranslator marking;
    QVERIFY(QCoreApplication::installTranslator(&marking));
    QCoreApplication::processEvents();
    QStringList marked;
    for (const QString &s : source)
        marked << (s.isEmpty()        ? s
                   : s.contains('\n') ? QString(s).replace("Pellworth", "Marked")
                                      : '<' + s + '>');
    QCOMPARE(texts(*m_window, about), marked);
    QCOMPARE(about.findChild<QLabel *>()->pixmap().size(), QSize(256, 255));

    QVERIFY(QCoreApplication::removeTranslator(&marking));
    QCoreApplication::processEvents();
    QCOMPARE(texts(*m_window, about), source);
}

void TestExplorer::openFillsTheTreeOnBothRoutes()
{
    const QString upk = writeUpk(path("single.upk"));
    const QString bak = path("x.upk.bak");
    QFile::copy(upk, bak);
    const QString paths[] = {
        // The same pack opened again gives the same view.
        upk, writeVfs(path("set")), upk,
        // The extension anywhere in the path: a suffix after it, or a
        // folder's name (content.vfi beside "pack.bin" names it).
        bak, writeVfs(path("a.vfs"), "pack.bin"),
        // Names outside Latin-1 open like any other, on both routes; the
        // index route finds content.vfi only when every "/" has become a
        // backslash.
        writeUpk(path(QStringLiteral("\u03A9mega/\u65E5\u672C.upk"))),
        writeVfs(path(QStringLiteral("\u03A9mega/\u0416"))),
    };
    for (const QString &file : paths) {
        open(file);
        CZarnikArchive *archive = m_window->archive();
        QVERIFY2(archive && archive->GetRoot(), qPrintable(file));
        // The library gets file-system bytes with backslashes.
        std::string want = nativePath(file);
        std::replace(want.begin(), want.end(), '/', '\\');
        QCOMPARE(archive->GetDataPath(), want);
        // The archive's order, not sorted; the Latin-1 name as such; an
        // empty file looks like a folder; nothing expanded.
        QCOMPARE(describe(m_tree, archive), QStringList({
                                                "content [folder]",
                                                "  readme.txt [document]",
                                                "  gfx [folder]",
                                                "    logo.bmp [document]",
                                                "    ui [folder]",
                                                "      button.bmp [document]",
                                                "    icon.bmp [document]",
                                                QStringLiteral("  caf\u00E9.txt [document]"),
                                                "  empty.dat [folder]",
                                                "  sound [folder]",
                                                "    a.wav [document]",
                                            }));
        QVERIFY(!m_tree->topLevelItem(0)->isExpanded());
    }
}

void TestExplorer::openCancelledRefusedOrFailed()
{
    const QString good = writeUpk(path("good.upk"));
    open(good);
    CZarnikArchive *archive = m_window->archive();
    const QStringList view = describe(m_tree, archive);
    QCOMPARE(view.size(), 11);
    // Cancel, and names the case-sensitive extension test refuses with the
    // error box: archive and view stay and still fit together.
    for (const QString name : {"", "PACK.UPK", "pack.Vfs", "plain.bin"}) {
        QString seen, box;
        answerFile(name.isEmpty() ? name : path(name), &seen);
        if (!name.isEmpty()) {
            QFile::copy(good, path(name));
            then([&box](QWidget *w) {
                auto *msg = qobject_cast<QMessageBox *>(w);
                QVERIFY(msg && msg->standardButtons() == QMessageBox::Ok);
                box = QString::number(msg->icon()) + '|' + msg->windowTitle() + '|' + msg->text();
                msg->defaultButton()->click();
            });
        }
        trigger("action_Open");
        QCOMPARE(seen, QStringLiteral("Select Zarnik Pack||open"));
        QCOMPARE(box, name.isEmpty() ? QString()
                                     : QString::number(QMessageBox::Critical)
                                           + "|Error|Invalid Zarnik Pack file");
        QCOMPARE(m_window->archive(), archive);
        QCOMPARE(describe(m_tree, archive), view);
    }

    // Names that pass but fail in the library, not a pack at all and an
    // index route without its index: the view is cleared, so no item may
    // point at the deleted archive's nodes.
    const QString junk = path("junk.upk");
    QVERIFY(zarnik_pack::WriteFile(nativePath(junk), zarnik_pack::Bytes(64, 0x7f)));
    const QString orphan = writeVfs(path("set"));
    QVERIFY(QFile::remove(path("set/content.vfi")));
    for (const QString &bad : {junk, orphan}) {
        open(good);
        QCOMPARE(m_tree->topLevelItemCount(), 1);
        open(bad);
        QVERIFY(m_window->archive() && !m_window->archive()->GetRoot());
        QCOMPARE(m_tree->topLevelItemCount(), 0);
    }
}

void TestExplorer::exportFilesAndFoldersByteExact()
{
    // No archive, no selection, or Cancel in either dialog: nothing starts
    // and nothing is made. cleanup() counts any dialog not asked for.
    trigger("actionExport");
    const std::vector<Entry> entries = sampleEntries();
    open(writeUpk(path(QStringLiteral("pack.upk")), entries));
    m_tree->clearSelection();
    trigger("actionExport");
    for (const char *node : {"content\\readme.txt", "content\\gfx"}) {
        QVERIFY(select(node));
        QCOMPARE(exportTo(QString()), kNoExport);
    }
    QCOMPARE(listTree(m_dir->path()), QStringList{"pack.upk"});

    // Packed, stored and with a Latin-1 name, one export after the other,
    // into a folder whose name is outside Latin-1.
    const QString out = path(QStringLiteral("\u03A9mega \u00FC"));
    QVERIFY(QDir().mkpath(out));
    for (size_t i : {1, 0, 3}) {
        const QString archivePath = QString::fromLatin1(entries[i].path.c_str());
        QString seen;
        QVERIFY(select(entries[i].path));
        QCOMPARE(exportTo(out + "/saved", &seen), QStringList{archivePath + " 100"});
        QCOMPARE(seen, "Where to save...|" + archivePath.section('\\', -1) + "|save");
        QCOMPARE(readAll(out + "/saved"), bytesOf(entries[i]));
        QVERIFY(QFile::remove(out + "/saved"));
    }

    // Three files below gfx, one of them a level deeper: the folder ui does
    // not count, so the bar goes 33, 66, 100.
    QString seen;
    QVERIFY(select("content\\gfx"));
    QCOMPARE(exportTo(out, &seen),
             (QStringList{"content\\gfx\\logo.bmp 33", "content\\gfx\\ui\\button.bmp 66",
                          "content\\gfx\\icon.bmp 100"}));
    QCOMPARE(seen, QStringLiteral("Where to save...||dir"));
    QCOMPARE(listTree(out), (QStringList{"gfx", "gfx/icon.bmp", "gfx/logo.bmp", "gfx/ui",
                                         "gfx/ui/button.bmp"}));

    // The root: the whole pack below the chosen directory, the Latin-1 name
    // in the file-system encoding, the empty file as a directory.
    QVERIFY(select("content"));
    const QStringList changes = exportTo(out);
    QCOMPARE(changes.size(), 6);
    QVERIFY(changes.last().endsWith(" 100"));
    QCOMPARE(listTree(out + "/content"),
             (QStringList{QStringLiteral("caf\u00E9.txt"), "empty.dat", "gfx", "gfx/icon.bmp",
                          "gfx/logo.bmp", "gfx/ui", "gfx/ui/button.bmp", "readme.txt", "sound",
                          "sound/a.wav"}));
    for (const Entry &e : entries)
        QCOMPARE(readAll(out + '/' + QString::fromLatin1(e.path.c_str()).replace('\\', '/')),
                 e.data.empty() ? QByteArray("<missing>") : bytesOf(e));

    // A node stored with size 0 is a folder without files: the directory
    // dialog, nothing reported, the bar stays at 0 without a division.
    QVERIFY(select("content\\empty.dat"));
    QCOMPARE(exportTo(out, &seen), QStringList());
    QCOMPARE(seen, QStringLiteral("Where to save...||dir"));
    QVERIFY(QFileInfo(out + "/empty.dat").isDir());
}

void TestExplorer::largeExportKeepsGuiAndDialogUntilDone()
{
    std::string text;
    open(writeUpk(path(QStringLiteral("pack.upk")), largeEntries(text)));
    const QString out = path(QStringLiteral("out"));
    auto exportedWhole = [&] {
        for (int i = 0; i < kLargeFiles; ++i)
            if (readAll(out + "/big/part" + QString::number(i) + ".txt") != text.c_str())
                return false;
        return true;
    };
    QVERIFY(QDir().mkpath(out) && select("content\\big"));

    int ticksWhileRunning = 0;
    bool keptOpen = false;
    QSet<int> valuesWhileRunning;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] {
        auto *dlg = m_window->findChild<ProgressDlg *>();
        ExportThread *thread = m_window->exportThread();
        if (!dlg || !thread || !thread->isRunning())
            return;
        if (++ticksWhileRunning == 1) {
            // QDialog would reject on Escape and press a default button on
            // Enter; nothing may close this one but the end of the export.
            for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter})
                QTest::keyClick(dlg, key);
            keptOpen = dlg->isVisible();
        }
        valuesWhileRunning << dlg->findChild<QProgressBar *>()->value();
    });
    timer.start(1);
    const QStringList changes = exportTo(out);
    timer.stop();
    // Had the export blocked the GUI thread, no tick would find it running;
    // the bar moved under the timer's eyes, not all at once at the end.
    QVERIFY2(ticksWhileRunning >= 5, qPrintable(QString::number(ticksWhileRunning)));
    QVERIFY2(valuesWhileRunning.size() >= 3,
             qPrintable(QString::number(valuesWhileRunning.size())));
    QCOMPARE(changes.size(), kLargeFiles);
    QVERIFY(keptOpen && exportedWhole());

    // The window (and with it the archive) goes while a second export runs:
    // it must first let the worker finish, so every file comes out whole.
    QVERIFY(QDir(out).removeRecursively() && QDir().mkpath(out));
    answerFile(out);
    trigger("actionExport");
    QVERIFY(m_window->exportThread());
    delete m_window;
    m_window = nullptr;
    QVERIFY(exportedWhole());
}

QTEST_MAIN(TestExplorer)
#include "test_explorer.moc"
