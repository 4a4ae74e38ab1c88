#include "bench/BenchHost.h"

#include <psapi.h>

#include <stdexcept>

#include "common/AdvapiRegistry.h"

namespace zelbench {

Stopwatch::Stopwatch() {
    Restart();
}

void Stopwatch::Restart() {
    QueryPerformanceCounter(&start_);
}

double Stopwatch::Seconds() const {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start_.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

MonitorHost::MonitorHost() {
    const std::wstring path = ProgramDirectory() + L"Brambleworth.Zel.3.PortMon.x64.dll";
    module_ = LoadLibraryW(path.c_str());
    if (!module_) {
        throw std::runtime_error("cannot load " + Ascii(path) + ": " +
                                 std::to_string(GetLastError()));
    }
    using Init2 = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
    using InitUi = PMONITORUI(WINAPI*)();
    auto init2 = reinterpret_cast<Init2>(
        reinterpret_cast<void*>(GetProcAddress(module_, "InitializePrintMonitor2")));
    auto initUi = reinterpret_cast<InitUi>(
        reinterpret_cast<void*>(GetProcAddress(module_, "InitializePrintMonitorUI")));
    if (!init2 || !initUi) {
        throw std::runtime_error("the monitor DLL lacks its initialisation exports");
    }
    init_.cbSize = sizeof init_;
    init_.hSpooler = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5F00BE4C));
    init_.pMonitorReg = zeltools::AdvapiMonitorRegistry();
    init_.bLocal = TRUE;
    monitor_ = init2(&init_, &handle_);
    ui_ = initUi();
    if (!monitor_ || !ui_) {
        throw std::runtime_error("the monitor DLL returned no tables");
    }
}

MonitorHost::~MonitorHost() {
    // The spooler unloads the monitor only after its last call; so do we.
    if (monitor_ && monitor_->pfnShutdown) {
        monitor_->pfnShutdown(handle_);
    }
    FreeLibrary(module_);
}

std::wstring TempDirectory() {
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH, buffer);
    return std::wstring(buffer, length);
}

std::wstring BenchDirectory() {
    const std::wstring directory = TempDirectory() + L"zel-bench\\";
    CreateDirectoryW(directory.c_str(), nullptr);
    return directory;
}

std::uint64_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters)) {
        return 0;
    }
    // Windows reports the same commit charge in both fields; Wine fills only
    // the older one.
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

} // namespace zelbench
