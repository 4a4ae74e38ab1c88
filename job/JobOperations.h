#pragma once

// The pure parts of starting a job: finding the job identifier in a document
// name and removing the editor prefixes from it.

#include <string>
#include <string_view>

namespace Brambleworth {
namespace Zel {
namespace PortMon {

// Length of a job identifier: that many hexadecimal digits.
constexpr std::size_t kJobIdLength = 16;

// Finds the first stretch between two "#%" delimiters that is exactly 16
// hexadecimal digits. A closing delimiter also opens the next candidate. On
// success `id` receives the digits in their own letter case.
bool FindJobId(std::wstring_view documentName, std::wstring& id);

// Removes a leading "Microsoft Word - ", then a leading "Microsoft Project - ",
// each at most once and in that order.
void StripEditorPrefixes(std::wstring& documentName);

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
