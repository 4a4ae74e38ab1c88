#include "zelport/Monitor.h"

#include <winspool.h>

#include "registry/RegistryLayout.h"
#include "zelport/Failure.h"

namespace zelport {

void OpenXcv(zeltools::ScopedPrinter& printer, const std::wstring& object) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    std::wstring name = L"," + object;
    if (!OpenPrinterW(&name[0], printer.Out(), &defaults)) {
        FailLast(L"cannot open " + Quote(name));
    }
}

void SendXcv(HANDLE xcv, const wchar_t* command, const std::wstring& port,
             const std::wstring& what) {
    DWORD output = 0;
    DWORD needed = 0;
    DWORD status = 0;
    if (!XcvDataW(xcv, command, reinterpret_cast<PBYTE>(const_cast<wchar_t*>(port.c_str())),
                  static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t)),
                  reinterpret_cast<PBYTE>(&output), 0, &needed, &status)) {
        status = GetLastError();
    }
    if (status != ERROR_SUCCESS) {
        Fail(what, status);
    }
}

std::wstring MonitorLibrary(const std::wstring& monitor) {
    zeltools::ScopedPrinter xcv;
    OpenXcv(xcv, L"XcvMonitor " + monitor);
    wchar_t path[MAX_PATH + 1] = {};
    DWORD needed = 0;
    DWORD status = 0;
    if (!XcvDataW(xcv.Get(), L"MonitorUI", nullptr, 0, reinterpret_cast<PBYTE>(path),
                  sizeof(path) - sizeof(wchar_t), &needed, &status)) {
        status = GetLastError();
    }
    if (status != ERROR_SUCCESS) {
        Fail(L"monitor " + Quote(monitor) + L" did not name its user interface", status);
    }
    return path;
}

std::wstring PortKeyPath(const std::wstring& port) {
    return std::wstring(Brambleworth::Zel::Registry::kPortsKeyPath) + L"\\" + port;
}

} // namespace zelport
