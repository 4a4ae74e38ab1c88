#include <cstdio>
#include <mutex>
#include <string>

#include "job/JobOperations.h"
#include "monitor/EntryPoints.h"
#include "monitor/Guards.h"
#include "monitor/PortContext.h"
#include "registry/RegistryLayout.h"

namespace Brambleworth {
namespace Zel {
namespace PortMon {

namespace {

const wchar_t* DocumentNameOf(DWORD level, LPBYTE docInfo) {
    // DOC_INFO_1, _2 and _3 all begin with the document name.
    if (docInfo && level >= 1 && level <= 3) {
        return reinterpret_cast<DOC_INFO_1W*>(docInfo)->pDocName;
    }
    return L"Document";
}

void Log(PortContext& port, int line, LogLevel level, const wchar_t* message) {
    WriteLogLine(port, kStartDocPortName, line, level, 0, message);
}

// Opens the job key of a solicited job and reads the directory it names for
// the PS file; an empty result means the temporary directory. A key that does
// not open turns the job into an unsolicited one.
std::wstring OpenJobKey(PortContext& port, const std::wstring& id) {
    std::wstring directory;
    Log(port, 799, LogLevel::Normal, L"opening job's reg key...");
    const std::wstring path = std::wstring(Registry::kJobsKeyPath) + L"\\" + id;
    if (port.jobKey.OpenKey(HKEY_CURRENT_USER, path.c_str(), Registry::kReadWriteAccess)) {
        port.jobKey.SetLastResult(ERROR_SUCCESS);
        port.jobKey.QueryValue(Registry::kTempDirPathValue, directory);
    } else {
        Log(port, 806, LogLevel::Warning,
            L"failed to open job's reg key. Probably not solicited PDF creation");
        port.jobKeyWanted = false;
    }
    return directory;
}

BOOL StartJob(PortContext& port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
    Log(port, 709, LogLevel::Normal, L"...");
    port.SetJobIdentity(printerName, jobId, DocumentNameOf(level, docInfo));
    port.CaptureUserToken();

    std::wstring id;
    if (FindJobId(port.documentName, id)) {
        Log(port, 786, LogLevel::Normal, L"job was identified as Library's printing");
        port.jobKeyWanted = true;
    } else {
        Log(port, 792, LogLevel::Normal, L"creating an ID for the job...");
        port.jobKeyWanted = false;
    }

    std::wstring directory;
    if (port.jobKeyWanted) {
        directory = OpenJobKey(port, id);
    }
    if (directory.empty()) {
        wchar_t tempPath[MAX_PATH + 1] = {};
        if (GetTempPathW(MAX_PATH, tempPath) == 0) {
            throw Error(1, kStartDocPortName, 818, GetLastError(), "failed to get temp path");
        }
        directory = tempPath;
    }

    wchar_t fileName[MAX_PATH + 1];
    fileName[0] = L'\0';
    if (GetTempFileNameW(directory.c_str(), L"ps", 0, fileName) == 0) {
        throw Error(1, kStartDocPortName, 831, GetLastError(), "failed to get temp file name");
    }
    port.psFilePath = fileName;

    // Binary, so that the print stream lands unchanged; not inherited, so that
    // a dispatcher started for another port does not keep it open.
    port.psFile.Reset(_wfopen(port.psFilePath.c_str(), L"wbN"));
    if (!port.psFile) {
        throw Error(15, kStartDocPortName, 839, GetLastError(), "failed to create temp file");
    }

    Log(port, 841, LogLevel::Normal, L"done");
    return TRUE;
}

} // namespace

BOOL WINAPI StartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                         LPBYTE pDocInfo) {
    if (!hPort) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    PortContext& port = *static_cast<PortContext*>(hPort);
    std::lock_guard<CriticalSection> hold(port.lock);
    return GuardJobStart(port,
                         [&] { return StartJob(port, pPrinterName, JobId, Level, pDocInfo); });
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
