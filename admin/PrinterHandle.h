#pragma once

#include <windows.h>
#include <winspool.h>

namespace Brambleworth {
namespace Zel {
namespace PortMon {

// One winspool printer handle on a transceive channel ("[server\],<keyword>
// <object>"), opened with the right to administer the server and closed when
// the object goes. The constructor throws Error (code 30) carrying
// OpenPrinterW's error when the channel cannot be opened.
class PrinterHandle {
public:
    PrinterHandle(const wchar_t* server, const wchar_t* keyword, const wchar_t* object);
    // A printer by its name, opened with no defaults (the caller's default
    // access). A printer that does not open leaves the object empty instead of
    // throwing: the job end only tries to tell the spooler about its job.
    explicit PrinterHandle(const wchar_t* printerName);
    ~PrinterHandle();
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;

    HANDLE Get() const { return handle_; }
    bool IsOpen() const { return handle_ != nullptr; }

private:
    HANDLE handle_ = nullptr;
};

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
