// What the tool needs of the console it runs in, the same on every
// platform: UTF-8 arguments and output, whether standard error is a
// terminal, and its width.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The command-line arguments as UTF-8, argv[0] first. On Windows they are
// read as UTF-16 from the system, and standard output and error are set to
// write UTF-8 bytes unchanged (no "\r" added to "\n", as `cat` needs).
std::vector<std::string> SetUpConsole(int argc, char **argv);

bool StandardErrorIsTerminal();

// The width of the terminal on standard error in columns; 80 when unknown.
size_t TerminalWidth();
