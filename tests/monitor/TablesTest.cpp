// The DLL as the spooler sees it: its exports, its two tables and the
// trivial monitor functions.

#include <gtest/gtest.h>

#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"

using namespace zeltest;

namespace {

TEST(Tables, ExportsHandOutTheTablesAndKeepTheRecordAsMonitorHandle) {
    SpoolerHarness& h = SpoolerHarness::Instance();
    EXPECT_EQ(h.Monitor().cbSize, 160u);
    EXPECT_EQ(h.Ui().dwMonitorUISize, 32u);
    EXPECT_EQ(h.MonitorHandle(), static_cast<HANDLE>(h.Init()));

    // Whatever record the spooler hands over is kept as it is, unchecked.
    using Init2 = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
    auto init2 = reinterpret_cast<Init2>(GetProcAddress(h.Module(), "InitializePrintMonitor2"));
    ASSERT_NE(init2, nullptr);
    auto* other = reinterpret_cast<PMONITORINIT>(static_cast<ULONG_PTR>(0x1234560));
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(kPoison));
    EXPECT_EQ(init2(other, &handle), &h.Monitor());
    EXPECT_EQ(handle, static_cast<HANDLE>(other));

    using InitUi = PMONITORUI(WINAPI*)();
    auto initUi = reinterpret_cast<InitUi>(GetProcAddress(h.Module(), "InitializePrintMonitorUI"));
    ASSERT_NE(initUi, nullptr);
    EXPECT_EQ(initUi(), &h.Ui());
}

TEST(MonitorFunctions, SetPortTimeOutsChecksOnlyTheHandleAndShutdownSetsNoError) {
    const MONITOR2& m = SpoolerHarness::Instance().Monitor();
    SetLastError(kPoison);
    EXPECT_FALSE(m.pfnSetPortTimeOuts(nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    SetLastError(kPoison);
    EXPECT_TRUE(m.pfnSetPortTimeOuts(reinterpret_cast<HANDLE>(ULONG_PTR{0x42}), nullptr, 0));
    m.pfnShutdown(SpoolerHarness::Instance().MonitorHandle());
    EXPECT_EQ(GetLastError(), kPoison);
}

} // namespace
