#include "admin/PrinterHandle.h"

#include <string>

#include "admin/PortNames.h"
#include "monitor/Error.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

PrinterHandle::PrinterHandle(const wchar_t* server, const wchar_t* keyword, const wchar_t* object) {
    std::wstring name = XcvPrinterName(server, keyword, object);
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    if (!OpenPrinterW(&name[0], &handle_, &defaults)) {
        handle_ = nullptr;
        throw Error(30, "Brambleworth::Zel::PortMon::PrinterHandle::PrinterHandle", 90,
                    GetLastError(), std::string());
    }
}

PrinterHandle::PrinterHandle(const wchar_t* printerName) {
    std::wstring name = printerName ? printerName : L"";
    if (!OpenPrinterW(&name[0], &handle_, nullptr)) {
        handle_ = nullptr;
    }
}

PrinterHandle::~PrinterHandle() {
    if (handle_) {
        ClosePrinter(handle_);
    }
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
