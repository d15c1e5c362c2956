// Changing a pack in the explorer as a user does: the Edit commands, the
// pending tree, Save and Save As on the worker, the unsaved-changes question.
#include "ModalSteps.h"
#include "ProgressDlg.h"
#include "ZarnikArchive.h"


using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;

namespace {

// Each file of the pack at `path` as "path=bytes", through the library.
QStringList packListing(const QString &path)
{
    const CZarnikArchive::OpenResult opened = CZarnikArchive::Open(nativePath(path));
    if (!opened.archive || !opened.archive->GetOpenReport().empty())
        return {"<unsound>"};
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

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile f(path(name));
        QDir().mkpath(QFileInfo(f).absolutePath());
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? path(name) : QString();
    }

    QString writePack(const QString &name)
    {
        using zarnik_pack::Storage;
        return writeUpk(path(name), {e("content\\readme.txt", "hello", Storage::Stored),
                                     e("content\\gfx\\logo.bmp", std::string(3000, 'L'), Storage::Packed),
                                     e("content\\gfx\\icon.bmp", "icon", Storage::Stored),
                                     e("content\\sound\\a.wav", "wave", Storage::Stored)});
    }


    // Every item below the root as "name:mark" (b bold, i italic, s struck out), depth first.
    QString marks()
    {
        QStringList out;
        for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
            const QFont f = (*it)->font(0);
            out << (*it)->text(0) + ':' + (f.bold() ? "b" : "") + (f.italic() ? "i" : "")
                       + (f.strikeOut() ? "s" : "");
        }
        return out.mid(1).join(' ');
    }

    // The four kinds of change; the pack then holds `changed`.
    const QStringList changed{"content\\gfx\\logo.bmp=" + QString(3000, 'L'), "content\\gfx\\icon.bmp=ICON",
                              "content\\gfx\\new.txt=fresh", "content\\audio\\a.wav=wave"};
    void changeEach()
    {
        QVERIFY(select("gfx"));
        run("actionAddFiles", {typed(writeFile("new.txt", "fresh"))});
        QVERIFY(select("readme.txt"));
        run("actionDelete");
        QVERIFY(select("sound"));
        run("actionRename", {typed("audio")});
        QVERIFY(select("icon.bmp"));
        run("actionReplace", {typed(writeFile("icon2.bmp", "ICON"))});
    }

    bool eventFilter(QObject *o, QEvent *e) override
    {
        holdWorker(this, o, e);
        return false;
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

    // Each change is marked in the tree, the title and the status line, and Undo takes them back in turn.
    void pendingChangesShownAndUndone()
    {
        const QString title = m_window->windowTitle();
        const QString before = marks();
        const QString status = m_window->statusBar()->findChild<QLabel *>()->text();
        changeEach();
        QCOMPARE(marks(), QString("readme.txt:s gfx: logo.bmp: icon.bmp:b new.txt:b audio: a.wav:i"));
        QVERIFY(modified());
        QVERIFY(!m_window->findChild<QAction *>("actionExport")->isEnabled());
        // The deleted file counts no more; the new one does.
        m_tree->setCurrentItem(m_tree->topLevelItem(0));
        QCOMPARE(m_window->statusBar()->findChild<QLabel *>()->text().left(11), QString("4 files in "));
        // Undo, newest first: each change's marks go, and with the last the asterisk.
        for (const QString &after : {QString("readme.txt:s gfx: logo.bmp: icon.bmp: new.txt:b audio: a.wav:i"),
                                     QString("readme.txt:s gfx: logo.bmp: icon.bmp: new.txt:b sound: a.wav:"),
                                     QString("readme.txt: gfx: logo.bmp: icon.bmp: new.txt:b sound: a.wav:")}) {
            run("actionUndo");
            QCOMPARE(marks(), after);
            QVERIFY(modified());
        }
        run("actionUndo");
        QCOMPARE(marks(), before);
        QVERIFY(!modified() && m_window->windowTitle() == title);
        QCOMPARE(m_window->statusBar()->findChild<QLabel *>()->text(), status);
    }

    // Save writes what the tree showed, then shows the saved pack; Save As leaves the pack as it was. A save that
    // fails or is cancelled leaves the pack byte for byte, says why, and keeps the changes.
    void save_data()
    {
        QTest::addColumn<QString>("saveAs");
        QTest::addColumn<QString>("refusal"); // what the failed save says; "" when it saves
        QTest::newRow("save") << QString() << QString();
        QTest::newRow("save as, a bare name taking the filter's extension") << QString("out") << QString();
        QTest::newRow("a new file changed since") << QString() << QString("changed since it was added");
        QTest::newRow("cancel") << QString() << QString("stopped");
    }
    void save()
    {
        QFETCH(QString, saveAs);
        QFETCH(QString, refusal);
        const QByteArray original = readAll(path("pack.upk"));
        changeEach();
        if (refusal.startsWith("changed"))
            writeFile("new.txt", "grown since");
        if (refusal == "stopped") { // the worker waits at its first file until Cancel is pressed
            m_pauseAt = 1;
            m_atPause = [this] { QTest::mouseClick(m_window->findChild<QPushButton *>("cancelButton"), Qt::LeftButton); };
        }
        if (!refusal.isEmpty())
            m_steps << textStep(refusal == "stopped" ? QMessageBox::Information : QMessageBox::Critical, {refusal});
        // Saved with Ctrl+S, a small pack opens again before the Ctrl key is up.
        QTest::keyPress(m_tree, Qt::Key_Control, Qt::ControlModifier);
        saveAs.isEmpty() ? run("actionSave") : run("actionSaveAs", {typed(path(saveAs))});
        const bool ended = saveEnded();
        QTest::keyRelease(m_tree, Qt::Key_Control);
        QVERIFY(ended && m_steps.isEmpty());
        const QString saved = path(saveAs.isEmpty() ? "pack" : saveAs) + ".upk";
        if (refusal.isEmpty()) {
            QCOMPARE(packListing(saved), changed);
            QCOMPARE(m_window->archive()->GetDataFilePath(0), nativePath(saved));
            QVERIFY(!modified() && m_window->statusBar()->currentMessage() == "Saved " + saved);
            QVERIFY(m_window->statusBar()->findChild<QToolButton *>()->isHidden()); // nothing was exported
            // The saved pack is shown as the changed one was: the entry last changed chosen, its folder open.
            QTreeWidgetItem *current = m_tree->currentItem();
            QVERIFY(current && current->text(0) == "icon.bmp" && current->parent()->isExpanded());
            QCOMPARE(m_tree->selectedItems(), QList<QTreeWidgetItem *>{current});
        }
        QCOMPARE(marks(), refusal.isEmpty() ? QString("gfx: logo.bmp: icon.bmp: new.txt: audio: a.wav:")
                                            : QString("readme.txt:s gfx: logo.bmp: icon.bmp:b new.txt:b audio: a.wav:i"));
        QVERIFY(modified() != refusal.isEmpty());
        QVERIFY((saveAs.isEmpty() && refusal.isEmpty()) || readAll(path("pack.upk")) == original);
        // Nothing else is left beside them.
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).join(' '),
                 QString(saveAs.isEmpty() ? "icon2.bmp new.txt pack.upk" : "icon2.bmp new.txt out.upk pack.upk"));
    }

    // Leaving a pack with changes asks: Cancel stays, Discard leaves it as it was, Save writes it first.
    void unsavedChangesQuestion_data()
    {
        QTest::addColumn<bool>("close");
        QTest::addColumn<int>("answer");
        for (bool close : {true, false})
            for (auto [answer, name] : {std::pair(QMessageBox::Cancel, "cancel"), {QMessageBox::Discard, "discard"},
                                        {QMessageBox::Save, "save"}})
                QTest::addRow("%s, %s", close ? "close" : "open", name) << close << int(answer);
    }
    void unsavedChangesQuestion()
    {
        QFETCH(bool, close);
        QFETCH(int, answer);
        const QStringList original = packListing(path("pack.upk"));
        changeEach();
        m_steps << textStep(QMessageBox::Question, {"changes that are not saved"}, QMessageBox::StandardButton(answer));
        const bool left = close ? m_window->close() : m_window->openPack(writePack("other.upk"));
        QVERIFY(m_steps.isEmpty());
        QCOMPARE(left, answer != QMessageBox::Cancel);
        QCOMPARE(packListing(path("pack.upk")), answer == QMessageBox::Save ? changed : original);
        QCOMPARE(m_window->isVisible(), !(close && left));
        QCOMPARE(m_window->archive()->GetDataFilePath(0), nativePath(path(!close && left ? "other.upk" : "pack.upk")));
    }

    // Files and folders dropped on a folder of the tree are added there, as a copy; elsewhere, nothing.
    void dropAddsToFolder()
    {
        const QString folder = QFileInfo(writeFile("drop/sub/y.txt", "y")).absoluteDir().absolutePath();
        writeFile("drop/x.txt", "x");
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path("drop")), QUrl::fromLocalFile(writeFile("z.txt", "z"))});
        const QString before = marks();
        const auto dropOn = [&](const QString &name, Qt::DropActions offered) {
            QTreeWidgetItem *item = m_tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive).value(0);
            const QPoint at = m_tree->visualItemRect(item).center();
            QDragEnterEvent enter(at, offered, &mime, Qt::LeftButton, Qt::NoModifier);
            QDragMoveEvent move(at, offered, &mime, Qt::LeftButton, Qt::NoModifier);
            QDropEvent drop(at, offered, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(m_tree->viewport(), &enter);
            QCoreApplication::sendEvent(m_tree->viewport(), &move);
            if (move.isAccepted())
                QCoreApplication::sendEvent(m_tree->viewport(), &drop);
            QCoreApplication::processEvents();
            return move.isAccepted() && move.dropAction() == Qt::CopyAction;
        };
        m_tree->topLevelItem(0)->setExpanded(true);
        QVERIFY(!dropOn("readme.txt", Qt::CopyAction | Qt::MoveAction));
        QVERIFY(!dropOn("gfx", Qt::MoveAction));
        QCOMPARE(marks(), before);
        QVERIFY(dropOn("gfx", Qt::CopyAction | Qt::MoveAction));
        QCOMPARE(marks(), QString("readme.txt: gfx: logo.bmp: icon.bmp: drop: sub: y.txt:b x.txt:b z.txt:b sound: a.wav:"));
        QVERIFY(QFileInfo::exists(folder + "/y.txt") && QFileInfo::exists(path("z.txt")));
        run("actionUndo"); // one drop, one change
        QCOMPARE(marks(), before);
    }

    // What a pack cannot take is refused with the reason, and nothing changes.
    void refusedChanges()
    {
        const QString before = marks();
        QVERIFY(select("gfx"));
        run("actionAddFiles", {typed(writeFile(QStringLiteral("\u03A9.txt"), "omega")), textStep(QMessageBox::Warning, {"Latin-1"})});
        QVERIFY(select("readme.txt"));
        run("actionRename", {typed("gfx/logo.bmp/inner"), textStep(QMessageBox::Warning, {"is a file, not a folder"})});
        QCOMPARE(marks(), before);
        QVERIFY(!modified());
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
        QVERIFY(select("readme.txt")); // into content, where gfx/logo.bmp stands
        run("actionAddFolder", {typed(path("disk/gfx")),
                                textStep(QMessageBox::Question, {"gfx/logo.bmp is already in the pack", "Replace it"},
                                         QMessageBox::StandardButton(answer))});
        QCOMPARE(marks().split(' ').filter(QRegularExpression("^(logo\\.bmp|extra\\.txt):")).join(' '), after);
        QCOMPARE(modified(), answer != QMessageBox::Cancel);
        // A file whose bytes are not in the pack yet says where they will come from.
        QVERIFY(select("extra.txt") || answer == QMessageBox::Cancel);
        const auto label = [&](const char *name) { return m_window->findChild<QLabel *>(name)->text(); };
        QCOMPARE(label("messageLabel").startsWith("Added:"), answer != QMessageBox::Cancel);
        QCOMPARE(label("titleLabel").contains("extra"), answer != QMessageBox::Cancel);
    }

    // A .vfs set opened through a data file is saved where it lies, never as a copy, and opens again
    // through its index, the data file now under a new name.
    void setSavedWhereItLies()
    {
        QVERIFY(m_window->openPack(writeVfs(path("set"), {e("content\\a.txt", "a", zarnik_pack::Storage::Stored)})));
        QAction *saveAs = m_window->findChild<QAction *>("actionSaveAs");
        QVERIFY(!saveAs->isEnabled() && saveAs->toolTip().contains("copy its folder") && !saveAs->shortcut().isEmpty());
        QVERIFY(select("content"));
        run("actionAddFiles", {typed(writeFile("b.txt", "bee"))});
        run("actionSave");
        QVERIFY(saveEnded());
        QCOMPARE(packListing(path("set/content.vfi")), QStringList({"content\\a.txt=a", "content\\b.txt=bee"}));
        QCOMPARE(m_window->archive()->GetDataFilePath(0), nativePath(path("set/data0~1.vfs")));
        QVERIFY(!modified() && m_window->statusBar()->currentMessage() == "Saved " + path("set/content.vfi"));
        QCOMPARE(QDir(path("set")).entryList(QDir::Files).join(' '), QString("content.vfi data0~1.vfs"));
    }
};

QTEST_MAIN(TestExplorerEdit)
#include "test_explorer_edit.moc"
