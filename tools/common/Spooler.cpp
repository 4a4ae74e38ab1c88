#include "common/Spooler.h"

#include <sstream>

namespace zeltools {

namespace {

std::wstring Text(const wchar_t* value) {
    return value ? value : L"";
}

} // namespace

bool ListSpoolerPorts(std::vector<SpoolerPort>& ports) {
    SpoolerListing<PORT_INFO_2W> list;
    if (!list.Fill(EnumPortsW, nullptr, 2)) {
        return false;
    }
    ports.clear();
    for (const PORT_INFO_2W& port : list) {
        ports.push_back({Text(port.pPortName), Text(port.pMonitorName), Text(port.pDescription)});
    }
    return true;
}

DWORD SpoolerServiceState() {
    Owned<SC_HANDLE, &CloseServiceHandle> manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    Owned<SC_HANDLE, &CloseServiceHandle> service(
        manager.Get() ? OpenServiceW(manager.Get(), L"Spooler", SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status{};
    return service.Get() && QueryServiceStatus(service.Get(), &status) ? status.dwCurrentState : 0;
}

bool PortListNames(const std::wstring& portList, const std::wstring& port) {
    std::wistringstream entries(portList);
    for (std::wstring entry; std::getline(entries, entry, L',');) {
        const size_t first = entry.find_first_not_of(L" \t");
        const size_t last = entry.find_last_not_of(L" \t");
        if (first != std::wstring::npos &&
            CompareStringOrdinal(entry.c_str() + first, static_cast<int>(last + 1 - first),
                                 port.c_str(), static_cast<int>(port.size()), TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
    return false;
}

bool PrinterPortList(const std::wstring& printerName, std::wstring& ports) {
    ScopedPrinter printer;
    std::wstring name = printerName;
    SpoolerListing<PRINTER_INFO_2W> info;
    const auto get = [&printer](BYTE* data, DWORD size, DWORD* needed, DWORD* count) {
        *count = size > 0; // one record, once there is room for it
        return GetPrinterW(printer.Get(), 2, data, size, needed);
    };
    if (!OpenPrinterW(&name[0], printer.Out(), nullptr) || !info.Fill(get)) {
        return false;
    }
    ports = info.begin() == info.end() ? L"" : Text(info.begin()->pPortName);
    return true;
}

bool PrintersOnPorts(const std::vector<std::wstring>& ports, std::vector<PrinterOnPort>& found) {
    SpoolerListing<PRINTER_INFO_2W> printers;
    if (!printers.Fill(EnumPrintersW, PRINTER_ENUM_LOCAL, nullptr, 2)) {
        return false;
    }
    found.clear();
    for (const PRINTER_INFO_2W& printer : printers) {
        for (const std::wstring& port : ports) {
            if (PortListNames(Text(printer.pPortName), port)) {
                found.push_back({Text(printer.pPrinterName), port});
            }
        }
    }
    return true;
}

bool AddRawPrinter(const std::wstring& name, const std::wstring& port, const std::wstring& driver,
                   ScopedPrinter& printer, DWORD attributes, const std::wstring& shareName) {
    std::wstring printerName = name, portName = port, driverName = driver, share = shareName;
    std::wstring processor = L"winprint", datatype = L"RAW";
    PRINTER_INFO_2W info{};
    info.pPrinterName = &printerName[0];
    info.pPortName = &portName[0];
    info.pDriverName = &driverName[0];
    info.pPrintProcessor = &processor[0];
    info.pDatatype = &datatype[0];
    info.Attributes = attributes;
    info.pShareName = share.empty() ? nullptr : &share[0];
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
    // Each piece is written until it is gone; then the source gives the next.
    const char* data = nullptr;
    for (DWORD size = 0, written = 0;; data += written, size -= written) {
        if (size == 0 && !source(data, size)) {
            fail(L"cannot read the data of " + job);
            AbortPrinter(printer.Get());
            return result;
        }
        if (size == 0) {
            break;
        }
        if (!WritePrinter(printer.Get(), const_cast<char*>(data), size, &written) || written == 0) {
            fail(L"cannot write " + job);
            AbortPrinter(printer.Get());
            return result;
        }
        result.bytes += written;
    }
    if (!EndDocPrinter(printer.Get())) {
        return fail(L"the printer did not accept " + job);
    }
    return result;
}

} // namespace zeltools
