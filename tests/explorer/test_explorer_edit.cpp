// Changing a pack in the explorer as a user does: the Edit commands, the
// pending tree, Save and Save As on the worker, the unsaved-changes question.
#include "ModalSteps.h"
#include "PackFormat.h"
#include "ProgressDlg.h"
#include "ShownText.h"
#include "ZarnikArchive.h"

using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;

namespace {

// Each file of the pack at `path` as "path=bytes", through the library.
QStringList packListing(const QString &path)
{
    const CZarnikArchive::OpenResult opened = CZarnikArchive::Open(nativePath(path));
    if (!opened.archive)
        return {"<no pack>"};
    QStringList out;
    for (const ArchiveNode *node : opened.archive->GetEntries()) {
        std::string bytes;
        opened.archive->StreamFileData(*node, [&](const unsigned char *d, size_t n) {
            bytes.append(reinterpret_cast<const char *>(d), n);
            return true;
        }, {});
        out << QString::fromLatin1(node->m_Path.c_str()) + '=' + QString::fromStdString(bytes);
    }
    return out;
}

} // namespace

class TestExplorerEdit : public QObject, ExplorerHarness
{
    Q_OBJECT


    bool modified() const { return m_window->windowTitle().contains("* - "); }

    QString writePack(const QString &name)
    {
        using zarnik_pack::Storage;
        return writeUpk(path(name), {e("content\\readme.txt", "hello", Storage::Stored),
                                     e("content\\gfx\\logo.bmp", std::string(3000, 'L'), Storage::Packed),
                                     e("content\\gfx\\icon.bmp", "icon", Storage::Stored), e("content\\sound\\a.wav", "wave", Storage::Stored)});
    }


    // A row's marks: b bold, i italic, s struck out.
    static QString marksOf(const QModelIndex &at)
    {
        const QFont f = at.data(Qt::FontRole).value<QFont>();
        return QString(f.bold() ? "b" : "") + (f.italic() ? "i" : "") + (f.strikeOut() ? "s" : "");
    }
    // Every row below the root as "name:marks", depth first.
    QString marks()
    {
        QStringList out;
        for (const QModelIndex &at : rows())
            out << at.data().toString() + ':' + marksOf(at);
        return out.mid(1).join(' ');
    }

    // The four kinds of change, as act() makes them; the pack then holds `changed`.
    const QStringList each{"addFile gfx", "delete readme.txt", "rename sound audio", "replace icon.bmp"};
    const QStringList changed{"content\\gfx\\logo.bmp=" + QString(3000, 'L'), "content\\gfx\\icon.bmp=replaced",
                              "content\\gfx\\new.txt=fresh", "content\\audio\\a.wav=wave"};
    void changeEach()
    {
        for (const QString &change : each)
            act(change);
    }

    // Waits for the running save to end.
    bool saveEnded()
    {
        return QTest::qWaitFor([&] { return !m_window->findChild<SaveThread *>()
                                            && !m_window->findChild<ProgressDlg *>(); }, 20000);
    }

private slots:
    void initTestCase() { startHarness(this); }

    void init()
    {
        openWindow();
        QVERIFY(m_window->openPack(writePack("pack.upk")));
    }

    void cleanup()
    {
        m_window->setAttribute(Qt::WA_DeleteOnClose, false);
        // Whatever is pending goes with the window, unasked.
        closeWindow();
    }

    // A change as a user makes it: "verb row [argument]", each verb a command on the row named; "... !why"
    // expects it refused, saying why.
    void act(const QString &change)
    {
        const QStringList words = change.section(" !", 0, 0).split(' ');
        const QString &verb = words[0], why = change.section(" !", 1);
        const QList<Step> refused = why.isEmpty() ? QList<Step>() : QList<Step>{textStep(QMessageBox::Warning, {why})};
        if (verb == "filter")
            return QTest::keyClicks(filter(), words.value(1));
        if (verb == "undo")
            return run("actionUndo");
        QVERIFY2(select(words[1]), qPrintable(change));
        if (verb == "addFile")
            run("actionAddFiles", QList<Step>{typed(writeFile(words.value(2, "new.txt"), "fresh"))} + refused);
        else if (verb == "delete")
            run("actionDelete");
        else if (verb == "rename")
            run("actionRename", QList<Step>{typed(words[2])} + refused);
        else if (verb == "replace")
            run("actionReplace", {typed(writeFile("disk/" + words[1], "replaced"))});
        else if (verb == "addFolder") { // a.txt may go in, but a folder named as a file of the pack may not
            writeFile("disk/gfx/a.txt", "a");
            writeFile("disk/gfx/logo.bmp/inner.txt", "b");
            run("actionAddFolder", QList<Step>{typed(path("disk/gfx"))} + refused);
        }
    }

    // Change sequences: the rows' marks after them, and the row chosen.
    void marksFollowTheRecord_data()
    {
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QString>("after");   // the rows shown, as marks() gives them
        QTest::addColumn<QString>("current"); // the row chosen
        const QString all = "readme.txt: gfx: logo.bmp: icon.bmp: sound: a.wav:";
        QTest::newRow("each kind") << each << "readme.txt:s gfx: logo.bmp: icon.bmp:b new.txt:b audio:i a.wav:i" << "icon.bmp";
        // The last undo takes away an added file: the folder it was in is chosen.
        QTest::newRow("each undone") << each + QStringList{"undo", "undo", "undo", "undo"} << all << "gfx";
        QTest::newRow("renamed, then replaced") << QStringList{"rename icon.bmp i2.bmp", "replace i2.bmp"}
                                                << "readme.txt: gfx: logo.bmp: i2.bmp:bi sound: a.wav:" << "i2.bmp";
        QTest::newRow("the last entry deleted") << QStringList{"delete readme.txt", "delete gfx", "delete sound"}
                                                << QString(all).replace(":", ":s") << "sound";
        QTest::newRow("refused half-way") << QStringList{"addFolder readme.txt !is a file, not a folder"} << all << "readme.txt";
        QTest::newRow("refused") << QStringList{QStringLiteral("addFile gfx \u03A9.txt !Latin-1")} << all << "gfx";
        // Renamed back is no change, though Undo still has a step to take.
        QTest::newRow("renamed back") << QStringList{"rename readme.txt r.txt", "rename r.txt readme.txt"} << all << "readme.txt";
        QTest::newRow("renamed under a filter") << QStringList{"filter a.wav", "rename a.wav z.bin"} << "sound: z.bin:i" << "z.bin";
    }
    void marksFollowTheRecord()
    {
        QFETCH(QStringList, changes);
        QFETCH(QString, after);
        QFETCH(QString, current);
        for (const QString &change : changes)
            act(change);
        QCOMPARE(marks(), after);
        QCOMPARE(m_tree->currentIndex().data().toString(), current);
        QCOMPARE(selectedRows(), QModelIndexList{m_tree->currentIndex()});
        // The title and the rows agree on whether anything changed.
        QCOMPARE(modified(), after.contains(QRegularExpression(":[bis]")));
        // What the row's marks say, its tooltip and the details pane say in words.
        const QString tip = m_tree->currentIndex().data(Qt::ToolTipRole).toString();
        const QString details = label("detailsLabel") + label("messageLabel");
        for (const auto &[mark, word] : {std::pair("i", "Renamed from"), {"s", "Deleted"}, {"b", "Replaced"}})
            QCOMPARE(tip.contains(word) && details.contains(word),
                     after.contains(QRegularExpression(QStringLiteral("\\b%1:[bis]*%2").arg(current, mark))));
    }

    // Save writes what the tree showed, then shows the saved pack; Save As leaves the pack as it was. A save that
    // is cancelled leaves the pack byte for byte, says so, and keeps the changes.
    void save_data()
    {
        QTest::addColumn<QString>("saveAs");
        QTest::addColumn<QString>("refusal"); // what the cancelled save says; "" when it saves
        QTest::newRow("save") << QString() << QString();
        QTest::newRow("save as, a bare name taking the filter's extension") << QString("out") << QString();
        QTest::newRow("cancel") << QString() << QString("stopped");
    }
    void save()
    {
        QFETCH(QString, saveAs);
        QFETCH(QString, refusal);
        const QByteArray original = readAll(path("pack.upk"));
        changeEach();
        m_pauseAt = refusal == "stopped" ? 1 : 0; // the worker waits at its first file until Cancel is pressed
        m_atPause = [this] { QTest::mouseClick(m_window->findChild<QPushButton *>("cancelButton"), Qt::LeftButton); };
        if (!refusal.isEmpty())
            m_steps << textStep(QMessageBox::Information, {refusal});
        // Saved with Ctrl+S, a small pack opens again before the Ctrl key is up.
        QTest::keyPress(m_tree, Qt::Key_Control, Qt::ControlModifier);
        saveAs.isEmpty() ? run("actionSave") : run("actionSaveAs", {typed(path(saveAs))});
        QStringList bar; // each move of the progress bar, with the line above it
        if (auto *dlg = m_window->findChild<ProgressDlg *>())
            connect(dlg->findChild<QProgressBar *>(), &QProgressBar::valueChanged, dlg, [&bar, dlg](int value) {
                bar << dlg->findChild<QLabel *>("countLabel")->text() + ' ' + QString::number(value);
            });
        const bool ended = saveEnded();
        QTest::keyRelease(m_tree, Qt::Key_Control);
        QVERIFY(ended && m_steps.isEmpty());
        const QString saved = path(saveAs.isEmpty() ? "pack" : saveAs) + ".upk";
        if (refusal.isEmpty()) {
            QCOMPARE(packListing(saved), changed);
            // Read back, the pack moves the bar from 0 as its writing did, each step saying it checks.
            const qsizetype at = bar.indexOf("Written; checking... 0");
            QStringList wrote, checked;
            for (qsizetype i = 0; i < bar.size(); ++i)
                (i < at ? wrote : checked) << (i <= at || bar[i].startsWith("Written; checking file") ? bar[i].section(' ', -1) : "?");
            QVERIFY2(at > 0 && wrote.last() == "100" && checked.mid(1) == wrote.mid(0, at - 1), qPrintable(bar.join(", ")));
            QCOMPARE(shownPack(), nativePath(saved));
            QCOMPARE(message(), "Saved " + saved);
            QVERIFY(m_window->statusBar()->findChild<QToolButton *>()->isHidden()); // nothing was exported
            // The saved pack is shown as the changed one was: the entry last changed chosen, its folder open.
            const QModelIndex current = m_tree->currentIndex();
            QVERIFY(current.data().toString() == "icon.bmp" && m_tree->isExpanded(current.parent()));
            QCOMPARE(selectedRows(), QModelIndexList{current});
        }
        QCOMPARE(marks(), refusal.isEmpty() ? QString("gfx: logo.bmp: icon.bmp: new.txt: audio: a.wav:")
                                            : QString("readme.txt:s gfx: logo.bmp: icon.bmp:b new.txt:b audio:i a.wav:i"));
        QVERIFY(modified() != refusal.isEmpty());
        QVERIFY((saveAs.isEmpty() && refusal.isEmpty()) || readAll(path("pack.upk")) == original);
        // Nothing else is left beside them.
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).join(' '), saveAs.isEmpty() ? "new.txt pack.upk" : "new.txt out.upk pack.upk");
    }

    // A pack another program changed since it was opened is never saved over. Put in its place, the changes go
    // to a new pack by Save As, copied from the file opened; written to in place, they can only be dropped.
    void packChangedElsewhereIsNotSavedOver_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("says");
        QTest::addColumn<int>("answer");
        QTest::newRow("replaced: Save As offered") << false << "actionSave" << "Save As" << int(QMessageBox::Save);
        QTest::newRow("replaced: Save As") << false << "actionSaveAs" << QString() << 0;
        QTest::newRow("rewritten: dropped") << true << "actionSave" << "cannot be applied" << int(QMessageBox::Discard);
        QTest::newRow("rewritten: kept") << true << "actionSaveAs" << "cannot be applied" << int(QMessageBox::Cancel);
    }
    void packChangedElsewhereIsNotSavedOver()
    {
        QFETCH(bool, inPlace);
        QFETCH(QString, command);
        QFETCH(QString, says);
        QFETCH(int, answer);
        changeEach();
        QFile pack(path("pack.upk"));
        if (inPlace) { // the same size, a later time
            const QDateTime written = QFileInfo(pack).lastModified();
            QVERIFY(pack.open(QIODevice::ReadWrite) && pack.write("?") == 1);
            pack.setFileTime(written.addSecs(1), QFileDevice::FileModificationTime);
            pack.close();
        } else {
            QVERIFY(QFile::remove(pack.fileName()) && QFile::rename(writePack("theirs.upk"), pack.fileName()));
        }
        const QByteArray theirs = readAll(pack.fileName());
        QList<Step> steps;
        if (!says.isEmpty())
            steps << textStep(QMessageBox::Warning, {"pack.upk was changed by another program", says},
                              QMessageBox::StandardButton(answer));
        if (answer == QMessageBox::Save || says.isEmpty())
            steps << typed(path("out"));
        run(qPrintable(command), steps);
        QVERIFY(saveEnded() && m_steps.isEmpty());
        QCOMPARE(readAll(pack.fileName()), theirs);
        QCOMPARE(packListing(path("out.upk")), inPlace ? QStringList{"<no pack>"} : changed);
        QCOMPARE(modified(), answer == QMessageBox::Cancel);
    }

    // File > New: an empty pack to add to; Save asks where, and the pack saved there is shown.
    void newPackSavedWhereAsked()
    {
        QAction *newPack = action("actionNew");
        QVERIFY(newPack->isEnabled() && m_window->findChild<QToolBar *>()->actions().contains(newPack));
        run("actionNew");
        // The root is not struck out: nothing there to lose.
        QVERIFY(marks().isEmpty() && marksOf(row("content")).isEmpty() && !action("actionSaveAs")->isEnabled());
        on("content", "actionAddFiles", {typed(writeFile("new.txt", "fresh"))});
        QCOMPARE(m_window->windowTitle(), "New pack* - Zarnik Explorer");
        run("actionSave", {typed(path("made"))});
        QVERIFY(saveEnded() && m_steps.isEmpty());
        QCOMPARE(packListing(path("made.upk")), QStringList{"content\\new.txt=fresh"});
        QCOMPARE(shownPack(), nativePath(path("made.upk")));
        QVERIFY(!modified());
    }

    // Leaving a pack with changes asks: Cancel stays, Discard leaves it as it was, Save writes it first.
    void unsavedChangesQuestion_data()
    {
        QTest::addColumn<bool>("close");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("saveFails"); // a file to add grew since: the pack and the changes stay
        for (bool close : {true, false})
            for (auto [answer, name] : {std::pair(QMessageBox::Cancel, "cancel"), {QMessageBox::Discard, "discard"},
                                        {QMessageBox::Save, "save"}, {QMessageBox::Save, "a failed save"}})
                QTest::addRow("%s, %s", close ? "close" : "open", name) << close << int(answer) << (name[0] == 'a');
    }
    void unsavedChangesQuestion()
    {
        QFETCH(bool, close);
        QFETCH(int, answer);
        QFETCH(bool, saveFails);
        const QStringList original = packListing(path("pack.upk"));
        changeEach();
        m_steps << textStep(QMessageBox::Question, {"changes that are not saved"}, QMessageBox::StandardButton(answer));
        if (saveFails) {
            writeFile("new.txt", "grown since");
            m_steps << textStep(QMessageBox::Critical, {"changed since it was added"});
        }
        // Save writes first and leaves once the save ended well.
        const bool leftAtOnce = close ? m_window->close() : m_window->openPack(writePack("other.upk"));
        QVERIFY(saveEnded() && m_steps.isEmpty());
        QCOMPARE(leftAtOnce, answer == QMessageBox::Discard);
        const bool left = answer != QMessageBox::Cancel && !saveFails;
        QCOMPARE(packListing(path("pack.upk")), answer == QMessageBox::Save && !saveFails ? changed : original);
        QCOMPARE(m_window->isVisible(), !(close && left));
        QCOMPARE(shownPack(), nativePath(path(!close && left ? "other.upk" : "pack.upk")));
        QVERIFY(left || modified()); // the changes stay while the pack does
    }

    // `urls` dropped on the row `name`, offering `offered`; whether the drop was taken as a copy.
    bool dropOn(const QString &name, const QList<QUrl> &urls, Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction)
    {
        QMimeData mime;
        mime.setUrls(urls);
        const QPoint at = m_tree->visualRect(row(name)).center();
        QDragEnterEvent enter(at, offered, &mime, Qt::LeftButton, Qt::NoModifier);
        QDragMoveEvent move(at, offered, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(at, offered, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_tree->viewport(), &enter);
        QCoreApplication::sendEvent(m_tree->viewport(), &move);
        if (move.isAccepted())
            QCoreApplication::sendEvent(m_tree->viewport(), &drop);
        QCoreApplication::processEvents();
        return move.isAccepted() && move.dropAction() == Qt::CopyAction;
    }

    // Files and folders dropped on a folder of the tree are added there, as a copy; elsewhere, nothing.
    void dropAddsToFolder()
    {
        const QString folder = QFileInfo(writeFile("drop/sub/y.txt", "y")).absoluteDir().absolutePath();
        writeFile("drop/x.txt", "x");
        const QList<QUrl> urls{QUrl::fromLocalFile(path("drop")), QUrl::fromLocalFile(writeFile("z.txt", "z"))};
        const QString before = marks();
        m_tree->expandAll();
        QVERIFY(!dropOn("readme.txt", urls));
        QVERIFY(!dropOn("gfx", urls, Qt::MoveAction));
        QCOMPARE(marks(), before);
        QVERIFY(dropOn("gfx", urls));
        QCOMPARE(marks(), QString("readme.txt: gfx: logo.bmp: icon.bmp: drop: sub: y.txt:b x.txt:b z.txt:b sound: a.wav:"));
        QVERIFY(QFileInfo::exists(folder + "/y.txt") && QFileInfo::exists(path("z.txt")));
        run("actionUndo"); // one drop, one change
        QCOMPARE(marks(), before);
    }

    // Many rows coming into an open folder at once, or going, keep the rows chosen chosen where they move.
    void manyRowsComeAndGo()
    {
        QList<QUrl> urls;
        for (int i = 0; i < 20; ++i)
            urls << QUrl::fromLocalFile(writeFile(QString("many/a%1.txt").arg(i, 2, 10, QLatin1Char('0')), "a"));
        m_tree->sortByColumn(ArchiveTree::NameColumn, Qt::AscendingOrder);
        m_tree->expandAll();
        QVERIFY(dropOn("gfx", urls));
        const QString after = marks();
        QCOMPARE(after.count(QRegularExpression(" a\\d\\d.txt:b")), 20);
        QVERIFY2(after.startsWith("gfx: a00.txt:b") && after.contains("a19.txt:b icon.bmp: logo.bmp: "), qPrintable(after));
        m_tree->selectionModel()->setCurrentIndex(row("icon.bmp"), QItemSelectionModel::NoUpdate);
        m_tree->selectionModel()->select(QItemSelection(row("a00.txt"), row("a19.txt")),
                                         QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        run("actionDelete");
        QCOMPARE(marks(), "gfx: icon.bmp: logo.bmp: sound: a.wav: readme.txt:");
        QCOMPARE(m_tree->currentIndex(), row("icon.bmp"));
        run("actionUndo");
        QCOMPARE(marks(), after);
    }

    // The status line sums the selection as Shift and the arrows grow and shrink it, and as a change alters it.
    void selectionSummedAsItMoves()
    {
        m_tree->expandAll();
        QVERIFY(select("icon.bmp"));
        QStringList seen;
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Up}) {
            QTest::keyClick(m_tree, key, Qt::ShiftModifier);
            seen << sums();
        }
        QCOMPARE(seen, QStringList({"2 items selected: 2 files, 8 bytes", "1 item selected: 1 file, 4 bytes",
                                    "2 items selected: 2 files, " + sizeText(3004)}));
        on("icon.bmp", "actionReplace", {typed(writeFile("icon2.bmp", "ICON, now longer"))});
        QCOMPARE(sums(), "1 item selected: 1 file, 16 bytes");
    }

    // Adding what the pack already holds asks: replace those files, skip them and add the others, or
    // change nothing.
    void addingFilesThePackHoldsAsks_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("after");
        QTest::newRow("replace") << int(QMessageBox::Yes) << "logo.bmp:b extra.txt:b";
        QTest::newRow("skip") << int(QMessageBox::No) << "logo.bmp: extra.txt:b";
        QTest::newRow("cancel") << int(QMessageBox::Cancel) << "logo.bmp:";
    }
    void addingFilesThePackHoldsAsks()
    {
        QFETCH(int, answer);
        QFETCH(QString, after);
        writeFile("disk/gfx/logo.bmp", "again");
        writeFile("disk/gfx/extra.txt", "more");
        const quint64 logoStored = ArchiveTree::nodeOf(row("logo.bmp"))->m_PackedSize;
        QVERIFY(select("readme.txt")); // into content, where gfx/logo.bmp stands
        run("actionAddFolder", {typed(path("disk/gfx")),
                                textStep(QMessageBox::Question, {"gfx/logo.bmp is already in the pack", "Replace it"},
                                         QMessageBox::StandardButton(answer))});
        QCOMPARE(marks().split(' ').filter(QRegularExpression("^(logo\\.bmp|extra\\.txt):")).join(' '), after);
        QCOMPARE(modified(), answer != QMessageBox::Cancel);
        // A folder's Stored total counts what is kept: a new file's stored size is known once saved.
        const QString kept = sizeText((answer == QMessageBox::Yes ? 0 : logoStored) + 4); // and icon.bmp's
        QCOMPARE(row("gfx").siblingAtColumn(ArchiveTree::StoredColumn).data().toString(),
                 answer == QMessageBox::Cancel ? kept : kept + " + new");
        QCOMPARE(row("content").siblingAtColumn(ArchiveTree::StoredColumn).data().toString().endsWith(" + new"),
                 answer != QMessageBox::Cancel); // and so up to the root
        // A file whose bytes are not in the pack yet says where they will come from.
        QVERIFY(select("extra.txt") || answer == QMessageBox::Cancel);
        QCOMPARE(label("messageLabel").startsWith("Added:"), answer != QMessageBox::Cancel);
    }

    // A .vfs set opened through a data file is saved where it lies, never as a copy, and opens again
    // through its index, the data file now under a new name. An index naming a missing data file that held no
    // entry loses nothing: the set is changed as any other.
    void setSavedWhereItLies_data()
    {
        QTest::addColumn<bool>("emptyMissing");
        QTest::newRow("whole") << false;
        QTest::newRow("naming a missing data file that held nothing") << true;
    }
    void setSavedWhereItLies()
    {
        QFETCH(bool, emptyMissing);
        testpack::VfsOptions options;
        if (emptyMissing)
            options.after = {{0, zarnik::packformat::IndexChunkData("data9.vfs", {})}};
        // Through a data file only that one is opened: the index, the whole set.
        const QString data = writeVfs(path("set"), {e("content\\a.txt", "a", zarnik_pack::Storage::Stored)}, options);
        QVERIFY(m_window->openPack(emptyMissing ? path("set/content.vfi") : data));
        QCOMPARE(message(), emptyMissing ? "data9.vfs: the index names a data file that is missing; its chunk holds no entry, so "
                                              "nothing is lost" : "");
        QAction *saveAs = action("actionSaveAs");
        QVERIFY(!saveAs->isEnabled() && saveAs->toolTip().contains("copy its folder") && !saveAs->shortcut().isEmpty());
        on("content", "actionAddFiles", {typed(writeFile("b.txt", "bee"))});
        run("actionSave");
        QVERIFY(saveEnded());
        QCOMPARE(shownPack(), nativePath(path("set/data0~1.vfs")));
        QVERIFY(!modified() && message() == "Saved " + path("set/content.vfi"));
    }
};

QTEST_MAIN(TestExplorerEdit)
#include "test_explorer_edit.moc"
