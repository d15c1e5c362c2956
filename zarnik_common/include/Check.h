// Always-on checks of the archive library.
//
// A check evaluates its condition; when the condition is false it hands the
// expression text, the source file and the line to the installed reporter
// and yields false, so the caller goes on to its own failure path. Checks
// never abort and are never compiled out: they guard against hostile packs.
#pragma once

namespace zarnik {

using CheckReporter = void (*)(const char *expression, const char *file, int line);

// Installs a reporter (nullptr restores the default, one line on stderr) and
// returns the previous one. Safe to call from any thread.
CheckReporter SetCheckReporter(CheckReporter reporter);

// Reports a failed check and returns false.
bool CheckFailed(const char *expression, const char *file, int line);

} // namespace zarnik

// ZARNIK_CHECK(cond): true when cond holds; otherwise reports "cond" and is false.
#define ZARNIK_CHECK(cond) \
    ((cond) ? true : ::zarnik::CheckFailed(#cond, __FILE__, __LINE__))

// The same with an expression text of the caller's choice, for conditions
// whose natural spelling is not valid C++ here (e.g. "result != FALSE").
#define ZARNIK_CHECK_TEXT(cond, text) \
    ((cond) ? true : ::zarnik::CheckFailed(text, __FILE__, __LINE__))
