// Shell-style patterns on the '/' form of archive paths (UTF-8).
//
//   *      any run of characters within one path segment
//   **     any run of characters across segments; "**/" also stands for none
//   ?      one character other than '/'
//   [...]  one character of a set: ranges a-z, "!" or "^" first negates
//
// There is no escape character: '\' is a path separator on the command line.
// A literal '*', '?' or '[' is written as "[*]", "[?]", "[[]".
#pragma once

#include <string>

bool GlobMatch(const std::string &pattern, const std::string &text);

// A pattern as typed into the form it is matched in: '\' becomes '/', and
// trailing '/' are dropped so that "content/data/" names the folder.
std::string NormalizePattern(std::string pattern);
