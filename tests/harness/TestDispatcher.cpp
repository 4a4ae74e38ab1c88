#include "harness/TestDispatcher.h"
#include "harness/SpoolerHarness.h"

#include <atomic>
#include <cwchar>
#include <sstream>

#include "harness/PortSupport.h"

namespace zeltest {

std::wstring TestDispatcherPath() {
    return ProgramDirectory() + L"test-dispatcher.exe";
}

ScopedRecordFile::ScopedRecordFile() {
    static std::atomic<unsigned> counter{0};
    path_ = TempDirectory() + L"zel-dispatcher-record-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(++counter) + L".txt";
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
    const std::string bytes = ReadFileBytes(path);
    std::wistringstream text(
        std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2));
    DispatcherRecord record;
    record.present = !bytes.empty();
    std::wstring pid, tid;
    std::getline(text, record.commandLine);
    std::getline(text, pid);
    std::getline(text, tid);
    std::getline(text, record.elevation);
    std::getline(text, record.startup);
    record.pid = std::wcstoul(pid.c_str(), nullptr, 10);
    record.tid = std::wcstoul(tid.c_str(), nullptr, 10);
    return record;
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
