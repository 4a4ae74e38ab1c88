#include "zelport/StatusReport.h"

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

#include "common/Files.h"
#include "common/Process.h"
#include "common/Registry.h"
#include "common/Spooler.h"
#include "common/Text.h"
#include "registry/RegistryLayout.h"
#include "zelport/Failure.h"
#include "zelport/Monitor.h"
#include "zelport/PortLog.h"

namespace zelport {

namespace {

using namespace Brambleworth::Zel;
using zeltools::Err;
using zeltools::Out;

// The registered monitor's library as the spooler names it, or empty.
std::wstring RegisteredMonitorDll() {
    std::vector<BYTE> buffer;
    DWORD count = 0;
    const auto list = [](BYTE* data, DWORD size, DWORD* needed, DWORD* returned) {
        return EnumMonitorsW(nullptr, 2, data, size, needed, returned);
    };
    if (!zeltools::SpoolerList(list, buffer, count)) {
        return std::wstring();
    }
    const auto* monitors = reinterpret_cast<const MONITOR_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (monitors[i].pName && std::wstring(monitors[i].pName) == Registry::kMonitorName) {
            return monitors[i].pDLLName ? monitors[i].pDLLName : L"?";
        }
    }
    return std::wstring();
}

std::wstring FileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info) {
        return L"no version information";
    }
    return L"version " + std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionLS));
}

bool ProgramExists(const std::wstring& program) {
    if (program.find_first_of(L"\\/:") != std::wstring::npos) {
        return GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    wchar_t found[MAX_PATH] = {};
    return SearchPathW(nullptr, program.c_str(), L".exe", MAX_PATH, found, nullptr) != 0;
}

// One port's part of the status; each problem goes into `problems`.
void ReportPort(const std::wstring& port, const std::wstring& logFolder,
                std::vector<std::wstring>& problems) {
    std::wstring description;
    std::wstring dispatcher;
    zeltools::ScopedKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PortKeyPath(port).c_str(), 0, KEY_READ, key.Out()) !=
        ERROR_SUCCESS) {
        problems.push_back(L"no Tessivane 3 port named " + Quote(port) +
                           L": zelport ports lists them");
        return;
    }
    zeltools::QueryString(key.Get(), Registry::kDescriptionValue, description);
    zeltools::QueryString(key.Get(), Registry::kPrintDispatcherFilePathValue, dispatcher);
    Out(L"port " + port + L"\n  description: " + description + L"\n");
    if (dispatcher.empty()) {
        Out(L"  dispatcher: (none)\n");
        problems.push_back(L"port " + port + L" has no print dispatcher: zelport set-dispatcher " +
                           port + L" COMMAND");
    } else {
        const std::wstring program = zeltools::CommandProgram(dispatcher);
        const bool exists = ProgramExists(program);
        Out(L"  dispatcher: " + dispatcher + L"\n  program: " + program +
            (exists ? L" (found)\n" : L" (NOT FOUND)\n"));
        if (!exists) {
            problems.push_back(L"the print dispatcher's program " + Quote(program) + L" of port " +
                               port + L" does not exist: zelport set-dispatcher " + port +
                               L" with the program's full path, quoted");
        }
    }
    std::vector<zeltools::PrinterOnPort> users;
    if (!zeltools::PrintersOnPorts({port}, users)) {
        problems.push_back(zeltools::ErrorText(L"cannot list the printers", GetLastError()));
    }
    std::wstring printers;
    for (const zeltools::PrinterOnPort& user : users) {
        printers += (printers.empty() ? L"" : L", ") + user.printer;
    }
    Out(L"  printers: " + (printers.empty() ? std::wstring(L"(none)") : printers) + L"\n");
    const std::wstring path = PortLogName(logFolder, port);
    zeltools::ScopedHandle log;
    if (!zeltools::OpenShared(path, log)) {
        Out(L"  log: " + path + L" (not written yet)\n");
        return;
    }
    Out(L"  log: " + path + L", " + std::to_wstring(zeltools::FileSize(log)) + L" bytes\n");
    const std::string last = LastErrorLine(zeltools::SplitLines(zeltools::ReadFrom(log, 0)));
    Out(L"  last error: " + (last.empty() ? std::wstring(L"(none)") : FromLatin1(last)) + L"\n");
}

} // namespace

int RunStatus(const Command& command) {
    std::vector<std::wstring> problems;
    const std::wstring monitor = Registry::kMonitorName;
    const std::wstring dll = RegisteredMonitorDll();
    if (dll.empty()) {
        Out(L"monitor " + Quote(monitor) + L": not registered\n");
        problems.push_back(L"monitor " + Quote(monitor) +
                           L" is not registered: zelport install (as an administrator)");
    } else {
        Out(L"monitor " + Quote(monitor) + L": registered (" + dll + L")\n");
        try {
            const std::wstring library = MonitorLibrary(monitor);
            Out(L"library: " + library + L" (" + FileVersion(library) + L")\n");
        } catch (const Failure& failure) {
            problems.push_back(failure.what + L": " + zeltools::SystemText(failure.code));
        }
    }
    const std::wstring folder = PortLogFolder(command.dir);
    std::vector<std::wstring> ports =
        command.positional.empty()
            ? zeltools::SubKeyNames(HKEY_LOCAL_MACHINE, Registry::kPortsKeyPath)
            : command.positional;
    for (const std::wstring& port : ports) {
        ReportPort(port, folder, problems);
    }
    for (const std::wstring& problem : problems) {
        Err(L"zelport: " + problem + L"\n");
    }
    return problems.empty() ? kExitOk : kExitProblems;
}

} // namespace zelport
