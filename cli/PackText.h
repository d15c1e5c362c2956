// Names between the pack and the terminal: pack names are 8-bit Latin-1 with
// '\' separators; what the user reads and types is UTF-8 with '/'.
#pragma once

#include <optional>
#include <string>

// A pack name or path as UTF-8 text, separators kept.
std::string DisplayName(const std::string &latin1);

// A pack path as UTF-8 with '/' separators: the form patterns match and
// `cat` looks up. Raw: not for printing (see ShownPath).
std::string SlashPath(const std::string &latin1);

// UTF-8 text as it may reach a terminal: a name must neither steer the
// terminal nor split a line. Control characters (below 0x20, 0x7F and
// U+0080..U+009F) become \n, \r, \t or \xHH (the Latin-1 code, lower-case
// hex), a byte that is no UTF-8 becomes \xHH, and '\' becomes \\ so that
// every escape reads back one way (not on Windows, where '\' separates the
// folders of a path and no name holds a control character). Everything the tool prints for people
// that comes from a pack or the file system goes through here.
std::string Printable(const std::string &utf8);

// A pack path as printed for people: SlashPath, then Printable.
std::string ShownPath(const std::string &latin1);

// UTF-8 text back to Latin-1; nothing when it is not valid UTF-8 or holds a
// character above U+00FF.
std::optional<std::string> Latin1FromUtf8(const std::string &utf8);
