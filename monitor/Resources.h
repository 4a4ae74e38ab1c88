#pragma once

// Owning wrappers for the Windows and runtime resources that the port object
// and the job operations hold. Each releases its resource exactly once, on every
// path, so that no caller has to remember a CloseHandle or fclose.

#include <windows.h>

#include <cstdio>
#include <utility>

namespace Brambleworth {
namespace Zel {
namespace PortMon {

// A kernel handle (token, process, thread, file). "None" is
// INVALID_HANDLE_VALUE, the value the port object's fields use for an absent
// handle; a null handle is treated as absent as well when releasing.
class KernelHandle {
public:
    KernelHandle() = default;
    explicit KernelHandle(HANDLE handle) : handle_(handle) {}
    ~KernelHandle() { Close(); }
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;
    KernelHandle(KernelHandle&& other) noexcept : handle_(other.Release()) {}
    KernelHandle& operator=(KernelHandle&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = other.Release();
        }
        return *this;
    }

    HANDLE Get() const { return handle_; }
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

    // Closes what is held and hands out the field for an API that writes a new
    // handle into it.
    HANDLE* Receive() {
        Close();
        return &handle_;
    }

    HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

    void Close() {
        if (IsOpen()) {
            CloseHandle(handle_);
        }
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// A runtime file stream (the job's PS file).
class CFile {
public:
    CFile() = default;
    explicit CFile(std::FILE* file) : file_(file) {}
    ~CFile() { Close(); }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    std::FILE* Get() const { return file_; }
    bool IsOpen() const { return file_ != nullptr; }
    explicit operator bool() const { return IsOpen(); }

    void Reset(std::FILE* file) {
        Close();
        file_ = file;
    }

    // Returns fclose's result (0 when nothing was open).
    int Close() {
        int result = 0;
        if (file_) {
            result = std::fclose(file_);
            file_ = nullptr;
        }
        return result;
    }

private:
    std::FILE* file_ = nullptr;
};

// A Windows critical section that lives exactly as long as its owner. It meets
// the standard Lockable requirements, so std::lock_guard holds it.
class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void lock() { EnterCriticalSection(&section_); }
    void unlock() { LeaveCriticalSection(&section_); }
    bool try_lock() { return TryEnterCriticalSection(&section_) != FALSE; }

private:
    CRITICAL_SECTION section_;
};

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
