#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

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
    return parser.positionalArguments().value(0);
}
