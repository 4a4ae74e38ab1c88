#include <cstddef>

#include "monitor/EntryPoints.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

static_assert(offsetof(MONITOR2, pfnSendRecvBidiDataFromPort) + sizeof(void*) == kMonitor2Size,
              "MONITOR2 layout differs from the published 64-bit record");
static_assert(sizeof(MONITORUI) == kMonitorUiSize, "MONITORUI layout differs");

namespace {

// Slots left null are deliberate: ports are added, deleted and configured only
// through the transceive channel and the user-interface half.
const MONITOR2 kMonitor2 = {
    kMonitor2Size,   // cbSize
    EnumPorts,       // pfnEnumPorts
    OpenPort,        // pfnOpenPort
    nullptr,         // pfnOpenPortEx
    StartDocPort,    // pfnStartDocPort
    WritePort,       // pfnWritePort
    ReadPort,        // pfnReadPort
    EndDocPort,      // pfnEndDocPort
    ClosePort,       // pfnClosePort
    nullptr,         // pfnAddPort
    nullptr,         // pfnAddPortEx
    nullptr,         // pfnConfigurePort
    nullptr,         // pfnDeletePort
    nullptr,         // pfnGetPrinterDataFromPort
    SetPortTimeOuts, // pfnSetPortTimeOuts
    XcvOpenPort,     // pfnXcvOpenPort
    XcvDataPort,     // pfnXcvDataPort
    XcvClosePort,    // pfnXcvClosePort
    Shutdown,        // pfnShutdown
    nullptr,         // pfnSendRecvBidiDataFromPort
    nullptr,         // pfnNotifyUsedPorts: beyond cbSize, never read
    nullptr,         // pfnNotifyUnusedPorts: beyond cbSize, never read
};

const MONITORUI kMonitorUi = {
    kMonitorUiSize,
    AddPortUI,
    ConfigurePortUI,
    DeletePortUI,
};

} // namespace

const MONITOR2& MonitorTable() {
    return kMonitor2;
}
const MONITORUI& MonitorUiTable() {
    return kMonitorUi;
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
