#include "monitor/EntryPoints.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

// The monitor keeps no global resources: each port object goes with its
// ClosePort, so there is nothing to release here.
VOID WINAPI Shutdown(HANDLE) {}

// Output goes to files, which have no time-outs to set.
BOOL WINAPI SetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS, DWORD) {
    if (!hPort) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
