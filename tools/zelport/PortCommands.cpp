#include "zelport/PortCommands.h"

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include "common/Process.h"
#include "common/Registry.h"
#include "common/Spooler.h"
#include "common/Text.h"
#include "registry/RegistryLayout.h"
#include "zelport/Failure.h"
#include "zelport/Monitor.h"

namespace zelport {

using namespace Brambleworth::Zel;
using zeltools::Out;

namespace {

constexpr const wchar_t* kEnvironment = L"Windows x64";
constexpr const wchar_t* kDllName = L"Brambleworth.Zel.3.PortMon.x64.dll";

bool EndsWithNoCase(const std::wstring& text, const std::wstring& suffix) {
    return text.size() >= suffix.size() &&
           CompareStringOrdinal(text.c_str() + text.size() - suffix.size(),
                                static_cast<int>(suffix.size()), suffix.c_str(),
                                static_cast<int>(suffix.size()), TRUE) == CSTR_EQUAL;
}

// A guard rail: what the monitor would take but an administrator should think
// twice about is refused, with the reason, unless --force was given.
void RefuseUnlessForced(const Command& command, const std::wstring& problem,
                        const std::wstring& what, unsigned long code, const wchar_t* forced) {
    if (!problem.empty() && !command.force) {
        throw Failure{what, code, kExitFailed, {problem + L"; --force " + forced}};
    }
}

// Removing a port under a printer would leave the printer on a port that no
// longer exists: `what` fails, naming each "<printer> (<port>)".
void RefuseWhilePrinted(const std::vector<std::wstring>& ports, const std::wstring& what) {
    std::vector<zeltools::PrinterOnPort> printers;
    if (!zeltools::PrintersOnPorts(ports, printers)) {
        FailLast(L"cannot list the printers");
    }
    std::wstring users;
    for (const zeltools::PrinterOnPort& user : printers) {
        users += (users.empty() ? L"" : L", ") + user.printer + L" (" + user.port + L")";
    }
    if (!users.empty()) {
        Fail(what + L" while printers use its ports: " + users, ERROR_PRINT_MONITOR_IN_USE);
    }
}

// Without a name, do what the spooler's client side does for "Add Port": ask
// the monitor which library holds its user interface, load it there, and let
// it choose the name.
std::wstring AddPortThroughUi(const std::wstring& monitor) {
    const std::wstring library = MonitorLibrary(monitor);
    zeltools::ScopedLibrary module(LoadLibraryW(library.c_str()));
    if (!module.Get()) {
        FailLast(L"cannot load " + library);
    }
    using InitUi = PMONITORUI(WINAPI*)();
    auto init = reinterpret_cast<InitUi>(
        reinterpret_cast<void*>(GetProcAddress(module.Get(), "InitializePrintMonitorUI")));
    if (!init) {
        FailLast(library + L" has no InitializePrintMonitorUI");
    }
    PMONITORUI ui = init();
    if (!ui || !ui->pfnAddPortUI) {
        Fail(library + L" offers no AddPortUI", ERROR_NOT_SUPPORTED);
    }
    zeltools::ScopedGlobal name;
    if (!ui->pfnAddPortUI(nullptr, nullptr, monitor.c_str(), name.Out())) {
        FailLast(L"the monitor's user interface did not add a port");
    }
    if (!name.Get()) {
        Fail(L"the monitor's user interface did not return the new port's name",
             ERROR_NOT_ENOUGH_MEMORY);
    }
    return name.Get();
}

} // namespace

std::wstring PortNameProblem(const std::wstring& name) {
    if (name.find_first_of(L"\\/") != std::wstring::npos) {
        return L"a port name with \\ or / makes nested registry keys and puts the port's log "
               L"into another folder";
    }
    if (name.find(L"..") != std::wstring::npos) {
        return L"a port name with .. can put the port's log outside the temporary folder";
    }
    return std::wstring();
}

std::wstring DispatcherCommandProblem(const std::wstring& command) {
    // The monitor starts the command line as it stands: an unquoted path with
    // blanks names another program (C:\Program) or none.
    size_t end = 0;
    const std::wstring program = zeltools::CommandProgram(command, end);
    if (command.empty() || command[0] == L'"' || end == command.size() ||
        EndsWithNoCase(program, L".exe")) {
        return std::wstring();
    }
    return L"the program \"" + program +
           L"\" is not an .exe; quote a program path that has blanks "
           L"(\"\\\"C:\\Program Files\\...\\zel-dispatch.exe\\\" --out DIR\")";
}

int RunInstall(const Command& command) {
    std::wstring name = Registry::kMonitorName;
    std::wstring environment = kEnvironment;
    std::wstring dll = command.dll.empty() ? kDllName : command.dll;
    MONITOR_INFO_2W info{&name[0], &environment[0], &dll[0]};
    if (!AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) {
        DWORD error = GetLastError();
        if (error == ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
            Out(L"monitor " + Quote(name) + L" is already installed\n");
            return kExitOk;
        }
        Fail(L"cannot install monitor " + Quote(name) + L" from " + dll, error);
    }
    Out(L"installed monitor " + Quote(name) + L" (" + dll + L")\n");
    return kExitOk;
}

int RunUninstall(const Command&) {
    std::wstring name = Registry::kMonitorName;
    std::wstring environment = kEnvironment;
    // The installer's removal relies on this refusal to roll back before it
    // changed anything. The monitor's ports from its own registry keys: the
    // spooler's port list would have to load the monitor to answer.
    RefuseWhilePrinted(zeltools::SubKeyNames(HKEY_LOCAL_MACHINE, Registry::kPortsKeyPath),
                       L"cannot remove monitor " + Quote(name));
    if (!DeleteMonitorW(nullptr, &environment[0], &name[0])) {
        FailLast(L"cannot remove monitor " + Quote(name));
    }
    Out(L"removed monitor " + Quote(name) + L"\n");
    return kExitOk;
}

int RunPorts(const Command&) {
    std::vector<zeltools::SpoolerPort> ports;
    if (!zeltools::ListSpoolerPorts(ports)) {
        FailLast(L"cannot list the spooler's ports");
    }
    for (const zeltools::SpoolerPort& port : ports) {
        if (port.monitor != Registry::kMonitorName) {
            continue;
        }
        std::wstring dispatcher;
        zeltools::ScopedKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PortKeyPath(port.name).c_str(), 0, KEY_READ,
                          key.Out()) == ERROR_SUCCESS) {
            zeltools::QueryString(key.Get(), Registry::kPrintDispatcherFilePathValue, dispatcher);
        }
        Out(port.name + L"\t" + port.description + L"\t" + dispatcher + L"\n");
    }
    return kExitOk;
}

int RunAddPort(const Command& command) {
    const std::wstring monitor = Registry::kMonitorName;
    if (command.positional.empty()) {
        Out(AddPortThroughUi(monitor) + L"\n");
        return kExitOk;
    }
    const std::wstring& port = command.positional[0];
    // The monitor takes any name; the administrator gets a second thought.
    RefuseUnlessForced(command, PortNameProblem(port), L"refusing port name " + Quote(port),
                       ERROR_INVALID_NAME, L"adds it all the same");
    zeltools::ScopedPrinter xcv;
    OpenXcv(xcv, L"XcvMonitor " + monitor);
    SendXcv(xcv.Get(), L"AddPort", port, L"cannot add port " + Quote(port));
    Out(port + L"\n");
    return kExitOk;
}

int RunDeletePort(const Command& command) {
    const std::wstring& port = command.positional[0];
    zeltools::ScopedPrinter xcv;
    OpenXcv(xcv, L"XcvPort " + port);
    SendXcv(xcv.Get(), L"DeletePort", port, L"cannot delete port " + Quote(port));
    Out(L"deleted port " + port + L"\n");
    return kExitOk;
}

int RunSetDispatcher(const Command& command) {
    const std::wstring& port = command.positional[0];
    const std::wstring& dispatcher = command.positional[1];
    // The value is the start of a command line, used as it stands.
    RefuseUnlessForced(command, DispatcherCommandProblem(dispatcher),
                       L"refusing print dispatcher " + Quote(dispatcher), ERROR_BAD_PATHNAME,
                       L"sets it all the same");
    zeltools::ScopedKey key;
    LONG status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, PortKeyPath(port).c_str(), 0, KEY_SET_VALUE, key.Out());
    if (status == ERROR_FILE_NOT_FOUND) {
        Fail(L"no Tessivane 3 port named " + Quote(port), static_cast<unsigned long>(status));
    }
    if (status != ERROR_SUCCESS ||
        (status = zeltools::SetString(key.Get(), Registry::kPrintDispatcherFilePathValue,
                                      dispatcher)) != ERROR_SUCCESS) {
        Fail(L"cannot set the print dispatcher of port " + Quote(port),
             static_cast<unsigned long>(status));
    }
    Out(port + L" dispatches with: " + dispatcher + L"\n");
    return kExitOk;
}

} // namespace zelport
