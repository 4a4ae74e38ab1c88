#include "admin/PortList.h"

#include <winspool.h>

#include <cstring>

namespace Brambleworth {
namespace Zel {
namespace PortMon {

namespace {

std::uint64_t StringBytes(const std::wstring& text) {
    return (text.size() + 1) * sizeof(wchar_t);
}

// Places a string below `top` and returns where it starts. The strings keep no
// alignment of their own, so copy bytes rather than wide characters.
LPWSTR PlaceString(BYTE*& top, const std::wstring& text) {
    const std::size_t bytes = static_cast<std::size_t>(StringBytes(text));
    top -= bytes;
    std::memcpy(top, text.c_str(), bytes);
    return reinterpret_cast<LPWSTR>(top);
}

} // namespace

std::uint64_t PortListSize(DWORD level, const std::vector<PortListEntry>& ports,
                           const std::wstring& monitorName) {
    std::uint64_t total = 0;
    for (const PortListEntry& port : ports) {
        if (level == 1) {
            total += sizeof(PORT_INFO_1W) + StringBytes(port.name);
        } else {
            total += sizeof(PORT_INFO_2W) + StringBytes(port.name) + StringBytes(monitorName) +
                     StringBytes(port.description);
        }
    }
    return total;
}

void PackPortList(DWORD level, const std::vector<PortListEntry>& ports,
                  const std::wstring& monitorName, BYTE* buffer, DWORD bufferSize) {
    BYTE* top = buffer + bufferSize;
    BYTE* record = buffer;
    for (const PortListEntry& port : ports) {
        if (level == 1) {
            PORT_INFO_1W info{};
            info.pName = PlaceString(top, port.name);
            std::memcpy(record, &info, sizeof info);
            record += sizeof info;
        } else {
            PORT_INFO_2W info{};
            info.pPortName = PlaceString(top, port.name);
            info.pMonitorName = PlaceString(top, monitorName);
            info.pDescription = PlaceString(top, port.description);
            info.fPortType = PORT_TYPE_WRITE;
            info.Reserved = 0;
            std::memcpy(record, &info, sizeof info);
            record += sizeof info;
        }
    }
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
