#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zelport/ZelportArgs.h"

using namespace zelport;

namespace {

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

TEST(ZelportArgs, AcceptedCommandLines) {
    const struct {
        std::vector<std::wstring> args;
        Verb verb;
        std::vector<std::wstring> positional;
        std::wstring printer, port, driver, document, dir, dll;
        unsigned timeout;
    } cases[] = {
        {{L"install"}, Verb::kInstall, {}, L"", L"", L"", L"", L"", L"", kDefaultTimeoutSeconds},
        {{L"install", L"--dll", L"Z:\\b\\host.dll"},
         Verb::kInstall,
         {},
         L"",
         L"",
         L"",
         L"",
         L"",
         L"Z:\\b\\host.dll",
         kDefaultTimeoutSeconds},
        {{L"add-port"}, Verb::kAddPort, {}, L"", L"", L"", L"", L"", L"", kDefaultTimeoutSeconds},
        {{L"add-port", L"ZEL_3_PORT7:"},
         Verb::kAddPort,
         {L"ZEL_3_PORT7:"},
         L"",
         L"",
         L"",
         L"",
         L"",
         L"",
         kDefaultTimeoutSeconds},
        {{L"set-dispatcher", L"P:", L"\"C:\\a b\\d.exe\" --out C:\\x"},
         Verb::kSetDispatcher,
         {L"P:", L"\"C:\\a b\\d.exe\" --out C:\\x"},
         L"",
         L"",
         L"",
         L"",
         L"",
         L"",
         kDefaultTimeoutSeconds},
        {{L"add-printer", L"Zel", L"--port=ZEL_3_PORT1:", L"--driver", L"PS"},
         Verb::kAddPrinter,
         {L"Zel"},
         L"",
         L"ZEL_3_PORT1:",
         L"PS",
         L"",
         L"",
         L"",
         kDefaultTimeoutSeconds},
        {{L"print", L"--printer", L"Zel", L"a.ps", L"--document", L"Memo"},
         Verb::kPrint,
         {L"a.ps"},
         L"Zel",
         L"",
         L"",
         L"Memo",
         L"",
         L"",
         kDefaultTimeoutSeconds},
        {{L"submit", L"a.ps", L"--printer", L"Zel", L"--dir", L"C:\\out", L"--timeout", L"5"},
         Verb::kSubmit,
         {L"a.ps"},
         L"Zel",
         L"",
         L"",
         L"",
         L"C:\\out",
         L"",
         5},
        // A file whose name starts with dashes, after "--".
        {{L"print", L"--printer", L"Zel", L"--", L"--odd.ps"},
         Verb::kPrint,
         {L"--odd.ps"},
         L"Zel",
         L"",
         L"",
         L"",
         L"",
         L"",
         kDefaultTimeoutSeconds},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.args[0]) + " " + std::to_string(c.args.size()));
        ParsedArgs parsed = ParseArgs(c.args);
        ASSERT_TRUE(parsed.ok) << Narrow(parsed.error);
        const Command& command = parsed.command;
        EXPECT_FALSE(command.help);
        EXPECT_EQ(command.verb, c.verb);
        EXPECT_EQ(command.positional, c.positional);
        EXPECT_EQ(command.printer, c.printer);
        EXPECT_EQ(command.port, c.port);
        EXPECT_EQ(command.driver, c.driver);
        EXPECT_EQ(command.document, c.document);
        EXPECT_EQ(command.dir, c.dir);
        EXPECT_EQ(command.dll, c.dll);
        EXPECT_EQ(command.timeoutSeconds, c.timeout);
    }
}

TEST(ZelportArgs, RejectedCommandLinesSayWhy) {
    const struct {
        std::vector<std::wstring> args;
        const wchar_t* error;
    } cases[] = {
        {{}, L"no command given"},
        {{L"frobnicate"}, L"unknown command 'frobnicate'"},
        {{L"Install"}, L"unknown command 'Install'"},
        {{L"delete-port"}, L"delete-port: missing argument"},
        {{L"delete-port", L"A:", L"B:"}, L"delete-port: unexpected argument 'B:'"},
        {{L"add-port", L""}, L"add-port: empty argument"},
        {{L"set-dispatcher", L"P:"}, L"set-dispatcher: missing argument"},
        {{L"add-printer", L"Zel"}, L"add-printer needs --port"},
        {{L"print", L"a.ps"}, L"print needs --printer"},
        {{L"print", L"a.ps", L"--printer"}, L"--printer needs a value"},
        {{L"print", L"a.ps", L"--printer="}, L"--printer needs a value"},
        {{L"print", L"a.ps", L"--printer", L"P", L"--timeout", L"5"},
         L"unknown option '--timeout' for print"},
        {{L"ports", L"--dll", L"x"}, L"unknown option '--dll' for ports"},
        {{L"submit", L"a.ps", L"--printer", L"P", L"--timeout", L"0"},
         L"--timeout takes whole seconds from 1 to 86400, not '0'"},
        {{L"submit", L"a.ps", L"--printer", L"P", L"--timeout", L"-3"},
         L"--timeout takes whole seconds from 1 to 86400, not '-3'"},
        {{L"submit", L"a.ps", L"--printer", L"P", L"--timeout=1.5"},
         L"--timeout takes whole seconds from 1 to 86400, not '1.5'"},
        {{L"submit", L"a.ps", L"--printer", L"P", L"--timeout", L"86401"},
         L"--timeout takes whole seconds from 1 to 86400, not '86401'"},
    };
    for (const auto& c : cases) {
        ParsedArgs parsed = ParseArgs(c.args);
        EXPECT_FALSE(parsed.ok) << c.args.size();
        EXPECT_EQ(parsed.error, c.error);
    }
}

TEST(ZelportArgs, HelpWinsOverEverythingElse) {
    for (const std::vector<std::wstring>& args : {std::vector<std::wstring>{L"--help"},
                                                  {L"submit", L"--help"},
                                                  {L"submit", L"--timeout", L"x", L"-h"},
                                                  {L"delete-port", L"/?"}}) {
        ParsedArgs parsed = ParseArgs(args);
        EXPECT_TRUE(parsed.ok);
        EXPECT_TRUE(parsed.command.help);
    }
    // Every subcommand has its own usage text, and the overview names them all.
    std::wstring overview = UsageText(Verb::kNone);
    for (Verb verb :
         {Verb::kInstall, Verb::kUninstall, Verb::kPorts, Verb::kAddPort, Verb::kDeletePort,
          Verb::kSetDispatcher, Verb::kAddPrinter, Verb::kPrint, Verb::kSubmit}) {
        std::wstring usage = UsageText(verb);
        EXPECT_EQ(usage.rfind(L"usage: zelport " + std::wstring(VerbName(verb)), 0), 0u);
        EXPECT_NE(overview.find(L"\n  " + std::wstring(VerbName(verb))), std::wstring::npos);
    }
}

TEST(ZelportText, JobIdsErrorLinesAndNames) {
    EXPECT_EQ(FormatJobId(0), L"0000000000000000");
    EXPECT_EQ(FormatJobId(0x0123456789ABCDEFULL), L"0123456789ABCDEF");
    EXPECT_EQ(FormatJobId(~0ULL), L"FFFFFFFFFFFFFFFF");
    EXPECT_EQ(SolicitedDocumentName(L"Memo", L"00FF00FF00FF00FF"), L"Memo #%00FF00FF00FF00FF#%");
    EXPECT_EQ(ErrorLine(L"cannot delete port \"X:\"", L"Unknown port.", 1796),
              L"zelport: cannot delete port \"X:\": Unknown port. (1796)");
    EXPECT_EQ(DefaultDocumentName(L"C:\\a\\b.ps"), L"b");
    EXPECT_EQ(DefaultDocumentName(L"Z:/tmp/c.d.ps"), L"c.d");
    EXPECT_EQ(DefaultDocumentName(L"C:d.ps"), L"d");
    EXPECT_EQ(DefaultDocumentName(L"e"), L"e");
    EXPECT_EQ(DefaultDocumentName(L"C:\\x.y\\.profile"), L".profile");
}

} // namespace
