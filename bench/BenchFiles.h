#pragma once

// The files that the benchmarks write, read back and check.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"

namespace zelbench {

// Full paths of the files in `directory` whose names match `pattern`.
std::vector<std::wstring> FilesIn(const std::wstring& directory, const std::wstring& pattern);
// Deletes every file in `directory` whose name matches `pattern`.
void DeleteFiles(const std::wstring& directory, const std::wstring& pattern);

// Whether the file holds exactly `size` bytes of the pattern's stream; when
// not, `why` says where it differs.
bool FileHoldsStream(const std::wstring& path, const StreamPattern& pattern, std::uint64_t size,
                     std::string& why);
// The file's whole contents (empty when it cannot be read).
std::string ReadWholeFile(const std::wstring& path);

// Narrow text for messages; characters above U+007F become '?'.
std::string Ascii(const std::wstring& text);

} // namespace zelbench
