// Printing through Wine's spooler onto one of the monitor's ports: a printer
// with Wine's PostScript driver, raw and GDI jobs, solicited and unsolicited.

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "SpoolerClient.h"
#include "harness/TestDispatcher.h"
#include "harness/TestRegistry.h"

using namespace zeltest;

namespace {

const wchar_t* const kPort = L"ZEL_3_PORT1:";
const wchar_t* const kDriver = L"Zel Test PostScript";
const wchar_t* const kPrinter = L"Zel Test Printer";
const wchar_t* const kJobId = L"0123456789abcDEF";

std::vector<BYTE> ReadFileBytes(const std::wstring& path) {
    std::vector<BYTE> bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) {
        return bytes;
    }
    BYTE chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    fclose(file);
    return bytes;
}

std::wstring TempDir() {
    wchar_t path[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, path);
    return std::wstring(path, length);
}

// Every byte value, several times over, so that the spooler has to hand the
// job over in more than one chunk.
std::vector<BYTE> RawJobBytes() {
    std::vector<BYTE> bytes;
    for (int i = 0; i < 10000; ++i) {
        bytes.push_back(static_cast<BYTE>((i * 7 + i / 256) & 0xFF));
    }
    return bytes;
}

// A printer with Wine's PostScript driver on our port, removed afterwards.
class PrintingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        DRIVER_INFO_3W driver{};
        driver.cVersion = 3;
        driver.pName = const_cast<LPWSTR>(kDriver);
        driver.pEnvironment = const_cast<LPWSTR>(L"Windows x64");
        driver.pDriverPath = const_cast<LPWSTR>(L"wineps.drv");
        driver.pDataFile = const_cast<LPWSTR>(L"generic.ppd");
        driver.pConfigFile = const_cast<LPWSTR>(L"wineps.drv");
        if (!AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&driver),
                                 APD_COPY_NEW_FILES)) {
            driverError_ = GetLastError();
        }
    }

    void SetUp() override {
        ASSERT_EQ(driverError_, 0u) << "AddPrinterDriverExW";
        ports_.reset(new ScopedPorts({kPort}));
        LetTheSpoolerSeePorts();
        PRINTER_INFO_2W info{};
        info.pPrinterName = const_cast<LPWSTR>(kPrinter);
        info.pPortName = const_cast<LPWSTR>(kPort);
        info.pDriverName = const_cast<LPWSTR>(kDriver);
        info.pPrintProcessor = const_cast<LPWSTR>(L"winprint");
        info.pDatatype = const_cast<LPWSTR>(L"RAW");
        info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
        HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
        ASSERT_NE(printer, nullptr) << "AddPrinterW: " << GetLastError();
        ClosePrinter(printer);
    }

    void TearDown() override {
        Printer printer(kPrinter, PRINTER_ALL_ACCESS);
        if (printer.Ok()) {
            DeletePrinter(printer.Get());
        }
        ports_.reset();
    }

    static DWORD driverError_;
    std::unique_ptr<ScopedPorts> ports_;
};

DWORD PrintingTest::driverError_ = 0;

bool PrintRaw(const std::wstring& document, const std::vector<BYTE>& bytes) {
    Printer printer(kPrinter, PRINTER_ACCESS_USE);
    if (!printer.Ok()) {
        ADD_FAILURE() << "OpenPrinterW: " << printer.OpenError();
        return false;
    }
    DOC_INFO_1W doc{const_cast<LPWSTR>(document.c_str()), nullptr, const_cast<LPWSTR>(L"RAW")};
    if (!StartDocPrinterW(printer.Get(), 1, reinterpret_cast<BYTE*>(&doc))) {
        ADD_FAILURE() << "StartDocPrinterW: " << GetLastError();
        return false;
    }
    DWORD written = 0;
    EXPECT_TRUE(WritePrinter(printer.Get(), const_cast<BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size()), &written));
    EXPECT_EQ(written, bytes.size());
    if (!EndDocPrinter(printer.Get())) {
        ADD_FAILURE() << "EndDocPrinter: " << GetLastError();
        return false;
    }
    return true;
}

// Prints one page of text through GDI; `output` non-empty sends the
// driver's output to that file instead of the port.
bool PrintGdi(const std::wstring& document, const std::wstring& output = std::wstring()) {
    HDC dc = CreateDCW(nullptr, kPrinter, nullptr, nullptr);
    if (!dc) {
        ADD_FAILURE() << "CreateDCW: " << GetLastError();
        return false;
    }
    DOCINFOW doc{};
    doc.cbSize = sizeof doc;
    doc.lpszDocName = document.c_str();
    doc.lpszOutput = output.empty() ? nullptr : output.c_str();
    bool ok = StartDocW(dc, &doc) > 0;
    EXPECT_TRUE(ok) << "StartDocW: " << GetLastError();
    if (ok) {
        StartPage(dc);
        const wchar_t text[] = L"Zel PortMon prints through Wine";
        TextOutW(dc, 100, 100, text, static_cast<int>(wcslen(text)));
        EndPage(dc);
        ok = EndDoc(dc) > 0;
        EXPECT_TRUE(ok) << "EndDoc: " << GetLastError();
    }
    DeleteDC(dc);
    return ok;
}

TEST_F(PrintingTest, RawJobGoesToTheDispatcherByteForByte) {
    ScopedRecordFile record;
    const std::wstring command = DispatcherCommand(record.Path(), 0);
    SetString(HKEY_LOCAL_MACHINE, PortKeyPath(kPort), L"PrintDispatcherFilePath", command);
    const std::vector<BYTE> bytes = RawJobBytes();

    ASSERT_TRUE(PrintRaw(L"Raw test", bytes));

    DispatcherRecord started = ReadDispatcherRecord(record.Path());
    ASSERT_TRUE(started.present) << "the dispatcher did not run";
    // Started with the token of the thread that printed.
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    EXPECT_EQ(Narrow(started.user), Narrow(TokenUserText(token)));
    CloseHandle(token);
    const std::wstring prefix = command + L" Zel::Create::Plain \"Raw test\" \"";
    ASSERT_EQ(Narrow(started.commandLine.substr(0, prefix.size())), Narrow(prefix));
    ASSERT_EQ(started.commandLine.back(), L'"');
    const std::wstring psFile =
        started.commandLine.substr(prefix.size(), started.commandLine.size() - prefix.size() - 1);
    EXPECT_EQ(Narrow(psFile.substr(0, TempDir().size())), Narrow(TempDir()));
    EXPECT_EQ(psFile.find(L'"'), std::wstring::npos);
    EXPECT_TRUE(ReadFileBytes(psFile) == bytes) << "PS file differs from the job";
    DeleteFileW(psFile.c_str());
}

TEST_F(PrintingTest, SolicitedGdiJobLandsInTheJobsDirectory) {
    const std::wstring dir = TempDir() + L"zel-spooler-job";
    CreateDirectoryW(dir.c_str(), nullptr);
    ScopedJobKey job(kJobId);
    SetString(HKEY_CURRENT_USER, job.Path(), L"TempDirPath", dir);

    // The same document once straight to a file: what the driver produced.
    const std::wstring document = std::wstring(L"GDI #%") + kJobId + L"#% test";
    const std::wstring direct = dir + L"\\direct.ps";
    ASSERT_TRUE(PrintGdi(document, direct));
    ASSERT_TRUE(PrintGdi(document));

    std::wstring psFile;
    ASSERT_TRUE(ReadString(HKEY_CURRENT_USER, job.Path(), L"PSFilePath", psFile));
    DWORD error = kPoison;
    ASSERT_TRUE(ReadDword(HKEY_CURRENT_USER, job.Path(), L"ErrorCode", error));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(Narrow(psFile.substr(0, dir.size() + 1)), Narrow(dir + L"\\"));

    std::vector<BYTE> captured = ReadFileBytes(psFile);
    ASSERT_GT(captured.size(), 4u);
    EXPECT_EQ(std::string(captured.begin(), captured.begin() + 4), "%!PS");
    std::vector<BYTE> expected = ReadFileBytes(direct);
    EXPECT_TRUE(captured == expected) << "PS file differs from the driver's output";
    DeleteFileW(psFile.c_str());
    DeleteFileW(direct.c_str());
    RemoveDirectoryW(dir.c_str());
}

} // namespace
