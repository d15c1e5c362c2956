// The Open command and the tree view, driven through the real file dialog.
#include "ExplorerFixture.h"
#include "ZarnikArchive.h"

#include <algorithm>
#include <functional>

using namespace explorertest;

namespace {

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

// Every item refers to its own node, as a whole address, and has as many
// children as the node.
void checkNodeReferences(QTreeWidgetItem *item, const ArchiveNode *node)
{
    QCOMPARE(item->data(0, Qt::UserRole).value<quintptr>(), reinterpret_cast<quintptr>(node));
    QCOMPARE(size_t(item->childCount()), node->m_Children.size());
    for (int i = 0; i < item->childCount() && !QTest::currentTestFailed(); ++i)
        checkNodeReferences(item->child(i), node->m_Children[size_t(i)]);
}

} // namespace

class TestExplorerOpen : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_f.setUp(); }
    void cleanup() { m_f.tearDown(); }
    void viewMirrorsBothRoutes();
    void cancelRefusedOrFailedOpen();
    void pathReachesLibraryAsFileSystemBytes();

private:
    Fixture m_f;
    QTreeWidget *&m_tree = m_f.tree;
};

void TestExplorerOpen::viewMirrorsBothRoutes()
{
    const QString upk = writeUpk(m_f.path("single.upk"));
    // The same pack opened again gives the same view.
    for (const QString &path : {upk, writeVfs(m_f.path("set")), upk}) {
        m_f.open(path);
        CZarnikArchive *archive = m_f.window->archive();
        QVERIFY2(archive && archive->GetRoot(), qPrintable(path));
        QCOMPARE(m_tree->topLevelItemCount(), 1);
        QVERIFY(!m_tree->topLevelItem(0)->isExpanded());
        checkNodeReferences(m_tree->topLevelItem(0), archive->GetRoot());
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
    }
}

void TestExplorerOpen::cancelRefusedOrFailedOpen()
{
    ModalDriver::FileDialogSeen seen;
    m_f.open(QString(), &seen);
    QCOMPARE(seen.caption, QStringLiteral("Select Zarnik Pack"));
    QVERIFY(m_f.window->archive() == nullptr);
    QCOMPARE(m_tree->topLevelItemCount(), 0);

    const QString good = writeUpk(m_f.path("good.upk"));
    m_f.open(good);
    CZarnikArchive *archive = m_f.window->archive();
    const QStringList view = describe(m_tree);
    QCOMPARE(view.size(), 11);
    m_f.open(QString());
    QCOMPARE(m_f.window->archive(), archive);
    QCOMPARE(describe(m_tree), view);

    // The extension test is case-sensitive: refused with the error box,
    // archive and view stay and still fit together.
    for (const char *name : {"PACK.UPK", "pack.Vfs", "plain.bin"}) {
        const QString path = m_f.path(QString::fromLatin1(name));
        QFile::copy(good, path);
        QString box;
        m_f.driver->answerFile(path);
        m_f.driver->answerMessage(&box);
        m_f.trigger("action_Open");
        QCOMPARE(box, QString::number(QMessageBox::Critical) + "|Error|Invalid Zarnik Pack file");
        QCOMPARE(m_f.window->archive(), archive);
        QCOMPARE(describe(m_tree), view);
        checkNodeReferences(m_tree->topLevelItem(0), archive->GetRoot());
    }

    // Names that pass but fail in the library, not a pack at all and an
    // index route without its index: the view is cleared, so no item may
    // point at the deleted archive's nodes.
    const QString junk = m_f.path("junk.upk");
    QVERIFY(zarnik_pack::WriteFile(nativePath(junk), zarnik_pack::Bytes(64, 0x7f)));
    const QString orphan = writeVfs(m_f.path("set"));
    QVERIFY(QFile::remove(m_f.path("set/content.vfi")));
    for (const QString &bad : {junk, orphan}) {
        m_f.open(good);
        QCOMPARE(m_tree->topLevelItemCount(), 1);
        m_f.open(bad);
        QVERIFY(m_f.window->archive() && !m_f.window->archive()->GetRoot());
        QCOMPARE(m_tree->topLevelItemCount(), 0);
    }
}

void TestExplorerOpen::pathReachesLibraryAsFileSystemBytes()
{
    const QString good = writeUpk(m_f.path("good.upk"));
    const QString bak = m_f.path("x.upk.bak");
    QFile::copy(good, bak);
    const struct
    {
        QString path;
        bool indexRoute;
    } cases[] = {
        // The extension anywhere in the path: a suffix after it...
        {bak, false},
        // ...or a folder's name: content.vfi beside "pack.bin" names it.
        {writeVfs(m_f.path("a.vfs"), "pack.bin"), true},
        // The index route finds content.vfi only when every "/" has become
        // a backslash.
        {writeVfs(m_f.path("sub/set")), true},
        // Names outside Latin-1 open like any other, on both routes.
        {writeUpk(m_f.path(QStringLiteral("\u03A9mega/\u65E5\u672C.upk"))), false},
        {writeVfs(m_f.path(QStringLiteral("\u03A9mega/\u0416"))), true},
    };
    for (const auto &c : cases) {
        m_tree->clear();
        m_f.open(c.path);
        CZarnikArchive *archive = m_f.window->archive();
        QVERIFY2(archive && archive->GetRoot(), qPrintable(c.path));
        QCOMPARE(archive->IsIndexRoute(), c.indexRoute);
        // File-system bytes, backslashes.
        std::string want = nativePath(c.path);
        std::replace(want.begin(), want.end(), '/', '\\');
        QCOMPARE(archive->GetDataPath(), want);
        QCOMPARE(m_tree->topLevelItemCount(), 1);
        QCOMPARE(m_tree->topLevelItem(0)->childCount(), 5);
    }
}

QTEST_MAIN(TestExplorerOpen)
#include "test_explorer_open.moc"
