#include "common/Process.h"

#include <algorithm>

#include "common/Handles.h"

namespace zeltools {

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    // Backslashes are literal except in a run that ends at a quote: there
    // each one is doubled, and the quote itself is escaped.
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

std::wstring JoinCommandLine(const std::vector<std::wstring>& arguments) {
    std::wstring line;
    for (const std::wstring& argument : arguments) {
        line += (line.empty() ? L"" : L" ") + QuoteArgument(argument);
    }
    return line;
}

std::wstring CommandProgram(const std::wstring& line, size_t& end) {
    std::wstring program;
    end = 0;
    if (!line.empty() && line[0] == L'"') {
        const size_t close = line.find(L'"', 1);
        program = line.substr(1, close == std::wstring::npos ? close : close - 1);
        end = close == std::wstring::npos ? line.size() : close + 1;
    }
    const size_t blank = std::min(line.find_first_of(L" \t", end), line.size());
    program += line.substr(end, blank - end);
    end = blank;
    return program;
}

std::wstring CommandProgram(const std::wstring& commandLine) {
    size_t end = 0;
    return CommandProgram(commandLine, end);
}

bool RunHidden(std::wstring commandLine, HANDLE output, HANDLE error, DWORD timeoutMs,
               DWORD& exitCode, bool& timedOut) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = error;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        return false;
    }
    ScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
    exitCode = STILL_ACTIVE;
    timedOut = timeoutMs && WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_TIMEOUT;
    if (timedOut) {
        TerminateProcess(process.hProcess, ERROR_TIMEOUT);
        WaitForSingleObject(process.hProcess, 5000);
    }
    if (timeoutMs) {
        GetExitCodeProcess(process.hProcess, &exitCode);
    }
    return true;
}

} // namespace zeltools
