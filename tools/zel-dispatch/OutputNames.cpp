#include "zel-dispatch/OutputNames.h"

#include <windows.h>
#include <shlobj.h>

#include "common/Text.h"

namespace zeldispatch {

using zeltools::IsHighSurrogate;
using zeltools::IsLowSurrogate;

std::wstring DefaultOutDir() {
    wchar_t documents[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, documents))) {
        return std::wstring(documents) + L"\\Zel Jobs";
    }
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"Zel Jobs";
}

bool EnsureDirectory(const std::wstring& path) {
    SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring SafeFileStem(const std::wstring& document) {
    constexpr size_t kMaxLength = 80;
    static const std::wstring kReserved = L"<>:\"/\\|?*";

    std::wstring stem;
    for (size_t i = 0; i < document.size(); ++i) {
        wchar_t c = document[i];
        if (IsHighSurrogate(c) && i + 1 < document.size() && IsLowSurrogate(document[i + 1])) {
            if (stem.size() + 2 > kMaxLength) {
                break;
            }
            stem.push_back(c);
            stem.push_back(document[++i]);
            continue;
        }
        if (stem.size() + 1 > kMaxLength) {
            break;
        }
        bool bad = c < 32 || c == 127 || IsHighSurrogate(c) || IsLowSurrogate(c) ||
                   kReserved.find(c) != std::wstring::npos;
        stem.push_back(bad ? L'_' : c);
    }

    // Windows drops trailing dots and blanks from names; leading blanks only
    // make the file hard to find.
    while (!stem.empty() && (stem.back() == L' ' || stem.back() == L'.')) {
        stem.pop_back();
    }
    size_t first = stem.find_first_not_of(L' ');
    stem.erase(0, first == std::wstring::npos ? stem.size() : first);
    if (stem.empty()) {
        return L"Document";
    }

    // CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices, with any extension.
    std::wstring base = stem.substr(0, stem.find(L'.'));
    while (!base.empty() && base.back() == L' ') {
        base.pop_back();
    }
    for (wchar_t& c : base) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    bool device = base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL";
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
        base[3] >= L'1' && base[3] <= L'9') {
        device = true;
    }
    if (device) {
        stem.insert(stem.begin(), L'_');
    }
    return stem;
}

std::wstring NumberedStem(const std::wstring& stem, unsigned attempt) {
    if (attempt <= 1) {
        return stem;
    }
    return stem + L" (" + std::to_wstring(attempt) + L")";
}

} // namespace zeldispatch
