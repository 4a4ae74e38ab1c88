#include <vector>

#include "admin/PortList.h"
#include "monitor/EntryPoints.h"
#include "monitor/Guards.h"
#include "registry/MonitorReg.h"
#include "registry/RegistryLayout.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

namespace {

BOOL ListPorts(PMONITORINIT monitor, LPWSTR serverName, DWORD level, LPBYTE buffer,
               DWORD bufferSize, LPDWORD needed, LPDWORD returned) {
    if (!monitor && serverName) {
        return FALSE;
    }
    if (level != 1 && level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }

    // A monitor without ports (no key yet, or one we cannot read) simply has
    // nothing to list: that is not an error for the spooler.
    MonitorReg portsKey(monitor);
    if (!portsKey.OpenKey(HKEY_LOCAL_MACHINE, Registry::kPortsKeyPath, Registry::kReadAccess)) {
        return TRUE;
    }
    NameList names;
    if (!portsKey.EnumSubKeys(names)) {
        return TRUE;
    }

    std::vector<PortListEntry> ports;
    ports.reserve(names.size());
    for (std::wstring& name : names) {
        PortListEntry entry{std::move(name), std::wstring()};
        if (level == 2) {
            MonitorReg portKey(monitor);
            if (portKey.OpenKey(portsKey, entry.name.c_str())) {
                portKey.QueryValue(Registry::kDescriptionValue, entry.description);
            }
        }
        ports.push_back(std::move(entry));
    }

    const std::wstring monitorName = Registry::kMonitorName;
    *needed = static_cast<DWORD>(PortListSize(level, ports, monitorName));
    if (!buffer || *needed > bufferSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    PackPortList(level, ports, monitorName, buffer, bufferSize);
    *returned = static_cast<DWORD>(ports.size());
    return TRUE;
}

} // namespace

BOOL WINAPI EnumPorts(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                      LPDWORD pcbNeeded, LPDWORD pcReturned) {
    *pcbNeeded = 0;
    *pcReturned = 0;
    return GuardSilent([&] {
        return ListPorts(static_cast<PMONITORINIT>(hMonitor), pName, Level, pPorts, cbBuf,
                         pcbNeeded, pcReturned);
    });
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
