#pragma once

#include <windows.h>

#include <cstdint>

#include "registry/MonitorReg.h"

namespace Brambleworth {
namespace Zel {

// A registry key of the user-interface half, which runs outside the spooler and
// so always uses plain advapi32. The key lives in a shared, counted record.
class RegKey {
public:
    RegKey() = default;
    virtual ~RegKey();
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Takes ownership of an open key. Throws Error (code 2) when the record
    // cannot be allocated, after closing the key so that it does not leak.
    void CreateRef(HKEY key);
    // Drops this object's reference; the key closes with the last one.
    void Release();
    bool EnumSubKeys(NameList& names);

    bool HasRecord() const { return record_ != nullptr; }
    HKEY Key() const { return record_ ? record_->key : nullptr; }
    LONG LastResult() const { return lastResult_; }

private:
    struct Record {
        HKEY key;
        std::int32_t references;
        bool ownsKey;
    };
    Record* record_ = nullptr;
    LONG lastResult_ = ERROR_SUCCESS;
};

} // namespace Zel
} // namespace Brambleworth
