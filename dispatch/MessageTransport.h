#pragma once

// Hands an unsolicited job to the print dispatcher: starts it as the user who
// printed the job, with the job's message on its command line, and waits a
// bounded time for its verdict.

#include <string>

namespace Brambleworth {
namespace Zel {
namespace PortMon {

class PortContext;

class MessageTransport {
public:
    // How long a job end waits for the dispatcher before leaving it running.
    static constexpr unsigned long kWaitMilliseconds = 60000;

    // Starts `command` (the port's dispatcher command) with the message for the
    // port's current job, using the job's user token, and waits for it.
    // Throws Error code 44 when the process cannot be created and code 6 when
    // it ends in time with a failing exit code. A dispatcher still running
    // after the wait counts as started well. Reads the port object only.
    static void Send(const std::wstring& command, const PortContext& port);
};

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
