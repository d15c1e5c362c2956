// Names between the pack and the terminal: pack names are 8-bit Latin-1 with
// '\' separators; what the user reads and types is UTF-8 with '/'.
#pragma once

#include "PackPath.h"

#include <optional>
#include <string>

// A pack name or path as UTF-8 text, separators kept.
std::string DisplayName(const std::string &latin1);

// A pack path as UTF-8 with '/' separators: the form patterns match and
// `cat` looks up. Raw: not for printing (see ShownPath).
std::string SlashPath(const std::string &latin1);

// Names and paths escaped as the explorer shows them too (PackPath.h).
using zarnik::Printable;
using zarnik::ShownPath;

using zarnik::Latin1FromUtf8;
