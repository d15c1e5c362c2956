// The explorer's command line: `zarnik-explorer [PACK [--compare OTHER]]`, with --help and
// --version, which print and end the program.
#pragma once

#include <QString>
#include <QStringList>

// The pack to open at start ("" for none). Sets the application's name and
// version first; on --help, --version or an unknown option prints and exits.
// `compare`, when given, gets the version to compare the pack with ("" for
// none); --compare without a pack is refused.
QString packFromCommandLine(const QStringList &arguments, QString *compare = nullptr);
