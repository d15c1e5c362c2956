// Shell-style patterns on the '/' form of archive paths (UTF-8).
//
//   *      any run of characters within one path segment
//   **     any run of characters across segments; "**/" also stands for none
//   ?      one character other than '/'
//   [...]  one character of a set: ranges a-z, "!" or "^" first negates
//
// A pattern is read as `list` prints paths (PathRule.h): \n, \t, \xHH ...
// stand for the characters `list` escapes, and any other '\' separates
// names. A literal '*', '?' or '[' is written as "[*]", "[?]", "[[]".
#pragma once

#include <string>

bool GlobMatch(const std::string &pattern, const std::string &text);

// A pattern as typed, in the form it is matched in: '/' between names, and
// a '/' at the end dropped so that "content/data/" names the folder.
std::string NormalizePattern(const std::string &pattern);
