// The About dialog, opened from the main window's Help menu.
#include "AboutDlg.h"
#include "MainWindow.h"
#include "ModalDriver.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTranslator>

namespace {

class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (qstrcmp(context, "AboutDlg") != 0)
            return QString();
        const QString text = QString::fromUtf8(source);
        // The rich text stays a document; only its author is marked.
        if (text.contains(QStringLiteral("<html>")))
            return QString(text).replace(QStringLiteral("Pellworth"), QStringLiteral("Marked"));
        return QStringLiteral("<") + text + QStringLiteral(">");
    }
    bool isEmpty() const override { return false; }
};

// The character format at the start of `word` in the document.
QTextCharFormat formatOf(QTextEdit *edit, const QString &word)
{
    QTextCursor c = edit->document()->find(word);
    if (c.isNull())
        return QTextCharFormat();
    c.setPosition(c.selectionStart() + 1);
    return c.charFormat();
}

} // namespace

class TestExplorerAbout : public QObject
{
    Q_OBJECT

private slots:
    void dialogAsShown();
    void closeAndEscapeEndIt();
    void languageChangeKeepsLogo();
};

void TestExplorerAbout::dialogAsShown()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    ModalDriver driver;
    bool seen = false;
    driver.then([&](QWidget *dlg) {
        seen = true;
        QCOMPARE(dlg->metaObject()->className(), "AboutDlg");
        QCOMPARE(dlg->parentWidget(), &w);
        QCOMPARE(dlg->windowTitle(), QStringLiteral("About..."));
        // Fixed size, window-modal over the main window.
        QCOMPARE(dlg->size(), QSize(587, 314));
        QCOMPARE(dlg->minimumSize(), QSize(587, 314));
        QCOMPARE(dlg->maximumSize(), QSize(587, 314));
        QCOMPARE(dlg->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(dlg->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(dlg->windowModality(), Qt::WindowModal);
        QVERIFY(static_cast<QDialog *>(dlg)->isModal());
        QCOMPARE(dlg->contextMenuPolicy(), Qt::NoContextMenu);
        dlg->resize(800, 600);
        QCOMPARE(dlg->size(), QSize(587, 314));

        auto *label = dlg->findChild<QLabel *>(QStringLiteral("label"));
        QVERIFY(label);
        QCOMPARE(label->pixmap().size(), QSize(256, 255));
        QVERIFY(label->text().isEmpty());
        QCOMPARE(label->geometry(), QRect(10, 10, 261, 261));

        auto *edit = dlg->findChild<QTextEdit *>(QStringLiteral("textEdit"));
        QVERIFY(edit);
        QVERIFY(!edit->isEnabled());
        QVERIFY(edit->isReadOnly());
        QCOMPARE(edit->toPlainText(),
                 QStringLiteral("Zarnik Resources Explorer\n\nWritten by Pellworth"));
        // Disabled, yet black rather than the grey of disabled text.
        QCOMPARE(edit->palette().color(QPalette::Disabled, QPalette::Text), QColor(Qt::black));
        const QTextCharFormat title = formatOf(edit, QStringLiteral("Zarnik"));
        QCOMPARE(title.fontPointSize(), 12.0);
        QVERIFY(title.fontWeight() >= QFont::DemiBold);
        const QTextCharFormat by = formatOf(edit, QStringLiteral("Written"));
        QVERIFY(by.fontWeight() < QFont::DemiBold && !by.fontUnderline());
        const QTextCharFormat author = formatOf(edit, QStringLiteral("Pellworth"));
        QVERIFY(author.fontWeight() >= QFont::DemiBold);
        QVERIFY(author.fontUnderline());
        for (QTextBlock b = edit->document()->begin(); b.isValid(); b = b.next())
            QCOMPARE(b.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);

        // The main window takes no input meanwhile.
        QCOMPARE(QApplication::activeModalWidget(), dlg);
        auto *close = dlg->findChild<QPushButton *>(QStringLiteral("pushButton"));
        QCOMPARE(close->text(), QStringLiteral("Close"));
        QTest::mouseClick(close, Qt::LeftButton);
    });
    w.findChild<QAction *>(QStringLiteral("actionAbout"))->trigger();
    QVERIFY(seen);
    QCOMPARE(driver.pending(), size_t(0));
    // Nothing of the dialog outlives the command.
    QVERIFY(w.findChildren<AboutDlg *>().isEmpty());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void TestExplorerAbout::closeAndEscapeEndIt()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    ModalDriver driver;
    driver.then([](QWidget *dlg) { QTest::keyClick(dlg, Qt::Key_Escape); });
    w.findChild<QAction *>(QStringLiteral("actionAbout"))->trigger();
    QCOMPARE(driver.pending(), size_t(0));
    QVERIFY(w.findChildren<AboutDlg *>().isEmpty());

    // A second About is a fresh dialog; Close ends it too.
    driver.then([](QWidget *dlg) {
        QTest::mouseClick(dlg->findChild<QPushButton *>(QStringLiteral("pushButton")),
                          Qt::LeftButton);
    });
    w.findChild<QAction *>(QStringLiteral("actionAbout"))->trigger();
    QCOMPARE(driver.pending(), size_t(0));
    QCOMPARE(driver.unexpected(), 0);
    QVERIFY(w.isVisible());
}

void TestExplorerAbout::languageChangeKeepsLogo()
{
    AboutDlg dlg(nullptr);
    dlg.show();
    auto *label = dlg.findChild<QLabel *>(QStringLiteral("label"));
    auto *edit = dlg.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    auto *close = dlg.findChild<QPushButton *>(QStringLiteral("pushButton"));

    MarkingTranslator marking;
    QVERIFY(QCoreApplication::installTranslator(&marking));
    QCoreApplication::processEvents();
    QCOMPARE(dlg.windowTitle(), QStringLiteral("<About...>"));
    QCOMPARE(close->text(), QStringLiteral("<Close>"));
    QVERIFY(edit->toPlainText().endsWith(QStringLiteral("Written by Marked")));
    QCOMPARE(label->pixmap().size(), QSize(256, 255));

    QVERIFY(QCoreApplication::removeTranslator(&marking));
    QCoreApplication::processEvents();
    QCOMPARE(dlg.windowTitle(), QStringLiteral("About..."));
    QCOMPARE(close->text(), QStringLiteral("Close"));
    QVERIFY(edit->toPlainText().endsWith(QStringLiteral("Written by Pellworth")));
    QCOMPARE(label->pixmap().size(), QSize(256, 255));
}

QTEST_MAIN(TestExplorerAbout)
#include "test_explorer_about.moc"
