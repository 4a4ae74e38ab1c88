#include "zelport/PortCommands.h"

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <sstream>

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

// A guard rail: what the monitor would take but an administrator should think
// twice about is refused, with the reason, unless --force was given.
void RefuseUnlessForced(const Command& command, const std::wstring& problem,
                        const std::wstring& what, unsigned long code, const wchar_t* forced) {
    if (!problem.empty() && !command.force) {
        Fail(what, code, {problem + L"; --force " + forced});
    }
}

// Removing a port under a printer would leave the printer on a port that no
// longer exists: `what` fails while `them` (the ports) are in use, naming each
// "<printer> (<port>)".
void RefuseWhilePrinted(const std::vector<std::wstring>& ports, const std::wstring& what,
                        const wchar_t* them) {
    std::vector<zeltools::PrinterOnPort> printers;
    if (!zeltools::PrintersOnPorts(ports, printers)) {
        FailLast(L"cannot list the printers");
    }
    std::wstring users;
    for (const zeltools::PrinterOnPort& user : printers) {
        users += (users.empty() ? L"" : L", ") + user.printer + L" (" + user.port + L")";
    }
    if (!users.empty()) {
        Fail(what + L" while printers use " + them + L": " + users, ERROR_PRINT_MONITOR_IN_USE);
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

// install --ports: each port's key as the monitor's AddPort makes it (the
// monitor reads its ports from the registry on every call), so that it works
// while the spooler cannot load the monitor yet; a port there already keeps
// its settings. Written before the monitor is registered: the spooler learns
// a new monitor's ports when it first loads it.
void AddPortKeys(const Command& command) {
    std::wstring dispatcher;
    if (!command.jobs.empty()) {
        wchar_t self[MAX_PATH] = {};
        std::wstring folder(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
        folder.erase(folder.find_last_of(L'\\') + 1);
        dispatcher = Quote(folder + L"zel-dispatch.exe") + L" --out " +
                     zeltools::QuoteArgument(command.jobs);
    }
    std::wistringstream list(command.ports);
    for (std::wstring port; std::getline(list, port, L',');) {
        port.erase(port.find_last_not_of(L" \t") + 1);
        port.erase(0, port.find_first_not_of(L" \t"));
        if (port.empty()) {
            continue;
        }
        RefuseUnlessForced(command, PortNameProblem(port), L"refusing port name " + Quote(port),
                           ERROR_INVALID_NAME, L"adds it all the same");
        zeltools::ScopedKey key;
        DWORD disposition = 0;
        LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, PortKeyPath(port).c_str(), 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, key.Out(), &disposition);
        const bool created = disposition == REG_CREATED_NEW_KEY;
        if (status == ERROR_SUCCESS && created) {
            status = zeltools::SetString(key.Get(), Registry::kDescriptionValue,
                                         Registry::kPortDescription);
        }
        if (status == ERROR_SUCCESS && !dispatcher.empty()) {
            status =
                zeltools::SetString(key.Get(), Registry::kPrintDispatcherFilePathValue, dispatcher);
        }
        if (status != ERROR_SUCCESS) {
            Fail(L"cannot add port " + Quote(port), static_cast<unsigned long>(status));
        }
        Out((created ? L"added port " + port : L"port " + port + L" already exists") +
            (dispatcher.empty() ? L"" : L"; it dispatches with: " + dispatcher) + L"\n");
    }
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
    const bool exe =
        program.size() >= 4 && CompareStringOrdinal(program.c_str() + program.size() - 4, 4,
                                                    L".exe", 4, TRUE) == CSTR_EQUAL;
    if (command.empty() || command[0] == L'"' || end == command.size() || exe) {
        return std::wstring();
    }
    return L"the program \"" + program +
           L"\" is not an .exe; quote a program path that has blanks "
           L"(\"\\\"C:\\Program Files\\...\\zel-dispatch.exe\\\" --out DIR\")";
}

int RunInstall(const Command& command) {
    std::wstring name = Registry::kMonitorName, environment = kEnvironment;
    std::wstring dll = command.dll.empty() ? kDllName : command.dll;
    MONITOR_INFO_2W info{&name[0], &environment[0], &dll[0]};
    AddPortKeys(command);
    if (AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) {
        Out(L"installed monitor " + Quote(name) + L" (" + dll + L")\n");
    } else if (const DWORD error = GetLastError(); error == ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
        Out(L"monitor " + Quote(name) + L" is already installed\n");
    } else {
        Fail(L"cannot install monitor " + Quote(name) + L" from " + dll, error);
    }
    return kExitOk;
}

int RunUninstall(const Command&) {
    std::wstring name = Registry::kMonitorName, environment = kEnvironment;
    // The installer's removal relies on this refusal to roll back before it
    // changed anything. The monitor's ports from its own registry keys: the
    // spooler's port list would have to load the monitor to answer.
    RefuseWhilePrinted(zeltools::SubKeyNames(HKEY_LOCAL_MACHINE, Registry::kPortsKeyPath),
                       L"cannot remove monitor " + Quote(name), L"its ports");
    if (!DeleteMonitorW(nullptr, &environment[0], &name[0])) {
        if (GetLastError() == ERROR_UNKNOWN_PRINT_MONITOR) {
            Out(L"monitor " + Quote(name) + L" is not installed\n");
            return kExitOk;
        }
        FailLast(L"cannot remove monitor " + Quote(name));
    }
    Out(L"removed monitor " + Quote(name) + L"\n");
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
    try {
        SendXcv(L"XcvMonitor " + monitor, L"AddPort", port, L"cannot add port " + Quote(port));
    } catch (const Failure& failure) {
        if (failure.code != ERROR_PRINTER_ALREADY_EXISTS) {
            throw;
        }
        Out(L"port " + port + L" already exists\n");
        return kExitOk;
    }
    Out(port + L"\n");
    return kExitOk;
}

int RunDeletePort(const Command& command) {
    const std::wstring& port = command.positional[0];
    RefuseWhilePrinted({port}, L"cannot delete port " + Quote(port), L"it");
    SendXcv(L"XcvPort " + port, L"DeletePort", port, L"cannot delete port " + Quote(port));
    Out(L"deleted port " + port + L"\n");
    return kExitOk;
}

int RunSetDispatcher(const Command& command) {
    const std::wstring& port = command.positional[0];
    if (command.positional.size() != (command.program.empty() ? 2u : 1u)) {
        throw Failure{L"set-dispatcher takes PORT COMMAND or PORT --program PATH [ARGS...] "
                      L"(see zelport set-dispatcher --help)",
                      ERROR_INVALID_PARAMETER, kExitUsage};
    }
    std::wstring dispatcher;
    if (command.program.empty()) {
        dispatcher = command.positional[1];
        // The value is the start of a command line, used as it stands.
        RefuseUnlessForced(command, DispatcherCommandProblem(dispatcher),
                           L"refusing print dispatcher " + Quote(dispatcher), ERROR_BAD_PATHNAME,
                           L"sets it all the same");
    } else {
        const bool exists = GetFileAttributesW(command.program.c_str()) != INVALID_FILE_ATTRIBUTES;
        RefuseUnlessForced(command, exists ? L"" : L"no such file",
                           L"refusing print dispatcher program " + Quote(command.program),
                           ERROR_FILE_NOT_FOUND, L"sets it all the same");
        dispatcher = Quote(command.program) + (command.programArgs.empty() ? L"" : L" ") +
                     zeltools::JoinCommandLine(command.programArgs);
    }
    zeltools::ScopedKey key;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, PortKeyPath(port).c_str(), 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, key.Out());
    if (status == ERROR_FILE_NOT_FOUND) {
        Fail(L"no Tessivane 3 port named " + Quote(port), static_cast<unsigned long>(status));
    }
    std::wstring current;
    if (status == ERROR_SUCCESS &&
        zeltools::QueryString(key.Get(), Registry::kPrintDispatcherFilePathValue, current) &&
        current == dispatcher) {
        Out(port + L" already dispatches with: " + dispatcher + L"\n");
        return kExitOk;
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
