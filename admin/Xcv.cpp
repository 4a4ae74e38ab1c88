// The transceive channel: the spooler's request path from an administering
// client to this monitor. Ports are added and deleted only here.

#include <cstring>
#include <cwchar>
#include <string>

#include "admin/PortExists.h"
#include "admin/XcvContext.h"
#include "monitor/EntryPoints.h"
#include "monitor/Guards.h"
#include "registry/MonitorReg.h"
#include "registry/RegistryLayout.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace Brambleworth {
namespace Zel {
namespace PortMon {

namespace {

bool MayAdminister(const XcvContext& context) {
    return (context.grantedAccess & SERVER_ACCESS_ADMINISTER) != 0;
}

// Port names arrive as NUL-terminated UTF-16. The spooler hands the input
// over as a buffer of exactly `size` bytes, so the name is read only within
// its whole characters: a name whose NUL lies beyond them is refused rather
// than read past the buffer's end. Null for a missing or empty name.
const wchar_t* PortNameInput(const BYTE* input, DWORD size) {
    const wchar_t* name = reinterpret_cast<const wchar_t*>(input);
    if (!name) {
        return nullptr;
    }
    const DWORD count = size / sizeof(wchar_t);
    for (DWORD i = 0; i < count; ++i) {
        if (name[i] == L'\0') {
            return i > 0 ? name : nullptr;
        }
    }
    return nullptr;
}

DWORD AddPortCommand(const XcvContext& context, const wchar_t* portName) {
    // The spooler's list, not the registry, decides: a name that another
    // monitor already uses must not become ours as well.
    if (PortExistsInt(portName)) {
        return ERROR_PRINTER_ALREADY_EXISTS;
    }
    MonitorReg portKey(context.monitor);
    std::wstring path = std::wstring(Registry::kPortsKeyPath) + L'\\' + portName;
    if (!portKey.CreateKey(path.c_str())) {
        return static_cast<DWORD>(portKey.LastResult());
    }
    // The port works without its description; EnumPorts then shows it empty.
    portKey.SetValue(Registry::kDescriptionValue, std::wstring(Registry::kPortDescription));
    return ERROR_SUCCESS;
}

DWORD DeletePortCommand(const XcvContext& context, const wchar_t* portName) {
    if (!PortExistsInt(portName)) {
        return ERROR_INVALID_PARAMETER;
    }
    MonitorReg portsKey(context.monitor);
    if (!portsKey.OpenKey(HKEY_LOCAL_MACHINE, Registry::kPortsKeyPath, Registry::kAllAccess)) {
        return static_cast<DWORD>(portsKey.LastResult());
    }
    // A single-level delete: a port of another monitor has no key here and
    // its failure is what the client sees.
    if (!portsKey.DeleteSubKey(portName)) {
        return static_cast<DWORD>(portsKey.LastResult());
    }
    return ERROR_SUCCESS;
}

// The administering process loads the user-interface half from the library
// this reply names; both halves live in this very library.
DWORD MonitorUiCommand(PBYTE output, DWORD outputSize, PDWORD needed) {
    if (!needed) {
        return ERROR_INVALID_PARAMETER;
    }
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&XcvDataPort), &module)) {
        module = reinterpret_cast<HMODULE>(&__ImageBase);
    }
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length >= MAX_PATH) {
        // A truncated path is still terminated within the buffer.
        length = MAX_PATH - 1;
    }
    path[length] = L'\0';
    const DWORD size = (length + 1) * sizeof(wchar_t);
    // The size goes out before the test so that a short buffer learns it.
    *needed = size;
    if (size > outputSize) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (!output) {
        return ERROR_INVALID_PARAMETER;
    }
    std::memcpy(output, path, size);
    return ERROR_SUCCESS;
}

bool Is(LPCWSTR command, const wchar_t* name) {
    return command && std::wcscmp(command, name) == 0;
}

} // namespace

BOOL WINAPI XcvOpenPort(HANDLE hMonitor, LPCWSTR, ACCESS_MASK GrantedAccess, PHANDLE phXcv) {
    // The object name is not consulted: each command names its port itself.
    return GuardSilent([&] {
        *phXcv = new XcvContext{kXcvContextTag, static_cast<PMONITORINIT>(hMonitor), GrantedAccess};
        return TRUE;
    });
}

DWORD WINAPI XcvDataPort(HANDLE hXcv, LPCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData,
                         PBYTE pOutputData, DWORD cbOutputData, PDWORD pcbOutputNeeded) {
    const XcvContext* context = static_cast<const XcvContext*>(hXcv);
    if (!context || context->tag != kXcvContextTag) {
        return ERROR_INVALID_PARAMETER;
    }
    if (Is(pszDataName, L"AddPort") || Is(pszDataName, L"DeletePort")) {
        // Access first: a caller without the right learns nothing about the input.
        if (!MayAdminister(*context)) {
            return ERROR_ACCESS_DENIED;
        }
        const wchar_t* portName = PortNameInput(pInputData, cbInputData);
        if (!portName) {
            return ERROR_INVALID_PARAMETER;
        }
        if (Is(pszDataName, L"AddPort")) {
            return GuardXcvCommand([&] { return AddPortCommand(*context, portName); });
        }
        return GuardXcvCommand([&] { return DeletePortCommand(*context, portName); });
    }
    if (Is(pszDataName, L"MonitorUI")) {
        return MonitorUiCommand(pOutputData, cbOutputData, pcbOutputNeeded);
    }
    if (Is(pszDataName, L"GetConfig")) {
        return ERROR_INVALID_PARAMETER;
    }
    if (Is(pszDataName, L"SetConfig")) {
        // There is nothing to configure; only the refusal differs by right.
        return MayAdminister(*context) ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED;
    }
    return ERROR_INVALID_PARAMETER;
}

BOOL WINAPI XcvClosePort(HANDLE hXcv) {
    XcvContext* context = static_cast<XcvContext*>(hXcv);
    if (!context || context->tag != kXcvContextTag) {
        return FALSE;
    }
    delete context;
    return TRUE;
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
