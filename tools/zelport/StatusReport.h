#pragma once

// zelport status: what it checks and reports about the monitor and each port,
// and which findings count as problems.

#include "zelport/Arguments.h"

namespace zelport {

int RunStatus(const Command& command);

} // namespace zelport
