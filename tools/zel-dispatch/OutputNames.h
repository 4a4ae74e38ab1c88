#pragma once

// Where zel-dispatch files a job: the output folder, and a file name that
// Windows accepts and that still reads like the document's name.

#include <string>

namespace zeldispatch {

// Documents\Zel Jobs of the printing user (the temporary folder's when the
// user has no Documents folder).
std::wstring DefaultOutDir();

// Creates every missing folder along the path; true when the last one is
// there.
bool EnsureDirectory(const std::wstring& path);

// A file name stem that Windows accepts and that still reads like the
// document name: reserved characters, control characters and unpaired
// surrogates become '_', device names are defused, the length is bounded.
std::wstring SafeFileStem(const std::wstring& document);

// The stem with a collision counter: "name", "name (2)", "name (3)", ...
std::wstring NumberedStem(const std::wstring& stem, unsigned attempt);

} // namespace zeldispatch
