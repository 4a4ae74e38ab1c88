#pragma once

// zelport ports and zelport status: what they find out about the monitor and
// each port, which findings count as problems, and how both are written, for
// people or (--json) for scripts.

#include "zelport/Arguments.h"

namespace zelport {

int RunPorts(const Command& command);
int RunStatus(const Command& command);

} // namespace zelport
