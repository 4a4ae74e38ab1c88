#include "harness/SpoolerHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <tuple>
#include <type_traits>
#include <utility>

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

// What one argument of a table call tells the record: the subkey or value
// name, or where a call that opens a key puts it.
template <class T> void Note(T value, LPCWSTR& name, PHANDLE& opened) {
    if constexpr (std::is_same_v<T, LPCWSTR>) {
        name = value;
    } else if constexpr (std::is_same_v<T, PHANDLE>) {
        opened = value;
    }
}

// The recorded stand-in for one table function. Every one of them takes the
// key it works on first and the spooler's handle last.
template <class Slot> struct Recorder;
template <class... Rest> struct Recorder<LONG(WINAPI*)(HANDLE, Rest...)> {
    template <RegFn Fn, LONG (WINAPI* MONITORREG::*Member)(HANDLE, Rest...)>
    static LONG WINAPI Call(HANDLE key, Rest... rest) {
        LPCWSTR name = nullptr;
        PHANDLE opened = nullptr;
        (Note(rest, name, opened), ...);
        const HANDLE spooler = std::get<sizeof...(Rest) - 1>(std::make_tuple(rest...));
        return R().Forward(
            Fn, spooler, key, name, [&] { return (Real().*Member)(key, rest...); }, opened);
    }
};

template <RegFn Fn, auto Member> auto Recorded() {
    using Slot = std::remove_reference_t<decltype(std::declval<MONITORREG&>().*Member)>;
    return &Recorder<Slot>::template Call<Fn, Member>;
}

} // namespace

RecordingRegistry& RecordingRegistry::Instance() {
    static RecordingRegistry registry;
    return registry;
}

RecordingRegistry::RecordingRegistry() {
    table_.cbSize = sizeof table_;
    table_.fpCreateKey = Recorded<RegFn::CreateKey, &MONITORREG::fpCreateKey>();
    table_.fpOpenKey = Recorded<RegFn::OpenKey, &MONITORREG::fpOpenKey>();
    table_.fpCloseKey = Recorded<RegFn::CloseKey, &MONITORREG::fpCloseKey>();
    table_.fpDeleteKey = Recorded<RegFn::DeleteKey, &MONITORREG::fpDeleteKey>();
    table_.fpEnumKey = Recorded<RegFn::EnumKey, &MONITORREG::fpEnumKey>();
    table_.fpQueryInfoKey = Recorded<RegFn::QueryInfoKey, &MONITORREG::fpQueryInfoKey>();
    table_.fpSetValue = Recorded<RegFn::SetValue, &MONITORREG::fpSetValue>();
    table_.fpQueryValue = Recorded<RegFn::QueryValue, &MONITORREG::fpQueryValue>();
    // Never used by the monitor: not recorded.
    table_.fpDeleteValue = Real().fpDeleteValue;
    table_.fpEnumValue = Real().fpEnumValue;
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
    // Never destroyed: test objects that outlive main may still hold ports.
    static SpoolerHarness* harness = new SpoolerHarness(RecordingRegistry::Instance().Table(),
                                                        RecordingRegistry::SpoolerHandle());
    return *harness;
}

SpoolerHarness::SpoolerHarness(MONITORREG* registry, HANDLE spooler) {
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
    init_.hSpooler = spooler;
    init_.hckRegistryRoot = nullptr;
    init_.pMonitorReg = registry;
    init_.bLocal = TRUE;
    init_.pszServerName = nullptr;
    monitor_ = init2(&init_, &hMonitor_);
    ui_ = initUi();
}

SpoolerHarness::~SpoolerHarness() {
    if (monitor_->pfnShutdown) {
        monitor_->pfnShutdown(hMonitor_);
    }
    FreeLibrary(module_);
}

} // namespace zeltest
