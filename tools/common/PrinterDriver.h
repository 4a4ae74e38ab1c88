#pragma once

// Printer drivers for the programs that create printers on the monitor's
// ports: a fresh Wine prefix has none, and Wine's own PostScript driver is the
// one that makes the PostScript a real application would send.

#include <string>

namespace zeltools {

// Installs Wine's PostScript driver (wineps.drv) as `name` for Windows x64.
// Its printer description is Wine's generic PPD, which winspool.drv carries
// as a resource; it is written into the driver folder when missing there.
// False with the last error set (ERROR_PRINTER_DRIVER_ALREADY_INSTALLED when
// `name` is already installed).
bool InstallWinePostScriptDriver(const std::wstring& name);

} // namespace zeltools
