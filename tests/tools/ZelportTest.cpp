// zelport: its command lines and texts directly, then each subcommand as an
// administrator runs it, reaching the monitor through Wine's spooler (the
// folder's prefix has the Wine host registered as the monitor).

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "common/Process.h"
#include "common/Text.h"
#include "harness/TestRegistry.h"
#include "registry/RegistryLayout.h"
#include "zelport/Arguments.h"
#include "zelport/JobCommands.h"
#include "zelport/PortCommands.h"
#include "zelport/PortLog.h"

using namespace zelport;
using namespace zeltest;
using zeltools::ToUtf8;
namespace reg = Brambleworth::Zel::Registry;

namespace {

// Command lines that the program's runs below do not use: the "--" and "="
// forms, options they leave out, and the refusals.
TEST(ZelportArgs, CommandLines) {
    ParsedArgs parsed = ParseArgs({L"print", L"--printer=Zel", L"--", L"--odd.ps"});
    EXPECT_EQ(parsed.command.positional, std::vector<std::wstring>{L"--odd.ps"});
    EXPECT_EQ(parsed.command.printer, L"Zel");
    const Command& log =
        ParseArgs({L"log", L"P:", L"--follow", L"--lines", L"5", L"--dir=C:\\t"}).command;
    EXPECT_TRUE(log.follow && !log.errorsOnly && log.lines == 5u && log.dir == L"C:\\t");
    EXPECT_TRUE(ParseArgs({L"set-dispatcher", L"--force", L"P:", L"x y"}).command.force);
    const std::pair<std::vector<std::wstring>, std::wstring> refused[] = {
        {{L"Install"}, L"unknown command 'Install'"},
        {{L"delete-port"}, L"delete-port: missing argument"},
        {{L"add-port", L""}, L"add-port: empty argument"},
        {{L"add-printer", L"Zel"}, L"add-printer needs --port"},
        {{L"ports", L"--dll", L"x"}, L"unknown option '--dll' for ports"},
        {{L"submit", L"a.ps", L"--printer", L"P", L"--timeout", L"0"},
         L"--timeout takes whole seconds from 1 to 86400, not '0'"},
        {{L"log", L"P:", L"--lines", L"0"}, L"--lines takes a count from 1 to 999999, not '0'"},
        {{L"status", L"A:", L"B:"}, L"status: unexpected argument 'B:'"},
        {{L"add-port", L"--force=yes", L"a"}, L"unknown option '--force' for add-port"},
    };
    for (const auto& [args, error] : refused) {
        parsed = ParseArgs(args);
        EXPECT_FALSE(parsed.ok);
        EXPECT_EQ(parsed.error, error);
    }
}

TEST(ZelportText, JobIdsAndDocumentNames) {
    for (const wchar_t* path : {L"C:\\a\\b.ps", L"Z:/tmp/b.ps", L"C:b.ps", L"b"}) {
        EXPECT_EQ(DefaultDocumentName(path), L"b");
    }
    EXPECT_EQ(DefaultDocumentName(L"C:\\x.y\\c.d.ps"), L"c.d");
    EXPECT_EQ(DefaultDocumentName(L"C:\\x.y\\.profile"), L".profile");
}

// The port log as zelport reads it. The program's runs below read whole logs;
// here the edges: a line still being written, empty lines, advice or none.
TEST(ZelportText, PortLogEdges) {
    using Lines = std::vector<std::string>;
    const Lines lines =
        zeltools::SplitLines("       : A: #1: ...\r\nERROR  : B: #3: e\r\nERROR  : half");
    EXPECT_EQ(lines, Lines({"       : A: #1: ...", "ERROR  : B: #3: e", "ERROR  : half"}));
    EXPECT_EQ(LastLines(lines, 9, true), Lines(lines.begin() + 1, lines.end()));
    EXPECT_EQ(LastErrorLine(Lines(lines.begin(), lines.begin() + 1)), "");
    EXPECT_TRUE(zeltools::SplitLines("").empty());
    EXPECT_EQ(zeltools::SplitLines("\r\n\n"), Lines({"", ""}));
    EXPECT_NE(AdviceFor("ERROR  : X::Send: #367: e", L"P:").find(L"zelport status P:"),
              std::wstring::npos);
    EXPECT_EQ(AdviceFor(lines[1], L"P:"), L"");
    EXPECT_EQ(FromLatin1("caf\xe9"), L"caf\u00e9");
    EXPECT_EQ(
        ErrorsSinceLastJob({"ERROR  : a", "       : X::EndDocPort: #987: done", "ERROR  : b"}),
        Lines({"ERROR  : b"}));
    EXPECT_EQ(ErrorsSinceLastJob(Lines(lines.begin(), lines.begin() + 2)), Lines({lines[1]}));
}

// What add-port and set-dispatcher refuse without --force.
TEST(ZelportText, GuardRails) {
    for (const wchar_t* name : {L"a\\b", L"a/b", L"..", L"x..y:"}) {
        EXPECT_NE(PortNameProblem(name), L"") << ToUtf8(name);
    }
    for (const wchar_t* name : {L"ZEL_3_PORT1:", L"a.b:", L"with space:"}) {
        EXPECT_EQ(PortNameProblem(name), L"") << ToUtf8(name);
    }
    const struct {
        const wchar_t* command;
        const wchar_t* program;
        bool refused;
    } commands[] = {
        {L"C:\\Program Files\\Zel\\zel-dispatch.exe --out C:\\J", L"C:\\Program", true},
        {L"\"C:\\Program Files\\zel-dispatch.exe\" --out C:\\J",
         L"C:\\Program Files\\zel-dispatch.exe", false},
        {L"C:\\Zel\\ZEL-DISPATCH.EXE --out C:\\J", L"C:\\Zel\\ZEL-DISPATCH.EXE", false},
        {L"C:\\Zel\\zel-dispatch", L"C:\\Zel\\zel-dispatch", false},
        {L"\"C:\\unclosed quote", L"C:\\unclosed quote", false},
    };
    for (const auto& c : commands) {
        EXPECT_EQ(zeltools::CommandProgram(c.command), c.program);
        EXPECT_EQ(DispatcherCommandProblem(c.command).empty(), !c.refused) << ToUtf8(c.command);
    }
}

const std::wstring kDriver = L"Zel Test PostScript";
const std::string kIsoTime = "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ";

ProgramResult Zelport(const std::wstring& arguments) {
    return RunProgram(Quoted(ProgramDirectory() + L"zelport.exe") + L" " + arguments);
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

    // Printed jobs reach the dispatcher byte for byte. A missing or failing
    // dispatcher fails the job: Wine's spooler then reports the document as not
    // accepted, without the reason, which zelport finds in the port's log.
    const struct {
        std::wstring options; // none: no dispatcher yet
        DWORD exitCode;
        const char* cause;
    } dispatchers[] = {
        {L"", 1,
         "zelport: the port has no print dispatcher: zelport set-dispatcher ZELTOOLS_P: "
         "COMMAND\nzelport: port ZELTOOLS_P: logged: ERROR  : "
         "Brambleworth::Zel::PortMon::EndDocPort: #980: "},
        {L" --bogus", 1, "zelport: the print dispatcher failed the job"},
        {L" --out " + Quoted(dir.File(L"out")), 0, ""},
    };
    for (const auto& c : dispatchers) {
        std::wstring dispatcher = Quoted(ProgramDirectory() + L"zel-dispatch.exe") + c.options;
        if (!c.options.empty()) {
            ASSERT_EQ(Zelport(L"set-dispatcher ZELTOOLS_P: " + zeltools::QuoteArgument(dispatcher))
                          .exitCode,
                      0u);
        }
        ProgramResult run = Zelport(L"print " + file + printer + L" --document " +
                                    zeltools::QuoteArgument(L"Memo \"A\" \u00e9"));
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(run.out.rfind("job ", 0), 0u) << run.out;
            EXPECT_TRUE(ReadFileBytes(dir.File(L"out\\Memo _A_ \u00e9.ps")) == bytes);
        } else {
            EXPECT_NE(run.err.find("zelport: the printer did not accept job "), std::string::npos);
            EXPECT_NE(run.err.find(c.cause), std::string::npos) << run.err;
        }
    }
    // The port's log, read where the monitor wrote it: the two failures, then
    // the last lines of the good job; status sees the printer and the failure.
    ProgramResult log = Zelport(L"log ZELTOOLS_P: --errors --lines 2");
    EXPECT_TRUE(std::regex_match(log.out, std::regex("ERROR  : [^\n]*EndDocPort: #980: [^\n]*\n"
                                                     "ERROR  : [^\n]*Send: #386[^\n]*\n")))
        << log.out;
    log = Zelport(L"log ZELTOOLS_P: --lines 2");
    EXPECT_EQ(log.out, "       : Brambleworth::Zel::PortMon::EndDocPort: #987: done\n"
                       "       : Brambleworth::Zel::PortMon::ClosePort: #1021: ...\n");
    ProgramResult status = Zelport(L"status ZELTOOLS_P:");
    EXPECT_EQ(status.exitCode, 0u) << status.err;
    EXPECT_NE(status.out.find("\n  printers: Zel Tools Printer\n"), std::string::npos);
    EXPECT_TRUE(std::regex_search(status.out, std::regex(" bytes, written " + kIsoTime +
                                                         "\n  errors since the last completed "
                                                         "job: \\(none\\)\n$")))
        << status.out;

    // One rule for the printers on a port, in status as in uninstall's refusal:
    // letter case and blanks around a name in a printer's port list do not count.
    SetString(HKEY_LOCAL_MACHINE,
              L"System\\CurrentControlSet\\Control\\Print\\Printers\\Zel Tools Printer", L"Port",
              L"FILE:,  zeltools_p: ");
    status = Zelport(L"status ZELTOOLS_P:");
    EXPECT_NE(status.out.find("\n  printers: Zel Tools Printer\n"), std::string::npos)
        << status.out;
    ProgramResult uninstall = Zelport(L"uninstall");
    EXPECT_EQ(uninstall.err,
              Error(L"cannot remove monitor \"Tessivane 3 Monitor\" while printers use "
                    L"its ports: Zel Tools Printer (ZELTOOLS_P:)",
                    ERROR_PRINT_MONITOR_IN_USE));
    SetString(HKEY_LOCAL_MACHINE,
              L"System\\CurrentControlSet\\Control\\Print\\Printers\\Zel Tools Printer", L"Port",
              L"ZELTOOLS_P:");

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
    EXPECT_TRUE(ReadFileBytes(psFile) == bytes);
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
    // Scripts read status and ports as JSON: the port with its dispatcher,
    // printers, log time and the errors since its last completed job.
    for (const wchar_t* command : {L"status ZELTOOLS_P: --json", L"ports --json"}) {
        ProgramResult json = Zelport(command);
        EXPECT_EQ(json.exitCode, 0u) << json.err;
        const nlohmann::json ports = nlohmann::json::parse(json.out)["ports"];
        ASSERT_EQ(ports.size(), 1u) << json.out;
        EXPECT_EQ(ports[0]["name"], "ZELTOOLS_P:");
        EXPECT_EQ(ports[0]["dispatcher"], ToUtf8(Quoted(ProgramDirectory() + L"zel-dispatch.exe") +
                                                 L" --out " + Quoted(dir.File(L"out"))));
        EXPECT_EQ(ports[0]["printers"], nlohmann::json({"Zel Tools Printer"}));
        EXPECT_TRUE(std::regex_match(ports[0]["log"]["lastWrite"].get<std::string>(),
                                     std::regex(kIsoTime)));
        ASSERT_EQ(ports[0]["recentErrors"].size(), 1u) << json.out;
        EXPECT_EQ(ports[0]["recentErrors"][0].get<std::string>().rfind("ERROR  : ", 0), 0u);
    }
    // Deleting a port under a printer is refused as removing the monitor is.
    EXPECT_EQ(Zelport(L"delete-port ZELTOOLS_P:").err,
              Error(L"cannot delete port \"ZELTOOLS_P:\" while printers use it: Zel Tools "
                    L"Printer (ZELTOOLS_P:)",
                    ERROR_PRINT_MONITOR_IN_USE));
}

// An administrator's session, step by step: each step's whole stdout (on
// success) or stderr (on failure). Runs last: it removes the monitor and
// puts it back.
TEST_F(ZelportProgram, AdministratorsSession) {
    ports_ = {L"ZEL_3_PORT1:", L"ZELTOOLS_B:", L"ZELTOOLS_X:"};
    printers_ = {L"Zel Session", L"Zel Shared"};
    // As in a fresh prefix: no default driver and no printer description.
    DeletePrinterDriverW(nullptr, const_cast<LPWSTR>(L"Windows x64"),
                         const_cast<LPWSTR>(L"Microsoft PS Class Driver"));
    DeleteFileW(L"C:\\windows\\system32\\spool\\drivers\\x64\\3\\wineps-generic.ppd");
    const std::wstring dispatcher =
        Quoted(ProgramDirectory() + L"zel-dispatch.exe") + L" --out \"C:\\Zel Jobs\"";
    const std::wstring dll = ProgramDirectory() + L"ZelWineHost.dll";
    const std::string monitor = "monitor \"Tessivane 3 Monitor\"";
    const struct {
        std::wstring arguments;
        DWORD exitCode;
        std::string output;
    } steps[] = {
        {L"submit --help", 0, ToUtf8(UsageText(L"submit"))},
        {L"", 2, "zelport: no command given (see zelport --help)\n"},
        {L"submit x.ps", 2, "zelport: submit needs --printer (see zelport submit --help)\n"},
        // Without a name the monitor's user interface picks one.
        {L"add-port", 0, "ZEL_3_PORT1:\n"},
        {L"add-port ZELTOOLS_B:", 0, "ZELTOOLS_B:\n"},
        {L"add-port ZELTOOLS_B:", 0, "port ZELTOOLS_B: already exists\n"},
        {L"add-port a\\b", 1,
         Error(L"refusing port name \"a\\b\"", ERROR_INVALID_NAME) +
             "zelport: a port name with \\ or / makes nested registry keys and puts the port's "
             "log into another folder; --force adds it all the same\n"},
        {L"set-dispatcher ZEL_3_PORT1: \"C:\\Program Files\\x.exe\"", 1,
         Error(L"refusing print dispatcher \"C:\\Program Files\\x.exe\"", ERROR_BAD_PATHNAME) +
             "zelport: the program \"C:\\Program\" is not an .exe; quote a program path that has "
             "blanks (\"\\\"C:\\Program Files\\...\\zel-dispatch.exe\\\" --out DIR\"); --force "
             "sets it all the same\n"},
        {L"status ZELTOOLS_B:", 5,
         "zelport: port ZELTOOLS_B: has no print dispatcher: zelport set-dispatcher ZELTOOLS_B: "
         "COMMAND\n"},
        {L"set-dispatcher ZELTOOLS_B: C:\\nowhere\\x.exe", 0,
         "ZELTOOLS_B: dispatches with: C:\\nowhere\\x.exe\n"},
        {L"status ZELTOOLS_B:", 5,
         "zelport: the print dispatcher's program \"C:\\nowhere\\x.exe\" of port ZELTOOLS_B: does "
         "not exist: zelport set-dispatcher ZELTOOLS_B: with the program's full path, quoted\n"},
        {L"status NOSUCH:", 5,
         "zelport: no Tessivane 3 port named \"NOSUCH:\": zelport ports lists them\n"},
        {L"log NOSUCH: --dir C:\\nowhere", 1,
         Error(L"cannot open the log of port \"NOSUCH:\" "
               L"(C:\\nowhere\\Brambleworth.Zel.3.PortMon.NOSUCH:.log)",
               ERROR_PATH_NOT_FOUND) +
             "zelport: the monitor writes it once the port has been opened; --dir names another "
             "folder\n"},
        {L"set-dispatcher ZEL_3_PORT1: " + zeltools::QuoteArgument(dispatcher), 0,
         ToUtf8(L"ZEL_3_PORT1: dispatches with: " + dispatcher + L"\n")},
        // The same command from its parts: zelport quotes the program itself.
        {L"set-dispatcher ZEL_3_PORT1: --program " +
             Quoted(ProgramDirectory() + L"zel-dispatch.exe") + L" --out \"C:\\Zel Jobs\"",
         0, ToUtf8(L"ZEL_3_PORT1: already dispatches with: " + dispatcher + L"\n")},
        {L"set-dispatcher ZELTOOLS_B: --program C:\\nowhere\\x.exe --out C:\\J", 1,
         Error(L"refusing print dispatcher program \"C:\\nowhere\\x.exe\"", ERROR_FILE_NOT_FOUND) +
             "zelport: no such file; --force sets it all the same\n"},
        // Only this monitor's ports: Wine's own LPT1: and FILE: stay out.
        {L"ports", 0,
         ToUtf8(L"ZEL_3_PORT1:\tTessivane 3 Port\t" + dispatcher +
                L"\nZELTOOLS_B:\tTessivane 3 Port\tC:\\nowhere\\x.exe\n")},
        {L"delete-port ZELTOOLS_B:", 0, "deleted port ZELTOOLS_B:\n"},
        {L"ports", 0, ToUtf8(L"ZEL_3_PORT1:\tTessivane 3 Port\t" + dispatcher + L"\n")},
        {L"delete-port NOSUCH:", 1, Error(L"cannot open \",XcvPort NOSUCH:\"", 1796)},
        {L"set-dispatcher NOSUCH: x.exe", 1,
         Error(L"no Tessivane 3 port named \"NOSUCH:\"", ERROR_FILE_NOT_FOUND)},
        // A fresh prefix has no driver: Wine's PostScript driver is installed.
        {L"add-printer \"Zel Session\" --port FILE:", 0,
         "installed Wine's PostScript driver as Microsoft PS Class Driver\n"
         "created printer Zel Session on FILE:\n"},
        {L"add-printer \"Zel Shared\" --port FILE: --share=ZelShare --keep-printed-jobs", 0,
         "created printer Zel Shared on FILE:\n"},
        {L"add-printer \"Zel Session\" --port file:", 0,
         "printer Zel Session already exists on FILE:\n"},
        {L"add-printer \"Zel Session\" --port ZEL_3_PORT1:", 1,
         Error(L"printer \"Zel Session\" already exists on port \"FILE:\"",
               ERROR_PRINTER_ALREADY_EXISTS)},
        {L"print nosuch.ps --printer P", 1, Error(L"cannot read nosuch.ps", ERROR_FILE_NOT_FOUND)},
        {L"print " + Quoted(dll) + L" --printer P", 1,
         Error(L"cannot open printer \"P\"", ERROR_INVALID_PRINTER_NAME)},
        // Without the monitor nothing reaches it; installing twice is harmless.
        {L"uninstall", 0, "removed " + monitor + "\n"},
        {L"uninstall", 0, monitor + " is not installed\n"},
        {L"status ZEL_3_PORT1:", 5,
         "zelport: monitor \"Tessivane 3 Monitor\" is not registered: zelport install (as an "
         "administrator)\n"},
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
    const std::wstring shared = L"System\\CurrentControlSet\\Control\\Print\\Printers\\Zel Shared";
    DWORD attributes = 0;
    std::wstring share;
    EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, shared, L"Attributes", attributes));
    EXPECT_EQ(attributes & (PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS),
              static_cast<DWORD>(PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS));
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, shared, L"Share Name", share) &&
                share == L"ZelShare");
}

} // namespace
