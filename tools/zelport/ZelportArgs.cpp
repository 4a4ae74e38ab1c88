#include "zelport/ZelportArgs.h"

namespace zelport {

namespace {

struct Subcommand {
    Verb verb;
    const wchar_t* name;
    size_t minPositional;
    size_t maxPositional;
    std::vector<std::wstring> options;  // options that take a value
    std::vector<std::wstring> required; // of those, the ones that must be given
    const wchar_t* usage;
    std::vector<std::wstring> flags = {}; // options without a value
};

const std::vector<Subcommand>& Subcommands() {
    static const std::vector<Subcommand> subcommands = {
        {Verb::kInstall,
         L"install",
         0,
         0,
         {L"--dll"},
         {},
         L"usage: zelport install [--dll DLL]\n"
         L"Registers the port monitor \"Tessivane 3 Monitor\" with the spooler (Windows x64).\n"
         L"The DLL must already be in the system folder; --dll names another file there\n"
         L"(default Brambleworth.Zel.3.PortMon.x64.dll). Needs administrative rights.\n"},
        {Verb::kUninstall,
         L"uninstall",
         0,
         0,
         {},
         {},
         L"usage: zelport uninstall\n"
         L"Removes the port monitor \"Tessivane 3 Monitor\" from the spooler. Refuses while a\n"
         L"printer uses one of its ports: delete those printers first.\n"},
        {Verb::kPorts,
         L"ports",
         0,
         0,
         {},
         {},
         L"usage: zelport ports\n"
         L"Lists the ports of \"Tessivane 3 Monitor\", one a line: name, description and\n"
         L"print dispatcher command, separated by tabs.\n"},
        {Verb::kAddPort,
         L"add-port",
         0,
         1,
         {},
         {},
         L"usage: zelport add-port [NAME] [--force]\n"
         L"Adds a port. Without NAME the monitor's own user interface picks the next free\n"
         L"name (ZEL_3_PORT1:, ZEL_3_PORT2:, ...); the new name is printed. A NAME with \\,\n"
         L"/ or .. is refused unless --force: it makes nested registry keys and moves the\n"
         L"port's log out of the temporary folder.\n",
         {L"--force"}},
        {Verb::kDeletePort,
         L"delete-port",
         1,
         1,
         {},
         {},
         L"usage: zelport delete-port NAME\n"
         L"Deletes a port of \"Tessivane 3 Monitor\". No printer may use it.\n"},
        {Verb::kSetDispatcher,
         L"set-dispatcher",
         2,
         2,
         {},
         {},
         L"usage: zelport set-dispatcher PORT COMMAND [--force]\n"
         L"Sets the command that starts the print dispatcher for the port's jobs (the\n"
         L"port's \"PrintDispatcherFilePath\"). The monitor appends the job's message to\n"
         L"it; quote a program path that has blanks, for example:\n"
         L"  zelport set-dispatcher ZEL_3_PORT1: \"\\\"C:\\Program Files\\Zel\\zel-dispatch.exe\\\""
         L" --out C:\\Jobs\"\n"
         L"An unquoted command with blanks whose first word is no .exe is refused unless\n"
         L"--force.\n",
         {L"--force"}},
        {Verb::kAddPrinter,
         L"add-printer",
         1,
         1,
         {L"--port", L"--driver"},
         {L"--port"},
         L"usage: zelport add-printer NAME --port PORT [--driver DRIVER]\n"
         L"Creates a printer on the port with an installed PostScript driver (default\n"
         L"\"Microsoft PS Class Driver\"), the print processor winprint and RAW data.\n"
         L"Under Wine a missing driver is installed as Wine's PostScript driver.\n"},
        {Verb::kPrint,
         L"print",
         1,
         1,
         {L"--printer", L"--document"},
         {L"--printer"},
         L"usage: zelport print FILE --printer PRINTER [--document NAME]\n"
         L"Sends the file unchanged (RAW) as one job. The document name defaults to the\n"
         L"file's name.\n"},
        {Verb::kSubmit,
         L"submit",
         1,
         1,
         {L"--printer", L"--document", L"--dir", L"--timeout"},
         {L"--printer"},
         L"usage: zelport submit FILE --printer PRINTER [--document NAME] [--dir DIR]\n"
         L"                      [--timeout SECONDS]\n"
         L"Prints the file as a solicited job: prepares a job key under HKEY_CURRENT_USER\\\n"
         L"Software\\Brambleworth Inc.\\Zel\\3\\Jobs, prints with the job's identifier in the\n"
         L"document name, waits for the monitor's \"PSFilePath\" and \"ErrorCode\", prints\n"
         L"them and removes the key. The PS file goes to DIR (default: the temporary\n"
         L"folder). Exit code 3 when ErrorCode is not 0, 4 after the time-out (default\n"
         L"120 seconds).\n"},
        {Verb::kLog,
         L"log",
         1,
         1,
         {L"--lines", L"--dir"},
         {},
         L"usage: zelport log PORT [--lines N] [--errors] [--follow] [--dir DIR]\n"
         L"Prints the last N lines (default 20) of the port's log, with --errors only its\n"
         L"warning and error lines; --follow then prints new lines as they come (Ctrl+C\n"
         L"ends). The log is in the spooler's temporary folder (C:\\Windows\\Temp on\n"
         L"Windows, this process's own under Wine) unless DIR names another.\n",
         {L"--errors", L"--follow"}},
        {Verb::kStatus,
         L"status",
         0,
         1,
         {L"--dir"},
         {},
         L"usage: zelport status [PORT] [--dir DIR]\n"
         L"Shows the monitor's registration and library, and for each port (or PORT):\n"
         L"description, print dispatcher and whether its program exists, printers, log\n"
         L"size and the log's last error line. Exit code 5 when something needs doing;\n"
         L"each problem gets a line on stderr that says what to do.\n"},
    };
    return subcommands;
}

const Subcommand* FindSubcommand(Verb verb) {
    for (const Subcommand& sub : Subcommands()) {
        if (sub.verb == verb) {
            return &sub;
        }
    }
    return nullptr;
}

bool IsHelp(const std::wstring& arg) {
    return arg == L"--help" || arg == L"-h" || arg == L"/?";
}

bool ParseWhole(const std::wstring& text, unsigned max, unsigned& result) {
    if (text.empty() || text.size() > 6) {
        return false;
    }
    unsigned value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    if (value == 0 || value > max) {
        return false;
    }
    result = value;
    return true;
}

std::wstring* OptionField(Command& command, const std::wstring& option) {
    if (option == L"--printer") {
        return &command.printer;
    }
    if (option == L"--port") {
        return &command.port;
    }
    if (option == L"--driver") {
        return &command.driver;
    }
    if (option == L"--document") {
        return &command.document;
    }
    if (option == L"--dir") {
        return &command.dir;
    }
    if (option == L"--dll") {
        return &command.dll;
    }
    return nullptr;
}

} // namespace

const wchar_t* VerbName(Verb verb) {
    const Subcommand* sub = FindSubcommand(verb);
    return sub ? sub->name : L"";
}

std::wstring UsageText(Verb verb) {
    if (const Subcommand* sub = FindSubcommand(verb)) {
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
        if (!parsed.ok) {
            parsed.error = L"no command given";
        }
        return parsed;
    }
    const Subcommand* sub = nullptr;
    for (const Subcommand& candidate : Subcommands()) {
        if (args[0] == candidate.name) {
            sub = &candidate;
        }
    }
    if (!sub) {
        parsed.error = L"unknown command '" + args[0] + L"'";
        return parsed;
    }
    command.verb = sub->verb;

    // Help is asked for even when the rest of the line is wrong.
    for (size_t i = 1; i < args.size() && args[i] != L"--"; ++i) {
        if (IsHelp(args[i])) {
            command.help = true;
            parsed.ok = true;
            return parsed;
        }
    }

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
        std::wstring name = arg;
        std::wstring value;
        bool hasValue = false;
        size_t equals = arg.find(L'=');
        if (equals != std::wstring::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        bool isFlag = false;
        for (const std::wstring& flag : sub->flags) {
            isFlag = isFlag || flag == name;
        }
        if (isFlag && !hasValue) {
            bool& field = name == L"--force"    ? command.force
                          : name == L"--errors" ? command.errorsOnly
                                                : command.follow;
            field = true;
            continue;
        }
        bool known = false;
        for (const std::wstring& option : sub->options) {
            known = known || option == name;
        }
        if (!known) {
            parsed.error = L"unknown option '" + name + L"' for " + sub->name;
            return parsed;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                parsed.error = name + L" needs a value";
                return parsed;
            }
            value = args[++i];
        }
        if (value.empty()) {
            parsed.error = name + L" needs a value";
            return parsed;
        }
        if (name == L"--timeout") {
            if (!ParseWhole(value, 86400, command.timeoutSeconds)) {
                parsed.error =
                    L"--timeout takes whole seconds from 1 to 86400, not '" + value + L"'";
                return parsed;
            }
        } else if (name == L"--lines") {
            if (!ParseWhole(value, 999999, command.lines)) {
                parsed.error = L"--lines takes a count from 1 to 999999, not '" + value + L"'";
                return parsed;
            }
        } else {
            *OptionField(command, name) = value;
        }
    }
    for (const std::wstring& option : sub->required) {
        if (OptionField(command, option)->empty()) {
            parsed.error = std::wstring(sub->name) + L" needs " + option;
            return parsed;
        }
    }
    if (command.positional.size() < sub->minPositional) {
        parsed.error = std::wstring(sub->name) + L": missing argument";
        return parsed;
    }
    if (command.positional.size() > sub->maxPositional) {
        parsed.error = std::wstring(sub->name) + L": unexpected argument '" +
                       command.positional[sub->maxPositional] + L"'";
        return parsed;
    }
    for (const std::wstring& value : command.positional) {
        if (value.empty()) {
            parsed.error = std::wstring(sub->name) + L": empty argument";
            return parsed;
        }
    }
    parsed.ok = true;
    return parsed;
}

std::wstring ErrorLine(const std::wstring& what, const std::wstring& systemText,
                       unsigned long code) {
    return L"zelport: " + what + L": " + systemText + L" (" + std::to_wstring(code) + L")";
}

std::wstring FormatJobId(std::uint64_t value) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring id(16, L'0');
    for (int i = 15; i >= 0; --i) {
        id[static_cast<size_t>(i)] = kDigits[value & 0xF];
        value >>= 4;
    }
    return id;
}

std::wstring SolicitedDocumentName(const std::wstring& document, const std::wstring& jobId) {
    return document + L" #%" + jobId + L"#%";
}

std::wstring DefaultDocumentName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/:");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

} // namespace zelport
