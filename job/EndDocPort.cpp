#include <mutex>
#include <string>

#include "admin/PrinterHandle.h"
#include "dispatch/MessageTransport.h"
#include "monitor/EntryPoints.h"
#include "monitor/Guards.h"
#include "monitor/PortContext.h"
#include "registry/MonitorReg.h"
#include "registry/RegistryLayout.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

namespace {

void Log(PortContext& port, int line, const wchar_t* message) {
    WriteLogLine(port, kEndDocPortName, line, LogLevel::Normal, 0, message);
}

// The spooler learns first that the job has gone to the device, before
// anything else becomes of the job. A printer that no longer opens only means
// that there is nobody to tell.
void TellSpoolerJobSent(const PortContext& port) {
    PrinterHandle printer(port.printerName.c_str());
    if (printer.IsOpen()) {
        SetJobW(printer.Get(), port.jobId, 0, nullptr, JOB_CONTROL_SENT_TO_PRINTER);
    }
}

// A solicited job is taken over by the program that prepared its job key: it
// finds the PS file's path and the job's error number there.
void RecordInJobKey(PortContext& port) {
    MonitorReg& key = port.jobKey;
    key.SetLastResult(ERROR_SUCCESS);
    if (!key.IsOpen() || !key.SetValue(Registry::kPSFilePathValue, port.psFilePath)) {
        throw Error(30, kEndDocPortName, 957, static_cast<std::uint32_t>(key.LastResult()),
                    "failed to set PS file path");
    }
    key.SetLastResult(ERROR_SUCCESS);
    if (key.IsOpen()) {
        key.SetValue(Registry::kErrorCodeValue, static_cast<DWORD>(port.jobError));
    }
    key.Close();
}

// The port key names the dispatcher; it is open only for this read, so it is
// closed again before the dispatcher starts.
std::wstring ReadDispatcherCommand(const PortContext& port) {
    MonitorReg portKey(port.monitor);
    const std::wstring path = std::wstring(Registry::kPortsKeyPath) + L"\\" + port.portName;
    if (!portKey.OpenKey(HKEY_LOCAL_MACHINE, path.c_str(), Registry::kReadAccess)) {
        throw Error(43, kEndDocPortName, 976, static_cast<std::uint32_t>(portKey.LastResult()),
                    "failed to open port reg key");
    }
    portKey.SetLastResult(ERROR_SUCCESS);
    std::wstring command;
    if (!portKey.QueryValue(Registry::kPrintDispatcherFilePathValue, command)) {
        throw Error(7, kEndDocPortName, 980, static_cast<std::uint32_t>(portKey.LastResult()),
                    "failed to get print dispatcher's path");
    }
    return command;
}

BOOL EndJob(PortContext& port) {
    Log(port, 932, L"...");
    TellSpoolerJobSent(port);
    // Whoever takes the job over must find the whole stream on disk.
    port.psFile.Close();

    if (port.jobKeyWanted) {
        RecordInJobKey(port);
    } else {
        Log(port, 967, L"launching print dipatcher...");
        const std::wstring command = ReadDispatcherCommand(port);
        MessageTransport::Send(command, port);
        Log(port, 985, L"print dispatcher successfully launched");
    }

    Log(port, 987, L"done");
    // The PS file now belongs to the job key's reader or to the dispatcher.
    port.ResetJob();
    return TRUE;
}

} // namespace

BOOL WINAPI EndDocPort(HANDLE hPort) {
    if (!hPort) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    PortContext& port = *static_cast<PortContext*>(hPort);
    // Held through the dispatcher's launch as well: the next job on this port
    // must not start while this one is still being handed on.
    std::lock_guard<CriticalSection> hold(port.lock);
    return GuardJobEnd(port, [&] { return EndJob(port); });
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
