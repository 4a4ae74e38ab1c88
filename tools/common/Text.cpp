#include "common/Text.h"

#include <algorithm>
#include <charconv>
#include <cwchar>

namespace zeltools {

namespace {

void Write(DWORD which, const std::wstring& text) {
    HANDLE stream = GetStdHandle(which);
    if (!stream || stream == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(stream, &mode)) {
        WriteConsoleW(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    std::string bytes = ToUtf8(text);
    WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

} // namespace

// By hand rather than through WideCharToMultiByte: what becomes of a lone
// surrogate is then the same on every system.
std::string ToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned long cp = static_cast<unsigned short>(text[i]);
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) +
                 (static_cast<unsigned short>(text[i + 1]) - 0xDC00);
            ++i;
        } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
            cp = 0xFFFD;
        }
        const int extra = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
        static const unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
        out.push_back(static_cast<char>(kLead[extra] | (cp >> (6 * extra))));
        for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6) {
            out.push_back(static_cast<char>(0x80 | ((cp >> shift) & 0x3F)));
        }
    }
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
    return result;
}

std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end = 0; start < bytes.size(); start = end + 1) {
        end = std::min(bytes.find('\n', start), bytes.size());
        lines.push_back(bytes.substr(start, end - start - (end > start && bytes[end - 1] == '\r')));
    }
    return lines;
}

std::wstring SystemText(DWORD code) {
    wchar_t buffer[512] = {};
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       buffer, static_cast<DWORD>(sizeof(buffer) / sizeof(buffer[0])), nullptr);
    std::wstring text(buffer, length);
    text.erase(text.find_last_not_of(L"\r\n ") + 1);
    return text.empty() ? L"unknown error" : text;
}

std::wstring ErrorText(const std::wstring& what, DWORD code) {
    return what + L": " + (code ? SystemText(code) : L"the system gave no reason") + L" (" +
           std::to_wstring(code) + L")";
}

bool ParseNumber(std::string_view text, unsigned long min, unsigned long max,
                 unsigned long& value) {
    unsigned long parsed = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, parsed);
    if (text.empty() || error != std::errc() || stop != end || parsed < min || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseNumber(std::wstring_view text, unsigned long min, unsigned long max,
                 unsigned long& value) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return ParseNumber(narrow, min, max, value);
}

std::wstring IsoTime(const SYSTEMTIME& utc) {
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth, utc.wDay,
             utc.wHour, utc.wMinute, utc.wSecond);
    return text;
}

void Out(const std::wstring& text) {
    Write(STD_OUTPUT_HANDLE, text);
}

void Err(const std::wstring& text) {
    Write(STD_ERROR_HANDLE, text);
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size ? GetFullPathNameW(path.c_str(), size, &full[0], nullptr) : 0;
    return length == 0 || length >= size ? path : full.substr(0, length);
}

} // namespace zeltools
