#pragma once

#include <string>
#include <vector>

#include "zelport/ZelportArgs.h"

namespace zelport {

// A failed step: what we tried, and the system's code for why it failed. main
// turns it into the one error line and exit code 1.
struct Failure {
    std::wstring what;
    unsigned long code;
    int exitCode = kExitFailed;
    std::vector<std::wstring> advice = {}; // lines after the error line: what to do
};

// Runs a parsed subcommand; returns the exit code or throws Failure.
int RunCommand(const Command& command);

} // namespace zelport
