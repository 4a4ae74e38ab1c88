// zelport: installs the monitor, manages its ports and printers, and prints
// jobs, plainly or as solicited jobs whose result comes back in the registry.

#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "common/Text.h"
#include "zelport/Arguments.h"
#include "zelport/Failure.h"
#include "zelport/JobCommands.h"
#include "zelport/PortCommands.h"
#include "zelport/PortLog.h"
#include "zelport/PrinterCommands.h"
#include "zelport/StatusReport.h"

namespace {

using namespace zelport;

const struct {
    Verb verb;
    int (*run)(const Command&);
} kCommands[] = {
    {Verb::kInstall, RunInstall},       {Verb::kUninstall, RunUninstall},
    {Verb::kPorts, RunPorts},           {Verb::kAddPort, RunAddPort},
    {Verb::kDeletePort, RunDeletePort}, {Verb::kSetDispatcher, RunSetDispatcher},
    {Verb::kAddPrinter, RunAddPrinter}, {Verb::kPrint, RunPrint},
    {Verb::kSubmit, RunSubmit},         {Verb::kLog, RunLog},
    {Verb::kStatus, RunStatus},
};

int Run(const Command& command) {
    for (const auto& entry : kCommands) {
        if (entry.verb == command.verb) {
            return entry.run(command);
        }
    }
    zeltools::Out(UsageText(Verb::kNone));
    return kExitUsage;
}

} // namespace

int wmain(int argc, wchar_t* argv[]) {
    const ParsedArgs parsed = ParseArgs(std::vector<std::wstring>(argv + 1, argv + argc));
    if (!parsed.ok) {
        std::wstring hint =
            parsed.command.verb == Verb::kNone
                ? L"zelport --help"
                : std::wstring(L"zelport ") + VerbName(parsed.command.verb) + L" --help";
        zeltools::Err(L"zelport: " + parsed.error + L" (see " + hint + L")\n");
        return kExitUsage;
    }
    if (parsed.command.help) {
        zeltools::Out(UsageText(parsed.command.verb));
        return kExitOk;
    }
    try {
        return Run(parsed.command);
    } catch (const Failure& failure) {
        zeltools::Err(L"zelport: " + zeltools::ErrorText(failure.what, failure.code) + L"\n");
        for (const std::wstring& line : failure.advice) {
            zeltools::Err(L"zelport: " + line + L"\n");
        }
        return failure.exitCode;
    } catch (const std::bad_alloc&) {
        zeltools::Err(L"zelport: " +
                      zeltools::ErrorText(L"out of memory", ERROR_NOT_ENOUGH_MEMORY) + L"\n");
        return kExitFailed;
    }
}
