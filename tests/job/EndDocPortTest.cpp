// EndDocPort through the monitor's table: the job handed on to its job key or
// to the print dispatcher, every failure ending in a failed job, the spooler
// told first, and other ports going on while one waits for its dispatcher.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "harness/ImportHook.h"
#include "harness/PortSupport.h"
#include "harness/TestDispatcher.h"
#include "harness/TestRegistry.h"
#include "monitor/PortContext.h"
#include "monitor/Resources.h"

using namespace Brambleworth::Zel::PortMon;
using namespace zeltest;

namespace {

constexpr const wchar_t* kPort = L"ZEL_JOBEND";
constexpr const wchar_t* kOtherPort = L"ZEL_JOBEND_OTHER";
constexpr const wchar_t* kSolicited = L"#%00ff00ff00ff00ff#%";

PortContext& Port(HANDLE handle) {
    return *static_cast<PortContext*>(handle);
}

// A print stream with bytes that a text-mode stream would change.
std::string Payload() {
    std::string data("%!PS-Adobe-3.0\r\n\0\x1a\xff\n\r", 21);
    for (int i = 0; i < 9000; ++i) {
        data.push_back(static_cast<char>(i * 7));
    }
    return data;
}

std::string EndLine(int line, const std::string& message) {
    return NormalLine("EndDocPort", line, message);
}
const std::string kLaunching = EndLine(932, "...") + EndLine(967, "launching print dipatcher...");
const std::string kHandedToDispatcher =
    kLaunching + EndLine(985, "print dispatcher successfully launched") + EndLine(987, "done");

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The file is closed when it can be opened for exclusive use.
bool IsClosedOnDisk(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(file);
    return file != INVALID_HANDLE_VALUE;
}

bool IsIdle(const PortContext& port) {
    return port.printerName.empty() && port.jobId == 0 && port.documentName.empty() &&
           port.psFilePath.empty() && !port.psFile.IsOpen() && !port.userToken.IsOpen() &&
           port.jobKeyWanted && !port.jobKey.IsOpen() && port.jobError == 0;
}

DWORD ErrorCode(const ScopedJobKey& key) {
    DWORD code = kPoison;
    ReadDword(HKEY_CURRENT_USER, key.Path(), L"ErrorCode", code);
    return code;
}

class JobEnd : public ::testing::Test {
protected:
    void SetUp() override {
        DeletePortLog(kPort);
        Registry().Clear();
        port_ = std::make_unique<OpenedPort>(kPort);
        SetDispatcher(0);
    }
    void TearDown() override {
        port_.reset();
        for (const std::wstring& file : files_) {
            DeleteFileW(file.c_str());
        }
        DeletePortLog(kPort);
    }
    static RecordingRegistry& Registry() { return SpoolerHarness::Instance().Registry(); }
    HANDLE Handle() const { return port_->Get(); }

    void SetDispatcher(DWORD exitCode, const std::wstring& wait = L"0") {
        command_ = DispatcherCommand(record_.Path(), exitCode, wait);
        SetString(HKEY_LOCAL_MACHINE, PortKeyPath(kPort), L"PrintDispatcherFilePath", command_);
    }

    // Starts a job on a thread that impersonates the printing user (the test
    // program's own unless a token is given), sends the payload in the
    // spooler's chunk size and returns the PS file.
    std::wstring StartJob(HANDLE port, std::wstring document, HANDLE user = nullptr,
                          std::wstring printer = L"Zel Test Printer", DWORD jobId = 17) {
        {
            ScopedImpersonation self;
            std::optional<ScopedTokenImpersonation> other;
            if (user) {
                other.emplace(user);
            }
            DOC_INFO_1W info{document.data(), nullptr, nullptr};
            EXPECT_TRUE(Table().pfnStartDocPort(port, printer.data(), jobId, 1,
                                                reinterpret_cast<LPBYTE>(&info)));
        }
        std::string data = Payload();
        for (size_t at = 0; at < data.size(); at += 4096) {
            DWORD written = kPoison;
            const DWORD size = static_cast<DWORD>(std::min<size_t>(4096, data.size() - at));
            EXPECT_TRUE(
                Table().pfnWritePort(port, reinterpret_cast<LPBYTE>(&data[at]), size, &written));
            EXPECT_EQ(written, size);
        }
        files_.push_back(Port(port).psFilePath);
        return files_.back();
    }

    static BOOL End(HANDLE port) { return Table().pfnEndDocPort(port); }

    ScopedPorts ports_{{kPort}};
    std::unique_ptr<OpenedPort> port_;
    std::vector<std::wstring> files_;
    ScopedRecordFile record_;
    std::wstring command_;
};

TEST_F(JobEnd, SolicitedJobPublishesItsFileInTheJobKeyEvenAfterAFailedWrite) {
    for (bool failedWrite : {false, true}) {
        ScopedJobKey key(L"00ff00ff00ff00ff");
        const std::wstring ps = StartJob(Handle(), std::wstring(L"Invoice ") + kSolicited);
        if (failedWrite) {
            // The PS file gone from under the job: the next chunk fails (error 7).
            Port(Handle()).psFile.Close();
            BYTE byte = 'x';
            DWORD written = kPoison;
            ASSERT_FALSE(Table().pfnWritePort(Handle(), &byte, 1, &written));
        }
        Registry().Clear();

        EXPECT_TRUE(End(Handle()));

        DWORD type = 0;
        std::vector<BYTE> raw;
        ASSERT_TRUE(ReadValue(HKEY_CURRENT_USER, key.Path(), L"PSFilePath", type, raw));
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(raw.data()),
                               raw.size() / sizeof(wchar_t)),
                  ps + L'\0')
            << "terminating zero counted";
        EXPECT_EQ(ErrorCode(key), failedWrite ? 7u : 0u);
        // Path first, then the error number, through the spooler's registry;
        // the key is closed afterwards and the dispatcher is not involved.
        const auto sets = Registry().CallsOf(RegFn::SetValue);
        ASSERT_EQ(sets.size(), 2u);
        EXPECT_EQ(sets[0].name, L"PSFilePath");
        EXPECT_EQ(sets[1].name, L"ErrorCode");
        EXPECT_EQ(sets[0].hSpooler, RecordingRegistry::SpoolerHandle());
        EXPECT_TRUE(Registry().CallsOf(RegFn::OpenKey).empty()) << "port key not read";
        EXPECT_TRUE(Registry().OpenKeys().empty());
        EXPECT_FALSE(ReadDispatcherRecord(record_.Path()).present);

        EXPECT_EQ(ReadFileBytes(ps), Payload());
        EXPECT_TRUE(IsClosedOnDisk(ps));
        EXPECT_TRUE(IsIdle(Port(Handle())));
        EXPECT_TRUE(EndsWith(ReadPortLog(kPort), EndLine(932, "...") + EndLine(987, "done")));
    }
}

TEST_F(JobEnd, UnsolicitedJobStartsTheDispatcherWithTheJobsMessageAndToken) {
    // The printing user's token, told apart from the test program's own where
    // the platform allows it.
    HANDLE other = OtherElevationImpersonationToken();
    KernelHandle otherOwner(other ? other : INVALID_HANDLE_VALUE);
    const std::wstring ps = StartJob(Handle(), L"Microsoft Word - Q3 \"final\"", other);
    Registry().Clear();

    EXPECT_TRUE(End(Handle()));

    const DispatcherRecord record = ReadDispatcherRecord(record_.Path());
    ASSERT_TRUE(record.present);
    EXPECT_EQ(record.commandLine,
              command_ + L" Zel::Create::Plain \"Q3 \"final\"\" \"" + ps + L"\"");
    if (other) {
        EXPECT_EQ(record.elevation, TokenElevationText(other)) << "not the job's token";
    }
    // The port key was read through the spooler's registry and closed again.
    const auto opens = Registry().CallsOf(RegFn::OpenKey);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].name, PortKeyPath(kPort));
    EXPECT_TRUE(Registry().OpenKeys().empty());

    EXPECT_EQ(ReadFileBytes(ps), Payload());
    EXPECT_TRUE(IsClosedOnDisk(ps));
    EXPECT_TRUE(IsIdle(Port(Handle())));
    EXPECT_TRUE(EndsWith(ReadPortLog(kPort), kHandedToDispatcher));
}

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
    };
    const Case cases[] = {
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
        const std::wstring ps = StartJob(Handle(), c.solicited ? kSolicited : L"Report");
        c.arrange();

        EXPECT_FALSE(End(Handle())) << c.label;

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
    EXPECT_FALSE(End(Handle()));
    EXPECT_TRUE(EndsWith(ReadPortLog(kPort), idleFailure));
    EXPECT_TRUE(Registry().CallsOf(RegFn::SetValue).empty());

    ScopedJobKey key(L"00ff00ff00ff00ff");
    const std::wstring ps = StartJob(Handle(), kSolicited);
    ASSERT_TRUE(End(Handle()));
    Registry().Clear();

    EXPECT_FALSE(End(Handle()));
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

TEST_F(JobEnd, SpoolerIsToldOnceAndBeforeTheJobIsHandedOn) {
    const HMODULE dll = SpoolerHarness::Instance().Module();
    ScopedImportHook open(dll, "winspool.drv", "OpenPrinterW",
                          reinterpret_cast<void*>(FakeOpenPrinterW));
    ScopedImportHook setJob(dll, "winspool.drv", "SetJobW", reinterpret_cast<void*>(FakeSetJobW));
    ScopedImportHook close(dll, "winspool.drv", "ClosePrinter",
                           reinterpret_cast<void*>(FakeClosePrinter));
    ScopedJobKey key(L"00ff00ff00ff00ff");
    g_jobState = [&] {
        std::wstring path;
        return std::wstring(Port(Handle()).psFile.IsOpen() ? L", file open" : L", file closed") +
               (ReadString(HKEY_CURRENT_USER, key.Path(), L"PSFilePath", path) ? L", published"
                                                                               : L"") +
               (ReadDispatcherRecord(record_.Path()).present ? L", dispatched" : L"");
    };
    const std::wstring sent = std::to_wstring(JOB_CONTROL_SENT_TO_PRINTER) + L", file open";
    struct Case {
        const wchar_t* document;
        const wchar_t* printer;
        std::vector<std::wstring> calls;
    };
    // A solicited and an unsolicited job, and a printer that does not open:
    // no failure, nothing logged about it.
    const Case cases[] = {
        {kSolicited,
         L"Zel Test Printer",
         {L"open Zel Test Printer", L"set 1 17 0 1 " + sent, L"close 1"}},
        {L"Plain",
         L"Zel Test Printer",
         {L"open Zel Test Printer", L"set 1 17 0 1 " + sent, L"close 1"}},
        {L"Plain", L"Gone", {L"open Gone"}},
    };
    for (const Case& c : cases) {
        g_calls.clear();
        StartJob(Handle(), c.document, nullptr, c.printer);
        ASSERT_TRUE(End(Handle()));
        EXPECT_EQ(g_calls, c.calls);
        EXPECT_TRUE(EndsWith(ReadPortLog(kPort), c.document == kSolicited
                                                     ? EndLine(932, "...") + EndLine(987, "done")
                                                     : kHandedToDispatcher));
        DeleteFileW(record_.Path().c_str());
        DeleteTree(HKEY_CURRENT_USER, key.Path());
        CreateKey(HKEY_CURRENT_USER, key.Path());
    }
}

// While one port's job end waits for a slow dispatcher, it holds only that
// port: a whole job on another port runs to its end meanwhile.
TEST_F(JobEnd, OtherPortsGoOnWhileOneWaitsForItsDispatcher) {
    const std::wstring eventName =
        L"ZelDispatcherRelease-" + std::to_wstring(GetCurrentProcessId());
    KernelHandle release(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    ASSERT_TRUE(release.IsOpen());
    SetDispatcher(0, L"@" + eventName);
    StartJob(Handle(), L"Slow");

    std::atomic<bool> firstEnded{false};
    BOOL firstResult = FALSE;
    TestThread first([&] {
        firstResult = Table().pfnEndDocPort(Handle());
        firstEnded = true;
    });
    // The first dispatcher is running (and waiting) once its record exists.
    EXPECT_TRUE(WaitForDispatcherRecord(record_.Path()).present);

    ScopedPorts others{{kPort, kOtherPort}};
    ScopedRecordFile otherRecord;
    const std::wstring otherCommand = DispatcherCommand(otherRecord.Path(), 0);
    SetString(HKEY_LOCAL_MACHINE, PortKeyPath(kOtherPort), L"PrintDispatcherFilePath",
              otherCommand);
    {
        OpenedPort other(kOtherPort);
        const std::wstring ps = StartJob(other.Get(), L"Fast");
        EXPECT_TRUE(End(other.Get()));
        EXPECT_FALSE(firstEnded) << "the other port waited for this port's dispatcher";
        EXPECT_EQ(ReadDispatcherRecord(otherRecord.Path()).commandLine,
                  otherCommand + L" Zel::Create::Plain \"Fast\" \"" + ps + L"\"");
    }
    DeletePortLog(kOtherPort);
    SetEvent(release.Get());
    first.join();
    EXPECT_TRUE(firstResult);
}

} // namespace
