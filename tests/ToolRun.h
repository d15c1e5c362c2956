// Running the built tool as a program, as a user's shell would, and
// reading back what it printed: for the tests of its commands. The test
// target defines ZARNIK_EXE, the tool's path.
#pragma once

#include "TestSupport.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include <string>
#include <vector>

namespace testsupport {

struct Result
{
    int status = -1;
    std::string out, err;
};

inline std::string Text(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

inline std::string Quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A prefix for Zarnik: a POSIX shell runs `script` with "$@" the tool and its arguments.
inline std::string Shell(const std::string &script) { return "sh -c " + Quote(script) + " sh "; }

#ifdef _WIN32
// One argument as CommandLineToArgvW reads it back.
inline std::wstring QuoteArgument(const std::wstring &text)
{
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    return quoted.append(2 * backslashes, L'\\') + L"\"";
}
#endif

// Runs the built tool in `cwd` after `prefix` (a shell command, see Shell); a hang ends after two minutes.
inline Result Zarnik(const std::vector<std::string> &args, const std::string &cwd = ".", const std::string &prefix = "")
{
    TempDir io;
    std::string notStarted; // why the tool never ran, where the system says so
#ifdef _WIN32
    static_cast<void>(prefix); // a POSIX shell command: tests that need one skip on Windows
    std::string exe = ZARNIK_EXE;
    if (exe[0] == '/') // cross-built: the build folder seen through Wine's Z: drive
        exe = "Z:" + exe;
    std::wstring line = QuoteArgument(fs::u8path(exe).wstring());
    for (const std::string &arg : args)
        line += L" " + QuoteArgument(fs::u8path(arg).wstring());
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const auto open = [&](const std::wstring &path, DWORD access, DWORD disposition) {
        return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition, 0, 0);
    };
    const std::wstring folder = fs::absolute(fs::u8path(cwd)).wstring();
    // A program the loader could not start did nothing: under Wine on a busy machine that happens now and
    // then, so it is started again. Whatever ran, exit status and crash alike, is the result.
    const auto started = [](DWORD code) { return code != 0xC0000018 && code != 0xC0000135 && code != 0xC0000142; };
    DWORD code = DWORD(-1);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = open(L"NUL", GENERIC_READ, OPEN_EXISTING);
        startup.hStdOutput = open((io.path() / "out").wstring(), GENERIC_WRITE, CREATE_ALWAYS);
        startup.hStdError = open((io.path() / "err").wstring(), GENERIC_WRITE, CREATE_ALWAYS);
        PROCESS_INFORMATION process = {};
        code = DWORD(-1);
        notStarted.clear();
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup, &process)) {
            notStarted = "the tool did not start: error " + std::to_string(GetLastError()) + "\n";
        } else {
            if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0)
                TerminateProcess(process.hProcess, DWORD(-1));
            GetExitCodeProcess(process.hProcess, &code);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
            if (!started(code))
                notStarted = "the tool did not start: status " + std::to_string(code) + "\n";
        }
        for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
            CloseHandle(handle);
        if (notStarted.empty())
            break;
    }
    const int status = static_cast<int>(code);
#else
    std::string command = "cd " + Quote(cwd) + " && timeout 120 " + prefix + Quote(ZARNIK_EXE);
    for (const std::string &arg : args)
        command += " " + Quote(arg);
    const int shell = std::system((command + " >" + Quote(io.file("out")) + " 2>" + Quote(io.file("err"))).c_str());
    const int status = WIFEXITED(shell) ? WEXITSTATUS(shell) : -1;
#endif
    return {status, Text(ReadAll(io.file("out"))), notStarted + Text(ReadAll(io.file("err")))};
}

// The exit status, and texts that must appear on standard output and error.
inline testing::AssertionResult Ran(const Result &r, int status, const std::vector<std::string> &out,
                                    const std::vector<std::string> &err = {})
{
    const auto holds = [](const std::string &text, const std::vector<std::string> &parts) {
        return std::all_of(parts.begin(), parts.end(), [&](const std::string &p) { return text.find(p) != text.npos; });
    };
    return r.status == status && holds(r.out, out) && holds(r.err, err)
              ? testing::AssertionSuccess()
              : testing::AssertionFailure() << "exit " << r.status << "\nout: " << r.out << "\nerr: " << r.err;
}

} // namespace testsupport
