// OpenPort and ClosePort through the monitor's table, and the port object's
// return to idle.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "harness/PortSupport.h"
#include "harness/TestRegistry.h"
#include "monitor/PortContext.h"

using namespace Brambleworth::Zel::PortMon;
using namespace zeltest;

namespace {

class PortObject : public ::testing::Test {
protected:
    void SetUp() override {
        DeletePortLog(kPort);
        DeletePortLog(kUnknown);
        Registry().Clear();
    }
    void TearDown() override {
        DeletePortLog(kPort);
        DeletePortLog(kUnknown);
    }
    static RecordingRegistry& Registry() { return SpoolerHarness::Instance().Registry(); }
    static HANDLE Monitor() { return SpoolerHarness::Instance().MonitorHandle(); }

    static constexpr const wchar_t* kPort = L"ZEL_PORTOBJ";
    static constexpr const wchar_t* kUnknown = L"ZEL_NOT_REGISTERED";
    ScopedPorts ports_{{kPort}};
};

TEST_F(PortObject, UnregisteredPortIsRefusedWithoutLogFile) {
    struct Case {
        const char* name;
        std::wstring port;
        bool injectFailure;
    };
    const Case cases[] = {
        {"no port key", kUnknown, false},
        {"port key exists but does not open", kPort, true},
    };
    for (const Case& c : cases) {
        if (c.injectFailure) {
            Registry().Inject(RegFn::OpenKey, ERROR_ACCESS_DENIED);
        }
        std::wstring name = c.port;
        HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(kPoison));
        SetLastError(kPoison);
        EXPECT_FALSE(Table().pfnOpenPort(Monitor(), name.data(), &handle)) << c.name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.name;
        EXPECT_EQ(handle, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(kPoison))) << c.name;
        EXPECT_FALSE(FileExists(PortLogPath(name))) << c.name;
    }
    EXPECT_TRUE(Registry().OpenKeys().empty());
}

TEST_F(PortObject, OpenLogsTwoLinesAndCloseOneThroughTheSpoolersRegistry) {
    std::wstring name = kPort;
    HANDLE handle = nullptr;
    SetLastError(kPoison);
    ASSERT_TRUE(Table().pfnOpenPort(Monitor(), name.data(), &handle));
    EXPECT_EQ(GetLastError(), 0u);
    ASSERT_NE(handle, nullptr);
    const std::string opened =
        NormalLine("OpenPort", 599, "...") + NormalLine("OpenPort", 608, "done");
    EXPECT_EQ(ReadPortLog(kPort), opened);

    // The port key was only looked at: opened through the table for reading
    // and closed again at once.
    const auto opens = Registry().CallsOf(RegFn::OpenKey);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].name, PortKeyPath(kPort));
    EXPECT_EQ(opens[0].hSpooler, RecordingRegistry::SpoolerHandle());
    EXPECT_EQ(Registry().CallsOf(RegFn::CloseKey).size(), 1u);
    EXPECT_TRUE(Registry().OpenKeys().empty());

    // White-box: the new object is idle and remembers its port and monitor.
    const PortContext& port = *static_cast<PortContext*>(handle);
    EXPECT_EQ(port.portName, kPort);
    EXPECT_EQ(port.monitor, SpoolerHarness::Instance().Init());
    EXPECT_EQ(port.userToken.Get(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(port.jobKeyWanted);
    EXPECT_FALSE(port.jobKey.IsOpen());
    EXPECT_FALSE(port.psFile.IsOpen());
    EXPECT_EQ(port.jobError, 0u);

    SetLastError(kPoison);
    EXPECT_TRUE(Table().pfnClosePort(handle));
    EXPECT_EQ(GetLastError(), kPoison);
    EXPECT_EQ(ReadPortLog(kPort), opened + NormalLine("ClosePort", 1021, "..."));
}

TEST_F(PortObject, NullHandlesAreRefusedEverywhere) {
    BYTE byte = 0;
    DWORD count = kPoison;
    DOC_INFO_1W info{const_cast<LPWSTR>(L"doc"), nullptr, nullptr};
    const std::pair<const char*, std::function<BOOL()>> calls[] = {
        {"ClosePort",
         [] {
             return Table().pfnClosePort(nullptr);
         }},
        {"ReadPort",
         [&] {
             return Table().pfnReadPort(nullptr, &byte, 1, &count);
         }},
        {"WritePort",
         [&] {
             return Table().pfnWritePort(nullptr, &byte, 1, &count);
         }},
        {"StartDocPort",
         [&] {
             return Table().pfnStartDocPort(nullptr, nullptr, 1, 1,
                                            reinterpret_cast<LPBYTE>(&info));
         }},
    };
    for (const auto& [name, call] : calls) {
        SetLastError(kPoison);
        EXPECT_FALSE(call()) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << name;
        EXPECT_EQ(count, kPoison) << name;
    }
}

TEST_F(PortObject, ReadPortReportsNothingReadAndFailsWithoutLastError) {
    OpenedPort port(kPort);
    BYTE buffer[4] = {1, 2, 3, 4};
    DWORD read = kPoison;
    SetLastError(kPoison);
    EXPECT_FALSE(Table().pfnReadPort(port.Get(), buffer, sizeof buffer, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(GetLastError(), kPoison);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[3], 4);
}

} // namespace
