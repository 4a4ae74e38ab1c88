#include "job/JobOperations.h"

#include "monitor/PortContext.h"
#include "registry/RegistryLayout.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

namespace {

constexpr std::wstring_view kDelimiter = L"#%";

bool IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

bool IsJobId(std::wstring_view text) {
    if (text.size() != kJobIdLength) {
        return false;
    }
    for (wchar_t c : text) {
        if (!IsHexDigit(c)) {
            return false;
        }
    }
    return true;
}

void RemovePrefix(std::wstring& text, std::wstring_view prefix) {
    if (text.compare(0, prefix.size(), prefix) == 0) {
        text.erase(0, prefix.size());
    }
}

} // namespace

bool FindJobId(std::wstring_view documentName, std::wstring& id) {
    std::size_t open = documentName.find(kDelimiter);
    while (open != std::wstring_view::npos) {
        const std::size_t start = open + kDelimiter.size();
        const std::size_t close = documentName.find(kDelimiter, start);
        if (close == std::wstring_view::npos) {
            return false;
        }
        const std::wstring_view candidate = documentName.substr(start, close - start);
        if (IsJobId(candidate)) {
            id.assign(candidate);
            return true;
        }
        open = close;
    }
    return false;
}

void StripEditorPrefixes(std::wstring& documentName) {
    RemovePrefix(documentName, L"Microsoft Word - ");
    RemovePrefix(documentName, L"Microsoft Project - ");
}

void PortContext::SetJobIdentity(const wchar_t* printer, DWORD id, const wchar_t* document) {
    ResetJob();
    printerName = printer ? printer : L"";
    jobId = id;
    documentName = document ? document : L"";
    StripEditorPrefixes(documentName);
}

void PortContext::CaptureUserToken() {
    // The spooler runs StartDocPort impersonating the printing user; the
    // dispatcher is later started with a primary copy of that user's token.
    KernelHandle threadToken;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_IMPERSONATE, TRUE,
                         threadToken.Receive())) {
        return;
    }
    if (!DuplicateTokenEx(threadToken.Get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                          TokenPrimary, userToken.Receive())) {
        // Whatever the failed call left in the field, it holds no token.
        userToken.Release();
    }
}

void PortContext::FailJob(std::uint32_t code) {
    psFile.Close();
    if (!psFilePath.empty()) {
        DeleteFileW(psFilePath.c_str());
        psFilePath.clear();
    }
    if (jobKeyWanted && jobKey.IsOpen()) {
        jobKey.SetLastResult(ERROR_SUCCESS);
        jobKey.SetValue(Registry::kErrorCodeValue, static_cast<DWORD>(code));
    }
    ResetJob();
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
