#include "zelport/Arguments.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include "common/Text.h"
#include "zelport/JobCommands.h"
#include "zelport/PortCommands.h"
#include "zelport/PortLog.h"
#include "zelport/PrinterCommands.h"
#include "zelport/StatusReport.h"

namespace zelport {

namespace {

// Each option once: the Command field it fills, and for a number its range.
struct Option {
    const wchar_t* name;
    std::wstring Command::*text = nullptr;
    bool Command::*flag = nullptr;
    unsigned long Command::*number = nullptr;
    unsigned long max = 0;
    const wchar_t* rule = nullptr; // what a number must be, for the error line
};

const Option kOptions[] = {
    {L"--printer", &Command::printer},
    {L"--port", &Command::port},
    {L"--driver", &Command::driver},
    {L"--document", &Command::document},
    {L"--dir", &Command::dir},
    {L"--dll", &Command::dll},
    {L"--force", nullptr, &Command::force},
    {L"--errors", nullptr, &Command::errorsOnly},
    {L"--follow", nullptr, &Command::follow},
    {L"--timeout", nullptr, nullptr, &Command::timeoutSeconds, 86400,
     L"whole seconds from 1 to 86400"},
    {L"--lines", nullptr, nullptr, &Command::lines, 999999, L"a count from 1 to 999999"},
};

const Option* FindOption(const std::wstring& name) {
    for (const Option& option : kOptions) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

// A subcommand's usage text is also its definition: the synopsis (the first
// line and the indented ones after it) names its arguments and options, in
// brackets when they may be left out.
struct Subcommand {
    Runner run;
    const wchar_t* usage;
};

struct Synopsis {
    std::wstring name;
    size_t minPositional = 0, maxPositional = 0;
    std::vector<std::wstring> options, required;
};

Synopsis ReadSynopsis(const Subcommand& sub) {
    const std::wstring usage = sub.usage;
    size_t end = usage.find(L'\n');
    while (end + 1 < usage.size() && usage[end + 1] == L' ') {
        end = usage.find(L'\n', end + 1);
    }
    std::wistringstream words(usage.substr(0, end));
    Synopsis synopsis;
    std::wstring word;
    words >> word >> word >> synopsis.name; // "usage: zelport NAME"
    int depth = 0;
    bool value = false; // the word is the value of the option before it
    while (words >> word) {
        const bool opens = word.front() == L'[', closes = word.back() == L']';
        const std::wstring bare = word.substr(opens, word.size() - opens - closes);
        depth += opens;
        if (bare.rfind(L"--", 0) == 0) {
            synopsis.options.push_back(bare);
            if (depth == 0) {
                synopsis.required.push_back(bare);
            }
            value = FindOption(bare) && !FindOption(bare)->flag;
        } else if (!std::exchange(value, false)) {
            synopsis.minPositional += depth == 0;
            ++synopsis.maxPositional;
        }
        depth -= closes;
    }
    return synopsis;
}

const std::vector<Subcommand>& Subcommands() {
    static const std::vector<Subcommand> subcommands = {
        {RunInstall,
         L"usage: zelport install [--dll DLL]\n"
         L"Registers the port monitor \"Tessivane 3 Monitor\" with the spooler (Windows x64).\n"
         L"The DLL must already be in the system folder; --dll names another file there\n"
         L"(default Brambleworth.Zel.3.PortMon.x64.dll). Needs administrative rights.\n"},
        {RunUninstall,
         L"usage: zelport uninstall\n"
         L"Removes the port monitor \"Tessivane 3 Monitor\" from the spooler. Refuses while a\n"
         L"printer uses one of its ports: delete those printers first.\n"},
        {RunPorts,
         L"usage: zelport ports\n"
         L"Lists the ports of \"Tessivane 3 Monitor\", one a line: name, description and\n"
         L"print dispatcher command, separated by tabs.\n"},
        {RunAddPort,
         L"usage: zelport add-port [NAME] [--force]\n"
         L"Adds a port. Without NAME the monitor's own user interface picks the next free\n"
         L"name (ZEL_3_PORT1:, ZEL_3_PORT2:, ...); the new name is printed. A NAME with \\,\n"
         L"/ or .. is refused unless --force: it makes nested registry keys and moves the\n"
         L"port's log out of the temporary folder.\n"},
        {RunDeletePort, L"usage: zelport delete-port NAME\n"
                        L"Deletes a port of \"Tessivane 3 Monitor\". No printer may use it.\n"},
        {RunSetDispatcher,
         L"usage: zelport set-dispatcher PORT COMMAND [--force]\n"
         L"Sets the command that starts the print dispatcher for the port's jobs (the\n"
         L"port's \"PrintDispatcherFilePath\"). The monitor appends the job's message to\n"
         L"it; quote a program path that has blanks, for example:\n"
         L"  zelport set-dispatcher ZEL_3_PORT1: \"\\\"C:\\Program Files\\Zel\\zel-dispatch.exe\\\""
         L" --out C:\\Jobs\"\n"
         L"An unquoted command with blanks whose first word is no .exe is refused unless\n"
         L"--force.\n"},
        {RunAddPrinter,
         L"usage: zelport add-printer NAME --port PORT [--driver DRIVER]\n"
         L"Creates a printer on the port with an installed PostScript driver (default\n"
         L"\"Microsoft PS Class Driver\"), the print processor winprint and RAW data.\n"
         L"Under Wine a missing driver is installed as Wine's PostScript driver.\n"},
        {RunPrint, L"usage: zelport print FILE --printer PRINTER [--document NAME]\n"
                   L"Sends the file unchanged (RAW) as one job. The document name defaults to the\n"
                   L"file's name.\n"},
        {RunSubmit,
         L"usage: zelport submit FILE --printer PRINTER [--document NAME] [--dir DIR]\n"
         L"                      [--timeout SECONDS]\n"
         L"Prints the file as a solicited job: prepares a job key under HKEY_CURRENT_USER\\\n"
         L"Software\\Brambleworth Inc.\\Zel\\3\\Jobs, prints with the job's identifier in the\n"
         L"document name, waits for the monitor's \"PSFilePath\" and \"ErrorCode\", prints\n"
         L"them and removes the key. The PS file goes to DIR (default: the temporary\n"
         L"folder). Exit code 3 when ErrorCode is not 0, 4 after the time-out (default\n"
         L"120 seconds).\n"},
        {RunLog, L"usage: zelport log PORT [--lines N] [--errors] [--follow] [--dir DIR]\n"
                 L"Prints the last N lines (default 20) of the port's log, with --errors only its\n"
                 L"warning and error lines; --follow then prints new lines as they come (Ctrl+C\n"
                 L"ends). The log is in the spooler's temporary folder (C:\\Windows\\Temp on\n"
                 L"Windows, this process's own under Wine) unless DIR names another.\n"},
        {RunStatus, L"usage: zelport status [PORT] [--dir DIR]\n"
                    L"Shows the monitor's registration and library, and for each port (or PORT):\n"
                    L"description, print dispatcher and whether its program exists, printers, log\n"
                    L"size and the log's last error line. Exit code 5 when something needs doing;\n"
                    L"each problem gets a line on stderr that says what to do.\n"},
    };
    return subcommands;
}

const Subcommand* FindSubcommand(const std::wstring& name) {
    for (const Subcommand& sub : Subcommands()) {
        if (ReadSynopsis(sub).name == name) {
            return &sub;
        }
    }
    return nullptr;
}

bool IsHelp(const std::wstring& arg) {
    return arg == L"--help" || arg == L"-h" || arg == L"/?";
}

// The first thing wrong with the arguments after the subcommand's name, or
// empty.
std::wstring ParseRest(const Synopsis& sub, const std::vector<std::wstring>& args,
                       Command& command) {
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (!optionsEnded && arg == L"--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, L"--") != 0) {
            command.positional.push_back(arg);
            continue;
        }
        const size_t equals = arg.find(L'=');
        const std::wstring name = arg.substr(0, equals);
        const Option* option = FindOption(name);
        if (!option || std::count(sub.options.begin(), sub.options.end(), name) == 0 ||
            (option->flag && equals != std::wstring::npos)) {
            return L"unknown option '" + name + L"' for " + sub.name;
        }
        if (option->flag) {
            command.*option->flag = true;
            continue;
        }
        std::wstring value;
        if (equals != std::wstring::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        }
        if (value.empty()) {
            return name + L" needs a value";
        }
        if (option->text) {
            command.*option->text = value;
        } else if (!zeltools::ParseNumber(value, 1, option->max, command.*option->number)) {
            return name + L" takes " + option->rule + L", not '" + value + L"'";
        }
    }
    for (const std::wstring& required : sub.required) {
        if ((command.*FindOption(required)->text).empty()) {
            return std::wstring(sub.name) + L" needs " + required;
        }
    }
    if (command.positional.size() < sub.minPositional) {
        return std::wstring(sub.name) + L": missing argument";
    }
    if (command.positional.size() > sub.maxPositional) {
        return std::wstring(sub.name) + L": unexpected argument '" +
               command.positional[sub.maxPositional] + L"'";
    }
    for (const std::wstring& value : command.positional) {
        if (value.empty()) {
            return std::wstring(sub.name) + L": empty argument";
        }
    }
    return std::wstring();
}

} // namespace

std::wstring UsageText(const std::wstring& name) {
    if (const Subcommand* sub = FindSubcommand(name)) {
        return sub->usage;
    }
    std::wstring text = L"usage: zelport COMMAND [ARGUMENTS]   (zelport COMMAND --help for more)\n"
                        L"Administers the Tessivane 3 print ports.\n\ncommands:\n";
    for (const Subcommand& sub : Subcommands()) {
        std::wstring first = sub.usage;
        first = first.substr(0, first.find(L'\n'));
        text += L"  " + first.substr(first.find(L"zelport ") + 8) + L"\n";
    }
    text += L"\nexit codes: 0 done, 1 failed, 2 bad arguments, 3 submitted job failed,\n"
            L"4 submitted job timed out, 5 status found problems\n";
    return text;
}

ParsedArgs ParseArgs(const std::vector<std::wstring>& args) {
    ParsedArgs parsed;
    Command& command = parsed.command;
    if (args.empty() || IsHelp(args[0])) {
        command.help = true;
        parsed.ok = !args.empty();
        parsed.error = parsed.ok ? L"" : L"no command given";
        return parsed;
    }
    const Subcommand* sub = FindSubcommand(args[0]);
    if (!sub) {
        parsed.error = L"unknown command '" + args[0] + L"'";
        return parsed;
    }
    command.name = args[0];
    command.run = sub->run;
    // Help is asked for even when the rest of the line is wrong.
    for (size_t i = 1; i < args.size() && args[i] != L"--"; ++i) {
        if (IsHelp(args[i])) {
            command.help = true;
            parsed.ok = true;
            return parsed;
        }
    }
    parsed.error = ParseRest(ReadSynopsis(*sub), args, command);
    parsed.ok = parsed.error.empty();
    return parsed;
}

} // namespace zelport
