#pragma once

// The message that hands an unsolicited job to the print dispatcher. The
// command line is the only contract between the monitor and the dispatcher, so
// its text is fixed to the character: no escaping, no trailing blank.

#include <string>

namespace Brambleworth {
namespace Zel {
namespace PortMon {

// Keywords that open the message and name how its two fields are written.
constexpr const wchar_t* kPlainKeyword = L"Zel::Create::Plain";
constexpr const wchar_t* kHexKeyword = L"Zel::Create::Hex";

// Highest code unit that the plain form carries; anything above switches the
// whole message to hex, because the dispatcher may not read the rest reliably
// from a command line.
constexpr wchar_t kLastPlainCodeUnit = 0x7E;

// Each UTF-16 code unit as four lower-case hex digits, most significant first,
// without separators. Surrogate pairs stay two units, so two groups.
std::wstring EncodeHex(const std::wstring& text);

// True when every code unit of both fields can go into the plain form.
bool FitsPlainMessage(const std::wstring& documentName, const std::wstring& psFilePath);

// The whole command line: the dispatcher command as stored (it may carry its
// own quotes and arguments), the keyword, then the document name and the PS
// file path, each in double quotes.
std::wstring BuildDispatcherCommandLine(const std::wstring& dispatcherCommand,
                                        const std::wstring& documentName,
                                        const std::wstring& psFilePath);

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
