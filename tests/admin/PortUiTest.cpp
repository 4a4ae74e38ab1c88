#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <string>

#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"

using namespace zeltest;

namespace {

const MONITORUI& Ui() {
    return SpoolerHarness::Instance().Ui();
}

// What the spooler answers when asked to open this transceive name: the
// channel's failure must reach the caller unchanged.
DWORD OpenFailure(const std::wstring& name) {
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    std::wstring copy = name;
    if (OpenPrinterW(&copy[0], &printer, &defaults)) {
        ClosePrinter(printer);
        return ERROR_SUCCESS;
    }
    return GetLastError();
}

PWSTR PoisonedName() {
    return reinterpret_cast<PWSTR>(static_cast<ULONG_PTR>(kPoison));
}

} // namespace

TEST(PortUi, ConfigureIsNeverOffered) {
    for (const wchar_t* port : {static_cast<const wchar_t*>(nullptr), L"", L"ZEL_3_PORT1:"}) {
        SetLastError(kPoison);
        EXPECT_FALSE(Ui().pfnConfigurePortUI(nullptr, nullptr, port));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
    }
}

// The monitor is not registered with this prefix's spooler, so its channel
// cannot be opened: AddPortUI must fail right there, before the registry.
TEST(PortUi, AddFailsOnTheChannelBeforeTouchingTheRegistry) {
    const DWORD expected = OpenFailure(L",XcvMonitor No Such Monitor");
    ASSERT_NE(expected, static_cast<DWORD>(ERROR_SUCCESS));
    DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());

    PWSTR name = PoisonedName();
    SetLastError(kPoison);
    EXPECT_FALSE(Ui().pfnAddPortUI(nullptr, nullptr, L"No Such Monitor", &name));
    EXPECT_EQ(GetLastError(), expected);
    EXPECT_EQ(name, PoisonedName());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PortsKeyPath())) << "ports key created";
}

TEST(PortUi, DeleteOfAnUnlistedPortFailsWithTheSpoolersCode) {
    const DWORD expected = OpenFailure(L",XcvPort ZEL_TEST_NOWHERE:");
    ASSERT_NE(expected, static_cast<DWORD>(ERROR_SUCCESS));
    ScopedPorts ports({L"ZEL_TEST_NOWHERE:"});
    SetLastError(kPoison);
    EXPECT_FALSE(Ui().pfnDeletePortUI(nullptr, nullptr, L"ZEL_TEST_NOWHERE:"));
    EXPECT_EQ(GetLastError(), expected);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(L"ZEL_TEST_NOWHERE:")));

    SetLastError(kPoison);
    EXPECT_FALSE(Ui().pfnDeletePortUI(nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}
