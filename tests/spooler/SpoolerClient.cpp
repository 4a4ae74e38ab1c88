#include "SpoolerClient.h"

#include "harness/TestRegistry.h"

namespace zeltest {

std::vector<ListedPort> SpoolerPorts(DWORD level) {
    std::vector<BYTE> buffer;
    DWORD needed = 0;
    DWORD returned = 0;
    while (!EnumPortsW(nullptr, level, buffer.empty() ? nullptr : buffer.data(),
                       static_cast<DWORD>(buffer.size()), &needed, &returned)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return {};
        }
        buffer.assign(needed, 0);
    }
    std::vector<ListedPort> ports;
    for (DWORD i = 0; i < returned; ++i) {
        ListedPort port;
        if (level == 1) {
            port.name = reinterpret_cast<PORT_INFO_1W*>(buffer.data())[i].pName;
        } else {
            const PORT_INFO_2W& info = reinterpret_cast<PORT_INFO_2W*>(buffer.data())[i];
            port.name = info.pPortName;
            port.monitor = info.pMonitorName ? info.pMonitorName : L"";
            port.description = info.pDescription ? info.pDescription : L"";
            port.type = info.fPortType;
        }
        ports.push_back(port);
    }
    return ports;
}

bool SpoolerLists(const std::wstring& port) {
    for (const ListedPort& listed : SpoolerPorts(1)) {
        if (listed.name == port) {
            return true;
        }
    }
    return false;
}

Printer::Printer(const std::wstring& name, ACCESS_MASK access) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, access};
    std::wstring copy = name;
    if (!OpenPrinterW(&copy[0], &handle_, &defaults)) {
        handle_ = nullptr;
        error_ = GetLastError();
    }
}

Printer::~Printer() {
    if (handle_) {
        ClosePrinter(handle_);
    }
}

DWORD SendXcv(const Printer& channel, const wchar_t* command, const std::wstring& port) {
    DWORD output = 0;
    DWORD needed = 0;
    DWORD status = kPoison;
    BYTE* input = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(port.c_str()));
    if (!XcvDataW(channel.Get(), command, input,
                  static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t)),
                  reinterpret_cast<BYTE*>(&output), 0, &needed, &status)) {
        return GetLastError();
    }
    return status;
}

std::vector<std::wstring> RegisteredPorts() {
    std::vector<std::wstring> names;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PortsKeyPath().c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[256];
    for (DWORD index = 0; RegEnumKeyW(key, index, name, 256) == ERROR_SUCCESS; ++index) {
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

} // namespace zeltest
