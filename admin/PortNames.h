#pragma once

// Names the port administration composes or looks for. Pure functions: no
// registry, no spooler, so each can be checked on its own.

#include <windows.h>

#include <optional>
#include <string>

#include "registry/MonitorReg.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

// Generated port names run from "ZEL_3_PORT1:" to "ZEL_3_PORT1000:".
constexpr unsigned kFirstPortNumber = 1;
constexpr unsigned kLastPortNumber = 1000;

// "ZEL_3_PORT<n>:" with plain digits, whatever the user's locale.
std::wstring GeneratedPortName(unsigned number);

// The first generated name that none of `taken` equals exactly (case counts),
// or nothing when every number is in use.
std::optional<std::wstring> FirstFreePortName(const NameList& taken);

// The printer name that opens a transceive channel: "[<server>\],<keyword> <object>".
// A non-null server, even an empty one, is followed by a backslash; a null
// object contributes nothing.
std::wstring XcvPrinterName(const wchar_t* server, const wchar_t* keyword, const wchar_t* object);

// Whether one of the spooler's level-2 port records carries exactly `name`.
bool PortListHas(const PORT_INFO_2W* ports, DWORD count, const wchar_t* name);

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
