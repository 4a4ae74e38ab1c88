#pragma once

// Where the monitor's state lives in the registry, and the names in it.

#include <windows.h>

namespace Brambleworth {
namespace Zel {
namespace Registry {

// Under HKEY_LOCAL_MACHINE: one subkey per port.
constexpr const wchar_t* kPortsKeyPath = L"Software\\Brambleworth Inc.\\Zel\\3\\PrinterPorts";
// Under HKEY_CURRENT_USER: one subkey per prepared (solicited) job.
constexpr const wchar_t* kJobsKeyPath = L"Software\\Brambleworth Inc.\\Zel\\3\\Jobs";

// Port key values.
constexpr const wchar_t* kDescriptionValue = L"Description";
constexpr const wchar_t* kPrintDispatcherFilePathValue = L"PrintDispatcherFilePath";
// Job key values.
constexpr const wchar_t* kTempDirPathValue = L"TempDirPath";
constexpr const wchar_t* kPSFilePathValue = L"PSFilePath";
constexpr const wchar_t* kErrorCodeValue = L"ErrorCode";

// What the spooler shows for this monitor and its ports.
constexpr const wchar_t* kMonitorName = L"Tessivane 3 Monitor";
constexpr const wchar_t* kPortDescription = L"Tessivane 3 Port";

constexpr REGSAM kReadAccess = KEY_READ;                  // 0x20019
constexpr REGSAM kReadWriteAccess = KEY_READ | KEY_WRITE; // 0x2001F
constexpr REGSAM kAllAccess = KEY_ALL_ACCESS;             // 0xF003F

} // namespace Registry
} // namespace Zel
} // namespace Brambleworth
