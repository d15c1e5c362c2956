// The explorer as a user meets it: its real windows, and queued steps that answer their modal dialogs.
#include "CommandLine.h"
#include "Compressor.h"
#include "DetailsPane.h"
#include "PictureView.h"
#include "ModalSteps.h"
#include "Preview.h"
#include "ProgressDlg.h"
#include "ShownText.h"
#include "ZarnikArchive.h"

#include <algorithm>

using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;
using zarnik::ExtractOutcome;
using testpack::Entry;
using zarnik_pack::Storage;

namespace {

// Nested folders, packed and stored files, a Latin-1 name, stored size 0 (a folder) and an empty packed file.
std::vector<Entry> sampleEntries()
{
    std::string logo;
    for (int i = 0; i < 400; ++i)
        logo += "line " + std::to_string(i % 17) + " of the logo\n";
    return {e("content\\readme.txt", "hello", Storage::Stored), e("content\\gfx\\logo.bmp", logo, Storage::Packed),
            e("content\\gfx\\ui\\button.bmp", "button", Storage::Stored), e("content\\caf\xE9.txt", "latin-1 name"),
            e("content\\gfx\\icon.bmp", logo + "x", Storage::Packed), e("content\\empty.dat", "", Storage::Stored),
            e("content\\void.dat", ""), e("content\\sound\\a.wav", "wave")};
}

const int kLargeFiles = 32;

// 128 MiB to write from one 4 MiB stream every entry points at: cheap to make, costly to export.
std::vector<Entry> largeEntries()
{
    std::string text;
    while (text.size() < (4u << 20))
        text += "line " + std::to_string(text.size() % 997) + " of a large file\n";
    const auto packed = zarnik_pack::Compress(reinterpret_cast<const unsigned char *>(text.data()), text.size());
    std::vector<Entry> entries(kLargeFiles, e("", ""));
    for (int i = 0; i < kLargeFiles; ++i)
        entries[i] = {"content\\big\\part" + std::to_string(i) + ".txt", i == 0 ? packed : zarnik_pack::Bytes(),
                      Storage::Stored, Entry().nameKey, i == 0 ? std::nullopt : std::optional<uint32_t>(8),
                      uint32_t(text.size()), uint32_t(packed.size()), {}, {}};
    return entries;
}

// The rows walked beside the nodes, depth first: each name after a '-' for each level above it, then
// "/" for the folder icon, "?" for neither the folder's nor the document's, "!" where the row's node
// (what Export reads) or row count is not its node's.
QString describe(const QModelIndex &row, const ArchiveNode *node, int depth = 0)
{
    const auto argb = [](const QImage &i) { return i.convertToFormat(QImage::Format_ARGB32); };
    const QImage icon = argb(row.data(Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage());
    const QAbstractItemModel *model = row.model();
    const bool fits = ArchiveTree::nodeOf(row) == node && size_t(model->rowCount(row)) == node->m_Children.size();
    QString out = QString(depth, '-') + row.data().toString() + (fits ? "" : "!")
                  + (icon == argb(QImage(":/icons/folder.png")) ? "/" : icon == argb(QImage(":/icons/document.png")) ? "" : "?");
    for (int i = 0; fits && i < model->rowCount(row); ++i)
        out += ' ' + describe(model->index(i, 0, row), node->m_Children[size_t(i)], depth + 1);
    return out;
}

} // namespace

class TestExplorer : public QObject, ExplorerHarness
{
    Q_OBJECT

    int m_drags = 0; // drags begun

    QString view() { return describe(m_tree->model()->index(0, 0), m_window->archive()->GetRoot()); }
    void open(const QString &file) { run("action_Open", {typed(file)}); }

    bool eventFilter(QObject *o, QEvent *e) override
    {
        // Every drag goes once it ended (at once when no button is held), whether or not it was seen.
        if (e->type() == QEvent::DeferredDelete && o->inherits("QDrag"))
            ++m_drags;
        return false;
    }

public slots:
    void urlOpened(const QUrl &url) { m_opened << url.toLocalFile(); }

private:
    QStringList m_opened; // files and folders handed to the desktop


    // Runs Export, answers its dialogs, waits for the end; gives each bar change as "path percentage".
    QStringList exportTo(const QString &answer, QString *seen = nullptr, QList<Step> after = {})
    {
        after.prepend(typed(answer, seen));
        run("actionExport", after);
        // Nothing processed since the start: the dialog stands fresh at 0. At the end both are gone.
        QPointer<ProgressDlg> dlg = m_window->findChild<ProgressDlg *>();
        if (!dlg || !m_window->exportThread())
            return QStringList{"<no export>"};
        auto *bar = dlg->findChild<QProgressBar *>();
        auto *fileLabel = dlg->findChild<QLabel *>(QStringLiteral("fileLabel"));
        QStringList changes{bar->value() == 0 ? QString() : QStringLiteral("<dialog not fresh>")};
        QObject context;
        connect(bar, &QProgressBar::valueChanged, &context,
                [&] { changes << fileLabel->text() + ' ' + QString::number(bar->value()); });
        // A plain event loop, not qWaitFor(), which sleeps: the GUI thread's timers run freely.
        QEventLoop loop;
        connect(dlg, &QObject::destroyed, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        if (dlg || m_window->findChild<ProgressDlg *>() || m_window->exportThread()
            || !QTest::qWaitFor([&] { return !m_window->findChild<ExportThread *>(); }))
            return {QStringLiteral("<export left behind>")};
        return changes.mid(changes[0].isEmpty() ? 1 : 0);
    }

private slots:
    void initTestCase()
    {
        startHarness(this);
        qApp->installEventFilter(this);
        packFromCommandLine({"zarnik-explorer"}); // the program's own name, as settings are kept under it
        QDesktopServices::setUrlHandler("file", this, "urlOpened"); // what the desktop would open
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler("file"); }

    void init() { m_opened.clear(); openWindow(); }

    void cleanup() { closeWindow(); }

    void windowCommands()
    {
        // About: the license, the libraries and the documentation; its Close button ends it (the harness would reject a dialog left open, so look at once).
        run("actionAbout", {[&](QWidget *dlg) {
                const QString about = dlg->findChild<QTextBrowser *>()->toPlainText();
                QVERIFY(dlg->inherits("AboutDlg") && about.contains("MIT License") && about.contains(qVersion())
                        && about.contains("man zarnik-explorer"));
                QTest::mouseClick(dlg->findChild<QPushButton *>(), Qt::LeftButton);
                QVERIFY(!dlg->isVisible());
            }});
        QTimer::singleShot(0, m_window, [this] { run("actionE_xit"); });
        QTimer::singleShot(10000, m_window, [] { QCoreApplication::exit(99); });
        QVERIFY(QApplication::exec() == 0 && !m_window->isVisible()); // Exit ends the event loop with 0
    }

    // The window's, the panes' and the columns' sizes come back in the next run.
    void layoutRemembered()
    {
        m_window->resize(900, 640);
        auto *splitter = m_window->findChild<QSplitter *>();
        splitter->setSizes({200, 600});
        m_tree->header()->resizeSection(ArchiveTree::SizeColumn, 123);
        const QList<int> sizes = splitter->sizes();
        QVERIFY(m_window->close());
        MainWindow again;
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        QCOMPARE(again.size(), QSize(900, 640));
        QCOMPARE(again.findChild<QSplitter *>()->sizes(), sizes);
        QCOMPARE(again.findChild<ArchiveTree *>()->header()->sectionSize(ArchiveTree::SizeColumn), 123);
    }

    // A second pack on the command line is refused with a word, before any window.
    void commandLineTakesOnePack()
    {
        QProcess explorer;
        explorer.start(EXPLORER_EXE, {path("a.upk"), path("b.upk")});
        QVERIFY(explorer.waitForFinished(20000));
        QCOMPARE(explorer.exitCode(), 1);
        QVERIFY(explorer.readAllStandardError().contains(QFile::encodeName(path("b.upk")) + " is left over"));
    }

    void everyRouteOpensTheSameTree()
    {
        const QString upk = writeUpk(path("single.upk"), sampleEntries());
        const QString bak = writeUpk(path("x.upk.bak"), sampleEntries());
        // Through Open, the command line or a drop (taken as a copy, never a move): the same view each time.
        // The extension may sit anywhere.
        QMimeData dropped;
        const Qt::DropActions offered = Qt::MoveAction | Qt::CopyAction | Qt::LinkAction;
        QDragEnterEvent enter(QPoint(20, 20), offered, &dropped, Qt::LeftButton, Qt::ShiftModifier);
        QDropEvent drop(QPointF(20, 20), offered, &dropped, Qt::LeftButton, Qt::ShiftModifier);
        const QStringList files{upk, writeVfs(path("set"), sampleEntries()), upk, bak};
        for (int i = 0; i < files.size(); ++i) {
            if (i == 2)
                m_window->openPack(packFromCommandLine({"zarnik-explorer", files[i]}));
            else if (i != 3)
                open(files[i]);
            // A folder and a missing file are refused as they enter the window; any file may be a pack.
            for (const QString &url : i == 3 ? QStringList{path("set"), path("gone.upk"), files[i]} : QStringList()) {
                dropped.setUrls({QUrl::fromLocalFile(url)});
                enter.setAccepted(false);
                QCoreApplication::sendEvent(m_window, &enter);
                QCOMPARE(enter.isAccepted() ? enter.dropAction() : Qt::IgnoreAction, url == files[i] ? Qt::CopyAction : Qt::IgnoreAction);
            }
            if (i == 3) {
                QCoreApplication::sendEvent(m_window, &drop);
                QCOMPARE(drop.dropAction(), Qt::CopyAction);
            }
            QTRY_COMPARE(shownPack(), nativePath(files[i]));
            // The pack's order; the Latin-1 name; stored size 0 a folder, the empty packed file a file.
            QCOMPARE(view(), QStringLiteral("content/ -readme.txt -gfx/ --logo.bmp --ui/ ---button.bmp --icon.bmp -caf\u00E9.txt "
                                            "-empty.dat/ -void.dat -sound/ --a.wav"));
            QVERIFY(!m_tree->isExpanded(m_tree->model()->index(0, 0)));
        }
    }

    // Cancel, or a file the library cannot open: the pack shown stays, and the failure says why.
    void refusedOpenKeepsThePackShown()
    {
        const QString upk = writeUpk(path("single.upk"), sampleEntries());
        writeVfs(path("set"), sampleEntries());
        open(upk);
        const CZarnikArchive *archive = m_window->archive();
        const QString before = view();
        QVERIFY(QFile::remove(path("set/content.vfi")));
        QVERIFY(testpack::WriteFile(nativePath(path("empty.upk")), {}));
        run("action_Open", {typed(QString())});
        QVERIFY(m_window->archive() == archive && view() == before);
        for (const auto &[name, why] : std::vector<std::pair<QString, QString>>{
                 {"empty.upk", "the file is empty"}, {"set", "it is a directory"},
                 {"set/data0.vfs", "needs its index \"content.vfi\" beside it: " + path("set/content.vfi") + ": no such file"}}) {
            m_steps.append(textStep(QMessageBox::Critical, {path(name) + " could not be opened", why})); // the tool's reason
            QVERIFY2(!m_window->openPack(path(name)) && m_window->archive() == archive && view() == before, qPrintable(name));
        }
        // What opening passed over is named in a warning; the rest opens.
        const QString dup = writeUpk(path("dup.upk"), {e("content\\dup.txt", "a"), e("content\\dup.txt", "b")});
        run("action_Open", {typed(dup), textStep(QMessageBox::Warning, {"1 part of it was passed over", "content/dup.txt"})});
        QCOMPARE(m_window->windowTitle(), "dup.upk - Zarnik Explorer");
        // Such a pack is not changed, and the status line says why.
        QVERIFY(message().startsWith("This pack cannot be changed: opening passed over"));
        QCOMPARE(view(), "content/ -dup.txt -dup.txt");
    }

    // File > Recent: newest first, each once, a set by its index, and opens; a pack no longer there is not
    // offered. Open starts where the last pack was chosen.
    void recentPacksNewestFirst()
    {
        const QString upk = writeUpk(path("single.upk"), sampleEntries()), omega = QStringLiteral("\u03A9mega/\u0416");
        writeVfs(path("set"), sampleEntries());
        writeVfs(path(omega), sampleEntries());
        QVERIFY(QFile::copy(upk, path("gone.upk")) && QFile::copy(upk, path("lost.upk")));
        for (const QString &name : {QString("set/data0.vfs"), QString("single.upk"), QString("set/content.vfi"),
                                    QString("lost.upk"), omega + "/data0.vfs", QString("gone.upk")})
            open(path(name));
        QMenu *recent = m_window->findChild<QMenu *>("menuRecent");
        QMenu *file = m_window->findChild<QMenu *>("menu_File");
        const auto names = [&](int count) {
            QStringList texts;
            for (QAction *a : recent->actions().mid(0, count))
                texts << a->text();
            return texts;
        };
        // A name met twice says its folder.
        const auto in = [&](const QString &folder) { return " in " + QDir::toNativeSeparators(path(folder)); };
        QMetaObject::invokeMethod(file, "aboutToShow");
        QCOMPARE(names(10), QStringList({"&1 gone.upk", "&2 content.vfi" + in(omega), "&3 lost.upk",
                                         "&4 content.vfi" + in("set"), "&5 single.upk", "", "Clear the list"}));
        recent->actions()[4]->trigger();
        QCOMPARE(shownPack(), nativePath(upk));
        QCOMPARE(names(2), QStringList({"&1 single.upk", "&2 gone.upk"}));
        // An entry whose file is gone is offered for removal, and goes.
        QVERIFY(QFile::remove(path("gone.upk")));
        m_steps.append(textStep(QMessageBox::Question, {path("gone.upk"), "no longer there"}, QMessageBox::Yes));
        recent->actions()[1]->trigger();
        QCOMPARE(names(2), QStringList({"&1 single.upk", "&2 content.vfi" + in(omega)}));
        QVERIFY(QFile::remove(path("lost.upk")));
        QMetaObject::invokeMethod(file, "aboutToShow");
        QCOMPARE(names(3), QStringList({"&1 single.upk", "&2 content.vfi" + in(omega), "&3 content.vfi" + in("set")}));
        QString folder;
        run("action_Open", {[&](QWidget *w) { folder = static_cast<QFileDialog *>(w)->directory().path(); }});
        QCOMPARE(folder, m_dir->path());
    }

    // Size, stored bytes and ratio (none for an empty file); folders and the status line sum all below.
    void sizeColumnsAndSums()
    {
        open(writeUpk(path("single.upk"), sampleEntries()));
        const std::vector<Entry> entries = sampleEntries();
        const auto item = [&](const char *latin1) { return row(QString::fromLatin1(latin1)); };
        const auto columns = [&](const char *name) {
            const QModelIndex at = item(name);
            return QStringList{at.siblingAtColumn(1).data().toString(), at.siblingAtColumn(2).data().toString(),
                               at.siblingAtColumn(3).data().toString()};
        };
        const auto stored = [&](const char *name) { return quint64(ArchiveTree::nodeOf(item(name))->m_PackedSize); };
        const quint64 gfxSize = entries[1].data.size() + 6 + entries[4].data.size();
        const quint64 gfxStored = stored("logo.bmp") + 6 + stored("icon.bmp");
        const quint64 allStored = gfxStored + 5 + stored("caf\xE9.txt") + stored("void.dat") + 4;
        for (const qint64 bytes : {1000, 2007, 2055208})
            QCOMPARE(sizeText(quint64(bytes)), QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeIecFormat));
        QCOMPARE(columns("readme.txt"), QStringList({sizeText(5), sizeText(5), "100%"}));
        QCOMPARE(columns("void.dat"), QStringList({sizeText(0), sizeText(stored("void.dat")), ""}));
        QCOMPARE(columns("gfx"), QStringList({sizeText(gfxSize), sizeText(gfxStored),
                                              QString::number(gfxStored * 100.0 / gfxSize, 'f', 0) + '%'}));
        QCOMPARE(sums(), "7 files in 4 folders, " + sizeText(gfxSize + 21) + " (" + sizeText(allStored) + " stored)");
        choose({"readme.txt", "gfx"});
        QCOMPARE(sums(), "2 items selected: 4 files, " + sizeText(gfxSize + 5));
    }

    // The filter keeps matches, their folders and all below a matching folder; Escape clears it.
    void filterKeepsMatchesAndTheirFolders()
    {
        open(writeUpk(path("single.upk"), sampleEntries()));
        const auto shown = [&] {
            QStringList names;
            for (const QModelIndex &at : rows())
                names << at.data().toString();
            return names.join(' ');
        };
        const QString all = shown();
        for (const auto &[text, names] : std::vector<std::pair<QString, QString>>{
                 {"LOGO", "content gfx logo.bmp"}, {"*.WAV", "content sound a.wav"},
                 {"b?tt*n", "content gfx ui button.bmp"}, {"ui", "content gfx ui button.bmp"},
                 {QStringLiteral("\u00C9"), QStringLiteral("content caf\u00E9.txt")},
                 {"nothing", "content"}, {"", all}}) {
            QTest::keyClick(filter(), Qt::Key_Escape);
            QTest::keyClicks(filter(), text);
            QCOMPARE(shown(), names);
        }
        // Pasted, a character that no Latin-1 name holds matches nothing.
        filter()->insert(QStringLiteral("\u03A9"));
        QCOMPARE(shown(), QStringLiteral("content"));
    }

    static std::string png(int width, int height)
    {
        QImage picture(width, height, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QBuffer out;
        return out.open(QIODevice::WriteOnly) && picture.save(&out, "PNG") ? out.data().toStdString() : "";
    }
    static QString picture(QSize size) { return QString("picture:%1x%2").arg(size.width()).arg(size.height()); }
    // The preview of the one row `name`, as "page:content" once it came; only a file's details name the
    // data file `pack` it lies in.
    QString preview(const QString &name, const QString &pack)
    {
        auto *pane = m_window->findChild<DetailsPane *>();
        QSignalSpy shown(pane, &DetailsPane::previewShown);
        if (!select(name) || !shown.wait(10000))
            return QStringLiteral("<no preview>");
        if (!label("detailsLabel").remove(QChar(0x200B)).contains(QDir::toNativeSeparators(pack))) // wraps
            return "<details: " + label("detailsLabel") + '>';
        QWidget *page = pane->findChild<QStackedWidget *>()->currentWidget();
        if (auto *text = qobject_cast<QPlainTextEdit *>(page))
            return "text:" + text->toPlainText().left(40);
        if (auto *label = qobject_cast<QLabel *>(page))
            return "message:" + label->text();
        return picture(static_cast<QLabel *>(page->findChild<QScrollArea *>()->widget())->pixmap().size());
    }

    void detailsAndPreviewOfEachKind()
    {
        // A picture's header (54 bytes, 24 bits a pixel, no more) that claims 10000 x 10000 pixels.
        const QByteArray huge = QByteArray::fromHex("424d36000000000000003600000028000000102700001027000001001800") + QByteArray(24, 0);
        // A text whose packed stream lacks its end: the beginning shows, as no more of it is read.
        std::string lines;
        while (lines.size() < (1u << 20))
            lines += "line " + std::to_string(lines.size()) + "\n";
        zarnik_pack::Bytes cut = zarnik_pack::Compress(reinterpret_cast<const unsigned char *>(lines.data()), lines.size());
        cut.resize(cut.size() - 100);
        std::vector<Entry> entries{e("content\\p\\pic.png", png(7, 5), Storage::Packed),
                                   e("content\\p\\huge.bmp", huge.toStdString()),
                                   {"content\\p\\cut.txt", cut, Storage::Stored, Entry().nameKey, {}, uint32_t(lines.size()),
                                    uint32_t(cut.size()), {}, {}},
                                   e("content\\p\\note.txt", "gr\xC3\xBC\xC3\x9F dich"), e("content\\p\\latin.txt", "gr\xFC\xDF"),
                                   e("content\\p\\blob.bin", std::string("\0\1\2\3hello", 9)), e("content\\p\\void.dat", ""),
                                   e("content\\p\\bad.bin", std::string(64, '\xFF'), Storage::Stored)};
        entries.back().unpackedSize = 1000;
        const QString upk = writeUpk(path("kinds.upk"), entries);
        open(upk);
        for (const auto &[name, shown] : std::vector<std::pair<QString, QString>>{
                 {"pic.png", "picture:7x5"}, {"note.txt", QStringLiteral("text:gr\u00FC\u00DF dich")},
                 {"latin.txt", QStringLiteral("text:gr\u00FC\u00DF")},
                 {"blob.bin", "text:00000000  00 01 02 03 68 65 6c 6c  6f   "}, {"void.dat", "message:Empty file."},
                 {"huge.bmp", "message:Picture too large to preview: 10000 x 10000 pixels, 54 bytes."},
                 {"cut.txt", "text:" + QString::fromStdString(lines.substr(0, 40))},
                 {"bad.bin", "message:No preview: " + QString(ExtractOutcomeText(ExtractOutcome::Damaged)) + '.'}})
            QCOMPARE(preview(name, upk), shown);
        QVERIFY(label("detailsLabel").contains("64 bytes, packed")); // bad.bin's stored bytes
        QVERIFY(select("p") && label("detailsLabel").contains(QRegularExpression("Files below:.*8"))); // a folder
    }

    // A picture is fitted to the pane, never enlarged; 100%, + and - zoom, Fit comes back. Long paths wrap,
    // never growing the window; a one-line long text is laid out only in its beginning.
    void previewFitsWithoutGrowingTheWindow()
    {
        const std::string longName(230, 'n'), longLine(Preview::kTextBytes * 2, 'w');
        const QString upk = writeUpk(path("wide.upk"), {e("content\\p\\wide.png", png(3000, 2000)),
                                     e("content\\p\\long\\" + longName + "\\" + longName.substr(0, 8) + ".txt", longLine)});
        open(upk);
        auto *pane = m_window->findChild<DetailsPane *>();
        const QString fitted = preview("wide.png", upk);
        QWidget *room = pane->findChild<PictureView *>()->findChild<QScrollArea *>()->viewport();
        QCOMPARE(fitted, picture(QSize(3000, 2000).scaled(room->size(), Qt::KeepAspectRatio)));
        QStringList zoomed;
        for (const char *button : {"100%", "+", "-", "-", "Fit"}) {
            for (QToolButton *b : pane->findChildren<QToolButton *>())
                if (b->text() == button)
                    QTest::mouseClick(b, Qt::LeftButton);
            zoomed << picture(static_cast<QLabel *>(static_cast<QScrollArea *>(room->parentWidget())->widget())->pixmap().size());
        }
        QCOMPARE(zoomed, QStringList({"picture:3000x2000", "picture:3750x2500", "picture:3000x2000", "picture:2400x1600", fitted}));
        const auto smallest = [&] {
            for (int depth = 0; depth < 8; ++depth) // each layout asks the one around it
                QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            return m_window->minimumSizeHint().width();
        };
        const int least = smallest();
        QCOMPARE(preview("nnnnnnnn.txt", upk), "text:" + QString(40, 'w'));
        QVERIFY(smallest() <= least);
        const QString text = pane->findChild<QPlainTextEdit *>()->toPlainText();
        QVERIFY(text.size() < Preview::kTextBytes + Preview::kTextBytes / 100 + 100);
        for (const QString &line : text.split('\n'))
            QVERIFY(line.size() <= Preview::kLineChars);
        QVERIFY(select(QString::fromStdString(longName))
                && label("detailsLabel").contains(QRegularExpression("Folders below:.*none")));
    }

    // Names with control characters show, are copied and are proposed as the tool prints them (a line
    // break as \n, never a box or a cut), with '/' between the folders; the proposal is written as shown.
    void controlCharactersEscaped()
    {
        open(writeUpk(path("odd.upk"), {e("content\\new\nline.txt", "two\nlines"), e("content\\bel\a\x1b.txt", "")}));
        QCOMPARE(view(), "content/ -new\\nline.txt -bel\\x07\\x1b.txt");
        QVERIFY(sums().startsWith("2 files, 9 bytes (")); // no "0 folders"
        QVERIFY(select("new\\nline.txt") && label("detailsLabel").remove(QChar(0x200B)).contains("content/new\\nline.txt"));
        run("actionCopyPath");
        QCOMPARE(QGuiApplication::clipboard()->text(), "content/new\\nline.txt");
        const QString out = madeDir("out");
        QString seen;
        exportTo(out + "/new\\nline.txt", &seen);
        QCOMPARE(seen, "new\\nline.txt|save");
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{"new\\nline.txt"});
    }

    // Each export writes byte-exact into a folder named outside Latin-1, and nothing else: one file under
    // the name the save dialog proposes (its own), anything else below a directory.
    void exportWrites_data()
    {
        QTest::addColumn<QString>("selection");
        QTest::addColumn<QString>("landed"); // in the order written; "x/" a folder
        for (const QString &file : {QString("logo.bmp"), QString("readme.txt"), QStringLiteral("caf\u00E9.txt"), QString("void.dat")})
            QTest::newRow(qPrintable(file)) << file << file;
        // No file: nothing reported, no division by a total of 0.
        QTest::newRow("stored size 0") << "empty.dat" << "empty.dat/";
        // ui comes with gfx, once.
        QTest::newRow("several") << "a.wav gfx ui readme.txt" << "readme.txt gfx/logo.bmp gfx/ui/button.bmp gfx/icon.bmp a.wav";
    }

    void exportWrites()
    {
        QFETCH(QString, selection);
        QFETCH(QString, landed);
        const std::vector<Entry> entries = sampleEntries();
        open(writeUpk(path("pack.upk"), entries));
        m_window->setExportWorkers(1); // the order written is the order reported
        choose(selection.split(' '));
        const QString out = madeDir(QStringLiteral("\u03A9mega \u00FC"));
        const bool oneFile = landed == selection;
        QString seen;
        const QStringList bar = exportTo(oneFile ? out + '/' + selection : out, &seen);
        QCOMPARE(seen, oneFile ? selection + "|save" : QString("|dir"));
        QVERIFY(message().contains(out));
        // Each file holds its entry's bytes, nothing else is written, and the bar follows the bytes.
        qsizetype total = 0, done = 0;
        std::vector<std::pair<QString, qsizetype>> written; // archive path, bytes
        for (const QString &name : landed.split(' ')) {
            QVERIFY2(!name.endsWith('/') || QFileInfo(out + '/' + name).isDir(), qPrintable(name));
            for (const Entry &x : entries)
                if (QString::fromLatin1(('\\' + x.path).c_str()).endsWith('\\' + QString(name).replace('/', '\\'))) {
                    QCOMPARE(readAll(out + '/' + name), QByteArray(reinterpret_cast<const char *>(x.data.data()), qsizetype(x.data.size())));
                    written.push_back({QString::fromLatin1(x.path.c_str()).replace('\\', '/'), qsizetype(x.data.size())});
                    total += qsizetype(x.data.size());
                }
        }
        QDirIterator it(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        for (size_t i = 0; i <= written.size(); ++i, it.next())
            QCOMPARE(it.hasNext(), i < written.size());
        QStringList rising;
        for (const auto &[archivePath, size] : written) {
            const qsizetype before = total ? done * 100 / total : 0, after = total ? (done += size) * 100 / total : 100;
            if (after != before)
                rising << archivePath + ' ' + QString::number(after);
        }
        QCOMPARE(bar, rising);
    }

    // A header clicked sorts by its column: ascending, descending, then the pack's order; folders first either
    // way, sizes as numbers, names without regard to case. Too many matches to unfold are listed flat, sorted.
    void sortAndFlatList()
    {
        std::vector<Entry> entries{e("content\\b.txt", std::string(100, 'b')), e("content\\A.txt", "123456789"),
                                   e("content\\c.txt", "0123456789"), e("content\\zdir\\x", "12345"),
                                   e("content\\Ydir\\y", std::string(1000, 'y'))};
        for (int i = 0; i < 2100; ++i)
            entries.push_back(e("content\\many\\d" + std::to_string(i % 7) + "\\f" + std::to_string(i) + ".txt",
                                std::string(size_t(1 + (2100 - i) % 50), 'f')));
        open(writeUpk(path("sort.upk"), entries));
        QAbstractItemModel *model = m_tree->model();
        const auto order = [&](int count) {
            QStringList names;
            for (int i = 0; i < count; ++i)
                names << model->index(i, 0, model->index(0, 0)).data().toString();
            return names.join(' ');
        };
        // A top row and its cell in `column`.
        const auto top = [&](int i, int column) { return model->index(i, column).data().toString(); };
        QHeaderView *header = m_tree->header();
        const auto click = [&](int column) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
        };
        for (const auto &[column, shown] : std::vector<std::pair<int, QString>>{
                 {ArchiveTree::NameColumn, "many Ydir zdir A.txt b.txt"}, {ArchiveTree::NameColumn, "zdir Ydir many c.txt b.txt"},
                 {ArchiveTree::NameColumn, "b.txt A.txt c.txt zdir Ydir"}, {ArchiveTree::SizeColumn, "zdir Ydir many A.txt c.txt"},
                 {ArchiveTree::SizeColumn, "many Ydir zdir b.txt c.txt"}}) {
            click(column);
            QCOMPARE(order(5), shown);
        }
        // Flat, each match with its path, the first 2,000 of them (the largest here); a copied path, with '/' or
        // '\\', finds its entry in the tree.
        filter()->setText("F");
        QVERIFY(m_tree->isFlat() && model->rowCount() == 2000);
        QCOMPARE(sums(), "2,100 entries match, the first 2,000 listed");
        std::vector<quint64> sizes;
        for (int i = 0; i < model->rowCount(); ++i)
            sizes.push_back(ArchiveTree::nodeOf(model->index(i, 0))->m_UnpackedSize);
        QVERIFY(std::is_sorted(sizes.rbegin(), sizes.rend()) && top(0, 1) == "50 bytes" && top(0, 0).startsWith("content/many/d"));
        click(ArchiveTree::SizeColumn); // the pack's order
        click(ArchiveTree::SizeColumn);
        filter()->setText("f");
        QCOMPARE(top(0, 1), "1 byte");
        for (const char *copied : {"content/many/d3/f17.txt", "CONTENT\\many\\d3\\f17.txt", "many/d3/f17."}) {
            filter()->setText(copied);
            const QModelIndex found = row("f17.txt");
            QVERIFY(!m_tree->isFlat() && model->rowCount() == 1 && found.isValid()
                    && m_tree->isExpanded(found.parent()) && sums() == "1 entry matches");
        }
        filter()->setText("nothing");
        QCOMPARE(sums(), "No entry matches");
    }

    // Double-click or Enter on a file opens it, written whole, with the desktop's application; a folder unfolds.
    // After an export its folder opens from beside its line, or from the summary of one that did not write all.
    void openWithApplication()
    {
        open(writeUpk(path("pack.upk"), sampleEntries()));
        const QString out = madeDir("out");
        m_tree->expandAll();
        for (const auto &[name, enter] : std::vector<std::pair<QString, bool>>{{"readme.txt", false}, {"a.wav", true}, {"gfx", false}}) {
            QVERIFY(select(name));
            const QPoint at = m_tree->visualRect(m_tree->currentIndex()).center();
            for (auto action : {QTest::MouseClick, QTest::MouseDClick, QTest::MouseRelease}) // as a hand clicks twice
                enter ? void() : QTest::mouseEvent(action, m_tree->viewport(), Qt::LeftButton, {}, at);
            if (enter)
                QTest::keyClick(m_tree, Qt::Key_Return);
            QTRY_VERIFY(!m_window->exportThread());
        }
        QTRY_COMPARE(m_opened.size(), 2);
        QCOMPARE(QFileInfo(m_opened[0]).fileName() + ' ' + readAll(m_opened[0]) + ' ' + readAll(m_opened[1]),
                 "readme.txt hello wave");
        QVERIFY(!m_tree->isExpanded(row("gfx")) && select("gfx"));
        exportTo(out);
        QTest::mouseClick(m_window->statusBar()->findChild<QToolButton *>(), Qt::LeftButton);
        QVERIFY(QFile::remove(out + "/gfx/logo.bmp")); // written again, the rest is there
        exportTo(out, nullptr, {[](QWidget *summary) {
                     for (QPushButton *b : summary->findChildren<QPushButton *>())
                         if (b->text() == "Open Containing Folder")
                             QTest::mouseClick(b, Qt::LeftButton);
                     static_cast<QDialog *>(summary)->accept();
                 }});
        QCOMPARE(m_opened.mid(2), QStringList({out, out}));
    }

    // With a filter on, Export (and a drag) writes the matches below the selection, in their folders; every
    // enabled command acts on what the window shows.
    void filteredExportAndShownCommands()
    {
        open(writeUpk(path("pack.upk"), sampleEntries()));
        QAction *exportAction = action("actionExport");
        // Opened, the whole pack is chosen. The filter line yields the window's shortcuts (Ctrl+E exports,
        // even where Emacs keys claim it; Ctrl+A stands in for that case).
        QVERIFY(selectedRows() == QModelIndexList{m_tree->model()->index(0, 0)} && exportAction->isEnabled());
        exportAction->setShortcut(QKeySequence::SelectAll);
        m_steps.append(typed(QString()));
        press(filter(), Qt::Key_A, Qt::ControlModifier);
        QVERIFY2(m_steps.isEmpty(), "the shortcut in the filter line did not export");
        // Shift+F10 in the tree opens the current item's menu, with the changes below Export and Copy path;
        // Ctrl+F goes back to the filter line.
        QString menu;
        QTimer popupWatch;
        connect(&popupWatch, &QTimer::timeout, this, [&] {
            if (auto *popup = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                for (QAction *action : popup->actions())
                    menu += action->text() + ';';
                popup->close();
            }
        });
        popupWatch.start(5);
        press(m_tree, Qt::Key_F10, Qt::ShiftModifier); // the file dialog had the focus
        QString offered = exportAction->text() + ';' + action("actionCopyPath")->text() + ";;";
        for (const char *change : {"actionAddFiles", "actionAddFolder", "actionReplace", "actionRename", "actionDelete"})
            offered += action(change)->text() + ';';
        QCOMPARE(menu, offered);
        popupWatch.stop();
        press(m_tree, Qt::Key_F, Qt::ControlModifier); // back from the menu
        QVERIFY(filter()->hasFocus());
        const auto landed = [&](const QString &out) {
            QStringList files;
            for (QDirIterator it(out, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories); it.hasNext();)
                files << QDir(out).relativeFilePath(it.next());
            files.sort();
            return files.join(' ');
        };
        for (const auto &[text, selected, files, count] : std::vector<std::tuple<QString, QString, QString, QString>>{
                 {"bmp", "content", "content content/gfx content/gfx/icon.bmp content/gfx/logo.bmp content/gfx/ui "
                                    "content/gfx/ui/button.bmp", "3 files"},
                 {"ui", "gfx", "gfx gfx/ui gfx/ui/button.bmp", "1 file"}}) {
            filter()->setText(text);
            QVERIFY(select(selected));
            const QString out = madeDir("out-" + text);
            exportTo(out);
            QCOMPARE(landed(out), files);
            QVERIFY(message().startsWith("Exported " + count + " ("));
        }
        // Another pack opened, the last export's line goes.
        open(writeUpk(path("other.upk"), sampleEntries()));
        QCOMPARE(message(), QString());
        // What the filter hides leaves the selection, and Export has nothing to act on.
        filter()->clear();
        QVERIFY(select("button.bmp") && exportAction->isEnabled());
        filter()->setText("readme");
        QVERIFY(selectedRows().isEmpty() && !exportAction->isEnabled());
        // Only the root stands when nothing matches: chosen, it offers nothing to export.
        QVERIFY(select("content"));
        filter()->setText("nothing");
        QVERIFY(!exportAction->isEnabled());
    }

    // A drag out writes the files first; it begins once they stand, if the button is still held. Let go while
    // they are written, the export stops and no drag begins; moves meanwhile select nothing.
    void dragOut()
    {
        open(writeUpk(path("pack.upk"), largeEntries()));
        m_window->setExportWorkers(1);
        m_tree->expandAll();
        QWidget *viewport = m_tree->viewport();
        int &drags = m_drags = 0;
        QTimer watch; // a drag under a held button runs its own event loop until a drop: cancelled
        connect(&watch, &QTimer::timeout, this, [&] { m_window->findChild<QDrag *>() ? QDrag::cancel() : void(); });
        watch.start(5);
        for (const bool letGo : {true, false}) {
            QVERIFY(select(letGo ? "big" : "part0.txt"));
            const QPoint at = m_tree->visualRect(selectedRows()[0]).center();
            m_pauseAt = letGo ? 3 : 0;
            m_atPause = [&] {
                QTest::mouseMove(viewport, at + QPoint(40, 60));
                QTest::mouseRelease(viewport, Qt::LeftButton, {}, at + QPoint(40, 60));
            };
            QTest::mousePress(viewport, Qt::LeftButton, {}, at);
            QTest::mouseMove(viewport, at + QPoint(5, 0));
            QTest::mouseMove(viewport, at + QPoint(40, 0));
            QVERIFY(m_window->exportThread());
            QTRY_VERIFY_WITH_TIMEOUT(!m_window->exportThread(), 20000);
            QTRY_COMPARE(drags, letGo ? 0 : 1);
            if (!letGo)
                QTest::mouseRelease(viewport, Qt::LeftButton, {}, at + QPoint(40, 0));
            QCOMPARE(selectedRows().size(), 1);
        }
    }

    void exportRefusesAndReports()
    {
        // No archive, or Cancel in either dialog: nothing starts, nothing is made.
        QVERIFY(!action("actionExport")->isEnabled());
        open(writeUpk(path(QStringLiteral("pack.upk")), sampleEntries()));
        for (const char *name : {"readme.txt", "gfx"})
            QCOMPARE(select(name) ? exportTo(QString()) : QStringList(), QStringList{"<no export>"});
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"pack.upk"});
        // An existing name: the file dialog comes again (no offer to replace it); nothing is written.
        const QString out = path("out");
        QVERIFY(!writeFile("out/saved", "old").isEmpty() && QDir().mkpath(out + "/in/mix") && select("readme.txt"));
        QCOMPARE(exportTo(out + "/saved", nullptr, {textStep(QMessageBox::Information, {"already exists"}), typed(QString())}),
                 QStringList{"<no export>"});
        QCOMPARE(readAll(out + "/saved"), QByteArray("old"));
        // Of a folder and files ".." and "../up.txt": a file already there, one damaged, a folder blocked by
        // a file, and the names (never joined onto the directory) are not written; the summary names each.
        std::vector<Entry> mixed{e("content\\mix\\ok.txt", "fine"), e("content\\mix\\there.txt", "new"),
                                 e("content\\mix\\bad.bin", std::string(64, '\xFF'), Storage::Stored),
                                 e("content\\mix\\sub\\a.txt", "blocked"), e("content\\..", "up"), e("content\\../up.txt", "up")};
        mixed[2].unpackedSize = 1000;
        open(writeUpk(path(QStringLiteral("mixed.upk")), mixed));
        for (const char *name : {"/in/mix/there.txt", "/in/mix/sub"})
            QVERIFY(!writeFile("out" + QString(name), "old").isEmpty());
        choose({"mix", "..", "../up.txt"});
        exportTo(out + "/in", nullptr,
                 {textStep(QMessageBox::NoIcon, {"Written: 1 file", "Skipped, already there: 1", "Damaged in the pack: 1",
                                                 "Could not be written: 1", "Unusable or repeated names: 2",
                                                 "content/mix/there.txt\t", "content/mix/bad.bin\t",
                                                 "content/mix/sub\tcannot create the directory; nothing below it was "
                                                 "written (something already stands there)",
                                                 "content/..\t", "content/../up.txt\t"})});
    }

    void largeExportCancelAndClose()
    {
        const QString upk = writeUpk(path(QStringLiteral("pack.upk")), largeEntries());
        const QString out = madeDir("out");
        open(upk);
        QVERIFY(select("big"));
        QAction *openAction = action("action_Open");
        // Mid-export: Return and Enter do nothing; Escape and the close button ask first (No: it goes on),
        // Open waits, the window's close asks (No: it stays). Escape answered Yes cancels after two files,
        // and the summary says so.
        m_window->setExportWorkers(1);
        m_pauseAt = 3;
        m_atPause = [&] {
            auto *dlg = m_window->findChild<ProgressDlg *>();
            auto *cancel = dlg->findChild<QPushButton *>(QStringLiteral("cancelButton"));
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter})
                QTest::keyClick(dlg, key);
            const auto asked = [&](const std::function<void()> &ask, QMessageBox::StandardButton answer) {
                const qsizetype waiting = m_steps.size(); // the summary's step
                m_steps.prepend(textStep(QMessageBox::Question, {"Cancel the export?"}, answer));
                ask();
                QTRY_VERIFY(m_steps.size() == waiting && !dlg->findChild<QMessageBox *>());
            };
            asked([&] { QTest::keyClick(dlg, Qt::Key_Escape); }, QMessageBox::No);
            asked([&] { QVERIFY(!dlg->close()); }, QMessageBox::No); // its close event, as the window manager's
            QVERIFY(dlg->isVisible() && cancel->isEnabled() && m_unexpected == 0);
            QVERIFY(!m_window->openPack(upk) && !openAction->isEnabled());
            QVERIFY(select("part5.txt") && !action("actionExport")->isEnabled() && select("big")); // the tree stays usable, Export waits
            m_steps.prepend(textStep(QMessageBox::Question, {"Cancel it"}, QMessageBox::No));
            QVERIFY(!m_window->close() && m_window->isVisible());
            asked([&] { QTest::keyClick(dlg, Qt::Key_Escape); }, QMessageBox::Yes);
            QVERIFY(!cancel->isEnabled());
        };
        exportTo(out, nullptr, {textStep(QMessageBox::NoIcon, {"The export was cancelled. Written: 2 files",
                                                               "content/big/part2.txt\t", "Not tried: 29"})});
        QVERIFY(openAction->isEnabled());
        // The export ending under the question takes it away; Yes cancels and closes. The window going
        // mid-export stops it, its worker ended before the archive goes.
        std::atomic<bool> ended{false};
        bool endedFirst = false;
        for (QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes, QMessageBox::NoButton}) {
            QVERIFY(QDir(out + "/big").removeRecursively());
            m_window->show();
            run("actionExport", {typed(out)});
            QVERIFY(m_window->exportThread());
            if (answer == QMessageBox::No) {
                m_steps.append([&](QWidget *question) {
                    m_window->findChild<ProgressDlg *>()->findChild<QPushButton *>("cancelButton")->click();
                    QTRY_VERIFY(!m_window->exportThread());
                    QVERIFY(!question->isVisible()); // the export's end took the question away
                });
                m_steps.append(textStep(QMessageBox::NoIcon, {"The export was cancelled."}));
                QVERIFY(!m_window->close() && m_window->isVisible() && m_steps.isEmpty());
            } else if (answer == QMessageBox::Yes) {
                m_steps.append(textStep(QMessageBox::Question, {"Cancel it"}, QMessageBox::Yes));
                QVERIFY(m_window->close() && !m_window->exportThread());
            } else {
                connect(m_window->exportThread(), &QThread::finished, this, [&] { ended = true; }, Qt::DirectConnection);
                connect(m_tree, &QObject::destroyed, this, [&] { endedFirst = ended; });
                delete m_window;
                m_window = nullptr;
            }
        }
        QVERIFY(endedFirst);
    }
};

QTEST_MAIN(TestExplorer)
#include "test_explorer.moc"
