#include "common/AdvapiRegistry.h"

namespace zeltools {

namespace {

HKEY K(HANDLE key) {
    return static_cast<HKEY>(key);
}

LONG WINAPI CreateKey(HANDLE parent, LPCWSTR subKey, DWORD options, REGSAM access,
                      PSECURITY_ATTRIBUTES security, PHANDLE result, PDWORD disposition, HANDLE) {
    return RegCreateKeyExW(K(parent), subKey, 0, nullptr, options, access, security,
                           reinterpret_cast<PHKEY>(result), disposition);
}

LONG WINAPI OpenKey(HANDLE parent, LPCWSTR subKey, REGSAM access, PHANDLE result, HANDLE) {
    return RegOpenKeyExW(K(parent), subKey, 0, access, reinterpret_cast<PHKEY>(result));
}

LONG WINAPI CloseKey(HANDLE key, HANDLE) {
    return RegCloseKey(K(key));
}

LONG WINAPI DeleteKey(HANDLE key, LPCWSTR subKey, HANDLE) {
    return RegDeleteKeyW(K(key), subKey);
}

LONG WINAPI EnumKey(HANDLE key, DWORD index, LPWSTR name, PDWORD nameLength, PFILETIME written,
                    HANDLE) {
    return RegEnumKeyExW(K(key), index, name, nameLength, nullptr, nullptr, nullptr, written);
}

LONG WINAPI QueryInfoKey(HANDLE key, PDWORD subKeys, PDWORD maxSubKeyLength, PDWORD values,
                         PDWORD maxValueNameLength, PDWORD maxValueLength,
                         PDWORD securityDescriptor, PFILETIME written, HANDLE) {
    return RegQueryInfoKeyW(K(key), nullptr, nullptr, nullptr, subKeys, maxSubKeyLength, nullptr,
                            values, maxValueNameLength, maxValueLength, securityDescriptor,
                            written);
}

LONG WINAPI SetValue(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD size, HANDLE) {
    return RegSetValueExW(K(key), name, 0, type, data, size);
}

LONG WINAPI DeleteValue(HANDLE key, LPCWSTR name, HANDLE) {
    return RegDeleteValueW(K(key), name);
}

LONG WINAPI EnumValue(HANDLE key, DWORD index, LPWSTR name, PDWORD nameLength, PDWORD type,
                      PBYTE data, PDWORD dataSize, HANDLE) {
    return RegEnumValueW(K(key), index, name, nameLength, nullptr, type, data, dataSize);
}

LONG WINAPI QueryValue(HANDLE key, LPCWSTR name, PDWORD type, PBYTE data, PDWORD size, HANDLE) {
    return RegQueryValueExW(K(key), name, nullptr, type, data, size);
}

MONITORREG table = {
    sizeof(MONITORREG), CreateKey, OpenKey,     CloseKey,  DeleteKey,  EnumKey,
    QueryInfoKey,       SetValue,  DeleteValue, EnumValue, QueryValue,
};

} // namespace

MONITORREG* AdvapiMonitorRegistry() {
    return &table;
}

} // namespace zeltools
