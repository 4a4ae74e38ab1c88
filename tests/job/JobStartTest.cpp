// StartDocPort through the monitor's table, on a thread that impersonates the
// printing user as the spooler's does, and the job-failure paths.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "harness/PortSupport.h"
#include "harness/TestRegistry.h"
#include "monitor/EntryPoints.h"
#include "monitor/Guards.h"
#include "monitor/PortContext.h"

using namespace Brambleworth::Zel;
using namespace Brambleworth::Zel::PortMon;
using namespace zeltest;

namespace {

constexpr const wchar_t* kPort = L"ZEL_JOBSTART";
const std::string kOpenLines =
    NormalLine("OpenPort", 599, "...") + NormalLine("OpenPort", 608, "done");

PortContext& Port(HANDLE handle) {
    return *static_cast<PortContext*>(handle);
}

BOOL Start(HANDLE port, const wchar_t* document, DWORD level = 1, const wchar_t* printer = L"P1",
           DWORD jobId = 7) {
    std::wstring doc = document ? document : L"";
    std::wstring printerName = printer ? printer : L"";
    DOC_INFO_1W info{document ? doc.data() : nullptr, nullptr, nullptr};
    return Table().pfnStartDocPort(port, printer ? printerName.data() : nullptr, jobId, level,
                                   reinterpret_cast<LPBYTE>(&info));
}

bool IsPrimaryToken(HANDLE token) {
    TOKEN_TYPE type{};
    DWORD size = 0;
    return GetTokenInformation(token, TokenType, &type, sizeof type, &size) && type == TokenPrimary;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
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

class JobStart : public ::testing::Test {
protected:
    void SetUp() override {
        DeletePortLog(kPort);
        SpoolerHarness::Instance().Registry().Clear();
        CreateDirectoryW(JobDirectory().c_str(), nullptr);
        port_ = std::make_unique<OpenedPort>(kPort);
    }
    void TearDown() override {
        port_.reset();
        for (const std::wstring& file : files_) {
            DeleteFileW(file.c_str());
        }
        RemoveDirectoryW(JobDirectory().c_str());
        DeletePortLog(kPort);
    }
    HANDLE Handle() const { return port_->Get(); }
    // Remembers the job's PS file for clean-up and returns its path.
    std::wstring Track() {
        files_.push_back(Port(Handle()).psFilePath);
        return files_.back();
    }
    static std::wstring JobDirectory() { return TempDirectory() + L"zel_job_dir"; }
    static RecordingRegistry& Registry() { return SpoolerHarness::Instance().Registry(); }

    ScopedPorts ports_{{kPort}};
    std::unique_ptr<OpenedPort> port_;
    std::vector<std::wstring> files_;
};

TEST_F(JobStart, UnsolicitedJobOnAnImpersonatingThread) {
    ScopedImpersonation user;
    ASSERT_TRUE(user.Active());
    ASSERT_TRUE(Start(Handle(), L"Microsoft Word - Microsoft Project - Plan", 1, L"Printer A", 42));
    const std::wstring ps = Track();

    const PortContext& port = Port(Handle());
    EXPECT_EQ(port.printerName, L"Printer A");
    EXPECT_EQ(port.jobId, 42u);
    EXPECT_EQ(port.documentName, L"Plan");
    EXPECT_FALSE(port.jobKeyWanted);
    EXPECT_FALSE(port.jobKey.IsOpen());
    EXPECT_EQ(port.jobError, 0u);
    EXPECT_TRUE(port.psFile.IsOpen());
    EXPECT_TRUE(StartsWith(ps, TempDirectory() + L"ps")) << Narrow(ps);
    EXPECT_TRUE(FileExists(ps));
    EXPECT_EQ(ReadFileBytes(ps), "");
    ASSERT_NE(port.userToken.Get(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(IsPrimaryToken(port.userToken.Get()));

    EXPECT_EQ(ReadPortLog(kPort),
              kOpenLines + NormalLine("StartDocPort", 709, "...") +
                  NormalLine("StartDocPort", 792, "creating an ID for the job...") +
                  NormalLine("StartDocPort", 841, "done"));
    // No job key was looked for.
    EXPECT_TRUE(Registry().CallsOf(RegFn::OpenKey).size() == 1u); // OpenPort's own
}

TEST_F(JobStart, ThreadWithoutTokenStillStartsTheJob) {
    BOOL started = FALSE;
    std::thread([&] { started = Start(Handle(), L"doc"); }).join();
    ASSERT_TRUE(started);
    Track();
    EXPECT_EQ(Port(Handle()).userToken.Get(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Port(Handle()).psFile.IsOpen());
}

TEST_F(JobStart, DocumentNameAndPrinterFromTheCall) {
    struct Case {
        const char* name;
        DWORD level;
        bool withInfo;
        const wchar_t* document;
        const wchar_t* printer;
        std::wstring expectedDocument;
    };
    const Case cases[] = {
        {"level 1", 1, true, L"Memo", L"P", L"Memo"},
        {"level 3", 3, true, L"Memo", L"P", L"Memo"},
        {"level 4 means no record", 4, true, L"Memo", L"P", L"Document"},
        {"no record", 1, false, L"Memo", L"P", L"Document"},
        {"null document name", 1, true, nullptr, L"P", L""},
        {"null printer name", 1, true, L"Memo", nullptr, L"Memo"},
        {"project prefix only once", 1, true, L"Microsoft Project - Microsoft Word - Memo", L"P",
         L"Microsoft Word - Memo"},
    };
    for (const Case& c : cases) {
        std::wstring document = c.document ? c.document : L"";
        std::wstring printer = c.printer ? c.printer : L"";
        DOC_INFO_2W info{c.document ? document.data() : nullptr, nullptr, nullptr, 0, 0};
        ASSERT_TRUE(Table().pfnStartDocPort(Handle(), c.printer ? printer.data() : nullptr, 9,
                                            c.level,
                                            c.withInfo ? reinterpret_cast<LPBYTE>(&info) : nullptr))
            << c.name;
        Track();
        EXPECT_EQ(Port(Handle()).documentName, c.expectedDocument) << c.name;
        EXPECT_EQ(Port(Handle()).printerName, printer) << c.name;
        EXPECT_FALSE(Port(Handle()).jobKeyWanted) << c.name;
    }
}

TEST_F(JobStart, SolicitedJobUsesItsKeyAndDirectory) {
    ScopedJobKey key(L"0123456789abcdef");
    SetString(HKEY_CURRENT_USER, key.Path(), L"TempDirPath", JobDirectory());
    ScopedImpersonation user;
    ASSERT_TRUE(Start(Handle(), L"Microsoft Word - Invoice #%0123456789abcdef#%"));
    const std::wstring ps = Track();

    const PortContext& port = Port(Handle());
    EXPECT_TRUE(port.jobKeyWanted);
    EXPECT_TRUE(port.jobKey.IsOpen());
    // "TempDirPath" is used as it stands, without a trailing separator.
    EXPECT_TRUE(StartsWith(ps, JobDirectory() + L"\\ps")) << Narrow(ps);
    EXPECT_TRUE(FileExists(ps));

    const auto opens = Registry().CallsOf(RegFn::OpenKey);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[1].name, JobKeyPath(L"0123456789abcdef")) << "identifier's own letter case";
    EXPECT_EQ(opens[1].hSpooler, RecordingRegistry::SpoolerHandle());
    const auto queries = Registry().CallsOf(RegFn::QueryValue);
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].name, L"TempDirPath");

    EXPECT_EQ(ReadPortLog(kPort),
              kOpenLines + NormalLine("StartDocPort", 709, "...") +
                  NormalLine("StartDocPort", 786, "job was identified as Library's printing") +
                  NormalLine("StartDocPort", 799, "opening job's reg key...") +
                  NormalLine("StartDocPort", 841, "done"));
}

TEST_F(JobStart, JobKeyWithoutUsableDirectoryUsesTheTemporaryDirectory) {
    struct Case {
        const char* name;
        bool createKey;
        int value; // 0 none, 1 empty string, 2 DWORD
    };
    const Case cases[] = {
        {"no job key", false, 0},
        {"no TempDirPath", true, 0},
        {"empty TempDirPath", true, 1},
        {"TempDirPath of another type", true, 2},
    };
    for (const Case& c : cases) {
        // The port holds its log open: look only at what this round adds.
        const std::size_t logStart = ReadPortLog(kPort).size();
        std::unique_ptr<ScopedJobKey> key;
        if (c.createKey) {
            key = std::make_unique<ScopedJobKey>(L"00000000000000AA");
            if (c.value == 1) {
                SetString(HKEY_CURRENT_USER, key->Path(), L"TempDirPath", L"");
            } else if (c.value == 2) {
                SetDword(HKEY_CURRENT_USER, key->Path(), L"TempDirPath", 5);
            }
        }
        ASSERT_TRUE(Start(Handle(), L"#%00000000000000AA#%")) << c.name;
        const std::wstring ps = Track();
        EXPECT_TRUE(StartsWith(ps, TempDirectory() + L"ps")) << c.name;
        EXPECT_EQ(Port(Handle()).jobKeyWanted, c.createKey) << c.name;
        EXPECT_EQ(Port(Handle()).jobKey.IsOpen(), c.createKey) << c.name;

        std::string expected =
            NormalLine("StartDocPort", 709, "...") +
            NormalLine("StartDocPort", 786, "job was identified as Library's printing") +
            NormalLine("StartDocPort", 799, "opening job's reg key...");
        if (!c.createKey) {
            expected +=
                LogLine("WARNING: ", "StartDocPort", 806,
                        "failed to open job's reg key. Probably not solicited PDF creation");
        }
        expected += NormalLine("StartDocPort", 841, "done");
        EXPECT_EQ(ReadPortLog(kPort).substr(logStart), expected) << c.name;
    }
}

TEST_F(JobStart, MissingDirectoryFailsTheJobAndTellsTheJobKey) {
    ScopedJobKey key(L"FEDCBA9876543210");
    const std::wstring missing = JobDirectory() + L"\\missing";
    SetString(HKEY_CURRENT_USER, key.Path(), L"TempDirPath", missing);
    // The system's code for this failure, to compare the logged text with.
    wchar_t probe[MAX_PATH + 1];
    SetLastError(0);
    ASSERT_EQ(GetTempFileNameW(missing.c_str(), L"ps", 0, probe), 0u);
    const DWORD code = GetLastError();
    ASSERT_NE(code, 0u);

    ScopedImpersonation user;
    EXPECT_FALSE(Start(Handle(), L"#%FEDCBA9876543210#%"));

    DWORD errorCode = kPoison;
    ASSERT_TRUE(ReadDword(HKEY_CURRENT_USER, key.Path(), L"ErrorCode", errorCode));
    EXPECT_EQ(errorCode, 1u);
    EXPECT_TRUE(Registry().OpenKeys().empty()) << "job key closed";

    const PortContext& port = Port(Handle());
    EXPECT_FALSE(port.psFile.IsOpen());
    EXPECT_EQ(port.psFilePath, L"");
    EXPECT_EQ(port.userToken.Get(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(port.jobKeyWanted);

    char hex[16];
    snprintf(hex, sizeof hex, "0x%06x", static_cast<unsigned>(code));
    EXPECT_EQ(ReadPortLog(kPort),
              kOpenLines + NormalLine("StartDocPort", 709, "...") +
                  NormalLine("StartDocPort", 786, "job was identified as Library's printing") +
                  NormalLine("StartDocPort", 799, "opening job's reg key...") +
                  LogLine("ERROR  : ", "StartDocPort", 831,
                          "failed to get temp file name: " + SecPiece(code, hex)));
}

TEST_F(JobStart, ClosePortInTheMiddleOfAJobReleasesEverythingAndKeepsTheFile) {
    ScopedJobKey key(L"2222222222222222");
    ScopedImpersonation user;
    ASSERT_TRUE(Start(Handle(), L"#%2222222222222222#%"));
    const std::wstring ps = Track();
    BYTE data[] = {'%', '!', 0, '\n'};
    DWORD written = 0;
    ASSERT_TRUE(Table().pfnWritePort(Handle(), data, sizeof data, &written));
    const HANDLE token = Port(Handle()).userToken.Get();
    const HANDLE jobKey = Port(Handle()).jobKey.Key();
    ASSERT_NE(token, INVALID_HANDLE_VALUE);

    EXPECT_TRUE(port_->Close());
    EXPECT_TRUE(IsClosedOnDisk(ps));
    EXPECT_EQ(ReadFileBytes(ps), std::string("%!\0\n", 4));
    // The job key went back through the spooler's table, with nothing written.
    const auto closes = Registry().CallsOf(RegFn::CloseKey);
    ASSERT_FALSE(closes.empty());
    EXPECT_EQ(closes.back().key, jobKey);
    EXPECT_TRUE(Registry().OpenKeys().empty());
    EXPECT_TRUE(Registry().CallsOf(RegFn::SetValue).empty());
    DWORD flags;
    EXPECT_FALSE(GetHandleInformation(token, &flags)) << "token closed";
}

// The two job guards, white-box on a port of this process: each row's log
// line, job key value, last error and clean-up.
struct FramelessError : Error {
    FramelessError() = default;
};

TEST(JobGuards, EachCaughtFailureEndsTheJob) {
    struct Case {
        const char* name;
        bool jobEnd;
        std::function<void()> raise;
        std::string logLine;
        DWORD errorCode;
        DWORD lastError;
    };
    const Case cases[] = {
        {"start, Error", false,
         [] { throw Error(30, "Brambleworth::Zel::PortMon::EndDocPort", 957, 0, "x"); },
         LogLine("ERROR  : ", "EndDocPort", 957, "x: "), 30, kPoison},
        {"start, Error without frame", false, [] { throw FramelessError(); }, "", 0, kPoison},
        {"start, out of memory", false, [] { throw std::bad_alloc(); },
         LogLine("ERROR  : ", "StartDocPort", 852, "not enough memory to complete operation"), 2,
         ERROR_NOT_ENOUGH_MEMORY},
        {"start, anything else", false, [] { throw std::runtime_error("?"); },
         LogLine("ERROR  : ", "StartDocPort", 859, "unknown exception raised"), 1, kPoison},
        {"end, Error", true, [] { throw Error(43, "F", 976, 2, "failed to open port reg key"); },
         "ERROR  : F: #976: failed to open port reg key: " + SecPiece(2, "0x000002") + "\r\n", 43,
         kPoison},
        {"end, out of memory", true, [] { throw std::bad_alloc(); },
         LogLine("ERROR  : ", "EndDocPort", 999, "not enough memory to complete operation"), 2,
         kPoison},
        {"end, anything else", true, [] { throw 5; },
         LogLine("ERROR  : ", "EndDocPort", 1005, "unknown exception raised"), 1, kPoison},
    };
    ScopedPorts ports({kPort});
    for (const Case& c : cases) {
        ScopedJobKey key(L"3333333333333333");
        DeletePortLog(kPort);
        PortContext port(SpoolerHarness::Instance().Init(), kPort);
        std::wstring document = L"#%3333333333333333#%";
        DOC_INFO_1W info{document.data(), nullptr, nullptr};
        ASSERT_TRUE(PortMon::StartDocPort(&port, nullptr, 1, 1, reinterpret_cast<LPBYTE>(&info)));
        const std::wstring ps = port.psFilePath;
        ASSERT_TRUE(FileExists(ps));
        const std::string before = ReadPortLog(kPort);

        SetLastError(kPoison);
        BOOL result = c.jobEnd ? GuardJobEnd(port,
                                             [&]() -> BOOL {
                                                 c.raise();
                                                 return TRUE;
                                             })
                               : GuardJobStart(port, [&]() -> BOOL {
                                     c.raise();
                                     return TRUE;
                                 });
        EXPECT_FALSE(result) << c.name;
        if (c.lastError == kPoison) {
            // Not set by the guard; the clean-up may leave any value but these.
            EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)) << c.name;
            EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_INTERNAL_ERROR)) << c.name;
        } else {
            EXPECT_EQ(GetLastError(), c.lastError) << c.name;
        }
        EXPECT_EQ(ReadPortLog(kPort), before + c.logLine) << c.name;
        DWORD errorCode = kPoison;
        EXPECT_TRUE(ReadDword(HKEY_CURRENT_USER, key.Path(), L"ErrorCode", errorCode)) << c.name;
        EXPECT_EQ(errorCode, c.errorCode) << c.name;
        EXPECT_FALSE(FileExists(ps)) << c.name;
        EXPECT_FALSE(port.jobKey.IsOpen()) << c.name;
        EXPECT_FALSE(port.psFile.IsOpen()) << c.name;
        EXPECT_EQ(port.psFilePath, L"") << c.name;
    }
}

} // namespace
