// The dispatcher's command line, composed exactly; starting the dispatcher:
// its exit code, its start-up record, the failures to start it, and the job
// end's bound on its wait.

#include <gtest/gtest.h>

#include <string>

#include "dispatch/DispatcherMessage.h"
#include "dispatch/MessageTransport.h"
#include "harness/PortSupport.h"
#include "harness/TestDispatcher.h"
#include "harness/TestRegistry.h"
#include "monitor/Error.h"
#include "monitor/PortContext.h"

namespace {

using Brambleworth::Zel::Error;
using namespace Brambleworth::Zel::PortMon;
using namespace zeltest;

const std::string kSendFrame = "1 Brambleworth::Zel::PortMon::MessageTransport::Send";

// A port object carrying a job as StartDocPort leaves it, with a primary token
// of the test program's own user.
class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        KernelHandle own;
        ASSERT_TRUE(
            OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, own.Receive()));
        port_.userToken = KernelHandle(PrimaryToken(own.Get()));
        port_.documentName = L"Quarterly report";
        port_.psFilePath = L"C:\\users\\root\\Temp\\ps12AB.tmp";
    }

    // "returned", or the thrown error's frame count, function, code, line,
    // message and (last) system error.
    std::string Send(const std::wstring& command) {
        try {
            MessageTransport::Send(command, port_);
            return "returned";
        } catch (const Error& e) {
            return std::to_string(e.FrameCount()) + " " + e.Function() + " " +
                   std::to_string(e.Code()) + " " + std::to_string(e.Line()) + " " + e.message() +
                   " " + std::to_string(e.SystemError());
        }
    }

    PortContext port_{nullptr, L"ZEL_TEST_TRANSPORT:"};
    ScopedRecordFile record_;
};

TEST_F(Transport, ExitCodeDecidesAndNothingOfTheDispatcherIsKept) {
    const HANDLE token = port_.userToken.Get();
    // STILL_ACTIVE reads like a dispatcher still at work: success.
    for (DWORD exitCode : {0ul, 1ul, STILL_ACTIVE, 0xC0000005ul}) {
        const bool fails = exitCode != 0 && exitCode != STILL_ACTIVE;
        const std::wstring command = DispatcherCommand(record_.Path(), exitCode);
        EXPECT_EQ(Send(command),
                  fails ? kSendFrame + " 6 386  " + std::to_string(exitCode) : "returned");
        const DispatcherRecord record = ReadDispatcherRecord(record_.Path());
        EXPECT_EQ(record.commandLine, command + L" Zel::Create::Plain \"Quarterly report\" "
                                                L"\"C:\\users\\root\\Temp\\ps12AB.tmp\"");
        // A hidden window: flags, show, x, y, x size, y size, x chars, y chars.
        EXPECT_EQ(record.startup, L"1,0,2147483648,2147483648,2147483648,2147483648,80,25");
        // Both handles closed: the process and thread objects go away.
        EXPECT_TRUE(ProcessObjectGoes(record.pid)) << exitCode;
        EXPECT_TRUE(ThreadObjectGoes(record.tid)) << exitCode;
        DeleteFileW(record_.Path().c_str());
    }
    // The token stays the port's: the same handle, still open.
    EXPECT_EQ(port_.userToken.Get(), token);
    EXPECT_NE(TokenElevationText(token), L"none");
}

TEST_F(Transport, DispatcherThatCannotStartIsError44WithTheSystemsCode) {
    // A missing program; a job started on a thread without a token.
    for (bool withToken : {true, false}) {
        if (!withToken) {
            port_.userToken.Close();
        }
        const std::string thrown = Send(withToken ? L"\"C:\\no\\such\\dispatcher.exe\" x"
                                                  : DispatcherCommand(record_.Path(), 0));
        const std::string frame = kSendFrame + " 44 367 Cannot create print dispatcher process ";
        ASSERT_EQ(thrown.rfind(frame, 0), 0u) << thrown;
        EXPECT_TRUE(withToken ? thrown == frame + "2" : thrown != frame + "0") << thrown;
        EXPECT_FALSE(ReadDispatcherRecord(record_.Path()).present);
    }
}

TEST(DispatcherCommandLine, ComposedExactly) {
    const std::wstring path = L"C:\\T\\ps1.tmp"; // 12 code units: 48 digits in hex
    const std::wstring pathHex = L"0043003a005c0054005c007000730031002e0074006d0070";
    const std::wstring controls(L"\0\x01\x1f", 3);
    struct Case {
        std::wstring command, document, path, expected;
    } cases[] = {
        {L"disp.exe", L"Report 7", path,
         L"disp.exe Zel::Create::Plain \"Report 7\" \"C:\\T\\ps1.tmp\""},
        // The command is copied as stored: its own quotes and arguments stay ahead.
        {L"\"C:\\Program Files\\d.exe\" -x 1", L"a", L"b",
         L"\"C:\\Program Files\\d.exe\" -x 1 Zel::Create::Plain \"a\" \"b\""},
        {L"d", L"~", L"~", L"d Zel::Create::Plain \"~\" \"~\""}, // 126 stays plain
        {L"d", L"\x7f", L"x", L"d Zel::Create::Hex \"007f\" \"0078\""},
        // One unit above 126 in either field turns both fields into hex.
        {L"d", L"caf\x00e9", path, L"d Zel::Create::Hex \"00630061006600e9\" \"" + pathHex + L"\""},
        {L"d", L"ab", L"C:\\\x00e9", L"d Zel::Create::Hex \"00610062\" \"0043003a005c00e9\""},
        {L"d", L"say \"hi\"\tnow", L"p\"q", L"d Zel::Create::Plain \"say \"hi\"\tnow\" \"p\"q\""},
        {L"d", controls, L"p", L"d Zel::Create::Plain \"" + controls + L"\" \"p\""},
        {L"d", L"", L"p", L"d Zel::Create::Plain \"\" \"p\""},
        {L"d", L"", L"\x00e9", L"d Zel::Create::Hex \"\" \"00e9\""},
        // U+1F600 stays two surrogate units, one group each; every digit is lower case.
        {L"d", L"\xd83d\xde00", L"p", L"d Zel::Create::Hex \"d83dde00\" \"0070\""},
        {L"d", L"\x0123\x4567\x89ab\xcdef", std::wstring(L"\0\xffff", 2),
         L"d Zel::Create::Hex \"0123456789abcdef\" \"0000ffff\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildDispatcherCommandLine(c.command, c.document, c.path), c.expected);
    }
}

constexpr const wchar_t* kPort = L"ZEL_SLOW_DISPATCHER";

// Takes a minute by design, so it runs as a CTest entry of its own (label
// "slow"); the main entry leaves it out.
TEST(SlowDispatcher, JobEndReturnsAfterTheBoundAndLeavesItRunning) {
    ScopedPorts ports({kPort});
    DeletePortLog(kPort);
    ScopedRecordFile record;
    const std::wstring eventName = L"ZelSlowDispatcher-" + std::to_wstring(GetCurrentProcessId());
    KernelHandle release(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    const std::wstring command = DispatcherCommand(record.Path(), 0, L"@" + eventName);
    SetString(HKEY_LOCAL_MACHINE, PortKeyPath(kPort), L"PrintDispatcherFilePath", command);

    std::wstring ps;
    {
        OpenedPort port(kPort);
        {
            ScopedImpersonation user;
            DOC_INFO_1W info{const_cast<LPWSTR>(L"Long"), nullptr, nullptr};
            ASSERT_TRUE(Table().pfnStartDocPort(port.Get(), nullptr, 0, 1,
                                                reinterpret_cast<LPBYTE>(&info)));
        }
        ps = static_cast<PortContext*>(port.Get())->psFilePath;
        EXPECT_TRUE(Table().pfnEndDocPort(port.Get()));
    }

    // The dispatcher still waits for its release: the job end gave up waiting
    // for it, did not end it, and counted the job as handed on.
    const DispatcherRecord started = ReadDispatcherRecord(record.Path());
    ASSERT_TRUE(started.present);
    EXPECT_EQ(started.commandLine, command + L" Zel::Create::Plain \"Long\" \"" + ps + L"\"");
    { // still running; the handle goes before the process object is watched
        KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, started.pid));
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
