#pragma once

// Command lines and the programs they start.

#include <windows.h>

#include <string>
#include <vector>

namespace zeltools {

// One argument quoted so that the C runtime's (and Wine's) command line
// splitting gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);
std::wstring JoinCommandLine(const std::vector<std::wstring>& arguments);

// The program at the start of a command line, by Windows' rule: a quoted
// first token ends at the next quote, without escapes, an unquoted one at the
// first blank or tab. `end` receives where the token ends.
std::wstring CommandProgram(const std::wstring& commandLine, size_t& end);
std::wstring CommandProgram(const std::wstring& commandLine);

// Runs `commandLine` without a window, its standard output and error going to
// `output` and `error` (inheritable handles), for at most
// `timeoutMs`: a program still running then is ended and `timedOut` set.
// With 0 it is only started (exit code STILL_ACTIVE).
// False with the last error set when the program does not start.
bool RunHidden(std::wstring commandLine, HANDLE output, HANDLE error, DWORD timeoutMs,
               DWORD& exitCode, bool& timedOut);

} // namespace zeltools
