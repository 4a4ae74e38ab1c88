#pragma once

// The monitor and its ports: install, uninstall, ports, add-port, delete-port,
// set-dispatcher, and the guard rails that refuse what an administrator should
// think twice about.

#include <string>

#include "zelport/Arguments.h"

namespace zelport {

int RunInstall(const Command& command);
int RunUninstall(const Command& command);
int RunPorts(const Command& command);
int RunAddPort(const Command& command);
int RunDeletePort(const Command& command);
int RunSetDispatcher(const Command& command);

// Why add-port should not take this name without --force, or empty.
std::wstring PortNameProblem(const std::wstring& name);

// Why set-dispatcher should not take this command without --force, or empty.
std::wstring DispatcherCommandProblem(const std::wstring& command);

} // namespace zelport
