#pragma once

// Reading and writing the registry values and keys the programs share with
// the monitor.

#include <windows.h>

#include <string>
#include <vector>

namespace zeltools {

// The names of a key's subkeys in the registry's order; none when the key
// does not open.
std::vector<std::wstring> SubKeyNames(HKEY root, const std::wstring& path);

// A REG_SZ value; false when it is missing or of another type.
bool QueryString(HKEY key, const wchar_t* name, std::wstring& value);
// The registry's status code.
LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value);

} // namespace zeltools
