// Takes the screenshot in docs/: the real main window, a sample pack opened
// through its own Open command and file dialog, a few folders unfolded.
//
//   make_screenshot SAMPLE_PACK OUT_PNG
#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_screenshot SAMPLE_PACK OUT_PNG\n");
        return 2;
    }
    const QString pack = QFile::decodeName(argv[1]);
    const QString out = QFile::decodeName(argv[2]);

    MainWindow window;
    window.show();

    // Answer the Open command's dialog as a user would.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *dlg = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        answer.stop();
        dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(pack);
        static_cast<QDialog *>(dlg)->accept();
    });
    answer.start(10);

    int rc = 1;
    QTimer::singleShot(0, [&] {
        window.findChild<QAction *>(QStringLiteral("action_Open"))->trigger();
        auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
        if (tree->topLevelItemCount() != 1) {
            std::fprintf(stderr, "make_screenshot: the pack did not open\n");
            app.exit(1);
            return;
        }
        // Unfold the root and its folders, select the first picture found.
        QTreeWidgetItem *top = tree->topLevelItem(0);
        top->setExpanded(true);
        for (int i = 0; i < top->childCount(); ++i)
            if (top->child(i)->childCount() > 0)
                top->child(i)->setExpanded(true);
        const auto found = tree->findItems(QStringLiteral("sky.bmp"), Qt::MatchRecursive);
        if (!found.isEmpty())
            tree->setCurrentItem(found.first());
        tree->setFocus();
        QTimer::singleShot(200, [&] {
            rc = window.grab().save(out, "PNG") ? 0 : 1;
            app.exit(rc);
        });
    });
    app.exec();
    if (rc == 0)
        std::printf("Screenshot written to %s\n", qPrintable(out));
    return rc;
}
