#pragma once

// One owner for each kind of Windows resource the programs hold: it releases
// the resource on every path and cannot be copied.

#include <windows.h>
#include <winspool.h>

namespace zeltools {

template <typename T, auto Release> class Owned {
public:
    Owned() = default;
    explicit Owned(T value) : value_(value) {}
    ~Owned() { Reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    T Get() const { return value_; }
    // Both null and INVALID_HANDLE_VALUE mean "none": APIs differ in which
    // one they return on failure.
    bool Valid() const {
        return value_ && static_cast<const void*>(value_) != INVALID_HANDLE_VALUE;
    }
    // For APIs that return the resource through a pointer.
    T* Out() {
        Reset();
        return &value_;
    }
    void Reset(T value = T()) {
        if (Valid()) {
            Release(value_);
        }
        value_ = value;
    }

private:
    T value_ = T();
};

using ScopedHandle = Owned<HANDLE, &CloseHandle>; // file, process, thread
using ScopedKey = Owned<HKEY, &RegCloseKey>;
using ScopedPrinter = Owned<HANDLE, &ClosePrinter>;
using ScopedLibrary = Owned<HMODULE, &FreeLibrary>;
using ScopedGlobal = Owned<wchar_t*, &GlobalFree>; // text the callee allocated with GlobalAlloc

} // namespace zeltools
