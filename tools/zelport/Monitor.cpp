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

void SendXcv(HANDLE xcv, const wchar_t* command, const std::wstring& input,
             const std::wstring& what, void* output, DWORD outputSize) {
    DWORD needed = 0, status = 0, none = 0;
    if (!XcvDataW(xcv, command,
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
    zeltools::ScopedPrinter xcv;
    OpenXcv(xcv, L"XcvMonitor " + monitor);
    wchar_t path[MAX_PATH + 1] = {};
    SendXcv(xcv.Get(), L"MonitorUI", L"",
            L"monitor " + Quote(monitor) + L" did not name its user interface", path,
            sizeof(path) - sizeof(wchar_t));
    return path;
}

std::wstring PortKeyPath(const std::wstring& port) {
    return std::wstring(Brambleworth::Zel::Registry::kPortsKeyPath) + L"\\" + port;
}

} // namespace zelport
