#include "harness/SpoolerPrinting.h"

#include <winspool.h>

#include <algorithm>

#include "common/Spooler.h"
#include "common/Wine.h"

namespace zeltest {

namespace {
const wchar_t* const kDriver = L"Zel Test PostScript";
}

RawPrinter::RawPrinter(const std::wstring& name, const std::wstring& port) : name_(name) {
    // Any listing has the spooler load the monitor, whose host then routes
    // ports written straight into the registry.
    std::vector<zeltools::SpoolerPort> ports;
    zeltools::ListSpoolerPorts(ports);
    std::wstring printerName = name;
    PRINTER_DEFAULTSW all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterW(&printerName[0], printer_.Out(), &all)) {
        DeletePrinter(printer_.Get());
        printer_.Reset();
    }
    if (zeltools::InstallWinePostScriptDriver(kDriver) ||
        GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
        zeltools::AddRawPrinter(name, port, kDriver, printer_);
    }
}

RawPrinter::~RawPrinter() {
    if (printer_.Get()) {
        DeletePrinter(printer_.Get());
    }
}

bool PrintRaw(const std::wstring& printerName, const std::wstring& document, std::uint64_t size,
              const JobBytes& bytes, const std::wstring& outputFile) {
    zeltools::ScopedPrinter printer;
    std::wstring name = printerName;
    std::wstring doc = document;
    std::wstring output = outputFile;
    std::wstring datatype = L"RAW";
    DOC_INFO_1W info{&doc[0], output.empty() ? nullptr : &output[0], &datatype[0]};
    if (!OpenPrinterW(&name[0], printer.Out(), nullptr) ||
        !StartDocPrinterW(printer.Get(), 1, reinterpret_cast<LPBYTE>(&info))) {
        return false;
    }
    bool ok = true;
    for (std::uint64_t offset = 0; ok && offset < size; offset += kPrintPiece) {
        const DWORD piece = static_cast<DWORD>(std::min<std::uint64_t>(kPrintPiece, size - offset));
        DWORD written = 0;
        ok = WritePrinter(printer.Get(), const_cast<void*>(bytes(offset)), piece, &written) &&
             written == piece;
    }
    return EndDocPrinter(printer.Get()) && ok;
}

} // namespace zeltest
