#pragma once

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstdint>

namespace Brambleworth {
namespace Zel {
namespace PortMon {

// What a transceive handle stands for. The spooler owns it from XcvOpenPort to
// XcvClosePort; nothing changes it in between, so concurrent commands on one
// handle need no lock.
struct XcvContext {
    std::uint64_t tag;
    PMONITORINIT monitor;
    ACCESS_MASK grantedAccess;
};

// Marks a handle as one of ours: anything else handed to XcvDataPort or
// XcvClosePort is refused rather than dereferenced further.
constexpr std::uint64_t kXcvContextTag = 64;

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
