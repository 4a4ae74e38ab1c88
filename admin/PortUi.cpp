// The user-interface half: runs in the administering process, shows no window
// and reaches the monitor only through the spooler's transceive channel.

#include <cwchar>
#include <optional>
#include <string>

#include "admin/PortNames.h"
#include "admin/PrinterHandle.h"
#include "monitor/EntryPoints.h"
#include "monitor/Guards.h"
#include "registry/RegKey.h"
#include "registry/RegistryLayout.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

namespace {

// The ports this machine already has, read from the local registry even when
// a server is named: the monitor's own existence check is what protects
// another machine's ports.
NameList RegisteredPortNames() {
    RegKey portsKey;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Registry::kPortsKeyPath, 0, Registry::kAllAccess, &key) ==
        ERROR_SUCCESS) {
        portsKey.CreateRef(key);
    } else {
        portsKey.Release();
        LONG status =
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, Registry::kPortsKeyPath, 0, nullptr,
                            REG_OPTION_NON_VOLATILE, Registry::kAllAccess, nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) {
            throw static_cast<unsigned long>(status);
        }
        portsKey.CreateRef(key);
    }
    NameList names;
    if (!portsKey.EnumSubKeys(names)) {
        throw static_cast<unsigned long>(portsKey.LastResult());
    }
    return names;
}

// Sends one port command and throws the monitor's refusal (or the spooler's,
// when the call itself fails) as a bare Windows code.
void SendPortCommand(const PrinterHandle& channel, const wchar_t* command,
                     const wchar_t* portName) {
    DWORD output = 0;
    DWORD needed = 0;
    DWORD status = 0;
    const DWORD inputSize = static_cast<DWORD>((std::wcslen(portName) + 1) * sizeof(wchar_t));
    BYTE* input = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(portName));
    if (!XcvDataW(channel.Get(), command, input, inputSize, reinterpret_cast<BYTE*>(&output), 0,
                  &needed, &status)) {
        status = GetLastError();
    }
    if (status != ERROR_SUCCESS) {
        throw static_cast<unsigned long>(status);
    }
}

// The caller frees the name with GlobalFree. Without memory for it the port
// still exists, so the add counts as done and the caller gets no name.
PWSTR CopyForCaller(const std::wstring& name) {
    const SIZE_T size = (name.size() + 1) * sizeof(wchar_t);
    PWSTR copy = static_cast<PWSTR>(GlobalAlloc(GPTR, size));
    if (copy) {
        std::wmemcpy(copy, name.c_str(), name.size() + 1);
    }
    return copy;
}

void AddGeneratedPort(PCWSTR server, PCWSTR monitorName, PWSTR* portNameOut) {
    // The channel first: a caller who may not administer the monitor fails
    // before the registry is touched.
    PrinterHandle channel(server, L"XcvMonitor", monitorName);
    std::optional<std::wstring> name = FirstFreePortName(RegisteredPortNames());
    if (!name) {
        throw static_cast<unsigned long>(ERROR_CANNOT_MAKE);
    }
    // Nothing reserves the name until the monitor creates it; the monitor's
    // existence check settles a race with another administering process.
    SendPortCommand(channel, L"AddPort", name->c_str());
    if (portNameOut) {
        *portNameOut = CopyForCaller(*name);
    }
}

void DeleteNamedPort(PCWSTR server, PCWSTR portName) {
    // The spooler always names the port; another caller that does not is
    // refused rather than left to a null dereference.
    if (!portName) {
        throw static_cast<unsigned long>(ERROR_INVALID_PARAMETER);
    }
    PrinterHandle channel(server, L"XcvPort", portName);
    SendPortCommand(channel, L"DeletePort", portName);
}

} // namespace

BOOL WINAPI AddPortUI(PCWSTR pszServer, HWND, PCWSTR pszMonitorNameIn, PWSTR* ppszPortNameOut) {
    return GuardUserInterface([&] {
        AddGeneratedPort(pszServer, pszMonitorNameIn, ppszPortNameOut);
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    });
}

BOOL WINAPI DeletePortUI(PCWSTR pszServer, HWND, PCWSTR pszPortName) {
    return GuardUserInterface([&] {
        DeleteNamedPort(pszServer, pszPortName);
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    });
}

// Ports have nothing to configure; the user is told the dialog was cancelled.
BOOL WINAPI ConfigurePortUI(PCWSTR, HWND, PCWSTR) {
    SetLastError(ERROR_CANCELLED);
    return FALSE;
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
