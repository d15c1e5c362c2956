// The Export command: the real save and directory dialogs, the progress
// dialog and the worker thread, with what lands on disk.
#include "ExportThread.h"
#include "MainWindow.h"
#include "ModalDriver.h"
#include "Compressor.h"
#include "PackWriter.h"
#include "ProgressDlg.h"
#include "ZarnikArchive.h"

#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <functional>
#include <map>

using zarnik_pack::Entry;
using zarnik_pack::Storage;

namespace {

const char *const kNotice = "Exporting files, please wait, it may take several minutes...";

Entry entry(const std::string &path, const std::string &text, Storage storage = Storage::Auto)
{
    Entry e;
    e.path = path;
    e.data = zarnik_pack::ToBytes(text);
    e.storage = storage;
    return e;
}

// Nested folders, packed and stored files, a Latin-1 name and an empty file
// (stored size 0: a folder without children for the explorer).
std::vector<Entry> sampleEntries()
{
    std::string longText;
    for (int i = 0; i < 400; ++i)
        longText += "line " + std::to_string(i % 17) + " of the logo\n";
    return {
        entry("content\\readme.txt", "hello", Storage::Stored),
        entry("content\\gfx\\logo.bmp", longText, Storage::Packed),
        entry("content\\gfx\\ui\\button.bmp", "button", Storage::Stored),
        entry("content\\caf\xE9.txt", "latin-1 name"),
        entry("content\\gfx\\icon.bmp", longText + "x", Storage::Packed),
        entry("content\\empty.dat", "", Storage::Stored),
    };
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

// What the progress dialog showed: one record per bar change, and the
// state when it was hidden.
struct Shown
{
    QString label, label2;
    int value = -1;
};

class DialogWatch : public QObject
{
public:
    explicit DialogWatch(ProgressDlg *dlg)
        : m_dlg(dlg)
    {
        m_label = dlg->findChild<QLabel *>(QStringLiteral("label"));
        m_label2 = dlg->findChild<QLabel *>(QStringLiteral("label_2"));
        m_bar = dlg->findChild<QProgressBar *>(QStringLiteral("progressBar"));
        // The worker's reports reach the dialog queued, in emission order:
        // the path always arrives before its percentage.
        connect(m_bar, &QProgressBar::valueChanged, this, [this] { changes << now(); });
        dlg->installEventFilter(this);
    }

    Shown now() const { return {m_label->text(), m_label2->text(), m_bar->value()}; }

    QPointer<ProgressDlg> m_dlg;
    QLabel *m_label;
    QLabel *m_label2;
    QProgressBar *m_bar;
    QList<Shown> changes;
    Shown atHide;
    bool hidden = false;

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (o == m_dlg && e->type() == QEvent::Hide && !hidden) {
            hidden = true;
            atHide = now();
        }
        return false;
    }
};

} // namespace

class TestExplorerExport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void nothingWithoutArchiveOrSelection();
    void fileExportsByteExact();
    void folderExportsSubtree();
    void cancelCreatesNothing();
    void keysLeaveProgressOpen();
    void emptyFolderStaysAtZero();
    void twoExportsInARow();
    void guiRunsDuringLargeExport();

private:
    void openPack(const std::vector<Entry> &entries);
    bool select(const std::string &archivePath);
    // Triggers Export, answering its file dialog with `answer`. Returns the
    // watch on the progress dialog, or null when none appeared.
    DialogWatch *startExport(const QString &answer, ModalDriver::FileDialogSeen *seen);
    // Waits until the export has ended and its dialog and thread are gone.
    void waitForEnd(DialogWatch *watch);
    bool noExport() const
    {
        return !m_window->findChild<ProgressDlg *>() && !m_window->exportThread();
    }

    QTemporaryDir *m_dir = nullptr;
    QString m_out;
    MainWindow *m_window = nullptr;
    QTreeWidget *m_tree = nullptr;
    ModalDriver *m_driver = nullptr;
    QList<DialogWatch *> m_watches;
};

void TestExplorerExport::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(m_out));
    m_window = new MainWindow;
    m_window->show();
    m_tree = m_window->findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    m_driver = new ModalDriver;
    m_driver->leaveAlone("ProgressDlg");
}

void TestExplorerExport::cleanup()
{
    QCOMPARE(m_driver->pending(), size_t(0));
    QCOMPARE(m_driver->unexpected(), 0);
    qDeleteAll(m_watches);
    m_watches.clear();
    delete m_driver;
    delete m_window;
    delete m_dir;
}

void TestExplorerExport::openPack(const std::vector<Entry> &entries)
{
    const QString path = m_dir->filePath(QStringLiteral("pack.upk"));
    QVERIFY(zarnik_pack::WriteFile(QFile::encodeName(path).toStdString(),
                                   zarnik_pack::BuildUpk(entries)));
    m_driver->answerFile(path);
    m_window->findChild<QAction *>(QStringLiteral("action_Open"))->trigger();
    QCOMPARE(m_tree->topLevelItemCount(), 1);
}

bool TestExplorerExport::select(const std::string &archivePath)
{
    // The item whose node has this archive path (the root's is "content").
    std::function<QTreeWidgetItem *(QTreeWidgetItem *)> find = [&](QTreeWidgetItem *item) {
        const auto *node = reinterpret_cast<const ArchiveNode *>(
            item->data(0, Qt::UserRole).value<quintptr>());
        if (node && (node->m_Path == archivePath
                     || (node == m_window->archive()->GetRoot() && archivePath == "content")))
            return item;
        for (int i = 0; i < item->childCount(); ++i)
            if (QTreeWidgetItem *hit = find(item->child(i)))
                return hit;
        return static_cast<QTreeWidgetItem *>(nullptr);
    };
    QTreeWidgetItem *item = find(m_tree->topLevelItem(0));
    if (!item)
        return false;
    m_tree->setCurrentItem(item);
    return m_tree->selectedItems() == QList<QTreeWidgetItem *>{item};
}

DialogWatch *TestExplorerExport::startExport(const QString &answer,
                                             ModalDriver::FileDialogSeen *seen)
{
    ModalDriver::FileDialogSeen ignored;
    m_driver->answerFileDialog(answer, seen ? seen : &ignored);
    m_window->findChild<QAction *>(QStringLiteral("actionExport"))->trigger();
    // No event has been processed since the thread started, so whatever it
    // reported is still queued and the dialog still stands.
    auto *dlg = m_window->findChild<ProgressDlg *>();
    if (!dlg)
        return nullptr;
    auto *watch = new DialogWatch(dlg);
    m_watches << watch;
    return watch;
}

void TestExplorerExport::waitForEnd(DialogWatch *watch)
{
    QTRY_VERIFY_WITH_TIMEOUT(watch->m_dlg.isNull(), 20000);
    QVERIFY(watch->hidden);
    QVERIFY(noExport());
}

void TestExplorerExport::nothingWithoutArchiveOrSelection()
{
    // No archive: the driver would count any dialog as unexpected.
    m_window->findChild<QAction *>(QStringLiteral("actionExport"))->trigger();
    QTest::qWait(50);
    QVERIFY(noExport());

    openPack(sampleEntries());
    m_tree->clearSelection();
    QVERIFY(m_tree->selectedItems().isEmpty());
    m_window->findChild<QAction *>(QStringLiteral("actionExport"))->trigger();
    QTest::qWait(50);
    QVERIFY(noExport());
    QVERIFY(listTree(m_out).isEmpty());
}

void TestExplorerExport::fileExportsByteExact()
{
    const std::vector<Entry> entries = sampleEntries();
    openPack(entries);
    // A destination outside Latin-1 must reach the library intact.
    const QString dir = m_out + QStringLiteral("/\u03A9mega \u00FC");
    QVERIFY(QDir().mkpath(dir));

    const struct
    {
        size_t entry;
        QString proposed;
    } cases[] = {{1, "logo.bmp"}, {0, "readme.txt"}, {3, QStringLiteral("caf\u00E9.txt")}};
    for (const auto &c : cases) {
        const Entry &e = entries[c.entry];
        QVERIFY(select(e.path));
        const QString dest = dir + QStringLiteral("/saved-") + QString::number(c.entry);
        ModalDriver::FileDialogSeen seen;
        DialogWatch *watch = startExport(dest, &seen);
        QVERIFY(watch);
        QCOMPARE(seen.caption, QStringLiteral("Where to save..."));
        QCOMPARE(seen.acceptMode, QFileDialog::AcceptSave);
        QCOMPARE(seen.proposed, c.proposed);
        QVERIFY2(seen.filters.contains(QStringLiteral("Files (*.*)")), qPrintable(seen.filters.join('|')));

        // The dialog: frameless, modal to the main window, its form.
        ProgressDlg *dlg = watch->m_dlg;
        QCOMPARE(dlg->parentWidget(), m_window);
        QVERIFY(dlg->isVisible());
        QVERIFY(dlg->isModal());
        QCOMPARE(dlg->windowModality(), Qt::WindowModal);
        QCOMPARE(int(dlg->windowFlags()), 0x02001801);
        QCOMPARE(dlg->size(), QSize(701, 168));
        QCOMPARE(watch->m_bar->geometry(), QRect(10, 120, 681, 23));
        QCOMPARE(watch->m_label->geometry(), QRect(10, 20, 681, 41));
        QCOMPARE(watch->m_label2->geometry(), QRect(10, 70, 681, 41));
        QCOMPARE(watch->now().label, QString::fromLatin1(kNotice));
        QCOMPARE(watch->now().label2, QStringLiteral("TextLabel"));
        QCOMPARE(watch->now().value, 0);

        waitForEnd(watch);
        QCOMPARE(watch->changes.size(), 1);
        const QString archivePath = QString::fromLatin1(e.path.c_str());
        QCOMPARE(watch->changes[0].label2, archivePath);
        QCOMPARE(watch->changes[0].value, 100);
        QCOMPARE(watch->atHide.label, QString::fromLatin1(kNotice));
        QCOMPARE(watch->atHide.label2, archivePath);
        QCOMPARE(watch->atHide.value, 100);
        QCOMPARE(readAll(dest), bytesOf(e));
    }
    QCOMPARE(listTree(dir), (QStringList{"saved-0", "saved-1", "saved-3"}));
}

void TestExplorerExport::folderExportsSubtree()
{
    const std::vector<Entry> entries = sampleEntries();
    openPack(entries);

    // Three files below gfx, one of them a level deeper: the folder ui does
    // not count, so the bar goes 33, 66, 100.
    QVERIFY(select("content\\gfx"));
    QVERIFY(QDir().mkpath(m_out + "/a"));
    ModalDriver::FileDialogSeen seen;
    DialogWatch *watch = startExport(m_out + "/a", &seen);
    QVERIFY(watch);
    QCOMPARE(seen.caption, QStringLiteral("Where to save..."));
    QCOMPARE(seen.fileMode, QFileDialog::Directory);
    QVERIFY(seen.dirsOnly);
    waitForEnd(watch);
    QStringList paths;
    QList<int> values;
    for (const Shown &s : watch->changes) {
        paths << s.label2;
        values << s.value;
    }
    QCOMPARE(paths, (QStringList{"content\\gfx\\logo.bmp", "content\\gfx\\ui\\button.bmp",
                                 "content\\gfx\\icon.bmp"}));
    QCOMPARE(values, (QList<int>{33, 66, 100}));
    QCOMPARE(watch->atHide.value, 100);
    QCOMPARE(listTree(m_out + "/a"), (QStringList{"gfx", "gfx/icon.bmp", "gfx/logo.bmp", "gfx/ui",
                                                  "gfx/ui/button.bmp"}));
    QCOMPARE(readAll(m_out + "/a/gfx/logo.bmp"), bytesOf(entries[1]));
    QCOMPARE(readAll(m_out + "/a/gfx/ui/button.bmp"), bytesOf(entries[2]));
    QCOMPARE(readAll(m_out + "/a/gfx/icon.bmp"), bytesOf(entries[4]));

    // The root: the whole pack below the chosen directory, the Latin-1 name
    // in the file-system encoding, the empty file as a directory.
    QVERIFY(QDir().mkpath(m_out + "/b"));
    QVERIFY(select("content"));
    watch = startExport(m_out + "/b", nullptr);
    QVERIFY(watch);
    waitForEnd(watch);
    QCOMPARE(watch->changes.size(), 5);
    QCOMPARE(watch->atHide.value, 100);
    QCOMPARE(listTree(m_out + "/b"),
             (QStringList{"content", QStringLiteral("content/caf\u00E9.txt"), "content/empty.dat",
                          "content/gfx", "content/gfx/icon.bmp", "content/gfx/logo.bmp",
                          "content/gfx/ui", "content/gfx/ui/button.bmp", "content/readme.txt"}));
    QCOMPARE(readAll(m_out + QStringLiteral("/b/content/caf\u00E9.txt")), bytesOf(entries[3]));
    QCOMPARE(readAll(m_out + "/b/content/readme.txt"), bytesOf(entries[0]));
}

void TestExplorerExport::cancelCreatesNothing()
{
    openPack(sampleEntries());
    for (const char *path : {"content\\readme.txt", "content\\gfx"}) {
        QVERIFY(select(path));
        ModalDriver::FileDialogSeen seen;
        QVERIFY(!startExport(QString(), &seen));
        QCOMPARE(seen.caption, QStringLiteral("Where to save..."));
        QTest::qWait(50);
        QVERIFY(noExport());
    }
    QCOMPARE(listTree(m_dir->path()), (QStringList{"out", "pack.upk"}));
}

void TestExplorerExport::keysLeaveProgressOpen()
{
    openPack(sampleEntries());
    QVERIFY(select("content\\gfx"));
    DialogWatch *watch = startExport(m_out, nullptr);
    QVERIFY(watch);
    ProgressDlg *dlg = watch->m_dlg;
    // QDialog would reject on Escape; nothing may close this one but the
    // end of the export.
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space, Qt::Key_A}) {
        QTest::keyClick(dlg, key);
        QVERIFY2(dlg->isVisible(), qPrintable(QString::number(key, 16)));
        QVERIFY(!watch->hidden);
    }
    QTest::keyClick(dlg, Qt::Key_F4, Qt::AltModifier);
    QVERIFY(dlg->isVisible());
    QCOMPARE(dlg->result(), int(QDialog::Rejected)); // never done() with anything
    waitForEnd(watch);
    QCOMPARE(watch->atHide.value, 100);
    QCOMPARE(listTree(m_out).size(), 5);
}

void TestExplorerExport::emptyFolderStaysAtZero()
{
    openPack(sampleEntries());
    // Listed as a file, stored size 0: a folder without children here.
    QVERIFY(select("content\\empty.dat"));
    ModalDriver::FileDialogSeen seen;
    DialogWatch *watch = startExport(m_out, &seen);
    QVERIFY(watch);
    QCOMPARE(seen.fileMode, QFileDialog::Directory);
    waitForEnd(watch);
    QVERIFY(watch->changes.isEmpty());
    QCOMPARE(watch->atHide.label, QString::fromLatin1(kNotice));
    QCOMPARE(watch->atHide.label2, QStringLiteral("TextLabel"));
    QCOMPARE(watch->atHide.value, 0);
    QCOMPARE(listTree(m_out), QStringList{"empty.dat"});
    QVERIFY(QFileInfo(m_out + "/empty.dat").isDir());
}

void TestExplorerExport::twoExportsInARow()
{
    const std::vector<Entry> entries = sampleEntries();
    openPack(entries);
    QVERIFY(select("content\\readme.txt"));

    DialogWatch *first = startExport(m_out + "/one", nullptr);
    QVERIFY(first);
    QPointer<ExportThread> firstThread = m_window->exportThread();
    QVERIFY(firstThread);
    waitForEnd(first);
    QVERIFY(firstThread.isNull());

    DialogWatch *second = startExport(m_out + "/two", nullptr);
    QVERIFY(second);
    QPointer<ExportThread> secondThread = m_window->exportThread();
    QVERIFY(secondThread);
    // Fresh ones: the first dialog starts over at 0 with its own texts.
    QCOMPARE(second->now().value, 0);
    QCOMPARE(second->now().label2, QStringLiteral("TextLabel"));
    QCOMPARE(m_window->findChildren<ProgressDlg *>().size(), 1);
    waitForEnd(second);
    QVERIFY(secondThread.isNull());
    QCOMPARE(second->atHide.value, 100);
    QCOMPARE(readAll(m_out + "/one"), bytesOf(entries[0]));
    QCOMPARE(readAll(m_out + "/two"), bytesOf(entries[0]));
}

void TestExplorerExport::guiRunsDuringLargeExport()
{
    // 128 MiB to unpack and write: long enough that the GUI thread's timer
    // fires many times while the worker runs. One 4 MiB stream is
    // compressed once; every further entry points at the same stored bytes,
    // so making the pack stays cheap while the export is not.
    std::string text;
    const char *const words[] = {"zarnik ", "pack ", "sky ", "stone ", "light ", "rain ",
                                 "tower ", "gate ", "fire ", "moss "};
    uint32_t seed = 12345;
    while (text.size() < (4u << 20)) {
        seed = seed * 1103515245u + 12345u;
        text += words[(seed >> 16) % 10];
    }
    text.resize(4u << 20);
    const zarnik_pack::Bytes packed = zarnik_pack::Compress(
        reinterpret_cast<const unsigned char *>(text.data()), text.size());
    QVERIFY(packed.size() < text.size());

    const int files = 32;
    std::vector<Entry> entries(files);
    for (int i = 0; i < files; ++i) {
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
    openPack(entries);
    QVERIFY(select("content\\big"));

    int ticksWhileRunning = 0;
    QSet<int> valuesWhileRunning;
    DialogWatch *watch = nullptr;
    QTimer timer;
    timer.setInterval(1);
    connect(&timer, &QTimer::timeout, [&] {
        ExportThread *thread = m_window->exportThread();
        if (watch && watch->m_dlg && thread && thread->isRunning()) {
            ++ticksWhileRunning;
            valuesWhileRunning << watch->m_bar->value();
        }
    });
    timer.start();
    watch = startExport(m_out, nullptr);
    QVERIFY(watch);
    waitForEnd(watch);
    timer.stop();

    QCOMPARE(watch->changes.size(), files);
    QCOMPARE(watch->atHide.value, 100);
    // Had the export blocked the GUI thread, no tick would find it running;
    // the bar moved under the timer's eyes, not all at once at the end.
    QVERIFY2(ticksWhileRunning >= 5, qPrintable(QString::number(ticksWhileRunning)));
    QVERIFY2(valuesWhileRunning.size() >= 3, qPrintable(QString::number(valuesWhileRunning.size())));
    const QByteArray want = QByteArray::fromStdString(text);
    for (int i = 0; i < files; ++i)
        QVERIFY(readAll(m_out + "/big/part" + QString::number(i) + ".txt") == want);
}

QTEST_MAIN(TestExplorerExport)
#include "test_explorer_export.moc"
