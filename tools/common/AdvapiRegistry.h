#pragma once

// A spooler registry table (MONITORREG) that does what Windows' spooler does
// for a local monitor: every slot goes straight to advapi32. For hosts that
// load the monitor outside Windows' spooler (the Wine host, the benchmarks).

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

namespace zeltools {

MONITORREG* AdvapiMonitorRegistry();

} // namespace zeltools
