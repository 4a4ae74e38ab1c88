#pragma once

// What only serves running under Wine: telling that we do, Unix paths, and the
// printer driver a fresh Wine prefix lacks.

#include <string>

namespace zeltools {

// True when this process runs under Wine (its ntdll exports wine_get_version).
bool RunningUnderWine();

// The Unix path of a file (its folder must exist); empty outside Wine.
std::wstring UnixPath(const std::wstring& path);
// The Windows path through which this process reaches a Unix path; empty
// outside Wine.
std::wstring WindowsPath(const std::wstring& unixPath);

// Installs Wine's PostScript driver (wineps.drv) as `name` for Windows x64:
// the driver that makes the PostScript a real application would send. Its
// printer description is Wine's generic PPD, which winspool.drv carries as a
// resource; it is written into the driver folder when missing there. False
// with the last error set (ERROR_PRINTER_DRIVER_ALREADY_INSTALLED when `name`
// is already installed).
bool InstallWinePostScriptDriver(const std::wstring& name);

} // namespace zeltools
