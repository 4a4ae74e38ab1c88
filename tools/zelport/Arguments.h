#pragma once

// zelport's command line: its subcommands, their options and usage texts, and
// the exit codes they promise.

#include <string>
#include <vector>

namespace zelport {

struct Command;
using Runner = int (*)(const Command&);

// Exit codes, the same for every subcommand.
enum Exit : int {
    kExitOk = 0,
    kExitFailed = 1,   // a system call failed; the error line says which
    kExitUsage = 2,    // the arguments were wrong
    kExitJobError = 3, // submit: the monitor reported a non-zero ErrorCode
    kExitTimeout = 4,  // submit: no result within the time-out
    kExitProblems = 5, // status: something needs the administrator
};

struct Command {
    std::wstring name; // the subcommand; empty: none (general help)
    Runner run = nullptr;
    bool help = false;
    std::vector<std::wstring> positional;
    std::wstring printer, port, driver, document, dir, dll; // --printer NAME, ...
    unsigned long timeoutSeconds = 120;
    unsigned long lines = 20;
    bool errorsOnly = false;               // log --errors
    bool follow = false;                   // log --follow
    bool force = false;                    // add-port, set-dispatcher: skip the guard rails
    bool json = false;                     // ports, status: one JSON document for scripts
    std::wstring program;                  // set-dispatcher --program PATH
    std::vector<std::wstring> programArgs; // and what follows it
    bool share = false;                    // add-printer --share[=NAME]
    std::wstring shareName;
    bool keepPrintedJobs = false; // add-printer
    std::wstring ports;           // install --ports A:,B: (may be empty: none)
    std::wstring jobs;            // install --jobs DIR: their dispatcher's output
};

struct ParsedArgs {
    bool ok = false;
    std::wstring error; // one line, without the "zelport: " prefix
    Command command;
};

// `args` excludes the program name.
ParsedArgs ParseArgs(const std::vector<std::wstring>& args);

// The usage text of one subcommand, or the overview for any other name.
std::wstring UsageText(const std::wstring& name);

} // namespace zelport
