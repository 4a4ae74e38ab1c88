#pragma once

// Packing of a port list the way the spooler expects it: fixed-size records at
// the start of the caller's buffer, strings from its end downwards.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Brambleworth {
namespace Zel {
namespace PortMon {

struct PortListEntry {
    std::wstring name;
    std::wstring description; // level 2 only
};

// Bytes the list takes at level 1 or 2 (64-bit record sizes, strings with
// their terminating null).
std::uint64_t PortListSize(DWORD level, const std::vector<PortListEntry>& ports,
                           const std::wstring& monitorName);

// Packs the list into buffer[0, bufferSize); the caller has checked that it fits.
void PackPortList(DWORD level, const std::vector<PortListEntry>& ports,
                  const std::wstring& monitorName, BYTE* buffer, DWORD bufferSize);

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
