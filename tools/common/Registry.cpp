#include "common/Registry.h"

#include "common/Handles.h"

namespace zeltools {

std::vector<std::wstring> SubKeyNames(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> names;
    ScopedKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS) {
        return names;
    }
    std::vector<wchar_t> buffer(512);
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        LONG status = RegEnumKeyExW(key.Get(), index, buffer.data(), &length, nullptr, nullptr,
                                    nullptr, nullptr);
        if (status == ERROR_MORE_DATA) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(buffer.data(), length);
        ++index;
    }
    return names;
}

bool QueryString(HKEY key, const wchar_t* name, std::wstring& value) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    value.assign(buffer.data());
    return true;
}

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

} // namespace zeltools
