#pragma once

// Printers on the monitor's ports: add-printer.

#include "zelport/Arguments.h"

namespace zelport {

int RunAddPrinter(const Command& command);

} // namespace zelport
