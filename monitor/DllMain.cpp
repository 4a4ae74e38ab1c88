// The library's three exports. Nothing happens at load time: the monitor has no
// global state and starts no threads.

#include "monitor/EntryPoints.h"

using namespace Brambleworth::Zel::PortMon;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD, LPVOID) {
    DisableThreadLibraryCalls(hinstDLL);
    return TRUE;
}

// The spooler's MONITORINIT record itself becomes the monitor handle; the
// spooler keeps it alive for as long as the library is loaded.
LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor) {
    *phMonitor = reinterpret_cast<HANDLE>(pMonitorInit);
    return const_cast<LPMONITOR2>(&MonitorTable());
}

PMONITORUI WINAPI InitializePrintMonitorUI(VOID) {
    return const_cast<PMONITORUI>(&MonitorUiTable());
}

} // extern "C"
