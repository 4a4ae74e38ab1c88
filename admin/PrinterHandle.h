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
    ~PrinterHandle();
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;

    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
