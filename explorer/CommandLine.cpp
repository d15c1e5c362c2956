#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

QString packFromCommandLine(const QStringList &arguments)
{
    QCoreApplication::setApplicationName(QStringLiteral("zarnik-explorer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZARNIK_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::translate("CommandLine",
                                    "Browse a Zarnik pack (.upk, .vfs or content.vfi) and export "
                                    "files from it."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("pack"),
                                 QCoreApplication::translate("CommandLine", "The pack to open."),
                                 QStringLiteral("[PACK]"));
    parser.process(arguments);
    // One window shows one pack: a second name is a mistake, not a wish.
    const QStringList packs = parser.positionalArguments();
    if (packs.size() > 1) {
        std::fprintf(stderr, "%s\n",
                     qPrintable(QCoreApplication::translate(
                                    "CommandLine", "zarnik-explorer: one pack at a time; %1 is left over.")
                                    .arg(packs.mid(1).join(QLatin1Char(' ')))));
        std::exit(1);
    }
    return packs.value(0);
}
