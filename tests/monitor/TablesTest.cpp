// The DLL as the spooler sees it: its exports, its two tables and the
// trivial monitor functions.

#include <gtest/gtest.h>

#include <cstddef>

#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"

using namespace zeltest;

namespace {

bool InsideModule(HMODULE module, const void* address) {
    HMODULE owner = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &owner) &&
           owner == module;
}

template <class Fn> const void* Slot(Fn fn) {
    return reinterpret_cast<const void*>(fn);
}

} // namespace

TEST(Tables, SizesAreThePublished64BitSizes) {
    SpoolerHarness& h = SpoolerHarness::Instance();
    EXPECT_EQ(h.Monitor().cbSize, 160u);
    EXPECT_EQ(h.Ui().dwMonitorUISize, 32u);
}

TEST(Tables, InitializePrintMonitor2StoresTheVeryRecordAsMonitorHandle) {
    SpoolerHarness& h = SpoolerHarness::Instance();
    EXPECT_EQ(h.MonitorHandle(), static_cast<HANDLE>(h.Init()));

    using Init2 = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
    auto init2 = reinterpret_cast<Init2>(GetProcAddress(h.Module(), "InitializePrintMonitor2"));
    ASSERT_NE(init2, nullptr);
    // Whatever record the spooler hands over is kept as it is, unchecked.
    auto* other = reinterpret_cast<PMONITORINIT>(static_cast<ULONG_PTR>(0x1234560));
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(kPoison));
    EXPECT_EQ(init2(other, &handle), &h.Monitor());
    EXPECT_EQ(handle, static_cast<HANDLE>(other));
}

TEST(Tables, LegacyAndUnusedSlotsStayEmpty) {
    const MONITOR2& m = SpoolerHarness::Instance().Monitor();
    EXPECT_EQ(Slot(m.pfnOpenPortEx), nullptr);
    EXPECT_EQ(Slot(m.pfnAddPort), nullptr);
    EXPECT_EQ(Slot(m.pfnAddPortEx), nullptr);
    EXPECT_EQ(Slot(m.pfnConfigurePort), nullptr);
    EXPECT_EQ(Slot(m.pfnDeletePort), nullptr);
    EXPECT_EQ(Slot(m.pfnGetPrinterDataFromPort), nullptr);
    EXPECT_EQ(Slot(m.pfnSendRecvBidiDataFromPort), nullptr);
}

TEST(Tables, FilledSlotsPointIntoTheMonitorDll) {
    SpoolerHarness& h = SpoolerHarness::Instance();
    const MONITOR2& m = h.Monitor();
    const MONITORUI& ui = h.Ui();
    const void* slots[] = {
        Slot(m.pfnEnumPorts),   Slot(m.pfnOpenPort),         Slot(m.pfnStartDocPort),
        Slot(m.pfnWritePort),   Slot(m.pfnReadPort),         Slot(m.pfnEndDocPort),
        Slot(m.pfnClosePort),   Slot(m.pfnSetPortTimeOuts),  Slot(m.pfnXcvOpenPort),
        Slot(m.pfnXcvDataPort), Slot(m.pfnXcvClosePort),     Slot(m.pfnShutdown),
        Slot(ui.pfnAddPortUI),  Slot(ui.pfnConfigurePortUI), Slot(ui.pfnDeletePortUI)};
    for (std::size_t i = 0; i < sizeof slots / sizeof slots[0]; ++i) {
        ASSERT_NE(slots[i], nullptr) << "slot " << i;
        EXPECT_TRUE(InsideModule(h.Module(), slots[i])) << "slot " << i;
    }
}

TEST(Tables, InitializePrintMonitorUIReturnsTheSameTableEveryTime) {
    SpoolerHarness& h = SpoolerHarness::Instance();
    using InitUi = PMONITORUI(WINAPI*)();
    auto initUi = reinterpret_cast<InitUi>(GetProcAddress(h.Module(), "InitializePrintMonitorUI"));
    ASSERT_NE(initUi, nullptr);
    EXPECT_EQ(initUi(), &h.Ui());
    EXPECT_EQ(initUi(), initUi());
}

TEST(MonitorFunctions, SetPortTimeOutsChecksOnlyTheHandle) {
    const MONITOR2& m = SpoolerHarness::Instance().Monitor();
    COMMTIMEOUTS timeouts{};
    SetLastError(kPoison);
    EXPECT_FALSE(m.pfnSetPortTimeOuts(nullptr, &timeouts, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    SetLastError(kPoison);
    HANDLE anyPort = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x42));
    EXPECT_TRUE(m.pfnSetPortTimeOuts(anyPort, nullptr, 0));
    EXPECT_EQ(GetLastError(), kPoison);
}

TEST(MonitorFunctions, ShutdownLeavesTheLastErrorAlone) {
    SetLastError(kPoison);
    SpoolerHarness::Instance().Monitor().pfnShutdown(SpoolerHarness::Instance().MonitorHandle());
    EXPECT_EQ(GetLastError(), kPoison);
}
