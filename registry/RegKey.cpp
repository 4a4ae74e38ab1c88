#include "registry/RegKey.h"

#include <new>
#include <vector>

#include "monitor/Error.h"

namespace Brambleworth {
namespace Zel {

namespace {
const HKEY kNoKey = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
}

RegKey::~RegKey() {
    Release();
}

void RegKey::CreateRef(HKEY key) {
    Record* record = new (std::nothrow) Record{key, 1, true};
    if (!record) {
        RegCloseKey(key);
        throw Error(2, "Brambleworth::Zel::RegKey::CreateRef", 24, 0, std::string());
    }
    record_ = record;
}

void RegKey::Release() {
    if (!record_) {
        return;
    }
    if (record_->references-- == 1) {
        if (record_->key != kNoKey && record_->ownsKey) {
            RegCloseKey(record_->key);
        }
        delete record_;
    }
    record_ = nullptr;
}

bool RegKey::EnumSubKeys(NameList& names) {
    lastResult_ = ERROR_SUCCESS;
    if (!record_ || record_->key == kNoKey) {
        lastResult_ = ERROR_INVALID_HANDLE;
        return false;
    }
    DWORD longest = 0;
    lastResult_ = RegQueryInfoKeyW(record_->key, nullptr, nullptr, nullptr, nullptr, &longest,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (lastResult_ != ERROR_SUCCESS) {
        return false;
    }
    const DWORD capacity = longest + 1;
    std::vector<wchar_t> buffer(capacity + 1);
    names.clear();
    for (DWORD index = 0;; ++index) {
        LONG status = RegEnumKeyW(record_->key, index, buffer.data(), capacity);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status != ERROR_SUCCESS) {
            names.clear();
            lastResult_ = status;
            return false;
        }
        names.emplace_back(buffer.data());
    }
    lastResult_ = ERROR_SUCCESS;
    return true;
}

} // namespace Zel
} // namespace Brambleworth
