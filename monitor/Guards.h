#pragma once

// The conversions from exceptions to results at the library's boundary, one
// helper per kind of entry point. Each entry point wraps its body in exactly one
// of these, so no exception ever reaches the spooler or the administering process.

#include <windows.h>

#include <new>

#include "monitor/Error.h"

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
template <class Body> DWORD GuardXcvCommand(Body&& body) noexcept {
    try {
        return body();
    } catch (const Error& error) {
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

} // namespace Zel
} // namespace Brambleworth
