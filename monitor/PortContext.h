#pragma once

// The port object behind a port handle: the port's log stream and the state of
// the job that currently runs on the port.

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "monitor/PortLog.h"
#include "monitor/Resources.h"
#include "registry/MonitorReg.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

// Created by OpenPort, destroyed by ClosePort. The object is itself the port's
// log: the log writers take it as their stream. StartDocPort, WritePort and
// EndDocPort hold `lock` for their whole run and read and write the job fields
// directly.
class PortContext : public std::wofstream {
public:
    // Builds an idle port object and opens the port's log. A log that cannot be
    // opened stays silent; the object is usable all the same.
    PortContext(PMONITORINIT monitorHandle, const wchar_t* name);
    ~PortContext() override;
    PortContext(const PortContext&) = delete;
    PortContext& operator=(const PortContext&) = delete;

    // Returns every job field to idle, closing the PS file stream (the file on
    // disk stays), the user token and the job key.
    void ResetJob();

    // Resets the job and records its printer, job id and document name (with a
    // leading editor prefix removed). Null strings become empty.
    void SetJobIdentity(const wchar_t* printer, DWORD id, const wchar_t* document);

    // Keeps a primary duplicate of the calling thread's token in `userToken`;
    // a thread without a token leaves it absent. Never fails the job.
    void CaptureUserToken();

    // Ends a failed job: deletes its PS file, records `code` as the job key's
    // "ErrorCode" when the job has an open job key, and resets the job.
    void FailJob(std::uint32_t code);

    // The log buffer under the stream (tests look at whether it broke).
    const LogFileBuffer& LogBuffer() const { return logBuffer_; }

    CriticalSection lock;
    const std::wstring portName;
    PMONITORINIT const monitor;
    std::wstring printerName;
    std::uint32_t jobId = 0;
    std::wstring documentName;
    std::wstring psFilePath;
    CFile psFile;
    KernelHandle userToken; // INVALID_HANDLE_VALUE when absent
    bool jobKeyWanted = true;
    MonitorReg jobKey;
    std::uint32_t jobError = 0;

private:
    LogFileBuffer logBuffer_;
};

// The log file of a port: the temporary directory, then
// "Brambleworth.Zel.3.PortMon.<port>.log", the port name used as given.
std::wstring LogFileName(const std::wstring& tempDirectory, const std::wstring& portName);

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
