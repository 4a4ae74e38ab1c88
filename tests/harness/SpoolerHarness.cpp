#include "harness/SpoolerHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "common/AdvapiRegistry.h"

namespace zeltest {

using Hold = std::lock_guard<Brambleworth::Zel::PortMon::CriticalSection>;

template <class Call>
LONG RecordingRegistry::Forward(RegFn fn, HANDLE spooler, HANDLE key, LPCWSTR name, Call&& call,
                                PHANDLE opened) {
    Hold hold(mutex_);
    auto due = std::find_if(injections_.begin(), injections_.end(),
                            [fn](const Injection& injection) { return injection.fn == fn; });
    const bool injected = due != injections_.end() && due->skip-- == 0;
    LONG status = injected ? due->status : ERROR_SUCCESS;
    if (injected) {
        injections_.erase(due);
    } else {
        status = call();
        if (status == ERROR_SUCCESS && opened) {
            key = *opened;
            open_.insert(key);
        } else if (status == ERROR_SUCCESS && fn == RegFn::CloseKey) {
            open_.erase(key);
        }
    }
    calls_.push_back({fn, spooler, key, name ? name : L"", status});
    return status;
}

namespace {

RecordingRegistry& R() {
    return RecordingRegistry::Instance();
}

// The real registry behind the recording: what Windows' spooler does.
const MONITORREG& Real() {
    return *zeltools::AdvapiMonitorRegistry();
}

LONG WINAPI FwdCreateKey(HANDLE parent, LPCWSTR sub, DWORD options, REGSAM sam,
                         PSECURITY_ATTRIBUTES sa, PHANDLE result, PDWORD disposition,
                         HANDLE spooler) {
    return R().Forward(
        RegFn::CreateKey, spooler, parent, sub,
        [&] {
            return Real().fpCreateKey(parent, sub, options, sam, sa, result, disposition, spooler);
        },
        result);
}

LONG WINAPI FwdOpenKey(HANDLE parent, LPCWSTR sub, REGSAM sam, PHANDLE result, HANDLE spooler) {
    return R().Forward(
        RegFn::OpenKey, spooler, parent, sub,
        [&] { return Real().fpOpenKey(parent, sub, sam, result, spooler); }, result);
}

LONG WINAPI FwdCloseKey(HANDLE key, HANDLE spooler) {
    return R().Forward(RegFn::CloseKey, spooler, key, nullptr,
                       [&] { return Real().fpCloseKey(key, spooler); });
}

LONG WINAPI FwdDeleteKey(HANDLE key, LPCWSTR sub, HANDLE spooler) {
    return R().Forward(RegFn::DeleteKey, spooler, key, sub,
                       [&] { return Real().fpDeleteKey(key, sub, spooler); });
}

LONG WINAPI FwdEnumKey(HANDLE key, DWORD index, LPWSTR name, PDWORD count, PFILETIME written,
                       HANDLE spooler) {
    return R().Forward(RegFn::EnumKey, spooler, key, nullptr,
                       [&] { return Real().fpEnumKey(key, index, name, count, written, spooler); });
}

LONG WINAPI FwdQueryInfoKey(HANDLE key, PDWORD subKeys, PDWORD maxSubKeyLength, PDWORD values,
                            PDWORD maxValueNameLength, PDWORD maxValueLength,
                            PDWORD securityDescriptor, PFILETIME written, HANDLE spooler) {
    return R().Forward(RegFn::QueryInfoKey, spooler, key, nullptr, [&] {
        return Real().fpQueryInfoKey(key, subKeys, maxSubKeyLength, values, maxValueNameLength,
                                     maxValueLength, securityDescriptor, written, spooler);
    });
}

LONG WINAPI FwdSetValue(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD size,
                        HANDLE spooler) {
    return R().Forward(RegFn::SetValue, spooler, key, name,
                       [&] { return Real().fpSetValue(key, name, type, data, size, spooler); });
}

LONG WINAPI FwdQueryValue(HANDLE key, LPCWSTR name, PDWORD type, PBYTE data, PDWORD size,
                          HANDLE spooler) {
    return R().Forward(RegFn::QueryValue, spooler, key, name,
                       [&] { return Real().fpQueryValue(key, name, type, data, size, spooler); });
}

} // namespace

RecordingRegistry& RecordingRegistry::Instance() {
    static RecordingRegistry registry;
    return registry;
}

RecordingRegistry::RecordingRegistry() {
    table_.cbSize = sizeof table_;
    table_.fpCreateKey = FwdCreateKey;
    table_.fpOpenKey = FwdOpenKey;
    table_.fpCloseKey = FwdCloseKey;
    table_.fpDeleteKey = FwdDeleteKey;
    table_.fpEnumKey = FwdEnumKey;
    table_.fpQueryInfoKey = FwdQueryInfoKey;
    table_.fpSetValue = FwdSetValue;
    // Never used by the monitor: not recorded.
    table_.fpDeleteValue = Real().fpDeleteValue;
    table_.fpEnumValue = Real().fpEnumValue;
    table_.fpQueryValue = FwdQueryValue;
}

void RecordingRegistry::Clear() {
    Hold hold(mutex_);
    calls_.clear();
    injections_.clear();
}

void RecordingRegistry::Inject(RegFn fn, LONG status, unsigned skip) {
    Hold hold(mutex_);
    injections_.push_back({fn, status, skip});
}

std::vector<RegCall> RecordingRegistry::Calls() {
    Hold hold(mutex_);
    return calls_;
}

std::vector<RegCall> RecordingRegistry::CallsOf(RegFn fn) {
    std::vector<RegCall> selected;
    for (const RegCall& call : Calls()) {
        if (call.function == fn) {
            selected.push_back(call);
        }
    }
    return selected;
}

std::set<HANDLE> RecordingRegistry::OpenKeys() {
    Hold hold(mutex_);
    return open_;
}

void RecordingRegistry::ExpectTidyAndClear() {
    for (const RegCall& call : Calls()) {
        EXPECT_EQ(call.hSpooler, SpoolerHandle()) << "call " << static_cast<int>(call.function);
    }
    EXPECT_TRUE(OpenKeys().empty()) << "a registry key was left open";
    Clear();
}

std::wstring ProgramDirectory() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path, length);
    directory.erase(directory.find_last_of(L"\\/") + 1);
    return directory;
}

std::wstring MonitorDllPath() {
    return ProgramDirectory() + L"Brambleworth.Zel.3.PortMon.x64.dll";
}

SpoolerHarness& SpoolerHarness::Instance() {
    static SpoolerHarness harness;
    return harness;
}

SpoolerHarness::SpoolerHarness() {
    module_ = LoadLibraryW(MonitorDllPath().c_str());
    if (!module_) {
        throw std::runtime_error("cannot load the monitor DLL");
    }
    using Init2 = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
    using InitUi = PMONITORUI(WINAPI*)();
    auto init2 = reinterpret_cast<Init2>(GetProcAddress(module_, "InitializePrintMonitor2"));
    auto initUi = reinterpret_cast<InitUi>(GetProcAddress(module_, "InitializePrintMonitorUI"));
    if (!init2 || !initUi) {
        throw std::runtime_error("monitor DLL lacks its initialisation exports");
    }
    init_.cbSize = sizeof init_;
    init_.hSpooler = RecordingRegistry::SpoolerHandle();
    init_.hckRegistryRoot = nullptr;
    init_.pMonitorReg = RecordingRegistry::Instance().Table();
    init_.bLocal = TRUE;
    init_.pszServerName = nullptr;
    monitor_ = init2(&init_, &hMonitor_);
    ui_ = initUi();
}

} // namespace zeltest
