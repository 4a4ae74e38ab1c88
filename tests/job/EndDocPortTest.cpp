// EndDocPort through the monitor's table: the job handed on to its job key or
// to the print dispatcher, the spooler told first, and every failure ending in
// a failed job.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "harness/ImportHook.h"
#include "harness/TestDispatcher.h"
#include "job/JobFixture.h"
#include "monitor/PortContext.h"
#include "monitor/Resources.h"

using namespace Brambleworth::Zel::PortMon;
using namespace zeltest;

namespace {

constexpr const wchar_t* kPort = L"ZEL_JOBEND";
constexpr const wchar_t* kSolicited = L"#%00ff00ff00ff00ff#%";

// A print stream of a little more than two of the spooler's chunks.
const std::string kPayload = Bytes(9021, 17);

std::string EndLine(int line, const std::string& message) {
    return NormalLine("EndDocPort", line, message);
}
const std::string kLaunching = EndLine(932, "...") + EndLine(967, "launching print dipatcher...");
const std::string kHandedToDispatcher =
    kLaunching + EndLine(985, "print dispatcher successfully launched") + EndLine(987, "done");

bool IsIdle(const PortContext& port) {
    return port.printerName.empty() && port.jobId == 0 && port.documentName.empty() &&
           port.psFilePath.empty() && !port.psFile.IsOpen() && !port.userToken.IsOpen() &&
           port.jobKeyWanted && !port.jobKey.IsOpen() && port.jobError == 0;
}

class JobEnd : public JobTest {
protected:
    JobEnd() : JobTest(kPort) {}
    void SetUp() override {
        JobTest::SetUp();
        SetDispatcher(0);
    }

    void SetDispatcher(DWORD exitCode, const std::wstring& wait = L"0") {
        command_ = DispatcherCommand(record_.Path(), exitCode, wait);
        SetString(HKEY_LOCAL_MACHINE, PortKeyPath(kPort), L"PrintDispatcherFilePath", command_);
    }

    // Starts a job on a thread that impersonates the printing user (the test
    // program's own unless a token is given), sends the payload in the
    // spooler's chunk size and returns the PS file.
    std::wstring StartJob(const wchar_t* document, HANDLE user = nullptr,
                          const wchar_t* printer = L"Zel Test Printer") {
        {
            ScopedImpersonation as(user);
            EXPECT_TRUE(Start(document, printer, 17));
        }
        for (size_t at = 0; at < kPayload.size(); at += 4096) {
            const std::string chunk = kPayload.substr(at, 4096);
            DWORD written = kPoison;
            EXPECT_TRUE(Write(Handle(), chunk, written));
            EXPECT_EQ(written, chunk.size());
        }
        return files_.back();
    }

    BOOL End() { return Table().pfnEndDocPort(Handle()); }

    ScopedRecordFile record_;
    std::wstring command_;
};

// Every failure loses the job: its PS file is deleted, the port is idle again,
// the spooler sees FALSE, and the log says why.
TEST_F(JobEnd, EveryFailureFailsTheJob) {
    const std::string noPath = "failed to get print dispatcher's path: ";
    const auto error = [](const char* function, int line, const std::string& message) {
        return LogLine("ERROR  : ", function, line, message);
    };
    struct Case {
        const char* label;
        std::function<void()> arrange;
        std::string logTail;
        bool solicited = false;
    } cases[] = {
        {"dispatcher fails", [&] { SetDispatcher(1); },
         kLaunching + "ERROR  : Brambleworth::Zel::PortMon::MessageTransport::Send: #386" +
             SecPiece(1, "0x000001") + "\r\n"},
        {"dispatcher missing",
         [] {
             SetString(HKEY_LOCAL_MACHINE, PortKeyPath(kPort), L"PrintDispatcherFilePath",
                       L"C:\\no\\such\\dispatcher.exe");
         },
         kLaunching + error("MessageTransport::Send", 367,
                            "Cannot create print dispatcher process: " + SecPiece(2, "0x000002"))},
        {"no dispatcher value",
         [] {
             DeleteTree(HKEY_LOCAL_MACHINE, PortKeyPath(kPort));
             CreateKey(HKEY_LOCAL_MACHINE, PortKeyPath(kPort));
         },
         kLaunching + error("EndDocPort", 980, noPath + SecPiece(2, "0x000002"))},
        {"dispatcher value not a string",
         [] { SetDword(HKEY_LOCAL_MACHINE, PortKeyPath(kPort), L"PrintDispatcherFilePath", 1); },
         kLaunching + error("EndDocPort", 980, noPath)},
        {"dispatcher value unreadable",
         [] { Registry().Inject(RegFn::QueryValue, ERROR_ACCESS_DENIED); },
         kLaunching + error("EndDocPort", 980, noPath + SecPiece(5, "0x000005"))},
        {"port key deleted", [] { DeleteTree(HKEY_LOCAL_MACHINE, PortKeyPath(kPort)); },
         kLaunching +
             error("EndDocPort", 976, "failed to open port reg key: " + SecPiece(2, "0x000002"))},
        {"path not published", [] { Registry().Inject(RegFn::SetValue, ERROR_ACCESS_DENIED); },
         EndLine(932, "...") +
             error("EndDocPort", 957, "failed to set PS file path: " + SecPiece(5, "0x000005")),
         true},
    };
    for (const Case& c : cases) {
        ScopedPorts ports({kPort});
        SetDispatcher(0);
        ScopedJobKey key(L"00ff00ff00ff00ff");
        const std::wstring ps = StartJob(c.solicited ? kSolicited : L"Report");
        c.arrange();

        EXPECT_FALSE(End()) << c.label;

        EXPECT_FALSE(FileExists(ps)) << c.label;
        EXPECT_TRUE(IsIdle(Port(Handle()))) << c.label;
        EXPECT_TRUE(Registry().OpenKeys().empty()) << c.label;
        EXPECT_TRUE(EndsWith(ReadPortLog(kPort), c.logTail)) << c.label;
        if (c.solicited) {
            // The key learns the failure's number instead of a path.
            std::wstring published;
            EXPECT_FALSE(ReadString(HKEY_CURRENT_USER, key.Path(), L"PSFilePath", published));
            EXPECT_EQ(ErrorCode(key), 30u);
        }
    }
}

TEST_F(JobEnd, IdlePortAndSecondCallFindNoJobKey) {
    const std::string idleFailure = EndLine(932, "...") + LogLine("ERROR  : ", "EndDocPort", 957,
                                                                  "failed to set PS file path: ");
    EXPECT_TRUE(IsIdle(Port(Handle()))) << "a port opens idle";
    EXPECT_FALSE(End());
    EXPECT_TRUE(EndsWith(ReadPortLog(kPort), idleFailure));
    EXPECT_TRUE(Registry().CallsOf(RegFn::SetValue).empty());

    // A job whose identifier has no job key leaves that key's failed open
    // behind; the idle port's failure does not report it as its own.
    StartJob(L"#%0123012301230123#%");
    ASSERT_TRUE(End());
    EXPECT_FALSE(End());
    EXPECT_TRUE(EndsWith(ReadPortLog(kPort), idleFailure));

    ScopedJobKey key(L"00ff00ff00ff00ff");
    const std::wstring ps = StartJob(kSolicited);
    ASSERT_TRUE(End());
    Registry().Clear();

    EXPECT_FALSE(End());
    EXPECT_TRUE(EndsWith(ReadPortLog(kPort), idleFailure));
    // The finished job stays as it was handed on.
    EXPECT_TRUE(Registry().CallsOf(RegFn::SetValue).empty());
    EXPECT_TRUE(FileExists(ps));
    EXPECT_EQ(ErrorCode(key), 0u);
}

// Watches the DLL's calls into winspool. Wine's SetJobW finds the job but
// ignores the command, so the calls themselves are what the test can see.
std::vector<std::wstring> g_calls;
std::function<std::wstring()> g_jobState; // the job as SetJobW finds it
const HANDLE kPrinter = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7E57));

BOOL WINAPI FakeOpenPrinterW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
    g_calls.push_back(L"open " + std::wstring(name) + (defaults ? L" with defaults" : L""));
    *printer = kPrinter;
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return name == std::wstring(L"Zel Test Printer");
}
BOOL WINAPI FakeSetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command) {
    g_calls.push_back(L"set " + std::to_wstring(printer == kPrinter) + L" " +
                      std::to_wstring(jobId) + L" " + std::to_wstring(level) + L" " +
                      std::to_wstring(job == nullptr) + L" " + std::to_wstring(command) +
                      g_jobState());
    return TRUE;
}
BOOL WINAPI FakeClosePrinter(HANDLE printer) {
    g_calls.push_back(L"close " + std::to_wstring(printer == kPrinter));
    return TRUE;
}

// A job handed on: the spooler is told first (once, while the PS file is still
// open), then the file is closed and either published in the job key (even
// after a failed write, with its number) or given to the dispatcher, started
// with the printing user's token. A printer that does not open is no failure.
TEST_F(JobEnd, JobIsHandedOnAfterTheSpoolerIsTold) {
    const HMODULE dll = SpoolerHarness::Instance().Module();
    ScopedImportHook hooks[] = {
        {dll, "winspool.drv", "OpenPrinterW", reinterpret_cast<void*>(FakeOpenPrinterW)},
        {dll, "winspool.drv", "SetJobW", reinterpret_cast<void*>(FakeSetJobW)},
        {dll, "winspool.drv", "ClosePrinter", reinterpret_cast<void*>(FakeClosePrinter)}};
    // The printing user's token, told apart from the test program's own where
    // the platform allows it.
    HANDLE other = OtherElevationImpersonationToken();
    KernelHandle otherOwner(other);
    std::optional<ScopedJobKey> key;
    g_jobState = [&] {
        std::wstring path;
        return std::wstring(Port(Handle()).psFile.IsOpen() ? L", file open" : L", file closed") +
               (ReadString(HKEY_CURRENT_USER, key->Path(), L"PSFilePath", path) ? L", published"
                                                                                : L"") +
               (ReadDispatcherRecord(record_.Path()).present ? L", dispatched" : L"");
    };
    // What SetJobW finds: the PS file still open, unless a failed write closed it.
    const auto toldWith = [](const wchar_t* file) {
        return std::vector<std::wstring>{
            L"open Zel Test Printer",
            L"set 1 17 0 1 " + std::to_wstring(JOB_CONTROL_SENT_TO_PRINTER) + L", file " + file,
            L"close 1"};
    };
    struct Case {
        const wchar_t *document, *handedOnAs, *printer; // handedOnAs null: a solicited job
        bool failedWrite;
        std::vector<std::wstring> calls;
    } cases[] = {
        {L"Invoice #%00ff00ff00ff00ff#%", nullptr, L"Zel Test Printer", false, toldWith(L"open")},
        {kSolicited, nullptr, L"Zel Test Printer", true, toldWith(L"closed")},
        {L"Microsoft Word - Q3 \"final\"", L"Q3 \"final\"", L"Zel Test Printer", false,
         toldWith(L"open")},
        {L"Plain", L"Plain", L"Gone", false, {L"open Gone"}},
    };
    for (const Case& c : cases) {
        const bool solicited = !c.handedOnAs;
        key.emplace(L"00ff00ff00ff00ff");
        DeleteFileW(record_.Path().c_str());
        const std::wstring ps = StartJob(c.document, solicited ? nullptr : other, c.printer);
        if (c.failedWrite) {
            // The PS file gone from under the job: the next chunk fails (error 7).
            Port(Handle()).psFile.Close();
            DWORD written = kPoison;
            ASSERT_FALSE(Write(Handle(), "x", written));
        }
        Registry().Clear();
        g_calls.clear();

        ASSERT_TRUE(End()) << Narrow(c.document);

        EXPECT_EQ(g_calls, c.calls) << Narrow(c.document);
        const DispatcherRecord record = ReadDispatcherRecord(record_.Path());
        const auto sets = Registry().CallsOf(RegFn::SetValue);
        const auto opens = Registry().CallsOf(RegFn::OpenKey);
        if (solicited) {
            // Path (REG_SZ, its NUL counted) first, then the error number,
            // through the spooler's registry; no port key, no dispatcher.
            DWORD type = 0;
            std::vector<BYTE> raw;
            ASSERT_TRUE(ReadValue(HKEY_CURRENT_USER, key->Path(), L"PSFilePath", type, raw));
            EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
            EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(raw.data()),
                                   raw.size() / sizeof(wchar_t)),
                      ps + L'\0');
            EXPECT_EQ(ErrorCode(*key), c.failedWrite ? 7u : 0u);
            ASSERT_EQ(sets.size(), 2u);
            EXPECT_EQ(sets[0].name, L"PSFilePath");
            EXPECT_EQ(sets[1].name, L"ErrorCode");
            EXPECT_EQ(sets[0].hSpooler, RecordingRegistry::SpoolerHandle());
            EXPECT_TRUE(opens.empty()) << "port key not read";
            EXPECT_FALSE(record.present);
        } else {
            EXPECT_TRUE(sets.empty());
            ASSERT_EQ(opens.size(), 1u) << "the port key, through the spooler's registry";
            EXPECT_EQ(opens[0].name, PortKeyPath(kPort));
            ASSERT_TRUE(record.present);
            EXPECT_EQ(record.commandLine,
                      command_ + L" Zel::Create::Plain \"" + c.handedOnAs + L"\" \"" + ps + L"\"");
            if (other) {
                EXPECT_EQ(record.elevation, TokenElevationText(other)) << "not the job's token";
            }
        }
        EXPECT_TRUE(Registry().OpenKeys().empty());
        EXPECT_EQ(ReadFileBytes(ps), kPayload);
        EXPECT_TRUE(IsClosedOnDisk(ps));
        EXPECT_TRUE(IsIdle(Port(Handle())));
        EXPECT_TRUE(EndsWith(ReadPortLog(kPort), solicited
                                                     ? EndLine(932, "...") + EndLine(987, "done")
                                                     : kHandedToDispatcher));
    }
}

} // namespace
