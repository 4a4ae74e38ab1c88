// zelport: its command lines and texts directly, then each subcommand as an
// administrator runs it, reaching the monitor through Wine's spooler (the
// folder's prefix has the Wine host registered as the monitor).

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <regex>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "common/Win32Util.h"
#include "harness/TestRegistry.h"
#include "registry/RegistryLayout.h"
#include "zelport/ZelportArgs.h"

using namespace zelport;
using namespace zeltest;
using zeltools::ToUtf8;
namespace reg = Brambleworth::Zel::Registry;

namespace {

// What a command line parsed to, in one line: the verb, its arguments in
// brackets and the options that were set; or the error.
std::wstring Outcome(const std::vector<std::wstring>& args) {
    ParsedArgs parsed = ParseArgs(args);
    if (!parsed.ok) {
        return L"error: " + parsed.error;
    }
    const Command& c = parsed.command;
    std::wstring text = VerbName(c.verb);
    for (const std::wstring& argument : c.positional) {
        text += L" [" + argument + L"]";
    }
    const std::pair<const wchar_t*, const std::wstring*> options[] = {
        {L"printer", &c.printer},   {L"port", &c.port}, {L"driver", &c.driver},
        {L"document", &c.document}, {L"dir", &c.dir},   {L"dll", &c.dll}};
    for (const auto& [name, value] : options) {
        if (!value->empty()) {
            text += L" " + std::wstring(name) + L"=" + *value;
        }
    }
    if (c.timeoutSeconds != kDefaultTimeoutSeconds) {
        text += L" timeout=" + std::to_wstring(c.timeoutSeconds);
    }
    return c.help ? text + L" help" : text;
}

TEST(ZelportArgs, CommandLines) {
    const std::wstring kTimeout = L"error: --timeout takes whole seconds from 1 to 86400, not ";
    const struct {
        std::vector<std::wstring> args;
        std::wstring outcome;
    } cases[] = {
        {{L"add-printer", L"Zel", L"--port=ZEL_3_PORT1:", L"--driver", L"PS"},
         L"add-printer [Zel] port=ZEL_3_PORT1: driver=PS"},
        {{L"print", L"--printer", L"Zel", L"a.ps", L"--document", L"Memo"},
         L"print [a.ps] printer=Zel document=Memo"},
        {{L"submit", L"a.ps", L"--printer", L"Zel", L"--dir", L"C:\\out", L"--timeout", L"5"},
         L"submit [a.ps] printer=Zel dir=C:\\out timeout=5"},
        // A file whose name starts with dashes, after "--".
        {{L"print", L"--printer", L"Zel", L"--", L"--odd.ps"}, L"print [--odd.ps] printer=Zel"},
        // Help wins over everything else.
        {{L"--help"}, L" help"},
        {{L"submit", L"--timeout", L"x", L"-h"}, L"submit help"},
        {{}, L"error: no command given"},
        {{L"Install"}, L"error: unknown command 'Install'"},
        {{L"delete-port"}, L"error: delete-port: missing argument"},
        {{L"delete-port", L"A:", L"B:"}, L"error: delete-port: unexpected argument 'B:'"},
        {{L"add-port", L""}, L"error: add-port: empty argument"},
        {{L"add-printer", L"Zel"}, L"error: add-printer needs --port"},
        {{L"print", L"a.ps"}, L"error: print needs --printer"},
        {{L"print", L"a.ps", L"--printer="}, L"error: --printer needs a value"},
        {{L"ports", L"--dll", L"x"}, L"error: unknown option '--dll' for ports"},
        {{L"submit", L"a.ps", L"--printer", L"P", L"--timeout", L"0"}, kTimeout + L"'0'"},
        {{L"submit", L"a.ps", L"--printer", L"P", L"--timeout=1.5"}, kTimeout + L"'1.5'"},
        {{L"submit", L"a.ps", L"--printer", L"P", L"--timeout", L"86401"}, kTimeout + L"'86401'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Outcome(c.args), c.outcome);
    }
}

TEST(ZelportText, UsageJobIdsAndDocumentNames) {
    // Every subcommand has its own usage text, and the overview names them all.
    std::wstring overview = UsageText(Verb::kNone);
    for (Verb verb :
         {Verb::kInstall, Verb::kUninstall, Verb::kPorts, Verb::kAddPort, Verb::kDeletePort,
          Verb::kSetDispatcher, Verb::kAddPrinter, Verb::kPrint, Verb::kSubmit}) {
        std::wstring name = VerbName(verb);
        EXPECT_EQ(UsageText(verb).rfind(L"usage: zelport " + name, 0), 0u);
        EXPECT_NE(overview.find(L"\n  " + name), std::wstring::npos);
    }
    EXPECT_EQ(FormatJobId(0xFF), L"00000000000000FF");
    for (const wchar_t* path : {L"C:\\a\\b.ps", L"Z:/tmp/b.ps", L"C:b.ps", L"b"}) {
        EXPECT_EQ(DefaultDocumentName(path), L"b");
    }
    EXPECT_EQ(DefaultDocumentName(L"C:\\x.y\\c.d.ps"), L"c.d");
    EXPECT_EQ(DefaultDocumentName(L"C:\\x.y\\.profile"), L".profile");
}

const std::wstring kDriver = L"Zel Test PostScript";

ProgramResult Zelport(const std::wstring& arguments) {
    return RunProgram(Quoted(ProgramDir() + L"zelport.exe") + L" " + arguments);
}

// One argv entry holding `text`, inner quotes escaped.
std::wstring AsArgument(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        escaped += c == L'"' ? L"\\\"" : std::wstring(1, c);
    }
    return Quoted(escaped);
}

// The line zelport writes to stderr when a system call fails.
std::string Error(const std::wstring& what, DWORD code) {
    return ToUtf8(L"zelport: " + what + L": " + zeltools::SystemText(code) + L" (" +
                  std::to_wstring(code) + L")\n");
}

// True when `out` names a job key and that key is gone.
bool JobKeyRemoved(const std::string& out) {
    std::smatch id;
    return std::regex_search(out, id, std::regex("\\\\Jobs\\\\([0-9A-F]{16})\n")) &&
           !KeyExists(HKEY_CURRENT_USER, JobKeyPath(Widen(id[1].str())));
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
        info.pDriverPath = info.pConfigFile = &driver[0];
        info.pDataFile = &data[0];
        AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&info), APD_COPY_NEW_FILES);
    }

    void SetUp() override {
        DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());
        DeleteTree(HKEY_CURRENT_USER, reg::kJobsKeyPath);
    }

    void TearDown() override {
        for (std::wstring& name : printers_) {
            PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
            zeltools::ScopedPrinter printer;
            if (OpenPrinterW(&name[0], printer.Out(), &defaults)) {
                DeletePrinter(printer.Get());
            }
        }
        for (const std::wstring& port : ports_) {
            Zelport(L"delete-port " + port);
        }
        DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());
    }

    std::vector<std::wstring> ports_;
    std::vector<std::wstring> printers_;
};

TEST_F(ZelportProgram, PrintedAndSubmittedJobs) {
    ScratchDir dir(L"zelport-jobs");
    const std::string bytes = std::string("%!PS-Adobe-3.0\n% \x80\xff\x00 binary\nshowpage\n", 38) +
                              std::string(10000, 'x');
    WriteBytes(dir.File(L"in.ps"), bytes);
    // Ours, and one on another monitor's port that never reaches ours.
    const std::wstring printer = L"\"Zel Tools Printer\"", elsewhere = L"\"Zel Tools Elsewhere\"";
    ports_ = {L"ZELTOOLS_P:"};
    printers_ = {L"Zel Tools Printer", L"Zel Tools Elsewhere"};
    const std::wstring driver = L" --driver " + Quoted(kDriver);
    for (const std::wstring& step : {std::wstring(L"add-port ZELTOOLS_P:"),
                                     L"add-printer " + printer + L" --port ZELTOOLS_P:" + driver,
                                     L"add-printer " + elsewhere + L" --port FILE:" + driver}) {
        ProgramResult run = Zelport(step);
        ASSERT_EQ(run.exitCode, 0u) << run.err;
    }
    const std::wstring file = Quoted(dir.File(L"in.ps")) + L" --printer ";

    // Printed jobs reach the dispatcher byte for byte. A failing dispatcher
    // fails the job: Wine's spooler then reports the document as not accepted.
    const struct {
        std::wstring options;
        DWORD exitCode;
    } dispatchers[] = {{L" --out " + Quoted(dir.File(L"out")), 0}, {L" --bogus", 1}};
    for (const auto& c : dispatchers) {
        std::wstring dispatcher = Quoted(ProgramDir() + L"zel-dispatch.exe") + c.options;
        ASSERT_EQ(Zelport(L"set-dispatcher ZELTOOLS_P: " + AsArgument(dispatcher)).exitCode, 0u);
        ProgramResult run = Zelport(L"print " + file + printer + L" --document " +
                                    AsArgument(L"Memo \"A\" \u00e9"));
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(run.out.rfind("job ", 0), 0u) << run.out;
            EXPECT_TRUE(ReadBytes(dir.File(L"out\\Memo _A_ \u00e9.ps")) == bytes);
        } else {
            // The dispatcher's own complaint comes first: it shares our console.
            EXPECT_EQ(run.err.rfind("zel-dispatch: unknown option --bogus"), 0u) << run.err;
            EXPECT_NE(run.err.find("zelport: the printer did not accept job "), std::string::npos);
        }
    }

    // A solicited job: the PS file named in the job key, which is then removed.
    ProgramResult run = Zelport(L"submit " + file + printer + L" --dir " + Quoted(dir.path));
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(
        run.out, match,
        std::regex("^job key: HKEY_CURRENT_USER\\\\Software\\\\Brambleworth Inc\\.\\\\Zel"
                   "\\\\3\\\\Jobs\\\\[0-9A-F]{16}\n(.|\n)*PSFilePath: (.*)\nErrorCode: 0\n")))
        << run.out;
    std::wstring psFile = zeltools::FromUtf8(match[2].str());
    EXPECT_EQ(psFile.rfind(dir.path + L"\\ps", 0), 0u) << match[2].str();
    EXPECT_TRUE(ReadBytes(psFile) == bytes);
    EXPECT_TRUE(JobKeyRemoved(run.out));

    const struct {
        std::wstring options;
        DWORD exitCode;
        const char* outPart;
        std::string errPart;
    } failures[] = {
        {printer + L" --dir " + Quoted(dir.File(L"missing")), 3, "ErrorCode: 1\n",
         "zelport: the monitor failed job "},
        {elsewhere + L" --timeout 1", 4, "",
         ToUtf8(L" after 1 s: " + zeltools::SystemText(ERROR_TIMEOUT) + L" (1460)\n")},
    };
    for (const auto& c : failures) {
        ProgramResult failed = Zelport(L"submit " + file + c.options);
        EXPECT_EQ(failed.exitCode, c.exitCode) << failed.err;
        EXPECT_NE(failed.out.find(c.outPart), std::string::npos) << failed.out;
        EXPECT_NE(failed.err.find(c.errPart), std::string::npos) << failed.err;
        EXPECT_TRUE(JobKeyRemoved(failed.out)) << failed.out;
    }
}

// An administrator's session, step by step: each step's whole stdout (on
// success) or stderr (on failure). Runs last: it removes the monitor and
// puts it back.
TEST_F(ZelportProgram, AdministratorsSession) {
    ports_ = {L"ZEL_3_PORT1:", L"ZELTOOLS_B:", L"ZELTOOLS_X:"};
    const std::wstring dispatcher =
        Quoted(ProgramDir() + L"zel-dispatch.exe") + L" --out \"C:\\Zel Jobs\"";
    const std::wstring dll = ProgramDir() + L"ZelWineHost.dll";
    const std::string monitor = "monitor \"Tessivane 3 Monitor\"";
    const struct {
        std::wstring arguments;
        DWORD exitCode;
        std::string output;
    } steps[] = {
        {L"submit --help", 0, ToUtf8(UsageText(Verb::kSubmit))},
        {L"", 2, "zelport: no command given (see zelport --help)\n"},
        {L"submit x.ps", 2, "zelport: submit needs --printer (see zelport submit --help)\n"},
        // Without a name the monitor's user interface picks one.
        {L"add-port", 0, "ZEL_3_PORT1:\n"},
        {L"add-port ZELTOOLS_B:", 0, "ZELTOOLS_B:\n"},
        {L"add-port ZELTOOLS_B:", 1, Error(L"cannot add port \"ZELTOOLS_B:\"", 1802)},
        {L"set-dispatcher ZEL_3_PORT1: " + AsArgument(dispatcher), 0,
         ToUtf8(L"ZEL_3_PORT1: dispatches with: " + dispatcher + L"\n")},
        // Only this monitor's ports: Wine's own LPT1: and FILE: stay out.
        {L"ports", 0,
         ToUtf8(L"ZEL_3_PORT1:\tTessivane 3 Port\t" + dispatcher +
                L"\nZELTOOLS_B:\tTessivane 3 Port\t\n")},
        {L"delete-port ZELTOOLS_B:", 0, "deleted port ZELTOOLS_B:\n"},
        {L"ports", 0, ToUtf8(L"ZEL_3_PORT1:\tTessivane 3 Port\t" + dispatcher + L"\n")},
        {L"delete-port NOSUCH:", 1, Error(L"cannot open \",XcvPort NOSUCH:\"", 1796)},
        {L"set-dispatcher NOSUCH: x.exe", 1,
         Error(L"no Tessivane 3 port named \"NOSUCH:\"", ERROR_FILE_NOT_FOUND)},
        {L"add-printer P --port NOSUCH: --driver D", 1,
         Error(L"cannot create printer \"P\" on port \"NOSUCH:\" with driver \"D\"", 1797)},
        {L"print nosuch.ps --printer P", 1, Error(L"cannot read nosuch.ps", ERROR_FILE_NOT_FOUND)},
        {L"print " + Quoted(dll) + L" --printer P", 1,
         Error(L"cannot open printer \"P\"", ERROR_INVALID_PRINTER_NAME)},
        // Without the monitor nothing reaches it; installing twice is harmless.
        {L"uninstall", 0, "removed " + monitor + "\n"},
        {L"uninstall", 1, Error(L"cannot remove monitor \"Tessivane 3 Monitor\"", 3000)},
        {L"add-port ZELTOOLS_X:", 1,
         Error(L"cannot open \",XcvMonitor Tessivane 3 Monitor\"", 1796)},
        {L"install --dll " + Quoted(dll), 0, "installed " + monitor + " (" + ToUtf8(dll) + ")\n"},
        {L"install --dll " + Quoted(dll), 0, monitor + " is already installed\n"},
        {L"add-port ZELTOOLS_X:", 0, "ZELTOOLS_X:\n"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(ToUtf8(step.arguments));
        ProgramResult run = Zelport(step.arguments);
        EXPECT_EQ(run.exitCode, step.exitCode);
        EXPECT_EQ(step.exitCode ? run.err : run.out, step.output);
    }
    // The dispatcher is a plain REG_SZ, not an expandable one.
    DWORD type = kPoison;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, PortKeyPath(L"ZEL_3_PORT1:"),
                          reg::kPrintDispatcherFilePathValue, type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data())), dispatcher);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PortKeyPath(L"ZELTOOLS_B:")));
}

} // namespace
