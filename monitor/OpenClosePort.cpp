#include <memory>

#include "monitor/EntryPoints.h"
#include "monitor/Guards.h"
#include "monitor/PortContext.h"
#include "registry/MonitorReg.h"
#include "registry/RegistryLayout.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

BOOL WINAPI OpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle) {
    return GuardPortOpen([&]() -> BOOL {
        PMONITORINIT monitor = static_cast<PMONITORINIT>(hMonitor);
        // Only registered ports are served; the key itself holds nothing that
        // opening the port needs.
        if (!pName) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        {
            MonitorReg portKey(monitor);
            const std::wstring path = std::wstring(Registry::kPortsKeyPath) + L"\\" + pName;
            if (!portKey.OpenKey(HKEY_LOCAL_MACHINE, path.c_str(), Registry::kReadAccess)) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return FALSE;
            }
        }
        auto port = std::make_unique<PortContext>(monitor, pName);
        WriteLogLine(*port, kOpenPortName, 599, LogLevel::Normal, 0, L"...");
        WriteLogLine(*port, kOpenPortName, 608, LogLevel::Normal, 0, L"done");
        *pHandle = port.release();
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    });
}

BOOL WINAPI ClosePort(HANDLE hPort) {
    if (!hPort) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::unique_ptr<PortContext> port(static_cast<PortContext*>(hPort));
    // The port goes in any case; only its closing line can be lost.
    Detail::LogQuietly(
        [&] { WriteLogLine(*port, kClosePortName, 1021, LogLevel::Normal, 0, L"..."); });
    return TRUE;
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
