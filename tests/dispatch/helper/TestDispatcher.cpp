// A stand-in for the print dispatcher, named in a port key with its own
// arguments ahead of the monitor's message:
//   test-dispatcher.exe <record-file> <exit-code> <wait> <message...>
// It writes one record (UTF-16LE, one field a line: the command line, pid,
// tid, elevation, and the STARTUPINFO fields in decimal, comma-separated),
// then sleeps <wait> ms, or waits for the event "@<name>" (at most two
// minutes), and exits with <exit-code>.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "harness/TestDispatcher.h"

namespace {

void WriteRecord(const wchar_t* path) {
    std::wstring record = GetCommandLineW();
    record += L"\n" + std::to_wstring(GetCurrentProcessId());
    record += L"\n" + std::to_wstring(GetCurrentThreadId()) + L"\n";
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    record += token ? zeltest::TokenElevationText(token) : L"none";
    CloseHandle(token);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    record += L"\n";
    for (DWORD field : {startup.dwFlags, DWORD{startup.wShowWindow}, startup.dwX, startup.dwY,
                        startup.dwXSize, startup.dwYSize, startup.dwXCountChars}) {
        record += std::to_wstring(field) + L",";
    }
    record += std::to_wstring(startup.dwYCountChars) + L"\n";

    // Written to a temporary name and renamed, so a reader never sees half a record.
    std::wstring partial = std::wstring(path) + L".partial";
    FILE* file = _wfopen(partial.c_str(), L"wb");
    if (!file) {
        return;
    }
    fwrite(record.data(), sizeof(wchar_t), record.size(), file);
    fclose(file);
    MoveFileExW(partial.c_str(), path, MOVEFILE_REPLACE_EXISTING);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        return 2;
    }
    WriteRecord(argv[1]);
    const int exitCode = static_cast<int>(std::wcstoul(argv[2], nullptr, 10));
    const wchar_t* wait = argv[3];
    if (wait[0] == L'@') {
        HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, wait + 1);
        if (event) {
            WaitForSingleObject(event, 120000);
            CloseHandle(event);
        }
    } else {
        Sleep(static_cast<DWORD>(std::wcstoul(wait, nullptr, 10)));
    }
    return exitCode;
}
