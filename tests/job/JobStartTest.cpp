// StartDocPort through the monitor's table, on a thread that impersonates the
// printing user as the spooler's does, and the job-failure paths; finding the
// job identifier in a document name, and the editor prefixes removed first.

#include <gtest/gtest.h>

#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "job/JobFixture.h"
#include "job/JobOperations.h"
#include "monitor/Guards.h"
#include "monitor/PortContext.h"

using namespace Brambleworth::Zel;
using namespace Brambleworth::Zel::PortMon;
using namespace zeltest;

namespace {

TEST(FindJobId, KnownNames) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        // name, identifier (null: none)
        {L"Invoice #%0123456789abcdef#%", L"0123456789abcdef"},
        {L"#%00FF00ff00Ff00fF#% trailing", L"00FF00ff00Ff00fF"},
        {L"#%memo#%00FF00FF00FF00FF#%", L"00FF00FF00FF00FF"},
        {L"#%#%#%0123456789ABCDEF#%#%", L"0123456789ABCDEF"},
        {L"a#%0123456789ABCDEF#%b#%FEDCBA9876543210#%", L"0123456789ABCDEF"},
        {L"##%0123456789ABCDEF#%", L"0123456789ABCDEF"},
        {L"#%0123456789ABCDEF#%0123456789ABCDEF", L"0123456789ABCDEF"},
        {L"#%0123456789ABCDE#%", nullptr},   // 15 digits
        {L"#%0123456789ABCDEF0#%", nullptr}, // 17 digits
        {L"#%0123456789ABCDEG#%", nullptr},
        {L"#%0123456789ABCDE\u0661#%", nullptr}, // a non-Latin digit
        {L"#%0123456789ABCDEF", nullptr},
        {L"%#0123456789ABCDEF%#", nullptr},
        {L"#%%0123456789ABCDEF#%", nullptr}, // the '%' belongs to the candidate
        {L"#%0123456789ABCDEF##%", nullptr}, // candidate ends in '#'
        {L"", nullptr},
        {L"#%#", nullptr},
    };
    for (const auto& [name, expected] : cases) {
        std::wstring id = L"untouched";
        EXPECT_EQ(FindJobId(name, id), expected != nullptr) << testing::PrintToString(name);
        EXPECT_EQ(id, expected ? expected : L"untouched") << testing::PrintToString(name);
    }
}

TEST(StripEditorPrefixes, WordThenProjectEachOnceAtTheStart) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"Microsoft Word - Microsoft Project - Plan", L"Plan"},
        {L"Microsoft Project - Microsoft Word - Memo", L"Microsoft Word - Memo"},
        {L"Microsoft Word - Microsoft Word - Twice", L"Microsoft Word - Twice"},
        {L"Draft Microsoft Word - Letter", L"Draft Microsoft Word - Letter"},
        {L"microsoft word - lower case", L"microsoft word - lower case"},
        {L"Microsoft Word -", L"Microsoft Word -"},
        {L"Microsoft Word - ", L""},
    };
    for (const auto& [input, expected] : cases) {
        std::wstring name = input;
        StripEditorPrefixes(name);
        EXPECT_EQ(name, expected) << testing::PrintToString(std::wstring(input));
    }
}

constexpr const wchar_t* kPort = L"ZEL_JOBSTART";
const std::string kStartLine = NormalLine("StartDocPort", 709, "...");
const std::string kIdentified =
    kStartLine + NormalLine("StartDocPort", 786, "job was identified as Library's printing") +
    NormalLine("StartDocPort", 799, "opening job's reg key...");
const std::string kDone = NormalLine("StartDocPort", 841, "done");

class JobStart : public JobTest {
protected:
    JobStart() : JobTest(kPort) {}
    void SetUp() override {
        JobTest::SetUp();
        CreateDirectoryW(JobDirectory().c_str(), nullptr);
    }
    void TearDown() override {
        JobTest::TearDown();
        RemoveDirectoryW(JobDirectory().c_str());
    }
    // The log after OpenPort's two lines.
    static std::string Log() {
        return ReadPortLog(kPort).substr(
            (NormalLine("OpenPort", 599, "...") + NormalLine("OpenPort", 608, "done")).size());
    }
    static std::wstring JobDirectory() { return TempDirectory() + L"zel_job_dir"; }
};

TEST_F(JobStart, UnsolicitedJobOnAnImpersonatingThreadAndOnOneWithoutToken) {
    {
        ScopedImpersonation user;
        ASSERT_TRUE(user.Active());
        ASSERT_TRUE(Start(L"Microsoft Word - Microsoft Project - Plan", L"Printer A", 42));
    }
    const PortContext& port = Port(Handle());
    EXPECT_EQ(port.printerName, L"Printer A");
    EXPECT_EQ(port.jobId, 42u);
    EXPECT_EQ(port.documentName, L"Plan");
    EXPECT_FALSE(port.jobKeyWanted);
    EXPECT_EQ(port.psFilePath.rfind(TempDirectory() + L"ps", 0), 0u) << Narrow(files_[0]);
    EXPECT_TRUE(FileExists(port.psFilePath));
    TOKEN_TYPE type{};
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(port.userToken.Get(), TokenType, &type, sizeof type, &size));
    EXPECT_EQ(type, TokenPrimary);
    EXPECT_EQ(Log(), kStartLine + NormalLine("StartDocPort", 792, "creating an ID for the job...") +
                         kDone);
    EXPECT_EQ(Registry().CallsOf(RegFn::OpenKey).size(), 1u) << "no job key looked for";

    BOOL started = FALSE;
    TestThread([&] { started = Start(L"doc"); }).join();
    EXPECT_TRUE(started);
    EXPECT_EQ(port.userToken.Get(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(port.psFile.IsOpen());
}

TEST_F(JobStart, DocumentNameAndPrinterFromTheCall) {
    struct Case {
        DWORD level;
        bool withInfo;
        const wchar_t *document, *printer, *expectedDocument;
    } cases[] = {
        {3, true, L"Memo", L"P", L"Memo"},
        {4, true, L"Memo", L"P", L"Document"}, // level 4 means no record
        {1, false, L"Memo", L"P", L"Document"},
        {1, true, nullptr, L"P", L""},
        {1, true, L"Memo", nullptr, L"Memo"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Start(c.document, c.printer, 9, c.level, c.withInfo)) << c.level;
        EXPECT_EQ(Port(Handle()).documentName, c.expectedDocument) << c.level;
        EXPECT_EQ(Port(Handle()).printerName, c.printer ? c.printer : L"") << c.level;
    }
}

// A solicited job's PS file goes to its key's "TempDirPath" as it stands
// (no separator added); without a usable one, to the temporary directory.
TEST_F(JobStart, SolicitedJobUsesItsKeyAndDirectory) {
    const std::wstring id = L"0123456789abcdef";
    enum Value { kNoKey, kNoValue, kEmpty, kDword, kDirectory };
    for (Value value : {kNoKey, kNoValue, kEmpty, kDword, kDirectory}) {
        const std::size_t logStart = ReadPortLog(kPort).size();
        std::optional<ScopedJobKey> key;
        if (value != kNoKey) {
            key.emplace(id);
        }
        if (value == kEmpty || value == kDirectory) {
            SetString(HKEY_CURRENT_USER, key->Path(), L"TempDirPath",
                      value == kEmpty ? L"" : JobDirectory());
        } else if (value == kDword) {
            SetDword(HKEY_CURRENT_USER, key->Path(), L"TempDirPath", 5);
        }
        Registry().Clear();
        ASSERT_TRUE(Start(L"Microsoft Word - Invoice #%0123456789abcdef#%")) << value;

        const std::wstring dir = value == kDirectory ? JobDirectory() + L"\\" : TempDirectory();
        EXPECT_EQ(files_.back().rfind(dir + L"ps", 0), 0u) << Narrow(files_.back());
        EXPECT_TRUE(FileExists(files_.back()));
        EXPECT_EQ(Port(Handle()).jobKey.IsOpen(), value != kNoKey) << value;
        const auto opens = Registry().CallsOf(RegFn::OpenKey);
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].name, JobKeyPath(id)) << "identifier's own letter case";
        EXPECT_EQ(opens[0].hSpooler, RecordingRegistry::SpoolerHandle());
        const std::string warning =
            value != kNoKey
                ? ""
                : LogLine("WARNING: ", "StartDocPort", 806,
                          "failed to open job's reg key. Probably not solicited PDF creation");
        EXPECT_EQ(ReadPortLog(kPort).substr(logStart), kIdentified + warning + kDone) << value;
    }
}

TEST_F(JobStart, MissingDirectoryFailsTheJobAndTellsTheJobKey) {
    ScopedJobKey key(L"FEDCBA9876543210");
    const std::wstring missing = JobDirectory() + L"\\missing";
    SetString(HKEY_CURRENT_USER, key.Path(), L"TempDirPath", missing);
    // The system's code for this failure, to compare the logged text with.
    wchar_t probe[MAX_PATH + 1];
    ASSERT_EQ(GetTempFileNameW(missing.c_str(), L"ps", 0, probe), 0u);
    const DWORD code = GetLastError();

    ScopedImpersonation user;
    EXPECT_FALSE(Start(L"#%FEDCBA9876543210#%"));

    EXPECT_EQ(ErrorCode(key), 1u);
    EXPECT_TRUE(Registry().OpenKeys().empty()) << "job key closed";
    EXPECT_FALSE(Port(Handle()).psFile.IsOpen());
    EXPECT_EQ(Port(Handle()).userToken.Get(), INVALID_HANDLE_VALUE);
    char hex[16];
    snprintf(hex, sizeof hex, "0x%06x", static_cast<unsigned>(code));
    EXPECT_EQ(Log(), kIdentified + LogLine("ERROR  : ", "StartDocPort", 831,
                                           "failed to get temp file name: " + SecPiece(code, hex)));
}

TEST_F(JobStart, ClosePortInTheMiddleOfAJobReleasesEverythingAndKeepsTheFile) {
    ScopedJobKey key(L"2222222222222222");
    ScopedImpersonation user;
    ASSERT_TRUE(Start(L"#%2222222222222222#%"));
    const std::string data("%!\0\n", 4);
    DWORD written = 0;
    ASSERT_TRUE(Write(Handle(), data, written));
    const HANDLE token = Port(Handle()).userToken.Get();
    const HANDLE jobKey = Port(Handle()).jobKey.Key();

    EXPECT_TRUE(port_->Close());
    EXPECT_TRUE(IsClosedOnDisk(files_[0]));
    EXPECT_EQ(ReadFileBytes(files_[0]), data);
    // The job key went back through the spooler's table, with nothing written.
    ASSERT_FALSE(Registry().CallsOf(RegFn::CloseKey).empty());
    EXPECT_EQ(Registry().CallsOf(RegFn::CloseKey).back().key, jobKey);
    EXPECT_TRUE(Registry().OpenKeys().empty());
    EXPECT_TRUE(Registry().CallsOf(RegFn::SetValue).empty());
    DWORD flags;
    EXPECT_FALSE(GetHandleInformation(token, &flags)) << "token closed";
}

// The two job guards' own rows (an Error's row is seen through the entry
// points), white-box on the started job's port: log line, job key value, last
// error and clean-up.
struct FramelessError : Error {
    FramelessError() = default;
};

TEST_F(JobStart, EachCaughtFailureInAJobGuardEndsTheJob) {
    struct Case {
        bool jobEnd;
        int kind, line; // kind: the index in `raised`
        DWORD errorCode;
    } cases[] = {{false, 0, 0, 0},
                 {false, 1, 852, 2},
                 {false, 2, 859, 1},
                 {true, 1, 999, 2},
                 {true, 2, 1005, 1}};
    const std::exception_ptr raised[] = {std::make_exception_ptr(FramelessError()),
                                         std::make_exception_ptr(std::bad_alloc()),
                                         std::make_exception_ptr(std::runtime_error("?"))};
    PortContext& port = Port(Handle());
    for (const Case& c : cases) {
        ScopedJobKey key(L"3333333333333333");
        ASSERT_TRUE(Start(L"#%3333333333333333#%"));
        const std::wstring ps = port.psFilePath;
        const std::string before = ReadPortLog(kPort);

        auto body = [&]() -> BOOL {
            std::rethrow_exception(raised[c.kind]);
        };
        SetLastError(kPoison);
        EXPECT_FALSE(c.jobEnd ? GuardJobEnd(port, body) : GuardJobStart(port, body));
        // Only the job start's out-of-memory row sets the last error.
        if (c.line == 852) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
        } else {
            EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)) << c.line;
            EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_INTERNAL_ERROR)) << c.line;
        }
        const std::string line =
            c.line == 0 ? ""
                        : LogLine("ERROR  : ", c.jobEnd ? "EndDocPort" : "StartDocPort", c.line,
                                  c.kind == 1 ? "not enough memory to complete operation"
                                              : "unknown exception raised");
        EXPECT_EQ(ReadPortLog(kPort), before + line);
        EXPECT_EQ(ErrorCode(key), c.errorCode) << c.line;
        EXPECT_FALSE(FileExists(ps));
        EXPECT_FALSE(port.jobKey.IsOpen());
        EXPECT_EQ(port.psFilePath, L"");
    }
}

} // namespace
