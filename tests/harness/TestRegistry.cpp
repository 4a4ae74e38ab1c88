#include "harness/TestRegistry.h"

#include <stdexcept>

#include "registry/RegistryLayout.h"

namespace zeltest {

namespace {
void Check(LONG status, const char* what) {
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(status));
    }
}
} // namespace

void DeleteTree(HKEY root, const std::wstring& path) {
    LONG status = RegDeleteTreeW(root, path.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
        RegDeleteKeyW(root, path.c_str());
        return;
    }
    Check(status, "RegDeleteTreeW");
}

void CreateKey(HKEY root, const std::wstring& path) {
    HKEY key;
    Check(
        RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        "RegCreateKeyExW");
    RegCloseKey(key);
}

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

void SetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
            DWORD size) {
    HKEY key;
    Check(
        RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        "RegCreateKeyExW");
    LONG status = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    Check(status, "RegSetValueExW");
}

void SetString(HKEY root, const std::wstring& path, const wchar_t* name,
               const std::wstring& value) {
    SetRaw(root, path, name, REG_SZ, value.c_str(),
           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void SetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value) {
    SetRaw(root, path, name, REG_DWORD, &value, sizeof value);
}

bool ReadValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& type,
               std::vector<BYTE>& data) {
    DWORD size = 0;
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    data.resize(size);
    return RegGetValueW(root, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type,
                        size ? data.data() : nullptr, &size) == ERROR_SUCCESS;
}

bool ReadString(HKEY root, const std::wstring& path, const wchar_t* name, std::wstring& value) {
    DWORD type;
    std::vector<BYTE> data;
    if (!ReadValue(root, path, name, type, data) || type != REG_SZ) {
        return false;
    }
    data.resize(data.size() + sizeof(wchar_t)); // up to the first NUL, stored or not
    value = reinterpret_cast<const wchar_t*>(data.data());
    return true;
}

bool ReadDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& value) {
    DWORD size = sizeof value;
    return RegGetValueW(root, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) ==
           ERROR_SUCCESS;
}

std::wstring PortsKeyPath() {
    return Brambleworth::Zel::Registry::kPortsKeyPath;
}
std::wstring PortKeyPath(const std::wstring& port) {
    return PortsKeyPath() + L"\\" + port;
}
std::wstring JobKeyPath(const std::wstring& id) {
    return std::wstring(Brambleworth::Zel::Registry::kJobsKeyPath) + L"\\" + id;
}

ScopedPorts::ScopedPorts(const std::vector<std::wstring>& names) {
    DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());
    CreateKey(HKEY_LOCAL_MACHINE, PortsKeyPath());
    for (const std::wstring& name : names) {
        Add(name);
    }
}

ScopedPorts::~ScopedPorts() {
    DeleteTree(HKEY_LOCAL_MACHINE, PortsKeyPath());
}

void ScopedPorts::Add(const std::wstring& name) {
    SetString(HKEY_LOCAL_MACHINE, PortKeyPath(name), L"Description",
              Brambleworth::Zel::Registry::kPortDescription);
}

ScopedJobKey::ScopedJobKey(const std::wstring& id) : id_(id) {
    DeleteTree(HKEY_CURRENT_USER, Path());
    CreateKey(HKEY_CURRENT_USER, Path());
}

ScopedJobKey::~ScopedJobKey() {
    DeleteTree(HKEY_CURRENT_USER, Path());
}

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    for (char c : text) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow.push_back(static_cast<char>(c));
    }
    return narrow;
}

} // namespace zeltest
