#pragma once

// The monitor as zelport reaches it: its transceive channels, the library of
// its user interface, and its ports' registry keys.

#include <windows.h>

#include <string>

namespace zelport {

// Sends a command through the transceive channel of the monitor or of one
// port (`object` "XcvMonitor NAME" or "XcvPort NAME"), opened for
// administration as the monitor's own user interface opens it, with `input`
// (the port's name or none) and room for an answer in `output`. The call's
// failure and the monitor's refusal fail as `what`.
void SendXcv(const std::wstring& object, const wchar_t* command, const std::wstring& input,
             const std::wstring& what, void* output = nullptr, DWORD outputSize = 0);

// The full path of the library that holds the monitor's user interface: the
// monitor's own answer to "MonitorUI".
std::wstring MonitorLibrary(const std::wstring& monitor);

// The port's key under HKEY_LOCAL_MACHINE.
std::wstring PortKeyPath(const std::wstring& port);

} // namespace zelport
