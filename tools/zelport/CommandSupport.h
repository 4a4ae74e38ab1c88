#pragma once

// Helpers that the subcommands share: failures, the transceive channel and
// the port keys, and the port log as the commands read it.

#include <windows.h>

#include <string>

#include "common/Win32Util.h"
#include "zelport/Commands.h"

namespace zelport {

[[noreturn]] void Fail(const std::wstring& what, unsigned long code);
[[noreturn]] void FailLast(const std::wstring& what);
std::wstring Quote(const std::wstring& text);

// The transceive channel of the monitor or of one port ("XcvMonitor NAME",
// "XcvPort NAME"), opened for administration.
void OpenXcv(zeltools::ScopedPrinter& printer, const std::wstring& object);
// The full path of the library that holds the monitor's user interface: the
// monitor's own answer to "MonitorUI".
std::wstring MonitorLibrary(const std::wstring& monitor);

std::wstring PortKeyPath(const std::wstring& port);
bool QueryString(HKEY key, const wchar_t* name, std::wstring& value);

// The folder, ending in a backslash, where the monitor writes port logs: DIR
// when given, else the spooler's temporary folder.
std::wstring PortLogFolder(const std::wstring& dir);

// Watches a printer's port log across a print: a failure then names what the
// log recorded meanwhile.
class PortLogWatch {
public:
    explicit PortLogWatch(const std::wstring& printer);
    // Adds the port's last new error line, and advice for it, to `failure`.
    void Explain(Failure& failure) const;

private:
    std::wstring port_;
    std::wstring path_;
    unsigned long long start_ = 0;
};

int RunLog(const Command& command);
int RunStatus(const Command& command);

} // namespace zelport
