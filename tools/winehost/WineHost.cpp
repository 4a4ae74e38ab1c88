// Hosts the monitor DLL inside Wine's print spooler.
//
// Wine's spooler differs from Windows' in three ways that the monitor relies on:
// - the MONITORINIT it hands to InitializePrintMonitor2 lives on its stack, so
//   the pointer the monitor keeps as its handle dangles, and every function of
//   its MONITORREG table answers ERROR_CALL_NOT_IMPLEMENTED;
// - nothing impersonates the printing user around StartDocPort, so the monitor
//   finds no thread token to print with;
// - it routes ",XcvPort", DeletePortW, ConfigurePortW and printing to a monitor
//   only for ports listed under its own Monitors\<name>\Ports key.
// This DLL is registered with Wine as the monitor instead. It loads the monitor
// DLL from its own folder and gives it what Windows' spooler gives: a
// MONITORINIT that lives as long as the process with a registry table backed
// by advapi32 and a non-null spooler handle, impersonation around StartDocPort,
// and routing keys kept in step with the monitor's port keys. Every other call
// goes straight through, so the monitor behaves as it would on Windows.

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "common/AdvapiRegistry.h"
#include "common/Handles.h"
#include "common/Registry.h"
#include "registry/RegistryLayout.h"

namespace {

namespace Layout = Brambleworth::Zel::Registry;

constexpr const wchar_t* kMonitorDll = L"Brambleworth.Zel.3.PortMon.x64.dll";
// Where Wine looks up which monitor owns a port.
const std::wstring kRoutingKeyPath =
    std::wstring(L"System\\CurrentControlSet\\Control\\Print\\Monitors\\") + Layout::kMonitorName +
    L"\\Ports";

// ---- owning wrappers --------------------------------------------------------

// Gives the calling thread an impersonation token of the process's own user
// for as long as it lives, unless the thread already impersonates someone.
// The thread's last error is the caller's business and is left as it was.
class SelfImpersonation {
public:
    SelfImpersonation() {
        DWORD saved = GetLastError();
        HANDLE token = nullptr;
        if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
            CloseHandle(token);
        } else {
            active_ = ImpersonateSelf(SecurityImpersonation) != FALSE;
        }
        SetLastError(saved);
    }
    ~SelfImpersonation() {
        if (active_) {
            DWORD saved = GetLastError();
            RevertToSelf();
            SetLastError(saved);
        }
    }
    SelfImpersonation(const SelfImpersonation&) = delete;
    SelfImpersonation& operator=(const SelfImpersonation&) = delete;

private:
    bool active_ = false;
};

// The spooler handle only has to be non-null and the same on every call; the
// advapi32 registry table does not need it.
int spoolerCookie;

// Static storage: the monitor keeps this record's address as its handle, and
// Wine unloads and reloads this DLL per call, so it simply starts over.
MONITORINIT monitorInit = {
    sizeof(MONITORINIT), &spoolerCookie, nullptr, zeltools::AdvapiMonitorRegistry(), TRUE, nullptr,
};

// ---- the hosted monitor --------------------------------------------------------

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// Loaded once per load of this DLL and never freed: the monitor's tables must
// outlive any pointer Wine still holds to them.
HMODULE MonitorModule() {
    static HMODULE module = [] {
        wchar_t path[MAX_PATH];
        DWORD length = GetModuleFileNameW(ThisModule(), path, MAX_PATH);
        std::wstring dll(path, length);
        dll.erase(dll.find_last_of(L"\\/") + 1);
        dll += kMonitorDll;
        return LoadLibraryW(dll.c_str());
    }();
    return module;
}

template <class Function> Function MonitorExport(const char* name) {
    HMODULE module = MonitorModule();
    if (!module) {
        return nullptr;
    }
    // FARPROC is a generic function pointer; the export has this signature.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

MONITOR2 monitorTable; // the monitor's own slots
MONITOR2 forwardTable; // what Wine gets: the same, with the wrapped slots replaced

// ---- routing keys ----------------------------------------------------------------

void AddRoute(const std::wstring& port) {
    zeltools::ScopedKey key;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kRoutingKeyPath + L'\\' + port).c_str(), 0, nullptr,
                    REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Out(), nullptr);
}

void RemoveRoute(const std::wstring& port) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kRoutingKeyPath + L'\\' + port).c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kRoutingKeyPath + L'\\' + port).c_str());
}

// Ports may also appear or vanish in the registry without the transceive
// channel (an installer, a test): bring Wine's routing in line on every load.
void SyncRoutes() {
    std::vector<std::wstring> ports =
        zeltools::SubKeyNames(HKEY_LOCAL_MACHINE, Layout::kPortsKeyPath);
    std::vector<std::wstring> routes = zeltools::SubKeyNames(HKEY_LOCAL_MACHINE, kRoutingKeyPath);
    std::sort(ports.begin(), ports.end());
    std::sort(routes.begin(), routes.end());
    for (const std::wstring& port : ports) {
        if (!std::binary_search(routes.begin(), routes.end(), port)) {
            AddRoute(port);
        }
    }
    for (const std::wstring& route : routes) {
        if (!std::binary_search(ports.begin(), ports.end(), route)) {
            RemoveRoute(route);
        }
    }
}

// ---- wrapped slots ------------------------------------------------------------------

// Windows' spooler calls StartDocPort impersonating the printing user; the
// monitor captures that token to start the print dispatcher as that user.
BOOL WINAPI HostStartDocPort(HANDLE port, LPWSTR printer, DWORD jobId, DWORD level,
                             LPBYTE docInfo) {
    SelfImpersonation asCaller;
    return monitorTable.pfnStartDocPort(port, printer, jobId, level, docInfo);
}

DWORD WINAPI HostXcvDataPort(HANDLE xcv, LPCWSTR command, PBYTE input, DWORD inputSize,
                             PBYTE output, DWORD outputSize, PDWORD needed) {
    DWORD result =
        monitorTable.pfnXcvDataPort(xcv, command, input, inputSize, output, outputSize, needed);
    if (result == ERROR_SUCCESS && command && input) {
        DWORD saved = GetLastError();
        const wchar_t* port = reinterpret_cast<const wchar_t*>(input);
        if (std::wcscmp(command, L"AddPort") == 0) {
            AddRoute(port);
        } else if (std::wcscmp(command, L"DeletePort") == 0) {
            RemoveRoute(port);
        }
        SetLastError(saved);
    }
    return result;
}

bool WrapTable(const MONITOR2& table) {
    monitorTable = table;
    forwardTable = table;
    if (forwardTable.pfnStartDocPort) {
        forwardTable.pfnStartDocPort = HostStartDocPort;
    }
    if (forwardTable.pfnXcvDataPort) {
        forwardTable.pfnXcvDataPort = HostXcvDataPort;
    }
    return true;
}

} // namespace

extern "C" {

LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT, PHANDLE phMonitor) {
    using Init = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
    Init init = MonitorExport<Init>("InitializePrintMonitor2");
    if (!init) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    LPMONITOR2 table = init(&monitorInit, phMonitor);
    if (!table) {
        return nullptr;
    }
    // The monitor's table is constant, so the forwarding table is built once
    // per load; threads initialising at the same time then never see it half
    // written.
    static const bool wrapped = WrapTable(*table);
    (void)wrapped;
    SyncRoutes();
    return &forwardTable;
}

PMONITORUI WINAPI InitializePrintMonitorUI(VOID) {
    using Init = PMONITORUI(WINAPI*)();
    Init init = MonitorExport<Init>("InitializePrintMonitorUI");
    return init ? init() : nullptr;
}

} // extern "C"
