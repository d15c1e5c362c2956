// zarnik-explorer [PACK [--compare OTHER]]: open a Zarnik pack, browse its tree, export from it.
#include "CommandLine.h"
#include "MainWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

int main(int argc, char *argv[])
{
    // Read before the window system is reached: --help and --version answer
    // without a display.
    QString pack, compare;
    {
        QCoreApplication commandLine(argc, argv);
        pack = packFromCommandLine(QCoreApplication::arguments(), &compare);
    }
    QApplication app(argc, argv);
    // Where the settings go: ~/.config/Zarnik/zarnik-explorer.conf.
    QCoreApplication::setOrganizationName(QStringLiteral("Zarnik"));
    QCoreApplication::setApplicationName(QStringLiteral("zarnik-explorer"));
    MainWindow window;
    window.show();
    // Once the window stands, so that a message about the pack has a parent
    // on the screen.
    if (!pack.isEmpty())
        QTimer::singleShot(0, &window, [&window, pack, compare] {
            if (window.openPack(QFileInfo(pack).absoluteFilePath()) && !compare.isEmpty())
                window.compareWith(QFileInfo(compare).absoluteFilePath());
        });
    return app.exec();
}
