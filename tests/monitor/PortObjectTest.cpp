// The DLL as the spooler sees it: its exports, its two tables, the trivial
// monitor functions, and OpenPort, ReadPort and ClosePort through the table.

#include <gtest/gtest.h>

#include <string>

#include "harness/PortSupport.h"
#include "harness/TestRegistry.h"
#include "monitor/PortContext.h"

using namespace Brambleworth::Zel::PortMon;
using namespace zeltest;

namespace {

const HANDLE kPoisonHandle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(kPoison));

TEST(Tables, ExportsHandOutTheTablesAndTheTrivialFunctionsSetNoError) {
    SpoolerHarness& h = SpoolerHarness::Instance();
    EXPECT_EQ(h.Monitor().cbSize, 160u);
    EXPECT_EQ(h.Ui().dwMonitorUISize, 32u);
    EXPECT_EQ(h.MonitorHandle(), static_cast<HANDLE>(h.Init()));

    // Whatever record the spooler hands over is kept as it is, unchecked.
    using Init2 = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
    auto init2 = reinterpret_cast<Init2>(GetProcAddress(h.Module(), "InitializePrintMonitor2"));
    ASSERT_NE(init2, nullptr);
    auto* other = reinterpret_cast<PMONITORINIT>(static_cast<ULONG_PTR>(0x1234560));
    HANDLE handle = kPoisonHandle;
    EXPECT_EQ(init2(other, &handle), &h.Monitor());
    EXPECT_EQ(handle, static_cast<HANDLE>(other));

    using InitUi = PMONITORUI(WINAPI*)();
    auto initUi = reinterpret_cast<InitUi>(GetProcAddress(h.Module(), "InitializePrintMonitorUI"));
    ASSERT_NE(initUi, nullptr);
    EXPECT_EQ(initUi(), &h.Ui());

    // SetPortTimeOuts checks only the handle (a null one: below); Shutdown
    // sets no error.
    SetLastError(kPoison);
    EXPECT_TRUE(Table().pfnSetPortTimeOuts(reinterpret_cast<HANDLE>(ULONG_PTR{0x42}), nullptr, 0));
    Table().pfnShutdown(h.MonitorHandle());
    EXPECT_EQ(GetLastError(), kPoison);
}

constexpr const wchar_t* kPort = L"ZEL_PORTOBJ";

class PortObject : public ::testing::Test {
protected:
    void SetUp() override {
        DeletePortLog(kPort);
        Registry().Clear();
    }
    void TearDown() override { DeletePortLog(kPort); }
    static RecordingRegistry& Registry() { return SpoolerHarness::Instance().Registry(); }
    ScopedPorts ports_{{kPort}};
};

TEST_F(PortObject, UnregisteredPortIsRefusedWithoutLogFile) {
    // No port key; a port key that does not open.
    for (std::wstring name : {L"ZEL_NOT_REGISTERED", kPort}) {
        if (name == kPort) {
            Registry().Inject(RegFn::OpenKey, ERROR_ACCESS_DENIED);
        }
        HANDLE handle = kPoisonHandle;
        SetLastError(kPoison);
        EXPECT_FALSE(
            Table().pfnOpenPort(SpoolerHarness::Instance().MonitorHandle(), name.data(), &handle));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(handle, kPoisonHandle);
        EXPECT_FALSE(FileExists(PortLogPath(name)));
    }
    EXPECT_TRUE(Registry().OpenKeys().empty());
}

TEST_F(PortObject, OpenLogsTwoLinesAndCloseOneThroughTheSpoolersRegistry) {
    std::wstring name = kPort;
    HANDLE handle = nullptr;
    SetLastError(kPoison);
    ASSERT_TRUE(
        Table().pfnOpenPort(SpoolerHarness::Instance().MonitorHandle(), name.data(), &handle));
    EXPECT_EQ(GetLastError(), 0u);
    const std::string opened =
        NormalLine("OpenPort", 599, "...") + NormalLine("OpenPort", 608, "done");
    EXPECT_EQ(ReadPortLog(kPort), opened);

    // The port key was only looked at, through the table, and closed at once.
    const auto opens = Registry().CallsOf(RegFn::OpenKey);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].name, PortKeyPath(kPort));
    EXPECT_EQ(opens[0].hSpooler, RecordingRegistry::SpoolerHandle());
    EXPECT_TRUE(Registry().OpenKeys().empty());
    EXPECT_EQ(static_cast<PortContext*>(handle)->monitor, SpoolerHarness::Instance().Init());

    // ReadPort reads nothing and fails without a last error.
    BYTE buffer[2] = {1, 2};
    DWORD read = kPoison;
    SetLastError(kPoison);
    EXPECT_FALSE(Table().pfnReadPort(handle, buffer, sizeof buffer, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(buffer[0], 1);

    EXPECT_TRUE(Table().pfnClosePort(handle));
    EXPECT_EQ(GetLastError(), kPoison);
    EXPECT_EQ(ReadPortLog(kPort), opened + NormalLine("ReadPort", 910, "...") +
                                      NormalLine("ReadPort", 913, "done") +
                                      NormalLine("ClosePort", 1021, "..."));
}

// Every entry point refuses a null port handle with ERROR_INVALID_HANDLE.
template <class Call> bool Refused(Call call) {
    SetLastError(kPoison);
    return !call() && GetLastError() == ERROR_INVALID_HANDLE;
}

TEST_F(PortObject, NullHandlesAreRefusedEverywhere) {
    BYTE byte = 0;
    DWORD count = kPoison;
    DOC_INFO_1W info{const_cast<LPWSTR>(L"doc"), nullptr, nullptr};
    EXPECT_TRUE(Refused([&] { return Table().pfnClosePort(nullptr); }));
    EXPECT_TRUE(Refused([&] { return Table().pfnSetPortTimeOuts(nullptr, nullptr, 0); }));
    EXPECT_TRUE(Refused([&] { return Table().pfnReadPort(nullptr, &byte, 1, &count); }));
    EXPECT_TRUE(Refused([&] { return Table().pfnWritePort(nullptr, &byte, 1, &count); }));
    EXPECT_TRUE(Refused([&] { return Table().pfnEndDocPort(nullptr); }));
    EXPECT_TRUE(Refused([&] {
        return Table().pfnStartDocPort(nullptr, nullptr, 1, 1, reinterpret_cast<LPBYTE>(&info));
    }));
    EXPECT_EQ(count, kPoison);
}

} // namespace
