// Takes a screenshot in docs/: the real main window, a sample pack opened
// as the command line opens one, a few folders unfolded and
// a picture chosen for the preview; or, given FILTER, that typed into the
// filter line and its first file chosen.
//
//   make_screenshot SAMPLE_PACK OUT_PNG [FILTER]
#include "DetailsPane.h"
#include "MainWindow.h"

#include <QApplication>
#include <QStandardPaths>
#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <functional>
#include <utility>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The window remembers packs and folders: here in Qt's test settings,
    // not the user's.
    QStandardPaths::setTestModeEnabled(true);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: make_screenshot SAMPLE_PACK OUT_PNG [FILTER]\n");
        return 2;
    }
    // Whole, as the file dialog may start in another folder.
    const QString pack = QFileInfo(QFile::decodeName(argv[1])).absoluteFilePath();
    const QString out = QFile::decodeName(argv[2]);
    const QString filter = argc == 4 ? QString::fromLocal8Bit(argv[3]) : QString();

    MainWindow window;
    window.resize(1000, 600);
    window.show();

    int rc = 1;
    QTimer::singleShot(0, [&] {
        window.openPack(pack);
        auto *tree = window.findChild<QTreeView *>(QStringLiteral("treeWidget"));
        const QAbstractItemModel *model = tree->model();
        if (model->rowCount() != 1) {
            std::fprintf(stderr, "make_screenshot: the pack did not open\n");
            app.exit(1);
            return;
        }
        const QModelIndex top = model->index(0, 0);
        tree->expand(top);
        QModelIndex chosen;
        if (filter.isEmpty()) {
            // Unfold the root and its folders, choose the sky picture.
            for (int i = 0; i < model->rowCount(top); ++i)
                if (model->hasChildren(model->index(i, 0, top)))
                    tree->expand(model->index(i, 0, top));
            chosen = model->match(top, Qt::DisplayRole, QStringLiteral("sky.bmp"), 1,
                                  Qt::MatchExactly | Qt::MatchRecursive).value(0);
        } else {
            window.findChild<QLineEdit *>(QStringLiteral("filterEdit"))->setText(filter);
            // The first file the filter left standing.
            const std::function<QModelIndex(const QModelIndex &)> firstFile = [&](const QModelIndex &parent) {
                for (int i = 0; i < model->rowCount(parent); ++i) {
                    const QModelIndex at = model->index(i, 0, parent);
                    const QModelIndex file = model->hasChildren(at) ? firstFile(at) : at;
                    if (file.isValid())
                        return file;
                }
                return QModelIndex();
            };
            chosen = firstFile({});
        }
        if (chosen.isValid())
            tree->setCurrentIndex(chosen);
        tree->setFocus();
        // The preview is made on a worker thread: the picture is taken once
        // it stands (or after a second without it).
        auto *pane = window.findChild<DetailsPane *>();
        const auto take = [&] {
            static bool taken = false;
            if (std::exchange(taken, true))
                return;
            rc = window.grab().save(out, "PNG") ? 0 : 1;
            app.exit(rc);
        };
        QObject::connect(pane, &DetailsPane::previewShown, &app,
                         [&app, take] { QTimer::singleShot(100, &app, take); });
        QTimer::singleShot(1000, &app, take);
    });
    app.exec();
    if (rc == 0)
        std::printf("Screenshot written to %s\n", qPrintable(out));
    return rc;
}
