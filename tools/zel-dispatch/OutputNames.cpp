#include "zel-dispatch/OutputNames.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <iterator>
#include <regex>

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
    stem.erase(stem.find_last_not_of(L" .") + 1);
    stem.erase(0, stem.find_first_not_of(L' '));
    if (stem.empty()) {
        return L"Document";
    }
    // CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices, with any extension.
    static const std::wregex kDevice(L"(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9]) *(\\..*)?",
                                     std::regex::icase);
    return std::regex_match(stem, kDevice) ? L"_" + stem : stem;
}

std::wstring NumberedStem(const std::wstring& stem, unsigned attempt) {
    return attempt <= 1 ? stem : stem + L" (" + std::to_wstring(attempt) + L")";
}

const wchar_t kNameTokens[] = L"{user} {date} {time} {document}";

bool ExpandNamePattern(const std::wstring& pattern, const NameFields& fields,
                       std::wstring& expanded, std::wstring& error) {
    static const struct {
        std::wstring token;
        std::wstring NameFields::*field;
    } kTokens[] = {
        {L"{user}", &NameFields::user},
        {L"{date}", &NameFields::date},
        {L"{time}", &NameFields::time},
        {L"{document}", &NameFields::document},
    };
    expanded.clear();
    for (size_t i = 0; i < pattern.size();) {
        if (pattern[i] != L'{') {
            expanded += pattern[i++];
            continue;
        }
        const auto* token =
            std::find_if(std::begin(kTokens), std::end(kTokens), [&](const auto& t) {
                return pattern.compare(i, t.token.size(), t.token) == 0;
            });
        if (token == std::end(kTokens)) {
            error =
                L"no such token at \"" + pattern.substr(i) + L"\" (tokens: " + kNameTokens + L")";
            return false;
        }
        expanded += SafeFileStem(fields.*token->field);
        i += token->token.size();
    }
    return true;
}

} // namespace zeldispatch
