// The main window as a user meets it: what it shows, what New and Exit do,
// and its texts coming back after a language change.
#include "MainWindow.h"
#include "ModalDriver.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QTranslator>
#include <QTreeWidget>

namespace {

// "&Open..." etc. in menu order; a separator shows as "|".
QStringList actionTexts(const QList<QAction *> &actions)
{
    QStringList out;
    for (QAction *a : actions)
        out << (a->isSeparator() ? QStringLiteral("|") : a->text());
    return out;
}

// Marks every text it translates, so a test can tell a re-applied text from
// one that was left alone.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (qstrcmp(context, "MainWindow") != 0)
            return QString();
        return QStringLiteral("<") + QString::fromUtf8(source) + QStringLiteral(">");
    }
    bool isEmpty() const override { return false; }
};

QStringList windowTexts(MainWindow &w)
{
    auto action = [&](const char *name) { return w.findChild<QAction *>(name); };
    auto menu = [&](const char *name) { return w.findChild<QMenu *>(name)->title(); };
    return {w.windowTitle(),
            action("action_Open")->text(),
            action("action_Open")->toolTip(),
            action("actionE_xit")->text(),
            action("actionExport")->text(),
            action("actionExport")->toolTip(),
            action("actionNew")->text(),
            action("actionAbout")->text(),
            menu("menu_File"),
            menu("menu_Edit"),
            menu("menuHelp")};
}

} // namespace

class TestExplorerWindow : public QObject
{
    Q_OBJECT

private slots:
    void windowAsShown();
    void treeAndPanel();
    void newIsInert();
    void exitEndsTheLoopWithZero();
    void languageChangeReappliesTexts();
};

void TestExplorerWindow::windowAsShown()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QCOMPARE(w.windowTitle(), QStringLiteral("Zarnik Explorer"));
    QCOMPARE(w.size(), QSize(825, 687));
    // The window icon is the .ico with its three sizes.
    const QList<QSize> sizes = w.windowIcon().availableSizes();
    for (int side : {16, 32, 48})
        QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));

    QMenuBar *bar = w.menuBar();
    QCOMPARE(actionTexts(bar->actions()), QStringList({"&File", "&Edit", "Help"}));
    QCOMPARE(actionTexts(bar->actions()[0]->menu()->actions()),
             QStringList({"New", "&Open...", "|", "E&xit"}));
    QCOMPARE(actionTexts(bar->actions()[1]->menu()->actions()), QStringList({"Export..."}));
    QCOMPARE(actionTexts(bar->actions()[2]->menu()->actions()), QStringList({"About..."}));

    auto *tools = w.findChild<QToolBar *>(QStringLiteral("mainToolBar"));
    QVERIFY(tools);
    QCOMPARE(w.toolBarArea(tools), Qt::TopToolBarArea);
    QCOMPARE(tools->iconSize(), QSize(16, 16));
    QCOMPARE(actionTexts(tools->actions()), QStringList({"New", "&Open...", "|", "Export..."}));
    for (QAction *a : tools->actions()) {
        if (a->isSeparator())
            continue;
        QVERIFY2(!a->icon().isNull(), qPrintable(a->text()));
        QVERIFY(a->shortcut().isEmpty());
    }
    QCOMPARE(tools->actions()[1]->toolTip(), QStringLiteral("Open Zarnik Pack"));
    QCOMPARE(tools->actions()[3]->toolTip(), QStringLiteral("Export selected"));
    auto *exitAction = w.findChild<QAction *>(QStringLiteral("actionE_xit"));
    auto *aboutAction = w.findChild<QAction *>(QStringLiteral("actionAbout"));
    QVERIFY(exitAction->icon().isNull() && aboutAction->icon().isNull());
    QVERIFY(exitAction->shortcut().isEmpty() && aboutAction->shortcut().isEmpty());

    QVERIFY(w.statusBar()->isVisible());
    QVERIFY(w.statusBar()->currentMessage().isEmpty());
}

void TestExplorerWindow::treeAndPanel()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    auto *splitter = w.findChild<QSplitter *>(QStringLiteral("splitter"));
    auto *tree = w.findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    auto *frame = w.findChild<QFrame *>(QStringLiteral("frame"));
    QVERIFY(splitter && tree && frame);
    QCOMPARE(splitter->orientation(), Qt::Horizontal);
    QCOMPARE(splitter->widget(0), tree);
    QCOMPARE(splitter->widget(1), frame);
    QCOMPARE(splitter->count(), 2);

    QCOMPARE(tree->topLevelItemCount(), 0);
    QCOMPARE(tree->columnCount(), 1);
    QVERIFY(tree->isHeaderHidden());
    QCOMPARE(tree->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(!tree->isSortingEnabled());
    QCOMPARE(frame->frameShape(), QFrame::Panel);
    QCOMPARE(frame->frameShadow(), QFrame::Raised);
    QVERIFY(frame->children().isEmpty());

    // Dragging the splitter: the tree stays between 100 and 350 pixels, the
    // panel takes the rest.
    const int total = splitter->sizes()[0] + splitter->sizes()[1];
    splitter->setSizes({10, total - 10});
    QCOMPARE(tree->width(), 100);
    splitter->setSizes({total - 10, 10});
    QCOMPARE(tree->width(), 350);
    QCOMPARE(splitter->sizes()[1], total - 350);
}

void TestExplorerWindow::newIsInert()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    ModalDriver driver;
    const QWidgetList before = QApplication::topLevelWidgets();
    auto *tree = w.findChild<QTreeWidget *>(QStringLiteral("treeWidget"));

    // From the tool bar (a real click) and from the menu.
    auto *tools = w.findChild<QToolBar *>(QStringLiteral("mainToolBar"));
    QWidget *newButton = tools->widgetForAction(w.findChild<QAction *>(QStringLiteral("actionNew")));
    QVERIFY(newButton);
    QTest::mouseClick(newButton, Qt::LeftButton);
    w.findChild<QAction *>(QStringLiteral("actionNew"))->trigger();
    QTest::qWait(50);

    QCOMPARE(driver.unexpected(), 0);
    QCOMPARE(QApplication::topLevelWidgets().size(), before.size());
    QCOMPARE(tree->topLevelItemCount(), 0);
    QVERIFY(w.archive() == nullptr);
    QCOMPARE(w.windowTitle(), QStringLiteral("Zarnik Explorer"));
    QVERIFY(w.isVisible());
}

void TestExplorerWindow::exitEndsTheLoopWithZero()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTimer::singleShot(0, &w, [&w] {
        // The user opens the File menu and picks Exit.
        w.findChild<QAction *>(QStringLiteral("actionE_xit"))->trigger();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(10000);
    const int rc = QApplication::exec();
    QCOMPARE(rc, 0);
    QVERIFY(!w.isVisible());
}

void TestExplorerWindow::languageChangeReappliesTexts()
{
    MainWindow w;
    w.show();
    const QStringList source = windowTexts(w);
    QCOMPARE(source,
             QStringList({"Zarnik Explorer", "&Open...", "Open Zarnik Pack", "E&xit", "Export...",
                          "Export selected", "New", "About...", "&File", "&Edit", "Help"}));

    // Installing a translator sends the language change to every widget.
    MarkingTranslator marking;
    QVERIFY(QCoreApplication::installTranslator(&marking));
    QCoreApplication::processEvents();
    QStringList marked;
    for (const QString &s : source)
        marked << QStringLiteral("<") + s + QStringLiteral(">");
    QCOMPARE(windowTexts(w), marked);

    QVERIFY(QCoreApplication::removeTranslator(&marking));
    QCoreApplication::processEvents();
    QCOMPARE(windowTexts(w), source);
}

QTEST_MAIN(TestExplorerWindow)
#include "test_explorer_window.moc"
