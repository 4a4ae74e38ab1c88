// zelport: installs the monitor, manages its ports and printers, and prints
// jobs, plainly or as solicited jobs whose result comes back in the registry.

#include <windows.h>
#include <shellapi.h>

#include <new>
#include <string>
#include <vector>

#include "common/Win32Util.h"
#include "zelport/Commands.h"
#include "zelport/ZelportArgs.h"

namespace {

std::vector<std::wstring> Arguments() {
    std::vector<std::wstring> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) {
        return args;
    }
    for (int i = 1; i < count; ++i) {
        args.emplace_back(argv[i]);
    }
    LocalFree(argv);
    return args;
}

int Run() {
    zelport::ParsedArgs parsed = zelport::ParseArgs(Arguments());
    if (!parsed.ok) {
        std::wstring hint =
            parsed.command.verb == zelport::Verb::kNone
                ? L"zelport --help"
                : std::wstring(L"zelport ") + zelport::VerbName(parsed.command.verb) + L" --help";
        zeltools::Err(L"zelport: " + parsed.error + L" (see " + hint + L")\n");
        return zelport::kExitUsage;
    }
    if (parsed.command.help) {
        zeltools::Out(zelport::UsageText(parsed.command.verb));
        return zelport::kExitOk;
    }
    try {
        return zelport::RunCommand(parsed.command);
    } catch (const zelport::Failure& failure) {
        // Wine's spooler can fail a job without setting a code.
        std::wstring text = failure.code ? zeltools::SystemText(failure.code)
                                         : std::wstring(L"the system gave no reason");
        zeltools::Err(zelport::ErrorLine(failure.what, text, failure.code) + L"\n");
        for (const std::wstring& line : failure.advice) {
            zeltools::Err(L"zelport: " + line + L"\n");
        }
        return failure.exitCode;
    } catch (const std::bad_alloc&) {
        zeltools::Err(zelport::ErrorLine(L"out of memory",
                                         zeltools::SystemText(ERROR_NOT_ENOUGH_MEMORY),
                                         ERROR_NOT_ENOUGH_MEMORY) +
                      L"\n");
        return zelport::kExitFailed;
    }
}

} // namespace

int main() {
    return Run();
}
