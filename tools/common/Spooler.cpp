#include "common/Spooler.h"

#include <algorithm>

namespace zeltools {

namespace {

std::wstring Text(const wchar_t* value) {
    return value ? value : L"";
}

} // namespace

bool ListSpoolerPorts(std::vector<SpoolerPort>& ports) {
    std::vector<BYTE> buffer;
    DWORD returned = 0;
    const auto list = [](BYTE* data, DWORD size, DWORD* needed, DWORD* count) {
        return EnumPortsW(nullptr, 2, data, size, needed, count);
    };
    if (!SpoolerList(list, buffer, returned)) {
        return false;
    }
    const auto* info = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    ports.clear();
    for (DWORD i = 0; i < returned; ++i) {
        ports.push_back(
            {Text(info[i].pPortName), Text(info[i].pMonitorName), Text(info[i].pDescription)});
    }
    return true;
}

bool PortListNames(const std::wstring& portList, const std::wstring& port) {
    for (size_t start = 0; start <= portList.size();) {
        const size_t end = std::min(portList.find(L',', start), portList.size());
        const std::wstring entry = portList.substr(start, end - start);
        const size_t first = entry.find_first_not_of(L" \t");
        const size_t last = entry.find_last_not_of(L" \t");
        if (first != std::wstring::npos &&
            CompareStringOrdinal(entry.c_str() + first, static_cast<int>(last + 1 - first),
                                 port.c_str(), static_cast<int>(port.size()), TRUE) == CSTR_EQUAL) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

bool PrintersOnPorts(const std::vector<std::wstring>& ports, std::vector<PrinterOnPort>& found) {
    std::vector<BYTE> buffer;
    DWORD returned = 0;
    const auto list = [](BYTE* data, DWORD size, DWORD* needed, DWORD* count) {
        return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, data, size, needed, count);
    };
    if (!SpoolerList(list, buffer, returned)) {
        return false;
    }
    found.clear();
    const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) {
        for (const std::wstring& port : ports) {
            if (PortListNames(Text(printers[i].pPortName), port)) {
                found.push_back({Text(printers[i].pPrinterName), port});
            }
        }
    }
    return true;
}

bool AddRawPrinter(const std::wstring& name, const std::wstring& port, const std::wstring& driver,
                   ScopedPrinter& printer) {
    std::wstring printerName = name, portName = port, driverName = driver;
    std::wstring processor = L"winprint", datatype = L"RAW";
    PRINTER_INFO_2W info{};
    info.pPrinterName = &printerName[0];
    info.pPortName = &portName[0];
    info.pDriverName = &driverName[0];
    info.pPrintProcessor = &processor[0];
    info.pDatatype = &datatype[0];
    *printer.Out() = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    return printer.Get() != nullptr;
}

RawJobResult PrintRaw(const std::wstring& printerName, const std::wstring& document,
                      const RawSource& source, const std::wstring& outputFile) {
    RawJobResult result;
    const auto fail = [&result](const std::wstring& what) {
        result.error = GetLastError();
        result.failure = what;
        return result;
    };
    ScopedPrinter printer;
    std::wstring name = printerName, doc = document, output = outputFile, datatype = L"RAW";
    if (!OpenPrinterW(&name[0], printer.Out(), nullptr)) {
        return fail(L"cannot open printer \"" + printerName + L"\"");
    }
    DOC_INFO_1W info{&doc[0], output.empty() ? nullptr : &output[0], &datatype[0]};
    result.jobId = StartDocPrinterW(printer.Get(), 1, reinterpret_cast<LPBYTE>(&info));
    if (result.jobId == 0) {
        return fail(L"cannot start a job on printer \"" + printerName + L"\"");
    }
    const std::wstring job = L"job " + std::to_wstring(result.jobId);
    for (;;) {
        const char* data = nullptr;
        DWORD size = 0;
        if (!source(data, size)) {
            fail(L"cannot read the data of " + job);
            AbortPrinter(printer.Get());
            return result;
        }
        if (size == 0) {
            break;
        }
        for (DWORD written = 0; size > 0; data += written, size -= written) {
            if (!WritePrinter(printer.Get(), const_cast<char*>(data), size, &written) ||
                written == 0) {
                fail(L"cannot write " + job);
                AbortPrinter(printer.Get());
                return result;
            }
            result.bytes += written;
        }
    }
    if (!EndDocPrinter(printer.Get())) {
        return fail(L"the printer did not accept " + job);
    }
    return result;
}

} // namespace zeltools
