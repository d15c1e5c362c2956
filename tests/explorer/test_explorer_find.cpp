// Find in Files as a user meets it: Ctrl+Shift+F, the pattern and its
// toggles, Enter, F3 and Cancel, the results and the preview they lead to.
#include "DetailsPane.h"
#include "FindResults.h"
#include "FindThread.h"
#include "ModalSteps.h"
#include "ZarnikArchive.h"

using testpack::Entry;
using zarnik_pack::Storage;

namespace {

// A line a packed file holds past the preview's first 64 KiB, one that ends
// in CRLF, a binary file and a damaged one.
std::vector<Entry> findEntries()
{
    std::string deep;
    for (int i = 1; i <= 8000; ++i)
        deep += "line " + std::to_string(i) + " of filler\n";
    deep += "the needle alpha\nend\n";
    std::vector<Entry> entries{e("content\\a.txt", "alpha beta\r\nGamma alphabet\n\tALPHA\n", Storage::Stored),
                               e("content\\sub\\b.txt", deep, Storage::Packed),
                               e("content\\c.bin", std::string("bin\0alpha", 9), Storage::Stored),
                               e("content\\bad.txt", std::string(64, '\xFF'), Storage::Stored)};
    entries.back().unpackedSize = 1000; // taken for packed, and no sound stream
    return entries;
}

const QString kUnread = "searched only as far as it could be read: "
                        + QString::fromUtf8(zarnik::ReadOutcomeText(zarnik::ReadOutcome::Damaged));

} // namespace

class TestExplorerFind : public QObject, ExplorerHarness
{
    Q_OBJECT

    QLineEdit *pattern() const { return m_window->findChild<QLineEdit *>("findPattern"); }
    QString status() const { return m_window->findChild<QLabel *>("findStatus")->text(); }
    QTreeView *results() const { return m_window->findChild<QTreeView *>("findResults"); }
    bool idle() const { return m_window->findChild<QPushButton *>("findButton")->text() == "Find"; }

    // Ctrl+Shift+F, the pattern typed, the toggles named clicked, Enter; true once the search ended.
    bool find(const QString &text, const QStringList &toggles = {})
    {
        press(m_tree, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        if (!pattern()->hasFocus())
            return false;
        QTest::keyClicks(pattern(), text);
        for (QCheckBox *box : m_window->findChild<QDockWidget *>("findPanel")->findChildren<QCheckBox *>())
            if (toggles.contains(box->text().remove('&')))
                QTest::mouseClick(box, Qt::LeftButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // on the toggle clicked last, if any
        return QTest::qWaitFor([&] { return idle(); }, 20000);
    }

    // Each row as "file:line:text", its matches in brackets.
    QStringList rows() const
    {
        QStringList out;
        const QAbstractItemModel *model = results()->model();
        for (int r = 0; r < model->rowCount(); ++r) {
            QString text = model->index(r, FindResults::TextColumn).data().toString();
            const auto marks = model->index(r, FindResults::TextColumn).data(FindResults::MarksRole).value<QList<QPair<int, int>>>();
            for (auto it = marks.rbegin(); it != marks.rend(); ++it)
                text.insert(it->first + it->second, ']').insert(it->first, '[');
            out << model->index(r, 0).data().toString() + ':' + model->index(r, 1).data().toString() + ':' + text;
        }
        return out;
    }

private slots:
    void initTestCase() { startHarness(this); }

    void init()
    {
        openWindow();
        QVERIFY(m_window->openPack(writeUpk(path("find.upk"), findEntries())));
    }

    void cleanup() { closeWindow(); }

    // The toggles ask for case, whole words and regular expressions; every line found is listed with its
    // matches marked, in the pack's order, as are binary files that match and files that could not be read.
    void findsWhatTheTogglesAsk_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("toggles");
        // A change made before or after the search: the pack as saved is searched, and the panel says so.
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<QString>("tally");
        const QStringList alpha{"content/a.txt:1:[alpha] beta", "content/a.txt:2:Gamma [alpha]bet",
                                "content/a.txt:3:[ALPHA]", "content/sub/b.txt:8,001:the needle [alpha]",
                                "content/c.bin::binary file matches", "content/bad.txt::" + kUnread};
        const QString unread = "; 1 file not searched whole", five = "5 matches in 3 files" + unread;
        for (const char *change : {"", "before", "after"})
            QTest::addRow(*change ? "change %s" : "any case%s", change) << "alpha" << QStringList() << change << alpha << five;
        QTest::newRow("match case") << "ALPHA" << QStringList{"Match case"} << "" << QStringList{alpha[2], alpha[5]}
                                    << "1 match in 1 file" + unread;
        QTest::newRow("whole word") << "alpha" << QStringList{"Whole word"} << "" << alpha.mid(0, 1) + alpha.mid(2)
                                    << "4 matches in 3 files" + unread;
        QTest::newRow("regular expression") << "g.mma|alpha" << QStringList{"Regular expression"} << ""
            << QStringList{alpha[0], "content/a.txt:2:[Gamma] [alpha]bet"} + alpha.mid(2)
            << "6 matches in 3 files" + unread;
        QTest::newRow("fixed string") << "g.mma" << QStringList() << "" << QStringList{alpha[5]} << "No matches" + unread;
        QTest::newRow("not a pattern") << "(" << QStringList{"Regular expression"} << "" << QStringList()
                                       << "Not a pattern to search for: ";
    }
    void findsWhatTheTogglesAsk()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, toggles);
        QFETCH(QString, change);
        QFETCH(QStringList, found);
        QFETCH(QString, tally);
        if (change == "before")
            on("a.txt", "actionDelete");
        QVERIFY(find(text, toggles));
        if (change == "after")
            on("a.txt", "actionDelete");
        QCOMPARE(rows(), found);
        QVERIFY2(status().startsWith(tally), qPrintable(status()));
        QCOMPARE(!m_window->findChild<QLabel *>("findScope")->isHidden(), !change.isEmpty());
    }

    // Enter in the pattern or the results, or F3, goes to the next result, round the end, and Shift+F3 back:
    // each selects its file in the tree and shows its text in the preview at the line, the match marked,
    // read around the line when it lies past the preview's first 64 KiB.
    void resultsShownInTurn_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("Enter in the pattern") << "pattern";
        QTest::newRow("Enter in the results") << "results";
        QTest::newRow("F3 in the tree") << "F3";
    }
    void resultsShownInTurn()
    {
        QFETCH(QString, key);
        QVERIFY(find("alpha"));
        auto *pane = m_window->findChild<DetailsPane *>();
        auto *text = pane->findChild<QPlainTextEdit *>();
        // "path|the line at the cursor|the marked matches", or the message shown without a text.
        const auto step = [&](int i, bool back) {
            QSignalSpy shown(pane, &DetailsPane::previewShown);
            QWidget *at = key == "pattern" ? static_cast<QWidget *>(pattern()) : key == "F3" ? m_tree : results();
            if (back || key == "F3")
                press(at, Qt::Key_F3, back ? Qt::ShiftModifier : Qt::NoModifier);
            else if (key == "results" && i == 0) // the first result clicked, Enter from there on
                QTest::mouseClick(results()->viewport(), Qt::LeftButton, {},
                                  results()->visualRect(results()->model()->index(0, 0)).center());
            else
                press(at, Qt::Key_Return);
            const QList<const zarnik::ArchiveNode *> chosen = m_tree->selectedNodes();
            if (!QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000) || chosen.size() != 1)
                return QString("<nothing shown>");
            QStringList marked;
            for (const QTextEdit::ExtraSelection &s : text->extraSelections().mid(1))
                marked << s.cursor.selectedText();
            const QString seen = text->isVisible() ? text->textCursor().block().text() + '|' + marked.join(',')
                                                   : pane->findChild<QLabel *>("messageLabel")->text();
            return QString::fromStdString(chosen[0]->m_Name) + '|' + seen;
        };
        const QStringList expected{"a.txt|alpha beta|alpha", "a.txt|Gamma alphabet|alpha", "a.txt|\tALPHA|ALPHA",
                                   "b.txt|the needle alpha|alpha", "c.bin|", "bad.txt|No preview: ", "a.txt|alpha beta|alpha",
                                   "bad.txt|No preview: "};
        for (int i = 0; i < expected.size(); ++i) {
            const QString seen = step(i, i == expected.size() - 1);
            QVERIFY2(seen.startsWith(expected[i]), qPrintable(QString("step %1: %2").arg(i).arg(seen)));
            // The text read around a line deep in the file says where it starts, and runs to the file's end.
            if (i == 3)
                QVERIFY2(text->toPlainText().startsWith("[... from line ") && text->toPlainText().endsWith("alpha\nend\n")
                             && text->toPlainText().size() <= 70000,
                         qPrintable(text->toPlainText().right(40).replace('\n', '|')));
        }
    }

    // A line matched at every byte keeps the places of its first matches only, and counts them all.
    void lineKeepsItsFirstMatchesAndCountsAll()
    {
        QVERIFY(m_window->openPack(writeUpk(path("many.upk"), {e("content\\x.txt", std::string(3000, 'x'))})));
        QVERIFY(find("x"));
        const FindResults *found = m_window->findChild<FindResults *>();
        QVERIFY(found->rowCount() == 1 && found->row(0).spot.matches.size() == FindThread::kKeptMatches);
        QVERIFY2(status().startsWith("3,000 matches in 1 file"), qPrintable(status()));
    }

    // Cancel stops a running search and says how far it got; the results go with their pack, and a save says so.
    void searchEndsWithCancelOrItsPack()
    {
        m_pauseAt = 1;
        m_atPause = [this] { QTest::mouseClick(m_window->findChild<QPushButton *>("findButton"), Qt::LeftButton); };
        QVERIFY(find("alpha"));
        QVERIFY2(status().startsWith("Cancelled: No matches; 0 of 4 files searched"), qPrintable(status()));
        QTest::keyClick(pattern(), Qt::Key_Return); // nothing found yet: the same pattern searched again
        QVERIFY(QTest::qWaitFor([&] { return idle(); }, 20000) && rows().size() == 6);
        on("c.bin", "actionDelete");
        run("actionSave");
        QVERIFY2(QTest::qWaitFor([&] { return status().startsWith("The pack was saved since the last search"); }, 20000),
                 qPrintable(status()));
        QVERIFY(rows().isEmpty() && m_unexpected == 0);
        QVERIFY(m_window->openPack(writeUpk(path("other.upk"), {e("content\\alpha.txt", "alpha")})));
        QVERIFY(rows().isEmpty() && status().isEmpty() && !action("actionFindNext")->isEnabled());
    }
};

QTEST_MAIN(TestExplorerFind)
#include "test_explorer_find.moc"
