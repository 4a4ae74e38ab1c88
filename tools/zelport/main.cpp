// zelport: installs the monitor, manages its ports and printers, and prints
// jobs, plainly or as solicited jobs whose result comes back in the registry.

#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "common/Text.h"
#include "zelport/Arguments.h"
#include "zelport/Failure.h"

using namespace zelport;

int wmain(int argc, wchar_t* argv[]) {
    const ParsedArgs parsed = ParseArgs(std::vector<std::wstring>(argv + 1, argv + argc));
    if (!parsed.ok) {
        const std::wstring hint = L"zelport " + parsed.command.name +
                                  (parsed.command.name.empty() ? L"--help" : L" --help");
        zeltools::Err(L"zelport: " + parsed.error + L" (see " + hint + L")\n");
        return kExitUsage;
    }
    if (parsed.command.help) {
        zeltools::Out(UsageText(parsed.command.name));
        return kExitOk;
    }
    try {
        return parsed.command.run(parsed.command);
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
