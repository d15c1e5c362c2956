// The Open command and the tree view, driven through the real file dialog.
#include "MainWindow.h"
#include "ModalDriver.h"
#include "PackWriter.h"
#include "ZarnikArchive.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using zarnik_pack::Entry;
using zarnik_pack::Storage;

namespace {

Entry entry(const std::string &path, const std::string &text, Storage storage = Storage::Auto)
{
    Entry e;
    e.path = path;
    e.data = zarnik_pack::ToBytes(text);
    e.storage = storage;
    return e;
}

// Files and folders mixed, a Latin-1 name, an empty file (stored size 0,
// so the view shows it as a folder), packed and stored files.
std::vector<Entry> sampleEntries()
{
    const std::string longText(3000, 'z');
    return {
        entry("content\\readme.txt", "hello", Storage::Stored),
        entry("content\\gfx\\logo.bmp", longText, Storage::Packed),
        entry("content\\gfx\\ui\\button.bmp", "button", Storage::Stored),
        entry("content\\caf\xE9.txt", "latin-1 name"),
        entry("content\\gfx\\icon.bmp", longText + "x", Storage::Packed),
        entry("content\\empty.dat", "", Storage::Stored),
        entry("content\\sound\\a.wav", "wave"),
    };
}

QString nativeBytes(const QString &path)
{
    return QString::fromUtf8(QFile::encodeName(path));
}

// The library path the command should hand on: file-system bytes,
// backslashes.
std::string libraryPath(const QString &path)
{
    std::string s = QFile::encodeName(path).toStdString();
    for (char &c : s)
        if (c == '/')
            c = '\\';
    return s;
}

bool isIcon(const QIcon &icon, const char *resource)
{
    const QImage want = QImage(QString::fromLatin1(resource)).convertToFormat(QImage::Format_ARGB32);
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32) == want;
}

// One line per item, depth first: indentation, text, icon kind.
QStringList describe(QTreeWidget *tree)
{
    QStringList out;
    std::function<void(QTreeWidgetItem *, int)> walk = [&](QTreeWidgetItem *item, int depth) {
        const QString kind = isIcon(item->icon(0), ":/icons/folder.png")     ? QStringLiteral("folder")
                             : isIcon(item->icon(0), ":/icons/document.png") ? QStringLiteral("file")
                                                                              : QStringLiteral("?");
        out << QString(depth * 2, ' ') + item->text(0) + QStringLiteral(" [") + kind + ']';
        for (int i = 0; i < item->childCount(); ++i)
            walk(item->child(i), depth + 1);
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        walk(tree->topLevelItem(i), 0);
    return out;
}

// Every item mirrors its node: text, icon by stored size, children in
// order, and the node reference.
void checkMirrors(QTreeWidgetItem *item, const ArchiveNode *node, bool top)
{
    QCOMPARE(item->data(0, Qt::UserRole).value<quintptr>(), reinterpret_cast<quintptr>(node));
    QCOMPARE(item->columnCount(), 1);
    QCOMPARE(item->type(), int(QTreeWidgetItem::Type));
    if (!top)
        QCOMPARE(item->text(0), QString::fromLatin1(node->m_Name.c_str()));
    QVERIFY(isIcon(item->icon(0), node->m_PackedSize == 0 ? ":/icons/folder.png" : ":/icons/document.png"));
    QCOMPARE(size_t(item->childCount()), node->m_Children.size());
    for (int i = 0; i < item->childCount(); ++i) {
        checkMirrors(item->child(i), node->m_Children[size_t(i)], false);
        if (QTest::currentTestFailed())
            return;
    }
}

} // namespace

class TestExplorerOpen : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cancelChangesNothing();
    void viewMirrorsBothRoutes();
    void extensionTest();
    void pathReachesLibraryAsFileSystemBytes();
    void failedOpenClearsView();
    void sameTwiceSameView();

private:
    // Picks `path` in the Open command's dialog; returns the dialog caption.
    QString open(const QString &path);
    // A single pack of sampleEntries() at `relative` below the temp dir.
    QString writeUpk(const QString &relative);
    // An index-plus-data set in folder `relative`; returns the .vfs path.
    QString writeVfs(const QString &relative, const std::string &dataName = "data0.vfs");

    QTemporaryDir *m_dir = nullptr;
    MainWindow *m_window = nullptr;
    QTreeWidget *m_tree = nullptr;
    ModalDriver *m_driver = nullptr;
};

void TestExplorerOpen::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_window = new MainWindow;
    m_window->show();
    m_tree = m_window->findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    m_driver = new ModalDriver;
}

void TestExplorerOpen::cleanup()
{
    QCOMPARE(m_driver->pending(), size_t(0));
    QCOMPARE(m_driver->unexpected(), 0);
    delete m_driver;
    delete m_window;
    delete m_dir;
}

QString TestExplorerOpen::open(const QString &path)
{
    QString caption;
    m_driver->answerFile(path, &caption);
    m_window->findChild<QAction *>(QStringLiteral("action_Open"))->trigger();
    return caption;
}

QString TestExplorerOpen::writeUpk(const QString &relative)
{
    const QString path = m_dir->filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    zarnik_pack::WriteFile(QFile::encodeName(path).toStdString(), zarnik_pack::BuildUpk(sampleEntries()));
    return path;
}

QString TestExplorerOpen::writeVfs(const QString &relative, const std::string &dataName)
{
    const QString folder = m_dir->filePath(relative);
    QDir().mkpath(folder);
    zarnik_pack::VfsOptions options;
    options.dataName = dataName;
    const zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(sampleEntries(), options);
    const std::string base = QFile::encodeName(folder).toStdString() + "/";
    zarnik_pack::WriteFile(base + "content.vfi", set.index);
    zarnik_pack::WriteFile(base + dataName, set.data);
    return folder + '/' + QString::fromStdString(dataName);
}

void TestExplorerOpen::cancelChangesNothing()
{
    QCOMPARE(open(QString()), QStringLiteral("Select Zarnik Pack"));
    QVERIFY(m_window->archive() == nullptr);
    QCOMPARE(m_tree->topLevelItemCount(), 0);

    open(writeUpk("a.upk"));
    CZarnikArchive *archive = m_window->archive();
    const QStringList view = describe(m_tree);
    QVERIFY(archive && !view.isEmpty());
    open(QString());
    QCOMPARE(m_window->archive(), archive);
    QCOMPARE(describe(m_tree), view);
}

void TestExplorerOpen::viewMirrorsBothRoutes()
{
    for (const QString &path : {writeUpk("single.upk"), writeVfs("set")}) {
        open(path);
        CZarnikArchive *archive = m_window->archive();
        QVERIFY2(archive && archive->GetRoot(), qPrintable(path));
        QCOMPARE(m_tree->topLevelItemCount(), 1);
        QTreeWidgetItem *top = m_tree->topLevelItem(0);
        QCOMPARE(top->text(0), QStringLiteral("content"));
        QVERIFY(!top->isExpanded());
        QVERIFY(m_tree->selectedItems().isEmpty());
        checkMirrors(top, archive->GetRoot(), true);
        if (QTest::currentTestFailed())
            return;
        // What the user reads: the archive's order, not sorted; the Latin-1
        // name as such; an empty file looks like a folder.
        QCOMPARE(describe(m_tree), QStringList({
                                       "content [folder]",
                                       "  readme.txt [file]",
                                       "  gfx [folder]",
                                       "    logo.bmp [file]",
                                       "    ui [folder]",
                                       "      button.bmp [file]",
                                       "    icon.bmp [file]",
                                       QStringLiteral("  caf\u00E9.txt [file]"),
                                       "  empty.dat [folder]",
                                       "  sound [folder]",
                                       "    a.wav [file]",
                                   }));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Zarnik Explorer"));
    }
}

void TestExplorerOpen::extensionTest()
{
    const QString good = writeUpk("good.upk");
    open(good);
    CZarnikArchive *archive = m_window->archive();
    const QStringList view = describe(m_tree);

    // Capitals only: refused with the error box; archive and view stay.
    for (const char *name : {"PACK.UPK", "pack.Vfs", "plain.bin"}) {
        const QString path = m_dir->filePath(QString::fromLatin1(name));
        QFile::copy(good, path);
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title, text;
        m_driver->answerFile(path);
        m_driver->answerMessage(&icon, &title, &text);
        m_window->findChild<QAction *>(QStringLiteral("action_Open"))->trigger();
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(title, QStringLiteral("Error"));
        QCOMPARE(text, QStringLiteral("Invalid Zarnik Pack file"));
        QCOMPARE(m_window->archive(), archive);
        QCOMPARE(describe(m_tree), view);
        // Still usable: the items point into the archive that is kept.
        QCOMPARE(m_tree->topLevelItem(0)->data(0, Qt::UserRole).value<quintptr>(),
                 reinterpret_cast<quintptr>(archive->GetRoot()));
        QVERIFY(archive->FindNode("content\\gfx") != nullptr);
    }

    // Anywhere in the path passes: a suffix after it, or a folder's name.
    const QString bak = m_dir->filePath("x.upk.bak");
    QFile::copy(good, bak);
    open(bak);
    QVERIFY(m_window->archive() != nullptr);
    QCOMPARE(m_window->archive()->GetDataPath(), libraryPath(bak));
    QCOMPARE(m_tree->topLevelItemCount(), 1);

    // "a.vfs/pack.bin" goes the index route: content.vfi beside it names it.
    const QString below = writeVfs("a.vfs", "pack.bin");
    open(below);
    QVERIFY(m_window->archive()->IsIndexRoute());
    QCOMPARE(m_window->archive()->GetDataPath(), libraryPath(below));
    QCOMPARE(m_tree->topLevelItemCount(), 1);
}

void TestExplorerOpen::pathReachesLibraryAsFileSystemBytes()
{
    // The index route needs the backslash to find content.vfi: it opens
    // only when every "/" has been turned.
    const QString vfs = writeVfs("sub/set");
    open(vfs);
    QVERIFY(m_window->archive()->IsIndexRoute());
    QCOMPARE(m_window->archive()->GetDataPath(), libraryPath(vfs));
    QVERIFY(m_window->archive()->GetDataPath().find('/') == std::string::npos);
    QCOMPARE(m_tree->topLevelItemCount(), 1);

    // Names outside Latin-1 open like any other, on both routes.
    for (const QString &path : {writeUpk(QStringLiteral("\u03A9mega/\u65E5\u672C.upk")),
                                writeVfs(QStringLiteral("\u03A9mega/\u0416"))}) {
        m_tree->clear();
        open(path);
        QVERIFY2(m_window->archive()->GetRoot(), qPrintable(nativeBytes(path)));
        QCOMPARE(m_window->archive()->GetDataPath(), libraryPath(path));
        QCOMPARE(m_tree->topLevelItemCount(), 1);
        QCOMPARE(m_tree->topLevelItem(0)->childCount(), 5);
    }
}

void TestExplorerOpen::failedOpenClearsView()
{
    open(writeUpk("good.upk"));
    QCOMPARE(m_tree->topLevelItemCount(), 1);

    // Not a pack at all, and a name that passes but names no file: both
    // fail in the library, and no item may point at the deleted archive.
    const QString junk = m_dir->filePath("junk.upk");
    QFile f(junk);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(64, '\x7f'));
    f.close();
    open(junk);
    QVERIFY(m_window->archive() != nullptr);
    QVERIFY(m_window->archive()->GetRoot() == nullptr);
    QCOMPARE(m_tree->topLevelItemCount(), 0);

    open(writeUpk("good2.upk"));
    QCOMPARE(m_tree->topLevelItemCount(), 1);
    QFile::remove(m_dir->filePath("set/content.vfi"));
    const QString orphan = writeVfs("set");
    QFile::remove(m_dir->filePath("set/content.vfi"));
    open(orphan);
    QCOMPARE(m_tree->topLevelItemCount(), 0);
}

void TestExplorerOpen::sameTwiceSameView()
{
    const QString path = writeUpk("twice.upk");
    open(path);
    const QStringList first = describe(m_tree);
    QCOMPARE(first.size(), 11);
    open(path);
    QCOMPARE(describe(m_tree), first);
    checkMirrors(m_tree->topLevelItem(0), m_window->archive()->GetRoot(), true);
}

QTEST_MAIN(TestExplorerOpen)
#include "test_explorer_open.moc"
