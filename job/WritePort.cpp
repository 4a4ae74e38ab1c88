#include <cerrno>
#include <cstdio>
#include <mutex>

#include "monitor/EntryPoints.h"
#include "monitor/Guards.h"
#include "monitor/PortContext.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

namespace {

BOOL WriteChunk(PortContext& port, LPBYTE buffer, DWORD size, LPDWORD written) {
    WriteLogLine(port, kWritePortName, 879, LogLevel::Normal, 0, L"...");
    if (!port.psFile) {
        // No job to write into. errno is whatever an earlier call left; it is
        // logged as a hint, looked up like a Windows code.
        const int error = errno;
        WriteLogLine(port, kWritePortName, 882, LogLevel::Error, static_cast<std::uint32_t>(error),
                     L"inconsistency: ");
        port.jobError = 7;
        return FALSE;
    }
    // The print stream goes to the file as it is: one buffered write, no copy.
    const std::size_t taken = std::fwrite(buffer, 1, size, port.psFile.Get());
    *written = static_cast<DWORD>(taken);
    if (taken == size) {
        WriteLogLine(port, kWritePortName, 892, LogLevel::Normal, 0, L"done");
        return TRUE;
    }
    const int error = errno;
    WriteLogLine(port, kWritePortName, 888, LogLevel::Error, static_cast<std::uint32_t>(error),
                 L"fwrite() failed: ");
    // The job goes on; the error number waits for the job's end.
    port.jobError = 16;
    return FALSE;
}

} // namespace

BOOL WINAPI WritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    if (!hPort) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    PortContext& port = *static_cast<PortContext*>(hPort);
    std::lock_guard<CriticalSection> hold(port.lock);
    return GuardPortIo([&] { return WriteChunk(port, pBuffer, cbBuf, pcbWritten); });
}

BOOL WINAPI ReadPort(HANDLE hPort, LPBYTE, DWORD, LPDWORD pcbRead) {
    if (!hPort) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    PortContext& port = *static_cast<PortContext*>(hPort);
    // The port has nothing to read back: it always reports no data, and fails.
    GuardPortIo([&] {
        WriteLogLine(port, kReadPortName, 910, LogLevel::Normal, 0, L"...");
        *pcbRead = 0;
        WriteLogLine(port, kReadPortName, 913, LogLevel::Normal, 0, L"done");
        return TRUE;
    });
    return FALSE;
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
