#include "admin/PortNames.h"

#include <winspool.h>

#include <algorithm>
#include <cwchar>
#include <locale>
#include <sstream>

namespace Brambleworth {
namespace Zel {
namespace PortMon {

std::wstring GeneratedPortName(unsigned number) {
    // The classic locale keeps "1000" free of grouping separators that a
    // user's locale would insert; the names must be the same on every machine.
    std::wostringstream name;
    name.imbue(std::locale::classic());
    name << L"ZEL_3_PORT" << number << L':';
    return name.str();
}

std::optional<std::wstring> FirstFreePortName(const NameList& taken) {
    for (unsigned number = kFirstPortNumber; number <= kLastPortNumber; ++number) {
        std::wstring candidate = GeneratedPortName(number);
        if (std::find(taken.begin(), taken.end(), candidate) == taken.end()) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::wstring XcvPrinterName(const wchar_t* server, const wchar_t* keyword, const wchar_t* object) {
    std::wstring name;
    if (server) {
        name += server;
        name += L'\\';
    }
    name += L',';
    name += keyword;
    name += L' ';
    if (object) {
        name += object;
    }
    return name;
}

bool PortListHas(const PORT_INFO_2W* ports, DWORD count, const wchar_t* name) {
    for (DWORD i = 0; i < count; ++i) {
        if (ports[i].pPortName && std::wcscmp(ports[i].pPortName, name) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
