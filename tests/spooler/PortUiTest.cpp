// The user-interface half called directly, as an administering program that
// loaded the library named by "MonitorUI" would, with the monitor half running
// behind Wine's spooler.

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <string>
#include <vector>

#include "SpoolerClient.h"
#include "harness/SpoolerHarness.h"

using namespace zeltest;

namespace {

const PWSTR kPoisonName = reinterpret_cast<PWSTR>(static_cast<ULONG_PTR>(kPoison));

const MONITORUI& Ui() {
    using Init = PMONITORUI(WINAPI*)();
    static const MONITORUI* table = reinterpret_cast<Init>(reinterpret_cast<void*>(
        GetProcAddress(LoadLibraryW(MonitorDllPath().c_str()), "InitializePrintMonitorUI")))();
    return *table;
}

TEST(PortUiDirect, AddReturnsTheNewNameInGlobalMemoryWhenAsked) {
    ScopedPorts ports({L"ZEL_3_PORT1:"});
    PWSTR name = kPoisonName;
    SetLastError(kPoison);
    ASSERT_TRUE(Ui().pfnAddPortUI(nullptr, nullptr, kMonitor, &name));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(Narrow(name), "ZEL_3_PORT2:");
    EXPECT_EQ(GlobalSize(name), sizeof(L"ZEL_3_PORT2:"));
    EXPECT_EQ(GlobalFree(name), nullptr);

    EXPECT_TRUE(Ui().pfnAddPortUI(nullptr, nullptr, kMonitor, nullptr));
    EXPECT_EQ(RegisteredPorts(),
              (std::vector<std::wstring>{L"ZEL_3_PORT1:", L"ZEL_3_PORT2:", L"ZEL_3_PORT3:"}));
}

// Neither channel opens for a monitor or a port the spooler does not know: the
// UI fails with the spooler's own code, before the registry is touched and
// without writing the name. A delete without a port name is refused outright.
TEST(PortUiDirect, RefusedBeforeTheMonitorIsReached) {
    DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());
    PWSTR name = kPoisonName;
    SetLastError(kPoison);
    EXPECT_FALSE(Ui().pfnAddPortUI(nullptr, nullptr, L"No Such Monitor", &name));
    DWORD error = GetLastError();
    EXPECT_EQ(error, Printer(L",XcvMonitor No Such Monitor", SERVER_ACCESS_ADMINISTER).OpenError());
    EXPECT_EQ(name, kPoisonName);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PortsKeyPath())) << "ports key created";

    SetLastError(kPoison);
    EXPECT_FALSE(Ui().pfnDeletePortUI(nullptr, nullptr, L"ZEL_TEST_NOWHERE:"));
    error = GetLastError();
    EXPECT_EQ(error, Printer(L",XcvPort ZEL_TEST_NOWHERE:", SERVER_ACCESS_ADMINISTER).OpenError());
    SetLastError(kPoison);
    EXPECT_FALSE(Ui().pfnDeletePortUI(nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

} // namespace
