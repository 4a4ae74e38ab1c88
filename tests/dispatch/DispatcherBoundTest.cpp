// A dispatcher that outlives the job end's wait. Takes a minute by design, so
// it runs as a CTest entry of its own (label "slow"); the main entry leaves it
// out.

#include <gtest/gtest.h>

#include <string>

#include "harness/PortSupport.h"
#include "harness/TestDispatcher.h"
#include "harness/TestRegistry.h"
#include "monitor/PortContext.h"
#include "monitor/Resources.h"

using namespace zeltest;

namespace {

constexpr const wchar_t* kPort = L"ZEL_SLOW_DISPATCHER";

TEST(SlowDispatcher, JobEndReturnsAfterTheBoundAndLeavesItRunning) {
    ScopedPorts ports({kPort});
    DeletePortLog(kPort);
    ScopedRecordFile record;
    const std::wstring eventName = L"ZelSlowDispatcher-" + std::to_wstring(GetCurrentProcessId());
    Brambleworth::Zel::PortMon::KernelHandle release(
        CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    const std::wstring command = DispatcherCommand(record.Path(), 0, L"@" + eventName);
    SetString(HKEY_LOCAL_MACHINE, PortKeyPath(kPort), L"PrintDispatcherFilePath", command);

    std::wstring ps;
    {
        OpenedPort port(kPort);
        {
            ScopedImpersonation user;
            std::wstring document = L"Long";
            DOC_INFO_1W info{document.data(), nullptr, nullptr};
            ASSERT_TRUE(Table().pfnStartDocPort(port.Get(), nullptr, 0, 1,
                                                reinterpret_cast<LPBYTE>(&info)));
        }
        ps = static_cast<Brambleworth::Zel::PortMon::PortContext*>(port.Get())->psFilePath;
        EXPECT_TRUE(Table().pfnEndDocPort(port.Get()));
    }

    // The dispatcher still waits for its release: the job end gave up waiting
    // for it, did not end it, and counted the job as handed on.
    const DispatcherRecord started = ReadDispatcherRecord(record.Path());
    ASSERT_TRUE(started.present);
    EXPECT_EQ(started.commandLine, command + L" Zel::Create::Plain \"Long\" \"" + ps + L"\"");
    { // still running; the handle goes before the process object is watched
        Brambleworth::Zel::PortMon::KernelHandle process(
            OpenProcess(SYNCHRONIZE, FALSE, started.pid));
        EXPECT_EQ(WaitForSingleObject(process.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    }
    EXPECT_TRUE(FileExists(ps));
    EXPECT_NE(ReadPortLog(kPort).find(
                  NormalLine("EndDocPort", 985, "print dispatcher successfully launched") +
                  NormalLine("EndDocPort", 987, "done")),
              std::string::npos);

    SetEvent(release.Get());
    EXPECT_TRUE(ProcessObjectGoes(started.pid));
    DeleteFileW(ps.c_str());
    DeletePortLog(kPort);
}

} // namespace
