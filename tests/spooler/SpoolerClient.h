#pragma once

// A plain winspool client's view of the monitor, as the administering program
// and the printing applications see it through Wine's spooler.

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness/TestRegistry.h"

namespace zeltest {

constexpr const wchar_t* kMonitor = L"Tessivane 3 Monitor";

struct ListedPort {
    std::wstring name, monitor, description; // monitor and description: level 2 only
};

// EnumPortsW(NULL, level), growing the buffer until the list fits.
inline std::vector<ListedPort> SpoolerPorts(DWORD level) {
    std::vector<BYTE> buffer;
    DWORD needed = 0, returned = 0;
    while (!EnumPortsW(nullptr, level, buffer.empty() ? nullptr : buffer.data(),
                       static_cast<DWORD>(buffer.size()), &needed, &returned)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return {};
        }
        buffer.assign(needed, 0);
    }
    std::vector<ListedPort> ports;
    for (DWORD i = 0; i < returned; ++i) {
        if (level == 1) {
            ports.push_back({reinterpret_cast<PORT_INFO_1W*>(buffer.data())[i].pName, L"", L""});
        } else {
            const PORT_INFO_2W& info = reinterpret_cast<PORT_INFO_2W*>(buffer.data())[i];
            ports.push_back({info.pPortName, info.pMonitorName ? info.pMonitorName : L"",
                             info.pDescription ? info.pDescription : L""});
        }
    }
    return ports;
}

// Any listing also has the spooler load the monitor again, which makes ports
// written straight into the registry routable (",XcvPort", DeletePortW, printing).
inline bool SpoolerLists(const std::wstring& port) {
    std::vector<ListedPort> ports = SpoolerPorts(1);
    return std::any_of(ports.begin(), ports.end(),
                       [&](const ListedPort& listed) { return listed.name == port; });
}

// A printer handle owned for the scope, on a transceive name or a printer.
class Printer {
public:
    Printer(std::wstring name, ACCESS_MASK access) {
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, access};
        if (!OpenPrinterW(&name[0], &handle_, &defaults)) {
            handle_ = nullptr;
            error_ = GetLastError();
        }
    }
    ~Printer() {
        if (handle_) {
            ClosePrinter(handle_);
        }
    }
    HANDLE Get() const { return handle_; }
    bool Ok() const { return handle_ != nullptr; }
    DWORD OpenError() const { return error_; }

private:
    HANDLE handle_ = nullptr;
    DWORD error_ = 0;
};

// Sends a transceive command with a port name as input; returns the monitor's
// status (or the call's own error when XcvDataW fails).
inline DWORD SendXcv(const Printer& channel, const wchar_t* command, const std::wstring& port) {
    DWORD output = 0, needed = 0, status = kPoison;
    if (!XcvDataW(channel.Get(), command,
                  reinterpret_cast<BYTE*>(const_cast<wchar_t*>(port.c_str())),
                  static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t)),
                  reinterpret_cast<BYTE*>(&output), 0, &needed, &status)) {
        return GetLastError();
    }
    return status;
}

// The subkeys of the monitor's ports key, straight from the registry, sorted.
inline std::vector<std::wstring> RegisteredPorts() {
    std::vector<std::wstring> names;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PortsKeyPath().c_str(), 0, KEY_READ, &key) == 0) {
        wchar_t name[256];
        for (DWORD index = 0; RegEnumKeyW(key, index, name, 256) == ERROR_SUCCESS; ++index) {
            names.push_back(name);
        }
        RegCloseKey(key);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace zeltest
