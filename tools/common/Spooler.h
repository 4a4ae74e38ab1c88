#pragma once

// The print spooler as the programs use it: its listings, the printers on a
// port, creating a printer and sending a RAW job.

#include <windows.h>
#include <winspool.h>

#include <functional>
#include <string>
#include <vector>

#include "common/Handles.h"

namespace zeltools {

// The spooler's "ask for the size, then fill" listing: `call(buffer, size,
// &needed, &returned)` is repeated with a buffer of the size asked for until
// it fits (the list may grow between two calls). False with the last error
// set.
template <typename Call> bool SpoolerList(Call call, std::vector<BYTE>& buffer, DWORD& returned) {
    DWORD needed = 0;
    buffer.clear();
    while (!call(buffer.empty() ? nullptr : buffer.data(), static_cast<DWORD>(buffer.size()),
                 &needed, &returned)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) {
            return false;
        }
        buffer.assign(needed, 0);
    }
    return true;
}

// One entry of the spooler's port list.
struct SpoolerPort {
    std::wstring name, monitor, description;
};
// Every port the spooler lists; false with the last error set when it cannot
// list them. Listing has the spooler load each monitor.
bool ListSpoolerPorts(std::vector<SpoolerPort>& ports);

// Whether one entry of a printer's port list (comma-separated, blanks allowed
// around each name) names `port`; port names ignore letter case, as the
// spooler's do.
bool PortListNames(const std::wstring& portList, const std::wstring& port);

struct PrinterOnPort {
    std::wstring printer, port; // the port as `ports` spells it
};
// The local printers that print to one of `ports`. False with the last error
// set when the printers cannot be listed.
bool PrintersOnPorts(const std::vector<std::wstring>& ports, std::vector<PrinterOnPort>& found);

// Creates a local printer on `port` that takes RAW jobs through the standard
// print processor. The printer handle goes to `printer`; false with the last
// error set.
bool AddRawPrinter(const std::wstring& name, const std::wstring& port, const std::wstring& driver,
                   ScopedPrinter& printer);

struct RawJobResult {
    std::wstring failure; // what failed ("cannot write job 7"), empty when the job was accepted
    DWORD error = 0;      // the system's code for why
    DWORD jobId = 0;
    unsigned long long bytes = 0;
};
// Gives the job's next piece: `size` 0 ends the job, false fails it (with the
// last error set).
using RawSource = std::function<bool(const char*& data, DWORD& size)>;
// Sends one RAW job to `printer`, into `outputFile` instead of the port when
// given. A job that fails halfway is aborted, so no half-written job stays in
// the queue.
RawJobResult PrintRaw(const std::wstring& printer, const std::wstring& document,
                      const RawSource& source, const std::wstring& outputFile = L"");

} // namespace zeltools
