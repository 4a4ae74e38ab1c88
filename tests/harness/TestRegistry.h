#pragma once

// Registry set-up for tests: every test builds the keys it needs and removes
// them again, in the real registry of the test prefix.

#include <windows.h>

#include <string>
#include <vector>

namespace zeltest {

constexpr DWORD kPoison = 0xDEADBEEF;

void DeleteTree(HKEY root, const std::wstring& path);
void CreateKey(HKEY root, const std::wstring& path);
bool KeyExists(HKEY root, const std::wstring& path);
void SetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
            DWORD size);
void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value);
void SetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value);
// Reads a value; false when missing. `type` receives the stored type.
bool ReadValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& type,
               std::vector<BYTE>& data);
bool ReadString(HKEY root, const std::wstring& path, const wchar_t* name, std::wstring& value);
bool ReadDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& value);

std::wstring PortsKeyPath();
std::wstring PortKeyPath(const std::wstring& port);
std::wstring JobKeyPath(const std::wstring& id);

// Replaces the ports key by one holding exactly the given ports, each with the
// standard description, and removes it again when destroyed.
class ScopedPorts {
public:
    explicit ScopedPorts(const std::vector<std::wstring>& names = {});
    ~ScopedPorts();
    ScopedPorts(const ScopedPorts&) = delete;
    ScopedPorts& operator=(const ScopedPorts&) = delete;
    void Add(const std::wstring& name);
};

// A prepared job key under HKEY_CURRENT_USER, removed when destroyed.
class ScopedJobKey {
public:
    explicit ScopedJobKey(const std::wstring& id);
    ~ScopedJobKey();
    ScopedJobKey(const ScopedJobKey&) = delete;
    ScopedJobKey& operator=(const ScopedJobKey&) = delete;
    std::wstring Path() const { return JobKeyPath(id_); }

private:
    std::wstring id_;
};

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text); // code units up to U+00FF only

} // namespace zeltest
