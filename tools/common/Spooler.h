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

// The records of one of the spooler's "ask for the size, then fill" calls:
// `call(args..., buffer, size, &needed, &returned)` is repeated with a buffer
// of the size asked for until it fits (the list may grow between two calls).
template <typename Info> class SpoolerListing {
public:
    // False with the last error set.
    template <typename Call, typename... Args> bool Fill(Call call, Args... args) {
        DWORD needed = 0;
        buffer_.clear();
        while (!call(args..., buffer_.empty() ? nullptr : buffer_.data(),
                     static_cast<DWORD>(buffer_.size()), &needed, &count_)) {
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer_.size()) {
                return false;
            }
            buffer_.assign(needed, 0);
        }
        return true;
    }
    const Info* begin() const { return reinterpret_cast<const Info*>(buffer_.data()); }
    const Info* end() const { return begin() + count_; }

private:
    std::vector<BYTE> buffer_;
    DWORD count_ = 0;
};

struct SpoolerPort {
    std::wstring name, monitor, description;
};
// Every port the spooler lists; false with the last error set when it cannot
// list them. Listing has the spooler load each monitor.
bool ListSpoolerPorts(std::vector<SpoolerPort>& ports);

// The state of Windows' Spooler service (SERVICE_RUNNING, ...); 0 with the
// last error set when it cannot be asked.
DWORD SpoolerServiceState();

// Whether one entry of a printer's port list (comma-separated, blanks allowed
// around each name) names `port`; port names ignore letter case, as the
// spooler's do.
bool PortListNames(const std::wstring& portList, const std::wstring& port);

// A printer's port list as the spooler keeps it (comma-separated); false with
// the last error set when the printer cannot be asked.
bool PrinterPortList(const std::wstring& printer, std::wstring& ports);

struct PrinterOnPort {
    std::wstring printer, port; // the port as `ports` spells it
};
// The local printers that print to one of `ports`. False with the last error
// set when the printers cannot be listed.
bool PrintersOnPorts(const std::vector<std::wstring>& ports, std::vector<PrinterOnPort>& found);

// Creates a local printer on `port` that takes RAW jobs through the standard
// print processor, with PRINTER_ATTRIBUTE_* `attributes` (shared under
// `shareName`). The printer handle goes to `printer`; false with the last
// error set.
bool AddRawPrinter(const std::wstring& name, const std::wstring& port, const std::wstring& driver,
                   ScopedPrinter& printer, DWORD attributes = 0,
                   const std::wstring& shareName = L"");

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
