// However many jobs a process prints through Wine's spooler, from however many
// threads, the host initialises the monitor once and shuts it down only when
// the process ends, as Windows' spooler does. Runs in a process of its own.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "common/Spooler.h"
#include "harness/ImportHook.h"
#include "harness/PortSupport.h"
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

// The host's GetProcAddress, handing out the counting initialisation.
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
    // A listing loads the monitor and routes the port; the jobs go to the port
    // itself, as the spooler sends a scheduled job.
    std::vector<zeltools::SpoolerPort> listed;
    ASSERT_TRUE(zeltools::ListSpoolerPorts(listed)) << GetLastError();
    constexpr int kJobs = 12;
    const auto id = [](int job) {
        return L"00000000C0FFEE0" + std::wstring(1, L"0123456789AB"[job]);
    };
    std::vector<std::unique_ptr<ScopedJobKey>> keys;
    for (int job = 0; job < kJobs; ++job) {
        keys.push_back(std::make_unique<ScopedJobKey>(id(job)));
        SetString(HKEY_CURRENT_USER, keys.back()->Path(), Layout::kTempDirPathValue,
                  TempDirectory());
    }
    const std::string data = "%!PS one small job\n";
    std::atomic<int> next{0}, failed{0};
    {
        const auto print = [&] {
            for (int job; (job = next++) < kJobs;) {
                bool sent = false;
                const auto once = [&](const char*& piece, DWORD& size) {
                    piece = data.data();
                    size = sent ? 0 : static_cast<DWORD>(data.size());
                    return sent = true;
                };
                failed +=
                    !zeltools::PrintRaw(port + L", Port", L"hosting #%" + id(job) + L"#%", once)
                         .failure.empty();
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
    // The monitor stays loaded, but a port written into the registry (or
    // deleted there) meanwhile is routed (or no longer) from the next load on.
    const auto routed = [](const std::wstring& name) {
        return KeyExists(HKEY_LOCAL_MACHINE,
                         std::wstring(L"System\\CurrentControlSet\\Control\\Print\\Monitors\\") +
                             Layout::kMonitorName + L"\\Ports\\" + name);
    };
    const std::wstring later = L"ZEL_TEST_HOSTING_LATER:";
    ports.Add(later);
    ASSERT_TRUE(zeltools::ListSpoolerPorts(listed)) << GetLastError();
    EXPECT_TRUE(routed(later));
    DeleteTree(HKEY_LOCAL_MACHINE, PortKeyPath(later));
    ASSERT_TRUE(zeltools::ListSpoolerPorts(listed)) << GetLastError();
    EXPECT_FALSE(routed(later));
    EXPECT_TRUE(routed(port));
    EXPECT_EQ(initialisations, 1);
    EXPECT_EQ(shutdowns, 0) << "shut down before the process ends";
    DeletePortLog(port);
}

} // namespace
