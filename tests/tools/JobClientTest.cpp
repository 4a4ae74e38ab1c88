// The solicited-job client library through Wine's real spooler: jobs of one
// process running at once, each on its own thread. (The demo runs the
// library's example program.)

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ProgramRun.h"
#include "ZelJobClient.h"
#include "common/Registry.h"
#include "common/Spooler.h"
#include "common/Wine.h"
#include "harness/SpoolerHarness.h"
#include "harness/TestRegistry.h"
#include "registry/RegistryLayout.h"

using namespace zeltest;
namespace Layout = Brambleworth::Zel::Registry;

namespace {

const wchar_t* const kPort = L"ZELJOB_P:";
const wchar_t* const kPrinter = L"Zel Job Client";

TEST(JobClient, JobsAtOnceThroughTheSpooler) {
    ScopedPorts ports({kPort});
    DWORD needed = 0, returned = 0;
    EnumPortsW(nullptr, 1, nullptr, 0, &needed, &returned); // routes the spooler to the port
    ASSERT_TRUE(zeltools::InstallWinePostScriptDriver(L"Zel Test PostScript") ||
                GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED);
    zeltools::ScopedPrinter printer; // kept from an interrupted run, or added now
    ASSERT_TRUE(zeltools::AddRawPrinter(kPrinter, kPort, L"Zel Test PostScript", printer) ||
                GetLastError() == ERROR_PRINTER_ALREADY_EXISTS);
    DeleteTree(HKEY_CURRENT_USER, Layout::kJobsKeyPath);
    ScratchDir dir(L"zeljob");

    // Each job prints its own name, so a result that reaches the wrong job
    // shows. A job that timed out can still be printed and waited for.
    struct Row {
        const char* name;
        std::wstring folder;
        DWORD firstWait; // ms before printing; 0: print at once
        DWORD errorCode;
        DWORD status = kPoison, timedOut = 0, code = kPoison;
        std::wstring keyPath, psFile;
        bool printed = false;
    } rows[] = {
        {"done", dir.path, 0, 0},
        {"done after a time-out", dir.path, 300, 0},
        {"no such folder", dir.File(L"missing"), 0, 1},
        {"temporary folder", L"", 0, 0},
    };
    std::vector<std::unique_ptr<TestThread>> threads;
    for (Row& row : rows) {
        threads.push_back(std::make_unique<TestThread>([&row] {
            zeljob::Job job(row.folder.c_str());
            if ((row.status = job.CreateStatus()) != ERROR_SUCCESS) {
                return;
            }
            row.keyPath = std::wstring(Layout::kJobsKeyPath) + L"\\" + job.Id();
            if (row.firstWait) {
                row.timedOut = job.Wait(row.firstWait, row.code);
            }
            DWORD left = static_cast<DWORD>(strlen(row.name));
            const auto source = [&](const char*& bytes, DWORD& size) {
                bytes = row.name;
                size = std::exchange(left, 0);
                return true;
            };
            row.printed =
                zeltools::PrintRaw(kPrinter, job.DocumentName(Widen(row.name).c_str()), source)
                    .failure.empty();
            row.status = job.Wait(60000, row.code);
            row.psFile = job.PSFilePath();
        }));
    }
    threads.clear();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.status, static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(row.timedOut, row.firstWait ? static_cast<DWORD>(ERROR_TIMEOUT) : 0);
        EXPECT_EQ(row.code, row.errorCode);
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, row.keyPath));
        // A job the monitor fails is one the spooler reports as failed.
        EXPECT_EQ(row.printed, row.errorCode == 0);
        if (row.errorCode != 0) {
            EXPECT_EQ(row.psFile, L"");
            continue;
        }
        std::wstring expected = row.folder.empty() ? TempDirectory() : dir.path + L"\\";
        EXPECT_EQ(row.psFile.rfind(expected + L"ps", 0), 0u) << Narrow(row.psFile);
        EXPECT_EQ(ReadFileBytes(row.psFile), row.name);
        DeleteFileW(row.psFile.c_str());
    }

    EXPECT_TRUE(zeltools::SubKeyNames(HKEY_CURRENT_USER, Layout::kJobsKeyPath).empty());
    DeletePrinter(printer.Get());
}

} // namespace
