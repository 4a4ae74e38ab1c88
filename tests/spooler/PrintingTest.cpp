// Printing through Wine's spooler onto one of the monitor's ports: a printer
// with Wine's PostScript driver, a raw job and a solicited GDI job.

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <string>

#include "SpoolerClient.h"
#include "harness/PortSupport.h"
#include "harness/TestDispatcher.h"

using namespace zeltest;

namespace {

const wchar_t* const kPort = L"ZEL_3_PORT1:";
const wchar_t* const kDriver = L"Zel Test PostScript";
const wchar_t* const kPrinter = L"Zel Test Printer";
const wchar_t* const kJobId = L"0123456789abcDEF";

// A printer with Wine's PostScript driver on our port, removed afterwards.
class PrintingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        DRIVER_INFO_3W driver{};
        driver.cVersion = 3;
        driver.pName = const_cast<LPWSTR>(kDriver);
        driver.pEnvironment = const_cast<LPWSTR>(L"Windows x64");
        driver.pDriverPath = driver.pConfigFile = const_cast<LPWSTR>(L"wineps.drv");
        driver.pDataFile = const_cast<LPWSTR>(L"generic.ppd");
        driverAdded_ =
            AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&driver), APD_COPY_NEW_FILES);
    }

    void SetUp() override {
        ASSERT_TRUE(driverAdded_) << "AddPrinterDriverExW";
        ASSERT_TRUE(SpoolerLists(kPort));
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
    }

    static BOOL driverAdded_;
    ScopedPorts ports_{{kPort}};
};

BOOL PrintingTest::driverAdded_ = FALSE;

// One page of text through GDI; a non-empty `output` sends the driver's output
// to that file instead of the port.
void PrintGdi(const std::wstring& document, const std::wstring& output = std::wstring()) {
    HDC dc = CreateDCW(nullptr, kPrinter, nullptr, nullptr);
    ASSERT_NE(dc, nullptr) << "CreateDCW: " << GetLastError();
    DOCINFOW doc{sizeof doc, document.c_str(), output.empty() ? nullptr : output.c_str()};
    EXPECT_GT(StartDocW(dc, &doc), 0) << "StartDocW: " << GetLastError();
    StartPage(dc);
    TextOutW(dc, 100, 100, L"Zel PortMon prints through Wine", 31);
    EndPage(dc);
    EXPECT_GT(EndDoc(dc), 0) << "EndDoc: " << GetLastError();
    DeleteDC(dc);
}

TEST_F(PrintingTest, RawJobGoesToTheDispatcherByteForByte) {
    ScopedRecordFile record;
    const std::wstring command = DispatcherCommand(record.Path(), 0);
    SetString(HKEY_LOCAL_MACHINE, PortKeyPath(kPort), L"PrintDispatcherFilePath", command);
    // Every byte value, over more than one chunk of the spooler's.
    std::string bytes;
    for (int i = 0; i < 10000; ++i) {
        bytes.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
    }

    Printer printer(kPrinter, PRINTER_ACCESS_USE);
    ASSERT_TRUE(printer.Ok()) << printer.OpenError();
    DOC_INFO_1W doc{const_cast<LPWSTR>(L"Raw test"), nullptr, const_cast<LPWSTR>(L"RAW")};
    ASSERT_TRUE(StartDocPrinterW(printer.Get(), 1, reinterpret_cast<BYTE*>(&doc)));
    DWORD written = 0;
    EXPECT_TRUE(WritePrinter(printer.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &written));
    EXPECT_EQ(written, bytes.size());
    ASSERT_TRUE(EndDocPrinter(printer.Get())) << GetLastError();

    DispatcherRecord started = ReadDispatcherRecord(record.Path());
    ASSERT_TRUE(started.present) << "the dispatcher did not run";
    // Started with the token of the user who printed.
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    EXPECT_EQ(Narrow(started.user), Narrow(TokenUserText(token)));
    CloseHandle(token);
    const std::wstring prefix = command + L" Zel::Create::Plain \"Raw test\" \"";
    ASSERT_EQ(Narrow(started.commandLine.substr(0, prefix.size())), Narrow(prefix));
    ASSERT_EQ(started.commandLine.back(), L'"');
    const std::wstring psFile =
        started.commandLine.substr(prefix.size(), started.commandLine.size() - prefix.size() - 1);
    EXPECT_EQ(Narrow(psFile.substr(0, TempDirectory().size())), Narrow(TempDirectory()));
    EXPECT_EQ(psFile.find(L'"'), std::wstring::npos);
    EXPECT_TRUE(ReadFileBytes(psFile) == bytes) << "PS file differs from the job";
    DeleteFileW(psFile.c_str());
}

TEST_F(PrintingTest, SolicitedGdiJobLandsInTheJobsDirectory) {
    const std::wstring dir = TempDirectory() + L"zel-spooler-job";
    CreateDirectoryW(dir.c_str(), nullptr);
    ScopedJobKey job(kJobId);
    SetString(HKEY_CURRENT_USER, job.Path(), L"TempDirPath", dir);

    // The same document once straight to a file: what the driver produced.
    const std::wstring document = std::wstring(L"GDI #%") + kJobId + L"#% test";
    const std::wstring direct = dir + L"\\direct.ps";
    PrintGdi(document, direct);
    PrintGdi(document);

    std::wstring psFile;
    ASSERT_TRUE(ReadString(HKEY_CURRENT_USER, job.Path(), L"PSFilePath", psFile));
    DWORD error = kPoison;
    ASSERT_TRUE(ReadDword(HKEY_CURRENT_USER, job.Path(), L"ErrorCode", error));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(Narrow(psFile.substr(0, dir.size() + 1)), Narrow(dir + L"\\"));
    const std::string captured = ReadFileBytes(psFile);
    EXPECT_EQ(captured.substr(0, 4), "%!PS");
    EXPECT_TRUE(captured == ReadFileBytes(direct)) << "PS file differs from the driver's output";
    DeleteFileW(psFile.c_str());
    DeleteFileW(direct.c_str());
    RemoveDirectoryW(dir.c_str());
}

} // namespace
