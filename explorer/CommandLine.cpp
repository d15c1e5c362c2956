#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

QString packFromCommandLine(const QStringList &arguments, QString *compare)
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
    const QCommandLineOption compareOption(
        QStringLiteral("compare"),
        QCoreApplication::translate("CommandLine",
                                    "Compare the pack with another version of it (a pack, a folder read as "
                                    "'zarnik create' packs it, or a list saved by 'zarnik hash'): the tree shows "
                                    "what was added, removed, modified and renamed."),
        QStringLiteral("OTHER"));
    parser.addOption(compareOption);
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
    if (parser.isSet(compareOption) && packs.isEmpty()) {
        std::fprintf(stderr, "%s\n",
                     qPrintable(QCoreApplication::translate("CommandLine",
                                                            "zarnik-explorer: --compare needs a pack to compare.")));
        std::exit(1);
    }
    if (compare)
        *compare = parser.value(compareOption);
    return packs.value(0);
}
