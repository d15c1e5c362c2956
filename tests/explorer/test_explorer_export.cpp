// The Export command: the real save and directory dialogs, the progress
// dialog and the worker thread, with what lands on disk.
#include "Compressor.h"
#include "ExplorerFixture.h"
#include "ExportThread.h"
#include "ProgressDlg.h"
#include "ZarnikArchive.h"

#include <QLabel>
#include <QProgressBar>
#include <QTreeWidgetItemIterator>

using namespace explorertest;

namespace {

const QString kNotice = QStringLiteral("Exporting files, please wait, it may take several minutes...");

// One export seen from the moment its dialog appears: what the dialog
// showed then and at each bar change ("archive path percentage"), and
// whether dialog and thread are deleted in the end. Goes with the window.
class ExportWatch : public QObject
{
public:
    ExportWatch(ProgressDlg *dlg, ExportThread *thread, QObject *owner)
        : QObject(owner)
        , m_dlg(dlg)
        , m_thread(thread)
    {
        auto *label2 = dlg->findChild<QLabel *>(QStringLiteral("label_2"));
        auto *bar = dlg->findChild<QProgressBar *>();
        atStart = dlg->findChild<QLabel *>(QStringLiteral("label"))->text() + ' '
                  + QString::number(bar->value());
        // The worker's reports reach the dialog queued, in emission order:
        // the path always arrives before its percentage.
        connect(bar, &QProgressBar::valueChanged, this,
                [=] { changes << label2->text() + ' ' + QString::number(bar->value()); });
    }

    QPointer<ProgressDlg> m_dlg;
    QPointer<ExportThread> m_thread;
    QString atStart;
    QStringList changes;
};

} // namespace

class TestExplorerExport : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_f.setUp("ProgressDlg");
        QVERIFY(QDir().mkpath(m_out = m_f.path(QStringLiteral("out"))));
    }
    void cleanup() { m_f.tearDown(); }
    void nothingOrFilesByteExact();
    void foldersExportTheirSubtree();
    void progressStaysOpenAndGuiRunsDuringLargeExport();
    void windowGoneDuringExportLetsTheWorkerFinish();

private:
    void openPack(const std::vector<Entry> &entries = sampleEntries());
    bool select(const std::string &archivePath);
    // Triggers Export, answering its file dialog with `answer`, and waits
    // for the export to end. Null when no export ran or it went wrong.
    ExportWatch *exportTo(const QString &answer, ModalDriver::FileDialogSeen *seen = nullptr);
    bool noExport() const
    {
        return !m_f.window->findChild<ProgressDlg *>() && !m_f.window->exportThread();
    }

    Fixture m_f;
    QString m_out;
};

void TestExplorerExport::openPack(const std::vector<Entry> &entries)
{
    m_f.open(writeUpk(m_f.path(QStringLiteral("pack.upk")), entries));
    QCOMPARE(m_f.tree->topLevelItemCount(), 1);
}

// Selects the item whose node, found through the reference the view keeps,
// has this archive path (the root's is "content").
bool TestExplorerExport::select(const std::string &archivePath)
{
    for (QTreeWidgetItemIterator it(m_f.tree); *it; ++it) {
        const auto *node = reinterpret_cast<const ArchiveNode *>(
            (*it)->data(0, Qt::UserRole).value<quintptr>());
        if (node->m_Path == archivePath || (!(*it)->parent() && archivePath == "content")) {
            m_f.tree->setCurrentItem(*it);
            return m_f.tree->selectedItems() == QList<QTreeWidgetItem *>{*it};
        }
    }
    return false;
}

ExportWatch *TestExplorerExport::exportTo(const QString &answer, ModalDriver::FileDialogSeen *seen)
{
    m_f.driver->answerFile(answer, seen);
    m_f.trigger("actionExport");
    // No event has been processed since the thread started, so whatever it
    // reported is still queued and the dialog still stands.
    auto *dlg = m_f.window->findChild<ProgressDlg *>();
    if (!dlg)
        return nullptr;
    auto *watch = new ExportWatch(dlg, m_f.window->exportThread(), m_f.window);
    [&] {
        // Every export gets a dialog of its own, frameless, window-modal over
        // the main window, fresh with the notice at 0, and a thread of its
        // own; both are gone when it ends.
        QVERIFY(watch->m_thread);
        QCOMPARE(watch->atStart, kNotice + " 0");
        QCOMPARE(dlg->parentWidget(), m_f.window);
        QCOMPARE(dlg->windowModality(), Qt::WindowModal);
        QVERIFY(dlg->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(dlg->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(watch->m_dlg.isNull(), 20000);
        QVERIFY(watch->m_thread.isNull());
        QVERIFY(noExport());
    }();
    return QTest::currentTestFailed() ? nullptr : watch;
}

void TestExplorerExport::nothingOrFilesByteExact()
{
    // No archive, then no selection: the driver would count any dialog as
    // unexpected.
    m_f.trigger("actionExport");
    openPack();
    m_f.tree->clearSelection();
    m_f.trigger("actionExport");
    QTest::qWait(50);
    QVERIFY(noExport());

    // Cancel in either dialog creates nothing.
    for (const char *path : {"content\\readme.txt", "content\\gfx"}) {
        QVERIFY(select(path));
        ModalDriver::FileDialogSeen seen;
        QVERIFY(!exportTo(QString(), &seen));
        QCOMPARE(seen.caption, QStringLiteral("Where to save..."));
        QVERIFY(noExport());
    }
    QCOMPARE(listTree(m_f.dir->path()), (QStringList{"out", "pack.upk"}));

    const std::vector<Entry> entries = sampleEntries();
    // A destination outside Latin-1 must reach the library intact.
    const QString dir = m_out + QStringLiteral("/\u03A9mega \u00FC");
    QVERIFY(QDir().mkpath(dir));

    // Packed, stored, and with a Latin-1 name.
    for (size_t i : {1, 0, 3}) {
        const Entry &e = entries[i];
        const QString name = QString::fromLatin1(e.path.c_str()).section('\\', -1);
        QVERIFY(select(e.path));
        const QString dest = dir + QStringLiteral("/saved-") + QString::number(i);
        ModalDriver::FileDialogSeen seen;
        ExportWatch *watch = exportTo(dest, &seen);
        QVERIFY(watch);
        QCOMPARE(seen.caption, QStringLiteral("Where to save..."));
        QCOMPARE(seen.acceptMode, QFileDialog::AcceptSave);
        QCOMPARE(seen.proposed, name);
        QVERIFY2(seen.filters.contains(QStringLiteral("Files (*.*)")), qPrintable(seen.filters.join('|')));
        QCOMPARE(watch->changes, QStringList{QString::fromLatin1(e.path.c_str()) + " 100"});
        QCOMPARE(readAll(dest), bytesOf(e));
    }
    QCOMPARE(listTree(dir), (QStringList{"saved-0", "saved-1", "saved-3"}));
}

void TestExplorerExport::foldersExportTheirSubtree()
{
    const std::vector<Entry> entries = sampleEntries();
    openPack(entries);
    for (const char *sub : {"/a", "/b", "/c"})
        QVERIFY(QDir().mkpath(m_out + sub));

    // Three files below gfx, one of them a level deeper: the folder ui does
    // not count, so the bar goes 33, 66, 100.
    QVERIFY(select("content\\gfx"));
    ModalDriver::FileDialogSeen seen;
    ExportWatch *watch = exportTo(m_out + "/a", &seen);
    QVERIFY(watch);
    QCOMPARE(seen.caption, QStringLiteral("Where to save..."));
    QCOMPARE(seen.fileMode, QFileDialog::Directory);
    QCOMPARE(watch->changes, (QStringList{"content\\gfx\\logo.bmp 33", "content\\gfx\\ui\\button.bmp 66",
                                          "content\\gfx\\icon.bmp 100"}));
    QCOMPARE(listTree(m_out + "/a"), (QStringList{"gfx", "gfx/icon.bmp", "gfx/logo.bmp", "gfx/ui",
                                                  "gfx/ui/button.bmp"}));

    // The root: the whole pack below the chosen directory, the Latin-1 name
    // in the file-system encoding, the empty file as a directory.
    QVERIFY(select("content"));
    watch = exportTo(m_out + "/b");
    QVERIFY(watch);
    QCOMPARE(watch->changes.size(), 6);
    QVERIFY(watch->changes.last().endsWith(" 100"));
    QCOMPARE(listTree(m_out + "/b"),
             (QStringList{"content", QStringLiteral("content/caf\u00E9.txt"), "content/empty.dat",
                          "content/gfx", "content/gfx/icon.bmp", "content/gfx/logo.bmp",
                          "content/gfx/ui", "content/gfx/ui/button.bmp", "content/readme.txt",
                          "content/sound", "content/sound/a.wav"}));
    for (const Entry &e : entries)
        if (!e.data.empty())
            QCOMPARE(readAll(m_out + "/b/" + QString::fromLatin1(e.path.c_str()).replace('\\', '/')),
                     bytesOf(e));

    // A node stored with size 0 is a folder without files: the directory
    // dialog, nothing reported, the bar stays at 0 without a division.
    QVERIFY(select("content\\empty.dat"));
    watch = exportTo(m_out + "/c", &seen);
    QVERIFY(watch);
    QCOMPARE(seen.fileMode, QFileDialog::Directory);
    QVERIFY(watch->changes.isEmpty());
    QVERIFY(QFileInfo(m_out + "/c/empty.dat").isDir());
}

namespace {

const int kLargeFiles = 32;

// 128 MiB to unpack and write: long enough that the GUI thread's timer
// fires many times while the worker runs. One 4 MiB stream is compressed
// once; every further entry points at the same stored bytes, so making the
// pack stays cheap while the export is not.
std::vector<Entry> largeEntries(std::string &text)
{
    while (text.size() < (4u << 20))
        text += "line " + std::to_string(text.size() % 997) + " of a large file\n";
    const zarnik_pack::Bytes packed = zarnik_pack::Compress(
        reinterpret_cast<const unsigned char *>(text.data()), text.size());
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

} // namespace

void TestExplorerExport::progressStaysOpenAndGuiRunsDuringLargeExport()
{
    std::string text;
    const std::vector<Entry> entries = largeEntries(text);
    const int files = kLargeFiles;
    openPack(entries);
    QVERIFY(select("content\\big"));

    int ticksWhileRunning = 0;
    bool keptOpen = false;
    QSet<int> valuesWhileRunning;
    QTimer timer;
    timer.setInterval(1);
    connect(&timer, &QTimer::timeout, [&] {
        auto *dlg = m_f.window->findChild<ProgressDlg *>();
        ExportThread *thread = m_f.window->exportThread();
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
    timer.start();
    ExportWatch *watch = exportTo(m_out);
    timer.stop();
    // Had the export blocked the GUI thread, no tick would find it running;
    // the bar moved under the timer's eyes, not all at once at the end.
    QVERIFY2(ticksWhileRunning >= 5, qPrintable(QString::number(ticksWhileRunning)));
    QVERIFY2(valuesWhileRunning.size() >= 3, qPrintable(QString::number(valuesWhileRunning.size())));
    QVERIFY(keptOpen);
    QVERIFY(watch);
    QCOMPARE(watch->changes.size(), files);
    const QByteArray want = QByteArray::fromStdString(text);
    for (int i = 0; i < files; ++i)
        QVERIFY(readAll(m_out + "/big/part" + QString::number(i) + ".txt") == want);
}

void TestExplorerExport::windowGoneDuringExportLetsTheWorkerFinish()
{
    std::string text;
    openPack(largeEntries(text));
    QVERIFY(select("content\\big"));
    m_f.driver->answerFile(m_out);
    m_f.trigger("actionExport");
    QVERIFY(m_f.window->exportThread());
    // The window (and with it the archive) goes while the worker runs: it
    // must first let the export end, so every file comes out whole.
    delete m_f.window;
    m_f.window = nullptr;
    const QByteArray want = QByteArray::fromStdString(text);
    for (int i = 0; i < kLargeFiles; ++i)
        QVERIFY(readAll(m_out + "/big/part" + QString::number(i) + ".txt") == want);
}

QTEST_MAIN(TestExplorerExport)
#include "test_explorer_export.moc"
