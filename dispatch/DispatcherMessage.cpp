#include "dispatch/DispatcherMessage.h"

#include <algorithm>

namespace Brambleworth {
namespace Zel {
namespace PortMon {

namespace {

bool IsPlain(const std::wstring& text) {
    return std::all_of(text.begin(), text.end(),
                       [](wchar_t unit) { return unit <= kLastPlainCodeUnit; });
}

} // namespace

std::wstring EncodeHex(const std::wstring& text) {
    // A fixed digit table rather than a formatted stream: the output must not
    // depend on any locale's digits or grouping.
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring encoded;
    encoded.reserve(text.size() * 4);
    for (wchar_t unit : text) {
        const unsigned value = static_cast<unsigned>(unit) & 0xFFFFu;
        encoded.push_back(kDigits[(value >> 12) & 0xF]);
        encoded.push_back(kDigits[(value >> 8) & 0xF]);
        encoded.push_back(kDigits[(value >> 4) & 0xF]);
        encoded.push_back(kDigits[value & 0xF]);
    }
    return encoded;
}

bool FitsPlainMessage(const std::wstring& documentName, const std::wstring& psFilePath) {
    return IsPlain(documentName) && IsPlain(psFilePath);
}

std::wstring BuildDispatcherCommandLine(const std::wstring& dispatcherCommand,
                                        const std::wstring& documentName,
                                        const std::wstring& psFilePath) {
    // Both fields always share one encoding, so the dispatcher decodes the
    // message by its keyword alone.
    const bool plain = FitsPlainMessage(documentName, psFilePath);
    const std::wstring first = plain ? documentName : EncodeHex(documentName);
    const std::wstring second = plain ? psFilePath : EncodeHex(psFilePath);

    std::wstring line;
    line.reserve(dispatcherCommand.size() + first.size() + second.size() + 32);
    line += dispatcherCommand;
    line += L' ';
    line += plain ? kPlainKeyword : kHexKeyword;
    line += L" \"";
    line += first;
    line += L"\" \"";
    line += second;
    line += L'"';
    return line;
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
