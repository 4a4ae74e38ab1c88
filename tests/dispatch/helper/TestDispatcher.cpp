// A stand-in for the print dispatcher, named in a port key with its own
// arguments ahead of the monitor's message:
//   test-dispatcher.exe <record-file> <exit-code> <wait> <message...>
// It writes one record (UTF-16LE, one field a line: the command line, pid,
// tid, elevation, and the STARTUPINFO fields in decimal, comma-separated),
// then sleeps <wait> ms, or waits for the event "@<name>" (at most two
// minutes), and exits with <exit-code>.

#include <windows.h>

#include <cwchar>
#include <fstream>
#include <string>

#include "harness/TestDispatcher.h"

namespace {

void WriteRecord(const wchar_t* path) {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    std::wstring record = std::wstring(GetCommandLineW()) + L"\n" +
                          std::to_wstring(GetCurrentProcessId()) + L"\n" +
                          std::to_wstring(GetCurrentThreadId()) + L"\n" +
                          (token ? zeltest::TokenElevationText(token) : L"none") + L"\n";
    CloseHandle(token);
    for (DWORD field :
         {startup.dwFlags, DWORD{startup.wShowWindow}, startup.dwX, startup.dwY, startup.dwXSize,
          startup.dwYSize, startup.dwXCountChars, startup.dwYCountChars}) {
        record += std::to_wstring(field) + L",";
    }
    record.back() = L'\n';

    // Written to a temporary name and renamed, so a reader never sees half a record.
    const std::wstring partial = std::wstring(path) + L".partial";
    std::ofstream(partial.c_str(), std::ios::binary)
        .write(reinterpret_cast<const char*>(record.data()), record.size() * sizeof(wchar_t));
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
