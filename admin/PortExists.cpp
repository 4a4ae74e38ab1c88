#include "admin/PortExists.h"

#include <windows.h>
#include <winspool.h>

#include <new>
#include <string>
#include <vector>

#include "admin/PortNames.h"
#include "monitor/Error.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

namespace {

constexpr const char* kFunction = "Brambleworth::Zel::PortMon::PortExistsInt";

bool SpoolerListsPort(const wchar_t* portName) {
    // The list can grow between the sizing call and the next one (another
    // client adding a port), so keep asking until it fits.
    std::vector<BYTE> buffer;
    DWORD needed = 0;
    DWORD returned = 0;
    while (!EnumPortsW(nullptr, 2, buffer.empty() ? nullptr : buffer.data(),
                       static_cast<DWORD>(buffer.size()), &needed, &returned)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            throw Error(6, kFunction, 131, error, std::string());
        }
        buffer.assign(needed, 0);
    }
    return PortListHas(reinterpret_cast<const PORT_INFO_2W*>(buffer.data()), returned, portName);
}

} // namespace

bool PortExistsInt(const wchar_t* portName) {
    // Callers see only Error from here: they report its system code.
    try {
        return SpoolerListsPort(portName);
    } catch (const Error&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw Error(2, kFunction, 152, 0, std::string());
    } catch (...) {
        throw Error(1, kFunction, 156, 0, std::string());
    }
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
