// Hosts the monitor DLL inside Wine's print spooler.
//
// Wine's spooler differs from Windows' in three ways that the monitor relies on:
// - the MONITORINIT it hands to InitializePrintMonitor2 lives on its stack, so
//   the pointer the monitor keeps as its handle dangles, and every function of
//   its MONITORREG table answers ERROR_CALL_NOT_IMPLEMENTED;
// - nothing impersonates the printing user around StartDocPort, so the monitor
//   finds no thread token to print with;
// - it routes ",XcvPort", DeletePortW, ConfigurePortW and printing to a monitor
//   only for ports listed under its own Monitors\<name>\Ports key;
// - it loads, initialises, shuts down and frees the monitor for every call
//   (every job), where Windows' spooler loads a monitor once and keeps it
//   until the spooler stops.
// This DLL is registered with Wine as the monitor instead. It loads the monitor
// DLL from its own folder and gives it what Windows' spooler gives: a
// MONITORINIT that lives as long as the process with a registry table backed
// by advapi32 and a non-null spooler handle, one initialisation per process
// with Shutdown only when the process ends, impersonation around StartDocPort,
// and routing keys kept in step with the monitor's port keys. Every other call
// goes straight through, so the monitor behaves as it would on Windows.

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <algorithm>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

#include "common/AdvapiRegistry.h"
#include "common/Handles.h"
#include "common/Registry.h"
#include "monitor/Resources.h"
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

// Static storage: the monitor keeps this record's address as its handle for
// as long as the process runs.
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

// Loaded once per process and never freed, and this DLL pinned with it: Wine's
// FreeLibrary after each call then unloads nothing, so the monitor stays loaded
// as under Windows' spooler, and its tables outlive any pointer Wine holds.
HMODULE MonitorModule() {
    static HMODULE module = [] {
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&ThisModule), &self);
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
HANDLE monitorHandle;  // what the monitor's one initialisation returned

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

// Brings Wine's routing in line with the monitor's port keys.
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

// A key's subkey count and last write time: adding or deleting a subkey
// changes both.
struct KeyStamp {
    DWORD subKeys = 0;
    FILETIME written = {};
    bool operator==(const KeyStamp& other) const {
        return subKeys == other.subKeys && CompareFileTime(&written, &other.written) == 0;
    }
};

// Ports may also appear or vanish in the registry without the transceive
// channel (an installer, a test), so the routes are checked on every load,
// which Wine makes for every job. Listing both keys each time took about half
// of what is left of that load: the keys stay open for the process instead,
// and the routes are listed again only when either key's subkeys changed.
void SyncRoutesWhenChanged() {
    static Brambleworth::Zel::PortMon::CriticalSection lock;
    static zeltools::ScopedKey keys[2];
    static KeyStamp synced[2];
    static bool valid = false;
    const wchar_t* const paths[2] = {Layout::kPortsKeyPath, kRoutingKeyPath.c_str()};
    std::lock_guard<Brambleworth::Zel::PortMon::CriticalSection> hold(lock);
    KeyStamp now[2];
    bool known = true;
    for (int i = 0; i < 2; ++i) {
        if (!keys[i].Valid()) {
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, paths[i], 0, KEY_READ, keys[i].Out());
        }
        if (!keys[i].Valid() ||
            RegQueryInfoKeyW(keys[i].Get(), nullptr, nullptr, nullptr, &now[i].subKeys, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr,
                             &now[i].written) != ERROR_SUCCESS) {
            // A key deleted under its handle (an uninstall) or not there yet:
            // list this time, and open it afresh next time.
            keys[i].Reset();
            known = false;
        }
    }
    if (!known || !valid || !(now[0] == synced[0]) || !(now[1] == synced[1])) {
        SyncRoutes();
        // The stamps were read before the listing: whatever changed after
        // them shows as a change next time.
        synced[0] = now[0];
        synced[1] = now[1];
        valid = known;
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

// Wine shuts the monitor down after every call; the monitor's own Shutdown
// waits for the end of the process, as under Windows' spooler.
VOID WINAPI HostShutdown(HANDLE) {}

// The monitor initialised once per process. Threads initialising at the same
// time wait for the one that does it and never see a table half written. An
// error code when it failed: a monitor that would not load or initialise once is
// not tried again in this process.
DWORD InitialiseOnce() {
    static const DWORD error = [] {
        using Init = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
        Init init = MonitorExport<Init>("InitializePrintMonitor2");
        if (!init) {
            return static_cast<DWORD>(ERROR_MOD_NOT_FOUND);
        }
        LPMONITOR2 table = init(&monitorInit, &monitorHandle);
        if (!table) {
            const DWORD failure = GetLastError();
            return failure ? failure : static_cast<DWORD>(ERROR_GEN_FAILURE);
        }
        monitorTable = *table;
        forwardTable = *table;
        if (forwardTable.pfnStartDocPort) {
            forwardTable.pfnStartDocPort = HostStartDocPort;
        }
        if (forwardTable.pfnXcvDataPort) {
            forwardTable.pfnXcvDataPort = HostXcvDataPort;
        }
        forwardTable.pfnShutdown = HostShutdown;
        return static_cast<DWORD>(ERROR_SUCCESS);
    }();
    return error;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID processEnds) {
    // Pinned, this DLL is detached only when the process ends, the moment
    // that stands for the spooler stopping. The monitor's DLL, loaded after
    // this one, has had its own detach by then: its Shutdown releases nothing
    // and only has to be called.
    if (reason == DLL_PROCESS_DETACH && processEnds && monitorTable.pfnShutdown) {
        monitorTable.pfnShutdown(monitorHandle);
    }
    return TRUE;
}

LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT, PHANDLE phMonitor) {
    const DWORD error = InitialiseOnce();
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    *phMonitor = monitorHandle;
    SyncRoutesWhenChanged();
    return &forwardTable;
}

PMONITORUI WINAPI InitializePrintMonitorUI(VOID) {
    using Init = PMONITORUI(WINAPI*)();
    Init init = MonitorExport<Init>("InitializePrintMonitorUI");
    return init ? init() : nullptr;
}

} // extern "C"
