#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"

using namespace zeltest;

namespace {

// What this prefix's spooler answers when asked for a transceive channel.
DWORD OpenFailure(const wchar_t* channel) {
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    EXPECT_FALSE(OpenPrinterW(const_cast<LPWSTR>(channel), &printer, &defaults)) << channel;
    return GetLastError();
}

} // namespace

// No monitor of that name is registered with this prefix's spooler, and no
// port of that name listed, so neither channel opens: the UI fails right there
// with the spooler's own code, before the registry is touched and without
// writing the name. A delete without a port name is refused outright.
TEST(PortUi, RefusedBeforeTheMonitorIsReached) {
    const MONITORUI& ui = SpoolerHarness::Instance().Ui();
    DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());
    PWSTR name = reinterpret_cast<PWSTR>(static_cast<ULONG_PTR>(kPoison));
    SetLastError(kPoison);
    EXPECT_FALSE(ui.pfnAddPortUI(nullptr, nullptr, L"No Such Monitor", &name));
    DWORD error = GetLastError();
    EXPECT_EQ(error, OpenFailure(L",XcvMonitor No Such Monitor"));
    EXPECT_EQ(name, reinterpret_cast<PWSTR>(static_cast<ULONG_PTR>(kPoison)));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PortsKeyPath())) << "ports key created";

    ScopedPorts ports({L"ZEL_TEST_NOWHERE:"});
    SetLastError(kPoison);
    EXPECT_FALSE(ui.pfnDeletePortUI(nullptr, nullptr, L"ZEL_TEST_NOWHERE:"));
    error = GetLastError();
    EXPECT_EQ(error, OpenFailure(L",XcvPort ZEL_TEST_NOWHERE:"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(L"ZEL_TEST_NOWHERE:")));

    SetLastError(kPoison);
    EXPECT_FALSE(ui.pfnDeletePortUI(nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}
