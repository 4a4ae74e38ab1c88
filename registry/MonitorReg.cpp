#include "registry/MonitorReg.h"

#include <memory>
#include <new>
#include <vector>

namespace Brambleworth {
namespace Zel {
namespace PortMon {

namespace {

// bad_alloc that says where the allocation failed.
class QueryValueOutOfMemory : public std::bad_alloc {
public:
    const char* what() const noexcept override {
        return "Brambleworth::Zel::PortMon::MonitorReg::QueryValue";
    }
};

HKEY AsHkey(HANDLE key) {
    return static_cast<HKEY>(key);
}

} // namespace

MonitorReg::MonitorReg(PMONITORINIT monitor) : monitor_(monitor) {}

MonitorReg::~MonitorReg() {
    Close();
}

bool MonitorReg::OpenKey(HANDLE parent, const wchar_t* subKey, REGSAM access) {
    Close();
    HANDLE key = kNoKey;
    LONG status;
    if (monitor_) {
        status = Table().fpOpenKey(parent, subKey, access, &key, monitor_->hSpooler);
    } else {
        HKEY opened = nullptr;
        status = RegOpenKeyExW(AsHkey(parent), subKey, 0, access, &opened);
        key = opened;
    }
    key_ = status == ERROR_SUCCESS ? key : kNoKey;
    return Record(status);
}

bool MonitorReg::OpenKey(const MonitorReg& parent, const wchar_t* subKey) {
    return OpenKey(parent.key_, subKey, KEY_READ);
}

bool MonitorReg::CreateKey(const wchar_t* subKey) {
    Close();
    HANDLE key = kNoKey;
    LONG status;
    if (monitor_) {
        status = Table().fpCreateKey(HKEY_LOCAL_MACHINE, subKey, 0, KEY_ALL_ACCESS, nullptr, &key,
                                     nullptr, monitor_->hSpooler);
    } else {
        HKEY created = nullptr;
        status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS, nullptr, &created, nullptr);
        key = created;
    }
    key_ = status == ERROR_SUCCESS ? key : kNoKey;
    return Record(status);
}

bool MonitorReg::Close() {
    if (!IsOpen()) {
        return true;
    }
    LONG status =
        monitor_ ? Table().fpCloseKey(key_, monitor_->hSpooler) : RegCloseKey(AsHkey(key_));
    if (status == ERROR_SUCCESS) {
        key_ = kNoKey;
    }
    return Record(status);
}

bool MonitorReg::DeleteSubKey(const wchar_t* name) {
    lastResult_ = ERROR_SUCCESS;
    if (!IsOpen()) {
        return false;
    }
    LONG status = monitor_ ? Table().fpDeleteKey(key_, name, monitor_->hSpooler)
                           : RegDeleteKeyW(AsHkey(key_), name);
    return Record(status);
}

bool MonitorReg::EnumSubKeys(NameList& names) {
    lastResult_ = ERROR_SUCCESS;
    if (!IsOpen()) {
        return false;
    }
    names.clear();
    DWORD longest = 0;
    LONG status = monitor_
                      ? Table().fpQueryInfoKey(key_, nullptr, &longest, nullptr, nullptr, nullptr,
                                               nullptr, nullptr, monitor_->hSpooler)
                      : RegQueryInfoKeyW(AsHkey(key_), nullptr, nullptr, nullptr, nullptr, &longest,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!Record(status)) {
        return false;
    }
    const DWORD capacity = longest + 1;
    std::vector<wchar_t> buffer(capacity + 1);
    for (DWORD index = 0;; ++index) {
        if (monitor_) {
            DWORD count = capacity;
            FILETIME written;
            status =
                Table().fpEnumKey(key_, index, buffer.data(), &count, &written, monitor_->hSpooler);
        } else {
            status = RegEnumKeyW(AsHkey(key_), index, buffer.data(), capacity);
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(buffer.data());
    }
    if (status == ERROR_NO_MORE_ITEMS) {
        lastResult_ = ERROR_SUCCESS;
    } else {
        names.clear();
        lastResult_ = status;
    }
    return lastResult_ == ERROR_SUCCESS;
}

bool MonitorReg::SetValue(const wchar_t* name, const std::wstring& data) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(data.c_str());
    const DWORD size = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    LONG status = monitor_ ? Table().fpSetValue(key_, name, REG_SZ, bytes, size, monitor_->hSpooler)
                           : RegSetValueExW(AsHkey(key_), name, 0, REG_SZ, bytes, size);
    return Record(status);
}

bool MonitorReg::SetValue(const wchar_t* name, DWORD data) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&data);
    LONG status =
        monitor_ ? Table().fpSetValue(key_, name, REG_DWORD, bytes, sizeof data, monitor_->hSpooler)
                 : RegSetValueExW(AsHkey(key_), name, 0, REG_DWORD, bytes, sizeof data);
    return Record(status);
}

bool MonitorReg::QueryValue(const wchar_t* name, std::wstring& data) {
    DWORD size = 100;
    for (;;) {
        std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
        if (!buffer) {
            throw QueryValueOutOfMemory();
        }
        DWORD type = REG_NONE;
        LONG status =
            monitor_
                ? Table().fpQueryValue(key_, name, &type, buffer.get(), &size, monitor_->hSpooler)
                : RegQueryValueExW(AsHkey(key_), name, nullptr, &type, buffer.get(), &size);
        bool result = Record(status);
        if (result) {
            if (type == REG_SZ) {
                std::wstring text(reinterpret_cast<const wchar_t*>(buffer.get()),
                                  size / sizeof(wchar_t));
                if (!text.empty() && text.back() == L'\0') {
                    text.pop_back();
                }
                data = std::move(text);
            } else {
                // Any other type reads as absent, but the call itself worked.
                lastResult_ = ERROR_SUCCESS;
                result = false;
            }
        }
        if (lastResult_ != ERROR_MORE_DATA) {
            return result;
        }
    }
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
