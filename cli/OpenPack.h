// Opening the pack named on the command line, with a one-line explanation on
// standard error when it does not open.
#pragma once

#include "ZarnikArchive.h"

#include <filesystem>
#include <memory>
#include <string>

// Exit status of the tool.
enum ExitStatus { kExitOk = 0, kExitFileFailed = 1, kExitUsage = 2 };

// The archive opened from `argument` (a path as the user typed it), or null
// after one line on standard error naming the file and the reason.
std::unique_ptr<const zarnik::CZarnikArchive> OpenPack(const std::string &argument);

// The path the library is given: absolute, as the system reads it.
std::string LibraryPath(const std::string &argument);

// One line on standard error, prefixed with the tool's name.
void PrintError(const std::string &message);

// The folder the user named for files to be written in, made when missing;
// empty after a message when it cannot be used.
std::filesystem::path DestinationFolder(const std::string &typed);
