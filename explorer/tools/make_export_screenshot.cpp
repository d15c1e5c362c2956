// Takes the export screenshot in docs/: the real main window opens a pack
// through its Open command, exports a folder through the Export command and
// its directory dialog, and the screen under the main window is grabbed
// while the progress dialog runs. Needs a real display (Xvfb will do, with a
// window manager for the frames): the dialog is a window of its own, so
// grabbing the main window alone would miss it.
//
//   make_export_screenshot PACK FOLDER_PATH DEST_DIR OUT_PNG
//
// FOLDER_PATH is the archive path of the folder to export, e.g.
// content\music; DEST_DIR must exist.
#include "MainWindow.h"
#include "ProgressDlg.h"

#include <QAction>
#include <QApplication>
#include <QStandardPaths>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QTreeView>

#include <cstdio>

namespace {

// Unfolds the rows down to the one whose path (texts joined by '\\') is
// `path`; invalid when there is none.
QModelIndex findPath(QTreeView *tree, const QString &path)
{
    const QAbstractItemModel *model = tree->model();
    QModelIndex parent;
    for (const QString &part : path.split('\\')) {
        tree->expand(parent);
        QModelIndex next;
        for (int i = 0; i < model->rowCount(parent) && !next.isValid(); ++i)
            if (model->index(i, 0, parent).data().toString() == part)
                next = model->index(i, 0, parent);
        if (!next.isValid())
            return {};
        parent = next;
    }
    return parent;
}


// Fills each file dialog that opens with the next of the answers, and accepts it.
void answerFileDialogs(QTimer &timer, QStringList answers)
{
    QObject::connect(&timer, &QTimer::timeout, [answers]() mutable {
        auto *dlg = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dlg || answers.isEmpty() || !dlg->isVisible())
            return;
        dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(answers.takeFirst());
        static_cast<QDialog *>(dlg)->accept();
    });
    timer.start(10);
}

// Grabs the screen under the window once the export's bar is well under way,
// so the dialog shows a file's path and a percentage rather than its first
// state; then quits with rc when the export's dialog has gone.
void grabWhenUnderWay(QTimer &watch, MainWindow &window, const QString &out, int &rc)
{
    QObject::connect(&watch, &QTimer::timeout, [&watch, &window, out, &rc] {
        auto *dlg = window.findChild<ProgressDlg *>();
        if (!dlg) {
            watch.stop();
            std::fprintf(stderr, "make_export_screenshot: the export ended before the grab\n");
            qApp->exit(1);
            return;
        }
        const int value = dlg->findChild<QProgressBar *>(QStringLiteral("progressBar"))->value();
        if (value < 35)
            return;
        watch.stop();
        // The screen under the main window: the dialog lies over it.
        const QRect r = window.frameGeometry();
        rc = QGuiApplication::primaryScreen()
                     ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
                     .save(out, "PNG")
                 ? 0
                 : 1;
        // Leave the export to finish; quit when its dialog has gone.
        QTimer *done = new QTimer(qApp);
        QObject::connect(done, &QTimer::timeout, [&window, &rc] {
            if (!window.findChild<ProgressDlg *>())
                qApp->exit(rc);
        });
        done->start(50);
    });
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The window remembers packs and folders: here in Qt's test settings,
    // not the user's.
    QStandardPaths::setTestModeEnabled(true);
    if (argc != 5) {
        std::fprintf(stderr, "usage: make_export_screenshot PACK FOLDER_PATH DEST_DIR OUT_PNG\n");
        return 2;
    }
    const QString pack = QFile::decodeName(argv[1]);
    const QString folder = QString::fromLatin1(argv[2]);
    const QString dest = QFile::decodeName(argv[3]);
    const QString out = QFile::decodeName(argv[4]);

    MainWindow window;
    window.move(40, 40);
    window.show();

    // Answer the file dialogs as a user would: the pack first, then the
    // export's directory.
    QTimer answer;
    answerFileDialogs(answer, {pack, dest});

    int rc = 1;
    QTimer watch;
    grabWhenUnderWay(watch, window, out, rc);

    QTimer::singleShot(0, [&] {
        window.findChild<QAction *>(QStringLiteral("action_Open"))->trigger();
        auto *tree = window.findChild<QTreeView *>(QStringLiteral("treeWidget"));
        const QModelIndex item = findPath(tree, folder);
        if (!item.isValid()) {
            std::fprintf(stderr, "make_export_screenshot: no %s in the pack\n", argv[2]);
            app.exit(1);
            return;
        }
        tree->setCurrentIndex(item);
        tree->setFocus();
        window.findChild<QAction *>(QStringLiteral("actionExport"))->trigger();
        if (!window.findChild<ProgressDlg *>()) {
            std::fprintf(stderr, "make_export_screenshot: the export did not start\n");
            app.exit(1);
            return;
        }
        watch.start(5);
    });
    app.exec();
    if (rc == 0)
        std::printf("Screenshot written to %s\n", qPrintable(out));
    return rc;
}
