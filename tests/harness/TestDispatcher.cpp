#include "harness/TestDispatcher.h"
#include "harness/SpoolerHarness.h"

#include <atomic>
#include <cstdio>
#include <vector>

namespace zeltest {

std::wstring TestDispatcherPath() {
    return ProgramDirectory() + L"test-dispatcher.exe";
}

ScopedRecordFile::ScopedRecordFile() {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"zel-dispatcher-record-" +
            std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L".txt";
    DeleteFileW(path_.c_str());
}

ScopedRecordFile::~ScopedRecordFile() {
    DeleteFileW(path_.c_str());
    DeleteFileW((path_ + L".partial").c_str());
}

std::wstring DispatcherCommand(const std::wstring& recordFile, DWORD exitCode,
                               const std::wstring& wait) {
    return L"\"" + TestDispatcherPath() + L"\" \"" + recordFile + L"\" " +
           std::to_wstring(exitCode) + L" " + wait;
}

DispatcherRecord ReadDispatcherRecord(const std::wstring& path) {
    DispatcherRecord record;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) {
        return record;
    }
    std::wstring text;
    wchar_t unit;
    while (fread(&unit, sizeof unit, 1, file) == 1) {
        text.push_back(unit);
    }
    fclose(file);
    record.present = true;
    // The command line comes first and may hold anything but a line feed.
    size_t start = 0;
    std::vector<std::wstring> lines;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    if (lines.empty()) {
        return record;
    }
    record.commandLine = lines[0];
    for (size_t i = 1; i < lines.size(); ++i) {
        const size_t eq = lines[i].find(L'=');
        const std::wstring key = lines[i].substr(0, eq), value = lines[i].substr(eq + 1);
        if (key == L"pid" || key == L"tid") {
            (key == L"pid" ? record.pid : record.tid) = std::wcstoul(value.c_str(), nullptr, 10);
        } else if (key == L"elevation") {
            record.elevation = value;
        } else if (key == L"startup") {
            record.startup = value;
        }
    }
    return record;
}

bool ProcessIsRunning(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
    if (!process) {
        return false;
    }
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE &&
                         WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

template <class Open> bool ObjectGoes(Open&& open) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE object = open();
        if (!object) {
            return true;
        }
        CloseHandle(object);
        Sleep(100);
    }
    return false;
}

bool ProcessObjectGoes(DWORD pid) {
    return ObjectGoes([pid] { return OpenProcess(SYNCHRONIZE, FALSE, pid); });
}

bool ThreadObjectGoes(DWORD tid) {
    return ObjectGoes([tid] { return OpenThread(SYNCHRONIZE, FALSE, tid); });
}

HANDLE OtherElevationImpersonationToken() {
    HANDLE process = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process)) {
        return nullptr;
    }
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    const BOOL got = GetTokenInformation(process, TokenLinkedToken, &linked, sizeof linked, &size);
    CloseHandle(process);
    return got ? linked.LinkedToken : nullptr;
}

HANDLE PrimaryToken(HANDLE impersonation) {
    HANDLE primary = nullptr;
    if (!DuplicateTokenEx(impersonation, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                          TokenPrimary, &primary)) {
        return nullptr;
    }
    return primary;
}

} // namespace zeltest
