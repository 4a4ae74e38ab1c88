// OpenPort and ClosePort through the monitor's table, and the port object's
// return to idle.

#include <gtest/gtest.h>

#include <string>

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

TEST_F(PortObject, TwoOpensOfOnePortAreIndependentAndShareTheLog) {
    OpenedPort first(kPort);
    OpenedPort second(kPort);
    EXPECT_NE(first.Get(), second.Get());
    EXPECT_TRUE(first.Close());
    // The second object still works after the first is gone.
    DWORD read = kPoison;
    EXPECT_FALSE(Table().pfnReadPort(second.Get(), nullptr, 0, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(second.Close());
    const std::string open =
        NormalLine("OpenPort", 599, "...") + NormalLine("OpenPort", 608, "done");
    EXPECT_EQ(ReadPortLog(kPort), open + open + NormalLine("ClosePort", 1021, "...") +
                                      NormalLine("ReadPort", 910, "...") +
                                      NormalLine("ReadPort", 913, "done") +
                                      NormalLine("ClosePort", 1021, "..."));
}

TEST_F(PortObject, NullHandlesAreRefused) {
    SetLastError(kPoison);
    EXPECT_FALSE(Table().pfnClosePort(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    DWORD read = kPoison;
    SetLastError(kPoison);
    EXPECT_FALSE(Table().pfnReadPort(nullptr, nullptr, 0, &read));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(read, kPoison);
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

TEST_F(PortObject, ResetJobReleasesEverythingAndReturnsToIdle) {
    PortContext port(SpoolerHarness::Instance().Init(), kPort);
    port.printerName = L"printer";
    port.jobId = 42;
    port.documentName = L"doc";
    const std::wstring file = TempDirectory() + L"zel_reset_test.ps";
    port.psFilePath = file;
    port.psFile.Reset(_wfopen(file.c_str(), L"wb"));
    ASSERT_TRUE(port.psFile.IsOpen());
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(),
                                port.userToken.Receive(), 0, FALSE, DUPLICATE_SAME_ACCESS));
    port.jobKeyWanted = false;
    ASSERT_TRUE(port.jobKey.OpenKey(HKEY_LOCAL_MACHINE, PortKeyPath(kPort).c_str(), KEY_READ));
    port.jobError = 16;

    port.ResetJob();
    EXPECT_EQ(port.printerName, L"");
    EXPECT_EQ(port.jobId, 0u);
    EXPECT_EQ(port.documentName, L"");
    EXPECT_EQ(port.psFilePath, L"");
    EXPECT_FALSE(port.psFile.IsOpen());
    EXPECT_EQ(port.userToken.Get(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(port.jobKeyWanted);
    EXPECT_FALSE(port.jobKey.IsOpen());
    EXPECT_TRUE(Registry().OpenKeys().empty()) << "closed through the spooler's table";
    EXPECT_EQ(port.jobError, 0u);
    // The PS file on disk is left alone, and it is closed: it can be deleted.
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(DeleteFileW(file.c_str()));
}

} // namespace
