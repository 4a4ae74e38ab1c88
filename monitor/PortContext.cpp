#include "monitor/PortContext.h"

#include <locale>

namespace Brambleworth {
namespace Zel {
namespace PortMon {

std::wstring LogFileName(const std::wstring& tempDirectory, const std::wstring& portName) {
    return tempDirectory + L"Brambleworth.Zel.3.PortMon." + portName + L".log";
}

PortContext::PortContext(PMONITORINIT monitorHandle, const wchar_t* name)
    : std::wofstream(), portName(name ? name : L""), monitor(monitorHandle), jobKey(monitorHandle) {
    // The standard wide file buffer cannot be used here: it loses whole lines
    // on a character it cannot narrow. Ours keeps what came before it.
    std::wostream::rdbuf(&logBuffer_);

    wchar_t tempDirectory[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH, tempDirectory);
    if (length == 0 || length > MAX_PATH) {
        // No file at all: every write fails quietly.
        setstate(std::ios_base::badbit);
    } else if (logBuffer_.Open(LogFileName(tempDirectory, portName))) {
        clear();
    } else {
        setstate(std::ios_base::failbit);
    }
    imbue(std::locale::classic());
}

PortContext::~PortContext() {
    ResetJob();
}

void PortContext::ResetJob() {
    printerName.clear();
    jobId = 0;
    documentName.clear();
    psFilePath.clear();
    psFile.Close();
    userToken.Close();
    jobKeyWanted = true;
    jobKey.Close();
    jobError = 0;
}

} // namespace PortMon
} // namespace Zel
} // namespace Brambleworth
