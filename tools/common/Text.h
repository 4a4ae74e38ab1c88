#pragma once

// Text as the programs read and write it: UTF-8, the system's wording for
// error codes, whole numbers, console output and paths.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace zeltools {

inline bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
inline bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// UTF-8 of UTF-16 text; an unpaired surrogate, which UTF-8 cannot hold,
// becomes U+FFFD.
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(const std::string& text);

// The text's lines, without their LF or CR LF; a last line without its line
// end (one still being written) counts as a line.
std::vector<std::string> SplitLines(const std::string& text);

// The system's wording for a Windows error code, without the trailing line
// break; "unknown error" when the system has none.
std::wstring SystemText(DWORD code);

// "<what>: <system text> (<code>)", the one shape of every failure line. Code
// 0 reads "the system gave no reason": Wine's spooler can fail without one.
std::wstring ErrorText(const std::wstring& what, DWORD code);

// A whole number of decimal digits only (no sign, no blanks) from `min` to
// `max`; false for anything else.
bool ParseNumber(std::string_view text, unsigned long min, unsigned long max, unsigned long& value);
bool ParseNumber(std::wstring_view text, unsigned long min, unsigned long max,
                 unsigned long& value);

// Writes to stdout/stderr: as wide text on a console, as UTF-8 when redirected
// to a file or pipe (where WriteConsoleW would fail).
void Out(const std::wstring& text);
void Err(const std::wstring& text);

// Full path of a file, or the input unchanged when it cannot be resolved.
std::wstring FullPath(const std::wstring& path);

} // namespace zeltools
