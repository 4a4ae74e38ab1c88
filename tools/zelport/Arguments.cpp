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

// Each option once: the Command field it fills (a flag with a text field
// takes an optional "=value"), for a number its range, and for an option
// that ends the options the field that takes the arguments after its value.
struct Option {
    const wchar_t* name;
    std::wstring Command::*text = nullptr;
    bool Command::*flag = nullptr;
    unsigned long Command::*number = nullptr;
    unsigned long max = 0;
    const wchar_t* rule = nullptr; // what a number must be, for the error line
    std::vector<std::wstring> Command::*rest = nullptr;
    bool mayBeEmpty = false; // an installer passes its properties, set or not
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
    {L"--json", nullptr, &Command::json},
    {L"--program", &Command::program, nullptr, nullptr, 0, nullptr, &Command::programArgs},
    {L"--share", &Command::shareName, &Command::share},
    {L"--keep-printed-jobs", nullptr, &Command::keepPrintedJobs},
    {L"--ports", &Command::ports, nullptr, nullptr, 0, nullptr, nullptr, true},
    {L"--jobs", &Command::jobs, nullptr, nullptr, 0, nullptr, nullptr, true},
    {L"--timeout", nullptr, nullptr, &Command::timeoutSeconds, 86400,
     L"whole seconds from 1 to 86400"},
    {L"--lines", nullptr, nullptr, &Command::lines, 999999, L"a count from 1 to 999999"},
};

const Option* FindOption(const std::wstring& name) {
    const auto found = std::find_if(std::begin(kOptions), std::end(kOptions),
                                    [&name](const Option& option) { return name == option.name; });
    return found == std::end(kOptions) ? nullptr : found;
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
    bool rest = false;  // and what follows it is that option's
    while (words >> word) {
        depth += static_cast<int>(std::count(word.begin(), word.end(), L'['));
        const size_t start = word.find_first_not_of(L'[');
        const std::wstring bare = word.substr(start, word.find_first_of(L"[]=", start) - start);
        if (bare.rfind(L"--", 0) == 0) {
            const Option* option = FindOption(bare);
            synopsis.options.push_back(bare);
            if (depth == 0) {
                synopsis.required.push_back(bare);
            }
            value = option && option->text && !option->flag;
            rest = option && option->rest;
        } else if (std::exchange(value, false)) {
            if (rest) {
                break;
            }
        } else {
            synopsis.minPositional += depth == 0;
            ++synopsis.maxPositional;
        }
        depth -= static_cast<int>(std::count(word.begin(), word.end(), L']'));
    }
    return synopsis;
}

const Subcommand kSubcommands[] = {
    {RunInstall,
     L"usage: zelport install [--dll DLL] [--ports PORT,...] [--jobs DIR]\n"
     L"Registers the port monitor \"Tessivane 3 Monitor\" with the spooler (Windows x64).\n"
     L"The DLL must already be in the system folder; --dll names another file there\n"
     L"(default Brambleworth.Zel.3.PortMon.x64.dll). Needs administrative rights.\n"
     L"--ports adds the ports named (those there already stay as they are); --jobs\n"
     L"gives them the zel-dispatch.exe beside zelport.exe as print dispatcher, filing\n"
     L"jobs in DIR. The installer passes its ZELPORTS and ZELJOBS properties here.\n"},
    {RunUninstall,
     L"usage: zelport uninstall\n"
     L"Removes the port monitor \"Tessivane 3 Monitor\" from the spooler. Refuses while a\n"
     L"printer uses one of its ports: delete those printers first.\n"},
    {RunPorts, L"usage: zelport ports [--json] [--dir DIR]\n"
               L"Lists the ports of \"Tessivane 3 Monitor\", one a line: name, description and\n"
               L"print dispatcher command, separated by tabs. With --json one JSON document with\n"
               L"each port's settings, printers and log, as status --json has them (docs/\n"
               L"operations.md); DIR names the logs' folder as for status.\n"},
    {RunAddPort,
     L"usage: zelport add-port [NAME] [--force]\n"
     L"Adds a port. Without NAME the monitor's own user interface picks the next free\n"
     L"name (ZEL_3_PORT1:, ZEL_3_PORT2:, ...); the new name is printed. A NAME with \\,\n"
     L"/ or .. is refused unless --force: it makes nested registry keys and moves the\n"
     L"port's log out of the temporary folder.\n"},
    {RunDeletePort, L"usage: zelport delete-port NAME\n"
                    L"Deletes a port of \"Tessivane 3 Monitor\". No printer may use it.\n"},
    {RunSetDispatcher,
     L"usage: zelport set-dispatcher PORT [COMMAND] [--force] [--program PATH [ARGS...]]\n"
     L"Sets the command that starts the print dispatcher for the port's jobs (the\n"
     L"port's \"PrintDispatcherFilePath\"); the monitor appends the job's message to it.\n"
     L"With --program, zelport quotes PATH itself and adds ARGS (everything after PATH,\n"
     L"each quoted when it needs it); a PATH that does not exist is refused unless\n"
     L"--force, which goes before --program. The same line works in cmd and PowerShell:\n"
     L"  zelport set-dispatcher ZEL_3_PORT1: --program \"C:\\Program Files\\Zel "
     L"PortMon\\zel-dispatch.exe\" --out C:\\Jobs\n"
     L"COMMAND is the whole command as one argument, used as it stands; a program path\n"
     L"with blanks then carries its own quotes, in cmd for example:\n"
     L"  zelport set-dispatcher ZEL_3_PORT1: \"\\\"C:\\Program Files\\Zel "
     L"PortMon\\zel-dispatch.exe\\\" --out C:\\Jobs\"\n"
     L"An unquoted COMMAND with blanks whose first word is no .exe is refused unless\n"
     L"--force.\n"},
    {RunAddPrinter,
     L"usage: zelport add-printer NAME --port PORT [--driver DRIVER] [--share[=SHARENAME]]\n"
     L"                           [--keep-printed-jobs]\n"
     L"Creates a printer on the port with an installed PostScript driver (default\n"
     L"\"Microsoft PS Class Driver\"), the print processor winprint and RAW data.\n"
     L"Under Wine a missing driver is installed as Wine's PostScript driver. --share\n"
     L"shares it on the network (under NAME, or SHARENAME); --keep-printed-jobs keeps\n"
     L"each job in the queue after it was printed, so that one whose hand-off failed\n"
     L"can be restarted (docs/operations.md). A printer NAME that exists already on\n"
     L"PORT is left as it is; on another port it is refused.\n"},
    {RunPrint, L"usage: zelport print FILE --printer PRINTER [--document NAME]\n"
               L"Sends the file unchanged (RAW) as one job. The document name defaults to the\n"
               L"file's name without its extension (C:\\in\\memo.ps prints as \"memo\").\n"},
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
    {RunStatus,
     L"usage: zelport status [PORT] [--json] [--dir DIR]\n"
     L"Checks that the Spooler service runs, then shows the monitor's registration and\n"
     L"library, and for each port (or PORT): description, print dispatcher and whether\n"
     L"its program exists, printers, the log's size and last-write time and the error\n"
     L"lines it got since the port's last completed job. Exit code 5 when something\n"
     L"needs doing; each problem gets a line on stderr that says what to do. --json\n"
     L"writes one JSON document instead (docs/operations.md), with the same exit codes.\n"},
};

const Subcommand* FindSubcommand(const std::wstring& name) {
    const auto found =
        std::find_if(std::begin(kSubcommands), std::end(kSubcommands),
                     [&name](const Subcommand& sub) { return ReadSynopsis(sub).name == name; });
    return found == std::end(kSubcommands) ? nullptr : found;
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
            (option->flag && !option->text && equals != std::wstring::npos)) {
            return L"unknown option '" + name + L"' for " + sub.name;
        }
        if (option->flag) {
            command.*option->flag = true;
        }
        if (option->flag && equals == std::wstring::npos) {
            continue;
        }
        const bool given = equals != std::wstring::npos || i + 1 < args.size();
        const std::wstring value = !given                         ? L""
                                   : equals != std::wstring::npos ? arg.substr(equals + 1)
                                                                  : args[++i];
        if (!given || (value.empty() && !option->mayBeEmpty)) {
            return name + L" needs a value";
        }
        if (option->text) {
            command.*option->text = value;
        } else if (!zeltools::ParseNumber(value, 1, option->max, command.*option->number)) {
            return name + L" takes " + option->rule + L", not '" + value + L"'";
        }
        if (option->rest) {
            command.*option->rest = std::vector<std::wstring>(args.begin() + i + 1, args.end());
            break;
        }
    }
    for (const std::wstring& required : sub.required) {
        if ((command.*FindOption(required)->text).empty()) {
            return sub.name + L" needs " + required;
        }
    }
    if (command.positional.size() < sub.minPositional) {
        return sub.name + L": missing argument";
    }
    if (command.positional.size() > sub.maxPositional) {
        return sub.name + L": unexpected argument '" + command.positional[sub.maxPositional] + L"'";
    }
    const auto& positional = command.positional;
    const bool anyEmpty = std::find(positional.begin(), positional.end(), L"") != positional.end();
    return anyEmpty ? sub.name + L": empty argument" : std::wstring();
}

} // namespace

std::wstring UsageText(const std::wstring& name) {
    if (const Subcommand* sub = FindSubcommand(name)) {
        return sub->usage;
    }
    std::wstring text = L"usage: zelport COMMAND [ARGUMENTS]   (zelport COMMAND --help for more)\n"
                        L"Administers the Tessivane 3 print ports.\n\ncommands:\n";
    for (const Subcommand& sub : kSubcommands) {
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
    const auto optionsEnd = std::find(args.begin() + 1, args.end(), L"--");
    command.help = std::find_if(args.begin() + 1, optionsEnd, IsHelp) != optionsEnd;
    if (!command.help) {
        parsed.error = ParseRest(ReadSynopsis(*sub), args, command);
    }
    parsed.ok = parsed.error.empty();
    return parsed;
}

} // namespace zelport
