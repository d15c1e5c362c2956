// The main window and its About dialog as a user meets them: what they show,
// what New, Exit, Close and Escape do, and their texts coming back after a
// language change.
#include "AboutDlg.h"
#include "ExplorerFixture.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolBar>
#include <QTranslator>


namespace {

// "&Open..." etc. in order; a separator shows as "|".
QStringList actionTexts(const QList<QAction *> &actions)
{
    QStringList out;
    for (QAction *a : actions)
        out << (a->isSeparator() ? QStringLiteral("|") : a->text());
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
        if (text.contains(QStringLiteral("<html>")))
            return QString(text).replace(QStringLiteral("Pellworth"), QStringLiteral("Marked"));
        return QStringLiteral("<") + text + QStringLiteral(">");
    }
    bool isEmpty() const override { return false; }
};

// Every text of the window, then of an About dialog.
QStringList texts(MainWindow &w, AboutDlg &about)
{
    QStringList out{w.windowTitle()};
    for (QAction *menu : w.menuBar()->actions())
        out << menu->text() << actionTexts(menu->menu()->actions());
    for (QAction *a : w.findChild<QToolBar *>()->actions())
        out << a->toolTip();
    out << about.windowTitle() << about.findChild<QPushButton *>()->text()
        << about.findChild<QTextEdit *>()->toPlainText();
    return out;
}

} // namespace

class TestExplorerWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_f.setUp(); }
    void cleanup() { m_f.tearDown(); }
    void windowNewAndExit();
    void aboutAsShownClosedByCloseOrEscape();
    void languageChangeReappliesTexts();

private:
    explorertest::Fixture m_f;
};

void TestExplorerWindow::windowNewAndExit()
{
    MainWindow &w = *m_f.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Zarnik Explorer"));
    QCOMPARE(w.size(), QSize(825, 687));
    const QList<QSize> sizes = w.windowIcon().availableSizes();
    for (int side : {16, 32, 48})
        QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));

    // Menus and tool tips: languageChangeReappliesTexts.
    auto *tools = w.findChild<QToolBar *>();
    QCOMPARE(w.toolBarArea(tools), Qt::TopToolBarArea);
    QCOMPARE(tools->iconSize(), QSize(16, 16));
    QCOMPARE(actionTexts(tools->actions()), QStringList({"New", "&Open...", "|", "Export..."}));
    for (QAction *a : tools->actions())
        QVERIFY2(a->isSeparator() || !a->icon().isNull(), qPrintable(a->text()));

    // The tree: empty, one column without header, 100 to 350 pixels wide
    // however the splitter is dragged.
    auto *splitter = w.findChild<QSplitter *>();
    QTreeWidget *tree = m_f.tree;
    QCOMPARE(tree->topLevelItemCount(), 0);
    QCOMPARE(tree->columnCount(), 1);
    QVERIFY(tree->isHeaderHidden());
    const int total = splitter->sizes()[0] + splitter->sizes()[1];
    splitter->setSizes({10, total - 10});
    QCOMPARE(tree->width(), 100);
    splitter->setSizes({total - 10, 10});
    QCOMPARE(tree->width(), 350);

    // New does nothing; Exit ends the event loop with 0.
    const int windows = QApplication::topLevelWidgets().size();
    // A real click on the tool button; the driver counts any dialog as
    // unexpected.
    QAction *newAction = w.findChild<QAction *>(QStringLiteral("actionNew"));
    QTest::mouseClick(w.findChild<QToolBar *>()->widgetForAction(newAction), Qt::LeftButton);
    QTest::qWait(50);
    QCOMPARE(QApplication::topLevelWidgets().size(), windows);
    QCOMPARE(m_f.tree->topLevelItemCount(), 0);
    QVERIFY(w.archive() == nullptr);
    QVERIFY(w.isVisible());

    QTimer::singleShot(0, &w, [this] { m_f.trigger("actionE_xit"); });
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(10000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!w.isVisible());
}

void TestExplorerWindow::aboutAsShownClosedByCloseOrEscape()
{
    // Its texts: languageChangeReappliesTexts. That the driver met it:
    // cleanup().
    m_f.driver->then([&](QWidget *dlg) {
        QCOMPARE(dlg->metaObject()->className(), "AboutDlg");
        QCOMPARE(dlg->parentWidget(), m_f.window);
        // Fixed size, window-modal: the main window takes no input meanwhile.
        QCOMPARE(dlg->size(), QSize(587, 314));
        dlg->resize(800, 600);
        QCOMPARE(dlg->size(), QSize(587, 314));
        QCOMPARE(dlg->windowModality(), Qt::WindowModal);
        QCOMPARE(QApplication::activeModalWidget(), dlg);
        QCOMPARE(dlg->contextMenuPolicy(), Qt::NoContextMenu);
        QCOMPARE(dlg->findChild<QLabel *>()->pixmap().size(), QSize(256, 255));

        auto *edit = dlg->findChild<QTextEdit *>();
        QVERIFY(!edit->isEnabled() && edit->isReadOnly());
        // Disabled, yet black rather than the grey of disabled text.
        QCOMPARE(edit->palette().color(QPalette::Disabled, QPalette::Text), QColor(Qt::black));
        // The format before the end of a found word is its last letter's.
        QVERIFY(!edit->document()->find("Written").charFormat().fontUnderline());
        const QTextCharFormat author = edit->document()->find("Pellworth").charFormat();
        QVERIFY(author.fontWeight() >= QFont::DemiBold && author.fontUnderline());

        QTest::mouseClick(dlg->findChild<QPushButton *>(), Qt::LeftButton);
    });
    m_f.trigger("actionAbout");
    // Nothing of the dialog outlives the command; a second one is fresh and
    // Escape ends it.
    QVERIFY(m_f.window->findChildren<AboutDlg *>().isEmpty());
    m_f.driver->then([](QWidget *dlg) { QTest::keyClick(dlg, Qt::Key_Escape); });
    m_f.trigger("actionAbout");
    QVERIFY(m_f.window->findChildren<AboutDlg *>().isEmpty());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(m_f.window->isVisible());
}

void TestExplorerWindow::languageChangeReappliesTexts()
{
    // Hidden windows get the language change too.
    AboutDlg about(m_f.window);
    const QStringList source = texts(*m_f.window, about);
    QCOMPARE(source, QStringList({"Zarnik Explorer", "&File", "New", "&Open...", "|", "E&xit",
                                  "&Edit", "Export...", "Help", "About...", "New",
                                  "Open Zarnik Pack", "", "Export selected", "About...", "Close",
                                  "Zarnik Resources Explorer\n\nWritten by Pellworth"}));

    // Installing a translator sends the language change to every widget.
    MarkingTranslator marking;
    QVERIFY(QCoreApplication::installTranslator(&marking));
    QCoreApplication::processEvents();
    QStringList marked;
    for (const QString &s : source)
        marked << (s.isEmpty() || s == "|" ? s
                   : s.contains('\n')      ? QString(s).replace("Pellworth", "Marked")
                                           : '<' + s + '>');
    QCOMPARE(texts(*m_f.window, about), marked);
    QCOMPARE(about.findChild<QLabel *>()->pixmap().size(), QSize(256, 255));

    QVERIFY(QCoreApplication::removeTranslator(&marking));
    QCoreApplication::processEvents();
    QCOMPARE(texts(*m_f.window, about), source);
}

QTEST_MAIN(TestExplorerWindow)
#include "test_explorer_window.moc"
