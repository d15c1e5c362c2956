// Pack names and paths as the window shows them: as the tool prints them,
// with '/' between the folders and control characters escaped, so that a
// name never shows as boxes or splits a line.
#pragma once

#include <QString>

#include <string>

QString shownText(const std::string &latin1);
