// Pack names and paths as the window shows them: as the tool prints them,
// with '/' between the folders and control characters escaped, so that a
// name never shows as boxes or splits a line.
#pragma once

#include <QString>

#include <string>

QString shownText(const std::string &latin1);

// A size in units of 1024 ("12.3 KiB", as the tool writes it), the bytes themselves below that ("1 byte", "999 bytes"), numbers in the locale's form.
QString sizeText(quint64 bytes);

// A count in words: `none` for 0 when given, `one` for 1, else `many` with
// the number as the locale writes it ("1 file", "12,345 files").
QString countText(quint64 n, const QString &one, const QString &many, const QString &none = QString());
