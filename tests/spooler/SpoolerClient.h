#pragma once

// A plain winspool client's view of the monitor, as the administering program
// and the printing applications see it through Wine's spooler.

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

namespace zeltest {

constexpr const wchar_t* kMonitor = L"Tessivane 3 Monitor";

struct ListedPort {
    std::wstring name;
    std::wstring monitor;     // level 2 only
    std::wstring description; // level 2 only
    DWORD type = 0;           // level 2 only
};

// EnumPortsW(NULL, level), growing the buffer until the list fits.
std::vector<ListedPort> SpoolerPorts(DWORD level);
bool SpoolerLists(const std::wstring& port);

// Ports written straight into the registry become routable (",XcvPort",
// DeletePortW, printing) once the spooler has loaded the monitor again, as
// any port listing does.
inline void LetTheSpoolerSeePorts() {
    SpoolerPorts(1);
}

// A printer handle owned for the scope, on a transceive name or a printer.
class Printer {
public:
    Printer(const std::wstring& name, ACCESS_MASK access);
    ~Printer();
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;
    HANDLE Get() const { return handle_; }
    bool Ok() const { return handle_ != nullptr; }
    DWORD OpenError() const { return error_; }

private:
    HANDLE handle_ = nullptr;
    DWORD error_ = 0;
};

// Sends a transceive command with a port name as input; returns the monitor's
// status (or the call's own error when XcvDataW fails).
DWORD SendXcv(const Printer& channel, const wchar_t* command, const std::wstring& port);

// The subkeys of the monitor's ports key, straight from the registry.
std::vector<std::wstring> RegisteredPorts();

} // namespace zeltest
