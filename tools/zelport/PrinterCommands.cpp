#include "zelport/PrinterCommands.h"

#include <windows.h>
#include <winspool.h>

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
    // Not every spooler refuses a second printer of the same name (Wine's
    // does not): ask first.
    std::wstring ports;
    if (zeltools::PrinterPortList(name, ports)) {
        if (!zeltools::PortListNames(ports, port)) {
            Fail(L"printer " + Quote(name) + L" already exists on port " + Quote(ports),
                 ERROR_PRINTER_ALREADY_EXISTS);
        }
        zeltools::Out(L"printer " + name + L" already exists on " + ports + L"\n");
        return kExitOk;
    }
    const DWORD attributes = (command.share ? PRINTER_ATTRIBUTE_SHARED : 0) |
                             (command.keepPrintedJobs ? PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS : 0);
    const std::wstring share = !command.share              ? L""
                               : command.shareName.empty() ? name
                                                           : command.shareName;
    zeltools::ScopedPrinter printer;
    if (!zeltools::AddRawPrinter(name, port, driver, printer, attributes, share)) {
        const DWORD error = GetLastError();
        if (error != ERROR_UNKNOWN_PRINTER_DRIVER) {
            Fail(what, error);
        }
        if (!zeltools::RunningUnderWine()) {
            Fail(what, error,
                 {L"install the driver first, for example in PowerShell: Add-PrinterDriver -Name " +
                  Quote(driver) +
                  L" (or Print Management, Drivers); --driver names an installed one"});
        }
        // A fresh Wine prefix has no driver at all.
        if (!zeltools::InstallWinePostScriptDriver(driver) &&
            GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
            FailLast(L"cannot install Wine's PostScript driver as " + Quote(driver));
        }
        zeltools::Out(L"installed Wine's PostScript driver as " + driver + L"\n");
        if (!zeltools::AddRawPrinter(name, port, driver, printer, attributes, share)) {
            FailLast(what);
        }
    }
    zeltools::Out(L"created printer " + name + L" on " + port + L"\n");
    return kExitOk;
}

} // namespace zelport
