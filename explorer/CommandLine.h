// The explorer's command line: `zarnik-explorer [PACK]`, with --help and
// --version, which print and end the program.
#pragma once

#include <QString>
#include <QStringList>

// The pack to open at start ("" for none). Sets the application's name and
// version first; on --help, --version or an unknown option prints and exits.
QString packFromCommandLine(const QStringList &arguments);
