// How Wine's spooler hosts the monitor through the Wine host, seen from a
// printing process: however many jobs it prints, from however many threads,
// the monitor is loaded and initialised once and not shut down before the
// process ends, as under Windows' spooler. Runs in a process of its own (see
// CMakeLists.txt): it must watch the host before the spooler first loads it.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "harness/ImportHook.h"
#include "harness/PortSupport.h"
#include "harness/SpoolerPrinting.h"
#include "harness/TestRegistry.h"
#include "registry/RegistryLayout.h"

using namespace zeltest;

namespace {

namespace Layout = Brambleworth::Zel::Registry;

std::atomic<int> initialisations{0};
std::atomic<int> shutdowns{0};
LPMONITOR2(WINAPI* realInit)(PMONITORINIT, PHANDLE);
MONITOR2 counted; // the monitor's table, its Shutdown only counted

LPMONITOR2 WINAPI CountInit(PMONITORINIT init, PHANDLE monitor) {
    ++initialisations;
    counted = *realInit(init, monitor);
    counted.pfnShutdown = [](HANDLE) {
        ++shutdowns;
    };
    return &counted;
}

// The host's GetProcAddress: hands out the counting stand-in for the monitor's
// initialisation.
FARPROC WINAPI WatchExports(HMODULE module, LPCSTR name) {
    FARPROC found = GetProcAddress(module, name);
    if (found && HIWORD(name) && std::string(name) == "InitializePrintMonitor2") {
        realInit = reinterpret_cast<decltype(realInit)>(reinterpret_cast<void*>(found));
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(CountInit));
    }
    return found;
}

TEST(MonitorHosting, ManyJobsInitialiseTheMonitorOnce) {
    ASSERT_EQ(GetModuleHandleW(L"ZelWineHost.dll"), nullptr)
        << "the spooler loaded the host before this test: run it in a process of its own";
    HMODULE host = LoadLibraryW((ProgramDirectory() + L"ZelWineHost.dll").c_str());
    ASSERT_NE(host, nullptr);
    ScopedImportHook watch(host, "kernel32.dll", "GetProcAddress",
                           reinterpret_cast<void*>(WatchExports));

    const std::wstring port = L"ZEL_TEST_HOSTING:";
    ScopedPorts ports({port});
    RawPrinter printer(L"Zel Test Hosting", port);
    ASSERT_TRUE(printer.Ready()) << GetLastError();
    const std::wstring directory = TempDirectory();
    constexpr int kJobs = 12;
    std::vector<std::wstring> ids;
    std::vector<std::unique_ptr<ScopedJobKey>> keys;
    for (int job = 0; job < kJobs; ++job) {
        ids.push_back(L"00000000C0FFEE0" + std::wstring(1, L"0123456789AB"[job]));
        keys.push_back(std::make_unique<ScopedJobKey>(ids.back()));
        SetString(HKEY_CURRENT_USER, keys.back()->Path(), Layout::kTempDirPathValue, directory);
    }
    const std::string data = "%!PS one small job\n";
    std::atomic<int> next{0};
    std::atomic<int> failed{0};
    {
        const auto print = [&] {
            for (int job; (job = next++) < kJobs;) {
                failed += !PrintRaw(printer.Name(), L"hosting #%" + ids[job] + L"#%", data.size(),
                                    [&](std::uint64_t) { return data.data(); });
            }
        };
        TestThread first(print), second(print);
    }
    EXPECT_EQ(failed, 0);
    for (const auto& key : keys) {
        std::wstring path;
        EXPECT_TRUE(ReadString(HKEY_CURRENT_USER, key->Path(), Layout::kPSFilePathValue, path));
        EXPECT_EQ(ReadFileBytes(path), data);
        DeleteFileW(path.c_str());
    }
    EXPECT_EQ(initialisations, 1);
    EXPECT_EQ(shutdowns, 0) << "shut down before the process ends";
    EXPECT_NE(GetModuleHandleW(L"Brambleworth.Zel.3.PortMon.x64.dll"), nullptr);
    DeletePortLog(port);
}

} // namespace
