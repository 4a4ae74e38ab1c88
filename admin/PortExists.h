#pragma once

namespace Brambleworth {
namespace Zel {
namespace PortMon {

// Whether the spooler lists a port of exactly this name, under any monitor.
// Asks the spooler rather than the registry so that other monitors' ports
// (local ports, network ports) count too. Throws Error when the spooler cannot
// list its ports (code 6, its error as the system code), when memory runs out
// (code 2) or on any other failure (code 1).
bool PortExistsInt(const wchar_t* portName);

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
