#pragma once

// Whole files and the ends of growing ones, read and written in one call.

#include <windows.h>

#include <string>

#include "common/Handles.h"

namespace zeltools {

// Opens a file for reading while others write, append to or delete it (a
// port log that the monitor keeps open); false with the last error set.
bool OpenShared(const std::wstring& path, ScopedHandle& file);
unsigned long long FileSize(const ScopedHandle& file);
// The file's bytes from `offset` to its current end.
std::string ReadFrom(const ScopedHandle& file, unsigned long long offset);
// The whole file; empty when it does not open.
std::string ReadFileBytes(const std::wstring& path);

// Writes `bytes` into the file as CreateFileW's `disposition` opens it
// (OPEN_ALWAYS appends); false with the last error set.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes, DWORD disposition);

} // namespace zeltools
