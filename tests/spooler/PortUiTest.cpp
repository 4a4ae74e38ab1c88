// The user-interface half called directly, as an administering program that
// loaded the library named by "MonitorUI" would, with the monitor half running
// behind Wine's spooler.

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "SpoolerClient.h"
#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"

using namespace zeltest;

namespace {

// Wine's local port monitor lists the values of this key as its ports.
const wchar_t* const kLocalPortsKey = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

const MONITORUI& Ui() {
    static const MONITORUI* table = [] {
        HMODULE module = LoadLibraryW(MonitorDllPath().c_str());
        using Init = PMONITORUI(WINAPI*)();
        auto init = reinterpret_cast<Init>(
            reinterpret_cast<void*>(GetProcAddress(module, "InitializePrintMonitorUI")));
        return init ? init() : nullptr;
    }();
    if (!table) {
        throw std::runtime_error("cannot load the user-interface half");
    }
    return *table;
}

class PortUiDirect : public ::testing::Test {
protected:
    void TearDown() override { DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath()); }
};

TEST_F(PortUiDirect, AddReturnsTheNewNameInGlobalMemory) {
    ScopedPorts ports({L"ZEL_3_PORT1:"});
    PWSTR name = reinterpret_cast<PWSTR>(static_cast<ULONG_PTR>(kPoison));
    SetLastError(kPoison);
    ASSERT_TRUE(Ui().pfnAddPortUI(nullptr, nullptr, kMonitor, &name));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(Narrow(name), "ZEL_3_PORT2:");
    EXPECT_EQ(GlobalSize(name), sizeof(L"ZEL_3_PORT2:"));
    EXPECT_EQ(GlobalFree(name), nullptr);
    EXPECT_TRUE(SpoolerLists(L"ZEL_3_PORT2:"));

    SetLastError(kPoison);
    EXPECT_TRUE(Ui().pfnAddPortUI(nullptr, nullptr, kMonitor, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(L"ZEL_3_PORT3:")));
}

// The scan sees only our registry; the monitor sees the spooler's list. A
// free-looking name that another monitor owns fails the add, and no further
// number is tried.
TEST_F(PortUiDirect, ANameAnotherMonitorOwnsFailsTheAdd) {
    ScopedPorts ports;
    SetString(HKEY_LOCAL_MACHINE, kLocalPortsKey, L"ZEL_3_PORT1:", L"");
    struct Cleanup {
        ~Cleanup() {
            HKEY key;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLocalPortsKey, 0, KEY_ALL_ACCESS, &key) ==
                ERROR_SUCCESS) {
                RegDeleteValueW(key, L"ZEL_3_PORT1:");
                RegCloseKey(key);
            }
        }
    } cleanup;
    ASSERT_TRUE(SpoolerLists(L"ZEL_3_PORT1:")) << "the local monitor should list it";

    PWSTR name = reinterpret_cast<PWSTR>(static_cast<ULONG_PTR>(kPoison));
    SetLastError(kPoison);
    EXPECT_FALSE(Ui().pfnAddPortUI(nullptr, nullptr, kMonitor, &name));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINTER_ALREADY_EXISTS));
    EXPECT_EQ(name, reinterpret_cast<PWSTR>(static_cast<ULONG_PTR>(kPoison)));
    EXPECT_TRUE(RegisteredPorts().empty());
}

TEST_F(PortUiDirect, DeleteRemovesOnlyTheNamedPort) {
    ScopedPorts ports({L"ZEL_3_PORT1:", L"ZEL_3_PORT2:"});
    LetTheSpoolerSeePorts();
    SetLastError(kPoison);
    EXPECT_TRUE(Ui().pfnDeletePortUI(nullptr, nullptr, L"ZEL_3_PORT2:"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(RegisteredPorts(), std::vector<std::wstring>{L"ZEL_3_PORT1:"});

    // Not listed any more: the spooler refuses to open its channel, and that
    // refusal is what the caller sees.
    Printer probe(L",XcvPort ZEL_3_PORT2:", SERVER_ACCESS_ADMINISTER);
    ASSERT_FALSE(probe.Ok());
    SetLastError(kPoison);
    EXPECT_FALSE(Ui().pfnDeletePortUI(nullptr, nullptr, L"ZEL_3_PORT2:"));
    EXPECT_EQ(GetLastError(), probe.OpenError());
}

} // namespace
