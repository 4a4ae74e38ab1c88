#include "zelport/PrinterCommands.h"

#include <windows.h>

#include "common/Spooler.h"
#include "common/Text.h"
#include "common/Wine.h"
#include "zelport/Failure.h"

namespace zelport {

namespace {

constexpr const wchar_t* kDefaultDriver = L"Microsoft PS Class Driver";

} // namespace

int RunAddPrinter(const Command& command) {
    const std::wstring& name = command.positional[0];
    const std::wstring& port = command.port;
    const std::wstring driver = command.driver.empty() ? kDefaultDriver : command.driver;
    const std::wstring what = L"cannot create printer " + Quote(name) + L" on port " + Quote(port) +
                              L" with driver " + Quote(driver);
    zeltools::ScopedPrinter printer;
    if (!zeltools::AddRawPrinter(name, port, driver, printer)) {
        const DWORD error = GetLastError();
        if (error != ERROR_UNKNOWN_PRINTER_DRIVER) {
            Fail(what, error);
        }
        if (!zeltools::RunningUnderWine()) {
            throw Failure{what,
                          error,
                          kExitFailed,
                          {L"install the driver first, for example in PowerShell: "
                           L"Add-PrinterDriver -Name " +
                           Quote(driver) +
                           L" (or Print Management, Drivers); --driver names an installed one"}};
        }
        // A fresh Wine prefix has no driver at all.
        if (!zeltools::InstallWinePostScriptDriver(driver) &&
            GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
            FailLast(L"cannot install Wine's PostScript driver as " + Quote(driver));
        }
        zeltools::Out(L"installed Wine's PostScript driver as " + driver + L"\n");
        if (!zeltools::AddRawPrinter(name, port, driver, printer)) {
            FailLast(what);
        }
    }
    zeltools::Out(L"created printer " + name + L" on " + port + L"\n");
    return kExitOk;
}

} // namespace zelport
