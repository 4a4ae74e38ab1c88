// zelport as an administrator runs it: each subcommand started as a program,
// reaching the monitor through Wine's spooler (the folder's prefix has the
// Wine host registered as the monitor).

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <regex>
#include <string>

#include "ProgramRun.h"
#include "common/Win32Util.h"
#include "harness/TestRegistry.h"
#include "registry/RegistryLayout.h"

using namespace zeltest;

namespace {

const wchar_t kDriver[] = L"Zel Test PostScript";

std::string U8(const std::wstring& text) {
    return zeltools::ToUtf8(text);
}

ProgramResult Zelport(const std::wstring& arguments) {
    return RunProgram(L"\"" + ProgramDir() + L"zelport.exe\" " + arguments);
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

std::wstring DispatcherCommand(const std::wstring& options) {
    return L"\"" + ProgramDir() + L"zel-dispatch.exe\" " + options;
}

// set-dispatcher's COMMAND argument as one argv entry: inner quotes escaped.
std::wstring AsArgument(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        if (c == L'"') {
            escaped += L'\\';
        }
        escaped += c;
    }
    return Quoted(escaped);
}

void DeletePrinterNamed(const std::wstring& name) {
    std::wstring copy = name;
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
    zeltools::ScopedPrinter printer;
    if (OpenPrinterW(&copy[0], printer.Out(), &defaults)) {
        DeletePrinter(printer.Get());
    }
}

// PS files waiting in the temporary folder, where the monitor makes the PS
// files of jobs without a job key.
size_t TempPsFileCount() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    size_t count = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((std::wstring(temp) + L"ps*.tmp").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            ++count;
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return count;
}

size_t JobKeyCount() {
    zeltools::ScopedKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Brambleworth::Zel::Registry::kJobsKeyPath, 0, KEY_READ,
                      key.Out()) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD count = 0;
    RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr);
    return count;
}

class ZelportProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A fresh prefix has no printer driver; Wine's PostScript driver with the
        // description the prefix script staged does.
        std::wstring name = kDriver, environment = L"Windows x64", driver = L"wineps.drv",
                     data = L"generic.ppd";
        DRIVER_INFO_3W info{};
        info.cVersion = 3;
        info.pName = &name[0];
        info.pEnvironment = &environment[0];
        info.pDriverPath = &driver[0];
        info.pDataFile = &data[0];
        info.pConfigFile = &driver[0];
        AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&info), APD_COPY_NEW_FILES);
    }

    void SetUp() override {
        DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());
        DeleteTree(HKEY_CURRENT_USER, Brambleworth::Zel::Registry::kJobsKeyPath);
    }

    // Adds a port through zelport and removes it (and its printer) afterwards.
    std::wstring AddPort(const std::wstring& name) {
        ProgramResult run = Zelport(L"add-port " + name);
        EXPECT_EQ(run.exitCode, 0u) << run.err;
        ports_.push_back(name);
        return name;
    }

    std::wstring AddPrinter(const std::wstring& name, const std::wstring& port) {
        ProgramResult run = Zelport(L"add-printer " + Quoted(name) + L" --port " + port +
                                    L" --driver " + Quoted(kDriver));
        EXPECT_EQ(run.exitCode, 0u) << run.err;
        printers_.push_back(name);
        return name;
    }

    void TearDown() override {
        for (const std::wstring& printer : printers_) {
            DeletePrinterNamed(printer);
        }
        for (const std::wstring& port : ports_) {
            Zelport(L"delete-port " + port);
        }
        DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());
    }

    std::vector<std::wstring> ports_;
    std::vector<std::wstring> printers_;
};

TEST_F(ZelportProgram, HelpAndUsageErrors) {
    const struct {
        const wchar_t* arguments;
        DWORD exitCode;
        const char* outStart;
        const char* errStart;
    } cases[] = {
        // Each subcommand's text is checked directly; here only that it is
        // printed on stdout with exit code 0.
        {L"--help", 0, "usage: zelport COMMAND", ""},
        {L"submit --help", 0, "usage: zelport submit", ""},
        {L"", 2, "", "zelport: no command given (see zelport --help)"},
        {L"submit x.ps", 2, "", "zelport: submit needs --printer (see zelport submit --help)"},
        {L"remove-port X:", 2, "", "zelport: unknown command 'remove-port'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(U8(c.arguments));
        ProgramResult run = Zelport(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.out.rfind(c.outStart, 0), 0u) << run.out;
        EXPECT_EQ(run.err.rfind(c.errStart, 0), 0u) << run.err;
    }
}

TEST_F(ZelportProgram, PortsAreAddedListedConfiguredAndDeleted) {
    // Without a name the monitor's user interface picks one.
    ProgramResult generated = Zelport(L"add-port");
    ASSERT_EQ(generated.exitCode, 0u) << generated.err;
    EXPECT_EQ(generated.out, "ZEL_3_PORT1:\n");
    ports_.push_back(L"ZEL_3_PORT1:");
    AddPort(L"ZELTOOLS_B:");

    ProgramResult duplicate = Zelport(L"add-port ZELTOOLS_B:");
    EXPECT_EQ(duplicate.exitCode, 1u);
    EXPECT_EQ(duplicate.err, U8(L"zelport: cannot add port \"ZELTOOLS_B:\": " +
                                zeltools::SystemText(1802) + L" (1802)\n"));

    const std::wstring dispatcher = DispatcherCommand(L"--out \"C:\\Zel Jobs\"");
    ProgramResult set = Zelport(L"set-dispatcher ZELTOOLS_B: " + AsArgument(dispatcher));
    ASSERT_EQ(set.exitCode, 0u) << set.err;
    DWORD type = kPoison;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, PortKeyPath(L"ZELTOOLS_B:"),
                          Brambleworth::Zel::Registry::kPrintDispatcherFilePathValue, type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    ASSERT_EQ(data.size(), (dispatcher.size() + 1) * sizeof(wchar_t)) << "NUL counted";
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data())), dispatcher);

    ProgramResult listed = Zelport(L"ports");
    ASSERT_EQ(listed.exitCode, 0u) << listed.err;
    EXPECT_NE(listed.out.find("ZEL_3_PORT1:\tTessivane 3 Port\t\n"), std::string::npos)
        << listed.out;
    EXPECT_NE(listed.out.find(U8(L"ZELTOOLS_B:\tTessivane 3 Port\t" + dispatcher + L"\n")),
              std::string::npos)
        << listed.out;
    // Only this monitor's ports: Wine's own LPT1: and FILE: stay out.
    EXPECT_EQ(listed.out.find("LPT1:"), std::string::npos);

    ProgramResult deleted = Zelport(L"delete-port ZELTOOLS_B:");
    EXPECT_EQ(deleted.exitCode, 0u) << deleted.err;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(L"ZELTOOLS_B:")));
    EXPECT_EQ(Zelport(L"ports").out.find("ZELTOOLS_B:"), std::string::npos);
}

TEST_F(ZelportProgram, UnknownPortsAndPrintersFailWithTheSystemsReason) {
    const struct {
        std::wstring arguments;
        const char* errStart;
        DWORD code;
    } cases[] = {
        {L"delete-port NOSUCH:", "zelport: cannot open \",XcvPort NOSUCH:\": ", 1796},
        {L"set-dispatcher NOSUCH: x.exe",
         "zelport: no Tessivane 3 port named \"NOSUCH:\": ", ERROR_FILE_NOT_FOUND},
        {L"add-printer P --port NOSUCH: --driver \"No Such Driver\"",
         "zelport: cannot create printer \"P\" on port \"NOSUCH:\" with driver ", 1797},
        {L"print nosuch.ps --printer \"No Such Printer\"",
         "zelport: cannot read nosuch.ps: ", ERROR_FILE_NOT_FOUND},
        {L"print " + Quoted(ProgramDir() + L"zelport.exe") + L" --printer \"No Such Printer\"",
         "zelport: cannot open printer \"No Such Printer\": ", ERROR_INVALID_PRINTER_NAME},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(U8(c.arguments));
        ProgramResult run = Zelport(c.arguments);
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_EQ(run.err.rfind(c.errStart, 0), 0u) << run.err;
        std::string tail = " (" + std::to_string(c.code) + ")\n";
        ASSERT_GE(run.err.size(), tail.size());
        EXPECT_EQ(run.err.substr(run.err.size() - tail.size()), tail) << run.err;
    }
}

TEST_F(ZelportProgram, PrintedJobsReachTheDispatcherByteForByte) {
    ScratchDir dir(L"zelport-print");
    const std::string bytes = std::string("%!PS-Adobe-3.0\n% \x80\xff\x00 binary\nshowpage\n", 38) +
                              std::string(10000, 'x');
    WriteBytes(dir.File(L"in.ps"), bytes);
    std::wstring port = AddPort(L"ZELTOOLS_P:");
    std::wstring printer = AddPrinter(L"Zel Tools Printer", port);

    const struct {
        const char* what;
        std::wstring dispatcher;
        const wchar_t* document;
        DWORD zelportExit;
        std::wstring captured;
        const char* dispatcherComplaint;
    } cases[] = {
        {"dispatcher succeeds", DispatcherCommand(L"--out " + Quoted(dir.File(L"out"))),
         L"Memo \"A\" \u00e9", 0, dir.File(L"out\\Memo _A_ \u00e9.ps"), ""},
        // A failing dispatcher fails the job: Wine's spooler then reports the
        // document as not accepted.
        {"dispatcher exits 2", DispatcherCommand(L"--bogus"), L"Memo", 1, L"",
         "zel-dispatch: unknown option --bogus"},
        {"dispatcher program missing", Quoted(ProgramDir() + L"no-such-dispatcher.exe"), L"Memo", 1,
         L"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Zelport(L"set-dispatcher " + port + L" " + AsArgument(c.dispatcher)).exitCode,
                  0u);
        const size_t psFilesBefore = TempPsFileCount();
        ProgramResult run = Zelport(L"print " + Quoted(dir.File(L"in.ps")) + L" --printer " +
                                    Quoted(printer) + L" --document " + AsArgument(c.document));
        EXPECT_EQ(run.exitCode, c.zelportExit) << run.err;
        // Moved away by the dispatcher, or deleted by the monitor when the
        // hand-off failed: no PS file stays behind either way.
        EXPECT_EQ(TempPsFileCount(), psFilesBefore);
        if (c.zelportExit == 0) {
            EXPECT_EQ(run.out.rfind("job ", 0), 0u) << run.out;
            std::string got;
            ASSERT_TRUE(ReadBytes(c.captured, got));
            EXPECT_TRUE(got == bytes) << got.size() << " bytes captured";
        } else {
            // The dispatcher's own complaint comes first: it shares our console.
            EXPECT_NE(run.err.find(c.dispatcherComplaint), std::string::npos) << run.err;
            EXPECT_NE(run.err.find("zelport: the printer did not accept job "), std::string::npos)
                << run.err;
        }
    }
}

TEST_F(ZelportProgram, SubmitWaitsForTheJobKeyAndCleansUp) {
    ScratchDir dir(L"zelport-submit");
    const std::string bytes = "%!PS-Adobe-3.0\n%%Title: solicited\nshowpage\n";
    WriteBytes(dir.File(L"in.ps"), bytes);
    std::wstring printer = AddPrinter(L"Zel Tools Submit", AddPort(L"ZELTOOLS_S:"));

    ProgramResult run = Zelport(L"submit " + Quoted(dir.File(L"in.ps")) + L" --printer " +
                                Quoted(printer) + L" --dir " + Quoted(dir.Path()));
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(run.out, match, std::regex("PSFilePath: (.*)\n"))) << run.out;
    std::wstring psFile = zeltools::FromUtf8(match[1].str());
    EXPECT_EQ(psFile.rfind(dir.Path() + L"\\ps", 0), 0u) << match[1].str();
    std::string got;
    ASSERT_TRUE(ReadBytes(psFile, got));
    EXPECT_EQ(got, bytes);
    EXPECT_NE(run.out.find("ErrorCode: 0\n"), std::string::npos) << run.out;
    EXPECT_TRUE(std::regex_search(
        run.out, std::regex("job key: HKEY_CURRENT_USER\\\\Software\\\\Brambleworth Inc\\.\\\\Zel"
                            "\\\\3\\\\Jobs\\\\[0-9A-F]{16}\n")))
        << run.out;
    EXPECT_EQ(JobKeyCount(), 0u) << "the job key must be removed";
}

TEST_F(ZelportProgram, SubmitReportsTheMonitorsErrorAndTimesOut) {
    ScratchDir dir(L"zelport-submit");
    WriteBytes(dir.File(L"in.ps"), "%!PS\n");
    std::wstring ours = AddPrinter(L"Zel Tools Submit", AddPort(L"ZELTOOLS_S:"));
    // A printer on another monitor's port: the job never reaches ours.
    std::wstring elsewhere = L"Zel Tools Elsewhere";
    std::wstring driver = kDriver;
    ProgramResult other =
        Zelport(L"add-printer " + Quoted(elsewhere) + L" --port FILE: --driver " + Quoted(driver));
    ASSERT_EQ(other.exitCode, 0u) << other.err;
    printers_.push_back(elsewhere);

    const struct {
        const char* what;
        std::wstring options;
        DWORD exitCode;
        const char* outPart;
        const char* errPart;
    } cases[] = {
        {"the PS file's folder is missing",
         L"--printer " + Quoted(ours) + L" --dir " + Quoted(dir.File(L"missing")), 3,
         "ErrorCode: 1\n", "zelport: the monitor failed job "},
        {"nobody answers", L"--printer " + Quoted(elsewhere) + L" --timeout 1", 4, "",
         " after 1 s: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramResult run = Zelport(L"submit " + Quoted(dir.File(L"in.ps")) + L" " + c.options);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.out.find(c.outPart), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(c.errPart), std::string::npos) << run.err;
        EXPECT_EQ(JobKeyCount(), 0u) << "the job key must be removed";
    }
    ProgramResult timeout = Zelport(L"submit " + Quoted(dir.File(L"in.ps")) + L" --printer " +
                                    Quoted(elsewhere) + L" --timeout 1");
    std::string tail = U8(L": " + zeltools::SystemText(ERROR_TIMEOUT) + L" (1460)\n");
    ASSERT_GE(timeout.err.size(), tail.size());
    EXPECT_EQ(timeout.err.substr(timeout.err.size() - tail.size()), tail);
}

// Runs last in this file: it removes the monitor and puts it back.
TEST_F(ZelportProgram, InstallAndUninstall) {
    std::wstring host = ProgramDir() + L"ZelWineHost.dll";
    ProgramResult removed = Zelport(L"uninstall");
    ASSERT_EQ(removed.exitCode, 0u) << removed.err;
    EXPECT_EQ(removed.out, "removed monitor \"Tessivane 3 Monitor\"\n");

    ProgramResult again = Zelport(L"uninstall");
    EXPECT_EQ(again.exitCode, 1u);
    EXPECT_EQ(again.err.rfind("zelport: cannot remove monitor \"Tessivane 3 Monitor\": ", 0), 0u)
        << again.err;
    ProgramResult noMonitor = Zelport(L"add-port ZELTOOLS_X:");
    EXPECT_EQ(noMonitor.exitCode, 1u);
    EXPECT_EQ(noMonitor.err.rfind("zelport: cannot open \",XcvMonitor Tessivane 3 Monitor\": ", 0),
              0u)
        << noMonitor.err;

    ProgramResult installed = Zelport(L"install --dll " + Quoted(host));
    ASSERT_EQ(installed.exitCode, 0u) << installed.err;
    ProgramResult twice = Zelport(L"install --dll " + Quoted(host));
    EXPECT_EQ(twice.exitCode, 0u) << twice.err;
    EXPECT_EQ(twice.out, "monitor \"Tessivane 3 Monitor\" is already installed\n");

    // Back in service: ports can be added again.
    AddPort(L"ZELTOOLS_X:");
    EXPECT_NE(Zelport(L"ports").out.find("ZELTOOLS_X:"), std::string::npos);
}

} // namespace
