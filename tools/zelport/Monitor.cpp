#include "zelport/Monitor.h"

#include <winspool.h>

#include "common/Handles.h"
#include "registry/RegistryLayout.h"
#include "zelport/Failure.h"

namespace zelport {

void SendXcv(const std::wstring& object, const wchar_t* command, const std::wstring& input,
             const std::wstring& what, void* output, DWORD outputSize) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    std::wstring name = L"," + object;
    zeltools::ScopedPrinter xcv;
    if (!OpenPrinterW(&name[0], xcv.Out(), &defaults)) {
        FailLast(L"cannot open " + Quote(name));
    }
    DWORD needed = 0, status = 0, none = 0;
    if (!XcvDataW(xcv.Get(), command,
                  input.empty() ? nullptr
                                : reinterpret_cast<PBYTE>(const_cast<wchar_t*>(input.c_str())),
                  input.empty() ? 0 : static_cast<DWORD>((input.size() + 1) * sizeof(wchar_t)),
                  static_cast<PBYTE>(output ? output : &none), outputSize, &needed, &status)) {
        status = GetLastError();
    }
    if (status != ERROR_SUCCESS) {
        Fail(what, status);
    }
}

std::wstring MonitorLibrary(const std::wstring& monitor) {
    wchar_t path[MAX_PATH + 1] = {};
    SendXcv(L"XcvMonitor " + monitor, L"MonitorUI", L"",
            L"monitor " + Quote(monitor) + L" did not name its user interface", path,
            sizeof(path) - sizeof(wchar_t));
    return path;
}

std::wstring PortKeyPath(const std::wstring& port) {
    return std::wstring(Brambleworth::Zel::Registry::kPortsKeyPath) + L"\\" + port;
}

} // namespace zelport
