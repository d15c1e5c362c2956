// Comparing the pack shown with another version, as a user does: File >
// Compare with..., the marks of the tree held against the library's list of
// differences, Only Differences, Export Differences and Cancel.
#include "CompareThread.h"
#include "DetailsPane.h"
#include "Compare.h"
#include "LineDiff.h"
#include "ModalSteps.h"
#include "ProgressDlg.h"

using zarnik_pack::Storage;
using Entries = std::vector<testpack::Entry>;

Q_DECLARE_METATYPE(Entries)

class TestExplorerCompare : public QObject, ExplorerHarness
{
    Q_OBJECT

    // Runs `name` (by default: compares the pack shown) with `other` typed into its dialog; true once it ended.
    bool ranWith(const QString &other, const QList<Step> &then = {}, const char *name = "actionCompare")
    {
        run(name, QList<Step>{typed(other)} + then);
        return QTest::qWaitFor([&] { return !m_window->findChild<ProgressDlg *>(); }, 20000);
    }

    // The tree's rows as diff's lines ("M\tcontent/a.txt", a folder with '/'), told by their marks:
    // struck out, italic (the old path from the tooltip), bold, or coloured. What lies below an added or
    // removed folder is that folder's, but what was renamed into it. A folder's count of changes that is
    // not the number of lines below it is a line of its own.
    QStringList markedLines(const QModelIndex &parent = {}, const QString &folder = {}, bool renamesOnly = false)
    {
        QStringList out;
        for (int i = 0; i < m_tree->model()->rowCount(parent); ++i) {
            const QModelIndex at = m_tree->model()->index(i, 0, parent);
            const QFont font = at.data(Qt::FontRole).value<QFont>();
            const bool isFolder = m_tree->model()->hasChildren(at);
            QString path = at.data().toString();
            const QRegularExpressionMatch count = QRegularExpression("  \\((\\d+)\\)$").match(path);
            path = folder + path.left(count.hasMatch() ? count.capturedStart() : path.size());
            const QString shown = path + (isFolder ? "/" : "");
            const QString letter = font.strikeOut() ? "D" : font.italic() ? "R" : font.bold() ? "A"
                                   : at.data(Qt::ForegroundRole).isValid() ? "M" : "";
            if (letter == "R")
                out << "R\t" + at.data(Qt::ToolTipRole).toString().section(' ', 2, 2) + '\t' + shown;
            else if (!letter.isEmpty() && !renamesOnly)
                out << letter + '\t' + shown;
            if (!isFolder)
                continue;
            const QStringList below = markedLines(at, path + '/', renamesOnly || letter == "A" || letter == "D");
            if (count.hasMatch() && count.captured(1).toInt() != below.size())
                out << "count " + count.captured(1) + " on " + shown;
            out += below;
        }
        return out;
    }

    // What the library says of the same two packs.
    static QStringList libraryLines(const QString &a, const QString &b)
    {
        const auto sideA = zarnik::CCompareSide::Open(nativePath(a)), sideB = zarnik::CCompareSide::Open(nativePath(b));
        QStringList out;
        if (!sideA.side || !sideB.side)
            return {QString::fromStdString("cannot open: " + sideA.error + sideB.error)};
        for (const zarnik::Difference &d : zarnik::CompareSides(*sideA.side, *sideB.side, {}).differences)
            out << QString::fromLatin1(zarnik::DifferenceText(d).c_str()).trimmed();
        return out;
    }

    // The tree lists in the pack's order, the library in its paths' order: the same lines, each in one order.
    static QStringList sorted(QStringList lines) { lines.sort(); return lines; }

private slots:
    void initTestCase() { startHarness(this); }
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }

    void marksFollowTheLibrarysDifferences_data()
    {
        QTest::addColumn<Entries>("a");
        QTest::addColumn<Entries>("b");
        QTest::addColumn<bool>("bOnDisk"); // B an extraction, compared as a folder
        const Entries base{e("content\\a.txt", "alpha", Storage::Stored), e("content\\gfx\\sky.bmp", std::string(5000, 's')),
                           e("content\\gfx\\sea.bmp", "sea", Storage::Stored), e("content\\x", "file")};
        QTest::newRow("same-size edit, growth, addition, removal")
            << base << Entries{e("content\\a.txt", "ALPHA"), e("content\\gfx\\sky.bmp", std::string(5001, 's')),
                               e("content\\gfx\\new.bmp", "new"), e("content\\x", "file")} << false;
        QTest::newRow("renames, a folder moved, a file become a folder")
            << base << Entries{e("content\\b.txt", "alpha"), e("content\\pics\\sky.bmp", std::string(5000, 's')),
                               e("content\\pics\\sea.bmp", "sea"), e("content\\x\\inner.txt", "in")} << false;
        // Every folder removed has its row, whether its files went elsewhere whole or changed.
        Entries more = base;
        for (const char *path : {"content\\m\\desert\\a", "content\\m\\desert\\b", "content\\m\\old\\deep\\c", "content\\up\\in\\f"})
            more.push_back(e(path, std::string(path).substr(8)));
        QTest::newRow("folders removed, their files moved or changed")
            << more << Entries{base[0], base[1], base[2], base[3], e("content\\m\\dunes\\a", "m\\desert\\a"),
                               e("content\\m\\dunes\\b", "m\\desert\\b"), e("content\\m\\new\\c", "c2"),
                               e("content\\f", "up\\in\\f")} << false;
        // A folder on disk is read as create packs it: its extraction is the pack, a change in it a difference.
        QTest::newRow("an extraction") << base << base << true;
        QTest::newRow("an extraction changed")
            << base << Entries{e("content\\a.txt", "ALPHA"), e("content\\gfx\\sea.bmp", "sea"), e("content\\y", "file")} << true;
    }

    // Each difference the library lists shows as its mark on its row; the folders above count them; with
    // Only Differences on, only changed rows and the folders above them stay.
    void marksFollowTheLibrarysDifferences()
    {
        QFETCH(Entries, a);
        QFETCH(Entries, b);
        QFETCH(bool, bOnDisk);
        const QString packA = writeUpk(path("a.upk"), a), packB = bOnDisk ? path("b") : writeUpk(path("b.upk"), b);
        for (const testpack::Entry &entry : bOnDisk ? b : Entries{})
            QVERIFY(!writeFile("b/" + QString::fromStdString(entry.path).replace('\\', '/'),
                               QByteArray(reinterpret_cast<const char *>(entry.data.data()), qsizetype(entry.data.size()))).isEmpty());
        QVERIFY(m_window->openPack(packA));
        const qsizetype shownBefore = rows().size();
        QVERIFY(ranWith(packB, {}, bOnDisk ? "actionCompareFolder" : "actionCompare"));
        m_tree->expandAll();
        const QStringList expected = libraryLines(packA, packB);
        QCOMPARE(sorted(markedLines()), sorted(expected));
        const QString root = m_tree->model()->index(0, 0).data().toString();
        QCOMPARE(root, expected.isEmpty() ? QString("content") : QString("content  (%1)").arg(expected.size()));
        // No change of the pack waits while it is compared, and the status line says none does.
        const QString other = QFileInfo(packB).fileName();
        QVERIFY2(message().endsWith(" from " + other), qPrintable(message()));
        // The root's details give the figure of its Stored column, and say of which version.
        const QString stored = m_tree->model()->index(0, PackModel::StoredColumn).data().toString();
        const QString details = label("detailsLabel").remove(QChar(0x200B));
        const QStringList says = stored == "-" ? QStringList{"unknown: " + other + " is no pack"}
                                               : QStringList{"<td>" + stored, ", in " + (expected.isEmpty() ? "a.upk" : other)};
        for (const QString &part : says)
            QVERIFY2(details.contains(part), qPrintable(part + " / " + details));
        // A file modified shows both versions, whatever the other version is.
        if (expected.contains("M\tcontent/a.txt")) {
            QSignalSpy shown(m_window->findChild<DetailsPane *>(), &DetailsPane::previewShown);
            QVERIFY(select("a.txt") && shown.wait(10000));
            QCOMPARE(m_window->findChild<QPlainTextEdit *>("textView")->toPlainText(), QString("- alpha\n+ ALPHA"));
        }
        run("actionOnlyDifferences");
        QCOMPARE(sorted(markedLines()), sorted(expected));
        for (const QModelIndex &at : rows().mid(1))
            QVERIFY2(at.data(Qt::ToolTipRole).isValid(), qPrintable(at.data().toString() + " shown unchanged"));
        // Leaving gives the pack and its Edit commands back.
        QVERIFY(!action("actionAddFiles")->isEnabled());
        run("actionStopComparing");
        QVERIFY(action("actionAddFiles")->isEnabled());
        QCOMPARE(markedLines(), QStringList());
        QCOMPARE(rows().size(), shownBefore);
    }

    // The diff of the preview: its kept and removed lines are the old text, its kept and added ones the
    // new, with the fewest edits (lines removed and added; -1: past the cap, where the middle is given
    // whole, and it says so).
    void lineDiffIsAShortestScript()
    {
        for (const auto &[before, after, maxEdits, edits] : std::vector<std::tuple<QString, QString, int, int>>{
                 {"a b", "a b", 10, 0}, {"a b c", "a x c", 10, 2}, {"a b c", "n a b", 10, 2}, {"a b c d", "b c d a", 10, 2},
                 {"x a x b x", "x b x a x", 10, 4}, {"a b c a b b a", "c b a b a c", 10, 5}, {"", "a b", 10, 2},
                 {"a b c d e", "a x c y e", 3, -1}}) {
            const QStringList a = before.split(' ', Qt::SkipEmptyParts), b = after.split(' ', Qt::SkipEmptyParts);
            const LineDiff diff = diffLines(a, b, maxEdits);
            QStringList old, now;
            int changed = 0;
            for (const LineDiff::Line &line : diff.lines) {
                changed += line.op != LineDiff::Op::Same;
                if (line.op != LineDiff::Op::Added)
                    old << a[line.index];
                if (line.op != LineDiff::Op::Removed)
                    now << (line.op == LineDiff::Op::Added ? b : a)[line.index];
            }
            QCOMPARE(old.join(' ') + " > " + now.join(' '), before + " > " + after);
            QCOMPARE(diff.capped ? -1 : changed, edits);
        }
    }

    // Export Differences writes the patch of the pack shown to the other version into the folder chosen: its
    // removed.txt names what the other version lacks (the patch's files are the library's to write).
    void exportDifferencesWritesThePatchToTheOtherVersion()
    {
        QVERIFY(m_window->openPack(writeUpk(path("a.upk"), {e("content\\same.txt", "s"), e("content\\old.txt", "o")})));
        QVERIFY(ranWith(writeUpk(path("b.upk"), {e("content\\same.txt", "s"), e("content\\gfx\\new.bmp", "new")})));
        const QString out = madeDir("out");
        QVERIFY(ranWith(out, {}, "actionExportDifferences"));
        QCOMPARE(readAll(out + "/removed.txt"), QByteArray("content/old.txt\n"));
    }

    // Escape on the progress dialog asks, and Yes stops the compare: the pack stays shown, changes allowed.
    void cancelKeepsThePack()
    {
        QVERIFY(m_window->openPack(writeUpk(path("a.upk"), {e("content\\a.txt", "a")})));
        m_pauseAt = 1;
        m_atPause = [this] { // the worker goes on once the question is answered
            auto *dlg = m_window->findChild<ProgressDlg *>();
            QTest::keyClick(dlg, Qt::Key_Escape);
            QTRY_VERIFY(!dlg->findChild<QMessageBox *>());
        };
        QVERIFY(ranWith(writeUpk(path("b.upk"), {e("content\\a.txt", "b")}),
                        {textStep(QMessageBox::Question, {"Cancel the comparison?"}, QMessageBox::Yes)}));
        QVERIFY(!action("actionStopComparing")->isEnabled() && action("actionAddFiles")->isEnabled());
        QCOMPARE(m_tree->model()->index(0, 0).data().toString(), QString("content"));
    }
};

QTEST_MAIN(TestExplorerCompare)
#include "test_explorer_compare.moc"
