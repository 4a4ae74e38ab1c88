// EndDocPort through the monitor's table: the job handed on to its job key or
// to the print dispatcher, every failure ending in a failed job, the spooler
// told first, and other ports going on while one waits for its dispatcher.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
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
constexpr const wchar_t* kJobId = L"00ff00ff00ff00ff";

PortContext& Port(HANDLE handle) {
    return *static_cast<PortContext*>(handle);
}

// A print stream with bytes that a text-mode stream would change, in the
// chunk size that the spooler uses.
std::string Payload() {
    std::string data = "%!PS-Adobe-3.0\r\n";
    data += std::string("\0\x1a\xff\n\r", 5);
    for (int i = 0; i < 9000; ++i) {
        data.push_back(static_cast<char>(i * 7));
    }
    return data;
}

std::string EndLine(int line, const std::string& message) {
    return NormalLine("EndDocPort", line, message);
}

std::string ErrorLine(const std::string& function, int line, const std::string& message) {
    return LogLine("ERROR  : ", function, line, message);
}

// What ends an unsolicited job's log when the dispatcher ran well.
const std::string kHandedToDispatcher =
    EndLine(932, "...") + EndLine(967, "launching print dipatcher...") +
    EndLine(985, "print dispatcher successfully launched") + EndLine(987, "done");

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The file is closed when it can be opened for exclusive use.
bool IsClosedOnDisk(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

bool IsIdle(const PortContext& port) {
    return port.printerName.empty() && port.jobId == 0 && port.documentName.empty() &&
           port.psFilePath.empty() && !port.psFile.IsOpen() && !port.userToken.IsOpen() &&
           port.jobKeyWanted && !port.jobKey.IsOpen() && port.jobError == 0;
}

class JobEnd : public ::testing::Test {
public:
    static RecordingRegistry& Registry() { return SpoolerHarness::Instance().Registry(); }

    void SetDispatcher(DWORD exitCode, const std::wstring& wait = L"0") {
        command_ = DispatcherCommand(record_.Path(), exitCode, wait);
        SetString(HKEY_LOCAL_MACHINE, PortKeyPath(kPort), L"PrintDispatcherFilePath", command_);
    }

protected:
    void SetUp() override {
        DeletePortLog(kPort);
        Registry().Clear();
        port_ = std::make_unique<OpenedPort>(kPort);
    }
    void TearDown() override {
        port_.reset();
        for (const std::wstring& file : files_) {
            DeleteFileW(file.c_str());
        }
        DeletePortLog(kPort);
    }

    HANDLE Handle() const { return port_->Get(); }

    // Starts a job as the spooler does, on a thread that impersonates the
    // printing user (the test program's own user unless a token is given),
    // and sends it the payload. Returns the job's PS file.
    std::wstring StartJob(HANDLE port, const std::wstring& document, HANDLE user = nullptr,
                          const std::wstring& printer = L"Zel Test Printer", DWORD jobId = 17) {
        {
            std::unique_ptr<ScopedImpersonation> self;
            std::unique_ptr<ScopedTokenImpersonation> other;
            if (user) {
                other = std::make_unique<ScopedTokenImpersonation>(user);
            } else {
                self = std::make_unique<ScopedImpersonation>();
            }
            std::wstring doc = document;
            std::wstring printerName = printer;
            DOC_INFO_1W info{doc.data(), nullptr, nullptr};
            EXPECT_TRUE(Table().pfnStartDocPort(port, printerName.data(), jobId, 1,
                                                reinterpret_cast<LPBYTE>(&info)));
        }
        const std::string data = Payload();
        for (size_t at = 0; at < data.size(); at += 4096) {
            std::string chunk = data.substr(at, 4096);
            DWORD written = kPoison;
            EXPECT_TRUE(Table().pfnWritePort(port, reinterpret_cast<LPBYTE>(&chunk[0]),
                                             static_cast<DWORD>(chunk.size()), &written));
            EXPECT_EQ(written, chunk.size());
        }
        files_.push_back(Port(port).psFilePath);
        return files_.back();
    }

    BOOL End(HANDLE port) {
        SetLastError(kPoison);
        return Table().pfnEndDocPort(port);
    }

    ScopedPorts ports_{{kPort}};
    std::unique_ptr<OpenedPort> port_;
    std::vector<std::wstring> files_;
    ScopedRecordFile record_;
    std::wstring command_;
};

TEST_F(JobEnd, NullHandleIsRefused) {
    SetLastError(kPoison);
    EXPECT_FALSE(Table().pfnEndDocPort(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(JobEnd, SolicitedJobPublishesItsFileInTheJobKey) {
    ScopedJobKey key(kJobId);
    SetDispatcher(0);
    const std::wstring ps = StartJob(Handle(), L"Invoice #%00ff00ff00ff00ff#%");
    ASSERT_TRUE(Port(Handle()).jobKey.IsOpen());
    Registry().Clear();

    EXPECT_TRUE(End(Handle()));

    DWORD type = 0;
    std::vector<BYTE> raw;
    ASSERT_TRUE(ReadValue(HKEY_CURRENT_USER, key.Path(), L"PSFilePath", type, raw));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(raw.size(), (ps.size() + 1) * sizeof(wchar_t)) << "terminating zero counted";
    std::wstring published;
    ASSERT_TRUE(ReadString(HKEY_CURRENT_USER, key.Path(), L"PSFilePath", published));
    EXPECT_EQ(published, ps);
    DWORD errorCode = kPoison;
    ASSERT_TRUE(ReadDword(HKEY_CURRENT_USER, key.Path(), L"ErrorCode", errorCode));
    EXPECT_EQ(errorCode, 0u);

    // Path first, then the error number, through the spooler's registry; the
    // key is closed afterwards and the dispatcher is not involved.
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

TEST_F(JobEnd, SolicitedJobWithAFailedWriteStillHandsOnItsFile) {
    ScopedJobKey key(kJobId);
    const std::wstring ps = StartJob(Handle(), L"#%00ff00ff00ff00ff#%");
    // The PS file gone from under the job: the next chunk fails (error 7).
    Port(Handle()).psFile.Close();
    BYTE byte = 'x';
    DWORD written = kPoison;
    ASSERT_FALSE(Table().pfnWritePort(Handle(), &byte, 1, &written));

    EXPECT_TRUE(End(Handle()));

    DWORD errorCode = kPoison;
    ASSERT_TRUE(ReadDword(HKEY_CURRENT_USER, key.Path(), L"ErrorCode", errorCode));
    EXPECT_EQ(errorCode, 7u);
    std::wstring published;
    ASSERT_TRUE(ReadString(HKEY_CURRENT_USER, key.Path(), L"PSFilePath", published));
    EXPECT_EQ(published, ps);
    EXPECT_EQ(ReadFileBytes(ps), Payload());
}

TEST_F(JobEnd, UnsolicitedJobStartsTheDispatcherWithTheJobsMessageAndToken) {
    SetDispatcher(0);
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

struct FailureCase {
    const char* label;
    std::function<void(JobEnd&)> arrange;
    std::string errorLine;
};

class JobEndFailure : public JobEnd, public ::testing::WithParamInterface<FailureCase> {};

// Every failure of an unsolicited job loses the job: its PS file is deleted,
// the port is idle again, the spooler sees FALSE, and the log says why.
TEST_P(JobEndFailure, FailsTheJob) {
    const FailureCase& c = GetParam();
    SetDispatcher(0);
    const std::wstring ps = StartJob(Handle(), L"Report");
    c.arrange(*this);

    EXPECT_FALSE(End(Handle()));

    EXPECT_FALSE(FileExists(ps));
    EXPECT_TRUE(IsIdle(Port(Handle())));
    EXPECT_TRUE(Registry().OpenKeys().empty());
    const std::string log = ReadPortLog(kPort);
    EXPECT_TRUE(EndsWith(log, EndLine(932, "...") + EndLine(967, "launching print dipatcher...") +
                                  c.errorLine))
        << log;
}

const std::string kNoDispatcherPath = "failed to get print dispatcher's path: ";

INSTANTIATE_TEST_SUITE_P(
    Rows, JobEndFailure,
    ::testing::Values(
        FailureCase{"dispatcher_fails", [](JobEnd& t) { t.SetDispatcher(1); },
                    "ERROR  : Brambleworth::Zel::PortMon::MessageTransport::Send: #386" +
                        SecPiece(1, "0x000001") + "\r\n"},
        FailureCase{
            "dispatcher_missing",
            [](JobEnd&) {
                SetString(HKEY_LOCAL_MACHINE, PortKeyPath(kPort), L"PrintDispatcherFilePath",
                          L"C:\\no\\such\\dispatcher.exe");
            },
            ErrorLine("MessageTransport::Send", 367,
                      "Cannot create print dispatcher process: " + SecPiece(2, "0x000002"))},
        FailureCase{"no_dispatcher_value",
                    [](JobEnd&) {
                        HKEY key;
                        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, PortKeyPath(kPort).c_str(), 0,
                                                KEY_SET_VALUE, &key),
                                  ERROR_SUCCESS);
                        RegDeleteValueW(key, L"PrintDispatcherFilePath");
                        RegCloseKey(key);
                    },
                    ErrorLine("EndDocPort", 980, kNoDispatcherPath + SecPiece(2, "0x000002"))},
        FailureCase{"dispatcher_value_not_a_string",
                    [](JobEnd&) {
                        SetDword(HKEY_LOCAL_MACHINE, PortKeyPath(kPort), L"PrintDispatcherFilePath",
                                 1);
                    },
                    ErrorLine("EndDocPort", 980, kNoDispatcherPath)},
        FailureCase{
            "dispatcher_value_unreadable",
            [](JobEnd&) { JobEnd::Registry().Inject(RegFn::QueryValue, ERROR_ACCESS_DENIED); },
            ErrorLine("EndDocPort", 980, kNoDispatcherPath + SecPiece(5, "0x000005"))},
        FailureCase{"port_key_deleted",
                    [](JobEnd&) { DeleteTree(HKEY_LOCAL_MACHINE, PortKeyPath(kPort)); },
                    ErrorLine("EndDocPort", 976,
                              "failed to open port reg key: " + SecPiece(2, "0x000002"))}),
    [](const ::testing::TestParamInfo<FailureCase>& info) {
        return std::string(info.param.label);
    });

TEST_F(JobEnd, UnpublishedPathFailsTheSolicitedJob) {
    ScopedJobKey key(kJobId);
    const std::wstring ps = StartJob(Handle(), L"#%00ff00ff00ff00ff#%");
    Registry().Inject(RegFn::SetValue, ERROR_ACCESS_DENIED);

    EXPECT_FALSE(End(Handle()));

    // The key learns the failure's number instead of a path.
    std::wstring published;
    EXPECT_FALSE(ReadString(HKEY_CURRENT_USER, key.Path(), L"PSFilePath", published));
    DWORD errorCode = kPoison;
    ASSERT_TRUE(ReadDword(HKEY_CURRENT_USER, key.Path(), L"ErrorCode", errorCode));
    EXPECT_EQ(errorCode, 30u);
    EXPECT_FALSE(FileExists(ps));
    EXPECT_TRUE(IsIdle(Port(Handle())));
    EXPECT_TRUE(Registry().OpenKeys().empty());
    EXPECT_TRUE(EndsWith(ReadPortLog(kPort),
                         EndLine(932, "...") +
                             ErrorLine("EndDocPort", 957,
                                       "failed to set PS file path: " + SecPiece(5, "0x000005"))));
}

TEST_F(JobEnd, IdlePortAndSecondCallFindNoJobKey) {
    const std::string idleFailure =
        EndLine(932, "...") + ErrorLine("EndDocPort", 957, "failed to set PS file path: ");
    EXPECT_FALSE(End(Handle()));
    EXPECT_TRUE(EndsWith(ReadPortLog(kPort), idleFailure));
    EXPECT_TRUE(Registry().CallsOf(RegFn::SetValue).empty());

    ScopedJobKey key(kJobId);
    const std::wstring ps = StartJob(Handle(), L"#%00ff00ff00ff00ff#%");
    ASSERT_TRUE(End(Handle()));
    Registry().Clear();

    EXPECT_FALSE(End(Handle()));
    EXPECT_TRUE(EndsWith(ReadPortLog(kPort), idleFailure));
    // The finished job stays as it was handed on.
    EXPECT_TRUE(Registry().CallsOf(RegFn::SetValue).empty());
    EXPECT_TRUE(FileExists(ps));
    DWORD errorCode = kPoison;
    ASSERT_TRUE(ReadDword(HKEY_CURRENT_USER, key.Path(), L"ErrorCode", errorCode));
    EXPECT_EQ(errorCode, 0u);
}

// Watches the DLL's calls into winspool. Wine's SetJobW finds the job but
// ignores the command, so the call itself is what the test can see.
struct SpoolerCalls {
    struct SetJobCall {
        HANDLE printer;
        DWORD jobId;
        DWORD level;
        LPBYTE job;
        DWORD command;
        bool psFileOpen;
        bool pathPublished;
        bool dispatcherStarted;
    };
    std::wstring openedName;
    bool openedWithDefaults = false;
    HANDLE handedOut = nullptr;
    int opens = 0;
    int closes = 0;
    HANDLE closed = nullptr;
    std::vector<SetJobCall> setJobs;
    std::function<SetJobCall(SetJobCall)> observe;
};
SpoolerCalls* g_calls = nullptr;
const HANDLE kFakePrinter = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7E57));

BOOL WINAPI FakeOpenPrinterW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
    ++g_calls->opens;
    g_calls->openedName = name ? name : L"<null>";
    g_calls->openedWithDefaults = defaults != nullptr;
    if (g_calls->openedName != L"Zel Test Printer") {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    *printer = kFakePrinter;
    return TRUE;
}
BOOL WINAPI FakeSetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command) {
    g_calls->setJobs.push_back(g_calls->observe({printer, jobId, level, job, command}));
    return TRUE;
}
BOOL WINAPI FakeClosePrinter(HANDLE printer) {
    ++g_calls->closes;
    g_calls->closed = printer;
    return TRUE;
}

class JobEndTellsSpooler : public JobEnd {
protected:
    void SetUp() override {
        JobEnd::SetUp();
        g_calls = &calls_;
        const HMODULE dll = SpoolerHarness::Instance().Module();
        hooks_.push_back(std::make_unique<ScopedImportHook>(
            dll, "winspool.drv", "OpenPrinterW", reinterpret_cast<void*>(FakeOpenPrinterW)));
        hooks_.push_back(std::make_unique<ScopedImportHook>(dll, "winspool.drv", "SetJobW",
                                                            reinterpret_cast<void*>(FakeSetJobW)));
        hooks_.push_back(std::make_unique<ScopedImportHook>(
            dll, "winspool.drv", "ClosePrinter", reinterpret_cast<void*>(FakeClosePrinter)));
    }
    void TearDown() override {
        hooks_.clear();
        g_calls = nullptr;
        JobEnd::TearDown();
    }
    SpoolerCalls calls_;
    std::vector<std::unique_ptr<ScopedImportHook>> hooks_;
};

TEST_F(JobEndTellsSpooler, OnceAndBeforeTheJobIsHandedOn) {
    ScopedJobKey key(kJobId);
    SetDispatcher(0);
    calls_.observe = [&](SpoolerCalls::SetJobCall call) {
        call.psFileOpen = Port(Handle()).psFile.IsOpen();
        std::wstring path;
        call.pathPublished = ReadString(HKEY_CURRENT_USER, key.Path(), L"PSFilePath", path);
        call.dispatcherStarted = ReadDispatcherRecord(record_.Path()).present;
        return call;
    };
    struct Case {
        const wchar_t* document;
        DWORD jobId;
    };
    // A solicited and an unsolicited job.
    for (const Case& c : {Case{L"#%00ff00ff00ff00ff#%", 31}, Case{L"Plain", 32}}) {
        calls_.setJobs.clear();
        calls_.opens = calls_.closes = 0;
        DeleteTree(HKEY_CURRENT_USER, key.Path());
        CreateKey(HKEY_CURRENT_USER, key.Path());
        StartJob(Handle(), c.document, nullptr, L"Zel Test Printer", c.jobId);
        ASSERT_TRUE(End(Handle()));

        EXPECT_EQ(calls_.opens, 1);
        EXPECT_EQ(calls_.openedName, L"Zel Test Printer");
        EXPECT_FALSE(calls_.openedWithDefaults);
        ASSERT_EQ(calls_.setJobs.size(), 1u);
        const SpoolerCalls::SetJobCall& call = calls_.setJobs[0];
        EXPECT_EQ(call.printer, kFakePrinter);
        EXPECT_EQ(call.jobId, c.jobId);
        EXPECT_EQ(call.level, 0u);
        EXPECT_EQ(call.job, nullptr);
        EXPECT_EQ(call.command, static_cast<DWORD>(JOB_CONTROL_SENT_TO_PRINTER));
        EXPECT_TRUE(call.psFileOpen) << "told before the PS file is closed";
        EXPECT_FALSE(call.pathPublished);
        EXPECT_FALSE(call.dispatcherStarted);
        EXPECT_EQ(calls_.closes, 1);
        EXPECT_EQ(calls_.closed, kFakePrinter);
    }
}

TEST_F(JobEndTellsSpooler, PrinterThatDoesNotOpenIsNoFailure) {
    SetDispatcher(0);
    StartJob(Handle(), L"Plain", nullptr, L"Printer Gone", 5);
    EXPECT_TRUE(End(Handle()));
    EXPECT_EQ(calls_.opens, 1);
    EXPECT_TRUE(calls_.setJobs.empty());
    EXPECT_EQ(calls_.closes, 0);
    EXPECT_TRUE(ReadDispatcherRecord(record_.Path()).present);
    EXPECT_TRUE(EndsWith(ReadPortLog(kPort), kHandedToDispatcher)) << "nothing logged about it";
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
    std::thread first([&] {
        firstResult = Table().pfnEndDocPort(Handle());
        firstEnded = true;
    });
    // The first dispatcher is running (and waiting) once its record exists.
    const DispatcherRecord slow = WaitForDispatcherRecord(record_.Path());
    EXPECT_TRUE(slow.present);

    ScopedPorts others{{kPort, kOtherPort}};
    ScopedRecordFile otherRecord;
    const std::wstring otherCommand = DispatcherCommand(otherRecord.Path(), 0);
    SetString(HKEY_LOCAL_MACHINE, PortKeyPath(kPort), L"PrintDispatcherFilePath", command_);
    SetString(HKEY_LOCAL_MACHINE, PortKeyPath(kOtherPort), L"PrintDispatcherFilePath",
              otherCommand);
    BOOL otherResult = FALSE;
    bool firstEndedMeanwhile = true;
    {
        OpenedPort other(kOtherPort);
        const std::wstring ps = StartJob(other.Get(), L"Fast");
        otherResult = End(other.Get());
        firstEndedMeanwhile = firstEnded;
        EXPECT_TRUE(other.Close());
        EXPECT_EQ(ReadDispatcherRecord(otherRecord.Path()).commandLine,
                  otherCommand + L" Zel::Create::Plain \"Fast\" \"" + ps + L"\"");
    }
    DeletePortLog(kOtherPort);

    SetEvent(release.Get());
    first.join();
    EXPECT_TRUE(otherResult);
    EXPECT_FALSE(firstEndedMeanwhile) << "the other port waited for this port's dispatcher";
    EXPECT_TRUE(firstResult);
}

} // namespace
