#pragma once

// The conversions from exceptions to results at the library's boundary, one
// helper per kind of entry point. Each entry point wraps its body in exactly one
// of these, so no exception ever reaches the spooler or the administering process.

#include <windows.h>

#include <new>
#include <utility>

#include "monitor/Error.h"
#include "monitor/PortContext.h"
#include "monitor/PortLog.h"

namespace Brambleworth {
namespace Zel {

// The allocation status that a bare status code may carry.
constexpr unsigned long kStatusNoMemory = 0xC0000017UL;

// OpenPort: an Error is not expected here and counts as an internal failure.
template <class Body> BOOL GuardPortOpen(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (unsigned long status) {
        SetLastError(status == kStatusNoMemory ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INTERNAL_ERROR);
    } catch (...) {
        SetLastError(ERROR_INTERNAL_ERROR);
    }
    return FALSE;
}

// EnumPorts and XcvOpenPort: any failure is a plain FALSE, last error untouched.
template <class Body> BOOL GuardSilent(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return FALSE;
    }
}

// XcvDataPort's commands report through their result, never the last error.
// An Error normally carries the system's code behind it; one without (the
// port-existence check running out of memory, code 2, or failing otherwise,
// code 1) must not turn into ERROR_SUCCESS, which would tell the client that
// the command was carried out.
template <class Body> DWORD GuardXcvCommand(Body&& body) noexcept {
    try {
        return body();
    } catch (const Error& error) {
        if (error.FrameCount() && error.SystemError() == 0) {
            if (error.Code() == 2) {
                return ERROR_NOT_ENOUGH_MEMORY;
            }
            if (error.Code() == 1) {
                return ERROR_INTERNAL_ERROR;
            }
        }
        return error.SystemError();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_INTERNAL_ERROR;
    }
}

// The user-interface half: everything becomes FALSE plus a last error, and the
// half throws bare Windows codes as unsigned long.
template <class Body> BOOL GuardUserInterface(Body&& body) noexcept {
    try {
        return body();
    } catch (const Error& error) {
        SetLastError(error.SystemError());
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (unsigned long code) {
        SetLastError(code);
    } catch (...) {
        SetLastError(ERROR_INTERNAL_ERROR);
    }
    return FALSE;
}

namespace Detail {
// A log line written while a failure is being handled must not turn that
// handling into a second failure: if composing it runs out of memory, the line
// is simply lost.
template <class Write> void LogQuietly(Write&& write) noexcept {
    try {
        write();
    } catch (...) {
    }
}
} // namespace Detail

// What a job guard writes and sets for the two failures that carry no frame of
// their own; the rest of the handling is the same for the job's start and end.
struct JobGuardRow {
    const char* function;
    int outOfMemoryLine;
    int unknownLine;
    bool setsOutOfMemoryError;
};

// StartDocPort: only out of memory sets a last error, before the job is failed.
constexpr JobGuardRow kJobStartGuard{PortMon::kStartDocPortName, 852, 859, true};
// EndDocPort sets no last error at all.
constexpr JobGuardRow kJobEndGuard{PortMon::kEndDocPortName, 999, 1005, false};

// StartDocPort and EndDocPort, after their null-handle test and with the
// port's lock held by the caller: a failure is logged, the job is failed (its
// PS file deleted, its job key told the error number) and the result is FALSE.
template <class Body>
BOOL GuardJob(PortMon::PortContext& port, const JobGuardRow& row, Body&& body) noexcept {
    try {
        return body();
    } catch (const Error& error) {
        Detail::LogQuietly([&] { PortMon::WriteErrorLine(port, error); });
        port.FailJob(error.Code());
    } catch (const std::bad_alloc&) {
        Detail::LogQuietly([&] {
            PortMon::WriteLogLine(port, row.function, row.outOfMemoryLine, PortMon::LogLevel::Error,
                                  0, L"not enough memory to complete operation");
        });
        if (row.setsOutOfMemoryError) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        }
        port.FailJob(2);
    } catch (...) {
        Detail::LogQuietly([&] {
            PortMon::WriteLogLine(port, row.function, row.unknownLine, PortMon::LogLevel::Error, 0,
                                  L"unknown exception raised");
        });
        port.FailJob(1);
    }
    return FALSE;
}

template <class Body> BOOL GuardJobStart(PortMon::PortContext& port, Body&& body) noexcept {
    return GuardJob(port, kJobStartGuard, std::forward<Body>(body));
}

template <class Body> BOOL GuardJobEnd(PortMon::PortContext& port, Body&& body) noexcept {
    return GuardJob(port, kJobEndGuard, std::forward<Body>(body));
}

// WritePort, ReadPort and ClosePort convert nothing, but composing one of their
// log lines can run out of memory; that must not reach the spooler.
template <class Body> BOOL GuardPortIo(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        SetLastError(ERROR_INTERNAL_ERROR);
    }
    return FALSE;
}

} // namespace Zel
} // namespace Brambleworth
